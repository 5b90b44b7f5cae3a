#include "app/settings/correction_settings.h"

#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "app/composer/composer_service.h"
#include "app/preferences/custom_prompt_window.h"
#include "app/settings/settings_window.h"
#include "app/shell/coordinator.h"
#include "core/engine/correction_engine.h"
#include "core/providers/codex-cli/codex_cli_provider.h"
#include "core/providers/openai/openai_provider.h"
#include "core/records/prompt_catalogue.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Status = QNModeBYOKSaveStatus;
using Support = QNCodexCLISupportStatus;

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Whether a key (trimmed) still holds a character no key has: a line break, a tab or another
// control character, or an invisible format character (a zero-width space).
bool holdsHiddenCharacter(std::string_view key) {
    const std::u16string units = text::toUtf16(key);
    for (std::size_t index = 0; index < units.size();) {
        UChar32 point = 0;
        U16_NEXT(units.data(), index, units.size(), point);
        switch (u_charType(point)) {
            case U_CONTROL_CHAR:
            case U_FORMAT_CHAR:
            case U_LINE_SEPARATOR:
            case U_PARAGRAPH_SEPARATOR:
                return true;
            default:
                break;
        }
    }
    return false;
}

// A failure that says nothing about the key itself: the person keeps what they typed.
bool isServiceOrNetworkFailure(const QNErrorOpenAIKeyValidation& error) {
    using ErrorKind = QNErrorOpenAIKeyValidation::Kind;
    switch (error.kind) {
        case ErrorKind::network:
        case ErrorKind::timedOut:
        case ErrorKind::cancelled:
        case ErrorKind::invalidResponse:
        case ErrorKind::rateLimited:
            return true;
        case ErrorKind::serverError:
            return error.status >= 500;
        case ErrorKind::empty:
        case ErrorKind::invalidKey:
        case ErrorKind::forbidden:
            return false;
    }
    return false;
}

std::string installText() {
    return "Install Codex CLI " + std::string(kCodexCLIMinimumSupportedVersionString) +
           " or newer.";
}

}  // namespace

QNCorrectionSettingsEnvironment correctionSettingsEnvironment(
    const std::shared_ptr<QNCoordinatorApp>& coordinator) {
    const std::weak_ptr<QNCoordinatorApp> weak = coordinator;
    QNCorrectionSettingsEnvironment env;
    env.stores = coordinator->stores;
    env.executor = coordinator->environment().executor;
    env.workRunner = coordinator->environment().workRunner;
    env.processEnvironment = coordinator->environment().processEnvironment;
    env.codexCLIDetector = coordinator->codexCLIDetector;
    env.reconfigureCorrectionEngines = [weak] {
        if (auto live = weak.lock()) {
            live->reconfigureCorrectionEngines();
        }
    };
    env.refreshCodexCLIDetection = [weak](bool force) {
        if (auto live = weak.lock()) {
            live->refreshCodexCLIDetection(force);
        }
    };
    env.currentCorrectionIssue = [weak]() -> std::optional<QNModelCorrectionIssue> {
        auto live = weak.lock();
        return live ? live->currentCorrectionIssue() : std::nullopt;
    };
    env.correctionUnavailableWarning = [weak]() -> std::optional<std::string> {
        auto live = weak.lock();
        if (!live || !live->composer) {
            return std::nullopt;
        }
        return live->composer->correctionUnavailableWarning.get();
    };
    env.localModelAvailability = [weak] {
        auto live = weak.lock();
        return live && live->liveEngine ? live->liveEngine->availabilitySummary()
                                        : QNModelAvailabilitySummary{};
    };
    env.observeIssues = [weak](std::function<void()> changed) {
        std::vector<Subscription> subscriptions;
        auto live = weak.lock();
        if (live && live->composer) {
            subscriptions.push_back(
                live->composer->correctionIssue.observe([changed](const auto&) { changed(); }));
            subscriptions.push_back(live->composer->correctionUnavailableWarning.observe(
                [changed](const auto&) { changed(); }));
        }
        return subscriptions;
    };
    return env;
}

