#include "core/text/unicode.h"

#include "core/text/utf8.h"
#include "core/text/utf8_encoder.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace ravlin::text {
namespace {

icu::UnicodeString alias(std::u16string_view text) {
    // Read-only alias: no copy, the view outlives the UnicodeString.
    return icu::UnicodeString(false, text.data(), static_cast<int32_t>(text.size()));
}

std::u16string fromUnicodeString(const icu::UnicodeString& text) {
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

// A character break iterator per thread: creating one loads rule data, which is too slow to do
// per call on the typing path.
icu::BreakIterator& characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !created) {
            std::abort();  // ICU data missing: nothing in the core can work without it
        }
        return created;
    }();
    return *iterator;
}

// Runs `body` with the thread's character iterator set on `text`.
template <class Body>
auto withCharacters(std::u16string_view text, Body body) {
    auto& iterator = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUChars(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    iterator.setText(&utext, status);
    auto result = body(iterator);
    utext_close(&utext);
    return result;
}

const icu::Normalizer2& nfdNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) {
        std::abort();
    }
    return *normalizer;
}

const icu::Normalizer2& nfcNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) {
        std::abort();
    }
    return *normalizer;
}

// ICU counts in 32 bits. A longer text is converted in pieces of at most `limit` units, each
// cut before a code point at which `startsFresh` says the conversion does not depend on what
// came before. Only a run of `limit` units without one is cut elsewhere, between code points.
template <class StartsFresh, class Convert>
std::u16string convertInPieces(std::u16string_view text, std::size_t limit, StartsFresh startsFresh,
                               Convert convert) {
    limit = std::clamp<std::size_t>(limit, 2, std::numeric_limits<int32_t>::max());
    if (text.size() <= limit) {
        return convert(text);
    }
    std::u16string out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.size();
        if (end - start > limit) {
            end = start + limit;
            std::size_t cut = end;
            while (cut > start &&
                   (U16_IS_TRAIL(text[cut]) ||
                    !startsFresh(codePointAt(text, static_cast<std::int64_t>(cut))))) {
                --cut;
            }
            if (cut == start) {
                cut = U16_IS_TRAIL(text[end]) && U16_IS_LEAD(text[end - 1]) ? end - 1 : end;
            }
            end = cut;
        }
        out += convert(text.substr(start, end - start));
        start = end;
    }
    return out;
}

std::u16string normalize(const icu::Normalizer2& normalizer, std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString source = alias(text);
    if (normalizer.isNormalized(source, status) && U_SUCCESS(status)) {
        return std::u16string(text);
    }
    status = U_ZERO_ERROR;
    icu::UnicodeString out = normalizer.normalize(source, status);
    if (U_FAILURE(status)) {
        return std::u16string(text);
    }
    return fromUnicodeString(out);
}

