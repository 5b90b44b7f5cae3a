#pragma once

// A correction problem the menu shows: a failing hosted cloud route, with the texts that name
// it and whether it has lasted.

#include <string>

namespace ravlin {

enum class QNModelCorrectionIssueKind { connection };
enum class QNModelCorrectionIssueSeverity { warning, critical };

struct QNModelCorrectionIssue {
    QNModelCorrectionIssueKind kind = QNModelCorrectionIssueKind::connection;
    std::string title;
    std::string menuDetail;  // the short line under the title
    std::string detail;      // the full sentence
    bool isPersistent = false;
    bool requiresOnlineMode = false;
    QNModelCorrectionIssueSeverity severity = QNModelCorrectionIssueSeverity::critical;

    friend bool operator==(const QNModelCorrectionIssue&, const QNModelCorrectionIssue&) = default;
};

// The three texts of a cloud failure.
struct QNCloudFailureTexts {
    std::string title;
    std::string menuDetail;
    std::string detail;

    friend bool operator==(const QNCloudFailureTexts&, const QNCloudFailureTexts&) = default;
};

}  // namespace ravlin
