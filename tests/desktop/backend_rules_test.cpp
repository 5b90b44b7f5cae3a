// The backends' translation rules, table by table: toolkit offsets, roles, keys, coordinates,
// and which element has the keyboard.

#include <X11/keysym.h>
#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/keys.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/focus_choice.h"
#include "platform/linux/accessibility/text_offsets.h"
#include "platform/linux/accessibility/toolkit.h"
#include "platform/linux/keys/xtest_key_synthesis.h"
#include "platform/linux/screens/qt_screens.h"
#include "platform/linux/taps/typed_run.h"

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
    const atspi::States single{.editable = true, .singleLine = true};
    const atspi::States multi{.editable = true, .multiLine = true};
    const atspi::States unsaid{.editable = true};
    const atspi::States shown{.multiLine = true};  // multi-line, not editable
    struct Case {
        AtspiRole role;
        atspi::States states;
        std::string name;
    };
    for (const auto& c : {Case{ATSPI_ROLE_PASSWORD_TEXT, single, "AXSecureTextField"},
                          Case{ATSPI_ROLE_ENTRY, single, "AXTextField"},
                          Case{ATSPI_ROLE_ENTRY, unsaid, "AXTextField"},
                          Case{ATSPI_ROLE_ENTRY, multi, "AXTextArea"},  // a web text area
                          Case{ATSPI_ROLE_TEXT, single, "AXTextField"},
                          Case{ATSPI_ROLE_TEXT, unsaid, "AXTextField"},
                          Case{ATSPI_ROLE_TEXT, multi, "AXTextArea"},
                          Case{ATSPI_ROLE_PARAGRAPH, multi, "AXTextArea"},  // LibreOffice
                          Case{ATSPI_ROLE_SECTION, multi, "AXTextArea"},  // contenteditable
                          Case{ATSPI_ROLE_DOCUMENT_WEB, multi, "AXWebArea"},
                          Case{ATSPI_ROLE_COMBO_BOX, single, "AXComboBox"},
                          Case{ATSPI_ROLE_TERMINAL, multi, "AXTerminal"},
                          Case{ATSPI_ROLE_FRAME, unsaid, "AXWindow"}}) {
        EXPECT_EQ(axRoleName(c.role, c.states), c.name) << c.role;
    }
    // A paragraph of text that cannot be edited, or anything else, is no role of the
    // application's tables.
    EXPECT_FALSE(axRoleName(ATSPI_ROLE_PARAGRAPH, shown).starts_with("AX"));
    EXPECT_FALSE(axRoleName(ATSPI_ROLE_PUSH_BUTTON, unsaid).starts_with("AX"));
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
        // Any mask is one character repeated; so is a line of one letter, which a hidden field
        // shows with a letter for its mask.
        if (c.mask) {
            EXPECT_TRUE(atspi::isOneCharacterRepeated(c.line));
        }
    }
    // Whatever the character: white space, an emoji (two UTF-16 units), a letter with its
    // accent apart, an emoji with its skin tone; as a person sees characters.
    for (const auto* line : {u"xxxx", u"x", u"1111", u"aaa\n", u"   ", u"\U0001F512\U0001F512",
                             u"e\u0301e\u0301", u"\u3000\u3000",
                             u"\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"}) {
        EXPECT_TRUE(atspi::isOneCharacterRepeated(line));
    }
    for (const auto* line :
         {u"", u"\n", u"xxy", u"  x", u"\U0001F512\U0001F513", u"\U0001F512\U0001F512\U0001F512x",
          u"e\u0301e", u"\U0001F44D\U0001F3FD\U0001F44D", u"\U0001F1FA\U0001F1F8\U0001F1FA"}) {
        EXPECT_FALSE(atspi::isOneCharacterRepeated(line));
    }
    // A regional indicator at any length: two of them show as one flag, an odd one alone.
    std::u16string indicators;
    for (int length = 1; length <= 8; ++length) {
        indicators += u"\U0001F1FA";
        EXPECT_TRUE(atspi::isOneCharacterRepeated(indicators)) << length;
    }
}

