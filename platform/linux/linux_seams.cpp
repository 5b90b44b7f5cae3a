#include "platform/linux/linux_seams.h"

#include "platform/linux/secret_service_keychain.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "platform/unavailable.h"

namespace ravlin::platform {

Seams linuxSeams() {
    Seams seams;
    // Backends join here as they are written.
    seams.keychain = std::make_shared<SecretServiceKeychain>();
    seams.loginItem = std::make_shared<XdgAutostartLoginItem>();
    return withUnavailableFilled(std::move(seams));
}

}  // namespace ravlin::platform
