// Write-back on the headless desktop: who took our text from the clipboard, and the paste judged
// by what changed in real applications' fields.

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>

#include "desktop_fixture.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

using platform::WriteFetch;
namespace keycode = platform::keycode;
namespace modifier = platform::modifier;

// The clipboard's text as `reader` (a connection of its own) fetches it.
std::optional<std::u16string> fetchedBy(platform::x11::Selections& reader) {
    std::promise<std::optional<std::u16string>> promise;
    auto answer = promise.get_future();
    reader.readText("CLIPBOARD", {}, [&](std::optional<std::u16string> text) {
        promise.set_value(std::move(text));
    });
    // The owner answers from its own thread; this one only waits.
    return answer.wait_for(3s) == std::future_status::ready ? answer.get() : std::nullopt;
}

// Only the target's own fetch says a paste took the text: another program's (a clipboard
// manager fetches every copy at once) does not, another connection of the target's process does.
TEST(FetchedBy, OnlyTheTargetsOwnClientsFetchCounts) {
    auto& desktop = Desktop::get();
    auto& pasteboard = *desktop.seams.pasteboard;
    const auto field = desktop.focus(*desktop.gtk, QStringLiteral("line"));
    ASSERT_TRUE(field);
    const platform::FetchTarget gtk{desktop.gtk->pid(), desktop.seams.workspace->frontmostWindow()};
    ASSERT_TRUE(gtk.window);
    const platform::FetchTarget self{static_cast<std::int32_t>(::getpid()), std::nullopt};
    const auto fetches = [&] {
        return std::pair(pasteboard.lastWriteFetchedBy(gtk), pasteboard.lastWriteFetchedBy(self));
    };

    pasteboard.clear();
    ASSERT_TRUE(pasteboard.setString(u"ours").ok());
    EXPECT_EQ(fetches(), std::pair(WriteFetch::none, WriteFetch::none));

    // Another program reads it, as a clipboard manager does.
    EXPECT_TRUE(readClipboardExactly().contains(QStringLiteral("UTF8_STRING")));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byOthers, WriteFetch::byOthers));

    // A second connection of this process: the same program.
    const auto second = platform::x11::Selections::open();
    ASSERT_TRUE(second);
    EXPECT_EQ(fetchedBy(*second), u"ours");
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byOthers, WriteFetch::byTarget));

    // The GTK target pastes it itself.
    const auto before = desktop.value(field);
    ASSERT_TRUE(desktop.seams.keySynthesis->postKeyPress({keycode::v, modifier::command}).ok());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) != before; }));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byTarget, WriteFetch::byTarget));

    // Our text gone from the clipboard: nobody has it.
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("copy theirs")));
    EXPECT_TRUE(waitUntil([&] { return fetches().first == WriteFetch::none; }));
    ASSERT_TRUE(desktop.seams.accessibility
                    ->setAttribute(field, platform::ax::value,
                                   platform::AttributeValue(std::u16string(
                                       u"h\u00e9llo \U0001F600 w\u00f6rld teh")))
                    .ok());
}

}  // namespace
}  // namespace ravlin::testing
