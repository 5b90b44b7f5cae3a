#include "platform/linux/taps/x11_key_taps.h"

#include <X11/extensions/XInput2.h>

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/linux/keys/xtest_key_synthesis.h"
#include "platform/linux/taps/local_key_monitor.h"
#include "platform/linux/x11/modifier_map.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform {

struct X11KeyTaps::Control final : KeyTap::Control {
    explicit Control(std::shared_ptr<Tap> tap) : tap(std::move(tap)) {}
    void setEnabled(bool enabled) override { tap->enabled = enabled; }
    [[nodiscard]] bool isEnabled() const override { return tap->enabled; }
    std::shared_ptr<Tap> tap;
};

X11KeyTaps::X11KeyTaps(std::shared_ptr<x11::Connection> connection,
                       std::shared_ptr<x11::Keyboard> keyboard)
    : connection_(std::move(connection)),
      keyboard_(std::move(keyboard)),
      taps_(std::make_shared<std::vector<std::shared_ptr<Tap>>>()) {
    auto* display = connection_->display();
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (XQueryExtension(display, "XInputExtension", &opcode, &event, &error) != 0 &&
        XIQueryVersion(display, &major, &minor) == Success &&
        (major > 2 || (major == 2 && minor >= 2))) {
        opcode_ = opcode;
    }
    connection_->drainSoon();
    if (!available()) {
        return;
    }
    events_ = connection_->observeEvents([this](x11::XEvent* event) { handle(event); });
    if (keyboard_) {
        mapChanges_ = keyboard_->observeMapChanges([this] {
            translator_.setModifierMap(x11::ModifierMap::read(connection_->display()));
            translator_.setKeymap(keyboard_->snapshot());
            connection_->drainSoon();
        });
    }
}

X11KeyTaps::~X11KeyTaps() {
    events_.reset();
    mapChanges_.reset();
    if (capture_) {
        XUngrabKeyboard(connection_->display(), CurrentTime);
        connection_->setKeyboardCaptured(false);
    }
    if (listening()) {
        select(false);
    }
}

Expected<KeyTap> X11KeyTaps::startTap(std::uint64_t mask, Handler handler) {
    if (!available()) {
        return Expected<KeyTap>::failure(ErrorCode::unavailable, "the X server lacks XInput 2.2");
    }
    if (!handler) {
        return Expected<KeyTap>::failure(ErrorCode::invalidArgument, "a tap needs a handler");
    }
    const bool wasListening = listening();
    auto tap = std::make_shared<Tap>(Tap{mask, std::move(handler)});
    taps_->push_back(tap);
    if (!wasListening) {
        listen(true);
    } else if ((mask & pointerBits) != 0) {
        select(true);
    }
    std::weak_ptr<std::vector<std::shared_ptr<Tap>>> weakTaps = taps_;
    std::weak_ptr<x11::Connection> weakConnection = connection_;
    Subscription subscription([this, weakTaps, weakConnection, tap] {
        tap->alive = false;
        const auto taps = weakTaps.lock();
        if (!taps || !weakConnection.lock()) {
            return;
        }
        std::erase(*taps, tap);
        if (!listening()) {
            listen(false);
        } else if ((tap->mask & pointerBits) != 0) {
            select(true);
        }
    });
    return KeyTap(std::move(subscription), std::make_shared<Control>(tap));
}

Expected<KeyTap> X11KeyTaps::startCapture(Handler handler) {
    if (!available()) {
        return Expected<KeyTap>::failure(ErrorCode::unavailable, "the X server lacks XInput 2.2");
    }
    if (!handler) {
        return Expected<KeyTap>::failure(ErrorCode::invalidArgument, "a capture needs a handler");
    }
    if (capture_) {
        return Expected<KeyTap>::failure(ErrorCode::failed, "a capture runs already");
    }
    auto* display = connection_->display();
    const int status = XGrabKeyboard(display, connection_->root(), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime);
    connection_->drainSoon();
    if (status != GrabSuccess) {
        return Expected<KeyTap>::failure(
            ErrorCode::failed, status == AlreadyGrabbed ? "another client holds the keyboard"
                                                        : "the keyboard cannot be grabbed now");
    }
    connection_->setKeyboardCaptured(true);
    if (!listening()) {
        listen(true);
    }
    auto capture = std::make_shared<Tap>(Tap{~std::uint64_t{0}, std::move(handler)});
    capture_ = capture;
    std::weak_ptr<std::vector<std::shared_ptr<Tap>>> alive = taps_;  // ends with this
    std::weak_ptr<x11::Connection> weakConnection = connection_;
    Subscription subscription([this, alive, weakConnection, capture] {
        capture->alive = false;
        const auto connection = weakConnection.lock();
        if (!alive.lock() || !connection || capture_ != capture) {
            return;
        }
        capture_.reset();
        XUngrabKeyboard(connection->display(), CurrentTime);
        connection->setKeyboardCaptured(false);
        if (!listening()) {
            listen(false);
        } else {
            connection->sync();
        }
    });
    return KeyTap(std::move(subscription), std::make_shared<Control>(capture));
}