QNControllerCorrectionSettings::QNControllerCorrectionSettings(
    QNCorrectionSettingsEnvironment environment, std::shared_ptr<QNModelBYOKViewState> state)
    : env_(std::move(environment)), state_(std::move(state)) {
    if (!env_.httpClient) {
        env_.httpClient = net::HttpClient::shared();
    }
    if (env_.homeDirectoryPath.empty()) {
        env_.homeDirectoryPath = QDir::homePath().toStdString();
    }
    if (!env_.startDetached) {
        env_.startDetached = [](const std::string& program, const std::string& folder) {
            QProcess::startDetached(QString::fromStdString(program), QStringList{},
                                    QString::fromStdString(folder));
        };
    }
    if (!env_.editCustomPrompt) {
        env_.editCustomPrompt = [stores = env_.stores,
                                 reconfigure = env_.reconfigureCorrectionEngines](Slot slot) {
            // Beside the settings window, where its Edit button was clicked.
            QNControllerCustomPromptWindow::shared().show(
                slot, stores->customCorrectionPrompt, reconfigure,
                QNControllerSettingsWindow::shared().window());
        };
    }
}

QNControllerCorrectionSettings::~QNControllerCorrectionSettings() {
    stop_.request_stop();
}

QNStoreBringYourOwnKey& QNControllerCorrectionSettings::byokStore() const {
    return *env_.stores->bringYourOwnKey;
}

QNCorrectionModelMode QNControllerCorrectionSettings::mode() const {
    return env_.stores->correctionModelMode->mode().get();
}

// --- What the pane shows

QNModelAvailabilitySummary QNControllerCorrectionSettings::availability() const {
    return env_.localModelAvailability ? env_.localModelAvailability()
                                       : QNModelAvailabilitySummary{};
}

QNModelOnlineCorrectionConfigStatus QNControllerCorrectionSettings::onlineStatus() const {
    return QNModelOnlineCorrectionConfigStatus(*env_.stores->onlineCorrectionConfig,
                                               env_.processEnvironment);
}

std::optional<std::string> QNControllerCorrectionSettings::unavailableWarning() const {
    if (env_.currentCorrectionIssue) {
        if (auto issue = env_.currentCorrectionIssue()) {
            return issue->detail;
        }
    }
    if (env_.correctionUnavailableWarning) {
        return env_.correctionUnavailableWarning();
    }
    return std::nullopt;
}

bool QNControllerCorrectionSettings::showsCodexSetupWarning(
    const QNModelOnlineCorrectionConfigStatus& onlineStatus) const {
    const auto& byok = byokStore();
    return mode() == QNCorrectionModelMode::online && !onlineStatus.isConfigured() &&
           !byok.isConfigured() && byok.isEnabled().get() &&
           byok.providerKind().get() == QNBYOKProviderKind::codexCLI;
}

std::vector<QNBYOKProviderKind> QNControllerCorrectionSettings::offeredProviderKinds() const {
    const auto& byok = byokStore();
    std::vector<QNBYOKProviderKind> kinds{QNBYOKProviderKind::openai};
    if (byok.providerKind().get() == QNBYOKProviderKind::codexCLI ||
        byok.codexDetection().get().isAvailable()) {
        kinds.push_back(QNBYOKProviderKind::codexCLI);
    }
    return kinds;
}

std::string QNControllerCorrectionSettings::ownKeyExplanation() const {
    const auto& byok = byokStore();
    if (byok.isEnabled().get() && byok.providerKind().get() == QNBYOKProviderKind::codexCLI) {
        return "Codex CLI uses your existing local codex login. Ravlin does not store an API key "
               "or Codex credentials; open Terminal to run codex login or manage the CLI.";
    }
    return "Requests go directly to " + net::hostOfURL(kOpenAIAPIBaseURL).value_or("") +
           " using your key. The key is stored in the macOS Keychain on this Mac only and never "
           "leaves the device except in calls to OpenAI.";
}

bool QNControllerCorrectionSettings::isKeyStoredAndFieldEmpty() const {
    return byokStore().hasAPIKey().get() && text::trimmed(state_->byokKeyInput.get()).empty();
}

bool QNControllerCorrectionSettings::canSaveAndVerify() const {
    return !isValidating() && !text::trimmed(state_->byokKeyInput.get()).empty();
}

bool QNControllerCorrectionSettings::isValidating() const {
    return state_->byokSaveStatus.get().kind == Status::Kind::validating;
}

