#pragma once

// Running applications: which one is frontmost, this application, bringing one to the front,
// and opening a URL with the desktop's handler.
//
// An application's identity stands where a bundle identifier would: the window's class (else
// the executable's name); compare identities case-insensitively.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/support/subscription.h"
#include "platform/accessibility.h"
#include "platform/outcome.h"

namespace ravlin::platform {

struct RunningApplication {
    ProcessID pid = 0;
    std::string identity;  // empty when unknown
    std::string name;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Workspace {
  public:
    virtual ~Workspace() = default;

    [[nodiscard]] virtual std::optional<RunningApplication> frontmostApplication() = 0;
    [[nodiscard]] virtual RunningApplication currentApplication() = 0;
    // Asks the application to come to the front. True when the request was accepted, which does
    // not mean it is frontmost yet (or ever): poll frontmostApplication().
    virtual bool activate(ProcessID pid) = 0;
    // The same for one window of it (frontmostWindow's number): that window comes to the front
    // with the keyboard, not the application's topmost one. Where the window is gone, or is no
    // longer the process's, as activate().
    virtual bool activateWindow(ProcessID pid, std::uint64_t window) {
        (void)window;
        return activate(pid);
    }
    // The window that has the focus now (X11: the active window), as a number that names it for
    // as long as it exists; none where the desktop does not tell.
    [[nodiscard]] virtual std::optional<std::uint64_t> frontmostWindow() { return std::nullopt; }
    // Whether the keyboard's focus is in `window` (frontmostWindow's number) or a window inside
    // it now: on X11 the window manager names the active window before the focus itself moves
    // there (a toolkit may take it a moment later). None where the desktop does not tell.
    [[nodiscard]] virtual std::optional<bool> keyboardFocusIn(std::uint64_t window) {
        (void)window;
        return std::nullopt;
    }
    virtual Status openURL(std::string_view url) = 0;
    // Told whenever another application (or none) becomes frontmost.
    virtual Subscription observeFrontmost(
        std::function<void(const std::optional<RunningApplication>&)> onChange) = 0;
};

}  // namespace ravlin::platform
