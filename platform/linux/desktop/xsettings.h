#pragma once

// The settings an XSETTINGS manager publishes (the _XSETTINGS_SETTINGS property of the
// selection owner's window): a byte-order mark, a serial, a count, then one record per setting
// (integer, string or colour), each name and string padded to four bytes. The property is
// another program's data: every length is checked against what is there, and a record that
// does not fit ends the reading.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ravlin::platform::xsettings {

// Nothing beyond this is read.
inline constexpr std::size_t maximumLength = 64 * 1024;

// The integer setting called `name`; none when there is no such integer or the data ends first.
[[nodiscard]] std::optional<std::int32_t> integer(std::span<const std::uint8_t> data,
                                                  std::string_view name);

}  // namespace ravlin::platform::xsettings
