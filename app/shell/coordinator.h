#pragma once

// The coordinator: the one long-lived object of the application. Its construction makes every
// store, both correction engines, the scheduler, the Codex detector, the Composer's editor and
// panel and the session log; `start()` wires them together, builds the composer service, the
// tray menu and the update service and registers the keyboard triggers. The Composer and Quick
// Fix sessions run from it, from the trigger to the commit.
//
// Everything here runs on the main sequence. Every closure the coordinator hands out holds it
// weakly and does nothing (or answers its empty value) once it is gone.
//
// The members are grouped by concern and live in several files:
//   coordinator.cpp     construction, start-up, the shared helpers
//   trigger_registration.cpp   the triggers, their settings and Accessibility changes
//   routing.cpp         engine routing, availability, correction issues, Codex detection
//   sessions.cpp        the Composer and Quick Fix sessions
//   menu_actions.cpp    the tray menu and its actions

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include <QPointer>

#include "app/composer/correction_buffers.h"
#include "app/composer/correction_issue.h"
#include "app/log/event_logger.h"
#include "app/preferences/build_config.h"
#include "app/preferences/defaults.h"
#include "app/preferences/hot_key.h"
#include "app/preferences/preferences.h"
#include "app/settings/settings_pane.h"
#include "app/shell/permissions.h"
#include "app/shell/triggers/hot_key.h"
#include "app/support/app_context.h"
#include "app/target/pasteboard_snapshot.h"
#include "core/providers/codex-cli/detection.h"
#include "core/support/clock.h"
#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

class QNControllerAutoCorrectingText;
class QNControllerMenuBar;
class QNEngineCorrection;
class QNModelComposerBorderAnimationTrigger;
class QNPanelComposition;
class QNProviderCorrectionModel;
class QNServiceComposer;
class QNServiceCorrectionEngineFactory;
class QNServiceCorrectionScheduler;
class QNServiceUpdate;
class QNTriggerDoubleTap;
class QNTriggerQuickFixDoubleTap;
class QNViewComposition;
class QNQuickFixHUDController;
class QNQuickFixPasteboardManager;

// Everything the coordinator works with that comes from outside: the desktop, the defaults, the
// process environment, the main sequence and the runner for blocking work, and the few program
// windows it asks for. Tests build their own over the simulated desktop.
struct QNCoordinatorEnvironment {
    platform::Seams seams;
    std::shared_ptr<Defaults> defaults;
    EnvironmentSnapshot processEnvironment;
    std::shared_ptr<Executor> executor;
    std::shared_ptr<WorkRunner> workRunner;
    // The clock of the session log.
    std::shared_ptr<Clock> clock;
    QNConfigBuild buildConfig = QNConfigBuild::standard();
    // This process, whose own windows the triggers never read.
    platform::ProcessID ownPid = 0;

    // The on-device provider for a prompt (the engines' default primary and fallback). Empty:
    // the core's own, unavailable on this desktop.
    std::function<std::shared_ptr<QNProviderCorrectionModel>(const std::string& prompt)>
        foundationModels;
    // How the Codex command-line tool is found. Empty: the standard places and commands.
    std::optional<QNCodexCLIDetector::Configuration> codexDetectorConfiguration;
    // When the program becomes active (the permission monitor re-checks then). Empty: Qt's.
    QNServiceAccessibilityPermissions::ActivationSource activation;

    // Shows the settings window; no pane keeps the last one selected.
    std::function<void(std::optional<QNModelSettingsPane>)> showSettingsWindow;
    // Whether one of this program's document windows is the key window.
    std::function<bool()> isDocumentWindow;
    // Ends the program (the menu's Quit). Empty: the Qt application's quit.
    std::function<void()> quit;
};

class QNCoordinatorApp : public std::enable_shared_from_this<QNCoordinatorApp> {
  public:
    static constexpr const char* logSubsystem = "io.quen.ravlin.AppRavlinInput";
    static constexpr const char* logCategory = "Coordinator";

    // The construction steps, in order; `start()` is not called.
    [[nodiscard]] static std::shared_ptr<QNCoordinatorApp> create(QNCoordinatorEnvironment env);
    ~QNCoordinatorApp();
    QNCoordinatorApp(const QNCoordinatorApp&) = delete;
    QNCoordinatorApp& operator=(const QNCoordinatorApp&) = delete;

    // The one the program made (none in tests and before the program made it).
    [[nodiscard]] static std::shared_ptr<QNCoordinatorApp> shared();
    static void setShared(const std::shared_ptr<QNCoordinatorApp>& coordinator);

