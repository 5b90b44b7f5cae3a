#include "app/shell/recorders/reserved_shortcuts.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

TEST(ReservedShortcuts, TableAndExactMask) {
    constexpr std::uint32_t ctrl = 0x1000, alt = 0x800, shift = 0x200, super = 0x100;
    struct Case {
        const char* name;
        std::uint32_t modifiers, keyCode;
        bool reserved;
    };
    const Case cases[] = {
        {"Ctrl+C", ctrl, 8, true},
        {"Ctrl+X", ctrl, 7, true},
        {"Ctrl+V, the program's own paste", ctrl, 9, true},
        {"Ctrl+Shift+V, a terminal's paste", ctrl | shift, 9, true},
        {"Shift+Insert", shift, 114, true},
        {"Ctrl+A", ctrl, 0, true},
        {"Ctrl+Z", ctrl, 6, true},
        {"Ctrl+Shift+Z", ctrl | shift, 6, true},
        {"Ctrl+Y", ctrl, 16, true},
        {"Alt+Tab", alt, 48, true},
        {"Alt+Shift+Tab", alt | shift, 48, true},
        {"Alt+F4", alt, 118, true},
        {"Ctrl+Alt+Delete", ctrl | alt, 117, true},
        {"Ctrl+Alt+Backspace", ctrl | alt, 51, true},
        {"Ctrl+Alt+F1", ctrl | alt, 122, true},
        {"Ctrl+Alt+F12", ctrl | alt, 111, true},
        {"Super+L", super, 37, true},
        {"Print", 0, 105, true},
        // The comparison is exact on the whole mask.
        {"Ctrl+Alt+V", ctrl | alt, 9, false},
        {"Ctrl+V with Fn", ctrl | 0x800000, 9, false},
        {"Super+Print", super, 105, false},
        {"Super+Q, another desktop's quit", super, 12, false},
        {"Super+E, the default", super, 14, false},
        {"Ctrl+Alt+F13", ctrl | alt, 105, false},
        {"F12 alone", 0, 111, false},
        {"F5 alone", 0, 96, false},
        {"a bare Q", 0, 12, false},
    };
    for (const auto& c : cases) {
        const auto message = QNModelHotKeyChord::validationMessage(c.modifiers, c.keyCode);
        EXPECT_EQ(message.has_value(), c.reserved) << c.name;
        if (message) {
            EXPECT_EQ(*message, "This combo is reserved by your desktop.");
        }
    }
    // 15 named chords and the twelve Ctrl+Alt+F keys.
    int chords = 0;
    for (std::uint32_t m : {ctrl, alt, shift, super, ctrl | shift, alt | shift, ctrl | alt}) {
        for (std::uint32_t k = 0; k < 128; ++k) {
            chords += QNModelHotKeyChord::isReserved(m, k);
        }
    }
    EXPECT_EQ(chords, 27);
}

}  // namespace
}  // namespace ravlin
