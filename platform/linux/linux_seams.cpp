#include "platform/linux/linux_seams.h"

#include "platform/linux/hunspell_spell_checker.h"
#include "platform/linux/secret_service_keychain.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "platform/unavailable.h"

namespace ravlin::platform {

Seams linuxSeams() {
    Seams seams;
    // Backends join here as they are written.
    seams.keychain = std::make_shared<SecretServiceKeychain>();
    seams.loginItem = std::make_shared<XdgAutostartLoginItem>();
    auto filled = withUnavailableFilled(std::move(seams));
    // Backends that write to the system log join the complete bundle, to log to whichever log
    // the session has.
    filled.spellChecker = std::make_shared<HunspellSpellChecker>(
        HunspellSpellChecker::englishUS(), filled.systemLog);
    return filled;
}

}  // namespace ravlin::platform
