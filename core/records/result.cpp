#include "core/records/result.h"

#include <utility>

#include "core/records/text_equality.h"

namespace ravlin {

using records::sameText;

QNModelCorrectionResult::QNModelCorrectionResult(std::u16string input, std::u16string output,
                                                 QNModelCorrectionOutcome outcome,
                                                 std::vector<QNCorrectionNote> structuredNotes,
                                                 std::optional<double> latencyMilliseconds,
                                                 std::optional<QNModelCorrectionUsage> usage,
                                                 std::optional<QNCorrectionDecision> decision)
    : input(std::move(input)),
      output(std::move(output)),
      outcome(std::move(outcome)),
      structuredNotes(std::move(structuredNotes)),
      latencyMilliseconds(latencyMilliseconds),
      usage(normalizedUsage(std::move(usage))),
      decision(std::move(decision)) {}

QNModelCorrectionResult QNModelCorrectionResult::withPlainNotes(
    std::u16string input, std::u16string output, QNModelCorrectionOutcome outcome,
    const std::vector<std::string>& notes, std::optional<double> latencyMilliseconds,
    std::optional<QNModelCorrectionUsage> usage, std::optional<QNCorrectionDecision> decision) {
    return QNModelCorrectionResult(std::move(input), std::move(output), std::move(outcome),
                                   wrapPlainNotes(notes), latencyMilliseconds, std::move(usage),
                                   std::move(decision));
}

QNModelCorrectionResult QNModelCorrectionResult::withDecision(QNCorrectionDecision decision) const {
    QNModelCorrectionResult copy = *this;
    copy.usage = normalizedUsage(copy.usage);
    copy.decision = std::move(decision);
    return copy;
}

std::vector<std::string> QNModelCorrectionResult::notes() const {
    return noteTexts(structuredNotes);
}

bool QNModelCorrectionResult::changedText() const {
    return !sameText(input, output);
}

bool operator==(const QNModelCorrectionResult& a, const QNModelCorrectionResult& b) {
    return a.outcome == b.outcome && a.latencyMilliseconds == b.latencyMilliseconds &&
           a.usage == b.usage && sameText(a.input, b.input) && sameText(a.output, b.output) &&
           a.structuredNotes == b.structuredNotes && a.decision == b.decision;
}

bool operator==(const QNModelAvailabilitySummary& a, const QNModelAvailabilitySummary& b) {
    return a.isAvailable == b.isAvailable && sameText(a.title, b.title) &&
           sameText(a.detail, b.detail);
}

std::optional<std::u16string> QNServiceCorrectionApplication::correctedOutput(
    std::u16string_view source, std::u16string_view current,
    const QNModelCorrectionResult& result) {
    if (!sameText(current, source)) {
        return std::nullopt;
    }
    if (result.outcome.kind != QNModelCorrectionOutcome::Kind::corrected) {
        return std::nullopt;
    }
    return result.output;
}

}  // namespace ravlin
