#include "app/composer/provider_routing.h"

#include <QString>
#include <QUrl>

#include "core/net/http_client.h"
#include "core/process/spawn.h"
#include "core/providers/foundation-models/foundation_models_provider.h"
#include "core/providers/hosted-proxy/hosted_proxy_provider.h"
#include "core/providers/unavailable_provider.h"
#include "core/records/prompt_catalogue.h"
#include "core/support/uuid.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Slot = QNStoreCustomCorrectionPrompt::Slot;
using Selector = QNServiceCorrectionProviderSelector;

constexpr std::string_view kOnDeviceRouteName = "local";

std::optional<std::string> environmentValue(const EnvironmentSnapshot& environment,
                                            const std::string& name) {
    const auto found = environment.find(name);
    if (found == environment.end()) {
        return std::nullopt;
    }
    return text::trimmedNonEmpty(std::string_view(found->second));
}

QNBYOKProviderRoute unconfigured(std::string_view reason) {
    return {std::make_shared<QNUnavailableCorrectionModelProvider>(
                std::string(Selector::kUnconfiguredProviderID), std::string(reason),
                "Online Model Not Configured", "Hosted Online"),
            std::string(Selector::kHostedRouteName)};
}

}  // namespace

std::string QNModelEngineProviderConfiguration::routeLogLine(int intent) const {
    std::string line = "correction_route intent=";
    line += intent == 1 ? "polish" : "live";
    if (chunkCharCount) {
        line += " chunk_chars=" + std::to_string(*chunkCharCount);
    }
    line += " primary=" + (primary ? primary->diagnostics().providerID : std::string("none"));
    line += " fallback=" + (fallback ? fallback->diagnostics().providerID : std::string("none"));
    line += " reason=" + logReason;
    return line;
}

std::optional<std::string> appendingPathComponent(const std::string& base,
                                                  std::string_view component) {
    QUrl url(QString::fromStdString(base), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative() || (scheme != "http" && scheme != "https") ||
        url.host().isEmpty()) {
        return std::nullopt;
    }
    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith('/')) {
        path.chop(1);
    }
    path += '/';
    path += QString::fromUtf8(component.data(), static_cast<qsizetype>(component.size()));
    url.setPath(path, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url.toString(QUrl::FullyEncoded).toStdString();
}

// --- Selector

Selector::QNServiceCorrectionProviderSelector(
    std::shared_ptr<QNStoreCorrectionModelMode> correctionModelModeStore,
    std::shared_ptr<QNStoreOnlineCorrectionConfig> onlineCorrectionConfigStore,
    std::shared_ptr<QNStoreBringYourOwnKey> byokStore,
    std::shared_ptr<QNStoreCustomCorrectionPrompt> customCorrectionPromptStore,
    EnvironmentProvider environment,
    FoundationModelsProviderFactory foundationModelsProviderFactory, std::string sessionToken,
    QNConfigBuild buildConfig)
    : correctionModelModeStore(std::move(correctionModelModeStore)),
      onlineCorrectionConfigStore(std::move(onlineCorrectionConfigStore)),
      byokStore(std::move(byokStore)),
      customCorrectionPromptStore(std::move(customCorrectionPromptStore)),
      environment(environment
                      ? std::move(environment)
                      : EnvironmentProvider(QNServiceCorrectionEngineFactory::environmentProvider)),
      foundationModelsProviderFactory(
          foundationModelsProviderFactory
              ? std::move(foundationModelsProviderFactory)
              : FoundationModelsProviderFactory(
                    QNServiceCorrectionEngineFactory::makeFoundationModelsEngine)),
      sessionToken_(std::move(sessionToken)),
      buildConfig_(std::move(buildConfig)) {}

std::optional<std::string> Selector::customPrompt(Slot slot) const {
    if (!customCorrectionPromptStore || !customCorrectionPromptStore->isEnabled(slot).get()) {
        return std::nullopt;
    }
    const auto trimmed =
        text::trimmed(text::toUtf16(customCorrectionPromptStore->prompt(slot).get()));
    if (trimmed.empty()) {
        return std::nullopt;
    }
    return text::toUtf8(
        text::prefixCharacters(trimmed, QNStoreCustomCorrectionPrompt::maximumPromptCharacters));
}

std::string Selector::promptText(Slot slot) const {
    if (auto custom = customPrompt(slot)) {
        return std::move(*custom);
    }
    return QNModelCorrectionPrompt::recommended(slot == Slot::local
                                                    ? QNModelCorrectionPromptUseCase::local
                                                    : QNModelCorrectionPromptUseCase::online);
}

std::string Selector::localPromptText() const {
    return promptText(Slot::local);
}

std::string Selector::onlinePromptText() const {
    return promptText(Slot::online);
}

std::optional<std::string> Selector::onlinePromptVersion() const {
    if (customPrompt(Slot::online)) {
        return std::nullopt;
    }
    return std::string(
        QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online).rawValue());
}

