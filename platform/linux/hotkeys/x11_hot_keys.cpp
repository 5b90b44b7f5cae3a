#include "platform/linux/hotkeys/x11_hot_keys.h"

#include <QTimer>
#include <algorithm>
#include <array>

#include <X11/XKBlib.h>

#include "platform/linux/keys/keycodes.h"
#include "platform/linux/x11/error_trap.h"
#include "platform/linux/x11/modifier_map.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform {
namespace {

// The eight X modifier bits; the rest of a key event's state is pointer buttons and the group.
constexpr unsigned modifierBits = 0xFF;

}  // namespace

X11HotKeys::X11HotKeys(std::shared_ptr<x11::Connection> connection)
    : connection_(std::move(connection)),
      grabs_(std::make_shared<std::map<std::uint64_t, Grab>>()) {
    // Without it a held key sends release/press pairs and every repeat would look like a press.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(connection_->display(), True, &supported);
    connection_->drainSoon();
    events_ = connection_->observeEvents([this](x11::XEvent* event) { handle(event); });
}

X11HotKeys::~X11HotKeys() {
    releaseWatch_.reset();
    events_.reset();
    for (const auto& [number, grab] : *grabs_) {
        ungrab(grab);
    }
    grabs_->clear();
    connection_->sync();
}

Expected<Subscription> X11HotKeys::registerHotKey(KeyChord chord, std::uint32_t /*id*/,
                                                  std::function<void()> onPress) {
    if ((chord.modifiers & modifier::function) != 0) {
        return Expected<Subscription>::failure(ErrorCode::notSupported, "X11 has no Fn key");
    }
    const auto key = keycodes::xKeyCode(chord.keyCode);
    if (!key) {
        return Expected<Subscription>::failure(ErrorCode::notSupported, "no X key for this key");
    }
    auto* display = connection_->display();
    const auto map = x11::ModifierMap::read(display);
    connection_->drainSoon();
    Grab grab;
    grab.keyCode = *key;
    grab.onPress = std::make_shared<std::function<void()>>(std::move(onPress));
    const std::pair<std::uint32_t, unsigned> wanted[] = {
        {modifier::command, map.super},
        {modifier::option, map.alt},
        {modifier::control, ControlMask},
        {modifier::shift, ShiftMask},
    };
    for (const auto& [carbon, bit] : wanted) {
        if ((chord.modifiers & carbon) == 0) {
            continue;
        }
        if (bit == 0) {
            return Expected<Subscription>::failure(ErrorCode::notSupported,
                                                   "the keyboard has no such modifier");
        }
        grab.modifiers |= bit;
    }
    // Every combination of the lock bits the server has.
    std::vector<unsigned> locks{LockMask};
    for (const unsigned lock : {map.numLock, map.scrollLock}) {
        if (lock != 0 && (lock & (grab.modifiers | LockMask)) == 0) {
            locks.push_back(lock);
        }
    }
    for (std::size_t subset = 0; subset < (std::size_t{1} << locks.size()); ++subset) {
        unsigned variant = grab.modifiers;
        for (std::size_t index = 0; index < locks.size(); ++index) {
            if ((subset & (std::size_t{1} << index)) != 0) {
                variant |= locks[index];
                grab.locks |= locks[index];
            }
        }
        grab.variants.push_back(variant);
    }
    x11::ErrorTrap trap(*connection_);
    for (const unsigned variant : grab.variants) {
        XGrabKey(display, static_cast<int>(grab.keyCode), variant, connection_->root(), False,
                 GrabModeAsync, GrabModeAsync);
    }
    if (const int error = trap.finish(); error != 0) {
        // Ungrabbing a variant another client holds leaves theirs alone.
        ungrab(grab);
        connection_->sync();
        return Expected<Subscription>::failure(
            ErrorCode::failed,
            error == BadAccess ? "another program holds this shortcut" : "the grab was refused");
    }
    const auto number = nextNumber_++;
    grabs_->emplace(number, std::move(grab));
    std::weak_ptr<std::map<std::uint64_t, Grab>> weakGrabs = grabs_;
    std::weak_ptr<x11::Connection> weakConnection = connection_;
    return Subscription([this, weakGrabs, weakConnection, number] {
        auto grabs = weakGrabs.lock();
        auto connection = weakConnection.lock();
        if (!grabs || !connection) {
            return;
        }
        if (const auto found = grabs->find(number); found != grabs->end()) {
            ungrab(found->second);
            grabs->erase(found);
            connection->sync();
        }
    });
}

bool X11HotKeys::isHeld() const {
    return std::ranges::any_of(*grabs_, [](const auto& entry) { return entry.second.held; });
}

void X11HotKeys::ungrab(const Grab& grab) {
    for (const unsigned variant : grab.variants) {
        XUngrabKey(connection_->display(), static_cast<int>(grab.keyCode), variant,
                   connection_->root());
    }
}

void X11HotKeys::releaseKeyboard() {
    if (connection_->keyboardCaptured()) {
        return;
    }
    XUngrabKeyboard(connection_->display(), CurrentTime);
    XFlush(connection_->display());
}

void X11HotKeys::watchRelease() {
    heldSince_ = std::chrono::steady_clock::now();
    if (!releaseWatch_) {
        releaseWatch_ = std::make_unique<QTimer>();
        releaseWatch_->setInterval(releasePollInterval);
        QObject::connect(releaseWatch_.get(), &QTimer::timeout, [this] { checkRelease(); });
    }
    releaseWatch_->start();
}

void X11HotKeys::checkRelease() {
    std::array<char, 32> keys{};
    XQueryKeymap(connection_->display(), keys.data());
    connection_->drainSoon();
    const bool overdue = std::chrono::steady_clock::now() - heldSince_ > releasePollLimit;
    bool anyHeld = false;
    for (auto& [number, grab] : *grabs_) {
        const bool down = grab.keyCode < 256 &&
                          (static_cast<unsigned char>(keys[grab.keyCode / 8]) &
                           (1U << (grab.keyCode % 8))) != 0;
        grab.held = grab.held && down && !overdue;
        anyHeld = anyHeld || grab.held;
    }
    if (!anyHeld) {
        releaseWatch_->stop();
    }
}

void X11HotKeys::handle(x11::XEvent* event) {
    if (event->type != KeyPress && event->type != KeyRelease) {
        return;
    }
    const auto& key = event->xkey;
    // While this program holds the whole keyboard (a capture, a hold), its keys are the
    // grab's: no passive grab of ours took them.
    if (key.window != connection_->root() || connection_->keyboardCaptured()) {
        return;
    }
    for (auto& [number, grab] : *grabs_) {
        if (grab.keyCode != key.keycode) {
            continue;
        }
        if (event->type == KeyRelease) {
            grab.held = false;
            continue;
        }
        if ((key.state & modifierBits & ~grab.locks) != grab.modifiers) {
            continue;
        }
        // A second press without a release between is the key repeating: dropped, and the
        // keyboard given back again.
        if (grab.held) {
            releaseKeyboard();
            return;
        }
        grab.held = true;
        releaseKeyboard();
        watchRelease();
        const auto onPress = grab.onPress;  // the callback may unregister
        (*onPress)();
        return;
    }
}

}  // namespace ravlin::platform
