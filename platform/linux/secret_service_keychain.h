#pragma once

// The keychain seam over the Secret Service (libsecret): one item per (service, account) in the
// default collection, matched by the string attributes "service" and "account" of our schema,
// with a label a person can read in a keyring manager. Every call is a synchronous D-Bus round
// trip, cut off after a time limit so that a keyring that never answers (or waits on a prompt
// nobody can see) costs a bounded wait. No Secret Service, or a collection that stays locked,
// gives a failure; secrets never go to a file instead.

#include <chrono>

#include "platform/keychain.h"

namespace ravlin::platform {

class SecretServiceKeychain final : public Keychain {
  public:
    static constexpr std::chrono::milliseconds defaultTimeLimit{30000};

    explicit SecretServiceKeychain(std::chrono::milliseconds timeLimit = defaultTimeLimit);

    [[nodiscard]] bool isAvailable() override;
    [[nodiscard]] Expected<std::optional<std::string>> readPassword(
        std::string_view service, std::string_view account) override;
    Status replacePassword(std::string_view service, std::string_view account,
                           std::string_view secret) override;
    Status deletePassword(std::string_view service, std::string_view account) override;

  private:
    std::chrono::milliseconds timeLimit_;
};

}  // namespace ravlin::platform
