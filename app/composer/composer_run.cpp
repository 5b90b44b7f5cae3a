// The Composer's live loop, model side: one correction run from request to applied text, the
// streamed partials shown in place on the way, cancellation and the shell's entry points.

#include <algorithm>
#include <cstdio>

#include "app/composer/composer_service.h"
#include "core/services/correction_progress.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using OutcomeKind = QNModelCorrectionOutcome::Kind;

std::int64_t utf16Length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

std::string hashOf(std::u16string_view text) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx",
                  static_cast<unsigned long long>(QNCorrectionDecision::stableHash(text)));
    return buffer;
}

std::string outcomeWord(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::skipped:
            return "skipped";
        case OutcomeKind::unavailable:
            return "unavailable";
        case OutcomeKind::rejected:
            return "rejected";
        case OutcomeKind::failed:
            return "failed";
        case OutcomeKind::corrected:
            return "corrected";
        case OutcomeKind::unchanged:
            return "unchanged";
    }
    return "unknown";
}

// Moves every instant of `decision` and its descendants by `shift`; the root's start too when
// `withStart`.
void shiftInstants(QNCorrectionDecision& decision, std::chrono::nanoseconds shift,
                   bool withStart) {
    if (withStart) {
        decision.startedAt += shift;
    }
    if (decision.finishedAt) {
        *decision.finishedAt += shift;
    }
    for (auto& stage : decision.stages) {
        stage.startedAt += shift;
        if (stage.finishedAt) {
            *stage.finishedAt += shift;
        }
    }
    for (auto& child : decision.children) {
        shiftInstants(child, shift, true);
    }
}

// The engine stamps its decisions on its own clock; the service compares them with its
// executor's (the coverage window). The engine's instants move onto the executor's clock so that
// the answer finished `answeredAt`; the root's start was stamped by the service already.
void onServiceClock(QNCorrectionDecision& decision, Instant answeredAt) {
    if (!decision.finishedAt) {
        decision.finishedAt = answeredAt;
        return;
    }
    shiftInstants(decision, answeredAt - *decision.finishedAt, false);
}

// The answer with the leading whitespace of the text it now stands for: whole sentences taken
// out before a request may take the space before its text with them.
std::u16string withLeadingWhitespaceOf(std::u16string_view answer, std::u16string_view target) {
    const auto lead = [](std::u16string_view text) {
        std::size_t at = 0;
        while (at < text.size() && text::isWhitespaceOrNewline(text[at])) {
            ++at;
        }
        return at;
    };
    std::u16string fitted(target.substr(0, lead(target)));
    fitted.append(answer.substr(lead(answer)));
    return fitted;
}

std::u16string prefixOf(std::u16string_view text, std::int64_t length) {
    return std::u16string(text.substr(
        0, static_cast<std::size_t>(std::clamp<std::int64_t>(length, 0, utf16Length(text)))));
}

}  // namespace

// --- The run

void QNServiceComposer::startCorrectionRun(QNModelCorrectionJob job) {
    pendingCorrectionJob.reset();
    followUps.startedRuns.push_back(job);
    if (correctionTask) {
        correctionTask->cancel();
    }
    if (activeStreamApply) {
        rollBackStream();
    }
    if (!polishEngine || !workRunner) {
        correctionTask.reset();
        run_.reset();
        status.set(QNStateComposer::idle());
        return;
    }
    auto run = std::make_shared<Run>();
    run->number = ++runCounter_;
    run->job = std::move(job);
    run->editsAtStart = userEditCount_;
    run_ = run;
    correctionTask.emplace();
    char id[24];
    std::snprintf(id, sizeof id, "r%03lld", static_cast<long long>(++requestCounter_));
    requestID_ = id;
    status.set(QNStateComposer::correcting());
    correctionRun(this, std::move(run), FlowGuard(lifetime_, correctionTask->stop.get_token()));
}

void QNServiceComposer::receivePartial(std::int64_t runNumber, std::u16string partial) {
    if (!run_ || run_->number != runNumber || !correctionTask || run_->refused) {
        return;  // a finished or replaced run's text
    }
    run_->waitingPartial = withLeadingWhitespaceOf(partial, run_->job.targetPrefix);
    if (!run_->animating) {
        showPartials(this, run_, FlowGuard(lifetime_, correctionTask->stop.get_token()));
    }
}

