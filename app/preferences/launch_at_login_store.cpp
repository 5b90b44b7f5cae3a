#include "app/preferences/launch_at_login_store.h"

#include "app/support/desktop_wording.h"

namespace ravlin {

QNStoreLaunchAtLogin::QNStoreLaunchAtLogin(std::shared_ptr<platform::LoginItem> loginItem)
    : loginItem_(std::move(loginItem)), status_(loginItem_->status()) {}

std::string QNStoreLaunchAtLogin::statusDescription() const {
    using platform::LoginItemStatus;
    switch (status_.get()) {
        case LoginItemStatus::notRegistered:
            return "Ravlin will only open when you launch it manually.";
        case LoginItemStatus::enabled:
            return "Ravlin is registered to open automatically when you log in.";
        case LoginItemStatus::requiresApproval:
            return forThisDesktop("macOS needs approval before Ravlin can launch at login.");
        case LoginItemStatus::notFound:
            return forThisDesktop("macOS could not find Ravlin as a login item.");
    }
    return "Launch at login status is unavailable.";
}

void QNStoreLaunchAtLogin::setEnabled(bool enabled) {
    if (status_.get() == platform::LoginItemStatus::notFound) {
        errorMessage_.set("Launch at Login can only be changed from the Ravlin app.");
        return;
    }
    const platform::Status outcome =
        enabled ? loginItem_->registerItem() : loginItem_->unregisterItem();
    if (outcome.ok()) {
        errorMessage_.set(std::nullopt);
    } else {
        errorMessage_.set("Could not update Launch at Login. " + outcome.error().message);
    }
    status_.set(loginItem_->status());
}

void QNStoreLaunchAtLogin::refreshStatus() {
    status_.set(loginItem_->status());
}

}  // namespace ravlin
