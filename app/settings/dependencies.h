#pragma once

// What the settings content reads and edits: the coordinator, its permission monitor, its
// stores and its update service, plus the desktop it runs on. The record makes none of them; it
// refers to the coordinator's single instances, which live as long as the process.

#include <memory>

#include "app/preferences/build_config.h"
#include "app/preferences/byok_store.h"
#include "app/preferences/launch_at_login_store.h"
#include "app/preferences/preference_stores.h"
#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

class QNCoordinatorApp;
class QNLocalKeyMonitor;
class QNServiceAccessibilityPermissions;
class QNServiceUpdate;

struct QNModelSettingsDependencies {
    std::shared_ptr<QNCoordinatorApp> coordinator;
    std::shared_ptr<QNServiceAccessibilityPermissions> permissions;
    std::shared_ptr<QNStoreHotKey> hotKeyStore;
    std::shared_ptr<QNStoreDoubleTap> doubleTapStore;
    std::shared_ptr<QNStoreQuickFix> quickFixStore;
    std::shared_ptr<QNStoreLaunchAtLogin> launchAtLoginStore;
    std::shared_ptr<QNStoreCorrectionModelMode> correctionModelModeStore;
    std::shared_ptr<QNStoreOnlineCorrectionConfig> onlineCorrectionConfigStore;
    std::shared_ptr<QNStoreBringYourOwnKey> byokStore;
    std::shared_ptr<QNStoreCustomCorrectionPrompt> customCorrectionPromptStore;
    std::shared_ptr<QNStoreFontSize> composerFontSizeStore;
    // The coordinator's, made on its first use; lives as long as the coordinator.
    QNServiceUpdate* updateChecker = nullptr;

    // The desktop and the sequences the content works on.
    platform::Seams seams;
    std::shared_ptr<Executor> executor;
    std::shared_ptr<WorkRunner> workRunner;
    EnvironmentSnapshot processEnvironment;
    QNConfigBuild buildConfig = QNConfigBuild::standard();
    // Key events addressed to this program's windows, for the recorders. Empty: Qt's, naming
    // keys through the keyboard layout seam.
    std::shared_ptr<QNLocalKeyMonitor> localKeyMonitor;

    // Filled from `coordinator`: itself, its monitor, stores, update service and environment.
    [[nodiscard]] static QNModelSettingsDependencies live(
        const std::shared_ptr<QNCoordinatorApp>& coordinator);
};

}  // namespace ravlin
