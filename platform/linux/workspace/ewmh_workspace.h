#pragma once

// Running applications over the window manager's EWMH hints, on our own X connection: the
// frontmost application is the owner of _NET_ACTIVE_WINDOW, the process the window names
// (_NET_WM_PID), else the one whose X client made it (the X Resource extension: some programs set
// no _NET_WM_PID); its identity is the window's class, else the executable's name; activation asks
// the window manager, as a pager would, to activate that process's topmost window, or the one
// window asked for.

#include <memory>
#include <optional>

#include "platform/linux/window_place.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/workspace.h"

namespace ravlin::platform {

class EwmhWorkspace final : public Workspace {
  public:
    explicit EwmhWorkspace(std::shared_ptr<x11::Connection> connection);

    std::optional<RunningApplication> frontmostApplication() override;
    RunningApplication currentApplication() override;
    bool activate(ProcessID pid) override;
    bool activateWindow(ProcessID pid, std::uint64_t window) override;
    std::optional<std::uint64_t> frontmostWindow() override;
    // The X input focus, asked of the server, and the windows above it up to the root.
    std::optional<bool> keyboardFocusIn(std::uint64_t window) override;
    Status openURL(std::string_view url) override;
    Subscription observeFrontmost(
        std::function<void(const std::optional<RunningApplication>&)> onChange) override;

    // The active window's process, without the application's names.
    [[nodiscard]] std::optional<ProcessID> activeProcess();
    // The active window with its title and the titles of its process's dialogs over it.
    [[nodiscard]] std::optional<ActiveWindow> keyboardWindow();

    // Where a process's window stands on the screen: the active window when it is that
    // process's, else its topmost one.
    [[nodiscard]] std::optional<WindowPlace> windowPlace(ProcessID pid);

  private:
    class ClientProcesses;

    [[nodiscard]] std::optional<x11::Window> activeWindow();
    [[nodiscard]] std::optional<ProcessID> windowProcess(x11::Window window);
    // Asks the window manager to activate a window it manages.
    bool activateManaged(x11::Window window);
    void onEvent(const x11::XEvent& event);

    std::shared_ptr<x11::Connection> connection_;
    x11::Atom activeWindow_;
    x11::Atom pidAtom_;
    x11::Atom stacking_;
    x11::Atom clientList_;
    x11::Atom transientFor_;
    x11::Atom gtkFrameExtents_;
    RunningApplication current_;
    CallbackList<std::optional<RunningApplication>> frontmostObservers_;
    std::optional<ProcessID> lastFrontmost_;
    std::shared_ptr<ClientProcesses> clientProcesses_;  // made on first need
    Subscription events_;
};

}  // namespace ravlin::platform
