#include "core/rules/pattern_form.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "core/rules/dictionary_rules.h"
#include "core/text/regex.h"
#include "core/text/unicode.h"

namespace ravlin::pattern_form {
namespace {

using text::Regex;
using text::RegexOptions;

constexpr RegexOptions kCaseInsensitive{.caseInsensitive = true};

std::vector<std::optional<Regex>> compileAll(const std::vector<PatternReplacement>& list) {
    std::vector<std::optional<Regex>> compiled;
    compiled.reserve(list.size());
    for (const auto& pair : list) {
        compiled.push_back(Regex::compile(pair.pattern, kCaseInsensitive));
    }
    return compiled;
}

// Each pair works on the output of the pairs before it; a pattern that does not compile is
// skipped.
std::u16string applyPatternList(std::u16string_view input,
                                const std::vector<PatternReplacement>& list,
                                const std::vector<std::optional<Regex>>& compiled) {
    std::u16string current(input);
    for (std::size_t index = 0; index < list.size(); ++index) {
        if (!compiled[index]) {
            continue;
        }
        auto matches = compiled[index]->matches(current);
        if (matches.empty()) {
            continue;
        }
        std::u16string copy = current;
        for (auto match = matches.rbegin(); match != matches.rend(); ++match) {
            copy.replace(static_cast<std::size_t>(match->range.location),
                         static_cast<std::size_t>(match->range.length), list[index].replacement);
        }
        current = std::move(copy);
    }
    return current;
}

std::u16string_view slice(std::u16string_view text, text::Utf16Range range) {
    return text.substr(static_cast<std::size_t>(range.location),
                       static_cast<std::size_t>(range.length));
}

}  // namespace

std::u16string collapseWhitespace(std::u16string_view input) {
    const std::vector<std::int64_t> bounds = text::characterBoundaries(input);
    auto character = [&](std::size_t index) {
        return input.substr(static_cast<std::size_t>(bounds[index]),
                            static_cast<std::size_t>(bounds[index + 1] - bounds[index]));
    };
    auto isSpaceOrTab = [](std::u16string_view c) { return c == u" " || c == u"\t"; };

    std::u16string output;
    bool atLineStart = true;
    const std::size_t count = bounds.size() - 1;
    std::size_t index = 0;
    while (index < count) {
        std::u16string_view c = character(index);
        if (c == u"\n") {
            output += c;
            atLineStart = true;
            ++index;
            continue;
        }
        if (!isSpaceOrTab(c)) {
            output += c;
            atLineStart = false;
            ++index;
            continue;
        }
        std::size_t runEnd = index;
        bool holdsTab = false;
        while (runEnd < count && isSpaceOrTab(character(runEnd))) {
            holdsTab = holdsTab || character(runEnd) == u"\t";
            ++runEnd;
        }
        if (atLineStart) {
            for (std::size_t k = index; k < runEnd; ++k) {
                output += character(k);
            }
        } else if (runEnd - index >= 2 || holdsTab) {
            output += u' ';
        } else {
            output += c;
        }
        index = runEnd;
    }
    return output;
}

std::u16string collapseRepeatedWords(std::u16string_view input) {
    static const std::optional<Regex> compiled = [] {
        std::string pattern = R"re((?i)\b()re";
        bool first = true;
        for (auto word : repeatedWordCandidates()) {
            if (!first) {
                pattern += '|';
            }
            pattern += word;
            first = false;
        }
        pattern += R"re()\b[ \t]+\b\1\b)re";
        pattern += kCompletionLookahead;
        return Regex::compile(pattern, kCaseInsensitive);
    }();
    std::u16string current(input);
    if (!compiled) {
        return current;
    }
    for (;;) {
        auto matches = compiled->matches(current);
        if (matches.empty()) {
            break;
        }
        std::u16string copy = current;
        for (auto match = matches.rbegin(); match != matches.rend(); ++match) {
            std::u16string word(slice(current, *match->group(1)));
            copy.replace(static_cast<std::size_t>(match->range.location),
                         static_cast<std::size_t>(match->range.length), word);
        }
        if (text::canonicallyEqual(copy, current)) {
            break;
        }
        current = std::move(copy);
    }
    return current;
}

std::u16string capitalizeLoneI(std::u16string_view input) {
    static const auto compiled = compileAll(loneIPatterns());
    return applyPatternList(input, loneIPatterns(), compiled);
}

namespace {

std::optional<Regex> compileWordPattern(const ReplacementMap& map) {
    std::vector<std::pair<std::int64_t, std::u16string>> keys;
    keys.reserve(map.size());
    for (const auto& [key, value] : map) {
        keys.emplace_back(text::characterCount(key), key);
    }
    // Longest first; keys of equal length in a fixed order.
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::u16string joined;
    for (const auto& [length, key] : keys) {
        if (!joined.empty()) {
            joined += u'|';
        }
        joined += Regex::escapedPattern(key);
    }
    std::u16string pattern = u"(?i)\\b(" + joined + u")\\b" + text::toUtf16(kCompletionLookahead);
    return Regex::compile(std::u16string_view(pattern), kCaseInsensitive);
}

// The built-in tables live for the whole process, so their patterns are compiled once.
const std::optional<Regex>& cachedWordPattern(const ReplacementMap& map,
                                              std::optional<Regex>& scratch) {
    static const std::optional<Regex> initialisms = compileWordPattern(initialismMap());
    static const std::optional<Regex> contractionsLong = compileWordPattern(contractionMapLong());
    static const std::optional<Regex> contractionsShort = compileWordPattern(contractionMapShort());
    static const std::optional<Regex> typosLong = compileWordPattern(typoMapLong());
    static const std::optional<Regex> typosShort = compileWordPattern(typoMapShort());
    if (&map == &initialismMap()) {
        return initialisms;
    }
    if (&map == &contractionMapLong()) {
        return contractionsLong;
    }
    if (&map == &contractionMapShort()) {
        return contractionsShort;
    }
    if (&map == &typoMapLong()) {
        return typosLong;
    }
    if (&map == &typoMapShort()) {
        return typosShort;
    }
    scratch = compileWordPattern(map);
    return scratch;
}

}  // namespace

std::u16string replaceWords(std::u16string_view input, const ReplacementMap& map) {
    std::optional<Regex> scratch;
    const std::optional<Regex>& compiled = cachedWordPattern(map, scratch);
    if (!compiled) {
        return std::u16string(input);
    }
    auto matches = compiled->matches(input);
    std::u16string copy(input);
    for (auto match = matches.rbegin(); match != matches.rend(); ++match) {
        auto group = match->group(1);
        if (!group) {
            continue;
        }
        auto found = map.find(text::lowercased(slice(input, *group)));
        if (found == map.end()) {
            continue;
        }
        copy.replace(static_cast<std::size_t>(match->range.location),
                     static_cast<std::size_t>(match->range.length),
                     preservingCase(slice(input, match->range), found->second));
    }
    return copy;
}

std::u16string collapseSpacedInitialisms(std::u16string_view input) {
    static const auto compiled = compileAll(spacedInitialismPatterns());
    return applyPatternList(input, spacedInitialismPatterns(), compiled);
}

std::u16string applyPhrasePatterns(std::u16string_view input) {
    static const auto compiled = compileAll(phrasePatterns());
    return applyPatternList(input, phrasePatterns(), compiled);
}

}  // namespace ravlin::pattern_form
