#pragma once

// Which X modifier bits (ModN) hold Super, Alt, AltGr, Num Lock and Scroll Lock on this server,
// and which bits each keycode sets: the keyboard's modifier map, read once per change.

#include <array>
#include <cstdint>

#include "platform/linux/x11/x11_connection.h"

namespace ravlin::platform::x11 {

struct ModifierMap {
    unsigned super = 0;
    unsigned alt = 0;
    unsigned levelThree = 0;  // AltGr
    unsigned numLock = 0;
    unsigned scrollLock = 0;
    std::array<std::uint8_t, 256> keyMask{};  // the modifier bits a keycode sets

    [[nodiscard]] static ModifierMap read(Display* display);
    // The event flags (shift, control, option, command) an X modifier state means. Caps Lock is
    // left out: it is a locked state, not a held key.
    [[nodiscard]] std::uint64_t flagsOf(unsigned state) const;
};

}  // namespace ravlin::platform::x11