bool isAscii(std::u16string_view text) {
    for (char16_t unit : text) {
        if (unit >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace {

bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Decodes one piece short enough for ICU's 32-bit indexes.
void appendUtf16(std::string_view piece, std::u16string& out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
    const auto size = static_cast<int32_t>(piece.size());
    int32_t i = 0;
    while (i < size) {
        if (bytes[i] < 0x80) {
            out.push_back(static_cast<char16_t>(bytes[i++]));
            continue;
        }
        UChar32 codePoint = 0;
        U8_NEXT_OR_FFFD(bytes, i, size, codePoint);
        if (codePoint <= 0xffff) {
            out.push_back(static_cast<char16_t>(codePoint));
        } else {
            out.push_back(U16_LEAD(codePoint));
            out.push_back(U16_TRAIL(codePoint));
        }
    }
}

}  // namespace

std::u16string detail::toUtf16(std::string_view utf8, std::size_t pieceLimit) {
    // A piece ends before a byte that is not a continuation byte, which always starts a new
    // sequence. Four continuation bytes in a row cannot all belong to one sequence, so the last
    // of them starts one too: backing up three bytes at most always finds a cut.
    pieceLimit = std::clamp<std::size_t>(pieceLimit, 4, std::numeric_limits<int32_t>::max());
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = utf8.size();
        if (end - start > pieceLimit) {
            end = start + pieceLimit;
            std::size_t cut = end;
            for (int step = 0; step < 3 && isContinuationByte(utf8[cut]); ++step) {
                --cut;
            }
            if (!isContinuationByte(utf8[cut])) {
                end = cut;
            }
        }
        appendUtf16(utf8.substr(start, end - start), out);
        start = end;
    }
    return out;
}

std::u16string toUtf16(std::string_view utf8) {
    return detail::toUtf16(utf8, std::numeric_limits<int32_t>::max());
}

std::string toUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    detail::encodeUtf8(utf16, [&](std::uint8_t byte) { out.push_back(static_cast<char>(byte)); });
    return out;
}

std::int64_t characterCount(std::u16string_view text) {
    // Between two ASCII units there is always a character boundary, except inside CR LF (no
    // other grapheme rule joins ASCII to ASCII). Cutting the text at those points splits it into
    // pieces that can be counted independently: ASCII pieces directly, the rest with ICU.
    if (std::all_of(text.begin(), text.end(),
                    [](char16_t unit) { return unit < 0x80 && unit != u'\r'; })) {
        return static_cast<std::int64_t>(text.size());
    }
    std::int64_t count = 0;
    std::size_t pieceStart = 0;
    bool pieceIsAscii = true;
    auto countPiece = [&](std::size_t end) {
        const std::size_t length = end - pieceStart;
        if (length == 0) {
            return;
        }
        if (pieceIsAscii) {
            std::int64_t pieceCount = static_cast<std::int64_t>(length);
            for (std::size_t i = pieceStart + 1; i < end; ++i) {
                if (text[i] == u'\n' && text[i - 1] == u'\r') {
                    --pieceCount;
                }
            }
            count += pieceCount;
            return;
        }
        count += withCharacters(text.substr(pieceStart, length), [](icu::BreakIterator& iterator) {
            std::int64_t pieceCount = 0;
            iterator.first();
            while (iterator.next() != icu::BreakIterator::DONE) {
                ++pieceCount;
            }
            return pieceCount;
        });
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool ascii = text[i] < 0x80;
        if (i > 0 && ascii && text[i - 1] < 0x80 && !(text[i - 1] == u'\r' && text[i] == u'\n')) {
            countPiece(i);
            pieceStart = i;
            pieceIsAscii = true;
        }
        pieceIsAscii = pieceIsAscii && ascii;
    }
    countPiece(text.size());
    return count;
}

std::int64_t characterCount(std::string_view utf8) {
    return characterCount(toUtf16(utf8));
}

std::vector<std::int64_t> characterBoundaries(std::u16string_view text) {
    return withCharacters(text, [&](icu::BreakIterator& iterator) {
        std::vector<std::int64_t> boundaries;
        boundaries.reserve(text.size() + 1);
        for (int32_t position = iterator.first(); position != icu::BreakIterator::DONE;
             position = iterator.next()) {
            boundaries.push_back(position);
        }
        if (boundaries.empty()) {
            boundaries.push_back(0);
        }
        return boundaries;
    });
}

std::vector<std::int64_t> leadingCharacterBoundaries(std::u16string_view text, std::int64_t count) {
    std::vector<std::int64_t> boundaries{0};
    if (count <= 0 || text.empty()) {
        return boundaries;
    }
    return withCharacters(text, [&](icu::BreakIterator& iterator) {
        iterator.first();
        for (std::int64_t i = 0; i < count; ++i) {
            const int32_t next = iterator.next();
            if (next == icu::BreakIterator::DONE) {
                break;
            }
            boundaries.push_back(next);
        }
        return boundaries;
    });
}

std::int64_t characterBoundaryBefore(std::u16string_view text, std::int64_t offset) {
    offset = std::min<std::int64_t>(offset, static_cast<std::int64_t>(text.size()));
    if (offset <= 0) {
        return 0;
    }
    return withCharacters(text, [&](icu::BreakIterator& iterator) {
        const int32_t before = iterator.preceding(static_cast<int32_t>(offset));
        return before == icu::BreakIterator::DONE ? std::int64_t{0} : std::int64_t{before};
    });
}

bool isCharacterBoundary(std::u16string_view text, std::int64_t offset) {
    if (offset < 0 || offset > static_cast<std::int64_t>(text.size())) {
        return false;
    }
    if (offset == 0 || offset == static_cast<std::int64_t>(text.size())) {
        return true;
    }
    return withCharacters(text, [&](icu::BreakIterator& iterator) {
        return static_cast<bool>(iterator.isBoundary(static_cast<int32_t>(offset)));
    });
}

std::optional<std::u16string> substring(std::u16string_view text, Utf16Range range) {
    const auto size = static_cast<std::int64_t>(text.size());
    if (range.location < 0 || range.length < 0 || range.location > size ||
        range.length > size - range.location) {
        return std::nullopt;
    }
    if (!isCharacterBoundary(text, range.location) || !isCharacterBoundary(text, range.end())) {
        return std::nullopt;
    }
    return std::u16string(text.substr(static_cast<std::size_t>(range.location),
                                      static_cast<std::size_t>(range.length)));
}

std::u16string prefixCharacters(std::u16string_view text, std::int64_t count) {
    if (count <= 0) {
        return {};
    }
    return withCharacters(text, [&](icu::BreakIterator& iterator) {
        int32_t end = iterator.first();
        for (std::int64_t i = 0; i < count; ++i) {
            int32_t next = iterator.next();
            if (next == icu::BreakIterator::DONE) {
                break;
            }
            end = next;
        }
        return std::u16string(text.substr(0, static_cast<std::size_t>(end)));
    });
}

std::u16string suffixCharacters(std::u16string_view text, std::int64_t count) {
    if (count <= 0) {
        return {};
    }
    return withCharacters(text, [&](icu::BreakIterator& iterator) {
        int32_t start = iterator.last();
        for (std::int64_t i = 0; i < count; ++i) {
            int32_t previous = iterator.previous();
            if (previous == icu::BreakIterator::DONE) {
                break;
            }
            start = previous;
        }
        return std::u16string(text.substr(static_cast<std::size_t>(start)));
    });
}

bool isWhitespaceOrNewline(char32_t codePoint) {
    return u_isUWhiteSpace(static_cast<UChar32>(codePoint)) != 0;
}

bool isHorizontalWhitespace(char32_t codePoint) {
    return u_isblank(static_cast<UChar32>(codePoint)) != 0;
}

std::u16string trimmed(std::u16string_view text) {
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end) {
        char32_t codePoint = codePointAt(text, static_cast<std::int64_t>(start));
        if (!isWhitespaceOrNewline(codePoint)) {
            break;
        }
        start += U16_LENGTH(codePoint);
    }
    while (end > start) {
        char32_t codePoint = codePointBefore(text, static_cast<std::int64_t>(end));
        if (!isWhitespaceOrNewline(codePoint)) {
            break;
        }
        end -= U16_LENGTH(codePoint);
    }
    return std::u16string(text.substr(start, end - start));
}

