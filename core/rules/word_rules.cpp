#include "core/rules/word_rules.h"

#include <utility>
#include <vector>

#include <unicode/uchar.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/rules/pattern_form.h"
#include "core/rules/rule_tables.h"
#include "core/rules/text_scan.h"

namespace ravlin {
namespace {

using rules::FoldedRun;

LocalFixRuleMetadata eagerLocal(std::string description, std::optional<std::int64_t> minTokenLength,
                                std::string category) {
    return LocalFixRuleMetadata{std::move(description),
                                ConfidenceTier::eager,
                                true,
                                minTokenLength,
                                {{"category", std::move(category)}}};
}

std::optional<std::u16string> changedOnly(std::u16string result, std::u16string_view input) {
    if (result == input) {
        return std::nullopt;
    }
    return result;
}

// --- whitespace ---

// Whether the space or tab at `at` is a character of its own (a grapheme cluster of one code
// unit): a tab always is; a space is not when a prepended concatenation mark comes before it
// or an extending, joining or spacing mark follows it.
bool isLoneSpaceOrTab(std::u16string_view text, std::size_t at) {
    if (text[at] == u'\t') {
        return true;
    }
    if (at > 0 && text[at - 1] >= 0x80) {
        auto previous = static_cast<UChar32>(rules::codePointBefore(text, at).value);
        if (u_getIntPropertyValue(previous, UCHAR_GRAPHEME_CLUSTER_BREAK) == U_GCB_PREPEND) {
            return false;
        }
    }
    if (at + 1 < text.size() && text[at + 1] >= 0x80) {
        auto next = static_cast<UChar32>(rules::codePointAt(text, at + 1).value);
        auto kind = u_getIntPropertyValue(next, UCHAR_GRAPHEME_CLUSTER_BREAK);
        if (kind == U_GCB_EXTEND || kind == U_GCB_ZWJ || kind == U_GCB_SPACING_MARK) {
            return false;
        }
    }
    return true;
}

// Whether the text holds a tab or two spaces in a row: without either, no run can change.
bool mayCollapse(std::u16string_view text) {
    const std::size_t n = text.size();
    const char16_t* units = text.data();
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi16(u'\t');
    const __m128i space = _mm_set1_epi16(u' ');
    while (at + 8 < n) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at + 1));
        __m128i hit =
            _mm_or_si128(_mm_cmpeq_epi16(here, tab),
                         _mm_and_si128(_mm_cmpeq_epi16(here, space), _mm_cmpeq_epi16(next, space)));
        if (_mm_movemask_epi8(hit) != 0) {
            return true;
        }
        at += 8;
    }
#endif
    for (; at < n; ++at) {
        if (units[at] == u'\t' || (units[at] == u' ' && at + 1 < n && units[at + 1] == u' ')) {
            return true;
        }
    }
    return false;
}

std::optional<std::u16string> collapseWhitespaceScan(std::u16string_view text) {
    if (!mayCollapse(text)) {
        return std::nullopt;
    }
    const std::size_t n = text.size();
    std::u16string output;
    std::size_t copied = 0;
    bool changed = false;
    bool atLineStart = true;
    std::size_t at = 0;
    while (at < n) {
        char16_t unit = text[at];
        if (unit == u'\n') {
            // A line feed after a carriage return belongs to one "\r\n" character, which is not
            // a line feed.
            atLineStart = !(at > 0 && text[at - 1] == u'\r');
            ++at;
            continue;
        }
        if (!rules::isSpaceOrTab(unit) || !isLoneSpaceOrTab(text, at)) {
            atLineStart = false;
            ++at;
            continue;
        }
        std::size_t runEnd = at;
        bool holdsTab = false;
        while (runEnd < n && rules::isSpaceOrTab(text[runEnd]) && isLoneSpaceOrTab(text, runEnd)) {
            holdsTab = holdsTab || text[runEnd] == u'\t';
            ++runEnd;
        }
        if (!atLineStart && (runEnd - at >= 2 || holdsTab)) {
            if (!changed) {
                output.reserve(n);
                changed = true;
            }
            output.append(text.substr(copied, at - copied));
            output += u' ';
            copied = runEnd;
        }
        at = runEnd;
    }
    if (!changed) {
        return std::nullopt;
    }
    output.append(text.substr(copied));
    return output;
}

