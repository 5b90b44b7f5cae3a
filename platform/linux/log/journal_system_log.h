#pragma once

// The system log on Linux: the systemd journal, with the subsystem and category as fields of
// their own (RAVLIN_SUBSYSTEM, RAVLIN_CATEGORY) under the identifier "ravlin". Without a journal
// each entry is one line on stderr. Debug entries are dropped, as the journal is not meant to
// keep them, unless RAVLIN_LOG_DEBUG=1.

#include <functional>
#include <string>

#include "platform/system_log.h"

namespace ravlin::platform {

// syslog's priority for a level.
[[nodiscard]] int journalPriority(LogLevel level);
// The stderr form: "<subsystem> <category> <level>: <message>" on one line, line breaks and
// backslashes escaped.
[[nodiscard]] std::string logLine(const LogRecord& record);

class JournalSystemLog final : public SystemLog {
  public:
    // Where a line goes when the journal refuses an entry (stderr unless a test says otherwise).
    using Fallback = std::function<void(const std::string& line)>;

    JournalSystemLog();
    explicit JournalSystemLog(Fallback fallback);

    void write(const LogRecord& record) override;

  private:
    Fallback fallback_;
    bool keepDebug_ = false;
    bool journal_ = false;
};

}  // namespace ravlin::platform
