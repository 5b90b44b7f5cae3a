#pragma once

#include <cstdint>

namespace ravlin::text {

// A range of UTF-16 code units. Every position and range over user text counts UTF-16 code
// units, as the text widgets and accessibility interfaces do.
struct Utf16Range {
    std::int64_t location = 0;
    std::int64_t length = 0;

    [[nodiscard]] constexpr std::int64_t end() const { return location + length; }
    [[nodiscard]] constexpr bool contains(std::int64_t position) const {
        return position >= location && position < end();
    }
    [[nodiscard]] constexpr bool intersects(const Utf16Range& other) const {
        return location < other.end() && other.location < end();
    }
    friend constexpr bool operator==(const Utf16Range&, const Utf16Range&) = default;
};

}  // namespace ravlin::text
