#include "app/shell/coordinator.h"

#include <QWidget>
#include <algorithm>

#include "app/composer/composer_service.h"
#include "app/composer/provider_routing.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/correction_scheduler.h"
#include "app/editor/panel_composition.h"
#include "app/editor/spell_check_filter.h"
#include "app/editor/view_composition.h"
#include "app/shell/session_flows.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "app/target/focus_snapshot.h"
#include "app/target/quick_fix_hud.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/engine/correction_engine.h"
#include "core/records/prompt_catalogue.h"

namespace ravlin {
namespace {

std::weak_ptr<QNCoordinatorApp>& sharedInstance() {
    static std::weak_ptr<QNCoordinatorApp> instance;
    return instance;
}

// The narrowest the panel gets, and the lowest.
constexpr double panelMinimumHeightFloor = 40;

}  // namespace

std::shared_ptr<QNCoordinatorApp> QNCoordinatorApp::create(QNCoordinatorEnvironment env) {
    std::shared_ptr<QNCoordinatorApp> coordinator(new QNCoordinatorApp(std::move(env)));
    coordinator->construct();
    return coordinator;
}

QNCoordinatorApp::QNCoordinatorApp(QNCoordinatorEnvironment env) : env_(std::move(env)) {}

QNCoordinatorApp::~QNCoordinatorApp() {
    gone_.request_stop();
    // The triggers go first: none of them may fire into a half-released coordinator.
    hotKey.reset();
    doubleTap.reset();
    quickFixDoubleTap.reset();
    if (permissions) {
        permissions->onChange = nullptr;
    }
    // The editor's callbacks reach the composer and the panel; the panel owns the hosting view.
    composer.reset();
    panel.reset();
}

void QNCoordinatorApp::willTerminate() {
    // Keys held for a panel go to whatever has the keyboard.
    heldKeys_.reset();
    // The user's clipboard first: whatever a flow borrowed goes back now, before any flow could
    // resume.
    if (quickFixPasteboardManager_) {
        quickFixPasteboardManager_->restoreBeforeExit();
    }
    // Every session flow ends at its next wait (the waits end at once), without touching the
    // desktop again.
    ending_.request_stop();
    cancelQuickFixAutoCommit();
    // The heads-up's dismissal and the Composer's pending corrections end now (on the
    // sequence's next turn) rather than never.
    if (quickFixHUD_) {
        quickFixHUD_->panel().dismiss();
    }
    if (composer) {
        composer->cancelCorrections("quit");
    }
    // The panel goes now, and its animations with it.
    if (isPanelOpen) {
        isPanelOpen = false;
        SessionFlows::closePanelWindow(*this);
    }
}

std::shared_ptr<QNCoordinatorApp> QNCoordinatorApp::shared() {
    return sharedInstance().lock();
}

void QNCoordinatorApp::setShared(const std::shared_ptr<QNCoordinatorApp>& coordinator) {
    sharedInstance() = coordinator;
}

void QNCoordinatorApp::construct() {
    // 1-2. The trust monitor, then the session log.
    permissions =
        QNServiceAccessibilityPermissions::create(env_.seams, env_.executor, env_.activation);
    logger = std::make_shared<QNLoggerEvent>(env_.defaults, env_.clock);
    // 3-4. Both engines with their recommended prompts; without a primary the engine corrects
    // on the device.
    const auto makeEngine = [this](QNModelCorrectionPromptUseCase useCase) {
        auto prompt = QNModelCorrectionPrompt::recommended(useCase);
        auto primary = env_.foundationModels ? env_.foundationModels(prompt) : nullptr;
        return std::make_shared<QNEngineCorrection>(std::move(prompt), std::move(primary), nullptr,
                                                    QNServicePrivacyLogger::shared());
    };
    liveEngine = makeEngine(QNModelCorrectionPromptUseCase::local);
    polishEngine = makeEngine(QNModelCorrectionPromptUseCase::online);
    // Settings that cannot be saved, and stored shortcuts set aside for their defaults, are
    // issues of the session log.
    const auto logIssue = [logger = logger](const std::string& line) {
        logger->log(QNKindLog::error, line);
    };
    const auto logSaveProblem = [logIssue](const std::optional<std::string>& problem) {
        if (problem) {
            logIssue(*problem);
        }
    };
    logSaveProblem(env_.defaults->saveProblem().get());
    saveProblemLog_ = env_.defaults->saveProblem().observe(logSaveProblem);
    // A settings file written again is no failure, but the person hears of it in the log
    // whether or not its window was open.
    settingsNoticeLog_ =
        env_.defaults->observeNotices([logger = logger](const std::string& line) {
            logger->log(QNKindLog::system, line, std::nullopt, {}, {}, QNLogIssuePolicy::always);
        });
    // 5-10 and 14. Every store over the defaults, the environment, the keyring and the login item.
    stores = makePreferences(env_.defaults, env_.processEnvironment, env_.seams, logIssue);
    // 11. The engine factory is made on first use.
    // 12-13.
    correctionScheduler = std::make_shared<QNServiceCorrectionScheduler>(
        QNModelCorrectionSchedulerConfiguration{.maximumQueuedLiveJobs = 8,
                                                .maximumQueuedFoundationModelsPolishJobs = 2},
        env_.executor);
    codexCLIDetector = std::make_shared<QNCodexCLIDetector>(
        env_.codexDetectorConfiguration ? *env_.codexDetectorConfiguration
                                        : QNCodexCLIDetector::Configuration::standard());
    // 15. The update service, the menu and the triggers come later.
    // 16-18.
    textController = std::make_shared<QNControllerAutoCorrectingText>(
        QNModelTextEditorInteractionMode::composer, env_.executor);
    panel = std::make_unique<QNPanelComposition>(env_.seams.screens);
    composerBorderAnimationTrigger = std::make_shared<QNModelComposerBorderAnimationTrigger>();
    // 19. The panel and session fields keep their initial values.
}

QNServiceCorrectionEngineFactory& QNCoordinatorApp::correctionEngineFactory() {
    if (!correctionEngineFactory_) {
        auto environment = env_.processEnvironment;
        correctionEngineFactory_ = std::make_unique<QNServiceCorrectionEngineFactory>(
            *stores, [environment] { return environment; },
            env_.foundationModels ? env_.foundationModels
                                  : QNServiceCorrectionEngineFactory::makeFoundationModelsEngine,
            env_.buildConfig);
    }
    return *correctionEngineFactory_;
}

double QNCoordinatorApp::composerPointSize(QNComposerFontSize size) {
    static constexpr double points[] = {12, 14, 16, 18, 20, 22, 24};
    const auto index = std::clamp(static_cast<int>(size), 0, 6);
    return points[index];
}

void QNCoordinatorApp::start() {
    const std::weak_ptr<QNCoordinatorApp> weak = weak_from_this();

    // 1. The Codex detection runs on its own; start-up does not wait for it.
    refreshCodexCLIDetection();

    // 2. Every focus capture reports its trust reading to the monitor.
    QNModelFocusSnapshot::accessibilityTrustObserver = [weak](bool trusted) {
        if (const auto self = weak.lock()) {
            self->permissions->update(trusted);
        }
    };

    // 3.
    reconfigureCorrectionEngines();

    // 4. The panel's minimum height follows the editor's line height at the stored size.
    const double points = composerPointSize(stores->fontSize->size().get());
    panel->setPanelMinHeight(std::max(panelMinimumHeightFloor, textController->lineHeight(points)));
    textController->applyFontSize(points);

    // 5. The composer service; it installs its edit intake on the editor.
    composer = std::make_shared<QNServiceComposer>(QNServiceComposer::Construction{
        .controller = textController,
        .liveEngine = liveEngine,
        .polishEngine = polishEngine,
        .spellChecker = std::make_shared<QNServiceNSSpellChecker>(env_.seams.spellChecker),
        .clock = env_.executor,
        .workRunner = env_.workRunner,
        .sessionLog = logger,
        .delays = {.correctionDebounceMs = 120, .idleBackstopMs = 1500, .liveIdleBackstopMs = 500},
        .polishRerouting = [weak](std::int64_t chunkCharCount) -> std::string {
            const auto self = weak.lock();
            return self ? self->reroutePolishEngine(chunkCharCount) : std::string();
        },
        .correctionIssueHandler =
            [weak](const std::optional<QNModelCorrectionIssue>&) {
                if (const auto self = weak.lock()) {
                    self->refreshMenu();
                }
            },
    });

    // 6. The panel's content: the view over the editor, drawn on a clear background.
    auto* view =
        new QNViewComposition(*textController, composerBorderAnimationTrigger, env_.executor);
    view->setAttribute(Qt::WA_TranslucentBackground);
    view->setAutoFillBackground(false);
    panel->installContentView(view);
    hostingView = view;
    // Each time the panel comes up: on every virtual desktop, as a panel beside the caret
    // should be, and with the border animation only while the desktop allows animations.
    panel->onWillShow = [weak] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        auto& desktop = *self->env_.seams.desktopSession;
        desktop.showOnEveryDesktop(static_cast<std::uint64_t>(self->panel->winId()));
        // A compositor shows the rounded corners' transparency; without one they are cut.
        self->panel->setCutsCornersWithMask(QNPanelComposition::cutsCornersByDefault() &&
                                            !desktop.hasCompositor());
        if (self->hostingView) {
            self->hostingView->setReducesMotion(desktop.reducesAnimations());
        }
    };

