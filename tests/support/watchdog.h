#pragma once

// How long a test lets a call or a wait run before it calls it a hang.

#include <chrono>

namespace ravlin::testing {

// A watchdog, never a measurement: far beyond anything a loaded machine takes, and well short of
// the 30 s the stand-ins sleep where they hang on purpose, so a call that waited for one is still
// caught. A wait for something that must come returns as soon as it comes.
inline constexpr std::chrono::seconds kHangWatchdog{20};

}  // namespace ravlin::testing
