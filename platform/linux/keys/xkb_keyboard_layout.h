#pragma once

// The keyboard layout on X11: what the key at a position types in the keyboard's current group
// with no modifiers, from the server's XKB keymap (followed across layout switches).

#include <memory>

#include "platform/keyboard_layout.h"
#include "platform/linux/keys/xkb_keymap.h"

namespace ravlin::platform {

class XkbKeyboardLayout final : public KeyboardLayout {
  public:
    explicit XkbKeyboardLayout(std::shared_ptr<x11::Keyboard> keyboard)
        : keyboard_(std::move(keyboard)) {}

    // A dead key gives its spacing accent; nothing beyond 0xFFFF.
    std::optional<std::u16string> characterForKeyCode(std::uint32_t keyCode) override;
    // Qt on X11 reports the X keycode as the native scan code.
    std::uint32_t keyCodeForNativeScanCode(std::uint32_t scanCode) override;

  private:
    std::shared_ptr<x11::Keyboard> keyboard_;
};

}  // namespace ravlin::platform
