#include "core/engine/provider_attempt.h"

#include <algorithm>

#include "core/services/correction_bounds.h"
#include "core/services/model_chatter.h"
#include "core/services/misbehavior_rules.h"
#include "core/services/output_sanitizer.h"
#include "core/services/text_operations.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::string_view kEchoedContextReason = "echoed context";
// An answer that cleans down to nothing would delete the user's text: it is refused.
constexpr std::string_view kEmptyAnswerReason = "empty answer";

// The answer without the sentences of the model's own after the person's, cleaned again (a
// final mark the person did not type goes with them); notes the strip.
std::u16string withoutAddedSentences(std::u16string text, std::u16string_view input,
                                     engine::QNAnswerExtent extent,
                                     std::vector<QNCorrectionNote>* notes = nullptr) {
    const std::size_t keepTo = engine::findAddedSentences(text, input, extent);
    if (keepTo >= text.size()) {
        return text;
    }
    const std::u16string_view kept = std::u16string_view(text).substr(0, keepTo);
    QNModelSanitizeResult again = extent == engine::QNAnswerExtent::whole
                                      ? sanitizeModelOutput(kept, input)
                                      : sanitizeModelPartial(kept, input);
    if (notes != nullptr) {
        notes->push_back(QNCorrectionNote::plain("stripped added sentence",
                                                 QNCorrectionStageID::sanitize,
                                                 "sanitize.added-sentence-strip"));
    }
    return std::move(again.cleaned);
}

bool wouldEraseText(std::u16string_view answer, std::u16string_view input) {
    return text::isBlank(answer) && !text::isBlank(input);
}

// Whether `now` is `before` with only its last word lengthened: nothing but that word's end is
// new, and every verdict on the rest stands. A long word streamed a few characters at a time (a
// link) would otherwise have the whole answer judged again for each of them.
bool onlyLengthensTheLastWord(std::u16string_view before, std::u16string_view now) {
    if (before.empty() || now.size() <= before.size() || !now.starts_with(before) ||
        text::isWhitespaceOrNewline(before.back())) {
        return false;
    }
    return std::ranges::none_of(now.substr(before.size()), [](char16_t unit) {
        return text::isWhitespaceOrNewline(unit);
    });
}

}  // namespace

