#include "app/shell/recorders/reserved_shortcuts.h"

#include <functional>
#include <unordered_set>

#include "app/support/desktop_wording.h"

namespace ravlin {

namespace {

using ChordSet = std::unordered_set<QNModelHotKeyChord, QNModelHotKeyChord::Hash>;

const ChordSet& reservedChords() {
    static const ChordSet chords = [] {
        ChordSet set;
        // Command with Q, W, Tab, Space, H, M, N, O, P, S, T, Z, X, C, V, A, F and grave accent.
        for (std::uint32_t key :
             {12u, 13u, 48u, 49u, 4u, 46u, 45u, 31u, 35u, 1u, 17u, 6u, 7u, 8u, 9u, 0u, 3u, 50u}) {
            set.insert({0x100, key});
        }
        set.insert({0x1100, 12});  // Control-Command-Q
        set.insert({0x900, 53});   // Option-Command-Escape
        set.insert({0x300, 20});   // Shift-Command-3, -4, -5
        set.insert({0x300, 21});
        set.insert({0x300, 23});
        return set;
    }();
    return chords;
}

const std::unordered_set<std::uint32_t>& reservedLoneKeys() {
    static const std::unordered_set<std::uint32_t> keys{118, 103, 111};  // F4, F11, F12
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
    return forThisDesktop(reservedMessage);
}

}  // namespace ravlin
