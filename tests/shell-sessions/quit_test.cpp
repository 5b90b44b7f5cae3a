// The program's end in the middle of each flow that waits: every flow ends at once (no time
// passes on the sequence; a commit cut short once the clipboard has answered its save), none is
// left suspended to leak at exit, nothing more reaches the target, and the user's clipboard is
// theirs.

#include <gtest/gtest.h>

#include "tests/shell-sessions/sessions_fixture.h"

namespace ravlin::testing {
namespace {

class Quit : public SessionsFixture {
  protected:
    // The program ends: the coordinator stops its flows and the sequence runs what is due (the
    // blocking jobs stopped with them too), without any time passing.
    void quit() {
        keysAtQuit = desktop.postedKeys().size();
        app->willTerminate();
        while (workRunner->runNext() || executor->runUntilIdle() > 0) {
        }
    }
    // A web page with "teh" selected: what its accessibility says is selected is checked by a
    // copy.
    void webPageSelection() {
        const auto pid = desktop.addApplication({.identity = "firefox", .name = "firefox"});
        desktop.focus(desktop.addElement(desktop.addWindow(pid, {100, 100, 600, 400}),
                                         {.role = "AXWebArea",
                                          .value = u"Hi teh cat",
                                          .selection = {3, 3},
                                          .frame = platform::Rect{120, 140, 400, 24}}));
        desktop.setFrontmost(pid);
    }
    bool pasteChordSent(std::size_t from) const {
        const auto& keys = desktop.postedKeys();
        return std::any_of(keys.begin() + static_cast<std::ptrdiff_t>(from), keys.end(),
                           [](const platform::fake::PostedKey& key) {
                               return key.chord.keyCode == platform::keycode::v;
                           });
    }
    std::size_t keysAtQuit = 0;
};

TEST_F(Quit, EndsEveryFlowWhereverItWaits) {
    enum class At {
        openWaitingForTheShortcutsRelease,
        openSavingTheClipboardForItsCopy,
        commitSavingTheClipboard,
        commitWaitingForTheTargetsFetch,
        lateCopyWatchReadingTheClipboard,
        quickFixWriteBackSavingTheClipboard,
    };
    struct Case {
        const char* name;
        At at;
        std::u16string clipboardAfter;
    };
    const std::u16string users = u"user's own";
    for (const Case& c : {
             Case{"the open, the shortcut still held", At::openWaitingForTheShortcutsRelease,
                  users},
             Case{"the open's copy, saving the clipboard", At::openSavingTheClipboardForItsCopy,
                  users},
             Case{"the commit, saving the clipboard", At::commitSavingTheClipboard, users},
             Case{"the commit, the chord out, the target not fetching yet",
                  At::commitWaitingForTheTargetsFetch, users},
             // (the other program's copy stands)
             Case{"the watch for a late copy, reading the clipboard",
                  At::lateCopyWatchReadingTheClipboard, u"newer"},
             Case{"the Quick Fix write-back, saving the clipboard",
                  At::quickFixWriteBackSavingTheClipboard, users},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        desktop.copyToPasteboard(users);
        switch (c.at) {
            case At::openWaitingForTheShortcutsRelease:
                openTarget(u"Hi teh cat", {3, 3});
                ASSERT_TRUE(desktop.holdHotKey({14, platform::modifier::command}));
                drive(50ms);
                ASSERT_TRUE(app->isOpeningPanel);
                break;
            case At::openSavingTheClipboardForItsCopy:
                webPageSelection();
                desktop.setPasteboardReadsHeld(true);
                app->toggleHotkey("menu");
                drive(50ms);
                ASSERT_TRUE(app->isOpeningPanel);
                ASSERT_EQ(desktop.heldPasteboardReads(), 1u);
                break;
            case At::commitSavingTheClipboard:
            case At::commitWaitingForTheTargetsFetch: {
                const bool slow = c.at == At::commitWaitingForTheTargetsFetch;
                const auto pid = desktop.addApplication(
                    {.identity = "gedit", .name = "gedit", .pasteDelay = slow ? 1900ms : 20ms});
                desktop.focus(desktop.addElement(desktop.addWindow(pid, {100, 100, 600, 400}),
                                                 {.frame = platform::Rect{120, 140, 400, 24}}));
                desktop.setFrontmost(pid);
                app->toggleHotkey("menu");
                drive(50ms);
                ASSERT_TRUE(app->isPanelOpen);
                desktop.setFrontmost(desktop.ownPid());
                app->textController->setText(u"Hello there", QNPlacementCaret::end);
                desktop.setPasteboardReadsHeld(!slow);
                const auto keys = desktop.postedKeys().size();
                app->requestCommit();
                for (int step = 0; step < 400 && (slow ? !pasteChordSent(keys)
                                                       : desktop.heldPasteboardReads() == 0);
                     ++step) {
                    drive(5ms);
                }
                ASSERT_TRUE(app->isCommitting);
                ASSERT_EQ(pasteChordSent(keys), slow);
                break;
            }
            case At::lateCopyWatchReadingTheClipboard:
                webPageSelection();
                app->toggleHotkey("menu");
                drive(100ms);
                ASSERT_TRUE(app->isPanelOpen);
                // Within the second after the copy's put-back, another program copies.
                desktop.setPasteboardReadsHeld(true);
                desktop.copyToPasteboard(u"newer");
                drive(100ms);
                ASSERT_EQ(desktop.heldPasteboardReads(), 1u);
                break;
            case At::quickFixWriteBackSavingTheClipboard:
                openTarget(u"Hi teh cat");
                desktop.setPasteboardReadsHeld(true);
                app->handleQuickFixTrigger("quick-fix-double-tap");
                for (int step = 0; step < 400 && desktop.heldPasteboardReads() == 0; ++step) {
                    drive(5ms);
                }
                ASSERT_TRUE(app->isCommitting);
                ASSERT_EQ(desktop.heldPasteboardReads(), 1u);
                break;
        }
        ASSERT_GT(executor->suspendedWaits(), 0u);

        quit();
        // (a commit cut short saves the user's clipboard, to leave its text beside it, until the
        // clipboard answers)
        EXPECT_EQ(executor->suspendedWaits(), c.at == At::commitSavingTheClipboard ? 1u : 0u)
            << "a flow is left waiting";
        EXPECT_EQ(desktop.postedKeys().size(), keysAtQuit) << "a key went out after the end";
        EXPECT_EQ(desktop.pasteboardString(), c.clipboardAfter);
        // Answers that come after the end find no flow.
        desktop.setPasteboardReadsHeld(false);
        desktop.releaseHotKey();
        executor->runUntilIdle();
        EXPECT_EQ(desktop.postedKeys().size(), keysAtQuit);
        EXPECT_EQ(executor->suspendedWaits(), 0u);
    }
}

}  // namespace
}  // namespace ravlin::testing
