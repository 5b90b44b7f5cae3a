#pragma once

// The keyboard's XKB keymap as xkbcommon reads it. A snapshot answers what a key types under a
// modifier state and group; Keyboard keeps the current snapshot of the server's keyboard
// (fetched again once the server reports a new keyboard or map) and its group and locked
// modifiers (followed from state notifications). Main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "core/support/subscription.h"
#include "platform/linux/x11/x11_connection.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xcb_connection_t;

namespace ravlin::platform::x11 {

class XkbSnapshot {
  public:
    // Takes the keymap's reference.
    explicit XkbSnapshot(xkb_keymap* keymap);
    ~XkbSnapshot();
    XkbSnapshot(const XkbSnapshot&) = delete;
    XkbSnapshot& operator=(const XkbSnapshot&) = delete;

    // A keymap compiled from rules names ("us", "de"), without a server; none when unknown.
    [[nodiscard]] static std::shared_ptr<XkbSnapshot> fromLayout(const char* layout);

    // UTF-8 the key types with the held (`depressed`) and locked X modifier bits in `group`; at
    // most 63 bytes. Empty for keys that type nothing, dead keys included.
    [[nodiscard]] std::string text(unsigned xKeyCode, unsigned depressed, unsigned locked,
                                   unsigned group) const;
    // The spacing accent of the dead key at `xKeyCode` in `group` (no modifiers), 0 when the
    // key is not dead.
    [[nodiscard]] char32_t deadKeyAccent(unsigned xKeyCode, unsigned group) const;

  private:
    xkb_keymap* keymap_;
    xkb_state* state_;
};

class Keyboard {
  public:
    // None when the server or xkbcommon cannot give the keymap.
    [[nodiscard]] static std::shared_ptr<Keyboard> open(std::shared_ptr<Connection> connection);
    ~Keyboard();
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    // The current keymap; fetched again first when the server changed it.
    [[nodiscard]] std::shared_ptr<const XkbSnapshot> snapshot();
    [[nodiscard]] unsigned group() const { return group_; }
    [[nodiscard]] unsigned lockedModifiers() const { return locked_; }
    // Asks the server for the group and locked modifiers now (a round trip).
    void readState();
    // The type number of XKB's events on the connection.
    [[nodiscard]] int eventBase() const { return eventBase_; }
    // Told when the keyboard's map changed (the modifier map may have too).
    Subscription observeMapChanges(std::function<void()> task);

  private:
    Keyboard(std::shared_ptr<Connection> connection, xkb_context* context, xcb_connection_t* xcb,
             std::int32_t device, int eventBase);
    void handle(XEvent* event);

    std::shared_ptr<Connection> connection_;
    xkb_context* context_;
    xcb_connection_t* xcb_;  // a connection of its own, for xkbcommon's requests
    std::int32_t device_;
    int eventBase_;
    std::shared_ptr<const XkbSnapshot> snapshot_;
    bool stale_ = true;
    unsigned group_ = 0;
    unsigned locked_ = 0;
    CallbackList<> mapChanges_;
    Subscription events_;
};

}  // namespace ravlin::platform::x11