// An element as a rule sees it: lines of text (offset ranges), each with its top, characters
// 8 wide and of the height given (KDE's editor: none).
class ScriptedElement final : public atspi::ElementCalls {
  public:
    std::vector<std::pair<int, int>> lines;
    std::vector<double> tops;
    double height = 0;
    bool nowhere = false;  // every character at the zero rectangle
    atspi::States states_;
    std::optional<std::u16string> shown;  // none: it does not answer
    std::optional<int> count;             // none: it does not answer
    std::u16string typed;                 // what the person's keys just typed into it
    int calls = 0;

    bool showsWhatWasTyped(std::u16string_view line) override { return line == typed; }

    std::optional<atspi::States> states() override { return states_; }
    std::optional<std::u16string> displayedLine(int) override {
        ++calls;
        return shown;
    }
    std::optional<int> characterCount() override { return count; }
    std::optional<Rect> frame(AtspiCoordType) override { return frameGiven; }
    std::optional<Rect> frameGiven;
    bool noExtents = false;
    std::optional<std::pair<int, int>> lineAt(int offset) override {
        for (const auto& line : lines) {
            if (offset >= line.first && offset < line.second) {
                return line;
            }
        }
        return std::nullopt;
    }
    std::optional<Rect> textExtents(int start, int, AtspiCoordType) override {
        if (nowhere) {
            return Rect{};
        }
        if (noExtents) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const bool last = i + 1 == lines.size();
            if (start >= lines[i].first && (start < lines[i].second || (last && start == lines[i].second))) {
                return makeRect(100 + 8 * (start - lines[i].first), tops[i], 8, height);
            }
        }
        return std::nullopt;
    }
};

TEST(ToolkitRules, KdeEditorsCharactersTakeTheirLinesHeight) {
    const auto& qt = atspi::qtToolkit();
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> lines;
        std::vector<double> tops;
        double height;
        int offset;
        std::optional<double> expected;  // the height given; none: no rectangle
        bool nowhere = false;
    };
    for (const auto& c : {
             Case{"a toolkit that gives heights", {{0, 10}}, {50}, 17, 3, 17},
             Case{"the next line's top", {{0, 10}, {10, 20}}, {50, 67}, 0, 3, 17},
             Case{"the last line: the one before", {{0, 10}, {10, 20}}, {50, 68}, 0, 13, 18},
             Case{"one line: twice the width", {{0, 10}}, {50}, 0, 3, 16},
             Case{"no line told: as it is", {}, {}, 0, 3, std::nullopt},
             Case{"the zero rectangle: as it is", {{0, 10}}, {50}, 0, 3, 0, true},
         }) {
        SCOPED_TRACE(c.name);
        ScriptedElement element;
        element.lines = c.lines;
        element.tops = c.tops;
        element.height = c.height;
        element.nowhere = c.nowhere;
        const auto rect = qt.textBounds(element, c.offset, c.offset);
        if (!c.expected) {
            EXPECT_FALSE(rect.has_value());
            continue;
        }
        ASSERT_TRUE(rect.has_value());
        EXPECT_EQ(rect->height(), *c.expected);
        if (c.nowhere) {
            EXPECT_EQ(*rect, Rect{});
            continue;
        }
        EXPECT_EQ(rect->minY(), c.offset >= 10 ? c.tops[1] : c.tops[0]);
    }
}

