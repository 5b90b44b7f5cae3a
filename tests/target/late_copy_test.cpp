// Copies that are stopped, and targets whose copy lands late, on the simulated desktop's virtual
// time: nothing is sent after a stop, and once Ctrl+C is out the user's clipboard is what stays,
// however late the target's copy lands.

#include <gtest/gtest.h>

#include "app/target/focus_snapshot.h"
#include "app/target/quick_fix_host.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::fake::PostedKey;
namespace keycode = platform::keycode;

// The simulated desktop's pasteboard, whose owner takes 300 ms to hand the user's contents over.
struct SlowOwner final : ForwardingPasteboard {
    SlowOwner(std::shared_ptr<platform::Pasteboard> inner, std::shared_ptr<ManualExecutor> executor)
        : ForwardingPasteboard(std::move(inner)), executor(std::move(executor)) {}
    std::shared_ptr<ManualExecutor> executor;
    void readContents(std::function<void(platform::PasteboardContents)> done) override {
        executor->postAfter(300ms, [inner = inner, done = std::move(done)] {
            inner->readContents(done);
        });
    }
};

struct LateCopyTest : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
    ProcessID other = desktop.addApplication({.identity = "other"});

    enum class Path { copyFallback, selectAllAndCopy };
    // A target with "pick these words" whose copy lands `copyDelay` after Ctrl+C.
    Target openTarget(Path path, std::chrono::milliseconds copyDelay) {
        const bool all = path == Path::selectAllAndCopy;
        return open({.identity = all ? "firefox" : "notes", .copyDelay = copyDelay},
                    {.role = all ? "AXWebArea" : "AXTextField",
                     .value = u"pick these words",
                     .selection = all ? text::Utf16Range{0, 0} : text::Utf16Range{5, 5}});
    }
    // The copy of `path` (the Quick Fix capture for select-all-and-copy); what it gave.
    std::optional<std::u16string> copy(Path path, const Target& target, TargetSeams targetSeams,
                                       std::stop_token stop = {}) {
        if (path == Path::selectAllAndCopy) {
            auto driver = std::make_shared<QNQuickFixHostLiveDriver>(targetSeams);
            const auto session = finish(start(QNServiceQuickFixHost::beginSession(
                QNModelFocusSnapshot::captureNow(targetSeams), driver, std::move(stop))));
            return session ? std::optional(session->originalText) : std::nullopt;
        }
        return finish(start(QNModelFocusSnapshot::copySelectionViaPasteboard(
            targetSeams, target.app, "AXTextField", std::move(stop))));
    }
};

TEST_F(LateCopyTest, AStoppedOrLateCopyEndsWithTheUsersClipboard) {
    struct Case {
        const char* name;
        std::optional<std::chrono::milliseconds> stopAt;  // negative: before the call
        std::chrono::milliseconds copyDelay;
        int copies;                              // Ctrl+C sent
        std::optional<std::u16string> captured;  // what the copy gives
        std::optional<std::u16string> userCopiesAt400ms;
        std::u16string clipboardAfter;
    };
    const std::u16string mine = u"user's secret";
    for (const Path path : {Path::copyFallback, Path::selectAllAndCopy}) {
        const bool all = path == Path::selectAllAndCopy;
        const std::u16string selected = all ? u"pick these words" : u"these";
        for (const Case& c : {
                 Case{"stopped before", -1ms, 10ms, 0, {}, {}, mine},
                 Case{"stopped in the polls, copy 100 ms late", 50ms, 100ms, 1, {}, {}, mine},
                 Case{"copy after the polls (400 ms)", {}, 400ms, 1, {}, {}, mine},
                 Case{"copy in time", {}, 10ms, 1, selected, {}, mine},
                 Case{"the user's own copy afterwards stays",
                      {},
                      10ms,
                      1,
                      selected,
                      u"theirs",
                      u"theirs"},
             }) {
            SCOPED_TRACE(std::string(all ? "select all and copy: " : "copy fallback: ") + c.name);
            const auto target = openTarget(path, c.copyDelay);
            std::stop_source stop;
            if (c.stopAt && *c.stopAt < 0ms) {
                stop.request_stop();
            } else if (c.stopAt) {
                executor->postAfter(*c.stopAt, [&stop] { stop.request_stop(); });
            }
            if (c.userCopiesAt400ms) {
                executor->postAfter(400ms, [&] { desktop.copyToPasteboard(*c.userCopiesAt400ms); });
            }
            EXPECT_EQ(copy(path, target, seams(manager), stop.get_token()), c.captured);
            EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), c.copies);
            EXPECT_EQ(count(PostedKey::Kind::down, keycode::a), all ? c.copies : 0);
            executor->advance(1500ms);  // every late copy has landed, every watch has ended
            EXPECT_EQ(clipboard(), c.clipboardAfter);
            EXPECT_FALSE(manager->isWatching());
        }
    }
}

// The user moves to another application while the target is asked to copy: during a save that
// takes a while (nothing is sent then), or once Ctrl+C is out (the user's contents come back
// without a watch, so a copy of their own there afterwards stays).
TEST_F(LateCopyTest, AUserWhoMovesOnGetsNothingSentAndKeepsTheirOwnCopy) {
    struct Case {
        const char* name;
        bool slowSave;
        std::chrono::milliseconds leaveAt;
        int copies;
    };
    for (const Path path : {Path::copyFallback, Path::selectAllAndCopy}) {
        for (const Case& c : {
                 Case{"during a 300 ms save", true, 100ms, 0},
                 Case{"after the chord", false, 40ms, 1},
             }) {
            SCOPED_TRACE(std::string(path == Path::selectAllAndCopy ? "select all: " : "copy: ") +
                         c.name);
            const auto target = openTarget(path, 100ms);
            auto targetSeams = seams(manager);
            if (c.slowSave) {
                targetSeams.pasteboard = std::make_shared<SlowOwner>(fakeSeams.pasteboard, executor);
            }
            desktop.setFrontmostAfter(c.leaveAt, other);
            executor->postAfter(400ms, [&] { desktop.copyToPasteboard(u"theirs"); });
            EXPECT_EQ(copy(path, target, targetSeams), std::nullopt);
            EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), c.copies);
            EXPECT_EQ(count(PostedKey::Kind::down, keycode::a),
                      path == Path::selectAllAndCopy ? c.copies : 0);
            executor->advance(1500ms);
            EXPECT_EQ(clipboard(), u"theirs");
            EXPECT_FALSE(manager->isWatching());
        }
    }
}

}  // namespace
}  // namespace ravlin::testing