std::optional<std::string> QNControllerCorrectionSettings::byokStatusMessage() const {
    const auto& status = state_->byokSaveStatus.get();
    switch (status.kind) {
        case Status::Kind::idle:
        case Status::Kind::validating:
            return std::nullopt;
        case Status::Kind::failed:
            return status.message;
        case Status::Kind::succeeded:
            break;
    }
    if (byokStore().providerKind().get() == QNBYOKProviderKind::codexCLI) {
        return std::nullopt;
    }
    return mode() == QNCorrectionModelMode::online
               ? std::string("Key saved to Keychain.")
               : std::string("Key saved. You can now turn on cloud AI.");
}

// --- Correction pane

void QNControllerCorrectionSettings::reconfigure() {
    if (env_.reconfigureCorrectionEngines) {
        env_.reconfigureCorrectionEngines();
    }
}

void QNControllerCorrectionSettings::setCloudEnabled(bool enabled) {
    env_.stores->correctionModelMode->setMode(enabled ? QNCorrectionModelMode::online
                                                      : QNCorrectionModelMode::local);
    reconfigure();
}

void QNControllerCorrectionSettings::setCustomPromptEnabled(bool enabled, Slot slot) {
    env_.stores->customCorrectionPrompt->setEnabled(enabled, slot);
    reconfigure();
}

void QNControllerCorrectionSettings::editCustomPrompt(Slot slot) {
    env_.editCustomPrompt(slot);
}

void QNControllerCorrectionSettings::advancedSectionDisappeared() {
    state_->byokKeyInput.set({});
}

// --- Own provider and model

void QNControllerCorrectionSettings::renewValidation(QNModeBYOKSaveStatus status) {
    state_->byokValidationID.set(Uuid::random());
    state_->byokSaveStatus.set(std::move(status));
}

void QNControllerCorrectionSettings::setBYOKEnabled(bool enabled) {
    byokStore().setEnabled(enabled);
    if (!enabled) {
        renewValidation(Status::idle());
        state_->byokKeyInput.set({});
    }
    reconfigure();
}

void QNControllerCorrectionSettings::chooseProviderKind(QNBYOKProviderKind kind) {
    if (isValidating() || kind == byokStore().providerKind().get()) {
        return;
    }
    state_->byokKeyInput.set({});
    renewValidation(Status::idle());
    byokStore().setProviderKind(kind);
    if (kind == QNBYOKProviderKind::codexCLI && env_.refreshCodexCLIDetection) {
        // After this action returns, as a task of its own.
        env_.executor->post([refresh = env_.refreshCodexCLIDetection] { refresh(true); });
    }
    reconfigure();
}

void QNControllerCorrectionSettings::setModel(std::string_view model) {
    if (isValidating()) {
        return;
    }
    byokStore().setModel(model);
    renewValidation(Status::idle());
    reconfigure();
}

// --- Checks

template <class Result>
void QNControllerCorrectionSettings::runOffMain(
    std::function<Result(std::stop_token)> job,
    std::function<void(QNControllerCorrectionSettings&, const Result&)> apply) {
    env_.workRunner->run([job = std::move(job), apply = std::move(apply), stop = stop_.get_token(),
                          executor = env_.executor, owner = weak_from_this()]() mutable {
        Result result = job(stop);
        executor->post([apply = std::move(apply), owner, result = std::move(result)] {
            if (auto self = owner.lock()) {
                apply(*self, result);
            }
        });
    });
}

QNBYOKValidationSnapshot QNControllerCorrectionSettings::beginBYOKValidation() {
    const auto& byok = byokStore();
    QNBYOKValidationSnapshot snapshot{Uuid::random(), byok.isEnabled().get(),
                                      byok.providerKind().get(), byok.model().get()};
    state_->byokValidationID.set(snapshot.id);
    state_->byokSaveStatus.set(Status::validating());
    return snapshot;
}

bool QNControllerCorrectionSettings::isCurrentBYOKValidation(
    const QNBYOKValidationSnapshot& snapshot) {
    if (state_->byokValidationID.get() != snapshot.id || !isValidating()) {
        return false;
    }
    const auto& byok = byokStore();
    if (byok.isEnabled().get() == snapshot.isEnabled &&
        byok.providerKind().get() == snapshot.providerKind &&
        byok.model().get() == snapshot.model) {
        return true;
    }
    state_->byokSaveStatus.set(Status::idle());
    return false;
}

