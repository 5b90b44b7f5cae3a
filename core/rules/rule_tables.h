#pragma once

// The fixed tables of the local rules: the words whose doubling is collapsed, the pattern
// lists (ICU patterns, stored exactly as written, with plain-text replacements) and the word
// replacement maps (lower-case keys). Everything is built once at first use and never changes.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ravlin {

using ReplacementMap = std::unordered_map<std::u16string, std::u16string>;

struct PatternReplacement {
    std::string_view pattern;  // ICU syntax
    std::u16string_view replacement;
};

// The lookahead that makes a word count only once it is finished.
inline constexpr std::string_view kCompletionLookahead = R"re((?=[\s.,!?;:)\]]))re";

[[nodiscard]] const std::vector<std::string_view>& repeatedWordCandidates();
[[nodiscard]] const std::vector<PatternReplacement>& loneIPatterns();
[[nodiscard]] const std::vector<PatternReplacement>& spacedInitialismPatterns();
[[nodiscard]] const std::vector<PatternReplacement>& phrasePatterns();

[[nodiscard]] const ReplacementMap& initialismMap();
[[nodiscard]] const ReplacementMap& contractionMapLong();
[[nodiscard]] const ReplacementMap& contractionMapShort();
[[nodiscard]] const ReplacementMap& typoMapLong();
[[nodiscard]] const ReplacementMap& typoMapShort();

}  // namespace ravlin
