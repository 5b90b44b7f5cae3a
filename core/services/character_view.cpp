#include "core/services/character_view.h"

#include <algorithm>
#include <vector>

#include <unicode/uchar.h>

#include "core/text/search.h"
#include "core/text/unicode.h"

namespace ravlin::engine::detail {
namespace {

constexpr bool isAsciiUnit(char16_t unit) {
    return unit < 0x80;
}

std::size_t codePointLengthAt(std::u16string_view text, std::size_t offset) {
    if (offset + 1 < text.size() && text[offset] >= 0xD800 && text[offset] <= 0xDBFF &&
        text[offset + 1] >= 0xDC00 && text[offset + 1] <= 0xDFFF) {
        return 2;
    }
    return 1;
}

std::size_t codePointLengthBefore(std::u16string_view text, std::size_t offset) {
    if (offset >= 2 && text[offset - 1] >= 0xDC00 && text[offset - 1] <= 0xDFFF &&
        text[offset - 2] >= 0xD800 && text[offset - 2] <= 0xDBFF) {
        return 2;
    }
    return 1;
}

}  // namespace

bool isAscii(std::u16string_view text) {
    for (char16_t unit : text) {
        if (!isAsciiUnit(unit)) {
            return false;
        }
    }
    return true;
}

std::vector<std::int64_t> characterOffsets(std::u16string_view text) {
    if (!isAscii(text)) {
        return text::characterBoundaries(text);
    }
    std::vector<std::int64_t> offsets;
    offsets.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && text[i] == u'\n' && text[i - 1] == u'\r') {
            continue;  // CR LF is one character
        }
        offsets.push_back(static_cast<std::int64_t>(i));
    }
    offsets.push_back(static_cast<std::int64_t>(text.size()));
    return offsets;
}

CharacterView::CharacterView(std::u16string_view text)
    : text_(text), offsets_(characterOffsets(text)) {}

bool CharacterView::isWhitespace(std::int64_t index) const {
    return text::isWhitespaceOrNewline(text::codePointAt(text_, offset(index)));
}

bool isBoundary(std::u16string_view text, std::size_t offset) {
    if (offset == 0 || offset >= text.size()) {
        return offset <= text.size();
    }
    const char16_t before = text[offset - 1];
    const char16_t after = text[offset];
    if (isAsciiUnit(before) && isAsciiUnit(after)) {
        return !(before == u'\r' && after == u'\n');
    }
    // Nothing breaks before an extending mark, a joiner or a spacing mark unless a control, CR
    // or LF stands before it: answered from two property look-ups, without a break iterator.
    const auto at = static_cast<std::int64_t>(offset);
    const auto next = u_getIntPropertyValue(static_cast<UChar32>(text::codePointAt(text, at)),
                                            UCHAR_GRAPHEME_CLUSTER_BREAK);
    if (next == U_GCB_EXTEND || next == U_GCB_ZWJ || next == U_GCB_SPACING_MARK) {
        const auto previous = u_getIntPropertyValue(
            static_cast<UChar32>(text::codePointBefore(text, at)), UCHAR_GRAPHEME_CLUSTER_BREAK);
        if (previous != U_GCB_CONTROL && previous != U_GCB_CR && previous != U_GCB_LF) {
            return false;
        }
    }
    return text::isCharacterBoundary(text, at);
}

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix && isBoundary(text, prefix.size());
}

bool endsWith(std::u16string_view text, std::u16string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix &&
           isBoundary(text, text.size() - suffix.size());
}

std::size_t find(std::u16string_view text, std::u16string_view needle) {
    // Every occurrence is tried in one pass, so a reply built to match the needle at many places
    // that are not character boundaries still costs text plus needle.
    return text::findFirstAccepted(text, needle,
                                   [&](std::size_t at) {
                                       return isBoundary(text, at) &&
                                              isBoundary(text, at + needle.size());
                                   })
        .value_or(std::u16string_view::npos);
}

