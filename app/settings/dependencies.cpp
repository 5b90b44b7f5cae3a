#include "app/settings/dependencies.h"

#include "app/shell/coordinator.h"

namespace ravlin {

QNModelSettingsDependencies QNModelSettingsDependencies::live(
    const std::shared_ptr<QNCoordinatorApp>& coordinator) {
    QNModelSettingsDependencies dependencies;
    if (!coordinator) {
        return dependencies;
    }
    const auto& env = coordinator->environment();
    dependencies.coordinator = coordinator;
    dependencies.permissions = coordinator->permissions;
    if (const auto& stores = coordinator->stores) {
        dependencies.hotKeyStore = stores->hotKey;
        dependencies.doubleTapStore = stores->doubleTap;
        dependencies.quickFixStore = stores->quickFix;
        dependencies.launchAtLoginStore = stores->launchAtLogin;
        dependencies.correctionModelModeStore = stores->correctionModelMode;
        dependencies.onlineCorrectionConfigStore = stores->onlineCorrectionConfig;
        dependencies.byokStore = stores->bringYourOwnKey;
        dependencies.customCorrectionPromptStore = stores->customCorrectionPrompt;
        dependencies.composerFontSizeStore = stores->fontSize;
    }
    dependencies.updateChecker = &coordinator->updateChecker();
    dependencies.seams = env.seams;
    dependencies.executor = env.executor;
    dependencies.workRunner = env.workRunner;
    dependencies.processEnvironment = env.processEnvironment;
    dependencies.buildConfig = env.buildConfig;
    return dependencies;
}

}  // namespace ravlin
