#pragma once

// The Quick Fix double tap: two press-and-release taps of one modifier key (right Shift by
// default) within 0.6 s, the window running from the first release to the second, call `onFire`
// 25 ms after the second release. Watches modifier changes only and hands every one on. Any
// other modifier changing cancels a pending tap; letters do not. After a fire two more taps are
// needed.
//
// Runs on the main sequence: the tap's handler, the coordinator's writes and the posted tasks.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

struct QNQuickFixDoubleTapMatcherState {
    std::uint32_t triggerKeyCode = 0;
    double lastTapTime = 0;
    bool isTriggerDown = false;
    bool isSuspended = false;

    friend bool operator==(const QNQuickFixDoubleTapMatcherState&,
                           const QNQuickFixDoubleTapMatcherState&) = default;
};

class QNTriggerQuickFixDoubleTap {
  public:
    static constexpr double tapWindowSeconds = 0.6;
    static constexpr std::uint64_t eventMask = 0x1000;  // flags changed
    static constexpr const char* logSubsystem = "io.quen.ravlin.AppRavlinInput";
    static constexpr const char* logCategory = "QuickFix";

    QNTriggerQuickFixDoubleTap(std::uint32_t triggerKeyCode, std::function<void()> onFire,
                               platform::Seams seams, std::shared_ptr<Executor> executor);
    ~QNTriggerQuickFixDoubleTap();
    QNTriggerQuickFixDoubleTap(const QNTriggerQuickFixDoubleTap&) = delete;
    QNTriggerQuickFixDoubleTap& operator=(const QNTriggerQuickFixDoubleTap&) = delete;

    // Whether a flags-changed event of `keyCode` with `flags` means the key is down: the key's
    // own flag for the eight left and right modifiers; any other key always counts as down.
    [[nodiscard]] static bool isKeyDown(std::uint32_t keyCode, std::uint64_t flags);

    bool registerTap();
    void unregisterTap();
    [[nodiscard]] bool isRegistered() const { return eventTap_.has_value(); }

    // The coordinator's writes.
    void setTriggerKey(std::uint32_t keyCode);
    void suspend();
    void resume();

    [[nodiscard]] QNQuickFixDoubleTapMatcherState state() const;

    platform::TapVerdict handleEvent(const platform::InputEvent& event);

  private:
    void handleFlagsChanged(const platform::InputEvent& event);
    void log(platform::LogLevel level, std::string message) const;

    std::function<void()> onFire_;
    platform::Seams seams_;
    std::shared_ptr<Executor> executor_;
    std::optional<platform::KeyTap> eventTap_;
    mutable std::mutex stateLock_;
    QNQuickFixDoubleTapMatcherState state_;
    std::shared_ptr<QNTriggerQuickFixDoubleTap*> self_;
};

}  // namespace ravlin