std::optional<text::Utf16Range> QNServiceComposer::streamSpanIfIntact() const {
    if (!activeStreamApply) {
        return std::nullopt;
    }
    return shownStreamSpan(*activeStreamApply);
}

void QNServiceComposer::rollBackStream() {
    if (!activeStreamApply) {
        return;
    }
    alignStreamProjection();
    auto state = std::move(activeStreamApply);
    if (shownStreamSpan(*state)) {
        syncTextView(*state);
        noteOwnWrite();
        return;
    }
    // Someone else's text stands where the stream wrote: it stays, and the buffers follow it.
    markStreamEventsRolledBack(state->canonicalRange);
    resyncToView();
}

QCoro::Task<> QNServiceComposer::showPartials(QNServiceComposer* service, std::shared_ptr<Run> run,
                                              FlowGuard guard) {
    run->animating = true;
    auto view = service->controller;
    while (run->waitingPartial && !run->refused) {
        const std::u16string partial = std::move(*run->waitingPartial);
        run->waitingPartial.reset();
        // The answer so far, then the typed text it has not reached yet: the sentence neither
        // shrinks nor loses its end while the answer streams, and what follows it stays.
        const std::u16string shownText =
            QNModelCorrectionProgress::displayText(run->job.targetPrefix, partial)
                .value_or(run->job.targetPrefix);
        if (!service->activeStreamApply) {
            service->activeStreamApply = service->makeStreamApplyState(run->job.targetRange);
        }
        const auto span = service->streamSpanIfIntact();
        if (!span || !view) {
            run->refused = true;
            break;
        }
        auto& current = *service->activeStreamApply;
        if (current.currentReplacement == shownText) {
            continue;  // nothing new to show
        }
        const auto string = service->viewString();
        std::u16string from = prefixOf(string, span->end());
        std::u16string to = prefixOf(string, span->location) + shownText;
        const auto result =
            co_await view->applyCorrectionAnimated(from, to, 90, 1, false, guard.stop());
        if (guard.ended()) {
            co_return;
        }
        if (!result.applied || !service->activeStreamApply) {
            run->refused = true;
            break;
        }
        auto& state = *service->activeStreamApply;
        state.currentReplacement = shownText;
        state.visibleFullPrefix = to;
        ++state.appliedEdits;
        if (!service->alignStreamProjection()) {
            service->buffers.applyReplacement(state.canonicalRange, shownText,
                                              service->viewString());
        }
        service->noteOwnWrite();
        QNCorrectionEvent event;
        event.canonicalRange = state.canonicalRange;
        event.visibleRangeAtApply = {span->location, utf16Length(shownText)};
        event.original = state.originalVisibleReplacement;
        event.replacement = shownText;
        event.tier = ConfidenceTier::streaming;
        event.source = QNCorrectionEventSource::of(QNCorrectionEventSource::Kind::modelStream);
        event.createdAt = service->clock->now();
        event.decisionID = run->decisionID;
        service->recordAppliedEvent(std::move(event), true);
    }
    run->animating = false;
}

