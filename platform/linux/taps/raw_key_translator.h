#pragma once

// What a raw X input event means to a key tap. Raw events carry the key and the server's time
// but no modifier state, so the translator keeps it: the modifier keys held (classified by the
// modifier map, so a Caps Lock remapped to Control is control), the locked modifiers and group
// the keyboard reports. No X calls: the X11 tap feeds it, the benchmark too.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/key_taps.h"
#include "platform/linux/keys/xkb_keymap.h"
#include "platform/linux/x11/modifier_map.h"

namespace ravlin::platform::x11 {

// The Carbon modifier mask of event flags.
[[nodiscard]] std::uint32_t carbonModifiers(std::uint64_t flags);

struct RawInput {
    enum class Kind { keyPress, keyRelease, buttonPress, motion, touchBegin };
    Kind kind = Kind::keyPress;
    unsigned detail = 0;     // X keycode or button number (nothing for motion and touches)
    unsigned long time = 0;  // server milliseconds (wraps after 49.7 days)
    bool repeat = false;
    bool synthetic = false;
    bool own = false;  // one of this program's (see OwnKeyEvents)
};

class RawKeyTranslator {
  public:
    void setModifierMap(const ModifierMap& map);
    // The keys down now, as XQueryKeymap gives them (bit k of the 32 bytes: keycode k).
    void setPressedKeys(const std::array<char, 32>& keys);
    void setLockedModifiers(unsigned locked) { locked_ = locked; }
    void setGroup(unsigned group) { group_ = group; }
    // Where characters come from; none: key events carry no characters.
    void setKeymap(std::shared_ptr<const XkbSnapshot> keymap) { keymap_ = std::move(keymap); }

    // Whether the key changes a locked modifier (Caps Lock): its event needs the locked state as
    // it is after the key.
    [[nodiscard]] bool locksModifiers(unsigned xKeyCode) const;
    // The event a raw input means; none for the wheel and for a held modifier's repeats.
    [[nodiscard]] std::optional<InputEvent> translate(const RawInput& input);
    // The flags held now (shift, control, option, command, alpha-shift).
    [[nodiscard]] std::uint64_t flags() const;

  private:
    [[nodiscard]] unsigned heldBits() const;
    [[nodiscard]] double seconds(unsigned long time);

    ModifierMap map_;
    std::array<bool, 256> held_{};         // modifier keys down
    std::array<std::uint16_t, 8> bits_{};  // held keys per modifier bit
    unsigned locked_ = 0;
    unsigned group_ = 0;
    std::shared_ptr<const XkbSnapshot> keymap_;
    unsigned long lastTime_ = 0;
    std::uint64_t wraps_ = 0;
};

}  // namespace ravlin::platform::x11
