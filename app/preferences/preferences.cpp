#include "app/preferences/preferences.h"

namespace ravlin {

std::shared_ptr<Preferences> makePreferences(std::shared_ptr<Defaults> defaults,
                                             EnvironmentSnapshot environment,
                                             const platform::Seams& seams, const StoreLog& log) {
    auto preferences = std::make_shared<Preferences>();
    preferences->defaults = defaults;
    preferences->environment = std::move(environment);
    const auto keychain = seams.keychain;
    const auto item = [keychain](std::string_view account) {
        return QNServiceKeychain(std::string(kKeychainService), std::string(account), keychain);
    };
    preferences->hotKey = std::make_shared<QNStoreHotKey>(defaults, log);
    preferences->doubleTap = std::make_shared<QNStoreDoubleTap>(defaults, log);
    preferences->quickFix = std::make_shared<QNStoreQuickFix>(defaults, log);
    preferences->launchAtLogin = std::make_shared<QNStoreLaunchAtLogin>(seams.loginItem);
    preferences->correctionModelMode =
        std::make_shared<QNStoreCorrectionModelMode>(defaults, preferences->environment);
    preferences->onlineCorrectionConfig = std::make_shared<QNStoreOnlineCorrectionConfig>(
        defaults, item(kOnlineCorrectionAPIKeyAccount));
    preferences->bringYourOwnKey = std::make_shared<QNStoreBringYourOwnKey>(
        defaults, [item] { return std::optional(item(kBYOKOpenAIAPIKeyAccount)); });
    preferences->customCorrectionPrompt = std::make_shared<QNStoreCustomCorrectionPrompt>(defaults);
    preferences->fontSize = std::make_shared<QNStoreFontSize>(defaults);
    return preferences;
}

}  // namespace ravlin
