#include "core/services/text_operations.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include <unicode/uchar.h>

#include "core/services/character_view.h"
#include "core/services/correction_bounds.h"
#include "core/services/edit_distance.h"
#include "core/services/misbehavior_context.h"
#include "core/services/token_budget.h"
#include "core/services/typed_words.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using engine::detail::CharacterView;
using engine::detail::editDistance;

std::vector<std::u16string_view> characters(std::u16string_view text) {
    CharacterView view(text);
    std::vector<std::u16string_view> result;
    result.reserve(static_cast<std::size_t>(view.size()));
    for (std::int64_t i = 0; i < view.size(); ++i) {
        result.push_back(view.at(i));
    }
    return result;
}

bool isSentenceTerminator(std::u16string_view character) {
    return character == u"\n" || character == u"\r\n" || character == u"." || character == u"!" ||
           character == u"?" || character == u"\u3002" || character == u"\uFF01" ||
           character == u"\uFF1F";
}

bool isCloser(std::u16string_view character) {
    return character.size() == 1 && std::u16string_view(u"\"'\u201D\u2019)]}").find(character[0]) !=
                                        std::u16string_view::npos;
}

}  // namespace

std::u16string trailingWhitespace(std::u16string_view text) {
    return std::u16string(engine::detail::trailingWhitespaceRun(text));
}

std::int64_t boundedEditDistance(std::u16string_view a, std::u16string_view b,
                                 std::int64_t maximum) {
    if (engine::detail::isAscii(a) && engine::detail::isAscii(b) &&
        a.find(u'\r') == std::u16string_view::npos && b.find(u'\r') == std::u16string_view::npos) {
        return editDistance(a, b, maximum);
    }
    return editDistance(characters(a), characters(b), maximum);
}

}  // namespace ravlin