// --- repeated words ---

std::optional<std::u16string> collapseRepeatedWordsOnce(std::u16string_view text) {
    static const rules::WordSet candidates = [] {
        rules::WordSet words;
        for (auto word : repeatedWordCandidates()) {
            words.insert(word);
        }
        return words;
    }();

    std::u16string output;
    std::size_t copied = 0;
    bool changed = false;
    rules::forEachWordStart(text, [&](std::size_t start, std::size_t asciiEnd) {
        if (std::size_t past = candidates.skipUnlessCandidate(text, start, asciiEnd)) {
            return past;
        }
        // Most candidates are not doubled: a plain ASCII word followed by a gap and a word that
        // starts with another ASCII character cannot match.
        if (text[start] < 0x80) {
            std::size_t end = asciiEnd;
            std::size_t next = rules::skipSpacesAndTabs(text, end);
            if (next == end || next >= text.size() ||
                (text[next] < 0x80 && (text[next] | 0x20) != (text[start] | 0x20))) {
                if (end == text.size() || text[end] < 0x80) {
                    return end;
                }
            }
        }
        FoldedRun first = rules::foldedRunAt(text, start);
        if (!candidates.contains(first)) {
            return first.end;
        }
        std::size_t secondStart = rules::skipSpacesAndTabs(text, first.end);
        if (secondStart == first.end || secondStart >= text.size()) {
            return first.end;
        }
        FoldedRun second = rules::foldedRunAt(text, secondStart);
        if (second.foldLength == 0 || !second.equals(first.folded()) ||
            !rules::completesWordAt(text, second.end)) {
            return first.end;
        }
        if (!changed) {
            output.reserve(text.size());
            changed = true;
        }
        output.append(text.substr(copied, first.end - copied));
        copied = second.end;
        return second.end;
    });
    if (!changed) {
        return std::nullopt;
    }
    output.append(text.substr(copied));
    return output;
}

std::optional<std::u16string> collapseRepeatedWordsScan(std::u16string_view input) {
    std::optional<std::u16string> current;
    // Each round removes one word of every doubled pair; a word typed three times needs two.
    while (auto next = collapseRepeatedWordsOnce(current ? std::u16string_view(*current) : input)) {
        current = std::move(next);
    }
    return current;
}

// --- lone i ---

struct LoneIShape {
    std::string suffix;  // after "i'"; empty for the bare pronoun
    std::u16string_view replacement;
};

// The lone-i patterns as literal shapes ("i" or "i'" and letters), or absent when one of them
// has another form (the pattern form then does the work).
const std::optional<std::vector<LoneIShape>>& loneIShapes() {
    static const std::optional<std::vector<LoneIShape>> shapes =
        []() -> std::optional<std::vector<LoneIShape>> {
        const std::string_view prefix = R"re((?i)\b)re";
        const std::string suffix = std::string(R"re(\b)re") + std::string(kCompletionLookahead);
        std::vector<LoneIShape> built;
        for (const auto& pair : loneIPatterns()) {
            std::string_view pattern = pair.pattern;
            if (!pattern.starts_with(prefix) || !pattern.ends_with(suffix) ||
                pattern.size() < prefix.size() + suffix.size()) {
                return std::nullopt;
            }
            std::string_view literal =
                pattern.substr(prefix.size(), pattern.size() - prefix.size() - suffix.size());
            LoneIShape shape{{}, pair.replacement};
            if (literal != "i") {
                if (!literal.starts_with("i'") || literal.size() < 3) {
                    return std::nullopt;
                }
                for (char c : literal.substr(2)) {
                    if (c < 'a' || c > 'z') {
                        return std::nullopt;
                    }
                    shape.suffix.push_back(c);
                }
            }
            built.push_back(std::move(shape));
        }
        return built;
    }();
    return shapes;
}

