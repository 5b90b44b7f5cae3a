#pragma once

// System-wide hot keys: a chord registered under an id calls its callback on the main sequence
// each time it is pressed, whichever application is in front, until the returned handle is
// dropped. Registration fails when the desktop refuses the chord (another program holds it, or
// it cannot be grabbed at all, like the Fn key on X11).

#include <cstdint>
#include <functional>

#include "core/support/subscription.h"
#include "platform/keys.h"
#include "platform/outcome.h"

namespace ravlin::platform {

class HotKeys {
  public:
    virtual ~HotKeys() = default;

    virtual Expected<Subscription> registerHotKey(KeyChord chord, std::uint32_t id,
                                                  std::function<void()> onPress) = 0;

    // Whether the key of a registered chord is down now: from the press that called its
    // callback until the key's release. Meanwhile the desktop may hold the keyboard for this
    // program (X11: the grab that caught the chord), and other applications may not report
    // their focus until it is released.
    [[nodiscard]] virtual bool isHeld() const { return false; }
};

}  // namespace ravlin::platform
