#pragma once

// Keys as the application speaks of them everywhere: macOS virtual key codes (the ANSI layout's
// positions) and the Carbon modifier mask; events additionally carry the Core Graphics flag
// bits. Only the Linux backends translate to X11 keycodes and keysyms.

#include <cstdint>

namespace ravlin::platform {

namespace keycode {
inline constexpr std::uint32_t a = 0;
inline constexpr std::uint32_t c = 8;
inline constexpr std::uint32_t v = 9;
inline constexpr std::uint32_t e = 14;
inline constexpr std::uint32_t returnKey = 36;
inline constexpr std::uint32_t tab = 48;
inline constexpr std::uint32_t space = 49;
inline constexpr std::uint32_t deleteKey = 51;  // Backspace
inline constexpr std::uint32_t escape = 53;
inline constexpr std::uint32_t rightCommand = 54;
inline constexpr std::uint32_t command = 55;
inline constexpr std::uint32_t shift = 56;
inline constexpr std::uint32_t capsLock = 57;
inline constexpr std::uint32_t option = 58;
inline constexpr std::uint32_t control = 59;
inline constexpr std::uint32_t rightShift = 60;
inline constexpr std::uint32_t rightOption = 61;
inline constexpr std::uint32_t rightControl = 62;
inline constexpr std::uint32_t function = 63;  // Fn
inline constexpr std::uint32_t keypadEnter = 76;
inline constexpr std::uint32_t insert = 114;  // Help on Apple keyboards, Insert on PC ones
}  // namespace keycode

// The Carbon modifier mask.
namespace modifier {
inline constexpr std::uint32_t command = 0x100;
inline constexpr std::uint32_t shift = 0x200;
inline constexpr std::uint32_t alphaLock = 0x400;
inline constexpr std::uint32_t option = 0x800;
inline constexpr std::uint32_t control = 0x1000;
inline constexpr std::uint32_t function = 0x800000;
}  // namespace modifier

// The Core Graphics event flags (device-independent bits).
namespace eventflag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t numericPad = 0x200000;  // keypad keys and arrows
inline constexpr std::uint64_t function = 0x800000;
}  // namespace eventflag

// A key with the modifiers held for it (Carbon mask).
struct KeyChord {
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

}  // namespace ravlin::platform
