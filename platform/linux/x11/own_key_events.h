#pragma once

// The key events this program sent through XTest, in the order sent, until the key taps see them
// come back on the raw event stream. Every program's synthetic keys come through the same XTEST
// device, a test's and xdotool's too; ours are told from theirs by the sequence we sent: a raw
// key event from that device that is the oldest of ours not seen yet is ours. Another program's
// key identical to the one of ours due next may be taken for it (and ours, coming after, for
// that program's): the count of our keys and theirs stays right.
//
// A sent key is remembered only while a tap watches the raw events (else it would never be
// seen, and every later one of ours would be taken for another program's). Main thread only.

#include <cstddef>
#include <deque>

namespace ravlin::platform::x11 {

class OwnKeyEvents {
  public:
    // Most events remembered; the oldest go first beyond that.
    static constexpr std::size_t maxPending = 256;

    // Whether raw key events are watched from now on; forgets what was sent unseen when not.
    void setWatched(bool watched);
    [[nodiscard]] bool watched() const { return watched_; }
    // One key event sent, an X keycode going down (`press`) or up.
    void sent(unsigned keyCode, bool press);
    // Whether a raw key event from the XTEST device is the oldest of ours not seen yet (then it
    // counts as seen).
    bool take(unsigned keyCode, bool press);
    [[nodiscard]] std::size_t pending() const { return pending_.size(); }

  private:
    struct Sent {
        unsigned keyCode = 0;
        bool press = false;
    };
    bool watched_ = false;
    std::deque<Sent> pending_;
};

}  // namespace ravlin::platform::x11
