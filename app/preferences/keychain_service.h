#pragma once

// One secret in the desktop's keyring, named by service and account. Each call is a round trip
// to the keyring (a synchronous D-Bus call on Linux): callers make them when a store loads or a
// setter runs, never per keystroke or request.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/keychain.h"

namespace ravlin {

// The service every item of the program is stored under.
inline constexpr std::string_view kKeychainService = "io.quen.ravlin-mac";
inline constexpr std::string_view kOnlineCorrectionAPIKeyAccount = "online-correction-api-key";
inline constexpr std::string_view kBYOKOpenAIAPIKeyAccount = "byok-openai-api-key";

class QNServiceKeychain {
  public:
    QNServiceKeychain(std::string service, std::string account,
                      std::shared_ptr<platform::Keychain> keychain);

    [[nodiscard]] const std::string& service() const { return service_; }
    [[nodiscard]] const std::string& account() const { return account_; }

    // Whether a keyring answers.
    [[nodiscard]] bool isAvailable() const;
    // The stored secret trimmed; nothing when the item is missing, blank or unreadable.
    [[nodiscard]] std::optional<std::string> read() const;
    // Stores `secret` in place of any earlier one.
    [[nodiscard]] platform::Status replace(std::string_view secret) const;
    // Removes the item; a missing item is no failure.
    [[nodiscard]] platform::Status deleteItem() const;

  private:
    std::string service_;
    std::string account_;
    std::shared_ptr<platform::Keychain> keychain_;
};

}  // namespace ravlin
