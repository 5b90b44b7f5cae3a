#pragma once

// Provider routing: which model provider each correction engine tries first, which one it falls
// back to, and how that choice is named in the session log. The live engine always runs on the
// on-device model; the polish engine follows the correction mode, the user's own key and the
// hosted service's settings. Nothing here calls a model, and nothing is kept between calls:
// every call reads the stores and the environment again and makes new providers. Main thread
// only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/preferences/build_config.h"
#include "app/preferences/byok_store.h"
#include "app/preferences/defaults.h"
#include "app/preferences/preference_stores.h"
#include "app/preferences/preferences.h"
#include "core/providers/provider.h"

namespace ravlin {

// One engine's route.
struct QNModelEngineProviderConfiguration {
    std::shared_ptr<QNProviderCorrectionModel> primary;
    std::shared_ptr<QNProviderCorrectionModel> fallback;  // none: no fallback
    std::string logRouteName;
    bool isEnabled = true;
    std::string logReason;
    // The length of the chunk a polish route was chosen for; logged, never used to choose.
    std::optional<std::int64_t> chunkCharCount;

    // "correction_route intent=live" (intent 0) or "intent=polish" (intent 1), then
    // " chunk_chars=N" when known, " primary=", " fallback=" (an identifier or "none") and
    // " reason=".
    [[nodiscard]] std::string routeLogLine(int intent) const;
};

class QNServiceCorrectionProviderSelector {
  public:
    // The hosted provider's identifier in its diagnostics and in route lines.
    static constexpr std::string_view kHostedProviderID = "hosted-proxy";
    static constexpr std::string_view kHostedRouteName = "hosted online";
    static constexpr std::string_view kUnconfiguredProviderID = "remote-unconfigured";
    static constexpr std::string_view kEndpointMissingReason =
        "Online correction endpoint not configured";
    static constexpr std::string_view kKeyMissingReason = "API key";

    using EnvironmentProvider = std::function<EnvironmentSnapshot()>;
    using FoundationModelsProviderFactory =
        std::function<std::shared_ptr<QNProviderCorrectionModel>(const std::string& prompt)>;

    // Empty closures stand for the defaults: the process environment at the call, and the
    // on-device provider. `sessionToken` is what the hosted provider sends as its session.
    QNServiceCorrectionProviderSelector(
        std::shared_ptr<QNStoreCorrectionModelMode> correctionModelModeStore,
        std::shared_ptr<QNStoreOnlineCorrectionConfig> onlineCorrectionConfigStore,
        std::shared_ptr<QNStoreBringYourOwnKey> byokStore,
        std::shared_ptr<QNStoreCustomCorrectionPrompt> customCorrectionPromptStore,
        EnvironmentProvider environment,
        FoundationModelsProviderFactory foundationModelsProviderFactory, std::string sessionToken,
        QNConfigBuild buildConfig = QNConfigBuild::standard());

    const std::shared_ptr<QNStoreCorrectionModelMode> correctionModelModeStore;
    // Held for the generic online endpoint; no route below reads it.
    const std::shared_ptr<QNStoreOnlineCorrectionConfig> onlineCorrectionConfigStore;
    const std::shared_ptr<QNStoreBringYourOwnKey> byokStore;
    const std::shared_ptr<QNStoreCustomCorrectionPrompt> customCorrectionPromptStore;
    const EnvironmentProvider environment;
    const FoundationModelsProviderFactory foundationModelsProviderFactory;

    // The on-device provider only; "local-rule-only" and not enabled when it is unavailable.
    [[nodiscard]] QNModelEngineProviderConfiguration liveConfiguration() const;
    [[nodiscard]] QNModelEngineProviderConfiguration polishConfiguration(
        std::optional<std::int64_t> chunkCharCount) const;

    // The custom prompt when it is switched on and not blank once trimmed (its first 8000
    // characters), else the recommended one.
    [[nodiscard]] std::string localPromptText() const;
    [[nodiscard]] std::string onlinePromptText() const;
    // None exactly when a custom online prompt is in force; else the online version in force.
    [[nodiscard]] std::optional<std::string> onlinePromptVersion() const;
    // The user's own provider when it is on (none when it is on but not configured), else the
    // hosted one.
    [[nodiscard]] std::optional<QNBYOKProviderRoute> onlineProvider(
        const std::string& prompt) const;
    // The hosted provider, or an unavailable stand-in naming what is missing; always
    // "hosted online".
    [[nodiscard]] QNBYOKProviderRoute makeHostedProvider(
        const std::string& prompt, const std::optional<std::string>& promptVersion,
        const EnvironmentSnapshot& environment) const;
    // What the hosted provider sends as its session (the cloud toggle asks whether one is held).
    [[nodiscard]] const std::string& sessionToken() const { return sessionToken_; }

  private:
    [[nodiscard]] std::string promptText(QNStoreCustomCorrectionPrompt::Slot slot) const;
    [[nodiscard]] std::optional<std::string> customPrompt(
        QNStoreCustomCorrectionPrompt::Slot slot) const;

    std::string sessionToken_;
    QNConfigBuild buildConfig_;
};

// Made once by the application shell; hands out routes through its selector.
class QNServiceCorrectionEngineFactory {
  public:
    // The process environment at the call.
    [[nodiscard]] static EnvironmentSnapshot environmentProvider();
    // The on-device provider for a prompt.
    [[nodiscard]] static std::shared_ptr<QNProviderCorrectionModel> makeFoundationModelsEngine(
        const std::string& prompt);

    // The hosted service's session token is one new UUID per factory, so one per program run.
    QNServiceCorrectionEngineFactory(
        const Preferences& preferences,
        QNServiceCorrectionProviderSelector::EnvironmentProvider environment = environmentProvider,
        QNServiceCorrectionProviderSelector::FoundationModelsProviderFactory foundationModels =
            makeFoundationModelsEngine,
        QNConfigBuild buildConfig = QNConfigBuild::standard());

    const std::shared_ptr<QNServiceCorrectionProviderSelector> selector;
};

// `base` with the path component `component` appended (one slash between, query and fragment
// kept); none when `base` is not an absolute http or https URL with a host.
[[nodiscard]] std::optional<std::string> appendingPathComponent(const std::string& base,
                                                                std::string_view component);

}  // namespace ravlin
