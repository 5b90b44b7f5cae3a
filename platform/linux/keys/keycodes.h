#pragma once

// The key table (platform/key_table.h) in X terms: application key codes (macOS virtual key
// codes, named by their position on the US ANSI keyboard) to X keycodes (evdev + 8) and back.
// Codes are positions, not characters: the key at the US "E" position is 14 / 18 / 26 whatever
// the layout types there.

#include <cstdint>
#include <optional>

namespace ravlin::platform::keycodes {

// What a key without an application code maps to. No row uses it: it is neither 0 (A) nor
// 0xFFFFFFFF (no shortcut).
inline constexpr std::uint32_t unknown = 0xFFFF;

// The X keycode for an application key code; none for keys X has no keycode for (Fn) and for
// codes no row names.
[[nodiscard]] std::optional<unsigned> xKeyCode(std::uint32_t keyCode);
// The application key code for an X keycode; `unknown` when no row has it.
[[nodiscard]] std::uint32_t fromXKeyCode(unsigned xKeyCode);
// Whether the key sits on the keypad or is an arrow (the numeric-pad event flag).
[[nodiscard]] bool isKeypadOrArrow(std::uint32_t keyCode);

}  // namespace ravlin::platform::keycodes
