#include "core/records/decision.h"

#include <array>
#include <utility>

#include "core/records/text_equality.h"
#include "core/text/fingerprint.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using records::sameOptionalText;
using records::sameText;

constexpr std::array<std::pair<QNCorrectionDecisionTrigger, std::string_view>, 7> kTriggerNames{{
    {QNCorrectionDecisionTrigger::keystroke, "keystroke"},
    {QNCorrectionDecisionTrigger::pause, "pause"},
    {QNCorrectionDecisionTrigger::commit, "commit"},
    {QNCorrectionDecisionTrigger::idlePolish, "idlePolish"},
    {QNCorrectionDecisionTrigger::manualEdit, "manualEdit"},
    {QNCorrectionDecisionTrigger::localRule, "localRule"},
    {QNCorrectionDecisionTrigger::direct, "direct"},
}};

constexpr std::array<std::pair<QNCorrectionDecisionScope, std::string_view>, 6> kScopeNames{{
    {QNCorrectionDecisionScope::local, "local"},
    {QNCorrectionDecisionScope::suffix, "suffix"},
    {QNCorrectionDecisionScope::wholePrefix, "wholePrefix"},
    {QNCorrectionDecisionScope::sentencePolish, "sentencePolish"},
    {QNCorrectionDecisionScope::tentativeWord, "tentativeWord"},
    {QNCorrectionDecisionScope::model, "model"},
}};

template <class E, std::size_t N>
std::string_view nameOf(const std::array<std::pair<E, std::string_view>, N>& names, E value) {
    for (const auto& [candidate, name] : names) {
        if (candidate == value) {
            return name;
        }
    }
    return names.front().second;
}