void QNControllerCorrectionSettings::saveAndVerifyKey() {
    std::string key = text::trimmed(state_->byokKeyInput.get());
    if (key.empty()) {
        return;
    }
    const auto snapshot = beginBYOKValidation();
    if (byokStore().providerKind().get() == QNBYOKProviderKind::codexCLI) {
        state_->byokKeyInput.set({});
        state_->byokSaveStatus.set(Status::failed("Codex CLI does not use an API key."));
        return;
    }
    // A key copied across a line break cannot be sent; the person fixes it in the field.
    if (holdsHiddenCharacter(key)) {
        state_->byokSaveStatus.set(Status::failed(std::string(kKeyHoldsHiddenCharacter)));
        return;
    }
    runOffMain<QNOpenAIKeyValidationResult>(
        [key, client = env_.httpClient, baseURL = env_.openAIBaseURL,
         timeout = env_.keyValidationTimeoutSeconds](std::stop_token stop) {
            return QNProviderOpenAICorrection::validateAPIKey(key, *client, timeout, stop, baseURL);
        },
        [snapshot, key](QNControllerCorrectionSettings& self,
                        const QNOpenAIKeyValidationResult& result) {
            self.finishKeyCheck(snapshot, key, result);
        });
}

void QNControllerCorrectionSettings::finishKeyCheck(const QNBYOKValidationSnapshot& snapshot,
                                                    const std::string& key,
                                                    const QNOpenAIKeyValidationResult& result) {
    if (!isCurrentBYOKValidation(snapshot) ||
        byokStore().providerKind().get() != QNBYOKProviderKind::openai) {
        state_->byokKeyInput.set({});
        return;
    }
    if (const auto& error = result.error()) {
        // A key refused by OpenAI goes; one that never reached it (or met a busy service)
        // stays for the next try.
        if (!isServiceOrNetworkFailure(*error)) {
            state_->byokKeyInput.set({});
        }
        state_->byokSaveStatus.set(Status::failed(error->displayMessage()));
        return;
    }
    if (!byokStore().setAPIKey(key)) {
        // The typed key stays in the field so the user can try again.
        state_->byokSaveStatus.set(Status::failed("Could not save key to Keychain."));
        return;
    }
    byokStore().setEnabled(true);
    state_->byokKeyInput.set({});
    state_->byokSaveStatus.set(Status::succeeded());
    reconfigure();
}

void QNControllerCorrectionSettings::clearKey() {
    (void)byokStore().setAPIKey("");
    state_->byokKeyInput.set({});
    renewValidation(Status::idle());
    reconfigure();
}

void QNControllerCorrectionSettings::keyFieldEdited(std::string text) {
    state_->byokKeyInput.set(std::move(text));
    const auto kind = state_->byokSaveStatus.get().kind;
    if (kind == Status::Kind::failed || kind == Status::Kind::succeeded) {
        renewValidation(Status::idle());
    }
}

// --- Codex command-line tool

std::string QNControllerCorrectionSettings::codexUnavailableMessage(
    const QNCodexCLIDetection& detection) {
    switch (detection.supportStatus) {
        case Support::supported:
        case Support::missing:
        case Support::pathResolutionFailed:
            return "A supported Codex CLI executable was not found.";
        case Support::unsupportedVersion:
        case Support::unparsableVersion:
            return installText();
        case Support::versionCheckFailed:
            return "Version check failed";
        case Support::unsupportedPlatform:
            return "macOS only";
    }
    return "A supported Codex CLI executable was not found.";
}

void QNControllerCorrectionSettings::reconfigureEnginesIfOnline() {
    if (mode() == QNCorrectionModelMode::online) {
        reconfigure();
    }
}

void QNControllerCorrectionSettings::verifyCodexCLI() {
    state_->byokKeyInput.set({});
    const auto snapshot = beginBYOKValidation();
    runOffMain<QNCodexCLIDetection>(
        [detector = env_.codexCLIDetector](std::stop_token) {
            return detector ? detector->refresh(true) : QNCodexCLIDetection{};
        },
        [snapshot](QNControllerCorrectionSettings& self, const QNCodexCLIDetection& detection) {
            self.finishCodexDetection(snapshot, detection);
        });
}

