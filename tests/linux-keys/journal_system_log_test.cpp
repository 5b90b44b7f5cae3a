#include "platform/linux/log/journal_system_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace ravlin::platform {
namespace {

TEST(JournalSystemLog, PrioritiesOfTheLevels) {
    const std::pair<LogLevel, int> levels[] = {{LogLevel::debug, 7},
                                               {LogLevel::info, 6},
                                               {LogLevel::notice, 5},
                                               {LogLevel::error, 3},
                                               {LogLevel::fault, 2}};
    for (const auto& [level, priority] : levels) {
        EXPECT_EQ(journalPriority(level), priority) << toString(level);
    }
}

TEST(JournalSystemLog, StderrLineIsOneLineWithBreaksEscaped) {
    const std::pair<LogRecord, std::string> cases[] = {
        {{"app", "Triggers", LogLevel::error, "tap failed"}, "app Triggers error: tap failed"},
        {{"app", "Log", LogLevel::notice, "two\nlines\r\\ end"},
         "app Log notice: two\\nlines\\r\\\\ end"},
        {{"a", "b", LogLevel::fault, ""}, "a b fault: "},
    };
    for (const auto& [record, line] : cases) {
        EXPECT_EQ(logLine(record), line);
    }
}

TEST(JournalSystemLog, DebugEntriesAreDroppedUnlessAsked) {
    int lines = 0;
    if (access("/run/systemd/journal/socket", W_OK) == 0) {
        GTEST_SKIP() << "a journal takes the entries: nothing falls back to count";
    }
    unsetenv("RAVLIN_LOG_DEBUG");
    JournalSystemLog quiet([&](const std::string&) { ++lines; });
    quiet.write({"s", "c", LogLevel::debug, "dropped"});
    quiet.write({"s", "c", LogLevel::info, "kept"});
    setenv("RAVLIN_LOG_DEBUG", "1", 1);
    JournalSystemLog chatty([&](const std::string&) { ++lines; });
    chatty.write({"s", "c", LogLevel::debug, "kept"});
    unsetenv("RAVLIN_LOG_DEBUG");
    EXPECT_EQ(lines, 2);
}

}  // namespace
}  // namespace ravlin::platform
