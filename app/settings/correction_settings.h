#pragma once

// What the Correction pane does: the cloud and custom-prompt switches, the own provider's
// switch, provider and model, the own OpenAI key check and the Codex command-line tool's check.
// Every action writes its store and then asks for the engines to be rebuilt before it returns.
//
// The two slow checks (the key against OpenAI, the Codex tool's detection and one real
// correction) run on the work runner with a stop token this controller owns; it is stopped
// only when the controller goes (the settings view never cancels a check). Each result comes
// back through the executor to the controller, held weakly, where the currency test decides
// whether it still counts: a result is applied only while its check is the newest and the
// own-key settings still equal the snapshot taken when it began.
//
// The typed key is trimmed before the check and before it is stored; it reaches no log line,
// note or failure text. A key that still holds a line break or another hidden character is
// refused before anything is sent, and stays in the field to be mended; so does a key whose
// check failed for a reason that is not the key's (the network, a busy service).

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/composer/correction_issue.h"
#include "app/preferences/preferences.h"
#include "app/settings/byok_state.h"
#include "core/net/http_client.h"
#include "core/providers/codex-cli/detection.h"
#include "core/providers/openai/openai_key_validation.h"
#include "core/providers/openai/openai_wire.h"
#include "core/records/provider_records.h"
#include "core/records/result.h"
#include "core/support/executor.h"

namespace ravlin {

class QNCoordinatorApp;

// Why a key with a line break (or another character no key has) inside is not sent.
inline constexpr std::string_view kKeyHoldsHiddenCharacter =
    "This key has a line break or another hidden character in it. Copy the key again as one "
    "line and paste it here.";

// Everything the pane reads and calls besides its view state. The coordinator gives the live
// one (`correctionSettingsEnvironment`); tests build their own.
struct QNCorrectionSettingsEnvironment {
    std::shared_ptr<Preferences> stores;
    std::shared_ptr<Executor> executor;
    std::shared_ptr<WorkRunner> workRunner;
    // The online endpoint's status is resolved with it each time the pane is built.
    EnvironmentSnapshot processEnvironment;
    std::shared_ptr<QNCodexCLIDetector> codexCLIDetector;

    // The coordinator's operations; each holds it weakly.
    std::function<void()> reconfigureCorrectionEngines;
    std::function<void(bool force)> refreshCodexCLIDetection;
    std::function<std::optional<QNModelCorrectionIssue>()> currentCorrectionIssue;
    // The composer's warning while it is set (none before the composer exists).
    std::function<std::optional<std::string>()> correctionUnavailableWarning;
    // The live engine's availability summary.
    std::function<QNModelAvailabilitySummary()> localModelAvailability;
    // Subscribes `changed` to every value above that can change under the pane (the composer's
    // issue and warning); empty: nothing to follow.
    std::function<std::vector<Subscription>(std::function<void()> changed)> observeIssues;

    // The key check: the shared HTTP client, the service's origin and the time-out.
    std::shared_ptr<const net::HttpClient> httpClient;
    std::string openAIBaseURL{kOpenAIAPIBaseURL};
    double keyValidationTimeoutSeconds = 8.0;
    // The Codex verification run's time-out.
    double codexVerificationTimeoutSeconds = 12.0;

    // Open Terminal: the terminals tried in order (an absolute path, or a name looked up on the
    // PATH of `processEnvironment`), the folder it starts in, and how it is started (detached,
    // outcome not looked at). Empty `startDetached`: QProcess's.
    std::vector<std::string> terminalCandidates{"/usr/bin/x-terminal-emulator",
                                                "x-terminal-emulator"};
    std::string homeDirectoryPath;
    std::function<void(const std::string& program, const std::string& workingDirectory)>
        startDetached;

    // Opens the prompt editor for a slot with the engine rebuild as its change callback.
    // Empty: the program's one prompt editor window.
    std::function<void(QNStoreCustomCorrectionPrompt::Slot)> editCustomPrompt;
};

// The coordinator's stores, detector, sequence, runner and operations, each held weakly.
[[nodiscard]] QNCorrectionSettingsEnvironment correctionSettingsEnvironment(
    const std::shared_ptr<QNCoordinatorApp>& coordinator);

// The own-key settings as they stood when a check began.
struct QNBYOKValidationSnapshot {
    Uuid id;
    bool isEnabled = false;
    QNBYOKProviderKind providerKind = QNBYOKProviderKind::openai;
    // Exactly as stored, not trimmed.
    std::string model;

