#include "core/services/output_sanitizer.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include <unicode/uchar.h>

#include "core/services/character_view.h"
#include "core/services/model_chatter.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using engine::detail::endsWith;
using engine::detail::startsWith;

enum class WrapperKind { markdown, backticks, quotes };

struct Wrapper {
    std::u16string_view marker;
    WrapperKind kind;
};

constexpr std::array<Wrapper, 10> kWrappers{{
    {u"***", WrapperKind::markdown},
    {u"___", WrapperKind::markdown},
    {u"**", WrapperKind::markdown},
    {u"__", WrapperKind::markdown},
    {u"~~", WrapperKind::markdown},
    {u"`", WrapperKind::backticks},
    {u"*", WrapperKind::markdown},
    {u"_", WrapperKind::markdown},
    {u"\"", WrapperKind::quotes},
    {u"'", WrapperKind::quotes},
}};

constexpr std::u16string_view kFence = u"```";

// A kind of change: the rule that notes it and the note's text.
struct NoteKind {
    std::string_view ruleID;
    const char* value;
};

constexpr NoteKind sanitizeNote(std::string_view ruleID, const char* value) {
    return {ruleID, value};
}

NoteKind wrapperNote(WrapperKind kind) {
    switch (kind) {
        case WrapperKind::backticks:
            return sanitizeNote("sanitize.backtick-strip", "stripped backticks");
        case WrapperKind::quotes:
            return sanitizeNote("sanitize.quote-strip", "stripped wrapping quotes");
        case WrapperKind::markdown:
            break;
    }
    return sanitizeNote("sanitize.markdown-wrapper-strip", "stripped markdown wrapper");
}

// The marks that end a sentence: the Latin ones, the ellipsis and the doubled marks, the
// full-width and half-width ones of East Asian text, and those of the Devanagari, Arabic,
// Armenian, Ethiopic, Myanmar and Khmer scripts.
bool isSentencePunctuation(std::u16string_view character) {
    static constexpr std::u16string_view kMarks =
        u".!?\u2026\u203C\u2047\u2048\u2049\u3002\uFF61\uFF0E\uFF01\uFF1F\u0964\u0965"
        u"\u061F\u06D4\u0589\u1362\u104B\u17D4";
    return character.size() == 1 && kMarks.find(character[0]) != std::u16string_view::npos;
}

