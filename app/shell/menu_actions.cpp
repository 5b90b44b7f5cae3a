// The tray menu and its actions, and the update service it shows.

#include <QSystemTrayIcon>

#include "app/composer/provider_routing.h"
#include "app/shell/coordinator.h"
#include "app/shell/menu_bar.h"
#include "app/shell/update_service.h"

namespace ravlin {

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

bool QNCoordinatorApp::isCloudRouteConfigured() {
    if (QNModelOnlineCorrectionConfigStatus(*stores->onlineCorrectionConfig,
                                            env_.processEnvironment)
            .isConfigured() ||
        stores->bringYourOwnKey->isConfigured()) {
        return true;
    }
    // The hosted service, resolved as the polish route resolves it (the build's address and
    // public key, the environment standing in for either), with a session token held.
    const auto& selector = *correctionEngineFactory().selector;
    const auto hosted = selector.makeHostedProvider({}, std::nullopt, env_.processEnvironment);
    return hosted.provider &&
           hosted.provider->diagnostics().providerID !=
               QNServiceCorrectionProviderSelector::kUnconfiguredProviderID &&
           !selector.sessionToken().empty();
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
    // The mode stays online either way. With no cloud route set up the settings are offered, not
    // opened: the menu's first line says so (its item opens the Correction pane), and so does
    // the Composer's heads-up; nothing takes the keyboard from what the person is typing in.
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
