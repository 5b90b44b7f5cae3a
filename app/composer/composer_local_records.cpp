// The Composer between one keystroke and the next dispatch: the records of instant local fixes,
// the sentence tail, the misspelled-last-word probe, and the rescheduling after each edit.

#include <unicode/uchar.h>

#include <chrono>

#include "app/composer/composer_service.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

std::int64_t utf16Length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

// Calls `each` with every scalar and the offset just past it.
template <class Each>
void forEachScalar(std::u16string_view text, Each&& each) {
    std::int64_t offset = 0;
    const auto size = utf16Length(text);
    while (offset < size) {
        const char32_t scalar = text::codePointAt(text, offset);
        offset += scalar > 0xFFFF ? 2 : 1;
        each(scalar, offset);
    }
}

bool isLetter(char32_t scalar) {
    return (U_GET_GC_MASK(static_cast<UChar32>(scalar)) & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
}

bool isSentenceMark(char32_t scalar) {
    return scalar == U'.' || scalar == U'!' || scalar == U'?';
}

}  // namespace

QNServiceComposer::QNServiceComposer(std::shared_ptr<Executor> clock)
    : clock(std::move(clock)), tierPolicy(std::shared_ptr<void>(), &TierPolicy::defaultPolicy()) {}

QNServiceComposer::~QNServiceComposer() {
    if (controller) {
        controller->setEditHandlers({}, {});
    }
    for (auto* task : {&pendingDispatchTask, &idleBackstopTask, &correctionTask}) {
        if (*task) {
            (*task)->cancel();
        }
    }
}

// --- Local fix records

void QNServiceComposer::recordLocalApplication(const LocalRuleApplication& application,
                                               ConfidenceTier tier, std::int64_t location,
                                               std::int64_t length) {
    const Instant now = clock->now();
    const bool changed = !text::canonicallyEqual(application.input, application.output);
    const QNCorrectionDecisionStatus status =
        changed ? QNCorrectionDecisionStatus::accepted() : QNCorrectionDecisionStatus::noChange();
    const QNCorrectionNote note{QNCorrectionStageID::preflightLocal, application.ruleID, "rule",
                                application.ruleID};
    QNCorrectionDecision decision(QNCorrectionDecision::Init{
        .trigger = QNCorrectionDecisionTrigger::localRule,
        .scope = QNCorrectionDecisionScope::local,
        .source = QNCorrectionDecisionSource::localRule(application.ruleID),
        .tier = tier,
        .input = application.input,
        .output = application.output,
        .status = status,
        .outcome =
            changed ? QNModelCorrectionOutcome::corrected() : QNModelCorrectionOutcome::unchanged(),
        .structuredNotes = {note},
        .policyVersion = std::string(kLocalPolicyVersion),
        .cacheHit = false,
        .startedAt = now,
    });
    decision.appendStage(QNCorrectionStageID::preflightLocal, status, std::nullopt, {note}, now,
                         now);

    QNCorrectionEvent event;
    event.canonicalRange = {location, length};
    event.authoredRange = text::Utf16Range{location, length};
    event.visibleRangeAtApply = {location, utf16Length(application.output)};
    event.original = application.input;
    event.replacement = application.output;
    event.tier = tier;
    event.source = QNCorrectionEventSource::localRule(application.ruleID);
    event.createdAt = now;
    event.decisionID = decision.id;
    // A new id, the live events the range touches superseded, the event appended, the log
    // trimmed.
    appendAppliedEvent(std::move(event), false);
    trimEvents();
    recordDecision(std::move(decision));
}

void QNServiceComposer::applyEagerLocalApplications(const LocalRuleEvaluation& evaluation,
                                                    text::Utf16Range range) {
    const auto context = TierPolicyContext::localPreflight();
    // Each application's output replaces the whole evaluated text, so once one has been written
    // the segment is as long as that output: the next rewrite replaces that span, not the range
    // as it was given.
    std::int64_t segmentLength = range.length;
    for (const auto& application : evaluation.applications) {
        const auto tier = tierPolicy->tier(application.ruleID, application.metadata, context);
        if (tier != ConfidenceTier::eager) {
            continue;
        }
        const text::Utf16Range segment{range.location, segmentLength};
        if (range.location != NSNotFound &&
            nsRangeLiesWithin(segment, utf16Length(buffers.canonicalText))) {
            if (replaceInPlace(buffers.canonicalText, segment, application.output)) {
                segmentLength = utf16Length(application.output);
                if (!buffers.projection.applying(segment, segmentLength)) {
                    buffers.rebuildProjection(utf16Length(buffers.authoredText));
                }
            }
        }
        recordLocalApplication(application, *tier, range.location, range.length);
    }
}

void QNServiceComposer::recordTentativeLocalApplications(const LocalRuleEvaluation& evaluation,
                                                         std::int64_t offset) {
    const auto context = TierPolicyContext::localPreflight();
    for (const auto& application : evaluation.applications) {
        const auto tier = tierPolicy->tier(application.ruleID, application.metadata, context);
        if (tier != ConfidenceTier::tentative && tier != ConfidenceTier::streaming) {
            continue;
        }
        recordLocalApplication(application, *tier, offset, utf16Length(application.input));
    }
}

