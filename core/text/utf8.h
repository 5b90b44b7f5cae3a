#pragma once

// Byte-level UTF-8 checks for text that arrives from the network, before it becomes a string
// the rest of the core trusts.

#include <string_view>

namespace ravlin::text {

// Well-formed UTF-8 as the Unicode standard defines it: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequence.
[[nodiscard]] bool isValidUtf8(std::string_view bytes);

// `bytes` without a trailing sequence that was cut short: when the text ends inside a multi-byte
// character whose lead byte and continuation bytes so far are well-formed, those bytes are
// dropped. Anything else comes back unchanged. For texts read up to a byte limit.
[[nodiscard]] std::string_view droppingIncompleteTrailingSequence(std::string_view bytes);

// Trimming of UTF-8 text, quick for ASCII ends. `whitespaceAndNewlines` trims every code point
// with the Unicode White_Space property; `horizontalWhitespace` trims spaces and tabs only.
[[nodiscard]] std::string_view trimmedWhitespaceAndNewlines(std::string_view utf8);
[[nodiscard]] std::string_view trimmedHorizontalWhitespace(std::string_view utf8);

}  // namespace ravlin::text