    // 7. The editor's and the panel's callbacks.
    const auto commit = [weak] {
        if (const auto self = weak.lock(); self && self->isPanelOpen && !self->isCommitting) {
            self->requestCommit();
        }
    };
    textController->onCommit = commit;
    panel->onCommitKey = commit;
    textController->onCancel = [weak] {
        if (const auto self = weak.lock()) {
            self->dismissPanel("text-cancel");
        }
    };
    panel->onDismissKey = [weak] {
        if (const auto self = weak.lock()) {
            self->dismissPanel("dismiss-key");
        }
    };
    textController->onContentHeightChange = [weak](double height) {
        if (const auto self = weak.lock()) {
            self->panel->resizeToContentHeight(height);
        }
    };
    panel->onSettingsKey = [weak] {
        if (const auto self = weak.lock(); self && self->env_.showSettingsWindow) {
            self->env_.showSettingsWindow(std::nullopt);
        }
    };

    // 8-9. The tray menu, then the update service.
    buildMenuBar();
    startUpdater();
    logSession(QNKindLog::system, "Sparkle updater started");

    // 10-11. The hot key is built here and registered below; the monitor's changes reach the
    // triggers.
    hotKey = makeHotKey(stores->hotKey->config().get());
    permissions->onChange = [weak](bool trusted) {
        if (const auto self = weak.lock()) {
            self->handleAccessibilityChange(trusted);
        }
    };

    // 12. Without Accessibility the settings window explains what to grant.
    if (!permissions->isTrusted().get()) {
        logSystem(platform::LogLevel::info, "Accessibility not granted yet; showing Settings");
        if (env_.showSettingsWindow) {
            env_.showSettingsWindow(std::nullopt);
        }
    }

    // 13-15.
    registerTriggersAtStartUp();
    logEngineAvailability();
    logSession(QNKindLog::system, "Coordinator started");
}

AppContext QNCoordinatorApp::context() const {
    return AppContext{.seams = env_.seams,
                      .executor = env_.executor,
                      .workRunner = env_.workRunner,
                      .clock = env_.clock,
                      .preferences = stores,
                      .logger = logger};
}

void QNCoordinatorApp::logSystem(platform::LogLevel level, std::string message) const {
    env_.seams.systemLog->write({logSubsystem, logCategory, level, std::move(message)});
}

void QNCoordinatorApp::logSession(QNKindLog kind, std::string_view message,
                                  QNLogIssuePolicy policy) const {
    logger->log(kind, message, std::nullopt, {}, {}, policy);
}

}  // namespace ravlin
