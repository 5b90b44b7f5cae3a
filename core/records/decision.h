#pragma once

// The decision trace: one record per correction attempt, with what was corrected, what started
// it, which provider answered, how each stage went, how it ended, what it cost and fingerprints
// of the texts involved. Decisions nest (a fallback attempt is a child of the primary one).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/confidence_tier.h"
#include "core/records/note.h"
#include "core/records/provider_records.h"
#include "core/records/raw_value.h"
#include "core/support/clock.h"
#include "core/support/uuid.h"

namespace ravlin {

// How an attempt stands or ended. Five cases carry a reason text.
struct QNCorrectionDecisionStatus {
    enum class Kind {
        rejected,
        fallback,
        skipped,
        unavailable,
        failed,
        pending,
        accepted,
        noChange
    };

    Kind kind = Kind::pending;
    std::string reason;  // empty for pending, accepted and noChange

    [[nodiscard]] static QNCorrectionDecisionStatus rejected(std::string reason);
    [[nodiscard]] static QNCorrectionDecisionStatus fallback(std::string reason);
    [[nodiscard]] static QNCorrectionDecisionStatus skipped(std::string reason);
    [[nodiscard]] static QNCorrectionDecisionStatus unavailable(std::string reason);
    [[nodiscard]] static QNCorrectionDecisionStatus failed(std::string reason);
    [[nodiscard]] static QNCorrectionDecisionStatus pending() { return {Kind::pending, {}}; }
    [[nodiscard]] static QNCorrectionDecisionStatus accepted() { return {Kind::accepted, {}}; }
    [[nodiscard]] static QNCorrectionDecisionStatus noChange() { return {Kind::noChange, {}}; }

    [[nodiscard]] bool hasReason() const { return kind < Kind::pending; }

    // Same case, and for the cases with a reason, equal reasons.
    friend bool operator==(const QNCorrectionDecisionStatus& a,
                           const QNCorrectionDecisionStatus& b);
};

// How the engine's correction ended. Four cases carry a reason text.
struct QNModelCorrectionOutcome {
    enum class Kind { skipped, unavailable, rejected, failed, corrected, unchanged };

    Kind kind = Kind::unchanged;
    std::string reason;  // empty for corrected and unchanged

    [[nodiscard]] static QNModelCorrectionOutcome skipped(std::string reason);
    [[nodiscard]] static QNModelCorrectionOutcome unavailable(std::string reason);
    [[nodiscard]] static QNModelCorrectionOutcome rejected(std::string reason);
    [[nodiscard]] static QNModelCorrectionOutcome failed(std::string reason);
    [[nodiscard]] static QNModelCorrectionOutcome corrected() { return {Kind::corrected, {}}; }
    [[nodiscard]] static QNModelCorrectionOutcome unchanged() { return {Kind::unchanged, {}}; }

    [[nodiscard]] bool hasReason() const { return kind < Kind::corrected; }

    friend bool operator==(const QNModelCorrectionOutcome& a, const QNModelCorrectionOutcome& b);
};

// What started an attempt.
enum class QNCorrectionDecisionTrigger {
    keystroke,
    pause,
    commit,
    idlePolish,
    manualEdit,
    localRule,
    direct,
};

// What part of the text an attempt covers.
enum class QNCorrectionDecisionScope {
    local,
    suffix,
    wholePrefix,
    sentencePolish,
    tentativeWord,
    model,
};

[[nodiscard]] std::string_view toString(QNCorrectionDecisionTrigger trigger);
template <>
[[nodiscard]] std::optional<QNCorrectionDecisionTrigger> fromString<QNCorrectionDecisionTrigger>(
    std::string_view raw);
[[nodiscard]] std::string_view toString(QNCorrectionDecisionScope scope);
template <>
[[nodiscard]] std::optional<QNCorrectionDecisionScope> fromString<QNCorrectionDecisionScope>(
    std::string_view raw);

// Who produced the correction; a local rule names itself.
struct QNCorrectionDecisionSource {
    enum class Kind {
        localRule,
        modelPrimary,
        modelFallback,
        modelSuffix,
        modelWhole,
        modelStream,
        commit,
        userEdit
    };

    Kind kind = Kind::modelPrimary;
    std::string id;  // the rule identifier of localRule, else empty

    [[nodiscard]] static QNCorrectionDecisionSource localRule(std::string id);
    [[nodiscard]] static QNCorrectionDecisionSource modelPrimary() {
        return {Kind::modelPrimary, {}};
    }
    [[nodiscard]] static QNCorrectionDecisionSource modelFallback() {
        return {Kind::modelFallback, {}};
    }
    [[nodiscard]] static QNCorrectionDecisionSource modelSuffix() {
        return {Kind::modelSuffix, {}};
    }
    [[nodiscard]] static QNCorrectionDecisionSource modelWhole() { return {Kind::modelWhole, {}}; }
    [[nodiscard]] static QNCorrectionDecisionSource modelStream() {
        return {Kind::modelStream, {}};
    }
    [[nodiscard]] static QNCorrectionDecisionSource commit() { return {Kind::commit, {}}; }
    [[nodiscard]] static QNCorrectionDecisionSource userEdit() { return {Kind::userEdit, {}}; }

    friend bool operator==(const QNCorrectionDecisionSource& a,
                           const QNCorrectionDecisionSource& b);
};

// One pipeline stage an attempt went through.
struct QNCorrectionDecisionStage {
    QNCorrectionStageID id = QNCorrectionStageID::unknown;
    QNCorrectionDecisionStatus status;
    std::optional<QNModelCorrectionProviderDiagnostics> provider;
    std::vector<QNCorrectionNote> notes;
    Instant startedAt{};
    std::optional<Instant> finishedAt;