QCoro::Task<> QNServiceComposer::correctionRun(QNServiceComposer* service, std::shared_ptr<Run> run,
                                               FlowGuard guard) {
    auto clock = service->clock;
    auto view = service->controller;
    auto engine = service->polishEngine;
    const QNModelCorrectionJob sent = run->job;
    const auto key = service->dedupeKey(sent);
    const auto chunk = service->beginRun(*run, key);
    QNCorrectionDecision decision = *run->decision;

    // The partial handler runs on the worker: it only hands the text to the sequence.
    std::weak_ptr<const int> alive = service->lifetime_;
    QNPartialTextHandler onPartial = [clock, alive, service,
                                      number = run->number](const std::u16string& partial) {
        clock->post([alive, service, number, partial] {
            if (!alive.expired()) {
                service->receivePartial(number, partial);
            }
        });
    };
    auto answer = co_await runBlocking(
        *service->workRunner, *clock,
        [engine, sent, decision, onPartial](std::stop_token stop) mutable {
            auto result =
                engine->correct(sent.targetPrefix, sent.contextPrefix, decision, onPartial, stop);
            return std::make_pair(std::move(result), std::move(decision));
        },
        guard.stop());
    if (guard.ended()) {
        co_return;
    }
    // A partial still being shown finishes first; later ones are dropped.
    run->waitingPartial.reset();
    if (run->animating) {
        co_await waitUntil(
            *clock, [alive, run] { return alive.expired() || !run->animating; }, kSleepStep,
            std::chrono::seconds(5), guard.stop());
        if (guard.ended()) {
            co_return;
        }
    }
    // Whole sentences taken out before it while it ran moved it up: where it stands now.
    const QNModelCorrectionJob job = run->job;
    auto& [result, answered] = answer;
    decision = std::move(answered);
    onServiceClock(decision, clock->now());
    // The engine keeps the context's end only; coverage needs where the target really starts.
    decision.contextBefore = job.contextPrefix;
    decision.refreshTraceFields();
    // A user edit from here on (the animated apply) stops the run with the answered decision.
    run->decision = decision;

    std::string state;
    const auto kind = result.outcome.kind;
    if (kind == OutcomeKind::corrected || kind == OutcomeKind::unchanged) {
        service->unavailableStreak_ = 0;
        service->correctionUnavailableWarning.set(std::nullopt);
        const std::u16string output = withLeadingWhitespaceOf(result.output, job.targetPrefix);
        const auto span = service->answeredSpan(*run, job);
        if (!span) {
            state = service->dropAnswer();
        } else if (service->isSingleWordDegradation(job.targetPrefix, output)) {
            state = service->refuseDegradation(job, decision);
        } else {
            const auto string = service->viewString();
            const std::u16string from = prefixOf(string, span->end());
            const std::u16string to = prefixOf(string, span->location) + output;
            QNAnimatedApplyResult applied{true, 1, 0};
            if (from != to && view) {
                // Model text is shown without pulses; only the instant local fixes pulse.
                applied =
                    co_await view->applyCorrectionAnimated(from, to, 180, 4, false, guard.stop());
                if (guard.ended()) {
                    co_return;
                }
            }
            state = applied.applied
                        ? service->recordAnswer(job, output, *span, applied.appliedCount, decision,
                                                chunk.id, key.inputHash)
                        : service->dropAnswer();
        }
    } else {
        state = service->settleUnusedAnswer(job, result);
    }
    service->finishRun(*run, job, result, decision, state);
}

QNCorrectionChunk QNServiceComposer::beginRun(Run& run, const QNDecisionDedupeKey& key) {
    const QNModelCorrectionJob& sent = run.job;
    const Instant startedAt = clock->now();
    if (controller) {
        if (const auto visible = buffers.projection.visibleRange(sent.targetRange)) {
            controller->startPrefixWave(visible->end());
            waveShown_ = true;
        }
    }
    auto chunk = chunkLedger.prepareSealedChunk(sent.targetRange, sent.targetPrefix, startedAt);
    QNCorrectionDecision decision(QNCorrectionDecision::Init{
        .sessionID = logSessionID_,
        .trigger = sent.trigger,
        .scope = key.scope,
        .input = sent.targetPrefix,
        .contextBefore = sent.contextPrefix,
        .policyVersion = key.policyVersion,
        .chunkID = chunk.id,
        .startedAt = startedAt,
    });
    run.decisionID = decision.id;
    jobKeys_.emplace_back(decision.id, key);
    run.decision = std::move(decision);
    return chunk;
}

std::optional<text::Utf16Range> QNServiceComposer::answeredSpan(const Run& run,
                                                                const QNModelCorrectionJob& job) {
    if (run.refused) {
        return std::nullopt;
    }
    const bool canonicalHolds =
        std::u16string_view(buffers.canonicalText)
            .substr(std::min<std::size_t>(buffers.canonicalText.size(),
                                          static_cast<std::size_t>(job.targetRange.location)))
            .starts_with(job.targetPrefix);
    if (!canonicalHolds) {
        return std::nullopt;
    }
    if (activeStreamApply) {
        return streamSpanIfIntact();
    }
    const auto string = viewString();
    auto span = visibleSpanOf(job.targetRange, string);
    if (span && std::u16string_view(string).substr(static_cast<std::size_t>(span->location),
                                                   static_cast<std::size_t>(span->length)) !=
                    job.targetPrefix) {
        span.reset();
    }
    return span;
}

std::string QNServiceComposer::dropAnswer() {
    rollBackStream();
    if (controller) {
        controller->stopPrefixWave(true);
    }
    waveShown_ = false;
    status.set(QNStateComposer::idle());
    return "stale";
}

