#pragma once

// Every desktop facility the application talks to, as one bundle: each controller is handed a
// reference to it instead of a long argument list. Every member is set: a facility the desktop
// does not offer is an unavailable object (platform/unavailable.h), never a null pointer.

#include <memory>

#include "platform/accessibility.h"
#include "platform/desktop_session.h"
#include "platform/hot_keys.h"
#include "platform/key_synthesis.h"
#include "platform/key_taps.h"
#include "platform/keyboard_layout.h"
#include "platform/keychain.h"
#include "platform/login_item.h"
#include "platform/pasteboard.h"
#include "platform/screens.h"
#include "platform/secure_input.h"
#include "platform/spell_checker.h"
#include "platform/system_log.h"
#include "platform/workspace.h"

namespace ravlin::platform {

struct Seams {
    std::shared_ptr<Accessibility> accessibility;
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<KeySynthesis> keySynthesis;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<SecureInput> secureInput;
    std::shared_ptr<Screens> screens;
    std::shared_ptr<HotKeys> hotKeys;
    std::shared_ptr<KeyTaps> keyTaps;
    std::shared_ptr<KeyboardLayout> keyboardLayout;
    std::shared_ptr<Keychain> keychain;
    std::shared_ptr<LoginItem> loginItem;
    std::shared_ptr<SystemLog> systemLog;
    std::shared_ptr<SpellChecker> spellChecker;
    std::shared_ptr<DesktopSession> desktopSession;
};

}  // namespace ravlin::platform