// --- Text probes

std::u16string QNServiceComposer::textAfterLastSentenceEnd(std::u16string_view text) {
    std::optional<std::int64_t> tailStart;
    std::optional<std::int64_t> pendingMark;  // just past a mark that waits for its successor
    forEachScalar(text, [&](char32_t scalar, std::int64_t end) {
        if (pendingMark && text::isWhitespaceOrNewline(scalar)) {
            tailStart = pendingMark;
        }
        pendingMark.reset();
        if (scalar == U'\n') {
            tailStart = end;
        } else if (isSentenceMark(scalar)) {
            pendingMark = end;
        }
    });
    if (pendingMark) {
        tailStart = pendingMark;  // a mark that ends the text
    }
    if (!tailStart) {
        return {};
    }
    return std::u16string(text.substr(static_cast<std::size_t>(*tailStart)));
}

bool QNServiceComposer::isLettersOnly(std::u16string_view character) {
    if (character.empty()) {
        return false;
    }
    bool letters = true;
    forEachScalar(character,
                  [&](char32_t scalar, std::int64_t) { letters = letters && isLetter(scalar); });
    return letters;
}

std::optional<std::int64_t> QNServiceComposer::misspelledLastWordOffset(std::u16string_view text) {
    std::int64_t start = utf16Length(text);
    std::int64_t characters = 0;
    while (start > 0) {
        const auto before = text::characterBoundaryBefore(text, start);
        if (!isLettersOnly(text.substr(static_cast<std::size_t>(before),
                                       static_cast<std::size_t>(start - before)))) {
            break;
        }
        start = before;
        ++characters;
    }
    // Nothing when the text does not end inside a word, when the word is short, or when it
    // starts the text.
    if (characters < 4 || start == 0 || !degradationSpellChecker) {
        return std::nullopt;
    }
    if (!degradationSpellChecker->isMisspelled(text.substr(static_cast<std::size_t>(start)))) {
        return std::nullopt;
    }
    return start;
}

// --- Rescheduling

std::optional<QNBoundaryEvent> QNServiceComposer::evaluateBoundary(Instant now) const {
    if (!dirtySpan) {
        return std::nullopt;
    }
    const bool paused = now - dirtySpan->lastEditAt >= kIdleBackstop;
    if (const auto boundary = boundaryDetector.evaluate(buffers.canonicalText, *dirtySpan)) {
        // A key inside a finished sentence finds the sentence's end standing already: the
        // sentence goes out once the person pauses, not at every key of the change.
        if (lastEditInsideSentence_ && !paused) {
            return std::nullopt;
        }
        return boundary;
    }
    if (paused) {
        return QNBoundaryEvent::idle;
    }
    return std::nullopt;
}

std::int64_t QNServiceComposer::idleBackstopDelayMs() const {
    if (!dirtySpan) {
        return kIdleBackstop.count();
    }
    const auto remaining = kIdleBackstop - (clock->now() - dirtySpan->lastEditAt);
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return rounded > 0 ? rounded : kIdleBackstop.count();
}

void QNServiceComposer::rescheduleAfterEdit() {
    refreshAppliedPrefixes();

    // A dispatch still pending was left alone by the edit (one that changed its text cancelled
    // it): it goes out as scheduled, or is replaced by the gate below.
    if (idleBackstopTask) {
        idleBackstopTask->cancel();
        idleBackstopTask.reset();
    }

    const bool correcting = correctionTask.has_value();
    if (text::isBlank(buffers.canonicalText)) {
        existingTextQuietBaseline.reset();
        existingTextInitialWholeDidComplete = false;
        if (!correcting) {
            status.set(QNStateComposer::idle());
        }
        return;
    }
    if (!dirtySpan) {
        if (!correcting) {
            status.set(QNStateComposer::idle());
        }
        return;
    }
    if (const auto boundary = evaluateBoundary(clock->now())) {
        maybeDispatchSentencePolish(*boundary);
        return;
    }
    if (!correcting) {
        status.set(QNStateComposer::waitingForPause());
    }
    const std::chrono::milliseconds delay(idleBackstopDelayMs());
    idleBackstopTask.emplace();
    idleBackstop(this, clock, delay, FlowGuard(lifetime_, idleBackstopTask->stop.get_token()));
}

QCoro::Task<> QNServiceComposer::idleBackstop(QNServiceComposer* service,
                                              std::shared_ptr<Executor> clock,
                                              std::chrono::milliseconds delay, FlowGuard guard) {
    co_await sleepFor(*clock, delay, guard.stop());
    if (guard.ended()) {
        co_return;
    }
    service->runIdlePath();
}

void QNServiceComposer::runIdlePath() {
    ++followUps.idlePathRuns;
    idleBackstopTask.reset();
    if (const auto boundary = evaluateBoundary(clock->now())) {
        maybeDispatchSentencePolish(*boundary);
    } else if (!correctionTask) {
        status.set(QNStateComposer::idle());
    }
}

}  // namespace ravlin
