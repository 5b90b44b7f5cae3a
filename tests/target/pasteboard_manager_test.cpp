// The deferred restore of the user's pasteboard, on virtual time.

#include <gtest/gtest.h>

#include <functional>

#include "app/target/quick_fix_pasteboard_manager.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

struct ManagerTest : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);

    ManagerTest() { desktop.copyToPasteboard(u"mine"); }

    // What a Quick Fix that leaves its text on the clipboard does with the pasteboard.
    void leaveOnClipboard(std::u16string_view corrected, std::int64_t seconds = 60) {
        auto snapshot = captured(seams(manager));
        fakeSeams.pasteboard->clear();
        ASSERT_TRUE(fakeSeams.pasteboard->setString(corrected));
        manager->scheduleRestore(std::move(snapshot), seconds);
    }
    void TestBody() override {}
    std::optional<QNModelPasteboardSnapshot> borrowed;  // a flow's, never restored

    void expectIdle() {
        EXPECT_FALSE(manager->hasPendingRestore());
        EXPECT_FALSE(manager->pendingSnapshot());
    }
};

TEST_F(ManagerTest, RestoresAfterSixHundredTicksOfAnUnchangedPasteboardEvenWhenTheUserPastes) {
    const auto field = desktop.addElement(window, {});
    desktop.focus(field);
    desktop.setFrontmost(editorPid);
    leaveOnClipboard(u"fixed");
    executor->advance(30s);
    desktop.userPressKey({platform::keycode::v, platform::modifier::control});
    executor->advance(30s - 1ms);
    EXPECT_EQ(desktop.value(field), u"fixed");
    EXPECT_EQ(clipboard(), u"fixed");
    executor->advance(1ms);
    EXPECT_EQ(clipboard(), u"mine");
    expectIdle();
}

TEST_F(ManagerTest, ZeroSecondsRestoresOnceTheTaskFirstRunsNotWhileScheduling) {
    leaveOnClipboard(u"fixed", 0);
    EXPECT_EQ(clipboard(), u"fixed");
    executor->runUntilIdle();
    EXPECT_EQ(clipboard(), u"mine");
    expectIdle();
}

TEST_F(ManagerTest, ACancelledOrReplacedRestoreNeverRestores) {
    leaveOnClipboard(u"first");
    executor->advance(550ms);
    manager->cancelPendingRestore();
    expectIdle();
    executor->advance(2min);
    EXPECT_EQ(clipboard(), u"first");

    // Replaced by hand (not through capture): the first snapshot is dropped.
    manager->scheduleRestore({{{{"text/plain;charset=utf-8", {'o', 'n', 'e'}}}}}, 60);
    executor->advance(30s);
    manager->scheduleRestore({{{{"text/plain;charset=utf-8", {'t', 'w', 'o'}}}}}, 60);
    executor->advance(60s - 1ms);
    EXPECT_EQ(clipboard(), u"first");
    executor->advance(1ms);
    EXPECT_EQ(clipboard(), u"two");
    executor->advance(2min);
    EXPECT_EQ(clipboard(), u"two");
    EXPECT_EQ(executor->pendingCount(), 0u);
}

TEST_F(ManagerTest, SomethingNewerCopiedWithinTheMinuteIsKeptAndTheSnapshotDropped) {
    leaveOnClipboard(u"fixed");
    executor->advance(10s);
    desktop.copyToPasteboard(u"newer");
    executor->advance(100ms);
    expectIdle();
    executor->advance(2min);
    EXPECT_EQ(clipboard(), u"newer");
}

TEST_F(ManagerTest, DestroyedWithARestorePendingRestoresNothing) {
    leaveOnClipboard(u"fixed");
    executor->advance(1s);
    manager.reset();
    executor->advance(2min);
    EXPECT_EQ(clipboard(), u"fixed");
    EXPECT_EQ(executor->pendingCount(), 0u) << "the countdown has ended";
}

