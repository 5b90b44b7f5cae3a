#pragma once

// Secrets in the desktop's keyring: one generic password per (service, account). Secrets are
// UTF-8 and never logged.

#include <optional>
#include <string>
#include <string_view>

#include "platform/outcome.h"

namespace ravlin::platform {

class Keychain {
  public:
    virtual ~Keychain() = default;

    // Whether a keyring answers at all (a session without one cannot store secrets).
    [[nodiscard]] virtual bool isAvailable() = 0;
    // The stored secret; nothing when there is no such item.
    [[nodiscard]] virtual Expected<std::optional<std::string>> readPassword(
        std::string_view service, std::string_view account) = 0;
    // Stores `secret`, replacing any earlier one.
    virtual Status replacePassword(std::string_view service, std::string_view account,
                                   std::string_view secret) = 0;
    // Removes the item; removing one that is not there succeeds.
    virtual Status deletePassword(std::string_view service, std::string_view account) = 0;
};

}  // namespace ravlin::platform
