#pragma once

// ICU regular expressions over UTF-16 text. Matches and capture groups are reported as UTF-16
// ranges. A compiled Regex is immutable and may be shared between threads.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/range.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace ravlin::text {

struct RegexOptions {
    bool caseInsensitive = false;
    bool allowCommentsAndWhitespace = false;
    bool ignoreMetacharacters = false;
    bool dotMatchesLineSeparators = false;
    bool anchorsMatchLines = false;
    bool useUnixLineSeparators = false;
    bool useUnicodeWordBoundaries = false;
};

struct RegexMatch {
    Utf16Range range;
    // groups[0] is the whole match; a group that took no part is absent.
    std::vector<std::optional<Utf16Range>> groups;

    [[nodiscard]] std::optional<Utf16Range> group(std::size_t index) const {
        return index < groups.size() ? groups[index] : std::nullopt;
    }
};

class Regex {
  public:
    // Compiles an ICU pattern; absent with an error message when the pattern is invalid.
    [[nodiscard]] static std::optional<Regex> compile(std::u16string_view pattern,
                                                      RegexOptions options = {},
                                                      std::string* error = nullptr);
    [[nodiscard]] static std::optional<Regex> compile(std::string_view utf8Pattern,
                                                      RegexOptions options = {},
                                                      std::string* error = nullptr);
    // For patterns written into the program: an invalid one is a programming error and aborts.
    [[nodiscard]] static Regex literal(std::string_view utf8Pattern, RegexOptions options = {});

    // Every non-overlapping match, first to last, in `range` (the whole text by default).
    [[nodiscard]] std::vector<RegexMatch> matches(std::u16string_view text) const;
    [[nodiscard]] std::vector<RegexMatch> matches(std::u16string_view text, Utf16Range range) const;
    [[nodiscard]] std::optional<RegexMatch> firstMatch(std::u16string_view text) const;
    [[nodiscard]] bool hasMatch(std::u16string_view text) const;
    [[nodiscard]] std::int64_t numberOfMatches(std::u16string_view text) const;

    // Replaces every match with `replacementTemplate`, where $0..$9 name groups and a
    // backslash escapes the next character.
    [[nodiscard]] std::u16string replacingMatches(std::u16string_view text,
                                                  std::u16string_view replacementTemplate) const;
    // The template text a match expands to (same template syntax as above).
    [[nodiscard]] std::u16string replacementFor(const RegexMatch& match, std::u16string_view text,
                                                std::u16string_view replacementTemplate) const;

    [[nodiscard]] std::size_t numberOfCaptureGroups() const;
    [[nodiscard]] const std::u16string& pattern() const { return pattern_; }

    // Escapes a literal text for use inside a pattern / a replacement template.
    [[nodiscard]] static std::u16string escapedPattern(std::u16string_view literalText);
    [[nodiscard]] static std::u16string escapedTemplate(std::u16string_view literalText);

  private:
    Regex(std::u16string pattern, std::shared_ptr<const icu::RegexPattern> compiled)
        : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

    std::u16string pattern_;
    std::shared_ptr<const icu::RegexPattern> compiled_;
};

}  // namespace ravlin::text
