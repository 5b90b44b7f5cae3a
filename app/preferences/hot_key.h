#pragma once

// The shortcut values: the Composer's hot key (a macOS virtual key code and a Carbon modifier
// mask, as every stored setting holds them), the typed double tap and the Quick Fix modifier
// double tap; and the names shown for keys and modifiers. Key names come from the special-key
// table, else from the current keyboard layout, else "Key N".

#include <cstdint>
#include <optional>
#include <string>

#include "platform/keyboard_layout.h"
#include "platform/keys.h"

namespace ravlin {

// "Key 42".
[[nodiscard]] std::string hotKeyKeyLabel(std::uint32_t keyCode);

struct QNConfigHotKey {
    static constexpr std::uint32_t commandMask = platform::modifier::command;
    static constexpr std::uint32_t shiftMask = platform::modifier::shift;
    static constexpr std::uint32_t optionMask = platform::modifier::option;
    static constexpr std::uint32_t controlMask = platform::modifier::control;
    static constexpr std::uint32_t functionMask = platform::modifier::function;
    // Key code of "no shortcut" (with modifiers 0).
    static constexpr std::uint32_t noKeyCode = 0xFFFFFFFF;
    static constexpr std::uint32_t functionKeyCode = platform::keycode::function;

    std::uint32_t keyCode = 14;
    std::uint32_t modifiers = commandMask;

    // Command (Super), shift, option (Alt), control and the secondary-function flag of a key
    // event's flags as a Carbon mask; every other flag is dropped.
    [[nodiscard]] static std::uint32_t carbonModifiers(std::uint64_t eventFlags);
    // "⌃", "⌥", "⇧", "⌘", then "fn", for the bits set, in that order.
    [[nodiscard]] static std::string modifierSymbols(std::uint32_t modifiers);
    // The text the layout gives the key with no modifiers; nothing beyond 0xFFFF or when the key
    // types nothing.
    [[nodiscard]] static std::optional<std::string> characterForKeyCode(
        std::uint32_t keyCode, platform::KeyboardLayout& layout);
    // The special key's name, else the layout's character upper-cased, else "Key N".
    [[nodiscard]] static std::string keyDisplayName(std::uint32_t keyCode,
                                                    platform::KeyboardLayout& layout);
    // As keyDisplayName, with the layout's character as the layout gives it.
    [[nodiscard]] static std::string keyName(std::uint32_t keyCode,
                                             platform::KeyboardLayout& layout);
    // The special-key table's name, if the key is in it.
    [[nodiscard]] static std::optional<std::string> specialKeyName(std::uint32_t keyCode);

    // "fn" for the Fn key alone, "No shortcut" for no key, else the modifier symbols and the
    // key's display name.
    [[nodiscard]] std::string displayString(platform::KeyboardLayout& layout) const;

    // Whether the shortcut recorder can make this value: no shortcut, Fn alone, or a key of the
    // key table (not Escape, not a modifier key) with modifiers among the five above, at least
    // one of them unless the key is F1-F20. Anything else read from the settings would grab a
    // bare key for the whole desktop or nothing at all.
    [[nodiscard]] bool isRecordable() const;

    friend bool operator==(const QNConfigHotKey&, const QNConfigHotKey&) = default;
};

struct QNConfigDoubleTap {
    std::uint32_t keyCode = 14;
    bool isEnabled = true;

    // The key's name twice: joined directly when it is one character, else with a space.
    [[nodiscard]] static std::string keyLabel(std::uint32_t keyCode,
                                              platform::KeyboardLayout& layout);
    // Keys the recorder refuses: Return, keypad Enter, Tab, Delete, forward Delete, the arrows,
    // Home, End, Page Up, Page Down and F1-F20.
    [[nodiscard]] static bool isExcludedKeyCode(std::uint32_t keyCode);
    // A key of the key table the recorder takes: not excluded, not Escape, not a modifier key.
    [[nodiscard]] static bool isRecordableKeyCode(std::uint32_t keyCode);

    friend bool operator==(const QNConfigDoubleTap&, const QNConfigDoubleTap&) = default;
};

// --- Keys as a person reads them on this desktop, with the names GNOME and KDE settings use:
// "Super+E", "Ctrl+Alt+K", "Shift+F5"; a double tap as "E, E" or "Right Shift, Right Shift".
// Every window, menu and tooltip shows keys through these; stored values and log lines keep
// the symbols of displayString() and keyLabel() above.

// The held modifiers' names joined with "+", in the order Ctrl, Alt, Super, Shift, Fn (Command
// is Super, Option is Alt); empty for none.
[[nodiscard]] std::string modifierText(std::uint32_t modifiers);
// One key: its name where it types nothing ("Space", "F5", "Right Shift", "Page Up"), else what
// the layout types there, upper-cased, else "Key N".
[[nodiscard]] std::string keyText(std::uint32_t keyCode, platform::KeyboardLayout& layout);
// A stored Composer shortcut: the modifiers and the key joined with "+"; "Fn" for the Fn key
// alone and "No shortcut" for none.
[[nodiscard]] std::string shortcutText(const QNConfigHotKey& config,
                                       platform::KeyboardLayout& layout);
// A stored double-tap key: the key twice, "E, E".
[[nodiscard]] std::string doubleTapText(std::uint32_t keyCode, platform::KeyboardLayout& layout);
// What the Composer shortcut's recorder asks for.
[[nodiscard]] std::string shortcutRecorderHint();

struct QNConfigQuickFix {
    // A modifier key: right Shift by default.
    std::uint32_t keyCode = 60;
    bool isEnabled = true;

    // One of the eight left and right Command, Shift, Option and Control keys.
    [[nodiscard]] static bool isRecordableKeyCode(std::uint32_t keyCode);

    friend bool operator==(const QNConfigQuickFix&, const QNConfigQuickFix&) = default;
};

}  // namespace ravlin
