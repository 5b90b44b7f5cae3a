#include "app/preferences/keychain_service.h"

#include "core/text/unicode.h"

namespace ravlin {

QNServiceKeychain::QNServiceKeychain(std::string service, std::string account,
                                     std::shared_ptr<platform::Keychain> keychain)
    : service_(std::move(service)), account_(std::move(account)), keychain_(std::move(keychain)) {}

bool QNServiceKeychain::isAvailable() const {
    return keychain_ && keychain_->isAvailable();
}

std::optional<std::string> QNServiceKeychain::read() const {
    if (!keychain_) {
        return std::nullopt;
    }
    const auto secret = keychain_->readPassword(service_, account_);
    if (!secret || !secret->has_value()) {
        return std::nullopt;
    }
    return text::trimmedNonEmpty(std::string_view(**secret));
}

platform::Status QNServiceKeychain::replace(std::string_view secret) const {
    if (!keychain_) {
        return platform::Status::failure(platform::ErrorCode::unavailable, "no keyring");
    }
    return keychain_->replacePassword(service_, account_, secret);
}

platform::Status QNServiceKeychain::deleteItem() const {
    if (!keychain_) {
        return platform::Status::failure(platform::ErrorCode::unavailable, "no keyring");
    }
    return keychain_->deletePassword(service_, account_);
}

}  // namespace ravlin
