// A GTK 4 window's tree asked over the bus directly (the calls libatspi does not make for us): a
// call that fails is told to the system log like every libatspi call, once per element and call,
// in the bus's words only.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop_fixture.h"
#include "platform/linux/accessibility/atspi_tree.h"

namespace ravlin::testing {
namespace {

struct RecordedLog final : platform::SystemLog {
    std::vector<std::string> messages;
    void write(const platform::LogRecord& record) override { messages.push_back(record.message); }
};

// The window of the application `pid` (held), as libatspi hands it out; none before it shows.
AtspiAccessible* windowOf(platform::ProcessID pid) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    AtspiAccessible* found = nullptr;
    const int count = atspi_accessible_get_child_count(desktop, nullptr);
    for (int index = 0; index < count && !found; ++index) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, index, nullptr);
        if (app == nullptr) {
            continue;
        }
        if (static_cast<platform::ProcessID>(atspi_accessible_get_process_id(app, nullptr)) ==
                pid &&
            atspi_accessible_get_child_count(app, nullptr) > 0) {
            found = atspi_accessible_get_child_at_index(app, 0, nullptr);
        }
        g_object_unref(app);
    }
    g_object_unref(desktop);
    return found;
}

TEST(KeptTree, AWindowWhoseApplicationIsGoneIsSaidToBeGone) {
    Desktop::get();
    AtspiAccessible* window = nullptr;
    {
        TargetApp gone("GTK 4, to be closed", QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(RAVLIN_GTK4_TARGET)});
        ASSERT_TRUE(gone.pid());
        ASSERT_TRUE(waitUntil([&] { return (window = windowOf(gone.pid())) != nullptr; }));
    }  // the application ends here; libatspi still holds its window
    const auto log = std::make_shared<RecordedLog>();
    platform::atspi::CallRecord calls;
    calls.setLog(log);
    const platform::atspi::TreeBounds bounds{.maxDepth = 4,
                                             .maxVisited = 50,
                                             .maxChildren = 20,
                                             .timeout = std::chrono::milliseconds(2000)};
    const auto tree =
        platform::atspi::fetchTree(window, [](const platform::atspi::States&) { return true; }, bounds,
                                   calls);
    g_object_unref(window);
    ASSERT_FALSE(tree.empty()) << "asked over the bus";
    EXPECT_FALSE(tree.front().states) << "a gone application answered";
    EXPECT_GT(calls.failures(), 0u);
    ASSERT_FALSE(log->messages.empty());
    for (const auto& message : log->messages) {
        EXPECT_NE(message.find("an accessibility call failed: "), std::string::npos) << message;
        EXPECT_NE(message.find(": the application is gone (told once"), std::string::npos)
            << message;
    }
}

}  // namespace
}  // namespace ravlin::testing
