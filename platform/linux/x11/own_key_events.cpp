#include "platform/linux/x11/own_key_events.h"

namespace ravlin::platform::x11 {

void OwnKeyEvents::setWatched(bool watched) {
    watched_ = watched;
    if (!watched) {
        pending_.clear();
    }
}

void OwnKeyEvents::sent(unsigned keyCode, bool press) {
    if (!watched_) {
        return;
    }
    if (pending_.size() == maxPending) {
        pending_.pop_front();
    }
    pending_.push_back({keyCode, press});
}

bool OwnKeyEvents::take(unsigned keyCode, bool press) {
    if (pending_.empty() || pending_.front().keyCode != keyCode || pending_.front().press != press) {
        return false;
    }
    pending_.pop_front();
    return true;
}

}  // namespace ravlin::platform::x11
