#include "platform/linux/taps/local_key_monitor.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

namespace {
// Named before Xlib's macros of the same names arrive.
constexpr auto qtKeyPress = QEvent::KeyPress;
constexpr auto qtKeyRelease = QEvent::KeyRelease;
}  // namespace

#include "platform/linux/keys/keycodes.h"
#include "platform/linux/taps/raw_key_translator.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform::x11 {

InputEvent LocalKeyTranslator::translate(unsigned xKeyCode, unsigned state, bool press, bool repeat,
                                         unsigned long time) {
    InputEvent event;
    const unsigned key = xKeyCode & 0xFF;
    event.keyCode = keycodes::fromXKeyCode(key);
    event.timestamp = static_cast<double>(time == 0 ? 1 : time) / 1000.0;
    const unsigned mask = map_->keyMask[key];
    const unsigned flagBits =
        ShiftMask | LockMask | ControlMask | map_->alt | map_->levelThree | map_->super;
    const bool modifier = (mask & flagBits) != 0;
    if ((mask & LockMask) != 0) {
        // Caps Lock locks on its press and unlocks on the release of the press that found it
        // locked.
        if (press) {
            capsLockedAtPress_ = (state & LockMask) != 0;
            state |= LockMask;
        } else if (capsLockedAtPress_) {
            state &= ~unsigned{LockMask};
        }
    } else if (modifier) {
        state = press ? state | mask : state & ~mask;
    }
    event.flags = map_->flagsOf(state);
    if ((state & LockMask) != 0) {
        event.flags |= eventflag::capsLock;
    }
    if (modifier) {
        event.type = InputEventType::flagsChanged;
    } else {
        event.type = press ? InputEventType::keyDown : InputEventType::keyUp;
        event.isRepeat = press && repeat;
        if (keycodes::isKeypadOrArrow(event.keyCode)) {
            event.flags |= eventflag::numericPad;
        }
    }
    event.modifiers = carbonModifiers(event.flags);
    return event;
}

namespace {

class Filter final : public QObject {
  public:
    Filter(std::shared_ptr<const ModifierMap> map, KeyTaps::Handler handler)
        : translator_(std::move(map)), handler_(std::move(handler)) {}

    bool enabled = true;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        // A widget's key comes through its window first: seen there once, kept from both.
        if ((type != qtKeyPress && type != qtKeyRelease) || !enabled || !watched->isWindowType()) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool press = type == qtKeyPress;
        auto translated = translator_.translate(key->nativeScanCode(), key->nativeModifiers(),
                                                press, key->isAutoRepeat(), key->timestamp());
        if (press && translated.type == InputEventType::keyDown) {
            translated.characters = key->text().toStdU16String();
        }
        return handler_(translated) == TapVerdict::swallow;
    }

  private:
    LocalKeyTranslator translator_;
    KeyTaps::Handler handler_;
};

struct FilterControl final : KeyTap::Control {
    explicit FilterControl(QPointer<Filter> filter) : filter(std::move(filter)) {}
    void setEnabled(bool enabled) override {
        if (filter) {
            filter->enabled = enabled;
        }
    }
    [[nodiscard]] bool isEnabled() const override { return filter && filter->enabled; }
    QPointer<Filter> filter;
};

}  // namespace

Expected<KeyTap> startLocalKeyMonitor(std::shared_ptr<const ModifierMap> map,
                                      KeyTaps::Handler handler) {
    auto* application = QCoreApplication::instance();
    if (application == nullptr || !map) {
        return Expected<KeyTap>::failure(ErrorCode::unavailable, "no application to watch");
    }
    if (!handler) {
        return Expected<KeyTap>::failure(ErrorCode::invalidArgument, "a monitor needs a handler");
    }
    QPointer<Filter> filter = new Filter(std::move(map), std::move(handler));
    filter->setParent(application);
    application->installEventFilter(filter);
    Subscription subscription([filter] {
        // Not deleted at once: the handler itself may stop the monitor.
        if (filter) {
            filter->enabled = false;
            if (auto* application = QCoreApplication::instance()) {
                application->removeEventFilter(filter);
            }
            filter->deleteLater();
        }
    });
    return KeyTap(std::move(subscription), std::make_shared<FilterControl>(filter));
}

}  // namespace ravlin::platform::x11
