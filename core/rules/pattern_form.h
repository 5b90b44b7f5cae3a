#pragma once

// The regular-expression form of the local rules' transforms: each one written the direct way,
// with ICU patterns exactly as the tables store them, matches listed over the whole text and
// replaced from the last to the first. The rules themselves use the single-pass scanners of
// word_rules.cpp and dictionary_rules.cpp, which give the same results much faster; this form
// is what they are checked against, and what replaceWords falls back to for a map whose keys
// are not plain ASCII words.

#include <string>
#include <string_view>

#include "core/rules/rule_tables.h"

namespace ravlin::pattern_form {

// Walks grapheme clusters with the platform's character breaking.
[[nodiscard]] std::u16string collapseWhitespace(std::u16string_view text);
[[nodiscard]] std::u16string collapseRepeatedWords(std::u16string_view text);
[[nodiscard]] std::u16string capitalizeLoneI(std::u16string_view text);
[[nodiscard]] std::u16string replaceWords(std::u16string_view text, const ReplacementMap& map);
[[nodiscard]] std::u16string collapseSpacedInitialisms(std::u16string_view text);
[[nodiscard]] std::u16string applyPhrasePatterns(std::u16string_view text);

}  // namespace ravlin::pattern_form
