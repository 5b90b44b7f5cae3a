// The keyboard triggers: the Composer shortcut, the typed double tap and the Quick Fix double
// tap; their registration at start-up, their settings, and Accessibility coming and going.
// The hot key that needs no Accessibility is never torn down; the three tap-based triggers wait
// for trust and come back with it.

#include "app/shell/coordinator.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/hot_key_fn.h"
#include "app/shell/triggers/hot_key_global.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"

namespace ravlin {
namespace {

using platform::LogLevel;

bool isNoShortcut(const QNConfigHotKey& config) {
    return config.keyCode == QNConfigHotKey::noKeyCode && config.modifiers == 0;
}

}  // namespace

std::unique_ptr<QNHandleHotKey> QNCoordinatorApp::makeHotKey(const QNConfigHotKey& config) {
    if (isNoShortcut(config)) {
        return nullptr;
    }
    auto onPress = [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->toggleHotkey("hotkey");
        }
    };
    if ((config.modifiers & QNConfigHotKey::functionMask) != 0) {
        return std::make_unique<QNHotKeyFn>(config.keyCode, config.modifiers, std::move(onPress),
                                            env_.seams.keyTaps, env_.executor);
    }
    return std::make_unique<QNHotKeyGlobal>(config.keyCode, config.modifiers, std::move(onPress),
                                            env_.seams.hotKeys, env_.executor);
}

std::unique_ptr<QNTriggerDoubleTap> QNCoordinatorApp::makeDoubleTap(std::uint32_t keyCode) {
    return std::make_unique<QNTriggerDoubleTap>(
        keyCode,
        [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->toggleHotkey("double-tap");
            }
        },
        env_.seams, env_.executor, env_.ownPid);
}

bool QNCoordinatorApp::freshTrustCheck() {
    return permissions->update(env_.seams.accessibility->isTrusted(false));
}

void QNCoordinatorApp::registerTriggersAtStartUp() {
    auto& layout = *env_.seams.keyboardLayout;
    const bool trusted = permissions->isTrusted().get();

    // The Composer shortcut, as built from the stored one.
    if (!hotKey) {
        logSystem(LogLevel::info, "Global hotkey disabled");
        logSession(QNKindLog::system, "Hotkey disabled");
    } else if (hotKey->isFunctionKeyHotKey() && !trusted) {
        logSystem(LogLevel::info, "Fn hotkey registration deferred until accessibility granted");
    } else if (hotKey->registerKey()) {
        const auto shortcut = stores->hotKey->config().get().displayString(layout);
        logSystem(LogLevel::info, "Global hotkey registered: " + shortcut);
        logSession(QNKindLog::system, "Hotkey registered: " + shortcut);
    } else {
        logSystem(LogLevel::error, "Hotkey registration FAILED");
        logSession(QNKindLog::error, "Hotkey registration failed");
    }

    // The typed double tap: built whether or not it is switched on.
    const auto doubleTapConfig = stores->doubleTap->config().get();
    doubleTap = makeDoubleTap(doubleTapConfig.keyCode);
    if (doubleTapConfig.isEnabled) {
        if (!trusted) {
            logSystem(LogLevel::info,
                      "Double-tap registration deferred until accessibility granted");
        } else if (doubleTap->registerTap()) {
            logSession(QNKindLog::system,
                       "Double-tap trigger registered: " +
                           QNConfigDoubleTap::keyLabel(doubleTapConfig.keyCode, layout));
        } else {
            logSession(QNKindLog::error, "Double-tap trigger registration failed");
        }
    }

    // Quick Fix: likewise.
    const auto quickFixConfig = stores->quickFix->config().get();
    quickFixDoubleTap = std::make_unique<QNTriggerQuickFixDoubleTap>(
        quickFixConfig.keyCode,
        [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->handleQuickFixTrigger("quick-fix-double-tap");
            }
        },
        env_.seams, env_.executor);
    if (quickFixConfig.isEnabled) {
        if (!trusted) {
            logSystem(LogLevel::info,
                      "Quick Fix registration deferred until accessibility granted");
        } else if (quickFixDoubleTap->registerTap()) {
            logSession(QNKindLog::system,
                       "Quick Fix trigger registered: " +
                           QNConfigDoubleTap::keyLabel(quickFixConfig.keyCode, layout));
        } else {
            logSession(QNKindLog::error, "Quick Fix trigger registration failed");
        }
    }
}

