// Whether a paste arrived: the rule on its own, then the paste flow on the simulated desktop.

#include "app/target/paste_check.h"

#include <gtest/gtest.h>

#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

namespace ax = platform::ax;

TEST(PasteCheck, TheTextMustStandWhereItWentAndTheFieldMustHaveChanged) {
    struct Case {
        const char* name;
        std::u16string before;
        text::Utf16Range selection;
        std::u16string after, text;
        bool seen;
    };
    for (const Case& c : {
             Case{"at the caret", u"Hi ", {3, 0}, u"Hi there", u"there", true},
             Case{"over the selection", u"start end", {6, 3}, u"start fine", u"fine", true},
             Case{"a line break added after it", u"", {0, 0}, u"fine\n", u"fine", true},
             Case{"its own line break dropped", u"a", {1, 0}, u"ab", u"b\n", true},
             Case{"the same text over itself", u"start end", {6, 3}, u"start end", u"end", true},
             Case{"nothing changed", u"Hi ", {3, 0}, u"Hi ", u"there", false},
             Case{"the old text, the new one there already", u"fine", {4, 0}, u"fine", u"fine",
                  false},
             Case{"somewhere else", u"x", {0, 0}, u"xfine", u"fine", false},
             Case{"cut short", u"", {0, 0}, u"fin", u"fine", false},
             Case{"the field emptied", u"Hi ", {3, 0}, u"", u"there", false},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pastedTextSeen(c.before, c.selection, c.after, c.text), c.seen);
    }
}

TEST(PasteCheck, TheWindowFirstThenTheFetchThenTheField) {
    const QNPasteWitness readable{7, u"Hi ", text::Utf16Range{3, 0}};
    const QNPasteWitness unreadable{7, std::nullopt, std::nullopt};
    const QNPasteLook pasted{true, 7, true, u"Hi there"};
    struct Case {
        const char* name;
        QNPasteWitness before;
        QNPasteLook now;
        QNPasteCheck check;
    };
    for (const Case& c : {
             Case{"seen", readable, pasted, QNPasteCheck::seen},
             Case{"not seen", readable, {true, 7, true, u"Hi "}, QNPasteCheck::notSeen},
             Case{"not fetched", readable, {true, 7, false, u"Hi there"},
                  QNPasteCheck::notFetched},
             Case{"another window", readable, {true, 8, true, u"Hi there"},
                  QNPasteCheck::targetGone},
             Case{"another application", unreadable, {false, 7, true, {}},
                  QNPasteCheck::targetGone},
             Case{"unreadable, delivered", unreadable, {true, 7, true, {}},
                  QNPasteCheck::delivered},
             Case{"unreadable, not fetched", unreadable, {true, 7, false, {}},
                  QNPasteCheck::notFetched},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(judgePaste(c.before, c.now, u"there"), c.check);
    }
}

struct PasteCheckFlow : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
};

// The Composer's paste: the text leaves the clipboard only once it is seen in the field, or,
// where the field cannot be read, once the window that took the chord has taken the text and
// still has the focus. Otherwise it stays there for the user to paste, and the user's contents
// come back a minute later.
TEST_F(PasteCheckFlow, ThePasteIsCheckedBeforeTheTextLeavesTheClipboard) {
    enum class Field { readable, readOnly, unreadable, password };
    enum class Meanwhile { nothing, windowCloses, otherAppInFront };
    struct Case {
        const char* name;
        Field field;
        bool handlesKeys;
        Meanwhile meanwhile;
        QNPasteOutcome outcome;
        std::u16string after;
    };
    const QNPasteOutcome pasted{};
    const auto left = [](std::string_view reason) {
        return QNPasteOutcome{QNPasteResult::leftOnClipboard, reason, "Ctrl+V"};
    };
    for (const Case& c : {
             Case{"seen", Field::readable, true, Meanwhile::nothing, pasted, u"Hi fine"},
             Case{"not seen", Field::readOnly, true, Meanwhile::nothing, left("paste-not-seen"),
                  u"Hi "},
             Case{"not fetched", Field::readable, false, Meanwhile::nothing,
                  left("paste-not-fetched"), u"Hi "},
             Case{"unreadable, delivered", Field::unreadable, true, Meanwhile::nothing, pasted,
                  u"Hi fine"},
             Case{"password, delivered", Field::password, true, Meanwhile::nothing, pasted,
                  u"Hi fine"},
             Case{"unreadable, ignored", Field::unreadable, false, Meanwhile::nothing,
                  left("paste-not-fetched"), u"Hi "},
             Case{"window closed", Field::unreadable, true, Meanwhile::windowCloses,
                  left("target-gone"), u""},
             Case{"another application in front", Field::unreadable, true,
                  Meanwhile::otherAppInFront, left("target-gone"), u"Hi fine"},
         }) {
        SCOPED_TRACE(c.name);
        const auto target = open({.identity = "gedit", .handlesKeys = c.handlesKeys},
                                 {.role = c.field == Field::password ? "AXSecureTextField"
                                                                     : "AXTextArea",
                                  .value = u"Hi ",
                                  .selection = {3, 0},
                                  .readOnly = c.field == Field::readOnly});
        accessibility->hidden = c.field == Field::unreadable
                                    ? std::set<std::string, std::less<>>{"AXValue"}
                                    : std::set<std::string, std::less<>>{};
        const auto other = desktop.addApplication({.identity = "other"});
        if (c.meanwhile == Meanwhile::windowCloses) {
            const auto window =
                platform::elementAttribute(*fakeSeams.accessibility, target.field, ax::window);
            ASSERT_TRUE(window);
            executor->postAfter(400ms, [&, window] { desktop.removeElement(*window); });
        } else if (c.meanwhile == Meanwhile::otherAppInFront) {
            executor->postAfter(400ms, [&] { desktop.setFrontmost(other); });
        }
        EXPECT_EQ(finish(start(QNModelPasteboardSnapshot::paste(seams(manager), u"fine",
                                                                target.app, {}))),
                  c.outcome);
        EXPECT_EQ(desktop.value(target.field).value_or(u""), c.after);
        const bool arrived = c.outcome.result == QNPasteResult::pasted;
        EXPECT_EQ(clipboard(), arrived ? u"user's secret" : u"fine");
        EXPECT_EQ(manager->hasPendingRestore(), !arrived);
        executor->advance(61s);
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

}  // namespace
}  // namespace ravlin::testing