std::string QNServiceComposer::refuseDegradation(const QNModelCorrectionJob& job,
                                                 QNCorrectionDecision& decision) {
    rollBackStream();
    decision.appendStage(QNCorrectionStageID::degradationGuard,
                         QNCorrectionDecisionStatus::rejected("single-word-degradation"),
                         std::nullopt, {}, clock->now(), clock->now());
    decision.status = QNCorrectionDecisionStatus::rejected("single-word-degradation");
    rememberRefusal(job);
    status.set(QNStateComposer::noChange());
    return "degraded";
}

std::string QNServiceComposer::recordAnswer(const QNModelCorrectionJob& job,
                                            const std::u16string& output, text::Utf16Range span,
                                            std::int64_t appliedCount,
                                            const QNCorrectionDecision& decision,
                                            const Uuid& chunkID, std::uint64_t inputHash) {
    const bool wholePrefix = job.scope == QNModelCorrectionJob::Scope::wholePrefix;
    appliedCorrectionCount_ += std::max<std::int64_t>(1, appliedCount);
    activeStreamApply.reset();
    if (auto corrected = replacing(buffers.canonicalText, job.targetRange, output)) {
        buffers.canonicalText = std::move(*corrected);
        if (!buffers.projection.applying(job.targetRange, utf16Length(output))) {
            buffers.rebuildProjection(utf16Length(viewString()));
        }
    }
    noteOwnWrite();
    const text::Utf16Range newRange{job.targetRange.location, utf16Length(output)};
    QNCorrectionEvent event;
    event.canonicalRange = newRange;
    event.visibleRangeAtApply = {span.location, utf16Length(output)};
    event.original = job.targetPrefix;
    event.replacement = output;
    event.tier =
        tierPolicy->tier(wholePrefix ? ModelSource::wholePrefixFinal : ModelSource::suffixFinal,
                         TierPolicyContext{QNCorrectionStageID::unknown});
    event.source = QNCorrectionEventSource::of(
        wholePrefix ? QNCorrectionEventSource::Kind::modelWhole
                    : QNCorrectionEventSource::Kind::modelSentencePolish);
    event.createdAt = clock->now();
    event.decisionID = decision.id;
    recordAppliedEvent(std::move(event), false);
    chunkLedger.recordPolishSuccess(chunkID, output, inputHash, newRange);
    const auto through = prefixOf(buffers.canonicalText, newRange.end());
    sealedContextPrefix = through;
    if (wholePrefix) {
        lastWholeAppliedPrefix = through;
    }
    const bool same = output == job.targetPrefix;
    status.set(same ? QNStateComposer::noChange() : QNStateComposer::applied());
    return same ? "no-change" : "applied";
}

std::string QNServiceComposer::settleUnusedAnswer(const QNModelCorrectionJob& job,
                                                  const QNModelCorrectionResult& result) {
    const auto kind = result.outcome.kind;
    rollBackStream();
    if (kind == OutcomeKind::failed || kind == OutcomeKind::unavailable) {
        rememberFailure(job);
    } else if (kind == OutcomeKind::rejected) {
        rememberRefusal(job);
    }
    std::string state;
    if (kind == OutcomeKind::unavailable) {
        const bool holding = holdUntil_.has_value();
        noteUnavailableResult();
        correctionUnavailableWarning.set(result.outcome.reason);
        if (!holding && holdUntil_ &&
            polishEngine->diagnosticsSummary().primary.route == QNModelCorrectionRoute::remote) {
            // The issue is set at the run's end, after the result's own update.
            state = "hold";
        }
    } else {
        unavailableStreak_ = 0;
    }
    status.set(kind == OutcomeKind::failed ? QNStateComposer::error(result.outcome.reason)
                                           : QNStateComposer::idle());
    return state.empty() ? outcomeWord(kind) : state;
}