void X11KeyTaps::keep(HeldKeys& held, const x11::XEvent& event) {
    // Bounded: a key held down repeats.
    if (held.keys.size() < maxHeldKeys) {
        x11::RawInput input;
        input.kind = event.type == KeyPress ? x11::RawInput::Kind::keyPress
                                            : x11::RawInput::Kind::keyRelease;
        input.detail = event.xkey.keycode;
        input.time = event.xkey.time;
        held.keys.push_back(input);
    }
}

struct X11KeyTaps::Hold final : KeyHold {
    ~Hold() override {
        const bool replay = !released;
        end();
        if (!replay) {
            return;
        }
        auto* display = connection->display();
        std::array<bool, 256> pressed{};
        for (const auto& key : held->keys) {
            const bool press = key.kind == x11::RawInput::Kind::keyPress;
            if (key.detail >= pressed.size() || (!press && !pressed[key.detail])) {
                continue;  // the release of a key pressed before the hold: its press went out
            }
            pressed[key.detail] = press;
            XTestFakeKeyEvent(display, key.detail, press ? True : False, CurrentTime);
        }
        connection->sync();
    }
    std::vector<InputEvent> release() override {
        std::vector<InputEvent> events;
        if (released) {
            return events;
        }
        end();
        released = true;
        const auto taps = alive.lock() ? owner : nullptr;
        for (const auto& key : held->keys) {
            auto translated = taps ? taps->translator_.translate(key) : std::nullopt;
            if (translated) {
                translated->characters = translated->typed();
                translated->characterSource = nullptr;
                events.push_back(std::move(*translated));
            }
        }
        return events;
    }
    PressedThrough pressThrough(KeyChord chord, int times) override {
        if (ended) {
            return {};
        }
        auto* display = connection->display();
        std::vector<unsigned char> keys;
        for (const auto keysym : modifierKeysyms(chord.modifiers)) {
            if (const KeyCode code = XKeysymToKeycode(display, keysym); code != 0) {
                keys.push_back(code);
            }
        }
        const auto keysym = keysymForKeyCode(chord.keyCode);
        const KeyCode key = keysym ? XKeysymToKeycode(display, *keysym) : 0;
        if (key == 0) {
            end();
            return {};
        }
        keys.push_back(key);
        // One burst, no round trip inside it: the server takes the requests one after the other
        // and another client's between them only if it stops reading ours.
        held->openFrom = NextRequest(display);
        XUngrabKeyboard(display, CurrentTime);
        auto& own = connection->ownKeyEvents();
        for (int i = 0; i < times; ++i) {
            for (const auto code : keys) {
                own.sent(code, true);
                XTestFakeKeyEvent(display, code, True, CurrentTime);
            }
            for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
                own.sent(*it, false);
                XTestFakeKeyEvent(display, *it, False, CurrentTime);
            }
        }
        held->pressed = keys;
        held->openUntil = NextRequest(display);
        return takenBack(grabAgain(), true);
    }
    PressedThrough postThrough(const std::function<bool()>& post) override {
        if (ended) {
            return {};
        }
        auto* display = connection->display();
        held->pressed.clear();
        // The keyboard is let go of only around the key events themselves: a text typed through
        // spare keys waits for the server to bind them first, and a key of the person's pressed
        // while it waits would reach the application.
        bool grabbedBack = true;
        connection->openForOwnKeys = [&] {
            held->openFrom = NextRequest(display);
            XUngrabKeyboard(display, CurrentTime);
        };
        connection->closeAfterOwnKeys = [&] {
            held->openUntil = NextRequest(display);
            grabbedBack = grabAgain();
        };
        const bool posted = post();
        connection->openForOwnKeys = nullptr;
        connection->closeAfterOwnKeys = nullptr;
        return takenBack(grabbedBack, posted);
    }
    bool grabAgain() {
        return XGrabKeyboard(connection->display(), connection->root(), False, GrabModeAsync,
                             GrabModeAsync, CurrentTime) == GrabSuccess;
    }
    // After keys of ours went through: where the keyboard could not be taken back (`grabbed`),
    // the hold has ended.
    PressedThrough takenBack(bool grabbed, bool posted) {
        if (!grabbed) {
            end();
            return {.posted = posted};
        }
        // The moment's events are read by now (they came before the grab's answer).
        if (alive.lock()) {
            (void)connection->catchUp();
        }
        connection->drainSoon();
        return {.posted = posted, .keyPassed = held->keyPassed};
    }
    void end() {
        if (ended) {
            return;
        }
        ended = true;
        auto* display = connection->display();
        XUngrabKeyboard(display, CurrentTime);
        connection->setKeyboardCaptured(false);
        // Every key event the server sent the grab is read by the sync's answer; the ones the loop
        // has not handed over yet are the hold's too (a key pressed just before the end would
        // otherwise reach no one). They are taken out of the queue: nothing else comes to this
        // connection as a core key event.
        connection->sync();
        XEvent event{};
        while (XCheckIfEvent(display, &event, &isKeyEvent, nullptr) != 0) {
            keep(*held, event);
        }
        if (alive.lock() && owner->held_ == held) {
            owner->held_.reset();
        }
    }
    static Bool isKeyEvent(Display*, XEvent* event, XPointer) {
        return event->type == KeyPress || event->type == KeyRelease ? True : False;
    }
    X11KeyTaps* owner = nullptr;
    std::weak_ptr<std::vector<std::shared_ptr<Tap>>> alive;  // ends with the taps
    std::shared_ptr<x11::Connection> connection;
    std::shared_ptr<HeldKeys> held;
    bool ended = false;
    bool released = false;
};

