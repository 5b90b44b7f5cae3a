#pragma once

// The desktop seams of an X11 session: each facility that has a Linux backend gets it, every
// other one its unavailable object. Call once the Qt application exists (some backends use its
// event loop and clipboard).

#include "platform/seams.h"

namespace ravlin::platform {

[[nodiscard]] Seams linuxSeams();

}  // namespace ravlin::platform
