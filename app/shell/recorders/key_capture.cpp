#include "app/shell/recorders/key_capture.h"

#include <QApplication>

#include "app/preferences/hot_key.h"
#include "platform/key_table.h"

namespace ravlin {

using platform::InputEvent;
using platform::InputEventType;
using platform::TapVerdict;
using Delivery = QNSessionKeyCaptureDelivery;

struct QNSessionKeyCapture::Core {
    Callbacks callbacks;
    std::function<void()> beep;
    std::shared_ptr<Executor> executor;
    std::optional<platform::KeyTap> eventTap;
    Subscription localMonitor;
    std::mutex stateLock;
    QNSessionKeyCaptureState state;
    bool stopped = false;

    void perform(const std::vector<Delivery>& deliveries) {
        for (const auto& delivery : deliveries) {
            // A delivery may end the session (the recorder stops at a capture): what is left of
            // this event, and everything read before the stop, goes nowhere.
            if (stopped) {
                return;
            }
            switch (delivery.kind) {
                case Delivery::Kind::capture:
                    if (callbacks.onCapture) {
                        callbacks.onCapture(delivery.keyCode, delivery.modifiers);
                    }
                    break;
                case Delivery::Kind::modifiers:
                    if (callbacks.onModifiersChanged) {
                        callbacks.onModifiersChanged(delivery.modifiers);
                    }
                    break;
                case Delivery::Kind::cancel:
                    if (callbacks.onCancel) {
                        callbacks.onCancel();
                    }
                    break;
                case Delivery::Kind::beep:
                    if (beep) {
                        beep();
                    }
                    if (callbacks.onRefused) {
                        callbacks.onRefused(delivery.keyCode);
                    }
                    break;
                case Delivery::Kind::reenable:
                    if (eventTap) {
                        eventTap->setEnabled(true);
                    }
                    break;
            }
        }
    }

    static bool fnDown(std::uint64_t flags) { return (flags & platform::eventflag::function) != 0; }
    static bool otherDown(std::uint64_t flags) { return (flags & 0x1E0000) != 0; }

