#pragma once

// The engine's handling of one provider's streamed answer (internal to the engine).

#include "core/engine/correction_engine.h"

namespace ravlin {

// Why the attempt hands over to the fallback provider.
struct QNEngineCorrection::FallbackReason {
    QNModelCorrectionProviderDiagnostics provider;  // the provider that was tried
    std::string message;  // "<providerID> failed: ...", " unavailable: ..." or " rejected: ..."
    double elapsedMilliseconds = 0;
    std::vector<QNCorrectionNote> structuredNotes;  // handed on to the fallback attempt
};

// Either the correction ends here (`result` present) or the fallback should be tried
// (`fallbackReason` present). `decision` is the attempt's copy of the caller's decision.
struct QNEngineCorrection::AttemptResult {
    std::optional<QNModelCorrectionResult> result;
    std::optional<FallbackReason> fallbackReason;
    QNCorrectionDecision decision;
    double elapsedMilliseconds = 0;
};

struct QNEngineCorrection::AttemptInput {
    std::shared_ptr<QNProviderCorrectionModel> provider;
    const std::u16string&
        sourceText;               // the caller's text: the output of every end that applies nothing
    const std::u16string& input;  // what the provider corrects and answers are measured against
    QNModelGenerationBudget budget;
    std::optional<std::u16string> contextBefore;  // already bounded
    std::vector<QNCorrectionNote> notes;          // notes so far
    bool canFallBack = false;
    const QNMisbehaviorRuleIDSet& additionalFallbackMisbehaviorRuleIDs;
    const QNCorrectionDecision& decision;
    const QNPartialTextHandler& onPartial;
    std::stop_token stop;
};

}  // namespace ravlin
