#pragma once

// The update service: owns the updater (updater.h), tells interested parties whenever the
// updater's canCheckForUpdates or its automatic-check setting changes, switches automatic checks
// with a session-log line, and gives this copy's version to the About pane.
//
// Changes reach `onChange` (the menu's refresh), then every closure in `observers`, always
// through a task posted to the main sequence. At creation each of the two observed values is
// delivered once that way, so closures set later in the same start-up still hear them. A
// closure removed from `observers` before its turn is not called.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/log/event_logger.h"
#include "app/preferences/build_config.h"
#include "app/shell/updater.h"
#include "core/support/executor.h"
#include "core/support/subscription.h"
#include "core/support/uuid.h"

namespace ravlin {

struct AppContext;

class QNServiceUpdate {
  public:
    QNServiceUpdate(std::shared_ptr<Executor> executor, std::shared_ptr<QNLoggerEvent> logger,
                    std::shared_ptr<QNControllerUpdater> updaterController,
                    QNConfigBuild buildConfig);
    ~QNServiceUpdate();
    QNServiceUpdate(const QNServiceUpdate&) = delete;
    QNServiceUpdate& operator=(const QNServiceUpdate&) = delete;

    // Over the context: its executor, work runner, defaults, workspace and session log, the
    // shared HTTP client, the build settings given and the environment that stands in for them.
    [[nodiscard]] static std::shared_ptr<QNServiceUpdate> make(
        const AppContext& context, QNConfigBuild buildConfig = QNConfigBuild::standard(),
        EnvironmentSnapshot environment = {});

    [[nodiscard]] QNControllerUpdater& updaterController() const { return *updaterController_; }
    [[nodiscard]] const std::shared_ptr<QNControllerUpdater>& updaterControllerPointer() const {
        return updaterController_;
    }

    // Sets the updater's automatic checks and logs "Automatic update checks enabled" or
    // "... disabled" (system).
    void setAutomaticallyChecksForUpdates(bool value);
    // "CFBundleShortVersionString" of the build settings, else "0".
    [[nodiscard]] std::string appVersion() const;

    std::map<Uuid, std::function<void()>> observers;
    std::function<void()> onChange;

  private:
    // Posts one delivery to onChange and the observers.
    void postDelivery();

    std::shared_ptr<Executor> executor_;
    std::shared_ptr<QNLoggerEvent> logger_;
    std::shared_ptr<QNControllerUpdater> updaterController_;
    QNConfigBuild buildConfig_;
    Subscription canCheckObservation_;
    Subscription automaticChecksObservation_;
    std::shared_ptr<char> lifetime_ = std::make_shared<char>();
};

}  // namespace ravlin
