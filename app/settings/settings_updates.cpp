#include "app/settings/settings_updates.h"

#include "app/shell/update_service.h"

namespace ravlin::settings_updates {

bool canCheckForUpdates(QNServiceUpdate& service) {
    return service.updaterController().canCheckForUpdates();
}

bool automaticallyChecksForUpdates(QNServiceUpdate& service) {
    return service.updaterController().automaticallyChecksForUpdates();
}

void addObserver(QNServiceUpdate& service, const Uuid& id, std::function<void()> observer) {
    service.observers[id] = std::move(observer);
}

void removeObserver(QNServiceUpdate& service, const Uuid& id) {
    service.observers.erase(id);
}

void setAutomaticallyChecksForUpdates(QNServiceUpdate& service, bool value) {
    service.setAutomaticallyChecksForUpdates(value);
}

void checkForUpdates(QNServiceUpdate& service) {
    service.updaterController().checkForUpdates();
}

std::string appVersion(QNServiceUpdate& service) {
    return service.appVersion();
}

}  // namespace ravlin::settings_updates
