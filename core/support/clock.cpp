#include "core/support/clock.h"

namespace ravlin {

std::shared_ptr<const Clock> Clock::system() {
    static const auto clock = std::make_shared<const SteadyClock>();
    return clock;
}

}  // namespace ravlin