bool isNumericCharacter(std::u16string_view character) {
    const char32_t codePoint = text::codePointAt(character, 0);
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isWhitespaceCharacter(std::u16string_view character) {
    return text::isWhitespaceOrNewline(text::codePointAt(character, 0));
}

// A Markdown prefix: its length in characters and in UTF-16 units.
struct MarkdownPrefix {
    std::int64_t characters = 0;
    std::size_t units = 0;
};

// The Markdown prefix (heading, quote, bullet with an optional task box, ordered item) that
// starts the text; absent when it has none. Looks at the first dozen characters only.
std::optional<MarkdownPrefix> markdownPrefix(std::u16string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const char16_t first = text[0];
    const bool mayBeNumber = first >= 0x80 || (first >= u'0' && first <= u'9');
    if (first != u'#' && first != u'>' && first != u'-' && first != u'*' && first != u'+' &&
        !mayBeNumber) {
        return std::nullopt;
    }

    // A marker of ASCII characters followed by a character boundary is as many characters long
    // as it has units; only headings and numbers need their characters counted.
    auto ascii = [](std::size_t length) {
        return MarkdownPrefix{static_cast<std::int64_t>(length), length};
    };
    if (first == u'#') {
        const engine::detail::LeadingCharacters characters(text, 8);
        std::int64_t hashes = 0;
        while (hashes < characters.size() && characters.at(hashes) == u"#") {
            ++hashes;
        }
        if (hashes <= 6 && hashes < characters.size() &&
            isWhitespaceCharacter(characters.at(hashes))) {
            return MarkdownPrefix{hashes + 1,
                                  static_cast<std::size_t>(characters.offset(hashes + 1))};
        }
        return std::nullopt;
    }
    if (startsWith(text, u"> ")) {
        return ascii(2);
    }
    for (std::u16string_view bullet : {u"- ", u"* ", u"+ "}) {
        if (!startsWith(text, bullet)) {
            continue;
        }
        const auto rest = text.substr(2);
        if (startsWith(rest, u"[ ] ") || startsWith(rest, u"[x] ") || startsWith(rest, u"[X] ")) {
            return ascii(6);
        }
        return ascii(2);
    }
    if (mayBeNumber) {
        // Enough characters for ten digits, a separator and a space.
        const engine::detail::LeadingCharacters characters(text, 12);
        const std::int64_t count = characters.size();
        std::int64_t digits = 0;
        while (digits < count && digits < 10 && isNumericCharacter(characters.at(digits))) {
            ++digits;
        }
        if (digits >= 1 && digits <= 9 && digits + 1 < count &&
            (characters.at(digits) == u"." || characters.at(digits) == u")") &&
            isWhitespaceCharacter(characters.at(digits + 1))) {
            return MarkdownPrefix{digits + 2,
                                  static_cast<std::size_t>(characters.offset(digits + 2))};
        }
    }
    return std::nullopt;
}

bool wrappedIn(std::u16string_view text, std::u16string_view marker) {
    return startsWith(text, marker) && endsWith(text, marker);
}

bool isNewlineUnit(char16_t unit) {
    return unit == u'\n' || unit == u'\r' || unit == u'\v' || unit == u'\f' || unit == u'\u0085' ||
           unit == u'\u2028' || unit == u'\u2029';
}

// The answer being cleaned: always a part of the trimmed model text, which only ever loses
// characters at its ends, so every step is index arithmetic on one buffer and costs what it
// removes (plus a few characters of look-around), never the length of the text.
class Cleaning {
  public:
    explicit Cleaning(std::u16string_view text) : whole_(text), text_(text) {}

    [[nodiscard]] std::u16string_view text() const { return text_; }
    void setText(std::u16string_view text) { text_ = text; }

    // The first newline unit at or after `offset` of the current text, as an offset into it;
    // npos when there is none before `end`. Every unit of the whole text is scanned once: the
    // start of the text only moves forward.
    [[nodiscard]] std::size_t newlineFrom(std::size_t offset, std::size_t end) {
        const auto from = static_cast<std::size_t>(text_.data() - whole_.data()) + offset;
        if (from > newline_) {
            newline_ = from;
            while (newline_ < whole_.size() && !isNewlineUnit(whole_[newline_])) {
                ++newline_;
            }
        }
        const auto found = newline_ - (from - offset);
        return found < end ? found : std::u16string_view::npos;
    }

    // One note per change, in the order the changes were made: a wrapping stripped on three
    // passes gives three notes. Each change removes at least one unit of the text, so there are
    // never more notes than the answer has units.
    void note(NoteKind kind) {
        notes_.push_back(QNCorrectionNote::plain(kind.value, QNCorrectionStageID::sanitize,
                                                 std::string(kind.ruleID)));
    }
    [[nodiscard]] std::vector<QNCorrectionNote> takeNotes() { return std::move(notes_); }

  private:
    std::u16string_view whole_;
    std::u16string_view text_;
    std::size_t newline_ = 0;
    std::vector<QNCorrectionNote> notes_;
};

// Step 2: what a chatty model says around the text (a lead-in, sign-offs), unless the person
// wrote it. A part of an answer whose start may still grow into a lead-in shows nothing yet.
void stripChatter(Cleaning& cleaning, std::u16string_view inputTrimmed,
                  engine::QNAnswerExtent extent) {
    const std::u16string_view text = cleaning.text();
    const engine::QNModelChatter chatter = engine::findModelChatter(text, inputTrimmed, extent);
    if (chatter.undecided) {
        cleaning.setText(text.substr(text.size()));
        return;
    }
    if (!chatter.leadIn && !chatter.signOff) {
        return;
    }
    cleaning.setText(engine::detail::trimmedView(
        text.substr(chatter.keepFrom, chatter.keepTo - chatter.keepFrom)));
    if (chatter.leadIn) {
        cleaning.note(sanitizeNote("sanitize.preamble-strip", "stripped preamble"));
    }
    if (chatter.signOff) {
        cleaning.note(sanitizeNote("sanitize.sign-off-strip", "stripped sign-off"));
    }
}

// Step 3a: a code fence the input does not have, with its language-tag line.
bool stripCodeFence(Cleaning& cleaning, bool inputFenced) {
    const std::u16string_view text = cleaning.text();
    // Two whole markers at the ends of more than six units: seven characters at least.
    if (inputFenced || !wrappedIn(text, kFence) || text.size() <= 2 * kFence.size()) {
        return false;
    }
    std::u16string_view inner = text.substr(3, text.size() - 6);
    if (const auto at = cleaning.newlineFrom(3, text.size() - 3); at != std::u16string_view::npos) {
        inner = inner.substr(at - 3 + engine::detail::newlineLength(inner, at - 3));
    }
    cleaning.setText(engine::detail::trimmedView(inner));
    cleaning.note(sanitizeNote("sanitize.code-fence-strip", "stripped code fence"));
    return true;
}

// Step 3b: the first wrapper pair around the whole text that the input is not wrapped in.
bool stripWrapperPair(Cleaning& cleaning, std::u16string_view inputTrimmed) {
    const std::u16string_view text = cleaning.text();
    for (const Wrapper& wrapper : kWrappers) {
        if (!wrappedIn(text, wrapper.marker)) {
            continue;
        }
        // Whole markers at both ends: more characters than the two hold when more units.
        if (text.size() <= 2 * wrapper.marker.size() || wrappedIn(inputTrimmed, wrapper.marker)) {
            continue;
        }
        const auto inner =
            text.substr(wrapper.marker.size(), text.size() - 2 * wrapper.marker.size());
        cleaning.setText(engine::detail::trimmedView(inner));
        cleaning.note(wrapperNote(wrapper.kind));
        return true;
    }
    return false;
}

// Step 3c: a list, heading or quote marker, unless the input starts with one.
bool stripMarkdownPrefix(Cleaning& cleaning, bool inputHasPrefix) {
    if (inputHasPrefix) {
        return false;
    }
    const std::u16string_view text = cleaning.text();
    const auto prefix = markdownPrefix(text);
    if (!prefix || prefix->units >= text.size()) {  // nothing would be left
        return false;
    }
    cleaning.setText(engine::detail::trimmedView(text.substr(prefix->units)));
    cleaning.note(sanitizeNote("sanitize.markdown-prefix-strip", "stripped markdown prefix"));
    return true;
}

// The mark a piece of a sentence ends with, with the whitespace typed before it (" -"); empty when
// the input does not end with one.
std::u16string_view pieceMarkOf(std::u16string_view inputTrimmed) {
    if (inputTrimmed.empty() || !engine::detail::isPieceMark(inputTrimmed.back())) {
        return {};
    }
    const std::u16string_view before = inputTrimmed.substr(0, inputTrimmed.size() - 1);
    return inputTrimmed.substr(before.size() -
                               engine::detail::trailingWhitespaceRun(before).size());
}

// Step 4: final punctuation follows the input's. Returns the mark to put back, if any; a part of
// an answer gets none, since its end is not the answer's end. A piece of a sentence keeps the
// mark the person paused at: a whole answer that ends it with a full stop (taken off as added)
// or with no mark gets the person's back; one that ends it with a mark of its kind keeps its own.
std::u16string_view matchFinalPunctuation(Cleaning& cleaning, std::u16string_view inputTrimmed,
                                          std::u16string_view inputLast, bool wholeAnswer) {
    std::u16string_view text = cleaning.text();
    const auto restore = [&](std::u16string_view mark) {
        cleaning.note(
            sanitizeNote("sanitize.trailing-punctuation-restore", "restored trailing punctuation"));
        return mark;
    };
    if (isSentencePunctuation(inputLast)) {
        if (wholeAnswer && !text.empty() &&
            !isSentencePunctuation(engine::detail::lastCharacter(text))) {
            return restore(inputLast);
        }
        return {};
    }
    if (!text.empty() && isSentencePunctuation(engine::detail::lastCharacter(text))) {
        do {
            text = text.substr(0, engine::detail::lastCharacterStart(text));
            text.remove_suffix(engine::detail::trailingWhitespaceRun(text).size());
        } while (!text.empty() && isSentencePunctuation(engine::detail::lastCharacter(text)));
        cleaning.setText(text);
        cleaning.note(sanitizeNote("sanitize.trailing-punctuation-strip",
                                   "stripped added trailing punctuation"));
    }
    const std::u16string_view pieceMark = pieceMarkOf(inputTrimmed);
    if (wholeAnswer && !pieceMark.empty() && !text.empty() &&
        !engine::detail::isPieceMark(text.back())) {
        return restore(pieceMark);
    }
    return {};
}

// The leading and trailing whitespace runs. A text made only of whitespace is all leading run,
// so that copying both runs around the answer does not write the input's whitespace twice.
std::pair<std::u16string_view, std::u16string_view> boundaryWhitespace(std::u16string_view text) {
    const auto lead = engine::detail::leadingWhitespace(text);
    if (lead.size() == text.size()) {
        return {lead, text.substr(text.size())};
    }
    return {lead, engine::detail::trailingWhitespaceRun(text)};
}

}  // namespace

