#include "app/shell/triggers/quick_fix_double_tap_trigger.h"

#include <chrono>

#include "app/shell/triggers/double_tap_matcher.h"
#include "platform/keys.h"

namespace ravlin {

using platform::InputEvent;
using platform::InputEventType;
using platform::TapVerdict;

QNTriggerQuickFixDoubleTap::QNTriggerQuickFixDoubleTap(std::uint32_t triggerKeyCode,
                                                       std::function<void()> onFire,
                                                       platform::Seams seams,
                                                       std::shared_ptr<Executor> executor)
    : onFire_(std::move(onFire)),
      seams_(std::move(seams)),
      executor_(std::move(executor)),
      self_(std::make_shared<QNTriggerQuickFixDoubleTap*>(this)) {
    state_.triggerKeyCode = triggerKeyCode;
}

QNTriggerQuickFixDoubleTap::~QNTriggerQuickFixDoubleTap() {
    unregisterTap();
}

bool QNTriggerQuickFixDoubleTap::isKeyDown(std::uint32_t keyCode, std::uint64_t flags) {
    namespace flag = platform::eventflag;
    switch (keyCode) {
        case 54:
        case 55:
            return (flags & flag::command) != 0;
        case 56:
        case 60:
            return (flags & flag::shift) != 0;
        case 58:
        case 61:
            return (flags & flag::option) != 0;
        case 59:
        case 62:
            return (flags & flag::control) != 0;
        default:
            return true;  // Caps Lock and non-modifiers: never a release
    }
}

bool QNTriggerQuickFixDoubleTap::registerTap() {
    if (eventTap_) {
        return true;
    }
    std::weak_ptr<QNTriggerQuickFixDoubleTap*> weak = self_;
    auto tap = seams_.keyTaps->startTap(eventMask, [weak](const InputEvent& event) {
        const auto self = weak.lock();
        return self ? (*self)->handleEvent(event) : TapVerdict::pass;
    });
    if (!tap) {
        log(platform::LogLevel::error, "register: CGEvent.tapCreate returned nil");
        return false;
    }
    eventTap_ = std::move(*tap);
    eventTap_->setEnabled(true);
    std::lock_guard lock(stateLock_);
    state_.lastTapTime = 0;
    state_.isTriggerDown = false;
    return true;
}

void QNTriggerQuickFixDoubleTap::unregisterTap() {
    if (eventTap_) {
        eventTap_->setEnabled(false);
        eventTap_->stop();
        eventTap_.reset();
    }
    std::lock_guard lock(stateLock_);
    state_.lastTapTime = 0;
    state_.isTriggerDown = false;
}

void QNTriggerQuickFixDoubleTap::setTriggerKey(std::uint32_t keyCode) {
    std::lock_guard lock(stateLock_);
    state_.triggerKeyCode = keyCode;
    state_.lastTapTime = 0;
    state_.isTriggerDown = false;
}

void QNTriggerQuickFixDoubleTap::suspend() {
    std::lock_guard lock(stateLock_);
    state_.lastTapTime = 0;
    state_.isTriggerDown = false;
    state_.isSuspended = true;
}

void QNTriggerQuickFixDoubleTap::resume() {
    std::lock_guard lock(stateLock_);
    state_.isSuspended = false;
}

QNQuickFixDoubleTapMatcherState QNTriggerQuickFixDoubleTap::state() const {
    std::lock_guard lock(stateLock_);
    return state_;
}

TapVerdict QNTriggerQuickFixDoubleTap::handleEvent(const InputEvent& event) {
    switch (event.type) {
        case InputEventType::tapDisabledByTimeout:
        case InputEventType::tapDisabledByUserInput: {
            std::weak_ptr<QNTriggerQuickFixDoubleTap*> weak = self_;
            executor_->post([weak] {
                if (const auto self = weak.lock(); self && (*self)->eventTap_) {
                    (*self)->eventTap_->setEnabled(true);
                }
            });
            break;
        }
        case InputEventType::flagsChanged:
            handleFlagsChanged(event);
            break;
        default:
            break;
    }
    return TapVerdict::pass;  // modifier changes always reach the application
}

void QNTriggerQuickFixDoubleTap::handleFlagsChanged(const InputEvent& event) {
    const std::uint32_t keyCode = event.keyCode;
    const bool down = isKeyDown(keyCode, event.flags);
    const double now = event.timestamp;
    {
        std::lock_guard lock(stateLock_);
        auto& s = state_;
        if (s.isSuspended) {
            return;
        }
        if (keyCode != s.triggerKeyCode) {
            s.lastTapTime = 0;
            s.isTriggerDown = false;
            return;
        }
        if (down) {
            s.isTriggerDown = true;
            return;
        }
        if (!s.isTriggerDown) {
            return;
        }
        s.isTriggerDown = false;
        const double sinceLastTap = now - s.lastTapTime;
        if (!(s.lastTapTime > 0 && sinceLastTap >= 0 &&
              QNServiceDoubleTapMatcher::isWithin(sinceLastTap, tapWindowSeconds))) {
            s.lastTapTime = now;
            return;
        }
        s.lastTapTime = 0;
    }
    std::weak_ptr<QNTriggerQuickFixDoubleTap*> weak = self_;
    executor_->post([weak, keyCode] {
        if (const auto self = weak.lock()) {
            (*self)->log(platform::LogLevel::notice,
                         "quick fix double tap fired keyCode=" + std::to_string(keyCode));
        }
    });
    executor_->postAfter(std::chrono::milliseconds(25), [onFire = onFire_] {
        if (onFire) {
            onFire();
        }
    });
}

void QNTriggerQuickFixDoubleTap::log(platform::LogLevel level, std::string message) const {
    seams_.systemLog->write({logSubsystem, logCategory, level, std::move(message)});
}

}  // namespace ravlin
