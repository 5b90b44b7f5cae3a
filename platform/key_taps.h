#pragma once

// Taps on the session's raw input events: key down, key up, modifier-flag changes, mouse
// presses, pointer motion and touches, seen before (or, where the desktop cannot hold
// them back, alongside) the frontmost application. Starting a tap can fail (no permission, no extension). The desktop may disable a
// tap (too slow, user input); the handler then gets a tapDisabled event and re-enables it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/support/subscription.h"
#include "platform/keys.h"
#include "platform/outcome.h"

namespace ravlin::platform {

// The event types, numbered as the masks the triggers use (bit n of a mask = type n).
enum class InputEventType : std::uint32_t {
    leftMouseDown = 1,
    rightMouseDown = 3,
    mouseMoved = 5,  // the pointer moved (buttons held or not)
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    otherMouseDown = 25,
    touchBegan = 37,  // a finger put on a touch surface
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
    bool isOwn = false;        // posted by this program's own key synthesis
    bool isRepeat = false;     // an auto-repeat key down

    // What the key types with its modifiers, however the backend supplies it.
    [[nodiscard]] std::u16string typed() const {
        return characterSource ? characterSource() : characters;
    }
};

enum class TapVerdict { pass, swallow };

// Keys held back from every application (see KeyTaps::holdKeys).
class KeyHold {
  public:
    // Lets go of the keyboard; keys held and not taken by release() go on, as well as the
    // desktop allows, to whatever has the keyboard focus.
    virtual ~KeyHold() = default;
    // Lets go of the keyboard and gives the key events held meanwhile (downs, ups and modifier
    // changes, each with what it types), in order, for the caller to deliver. Once.
    virtual std::vector<InputEvent> release() = 0;

    struct PressedThrough {
        bool posted = false;  // the presses went out and the keyboard is held again
        // A key of someone else's reached the applications in the moment the keyboard was let
        // go for the presses, before or after them (as good as never: the moment is one burst).
        bool keyPassed = false;
    };
    // Presses `chord` `times` times at whatever has the keyboard focus, as one burst: the hold
    // lets go of the keyboard for the presses and takes it back at once. Where the keys cannot be
    // posted or the keyboard not be taken back, the hold has ended (keys pressed from then on go
    // to the applications).
    virtual PressedThrough pressThrough(KeyChord chord, int times) = 0;
    // The same for keys of ours that `post` sends at once through the key synthesis (a text
    // typed): the keyboard let go of around their key events alone, not while the synthesis
    // gets ready to send them. `posted` is what `post` answered.
    virtual PressedThrough postThrough(const std::function<bool()>& post) {
        (void)post;
        return {};
    }
};

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
    // Hands the taps, now, every event the desktop has produced so far (where taps learn of
    // events only when the program's loop comes round to them). False when that cannot be
    // vouched for; then an event may still be on its way.
    virtual bool catchUp() { return true; }
    // Whether taps see the Fn key at all (X11 has no keycode for it).
    [[nodiscard]] virtual bool seesFn() { return true; }

    // Starts an exclusive capture of the keyboard: while it runs every key, modifiers too, goes
    // to `handler` alone as key down, key up and flag changes, and reaches neither the
    // applications nor this process's other taps (whatever the handler answers). Fails where the
    // keyboard is held elsewhere or the desktop cannot capture; the caller then falls back.
    virtual Expected<KeyTap> startCapture(Handler handler) {
        (void)handler;
        return Error{ErrorCode::unavailable, "no exclusive keyboard capture here"};
    }
    // Holds every key pressed or released from now on back from the applications (and from the
    // taps) until the hold is released: for the moment between keys of ours that must reach one
    // window and a window of ours taking the keyboard, whose keys they are. None where the
    // desktop cannot hold keys, another program holds the keyboard, or a capture or another hold
    // runs.
    virtual std::unique_ptr<KeyHold> holdKeys() { return nullptr; }
    // Starts a monitor of the keys addressed to this process's own windows (key down, key up and
    // flag changes, in the taps' shape); a swallow verdict keeps the key from the window.
    virtual Expected<KeyTap> startLocalMonitor(Handler handler) {
        (void)handler;
        return Error{ErrorCode::unavailable, "no monitor of the application's own keys here"};
    }
};

}  // namespace ravlin::platform
