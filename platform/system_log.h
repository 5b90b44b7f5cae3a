#pragma once

// The desktop's system log (the journal): a subsystem, a category, a level and a message. Only
// texts a log line may carry go here: never user text or secrets.

#include <string>
#include <string_view>

namespace ravlin::platform {

// `notice` is the ordinary level, the one the application's lines use unless they say otherwise.
enum class LogLevel { debug, info, notice, error, fault };

[[nodiscard]] const char* toString(LogLevel level);

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::notice;
    std::string message;

    friend bool operator==(const LogRecord&, const LogRecord&) = default;
};

class SystemLog {
  public:
    virtual ~SystemLog() = default;
    virtual void write(const LogRecord& record) = 0;
};

}  // namespace ravlin::platform
