#include "core/support/uuid.h"

#include <random>

namespace ravlin {
namespace {

std::string format(const Uuid& uuid, const char* digits) {
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < uuid.bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out.push_back('-');
        }
        out.push_back(digits[uuid.bytes[i] >> 4]);
        out.push_back(digits[uuid.bytes[i] & 0x0f]);
    }
    return out;
}

}  // namespace

Uuid Uuid::random() {
    // One generator per thread, seeded from the operating system's entropy source.
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    Uuid uuid;
    for (std::size_t i = 0; i < uuid.bytes.size(); i += 8) {
        std::uint64_t word = generator();
        for (std::size_t j = 0; j < 8; ++j) {
            uuid.bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0f) | 0x40);  // version 4
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return uuid;
}

std::string Uuid::uppercaseString() const {
    return format(*this, "0123456789ABCDEF");
}
std::string Uuid::lowercaseString() const {
    return format(*this, "0123456789abcdef");
}

}  // namespace ravlin
