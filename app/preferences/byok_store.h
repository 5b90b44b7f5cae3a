#pragma once

// The user's own provider: whether it is on ("BYOK.isEnabled"), which one
// ("BYOK.providerKind": OpenAI with the user's key, or the Codex command-line tool), the model
// stored for each ("BYOK.model.<kind>"), whether the keyring holds the OpenAI key
// ("byok-openai-api-key") and the last detection of the Codex tool ("BYOK.codexDetection", JSON,
// kept across restarts so that a change can be told from the stored value).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/preferences/defaults.h"
#include "app/preferences/keychain_service.h"
#include "core/providers/codex-cli/detection.h"
#include "core/providers/provider.h"
#include "core/support/observable.h"

namespace ravlin {

enum class QNBYOKProviderKind { openai, codexCLI };
[[nodiscard]] std::string_view toString(QNBYOKProviderKind kind);

// The provider a route uses with the name the route log gives it.
struct QNBYOKProviderRoute {
    std::shared_ptr<QNProviderCorrectionModel> provider;
    std::string routeName;
};

// The detection as stored: {"executablePath", "versionString", "supportStatus", "loginState"}.
[[nodiscard]] std::string encodeCodexDetection(const QNCodexCLIDetection& detection);
// Nothing for text that is not such an object.
[[nodiscard]] std::optional<QNCodexCLIDetection> decodeCodexDetection(std::string_view json);

class QNStoreBringYourOwnKey {
  public:
    static constexpr std::string_view defaultOpenAIModel = "gpt-5.4-nano";
    static constexpr std::string_view openAIProviderID = "openai-byok";

    // Makes the keyring item of the OpenAI key; nothing when no keyring can be had.
    using KeychainFactory = std::function<std::optional<QNServiceKeychain>()>;
    // Makes the OpenAI provider; the real one by default (tests point it at a local server).
    using OpenAIProviderFactory = std::function<std::shared_ptr<QNProviderCorrectionModel>(
        std::string model, std::string prompt, std::string key)>;

    // Reads the defaults and asks the keyring once whether the key is there.
    QNStoreBringYourOwnKey(std::shared_ptr<Defaults> defaults, KeychainFactory keychainFactory,
                           OpenAIProviderFactory openAIProviderFactory = {});

    [[nodiscard]] const Observable<bool>& isEnabled() const { return isEnabled_; }
    [[nodiscard]] const Observable<QNBYOKProviderKind>& providerKind() const {
        return providerKind_;
    }
    [[nodiscard]] const Observable<std::string>& model() const { return model_; }
    // Asked of the keyring on first use, not at start-up: most starts never need it, and the
    // keyring's answer costs the start a bus round trip and its client library's set-up.
    [[nodiscard]] const Observable<bool>& hasAPIKey() const;
    [[nodiscard]] const Observable<QNCodexCLIDetection>& codexDetection() const {
        return codexDetection_;
    }

    // On, and usable: the Codex tool detected and signed in, or OpenAI with a model and a key.
    [[nodiscard]] bool isConfigured() const;

    void setEnabled(bool enabled);
    // OpenAI: trimmed, the default when blank. Codex: as given. An equal model changes nothing.
    void setModel(std::string_view model);
    // Switches provider and loads the model stored for it.
    void setProviderKind(QNBYOKProviderKind kind);
    // OpenAI: the trimmed key replaces the keyring item, or a blank one deletes it; hasAPIKey is
    // what the keyring holds afterwards. Returns false when a non-blank key was not stored (no
    // keyring, or the keyring refused), true otherwise. Codex: clears hasAPIKey, returns true.
    bool setAPIKey(std::string_view key);
    // Stores and writes a detection that differs from the one held.
    void setCodexDetection(const QNCodexCLIDetection& detection);

    // Nothing while switched off. OpenAI, configured: its provider ("OpenAI BYOK"), the key read
    // now. Codex, configured: its provider ("Codex CLI BYOK with local fallback"); not
    // configured: an unavailable provider ("Codex CLI BYOK unavailable"). OpenAI not
    // configured: nothing.
    [[nodiscard]] std::optional<QNBYOKProviderRoute> makeProvider(const std::string& prompt) const;

  private:
    [[nodiscard]] std::string storedModel(QNBYOKProviderKind kind) const;

    std::shared_ptr<Defaults> defaults_;
    KeychainFactory keychainFactory_;
    OpenAIProviderFactory openAIProviderFactory_;
    Observable<bool> isEnabled_;
    Observable<QNBYOKProviderKind> providerKind_;
    Observable<std::string> model_;
    mutable Observable<bool> hasAPIKey_;
    mutable bool hasAPIKeyKnown_ = false;
    Observable<QNCodexCLIDetection> codexDetection_;
};

}  // namespace ravlin