namespace ravlin::engine {

std::optional<std::u16string> boundedContextBefore(const std::optional<std::u16string>& context,
                                                   std::int64_t limit) {
    if (!context || text::isBlank(*context)) {
        return std::nullopt;
    }
    limit = std::max<std::int64_t>(limit, 0);
    const CharacterView view(*context);
    if (view.size() <= limit) {
        return context;
    }
    const std::int64_t tailStart = view.size() - limit;
    std::optional<std::int64_t> boundary;
    for (std::int64_t index = tailStart; index < view.size(); ++index) {
        if (!isSentenceTerminator(view.at(index))) {
            continue;
        }
        std::int64_t after = index + 1;
        while (after < view.size() && (view.isWhitespace(after) || isCloser(view.at(after)))) {
            ++after;
        }
        boundary = after;
    }
    const std::u16string tail(view.slice(tailStart, view.size()));
    if (!boundary) {
        return tail;
    }
    const auto candidate = view.slice(*boundary, view.size());
    if (text::isBlank(candidate)) {
        return tail;
    }
    return std::u16string(candidate);
}

namespace {

// A word of a text and where its piece (the word with the marks around it) ends.
struct PlacedWord {
    std::u16string word;
    std::size_t end = 0;
};

// The first `limit` words of the text, as the line-up compares them.
std::vector<PlacedWord> leadingWords(std::u16string_view text, std::size_t limit) {
    std::vector<PlacedWord> words;
    std::size_t at = 0;
    while (at < text.size() && words.size() < limit) {
        while (at < text.size() && text::isWhitespaceOrNewline(text[at])) {
            ++at;
        }
        std::size_t end = at;
        while (end < text.size() && !text::isWhitespaceOrNewline(text[end])) {
            ++end;
        }
        if (end == at) {
            break;
        }
        for (auto& word : misbehavior::words(text.substr(at, end - at))) {
            std::ranges::replace_if(
                word, [](char16_t u) { return u == 0x2019 || u == 0x2018 || u == 0x02BC; }, u'\'');
            words.push_back({std::move(word), end});
        }
        at = end;
    }
    return words;
}

// The context's last sentence when another ends before it; empty otherwise.
std::u16string_view lastSentenceOf(std::u16string_view context) {
    const std::u16string_view trimmed = detail::trimmedView(context);
    for (std::size_t at = trimmed.size(); at-- > 1;) {
        const char16_t unit = trimmed[at - 1];
        if (text::isWhitespaceOrNewline(trimmed[at]) &&
            (unit == u'.' || unit == u'!' || unit == u'?' || unit == u'\n')) {
            return detail::trimmedView(trimmed.substr(at));
        }
    }
    return {};
}

// An opening of more words than this is not looked for: contexts are sentences.
constexpr std::size_t kLongestEchoedOpening = 40;

// Where the answer's opening words that stand for the context's end; none when they do not.
// `undecided` is set when the answer's words so far (all but a last one still growing) may
// still become such an opening.
std::optional<std::size_t> correctedOpeningEnd(std::u16string_view output,
                                               std::u16string_view context, bool stillStreaming,
                                               bool& undecided) {
    const auto contextWords = leadingWords(context, kLongestEchoedOpening + 1);
    if (contextWords.empty() || contextWords.size() > kLongestEchoedOpening) {
        return std::nullopt;
    }
    const auto answerWords = leadingWords(output, 2 * contextWords.size() + 4);
    std::vector<std::u16string_view> typed;
    for (const auto& word : contextWords) {
        typed.push_back(word.word);
    }
    std::vector<std::u16string_view> answer;
    for (const auto& word : answerWords) {
        answer.push_back(word.word);
    }
    // A part of an answer that stops on a letter or digit may still lengthen its last word.
    const bool lastGrows = stillStreaming && !answer.empty() && !output.empty() &&
                           u_isalnum(static_cast<UChar32>(output.back()));
    const std::size_t settled = answer.size() - (lastGrows ? 1 : 0);
    // The longest opening that does: a typed word may stand for two of the answer's.
    if (const std::size_t count =
            typed_words::longestReading(typed, std::span(answer).first(settled));
        count > 0) {
        return answerWords[count - 1].end;
    }
    if (stillStreaming && typed_words::beginsWith(typed, std::span(answer).first(settled), true)) {
        // Words so far open the context; a first word still growing has to begin its first.
        undecided = settled > 0 || !lastGrows || typed.front().starts_with(answer.back());
        if (!undecided) {
            for (const auto& reading : typed_words::expansionsOf(typed.front())) {
                undecided = undecided || reading.front().starts_with(answer.back());
            }
        }
    }
    return std::nullopt;
}

bool holdsLetterOrDigit(std::u16string_view piece) {
    for (std::size_t at = 0; at < piece.size();) {
        const char32_t c = text::codePointAt(piece, static_cast<std::int64_t>(at));
        if (u_isalnum(static_cast<UChar32>(c))) {
            return true;
        }
        at += c > 0xFFFF ? 2 : 1;
    }
    return false;
}

// The text's first piece (up to whitespace) after `from`, and where it ends.
std::u16string_view pieceAfter(std::u16string_view text, std::size_t from, std::size_t& end) {
    std::size_t start = from;
    while (start < text.size() && text::isWhitespaceOrNewline(text[start])) {
        ++start;
    }
    end = start;
    while (end < text.size() && !text::isWhitespaceOrNewline(text[end])) {
        ++end;
    }
    return text.substr(start, end - start);
}

// The pieces made of marks alone (no letter, no digit) that stand in a row from `from`, each
// given by where it ends; at most `limit` of them.
std::vector<std::size_t> markPiecesFrom(std::u16string_view text, std::size_t from,
                                        std::size_t limit = std::u16string_view::npos) {
    std::vector<std::size_t> ends;
    for (std::size_t end = from; ends.size() < limit;) {
        const std::u16string_view piece = pieceAfter(text, end, end);
        if (piece.empty() || holdsLetterOrDigit(piece)) {
            break;
        }
        ends.push_back(end);
    }
    return ends;
}

// Where an opening that stands for `context` ends with the marks the context ends with: a context
// that stops at a mark after its last word (a spaced dash, an em dash) has it repeated too, as
// typed or as another mark, standing apart from the words ("water - the soil"). As many marks as
// the text itself opens with are the person's, and stay.
std::size_t pastTheContextsMarks(std::u16string_view output, std::size_t end,
                                 std::u16string_view context, std::u16string_view input) {
    const std::u16string_view trimmed = detail::trimmedView(context);
    if (trimmed.empty() || holdsLetterOrDigit(detail::lastCharacter(trimmed))) {
        return end;
    }
    const auto echoed = markPiecesFrom(output, end);
    const std::size_t typed = markPiecesFrom(input, 0, echoed.size()).size();
    return echoed.size() > typed ? echoed[echoed.size() - typed - 1] : end;
}

EchoStripResult echoStripped(std::u16string rest) {
    return EchoStripResult{
        std::move(rest),
        {QNCorrectionNote::plain("stripped echoed context", QNCorrectionStageID::echoStrip,
                                 "echo-strip.context-prefix-strip")}};
}

}  // namespace

std::optional<EchoStripResult> removeEchoedContext(
    std::u16string_view output, const std::optional<std::u16string>& contextBefore,
    std::u16string_view input, bool stillStreaming) {
    if (!contextBefore || contextBefore->empty()) {
        return EchoStripResult{std::u16string(output), {}};
    }
    const std::u16string_view context = *contextBefore;
    const auto typedAgain = [&](std::u16string_view part) {
        return !input.empty() && holdsWordsOf(input, part);
    };
    if (detail::startsWith(output, context)) {
        if (typedAgain(context)) {
            return EchoStripResult{std::u16string(output), {}};
        }
        std::u16string rest(output.substr(context.size()));
        if (text::isBlank(rest)) {
            return std::nullopt;
        }
        return echoStripped(std::move(rest));
    }
    if (detail::countCharacters(context) >= 4 && detail::contains(output, context) &&
        !typedAgain(context)) {
        return std::nullopt;
    }
    // The context as the model corrected it: the whole context, or its unfinished sentence. Only
    // looked for with the text the model was asked about, which it must answer.
    for (const std::u16string_view part : {context, lastSentenceOf(context)}) {
        if (input.empty() || text::isBlank(part) || typedAgain(part)) {
            continue;
        }
        bool undecided = false;
        const auto end = correctedOpeningEnd(output, part, stillStreaming, undecided);
        if (undecided) {
            return std::nullopt;
        }
        if (!end) {
            continue;
        }
        const std::u16string_view rest =
            output.substr(pastTheContextsMarks(output, *end, part, input));
        if (text::isBlank(rest)) {
            return std::nullopt;
        }
        return echoStripped(std::u16string(detail::leadingWhitespace(output)) +
                            std::u16string(rest.substr(detail::leadingWhitespace(rest).size())));
    }
    return EchoStripResult{std::u16string(output), {}};
}

namespace {

// After a colon a sentence may start ("Note: The build is green."): only the other marks of a
// piece leave the rest mid-sentence.
bool endsAtSoftBoundary(std::u16string_view context) {
    const std::u16string_view trimmed = detail::trimmedView(context);
    return !trimmed.empty() && detail::isPieceMark(trimmed.back()) && trimmed.back() != u':' &&
           trimmed.back() != 0xFF1A;
}

// Where the text's first letter starts, when nothing but whitespace and marks precede it.
std::optional<std::size_t> firstLetter(std::u16string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = text::codePointAt(text, static_cast<std::int64_t>(at));
        if (u_isalpha(static_cast<UChar32>(c))) {
            return at;
        }
        if (u_isdigit(static_cast<UChar32>(c))) {
            return std::nullopt;
        }
        at += c > 0xFFFF ? 2 : 1;
    }
    return std::nullopt;
}

bool isApostropheUnit(char16_t unit) {
    return unit == u'\'' || unit == 0x2019 || unit == 0x2018 || unit == 0x02BC;
}

// The word from `at`: letters, digits and apostrophes inside it.
std::u16string_view wordAt(std::u16string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size()) {
        const char32_t c = text::codePointAt(text, static_cast<std::int64_t>(end));
        if (!u_isalnum(static_cast<UChar32>(c)) && !isApostropheUnit(text[end])) {
            break;
        }
        end += c > 0xFFFF ? 2 : 1;
    }
    return text.substr(at, end - at);
}

