#include "core/engine/correction_engine.h"

#include <cmath>

#include "core/engine/provider_attempt.h"
#include "core/services/text_operations.h"
#include "core/providers/foundation-models/foundation_models_provider.h"
#include "core/text/unicode.h"

namespace ravlin {

// ---- Defaults of the interface ----------------------------------------------------------------

QNModelCorrectionEngineDiagnostics QNServiceCorrectionGenerating::diagnosticsSummary() {
    QNModelCorrectionProviderDiagnostics unknown;
    unknown.providerID = "unknown";
    unknown.route = QNModelCorrectionRoute::unknown;
    return {unknown, std::nullopt};
}

QNModelCorrectionResult QNServiceCorrectionGenerating::correct(const std::u16string& text,
                                                               const std::optional<std::u16string>&,
                                                               std::stop_token stop) {
    return correct(text, stop);
}

QNModelCorrectionResult QNServiceCorrectionGenerating::correct(const std::u16string& text,
                                                               const QNPartialTextHandler&,
                                                               std::stop_token stop) {
    return correct(text, stop);
}

QNModelCorrectionResult QNServiceCorrectionGenerating::correct(
    const std::u16string& text, const std::optional<std::u16string>&,
    const QNPartialTextHandler& onPartial, std::stop_token stop) {
    return correct(text, onPartial, stop);
}

QNModelCorrectionResult QNServiceCorrectionGenerating::correct(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore,
    QNCorrectionDecision& decision, const QNPartialTextHandler& onPartial, std::stop_token stop) {
    decision.input = text;
    decision.output = text;
    decision.contextBefore =
        engine::boundedContextBefore(contextBefore, QNEngineCorrection::kContextLimit);
    decision.refreshTraceFields();
    QNModelCorrectionResult result = correct(text, contextBefore, onPartial, stop);
    decision.finish(result.output, result.outcome, decisionStatus(result.outcome),
                    result.structuredNotes, result.latencyMilliseconds, result.usage,
                    Clock::system()->now());
    return result.withDecision(decision);
}

QNModelCorrectionResult QNServiceCorrectionGenerating::correct(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore,
    QNCorrectionDecision& decision, const QNMisbehaviorRuleIDSet&,
    const QNPartialTextHandler& onPartial, std::stop_token stop) {
    return correct(text, contextBefore, decision, onPartial, stop);
}

QNCorrectionDecisionStatus decisionStatus(const QNModelCorrectionOutcome& outcome) {
    using Kind = QNModelCorrectionOutcome::Kind;
    switch (outcome.kind) {
        case Kind::skipped:
            return QNCorrectionDecisionStatus::skipped(outcome.reason);
        case Kind::unavailable:
            return QNCorrectionDecisionStatus::unavailable(outcome.reason);
        case Kind::rejected:
            return QNCorrectionDecisionStatus::rejected(outcome.reason);
        case Kind::failed:
            return QNCorrectionDecisionStatus::failed(outcome.reason);
        case Kind::corrected:
            return QNCorrectionDecisionStatus::accepted();
        case Kind::unchanged:
            break;
    }
    return QNCorrectionDecisionStatus::noChange();
}

// ---- The engine ---------------------------------------------------------------------------------

QNEngineCorrection::QNEngineCorrection(
    std::string prompt, std::shared_ptr<QNProviderCorrectionModel> modelProvider,
    std::shared_ptr<QNProviderCorrectionModel> fallbackModelProvider,
    std::shared_ptr<QNServicePrivacyLogging> logger, std::shared_ptr<const Clock> clock)
    : modelProvider_(modelProvider ? std::move(modelProvider)
                                   : std::make_shared<QNProviderFoundationModelsCorrection>(
                                         std::move(prompt))),
      fallbackModelProvider_(std::move(fallbackModelProvider)),
      logger_(logger ? std::move(logger) : QNServicePrivacyLogger::shared()),
      clock_(clock ? std::move(clock) : Clock::system()) {}

void QNEngineCorrection::setModelProviders(std::shared_ptr<QNProviderCorrectionModel> primary,
                                           std::shared_ptr<QNProviderCorrectionModel> fallback) {
    if (!primary) {
        return;  // the engine always has a primary provider
    }
    std::lock_guard lock(mutex_);
    modelProvider_ = std::move(primary);
    fallbackModelProvider_ = std::move(fallback);
}

QNEngineCorrection::Providers QNEngineCorrection::providers() const {
    std::lock_guard lock(mutex_);
    return {modelProvider_, fallbackModelProvider_};
}

QNModelAvailabilitySummary QNEngineCorrection::availabilityOf(const Providers& providers) {
    QNModelAvailabilitySummary primary = providers.primary->availabilitySummary();
    if (primary.isAvailable || !providers.fallback) {
        return primary;
    }
    const QNModelAvailabilitySummary fallback = providers.fallback->availabilitySummary();
    if (fallback.isAvailable) {
        return {true, "Fallback Ready",
                primary.title + ". Using fallback: " + fallback.title + "."};
    }
    return {false, primary.title,
            primary.detail + " Fallback unavailable: " + fallback.title + "."};
}

QNModelAvailabilitySummary QNEngineCorrection::availabilitySummary() {
    return availabilityOf(providers());
}

QNModelCorrectionEngineDiagnostics QNEngineCorrection::diagnosticsSummary() {
    const Providers current = providers();
    return {current.primary->diagnostics(),
            current.fallback ? std::optional(current.fallback->diagnostics()) : std::nullopt};
}

void QNEngineCorrection::prewarm() {
    const Providers current = providers();
    current.primary->prewarm();
    if (current.fallback) {
        current.fallback->prewarm();
    }
}

QNCorrectionDecision QNEngineCorrection::newDecision(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore) const {
    return QNCorrectionDecision(QNCorrectionDecision::Init{
        .trigger = QNCorrectionDecisionTrigger::direct,
        .scope = QNCorrectionDecisionScope::model,
        .source = QNCorrectionDecisionSource::modelPrimary(),
        .input = text,
        .output = text,
        .contextBefore = engine::boundedContextBefore(contextBefore, kContextLimit),
        .provider = providers().primary->diagnostics(),
        .status = QNCorrectionDecisionStatus::pending(),
        .startedAt = clock_->now(),
    });
}

QNModelCorrectionResult QNEngineCorrection::correct(const std::u16string& text,
                                                    std::stop_token stop) {
    return correct(text, std::nullopt, QNPartialTextHandler{}, stop);
}

QNModelCorrectionResult QNEngineCorrection::correct(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore,
    std::stop_token stop) {
    return correct(text, contextBefore, QNPartialTextHandler{}, stop);
}

QNModelCorrectionResult QNEngineCorrection::correct(const std::u16string& text,
                                                    const QNPartialTextHandler& onPartial,
                                                    std::stop_token stop) {
    return correct(text, std::nullopt, onPartial, stop);
}

QNModelCorrectionResult QNEngineCorrection::correct(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore,
    const QNPartialTextHandler& onPartial, std::stop_token stop) {
    QNCorrectionDecision decision = newDecision(text, contextBefore);
    return correct(text, contextBefore, decision, QNMisbehaviorRuleIDSet{}, onPartial, stop);
}

QNModelCorrectionResult QNEngineCorrection::correct(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore,
    QNCorrectionDecision& decision, const QNPartialTextHandler& onPartial, std::stop_token stop) {
    return correct(text, contextBefore, decision, QNMisbehaviorRuleIDSet{}, onPartial, stop);
}

QNModelCorrectionResult QNEngineCorrection::correct(
    const std::u16string& text, const std::optional<std::u16string>& contextBefore,
    QNCorrectionDecision& decision,
    const QNMisbehaviorRuleIDSet& additionalFallbackMisbehaviorRuleIDs,
    const QNPartialTextHandler& onPartial, std::stop_token stop) {
    // 1-2. Bound the context and fill the caller's decision.
    const std::optional<std::u16string> context =
        engine::boundedContextBefore(contextBefore, kContextLimit);
    decision.input = text;
    decision.output = text;
    decision.contextBefore = context;
    decision.provider = providers().primary->diagnostics();
    decision.refreshTraceFields();

    auto skipped = [&](std::string_view reason) {
        const auto outcome = QNModelCorrectionOutcome::skipped(std::string(reason));
        decision.finish(text, outcome, decisionStatus(outcome), {}, std::nullopt, std::nullopt,
                        clock_->now());
        return QNModelCorrectionResult(text, text, outcome).withDecision(decision);
    };

    // 3. Too short: fewer than two characters once trimmed.
    if (text::characterCount(text::trimmed(text)) < kMinimumCharacters) {
        return skipped(kTooShortReason);
    }

    // 4. Neither provider can answer.
    const QNModelAvailabilitySummary summary = availabilitySummary();
    if (!summary.isAvailable) {
        logger_->log(
            {QNModelPrivacyLogCategory::availability, summary.title, text::characterCount(text)});
        const Instant started = clock_->now();
        decision.appendStage(QNCorrectionStageID::availability,
                             QNCorrectionDecisionStatus::unavailable(summary.title),
                             providers().primary->diagnostics(), {}, started, clock_->now());
        const auto outcome = QNModelCorrectionOutcome::unavailable(summary.title);
        decision.finish(text, outcome, decisionStatus(outcome), {}, std::nullopt, std::nullopt,
                        clock_->now());
        return QNModelCorrectionResult(text, text, outcome).withDecision(decision);
    }

    // 5. The providers this call uses, whatever replaces them meanwhile.
    const Providers chosen = providers();

    // 6. The on-device token budget, from the model input with the bounded context; a text or
    // context past the fixed UTF-16 length is too long whatever its characters.
    const auto exceedsLength = [](std::u16string_view part) {
        return static_cast<std::int64_t>(part.size()) > kMaximumUtf16Length;
    };
    std::optional<QNModelGenerationBudget> budget;
    if (!exceedsLength(text) && !(context && exceedsLength(*context))) {
        const QNModelCorrectionRequest budgetRequest(text, 0, std::nullopt, context);
        budget = QNModelTokenBudget::budget(budgetRequest.modelInputText());
    }
    if (!budget) {
        logger_->log({QNModelPrivacyLogCategory::correction, std::string(kTooLongReason),
                      text::characterCount(text)});
        return skipped(kTooLongReason);
    }

    // 7-8. The primary attempt.
    const Instant start = clock_->now();
    AttemptResult primary = consumeProviderStream(AttemptInput{
        .provider = chosen.primary,
        .sourceText = text,
        .input = text,
        .budget = *budget,
        .contextBefore = context,
        .notes = {},
        .canFallBack = chosen.fallback != nullptr,
        .additionalFallbackMisbehaviorRuleIDs = additionalFallbackMisbehaviorRuleIDs,
        .decision = decision,
        .onPartial = onPartial,
        .stop = stop,
    });
    if (!primary.fallbackReason || !chosen.fallback) {
        decision = std::move(primary.decision);
        return std::move(*primary.result).withDecision(decision);
    }

    // 9. Fallback, traced as a child of the primary decision.
    const FallbackReason& reason = *primary.fallbackReason;
    QNCorrectionDecision parent = std::move(primary.decision);
    const QNModelCorrectionProviderDiagnostics fallbackDiagnostics = chosen.fallback->diagnostics();

    std::vector<QNCorrectionNote> handedOn{
        QNCorrectionNote::plain("fallback: " + reason.message),
        QNCorrectionNote::plain("fallback route: " + reason.provider.readableLogDescription() +
                                " -> " + fallbackDiagnostics.readableLogDescription()),
    };
    handedOn.insert(handedOn.end(), reason.structuredNotes.begin(), reason.structuredNotes.end());

    QNCorrectionDecision child(QNCorrectionDecision::Init{
        .parentID = parent.id,
        .sessionID = parent.sessionID,
        .trigger = parent.trigger,
        .scope = parent.scope,
        .source = QNCorrectionDecisionSource::modelFallback(),
        .tier = parent.tier,
        .input = text,
        .output = text,
        .contextBefore = context,
        .provider = fallbackDiagnostics,
        .status = QNCorrectionDecisionStatus::pending(),
        .policyVersion = parent.policyVersion,
        .startedAt = clock_->now(),
    });

    AttemptResult fallback = consumeProviderStream(AttemptInput{
        .provider = chosen.fallback,
        .sourceText = text,
        .input = text,
        .budget = *budget,
        .contextBefore = context,
        .notes = std::move(handedOn),
        .canFallBack = false,
        .additionalFallbackMisbehaviorRuleIDs = {},
        .decision = child,
        .onPartial = QNPartialTextHandler{},
        .stop = stop,
    });
    // An attempt that may not fall back always ends with a result.
    QNModelCorrectionResult second = std::move(*fallback.result);
    child = std::move(fallback.decision);

    const double total = millisecondsBetween(start, clock_->now());
    std::vector<QNCorrectionNote> merged = second.structuredNotes;
    merged.push_back(
        QNCorrectionNote::plain("timing: primary(" + reason.provider.providerID +
                                ")=" + std::to_string(std::llround(reason.elapsedMilliseconds)) +
                                " ms, fallback(" + chosen.fallback->providerID() +
                                ")=" + std::to_string(std::llround(fallback.elapsedMilliseconds)) +
                                " ms, total=" + std::to_string(std::llround(total)) + " ms"));

    child.finish(second.output, second.outcome, decisionStatus(second.outcome), merged, total,
                 second.usage, clock_->now());
    parent.children.push_back(std::move(child));
    parent.finishedAt = clock_->now();
    decision = std::move(parent);
    return QNModelCorrectionResult(second.input, second.output, second.outcome, std::move(merged),
                                   total, second.usage, decision);
}

}  // namespace ravlin
