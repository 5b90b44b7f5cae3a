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

struct LateCopyTest : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
};

TEST_F(LateCopyTest, AStoppedOrLateCopyEndsWithTheUsersClipboard) {
    enum class Path { copyFallback, selectAllAndCopy };
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
            const auto target =
                open({.identity = all ? "firefox" : "notes", .copyDelay = c.copyDelay},
                     {.role = all ? "AXWebArea" : "AXTextField",
                      .value = u"pick these words",
                      .selection = all ? text::Utf16Range{0, 0} : text::Utf16Range{5, 5}});
            std::stop_source stop;
            if (c.stopAt && *c.stopAt < 0ms) {
                stop.request_stop();
            } else if (c.stopAt) {
                executor->postAfter(*c.stopAt, [&stop] { stop.request_stop(); });
            }
            if (c.userCopiesAt400ms) {
                executor->postAfter(400ms, [&] { desktop.copyToPasteboard(*c.userCopiesAt400ms); });
            }
            std::optional<std::u16string> captured;
            if (all) {
                auto driver = std::make_shared<QNQuickFixHostLiveDriver>(seams(manager));
                const auto session = finish(start(QNServiceQuickFixHost::beginSession(
                    QNModelFocusSnapshot::captureNow(seams(manager)), driver, stop.get_token())));
                if (session) {
                    captured = session->originalText;
                }
            } else {
                captured = finish(start(QNModelFocusSnapshot::copySelectionViaPasteboard(
                    seams(manager), target.app, "AXTextField", stop.get_token())));
            }
            EXPECT_EQ(captured, c.captured);
            EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), c.copies);
            EXPECT_EQ(count(PostedKey::Kind::down, keycode::a), all ? c.copies : 0);
            executor->advance(1500ms);  // every late copy has landed, every watch has ended
            EXPECT_EQ(clipboard(), c.clipboardAfter);
            EXPECT_FALSE(manager->isWatching());
        }
    }
}

}  // namespace
}  // namespace ravlin::testing
