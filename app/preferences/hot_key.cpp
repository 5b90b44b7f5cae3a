#include "app/preferences/hot_key.h"

#include <iterator>
#include <string_view>
#include <unordered_map>
#include <utility>

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

// Names of the keys that type nothing, by key code (the desktop's names for them; Help's place
// is Insert's and F13's is Print's on a PC keyboard).
const std::unordered_map<std::uint32_t, std::string>& namedKeys() {
    static const auto* table = new std::unordered_map<std::uint32_t, std::string>{
        {36, "Return"},       {76, "Enter"},       {48, "Tab"},          {49, "Space"},
        {51, "Backspace"},    {117, "Delete"},     {53, "Esc"},          {114, "Insert"},
        {123, "Left"},        {124, "Right"},      {126, "Up"},          {125, "Down"},
        {116, "Page Up"},     {121, "Page Down"},  {115, "Home"},        {119, "End"},
        {105, "Print"},       {122, "F1"},         {120, "F2"},          {99, "F3"},
        {118, "F4"},          {96, "F5"},          {97, "F6"},           {98, "F7"},
        {100, "F8"},          {101, "F9"},         {109, "F10"},         {103, "F11"},
        {111, "F12"},         {107, "F14"},        {113, "F15"},         {106, "F16"},
        {64, "F17"},          {79, "F18"},         {80, "F19"},          {90, "F20"},
        {56, "Left Shift"},   {60, "Right Shift"}, {59, "Left Ctrl"},    {62, "Right Ctrl"},
        {58, "Left Alt"},     {61, "Right Alt"},   {55, "Left Super"},   {54, "Right Super"},
        {57, "Caps Lock"},    {63, "Fn"},
    };
    return *table;
}

// In the order they are named.
constexpr std::pair<std::uint32_t, std::string_view> kModifierNames[] = {
    {QNConfigHotKey::controlMask, "Ctrl"}, {QNConfigHotKey::optionMask, "Alt"},
    {QNConfigHotKey::commandMask, "Super"}, {QNConfigHotKey::shiftMask, "Shift"},
    {QNConfigHotKey::functionMask, "Fn"},
};

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

std::string modifierText(std::uint32_t modifiers) {
    std::string text;
    for (const auto& [mask, name] : kModifierNames) {
        if ((modifiers & mask) != 0) {
            text += text.empty() ? "" : "+";
            text += name;
        }
    }
    return text;
}

std::string keyText(std::uint32_t keyCode, platform::KeyboardLayout& layout) {
    if (const auto found = namedKeys().find(keyCode); found != namedKeys().end()) {
        return found->second;
    }
    if (auto character = QNConfigHotKey::characterForKeyCode(keyCode, layout)) {
        return text::uppercased(std::string_view(*character));
    }
    return hotKeyKeyLabel(keyCode);
}

std::string shortcutText(const QNConfigHotKey& config, platform::KeyboardLayout& layout) {
    if (config.keyCode == QNConfigHotKey::functionKeyCode &&
        config.modifiers == QNConfigHotKey::functionMask) {
        return "Fn";
    }
    if (config.keyCode == QNConfigHotKey::noKeyCode) {
        return "No shortcut";
    }
    const std::string modifiers = modifierText(config.modifiers);
    return (modifiers.empty() ? "" : modifiers + "+") + keyText(config.keyCode, layout);
}

std::string doubleTapText(std::uint32_t keyCode, platform::KeyboardLayout& layout) {
    const std::string name = keyText(keyCode, layout);
    return name + ", " + name;
}

std::string shortcutRecorderHint() {
    // Every modifier a shortcut may hold but Fn, which X11 never reports.
    std::string names;
    constexpr std::size_t count = std::size(kModifierNames) - 1;
    for (std::size_t i = 0; i < count; ++i) {
        names += i == 0 ? "" : (i + 1 == count ? " or " : ", ");
        names += kModifierNames[i].second;
    }
    return "Hold " + names + " with another key, or use a function key.";
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
