#pragma once

// Accessibility trust as the program last saw it. Trust is read, never asked for: the check
// used here never shows the desktop's own prompt. The monitor reads again whenever the program
// becomes active and, while someone watches, on a repeating timer; `onChange` hears every
// change, inside `update`.

#include <chrono>
#include <functional>
#include <memory>

#include "core/support/executor.h"
#include "core/support/observable.h"
#include "core/support/subscription.h"
#include "platform/seams.h"

namespace ravlin {

// What asking the desktop for accessibility came to.
enum class QNAccessibilityRequest { switchedOn, noSessionBus, noAccessibilityBus };

// Asking for accessibility, as "Grant Access" and an open without trust do: without the session's
// message bus nothing can be reached; with it, the accessibility bus is switched on (the trust
// check with its prompt), and the desktop's own switch where it has one. Only a bus that then
// answers counts as switched on; applications started before may need a restart to be read.
QNAccessibilityRequest requestAccessibility(const platform::Seams& seams);

// The texts a person reads about it.
inline constexpr const char* kAccessibilityRestartHint =
    "Accessibility is switched on. Applications started before may need a restart before Ravlin "
    "can read them.";
inline constexpr const char* kAccessibilityNoSessionBus =
    "Ravlin cannot reach the accessibility bus. Start Ravlin inside your desktop session.";
inline constexpr const char* kAccessibilityNoBusAnswers =
    "No accessibility bus answers on this desktop, so nothing was switched on. Install "
    "at-spi2-core (the accessibility bus), log out and back in, then click Grant Access again.";

class QNServiceAccessibilityPermissions
    : public std::enable_shared_from_this<QNServiceAccessibilityPermissions> {
  public:
    static constexpr const char* logSubsystem = "io.quen.ravlin.AppRavlin";
    static constexpr const char* logCategory = "AccessibilityPermissions";

    // Registers `onActive` to run each time the program becomes the active application; the
    // registration lasts while the returned handle lives. Empty: the Qt application's state.
    using ActivationSource = std::function<Subscription(std::function<void()> onActive)>;

    // Checks trust once (no `onChange` yet) and starts listening for activation.
    [[nodiscard]] static std::shared_ptr<QNServiceAccessibilityPermissions> create(
        platform::Seams seams, std::shared_ptr<Executor> executor,
        ActivationSource activation = {});
    ~QNServiceAccessibilityPermissions();
    QNServiceAccessibilityPermissions(const QNServiceAccessibilityPermissions&) = delete;
    QNServiceAccessibilityPermissions& operator=(const QNServiceAccessibilityPermissions&) =
        delete;

    [[nodiscard]] const Observable<bool>& isTrusted() const { return isTrusted_; }
    [[nodiscard]] const Observable<bool>& accessibilityRevoked() const {
        return accessibilityRevoked_;
    }
    [[nodiscard]] bool hasEverBeenTrusted() const { return hasEverBeenTrusted_; }

    // Applies one trust answer and returns it.
    bool update(bool isTrusted);
    // A fresh check without the prompt, applied.
    bool checkNow();
    // Re-checks every `interval` on the executor until `stopWatching`; a second call replaces
    // the first timer.
    void startWatching(std::chrono::nanoseconds interval);
    void stopWatching();
    [[nodiscard]] bool isWatching() const;

    std::function<void(bool)> onChange;

  private:
    struct Private;
    QNServiceAccessibilityPermissions(platform::Seams seams, std::shared_ptr<Executor> executor);

    Observable<bool> isTrusted_{false};
    Observable<bool> accessibilityRevoked_{false};
    bool hasEverBeenTrusted_ = false;
    std::unique_ptr<Private> d_;
};

}  // namespace ravlin
