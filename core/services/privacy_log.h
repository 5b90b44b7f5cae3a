#pragma once

// The core's narrow logging interface: events carry a category, a fixed message and at most a
// character count, never user text. The only logger the core ships drops every event.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/raw_value.h"

namespace ravlin {

enum class QNModelPrivacyLogCategory {
    status,
    correction,
    availability,
    copy,
    error,
};

[[nodiscard]] std::string_view toString(QNModelPrivacyLogCategory category);
template <>
[[nodiscard]] std::optional<QNModelPrivacyLogCategory> fromString<QNModelPrivacyLogCategory>(
    std::string_view raw);

struct QNModelPrivacyLogEvent {
    QNModelPrivacyLogCategory category = QNModelPrivacyLogCategory::status;
    std::string message;
    std::optional<std::int64_t> characterCount;

    // Messages compare as text (canonical equivalence); an absent count differs from 0.
    friend bool operator==(const QNModelPrivacyLogEvent& a, const QNModelPrivacyLogEvent& b);
};

class QNServicePrivacyLogging {
  public:
    virtual ~QNServicePrivacyLogging() = default;
    virtual void log(const QNModelPrivacyLogEvent& event) = 0;
};

// Accepts every event and drops it: nothing is written, kept or forwarded.
class QNServicePrivacyLogger final : public QNServicePrivacyLogging {
  public:
    // The one instance, created on first use and never released.
    [[nodiscard]] static const std::shared_ptr<QNServicePrivacyLogger>& shared();

    void log(const QNModelPrivacyLogEvent& event) override;
};

}  // namespace ravlin
