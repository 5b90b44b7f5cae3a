#pragma once

// A key-capture session: while the user records the Composer shortcut, every key press and
// modifier change goes to the recorder before any application acts on it. A key tap over the
// whole session swallows the key presses; without one (no permission) the application-local
// monitor stands in, seeing only what is addressed to this application. Where the tap only
// watches (X11), the local monitor also keeps the key presses from this application's own
// widgets, which would otherwise act on them (Space on a focused button).
//
// Each event turns into deliveries, performed in order on the main sequence: a captured chord,
// a change of the held modifiers, a cancel (Escape, whatever is held), a beep (a bare key that is
// not F1-F20, told to `onRefused` with its key code; recording goes on) or re-enabling a tap the
// desktop disabled. Fn alone pressed and
// released records the Fn-only shortcut; Fn with a key records that chord at the key press.
//
// Once stop() has run nothing more is delivered, also not what was read before it and is still
// waiting to be performed.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/shell/recorders/local_key_monitor.h"
#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

struct QNSessionKeyCaptureState {
    bool fnIsDown = false;
    bool keyPressedDuringFn = false;
    std::uint32_t lastModifierBitmap = 0;
};

struct QNSessionKeyCaptureDelivery {
    enum class Kind { capture, modifiers, cancel, beep, reenable };
    Kind kind = Kind::capture;
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;

    friend bool operator==(const QNSessionKeyCaptureDelivery&,
                           const QNSessionKeyCaptureDelivery&) = default;
};

class QNSessionKeyCapture {
  public:
    static constexpr std::uint64_t eventMask = 0x1400;  // key down, flags changed
    static constexpr std::uint32_t escapeKeyCode = 53;
    static constexpr std::uint32_t fnKeyCode = 63;

    struct Callbacks {
        std::function<void(std::uint32_t keyCode, std::uint32_t modifiers)> onCapture;
        std::function<void()> onCancel;
        std::function<void(std::uint32_t modifiers)> onModifiersChanged;
        // A key that cannot be a shortcut alone was pressed (with the beep); recording goes on.
        std::function<void(std::uint32_t keyCode)> onRefused;
    };

    // Starts capturing at once. `localMonitor` may be null (no fallback); `beep` sounds the
    // desktop's bell (QApplication::beep when not given).
    QNSessionKeyCapture(Callbacks callbacks, const platform::Seams& seams,
                        std::shared_ptr<Executor> executor,
                        std::shared_ptr<QNLocalKeyMonitor> localMonitor,
                        std::function<void()> beep = {});
    ~QNSessionKeyCapture();
    QNSessionKeyCapture(const QNSessionKeyCapture&) = delete;
    QNSessionKeyCapture& operator=(const QNSessionKeyCapture&) = delete;

    // Ends capturing; idempotent.
    void stop();

    [[nodiscard]] bool usesTap() const;
    // The local monitor is installed (as the source, or only to hold keys back from our widgets).
    [[nodiscard]] bool usesLocalMonitor() const;

    // F1-F20: keys captured without a modifier.
    [[nodiscard]] static bool isFunctionKey(std::uint32_t keyCode);
    // The two rules, on a state.
    [[nodiscard]] static std::vector<QNSessionKeyCaptureDelivery> keyDownRule(
        QNSessionKeyCaptureState& state, std::uint32_t keyCode, std::uint32_t mask,
        bool isFunctionKey);
    [[nodiscard]] static std::vector<QNSessionKeyCaptureDelivery> flagsChangedRule(
        QNSessionKeyCaptureState& state, std::uint32_t mask, bool fnDown, bool otherDown);

  private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace ravlin
