#pragma once

// Launch at login over the login-item seam (an XDG autostart entry on Linux): the item's status,
// observed, and the message of the last change that failed.

#include <memory>
#include <optional>
#include <string>

#include "core/support/observable.h"
#include "platform/login_item.h"

namespace ravlin {

class QNStoreLaunchAtLogin {
  public:
    // Takes the item's current status; no error message.
    explicit QNStoreLaunchAtLogin(std::shared_ptr<platform::LoginItem> loginItem);

    [[nodiscard]] const Observable<platform::LoginItemStatus>& status() const { return status_; }
    [[nodiscard]] const Observable<std::optional<std::string>>& errorMessage() const {
        return errorMessage_;
    }
    // What the status means, for the settings window.
    [[nodiscard]] std::string statusDescription() const;

    // Registers or unregisters the item, then takes its new status. A failure leaves the item as
    // it was and sets the error message; success clears it.
    void setEnabled(bool enabled);
    // Takes the item's status again (the user may have changed it elsewhere).
    void refreshStatus();

  private:
    std::shared_ptr<platform::LoginItem> loginItem_;
    Observable<platform::LoginItemStatus> status_;
    Observable<std::optional<std::string>> errorMessage_;
};

}  // namespace ravlin