std::size_t lastCharacterStart(std::u16string_view text) {
    const std::size_t n = text.size();
    if (n == 0) {
        return 0;
    }
    if (isAsciiUnit(text[n - 1])) {
        if (n == 1) {
            return 0;
        }
        if (text[n - 2] == u'\r' && text[n - 1] == u'\n') {
            return n - 2;
        }
        // Nothing joins a code point to a following ASCII one except a prepended mark (and CR
        // to LF), so the last character is the ASCII unit alone.
        const char32_t before = text::codePointBefore(text, static_cast<std::int64_t>(n - 1));
        if (isAsciiUnit(text[n - 2]) ||
            u_getIntPropertyValue(static_cast<UChar32>(before), UCHAR_GRAPHEME_CLUSTER_BREAK) !=
                U_GCB_PREPEND) {
            return n - 1;
        }
    }
    return static_cast<std::size_t>(
        text::characterBoundaryBefore(text, static_cast<std::int64_t>(n)));
}

LeadingCharacters::LeadingCharacters(std::u16string_view text, std::int64_t count) : text_(text) {
    offsets_[0] = 0;
    count = std::clamp<std::int64_t>(count, 0, kMaximum);
    // k characters end at most 2k units in (CR LF); when every unit up to one past that is
    // ASCII, each boundary there is decided by ASCII neighbours alone.
    const auto probe = std::min(text.size(), 2 * static_cast<std::size_t>(count) + 2);
    if (!isAscii(text.substr(0, probe))) {
        const auto boundaries = text::leadingCharacterBoundaries(text, count);
        std::copy(boundaries.begin(), boundaries.end(), offsets_.begin());
        size_ = static_cast<std::int64_t>(boundaries.size()) - 1;
        return;
    }
    std::size_t at = 0;
    while (at < text.size() && size_ < count) {
        at += (text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n') ? 2 : 1;
        offsets_[static_cast<std::size_t>(++size_)] = static_cast<std::int64_t>(at);
    }
}

std::int64_t countCharacters(std::u16string_view text) {
    if (!isAscii(text)) {
        return text::characterCount(text);
    }
    std::int64_t count = static_cast<std::int64_t>(text.size());
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == u'\n' && text[i - 1] == u'\r') {
            --count;
        }
    }
    return count;
}

std::u16string lower(std::u16string_view text) {
    if (!isAscii(text)) {
        return text::lowercased(text);
    }
    std::u16string result(text);
    for (char16_t& unit : result) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + (u'a' - u'A'));
        }
    }
    return result;
}

std::u16string_view leadingWhitespace(std::u16string_view text) {
    std::size_t end = 0;
    while (end < text.size() &&
           text::isWhitespaceOrNewline(text::codePointAt(text, static_cast<std::int64_t>(end)))) {
        end += codePointLengthAt(text, end);
    }
    return text.substr(0, end);
}

std::u16string_view trailingWhitespaceRun(std::u16string_view text) {
    std::size_t start = text.size();
    while (start > 0 && text::isWhitespaceOrNewline(
                            text::codePointBefore(text, static_cast<std::int64_t>(start)))) {
        start -= codePointLengthBefore(text, start);
    }
    return text.substr(start);
}

std::u16string_view trimmedView(std::u16string_view text) {
    const auto lead = leadingWhitespace(text);
    if (lead.size() == text.size()) {
        return text.substr(text.size());
    }
    const auto rest = text.substr(lead.size());
    return rest.substr(0, rest.size() - trailingWhitespaceRun(rest).size());
}

bool isPieceMark(char16_t unit) {
    return unit == u',' || unit == u';' || unit == u':' || unit == u'-' || unit == 0x2013 ||
           unit == 0x2014 || unit == 0x3001 || unit == 0xFF0C || unit == 0xFF1B || unit == 0xFF1A;
}

std::size_t newlineLength(std::u16string_view text, std::size_t offset) {
    if (offset >= text.size()) {
        return 0;
    }
    switch (text[offset]) {
        case u'\r':
            return (offset + 1 < text.size() && text[offset + 1] == u'\n') ? 2 : 1;
        case u'\n':
        case u'\v':
        case u'\f':
        case u'\u0085':
        case u'\u2028':
        case u'\u2029':
            return 1;
        default:
            return 0;
    }
}

}  // namespace ravlin::engine::detail