TEST(ToolkitRules, Gtk4EntriesCharactersStandOnTheirLine) {
    const auto& gtk4 = atspi::gtk4Toolkit();
    ScriptedElement element;
    element.lines = {{0, 10}};
    element.tops = {50};
    element.height = 17;
    element.frameGiven = makeRect(20, 40, 400, 30);
    // A text view tells where its characters are.
    element.states_ = {.multiLine = true};
    EXPECT_EQ(gtk4.textBounds(element, 3, 3), makeRect(124, 50, 8, 17));
    // An entry tells nothing: its line, from its start; a text view that tells nothing, nothing.
    element.noExtents = true;
    element.states_ = {.singleLine = true};
    EXPECT_EQ(gtk4.textBounds(element, 3, 3), makeRect(20, 40, 0, 30));
    element.states_ = {.multiLine = true};
    EXPECT_EQ(gtk4.textBounds(element, 3, 3), std::nullopt);
    // The ATK bridge's toolkits give what they give.
    element.states_ = {.singleLine = true};
    EXPECT_EQ(atspi::atkToolkit().textBounds(element, 3, 3), std::nullopt);
}

// Told from the role, the states, the character count and the displayed line alone (the rules
// get no text to ask). GTK 4's hidden entries show one character for each of theirs, whatever
// the mask; the mask "no feedback at all" shows spaces (4.8) or nothing.
TEST(ToolkitRules, PasswordFieldsByRoleOrByWhatTheyShow) {
    struct Case {
        const char* name;
        AtspiRole role;
        atspi::States states;
        std::optional<int> count;
        std::optional<std::u16string> shown;
        bool gtk4;   // a password field to GTK 4's rules
        bool other;  // to the ATK bridge's (and Qt's)
        std::u16string typed = {};  // what the person's keys just typed into it
    };
    constexpr auto text = ATSPI_ROLE_TEXT;
    constexpr auto entry = ATSPI_ROLE_ENTRY;
    constexpr auto password = ATSPI_ROLE_PASSWORD_TEXT;
    for (const auto& c : {
             Case{"password role, bullets", password, {}, 2, u"\u25CF\u25CF", true, true},
             Case{"password role, nothing in it", password, {}, 0, u"", true, true},
             Case{"PasswordEntry peeked", password, {}, 6, u"secret", true, true},
             Case{"hidden Entry, bullets", text, {}, 2, u"\u25CF\u25CF", true, true},
             Case{"hidden Entry, a letter for its mask", text, {}, 10, u"xxxxxxxxxx", true, false},
             Case{"hidden Entry of one character", text, {}, 1, u"x", true, false},
             Case{"hidden Entry, spaces for its mask", text, {}, 4, u"    ", true, false},
             Case{"hidden Entry, no feedback", text, {}, 4, u"", true, false},
             Case{"hidden Entry, fewer shown than held", text, {}, 4, u"\u25CF\u25CF", true, true},
             Case{"hidden Entry, an emoji for its mask", text, {}, 3,
                  u"\U0001F512\U0001F512\U0001F512", true, false},
             Case{"hidden Entry, the emoji on a line of its own", text, {}, 2,
                  u"\U0001F512\U0001F512\n", true, false},
             Case{"field masked by its style", entry, {.singleLine = true}, 3,
                  u"\u2022\u2022\u2022", true, true},
             Case{"Entry", text, {}, 10, u"see eeyore", false, false},
             Case{"Entry holding an emoji and text", text, {}, 3, u"\U0001F512ab", false, false},
             Case{"empty Entry", text, {}, 0, u"", false, false},
             Case{"Entry that does not say what it shows", text, {}, 3, std::nullopt, true, false},
             Case{"Entry that does not say how much it holds", text, {}, std::nullopt, u"ab",
                  true, false},
             Case{"text view of stars", text, {.multiLine = true}, 3, u"***", false, false},
             Case{"button", ATSPI_ROLE_PUSH_BUTTON, {}, 3, u"***", false, false},
             // The person's own letters are no mask; a mask is one even typed.
             Case{"Entry showing the double tap typed", text, {}, 2, u"ee", false, false, u"ee"},
             Case{"Entry showing a letter typed", text, {}, 1, u"I", false, false, u"I"},
             Case{"Entry showing spaces typed", text, {}, 3, u"   ", false, false, u"   "},
             Case{"hidden Entry, a letter for its mask, typed else", text, {}, 4, u"xxxx", true,
                  false, u"pass"},
             Case{"hidden Entry, fewer shown than typed", text, {}, 4, u"ee", true, false, u"ee"},
             Case{"bullets typed", text, {}, 2, u"\u2022\u2022", true, true, u"\u2022\u2022"},
         }) {
        SCOPED_TRACE(c.name);
        ScriptedElement element;
        element.states_ = c.states;
        element.shown = c.shown;
        element.count = c.count;
        element.typed = c.typed;
        EXPECT_EQ(atspi::gtk4Toolkit().isPassword(c.role, element), c.gtk4);
        EXPECT_EQ(atspi::atkToolkit().isPassword(c.role, element), c.other);
        EXPECT_EQ(atspi::qtToolkit().isPassword(c.role, element), c.other);
        // A password role decides alone: a peeked field's line holds the password in clear.
        if (c.role == password) {
            EXPECT_EQ(element.calls, 0);
        }
    }
}