std::string trimmed(std::string_view utf8) {
    return std::string(trimmedWhitespaceAndNewlines(utf8));
}

std::optional<std::u16string> trimmedNonEmpty(std::u16string_view text) {
    auto result = trimmed(text);
    return result.empty() ? std::nullopt : std::optional(std::move(result));
}

std::optional<std::string> trimmedNonEmpty(std::string_view utf8) {
    auto result = trimmed(utf8);
    return result.empty() ? std::nullopt : std::optional(std::move(result));
}

bool isBlank(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t codePoint = codePointAt(text, static_cast<std::int64_t>(i));
        if (!isWhitespaceOrNewline(codePoint)) {
            return false;
        }
        i += U16_LENGTH(codePoint);
    }
    return true;
}

bool isBlank(std::string_view utf8) {
    return trimmedWhitespaceAndNewlines(utf8).empty();
}

bool canonicallyEqual(std::u16string_view a, std::u16string_view b) {
    if (a == b) {
        return true;
    }
    if (isAscii(a) && isAscii(b)) {
        return false;
    }
    return nfd(a) == nfd(b);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) {
        return true;
    }
    return canonicallyEqual(toUtf16(a), toUtf16(b));
}

bool canonicallyEqualOptional(const std::optional<std::string>& a,
                              const std::optional<std::string>& b) {
    if (!a || !b) {
        return !a && !b;
    }
    return canonicallyEqual(std::string_view(*a), std::string_view(*b));
}