std::u16string straightLower(std::u16string_view word) {
    std::u16string lowered = detail::lower(word);
    std::ranges::replace_if(lowered, isApostropheUnit, u'\'');
    return lowered;
}

bool isAlwaysCapitalised(std::u16string_view lowered) {
    static constexpr std::u16string_view kWords[] = {
        u"i",         u"i'm",       u"i'll",     u"i'd",      u"i've",     u"monday",
        u"tuesday",   u"wednesday", u"thursday", u"friday",   u"saturday", u"sunday",
        u"january",   u"february",  u"april",    u"june",     u"july",     u"august",
        u"september", u"october",   u"november", u"december",
    };
    return std::ranges::find(kWords, lowered) != std::end(kWords);
}

// Whether `text` holds the word (lower-cased) written with a capital first letter.
bool typedWithCapital(std::u16string_view text, std::u16string_view lowered) {
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = text::codePointAt(text, static_cast<std::int64_t>(at));
        if (!u_isalnum(static_cast<UChar32>(c))) {
            at += c > 0xFFFF ? 2 : 1;
            continue;
        }
        const std::u16string_view word = wordAt(text, at);
        if (u_isupper(static_cast<UChar32>(c)) && straightLower(word) == lowered) {
            return true;
        }
        at += std::max<std::size_t>(word.size(), 1);
    }
    return false;
}

}  // namespace

