#pragma once

// Keys addressed to this process's own windows, seen before the windows get them: a filter on
// the application's events that gives key presses and releases in the taps' shape and may keep
// them from the window. X reports the modifier state as it was before the event, so the event's
// own key is applied to it.

#include <memory>
#include <optional>

#include "platform/key_taps.h"
#include "platform/linux/x11/modifier_map.h"

namespace ravlin::platform::x11 {

// Turns the key events of the application's windows into tap events. No Qt and no X calls.
class LocalKeyTranslator {
  public:
    explicit LocalKeyTranslator(std::shared_ptr<const ModifierMap> map) : map_(std::move(map)) {}

    // `state` is the X modifier state the event carries, `time` its server milliseconds.
    [[nodiscard]] InputEvent translate(unsigned xKeyCode, unsigned state, bool press, bool repeat,
                                       unsigned long time);

  private:
    std::shared_ptr<const ModifierMap> map_;
    bool capsLockedAtPress_ = false;
};

// Starts the filter on the running Qt application; fails without one.
[[nodiscard]] Expected<KeyTap> startLocalKeyMonitor(std::shared_ptr<const ModifierMap> map,
                                                    KeyTaps::Handler handler);

}  // namespace ravlin::platform::x11
