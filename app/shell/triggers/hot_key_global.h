#pragma once

// The Composer shortcut as a system-wide hot key (any shortcut without the Fn flag). Only the
// four modifiers command, shift, option and control take part; every other bit is dropped. A
// press reaches `onPress` through a task on the main sequence, after the desktop's callback has
// returned; the task keeps the press closure alive until it runs.

#include <cstdint>
#include <functional>
#include <memory>

#include "app/shell/triggers/hot_key.h"
#include "core/support/executor.h"
#include "core/support/subscription.h"
#include "platform/hot_keys.h"

namespace ravlin {

class QNHotKeyGlobal final : public QNHandleHotKey {
  public:
    // The identifier every instance registers under: signature "RVLn", id 1.
    static constexpr std::uint32_t hotKeySignature = (std::uint32_t{'R'} << 24) |
                                                     (std::uint32_t{'V'} << 16) |
                                                     (std::uint32_t{'L'} << 8) | std::uint32_t{'n'};
    static constexpr std::uint32_t hotKeyID = 1;
    // Command, shift, option and control.
    static constexpr std::uint32_t registeredModifierMask = 0x1B00;

    QNHotKeyGlobal(std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> onPress,
                   std::shared_ptr<platform::HotKeys> hotKeys, std::shared_ptr<Executor> executor);
    ~QNHotKeyGlobal() override;
    QNHotKeyGlobal(const QNHotKeyGlobal&) = delete;
    QNHotKeyGlobal& operator=(const QNHotKeyGlobal&) = delete;

    bool registerKey() override;
    void unregisterKey() override;
    [[nodiscard]] bool isFunctionKeyHotKey() const override { return false; }
    [[nodiscard]] bool isRegistered() const { return hotKeyRef_.active(); }

    const std::uint32_t keyCode;
    const std::uint32_t modifiers;

  private:
    std::shared_ptr<const std::function<void()>> onPress_;
    std::shared_ptr<platform::HotKeys> hotKeys_;
    std::shared_ptr<Executor> executor_;
    Subscription hotKeyRef_;
};

}  // namespace ravlin
