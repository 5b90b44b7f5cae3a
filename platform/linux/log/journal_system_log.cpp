#include "platform/linux/log/journal_system_log.h"

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ravlin::platform {

int journalPriority(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return 7;
        case LogLevel::info:
            return 6;
        case LogLevel::notice:
            return 5;
        case LogLevel::error:
            return 3;
        case LogLevel::fault:
            return 2;
    }
    return 5;
}

std::string logLine(const LogRecord& record) {
    std::string line =
        record.subsystem + " " + record.category + " " + toString(record.level) + ": ";
    line.reserve(line.size() + record.message.size());
    for (const char c : record.message) {
        switch (c) {
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\\':
                line += "\\\\";
                break;
            default:
                line += c;
        }
    }
    return line;
}

JournalSystemLog::JournalSystemLog()
    : JournalSystemLog(
          [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }) {}

JournalSystemLog::JournalSystemLog(Fallback fallback) : fallback_(std::move(fallback)) {
    const char* debug = std::getenv("RAVLIN_LOG_DEBUG");
    keepDebug_ = debug != nullptr && std::strcmp(debug, "1") == 0;
    // sd_journal_send reports success when no journal listens: look for its socket instead.
    journal_ = ::access("/run/systemd/journal/socket", W_OK) == 0;
}

void JournalSystemLog::write(const LogRecord& record) {
    if (record.level == LogLevel::debug && !keepDebug_) {
        return;
    }
    // The journal takes the fields as they are, line breaks included; "%s" keeps a message's
    // percent signs from being read as a format.
    if (!journal_) {
        fallback_(logLine(record));
        return;
    }
    const int result = sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%d",
                                       journalPriority(record.level), "SYSLOG_IDENTIFIER=ravlin",
                                       "RAVLIN_SUBSYSTEM=%s", record.subsystem.c_str(),
                                       "RAVLIN_CATEGORY=%s", record.category.c_str(), nullptr);
    if (result < 0) {
        fallback_(logLine(record));
    }
}

}  // namespace ravlin::platform