void QNControllerCorrectionSettings::finishCodexDetection(const QNBYOKValidationSnapshot& snapshot,
                                                          const QNCodexCLIDetection& detection) {
    auto& byok = byokStore();
    if (!isCurrentBYOKValidation(snapshot) ||
        byok.providerKind().get() != QNBYOKProviderKind::codexCLI) {
        return;
    }
    const QNCodexCLIDetection stored = byok.codexDetection().get();
    const bool configuredChanged = stored.isConfigured() != detection.isConfigured();
    if (stored != detection) {
        byok.setCodexDetection(detection);
    }
    if (configuredChanged) {
        reconfigureEnginesIfOnline();
    }
    if (!detection.isAvailable()) {
        state_->byokSaveStatus.set(Status::failed(codexUnavailableMessage(detection)));
        return;
    }
    if (detection.loginState != QNCodexCLILoginState::loggedIn) {
        state_->byokSaveStatus.set(
            Status::failed("Codex CLI is installed, but codex login has not been completed."));
        return;
    }
    QNProviderCodexCLICorrection::Configuration configuration{
        .executablePath = detection.executablePath,
        .detection = detection,
        .model = text::trimmedNonEmpty(snapshot.model),
        .timeoutSeconds = env_.codexVerificationTimeoutSeconds,
        .providerID = std::string(codexVerificationProviderID)};
    auto provider = std::make_shared<QNProviderCodexCLICorrection>(
        std::move(configuration),
        QNModelCorrectionPrompt::recommended(QNModelCorrectionPromptUseCase::online));
    runOffMain<QNModelCorrectionProviderResult>(
        [provider](std::stop_token stop) {
            return provider->generateCorrection(
                QNModelCorrectionRequest(text::toUtf16(codexVerificationText),
                                         codexVerificationTokens),
                stop);
        },
        [snapshot](QNControllerCorrectionSettings& self,
                   const QNModelCorrectionProviderResult& result) {
            self.finishCodexRun(snapshot, result);
        });
}

void QNControllerCorrectionSettings::finishCodexRun(const QNBYOKValidationSnapshot& snapshot,
                                                    const QNModelCorrectionProviderResult& result) {
    if (!isCurrentBYOKValidation(snapshot) ||
        byokStore().providerKind().get() != QNBYOKProviderKind::codexCLI) {
        return;
    }
    using Kind = QNModelCorrectionProviderResult::Kind;
    switch (result.kind()) {
        case Kind::success:
            state_->byokSaveStatus.set(Status::succeeded());
            return;
        case Kind::unavailable:
        case Kind::failed:
            state_->byokSaveStatus.set(
                Status::failed("Codex CLI verification failed: " + *result.message()));
            return;
        case Kind::cancelled:
            state_->byokSaveStatus.set(Status::failed("Codex CLI verification was cancelled."));
            return;
    }
}

std::optional<std::string> QNControllerCorrectionSettings::terminalApplicationURL() const {
    for (const auto& candidate : env_.terminalCandidates) {
        if (candidate.find('/') != std::string::npos) {
            if (isExecutableFile(candidate)) {
                return candidate;
            }
            continue;
        }
        const auto path = env_.processEnvironment.find("PATH");
        if (path == env_.processEnvironment.end()) {
            continue;
        }
        std::string_view folders = path->second;
        while (!folders.empty()) {
            const auto end = folders.find(':');
            const auto folder = folders.substr(0, end);
            folders = end == std::string_view::npos ? std::string_view{} : folders.substr(end + 1);
            if (folder.empty()) {
                continue;  // an empty entry would mean the working folder: never trusted here
            }
            std::string full = std::string(folder) + "/" + candidate;
            if (isExecutableFile(full)) {
                return full;
            }
        }
    }
    return std::nullopt;
}

void QNControllerCorrectionSettings::openTerminalForCodexLogin() {
    state_->byokKeyInput.set({});
    renewValidation(Status::idle());
    if (const auto terminal = terminalApplicationURL()) {
        env_.startDetached(*terminal, env_.homeDirectoryPath);
        return;
    }
    state_->byokSaveStatus.set(
        Status::failed("Could not open Terminal. Open Terminal manually and run codex login."));
}

}  // namespace ravlin
