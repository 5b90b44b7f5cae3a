#pragma once

// The application-local key monitor: key downs and modifier changes addressed to this
// application's own windows, seen before any widget; the handler may consume each. What the
// recorders fall back to (key capture without a tap) or use outright (the double-tap recorder).

#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>

#include "core/support/subscription.h"
#include "platform/key_taps.h"

namespace ravlin {

class QNLocalKeyMonitor {
  public:
    // True: the event is consumed.
    using Handler = std::function<bool(const platform::InputEvent&)>;

    virtual ~QNLocalKeyMonitor() = default;
    // Adds a monitor for the event types in `mask` (platform::eventMaskBit); dropping the
    // subscription removes it. An inactive subscription: it could not be added.
    virtual Subscription add(std::uint64_t mask, Handler handler) = 0;
};

// Over the application's Qt events. `toKeyCode` turns a key event's native scan code into a
// virtual key code (the desktop backend knows its keycodes); 0xFFFFFFFF for an unknown key.
class QNQtLocalKeyMonitor final : public QNLocalKeyMonitor {
  public:
    explicit QNQtLocalKeyMonitor(std::function<std::uint32_t(std::uint32_t)> toKeyCode);
    Subscription add(std::uint64_t mask, Handler handler) override;

    // The event as the key taps describe it; none for events of other kinds.
    [[nodiscard]] static std::optional<platform::InputEvent> translate(
        const QEvent& event, const std::function<std::uint32_t(std::uint32_t)>& toKeyCode);

  private:
    std::function<std::uint32_t(std::uint32_t)> toKeyCode_;
};

}  // namespace ravlin
