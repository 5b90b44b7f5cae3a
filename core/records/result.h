#pragma once

// What the correction engine hands back: the result of a correction and the availability
// summary of an engine or a provider, plus the check whether a result may still be applied.

#include <optional>
#include <string>
#include <vector>

#include "core/records/decision.h"
#include "core/records/note.h"
#include "core/records/provider_records.h"

namespace ravlin {

struct QNModelCorrectionResult {
    std::u16string input;
    std::u16string output;
    QNModelCorrectionOutcome outcome;
    std::vector<QNCorrectionNote> structuredNotes;
    std::optional<double> latencyMilliseconds;
    std::optional<QNModelCorrectionUsage> usage;  // absent unless at least one count is present
    std::optional<QNCorrectionDecision> decision;

    QNModelCorrectionResult(std::u16string input, std::u16string output,
                            QNModelCorrectionOutcome outcome,
                            std::vector<QNCorrectionNote> structuredNotes = {},
                            std::optional<double> latencyMilliseconds = std::nullopt,
                            std::optional<QNModelCorrectionUsage> usage = std::nullopt,
                            std::optional<QNCorrectionDecision> decision = std::nullopt);

    // The same from plain texts, each carried as a plain-text note (stage unknown, no rule).
    [[nodiscard]] static QNModelCorrectionResult withPlainNotes(
        std::u16string input, std::u16string output, QNModelCorrectionOutcome outcome,
        const std::vector<std::string>& notes,
        std::optional<double> latencyMilliseconds = std::nullopt,
        std::optional<QNModelCorrectionUsage> usage = std::nullopt,
        std::optional<QNCorrectionDecision> decision = std::nullopt);

    // A copy of this result carrying `decision`.
    [[nodiscard]] QNModelCorrectionResult withDecision(QNCorrectionDecision decision) const;

    // The lines of the structured notes.
    [[nodiscard]] std::vector<std::string> notes() const;
    // Whether output differs from input (canonically equivalent texts do not differ).
    [[nodiscard]] bool changedText() const;

    friend bool operator==(const QNModelCorrectionResult& a, const QNModelCorrectionResult& b);
};

struct QNModelAvailabilitySummary {
    bool isAvailable = false;
    std::string title;   // a short label such as "Fallback Ready"
    std::string detail;  // the explanation

    friend bool operator==(const QNModelAvailabilitySummary& a,
                           const QNModelAvailabilitySummary& b);
};

struct QNServiceCorrectionApplication {
    QNServiceCorrectionApplication() = delete;

    // The text to apply: the result's output when the text is still the one the correction was
    // computed for and the outcome is `corrected`; otherwise absent.
    [[nodiscard]] static std::optional<std::u16string> correctedOutput(
        std::u16string_view source, std::u16string_view current,
        const QNModelCorrectionResult& result);
};

}  // namespace ravlin
