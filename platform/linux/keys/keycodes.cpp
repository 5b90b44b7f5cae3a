#include "platform/linux/keys/keycodes.h"

#include <array>

#include "platform/key_table.h"

namespace ravlin::platform::keycodes {
namespace {

using keytable::rows;

constexpr unsigned evdevOffset = 8;

struct Tables {
    std::array<std::uint16_t, 128> toX{};    // by application code; 0 = none
    std::array<std::uint16_t, 256> fromX{};  // by X keycode
};

constexpr Tables build() {
    Tables tables;
    tables.fromX.fill(unknown);
    for (const auto& row : rows) {
        const unsigned x = row.evdev + evdevOffset;
        tables.toX[row.mac] = static_cast<std::uint16_t>(x);
        tables.fromX[x] = row.mac;
    }
    return tables;
}

constexpr Tables tables = build();

}  // namespace

std::optional<unsigned> xKeyCode(std::uint32_t keyCode) {
    if (keyCode >= tables.toX.size() || tables.toX[keyCode] == 0) {
        return std::nullopt;
    }
    return tables.toX[keyCode];
}

std::uint32_t fromXKeyCode(unsigned xKeyCode) {
    return xKeyCode < tables.fromX.size() ? tables.fromX[xKeyCode] : unknown;
}

bool isKeypadOrArrow(std::uint32_t keyCode) {
    constexpr std::uint8_t keys[] = {65, 67, 69, 71, 75, 76, 78, 81,  82,  83,  84,
                                     85, 86, 87, 88, 89, 91, 92, 123, 124, 125, 126};
    for (const auto key : keys) {
        if (key == keyCode) {
            return true;
        }
    }
    return false;
}

}  // namespace ravlin::platform::keycodes
