#include "platform/linux/linux_seams.h"

#include <QGuiApplication>

#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"
#include "platform/linux/desktop/linux_desktop_session.h"
#include "platform/linux/hotkeys/x11_hot_keys.h"
#include "platform/linux/hunspell_spell_checker.h"
#include "platform/linux/keys/xkb_keyboard_layout.h"
#include "platform/linux/keys/xkb_keymap.h"
#include "platform/linux/keys/xtest_key_synthesis.h"
#include "platform/linux/log/journal_system_log.h"
#include "platform/linux/screens/qt_screens.h"
#include "platform/linux/secret_service_keychain.h"
#include "platform/linux/taps/x11_key_taps.h"
#include "platform/linux/workspace/ewmh_workspace.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/xdg_autostart_login_item.h"
#include "platform/unavailable.h"

namespace ravlin::platform {

Seams linuxSeams() {
    Seams seams;
    seams.keychain = std::make_shared<SecretServiceKeychain>();
    seams.loginItem = std::make_shared<XdgAutostartLoginItem>();
    seams.systemLog = std::make_shared<JournalSystemLog>();
    // The facilities of an X11 display, when the program runs on one.
    std::shared_ptr<x11::Connection> display;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        display = x11::Connection::open();
        if (auto connection = display) {
            auto workspace = std::make_shared<EwmhWorkspace>(connection);
            auto accessibility = std::make_shared<AtspiAccessibility>(
                [workspace] { return workspace->keyboardWindow(); },
                [workspace](ProcessID pid) { return workspace->windowPlace(pid); });
            accessibility->setLog(seams.systemLog);
            auto keys = std::make_shared<XTestKeySynthesis>(connection);
            if (keys->available()) {
                seams.keySynthesis = keys;
            }
            seams.hotKeys = std::make_shared<X11HotKeys>(connection);
            auto keyboard = x11::Keyboard::open(connection);
            if (auto taps = std::make_shared<X11KeyTaps>(connection, keyboard); taps->available()) {
                accessibility->setTypedRun([weak = std::weak_ptr(taps)] {
                    const auto known = weak.lock();
                    return known ? known->typedRun() : TypedRun::View{};
                });
                taps->setRunWatch([weak = std::weak_ptr(accessibility),
                                   keys = std::weak_ptr(taps)](const TypedRun::View& run) {
                    const auto known = weak.lock();
                    return known && known->noteTypedKey(run, [keys] {
                               const auto taps = keys.lock();
                               return taps ? taps->keyPressesWaiting() : std::size_t{0};
                           });
                });
                seams.keyTaps = std::move(taps);
            }
            if (keyboard) {
                seams.keyboardLayout = std::make_shared<XkbKeyboardLayout>(keyboard);
            }
            seams.secureInput = std::make_shared<AtspiSecureInput>(accessibility);
            seams.accessibility = std::move(accessibility);
            seams.workspace = std::move(workspace);
        }
        // The clipboard through our own selection layer, byte for byte (none where our own
        // connection cannot be had: the pasteboard is then unavailable, and said so).
        if (auto selections = x11::Selections::open()) {
            seams.pasteboard = std::make_shared<X11SelectionPasteboard>(std::move(selections));
        }
        seams.screens = std::make_shared<QtScreens>();
    }
    seams.desktopSession = std::make_shared<LinuxDesktopSession>(std::move(display));
    auto filled = withUnavailableFilled(std::move(seams));
    // Backends that write to the system log join the complete bundle, to log to whichever log
    // the session has.
    filled.spellChecker =
        std::make_shared<HunspellSpellChecker>(HunspellSpellChecker::englishUS(), filled.systemLog);
    return filled;
}

}  // namespace ravlin::platform
