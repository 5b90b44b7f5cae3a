#include "app/shell/triggers/hot_key_fn.h"

#include <array>
#include <utility>

#include "platform/keys.h"

namespace ravlin {
namespace {

using platform::InputEventType;

// Each modifier as an event flag and as its bit of the shortcut's mask.
constexpr std::array<std::pair<std::uint64_t, std::uint32_t>, 5> modifierCorrespondence{{
    {platform::eventflag::function, platform::modifier::function},
    {platform::eventflag::command, platform::modifier::command},
    {platform::eventflag::option, platform::modifier::option},
    {platform::eventflag::shift, platform::modifier::shift},
    {platform::eventflag::control, platform::modifier::control},
}};

}  // namespace

QNHotKeyFn::QNHotKeyFn(std::uint32_t keyCode, std::uint32_t modifiers,
                       std::function<void()> onPress, std::shared_ptr<platform::KeyTaps> keyTaps,
                       std::shared_ptr<Executor> executor)
    : keyCode(keyCode),
      modifiers(modifiers),
      onPress_(std::make_shared<const std::function<void()>>(std::move(onPress))),
      keyTaps_(std::move(keyTaps)),
      executor_(std::move(executor)) {}

QNHotKeyFn::~QNHotKeyFn() {
    unregisterKey();
}

bool QNHotKeyFn::registerKey() {
    if (eventTap_) {
        return true;
    }
    if (!keyTaps_->seesFn()) {
        return false;
    }
    auto tap = keyTaps_->startTap(
        eventMask, [this](const platform::InputEvent& event) { return handleEvent(event); });
    if (!tap) {
        return false;
    }
    eventTap_ = std::move(*tap);
    eventTap_->setEnabled(true);
    return true;
}

void QNHotKeyFn::unregisterKey() {
    if (eventTap_) {
        eventTap_->setEnabled(false);
        eventTap_->stop();
    }
    eventTap_.reset();
}

bool QNHotKeyFn::matches(const platform::InputEvent& event) const {
    if (event.keyCode != keyCode) {
        return false;
    }
    for (const auto& [flag, bit] : modifierCorrespondence) {
        if (((event.flags & flag) != 0) != ((modifiers & bit) != 0)) {
            return false;
        }
    }
    return true;
}

platform::TapVerdict QNHotKeyFn::handleEvent(const platform::InputEvent& event) {
    switch (event.type) {
        case InputEventType::tapDisabledByTimeout:
        case InputEventType::tapDisabledByUserInput:
            executor_->post([weak = std::weak_ptr(self_)] {
                if (const auto self = weak.lock(); self && (*self)->eventTap_) {
                    (*self)->eventTap_->setEnabled(true);
                }
            });
            return platform::TapVerdict::pass;
        case InputEventType::keyDown:
            if (fnIsDown_) {
                keyPressedWhileFnHeld_ = true;
            }
            if (isFunctionAlone() || !matches(event)) {
                return platform::TapVerdict::pass;
            }
            postPress();
            return platform::TapVerdict::swallow;
        case InputEventType::flagsChanged: {
            if (event.keyCode != functionKeyCode) {
                return platform::TapVerdict::pass;
            }
            if ((event.flags & platform::eventflag::function) != 0) {
                fnIsDown_ = true;
                keyPressedWhileFnHeld_ = false;
                return platform::TapVerdict::pass;
            }
            const bool releasedAlone = fnIsDown_ && !keyPressedWhileFnHeld_;
            fnIsDown_ = false;
            keyPressedWhileFnHeld_ = false;
            if (isFunctionAlone() && releasedAlone) {
                postPress();
            }
            return platform::TapVerdict::pass;
        }
        default:
            return platform::TapVerdict::pass;
    }
}

void QNHotKeyFn::postPress() {
    executor_->post([onPress = onPress_] {
        if (*onPress) {
            (*onPress)();
        }
    });
}

}  // namespace ravlin