std::u16string keepingCaseAfterSoftBoundary(std::u16string_view answer,
                                            const std::optional<std::u16string>& contextBefore,
                                            std::u16string_view input) {
    std::u16string kept(answer);
    if (!contextBefore || !endsAtSoftBoundary(*contextBefore)) {
        return kept;
    }
    const auto typedAt = firstLetter(input);
    const auto answerAt = firstLetter(answer);
    if (!typedAt || !answerAt ||
        !u_islower(
            static_cast<UChar32>(text::codePointAt(input, static_cast<std::int64_t>(*typedAt))))) {
        return kept;
    }
    const char32_t capital = text::codePointAt(answer, static_cast<std::int64_t>(*answerAt));
    const std::u16string_view word = wordAt(answer, *answerAt);
    const std::size_t capitalUnits = capital > 0xFFFF ? 2 : 1;
    if (!u_isupper(static_cast<UChar32>(capital)) && !u_istitle(static_cast<UChar32>(capital))) {
        return kept;
    }
    // A capital further in ("UA", "McKay") is the word's own spelling.
    for (std::size_t at = capitalUnits; at < word.size(); ++at) {
        if (u_isupper(word[at])) {
            return kept;
        }
    }
    const std::u16string lowered = straightLower(word);
    if (isAlwaysCapitalised(lowered) || typedWithCapital(*contextBefore, lowered) ||
        typedWithCapital(input, lowered)) {
        return kept;
    }
    const auto small = static_cast<char32_t>(u_tolower(static_cast<UChar32>(capital)));
    if ((small > 0xFFFF ? 2u : 1u) != capitalUnits) {
        return kept;
    }
    if (capitalUnits == 1) {
        kept[*answerAt] = static_cast<char16_t>(small);
    } else {
        kept[*answerAt] = static_cast<char16_t>(0xD800 + ((small - 0x10000) >> 10));
        kept[*answerAt + 1] = static_cast<char16_t>(0xDC00 + ((small - 0x10000) & 0x3FF));
    }
    return kept;
}

std::string rejectedOutputNote(std::u16string_view output, std::u16string_view original) {
    const std::int64_t delta = detail::countCharacters(output) - detail::countCharacters(original);
    return "rejected_output: hash=" + fingerprint(output) + " len_delta=" + std::to_string(delta);
}

std::u16string trimmingRestoredTrailingWhitespace(std::u16string_view text,
                                                  std::u16string_view rawPartial,
                                                  std::u16string_view input) {
    if (!rawPartial.empty() &&
        text::isWhitespaceOrNewline(text::codePointAt(
            rawPartial, static_cast<std::int64_t>(detail::lastCharacterStart(rawPartial))))) {
        return std::u16string(text);
    }
    const auto restored = detail::trailingWhitespaceRun(input);
    if (restored.empty() || restored.find_first_not_of(u" \t") != std::u16string_view::npos) {
        return std::u16string(text);
    }
    if (text.size() >= restored.size() && text.substr(text.size() - restored.size()) == restored) {
        return std::u16string(text.substr(0, text.size() - restored.size()));
    }
    return std::u16string(text);
}

}  // namespace ravlin::engine