std::unique_ptr<KeyHold> X11KeyTaps::holdKeys() {
    if (capture_ || held_ || connection_->keyboardCaptured()) {
        return nullptr;
    }
    auto* display = connection_->display();
    const unsigned long since = NextRequest(display);
    const int status = XGrabKeyboard(display, connection_->root(), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime);
    connection_->drainSoon();
    if (status != GrabSuccess) {
        return nullptr;
    }
    connection_->setKeyboardCaptured(true);
    held_ = std::make_shared<HeldKeys>();
    held_->since = since;
    auto hold = std::make_unique<Hold>();
    hold->owner = this;
    hold->alive = taps_;
    hold->connection = connection_;
    hold->held = held_;
    return hold;
}

Expected<KeyTap> X11KeyTaps::startLocalMonitor(Handler handler) {
    auto map =
        std::make_shared<const x11::ModifierMap>(x11::ModifierMap::read(connection_->display()));
    connection_->drainSoon();
    return x11::startLocalKeyMonitor(std::move(map), std::move(handler));
}

void X11KeyTaps::listen(bool on) {
    if (on) {
        resetState();
    }
    typedRun_.forget();
    select(on);
    // Our own keys are known by their coming back only while the raw events are watched.
    connection_->ownKeyEvents().setWatched(on);
}

