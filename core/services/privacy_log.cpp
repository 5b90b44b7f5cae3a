#include "core/services/privacy_log.h"

#include <array>
#include <utility>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::array<std::pair<QNModelPrivacyLogCategory, std::string_view>, 5> kCategoryNames{{
    {QNModelPrivacyLogCategory::status, "status"},
    {QNModelPrivacyLogCategory::correction, "correction"},
    {QNModelPrivacyLogCategory::availability, "availability"},
    {QNModelPrivacyLogCategory::copy, "copy"},
    {QNModelPrivacyLogCategory::error, "error"},
}};

}  // namespace

std::string_view toString(QNModelPrivacyLogCategory category) {
    for (const auto& [value, name] : kCategoryNames) {
        if (value == category) {
            return name;
        }
    }
    return "status";
}

template <>
std::optional<QNModelPrivacyLogCategory> fromString<QNModelPrivacyLogCategory>(
    std::string_view raw) {
    for (const auto& [value, name] : kCategoryNames) {
        if (name == raw) {
            return value;
        }
    }
    return std::nullopt;
}

bool operator==(const QNModelPrivacyLogEvent& a, const QNModelPrivacyLogEvent& b) {
    return a.category == b.category && a.characterCount == b.characterCount &&
           text::canonicallyEqual(std::string_view(a.message), std::string_view(b.message));
}

const std::shared_ptr<QNServicePrivacyLogger>& QNServicePrivacyLogger::shared() {
    // Deliberately leaked so that it outlives every static that might still log at exit.
    static const auto* instance =
        new std::shared_ptr<QNServicePrivacyLogger>(std::make_shared<QNServicePrivacyLogger>());
    return *instance;
}

void QNServicePrivacyLogger::log(const QNModelPrivacyLogEvent& /*event*/) {}

}  // namespace ravlin
