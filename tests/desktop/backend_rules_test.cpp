// The backends' translation rules, table by table: toolkit offsets, roles, keys, coordinates.

#include <X11/keysym.h>
#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include "platform/keys.h"
#include "platform/linux/accessibility/text_offsets.h"
#include "platform/linux/accessibility/toolkit.h"
#include "platform/linux/keys/xtest_key_synthesis.h"
#include "platform/linux/screens/qt_screens.h"

namespace ravlin::platform {
namespace {

// "a😀b" then a lone high surrogate: UTF-16 a=0, 😀=1..3, b=3, lone=4, end=5.
const std::u16string mixed = u"a\U0001F600b\xD800";

TEST(ToolkitOffsets, CodePointsAndUtf16BothWays) {
    struct Case {
        std::int64_t toolkit;
        OffsetUnit unit;
        std::int64_t utf16;
    };
    for (const auto& c : {Case{0, OffsetUnit::codePoints, 0}, Case{1, OffsetUnit::codePoints, 1},
                          Case{2, OffsetUnit::codePoints, 3}, Case{3, OffsetUnit::codePoints, 4},
                          Case{4, OffsetUnit::codePoints, 5}, Case{3, OffsetUnit::utf16, 3},
                          Case{5, OffsetUnit::utf16, 5}}) {
        EXPECT_EQ(toUtf16Offset(mixed, c.toolkit, c.unit), c.utf16) << c.toolkit;
        EXPECT_EQ(fromUtf16Offset(mixed, c.utf16, c.unit), c.toolkit) << c.utf16;
    }
}

TEST(ToolkitOffsets, OutOfRangeAndMidPairClamp) {
    EXPECT_EQ(toUtf16Offset(mixed, -3, OffsetUnit::codePoints), 0);
    EXPECT_EQ(toUtf16Offset(mixed, 99, OffsetUnit::codePoints), 5);
    EXPECT_EQ(toUtf16Offset(mixed, 99, OffsetUnit::utf16), 5);
    EXPECT_EQ(fromUtf16Offset(mixed, 99, OffsetUnit::codePoints), 4);
    // Inside the emoji's pair: the pair's start, never half a character.
    EXPECT_EQ(fromUtf16Offset(mixed, 2, OffsetUnit::codePoints), 1);
    EXPECT_EQ(fromUtf16Offset(mixed, 2, OffsetUnit::utf16), 1);
}

TEST(ToolkitRoles, MapToTheApplicationsRoleNames) {
    struct Case {
        AtspiRole role;
        bool singleLine;
        bool multiLine;
        std::string name;
    };
    for (const auto& c : {Case{ATSPI_ROLE_PASSWORD_TEXT, true, false, "AXSecureTextField"},
                          Case{ATSPI_ROLE_ENTRY, false, true, "AXTextField"},
                          Case{ATSPI_ROLE_TEXT, true, false, "AXTextField"},
                          Case{ATSPI_ROLE_TEXT, false, false, "AXTextField"},
                          Case{ATSPI_ROLE_TEXT, false, true, "AXTextArea"},
                          Case{ATSPI_ROLE_DOCUMENT_WEB, false, false, "AXWebArea"},
                          Case{ATSPI_ROLE_COMBO_BOX, false, false, "AXComboBox"},
                          Case{ATSPI_ROLE_TERMINAL, false, true, "AXTerminal"},
                          Case{ATSPI_ROLE_FRAME, false, false, "AXWindow"}}) {
        EXPECT_EQ(axRoleName(c.role, c.singleLine, c.multiLine), c.name) << c.role;
    }
    // Anything else is no role of the application's tables.
    EXPECT_FALSE(axRoleName(ATSPI_ROLE_PUSH_BUTTON, false, false).starts_with("AX"));
}

TEST(ToolkitRules, ChosenByTheNameAndVersionTheApplicationGives) {
    struct Case {
        std::string_view name;
        std::string_view version;
        std::string_view rules;
    };
    for (const auto& c : {Case{"GTK", "4.8.3", "GTK 4"}, Case{"gtk", "4.12.1", "GTK 4"},
                          Case{"gtk", "3.24.38", "ATK"}, Case{"GTK", "3.24.36", "ATK"},
                          Case{"Qt", "5.15.8", "Qt"}, Case{"Qt", "6.4.2", "Qt"},
                          Case{"Gecko", "115", "ATK"}, Case{"", "", "ATK"}}) {
        EXPECT_EQ(atspi::toolkitNamed(c.name, c.version).name(), c.rules)
            << c.name << " " << c.version;
    }
}

TEST(ToolkitRules, AMaskIsOneSymbolForEveryCharacter) {
    struct Case {
        std::u16string line;
        bool mask;
    };
    for (const auto& c : {Case{u"\u25CF\u25CF\u25CF\u25CF", true}, Case{u"\u2022\u2022", true},
                          Case{u"***", true}, Case{u"\u2731", true},
                          Case{u"\u25CF\u25CF\u25CF\n", true},
                          // text a person can read, or nothing to tell by
                          Case{u"", false}, Case{u"\n", false}, Case{u"aaaa", false},
                          Case{u"1111", false}, Case{u"    ", false},
                          Case{u"\u25CF\u25CFx", false}, Case{u"**\u2022", false},
                          Case{u"\U0001F600\U0001F600", false}}) {
        EXPECT_EQ(atspi::isMask(c.line), c.mask) << c.line.size();
    }
}

TEST(XKeys, VirtualKeysAndChordModifiers) {
    EXPECT_EQ(keysymForKeyCode(keycode::v), XK_v);
    EXPECT_EQ(keysymForKeyCode(keycode::deleteKey), XK_BackSpace);
    EXPECT_EQ(keysymForKeyCode(keycode::returnKey), XK_Return);
    EXPECT_EQ(keysymForKeyCode(117), XK_Delete);
    EXPECT_EQ(keysymForKeyCode(keycode::function), std::nullopt);
    EXPECT_EQ(modifierKeysyms(modifier::command), std::vector<unsigned long>{XK_Control_L});
    EXPECT_EQ(modifierKeysyms(modifier::command | modifier::shift),
              (std::vector<unsigned long>{XK_Control_L, XK_Shift_L}));
    EXPECT_TRUE(modifierKeysyms(0).empty());
}

TEST(XKeys, CodePointsToKeysyms) {
    EXPECT_EQ(keysymForCodePoint(U'a'), XK_a);
    EXPECT_EQ(keysymForCodePoint(U'\u00e9'), XK_eacute);
    EXPECT_EQ(keysymForCodePoint(U'\u200B'), 0x100200BUL);
    EXPECT_EQ(keysymForCodePoint(U'\U0001F600'), 0x101F600UL);
    EXPECT_EQ(keysymForCodePoint(U'\n'), XK_Return);
    EXPECT_EQ(keysymForCodePoint(0xD800), std::nullopt);
    EXPECT_EQ(keysymForCodePoint(0x110000), std::nullopt);
    EXPECT_EQ(keysymForCodePoint(0x07), std::nullopt);
}

TEST(ScreenCoordinates, YDownToYUpAgainstThePrimaryScreen) {
    const Rect primary = makeRect(0, 0, 1280, 1024);
    EXPECT_EQ(toYUp(primary, primary), primary);
    EXPECT_EQ(toYUp(makeRect(100, 24, 50, 20), primary), makeRect(100, 980, 50, 20));
    // A second screen above the primary one, and a primary that does not start at (0, 0).
    EXPECT_EQ(toYUp(makeRect(0, -768, 1024, 768), primary), makeRect(0, 1024, 1024, 768));
    EXPECT_EQ(toYUp(makeRect(1920, 0, 1280, 1024), makeRect(1920, 0, 1280, 1024)),
              makeRect(0, 0, 1280, 1024));
    EXPECT_EQ(toYUp(Point{10, 1000}, primary), (Point{10, 24}));
}

}  // namespace
}  // namespace ravlin::platform
