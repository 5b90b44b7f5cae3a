// The Quick Fix session: refusals, the auto-commit's stops and outcomes; and what a trigger does
// while a commit or a write-back is under way.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/target/quick_fix_hud.h"
#include "tests/shell-sessions/sessions_fixture.h"

namespace ravlin::testing {
namespace {

constexpr const char* kTrigger = "quick-fix-double-tap";

class QuickFixSession : public SessionsFixture {
  protected:
    // Opens a Quick Fix and stops before its correction runs (the work runner is held).
    void openHeld() {
        app->handleQuickFixTrigger(kTrigger);
        for (int step = 0; step < 200 && !app->isPanelOpen; ++step) {
            executor->runUntilIdle();
            executor->advance(5ms);
        }
        ASSERT_TRUE(app->isPanelOpen);
        desktop.setFrontmost(desktop.ownPid());  // the window manager activated the panel
    }

    // A Quick Fix over "Hi teh cat" whose write-back never starts (the target refuses to come
    // to the front), dismissed: its correction is kept as the draft.
    Target keepACorrection() {
        const auto target = openTarget(u"Hi teh cat", {10, 0});
        openHeld();
        desktop.setActivation(target.app.pid, platform::fake::Activation::refuse());
        drive(3s);
        return target;
    }

    // Super+E over the frontmost field, the kept draft shown, then Return.
    void reopenAndCommit() {
        app->toggleHotkey("hotkey");
        drive(1500ms);
        ASSERT_TRUE(app->isPanelOpen);
        desktop.setFrontmost(desktop.ownPid());
        EXPECT_EQ(panelText(), u"Hi the cat");
        app->requestCommit();
        drive(3s);
    }
};

TEST_F(QuickFixSession, RefusalsShowTheirHeadsUpUseANumberAndLeaveTheTriggerUsable) {
    startApp();
    openTarget(u"Hi teh cat");
    app->toggleHotkey("menu");
    drive(50ms);
    const auto count = lines().size();
    app->handleQuickFixTrigger(kTrigger);  // a panel is open: nothing
    drive(50ms);
    EXPECT_EQ(lines().size(), count);
    EXPECT_EQ(app->panelSessionID, "s001");
    app->dismissPanel("dismiss-key");

    int number = 1;
    // (secure input told by the desktop, not by the field's role: the field last reported
    // focused while no field shows now)
    const std::string secureFlag = "AXTextField with secure input on";
    const std::string noField = "No text field";
    struct Case {
        std::string identity, role, reason, title;
        bool keysToTheTarget;  // a field whose text could not be read: a copy was tried
    };
    for (const Case& c : std::vector<Case>{
             {"gedit", "AXSecureTextField", "secure-input",
              hudTitle(QNQuickFixHUDKind::secureRefused), false},
             {"gedit", secureFlag, "secure-input", hudTitle(QNQuickFixHUDKind::secureRefused),
              false},
             {"gnome-terminal", "AXTextArea", "terminal-not-supported",
              hudTitle(QNQuickFixHUDKind::terminalRefused), false},
             {"gedit", "AXTextField", "no-target-text", hudTitle(QNQuickFixHUDKind::noTarget),
              true},
             // No text field where the keyboard is: nothing is copied, not even what is
             // selected on a page.
             {"gedit", "AXButton", "no-target-text", noField, false},
             {"firefox-esr", "AXWebArea", "no-target-text", noField, false},
         }) {
        SCOPED_TRACE(c.reason + " " + c.role);
        const auto keys = desktop.postedKeys().size();
        const bool page = c.role == "AXWebArea";
        openTarget(page ? u"An article on a page" : u"", page ? text::Utf16Range{3, 7}
                                                              : text::Utf16Range{},
                   c.identity, c.role == secureFlag ? "AXTextField" : c.role, false);
        desktop.setSecureInput(c.role == secureFlag);
        app->handleQuickFixTrigger(kTrigger);
        drive(1s);
        desktop.setSecureInput(false);
        if (!c.keysToTheTarget) {
            EXPECT_EQ(desktop.postedKeys().size(), keys) << "a key reached the field";
        }
        EXPECT_EQ(lines().back(), "sid=s00" + std::to_string(++number) +
                                      " state=quick_fix_skipped trigger=quick-fix-double-tap "
                                      "source=" +
                                      c.identity + " reason=" + c.reason);
        EXPECT_EQ(headsUpTitle(), c.title);
        EXPECT_FALSE(app->isPanelOpen || app->isOpeningPanel);
        EXPECT_FALSE(app->quickFixDoubleTap->state().isSuspended);
        drive(4100ms);
        EXPECT_EQ(headsUpTitle(), std::nullopt);
    }
}

TEST_F(QuickFixSession, TheAutoCommitStopsWithoutWritingBack) {
    enum class Stop { unchanged, userEdit, dismissed, manualCommit };
    for (const auto& [stop, value, reason] :
         std::vector<std::tuple<Stop, std::u16string, std::string>>{
             {Stop::unchanged, u"Hi the cat", "unchanged-text"},
             {Stop::userEdit, u"Hi teh cat", "user-edited-composer"},
             {Stop::dismissed, u"Hi teh cat", ""},
             {Stop::manualCommit, u"Hi teh cat", ""},
         }) {
        SCOPED_TRACE(static_cast<int>(stop));
        startApp();
        const auto target = openTarget(value);
        app->preservedDraft = u"Kept draft";
        openHeld();
        EXPECT_EQ(app->preservedDraft, std::nullopt);
        EXPECT_EQ(written("sid=s001 state=quick_fix_opened trigger=quick-fix-double-tap "
                          "source=gedit role=AXTextField capture=focusedValue "
                          "route=nativeAppKit target_chars=10"),
                  1);
        if (stop == Stop::userEdit) {
            app->textController->textView()->textCursor().insertText(QStringLiteral(" sat"));
        } else if (stop == Stop::dismissed) {
            app->dismissPanel("dismiss-key");
        } else if (stop == Stop::manualCommit) {
            app->requestCommit();
        }
        drive(3s);
        EXPECT_EQ(linesWith("state=quick_fix_auto_commit"),
                  reason.empty()
                      ? std::vector<std::string>{}
                      : std::vector<std::string>{"sid=s001 state=quick_fix_auto_commit_skipped "
                                                 "trigger=quick-fix-double-tap reason=" +
                                                 reason});
        EXPECT_EQ(app->isPanelOpen, !reason.empty());  // else the session goes on by hand
        EXPECT_FALSE(app->quickFixAutoCommitTask || app->quickFixAutoCommitSessionID);
        if (stop != Stop::manualCommit) {
            EXPECT_EQ(fieldValue(target.field), value);
        } else {
            // The paste replaced what was captured (the field's whole value), never added to it.
            EXPECT_EQ(fieldValue(target.field), u"Hi the cat");
        }
    }
}

// With nothing to fix the panel stays open on the field's text. Closed unchanged it keeps
// nothing (the field still holds that text): the next shortcut opens an empty Composer, and what
// is typed there and committed goes into the field beside its text, never a second copy of it.
// A text changed in the panel is the person's and is kept.
TEST_F(QuickFixSession, TheFieldsOwnTextLeftUnchangedIsNoDraftToKeep) {
    for (const bool edited : {false, true}) {
        SCOPED_TRACE(edited);
        startApp();
        const auto target = openTarget(u"Hi the cat", {10, 0});
        openHeld();
        drive(3s);
        ASSERT_EQ(written("sid=s001 state=quick_fix_auto_commit_skipped "
                          "trigger=quick-fix-double-tap reason=unchanged-text"),
                  1);
        ASSERT_TRUE(app->isPanelOpen);
        if (edited) {
            app->textController->textView()->textCursor().insertText(QStringLiteral(" sat"));
        }
        app->dismissPanel("dismiss-key");
        EXPECT_EQ(app->preservedDraft,
                  edited ? std::optional<std::u16string>(u"Hi the cat sat") : std::nullopt);
        desktop.setFrontmost(target.app.pid);
        app->toggleHotkey("hotkey");
        drive(1500ms);
        ASSERT_TRUE(app->isPanelOpen);
        desktop.setFrontmost(desktop.ownPid());
        EXPECT_EQ(panelText(), edited ? u"Hi the cat sat" : u"");
        if (!edited) {
            app->textController->textView()->textCursor().insertText(QStringLiteral(" 42"));
            app->requestCommit();
            drive(3s);
            EXPECT_EQ(fieldValue(target.field), u"Hi the cat 42");
        } else {
            app->dismissPanel("dismiss-key");
        }
    }
}

TEST_F(QuickFixSession, EachOutcomeClosesOrKeepsThePanelAndTheDraft) {
    enum class Setup { none, valueChangedMeanwhile, activationRefused, pasteIgnored };
    struct Case {
        Setup setup;
        std::string line;
        std::optional<std::string> headsUp;
        std::optional<std::u16string> draft;
        bool panelOpen;
        std::u16string field;
    };
    for (const Case& c : {
             Case{Setup::none,
                  "quick_fix_committed method=accessibility pasteboard_restore=success",
                  {},
                  {},
                  false,
                  u"Hi the cat"},
             // What would be replaced is no longer the text captured: nothing is pasted, nor
             // left to be pasted over it.
             Case{Setup::valueChangedMeanwhile,
                  "quick_fix_commit_failed reason=restore-target-selection "
                  "pasteboard_restore=success",
                  "Quick Fix left the field as it was", u"the", true, u"Hi tex cat"},
             Case{Setup::activationRefused,
                  "quick_fix_commit_failed reason=activate-target pasteboard_restore=success",
                  hudTitle(QNQuickFixHUDKind::activationFailed), u"Hi the cat", true,
                  u"Hi teh cat"},
             // The chord that just failed there is not named.
             Case{Setup::pasteIgnored,
                  "quick_fix_paste_on_clipboard reason=paste-not-seen pasteboard_restore=deferred",
                  "Your text is on the clipboard", u"Hi the cat", false, u"Hi teh cat"},
         }) {
        SCOPED_TRACE(c.line);
        startApp();
        const bool part = c.setup == Setup::valueChangedMeanwhile;
        const auto target =
            openTarget(u"Hi teh cat", part ? text::Utf16Range{3, 3} : text::Utf16Range{10, 0},
                       "gedit", "AXTextField", c.setup != Setup::pasteIgnored);
        openHeld();
        if (part) {
            desktop.setValue(target.field, u"Hi tex cat", {0, 3});
        } else if (c.setup == Setup::activationRefused) {
            desktop.setActivation(target.app.pid, platform::fake::Activation::refuse());
        } else if (c.setup == Setup::pasteIgnored) {
            desktop.setReadOnly(target.field, true);
        }
        drive(3s);
        EXPECT_EQ(written("sid=s001 state=" + c.line), 1);
        EXPECT_EQ(linesWith("state=quick_fix_auto_committing").size(), 1u);
        EXPECT_EQ(headsUpTitle(), c.headsUp);
        EXPECT_EQ(app->isPanelOpen, c.panelOpen);
        EXPECT_EQ(app->panel->isVisible(), c.panelOpen);
        EXPECT_EQ(app->panelSessionID,
                  c.panelOpen ? std::optional<std::string>("s001") : std::nullopt);
        EXPECT_EQ(app->quickFixDoubleTap->state().isSuspended, c.panelOpen);
        EXPECT_EQ(app->preservedDraft, c.draft);
        EXPECT_FALSE(app->isCommitting);
        EXPECT_EQ(fieldValue(target.field), c.field);
        app->dismissPanel("test");
        drive(61s);
    }
}

// The field's last word is corrected as Return corrects a typed text's; a selection's is left
// to the model (it may end inside a word, or start one mid-sentence).
TEST_F(QuickFixSession, TheFieldsLastWordIsCorrectedToo) {
    for (const bool selection : {false, true}) {
        SCOPED_TRACE(selection ? "a selection" : "the whole field");
        startApp();
        const auto target = openTarget(u"Hi teh cat dont", selection ? text::Utf16Range{11, 4}
                                                                     : text::Utf16Range{15, 0});
        openHeld();
        drive(3s);
        EXPECT_EQ(fieldValue(target.field), selection ? u"Hi teh cat dont" : u"Hi the cat don't");
        app->dismissPanel("test");
        drive(5s);
    }
}

// A correction kept after a write-back that did not arrive goes only over the text the Quick Fix
// read: Return replaces that text where it stands again, and pastes nothing where it is gone,
// never a second copy beside it.
TEST_F(QuickFixSession, AKeptCorrectionGoesOnlyOverTheTextItWasMadeOf) {
    startApp();
    const auto target = keepACorrection();
    ASSERT_EQ(written("sid=s001 state=quick_fix_commit_failed reason=activate-target "
                      "pasteboard_restore=success"),
              1);
    app->dismissPanel("dismiss-key");
    ASSERT_EQ(app->preservedDraft, u"Hi the cat");
    desktop.setActivation(target.app.pid, platform::fake::Activation::immediately());
    for (const bool there : {false, true}) {
        SCOPED_TRACE(there ? "the text read there again" : "the text read gone");
        const std::u16string before = there ? u"Hi teh cat. Bye" : u"Hi a dog";
        desktop.setValue(target.field, before, {static_cast<std::int64_t>(before.size()), 0});
        desktop.setFrontmost(target.app.pid);
        reopenAndCommit();
        EXPECT_EQ(fieldValue(target.field), there ? u"Hi the cat. Bye" : before);
        EXPECT_EQ(app->preservedDraft,
                  there ? std::nullopt : std::optional<std::u16string>(u"Hi the cat"));
        if (!there) {
            EXPECT_EQ(linesWith("state=commit_failed reason=restore-target-selection").size(), 1u);
            EXPECT_EQ(headsUpTitle(), "Nothing was pasted");
        }
        drive(5s);
    }
}

// A kept correction carries its text, not where it was made: the Composer reopened on it over
// another application's field pastes it there, and the field it was made of stays as it is.
TEST_F(QuickFixSession, AKeptCorrectionGoesWhereTheComposerOpensNow) {
    startApp();
    const auto first = keepACorrection();
    app->dismissPanel("dismiss-key");
    ASSERT_EQ(app->preservedDraft, u"Hi the cat");
    const auto other = openTarget(u"", {0, 0}, "kwrite");
    reopenAndCommit();
    EXPECT_EQ(fieldValue(other.field), u"Hi the cat");
    EXPECT_EQ(fieldValue(first.field), u"Hi teh cat");
    EXPECT_EQ(app->preservedDraft, std::nullopt);
    drive(5s);
}

// A formatted field's correction is typed change by change; where that leaves the field as it
// was, the session ends and nothing is kept: a paste of it would lose the formatting, and a
// later Return pastes nothing.
TEST_F(QuickFixSession, AFormattedFieldsCorrectionIsNeverKept) {
    startApp();
    const std::u16string message = u"We will recieve the parcel.";
    const auto pid = desktop.addApplication({.identity = "firefox-esr", .name = "Firefox"});
    const auto field = desktop.addElement(desktop.addWindow(pid, {100, 100, 600, 400}),
                                          {.role = "AXTextArea",
                                           .value = message,
                                           .selection = {27, 0},
                                           .refusesRangeWrites = true,
                                           .frame = platform::Rect{120, 140, 400, 48},
                                           .richText = true});
    desktop.focus(field);
    desktop.setFrontmost(pid);
    openHeld();
    drive(3s);
    EXPECT_EQ(written("sid=s001 state=quick_fix_commit_failed reason=restore-target-selection "
                      "pasteboard_restore=success"),
              1);
    EXPECT_EQ(headsUpTitle(), "Quick Fix left the field as it was");
    EXPECT_FALSE(app->isPanelOpen);
    EXPECT_EQ(app->preservedDraft, std::nullopt);
    EXPECT_EQ(fieldValue(field), message);
    desktop.setFrontmost(pid);
    app->toggleHotkey("hotkey");
    drive(1500ms);
    ASSERT_TRUE(app->isPanelOpen);
    EXPECT_EQ(panelText(), u"");
    desktop.setFrontmost(desktop.ownPid());
    app->requestCommit();
    drive(3s);
    EXPECT_EQ(fieldValue(field), message);
}

// While a commit or a write-back runs, no trigger opens or closes a panel and the session ends
// as it would have; a Composer trigger meanwhile is answered once it has ended: the panel opens
// then (for the last trigger pressed), after the text has reached the target. An outcome that
// finds another session leaves that one alone, and no second panel opens over it.
TEST_F(QuickFixSession, ComposerTriggersDuringACommitOpenItOnceItHasEnded) {
    enum class Phase { composerPolish, composerPaste, quickFixWriteBack };
    for (const Phase phase :
         {Phase::composerPolish, Phase::composerPaste, Phase::quickFixWriteBack}) {
        for (const bool otherSession : {false, true}) {
            SCOPED_TRACE(static_cast<int>(phase) * 10 + otherSession);
            startApp();
            const auto target = openTarget(u"Hi teh cat", {10, 0});
            // Slow to come to the front: the paste and the write-back take a while.
            desktop.setActivation(target.app.pid, platform::fake::Activation::after(300ms));
            if (phase == Phase::quickFixWriteBack) {
                openHeld();
                drive(100ms);  // settled; the write-back waits for the target
            } else {
                app->toggleHotkey("hotkey");
                drive(50ms);
                desktop.setFrontmost(desktop.ownPid());
                app->textController->setText(u"Hello there", QNPlacementCaret::end);
                app->requestCommit();
                executor->runUntilIdle();  // polishing
                if (phase == Phase::composerPaste) {
                    drive(100ms);
                    ASSERT_EQ(linesWith("state=committing").size(), 1u);
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
            // Every press is answered in the system log.
            const auto system = systemLines();
            const std::vector<std::string> answered(
                system.begin() + static_cast<std::ptrdiff_t>(unified), system.end());
            EXPECT_EQ(std::ranges::count(answered, "toggleHotkey: a commit is under way; the "
                                                   "Composer opens once it has ended"),
                      2);
            EXPECT_EQ(std::ranges::count_if(answered,
                                            [](const std::string& line) {
                                                return line.starts_with("handleQuickFixTrigger:");
                                            }),
                      1);
            if (otherSession) {
                app->isPanelOpen = true;
                app->panelSessionID = "s999";
                app->preservedDraft = u"The other session's";
            }
            drive(3s);
            EXPECT_FALSE(app->isCommitting);
            EXPECT_EQ(app->panelSessionCounter, otherSession ? 1 : 2);
            const auto ended = linesWith("sid=s001 state=", before);
            ASSERT_EQ(ended.size(), 1u);
            EXPECT_NE(ended[0].find(phase == Phase::quickFixWriteBack ? "state=quick_fix_committed"
                                                                      : "state=committed"),
                      std::string::npos);
            EXPECT_EQ(fieldValue(target.field),
                      phase == Phase::quickFixWriteBack ? u"Hi the cat" : u"Hi teh catHello there");
            EXPECT_EQ(app->isPanelOpen, true);
            EXPECT_EQ(app->panelSessionID, std::optional<std::string>(otherSession ? "s999" : "s002"));
            const auto opened = linesWith("sid=s002 state=opened trigger=menu", before);
            EXPECT_EQ(opened.size(), otherSession ? 0u : 1u);
            if (otherSession) {
                EXPECT_EQ(app->preservedDraft, std::optional<std::u16string>(u"The other session's"));
            }
            app->dismissPanel("dismiss-key");
            drive(100ms);
        }
    }
}

}  // namespace
}  // namespace ravlin::testing
