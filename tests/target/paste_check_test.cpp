// Whether a paste arrived: the rule on its own, then the paste flow on the simulated desktop.

#include "app/target/paste_check.h"

#include <gtest/gtest.h>

#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

namespace ax = platform::ax;

// Judged by the field: tolerant of how targets shape a pasted text, never of a change that is
// not the text.
TEST(PasteCheck, AFieldIsJudgedByWhatChangedWhereTheTextWent) {
    using enum QNPastedText;
    struct Case {
        const char* name;
        std::u16string before;
        text::Utf16Range selection;
        std::u16string after, text;
        QNPastedText judged;
    };
    const std::u16string twoLines = u"Line one.\nLine two.";
    for (const Case& c : {
             Case{"at the caret", u"Hi ", {3, 0}, u"Hi there", u"there", arrived},
             Case{"over the selection", u"start end", {6, 3}, u"start fine", u"fine", arrived},
             Case{"the same text over itself", u"start end", {6, 3}, u"start end", u"end",
                  arrived},
             // Shaped by the field.
             Case{"a single line makes line breaks spaces", u"", {0, 0}, u"Line one. Line two.",
                  twoLines, arrived},
             Case{"a single line drops them", u"x", {1, 0}, u"xLine one.Line two.", twoLines,
                  arrived},
             Case{"curly quotes, dashes and an indented line", u"", {0, 0},
                  u"He said \u201Chi\u201D \u2014 it\u2019s\n    done\u2026", 
                  u"He said \"hi\" -- it's\ndone...", arrived},
             Case{"CRLF, non-breaking spaces, an object replacement character", u"a|b", {1, 1},
                  u"aLine\u00A0one.\r\n\uFFFCLine two.b", twoLines, arrived},
             Case{"a line break added after it", u"", {0, 0}, u"fine\n", u"fine", arrived},
             Case{"the person typed on after it", u"Hi ", {3, 0}, u"Hi there, and", u"there",
                  arrived},
             // Part of it, or perhaps all of it elsewhere.
             Case{"cut short by a length limit", u"abc", {3, 0}, u"abcLine one. Li", twoLines,
                  arrivedInPart},
             Case{"its first line, the rest in the next paragraph", u"ab", {1, 0}, u"aLine one.",
                  twoLines, mayHaveArrived},
             Case{"beside the text it was to replace", u"start end", {6, 3}, u"start endfine",
                  u"fine", mayHaveArrived},
             Case{"somewhere else", u"x", {0, 0}, u"xfine", u"fine", mayHaveArrived},
             Case{"far more typed beside it than a person types meanwhile", u"", {0, 0},
                  u"fine and then a whole paragraph that nobody types in two seconds", u"fine",
                  mayHaveArrived},
             // Its letters' case changed by the editor: perhaps the text, never pasted again.
             Case{"a capital letter", u"", {0, 0}, u"There", u"there", mayHaveArrived},
             // Not there.
             Case{"nothing changed", u"Hi ", {3, 0}, u"Hi ", u"there", notArrived},
             Case{"the old text, the new one there already", u"fine", {4, 0}, u"fine", u"fine",
                  notArrived},
             Case{"the person typed, the paste never came", u"Hi ", {3, 0}, u"Hi and", u"there",
                  notArrived},
             Case{"only the selection went", u"start end", {6, 3}, u"start ", u"fine",
                  notArrived},
             Case{"the field emptied", u"Hi ", {3, 0}, u"", u"there", notArrived},
             // A web editor's message as the reader shows it (a line between paragraphs), the
             // paste within the first paragraph, spaces beside it made no-break ones.
             Case{"in a web editor's paragraph", u"We will recieve it.\nIt is late.", {8, 7},
                  u"We will gladly take\u00A0it.\nIt is late.", u"gladly take", arrived},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pastedText(c.before, c.selection, c.after, c.text), c.judged);
    }
}

