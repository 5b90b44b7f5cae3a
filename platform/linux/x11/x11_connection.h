#pragma once

// Our own Xlib connection to the X server, shared by the backends that speak X11 (workspace,
// synthetic keys). Errors never end the process: Xlib's default handler would exit on the first
// BadWindow of a window that vanished, so the connection installs one that only counts them.
// Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/support/subscription.h"
#include "platform/linux/x11/own_key_events.h"

class QSocketNotifier;
struct _XDisplay;
union _XEvent;

namespace ravlin::platform::x11 {

// Xlib's handles, without Xlib's macros in every header.
using Display = ::_XDisplay;
using XEvent = ::_XEvent;
using Window = unsigned long;
using Atom = unsigned long;

class Connection {
  public:
    // The display named by DISPLAY; none when there is none or it does not answer.
    [[nodiscard]] static std::shared_ptr<Connection> open();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] Display* display() const { return display_; }
    [[nodiscard]] Window root() const;
    [[nodiscard]] Atom atom(const char* name);

    // Property readers; none when the window has no such property (or is gone).
    [[nodiscard]] std::optional<long> cardinal(Window window, Atom property, Atom type);
    [[nodiscard]] std::vector<Window> windowList(Window window, Atom property);
    // A list of 32-bit values of `type` (atoms, windows...), at most 4096 of them.
    [[nodiscard]] std::vector<unsigned long> list(Window window, Atom property, Atom type);
    // A client message about `window` to the window manager (sent to the root window, as EWMH
    // asks), with up to five values; false when it could not be sent.
    bool sendToRoot(Window window, Atom type, const std::vector<long>& data);
    // WM_CLASS's class part, empty when unset.
    [[nodiscard]] std::string windowClass(Window window);
    // A window's title in UTF-8 (_NET_WM_NAME, else WM_NAME), at most 4 KiB of it; empty when it
    // has none.
    [[nodiscard]] std::string windowTitle(Window window);

    // Runs `task` with every X event this connection receives (root property changes and the
    // like), from the Qt event loop.
    Subscription observeEvents(std::function<void(XEvent*)> task);
    // Hands queued events to the observers; also runs whenever the socket has data. Generic
    // (extension) events arrive with their cookie data fetched, freed after the observers ran.
    void dispatchEvents();
    // XSync, then a drain on the next turn of the loop: events Xlib read while waiting for the
    // reply sit in its queue and never make the socket readable again. Every call that waits
    // for a reply should be followed by drainSoon().
    void sync();
    void drainSoon();
    // XSync, then every event received hands to the observers now. False when that cannot be
    // done here (called from an observer) or a flood leaves events over.
    bool catchUp();
    // Whether the X input focus (where the server sends the keys) is `window` or a window
    // inside it now; false for no focus, the pointer's root or the root window. A round trip
    // or more; inside a server grab, the answer stands until the grab ends.
    [[nodiscard]] bool focusWithin(Window window);
    // The X server's time now, for requests that must not look older than the last focus
    // change (a stale time makes the server ignore an application's own focus request).
    [[nodiscard]] unsigned long serverTime();
    // Errors seen since the last call, then the count starts again.
    [[nodiscard]] int takeErrorCount();
    // Whether this client holds the whole keyboard (an exclusive key capture runs): the hot keys
    // leave the keyboard's grab alone then.
    [[nodiscard]] bool keyboardCaptured() const { return keyboardCaptured_; }
    void setKeyboardCaptured(bool captured) { keyboardCaptured_ = captured; }
    // The key events this program sent through XTest and the taps have not seen yet.
    [[nodiscard]] OwnKeyEvents& ownKeyEvents() { return ownKeyEvents_; }
    // While a hold of the keyboard lets a text of ours through: what gives the applications the
    // keyboard right before its key events and takes it back right after them, in the same
    // burst of requests (no round trip between: no key of the person's passes meanwhile). Set
    // by the hold for that moment; none otherwise.
    std::function<void()> openForOwnKeys;
    std::function<void()> closeAfterOwnKeys;

  private:
    explicit Connection(Display* display);

    Display* display_;
    Window clock_ = 0;  // an unmapped window whose property changes tell the time
    std::unique_ptr<QSocketNotifier> notifier_;
    bool drainQueued_ = false;
    bool dispatching_ = false;
    bool keyboardCaptured_ = false;
    OwnKeyEvents ownKeyEvents_;
    CallbackList<XEvent*> observers_;
};

// The executable name of a process ("firefox-esr"), empty when unknown.
[[nodiscard]] std::string executableName(std::int32_t pid);

}  // namespace ravlin::platform::x11
