#include "core/text/regex.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "core/text/unicode.h"

namespace ravlin::text {
namespace {

icu::UnicodeString alias(std::u16string_view text) {
    return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}

std::u16string fromUnicodeString(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

uint32_t flagsFor(const RegexOptions& options) {
    uint32_t flags = 0;
    if (options.caseInsensitive)
        flags |= UREGEX_CASE_INSENSITIVE;
    if (options.allowCommentsAndWhitespace)
        flags |= UREGEX_COMMENTS;
    if (options.ignoreMetacharacters)
        flags |= UREGEX_LITERAL;
    if (options.dotMatchesLineSeparators)
        flags |= UREGEX_DOTALL;
    if (options.anchorsMatchLines)
        flags |= UREGEX_MULTILINE;
    if (options.useUnixLineSeparators)
        flags |= UREGEX_UNIX_LINES;
    if (options.useUnicodeWordBoundaries)
        flags |= UREGEX_UWORD;
    return flags;
}

RegexMatch currentMatch(icu::RegexMatcher& matcher) {
    UErrorCode status = U_ZERO_ERROR;
    RegexMatch match;
    const int32_t groupCount = matcher.groupCount();
    match.groups.reserve(static_cast<std::size_t>(groupCount) + 1);
    for (int32_t group = 0; group <= groupCount; ++group) {
        int32_t start = matcher.start(group, status);
        int32_t end = matcher.end(group, status);
        if (U_FAILURE(status) || start < 0) {
            match.groups.emplace_back(std::nullopt);
            status = U_ZERO_ERROR;
        } else {
            match.groups.emplace_back(Utf16Range{start, end - start});
        }
    }
    match.range = match.groups.front().value_or(Utf16Range{});
    return match;
}

}  // namespace

std::optional<Regex> Regex::compile(std::u16string_view pattern, RegexOptions options,
                                    std::string* error) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    std::shared_ptr<const icu::RegexPattern> compiled(
        icu::RegexPattern::compile(alias(pattern), flagsFor(options), parseError, status));
    if (U_FAILURE(status) || !compiled) {
        if (error != nullptr) {
            *error = std::string("invalid regular expression (") + u_errorName(status) +
                     ") at offset " + std::to_string(parseError.offset);
        }
        return std::nullopt;
    }
    return Regex(std::u16string(pattern), std::move(compiled));
}

std::optional<Regex> Regex::compile(std::string_view utf8Pattern, RegexOptions options,
                                    std::string* error) {
    return compile(toUtf16(utf8Pattern), options, error);
}

Regex Regex::literal(std::string_view utf8Pattern, RegexOptions options) {
    std::string error;
    auto regex = compile(utf8Pattern, options, &error);
    if (!regex) {
        std::fprintf(stderr, "ravlin: built-in pattern does not compile: %s\n", error.c_str());
        std::abort();
    }
    return std::move(*regex);
}

std::vector<RegexMatch> Regex::matches(std::u16string_view text) const {
    return matches(text, Utf16Range{0, static_cast<std::int64_t>(text.size())});
}

std::vector<RegexMatch> Regex::matches(std::u16string_view text, Utf16Range range) const {
    std::vector<RegexMatch> found;
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = alias(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
    if (U_FAILURE(status)) {
        return found;
    }
    const auto size = static_cast<std::int64_t>(text.size());
    const std::int64_t start = std::clamp<std::int64_t>(range.location, 0, size);
    const std::int64_t end = std::clamp<std::int64_t>(range.end(), start, size);
    matcher->region(start, end, status);
    // Like the platform's search: lookarounds and anchors may see outside the region.
    matcher->useTransparentBounds(true);
    matcher->useAnchoringBounds(false);
    while (U_SUCCESS(status) && matcher->find(status)) {
        found.push_back(currentMatch(*matcher));
    }
    return found;
}

std::optional<RegexMatch> Regex::firstMatch(std::u16string_view text) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = alias(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
    if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) {
        return std::nullopt;
    }
    return currentMatch(*matcher);
}

bool Regex::hasMatch(std::u16string_view text) const {
    return firstMatch(text).has_value();
}

std::int64_t Regex::numberOfMatches(std::u16string_view text) const {
    return static_cast<std::int64_t>(matches(text).size());
}

std::u16string Regex::replacingMatches(std::u16string_view text,
                                       std::u16string_view replacementTemplate) const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = alias(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(input, status));
    if (U_FAILURE(status)) {
        return std::u16string(text);
    }
    icu::UnicodeString result = matcher->replaceAll(alias(replacementTemplate), status);
    if (U_FAILURE(status)) {
        return std::u16string(text);
    }
    return fromUnicodeString(result);
}

std::u16string Regex::replacementFor(const RegexMatch& match, std::u16string_view text,
                                     std::u16string_view replacementTemplate) const {
    // Expand the template by hand over the match's groups: $n (one digit, or more while the
    // number still names a group) and backslash escapes.
    std::u16string out;
    const std::size_t groupCount = match.groups.size();
    for (std::size_t i = 0; i < replacementTemplate.size(); ++i) {
        char16_t unit = replacementTemplate[i];
        if (unit == u'\\' && i + 1 < replacementTemplate.size()) {
            out.push_back(replacementTemplate[++i]);
            continue;
        }
        if (unit == u'$' && i + 1 < replacementTemplate.size() &&
            replacementTemplate[i + 1] >= u'0' && replacementTemplate[i + 1] <= u'9') {
            std::size_t group = static_cast<std::size_t>(replacementTemplate[++i] - u'0');
            while (i + 1 < replacementTemplate.size() && replacementTemplate[i + 1] >= u'0' &&
                   replacementTemplate[i + 1] <= u'9') {
                std::size_t longer =
                    group * 10 + static_cast<std::size_t>(replacementTemplate[i + 1] - u'0');
                if (longer >= groupCount) {
                    break;
                }
                group = longer;
                ++i;
            }
            if (group < groupCount && match.groups[group]) {
                const auto& range = *match.groups[group];
                out.append(text.substr(static_cast<std::size_t>(range.location),
                                       static_cast<std::size_t>(range.length)));
            }
            continue;
        }
        out.push_back(unit);
    }
    return out;
}

std::size_t Regex::numberOfCaptureGroups() const {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString empty;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->matcher(empty, status));
    return U_SUCCESS(status) ? static_cast<std::size_t>(matcher->groupCount()) : 0;
}

std::u16string Regex::escapedPattern(std::u16string_view literalText) {
    static constexpr std::u16string_view kSpecial = u"\\^$.|?*+()[]{}-/#&~ \t\n\r";
    std::u16string out;
    out.reserve(literalText.size());
    for (char16_t unit : literalText) {
        if (kSpecial.find(unit) != std::u16string_view::npos) {
            out.push_back(u'\\');
        }
        out.push_back(unit);
    }
    return out;
}

std::u16string Regex::escapedTemplate(std::u16string_view literalText) {
    std::u16string out;
    out.reserve(literalText.size());
    for (char16_t unit : literalText) {
        if (unit == u'\\' || unit == u'$') {
            out.push_back(u'\\');
        }
        out.push_back(unit);
    }
    return out;
}

}  // namespace ravlin::text
