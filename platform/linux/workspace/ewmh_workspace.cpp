#include "platform/linux/workspace/ewmh_workspace.h"

#include <unistd.h>

#include <QDesktopServices>
#include <QUrl>
#include <algorithm>
#include <climits>

#include "platform/linux/clipboard/client_identity.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform {

// The process of the X client that made a window, as the X Resource extension tells it, on an
// xcb connection of its own to the same display.
class EwmhWorkspace::ClientProcesses {
  public:
    explicit ClientProcesses(const char* display) : c_(xcb_connect(display, nullptr)) {
        if (xcb_connection_has_error(c_) == 0) {
            identities_.emplace(c_);
        }
    }
    ~ClientProcesses() { xcb_disconnect(c_); }
    ClientProcesses(const ClientProcesses&) = delete;
    ClientProcesses& operator=(const ClientProcesses&) = delete;

    [[nodiscard]] std::optional<ProcessID> of(Window window) const {
        if (!identities_ || window > UINT32_MAX) {
            return std::nullopt;
        }
        const auto pid = identities_->of(static_cast<xcb_window_t>(window)).pid;
        return pid && *pid > 0 ? std::optional<ProcessID>(*pid) : std::nullopt;
    }

  private:
    xcb_connection_t* c_;
    std::optional<x11::ClientIdentities> identities_;
};

EwmhWorkspace::EwmhWorkspace(std::shared_ptr<x11::Connection> connection)
    : connection_(std::move(connection)),
      activeWindow_(connection_->atom("_NET_ACTIVE_WINDOW")),
      pidAtom_(connection_->atom("_NET_WM_PID")),
      stacking_(connection_->atom("_NET_CLIENT_LIST_STACKING")),
      clientList_(connection_->atom("_NET_CLIENT_LIST")),
      transientFor_(connection_->atom("WM_TRANSIENT_FOR")),
      gtkFrameExtents_(connection_->atom("_GTK_FRAME_EXTENTS")) {
    const auto self = static_cast<ProcessID>(::getpid());
    const auto executable = x11::executableName(self);
    current_ = RunningApplication{.pid = self, .identity = executable, .name = executable};
    XSelectInput(connection_->display(), connection_->root(), PropertyChangeMask);
    XFlush(connection_->display());
    events_ = connection_->observeEvents([this](XEvent* event) { onEvent(*event); });
}

std::optional<x11::Window> EwmhWorkspace::activeWindow() {
    const auto window = connection_->cardinal(connection_->root(), activeWindow_, XA_WINDOW);
    if (!window || *window <= 0) {
        return std::nullopt;
    }
    return static_cast<Window>(*window);
}

std::optional<ProcessID> EwmhWorkspace::windowProcess(Window window) {
    const auto pid = connection_->cardinal(window, pidAtom_, XA_CARDINAL);
    if (pid && *pid > 0 && *pid <= INT32_MAX) {
        return static_cast<ProcessID>(*pid);
    }
    if (!clientProcesses_) {
        clientProcesses_ =
            std::make_shared<ClientProcesses>(XDisplayString(connection_->display()));
    }
    return clientProcesses_->of(window);
}

std::optional<ProcessID> EwmhWorkspace::activeProcess() {
    const auto window = activeWindow();
    return window ? windowProcess(*window) : std::nullopt;
}

std::optional<ActiveWindow> EwmhWorkspace::keyboardWindow() {
    const auto window = activeWindow();
    const auto pid = window ? windowProcess(*window) : std::nullopt;
    if (!pid) {
        return std::nullopt;
    }
    ActiveWindow active{.pid = *pid, .title = connection_->windowTitle(*window)};
    for (const auto each : connection_->windowList(connection_->root(), clientList_)) {
        const auto over = connection_->cardinal(each, transientFor_, XA_WINDOW);
        if (each != *window && over && static_cast<Window>(*over) == *window &&
            windowProcess(each) == pid) {
            active.dialogTitles.push_back(connection_->windowTitle(each));
        }
    }
    return active;
}