    friend bool operator==(const QNBYOKValidationSnapshot&,
                           const QNBYOKValidationSnapshot&) = default;
};

class QNControllerCorrectionSettings
    : public std::enable_shared_from_this<QNControllerCorrectionSettings> {
  public:
    using Slot = QNStoreCustomCorrectionPrompt::Slot;

    static constexpr std::string_view codexVerificationProviderID = "codex-cli-settings-verify";
    static constexpr std::string_view codexVerificationText = "teh verification sentence.";
    static constexpr std::int64_t codexVerificationTokens = 64;
    static constexpr std::string_view openAIModels[] = {"gpt-5-nano", "gpt-4.1-nano",
                                                        "gpt-5.4-nano", "gpt-4.1-mini"};

    // `state` is the settings view's; the controller keeps it for as long as it lives.
    QNControllerCorrectionSettings(QNCorrectionSettingsEnvironment environment,
                                   std::shared_ptr<QNModelBYOKViewState> state);
    // Stops the checks still running; their results find the controller gone.
    ~QNControllerCorrectionSettings();
    QNControllerCorrectionSettings(const QNControllerCorrectionSettings&) = delete;
    QNControllerCorrectionSettings& operator=(const QNControllerCorrectionSettings&) = delete;

    [[nodiscard]] const QNCorrectionSettingsEnvironment& environment() const { return env_; }
    [[nodiscard]] QNModelBYOKViewState& state() const { return *state_; }
    [[nodiscard]] QNStoreBringYourOwnKey& byokStore() const;
    [[nodiscard]] QNCorrectionModelMode mode() const;

    // --- What the pane shows, taken when it is built
    [[nodiscard]] QNModelAvailabilitySummary availability() const;
    [[nodiscard]] QNModelOnlineCorrectionConfigStatus onlineStatus() const;
    // The current issue's detail, else the composer's warning, else none.
    [[nodiscard]] std::optional<std::string> unavailableWarning() const;
    // Online, no online endpoint configured, the own provider on but not configured, Codex.
    [[nodiscard]] bool showsCodexSetupWarning(
        const QNModelOnlineCorrectionConfigStatus& onlineStatus) const;
    [[nodiscard]] std::vector<QNBYOKProviderKind> offeredProviderKinds() const;
    [[nodiscard]] std::string ownKeyExplanation() const;
    [[nodiscard]] bool isKeyStoredAndFieldEmpty() const;
    [[nodiscard]] bool canSaveAndVerify() const;
    [[nodiscard]] bool isValidating() const;
    [[nodiscard]] std::optional<std::string> byokStatusMessage() const;

    // --- Correction pane
    void setCloudEnabled(bool enabled);
    void setCustomPromptEnabled(bool enabled, Slot slot);
    void editCustomPrompt(Slot slot);
    // The "Advanced" section left the screen: the typed key is dropped.
    void advancedSectionDisappeared();

    // --- Own provider and model
    void setBYOKEnabled(bool enabled);
    void chooseProviderKind(QNBYOKProviderKind kind);
    void setModel(std::string_view model);

    // --- Own key
    [[nodiscard]] QNBYOKValidationSnapshot beginBYOKValidation();
    [[nodiscard]] bool isCurrentBYOKValidation(const QNBYOKValidationSnapshot& snapshot);
    void saveAndVerifyKey();
    void clearKey();
    // The key field's change handler: the user's edits only. The program's own changes of the
    // field (emptying it after a check) never reset the status.
    void keyFieldEdited(std::string text);

    // --- Codex command-line tool
    void verifyCodexCLI();
    void openTerminalForCodexLogin();
    // The first candidate that is an executable file; none when no terminal is found.
    [[nodiscard]] std::optional<std::string> terminalApplicationURL() const;
    [[nodiscard]] static std::string codexUnavailableMessage(const QNCodexCLIDetection& detection);
    void reconfigureEnginesIfOnline();

  private:
    void reconfigure();
    void renewValidation(QNModeBYOKSaveStatus status);
    void finishKeyCheck(const QNBYOKValidationSnapshot& snapshot, const std::string& key,
                        const QNOpenAIKeyValidationResult& result);
    void finishCodexDetection(const QNBYOKValidationSnapshot& snapshot,
                              const QNCodexCLIDetection& detection);
    void finishCodexRun(const QNBYOKValidationSnapshot& snapshot,
                        const QNModelCorrectionProviderResult& result);
    // Runs `job` on the work runner; what it answers is handed to `apply` on the sequence while
    // the controller lives.
    template <class Result>
    void runOffMain(std::function<Result(std::stop_token)> job,
                    std::function<void(QNControllerCorrectionSettings&, const Result&)> apply);

    QNCorrectionSettingsEnvironment env_;
    std::shared_ptr<QNModelBYOKViewState> state_;
    std::stop_source stop_;
};

}  // namespace ravlin