bool canonicallyEqualOptional(const std::optional<std::u16string>& a,
                              const std::optional<std::u16string>& b) {
    if (!a || !b) {
        return !a && !b;
    }
    return canonicallyEqual(std::u16string_view(*a), std::u16string_view(*b));
}

std::u16string detail::nfc(std::u16string_view text, std::size_t pieceLimit) {
    const icu::Normalizer2& normalizer = nfcNormalizer();
    return convertInPieces(
        text, pieceLimit, [&](char32_t c) { return normalizer.hasBoundaryBefore(c) != 0; },
        [&](std::u16string_view piece) { return normalize(normalizer, piece); });
}
std::u16string detail::nfd(std::u16string_view text, std::size_t pieceLimit) {
    const icu::Normalizer2& normalizer = nfdNormalizer();
    return convertInPieces(
        text, pieceLimit, [&](char32_t c) { return normalizer.hasBoundaryBefore(c) != 0; },
        [&](std::u16string_view piece) { return normalize(normalizer, piece); });
}
std::u16string nfc(std::u16string_view text) {
    return detail::nfc(text, std::numeric_limits<int32_t>::max());
}
std::u16string nfd(std::u16string_view text) {
    return detail::nfd(text, std::numeric_limits<int32_t>::max());
}

// Case mapping looks at neighbouring letters (a final sigma); whitespace ends that context.
std::u16string detail::lowercased(std::u16string_view text, std::size_t pieceLimit) {
    return convertInPieces(text, pieceLimit, isWhitespaceOrNewline, [](std::u16string_view piece) {
        icu::UnicodeString copy(piece.data(), static_cast<int32_t>(piece.size()));
        copy.toLower(icu::Locale::getRoot());
        return fromUnicodeString(copy);
    });
}
std::u16string detail::uppercased(std::u16string_view text, std::size_t pieceLimit) {
    return convertInPieces(text, pieceLimit, isWhitespaceOrNewline, [](std::u16string_view piece) {
        icu::UnicodeString copy(piece.data(), static_cast<int32_t>(piece.size()));
        copy.toUpper(icu::Locale::getRoot());
        return fromUnicodeString(copy);
    });
}
std::u16string lowercased(std::u16string_view text) {
    return detail::lowercased(text, std::numeric_limits<int32_t>::max());
}
std::u16string uppercased(std::u16string_view text) {
    return detail::uppercased(text, std::numeric_limits<int32_t>::max());
}

std::string lowercased(std::string_view utf8) {
    return toUtf8(lowercased(toUtf16(utf8)));
}
std::string uppercased(std::string_view utf8) {
    return toUtf8(uppercased(toUtf16(utf8)));
}

char32_t codePointAt(std::u16string_view text, std::int64_t offset) {
    const auto size = static_cast<std::int64_t>(text.size());
    if (offset < 0 || offset >= size) {
        return 0;
    }
    char16_t unit = text[static_cast<std::size_t>(offset)];
    if (U16_IS_LEAD(unit) && offset + 1 < size &&
        U16_IS_TRAIL(text[static_cast<std::size_t>(offset + 1)])) {
        return U16_GET_SUPPLEMENTARY(unit, text[static_cast<std::size_t>(offset + 1)]);
    }
    return unit;
}

char32_t codePointBefore(std::u16string_view text, std::int64_t offset) {
    const auto size = static_cast<std::int64_t>(text.size());
    if (offset <= 0 || offset > size) {
        return 0;
    }
    char16_t unit = text[static_cast<std::size_t>(offset - 1)];
    if (U16_IS_TRAIL(unit) && offset >= 2 &&
        U16_IS_LEAD(text[static_cast<std::size_t>(offset - 2)])) {
        return U16_GET_SUPPLEMENTARY(text[static_cast<std::size_t>(offset - 2)], unit);
    }
    return unit;
}

}  // namespace ravlin::text
