#pragma once

// The desktop session around the program: its message bus, the desktop's own settings, whether
// a compositor draws the screen, and what the window manager is asked to do with this
// program's windows.

#include <cstdint>

namespace ravlin::platform {

class DesktopSession {
  public:
    virtual ~DesktopSession() = default;

    // Whether the session's message bus answers: the accessibility bus and the keyring are
    // reached through it, and a program started outside the desktop session has none.
    [[nodiscard]] virtual bool hasSessionBus() = 0;
    // Turns on the desktop's own switch for assistive technologies where it has one (GNOME's
    // toolkit-accessibility); false where there is none or it could not be set.
    virtual bool switchAccessibilityOn() = 0;
    // Whether the desktop asks applications to play fewer animations: GNOME's enable-animations
    // switched off where its settings exist, else XSETTINGS Net/EnableAnimations at 0; false when
    // neither says.
    [[nodiscard]] virtual bool reducesAnimations() = 0;
    // Whether a compositing manager draws the screen, so a window's transparent pixels show what
    // is behind it (without one they show black).
    [[nodiscard]] virtual bool hasCompositor() = 0;
    // Asks the window manager to keep a window of this program (a native window id) on every
    // virtual desktop. Before the window is mapped it goes with the window's state; after, as a
    // request to the window manager.
    virtual void showOnEveryDesktop(std::uint64_t window) = 0;
};

}  // namespace ravlin::platform