template <class E, std::size_t N>
std::optional<E> valueNamed(const std::array<std::pair<E, std::string_view>, N>& names,
                            std::string_view raw) {
    for (const auto& [value, name] : names) {
        if (name == raw) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace

// --- Status, outcome, source -------------------------------------------------------------------

QNCorrectionDecisionStatus QNCorrectionDecisionStatus::rejected(std::string reason) {
    return {Kind::rejected, std::move(reason)};
}
QNCorrectionDecisionStatus QNCorrectionDecisionStatus::fallback(std::string reason) {
    return {Kind::fallback, std::move(reason)};
}
QNCorrectionDecisionStatus QNCorrectionDecisionStatus::skipped(std::string reason) {
    return {Kind::skipped, std::move(reason)};
}
QNCorrectionDecisionStatus QNCorrectionDecisionStatus::unavailable(std::string reason) {
    return {Kind::unavailable, std::move(reason)};
}
QNCorrectionDecisionStatus QNCorrectionDecisionStatus::failed(std::string reason) {
    return {Kind::failed, std::move(reason)};
}

bool operator==(const QNCorrectionDecisionStatus& a, const QNCorrectionDecisionStatus& b) {
    return a.kind == b.kind && (!a.hasReason() || sameText(a.reason, b.reason));
}

QNModelCorrectionOutcome QNModelCorrectionOutcome::skipped(std::string reason) {
    return {Kind::skipped, std::move(reason)};
}
QNModelCorrectionOutcome QNModelCorrectionOutcome::unavailable(std::string reason) {
    return {Kind::unavailable, std::move(reason)};
}
QNModelCorrectionOutcome QNModelCorrectionOutcome::rejected(std::string reason) {
    return {Kind::rejected, std::move(reason)};
}
QNModelCorrectionOutcome QNModelCorrectionOutcome::failed(std::string reason) {
    return {Kind::failed, std::move(reason)};
}

bool operator==(const QNModelCorrectionOutcome& a, const QNModelCorrectionOutcome& b) {
    return a.kind == b.kind && (!a.hasReason() || sameText(a.reason, b.reason));
}

QNCorrectionDecisionSource QNCorrectionDecisionSource::localRule(std::string id) {
    return {Kind::localRule, std::move(id)};
}

bool operator==(const QNCorrectionDecisionSource& a, const QNCorrectionDecisionSource& b) {
    return a.kind == b.kind &&
           (a.kind != QNCorrectionDecisionSource::Kind::localRule || sameText(a.id, b.id));
}

std::string_view toString(QNCorrectionDecisionTrigger trigger) {
    return nameOf(kTriggerNames, trigger);
}

template <>
std::optional<QNCorrectionDecisionTrigger> fromString<QNCorrectionDecisionTrigger>(
    std::string_view raw) {
    return valueNamed(kTriggerNames, raw);
}

std::string_view toString(QNCorrectionDecisionScope scope) {
    return nameOf(kScopeNames, scope);
}

template <>
std::optional<QNCorrectionDecisionScope> fromString<QNCorrectionDecisionScope>(
    std::string_view raw) {
    return valueNamed(kScopeNames, raw);
}

// --- Decision ----------------------------------------------------------------------------------

QNCorrectionDecision::QNCorrectionDecision() : QNCorrectionDecision(Init{}) {}

QNCorrectionDecision::QNCorrectionDecision(Init init)
    : id(std::move(init.id)),
      parentID(std::move(init.parentID)),
      sessionID(std::move(init.sessionID)),
      trigger(init.trigger),
      scope(init.scope),
      source(std::move(init.source)),
      tier(init.tier),
      input(std::move(init.input)),
      output(init.output ? std::move(*init.output) : input),
      contextBefore(std::move(init.contextBefore)),
      provider(std::move(init.provider)),
      status(std::move(init.status)),
      outcome(std::move(init.outcome)),
      structuredNotes(std::move(init.structuredNotes)),
      stages(std::move(init.stages)),
      usage(normalizedUsage(std::move(init.usage))),
      latencyMilliseconds(init.latencyMilliseconds),
      policyVersion(std::move(init.policyVersion)),
      chunkID(init.chunkID),
      cacheHit(init.cacheHit),
      appliedEventIDs(std::move(init.appliedEventIDs)),
      supersededEventIDs(std::move(init.supersededEventIDs)),
      supersededByEventIDs(std::move(init.supersededByEventIDs)),
      children(std::move(init.children)),
      startedAt(init.startedAt),
      finishedAt(init.finishedAt) {
    refreshTraceFields();
}

std::string QNCorrectionDecision::makeID() {
    return "decision-" + Uuid::random().lowercaseString();
}

std::uint64_t QNCorrectionDecision::stableHash(std::u16string_view text) {
    return text::fnv1a64(text);
}

void QNCorrectionDecision::refreshTraceFields() {
    inputHash = stableHash(input);
    outputHash = stableHash(output);
    inputLength = text::characterCount(std::u16string_view(input));
    outputLength = text::characterCount(std::u16string_view(output));
    if (contextBefore) {
        contextHash = stableHash(*contextBefore);
        contextLength = text::characterCount(std::u16string_view(*contextBefore));
    } else {
        contextHash.reset();
        contextLength = 0;
    }
}

void QNCorrectionDecision::appendStage(QNCorrectionStageID stageID,
                                       QNCorrectionDecisionStatus status,
                                       std::optional<QNModelCorrectionProviderDiagnostics> provider,
                                       std::vector<QNCorrectionNote> notes, Instant startedAt,
                                       std::optional<Instant> finishedAt) {
    stages.push_back(QNCorrectionDecisionStage{stageID, std::move(status), std::move(provider),
                                               std::move(notes), startedAt, finishedAt});
}

void QNCorrectionDecision::finish(std::u16string output, QNModelCorrectionOutcome outcome,
                                  QNCorrectionDecisionStatus status,
                                  std::vector<QNCorrectionNote> structuredNotes,
                                  std::optional<double> latencyMilliseconds,
                                  std::optional<QNModelCorrectionUsage> usage, Instant finishedAt) {
    this->output = std::move(output);
    this->outcome = std::move(outcome);
    this->status = std::move(status);
    this->structuredNotes = std::move(structuredNotes);
    this->latencyMilliseconds = latencyMilliseconds;
    this->usage = normalizedUsage(std::move(usage));
    this->finishedAt = finishedAt;
    refreshTraceFields();
}

std::vector<std::string> QNCorrectionDecision::notes() const {
    return noteTexts(structuredNotes);
}

std::optional<QNCorrectionDecision> QNCorrectionDecision::acceptedDecision() const {
    if (status.kind == QNCorrectionDecisionStatus::Kind::accepted) {
        return *this;
    }
    for (const auto& child : children) {
        if (auto accepted = child.acceptedDecision()) {
            return accepted;
        }
    }
    return std::nullopt;
}

namespace {

void appendFlattened(const QNCorrectionDecision& decision,
                     std::vector<QNCorrectionDecision>& into) {
    into.push_back(decision);
    for (const auto& child : decision.children) {
        appendFlattened(child, into);
    }
}

}  // namespace

std::vector<QNCorrectionDecision> QNCorrectionDecision::flattened() const {
    std::vector<QNCorrectionDecision> list;
    appendFlattened(*this, list);
    return list;
}

bool operator==(const QNCorrectionDecision& a, const QNCorrectionDecision& b) {
    // Cheap fields first; the derived fields are compared too, as stored.
    return a.trigger == b.trigger && a.scope == b.scope && a.tier == b.tier &&
           a.cacheHit == b.cacheHit && a.inputHash == b.inputHash && a.outputHash == b.outputHash &&
           a.inputLength == b.inputLength && a.outputLength == b.outputLength &&
           a.contextHash == b.contextHash && a.contextLength == b.contextLength &&
           a.startedAt == b.startedAt && a.finishedAt == b.finishedAt &&
           a.latencyMilliseconds == b.latencyMilliseconds && a.chunkID == b.chunkID &&
           a.usage == b.usage && sameText(a.id, b.id) && sameOptionalText(a.parentID, b.parentID) &&
           sameOptionalText(a.sessionID, b.sessionID) && a.source == b.source &&
           sameText(a.input, b.input) && sameText(a.output, b.output) &&
           sameOptionalText(a.contextBefore, b.contextBefore) && a.provider == b.provider &&
           a.status == b.status && a.outcome == b.outcome &&
           a.structuredNotes == b.structuredNotes && a.stages == b.stages &&
           sameOptionalText(a.policyVersion, b.policyVersion) &&
           a.appliedEventIDs == b.appliedEventIDs && a.supersededEventIDs == b.supersededEventIDs &&
           a.supersededByEventIDs == b.supersededByEventIDs && a.children == b.children;
}

}  // namespace ravlin
