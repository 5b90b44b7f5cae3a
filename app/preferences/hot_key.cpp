#include "app/preferences/hot_key.h"

#include <unordered_map>

#include "core/text/unicode.h"
#include "platform/key_table.h"

namespace ravlin {
namespace {

const std::unordered_map<std::uint32_t, std::string>& specialKeys() {
    static const auto* table = new std::unordered_map<std::uint32_t, std::string>{
        {56, "L⇧"},   {60, "R⇧"},   {49, "Space"}, {36, "↩"},    {48, "⇥"},    {53, "⎋"},
        {51, "⌫"},    {117, "⌦"},   {123, "←"},    {124, "→"},   {126, "↑"},   {125, "↓"},
        {116, "⇞"},   {121, "⇟"},   {115, "↖"},    {119, "↘"},   {122, "F1"},  {120, "F2"},
        {99, "F3"},   {118, "F4"},  {96, "F5"},    {97, "F6"},   {98, "F7"},   {100, "F8"},
        {101, "F9"},  {109, "F10"}, {103, "F11"},  {111, "F12"}, {105, "F13"}, {107, "F14"},
        {113, "F15"}, {106, "F16"}, {64, "F17"},   {79, "F18"},  {80, "F19"},  {90, "F20"},
    };
    return *table;
}

}  // namespace

std::string hotKeyKeyLabel(std::uint32_t keyCode) {
    return "Key " + std::to_string(keyCode);
}

std::uint32_t QNConfigHotKey::carbonModifiers(std::uint64_t eventFlags) {
    std::uint32_t mask = 0;
    if ((eventFlags & 0x100000) != 0) {
        mask |= commandMask;
    }
    if ((eventFlags & 0x20000) != 0) {
        mask |= shiftMask;
    }
    if ((eventFlags & 0x80000) != 0) {
        mask |= optionMask;
    }
    if ((eventFlags & 0x40000) != 0) {
        mask |= controlMask;
    }
    if ((eventFlags & 0x800000) != 0) {
        mask |= functionMask;
    }
    return mask;
}

std::string QNConfigHotKey::modifierSymbols(std::uint32_t modifiers) {
    std::string symbols;
    if ((modifiers & controlMask) != 0) {
        symbols += "⌃";
    }
    if ((modifiers & optionMask) != 0) {
        symbols += "⌥";
    }
    if ((modifiers & shiftMask) != 0) {
        symbols += "⇧";
    }
    if ((modifiers & commandMask) != 0) {
        symbols += "⌘";
    }
    if ((modifiers & functionMask) != 0) {
        symbols += "fn";
    }
    return symbols;
}

std::optional<std::string> QNConfigHotKey::characterForKeyCode(std::uint32_t keyCode,
                                                               platform::KeyboardLayout& layout) {
    if (keyCode > 0xFFFF) {
        return std::nullopt;
    }
    const auto character = layout.characterForKeyCode(keyCode);
    if (!character || character->empty()) {
        return std::nullopt;
    }
    return text::toUtf8(*character);
}

std::optional<std::string> QNConfigHotKey::specialKeyName(std::uint32_t keyCode) {
    const auto& table = specialKeys();
    if (const auto found = table.find(keyCode); found != table.end()) {
        return found->second;
    }
    return std::nullopt;
}

std::string QNConfigHotKey::keyDisplayName(std::uint32_t keyCode,
                                           platform::KeyboardLayout& layout) {
    if (auto special = specialKeyName(keyCode)) {
        return *special;
    }
    if (auto character = characterForKeyCode(keyCode, layout)) {
        return text::uppercased(std::string_view(*character));
    }
    return hotKeyKeyLabel(keyCode);
}

std::string QNConfigHotKey::keyName(std::uint32_t keyCode, platform::KeyboardLayout& layout) {
    if (auto special = specialKeyName(keyCode)) {
        return *special;
    }
    if (auto character = characterForKeyCode(keyCode, layout)) {
        return *character;
    }
    return hotKeyKeyLabel(keyCode);
}

std::string QNConfigHotKey::displayString(platform::KeyboardLayout& layout) const {
    if (keyCode == functionKeyCode && modifiers == functionMask) {
        return "fn";
    }
    if (keyCode == noKeyCode) {
        return "No shortcut";
    }
    return modifierSymbols(modifiers) + keyDisplayName(keyCode, layout);
}

bool QNConfigHotKey::isRecordable() const {
    if ((keyCode == noKeyCode && modifiers == 0) ||
        (keyCode == functionKeyCode && modifiers == functionMask)) {
        return true;
    }
    constexpr std::uint32_t known =
        commandMask | shiftMask | optionMask | controlMask | functionMask;
    if ((modifiers & ~known) != 0 || !platform::keytable::contains(keyCode) ||
        keyCode == platform::keycode::escape || platform::keytable::isModifierKey(keyCode)) {
        return false;
    }
    return modifiers != 0 || platform::keytable::isFunctionKey(keyCode);
}

std::string QNConfigDoubleTap::keyLabel(std::uint32_t keyCode, platform::KeyboardLayout& layout) {
    const std::string name = QNConfigHotKey::keyName(keyCode, layout);
    const bool oneCharacter = text::characterCount(std::string_view(name)) == 1;
    return oneCharacter ? name + name : name + " " + name;
}

bool QNConfigDoubleTap::isExcludedKeyCode(std::uint32_t keyCode) {
    switch (keyCode) {
        case 36:
        case 76:
        case 48:
        case 51:
        case 117:
        case 123:
        case 124:
        case 126:
        case 125:
        case 116:
        case 121:
        case 115:
        case 119:
            return true;
        default:
            return platform::keytable::isFunctionKey(keyCode);
    }
}

bool QNConfigDoubleTap::isRecordableKeyCode(std::uint32_t keyCode) {
    return platform::keytable::contains(keyCode) && !isExcludedKeyCode(keyCode) &&
           keyCode != platform::keycode::escape && !platform::keytable::isModifierKey(keyCode);
}

bool QNConfigQuickFix::isRecordableKeyCode(std::uint32_t keyCode) {
    return platform::keytable::isModifierKey(keyCode) && keyCode != platform::keycode::capsLock &&
           keyCode != platform::keycode::function;
}

}  // namespace ravlin
