// The Composer session on the simulated desktop: open, toggle, dismiss, the draft, and the
// commit through the pasteboard.

#include <gtest/gtest.h>

#include "tests/shell-sessions/sessions_fixture.h"

namespace ravlin::testing {
namespace {

class ComposerSession : public SessionsFixture {
  protected:
    void open(const std::string& trigger = "hotkey") {
        app->toggleHotkey(trigger);
        drive(1500ms);  // the seeded text's whole correction settles
    }
};

const std::string kOpened =
    " trigger=hotkey source=gedit secure_input=false role=AXTextField "
    "selection_source=accessibility-selected-text ";

TEST_F(ComposerSession, ASecondTriggerDismissesKeepsTheDraftAndCancelsWithThePanelReason) {
    startApp();
    openTarget(u"Hi teh cat", {0, 10});
    open();
    ASSERT_TRUE(app->isPanelOpen);
    EXPECT_EQ(app->panelSessionID, "s001");
    EXPECT_TRUE(app->panel->isVisible());
    EXPECT_TRUE(app->quickFixDoubleTap->state().isSuspended);
    EXPECT_TRUE(app->doubleTap->state().isSuspended);
    EXPECT_EQ(linesWith("sid=s001 anchor: ").size(), 1u);
    EXPECT_EQ(panelText(), u"Hi the cat");

    app->toggleHotkey("hotkey");
    EXPECT_FALSE(app->isPanelOpen);
    EXPECT_FALSE(app->panel->isVisible());
    EXPECT_EQ(app->panelSessionID, std::nullopt);
    EXPECT_FALSE(app->quickFixDoubleTap->state().isSuspended);
    EXPECT_FALSE(app->doubleTap->state().isSuspended);
    EXPECT_EQ(app->preservedDraft, u"Hi the cat");
    EXPECT_EQ(written("sid=s001 state=cancelled reason=panel-toggle-hotkey"), 1);
    EXPECT_EQ(written("sid=s001 state=cancelled reason=toggle-hotkey"), 1);

    const auto count = lines().size();
    app->dismissPanel("dismiss-key");  // nothing open: nothing written
    EXPECT_EQ(lines().size(), count);
}

TEST_F(ComposerSession, TheSeedIsTheSelectionElseTheKeptDraftElseNothing) {
    struct Case {
        const char* name;
        std::u16string value;
        text::Utf16Range selection;
        std::optional<std::u16string> draft;
        std::string line;
        std::u16string panel;
    };
    for (const Case& c : {
             Case{"selection replaces the draft",
                  u"Hi teh cat",
                  {0, 10},
                  u"Old words",
                  "state=opened" + kOpened + "selection_chars=10",
                  u"Hi the cat"},
             Case{"blank selection, kept draft",
                  u"a  \n b",
                  {1, 3},
                  u"Old words",
                  "state=reopened" + kOpened + "preserved_draft_chars=9",
                  u"Old words"},
             Case{"blank selection, no draft",
                  u"a  \n b",
                  {1, 3},
                  {},
                  "state=opened" + kOpened + "selection_chars=0",
                  u""},
             Case{"characters, not UTF-16 units",
                  u"Je\u0301\U0001F44D\U0001F3FD",
                  {0, 7},
                  {},
                  "state=opened" + kOpened + "selection_chars=3",
                  u"Je\u0301\U0001F44D\U0001F3FD"},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        openTarget(c.value, c.selection);
        app->preservedDraft = c.draft;
        open();
        EXPECT_EQ(written("sid=s001 " + c.line), 1);
        EXPECT_EQ(panelText(), c.panel);
        EXPECT_EQ(app->preservedDraft, c.panel == c.draft ? c.draft : std::nullopt);
        // A blank text dismissed clears the draft.
        app->textController->setText(u" \n ", QNPlacementCaret::end);
        app->dismissPanel("dismiss-key");
        EXPECT_EQ(app->preservedDraft, std::nullopt);
    }
}

TEST_F(ComposerSession, RefusedOpens) {
    enum class Refusal { secureInput, neverTrusted, trustRevoked, documentWindow };
    for (const Refusal refusal : {Refusal::secureInput, Refusal::neverTrusted,
                                  Refusal::trustRevoked, Refusal::documentWindow}) {
        SCOPED_TRACE(static_cast<int>(refusal));
        desktop.setTrusted(refusal != Refusal::neverTrusted);
        startApp();
        openTarget(u"Hi teh cat", {0, 10});
        desktop.setSecureInput(refusal == Refusal::secureInput);
        desktop.setTrusted(refusal != Refusal::neverTrusted && refusal != Refusal::trustRevoked);
        *documentWindowFocused = refusal == Refusal::documentWindow;
        const int prompts = desktop.trustPrompts();
        const auto urls = desktop.openedURLs().size();
        const auto before = lines().size();
        open();
        EXPECT_FALSE(app->isPanelOpen);
        EXPECT_FALSE(app->isOpeningPanel);
        EXPECT_FALSE(app->panel->isVisible());
        const auto lines = linesWith("sid=", before);
        switch (refusal) {
            case Refusal::secureInput:
                EXPECT_EQ(lines, std::vector<std::string>{
                                     "sid=s001 state=blocked trigger=hotkey source=gedit "
                                     "secure_input=true reason=secure-input"});
                break;
            case Refusal::neverTrusted:
            case Refusal::trustRevoked:
                EXPECT_TRUE(lines.empty());
                EXPECT_EQ(app->panelSessionCounter, 0);
                EXPECT_EQ(desktop.trustPrompts() - prompts,
                          refusal == Refusal::neverTrusted ? 1 : 0);
                ASSERT_EQ(desktop.openedURLs().size(), urls + 1);
                EXPECT_EQ(desktop.openedURLs().back(),
                          "x-apple.systempreferences:com.apple.preference.security?"
                          "Privacy_Accessibility");
                break;
            case Refusal::documentWindow:
                EXPECT_EQ(lines,
                          std::vector<std::string>{
                              "sid=- state=ignored trigger=hotkey reason=ravlin-document-focused"});
                break;
        }
        // The menu item is not held back by a document window; a blocked open used a number.
        desktop.setSecureInput(false);
        desktop.setTrusted(true);
        open("menu");
        EXPECT_EQ(app->panelSessionID, refusal == Refusal::secureInput ? "s002" : "s001");
        *documentWindowFocused = false;
    }
}

TEST_F(ComposerSession, TriggersInOneTurnOpenOneSession) {
    startApp();
    openTarget(u"Hi teh cat", {0, 10});
    app->toggleHotkey("hotkey");
    app->toggleHotkey("double-tap");
    app->toggleHotkey("menu");
    drive(1500ms);
    EXPECT_TRUE(app->isPanelOpen);
    EXPECT_EQ(app->panelSessionCounter, 1);
    EXPECT_EQ(linesWith("state=opened").size(), 1u);
}

TEST_F(ComposerSession, TheCommitPastesOrKeepsTheTextForTheNextOpen) {
    enum class Fault { none, blank, noTarget, activation, keystroke };
    struct Case {
        Fault fault;
        std::string last;
    };
    // Spaces round the text are the user's and are pasted as they are; counts are characters.
    const std::u16string typed = u" Je\u0301\U0001F44D\U0001F3FD ";
    const std::string committing = "sid=s001 state=committing 5 chars target=gedit method=paste";
    for (const Case& c : {
             Case{Fault::none, "committed method=paste pasteboard_restore=success"},
             Case{Fault::blank, "commit_skipped reason=empty-text"},
             Case{Fault::noTarget, "commit_failed reason=no-target-app"},
             Case{Fault::activation,
                  "commit_failed reason=activate-target pasteboard_restore=success"},
             Case{Fault::keystroke,
                  "commit_failed reason=send-paste-keystroke pasteboard_restore=success"},
         }) {
        SCOPED_TRACE(c.last);
        startApp();
        const auto target = openTarget(u"");
        desktop.copyToPasteboard(u"user's own");
        open();
        const std::u16string text = c.fault == Fault::blank ? u"  \n " : typed;
        app->textController->setText(text, QNPlacementCaret::end);
        app->preservedDraft = u"Older";
        if (c.fault == Fault::noTarget) {
            app->sourceApp.reset();
        }
        if (c.fault == Fault::activation) {
            desktop.setActivation(target.app.pid, platform::fake::Activation::refuse());
        }
        desktop.setKeySynthesisFails(c.fault == Fault::keystroke);
        app->requestCommit();
        drive(3s);
        desktop.setKeySynthesisFails(false);
        desktop.setActivation(target.app.pid, platform::fake::Activation::immediately());

        EXPECT_EQ(lines().back(), "sid=s001 state=" + c.last);
        const bool pasting = c.fault != Fault::blank && c.fault != Fault::noTarget;
        EXPECT_EQ(written(committing), pasting ? 1 : 0);
        EXPECT_FALSE(app->isPanelOpen);
        EXPECT_FALSE(app->isCommitting);
        EXPECT_FALSE(app->panel->isVisible());
        EXPECT_EQ(app->panelSessionID, std::nullopt);
        EXPECT_EQ(fieldValue(target.field), c.fault == Fault::none ? typed : u"");
        EXPECT_EQ(desktop.seams().pasteboard->string(), u"user's own");
        const bool kept = c.fault != Fault::none && c.fault != Fault::blank;
        EXPECT_EQ(app->preservedDraft, kept ? std::optional(typed) : std::nullopt);
        if (kept) {
            desktop.setFrontmost(target.app.pid);
            open();
            EXPECT_EQ(linesWith("sid=s002 state=reopened").size(), 1u);
            EXPECT_EQ(panelText(), typed);
        }
    }
}

TEST_F(ComposerSession, ASecondReturnDuringThePolishDoesNothing) {
    startApp();
    openTarget(u"");
    open();
    app->textController->setText(u"Hello there", QNPlacementCaret::end);
    app->requestCommit();
    drive(10ms);
    app->requestCommit();
    drive(3s);
    EXPECT_EQ(linesWith("state=committing").size(), 1u);
    EXPECT_EQ(linesWith("state=committed").size(), 1u);
}

}  // namespace
}  // namespace ravlin::testing
