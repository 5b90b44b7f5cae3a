// The system log as the session's journal keeps it.

#include <gtest/gtest.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/linux/log/journal_system_log.h"

namespace ravlin::testing {
namespace {

using platform::LogLevel;

// The fields of the entry whose RAVLIN_CATEGORY is `category`; empty when none arrived.
std::string readBack(const std::string& category, const char* field) {
    sd_journal* journal = nullptr;
    if (sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_CURRENT_USER) < 0) {
        return {};
    }
    std::string value;
    const std::string match = "RAVLIN_CATEGORY=" + category;
    sd_journal_add_match(journal, match.data(), match.size());
    for (int attempt = 0; attempt < 50 && value.empty(); ++attempt) {
        sd_journal_seek_head(journal);
        if (sd_journal_next(journal) > 0) {
            const void* data = nullptr;
            std::size_t length = 0;
            if (sd_journal_get_data(journal, field, &data, &length) >= 0) {
                value.assign(static_cast<const char*>(data), length);
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    sd_journal_close(journal);
    return value;
}

TEST(DesktopJournal, EntryReadBackByItsFields) {
    if (access("/run/systemd/journal/socket", W_OK) != 0) {
        GTEST_SKIP() << "no journal socket in this session";
    }
    const std::string category =
        "Test" + std::to_string(getpid()) + "x" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    platform::JournalSystemLog log([](const std::string& line) { ADD_FAILURE() << line; });
    log.write({"io.ravlin.test", category, LogLevel::error, "entry 100%s"});
    const auto message = readBack(category, "MESSAGE");
    if (message.empty()) {
        GTEST_SKIP() << "the journal does not let this user read its entries back";
    }
    EXPECT_EQ(message, "MESSAGE=entry 100%s");
    EXPECT_EQ(readBack(category, "PRIORITY"), "PRIORITY=3");
    EXPECT_EQ(readBack(category, "SYSLOG_IDENTIFIER"), "SYSLOG_IDENTIFIER=ravlin");
    EXPECT_EQ(readBack(category, "RAVLIN_SUBSYSTEM"), "RAVLIN_SUBSYSTEM=io.ravlin.test");
}

}  // namespace
}  // namespace ravlin::testing