TEST_F(ManagerTest, AnyBorrowerWithinTheMinuteGetsTheUsersOwnContentsBack) {
    // Two Quick Fix runs that leave their text on the clipboard, one after the other.
    leaveOnClipboard(u"fix one");
    executor->advance(20s);
    leaveOnClipboard(u"fix two");
    executor->advance(60s);
    EXPECT_EQ(clipboard(), u"mine");

    // A paste from the Composer within the minute: it restores the user's contents at once.
    leaveOnClipboard(u"fix three");
    executor->advance(5s);
    const auto field = desktop.addElement(window, {});
    desktop.focus(field);
    desktop.setFrontmost(editorPid);
    auto pasted = start(QNModelPasteboardSnapshot::paste(seams(manager), u"draft", editor, {}));
    executor->advance(2s);
    EXPECT_EQ(pasted->value().result, QNPasteResult::pasted);
    EXPECT_EQ(desktop.value(field), u"draft");
    EXPECT_EQ(clipboard(), u"mine");
    expectIdle();

    // Once something newer was copied, a borrower saves that instead.
    leaveOnClipboard(u"fix four");
    desktop.copyToPasteboard(u"newer");
    EXPECT_EQ(captured(seams(manager)).items, desktop.pasteboardItems());
    executor->advance(2min);
    EXPECT_EQ(clipboard(), u"newer");
}

// The program leaving in the middle of a flow: whatever the flow had borrowed goes back first.
TEST_F(ManagerTest, LeavingPutsBackWhatAFlowLeftInTheMiddleHadBorrowed) {
    const struct {
        const char* name;
        std::function<void(ManagerTest&)> flow;
        std::u16string clipboard;
    } cases[] = {
        {"a paste with its text out",
         [](ManagerTest& t) {
             t.borrowed = t.captured(t.seams(t.manager));
             t.fakeSeams.pasteboard->clear();
             ASSERT_TRUE(t.fakeSeams.pasteboard->setString(u"pasted"));
         },
         u"mine"},
        {"a paste that had written nothing yet",
         [](ManagerTest& t) {
             t.borrowed = t.captured(t.seams(t.manager));
         },
         u"mine"},
        {"a paste over a Quick Fix's deferred restore",
         [](ManagerTest& t) {
             t.leaveOnClipboard(u"fixed");
             t.borrowed = t.captured(t.seams(t.manager));
             t.fakeSeams.pasteboard->clear();
             ASSERT_TRUE(t.fakeSeams.pasteboard->setString(u"pasted"));
         },
         u"mine"},
        {"a deferred restore counting down", [](ManagerTest& t) { t.leaveOnClipboard(u"fixed"); },
         u"mine"},
        {"a deferred restore with something newer copied",
         [](ManagerTest& t) {
             t.leaveOnClipboard(u"fixed");
             t.desktop.copyToPasteboard(u"newer");
         },
         u"newer"},
        {"a paste that finished, then a copy",
         [](ManagerTest& t) {
             const auto saved = t.captured(t.seams(t.manager));
             ASSERT_TRUE(t.fakeSeams.pasteboard->setString(u"pasted"));
             saved.restore(*t.fakeSeams.pasteboard);
             t.desktop.copyToPasteboard(u"newer");
         },
         u"newer"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        ManagerTest test;
        each.flow(test);
        const auto changes = test.fakeSeams.pasteboard->changeCount();
        test.manager->restoreBeforeExit();
        EXPECT_EQ(test.clipboard(), each.clipboard);
        if (each.clipboard == u"newer" ||
            std::string_view(each.name).find("nothing") != std::string_view::npos) {
            EXPECT_EQ(test.fakeSeams.pasteboard->changeCount(), changes) << "written needlessly";
        }
        EXPECT_EQ(test.manager->openLoans(), 0u);
        test.expectIdle();
        // Nothing is left waiting once the sequence turns (the program's last turns), which would
        // outlive the program.
        test.executor->runUntilIdle();
        EXPECT_EQ(test.executor->nextDueTime(), std::nullopt);
        test.executor->advance(2min);
        EXPECT_EQ(test.clipboard(), each.clipboard);
    }
}

}  // namespace
}  // namespace ravlin::testing
