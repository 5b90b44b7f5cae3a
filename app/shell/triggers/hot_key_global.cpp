#include "app/shell/triggers/hot_key_global.h"

namespace ravlin {

QNHotKeyGlobal::QNHotKeyGlobal(std::uint32_t keyCode, std::uint32_t modifiers,
                               std::function<void()> onPress,
                               std::shared_ptr<platform::HotKeys> hotKeys,
                               std::shared_ptr<Executor> executor)
    : keyCode(keyCode),
      modifiers(modifiers),
      onPress_(std::make_shared<const std::function<void()>>(std::move(onPress))),
      hotKeys_(std::move(hotKeys)),
      executor_(std::move(executor)) {}

QNHotKeyGlobal::~QNHotKeyGlobal() {
    unregisterKey();
}

bool QNHotKeyGlobal::registerKey() {
    if (hotKeyRef_.active()) {
        return true;
    }
    const std::weak_ptr<Executor> executor = executor_;
    auto registration = hotKeys_->registerHotKey({keyCode, modifiers & registeredModifierMask},
                                                 hotKeyID, [executor, onPress = onPress_] {
                                                     if (const auto sequence = executor.lock()) {
                                                         sequence->post([onPress] {
                                                             if (*onPress) {
                                                                 (*onPress)();
                                                             }
                                                         });
                                                     }
                                                 });
    if (!registration || !registration->active()) {
        return false;
    }
    hotKeyRef_ = std::move(*registration);
    return true;
}

void QNHotKeyGlobal::unregisterKey() {
    hotKeyRef_.reset();
}

}  // namespace ravlin
