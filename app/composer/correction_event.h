#pragma once

// The record of one correction applied to the Composer's text, kept in the service's event log.

#include <optional>
#include <string>
#include <vector>

#include "core/records/confidence_tier.h"
#include "core/support/clock.h"
#include "core/support/uuid.h"
#include "core/text/range.h"

namespace ravlin {

// Who applied the correction; a local rule names itself.
struct QNCorrectionEventSource {
    enum class Kind {
        localRule,
        modelSuffix,
        modelWhole,
        modelSentencePolish,
        modelStream,
        commit,
        fallback,
        userEdit
    };

    Kind kind = Kind::modelStream;
    std::string ruleID;  // localRule only

    [[nodiscard]] static QNCorrectionEventSource localRule(std::string ruleID) {
        return {Kind::localRule, std::move(ruleID)};
    }
    [[nodiscard]] static QNCorrectionEventSource of(Kind kind) { return {kind, {}}; }

    // Same case and, for localRule, the same rule.
    friend bool operator==(const QNCorrectionEventSource& a, const QNCorrectionEventSource& b) {
        return a.kind == b.kind && (a.kind != Kind::localRule || a.ruleID == b.ruleID);
    }
};

// Where the correction stands: live on screen, replaced by a newer one, taken back with its
// stream, or obsolete.
struct QNCorrectionEventStatus {
    enum class Kind { superseded, live, rolledBack, obsolete };

    Kind kind = Kind::live;
    Uuid supersededBy;  // superseded only

    [[nodiscard]] static QNCorrectionEventStatus superseded(Uuid by) {
        return {Kind::superseded, by};
    }
    [[nodiscard]] static QNCorrectionEventStatus live() { return {Kind::live, {}}; }
    [[nodiscard]] static QNCorrectionEventStatus rolledBack() { return {Kind::rolledBack, {}}; }
    [[nodiscard]] static QNCorrectionEventStatus obsolete() { return {Kind::obsolete, {}}; }

    // Same case and, for superseded, the same superseding event.
    friend bool operator==(const QNCorrectionEventStatus& a, const QNCorrectionEventStatus& b) {
        return a.kind == b.kind && (a.kind != Kind::superseded || a.supersededBy == b.supersededBy);
    }
};

struct QNCorrectionEvent {
    Uuid id;
    text::Utf16Range canonicalRange;
    std::optional<text::Utf16Range> authoredRange;
    text::Utf16Range visibleRangeAtApply;
    std::u16string original;
    std::u16string replacement;
    ConfidenceTier tier = ConfidenceTier::eager;
    QNCorrectionEventSource source;
    Instant createdAt{};
    std::optional<std::string> decisionID;
    std::vector<Uuid> supersedes;
    QNCorrectionEventStatus status;

    // Field by field, in order; texts by canonical equivalence.
    friend bool operator==(const QNCorrectionEvent& a, const QNCorrectionEvent& b);
};

}  // namespace ravlin