bool QNCoordinatorApp::updateHotKey(const QNConfigHotKey& config) {
    const auto stored = stores->hotKey->config().get();
    if (config == stored) {
        return true;
    }
    auto& layout = *env_.seams.keyboardLayout;
    if (hotKey) {
        hotKey->unregisterKey();
    }
    auto next = makeHotKey(config);
    const auto shortcut = config.displayString(layout);
    if (!next) {
        hotKey.reset();
        stores->hotKey->setConfig(config);
        logSystem(LogLevel::info, "Hotkey disabled");
        logSession(QNKindLog::system, "Hotkey disabled");
        refreshMenu();
        return true;
    }
    // The fresh check may restore the taps inside it; `hotKey` still holds the old object,
    // unregistered, so restoring leaves the new one alone (a global one is never restored).
    if (next->isFunctionKeyHotKey() && !freshTrustCheck()) {
        hotKey = std::move(next);
        stores->hotKey->setConfig(config);
        logSystem(LogLevel::info,
                  "Fn hotkey update deferred until accessibility granted: " + shortcut);
        logSession(QNKindLog::system, "Hotkey updated pending Accessibility: " + shortcut);
        refreshMenu();
        return true;
    }
    if (next->registerKey()) {
        hotKey = std::move(next);
        stores->hotKey->setConfig(config);
        logSystem(LogLevel::info, "Hotkey updated: " + shortcut);
        logSession(QNKindLog::system, "Hotkey updated: " + shortcut);
        refreshMenu();
        return true;
    }
    // Put back the stored shortcut as a fresh object; the store and the menu stay as they were.
    next.reset();
    hotKey.reset();
    hotKey = makeHotKey(stored);
    if (hotKey) {
        (void)hotKey->registerKey();
    }
    logSystem(LogLevel::error, "Hotkey update FAILED; reverted to " + stored.displayString(layout));
    logSession(QNKindLog::error, "Hotkey update failed; reverted");
    return false;
}

void QNCoordinatorApp::setDoubleTapEnabled(std::optional<std::uint32_t> keyCode,
                                           std::optional<bool> isEnabled) {
    const auto stored = stores->doubleTap->config().get();
    const QNConfigDoubleTap next{.keyCode = keyCode.value_or(stored.keyCode),
                                 .isEnabled = isEnabled.value_or(stored.isEnabled)};
    if (next == stored) {
        return;
    }
    if (doubleTap) {
        doubleTap->setTriggerKey(next.keyCode);
    }
    if (!next.isEnabled) {
        if (doubleTap) {
            doubleTap->unregisterTap();
        }
        logSession(QNKindLog::system, "Double-tap trigger disabled");
        stores->doubleTap->setConfig(next);
        refreshMenu();
        return;
    }
    if (!doubleTap) {
        doubleTap = makeDoubleTap(next.keyCode);
    }
    const auto label = QNConfigDoubleTap::keyLabel(next.keyCode, *env_.seams.keyboardLayout);
    if (!freshTrustCheck()) {
        doubleTap->unregisterTap();
        logSystem(LogLevel::info, "Double-tap registration deferred until accessibility granted");
        logSession(QNKindLog::system, "Double-tap trigger enabled pending Accessibility: " + label);
    } else if (doubleTap->registerTap()) {
        logSession(QNKindLog::system, "Double-tap trigger enabled: " + label);
    } else {
        logSession(QNKindLog::error, "Double-tap trigger registration failed");
    }
    stores->doubleTap->setConfig(next);
    refreshMenu();
}