// What the person's keys last typed in one go, from the events the taps see: kept only while it
// is one character typed again and again (what a hidden entry's mask could show), and
// overwritten once the run ends or is withheld.
TEST(TypedRun, OneCharacterTypedAgainSinceTheLastKeyThatTypesNone) {
    using Type = InputEventType;
    const auto key = [](std::u16string typed, std::uint32_t modifiers = 0) {
        return InputEvent{.type = Type::keyDown, .modifiers = modifiers, .characters = typed};
    };
    const auto backSpace = InputEvent{.type = Type::keyDown, .keyCode = keycode::deleteKey};
    const auto own = InputEvent{.type = Type::keyDown, .characters = u"v", .isOwn = true};
    const auto click = InputEvent{.type = Type::leftMouseDown};
    const auto altDown = InputEvent{.type = Type::flagsChanged, .flags = eventflag::option};
    const auto up = InputEvent{.type = Type::flagsChanged};
    const auto superE = key(u"e", modifier::command);
    struct Case {
        const char* name;
        std::vector<InputEvent> events;
        std::u16string character;
        std::size_t times;
    };
    for (const auto& c : {
             Case{"the double tap", {key(u"e"), key(u"e")}, u"e", 2},
             Case{"a letter, then our shortcut", {key(u"I"), superE}, u"I", 1},
             Case{"a key after the shortcut starts again", {key(u"I"), superE, key(u"I")}, u"I", 1},
             Case{"a modifier pressed after a chord",
                  {key(u"I"), altDown, key(u"\t", modifier::option), up, altDown},
                  u"",
                  0},
             Case{"a BackSpace takes one back", {key(u"a"), key(u"a"), key(u"a"), backSpace}, u"a",
                  2},
             Case{"an emoji twice", {key(u"\U0001F600"), key(u"\U0001F600")}, u"\U0001F600", 2},
             Case{"another character: nothing kept", {key(u"a"), key(u"b")}, u"", 0},
             Case{"nor after a BackSpace", {key(u"a"), key(u"b"), backSpace}, u"", 0},
             Case{"a click", {key(u"a"), click, key(u"b")}, u"b", 1},
             Case{"Return", {key(u"a"), key(u"\r"), key(u"b")}, u"b", 1},
             Case{"a cursor key", {key(u"a"), key(u""), key(u"b")}, u"b", 1},
             Case{"a key of ours", {key(u"a"), own}, u"", 0},
         }) {
        SCOPED_TRACE(c.name);
        TypedRun run;
        for (const auto& event : c.events) {
            run.take(event);
        }
        EXPECT_EQ(run.view().character, c.character);
        EXPECT_EQ(run.view().times, c.times);
    }
    // Each run its own number; its character overwritten where it was kept once it ends, and
    // once it is withheld (nothing more kept until it ends).
    TypedRun run;
    run.take(key(u"x"));
    const auto first = run.view();
    const char16_t* kept = first.character.data();
    run.take(click);
    EXPECT_EQ(kept[0], u'\0');
    run.take(key(u"x"));
    EXPECT_NE(run.view().run, first.run);
    run.withhold();
    EXPECT_EQ(kept[0], u'\0');
    EXPECT_FALSE(run.take(key(u"x")));
    EXPECT_EQ(run.view().times, 0u);
}

