#pragma once

// A privacy logger that keeps every event, for tests that check what was logged.

#include <mutex>
#include <vector>

#include "core/services/privacy_log.h"

namespace ravlin::testing {

class RecordingPrivacyLogger final : public QNServicePrivacyLogging {
  public:
    void log(const QNModelPrivacyLogEvent& event) override {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    [[nodiscard]] std::vector<QNModelPrivacyLogEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<QNModelPrivacyLogEvent> events_;
};

}  // namespace ravlin::testing
