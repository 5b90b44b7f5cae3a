#pragma once

// The desktop session on Linux: the session bus through GIO, GNOME's interface settings through
// GSettings (only where their schema is installed), and, on an X11 display, the XSETTINGS
// manager's settings, the compositing manager's selection and the EWMH window state.
// Main thread only.

#include <memory>
#include <optional>

#include "platform/desktop_session.h"
#include "platform/linux/x11/x11_connection.h"

struct _GSettings;

namespace ravlin::platform {

class LinuxDesktopSession final : public DesktopSession {
  public:
    // `connection` may be null (no X11 display): then only the bus and GSettings answer.
    explicit LinuxDesktopSession(std::shared_ptr<x11::Connection> connection);
    ~LinuxDesktopSession() override;
    LinuxDesktopSession(const LinuxDesktopSession&) = delete;
    LinuxDesktopSession& operator=(const LinuxDesktopSession&) = delete;

    // Asked of the bus only where a session announces one (its address, or $XDG_RUNTIME_DIR/bus).
    bool hasSessionBus() override;
    // GNOME's toolkit-accessibility key, where the schema has it.
    bool switchAccessibilityOn() override;
    bool reducesAnimations() override;
    bool hasCompositor() override;
    // _NET_WM_STATE_STICKY and _NET_WM_DESKTOP 0xFFFFFFFF: in the window's properties before it
    // is mapped (the window manager reads them at the mapping), as client messages to the root
    // window after.
    void showOnEveryDesktop(std::uint64_t window) override;

    // XSETTINGS' Net/EnableAnimations, when a settings manager publishes it.
    [[nodiscard]] std::optional<bool> xsettingsEnablesAnimations();

  private:
    // org.gnome.desktop.interface when its schema is installed and has `key`; looked up once.
    [[nodiscard]] _GSettings* gnomeInterface(const char* key);

    std::shared_ptr<x11::Connection> connection_;
    std::optional<bool> sessionBus_;
    bool lookedUp_ = false;
    _GSettings* interface_ = nullptr;
};

}  // namespace ravlin::platform
