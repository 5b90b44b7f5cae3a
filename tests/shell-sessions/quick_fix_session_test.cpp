// The Quick Fix session on the simulated desktop: refusals, the auto-commit's stops and
// outcomes; and what a trigger does while a commit or a write-back is under way.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/target/quick_fix_hud.h"
#include "tests/shell-sessions/sessions_fixture.h"

namespace ravlin::testing {
namespace {

constexpr const char* kTrigger = "quick-fix-double-tap";

class QuickFixSession : public SessionsFixture {
  protected:
    void quickFix() {
        app->handleQuickFixTrigger(kTrigger);
        drive(1s);
    }
    // Opens a Quick Fix and stops before its correction runs (the work runner is held).
    void openHeld() {
        app->handleQuickFixTrigger(kTrigger);
        for (int step = 0; step < 200 && !app->isPanelOpen; ++step) {
            executor->runUntilIdle();
            executor->advance(5ms);
        }
        ASSERT_TRUE(app->isPanelOpen);
    }
    // The heads-up on screen: its title, or none.
    static std::optional<std::string> headsUp() {
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (auto* panel = dynamic_cast<QNQuickFixHUDPanel*>(widget);
                panel && panel->isVisible()) {
                return panel->hostingView()->title().toStdString();
            }
        }
        return std::nullopt;
    }
};

TEST_F(QuickFixSession, RefusalsShowTheirHeadsUpUseANumberAndLeaveTheTriggerUsable) {
    struct Case {
        const char* name;
        std::string identity, role;
        std::optional<std::u16string> value;
        std::string reason;
        QNQuickFixHUDKind kind;
    };
    startApp();
    int number = 0;
    for (const Case& c : {
             Case{"password field", "gedit", "AXSecureTextField", u"hunter2", "secure-input",
                  QNQuickFixHUDKind::secureRefused},
             Case{"terminal", "gnome-terminal", "AXTextArea", u"ls -l", "terminal-not-supported",
                  QNQuickFixHUDKind::terminalRefused},
             Case{"nothing readable", "gedit", "AXButton", std::nullopt, "no-target-text",
                  QNQuickFixHUDKind::noTarget},
         }) {
        SCOPED_TRACE(c.name);
        const auto pid = desktop.addApplication({.identity = c.identity, .name = c.identity});
        const auto field =
            desktop.addElement(desktop.addWindow(pid, {0, 0, 400, 300}),
                               {.role = c.role, .value = c.value, .settable = false});
        desktop.focus(field);
        desktop.setFrontmost(pid);
        const auto before = lines().size();
        quickFix();
        const std::string line =
            "sid=s00" + std::to_string(++number) +
            " state=quick_fix_skipped trigger=quick-fix-double-tap source=" + c.identity +
            " reason=" + c.reason;
        EXPECT_EQ(linesWith("", before), std::vector<std::string>{line});
        EXPECT_EQ(headsUp(), hudTitle(c.kind));
        EXPECT_FALSE(app->isPanelOpen);
        EXPECT_FALSE(app->isOpeningPanel);
        EXPECT_FALSE(app->quickFixDoubleTap->state().isSuspended);
        drive(4100ms);
        EXPECT_EQ(headsUp(), std::nullopt) << "the heads-up stays four seconds";
    }
}

TEST_F(QuickFixSession, NothingHappensWhileAPanelIsOpen) {
    startApp();
    openTarget(u"Hi teh cat");
    app->toggleHotkey("hotkey");
    drive(50ms);
    ASSERT_TRUE(app->isPanelOpen);
    const auto before = lines().size();
    quickFix();
    EXPECT_EQ(lines().size(), before);
    EXPECT_EQ(app->panelSessionID, "s001");
    EXPECT_TRUE(app->quickFixDoubleTap->state().isSuspended);
}

TEST_F(QuickFixSession, TheAutoCommitStopsWithoutWritingBack) {
    enum class Stop { unchanged, userEdit, dismissed, manualCommit };
    struct Case {
        const char* name;
        Stop stop;
        std::u16string value;
        std::optional<std::string> reason;
    };
    for (const Case& c : {
             Case{"unchanged", Stop::unchanged, u"Hi the cat", "unchanged-text"},
             Case{"typed in the panel first", Stop::userEdit, u"Hi teh cat",
                  "user-edited-composer"},
             Case{"dismissed while correcting", Stop::dismissed, u"Hi teh cat", {}},
             Case{"committed by hand", Stop::manualCommit, u"Hi teh cat", {}},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        const auto target = openTarget(c.value);
        app->preservedDraft = u"Kept draft";
        openHeld();
        EXPECT_EQ(app->preservedDraft, std::nullopt) << "a Quick Fix clears the kept draft";
        EXPECT_EQ(linesWith("sid=s001 state=quick_fix_opened"),
                  std::vector<std::string>{
                      "sid=s001 state=quick_fix_opened trigger=quick-fix-double-tap source=gedit "
                      "role=AXTextField capture=focusedValue route=nativeAppKit target_chars=10"});
        switch (c.stop) {
            case Stop::unchanged:
                break;
            case Stop::userEdit:
                app->textController->textView()->textCursor().insertText(QStringLiteral(" sat"));
                break;
            case Stop::dismissed:
                app->dismissPanel("dismiss-key");
                break;
            case Stop::manualCommit:
                app->requestCommit();
                break;
        }
        drive(3s);
        const auto skipped = linesWith("state=quick_fix_auto_commit");
        if (c.reason) {
            EXPECT_EQ(skipped,
                      std::vector<std::string>{"sid=s001 state=quick_fix_auto_commit_skipped "
                                               "trigger=quick-fix-double-tap reason=" +
                                               *c.reason});
            EXPECT_TRUE(app->isPanelOpen) << "the session goes on by hand";
        } else {
            EXPECT_TRUE(skipped.empty());
        }
        EXPECT_EQ(app->quickFixAutoCommitTask.has_value(), false);
        EXPECT_EQ(app->quickFixAutoCommitSessionID, std::nullopt);
        EXPECT_EQ(linesWith("quick_fix_committed").size(), 0u);
        if (c.stop != Stop::manualCommit) {
            EXPECT_EQ(fieldValue(target.field), c.value);
        }
    }
}

TEST_F(QuickFixSession, EachOutcomeClosesOrKeepsThePanelAndTheDraft) {
    enum class Setup { none, valueChangedMeanwhile, activationRefused };
    struct Case {
        const char* name;
        Setup setup;
        std::string line;
        std::optional<QNQuickFixHUDKind> headsUp;
        bool panelOpen;
        std::optional<std::u16string> draft;
        std::u16string field;
    };
    for (const Case& c : {
             Case{"written through accessibility",
                  Setup::none,
                  "sid=s001 state=quick_fix_committed method=accessibility "
                  "pasteboard_restore=success",
                  {},
                  false,
                  std::nullopt,
                  u"Hi the cat"},
             Case{"left on the clipboard", Setup::valueChangedMeanwhile,
                  "sid=s001 state=quick_fix_paste_on_clipboard reason=paste-after-ax-failure "
                  "pasteboard_restore=deferred",
                  QNQuickFixHUDKind::pasteOnClipboard, false, u"the", u"Hi tex cat"},
             Case{"target not reached", Setup::activationRefused,
                  "sid=s001 state=quick_fix_commit_failed reason=activate-target "
                  "pasteboard_restore=success",
                  QNQuickFixHUDKind::activationFailed, true, u"Hi the cat", u"Hi teh cat"},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        const auto target = openTarget(u"Hi teh cat", c.setup == Setup::valueChangedMeanwhile
                                                          ? text::Utf16Range{3, 3}
                                                          : text::Utf16Range{10, 0});
        openHeld();
        if (c.setup == Setup::valueChangedMeanwhile) {
            desktop.setValue(target.field, u"Hi tex cat", {0, 3});
        }
        if (c.setup == Setup::activationRefused) {
            desktop.setActivation(target.app.pid, platform::fake::Activation::refuse());
        }
        drive(3s);
        const auto outcome = linesWith("state=quick_fix_", 0);
        ASSERT_FALSE(outcome.empty());
        EXPECT_EQ(outcome.back(), c.line);
        EXPECT_EQ(linesWith("state=quick_fix_auto_committing").size(), 1u);
        EXPECT_EQ(headsUp(), c.headsUp ? std::optional(hudTitle(*c.headsUp)) : std::nullopt);
        EXPECT_EQ(app->isPanelOpen, c.panelOpen);
        EXPECT_EQ(app->panel->isVisible(), c.panelOpen);
        EXPECT_EQ(app->panelSessionID,
                  c.panelOpen ? std::optional<std::string>("s001") : std::nullopt);
        EXPECT_EQ(app->quickFixDoubleTap->state().isSuspended, c.panelOpen);
        EXPECT_EQ(app->preservedDraft, c.draft);
        EXPECT_FALSE(app->isCommitting);
        EXPECT_EQ(fieldValue(target.field), c.field);
    }
}

// While a commit or a write-back runs, no trigger opens or closes a panel, and the session ends
// as it would have; an outcome that finds another session leaves that one alone.
TEST_F(QuickFixSession, TriggersDuringACommitChangeNothing) {
    enum class Phase { composerPolish, composerPaste, quickFixWriteBack };
    for (const Phase phase :
         {Phase::composerPolish, Phase::composerPaste, Phase::quickFixWriteBack}) {
        for (const bool otherSession : {false, true}) {
            SCOPED_TRACE(static_cast<int>(phase) * 10 + otherSession);
            startApp();
            const auto target = openTarget(u"Hi teh cat", {10, 0});
            // Slow to come to the front, so the paste and the write-back take a while.
            desktop.setActivation(target.app.pid, platform::fake::Activation::after(300ms));
            if (phase == Phase::quickFixWriteBack) {
                openHeld();
                drive(100ms);  // settled; the write-back waits for the target
            } else {
                app->toggleHotkey("hotkey");
                drive(50ms);
                app->textController->setText(u"Hello there", QNPlacementCaret::end);
                app->requestCommit();
                if (phase == Phase::composerPaste) {
                    drive(100ms);
                    ASSERT_EQ(linesWith("state=committing").size(), 1u);
                } else {
                    executor->runUntilIdle();
                }
            }
            ASSERT_TRUE(app->isCommitting);
            const auto before = lines().size();
            const auto unified = systemLines().size();
            app->toggleHotkey("hotkey");
            app->toggleHotkey("menu");
            app->dismissPanel("dismiss-key");
            app->dismissPanel("text-cancel");
            app->handleQuickFixTrigger(kTrigger);
            drive(0ms);
            EXPECT_EQ(lines().size(), before);
            EXPECT_EQ(systemLines().size(), unified);
            EXPECT_EQ(app->panelSessionCounter, 1);
            if (otherSession) {
                app->isPanelOpen = true;
                app->panelSessionID = "s999";
                app->preservedDraft = u"the other session's";
            }
            drive(3s);
            EXPECT_FALSE(app->isCommitting);
            const auto ended = linesWith("sid=s001 state=", before);
            ASSERT_EQ(ended.size(), 1u);
            EXPECT_NE(ended[0].find(phase == Phase::quickFixWriteBack ? "state=quick_fix_committed"
                                                                      : "state=committed"),
                      std::string::npos);
            EXPECT_EQ(fieldValue(target.field),
                      phase == Phase::quickFixWriteBack ? u"Hi the cat" : u"Hi teh catHello there");
            if (otherSession) {
                EXPECT_TRUE(app->isPanelOpen);
                EXPECT_EQ(app->panelSessionID, "s999");
                EXPECT_EQ(app->preservedDraft, u"the other session's");
                app->isPanelOpen = false;
            } else {
                EXPECT_FALSE(app->isPanelOpen);
                EXPECT_FALSE(app->panel->isVisible());
                EXPECT_EQ(app->panelSessionID, std::nullopt);
                EXPECT_EQ(app->preservedDraft, std::nullopt);
                EXPECT_FALSE(app->quickFixDoubleTap->state().isSuspended);
            }
        }
    }
}

}  // namespace
}  // namespace ravlin::testing