QNEngineCorrection::AttemptResult QNEngineCorrection::consumeProviderStream(
    const AttemptInput& in) const {
    QNCorrectionDecision decision = in.decision;
    const QNModelCorrectionProviderDiagnostics diagnostics = in.provider->diagnostics();
    decision.provider = diagnostics;
    decision.refreshTraceFields();

    const std::optional<std::u16string> requestContext =
        in.contextBefore && !text::isBlank(*in.contextBefore) ? in.contextBefore : std::nullopt;
    const QNModelCorrectionRequest request(in.input, in.budget.maximumResponseTokens, std::nullopt,
                                           requestContext);
    const QNModelMisbehaviorRegistry& registry = QNModelMisbehaviorRegistry::defaultRegistry();

    std::optional<QNModelCorrectionProviderResult> remembered;
    std::optional<std::u16string> lastForwarded;
    std::u16string lastJudged;  // the raw text of the last partial judged
    const Instant start = clock_->now();

    in.provider->streamCorrection(request, in.stop, [&](const QNModelCorrectionStreamEvent& event) {
        const std::u16string* raw = event.partialText();
        if (raw == nullptr) {
            remembered = event.terminalResult();  // the last terminal event wins
            return;
        }
        if (in.stop.stop_requested()) {
            return;  // stopped: the answer is no longer wanted, nor cleaned
        }
        // A word still growing shows once the answer goes past it.
        if (onlyLengthensTheLastWord(lastJudged, *raw)) {
            return;
        }
        lastJudged = *raw;
        const QNModelSanitizeResult sanitized = sanitizeModelPartial(*raw, in.input);
        const auto stripped =
            engine::removeEchoedContext(sanitized.cleaned, in.contextBefore, in.input, true);
        if (!stripped) {
            return;
        }
        const auto extent = !raw->empty() && text::isWhitespaceOrNewline(raw->back())
                                ? engine::QNAnswerExtent::partial
                                : engine::QNAnswerExtent::partialInsideWord;
        std::u16string clean = engine::preservingTrailingWhitespace(
            withoutAddedSentences(
                engine::keepingCaseAfterSoftBoundary(stripped->text, in.contextBefore, in.input),
                in.input, extent),
            *raw, in.input);
        if (wouldEraseText(clean, in.input) || registry.detect(clean, in.input) ||
            notACorrectionSoFar(clean, in.input)) {
            return;
        }
        if (lastForwarded && text::canonicallyEqual(*lastForwarded, clean)) {
            return;
        }
        if (in.onPartial) {
            in.onPartial(clean);
        }
        lastForwarded = std::move(clean);
    });

    const double elapsed = millisecondsBetween(start, clock_->now());
    const std::string providerID = in.provider->providerID();

    // Every end appends one model-call stage carrying the decision's notes, then closes the
    // decision. `fallbackMessage` set: hand over to the fallback provider.
    auto end = [&](QNCorrectionDecisionStatus status, QNModelCorrectionOutcome outcome,
                   std::u16string output, std::vector<QNCorrectionNote> notes,
                   std::optional<double> latency, std::optional<QNModelCorrectionUsage> usage,
                   std::optional<std::string> fallbackMessage = std::nullopt) {
        const Instant now = clock_->now();
        decision.appendStage(QNCorrectionStageID::modelCall, status, diagnostics, notes, now, now);
        decision.finish(output, outcome, status, notes, latency, normalizedUsage(usage),
                        clock_->now());
        AttemptResult attempt{std::nullopt, std::nullopt, decision, elapsed};
        if (fallbackMessage) {
            attempt.fallbackReason =
                FallbackReason{diagnostics, *fallbackMessage, elapsed, std::move(notes)};
        } else {
            attempt.result = QNModelCorrectionResult(in.sourceText, std::move(output),
                                                     std::move(outcome), std::move(notes), latency,
                                                     normalizedUsage(usage), decision);
        }
        return attempt;
    };

    auto providerFailure = [&](bool unavailable, const std::string& message) {
        const std::string reason =
            providerID + (unavailable ? " unavailable: " : " failed: ") + message;
        auto outcome = unavailable ? QNModelCorrectionOutcome::unavailable(message)
                                   : QNModelCorrectionOutcome::failed(message);
        if (in.canFallBack) {
            return end(QNCorrectionDecisionStatus::fallback(reason), outcome, in.sourceText,
                       in.notes, elapsed, std::nullopt, reason);
        }
        auto status = unavailable ? QNCorrectionDecisionStatus::unavailable(message)
                                  : QNCorrectionDecisionStatus::failed(message);
        return end(status, outcome, in.sourceText, in.notes, elapsed, std::nullopt);
    };

    // A stop request beats whatever the stream said, and is asked again once the answer is clean.
    auto cancelled = [&] {
        const std::string reason(kCancelledReason);
        return end(QNCorrectionDecisionStatus::skipped(reason),
                   QNModelCorrectionOutcome::skipped(reason), in.sourceText, {}, std::nullopt,
                   std::nullopt);
    };
    if (in.stop.stop_requested() ||
        (remembered && remembered->kind() == QNModelCorrectionProviderResult::Kind::cancelled)) {
        return cancelled();
    }
    if (!remembered) {
        return providerFailure(false, providerID + " produced no events");
    }
    if (remembered->kind() != QNModelCorrectionProviderResult::Kind::success) {
        return providerFailure(
            remembered->kind() == QNModelCorrectionProviderResult::Kind::unavailable,
            *remembered->message());
    }

    // The completed answer: clean, strip echoed context, screen.
    const QNModelCorrectionResponse& response = *remembered->response();
    const double latency = response.latencyMilliseconds.value_or(elapsed);
    std::vector<QNCorrectionNote> notes = in.notes;
    QNModelSanitizeResult sanitized = sanitizeModelOutput(response.output, in.input);
    if (in.stop.stop_requested()) {
        return cancelled();
    }
    notes.insert(notes.end(), sanitized.structuredNotes.begin(), sanitized.structuredNotes.end());

    // A refused answer: rejected, or handed over when the caller has a fallback.
    auto rejection = [&](std::string reason, std::u16string output, bool leadsToFallback) {
        const std::string message = providerID + " rejected: " + reason;
        if (leadsToFallback) {
            return end(QNCorrectionDecisionStatus::fallback(message),
                       QNModelCorrectionOutcome::rejected(reason), std::move(output), notes,
                       latency, response.usage, message);
        }
        return end(QNCorrectionDecisionStatus::rejected(reason),
                   QNModelCorrectionOutcome::rejected(reason), std::move(output), notes, latency,
                   response.usage);
    };

    // A model that echoes the context answered, and would answer so again: no fallback, and no
    // failure of the route.
    const auto stripped =
        engine::removeEchoedContext(sanitized.cleaned, in.contextBefore, in.input);
    if (!stripped) {
        notes.push_back(
            QNCorrectionNote::plain(engine::rejectedOutputNote(sanitized.cleaned, in.input),
                                    QNCorrectionStageID::echoStrip, "echo-strip.context-reject"));
        return rejection(std::string(kEchoedContextReason), sanitized.cleaned, false);
    }
    notes.insert(notes.end(), stripped->notes.begin(), stripped->notes.end());
    const std::u16string clean = withoutAddedSentences(
        engine::keepingCaseAfterSoftBoundary(stripped->text, in.contextBefore, in.input), in.input,
        engine::QNAnswerExtent::whole, &notes);

    if (wouldEraseText(clean, in.input)) {
        notes.push_back(QNCorrectionNote::plain(engine::rejectedOutputNote(clean, in.input)));
        return rejection(std::string(kEmptyAnswerReason), clean, in.canFallBack);
    }

    if (auto misbehavior = registry.detect(clean, in.input)) {
        notes.push_back(misbehavior->note);
        notes.push_back(QNCorrectionNote::plain(engine::rejectedOutputNote(clean, in.input)));
        const bool namedByCaller =
            in.additionalFallbackMisbehaviorRuleIDs.contains(misbehavior->note.ruleID.value_or(""));
        return rejection(misbehavior->reason, clean,
                         in.canFallBack && (misbehavior->triggersFallback || namedByCaller));
    }

    // Something in place of the text (a reply, a summary, a translation, the text cut short or
    // said again) is no correction of it: refused like an echo.
    if (auto reason = notACorrection(clean, in.input)) {
        notes.push_back(QNCorrectionNote::plain(*reason, QNCorrectionStageID::misbehaviorDetect,
                                                "misbehavior.not-a-correction"));
        notes.push_back(QNCorrectionNote::plain(engine::rejectedOutputNote(clean, in.input)));
        return rejection(*reason, clean, false);
    }

    if (text::canonicallyEqual(clean, in.sourceText)) {
        return end(QNCorrectionDecisionStatus::noChange(), QNModelCorrectionOutcome::unchanged(),
                   in.sourceText, notes, latency, response.usage);
    }
    return end(QNCorrectionDecisionStatus::accepted(), QNModelCorrectionOutcome::corrected(), clean,
               notes, latency, response.usage);
}

}  // namespace ravlin
