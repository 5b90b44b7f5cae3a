#pragma once

// Taps on the session's raw input events: key down, key up, modifier-flag changes and mouse
// presses, seen before (or, where the desktop cannot hold them back, alongside) the frontmost
// application. Starting a tap can fail (no permission, no extension). The desktop may disable a
// tap (too slow, user input); the handler then gets a tapDisabled event and re-enables it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/support/subscription.h"
#include "platform/keys.h"
#include "platform/outcome.h"

namespace ravlin::platform {

// The event types, numbered as the masks the triggers use (bit n of a mask = type n).
enum class InputEventType : std::uint32_t {
    leftMouseDown = 1,
    rightMouseDown = 3,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    otherMouseDown = 25,
    tapDisabledByTimeout = 0xFFFFFFFE,    // always delivered, whatever the mask
    tapDisabledByUserInput = 0xFFFFFFFF,  // always delivered, whatever the mask
};

[[nodiscard]] constexpr std::uint64_t eventMaskBit(InputEventType type) {
    return static_cast<std::uint32_t>(type) < 64
               ? std::uint64_t{1} << static_cast<std::uint32_t>(type)
               : 0;
}

struct InputEvent {
    InputEventType type = InputEventType::keyDown;
    std::uint32_t keyCode = 0;    // virtual key code (key and flags events)
    std::uint32_t modifiers = 0;  // Carbon mask, Fn kept as 0x800000
    std::uint64_t flags = 0;      // the event flags (eventflag::...)
    std::u16string characters;    // what the key types with its modifiers (key events)
    // Where a backend works the characters out only when asked (they cost a keymap look-up on
    // every key), this gives them and `characters` stays empty; read them with typed().
    std::function<std::u16string()> characterSource;
    double timestamp = 0;      // seconds on the monotonic clock
    bool isSynthetic = false;  // posted by a program rather than typed
    bool isRepeat = false;     // an auto-repeat key down

    // What the key types with its modifiers, however the backend supplies it.
    [[nodiscard]] std::u16string typed() const {
        return characterSource ? characterSource() : characters;
    }
};

enum class TapVerdict { pass, swallow };

// A running tap. Dropping it (or stop()) removes the tap.
class KeyTap {
  public:
    struct Control {
        virtual ~Control() = default;
        virtual void setEnabled(bool enabled) = 0;
        [[nodiscard]] virtual bool isEnabled() const = 0;
    };

    KeyTap() = default;
    KeyTap(Subscription subscription, std::shared_ptr<Control> control)
        : control_(std::move(control)), subscription_(std::move(subscription)) {}

    void setEnabled(bool enabled) {
        if (control_ && subscription_) {
            control_->setEnabled(enabled);
        }
    }
    [[nodiscard]] bool isEnabled() const {
        return control_ && subscription_ && control_->isEnabled();
    }
    [[nodiscard]] bool active() const { return subscription_.active(); }
    void stop() {
        subscription_.reset();
        control_.reset();
    }

  private:
    std::shared_ptr<Control> control_;
    Subscription subscription_;
};

class KeyTaps {
  public:
    using Handler = std::function<TapVerdict(const InputEvent&)>;

    virtual ~KeyTaps() = default;

    // Starts a tap for the event types in `mask` (eventMaskBit). The handler runs on the main
    // sequence for each event; a swallow verdict holds the event back from the application
    // where the desktop allows it (canSwallow()), else it is only advisory.
    virtual Expected<KeyTap> startTap(std::uint64_t mask, Handler handler) = 0;
    [[nodiscard]] virtual bool canSwallow() = 0;
    // Whether taps see the Fn key at all (X11 has no keycode for it).
    [[nodiscard]] virtual bool seesFn() { return true; }
};

}  // namespace ravlin::platform
