#include "core/text/fingerprint.h"

#include "core/text/utf8_encoder.h"

namespace ravlin::text {
namespace {
constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kPrime = 0x100000001b3ULL;
}  // namespace

std::uint64_t fnv1a64(std::string_view bytes) {
    std::uint64_t hash = kOffsetBasis;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= kPrime;
    }
    return hash;
}

std::uint64_t fnv1a64(std::u16string_view text) {
    std::uint64_t hash = kOffsetBasis;
    detail::encodeUtf8(text, [&](std::uint8_t byte) {
        hash ^= byte;
        hash *= kPrime;
    });
    return hash;
}

std::string hex16(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 0x0f];
        value >>= 4;
    }
    return out;
}

std::string stableHash(std::string_view utf8) {
    return hex16(fnv1a64(utf8));
}
std::string stableHash(std::u16string_view text) {
    return hex16(fnv1a64(text));
}

}  // namespace ravlin::text
