#pragma once

// Global hot keys on X11: a passive grab of the chord's key on the root window, once per
// combination of the lock modifiers (Caps Lock, Num Lock, Scroll Lock) so the chord works
// whichever lock is on. Command is the modifier bit holding Super, Option the one holding Alt.
// The grab is refused when another client holds the chord; then none of our variants stays.
// With detectable auto-repeat, a held chord calls its callback once.
//
// A passive grab, once its key went down, holds the whole keyboard until that key comes up, and
// for as long the server tells the focused window its focus went to the grab: toolkits drop
// their focused state meanwhile (GTK at once, Qt after about 100 ms), and with it what other
// programs can read of the field the person is in. So the keyboard is let go as soon as the
// press has been taken: the focused window gets its focus back at once, the key's release goes
// to it (no toolkit acts on a release whose press it never saw), and a repeat of the held key
// is caught by the grab again and dropped. Whether the key is still down is then asked of the
// server until it is up.

#include <chrono>
#include <map>
#include <memory>

#include "platform/hot_keys.h"
#include "platform/linux/x11/x11_connection.h"

class QTimer;

namespace ravlin::platform {

class X11HotKeys final : public HotKeys {
  public:
    explicit X11HotKeys(std::shared_ptr<x11::Connection> connection);
    ~X11HotKeys() override;

    Expected<Subscription> registerHotKey(KeyChord chord, std::uint32_t id,
                                          std::function<void()> onPress) override;
    // From the press until the release of the grabbed key: the grab lasts as long (the X server
    // ends a passive key grab when its key goes up, whatever the modifiers do).
    [[nodiscard]] bool isHeld() const override;

  private:
    struct Grab {
        unsigned keyCode = 0;
        unsigned modifiers = 0;
        unsigned locks = 0;  // every lock bit of the server, ignored when matching
        std::vector<unsigned> variants;
        std::shared_ptr<std::function<void()>> onPress;
        bool held = false;
    };

    void handle(x11::XEvent* event);
    void ungrab(const Grab& grab);
    // Lets go of the keyboard a passive grab took (unless a capture of ours holds it).
    void releaseKeyboard();
    // Asks the server every `releasePollInterval` whether the held key is up.
    void watchRelease();
    void checkRelease();

    static constexpr auto releasePollInterval = std::chrono::milliseconds(20);
    static constexpr auto releasePollLimit = std::chrono::seconds(60);

    std::shared_ptr<x11::Connection> connection_;
    std::shared_ptr<std::map<std::uint64_t, Grab>> grabs_;
    std::uint64_t nextNumber_ = 0;
    Subscription events_;
    std::unique_ptr<QTimer> releaseWatch_;
    std::chrono::steady_clock::time_point heldSince_{};
};

}  // namespace ravlin::platform
