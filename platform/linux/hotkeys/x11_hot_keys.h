#pragma once

// Global hot keys on X11: a passive grab of the chord's key on the root window, once per
// combination of the lock modifiers (Caps Lock, Num Lock, Scroll Lock) so the chord works
// whichever lock is on. Command is the modifier bit holding Super, Option the one holding Alt.
// The grab is refused when another client holds the chord; then none of our variants stays.
// With detectable auto-repeat, a held chord calls its callback once.
//
// While the grab is active the server has moved the keyboard focus to us for its duration:
// toolkits drop their focused state (GTK at once, Qt after about 100 ms) until the key is
// released.

#include <map>
#include <memory>

#include "platform/hot_keys.h"
#include "platform/linux/x11/x11_connection.h"

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

    std::shared_ptr<x11::Connection> connection_;
    std::shared_ptr<std::map<std::uint64_t, Grab>> grabs_;
    std::uint64_t nextNumber_ = 0;
    Subscription events_;
};

}  // namespace ravlin::platform
