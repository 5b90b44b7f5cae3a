// The Composer session: open, toggle, dismiss, the draft, and the commit through the pasteboard.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTextDocument>
#include <QWidget>
#include <optional>

#include "app/target/focus_snapshot.h"
#include "core/text/unicode.h"
#include "tests/shell-sessions/sessions_fixture.h"

namespace ravlin::testing {
namespace {

class ComposerSession : public SessionsFixture {
  protected:
    void open(const std::string& trigger = "hotkey") {
        app->toggleHotkey(trigger);
        drive(1500ms);  // a seeded text's whole correction settles
        if (app->isPanelOpen) {
            desktop.setFrontmost(desktop.ownPid());  // the window manager activated the panel
        }
    }
};

const std::string kOpened =
    " trigger=hotkey source=gedit secure_input=false role=AXTextField "
    "selection_source=accessibility-selected-text ";

TEST_F(ComposerSession, TheSeedIsTheSelectionElseTheKeptDraftAndASecondTriggerDismisses) {
    struct Case {
        std::u16string value;
        text::Utf16Range selection;
        std::optional<std::u16string> draft;
        std::string line;
        std::u16string panel;
    };
    for (const Case& c : {
             Case{u"Hi teh cat",
                  {0, 10},
                  u"Old words",
                  "state=opened" + kOpened + "selection_chars=10",
                  u"Hi the cat"},
             Case{u"a  \n b",
                  {1, 3},
                  u"Old words",
                  "state=reopened" + kOpened + "preserved_draft_chars=9",
                  u"Old words"},
             Case{u"a  \n b", {1, 3}, {}, "state=opened" + kOpened + "selection_chars=0", u""},
             // An object in the selection (an image) seeds nothing; an object alone is no seed.
             Case{u"Hi teh\uFFFC cat",
                  {0, 11},
                  {},
                  "state=opened" + kOpened + "selection_chars=10",
                  u"Hi the cat"},
             Case{u"\uFFFC",
                  {0, 1},
                  u"Old words",
                  "state=reopened" + kOpened + "preserved_draft_chars=9",
                  u"Old words"},
             Case{u"Je\u0301\U0001F44D\U0001F3FD",
                  {0, 7},
                  {},
                  "state=opened" + kOpened + "selection_chars=3",
                  u"Je\u0301\U0001F44D\U0001F3FD"},
         }) {
        SCOPED_TRACE(c.line);
        startApp();
        openTarget(c.value, c.selection);
        app->preservedDraft = c.draft;
        open();
        EXPECT_EQ(written("sid=s001 " + c.line), 1);
        EXPECT_EQ(linesWith("sid=s001 anchor: caret").size(), 1u);
        EXPECT_EQ(panelText(), c.panel);
        EXPECT_EQ(app->preservedDraft, c.panel == c.draft ? c.draft : std::nullopt);
        EXPECT_TRUE(app->panel->isVisible());
        EXPECT_TRUE(app->quickFixDoubleTap->state().isSuspended);
        EXPECT_TRUE(app->doubleTap->state().isSuspended);

        app->toggleHotkey("hotkey");
        EXPECT_FALSE(app->isPanelOpen);
        EXPECT_FALSE(app->panel->isVisible());
        EXPECT_EQ(app->panelSessionID, std::nullopt);
        EXPECT_FALSE(app->quickFixDoubleTap->state().isSuspended);
        EXPECT_FALSE(app->doubleTap->state().isSuspended);
        EXPECT_EQ(app->preservedDraft,  // a blank text clears the draft
                  c.panel.empty() ? std::nullopt : std::optional(c.panel));
        EXPECT_EQ(written("sid=s001 state=cancelled reason=panel-toggle-hotkey"), 1);
        EXPECT_EQ(lines().back(), "sid=s001 state=cancelled reason=toggle-hotkey");
        app->dismissPanel("dismiss-key");  // nothing open: nothing written
        EXPECT_EQ(lines().back(), "sid=s001 state=cancelled reason=toggle-hotkey");
    }
}

// The panel keeps the text it was dismissed with: opening on that draft again writes nothing
// into the editor (a long draft would be laid out again at every opening), and still gives a
// fresh session: the caret at the end, nothing to undo. A selection replaces it as ever.
TEST_F(ComposerSession, TheKeptDraftTheEditorStillHoldsIsNotWrittenAgain) {
    startApp();
    const auto target = openTarget(u"", {0, 0});
    open();
    auto* view = app->textController->textView();
    QTest::keyClicks(view, "kept words");
    drive(2s);
    app->toggleHotkey("hotkey");
    const auto draft = app->preservedDraft;
    ASSERT_TRUE(draft);

    int writes = 0;
    const auto counted = QObject::connect(view->document(), &QTextDocument::contentsChange,
                                          [&] { ++writes; });
    desktop.setFrontmost(target.app.pid);
    open();
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(panelText(), *draft);
    EXPECT_EQ(view->selectedRange(),
              (text::Utf16Range{static_cast<std::int64_t>(draft->size()), 0}));
    EXPECT_FALSE(view->document()->isUndoAvailable());
    app->toggleHotkey("hotkey");

    desktop.setValue(target.field, u"Hi teh cat", {0, 10});
    desktop.setFrontmost(target.app.pid);
    open();
    EXPECT_GT(writes, 0);
    EXPECT_EQ(panelText(), u"Hi the cat");
    QObject::disconnect(counted);
}

// With cloud correction on and no cloud route, the Composer says so with its heads-up as it
// opens, once until the routes change; a change of them (switching off and on) says it again,
// local correction never. The settings are never opened for it.
TEST_F(ComposerSession, CloudNotSetUpIsSaidByTheHeadsUpOnceAtOpening) {
    startApp();
    settingsRequests->clear();
    const auto target = openTarget(u"", {0, 0});
    const auto openAndClose = [&] {
        desktop.setFrontmost(target.app.pid);
        open();
        const auto said = headsUpTitle();
        app->toggleHotkey("hotkey");
        drive(5s);  // the heads-up goes by itself
        return said;
    };
    EXPECT_EQ(openAndClose(), std::nullopt);  // local correction
    app->toggleCloudAI();
    EXPECT_EQ(openAndClose(), "Cloud correction is not set up");
    EXPECT_EQ(openAndClose(), std::nullopt);
    app->toggleCloudAI();
    app->toggleCloudAI();
    EXPECT_EQ(openAndClose(), "Cloud correction is not set up");
    EXPECT_TRUE(settingsRequests->empty());
}

TEST_F(ComposerSession, RefusedOpens) {
    enum class Refusal { secureInput, neverTrusted, trustRevoked, documentWindow, none };
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
        const auto before = lines().size();
        open();
        EXPECT_FALSE(app->isPanelOpen || app->isOpeningPanel || app->panel->isVisible());
        std::vector<std::string> expected;
        if (refusal == Refusal::secureInput) {
            expected = {
                "sid=s001 state=blocked trigger=hotkey source=gedit secure_input=true "
                "reason=secure-input"};
            EXPECT_EQ(headsUpTitle(), "Composer isn't available here");
        } else if (refusal == Refusal::documentWindow) {
            expected = {"sid=- state=ignored trigger=hotkey reason=ravlin-document-focused"};
        } else {
            EXPECT_EQ(desktop.trustPrompts() - prompts, refusal == Refusal::neverTrusted);
            // The settings' General pane, with its Grant Access row; no other desktop's address.
            EXPECT_TRUE(desktop.openedURLs().empty());
            ASSERT_FALSE(settingsRequests->empty());
            EXPECT_EQ(settingsRequests->back(), QNModelSettingsPane::general);
        }
        EXPECT_EQ(linesWith("sid=", before), expected);
        // The menu is not held back by a document window; a blocked open used a number up.
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
    for (const char* trigger : {"hotkey", "double-tap", "menu"}) {
        app->toggleHotkey(trigger);
    }
    drive(1500ms);
    EXPECT_TRUE(app->isPanelOpen);
    EXPECT_EQ(app->panelSessionCounter, 1);
}

// The typed pair where the taps only watch (X11): its letters go only as the panel opens, and
// only while no key has followed them. A key rolled over from the taps ("an eel" typed fast)
// keeps the word as typed, starts no session and says so without the text; a key typed once
// they went, before the panel has the keyboard, is held for the panel and typed there.
TEST_F(ComposerSession, ATypedPairIsTakenBackAsThePanelOpensUnlessAKeyFollowed) {
    enum class Letter { none, beforeTheOpen, afterTheTaps };
    for (const Letter letter : {Letter::none, Letter::beforeTheOpen, Letter::afterTheTaps}) {
        SCOPED_TRACE(static_cast<int>(letter));
        startApp();
        const auto target = openTarget(u"an", {2, 0});
        const auto key = [&](std::uint32_t keyCode, std::u16string characters) {
            desktop.sendUserEvent({.type = platform::InputEventType::keyDown,
                                   .keyCode = keyCode,
                                   .characters = std::move(characters)});
        };
        key(49, u" ");
        drive(80ms);
        key(14, u"e");
        drive(90ms);
        key(14, u"e");
        if (letter == Letter::beforeTheOpen) {
            drive(10ms);
            key(37, u"l");
        } else if (letter == Letter::afterTheTaps) {
            for (int step = 0; step < 500 && !desktop.keysHeld(); ++step) {
                while (workRunner->runNext() || executor->runUntilIdle() > 0) {
                }
                executor->advance(1ms);
            }
            ASSERT_TRUE(desktop.keysHeld());
            key(37, u"l");
        }
        // The panel takes the keyboard as Qt reports it: its events run too.
        for (int step = 0; step < 200; ++step) {
            QCoreApplication::processEvents();
            drive(5ms);
        }
        const bool kept = letter == Letter::beforeTheOpen;
        EXPECT_EQ(app->isPanelOpen, !kept);
        EXPECT_EQ(fieldValue(target.field), kept ? u"an eel" : u"an ");
        EXPECT_FALSE(desktop.keysHeld());
        if (letter == Letter::afterTheTaps) {
            EXPECT_EQ(text::lowercased(panelText()), u"l");
        }
        EXPECT_EQ(written("sid=- state=ignored trigger=double-tap reason=key-followed"),
                  kept ? 1 : 0);
        EXPECT_EQ(app->panelSessionCounter, kept ? 0 : 1);
        if (app->isPanelOpen) {
            app->dismissPanel("dismiss-key");
        }
        drive(100ms);
    }
}

// A typed pair during a commit waits for it, as the shortcut does: typed before the paste chord
// went out (here while the chord waits for the person's held key), the text lands after its
// letters, which then stay where they are, and no key of the person's is blamed for it. Typed
// once the text has arrived, while the commit still waits for the target to stop asking for it
// (and ends between the pair's taps), its letters go and the Composer opens.
TEST_F(ComposerSession, ATypedPairDuringACommitOpensOnceItHasEnded) {
    for (const bool afterThePaste : {true, false}) {
        SCOPED_TRACE(afterThePaste);
        startApp();
        const auto target = openTarget(u"", {});
        open();
        app->textController->setText(u"Hi", QNPlacementCaret::end);
        const auto pastes = [&] {
            return std::ranges::count_if(desktop.postedKeys(), [](const auto& key) {
                return key.kind == platform::fake::PostedKey::Kind::down &&
                       key.chord.keyCode == platform::keycode::v;
            });
        };
        const auto before = pastes();
        if (!afterThePaste) {
            desktop.setGrabHidesFocus(false);
            (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
        }
        app->requestCommit();
        const auto key = [&](std::uint32_t keyCode, std::u16string characters) {
            desktop.sendUserEvent({.type = platform::InputEventType::keyDown,
                                   .keyCode = keyCode,
                                   .characters = std::move(characters)});
            drive(20ms);
        };
        for (int step = 0; step < 3000; ++step) {
            const bool ready = afterThePaste
                                   ? fieldValue(target.field) == u"Hi"
                                   : !app->isPanelOpen && desktop.frontmostPid() == target.app.pid;
            if (ready) {
                break;
            }
            while (workRunner->runNext() || executor->runUntilIdle() > 0) {
            }
            executor->advance(1ms);
        }
        ASSERT_EQ(pastes(), afterThePaste ? before + 1 : before);
        ASSERT_TRUE(app->isCommitting);
        key(49, u" ");
        key(14, u"e");
        if (afterThePaste) {
            // The commit ends between the pair's two taps.
            for (int step = 0; step < 3000 && app->isCommitting; ++step) {
                drive(1ms);
            }
            ASSERT_FALSE(app->isCommitting);
        }
        key(14, u"e");
        desktop.releaseHotKey();
        drive(3s);
        EXPECT_EQ(written("sid=s001 state=committed method=paste pasteboard_restore=success"), 1);
        EXPECT_EQ(written("sid=- state=ignored trigger=double-tap reason=key-followed"), 0);
        EXPECT_EQ(app->isPanelOpen, afterThePaste);
        EXPECT_EQ(app->panelSessionCounter, afterThePaste ? 2 : 1);
        EXPECT_EQ(fieldValue(target.field), afterThePaste ? u"Hi " : u" eeHi");
        if (app->isPanelOpen) {
            app->dismissPanel("dismiss-key");
        }
    }
}

// While the shortcut's key is down the desktop holds the keyboard, and the field's application
// reports no focus (as GTK and Qt do under X11's grab): the reading waits for the key to go up
// and for the focus to come back, each wait bounded, and never borrows the clipboard for it.
TEST_F(ComposerSession, AShortcutHeldAsAPersonHoldsItOpensBesideTheSelection) {
    const platform::KeyChord shortcut{14, platform::modifier::command};
    struct Case {
        const char* name;
        std::optional<std::chrono::milliseconds> hold;  // none: never released
        std::chrono::milliseconds opensWithin;
        std::string role;
        std::string anchor;
    };
    for (const Case& c : {
             Case{"tapped", 0ms, 5ms, "AXTextField", "caret"},
             // (a press and release faster than the application takes its focus back)
             Case{"tapped in no time", 1ms, 5ms + 10ms + 10ms, "AXTextField", "caret"},
             Case{"held 80 ms", 80ms, 5ms + 10ms + 10ms, "AXTextField", "caret"},
             Case{"held 300 ms", 300ms, 5ms + 10ms + 10ms, "AXTextField", "caret"},
             // (after the bound, with the copy fallback's polls)
             Case{"never released", std::nullopt, 500ms, "?", "mouse fallback"},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        openTarget(u"Hi teh cat", {3, 3});
        const auto keys = desktop.postedKeys().size();
        if (c.hold == 0ms) {
            ASSERT_TRUE(desktop.pressHotKey(shortcut));
        } else {
            ASSERT_TRUE(desktop.holdHotKey(shortcut));
            if (c.hold != 1ms) {
                drive(c.hold.value_or(QNModelFocusSnapshot::keyReleaseLimit) - 10ms);
                EXPECT_FALSE(app->isPanelOpen);
            }
            if (c.hold) {
                desktop.releaseHotKey();
            }
        }
        drive(c.opensWithin);
        desktop.releaseHotKey();
        EXPECT_TRUE(app->isPanelOpen);
        ASSERT_EQ(linesWith("sid=s001 state=opened").size(), 1u);
        EXPECT_NE(linesWith("sid=s001 state=opened")[0].find(" role=" + c.role + " "),
                  std::string::npos);
        EXPECT_EQ(linesWith("sid=s001 anchor: " + c.anchor).size(), 1u);
        if (c.hold) {
            // Nothing typed into the target: no copy, no probe.
            EXPECT_EQ(desktop.postedKeys().size(), keys);
        }
        drive(1500ms);
        app->dismissPanel("dismiss-key");
    }
}

// Secure input told by the focused field, as on Linux, while the shortcut's grab hides the field
// (E held 80 ms). A password field is refused, whether it shows again after the release or only
// the field last reported tells (it never shows again); another field that never shows again
// opens the Composer empty, with nothing copied from the field or typed into it.
TEST_F(ComposerSession, SecureInputFailsClosedWhileTheGrabHidesTheField) {
    const platform::KeyChord shortcut{14, platform::modifier::command};
    desktop.setSecureInputFromFocus(true);
    struct Case {
        const char* name;
        std::string role;
        bool showsAgain;
        std::string line;
    };
    for (const Case& c : {
             Case{"password field shown again", "AXSecureTextField", true,
                  "sid=s001 state=blocked trigger=hotkey source=gedit secure_input=true "
                  "reason=secure-input"},
             Case{"password field never shown again", "AXSecureTextField", false,
                  "sid=s001 state=blocked trigger=hotkey source=gedit secure_input=true "
                  "reason=secure-input"},
             Case{"text field never shown again", "AXTextField", false,
                  "sid=s001 state=opened trigger=hotkey source=gedit secure_input=false role=? "
                  "selection_source=none selection_chars=0"},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        desktop.setFocusReturnAfterGrab(c.showsAgain ? 10ms : 10s);
        openTarget(u"Hi teh cat", {3, 3}, "gedit", c.role);
        const auto keys = desktop.postedKeys().size();
        ASSERT_TRUE(desktop.holdHotKey(shortcut));
        drive(80ms);
        desktop.releaseHotKey();
        drive(800ms);
        EXPECT_EQ(linesWith("sid=s001 state="), std::vector<std::string>{c.line});
        EXPECT_EQ(desktop.postedKeys().size(), keys) << "a key reached the field";
        app->dismissPanel("dismiss-key");
    }
}

TEST_F(ComposerSession, TheCommitPastesOrKeepsTheTextForTheNextOpen) {
    enum class Fault {
        none,
        blank,
        noTarget,
        ownWindow,
        activation,
        keystroke,
        silentOwner,
        pasteIgnored,
        unknownTerminal,
        cutShort,
        ignoredUnderAClipboardManager,
        userCopiedAtTheChord,
        dialog,
        otherField,
        passwordField,
    };
    // Spaces round the text are the user's and are pasted as they are; counts are characters.
    const std::u16string typed = u" Je\u0301\U0001F44D\U0001F3FD ";
    struct Case {
        Fault fault;
        std::string last;
        std::optional<std::string> headsUp;  // the heads-up's title
        bool leftOnClipboard = false;
    };
    const std::string onClipboard = "Your text is on the clipboard";
    for (const auto& [fault, last, headsUp, leftOnClipboard] : std::vector<Case>{
             {Fault::none, "committed method=paste pasteboard_restore=success", {}},
             {Fault::blank, "commit_skipped reason=empty-text", {}},
             {Fault::noTarget, "commit_failed reason=no-target-app", "Nothing was pasted"},
             // Opened over a window of its own: the program is never its own target.
             {Fault::ownWindow, "commit_failed reason=no-target-app", "Nothing was pasted"},
             {Fault::activation, "commit_failed reason=activate-target pasteboard_restore=success",
              {}},
             {Fault::keystroke,
              "commit_failed reason=send-paste-keystroke pasteboard_restore=success",
              {}},
             // The user's clipboard could not be saved: neither claimed nor cleared, and said.
             {Fault::silentOwner,
              "commit_failed reason=owner-not-answering pasteboard_restore=untouched",
              "Nothing was pasted"},
             // A field that kept its text: the text waits on the clipboard and in the draft; the
             // chord that just failed there is not named.
             {Fault::pasteIgnored, "commit_failed reason=paste-not-seen pasteboard_restore=deferred",
              onClipboard, true},
             {Fault::ignoredUnderAClipboardManager,
              "commit_failed reason=paste-not-fetched pasteboard_restore=deferred", onClipboard,
              true},
             // A terminal whose chord is not known gets none, and none is named.
             {Fault::unknownTerminal,
              "commit_failed reason=no-paste-chord pasteboard_restore=deferred", onClipboard,
              true},
             // Only the beginning arrived: never to be pasted again, yet kept.
             {Fault::cutShort,
              "commit_partial method=paste reason=paste-cut-short pasteboard_restore=success",
              "Only part of the text was pasted"},
             // The user copied as the chord went out: their copy stands (the user's older
             // contents are not put back over it), the text is kept, and both are said; the
             // chord went out, so what the target did is said, not that the clipboard changed.
             {Fault::userCopiedAtTheChord,
              "commit_failed reason=paste-not-fetched pasteboard_restore=newer-copy-kept",
              "Your clipboard changed before the paste"},
             // The keyboard is not where the Composer was opened (a dialog the application
             // raised, a password field there): no chord goes out, whatever the panel did.
             {Fault::dialog, "commit_failed reason=keyboard-elsewhere pasteboard_restore=success",
              "Nothing was pasted"},
             // Another field of that window: a page's own prompt, another input, a new tab.
             {Fault::otherField,
              "commit_failed reason=keyboard-elsewhere pasteboard_restore=success",
              "Nothing was pasted"},
             {Fault::passwordField, "commit_failed reason=secure-input pasteboard_restore=success",
              "Nothing was pasted"},
         }) {
        SCOPED_TRACE(last);
        startApp();
        const auto target = fault == Fault::unknownTerminal
                                ? openTarget(u"", {}, "gedit", "AXTerminal")
                                : openTarget(u"", {}, "gedit", "AXTextField", true,
                                             fault == Fault::cutShort ? std::optional(2) : std::nullopt);
        desktop.copyToPasteboard(u"user's own");
        if (fault == Fault::ownWindow) {
            desktop.setFrontmost(desktop.ownPid());
        }
        open();
        app->textController->setText(fault == Fault::blank ? u"  \n " : typed,
                                     QNPlacementCaret::end);
        app->preservedDraft = u"Older";
        if (fault == Fault::noTarget) {
            app->sourceApp.reset();
        }
        if (fault == Fault::activation) {
            desktop.setActivation(target.app.pid, platform::fake::Activation::refuse());
        }
        if (fault == Fault::pasteIgnored) {
            desktop.setReadOnly(target.field, true);
        }
        if (fault == Fault::ignoredUnderAClipboardManager) {
            desktop.setClipboardManager(desktop.addApplication({.identity = "parcellite"}));
            desktop.setReadOnly(target.field, true);
            desktop.scriptShortcut(target.app.pid, platform::keycode::v, [] {});
        }
        if (fault == Fault::userCopiedAtTheChord) {
            desktop.scriptShortcut(target.app.pid, platform::keycode::v,
                                   [this] { desktop.copyToPasteboard(u"newer"); });
        }
        std::optional<platform::ElementRef> elsewhere;
        if (fault == Fault::dialog) {
            elsewhere = desktop.addElement(desktop.addWindow(target.app.pid, {150, 150, 300, 100}),
                                           {.value = u""});
        } else if (fault == Fault::passwordField || fault == Fault::otherField) {
            const auto window = platform::elementAttribute(*desktop.seams().accessibility,
                                                           target.field, platform::ax::window);
            ASSERT_TRUE(window);
            elsewhere = desktop.addElement(
                *window, {.role = fault == Fault::otherField ? "AXTextField" : "AXSecureTextField",
                          .value = u""});
        }
        if (elsewhere) {
            desktop.focus(*elsewhere);
        }
        desktop.setKeySynthesisFails(fault == Fault::keystroke);
        desktop.setPasteboardOwnerSilent(fault == Fault::silentOwner);
        const auto changes = desktop.seams().pasteboard->changeCount();
        app->requestCommit();
        drive(10ms);
        app->requestCommit();  // a second Return while polishing
        drive(3s);
        desktop.setKeySynthesisFails(false);
        desktop.setPasteboardOwnerSilent(false);
        EXPECT_EQ(written("sid=s001 state=pasteboard_unsaved reason=owner-not-answering "
                          "pasteboard_restore=untouched"),
                  fault == Fault::silentOwner);
        if (fault == Fault::silentOwner) {
            EXPECT_EQ(desktop.seams().pasteboard->changeCount(), changes);
        }
        desktop.setActivation(target.app.pid, platform::fake::Activation::immediately());

        EXPECT_EQ(lines().back(), "sid=s001 state=" + last);
        EXPECT_EQ(written("sid=s001 state=committing 5 chars target=gedit method=paste"),
                  fault != Fault::blank && fault != Fault::noTarget && fault != Fault::ownWindow);
        EXPECT_EQ(headsUpTitle(), headsUp);
        EXPECT_FALSE(app->isPanelOpen || app->isCommitting || app->panel->isVisible());
        EXPECT_EQ(app->panelSessionID, std::nullopt);
        // Whatever our keys did to the field, the next double tap asks it for the boundary.
        const auto tap = app->doubleTap->state();
        EXPECT_TRUE(tap.atBoundary && tap.boundaryNeedsVerification);
        EXPECT_EQ(fieldValue(target.field), fault == Fault::none       ? typed
                                            : fault == Fault::cutShort ? typed.substr(0, 2)
                                                                       : u"");
        if (elsewhere) {
            EXPECT_EQ(fieldValue(*elsewhere), u"");
        }
        EXPECT_EQ(desktop.pasteboardString(),
                  leftOnClipboard                         ? typed
                  : fault == Fault::userCopiedAtTheChord ? u"newer"
                                                          : u"user's own");
        if (leftOnClipboard) {
            drive(60s);
            EXPECT_EQ(desktop.pasteboardString(), u"user's own");
        }
        const bool kept = fault != Fault::none && fault != Fault::blank;
        EXPECT_EQ(app->preservedDraft, kept ? std::optional(typed) : std::nullopt);
        if (kept) {
            desktop.focus(target.field);
            desktop.setFrontmost(target.app.pid);
            open();
            EXPECT_EQ(linesWith("sid=s002 state=reopened").size(), 1u);
            EXPECT_EQ(panelText(), typed);
        }
    }
}

// Into a terminal the text cannot be read back; taken by the terminal itself it arrived, unless
// its paste guard may hold it back (a line break in it): then it was sent, not seen to arrive.
// Either way it is in the terminal's hands: no draft keeps it, so that it is never sent twice.
TEST_F(ComposerSession, ATextATerminalTookIsNeverKeptToBeSentAgain) {
    for (const auto& [text, last] : {
             std::pair<std::u16string, std::string>{
                 u"./run -l", "committed method=paste pasteboard_restore=success"},
             {u"./run -l\n./run",
              "commit_sent method=paste reason=arrival-unconfirmed pasteboard_restore=success"},
         }) {
        SCOPED_TRACE(last);
        startApp();
        const auto terminal = openTarget(u"", {}, "st-256color", "AXTerminal");
        desktop.copyToPasteboard(u"user's own");
        open();
        app->textController->setText(text, QNPlacementCaret::end);
        app->requestCommit();
        drive(3s);
        EXPECT_EQ(lines().back(), "sid=s001 state=" + last);
        EXPECT_EQ(headsUpTitle(), std::nullopt);
        EXPECT_EQ(desktop.pasteboardString(), u"user's own");
        EXPECT_EQ(app->preservedDraft, std::nullopt);
        desktop.setFrontmost(terminal.app.pid);
        open();
        EXPECT_EQ(panelText(), u"");
    }
}

// The very window the Composer was opened over taking the keyboard back by itself, within the
// opening's first moments and with no input of the person's since (a slow application handles
// its own focus late), leaves the panel open and with the keyboard, at most three times an
// opening. Any input of the person's (a click, a key a window manager may bind, with or without
// a modifier, the pointer moved, a touch), another application, another window of the same
// application (a dialog it raised) or a loss after those moments dismisses it.
TEST_F(ComposerSession, OnlyTheOpenedWindowsOwnLateFocusIsTakenBack) {
    using platform::InputEvent;
    using platform::InputEventType;
    namespace flag = platform::eventflag;
    enum class To { openedWindow, otherField, dialog, otherApplication };
    const auto shortly = 50ms;
    const auto late = 2100ms;  // past the opening's first moments (2 s)
    const struct {
        const char* name;
        std::optional<InputEvent> input;
        To to;
        std::chrono::milliseconds after;
        int steals;
        int takenBack;
        bool typedIntoThePanel = false;  // the input's key went to the panel
    } cases[] = {
        {"nothing of the person's", std::nullopt, To::openedWindow, shortly, 1, 1},
        {"a capital typed into the panel",
         InputEvent{.type = InputEventType::flagsChanged, .keyCode = 56, .flags = flag::shift},
         To::openedWindow, shortly, 1, 1, true},
        {"the shortcut's modifier let go",
         InputEvent{.type = InputEventType::flagsChanged, .keyCode = 55}, To::openedWindow,
         shortly, 1, 1},
        {"a click", InputEvent{.type = InputEventType::leftMouseDown}, To::openedWindow, shortly,
         1, 0},
        {"Alt+Tab", InputEvent{.keyCode = platform::keycode::tab, .flags = flag::option},
         To::openedWindow, shortly, 1, 0},
        {"a key without a modifier", InputEvent{.keyCode = 122}, To::openedWindow, shortly, 1, 0},
        {"the pointer moved", InputEvent{.type = InputEventType::mouseMoved}, To::openedWindow,
         shortly, 1, 0},
        {"a touch", InputEvent{.type = InputEventType::touchBegan}, To::openedWindow, shortly, 1,
         0},
        {"another application", std::nullopt, To::otherApplication, shortly, 1, 0},
        {"another field of the window (a tab, a prompt of its own)", std::nullopt, To::otherField,
         shortly, 1, 0},
        {"a dialog of the same application", std::nullopt, To::dialog, shortly, 1, 0},
        {"after the first moments", std::nullopt, To::openedWindow, late, 1, 0},
        {"a fourth time", std::nullopt, To::openedWindow, shortly, 4, 3},
    };
    startApp();
    const auto target = openTarget(u"Hi there", {0, 0});
    const auto other = desktop.addApplication({.identity = "kwrite", .name = "kwrite"});
    const auto dialog =
        desktop.addElement(desktop.addWindow(target.app.pid, {150, 150, 300, 100}), {});
    const auto window = platform::elementAttribute(*desktop.seams().accessibility, target.field,
                                                   platform::ax::window);
    ASSERT_TRUE(window);
    const auto tab = desktop.addElement(*window, {});
    const auto takenBack = [&] {
        const auto all = systemLines();
        return std::count_if(all.begin(), all.end(), [](const std::string& line) {
            return line.find("taken back") != std::string::npos &&
                   line.find("not taken back") == std::string::npos;
        });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget application;  // the window the person typed in
        application.show();
        application.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&application));
        desktop.focus(target.field);
        desktop.setFrontmost(target.app.pid);
        open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->panel.get()));
        if (c.input) {
            desktop.sendUserEvent(*c.input);
        }
        if (c.typedIntoThePanel) {
            // Shift, then L with it: to the taps, and to the panel's window.
            desktop.sendUserEvent({.keyCode = 37, .flags = flag::shift, .characters = u"L"});
            auto* window = app->panel->windowHandle();
            QTest::keyPress(window, Qt::Key_Shift);
            QTest::keyClick(window, 'L', Qt::ShiftModifier);
            QTest::keyRelease(window, Qt::Key_Shift);
            EXPECT_EQ(panelText(), u"L");
        }
        drive(c.after);
        const auto before = takenBack();
        for (int steal = 0; steal < c.steals && app->isPanelOpen; ++steal) {
            if (c.to == To::dialog) {
                desktop.focus(dialog);
            } else if (c.to == To::otherField) {
                desktop.focus(tab);
            }
            desktop.setFrontmost(c.to == To::otherApplication ? other : target.app.pid);
            application.activateWindow();
            EXPECT_TRUE(QTest::qWaitFor([&] {
                drive(0ms);
                return !app->isPanelOpen || takenBack() > before + steal;
            }));
            EXPECT_TRUE(!app->isPanelOpen || QTest::qWaitForWindowActive(app->panel.get()));
        }
        EXPECT_EQ(takenBack() - before, c.takenBack);
        EXPECT_EQ(app->isPanelOpen, c.takenBack == c.steals);
        app->dismissPanel("dismiss-key");
        app->preservedDraft.reset();
        drive(200ms);
    }
}

}  // namespace
}  // namespace ravlin::testing