void QNServiceComposer::finishRun(const Run& run, const QNModelCorrectionJob& job,
                                  QNModelCorrectionResult& result,
                                  const QNCorrectionDecision& decision, std::string state) {
    const auto kind = result.outcome.kind;
    recordDecision(decision);
    result.decision = decision;
    updateCorrectionIssue(result);
    if (const auto left = routeWait()) {
        showRouteWaiting(*left);  // the answer was a "wait" with a Retry-After
    }
    if (state == "hold") {
        auto texts = cloudFailureTexts(result.outcome.reason, true);
        setCorrectionIssue(QNModelCorrectionIssue{
            .title = std::move(texts.title),
            .menuDetail = std::move(texts.menuDetail),
            .detail = std::move(texts.detail),
            .isPersistent = true,
            .requiresOnlineMode = true,
        });
        state = "unavailable";
    }
    if (waveShown_ && controller) {
        controller->stopPrefixWave(false);
    }
    waveShown_ = false;
    // A polish that was not used says why, and what the menu shows for it.
    std::string why;
    if (const auto cause = failureCause(result)) {
        why = " reason={" + *cause + "}";
        if (const auto& issue = correctionIssue.get()) {
            why += " issue={" + issue->menuDetail + "}";
        }
    }
    log(state == "applied"                        ? QNKindLog::applied
        : state == "stale" || state == "degraded" ? QNKindLog::rejected
        : kind == OutcomeKind::failed             ? QNKindLog::error
                                                  : QNKindLog::info,
        " state=" + state + " outcome=" + outcomeWord(kind) + why + " input_len=" +
            std::to_string(job.targetPrefix.size()) + " input_hash=" + hashOf(job.targetPrefix) +
            " output_len=" + std::to_string(result.output.size()) +
            " output_hash=" + hashOf(result.output) + " " + correctionNotesSummary(decision) +
            logFallbackApplied(decision),
        result.output);

    const bool replaced = state == "applied" || state == "no-change";
    moveDirtySpanPast(job, replaced ? utf16Length(result.output) - job.targetRange.length : 0);
    if (job.scope == QNModelCorrectionJob::Scope::wholePrefix) {
        existingTextInitialWholeDidComplete = true;
        // Typed into while it ran (after the text, so it went on): the text is not quiet.
        if (userEditCount_ == run.editsAtStart) {
            existingTextQuietBaseline = viewString();
        }
    }
    requestID_.reset();
    run_.reset();
    activeStreamApply.reset();
    rescheduleAfterEdit();
    if (correctionTask && !run_) {
        correctionTask.reset();
    }
}

void QNServiceComposer::moveDirtySpanPast(const QNModelCorrectionJob& job, std::int64_t shift) {
    // The attempted span is no longer dirty; what follows it (the next sentence, typed while
    // this one was out) stays, moved by the answer's change of length.
    if (!dirtySpan) {
        return;
    }
    const auto attemptedEnd = job.targetRange.end() + shift;
    auto& range = dirtySpan->range;
    const auto moved = [&](std::int64_t at) {
        return at >= job.targetRange.end() ? at + shift : at;
    };
    const auto end = moved(range.end());
    const auto start = std::max(moved(range.location), attemptedEnd);
    const auto rest = text::substring(buffers.canonicalText, {start, end - start});
    if (end <= attemptedEnd || !rest || text::isBlank(*rest)) {
        // Nothing, or only the space after the sentence: nothing left to polish.
        dirtySpan.reset();
    } else {
        range = {start, end - start};
    }
}

// --- Cancellation

void QNServiceComposer::cancelCorrections(std::string_view reason) {
    if (idleBackstopTask) {
        idleBackstopTask->cancel();
        idleBackstopTask.reset();
    }
    if (abandonedStream_) {
        settleAbandonedStream();
    }
    rollBackStream();
    stopWorkInFlight(reason);
    unavailableStreak_ = 0;
    if (controller) {
        controller->stopPrefixWave(true);
        controller->clearFadePulses(std::nullopt);
    }
    waveShown_ = false;
    log(QNKindLog::skipped, " state=cancelled reason=" + std::string(reason));
    requestID_.reset();
    if (status.get().kind == QNStateComposer::Kind::correcting ||
        status.get().kind == QNStateComposer::Kind::waitingForPause) {
        status.set(QNStateComposer::idle());
    }
}

// --- For the shell

void QNServiceComposer::reset(ViewText view) {
    cancelCorrections("reset");
    if (controller && view == ViewText::emptied) {
        controller->setText({}, QNPlacementCaret::end);
    }
    buffers.reset({});
    lastLocalVisibleText.clear();
    dirtySpan.reset();
    sealedContextPrefix.clear();
    lastAppliedPrefix.clear();
    lastWholeAppliedPrefix.reset();
    existingTextQuietBaseline.reset();
    existingTextInitialWholeDidComplete = false;
    holdUntil_.reset();
    lastRefusal_.reset();
    chunkLedger = QNChunkLedger(16);
    needsResync_ = false;
    status.set(QNStateComposer::idle());
}