std::optional<QNBYOKProviderRoute> Selector::onlineProvider(const std::string& prompt) const {
    if (byokStore && byokStore->isEnabled().get()) {
        if (!byokStore->isConfigured()) {
            return std::nullopt;
        }
        return byokStore->makeProvider(prompt);
    }
    return makeHostedProvider(prompt, onlinePromptVersion(), environment());
}

QNBYOKProviderRoute Selector::makeHostedProvider(const std::string& prompt,
                                                 const std::optional<std::string>& promptVersion,
                                                 const EnvironmentSnapshot& environment) const {
    // The build's address wins over the environment's.
    std::optional<std::string> base = buildConfig_.supabaseFunctionsBaseURL();
    if (!base) {
        base = environmentValue(environment, "RAVLIN_SUPABASE_FUNCTIONS_BASE_URL");
    }
    const auto endpoint =
        base ? appendingPathComponent(*base, "ravlin-cloud") : std::optional<std::string>();
    if (!endpoint) {
        return unconfigured(kEndpointMissingReason);
    }

    // The first key that is not blank: a blank one counts as absent and the search goes on.
    std::optional<std::string> key = buildConfig_.infoPlistString("RavlinSupabasePublishableKey");
    if (!key) {
        key = buildConfig_.infoPlistString("RavlinSupabaseAnonKey");
    }
    if (!key) {
        key = environmentValue(environment, "RAVLIN_SUPABASE_PUBLISHABLE_KEY");
    }
    if (!key) {
        key = environmentValue(environment, "RAVLIN_SUPABASE_ANON_KEY");
    }
    if (!key) {
        return unconfigured(kKeyMissingReason);
    }

    QNProviderHostedProxyCorrection::Configuration configuration(*endpoint, 8.0, 8.0, 30.0,
                                                                 std::string(kHostedProviderID));
    auto provider = std::make_shared<QNProviderHostedProxyCorrection>(
        std::move(configuration), prompt, promptVersion,
        [key = *key]() -> std::optional<std::string> { return key; },
        [token = sessionToken_]() -> std::optional<std::string> { return token; },
        [] { return Uuid::random().lowercaseString(); }, net::HttpClient::shared());
    return {std::move(provider), std::string(kHostedRouteName)};
}

QNModelEngineProviderConfiguration Selector::liveConfiguration() const {
    QNModelEngineProviderConfiguration configuration;
    configuration.primary = foundationModelsProviderFactory(localPromptText());
    if (!configuration.primary || !configuration.primary->availabilitySummary().isAvailable) {
        configuration.logRouteName = "local-rule-only";
        configuration.logReason = "fm-unavailable";
        configuration.isEnabled = false;
        return configuration;
    }
    const bool online = correctionModelModeStore &&
                        correctionModelModeStore->mode().get() == QNCorrectionModelMode::online;
    configuration.logRouteName = std::string(kOnDeviceRouteName);
    configuration.logReason = online ? "mode-online" : "mode-local";
    return configuration;
}

QNModelEngineProviderConfiguration Selector::polishConfiguration(
    std::optional<std::int64_t> chunkCharCount) const {
    QNModelEngineProviderConfiguration configuration;
    configuration.chunkCharCount = chunkCharCount;
    auto onDevice = foundationModelsProviderFactory(localPromptText());
    const bool online = correctionModelModeStore &&
                        correctionModelModeStore->mode().get() == QNCorrectionModelMode::online;
    if (!online) {
        configuration.primary = std::move(onDevice);
        configuration.logRouteName = std::string(kOnDeviceRouteName);
        configuration.logReason = "mode-local";
        return configuration;
    }
    auto route = onlineProvider(onlinePromptText());
    if (!route || !route->provider) {
        configuration.primary = std::move(onDevice);
        configuration.logRouteName = std::string(kOnDeviceRouteName);
        configuration.logReason = "online-unavailable";
        return configuration;
    }
    configuration.primary = std::move(route->provider);
    configuration.fallback = std::move(onDevice);
    configuration.logRouteName = std::move(route->routeName);
    configuration.logReason = "mode-online";
    return configuration;
}

// --- Factory

EnvironmentSnapshot QNServiceCorrectionEngineFactory::environmentProvider() {
    return process::currentEnvironment();
}

std::shared_ptr<QNProviderCorrectionModel>
QNServiceCorrectionEngineFactory::makeFoundationModelsEngine(const std::string& prompt) {
    return std::make_shared<QNProviderFoundationModelsCorrection>(prompt);
}

QNServiceCorrectionEngineFactory::QNServiceCorrectionEngineFactory(
    const Preferences& preferences,
    QNServiceCorrectionProviderSelector::EnvironmentProvider environment,
    QNServiceCorrectionProviderSelector::FoundationModelsProviderFactory foundationModels,
    QNConfigBuild buildConfig)
    : selector(std::make_shared<QNServiceCorrectionProviderSelector>(
          preferences.correctionModelMode, preferences.onlineCorrectionConfig,
          preferences.bringYourOwnKey, preferences.customCorrectionPrompt, std::move(environment),
          std::move(foundationModels), Uuid::random().lowercaseString(), std::move(buildConfig))) {}

}  // namespace ravlin
