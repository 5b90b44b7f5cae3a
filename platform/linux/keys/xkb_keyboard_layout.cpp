#include "platform/linux/keys/xkb_keyboard_layout.h"

#include "core/text/unicode.h"
#include "platform/linux/keys/keycodes.h"

namespace ravlin::platform {

std::optional<std::u16string> XkbKeyboardLayout::characterForKeyCode(std::uint32_t keyCode) {
    const auto key = keycodes::xKeyCode(keyCode);
    const auto keymap = keyboard_->snapshot();
    if (!key || !keymap) {
        return std::nullopt;
    }
    const unsigned group = keyboard_->group();
    std::u16string text = text::toUtf16(keymap->text(*key, 0, 0, group));
    if (text.empty()) {
        if (const char32_t accent = keymap->deadKeyAccent(*key, group); accent != 0) {
            text.push_back(static_cast<char16_t>(accent));
        }
    }
    for (const char16_t unit : text) {
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            return std::nullopt;  // beyond 0xFFFF
        }
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

std::uint32_t XkbKeyboardLayout::keyCodeForNativeScanCode(std::uint32_t scanCode) {
    const std::uint32_t keyCode = keycodes::fromXKeyCode(scanCode);
    return keyCode == keycodes::unknown ? 0xFFFFFFFF : keyCode;
}

}  // namespace ravlin::platform