    // Once, on the main sequence.
    void start();
    // The event loop has ended: a paste or Quick Fix left in the middle puts the user's
    // pasteboard back now, as does a restore still counting down; then every flow is stopped
    // (the open's and the Quick Fix's captures, the commit's paste, the write-back, the watch
    // for a late copy, the clipboard reads they wait on, the Composer's corrections, the
    // heads-up's dismissal). Their waits end on the sequence's next turns, where each flow ends
    // without touching anything: the caller drains the sequence (QtExecutor::drain).
    void willTerminate();

    [[nodiscard]] const QNCoordinatorEnvironment& environment() const { return env_; }
    // The bundle the target-side services are made from.
    [[nodiscard]] AppContext context() const;

    // --- Fields, in order
    std::shared_ptr<QNServiceAccessibilityPermissions> permissions;
    std::shared_ptr<QNLoggerEvent> logger;
    std::shared_ptr<QNEngineCorrection> liveEngine;
    std::shared_ptr<QNEngineCorrection> polishEngine;
    // Every store (hot key, double tap, Quick Fix, launch at login, correction mode, online
    // configuration, own key, custom prompts, font size) over the defaults.
    std::shared_ptr<Preferences> stores;
    // Made on first use.
    [[nodiscard]] QNServiceCorrectionEngineFactory& correctionEngineFactory();
    std::shared_ptr<QNServiceCorrectionScheduler> correctionScheduler;
    std::shared_ptr<QNCodexCLIDetector> codexCLIDetector;
    // Made on first use.
    [[nodiscard]] QNServiceUpdate& updateChecker();
    std::shared_ptr<QNControllerMenuBar> menuBar;
    std::unique_ptr<QNHandleHotKey> hotKey;
    std::unique_ptr<QNTriggerDoubleTap> doubleTap;
    std::unique_ptr<QNTriggerQuickFixDoubleTap> quickFixDoubleTap;
    std::shared_ptr<QNControllerAutoCorrectingText> textController;
    std::shared_ptr<QNServiceComposer> composer;
    std::unique_ptr<QNPanelComposition> panel;
    // Owned by the panel once installed.
    QPointer<QNViewComposition> hostingView;
    std::shared_ptr<QNModelComposerBorderAnimationTrigger> composerBorderAnimationTrigger;
    bool isPanelOpen = false;
    bool isOpeningPanel = false;
    std::optional<platform::RunningApplication> sourceApp;
    // The window of it the panel was opened over (where the desktop tells), and the field there
    // (where accessibility found it): the commit pastes only while the keyboard is there.
    QNPastePlace sourcePlace;
    // The selection the open session was seeded from, which its commit pastes over.
    std::optional<QNPasteSelection> sourceSelection;
    // The text the open Quick Fix session read from its field. The field still holds it: left
    // unchanged in the panel it is no draft to keep.
    std::optional<std::u16string> quickFixCapturedText;
    bool isCommitting = false;
    // A Composer trigger came while a commit or a Quick Fix write-back ran (a new panel would
    // take the focus the paste is aimed at): its word, the Composer opens once that has ended.
    std::optional<std::string> openAfterCommit;
    std::optional<std::u16string> preservedDraft;
    QNComposerCorrectionPolicy preservedDraftCorrectionPolicy =
        QNComposerCorrectionPolicy::liveTyping;
    // Where a draft made of a Quick Fix's correction goes: over the text the Quick Fix read, in
    // its application, once Return finds that text there again (never as a new copy beside it).
    struct DraftPlace {
        platform::RunningApplication app;
        QNPasteSelection replacing;
    };
    // The kept draft's place; none: it is pasted wherever the Composer opens.
    std::optional<DraftPlace> preservedDraftPlace;
    // The open session's: the place its text is kept with when the session ends without it
    // arriving.
    std::optional<DraftPlace> sessionDraftPlace;
    int panelSessionCounter = 0;
    std::optional<std::string> panelSessionID;
    // The pending Quick Fix auto-commit: its stop and whether it still runs.
    struct AutoCommitTask {
        std::stop_source stop;
        std::shared_ptr<bool> running = std::make_shared<bool>(true);
    };
    std::optional<AutoCommitTask> quickFixAutoCommitTask;
    std::optional<std::string> quickFixAutoCommitSessionID;

    // --- Trigger registration and Accessibility changes
    [[nodiscard]] std::unique_ptr<QNHandleHotKey> makeHotKey(const QNConfigHotKey& config);
    [[nodiscard]] std::unique_ptr<QNTriggerDoubleTap> makeDoubleTap(std::uint32_t keyCode);
    bool updateHotKey(const QNConfigHotKey& config);
    void setDoubleTapEnabled(std::optional<std::uint32_t> keyCode, std::optional<bool> isEnabled);
    void setQuickFixEnabled(std::optional<std::uint32_t> keyCode, std::optional<bool> isEnabled);
    void handleAccessibilityChange(bool isTrusted);
    // The seam's check without the prompt, handed to the monitor.
    bool freshTrustCheck();