    std::vector<Delivery> rule(const InputEvent& event) {
        const std::uint32_t mask = QNConfigHotKey::carbonModifiers(event.flags);
        std::lock_guard lock(stateLock);
        if (event.type == InputEventType::flagsChanged) {
            return flagsChangedRule(state, mask, fnDown(event.flags), otherDown(event.flags));
        }
        return keyDownRule(state, event.keyCode, mask, isFunctionKey(event.keyCode));
    }
};

QNSessionKeyCapture::QNSessionKeyCapture(Callbacks callbacks, const platform::Seams& seams,
                                         std::shared_ptr<Executor> executor,
                                         std::shared_ptr<QNLocalKeyMonitor> localMonitor,
                                         std::function<void()> beep)
    : core_(std::make_shared<Core>()) {
    core_->callbacks = std::move(callbacks);
    core_->beep = beep ? std::move(beep) : [] { QApplication::beep(); };
    core_->executor = std::move(executor);

    std::weak_ptr<Core> weak = core_;
    const platform::KeyTaps::Handler onEvent = [weak](const InputEvent& event) {
        const auto core = weak.lock();
        if (!core) {
            return TapVerdict::pass;
        }
        switch (event.type) {
            case InputEventType::tapDisabledByTimeout:
            case InputEventType::tapDisabledByUserInput:
                core->executor->post([core] { core->perform({{Delivery::Kind::reenable}}); });
                return TapVerdict::pass;
            case InputEventType::flagsChanged:
                if (auto deliveries = core->rule(event); !deliveries.empty()) {
                    core->executor->post(
                        [core, deliveries = std::move(deliveries)] { core->perform(deliveries); });
                }
                return TapVerdict::pass;  // modifier changes always reach the applications
            case InputEventType::keyDown:
                core->executor->post(
                    [core, deliveries = core->rule(event)] { core->perform(deliveries); });
                return TapVerdict::swallow;
            default:
                return TapVerdict::pass;
        }
    };
    // The whole keyboard where the desktop lets us hold it: no key reaches any application while
    // recording. Else the tap, which on some desktops can only watch.
    if (auto capture = seams.keyTaps->startCapture(onEvent)) {
        core_->eventTap = std::move(*capture);
        return;
    }
    auto tap = seams.keyTaps->startTap(eventMask, onEvent);
    if (tap) {
        core_->eventTap = std::move(*tap);
        core_->eventTap->setEnabled(true);
        if (!seams.keyTaps->canSwallow() && localMonitor) {
            // The tap only watches: the keys still reach the focused window, which while
            // recording is usually ours. Keep them from our own widgets; the tap delivers them.
            core_->localMonitor = localMonitor->add(eventMask, [weak](const InputEvent& event) {
                const auto core = weak.lock();
                return core && !core->stopped && event.type == InputEventType::keyDown;
            });
        }
        return;
    }
    if (localMonitor) {
        core_->localMonitor = localMonitor->add(eventMask, [weak](const InputEvent& event) {
            const auto core = weak.lock();
            if (!core || core->stopped) {
                return false;
            }
            if (event.type != InputEventType::flagsChanged &&
                event.type != InputEventType::keyDown) {
                return false;
            }
            const auto deliveries = core->rule(event);
            core->perform(deliveries);
            if (event.type == InputEventType::keyDown) {
                return true;
            }
            for (const auto& delivery : deliveries) {
                if (delivery.kind == Delivery::Kind::capture) {
                    return true;
                }
            }
            return false;
        });
    }
}

QNSessionKeyCapture::~QNSessionKeyCapture() {
    stop();
}

void QNSessionKeyCapture::stop() {
    core_->stopped = true;
    if (core_->eventTap) {
        core_->eventTap->setEnabled(false);
        core_->eventTap->stop();
        core_->eventTap.reset();
    }
    core_->localMonitor.reset();
}

bool QNSessionKeyCapture::usesTap() const {
    return core_->eventTap.has_value();
}

bool QNSessionKeyCapture::usesLocalMonitor() const {
    return core_->localMonitor.active();
}

bool QNSessionKeyCapture::isFunctionKey(std::uint32_t keyCode) {
    return platform::keytable::isFunctionKey(keyCode);
}

std::vector<Delivery> QNSessionKeyCapture::keyDownRule(QNSessionKeyCaptureState& state,
                                                       std::uint32_t keyCode, std::uint32_t mask,
                                                       bool isFunctionKey) {
    if (state.fnIsDown) {
        state.keyPressedDuringFn = true;
    }
    if (keyCode == escapeKeyCode) {
        return {{Delivery::Kind::cancel}};
    }
    if (mask == 0 && !isFunctionKey) {
        return {{Delivery::Kind::beep, keyCode, 0}};
    }
    return {{Delivery::Kind::capture, keyCode, mask}};
}

std::vector<Delivery> QNSessionKeyCapture::flagsChangedRule(QNSessionKeyCaptureState& state,
                                                            std::uint32_t mask, bool fnDown,
                                                            bool otherDown) {
    std::vector<Delivery> deliveries;
    if (mask != state.lastModifierBitmap) {
        state.lastModifierBitmap = mask;
        deliveries.push_back({Delivery::Kind::modifiers, 0, mask});
    }
    if (fnDown) {
        if (!state.fnIsDown) {
            state.fnIsDown = true;
            state.keyPressedDuringFn = false;
        }
    } else if (state.fnIsDown) {
        const bool keyPressed = state.keyPressedDuringFn;
        state.fnIsDown = false;
        state.keyPressedDuringFn = false;
        if (!otherDown && !keyPressed) {
            deliveries.push_back(
                {Delivery::Kind::capture, fnKeyCode, platform::modifier::function});
        }
    }
    return deliveries;
}

}  // namespace ravlin
