#pragma once

// Starting the program when the user logs in.

#include <cstdint>

#include "platform/outcome.h"

namespace ravlin::platform {

enum class LoginItemStatus : std::int32_t {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2,
    notFound = 3,
};

class LoginItem {
  public:
    virtual ~LoginItem() = default;

    [[nodiscard]] virtual LoginItemStatus status() = 0;
    // On failure the registration is left as it was.
    virtual Status registerItem() = 0;
    virtual Status unregisterItem() = 0;
};

}  // namespace ravlin::platform
