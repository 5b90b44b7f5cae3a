#pragma once

// The current keyboard layout: the text a key gives with no modifiers held.

#include <cstdint>
#include <optional>
#include <string>

namespace ravlin::platform {

class KeyboardLayout {
  public:
    virtual ~KeyboardLayout() = default;
    // Nothing for a key that types nothing (or a key code beyond 0xFFFF).
    [[nodiscard]] virtual std::optional<std::u16string> characterForKeyCode(
        std::uint32_t keyCode) = 0;
    // The application key code of a key event's native scan code (what a toolkit reports for
    // a key of this program's own windows); 0xFFFFFFFF when the desktop's codes are not known.
    [[nodiscard]] virtual std::uint32_t keyCodeForNativeScanCode(std::uint32_t /*scanCode*/) {
        return 0xFFFFFFFF;
    }
};

}  // namespace ravlin::platform