// A state set read from the bits the bus carries says what the same set says through libatspi,
// states past the first word of bits included.
TEST(ToolkitRules, StatesFromTheBusBitsAsFromLibatspisSet) {
    const auto fields = [](const atspi::States& s) {
        return std::tuple{s.focused, s.focusable, s.active,   s.showing,    s.visible,
                          s.defunct, s.editable,  s.readOnly, s.singleLine, s.multiLine};
    };
    for (const auto& states : std::vector<std::vector<AtspiStateType>>{
             {},
             {ATSPI_STATE_FOCUSED, ATSPI_STATE_FOCUSABLE, ATSPI_STATE_SHOWING},
             {ATSPI_STATE_EDITABLE, ATSPI_STATE_VISIBLE, ATSPI_STATE_SINGLE_LINE},
             {ATSPI_STATE_ACTIVE, ATSPI_STATE_DEFUNCT, ATSPI_STATE_MULTI_LINE},
             {ATSPI_STATE_READ_ONLY, ATSPI_STATE_EDITABLE},
         }) {
        std::uint64_t bits = 0;
        GArray* array = g_array_new(FALSE, FALSE, sizeof(AtspiStateType));
        for (auto state : states) {
            bits |= std::uint64_t{1} << static_cast<unsigned>(state);
            g_array_append_val(array, state);
        }
        AtspiStateSet* set = atspi_state_set_new(array);
        EXPECT_EQ(fields(atspi::statesOfBits(bits)), fields(atspi::statesOf(set)));
        g_object_unref(set);
        g_array_free(array, TRUE);
    }
    // (read-only is a state of the second word)
    EXPECT_TRUE(atspi::statesOfBits(std::uint64_t{1} << ATSPI_STATE_READ_ONLY).readOnly);
}

TEST(FocusSearch, WindowsNamedByTheirTitles) {
    for (const auto& [name, title, names] : {
             std::tuple{"Set Password", "Set Password", true},
             std::tuple{"document.txt", "document.txt \u2014 KWrite", true},  // Qt adds its name
             std::tuple{"Untitled 1", "Untitled 10 - LibreOffice Writer", false},
             std::tuple{"", "", false},
             std::tuple{"Save", "Set Password", false},
         }) {
        EXPECT_EQ(atspi::namesWindow(name, title), names) << name << " / " << title;
    }
}