std::optional<std::u16string> capitalizeLoneIScan(std::u16string_view text) {
    const auto& shapes = loneIShapes();
    if (!shapes) {
        return changedOnly(pattern_form::capitalizeLoneI(text), text);
    }
    // The replacements keep the case-folded text and its length, so the patterns cannot
    // interfere and one scan gives what applying them one after another gives.
    std::u16string output;
    std::size_t copied = 0;
    bool changed = false;
    auto replace = [&](std::size_t start, std::size_t end, std::u16string_view replacement) {
        if (text.substr(start, end - start) == replacement) {
            return;
        }
        if (!changed) {
            output.reserve(text.size());
            changed = true;
        }
        output.append(text.substr(copied, start - copied));
        output += replacement;
        copied = end;
    };
    rules::forEachWordStart(text, [&](std::size_t start, std::size_t asciiEnd) {
        if (text[start] < 0x80 && (text[start] | 0x20) != u'i') {
            return asciiEnd;
        }
        FoldedRun run = rules::foldedRunAt(text, start);
        if (!run.equals("i")) {
            return run.end;
        }
        const bool apostrophe = run.end < text.size() && text[run.end] == u'\'';
        FoldedRun rest;
        if (apostrophe) {
            rest = rules::foldedRunAt(text, run.end + 1);
        }
        for (const auto& shape : *shapes) {
            if (shape.suffix.empty()) {
                if (rules::completesWordAt(text, run.end)) {
                    replace(start, run.end, shape.replacement);
                    return run.end;
                }
                continue;
            }
            if (apostrophe && rest.equals(shape.suffix) && rules::completesWordAt(text, rest.end)) {
                replace(start, rest.end, shape.replacement);
                return rest.end;
            }
        }
        return run.end;
    });
    if (!changed) {
        return std::nullopt;
    }
    output.append(text.substr(copied));
    return output;
}

// --- sentence starts ---

bool isWhiteSpace(char32_t c) {
    if (c < 0x80) {
        return c == U' ' || (c >= U'\t' && c <= U'\r');
    }
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

bool isAsciiLower(char32_t c) {
    return c >= U'a' && c <= U'z';
}
bool isAsciiUpper(char32_t c) {
    return c >= U'A' && c <= U'Z';
}

// Whether the word starting at `start` (up to the next whitespace or the end of the text)
// may be capitalized: no "://", no capital after its first letter, and finished.
bool capitalizableWord(std::u16string_view text, std::size_t start) {
    const std::size_t n = text.size();
    if (text[start] == u'`') {
        return false;
    }
    std::size_t at = start;
    char32_t last = 0;
    bool first = true;
    while (at < n) {
        rules::CodePoint cp = rules::codePointAt(text, at);
        if (isWhiteSpace(cp.value)) {
            return true;  // followed by whitespace: finished
        }
        if (!first && isAsciiUpper(cp.value)) {
            return false;
        }
        if (cp.value == U':' && at + 2 < n && text[at + 1] == u'/' && text[at + 2] == u'/') {
            return false;
        }
        first = false;
        last = cp.value;
        at += cp.length;
    }
    switch (last) {
        case U'!':
        case U')':
        case U',':
        case U'.':
        case U':':
        case U';':
        case U'?':
        case U']':
            return true;
        default:
            return false;
    }
}

std::optional<std::u16string> capitalizeSentenceStartsScan(std::u16string_view text,
                                                           bool startsSentence = true) {
    const std::size_t n = text.size();
    std::optional<std::u16string> output;
    // A start is the first non-whitespace scalar of the text (unless the text goes on with a
    // sentence), after a line feed, or after the whitespace that follows ".", "!" or "?".
    bool startPending = startsSentence;
    std::size_t at = 0;
    auto endsSentence = [&](char32_t c, std::size_t next) {
        return (c == U'.' || c == U'!' || c == U'?') && next < n &&
               isWhiteSpace(rules::codePointAt(text, next).value);
    };
    while (at < n) {
        if (!startPending) {
            // Only a line feed or a sentence end matters here; both are ASCII.
            char16_t unit = text[at];
            if (unit == u'\n' || endsSentence(unit, at + 1)) {
                startPending = true;
            }
            ++at;
            continue;
        }
        rules::CodePoint cp = rules::codePointAt(text, at);
        if (isWhiteSpace(cp.value)) {
            at += cp.length;
            continue;
        }
        startPending = false;
        if (isAsciiLower(cp.value) && capitalizableWord(text, at)) {
            if (!output) {
                output.emplace(text);
            }
            (*output)[at] = static_cast<char16_t>(cp.value - 32);
        }
        startPending = endsSentence(cp.value, at + cp.length);
        at += cp.length;
    }
    return output;
}

}  // namespace

