#pragma once

// Unicode helpers every part of the core uses. User text is UTF-16 (std::u16string), positions
// are UTF-16 code units, lengths and thresholds are characters (extended grapheme clusters),
// and text equality is canonical equivalence. Identifiers, log lines and JSON are UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/range.h"

namespace ravlin::text {

// UTF-8 -> UTF-16. Ill-formed sequences become U+FFFD.
[[nodiscard]] std::u16string toUtf16(std::string_view utf8);
namespace detail {
// Conversions handled by ICU, which counts in 32 bits, take longer texts in pieces of at most
// `pieceLimit` units, cut where the result does not depend on the cut. These forms let tests
// use small pieces.
[[nodiscard]] std::u16string nfc(std::u16string_view text, std::size_t pieceLimit);
[[nodiscard]] std::u16string nfd(std::u16string_view text, std::size_t pieceLimit);
[[nodiscard]] std::u16string lowercased(std::u16string_view text, std::size_t pieceLimit);
[[nodiscard]] std::u16string uppercased(std::u16string_view text, std::size_t pieceLimit);
// toUtf16 decoding the bytes in pieces of at most `pieceLimit` bytes (at least 4), each cut
// before a byte that starts a sequence, so that the result does not depend on the piece size.
[[nodiscard]] std::u16string toUtf16(std::string_view utf8, std::size_t pieceLimit);
}  // namespace detail
// UTF-16 -> UTF-8. A lone surrogate becomes U+FFFD.
[[nodiscard]] std::string toUtf8(std::u16string_view utf16);

// Number of characters (extended grapheme clusters).
[[nodiscard]] std::int64_t characterCount(std::u16string_view text);
[[nodiscard]] std::int64_t characterCount(std::string_view utf8);

// The UTF-16 offsets at which characters start, plus the end offset. Empty text gives {0}.
[[nodiscard]] std::vector<std::int64_t> characterBoundaries(std::u16string_view text);
// The offsets at which the first `count` characters start, plus the end of the last of them
// (at most count + 1 offsets; fewer when the text is shorter). Looks only at those characters.
[[nodiscard]] std::vector<std::int64_t> leadingCharacterBoundaries(std::u16string_view text,
                                                                   std::int64_t count);
// The last character boundary before `offset` (0 when there is none). Looks only near it.
[[nodiscard]] std::int64_t characterBoundaryBefore(std::u16string_view text, std::int64_t offset);
// Whether `offset` lies on a character boundary (0 and the length always do).
[[nodiscard]] bool isCharacterBoundary(std::u16string_view text, std::int64_t offset);
// The text of `range` when it lies within the text and both ends fall on character
// boundaries; otherwise absent.
[[nodiscard]] std::optional<std::u16string> substring(std::u16string_view text, Utf16Range range);

// The first / last `count` characters (the whole text when it is shorter).
[[nodiscard]] std::u16string prefixCharacters(std::u16string_view text, std::int64_t count);
[[nodiscard]] std::u16string suffixCharacters(std::u16string_view text, std::int64_t count);

// Whitespace and newlines: the Unicode White_Space property (spaces, tabs, U+000A-U+000D,
// U+0085, U+2028, U+2029, ...).
[[nodiscard]] bool isWhitespaceOrNewline(char32_t codePoint);
// Spaces only, without line breaks (Unicode "blank": Zs plus tab).
[[nodiscard]] bool isHorizontalWhitespace(char32_t codePoint);
[[nodiscard]] std::u16string trimmed(std::u16string_view text);
[[nodiscard]] std::string trimmed(std::string_view utf8);
// The text trimmed of whitespace and newlines, or nothing when nothing is left.
[[nodiscard]] std::optional<std::u16string> trimmedNonEmpty(std::u16string_view text);
[[nodiscard]] std::optional<std::string> trimmedNonEmpty(std::string_view utf8);
// Empty once trimmed of whitespace and newlines.
[[nodiscard]] bool isBlank(std::u16string_view text);
[[nodiscard]] bool isBlank(std::string_view utf8);

// Canonical equivalence (NFD of both sides compared).
[[nodiscard]] bool canonicallyEqual(std::u16string_view a, std::u16string_view b);
[[nodiscard]] bool canonicallyEqual(std::string_view a, std::string_view b);
[[nodiscard]] bool canonicallyEqualOptional(const std::optional<std::string>& a,
                                            const std::optional<std::string>& b);
[[nodiscard]] bool canonicallyEqualOptional(const std::optional<std::u16string>& a,
                                            const std::optional<std::u16string>& b);
// Canonical composition (NFC) and decomposition (NFD).
[[nodiscard]] std::u16string nfc(std::u16string_view text);
[[nodiscard]] std::u16string nfd(std::u16string_view text);

// Case mapping with the root locale, never the user's.
[[nodiscard]] std::u16string lowercased(std::u16string_view text);
[[nodiscard]] std::u16string uppercased(std::u16string_view text);
[[nodiscard]] std::string lowercased(std::string_view utf8);
[[nodiscard]] std::string uppercased(std::string_view utf8);

// Code-point iteration over UTF-16 (lone surrogates come back as themselves).
[[nodiscard]] char32_t codePointAt(std::u16string_view text, std::int64_t offset);
[[nodiscard]] char32_t codePointBefore(std::u16string_view text, std::int64_t offset);

}  // namespace ravlin::text
