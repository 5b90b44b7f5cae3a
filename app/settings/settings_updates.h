#pragma once

// The settings content's few calls on the update service, in one place.

#include <functional>
#include <string>

#include "core/support/uuid.h"

namespace ravlin {

class QNServiceUpdate;

namespace settings_updates {

[[nodiscard]] bool canCheckForUpdates(QNServiceUpdate& service);
[[nodiscard]] bool automaticallyChecksForUpdates(QNServiceUpdate& service);
void addObserver(QNServiceUpdate& service, const Uuid& id, std::function<void()> observer);
void removeObserver(QNServiceUpdate& service, const Uuid& id);
void setAutomaticallyChecksForUpdates(QNServiceUpdate& service, bool value);
void checkForUpdates(QNServiceUpdate& service);
[[nodiscard]] std::string appVersion(QNServiceUpdate& service);

}  // namespace settings_updates
}  // namespace ravlin
