#pragma once

// Every preference store of the program in one bundle, made once over the user defaults, the
// environment taken at start and the desktop's keyring and login item. The application context
// carries it to whoever needs a store.

#include <memory>

#include "app/preferences/byok_store.h"
#include "app/preferences/defaults.h"
#include "app/preferences/launch_at_login_store.h"
#include "app/preferences/preference_stores.h"
#include "platform/seams.h"

namespace ravlin {

struct Preferences {
    std::shared_ptr<Defaults> defaults;
    EnvironmentSnapshot environment;
    std::shared_ptr<QNStoreHotKey> hotKey;
    std::shared_ptr<QNStoreDoubleTap> doubleTap;
    std::shared_ptr<QNStoreQuickFix> quickFix;
    std::shared_ptr<QNStoreLaunchAtLogin> launchAtLogin;
    std::shared_ptr<QNStoreCorrectionModelMode> correctionModelMode;
    std::shared_ptr<QNStoreOnlineCorrectionConfig> onlineCorrectionConfig;
    std::shared_ptr<QNStoreBringYourOwnKey> bringYourOwnKey;
    std::shared_ptr<QNStoreCustomCorrectionPrompt> customCorrectionPrompt;
    std::shared_ptr<QNStoreFontSize> fontSize;
};

// Loads every store (the keyring is asked twice: once per key item); a stored shortcut set aside
// for its default is told to `log`.
[[nodiscard]] std::shared_ptr<Preferences> makePreferences(std::shared_ptr<Defaults> defaults,
                                                           EnvironmentSnapshot environment,
                                                           const platform::Seams& seams,
                                                           const StoreLog& log = {});

}  // namespace ravlin
