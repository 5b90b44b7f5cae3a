#include "app/preferences/byok_store.h"

#include <array>
#include <nlohmann/json.hpp>

#include "app/preferences/preference_stores.h"
#include "core/providers/codex-cli/codex_cli_provider.h"
#include "core/providers/openai/openai_provider.h"
#include "core/providers/unavailable_provider.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::string_view kEnabled = "BYOK.isEnabled";
constexpr std::string_view kProviderKind = "BYOK.providerKind";
constexpr std::string_view kModelPrefix = "BYOK.model.";
constexpr std::string_view kCodexDetection = "BYOK.codexDetection";

constexpr std::array kSupportStatusNames{
    std::pair{QNCodexCLISupportStatus::supported, std::string_view("supported")},
    std::pair{QNCodexCLISupportStatus::missing, std::string_view("missing")},
    std::pair{QNCodexCLISupportStatus::unsupportedVersion, std::string_view("unsupportedVersion")},
    std::pair{QNCodexCLISupportStatus::unparsableVersion, std::string_view("unparsableVersion")},
    std::pair{QNCodexCLISupportStatus::versionCheckFailed, std::string_view("versionCheckFailed")},
    std::pair{QNCodexCLISupportStatus::pathResolutionFailed,
              std::string_view("pathResolutionFailed")},
    std::pair{QNCodexCLISupportStatus::unsupportedPlatform,
              std::string_view("unsupportedPlatform")},
};
constexpr std::array kLoginStateNames{
    std::pair{QNCodexCLILoginState::loggedIn, std::string_view("loggedIn")},
    std::pair{QNCodexCLILoginState::notLoggedIn, std::string_view("notLoggedIn")},
    std::pair{QNCodexCLILoginState::unknown, std::string_view("unknown")},
};

template <class E, std::size_t N>
std::string_view nameOf(const std::array<std::pair<E, std::string_view>, N>& names, E value) {
    for (const auto& [candidate, name] : names) {
        if (candidate == value) {
            return name;
        }
    }
    return {};
}

template <class E, std::size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, std::string_view>, N>& names,
                         std::string_view name) {
    for (const auto& [value, candidate] : names) {
        if (candidate == name) {
            return value;
        }
    }
    return std::nullopt;
}

// Nothing stored: nothing found, signed out.
QNCodexCLIDetection undetected() {
    return {.executablePath = std::nullopt,
            .versionString = std::nullopt,
            .supportStatus = QNCodexCLISupportStatus::missing,
            .loginState = QNCodexCLILoginState::notLoggedIn};
}

std::optional<QNBYOKProviderKind> kindFromString(std::string_view raw) {
    if (raw == "openai") {
        return QNBYOKProviderKind::openai;
    }
    if (raw == "codexCLI") {
        return QNBYOKProviderKind::codexCLI;
    }
    return std::nullopt;
}

std::string modelKey(QNBYOKProviderKind kind) {
    return std::string(kModelPrefix) + std::string(toString(kind));
}

std::shared_ptr<QNProviderCorrectionModel> realOpenAIProvider(std::string model, std::string prompt,
                                                              std::string key) {
    return std::make_shared<QNProviderOpenAICorrection>(
        QNProviderOpenAICorrection::Configuration(
            std::move(model), 8.0, 30.0, 90.0,
            std::string(QNStoreBringYourOwnKey::openAIProviderID)),
        std::move(prompt), [key = std::move(key)] { return std::optional<std::string>(key); });
}

}  // namespace

std::string_view toString(QNBYOKProviderKind kind) {
    return kind == QNBYOKProviderKind::codexCLI ? "codexCLI" : "openai";
}

std::string encodeCodexDetection(const QNCodexCLIDetection& detection) {
    nlohmann::json object = nlohmann::json::object();
    object["executablePath"] =
        detection.executablePath ? nlohmann::json(*detection.executablePath) : nlohmann::json();
    object["versionString"] =
        detection.versionString ? nlohmann::json(*detection.versionString) : nlohmann::json();
    object["supportStatus"] = nameOf(kSupportStatusNames, detection.supportStatus);
    object["loginState"] = nameOf(kLoginStateNames, detection.loginState);
    return object.dump();
}

std::optional<QNCodexCLIDetection> decodeCodexDetection(std::string_view json) {
    const auto object = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto optionalText = [&](const char* key, std::optional<std::string>& out) {
        const auto found = object.find(key);
        if (found == object.end() || found->is_null()) {
            return true;
        }
        if (!found->is_string()) {
            return false;
        }
        out = found->get<std::string>();
        return true;
    };
    const auto name = [&](const char* key) -> std::string {
        const auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get<std::string>() : "";
    };
    QNCodexCLIDetection detection;
    const auto status = valueOf(kSupportStatusNames, name("supportStatus"));
    const auto login = valueOf(kLoginStateNames, name("loginState"));
    if (!optionalText("executablePath", detection.executablePath) ||
        !optionalText("versionString", detection.versionString) || !status || !login) {
        return std::nullopt;
    }
    detection.supportStatus = *status;
    detection.loginState = *login;
    return detection;
}

