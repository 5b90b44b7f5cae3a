#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravlin::text {

// 64-bit FNV-1a over the UTF-8 bytes of a text: the fingerprint that names a text in notes and
// logs instead of the text itself.
[[nodiscard]] std::uint64_t fnv1a64(std::string_view bytes);
[[nodiscard]] std::uint64_t fnv1a64(std::u16string_view text);  // hashes the UTF-8 form

// The fingerprint as 16 lower-case hexadecimal digits.
[[nodiscard]] std::string stableHash(std::string_view utf8);
[[nodiscard]] std::string stableHash(std::u16string_view text);

// A 64-bit value as 16 lower-case hexadecimal digits.
[[nodiscard]] std::string hex16(std::uint64_t value);

}  // namespace ravlin::text