// Judged as a whole: a readable field by its text, else by who took the text.
TEST(PasteCheck, TheFieldFirstThenWhoTookTheText) {
    using platform::WriteFetch;
    const QNPasteWitness readable{7, u"Hi ", text::Utf16Range{3, 0}};
    const QNPasteWitness unreadable{7, std::nullopt, std::nullopt};
    struct Case {
        const char* name;
        QNPasteWitness before;
        QNPasteLook now;
        bool mayBeHeld;
        QNPasteCheck check;
    };
    for (const Case& c : {
             Case{"seen", readable, {true, 7, WriteFetch::byTarget, u"Hi there"}, false,
                  QNPasteCheck::seen},
             Case{"seen, although the focus went on", readable,
                  {false, 8, WriteFetch::byTarget, u"Hi there"}, false, QNPasteCheck::seen},
             Case{"in part", readable, {true, 7, WriteFetch::byTarget, u"Hi the"}, false,
                  QNPasteCheck::partial},
             Case{"not seen", readable, {true, 7, WriteFetch::byTarget, u"Hi "}, false,
                  QNPasteCheck::notSeen},
             Case{"only a clipboard manager took it", readable,
                  {true, 7, WriteFetch::byOthers, u"Hi "}, false, QNPasteCheck::notFetched},
             Case{"taken, then another window", readable, {true, 8, WriteFetch::byTarget, u"Hi "},
                  false, QNPasteCheck::unconfirmed},
             Case{"not taken, another window", readable, {true, 8, WriteFetch::none, u"Hi "},
                  false, QNPasteCheck::targetGone},
             Case{"unreadable, taken by the target", unreadable,
                  {true, 7, WriteFetch::byTarget, {}}, false, QNPasteCheck::delivered},
             Case{"unreadable, a paste guard may hold it", unreadable,
                  {true, 7, WriteFetch::byTarget, {}}, true, QNPasteCheck::unconfirmed},
             Case{"unreadable, taken by someone", unreadable, {true, 7, WriteFetch::unknown, {}},
                  false, QNPasteCheck::unattributed},
             Case{"unreadable, a clipboard manager took it", unreadable,
                  {true, 7, WriteFetch::byOthers, {}}, false, QNPasteCheck::notFetched},
             Case{"unreadable, not taken, another application", unreadable,
                  {false, 7, WriteFetch::none, {}}, false, QNPasteCheck::targetGone},
             Case{"no longer readable, taken by the target", readable,
                  {true, 7, WriteFetch::byTarget, {}}, false, QNPasteCheck::delivered},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(judgePaste(c.before, c.now, u"there", c.mayBeHeld), c.check);
    }
}

// A document that makes each pasted line a paragraph of its own keeps the first in the field and
// takes the focus to the last: the paragraphs after the field, up to the focused one, show the
// rest; never where the field is as it was (the focus may have moved on without the paste).
TEST(PasteCheck, AParagraphPerLineIsReadOnIntoTheParagraphsAfter) {
    using platform::WriteFetch;
    const QNPasteWitness before{7, u"Say: end", text::Utf16Range{4, 0}};
    const std::u16string_view text = u"Line one.\nLine two.\nLine three.";
    const auto look = [](std::u16string value, std::optional<std::u16string> runOn) {
        return QNPasteLook{true, 7, WriteFetch::byTarget, std::move(value), std::move(runOn)};
    };
    struct Case {
        const char* name;
        QNPasteLook now;
        QNPasteCheck check;
    };
    for (const Case& c : {
             Case{"the rest in the paragraphs after", look(u"Say:Line one.",
                                                           u"\nLine two.\nLine three. end"),
                  QNPasteCheck::seen},
             Case{"the paragraphs not told", look(u"Say:Line one.", std::nullopt),
                  QNPasteCheck::misplaced},
             Case{"a paragraph missing", look(u"Say:Line one.", u"\nLine three. end"),
                  QNPasteCheck::misplaced},
             Case{"the field as it was", look(u"Say: end", u"\nLine one.\nLine two.\nLine three."),
                  QNPasteCheck::notSeen},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(judgePaste(before, c.now, text), c.check);
    }
}

TEST(PasteCheck, OnlyATerminalsPasteOfControlCharactersMayBeHeldBack) {
    EXPECT_TRUE(pasteGuardMayHold(true, u"ls\n"));
    EXPECT_TRUE(pasteGuardMayHold(true, u"a\tb"));
    EXPECT_FALSE(pasteGuardMayHold(true, u"ls -l"));
    EXPECT_FALSE(pasteGuardMayHold(false, u"ls\n"));
}

struct PasteCheckFlow : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
};

// The Composer's paste: the text leaves the clipboard only once it is seen in the field, or,
// where the field cannot be read, once the window that took the chord has taken the text itself
// and still has the focus. A text that may have arrived is never left to be pasted again; one
// that did not stays there for the user to paste, and the user's contents come back a minute
// later. No chord goes into a password field.
TEST_F(PasteCheckFlow, ThePasteIsCheckedBeforeTheTextLeavesTheClipboard) {
    enum class Field { readable, readOnly, unreadable, password, singleLine, limited, terminal };
    enum class Meanwhile {
        nothing,
        windowCloses,
        otherAppInFront,
        // A dialog of the target's takes the keyboard while the field is read before the chord
        // (a call over the bus takes a while), or another field of the window does once the
        // chord is out, before the target acts on it.
        dialogAsTheFieldIsRead,
        otherFieldAfterTheChord,
    };
    struct Case {
        const char* name;
        Field field;
        bool handlesKeys;
        bool clipboardManager;
        Meanwhile meanwhile;
        QNPasteOutcome outcome;
        std::u16string after;
        std::u16string text = u"fine";
    };
    const QNPasteOutcome pasted{};
    const auto left = [](std::string_view reason, std::string_view chord = "") {
        return QNPasteOutcome{QNPasteResult::leftOnClipboard, reason, chord};
    };
    const QNPasteOutcome unconfirmed{QNPasteResult::sentUnconfirmed, "arrival-unconfirmed", "",
                                     true};
    for (const Case& c : {
             Case{"seen", Field::readable, true, false, Meanwhile::nothing, pasted, u"Hi fine"},
             Case{"seen as a single line shapes it", Field::singleLine, true, false,
                  Meanwhile::nothing, pasted, u"Hi one two", u"one\ntwo"},
             Case{"cut short by the field", Field::limited, true, false, Meanwhile::nothing,
                  {QNPasteResult::pastedInPart, "paste-cut-short"}, u"Hi fi"},
             Case{"not seen", Field::readOnly, true, false, Meanwhile::nothing,
                  left("paste-not-seen"), u"Hi "},
             Case{"not fetched", Field::readable, false, false, Meanwhile::nothing,
                  left("paste-not-fetched"), u"Hi "},
             Case{"unreadable, taken by the target", Field::unreadable, true, false,
                  Meanwhile::nothing, pasted, u"Hi fine"},
             Case{"unreadable, taken by the target, a clipboard manager running",
                  Field::unreadable, true, true, Meanwhile::nothing, pasted, u"Hi fine"},
             Case{"unreadable, taken by a clipboard manager only", Field::unreadable, false, true,
                  Meanwhile::nothing, left("paste-not-fetched"), u"Hi "},
             Case{"a password field: no chord goes into it", Field::password, true, false,
                  Meanwhile::nothing, {QNPasteResult::passwordField}, u"Hi "},
             Case{"a terminal that may hold back a line break", Field::terminal, true, true,
                  Meanwhile::nothing, unconfirmed, u"Hi ls\n", u"ls\n"},
             Case{"a terminal, one line", Field::terminal, true, true, Meanwhile::nothing, pasted,
                  u"Hi ls"},
             Case{"taken, then the window closed", Field::unreadable, true, false,
                  Meanwhile::windowCloses, unconfirmed, u""},
             Case{"taken, then another application in front", Field::unreadable, true, false,
                  Meanwhile::otherAppInFront, unconfirmed, u"Hi fine"},
             Case{"not taken, another application in front", Field::unreadable, false, false,
                  Meanwhile::otherAppInFront, left("target-gone", "Ctrl+V"), u"Hi "},
             Case{"a dialog takes the keyboard as the field is read", Field::readable, true, false,
                  Meanwhile::dialogAsTheFieldIsRead,
                  {QNPasteResult::keyboardElsewhere, "another-window"}, u"Hi "},
             // Where it went is not known: never offered for pasting again, never said pasted.
             Case{"another field takes the keyboard after the chord", Field::readable, true, false,
                  Meanwhile::otherFieldAfterTheChord,
                  {QNPasteResult::sentUnconfirmed, "arrival-unconfirmed"}, u"Hi "},
         }) {
        SCOPED_TRACE(c.name);
        const std::u16string text = c.field == Field::terminal && c.text == u"fine" ? u"ls" : c.text;
        const auto target = open(
            {.identity = c.field == Field::terminal ? "st-256color" : "gedit",
             .handlesKeys = c.handlesKeys},
            {.role = c.field == Field::password   ? "AXSecureTextField"
                     : c.field == Field::terminal ? "AXTerminal"
                                                  : "AXTextArea",
             .value = u"Hi ",
             .selection = {3, 0},
             .readOnly = c.field == Field::readOnly,
             .pasteShape = c.field == Field::singleLine
                               ? [](std::u16string_view t) {
                                     std::u16string line(t);
                                     std::ranges::replace(line, u'\n', u' ');
                                     return line;
                                 }
                               : std::function<std::u16string(std::u16string_view)>(),
             .maxLength = c.field == Field::limited ? std::optional<std::int64_t>(5)
                                                    : std::nullopt});
        accessibility->hidden = c.field == Field::unreadable
                                    ? std::set<std::string, std::less<>>{"AXValue"}
                                    : std::set<std::string, std::less<>>{};
        const auto other = desktop.addApplication({.identity = "other"});
        desktop.setClipboardManager(c.clipboardManager ? std::optional(other) : std::nullopt);
        // (in the same moment as the target's fetch, 20 ms after the chord: the paste is judged
        // as soon as the target has taken the text)
        const auto window =
            platform::elementAttribute(*fakeSeams.accessibility, target.field, ax::window);
        ASSERT_TRUE(window);
        // What happens 20 ms after the chord, looked for each millisecond (for at most 3 s).
        std::function<void(int)> afterTheChord;
        const auto meanwhileAfterTheChord = [&] {
            if (c.meanwhile == Meanwhile::windowCloses) {
                desktop.removeElement(*window);
            } else if (c.meanwhile == Meanwhile::otherAppInFront) {
                desktop.setFrontmost(other);
            }
        };
        afterTheChord = [&](int looks) {
            if (count(platform::fake::PostedKey::Kind::down, platform::keycode::v) > 0) {
                executor->postAfter(20ms, meanwhileAfterTheChord);
            } else if (looks < 3000) {
                executor->postAfter(1ms, [&, looks] { afterTheChord(looks + 1); });
            }
        };
        if (c.meanwhile == Meanwhile::windowCloses || c.meanwhile == Meanwhile::otherAppInFront) {
            afterTheChord(0);
        }
        const auto dialog = desktop.addElement(desktop.addWindow(target.app.pid, {}), {});
        const auto beside = desktop.addElement(*window, {});
        const auto meanwhile = c.meanwhile;
        accessibility->attributes = [&, meanwhile](std::string_view name) {
            // (the first read of the field's text with ours on the clipboard: just before the
            // chord)
            if (meanwhile == Meanwhile::dialogAsTheFieldIsRead && name == ax::value &&
                clipboard() == text && desktop.frontmostPid() == target.app.pid) {
                desktop.focus(dialog);
            }
            return std::optional<ScriptedAccessibility::Answer>();
        };
        if (meanwhile == Meanwhile::otherFieldAfterTheChord) {
            desktop.scriptShortcut(target.app.pid, platform::keycode::v, [&] {
                desktop.focus(beside);
                desktop.scriptShortcut(target.app.pid, platform::keycode::v, {});
                desktop.userPressKey({platform::keycode::v, platform::modifier::command});
            });
        }
        // As the Composer pastes: into the window and the field it was opened over.
        const auto outcome = finish(start(QNModelPasteboardSnapshot::paste(
            seams(manager), text, target.app, {}, std::nullopt,
            QNPastePlace{.window = window->id, .field = target.field})));
        accessibility->attributes = nullptr;
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(desktop.value(target.field).value_or(u""), c.after);
        EXPECT_EQ(desktop.value(dialog).value_or(u""), u"");
        const bool left = outcome.result == QNPasteResult::leftOnClipboard;
        EXPECT_EQ(clipboard(), left ? std::optional(text) : u"user's secret");
        EXPECT_EQ(manager->hasPendingRestore(), left);
        executor->advance(61s);
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

}  // namespace
}  // namespace ravlin::testing
