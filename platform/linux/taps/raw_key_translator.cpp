#include "platform/linux/taps/raw_key_translator.h"

#include "core/text/unicode.h"
#include "platform/linux/keys/keycodes.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform::x11 {

std::uint32_t carbonModifiers(std::uint64_t flags) {
    std::uint32_t modifiers = 0;
    const std::pair<std::uint64_t, std::uint32_t> pairs[] = {
        {eventflag::shift, modifier::shift},        {eventflag::control, modifier::control},
        {eventflag::option, modifier::option},      {eventflag::command, modifier::command},
        {eventflag::capsLock, modifier::alphaLock},
    };
    for (const auto& [flag, carbon] : pairs) {
        if ((flags & flag) != 0) {
            modifiers |= carbon;
        }
    }
    return modifiers;
}

void RawKeyTranslator::setModifierMap(const ModifierMap& map) {
    map_ = map;
    bits_ = {};
    for (unsigned key = 0; key < held_.size(); ++key) {
        if (!held_[key]) {
            continue;
        }
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((map_.keyMask[key] & (1U << bit)) != 0) {
                ++bits_[bit];
            }
        }
    }
}

void RawKeyTranslator::setPressedKeys(const std::array<char, 32>& keys) {
    held_ = {};
    for (unsigned key = 0; key < held_.size(); ++key) {
        const bool down = (static_cast<unsigned char>(keys[key / 8]) & (1U << (key % 8))) != 0;
        held_[key] = down && map_.keyMask[key] != 0;
    }
    setModifierMap(map_);
}

bool RawKeyTranslator::locksModifiers(unsigned xKeyCode) const {
    return xKeyCode < 256 && (map_.keyMask[xKeyCode] & LockMask) != 0;
}

unsigned RawKeyTranslator::heldBits() const {
    unsigned bits = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if (bits_[bit] != 0) {
            bits |= 1U << bit;
        }
    }
    return bits;
}

std::uint64_t RawKeyTranslator::flags() const {
    auto flags = map_.flagsOf(heldBits());
    if ((locked_ & LockMask) != 0) {
        flags |= eventflag::capsLock;
    }
    return flags;
}

double RawKeyTranslator::seconds(unsigned long time) {
    // The server's clock is 32 bits of milliseconds; a large step back is its wrap.
    time &= 0xFFFFFFFFUL;
    if (time < lastTime_ && lastTime_ - time > 0x80000000UL) {
        ++wraps_;
    }
    lastTime_ = time;
    const auto milliseconds = (wraps_ << 32) + time;
    // Zero means "no time" to the triggers; the server's first millisecond reads as its second.
    return static_cast<double>(milliseconds == 0 ? 1 : milliseconds) / 1000.0;
}

std::optional<InputEvent> RawKeyTranslator::translate(const RawInput& input) {
    InputEvent event;
    event.timestamp = seconds(input.time);
    event.isSynthetic = input.synthetic;
    event.isOwn = input.own;
    if (input.kind != RawInput::Kind::keyPress && input.kind != RawInput::Kind::keyRelease) {
        if (input.kind == RawInput::Kind::motion) {
            event.type = InputEventType::mouseMoved;
        } else if (input.kind == RawInput::Kind::touchBegin) {
            event.type = InputEventType::touchBegan;
        } else if (input.detail >= 4 && input.detail <= 7) {
            return std::nullopt;  // the wheel
        } else {
            event.type = input.detail == 1   ? InputEventType::leftMouseDown
                         : input.detail == 3 ? InputEventType::rightMouseDown
                                             : InputEventType::otherMouseDown;
        }
        event.flags = flags();
        event.modifiers = carbonModifiers(event.flags);
        return event;
    }
    const unsigned key = input.detail & 0xFF;
    const bool press = input.kind == RawInput::Kind::keyPress;
    event.keyCode = keycodes::fromXKeyCode(key);
    const unsigned mask = map_.keyMask[key];
    const unsigned flagBits =
        ShiftMask | LockMask | ControlMask | map_.alt | map_.levelThree | map_.super;
    if ((mask & flagBits) != 0) {
        if (held_[key] == press) {
            return std::nullopt;  // a held modifier repeating, or a release never pressed
        }
        held_[key] = press;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((mask & (1U << bit)) != 0) {
                bits_[bit] = press ? bits_[bit] + 1 : (bits_[bit] > 0 ? bits_[bit] - 1 : 0);
            }
        }
        event.type = InputEventType::flagsChanged;
        event.flags = flags();
        event.modifiers = carbonModifiers(event.flags);
        return event;
    }
    event.type = press ? InputEventType::keyDown : InputEventType::keyUp;
    event.isRepeat = press && input.repeat;
    event.flags = flags();
    if (keycodes::isKeypadOrArrow(event.keyCode)) {
        event.flags |= eventflag::numericPad;
    }
    event.modifiers = carbonModifiers(event.flags);
    if (press && keymap_) {
        event.characterSource = [keymap = keymap_, key, held = heldBits(), locked = locked_,
                                 group = group_] {
            return text::toUtf16(keymap->text(key, held, locked, group));
        };
    }
    return event;
}

}  // namespace ravlin::platform::x11
