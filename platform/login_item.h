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
    // Opens the desktop's own list of programs started at login, where a registration waiting
    // for approval is approved. Desktops that never ask for approval have none.
    virtual Status openSystemSettingsLoginItems() {
        return Status::failure(ErrorCode::notSupported, "no login items settings");
    }
};

}  // namespace ravlin::platform
