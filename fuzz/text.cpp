// Arbitrary bytes through the text toolkit: conversions must round-trip valid input, never read
// out of bounds, and keep their invariants on ill-formed input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/text/fingerprint.h"
#include "core/text/unicode.h"

using namespace ravlin::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string utf16 = toUtf16(bytes);
    const std::string utf8 = toUtf8(utf16);
    if (toUtf16(utf8) != utf16) {
        std::abort();  // our own UTF-8 must read back to the same units
    }
    // The same bytes read as raw UTF-16 units (lone surrogates included).
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    const auto boundaries = characterBoundaries(units);
    if (boundaries.back() != static_cast<std::int64_t>(units.size()) ||
        static_cast<std::int64_t>(boundaries.size()) - 1 != characterCount(units)) {
        std::abort();
    }
    const auto trimmedText = trimmed(units);
    if (trimmedText.size() > units.size() || (isBlank(units) != trimmedText.empty())) {
        std::abort();
    }
    if (!canonicallyEqual(units, nfd(units)) || !canonicallyEqual(nfc(units), units)) {
        // Ill-formed UTF-16 may not survive normalization unchanged; only well-formed must.
        if (toUtf16(toUtf8(units)) == units) {
            std::abort();
        }
    }
    (void)lowercased(units);
    (void)uppercased(units);
    (void)stableHash(units);
    return 0;
}