    // --- Engine routing, availability and correction issues
    void reconfigureCorrectionEngines();
    // The polish engine re-routed for a chunk of `chunkCharCount` characters; the route line.
    std::string reroutePolishEngine(std::int64_t chunkCharCount);
    // Probes off the main sequence; the answer comes back through reportCodexCLIDetection.
    void refreshCodexCLIDetection(bool force = true);
    void reportCodexCLIDetection(const QNCodexCLIDetection& detection);
    // The composer's issue (none of the online route's while correcting locally); with cloud
    // correction on and no cloud route set up, when the composer has none, that it is not set up.
    [[nodiscard]] std::optional<QNModelCorrectionIssue> currentCorrectionIssue();
    // Whether any cloud route is set up: the generic endpoint, the own provider, the hosted service.
    [[nodiscard]] bool isCloudRouteConfigured();
    // The issue that says cloud correction is on and not set up ("Cloud not set up - using
    // local" in the menu).
    [[nodiscard]] static QNModelCorrectionIssue cloudNotSetUpIssue();
    void logEngineAvailability();
    void applyComposerFontSize(QNComposerFontSize size);
    // The editor's point size for a font size index.
    [[nodiscard]] static double composerPointSize(QNComposerFontSize size);

    // --- Composer and Quick Fix sessions
    void toggleHotkey(std::string trigger);
    void dismissPanel(std::string reason);
    // The panel's commit key or the editor's Return, while the panel is open and no commit runs.
    void requestCommit();
    void handleQuickFixTrigger(std::string source);
    void cancelQuickFixAutoCommit();

    // --- Tray menu and its actions
    void refreshMenu();
    void toggleCloudAI();
    void newTextDocument();
    void openTextFile();

    // --- Logs
    void logSystem(platform::LogLevel level, std::string message) const;
    void logSession(QNKindLog kind, std::string_view message,
                    QNLogIssuePolicy policy = QNLogIssuePolicy::automatic) const;

  private:
    explicit QNCoordinatorApp(QNCoordinatorEnvironment env);
    void construct();

    // Start-up steps resting on the menu and the update service.
    void buildMenuBar();
    void startUpdater();
    // Start-up registration of the three triggers.
    void registerTriggersAtStartUp();
    // As the Composer opens: with cloud correction on and no cloud route set up, a heads-up says
    // so, once after each change of the routes (it takes no focus).
    void sayCloudNotSetUpOnce();

    QNCoordinatorEnvironment env_;
    // Requested by willTerminate: the sessions' flows end at their next wait, and so do the
    // waits on the desktop they are in (TargetSeams::ending).
    std::stop_source ending_;
    // Requested as the coordinator goes: the last work of the end (a commit cut short saving the
    // user's clipboard to leave its text beside it) stops waiting then.
    std::stop_source gone_;
    std::unique_ptr<QNServiceCorrectionEngineFactory> correctionEngineFactory_;
    std::shared_ptr<QNServiceUpdate> updateChecker_;
    // Says in the session log when the settings stop being saved, or were written again.
    Subscription saveProblemLog_;
    Subscription settingsNoticeLog_;

    // --- Session internals (sessions.cpp, sessions_quick_fix.cpp, session_flows.h)
    struct SessionFlows;
    friend struct SessionFlows;
    // Made on first use: the Quick Fix heads-up and the deferred pasteboard restore.
    std::shared_ptr<QNQuickFixHUDController> quickFixHUD_;
    std::shared_ptr<QNQuickFixPasteboardManager> quickFixPasteboardManager_;
    // What goes wrong with the clipboard out of sight of any flow, into the session log.
    Subscription clipboardTrouble_;
    // From a typed pair's BackSpaces (or a shortcut's reading of the focused field) until the
    // panel has the keyboard: the keys typed meanwhile, held for the panel.
    // (shared with the caret probe that types through it while the focus is captured)
    std::shared_ptr<platform::KeyHold> heldKeys_;
    // From the panel's opening: its time, the watch for any input of the person's (ended once
    // one came), and how often the panel has taken the keyboard back from the window it was
    // opened over (SessionFlows::takeKeyboardBack).
    Instant panelOpenedAt_{};
    platform::KeyTap panelLeaveTap_;
    bool personMayHaveLeftPanel_ = false;
    // The keys typed since (no Ctrl, Alt or Super) as the taps saw them, and those of them our
    // own windows got: one that went elsewhere was the person leaving.
    std::uint64_t panelKeysTyped_ = 0;
    std::uint64_t panelKeysTypedInto_ = 0;
    Subscription panelKeysSeen_;
    int panelKeyboardTakenBack_ = 0;
    // The Composer's heads-up said that cloud correction is not set up, since the last change
    // of the routes (said once, at the first opening after it).
    bool saidCloudNotSetUp_ = false;
};

}  // namespace ravlin