void QNServiceComposer::begin(std::u16string existingText, bool initialWholeCorrection,
                              QNPlacementCaret caretPlacement, QNComposerCorrectionPolicy policy,
                              bool textFinished) {
    cancelCorrections("set-initial-text");
    if (controller) {
        controller->setText(existingText, caretPlacement);
    }
    buffers.reset(viewString());
    events.set({});
    recentDecisions.set({});
    jobKeys_.clear();
    dirtySpan.reset();
    sealedContextPrefix.clear();
    lastWholeAppliedPrefix.reset();
    existingTextQuietBaseline.reset();
    existingTextInitialWholeDidComplete = false;
    chunkLedger = QNChunkLedger(16);
    needsResync_ = false;
    // A finished text's last word is fixed too, by the rules Return applies to a typed text's.
    applyLocalFixesToWholeText("set-initial-text", textFinished);
    if (viewString() != buffers.canonicalText) {
        buffers.reset(viewString());
    }
    lastLocalVisibleText = buffers.canonicalText;
    correctionPolicy.set(policy);
    status.set(QNStateComposer::idle());
    if (initialWholeCorrection && policy == QNComposerCorrectionPolicy::existingText &&
        !text::isBlank(buffers.canonicalText)) {
        QNModelCorrectionJob job;
        job.scope = QNModelCorrectionJob::Scope::wholePrefix;
        job.targetPrefix = buffers.canonicalText;
        job.targetRange = {0, utf16Length(job.targetPrefix)};
        job.trigger = QNCorrectionDecisionTrigger::direct;
        log(QNKindLog::info, " state=scheduled boundary=initial-whole input_len=" +
                                 std::to_string(job.targetPrefix.size()) +
                                 " input_hash=" + hashOf(job.targetPrefix));
        startCorrectionRun(std::move(job));
        if (!correctionTask) {
            // Nothing to correct with: the text stands as it is.
            existingTextInitialWholeDidComplete = true;
            existingTextQuietBaseline = viewString();
        }
    }
}

QCoro::Task<std::u16string> QNServiceComposer::polishBeforeCommit(
    std::chrono::milliseconds timeout) {
    std::weak_ptr<const int> alive = lifetime_;
    auto clock = this->clock;
    const Instant deadline = clock->now() + timeout;
    // Return ends the last word as a space would: the local rules fix it before anything goes.
    // A dispatch still waiting would ask about the text as it stood; the commit asks anew.
    if (instantLocalFixesOnUserEdits) {
        if (pendingDispatchTask && !correctionTask) {
            pendingDispatchTask->cancel();
            pendingDispatchTask.reset();
            pendingCorrectionJob.reset();
        }
        applyLocalFixesToWholeText("commit", true);
    }
    // The unfinished text goes out once nothing else is out: a sentence still being polished
    // is waited for first, then what follows it is asked about.
    bool asked = false;
    while (!alive.expired() && clock->now() < deadline) {
        if (!correctionTask && !asked) {
            asked = true;
            maybeDispatchSentencePolish(QNBoundaryEvent::commit);
        }
        if (!correctionTask) {
            break;
        }
        co_await sleepFor(
            *clock, std::min<std::chrono::nanoseconds>(kSleepStep, deadline - clock->now()), {});
    }
    if (alive.expired()) {
        co_return std::u16string();
    }
    if (correctionTask) {
        cancelCorrections("commit-timeout");
    } else if (pendingDispatchTask) {
        // The commit did not go out (nothing new to ask about): a dispatch still waiting would
        // ask about text already on its way into the other application.
        pendingDispatchTask->cancel();
        pendingDispatchTask.reset();
        pendingCorrectionJob.reset();
    }
    co_return viewString();
}

QCoro::Task<bool> QNServiceComposer::waitUntilSettled(
    std::optional<std::chrono::milliseconds> timeout, std::stop_token stop) {
    std::weak_ptr<const int> alive = lifetime_;
    auto clock = this->clock;
    const std::optional<Instant> deadline =
        timeout ? std::optional<Instant>(clock->now() + *timeout) : std::nullopt;
    const auto settled = [this] {
        const auto kind = status.get().kind;
        return kind != QNStateComposer::Kind::correcting &&
               kind != QNStateComposer::Kind::waitingForPause && !pendingDispatchTask &&
               !correctionTask && !activeStreamApply;
    };
    while (true) {
        if (alive.expired() || stop.stop_requested()) {
            co_return false;
        }
        if (settled()) {
            co_return true;
        }
        if (deadline && clock->now() >= *deadline) {
            co_return false;
        }
        co_await sleepFor(*clock, kSleepStep, stop);
    }
}

}  // namespace ravlin
