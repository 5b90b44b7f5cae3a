#include "core/services/output_sanitizer.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include <unicode/uchar.h>

#include "core/services/character_view.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using engine::detail::CharacterView;
using engine::detail::endsWith;
using engine::detail::startsWith;

constexpr std::array<std::u16string_view, 10> kPreamblePhrases{
    u"the corrected text is",
    u"here is the corrected version",
    u"here is the polished version",
    u"here is the rewrite",
    u"here's the rewrite",
    u"here's the polished version",
    u"corrected",
    u"polished",
    u"output",
    u"result",
};

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

QNCorrectionNote sanitizeNote(const char* ruleID, const char* value) {
    return QNCorrectionNote::plain(value, QNCorrectionStageID::sanitize, ruleID);
}

QNCorrectionNote wrapperNote(WrapperKind kind) {
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

bool isSentencePunctuation(std::u16string_view character) {
    return character == u"." || character == u"!" || character == u"?";
}

bool isNumericCharacter(std::u16string_view character) {
    const char32_t codePoint = text::codePointAt(character, 0);
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// Length in characters of the Markdown prefix (heading, quote, bullet with an optional task
// box, ordered item) that starts the text; absent when it has none.
std::optional<std::int64_t> markdownPrefixLength(std::u16string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const char16_t first = text[0];
    const bool mayBeNumber = first >= 0x80 || (first >= u'0' && first <= u'9');
    if (first != u'#' && first != u'>' && first != u'-' && first != u'*' && first != u'+' &&
        !mayBeNumber) {
        return std::nullopt;
    }

    const CharacterView view(text);
    if (first == u'#') {
        std::int64_t hashes = 0;
        while (hashes < view.size() && view.at(hashes) == u"#") {
            ++hashes;
        }
        if (hashes <= 6 && hashes < view.size() && view.isWhitespace(hashes)) {
            return hashes + 1;
        }
        return std::nullopt;
    }
    if (startsWith(text, u"> ")) {
        return 2;
    }
    for (std::u16string_view bullet : {u"- ", u"* ", u"+ "}) {
        if (!startsWith(text, bullet)) {
            continue;
        }
        const auto rest = text.substr(2);
        if (startsWith(rest, u"[ ] ") || startsWith(rest, u"[x] ") || startsWith(rest, u"[X] ")) {
            return 6;
        }
        return 2;
    }
    if (mayBeNumber) {
        std::int64_t digits = 0;
        while (digits < view.size() && digits < 10 && isNumericCharacter(view.at(digits))) {
            ++digits;
        }
        if (digits >= 1 && digits <= 9 && digits + 1 < view.size() &&
            (view.at(digits) == u"." || view.at(digits) == u")") && view.isWhitespace(digits + 1)) {
            return digits + 2;
        }
    }
    return std::nullopt;
}

bool wrappedIn(std::u16string_view text, std::u16string_view marker) {
    return startsWith(text, marker) && endsWith(text, marker);
}

// Step 2: at most one preamble ("here is the corrected version:") the input does not share.
void stripPreamble(std::u16string& text, std::u16string_view inputLower,
                   std::vector<QNCorrectionNote>& notes) {
    // Only the start of the text can match; no candidate is longer than 30 characters.
    const std::u16string lowerStart = engine::detail::lower(
        std::u16string_view(text).substr(0, std::min<std::size_t>(text.size(), 64)));
    for (std::u16string_view phrase : kPreamblePhrases) {
        std::u16string candidate(phrase);
        candidate += u':';
        if (!startsWith(lowerStart, candidate) || startsWith(inputLower, candidate)) {
            continue;
        }
        const CharacterView view(text);
        const auto removed = std::min<std::int64_t>(view.size(), candidate.size());
        const auto rest =
            std::u16string_view(text).substr(static_cast<std::size_t>(view.offset(removed)));
        text = std::u16string(rest.substr(engine::detail::leadingWhitespace(rest).size()));
        notes.push_back(sanitizeNote("sanitize.preamble-strip", "stripped preamble"));
        return;
    }
}

// Step 3a: a code fence the input does not have, with its language-tag line.
bool stripCodeFence(std::u16string& text, bool inputFenced, std::vector<QNCorrectionNote>& notes) {
    if (inputFenced || !wrappedIn(text, kFence) || engine::detail::countCharacters(text) < 7) {
        return false;
    }
    std::u16string_view inner = std::u16string_view(text).substr(3, text.size() - 6);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (const auto length = engine::detail::newlineLength(inner, i); length > 0) {
            inner = inner.substr(i + length);
            break;
        }
    }
    text = std::u16string(engine::detail::trimmedView(inner));
    notes.push_back(sanitizeNote("sanitize.code-fence-strip", "stripped code fence"));
    return true;
}

// Step 3b: the first wrapper pair around the whole text that the input is not wrapped in.
bool stripWrapperPair(std::u16string& text, std::u16string_view inputTrimmed,
                      std::vector<QNCorrectionNote>& notes) {
    std::optional<std::int64_t> count;
    for (const Wrapper& wrapper : kWrappers) {
        if (!wrappedIn(text, wrapper.marker)) {
            continue;
        }
        if (!count) {
            count = engine::detail::countCharacters(text);
        }
        const auto markerLength = static_cast<std::int64_t>(wrapper.marker.size());
        if (2 * markerLength >= *count || wrappedIn(inputTrimmed, wrapper.marker)) {
            continue;
        }
        const auto inner = std::u16string_view(text).substr(
            wrapper.marker.size(), text.size() - 2 * wrapper.marker.size());
        text = std::u16string(engine::detail::trimmedView(inner));
        notes.push_back(wrapperNote(wrapper.kind));
        return true;
    }
    return false;
}

// Step 3c: a list, heading or quote marker, unless the input starts with one.
bool stripMarkdownPrefix(std::u16string& text, bool inputHasPrefix,
                         std::vector<QNCorrectionNote>& notes) {
    if (inputHasPrefix) {
        return false;
    }
    const auto prefix = markdownPrefixLength(text);
    if (!prefix) {
        return false;
    }
    const CharacterView view(text);
    if (*prefix >= view.size()) {
        return false;
    }
    const auto rest =
        std::u16string_view(text).substr(static_cast<std::size_t>(view.offset(*prefix)));
    text = std::u16string(engine::detail::trimmedView(rest));
    notes.push_back(sanitizeNote("sanitize.markdown-prefix-strip", "stripped markdown prefix"));
    return true;
}

// Step 4: final punctuation follows the input's.
void matchFinalPunctuation(std::u16string& text, std::u16string_view inputLower,
                           std::vector<QNCorrectionNote>& notes) {
    const auto inputLast = engine::detail::lastCharacter(inputLower);
    if (isSentencePunctuation(inputLast)) {
        if (!text.empty() && !isSentencePunctuation(engine::detail::lastCharacter(text))) {
            text += inputLast;
            notes.push_back(sanitizeNote("sanitize.trailing-punctuation-restore",
                                         "restored trailing punctuation"));
        }
        return;
    }
    if (text.empty() || !isSentencePunctuation(engine::detail::lastCharacter(text))) {
        return;
    }
    do {
        text.erase(engine::detail::lastCharacterStart(text));
        text.erase(text.size() - engine::detail::trailingWhitespaceRun(text).size());
    } while (!text.empty() && isSentencePunctuation(engine::detail::lastCharacter(text)));
    notes.push_back(
        sanitizeNote("sanitize.trailing-punctuation-strip", "stripped added trailing punctuation"));
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

QNModelSanitizeResult sanitizeModelOutput(std::u16string_view output, std::u16string_view input) {
    const std::u16string_view inputTrimmed = engine::detail::trimmedView(input);
    const std::u16string inputLower = engine::detail::lower(inputTrimmed);
    std::u16string text(engine::detail::trimmedView(output));
    std::vector<QNCorrectionNote> notes;

    stripPreamble(text, inputLower, notes);

    const bool inputFenced = wrappedIn(inputTrimmed, kFence);
    const bool inputHasPrefix = markdownPrefixLength(inputTrimmed).has_value();
    while (stripCodeFence(text, inputFenced, notes) ||
           stripWrapperPair(text, inputTrimmed, notes) ||
           stripMarkdownPrefix(text, inputHasPrefix, notes)) {
    }

    matchFinalPunctuation(text, inputLower, notes);

    const auto [inputLead, inputTrail] = boundaryWhitespace(input);
    const auto [outputLead, outputTrail] = boundaryWhitespace(output);
    std::u16string cleaned;
    cleaned.reserve(inputLead.size() + text.size() + inputTrail.size());
    cleaned.append(inputLead).append(text).append(inputTrail);
    if (inputLead != outputLead || inputTrail != outputTrail) {
        notes.push_back(
            sanitizeNote("sanitize.whitespace-boundary-match", "matched whitespace to input"));
    }
    return QNModelSanitizeResult{std::move(cleaned), std::move(notes)};
}

}  // namespace ravlin