void QNCoordinatorApp::setQuickFixEnabled(std::optional<std::uint32_t> keyCode,
                                          std::optional<bool> isEnabled) {
    const auto stored = stores->quickFix->config().get();
    const QNConfigQuickFix next{.keyCode = keyCode.value_or(stored.keyCode),
                                .isEnabled = isEnabled.value_or(stored.isEnabled)};
    if (next == stored) {
        return;
    }
    if (quickFixDoubleTap) {
        quickFixDoubleTap->setTriggerKey(next.keyCode);
    }
    if (!next.isEnabled) {
        if (quickFixDoubleTap) {
            quickFixDoubleTap->unregisterTap();
        }
        logSession(QNKindLog::system, "Quick Fix trigger disabled");
        stores->quickFix->setConfig(next);
        refreshMenu();
        return;
    }
    if (!quickFixDoubleTap) {
        quickFixDoubleTap = std::make_unique<QNTriggerQuickFixDoubleTap>(
            next.keyCode,
            [weak = weak_from_this()] {
                if (const auto self = weak.lock()) {
                    self->handleQuickFixTrigger("quick-fix-double-tap");
                }
            },
            env_.seams, env_.executor);
    }
    const auto label = QNConfigDoubleTap::keyLabel(next.keyCode, *env_.seams.keyboardLayout);
    if (!freshTrustCheck()) {
        quickFixDoubleTap->unregisterTap();
        logSystem(LogLevel::info, "Quick Fix registration deferred until accessibility granted");
        logSession(QNKindLog::system, "Quick Fix trigger enabled pending Accessibility: " + label);
    } else if (quickFixDoubleTap->registerTap()) {
        logSession(QNKindLog::system, "Quick Fix trigger enabled: " + label);
    } else {
        logSession(QNKindLog::error, "Quick Fix trigger registration failed");
    }
    stores->quickFix->setConfig(next);
    refreshMenu();
}

void QNCoordinatorApp::handleAccessibilityChange(bool isTrusted) {
    refreshMenu();
    logSystem(LogLevel::info, std::string("Accessibility status changed: trusted=") +
                                  (isTrusted ? "true" : "false"));
    logSession(QNKindLog::system, isTrusted ? "Accessibility granted" : "Accessibility revoked");
    const bool doubleTapOn = stores->doubleTap->config().get().isEnabled;
    const bool quickFixOn = stores->quickFix->config().get().isEnabled;
    if (isTrusted) {
        // Failures stay silent: the trigger waits for the next grant.
        if (hotKey && hotKey->isFunctionKeyHotKey() && hotKey->registerKey()) {
            logSystem(LogLevel::info, "Fn hotkey tap restored");
        }
        if (doubleTapOn && doubleTap && doubleTap->registerTap()) {
            logSystem(LogLevel::info, "Double-tap tap restored");
        }
        if (quickFixOn && quickFixDoubleTap && quickFixDoubleTap->registerTap()) {
            logSystem(LogLevel::info, "Quick Fix tap restored");
        }
        return;
    }
    if (hotKey && hotKey->isFunctionKeyHotKey()) {
        hotKey->unregisterKey();
        logSystem(LogLevel::info, "Fn hotkey tap torn down (accessibility revoked)");
    }
    if (doubleTap) {
        doubleTap->unregisterTap();
    }
    if (quickFixDoubleTap) {
        quickFixDoubleTap->unregisterTap();
    }
    if (doubleTapOn) {
        logSystem(LogLevel::info, "Double-tap tap torn down (accessibility revoked)");
    }
    if (quickFixOn) {
        logSystem(LogLevel::info, "Quick Fix tap torn down (accessibility revoked)");
    }
}

}  // namespace ravlin
