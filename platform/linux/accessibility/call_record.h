#pragma once

#include <chrono>
#include <cstdint>

namespace ravlin::platform::atspi {

// What the calls to other applications have cost so far.
struct CallRecord {
    // The longest single call.
    std::chrono::microseconds worst{0};
    // How many were made (answered from libatspi's own cache or over the bus).
    std::uint64_t count = 0;
};

}  // namespace ravlin::platform::atspi
