#include "app/log/event_logger.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace ravlin {
namespace {

std::string clockTime(std::chrono::system_clock::time_point time) {
    const auto sinceEpoch = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    localtime_r(&whole, &local);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return buffer;
}

void appendMetric(std::string& line, std::string_view name, std::optional<std::int64_t> value) {
    if (value) {
        line += ' ';
        line += name;
        line += std::to_string(*value);
    }
}

}  // namespace

std::string_view logTag(QNKindLog kind) {
    switch (kind) {
        case QNKindLog::info:
            return "INFO";
        case QNKindLog::send:
            return "SEND";
        case QNKindLog::receive:
            return "RECV";
        case QNKindLog::applied:
            return "APPL";
        case QNKindLog::skipped:
            return "SKIP";
        case QNKindLog::rejected:
            return "REJT";
        case QNKindLog::error:
            return "ERRO";
        case QNKindLog::system:
            return "SYST";
        case QNKindLog::perf:
            return "PERF";
    }
    return "INFO";
}

std::string QNModelLogEvent::line() const {
    std::string line = "[" + clockTime(time) + " uptime=" + std::to_string(uptimeMilliseconds) +
                       "ms] " + std::string(logTag(kind)) + " " + message;
    appendMetric(line, "input_tokens=", metrics.inputTokens);
    appendMetric(line, "output_tokens=", metrics.outputTokens);
    appendMetric(line, "total_tokens=", metrics.totalTokens);
    appendMetric(line, "cached_tokens=", metrics.cachedTokens);
    if (metrics.latencyMilliseconds && std::isfinite(*metrics.latencyMilliseconds)) {
        appendMetric(line, "latency_ms=", std::llround(*metrics.latencyMilliseconds));
    }
    if (detail) {
        std::size_t start = 0;
        while (start <= detail->size()) {
            const std::size_t end = detail->find('\n', start);
            const std::size_t stop = end == std::string::npos ? detail->size() : end;
            line += "\n    ";
            line.append(*detail, start, stop - start);
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    return line;
}

QNLoggerEvent::QNLoggerEvent(std::shared_ptr<const Defaults> defaults,
                             std::shared_ptr<const Clock> clock, WallClock wallClock)
    : defaults_(std::move(defaults)),
      clock_(clock ? std::move(clock) : Clock::system()),
      wallClock_(wallClock ? std::move(wallClock)
                           : WallClock([] { return std::chrono::system_clock::now(); })),
      start_(clock_->now()) {}

bool QNLoggerEvent::includesTextDetails() const {
    return !defaults_ || defaults_->boolValue(includeTextDetailsKey).value_or(true);
}

void QNLoggerEvent::log(QNKindLog kind, std::string_view message, std::optional<std::string> detail,
                        QNLogMetrics metrics, std::vector<QNCorrectionNote> notes,
                        QNLogIssuePolicy issue) noexcept {
    try {
        const bool keepIssue =
            !capturing_ && (issue == QNLogIssuePolicy::always ||
                            (issue == QNLogIssuePolicy::automatic && kind == QNKindLog::error));
        if (!capturing_ && !keepIssue) {
            return;
        }
        QNModelLogEvent event{
            .id = Uuid::random(),
            .time = wallClock_(),
            .uptimeMilliseconds =
                std::chrono::duration_cast<std::chrono::milliseconds>(clock_->now() - start_)
                    .count(),
            .kind = kind,
            .message = std::string(message),
            .detail = std::nullopt,
            .metrics = metrics,
            .notes = std::move(notes),
        };
        if (capturing_) {
            if (detail && includesTextDetails()) {
                event.detail = std::move(detail);
            }
            entries_.push_back(std::move(event));
            ++entriesAppended_;
            if (entries_.size() > maximumEntries) {
                entries_.pop_front();
            }
        } else {
            recentIssues_.push_back(std::move(event));
            if (recentIssues_.size() > maximumRecentIssues) {
                recentIssues_.pop_front();
            }
        }
        changes_.notify();
    } catch (...) {
        // The log never fails its caller; an entry that cannot be made is lost.
    }
}

void QNLoggerEvent::startCapturing() {
    capturing_ = true;
}

void QNLoggerEvent::stopCapturing() {
    capturing_ = false;
    bool dropped = false;
    for (auto& entry : entries_) {
        dropped = dropped || entry.detail.has_value();
        entry.detail.reset();
    }
    if (dropped) {
        changes_.notify();
    }
}

}  // namespace ravlin
