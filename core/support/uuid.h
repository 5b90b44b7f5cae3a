#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>

namespace ravlin {

// A random (version 4, RFC 4122 variant) UUID.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    [[nodiscard]] static Uuid random();

    // "E621E1F8-C36C-495A-93FC-0C247A3E6E5F" / "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"
    [[nodiscard]] std::string uppercaseString() const;
    [[nodiscard]] std::string lowercaseString() const;

    friend bool operator==(const Uuid&, const Uuid&) = default;
    // Byte order, so a UUID can key an ordered map.
    friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

}  // namespace ravlin
