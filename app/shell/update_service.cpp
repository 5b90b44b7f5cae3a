#include "app/shell/update_service.h"

#include <vector>

#include "app/support/app_context.h"

namespace ravlin {

QNServiceUpdate::QNServiceUpdate(std::shared_ptr<Executor> executor,
                                 std::shared_ptr<QNLoggerEvent> logger,
                                 std::shared_ptr<QNControllerUpdater> updaterController,
                                 QNConfigBuild buildConfig)
    : executor_(std::move(executor)),
      logger_(std::move(logger)),
      updaterController_(std::move(updaterController)),
      buildConfig_(std::move(buildConfig)) {
    canCheckObservation_ =
        updaterController_->observeCanCheckForUpdates([this](const bool&) { postDelivery(); });
    automaticChecksObservation_ = updaterController_->observeAutomaticallyChecksForUpdates(
        [this](const bool&) { postDelivery(); });
    // Each observed value is delivered once as it stands now.
    postDelivery();
    postDelivery();
}

QNServiceUpdate::~QNServiceUpdate() = default;

std::shared_ptr<QNServiceUpdate> QNServiceUpdate::make(const AppContext& context,
                                                       QNConfigBuild buildConfig,
                                                       EnvironmentSnapshot environment) {
    auto updater = std::make_shared<QNControllerUpdater>(QNControllerUpdater::Dependencies{
        .executor = context.executor,
        .workRunner = context.workRunner,
        .defaults = context.preferences->defaults,
        .httpClient = net::HttpClient::shared(),
        .workspace = context.seams.workspace,
        .buildConfig = buildConfig,
        .environment = std::move(environment),
    });
    return std::make_shared<QNServiceUpdate>(context.executor, context.logger, std::move(updater),
                                             std::move(buildConfig));
}

void QNServiceUpdate::setAutomaticallyChecksForUpdates(bool value) {
    updaterController_->setAutomaticallyChecksForUpdates(value);
    logger_->log(QNKindLog::system,
                 std::string("Automatic update checks ") + (value ? "enabled" : "disabled"));
}

std::string QNServiceUpdate::appVersion() const {
    return buildConfig_.infoPlistString("CFBundleShortVersionString").value_or("0");
}

void QNServiceUpdate::postDelivery() {
    executor_->post([this, weak = std::weak_ptr<char>(lifetime_)] {
        if (weak.expired()) {
            return;
        }
        if (onChange) {
            auto change = onChange;
            change();
            if (weak.expired()) {
                return;
            }
        }
        // A closure removed while the others run is not called.
        std::vector<Uuid> keys;
        keys.reserve(observers.size());
        for (const auto& [key, observer] : observers) {
            keys.push_back(key);
        }
        for (const auto& key : keys) {
            const auto found = observers.find(key);
            if (found == observers.end()) {
                continue;
            }
            auto observer = found->second;
            observer();
            if (weak.expired()) {
                return;
            }
        }
    });
}

}  // namespace ravlin
