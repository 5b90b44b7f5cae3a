#include "app/settings/settings_updates.h"

// The update service is not part of the program yet: until it is, nothing can be checked and the
// version is unknown.

namespace ravlin::settings_updates {

bool canCheckForUpdates(QNServiceUpdate& /*service*/) {
    return false;
}

bool automaticallyChecksForUpdates(QNServiceUpdate& /*service*/) {
    return false;
}

void addObserver(QNServiceUpdate& /*service*/, const Uuid& /*id*/,
                 std::function<void()> /*observer*/) {}

void removeObserver(QNServiceUpdate& /*service*/, const Uuid& /*id*/) {}

void setAutomaticallyChecksForUpdates(QNServiceUpdate& /*service*/, bool /*value*/) {}

void checkForUpdates(QNServiceUpdate& /*service*/) {}

std::string appVersion(QNServiceUpdate& /*service*/) {
    return "0";
}

}  // namespace ravlin::settings_updates
