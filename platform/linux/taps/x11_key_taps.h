#pragma once

// Passive key taps on X11: XInput 2.2 raw key presses, releases and button presses of every
// master device, selected on the root window while a tap runs (the pointer's raw motion and
// touches only while a tap asks for them). X delivers them alongside the
// focused application's own events, so a tap can neither swallow a key nor be disabled by the
// desktop; it never sees Fn, which has no keycode. Events posted through XTest come from the
// "XTEST" slave devices and are marked synthetic.
// An exclusive capture grabs the keyboard on the root window: the applications get no keys, and
// the grab's key events go to the capture's handler alone (not synthetic: they name no source
// device); the taps still see mouse presses. A hold grabs it the same way and keeps the keys for
// the application that has the focus once it ends. Which key events the server sent before a
// grab (they reached the applications: the taps see them) and which after (the grab has them)
// is told by the request serial each event carries, not by when the program reads them.

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/key_taps.h"
#include "platform/linux/keys/xkb_keymap.h"
#include "platform/linux/taps/raw_key_translator.h"
#include "platform/linux/taps/typed_run.h"
#include "platform/linux/x11/x11_connection.h"

namespace ravlin::platform {

class X11KeyTaps final : public KeyTaps {
  public:
    // `keyboard` gives characters and the locked state; without it key events carry none.
    X11KeyTaps(std::shared_ptr<x11::Connection> connection,
               std::shared_ptr<x11::Keyboard> keyboard);
    ~X11KeyTaps() override;

    // Whether the server speaks XInput 2.2.
    [[nodiscard]] bool available() const { return opcode_ != 0; }

    Expected<KeyTap> startTap(std::uint64_t mask, Handler handler) override;
    bool canSwallow() override { return false; }
    // What the server sent by now reaches the taps (a round trip, then the queued events).
    bool catchUp() override { return connection_->catchUp(); }
    bool seesFn() override { return false; }
    // Fails when another client holds the keyboard (or it is frozen), or a capture runs already.
    Expected<KeyTap> startCapture(Handler handler) override;
    // Keys addressed to this process's windows, through the Qt application's event filter.
    Expected<KeyTap> startLocalMonitor(Handler handler) override;
    // Grabs the keyboard and keeps the grab's key events; release() translates them as the taps
    // would. A hold dropped unreleased posts them again through XTest (a release only where its
    // press was kept; a key still down at that moment may not arrive).
    std::unique_ptr<KeyHold> holdKeys() override;

    // While held back (an exclusive capture has the keyboard), key downs and ups reach no tap.
    void holdBackKeys(bool held) { keysHeldBack_ = held; }

    // What the person's keys last typed in one go, while a tap runs (see TypedRun); nothing when
    // nothing is known. Kept before the taps hear of a key.
    [[nodiscard]] TypedRun::View typedRun() const { return typedRun_.view(); }
    // Told of each key the run keeps (or takes back), before the taps hear of the key: false
    // withholds the run (the field the key went into is one it cannot stand for).
    void setRunWatch(std::function<bool(const TypedRun::View&)> watch) {
        runWatch_ = std::move(watch);
    }
    // Key presses the server has sent that the taps have not heard of yet (read from the
    // connection without a round trip, left where they are): keys the focused application may
    // have had already.
    [[nodiscard]] std::size_t keyPressesWaiting();

  private:
    struct Tap {
        std::uint64_t mask = 0;
        Handler handler;
        bool enabled = true;
        bool alive = true;
    };
    struct Control;
    struct Hold;
    // What a running hold kept, in order.
    struct HeldKeys {
        std::vector<x11::RawInput> keys;
        // The serial of the grab's request: key events the server sent before it reached the
        // applications.
        unsigned long since = 0;
        // A pressThrough's moment without the grab: from the request letting it go to the one
        // taking it back; the keys it pressed (X keycodes) and whether another key came then.
        unsigned long openFrom = 0;
        unsigned long openUntil = 0;
        std::vector<unsigned char> pressed;
        bool keyPassed = false;

        // Whether a key event of this serial went to the applications rather than the grab.
        [[nodiscard]] bool reachedApplications(unsigned long serial) const {
            return serial < since || (serial >= openFrom && serial < openUntil);
        }
    };
    static constexpr std::size_t maxHeldKeys = 256;
    // One of the grab's key events into what a hold kept.
    static void keep(HeldKeys& held, const x11::XEvent& event);
    // The event types whose raw events are selected only while a tap asks for them.
    static constexpr std::uint64_t pointerBits = eventMaskBit(InputEventType::mouseMoved) |
                                                 eventMaskBit(InputEventType::touchBegan);

    [[nodiscard]] bool listening() const { return !taps_->empty() || capture_ != nullptr; }
    void listen(bool on);
    void select(bool on);
    void resetState();
    void handle(x11::XEvent* event);
    void deliver(const x11::RawInput& input);
    bool isSynthetic(int device);
    void lockStateAfterKey();

    std::shared_ptr<x11::Connection> connection_;
    std::shared_ptr<x11::Keyboard> keyboard_;
    int opcode_ = 0;
    x11::RawKeyTranslator translator_;
    std::shared_ptr<std::vector<std::shared_ptr<Tap>>> taps_;
    std::map<int, bool> synthetic_;  // by source device id
    bool keysHeldBack_ = false;
    TypedRun typedRun_;
    std::function<bool(const TypedRun::View&)> runWatch_;
    std::shared_ptr<Tap> capture_;
    std::shared_ptr<HeldKeys> held_;
    Subscription events_;
    Subscription mapChanges_;
};

}  // namespace ravlin::platform