QNModelSanitizeResult QNModelSanitizeResult::withPlainNotes(std::u16string cleaned,
                                                            const std::vector<std::string>& notes) {
    return QNModelSanitizeResult{std::move(cleaned), wrapPlainNotes(notes)};
}

std::vector<std::string> QNModelSanitizeResult::notes() const {
    return noteTexts(structuredNotes);
}

std::string QNModelSanitizeResult::summary() const {
    if (structuredNotes.empty()) {
        return "no changes";
    }
    std::string joined;
    for (const auto& line : notes()) {
        if (!joined.empty()) {
            joined += ", ";
        }
        joined += line;
    }
    return joined;
}

namespace {

QNModelSanitizeResult sanitize(std::u16string_view output, std::u16string_view input,
                               bool wholeAnswer) {
    const std::u16string_view inputTrimmed = engine::detail::trimmedView(input);
    const std::u16string inputLast =
        engine::detail::lower(engine::detail::lastCharacter(inputTrimmed));
    Cleaning cleaning(engine::detail::trimmedView(output));

    const auto extent =
        wholeAnswer ? engine::QNAnswerExtent::whole
        : !output.empty() && isWhitespaceCharacter(engine::detail::lastCharacter(output))
            ? engine::QNAnswerExtent::partial
            : engine::QNAnswerExtent::partialInsideWord;
    stripChatter(cleaning, inputTrimmed, extent);

    const bool inputFenced = wrappedIn(inputTrimmed, kFence);
    const bool inputHasPrefix = markdownPrefix(inputTrimmed).has_value();
    while (stripCodeFence(cleaning, inputFenced) || stripWrapperPair(cleaning, inputTrimmed) ||
           stripMarkdownPrefix(cleaning, inputHasPrefix)) {
    }

    const std::u16string_view restored =
        matchFinalPunctuation(cleaning, inputTrimmed, inputLast, wholeAnswer);

    const auto [inputLead, inputTrail] = boundaryWhitespace(input);
    const auto [outputLead, outputTrail] = boundaryWhitespace(output);
    const std::u16string_view text = cleaning.text();
    std::u16string cleaned;
    cleaned.reserve(inputLead.size() + text.size() + restored.size() + inputTrail.size());
    cleaned.append(inputLead).append(text).append(restored).append(inputTrail);
    if (inputLead != outputLead || inputTrail != outputTrail) {
        cleaning.note(
            sanitizeNote("sanitize.whitespace-boundary-match", "matched whitespace to input"));
    }
    return QNModelSanitizeResult{std::move(cleaned), cleaning.takeNotes()};
}

}  // namespace

QNModelSanitizeResult sanitizeModelOutput(std::u16string_view output, std::u16string_view input) {
    return sanitize(output, input, true);
}

QNModelSanitizeResult sanitizeModelPartial(std::u16string_view output, std::u16string_view input) {
    return sanitize(output, input, false);
}

}  // namespace ravlin