// The windows looked in first are those the window system says have the keyboard, told by
// their titles; a dialog over a document comes before the document.
TEST(FocusSearch, TheWindowThatHasTheKeyboardAndItsDialogsFirst) {
    using Groups = std::vector<std::vector<std::size_t>>;
    const ActiveWindow document{.pid = 1, .title = "Untitled 1 - LibreOffice Writer",
                                .dialogTitles = {"Set Password"}};
    const ActiveWindow dialog{.pid = 1, .title = "Set Password"};
    struct Case {
        const char* name;
        std::vector<atspi::BusWindow> windows;
        const ActiveWindow* active;
        Groups groups;
    };
    const atspi::BusWindow writer{"Untitled 1 - LibreOffice Writer", false};
    const atspi::BusWindow writerActive{"Untitled 1 - LibreOffice Writer", true};
    const atspi::BusWindow calc{"Untitled 2 - LibreOffice Calc", false};
    const atspi::BusWindow setPassword{"Set Password", false};
    const atspi::BusWindow setPasswordActive{"Set Password", true};
    const ActiveWindow panel{.pid = 1, .title = "Ravlin"};
    for (const auto& c : {
             Case{"the dialog in front: only it", {writer, setPasswordActive}, &dialog, {{1}}},
             Case{"the dialog in front, not yet said active", {writer, setPassword}, &dialog,
                  {{1}}},
             Case{"the dialog in front, the document still said active",
                  {writerActive, setPassword}, &dialog, {{1}}},
             Case{"an unnamed window said active, titled by the application's name",
                  {{"Ravlin", false}, {"", true}}, &panel, {{1}, {0}}},
             Case{"the document in front, its dialog said active",
                  {writerActive, calc, setPasswordActive}, &document, {{2}, {0}}},
             Case{"the document in front, a dialog over it", {writer, setPassword}, &document,
                  {{1}, {0}}},
             Case{"no window by that title: the one said active", {writer, calc},
                  &dialog, {{0, 1}}},
             Case{"nothing told by the window system", {writer, setPasswordActive}, nullptr,
                  {{1}}},
             Case{"no windows", {}, &dialog, {}},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(atspi::windowsToSearch(c.windows, c.active), c.groups);
    }
}

// Of the elements claiming the focus, in the order met: the first field that holds it with its
// caret there; else the latest focus event's; else the first holder with no holder inside it,
// a field first; else the first stand-in; else the only field whose focus goes unsaid. A web
// page's document or paragraph that only keeps the caret of a click on the page is never taken
// over the input that has the keyboard.
TEST(FocusSearch, TheElementWithTheCaretAmongThoseClaimingTheFocus) {
    using Claim = atspi::FocusClaim;
    const atspi::FocusCandidate caretHere{
        .claim = Claim::holds, .takesText = true, .editable = true, .caret = 11};
    const atspi::FocusCandidate caretElsewhere{
        .claim = Claim::holds, .takesText = true, .editable = true, .caret = -1};
    const atspi::FocusCandidate pageCaret{.claim = Claim::holds, .takesText = true, .caret = 3};
    const atspi::FocusCandidate documentAround{
        .claim = Claim::holds, .takesText = true, .caret = 3, .enclosesAnother = true};
    const atspi::FocusCandidate button{.claim = Claim::holds};
    const atspi::FocusCandidate table{.claim = Claim::holds};
    const atspi::FocusCandidate proxy{.claim = Claim::standsIn};
    const atspi::FocusCandidate named{.claim = Claim::holds, .latestEvent = true};
    const atspi::FocusCandidate unsaid{.takesText = true, .unsaid = true};
    struct Case {
        const char* name;
        std::vector<atspi::FocusCandidate> met;
        std::optional<std::size_t> taken;
    };
    for (const auto& c : {
             Case{"Writer: the paragraph the caret left, then the caret's",
                  {caretElsewhere, caretHere}, 1},
             Case{"Calc: the sheet, then the edited cell's paragraph", {table, caretHere}, 1},
             Case{"the latest focus event's", {table, named}, 1},
             Case{"the first holder", {proxy, caretElsewhere, table}, 1},
             Case{"a stand-in only", {proxy}, 0},
             Case{"a field whose focus goes unsaid", {unsaid}, 0},
             Case{"two of those: neither", {unsaid, unsaid}, std::nullopt},
             Case{"a holder before an unsaid field", {unsaid, table}, 1},
             Case{"a page's paragraph with its caret, then the input", {pageCaret, caretHere}, 1},
             Case{"the page's document around the input, its caret elsewhere",
                  {documentAround, caretElsewhere}, 1},
             Case{"the page's document around a button", {documentAround, button}, 1},
             Case{"a page's paragraph with its caret alone", {pageCaret}, 0},
             Case{"nothing", {}, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(atspi::chooseFocus(c.met), c.taken);
    }
    EXPECT_TRUE(atspi::endsFocusSearch(caretHere));
    EXPECT_FALSE(atspi::endsFocusSearch(caretElsewhere));
    EXPECT_FALSE(atspi::endsFocusSearch(table));
    EXPECT_FALSE(atspi::endsFocusSearch(pageCaret));
    EXPECT_FALSE(atspi::endsFocusSearch(documentAround));
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