    friend bool operator==(const QNCorrectionDecisionStage&,
                           const QNCorrectionDecisionStage&) = default;
};

struct QNCorrectionDecision {
    // The values the full initializer takes, in field order (the six derived fields are
    // computed, not given). Designated initializers name what a caller sets.
    struct Init;

    std::string id;
    std::optional<std::string> parentID;
    std::optional<std::string> sessionID;
    QNCorrectionDecisionTrigger trigger = QNCorrectionDecisionTrigger::direct;
    QNCorrectionDecisionScope scope = QNCorrectionDecisionScope::model;
    QNCorrectionDecisionSource source;
    std::optional<ConfidenceTier> tier;
    std::u16string input;
    std::u16string output;
    std::optional<std::u16string> contextBefore;
    std::optional<QNModelCorrectionProviderDiagnostics> provider;
    QNCorrectionDecisionStatus status;
    std::optional<QNModelCorrectionOutcome> outcome;
    std::vector<QNCorrectionNote> structuredNotes;
    std::vector<QNCorrectionDecisionStage> stages;
    std::optional<QNModelCorrectionUsage> usage;  // absent unless at least one count is present
    std::optional<double> latencyMilliseconds;
    // Derived from input, output and contextBefore by the initializer, refreshTraceFields() and
    // finish(): fingerprints of the UTF-8 bytes, lengths in characters.
    std::uint64_t inputHash = 0;
    std::uint64_t outputHash = 0;
    std::int64_t inputLength = 0;
    std::int64_t outputLength = 0;
    std::optional<std::uint64_t> contextHash;
    std::int64_t contextLength = 0;
    std::optional<std::string> policyVersion;
    std::optional<Uuid> chunkID;
    bool cacheHit = false;
    std::vector<Uuid> appliedEventIDs;
    std::vector<Uuid> supersededEventIDs;
    std::vector<Uuid> supersededByEventIDs;
    std::vector<QNCorrectionDecision> children;
    Instant startedAt{};
    std::optional<Instant> finishedAt;

    // A decision with a fresh identifier that started now on the system clock, pending, with
    // empty texts.
    QNCorrectionDecision();
    explicit QNCorrectionDecision(Init init);

    // "decision-" followed by a new random UUID in lower case (45 characters).
    [[nodiscard]] static std::string makeID();
    // The fingerprint of a text: 64-bit FNV-1a over its UTF-8 bytes.
    [[nodiscard]] static std::uint64_t stableHash(std::u16string_view text);

    // Recomputes the six derived fields from input, output and contextBefore.
    void refreshTraceFields();
    // Appends one stage built from the arguments; nothing else changes.
    void appendStage(QNCorrectionStageID stageID, QNCorrectionDecisionStatus status,
                     std::optional<QNModelCorrectionProviderDiagnostics> provider,
                     std::vector<QNCorrectionNote> notes, Instant startedAt,
                     std::optional<Instant> finishedAt = std::nullopt);
    // Closes the attempt: sets output, outcome, status, notes (replacing the previous ones),
    // latency, usage and finish instant, then refreshes the derived fields.
    void finish(std::u16string output, QNModelCorrectionOutcome outcome,
                QNCorrectionDecisionStatus status, std::vector<QNCorrectionNote> structuredNotes,
                std::optional<double> latencyMilliseconds,
                std::optional<QNModelCorrectionUsage> usage, Instant finishedAt);

    // The lines of this decision's own structured notes (not those of stages or children).
    [[nodiscard]] std::vector<std::string> notes() const;
    // The first accepted decision in depth-first pre-order: this one if accepted, else the
    // first a child's subtree yields.
    [[nodiscard]] std::optional<QNCorrectionDecision> acceptedDecision() const;
    // This decision followed by each child's flattened list, in order (depth-first pre-order).
    [[nodiscard]] std::vector<QNCorrectionDecision> flattened() const;

    // All 32 fields: texts by canonical equivalence, the latency numerically, children
    // recursively.
    friend bool operator==(const QNCorrectionDecision& a, const QNCorrectionDecision& b);
};

struct QNCorrectionDecision::Init {
    std::string id = QNCorrectionDecision::makeID();
    std::optional<std::string> parentID;
    std::optional<std::string> sessionID;
    QNCorrectionDecisionTrigger trigger = QNCorrectionDecisionTrigger::direct;
    QNCorrectionDecisionScope scope = QNCorrectionDecisionScope::model;
    QNCorrectionDecisionSource source;
    std::optional<ConfidenceTier> tier;
    std::u16string input;
    std::optional<std::u16string> output;  // absent: a copy of input
    std::optional<std::u16string> contextBefore;
    std::optional<QNModelCorrectionProviderDiagnostics> provider;
    QNCorrectionDecisionStatus status;
    std::optional<QNModelCorrectionOutcome> outcome;
    std::vector<QNCorrectionNote> structuredNotes;
    std::vector<QNCorrectionDecisionStage> stages;
    std::optional<QNModelCorrectionUsage> usage;
    std::optional<double> latencyMilliseconds;
    std::optional<std::string> policyVersion;
    std::optional<Uuid> chunkID;
    bool cacheHit = false;
    std::vector<Uuid> appliedEventIDs;
    std::vector<Uuid> supersededEventIDs;
    std::vector<Uuid> supersededByEventIDs;
    std::vector<QNCorrectionDecision> children;
    Instant startedAt = Clock::system()->now();
    std::optional<Instant> finishedAt;
};

}  // namespace ravlin
