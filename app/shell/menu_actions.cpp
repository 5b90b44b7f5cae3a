// The tray menu and its actions, and the update service it shows.

#include <QSystemTrayIcon>

#include "app/composer/provider_routing.h"
#include "app/shell/coordinator.h"
#include "app/shell/menu_bar.h"
#include "app/shell/update_service.h"

namespace ravlin {
namespace {

// The hosted cloud service is usable when the build names its functions' address and a public
// key (the publishable one, else the anonymous one) and a session token is held.
bool isHostedServiceConfigured(const QNConfigBuild& build, const std::string& sessionToken) {
    const bool hasKey = build.infoPlistString("RavlinSupabasePublishableKey").has_value() ||
                        build.infoPlistString("RavlinSupabaseAnonKey").has_value();
    return build.infoPlistString("RavlinSupabaseFunctionsBaseURL").has_value() && hasKey &&
           !sessionToken.empty();
}

}  // namespace

QNServiceUpdate& QNCoordinatorApp::updateChecker() {
    if (!updateChecker_) {
        updateChecker_ =
            QNServiceUpdate::make(context(), env_.buildConfig, env_.processEnvironment);
    }
    return *updateChecker_;
}

void QNCoordinatorApp::buildMenuBar() {
    const std::weak_ptr<QNCoordinatorApp> weak = weak_from_this();
    static_cast<void>(updateChecker());
    menuBar = std::make_shared<QNControllerMenuBar>(
        QNMenuBarCallbacks{
            .onTrigger =
                [weak] {
                    if (const auto self = weak.lock()) {
                        self->toggleHotkey("menu");
                    }
                },
            .onNewTextDocument =
                [weak] {
                    if (const auto self = weak.lock()) {
                        self->newTextDocument();
                    }
                },
            .onOpenTextFile =
                [weak] {
                    if (const auto self = weak.lock()) {
                        self->openTextFile();
                    }
                },
            .onToggleCloudAI =
                [weak] {
                    if (const auto self = weak.lock()) {
                        self->toggleCloudAI();
                    }
                },
            .correctionIssue = [weak]() -> std::optional<QNModelCorrectionIssue> {
                const auto self = weak.lock();
                return self ? self->currentCorrectionIssue() : std::nullopt;
            },
            // A fresh reading, which the permission monitor also takes.
            .isAccessibilityTrusted =
                [weak] {
                    const auto self = weak.lock();
                    return self && self->permissions->checkNow();
                },
            .hotKeyConfig =
                [weak] {
                    const auto self = weak.lock();
                    return self ? self->stores->hotKey->config().get()
                                : QNConfigHotKey{.keyCode = QNConfigHotKey::noKeyCode,
                                                 .modifiers = 0};
                },
            .onShowCorrectionSettings =
                [weak] {
                    if (const auto self = weak.lock(); self && self->env_.showSettingsWindow) {
                        self->env_.showSettingsWindow(QNModelSettingsPane::correction);
                    }
                },
            .onShowSettings =
                [weak] {
                    if (const auto self = weak.lock(); self && self->env_.showSettingsWindow) {
                        self->env_.showSettingsWindow(std::nullopt);
                    }
                },
            .onQuit = env_.quit,
        },
        QNMenuBarDependencies{
            .updateChecker = updateChecker_,
            .correctionModelModeStore = stores->correctionModelMode,
            .logger = logger,
            .pasteboard = env_.seams.pasteboard,
            .keyboardLayout = env_.seams.keyboardLayout,
        });
    menuBar->documentEditorEnabled = false;
    updateChecker_->onChange = [weakMenu = std::weak_ptr<QNControllerMenuBar>(menuBar)] {
        if (const auto menu = weakMenu.lock()) {
            menu->refresh();
        }
    };
    // Without a tray the running window is the program's face and offers the same menu; the
    // settings open at start only when accessibility is missing (start()).
    menuBar->showStatusItem();
    menuBar->refresh();
}

void QNCoordinatorApp::startUpdater() {
    updateChecker().updaterController().startUpdater();
}

void QNCoordinatorApp::refreshMenu() {
    if (menuBar) {
        menuBar->refresh();
    }
}

void QNCoordinatorApp::toggleCloudAI() {
    auto& modeStore = *stores->correctionModelMode;
    if (modeStore.mode().get() == QNCorrectionModelMode::online) {
        modeStore.setMode(QNCorrectionModelMode::local);
        reconfigureCorrectionEngines();
        return;
    }
    modeStore.setMode(QNCorrectionModelMode::online);
    reconfigureCorrectionEngines();

    // The mode stays online either way; with no cloud route the settings say what is missing.
    if (QNModelOnlineCorrectionConfigStatus(*stores->onlineCorrectionConfig,
                                            env_.processEnvironment)
            .isConfigured()) {
        return;
    }
    if (stores->bringYourOwnKey->isConfigured()) {
        return;
    }
    if (isHostedServiceConfigured(env_.buildConfig,
                                  correctionEngineFactory().selector->sessionToken())) {
        return;
    }
    if (env_.showSettingsWindow) {
        env_.showSettingsWindow(QNModelSettingsPane::correction);
    }
}

// No window of this program edits documents and no item leads here: bringing the program
// forward is all there is to do.
void QNCoordinatorApp::newTextDocument() {
    env_.seams.workspace->activate(env_.seams.workspace->currentApplication().pid);
}

void QNCoordinatorApp::openTextFile() {
    env_.seams.workspace->activate(env_.seams.workspace->currentApplication().pid);
}

}  // namespace ravlin