void X11KeyTaps::select(bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    if (on) {
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XISetMask(bits, XI_RawButtonPress);
        // The pointer's motion and touches only while a tap asks for them: the pointer moves far
        // more often than a key goes down.
        std::uint64_t wanted = 0;
        for (const auto& tap : *taps_) {
            wanted |= tap->mask;
        }
        if ((wanted & eventMaskBit(InputEventType::mouseMoved)) != 0) {
            XISetMask(bits, XI_RawMotion);
        }
        if ((wanted & eventMaskBit(InputEventType::touchBegan)) != 0) {
            // (the server takes a touch's three events only together)
            XISetMask(bits, XI_RawTouchBegin);
            XISetMask(bits, XI_RawTouchUpdate);
            XISetMask(bits, XI_RawTouchEnd);
        }
    }
    XISelectEvents(connection_->display(), connection_->root(), &mask, 1);
    // Device changes, to forget which ids were XTest's (selected on every device).
    unsigned char hierarchyBits[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask hierarchy{XIAllDevices, sizeof hierarchyBits, hierarchyBits};
    if (on) {
        XISetMask(hierarchyBits, XI_HierarchyChanged);
    }
    XISelectEvents(connection_->display(), connection_->root(), &hierarchy, 1);
    connection_->sync();
}

void X11KeyTaps::resetState() {
    auto* display = connection_->display();
    translator_.setModifierMap(x11::ModifierMap::read(display));
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    translator_.setPressedKeys(keys);
    if (keyboard_) {
        keyboard_->readState();
        translator_.setLockedModifiers(keyboard_->lockedModifiers());
        translator_.setGroup(keyboard_->group());
        translator_.setKeymap(keyboard_->snapshot());
    }
    synthetic_.clear();
    connection_->drainSoon();
}

bool X11KeyTaps::isSynthetic(int device) {
    if (const auto found = synthetic_.find(device); found != synthetic_.end()) {
        return found->second;
    }
    int count = 0;
    bool synthetic = false;
    if (XIDeviceInfo* info = XIQueryDevice(connection_->display(), device, &count)) {
        synthetic = count > 0 && info[0].name != nullptr && std::strstr(info[0].name, "XTEST");
        XIFreeDeviceInfo(info);
    }
    connection_->drainSoon();
    // Device ids are bytes: the cache stays small even if ids come and go.
    if (synthetic_.size() < 256) {
        synthetic_.emplace(device, synthetic);
    }
    return synthetic;
}

namespace {

// Looks through Xlib's queue, in order and removing nothing, for the XKB state notification
// that follows a raw key event, up to the next raw key event.
struct StateAfterKey {
    int xkbBase = 0;
    int inputOpcode = 0;
    bool ended = false;  // a later raw key event came first
    bool found = false;
    unsigned locked = 0;
    unsigned group = 0;

    static Bool look(Display*, XEvent* event, XPointer argument) {
        auto& self = *reinterpret_cast<StateAfterKey*>(argument);
        if (self.ended || self.found) {
            return False;
        }
        if (event->type == self.xkbBase) {
            const auto* xkb = reinterpret_cast<const XkbEvent*>(event);
            if (xkb->any.xkb_type == XkbStateNotify) {
                self.found = true;
                self.locked = xkb->state.locked_mods;
                self.group = static_cast<unsigned>(xkb->state.group);
            }
        } else if (event->xcookie.type == GenericEvent &&
                   event->xcookie.extension == self.inputOpcode &&
                   (event->xcookie.evtype == XI_RawKeyPress ||
                    event->xcookie.evtype == XI_RawKeyRelease)) {
            self.ended = true;
        }
        return False;
    }
};

}  // namespace

void X11KeyTaps::lockStateAfterKey() {
    // Raw events leave the server before the key reaches XKB: the lock the key takes or releases
    // is told by the state notification behind it, not by asking now (later keys may have
    // changed it again by the time the question arrives).
    auto* display = connection_->display();
    StateAfterKey scan{keyboard_->eventBase(), opcode_};
    XEvent unused{};
    XCheckIfEvent(display, &unused, &StateAfterKey::look, reinterpret_cast<XPointer>(&scan));
    if (!scan.found && !scan.ended) {
        // Not read yet: whatever the server has sent by now arrives with a sync.
        XSync(display, False);
        connection_->drainSoon();
        scan = StateAfterKey{keyboard_->eventBase(), opcode_};
        XCheckIfEvent(display, &unused, &StateAfterKey::look, reinterpret_cast<XPointer>(&scan));
    }
    if (scan.found) {
        translator_.setLockedModifiers(scan.locked);
        translator_.setGroup(scan.group);
    }
}

std::size_t X11KeyTaps::keyPressesWaiting() {
    auto* display = connection_->display();
    (void)XEventsQueued(display, QueuedAfterReading);
    struct Count {
        int opcode = 0;
        std::size_t presses = 0;
        static Bool look(Display*, XEvent* event, XPointer data) {
            auto* count = reinterpret_cast<Count*>(data);
            const auto& cookie = event->xcookie;
            count->presses += cookie.type == GenericEvent && cookie.extension == count->opcode &&
                              cookie.evtype == XI_RawKeyPress;
            return False;  // (each one left in the queue)
        }
    } count{opcode_};
    XEvent unused{};
    XCheckIfEvent(display, &unused, &Count::look, reinterpret_cast<XPointer>(&count));
    return count.presses;
}

void X11KeyTaps::handle(x11::XEvent* event) {
    if (held_ && (event->type == KeyPress || event->type == KeyRelease)) {
        keep(*held_, *event);  // the hold's grab: kept for its holder
        return;
    }
    if (capture_ && (event->type == KeyPress || event->type == KeyRelease)) {
        // The grab's own key events: the server sends the grabbing client no raw ones.
        x11::RawInput input;
        input.kind = event->type == KeyPress ? x11::RawInput::Kind::keyPress
                                             : x11::RawInput::Kind::keyRelease;
        input.detail = event->xkey.keycode;
        input.time = event->xkey.time;
        deliver(input);
        return;
    }
    const auto& cookie = event->xcookie;
    if (cookie.type != GenericEvent || cookie.extension != opcode_ || cookie.data == nullptr ||
        !listening()) {
        return;
    }
    if (cookie.evtype == XI_HierarchyChanged) {
        synthetic_.clear();
        return;
    }
    x11::RawInput input;
    switch (cookie.evtype) {
        case XI_RawKeyPress:
            input.kind = x11::RawInput::Kind::keyPress;
            break;
        case XI_RawKeyRelease:
            input.kind = x11::RawInput::Kind::keyRelease;
            break;
        case XI_RawButtonPress:
            input.kind = x11::RawInput::Kind::buttonPress;
            break;
        case XI_RawMotion:
            input.kind = x11::RawInput::Kind::motion;
            break;
        case XI_RawTouchBegin:
            input.kind = x11::RawInput::Kind::touchBegin;
            break;
        default:
            return;
    }
    const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
    input.detail = static_cast<unsigned>(raw->detail);
    input.time = raw->time;
    input.repeat = (raw->flags & XIKeyRepeat) != 0;
    const bool key = input.kind == x11::RawInput::Kind::keyPress ||
                     input.kind == x11::RawInput::Kind::keyRelease;
    input.synthetic = isSynthetic(raw->sourceid);
    if (key && input.synthetic) {
        // (seen during a grab too, or the keys of ours after it would be taken for others')
        input.own = connection_->ownKeyEvents().take(
            input.detail, input.kind == x11::RawInput::Kind::keyPress);
    }
    if (key && (capture_ || (held_ && !held_->reachedApplications(cookie.serial)))) {
        return;  // keys come from the grab while it is held
    }
    if (key && held_ && cookie.serial >= held_->openFrom && cookie.serial < held_->openUntil &&
        !input.own &&
        !(input.synthetic && std::ranges::find(held_->pressed, input.detail) !=
                                 held_->pressed.end())) {
        held_->keyPassed = true;
    }
    deliver(input);
}

void X11KeyTaps::deliver(const x11::RawInput& input) {
    if (keyboard_) {
        translator_.setLockedModifiers(keyboard_->lockedModifiers());
        translator_.setGroup(keyboard_->group());
        if ((input.kind == x11::RawInput::Kind::keyPress ||
             input.kind == x11::RawInput::Kind::keyRelease) &&
            translator_.locksModifiers(input.detail)) {
            lockStateAfterKey();
        }
    }
    const auto translated = translator_.translate(input);
    if (!translated) {
        return;
    }
    const bool key =
        translated->type == InputEventType::keyDown || translated->type == InputEventType::keyUp;
    if (const auto capture = capture_;
        capture && (key || translated->type == InputEventType::flagsChanged)) {
        if (capture->alive && capture->enabled) {
            (void)capture->handler(*translated);
        }
        return;  // the capture's alone
    }
    if (keysHeldBack_ && key) {
        return;
    }
    if (typedRun_.take(*translated) && runWatch_ && !runWatch_(typedRun_.view())) {
        typedRun_.withhold();
    }
    const auto bit = eventMaskBit(translated->type);
    const auto taps = *taps_;  // a handler may stop taps
    for (const auto& tap : taps) {
        if (tap->alive && tap->enabled && (tap->mask & bit) != 0) {
            (void)tap->handler(*translated);
        }
    }
}

}  // namespace ravlin::platform
