#include "app/shell/recorders/reserved_shortcuts.h"

#include <functional>
#include <span>
#include <unordered_set>

#include "platform/key_table.h"
#include "platform/keys.h"

namespace ravlin {

namespace {

using ChordSet = std::unordered_set<QNModelHotKeyChord, QNModelHotKeyChord::Hash>;

constexpr std::uint32_t ctrl = platform::modifier::control;
constexpr std::uint32_t alt = platform::modifier::option;
constexpr std::uint32_t shift = platform::modifier::shift;
constexpr std::uint32_t super = platform::modifier::command;

// The chords the program itself sends and every application relies on, and the desktop's window
// and session keys (key codes by their place on the US keyboard).
const ChordSet& reservedChords() {
    static const ChordSet chords = [] {
        ChordSet set{
            {ctrl, 8},              // Ctrl+C
            {ctrl, 7},              // Ctrl+X
            {ctrl, 9},              // Ctrl+V
            {ctrl | shift, 9},      // Ctrl+Shift+V, a terminal's paste
            {shift, 114},           // Shift+Insert
            {ctrl, 0},              // Ctrl+A
            {ctrl, 6},              // Ctrl+Z
            {ctrl | shift, 6},      // Ctrl+Shift+Z
            {ctrl, 16},             // Ctrl+Y
            {alt, 48},              // Alt+Tab
            {alt | shift, 48},      // Alt+Shift+Tab
            {alt, 118},             // Alt+F4
            {ctrl | alt, 117},      // Ctrl+Alt+Delete
            {ctrl | alt, 51},       // Ctrl+Alt+Backspace
            {super, 37},            // Super+L
        };
        // Ctrl+Alt+F1 to F12: the virtual consoles.
        for (const std::uint32_t key : std::span(platform::keytable::functionKeys).first(12)) {
            set.insert({ctrl | alt, key});
        }
        return set;
    }();
    return chords;
}

// Keys refused when pressed alone: Print (the screenshot key; F13's place).
const std::unordered_set<std::uint32_t>& reservedLoneKeys() {
    static const std::unordered_set<std::uint32_t> keys{105};
    return keys;
}

}  // namespace

std::size_t QNModelHotKeyChord::Hash::operator()(const QNModelHotKeyChord& chord) const {
    const std::size_t first = std::hash<std::uint32_t>{}(chord.modifiers);
    return first ^ (std::hash<std::uint32_t>{}(chord.keyCode) + 0x9e3779b97f4a7c15ULL +
                    (first << 6) + (first >> 2));
}

bool QNModelHotKeyChord::isReserved(std::uint32_t modifiers, std::uint32_t keyCode) {
    if (reservedChords().contains({modifiers, keyCode})) {
        return true;
    }
    return modifiers == 0 && reservedLoneKeys().contains(keyCode);
}

std::optional<std::string> QNModelHotKeyChord::validationMessage(std::uint32_t modifiers,
                                                                 std::uint32_t keyCode) {
    if (!isReserved(modifiers, keyCode)) {
        return std::nullopt;
    }
    return std::string(reservedMessage);
}

}  // namespace ravlin