QNStoreBringYourOwnKey::QNStoreBringYourOwnKey(std::shared_ptr<Defaults> defaults,
                                               KeychainFactory keychainFactory,
                                               OpenAIProviderFactory openAIProviderFactory)
    : defaults_(std::move(defaults)),
      keychainFactory_(std::move(keychainFactory)),
      openAIProviderFactory_(openAIProviderFactory ? std::move(openAIProviderFactory)
                                                   : OpenAIProviderFactory(realOpenAIProvider)),
      isEnabled_(defaults_->boolValue(kEnabled).value_or(false)),
      providerKind_(kindFromString(defaults_read::text(*defaults_, kProviderKind).value_or(""))
                        .value_or(QNBYOKProviderKind::openai)),
      codexDetection_(undetected()) {
    model_.set(storedModel(providerKind_.get()));
    if (const auto stored = defaults_read::text(*defaults_, kCodexDetection)) {
        if (auto detection = decodeCodexDetection(*stored)) {
            codexDetection_.set(std::move(*detection));
        }
    }
}

const Observable<bool>& QNStoreBringYourOwnKey::hasAPIKey() const {
    if (!hasAPIKeyKnown_) {
        hasAPIKeyKnown_ = true;
        const auto keychain = keychainFactory_ ? keychainFactory_() : std::nullopt;
        hasAPIKey_.set(keychain && keychain->read().has_value());
    }
    return hasAPIKey_;
}

std::string QNStoreBringYourOwnKey::storedModel(QNBYOKProviderKind kind) const {
    if (auto stored = defaults_read::text(*defaults_, modelKey(kind))) {
        return std::move(*stored);
    }
    return kind == QNBYOKProviderKind::openai ? std::string(defaultOpenAIModel) : std::string();
}

bool QNStoreBringYourOwnKey::isConfigured() const {
    if (!isEnabled_.get()) {
        return false;
    }
    if (providerKind_.get() == QNBYOKProviderKind::codexCLI) {
        return codexDetection_.get().isConfigured();
    }
    return !text::isBlank(std::string_view(model_.get())) && hasAPIKey().get();
}

void QNStoreBringYourOwnKey::setEnabled(bool enabled) {
    isEnabled_.set(enabled);
    defaults_->set(kEnabled, enabled);
}

void QNStoreBringYourOwnKey::setModel(std::string_view model) {
    std::string value(model);
    if (providerKind_.get() == QNBYOKProviderKind::openai) {
        value = text::trimmedNonEmpty(model).value_or(std::string(defaultOpenAIModel));
    }
    if (!model_.set(value)) {
        return;
    }
    writeTextOrRemove(*defaults_, modelKey(providerKind_.get()), value);
}

void QNStoreBringYourOwnKey::setProviderKind(QNBYOKProviderKind kind) {
    if (!providerKind_.set(kind)) {
        return;
    }
    defaults_->set(kProviderKind, std::string(toString(kind)));
    model_.set(storedModel(kind));
}

bool QNStoreBringYourOwnKey::setAPIKey(std::string_view key) {
    const std::string trimmedKey = text::trimmed(key);
    const auto keychain = keychainFactory_ ? keychainFactory_() : std::nullopt;
    hasAPIKeyKnown_ = true;  // what follows says
    if (providerKind_.get() == QNBYOKProviderKind::codexCLI) {
        hasAPIKey_.set(false);
        return true;
    }
    if (!keychain || !keychain->isAvailable()) {
        // Nothing could be stored: a key the user gave was not saved.
        hasAPIKey_.set(false);
        return trimmedKey.empty();
    }
    const platform::Status outcome =
        trimmedKey.empty() ? keychain->deleteItem() : keychain->replace(trimmedKey);
    hasAPIKey_.set(keychain->read().has_value());
    return outcome.ok();
}

void QNStoreBringYourOwnKey::setCodexDetection(const QNCodexCLIDetection& detection) {
    if (codexDetection_.set(detection)) {
        defaults_->set(kCodexDetection, encodeCodexDetection(detection));
    }
}

std::optional<QNBYOKProviderRoute> QNStoreBringYourOwnKey::makeProvider(
    const std::string& prompt) const {
    if (!isEnabled_.get()) {
        return std::nullopt;
    }
    if (providerKind_.get() == QNBYOKProviderKind::openai) {
        if (!isConfigured()) {
            return std::nullopt;
        }
        // Read once here: the provider runs on worker threads and never asks the keyring.
        const auto keychain = keychainFactory_ ? keychainFactory_() : std::nullopt;
        const auto key = keychain ? keychain->read() : std::nullopt;
        if (!key) {
            return std::nullopt;
        }
        return QNBYOKProviderRoute{openAIProviderFactory_(model_.get(), prompt, *key),
                                   "OpenAI BYOK"};
    }
    const QNCodexCLIDetection& detection = codexDetection_.get();
    QNProviderCodexCLICorrection::Configuration configuration{
        .executablePath = detection.executablePath,
        .detection = detection,
        .model = model_.get(),
        .timeoutSeconds = 30.0,
        .providerID = "codex-cli-byok",
    };
    if (isConfigured()) {
        return QNBYOKProviderRoute{
            std::make_shared<QNProviderCodexCLICorrection>(std::move(configuration), prompt),
            "Codex CLI BYOK with local fallback"};
    }
    // The detection's own account of what is missing becomes the reason the user is shown.
    QNProviderCodexCLICorrection probe(std::move(configuration), prompt);
    const auto summary = probe.availabilitySummary();
    return QNBYOKProviderRoute{
        std::make_shared<QNUnavailableCorrectionModelProvider>(
            "codex-cli-unavailable", summary.detail.empty() ? summary.title : summary.detail,
            "Codex CLI Not Configured", "Codex CLI"),
        "Codex CLI BYOK unavailable"};
}

}  // namespace ravlin
