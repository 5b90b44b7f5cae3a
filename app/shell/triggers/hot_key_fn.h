#pragma once

// The Composer shortcut when it holds the Fn flag, watched through a key tap: Fn pressed and
// released alone (key code 63, modifiers exactly the Fn flag) fires on the release when no key
// went down meanwhile; Fn with other modifiers and a key fires on the matching key down, which
// the tap swallows (key repeats fire again). A tap the desktop disabled is enabled again from a
// posted task. Presses reach `onPress` through posted tasks, never from inside the tap.
//
// Where the desktop's taps never see the Fn key (X11), registering fails at once and installs
// nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/shell/triggers/hot_key.h"
#include "core/support/executor.h"
#include "platform/key_taps.h"

namespace ravlin {

class QNHotKeyFn final : public QNHandleHotKey {
  public:
    // Key down and flags changed.
    static constexpr std::uint64_t eventMask = 0x1400;
    static constexpr std::uint32_t functionKeyCode = 63;
    static constexpr std::uint32_t functionModifier = 0x800000;

    QNHotKeyFn(std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> onPress,
               std::shared_ptr<platform::KeyTaps> keyTaps, std::shared_ptr<Executor> executor);
    ~QNHotKeyFn() override;
    QNHotKeyFn(const QNHotKeyFn&) = delete;
    QNHotKeyFn& operator=(const QNHotKeyFn&) = delete;

    bool registerKey() override;
    void unregisterKey() override;
    [[nodiscard]] bool isFunctionKeyHotKey() const override { return true; }
    [[nodiscard]] bool isRegistered() const { return eventTap_.has_value(); }

    // Whether a key event is the shortcut: the key code, and each of Fn, command, option, shift
    // and control present in the flags exactly when the shortcut has it.
    [[nodiscard]] bool matches(const platform::InputEvent& event) const;
    // One event from the tap.
    platform::TapVerdict handleEvent(const platform::InputEvent& event);

    const std::uint32_t keyCode;
    const std::uint32_t modifiers;

  private:
    [[nodiscard]] bool isFunctionAlone() const {
        return keyCode == functionKeyCode && modifiers == functionModifier;
    }
    void postPress();

    std::shared_ptr<const std::function<void()>> onPress_;
    std::shared_ptr<platform::KeyTaps> keyTaps_;
    std::shared_ptr<Executor> executor_;
    std::optional<platform::KeyTap> eventTap_;
    bool fnIsDown_ = false;
    bool keyPressedWhileFnHeld_ = false;
    // Posted re-enables hold this weakly: they do nothing once the hot key is gone.
    std::shared_ptr<QNHotKeyFn*> self_ = std::make_shared<QNHotKeyFn*>(this);
};

}  // namespace ravlin