std::optional<WindowPlace> EwmhWorkspace::windowPlace(ProcessID pid) {
    auto window = activeWindow();
    if (!window || windowProcess(*window) != pid) {
        // The stacking list runs bottom to top.
        const auto windows = connection_->windowList(connection_->root(), stacking_);
        const auto topmost = std::find_if(windows.rbegin(), windows.rend(), [&](Window each) {
            return windowProcess(each) == pid;
        });
        window = topmost != windows.rend() ? std::optional<Window>(*topmost) : std::nullopt;
    }
    if (!window) {
        return std::nullopt;
    }
    Display* display = connection_->display();
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    Window child = 0;
    const bool placed =
        XGetGeometry(display, *window, &root, &x, &y, &width, &height, &border, &depth) != 0 &&
        XTranslateCoordinates(display, *window, root, 0, 0, &x, &y, &child) != 0;
    connection_->drainSoon();
    if (!placed) {
        return std::nullopt;
    }
    WindowPlace place{.pid = pid, .frame = makeRect(x, y, width, height)};
    if (const auto extents = connection_->list(*window, gtkFrameExtents_, XA_CARDINAL);
        extents.size() == 4) {
        std::array<double, 4> insets{};
        for (std::size_t i = 0; i < insets.size(); ++i) {
            // A margin wider than the window is no margin of it.
            insets[i] = std::min<double>(static_cast<double>(extents[i]),
                                         i < 2 ? width : height);
        }
        place.clientFrame = insets;
    }
    return place;
}

std::optional<RunningApplication> EwmhWorkspace::frontmostApplication() {
    const auto window = activeWindow();
    if (!window) {
        return std::nullopt;
    }
    const auto pid = windowProcess(*window);
    if (!pid) {
        return std::nullopt;
    }
    if (*pid == current_.pid) {
        return current_;
    }
    const auto executable = x11::executableName(*pid);
    auto identity = connection_->windowClass(*window);
    if (identity.empty()) {
        identity = executable;
    }
    return RunningApplication{.pid = *pid, .identity = std::move(identity), .name = executable};
}

std::optional<std::uint64_t> EwmhWorkspace::frontmostWindow() {
    const auto window = activeWindow();
    return window ? std::optional<std::uint64_t>(*window) : std::nullopt;
}

std::optional<bool> EwmhWorkspace::keyboardFocusIn(std::uint64_t window) {
    return connection_->focusWithin(static_cast<Window>(window));
}

RunningApplication EwmhWorkspace::currentApplication() {
    return current_;
}

bool EwmhWorkspace::activate(ProcessID pid) {
    if (pid <= 0) {
        return false;
    }
    // The stacking list runs bottom to top: the first match from its end is the topmost window.
    const auto windows = connection_->windowList(connection_->root(), stacking_);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (windowProcess(*it) == pid) {
            return activateManaged(*it);
        }
    }
    return false;
}

bool EwmhWorkspace::activateWindow(ProcessID pid, std::uint64_t window) {
    if (pid <= 0) {
        return false;
    }
    // Only a window the window manager still manages, and still the process's (an id may be
    // given to another client's window once the first is gone).
    const auto windows = connection_->windowList(connection_->root(), stacking_);
    const bool managed = std::ranges::find(windows, static_cast<Window>(window)) != windows.end();
    if (!managed || windowProcess(static_cast<Window>(window)) != pid) {
        return activate(pid);
    }
    return activateManaged(static_cast<Window>(window));
}

bool EwmhWorkspace::activateManaged(Window window) {
    // Source 2: a pager, exempt from focus-stealing prevention. A real time: the window's
    // toolkit takes the focus with it, and the server ignores a focus request older than the
    // last focus change.
    const bool accepted = connection_->sendToRoot(
        window, activeWindow_, {2, static_cast<long>(connection_->serverTime())});
    XFlush(connection_->display());
    return accepted;
}

Status EwmhWorkspace::openURL(std::string_view url) {
    const auto parsed =
        QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme().isEmpty()) {
        return Status::failure(ErrorCode::invalidArgument, "not a URL");
    }
    if (!QDesktopServices::openUrl(parsed)) {
        return Status::failure(ErrorCode::failed, "no handler opened the URL");
    }
    return {};
}

Subscription EwmhWorkspace::observeFrontmost(
    std::function<void(const std::optional<RunningApplication>&)> onChange) {
    if (!lastFrontmost_) {
        lastFrontmost_ = activeProcess().value_or(0);
    }
    return frontmostObservers_.add(std::move(onChange));
}

void EwmhWorkspace::onEvent(const XEvent& event) {
    if (event.type != PropertyNotify || event.xproperty.window != connection_->root() ||
        event.xproperty.atom != activeWindow_) {
        return;
    }
    auto front = frontmostApplication();
    const ProcessID pid = front ? front->pid : 0;
    if (lastFrontmost_ == pid) {
        return;
    }
    lastFrontmost_ = pid;
    frontmostObservers_.notify(front);
}

}  // namespace ravlin::platform