LocalFixRuleMetadata WhitespaceCollapseRule::masterMetadata() {
    return eagerLocal(
        "Collapses repeated horizontal whitespace while preserving leading indentation.",
        std::nullopt, "whitespace");
}
WhitespaceCollapseRule::WhitespaceCollapseRule(std::string id, LocalFixRuleMetadata metadata)
    : TransformRule(std::move(id), std::move(metadata), "whitespace-collapse") {}
std::optional<std::u16string> WhitespaceCollapseRule::transform(std::u16string_view text) const {
    return collapseWhitespaceScan(text);
}

LocalFixRuleMetadata RepeatedWordCollapseRule::masterMetadata() {
    return eagerLocal("Collapses repeated completed function words.", std::nullopt,
                      "word-boundary");
}
RepeatedWordCollapseRule::RepeatedWordCollapseRule(std::string id, LocalFixRuleMetadata metadata)
    : TransformRule(std::move(id), std::move(metadata), "repeated-word") {}
std::optional<std::u16string> RepeatedWordCollapseRule::transform(std::u16string_view text) const {
    return collapseRepeatedWordsScan(text);
}

LocalFixRuleMetadata LoneICapitalizationRule::masterMetadata() {
    return eagerLocal(
        "Capitalizes completed lone first-person pronouns and their typed contractions.", 1,
        "capitalization");
}
LoneICapitalizationRule::LoneICapitalizationRule(std::string id, LocalFixRuleMetadata metadata)
    : TransformRule(std::move(id), std::move(metadata), "lone-i") {}
std::optional<std::u16string> LoneICapitalizationRule::transform(std::u16string_view text) const {
    return capitalizeLoneIScan(text);
}

LocalFixRuleMetadata SentenceStartCapitalizationRule::masterMetadata() {
    return eagerLocal("Capitalizes completed sentence starts.", std::nullopt, "capitalization");
}
SentenceStartCapitalizationRule::SentenceStartCapitalizationRule(std::string id,
                                                                 LocalFixRuleMetadata metadata)
    : TransformRule(std::move(id), std::move(metadata), "sentence-start-cap") {}
std::optional<std::u16string> SentenceStartCapitalizationRule::transform(
    std::u16string_view text) const {
    return capitalizeSentenceStartsScan(text);
}
std::optional<std::u16string> SentenceStartCapitalizationRule::transform(
    std::u16string_view text, const RuleContext& context) const {
    return capitalizeSentenceStartsScan(
        text, !context.contextBefore || !continuesSentence(*context.contextBefore));
}

std::u16string collapseWhitespace(std::u16string_view text) {
    auto result = collapseWhitespaceScan(text);
    return result ? std::move(*result) : std::u16string(text);
}

std::u16string collapseRepeatedWords(std::u16string_view text) {
    auto result = collapseRepeatedWordsScan(text);
    return result ? std::move(*result) : std::u16string(text);
}

std::u16string capitalizeLoneI(std::u16string_view text) {
    auto result = capitalizeLoneIScan(text);
    return result ? std::move(*result) : std::u16string(text);
}

bool continuesSentence(std::u16string_view before) {
    std::size_t end = before.size();
    while (end > 0) {
        const char16_t unit = before[end - 1];
        if (unit == u'\n') {
            return false;
        }
        if (!isWhiteSpace(unit)) {
            break;
        }
        --end;
    }
    while (end > 0 && std::u16string_view(u"\"')]}\u201D\u2019").find(before[end - 1]) !=
                          std::u16string_view::npos) {
        --end;
    }
    if (end == 0) {
        return false;
    }
    const char16_t last = before[end - 1];
    return last != u'.' && last != u'!' && last != u'?';
}

std::u16string capitalizeSentenceStarts(std::u16string_view text) {
    auto result = capitalizeSentenceStartsScan(text);
    return result ? std::move(*result) : std::u16string(text);
}

}  // namespace ravlin
