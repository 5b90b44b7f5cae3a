#pragma once

// Bytes that look random and are the same on every run: a linear congruential generator's high
// bytes from `seed`, for files a program must take as no text of its own.

#include <QByteArray>
#include <cstdint>

namespace ravlin::testing {

inline QByteArray randomBytes(qsizetype size, std::uint32_t seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

}  // namespace ravlin::testing
