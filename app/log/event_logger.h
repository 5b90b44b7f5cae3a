#pragma once

// The session log: what the program did, line by line, for the log window and its export. It
// keeps the user's text out of memory unless the user opens the window and allows it:
//
// - Not capturing (the window closed): only recent issues are kept, the entries the issue policy
//   picks, without their detail (the newest 50).
// - Capturing (the window open): every entry (the newest 5000), with its detail while
//   "Ravlin.Diagnostics.IncludeTextDetails" is not false (absent means true; read at each
//   call). Stopping drops every detail.
//
// Writing never fails. Lives on the main sequence.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/preferences/defaults.h"
#include "core/records/note.h"
#include "core/support/clock.h"
#include "core/support/subscription.h"
#include "core/support/uuid.h"

namespace ravlin {

enum class QNKindLog { info, send, receive, applied, skipped, rejected, error, system, perf };
// "INFO", "SEND", "RECV", "APPL", "SKIP", "REJT", "ERRO", "SYST", "PERF".
[[nodiscard]] std::string_view logTag(QNKindLog kind);

// Whether an entry is also kept as a recent issue while not capturing: `automatic` for errors
// only, `always`, `never`.
enum class QNLogIssuePolicy { automatic, always, never };

struct QNLogMetrics {
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::int64_t> totalTokens;
    std::optional<std::int64_t> cachedTokens;
    std::optional<double> latencyMilliseconds;

    friend bool operator==(const QNLogMetrics&, const QNLogMetrics&) = default;
};

struct QNModelLogEvent {
    Uuid id;
    std::chrono::system_clock::time_point time;
    std::int64_t uptimeMilliseconds = 0;
    QNKindLog kind = QNKindLog::info;
    std::string message;
    std::optional<std::string> detail;
    QNLogMetrics metrics;
    std::vector<QNCorrectionNote> notes;

    // "[14:03:07.250 uptime=5120ms] SEND message input_tokens=3 latency_ms=120", then each line
    // of the detail on a line of its own, indented by four spaces. The time is local.
    [[nodiscard]] std::string line() const;
};

class QNLoggerEvent {
  public:
    static constexpr std::size_t maximumEntries = 5000;
    static constexpr std::size_t maximumRecentIssues = 50;
    static constexpr std::string_view includeTextDetailsKey =
        "Ravlin.Diagnostics.IncludeTextDetails";

    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    // Empty, not capturing. Uptime counts from now on `clock`.
    QNLoggerEvent(std::shared_ptr<const Defaults> defaults,
                  std::shared_ptr<const Clock> clock = Clock::system(), WallClock wallClock = {});

    void log(QNKindLog kind, std::string_view message,
             std::optional<std::string> detail = std::nullopt, QNLogMetrics metrics = {},
             std::vector<QNCorrectionNote> notes = {},
             QNLogIssuePolicy issue = QNLogIssuePolicy::automatic) noexcept;

    void startCapturing();
    // Ends capturing and drops the detail of every entry kept.
    void stopCapturing();
    [[nodiscard]] bool isCapturing() const { return capturing_; }

    // Oldest first.
    [[nodiscard]] const std::deque<QNModelLogEvent>& entries() const { return entries_; }
    [[nodiscard]] const std::deque<QNModelLogEvent>& recentIssues() const { return recentIssues_; }
    // Entries kept since the log was made, those since dropped included.
    [[nodiscard]] std::uint64_t entriesAppended() const { return entriesAppended_; }

    // Told after every change of the entries or the recent issues.
    Subscription observeChanges(std::function<void()> onChange) const {
        return changes_.add(std::move(onChange));
    }

  private:
    [[nodiscard]] bool includesTextDetails() const;

    std::shared_ptr<const Defaults> defaults_;
    std::shared_ptr<const Clock> clock_;
    WallClock wallClock_;
    Instant start_;
    bool capturing_ = false;
    std::deque<QNModelLogEvent> entries_;
    std::deque<QNModelLogEvent> recentIssues_;
    std::uint64_t entriesAppended_ = 0;
    mutable CallbackList<> changes_;
};

}  // namespace ravlin
