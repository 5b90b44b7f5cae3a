#include "app/shell/recorders/reserved_shortcuts.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

TEST(ReservedShortcuts, TableAndExactMask) {
    struct Case {
        std::uint32_t modifiers, keyCode;
        bool reserved;
    };
    const Case cases[] = {
        {0x100, 12, true},                                      // Command-Q
        {0x300, 12, false},                                     // Shift-Command-Q
        {0x800100, 12, false},                                  // Command-Q with the Fn flag
        {0x100, 50, true},                                      // Command-grave accent
        {0x100, 14, false},                                     // Command-E, the default shortcut
        {0x1100, 12, true},                                     // Control-Command-Q
        {0x1000, 12, false},                                    // Control-Q
        {0x900, 53, true},                                      // Option-Command-Escape
        {0x300, 21, true},                                      // Shift-Command-4
        {0xB00, 21, false},                                     // with Option added
        {0x300, 22, false},                                     // Shift-Command-6
        {0, 111, true},                                         // F12 alone
        {0x100, 111, false},                                    // Command-F12
        {0, 118, true},        {0, 103, true}, {0, 96, false},  // F5
        {0, 12, false},                                         // a bare Q is no chord of the table
    };
    for (const auto& c : cases) {
        const auto message = QNModelHotKeyChord::validationMessage(c.modifiers, c.keyCode);
        EXPECT_EQ(message.has_value(), c.reserved) << c.modifiers << "/" << c.keyCode;
    }
    EXPECT_EQ(QNModelHotKeyChord::validationMessage(0x100, 12),
              "This combo is reserved by your desktop.");
    // All 23 chords of the table.
    int chords = 0;
    for (std::uint32_t m : {0x100u, 0x300u, 0x900u, 0x1100u}) {
        for (std::uint32_t k = 0; k < 128; ++k) {
            chords += QNModelHotKeyChord::isReserved(m, k);
        }
    }
    EXPECT_EQ(chords, 23);
}

}  // namespace
}  // namespace ravlin
