// The Composer's live loop, edit side: construction, the edit intake, the instant local pass
// and the applied-prefix refresh.

#include <algorithm>
#include <cstdio>

#include "app/composer/composer_service.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

std::int64_t utf16Length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

// Where offset `at` of the text before an edit stands after it. An offset inside the replaced
// range goes to the range's start, or to the end of the new text when `toEnd`.
std::int64_t movedByEdit(std::int64_t at, text::Utf16Range range, std::int64_t inserted,
                         bool toEnd) {
    if (at <= range.location) {
        return at;
    }
    if (at >= range.end()) {
        return at + inserted - range.length;
    }
    return toEnd ? range.location + inserted : range.location;
}

// What is left of an applied prefix once the canonical text no longer begins with it: the part
// they share, cut back to its last sentence end; empty without one.
std::u16string cutBackToSentenceEnd(std::u16string_view prefix, std::u16string_view canonical) {
    const auto shared = std::ranges::mismatch(prefix, canonical).in1 - prefix.begin();
    std::u16string cut(prefix.substr(0, static_cast<std::size_t>(shared)));
    // With one space after it, a text that ends at a sentence end keeps a tail of that space.
    cut.push_back(u' ');
    const auto tail = QNServiceComposer::textAfterLastSentenceEnd(cut);
    if (tail.empty()) {
        return {};
    }
    cut.resize(cut.size() - tail.size());
    return cut;
}

}  // namespace

QNServiceComposer::QNServiceComposer(Construction parts) : QNServiceComposer(parts.clock) {
    controller = std::move(parts.controller);
    liveEngine = std::move(parts.liveEngine);
    polishEngine = std::move(parts.polishEngine);
    degradationSpellChecker = std::move(parts.spellChecker);
    workRunner = std::move(parts.workRunner);
    sessionLog = std::move(parts.sessionLog);
    delays = parts.delays;
    polishRerouting = std::move(parts.polishRerouting);
    correctionIssueHandler = std::move(parts.correctionIssueHandler);
    buffers.reset({});
    if (controller) {
        std::weak_ptr<const int> alive = lifetime_;
        controller->setEditHandlers(
            [this, alive](const QNUserEdit& edit) {
                if (!alive.expired()) {
                    onUserEdit(edit);
                }
            },
            [this, alive] {
                if (!alive.expired()) {
                    onUserType();
                }
            });
    }
}

// --- Log lines

std::string QNServiceComposer::logPrefix() const {
    std::string prefix = "sid=" + logSessionID_.value_or("-");
    if (requestID_) {
        prefix += " req=" + *requestID_;
    }
    return prefix;
}

void QNServiceComposer::log(QNKindLog kind, const std::string& message,
                            std::optional<std::u16string> detail) const {
    if (!sessionLog) {
        return;
    }
    std::optional<std::string> text;
    if (detail) {
        text = text::toUtf8(*detail);
    }
    sessionLog->log(kind, logPrefix() + message, std::move(text));
}

void QNServiceComposer::setLogSessionID(std::optional<std::string> sessionID) {
    logSessionID_ = std::move(sessionID);
    sentencePolishCount_ = 0;
    requestCounter_ = 0;
    unavailableStreak_ = 0;
    requestID_.reset();
}

bool QNServiceComposer::hasQuietExistingTextBaseline() const {
    return correctionPolicy.get() == QNComposerCorrectionPolicy::existingText &&
           existingTextInitialWholeDidComplete && existingTextQuietBaseline.has_value();
}

// --- Own writes

void QNServiceComposer::noteOwnWrite() {
    lastLocalVisibleText = viewString();
    if (buffers.projection.visibleUTF16Length != utf16Length(lastLocalVisibleText)) {
        buffers.rebuildProjection(utf16Length(lastLocalVisibleText));
    }
}

void QNServiceComposer::resyncToView() {
    needsResync_ = false;
    buffers.reset(viewString());
    lastLocalVisibleText = buffers.canonicalText;
    chunkLedger.resetSealedChunks();
    if (dirtySpan) {
        const auto length = utf16Length(buffers.canonicalText);
        dirtySpan->range.location = std::min(dirtySpan->range.location, length);
        dirtySpan->range.length =
            std::min(dirtySpan->range.length, length - dirtySpan->range.location);
    }
}

// --- Edit intake

bool QNServiceComposer::stopWorkInFlight(bool* partialOnScreen) {
    bool inFlight = false;
    for (auto* task : {&pendingDispatchTask, &correctionTask}) {
        if (*task) {
            (*task)->cancel();
            task->reset();
            inFlight = true;
        }
    }
    pendingCorrectionJob.reset();
    pendingPolishBoundary_.reset();
    if (run_) {
        run_.reset();
        waveShown_ = true;
    }
    if (activeStreamApply) {
        inFlight = true;
        const bool shown =
            activeStreamApply->currentReplacement != activeStreamApply->originalVisibleReplacement;
        if (shown) {
            markStreamEventsRolledBack(activeStreamApply->canonicalRange);
        }
        if (partialOnScreen) {
            *partialOnScreen = shown;
        }
        activeStreamApply.reset();
    }
    return inFlight;
}

void QNServiceComposer::onUserEdit(const QNUserEdit& edit) {
    bool partialOnScreen = false;
    if (stopWorkInFlight(&partialOnScreen)) {
        log(QNKindLog::skipped, " state=cancelled reason=superseded-by-input");
    }
    requestID_.reset();
    if (partialOnScreen) {
        // The view holds the stream's partial text and now the user's edit on top of it.
        needsResync_ = true;
    }
    const text::Utf16Range before = edit.range;
    const auto inserted = utf16Length(edit.replacement);
    if (!buffers.recordUserEdit(edit)) {
        needsResync_ = true;
    }
    ++userEditCount_;

    text::Utf16Range grown{before.location, inserted};
    if (dirtySpan) {
        const auto start = movedByEdit(dirtySpan->range.location, before, inserted, false);
        const auto end = movedByEdit(dirtySpan->range.end(), before, inserted, true);
        const auto from = std::min(start, grown.location);
        grown = {from, std::max(end, grown.end()) - from};
    }
    const auto length = utf16Length(buffers.canonicalText);
    grown.location = std::clamp<std::int64_t>(grown.location, 0, length);
    grown.length = std::clamp<std::int64_t>(grown.length, 0, length - grown.location);
    dirtySpan = QNDirtySpan{grown, buffers.revision, clock->now()};

    if (!needsResync_) {
        chunkLedger.applyCanonicalEdit(before, edit.replacement, buffers.canonicalText);
    }
    existingTextQuietBaseline.reset();
    existingTextInitialWholeDidComplete = false;
}

void QNServiceComposer::onUserType() {
    if (needsResync_ || utf16Length(viewString()) != buffers.projection.visibleUTF16Length) {
        resyncToView();
    }
    if (waveShown_ && !run_ && controller) {
        // The wave of a run the edit cancelled.
        waveShown_ = false;
        controller->stopPrefixWave(true);
    }
    if (instantLocalFixesOnUserEdits) {
        applyLocalFixesToWholeText("user-edit");
    }
    rescheduleAfterEdit();  // refreshes the applied prefixes first
}

void QNServiceComposer::applyLocalFixesToWholeText(std::string_view source) {
    if (!controller) {
        return;
    }
    const std::u16string beforeCaret = controller->textBeforeCaret();
    const std::u16string settled = knownAppliedPrefix(beforeCaret);
    // The segment the controller fixes: the finished words after the settled prefix.
    const std::u16string segment =
        stablePrefixBoundary(std::u16string_view(beforeCaret).substr(settled.size()));
    const auto offset = utf16Length(settled);

    const auto result = controller->applyLocalFixesBeforeCaret(settled, QNModelLocalFixRules::all,
                                                               TierPolicy::defaultPolicy());
    if (result.didChange) {
        const auto evaluation =
            evaluateLocalFixes(segment, QNModelLocalFixRules::all, QNCorrectionStageID::unknown,
                               TierPolicy::defaultPolicy());
        const bool held = std::u16string_view(buffers.canonicalText)
                              .substr(std::min(buffers.canonicalText.size(), settled.size()))
                              .starts_with(segment);
        const text::Utf16Range range =
            held ? text::Utf16Range{offset, utf16Length(segment)} : text::Utf16Range{NSNotFound, 0};
        applyEagerLocalApplications(evaluation, range);
        recordTentativeLocalApplications(evaluation, offset);
        log(QNKindLog::applied, " state=local-fix source=" + std::string(source) +
                                    " changes=" + std::to_string(result.changedRanges.size()) +
                                    " input_len=" + std::to_string(segment.size()));
    }
    noteOwnWrite();
}

// --- Applied prefixes

void QNServiceComposer::refreshAppliedPrefixes() {
    ++followUps.appliedPrefixRefreshes;
    const std::u16string_view canonical = buffers.canonicalText;
    const auto refresh = [&](std::u16string& prefix) {
        if (!canonical.starts_with(prefix)) {
            prefix = cutBackToSentenceEnd(prefix, canonical);
        }
    };
    refresh(lastAppliedPrefix);
    refresh(sealedContextPrefix);
    if (lastWholeAppliedPrefix) {
        refresh(*lastWholeAppliedPrefix);
        if (lastWholeAppliedPrefix->empty()) {
            lastWholeAppliedPrefix.reset();
        }
    }
}

}  // namespace ravlin

namespace ravlin {
namespace {

std::string_view boundaryName(QNBoundaryEvent boundary) {
    switch (boundary) {
        case QNBoundaryEvent::terminator:
            return "terminator";
        case QNBoundaryEvent::paragraph:
            return "paragraph";
        case QNBoundaryEvent::softPunctuation:
            return "soft-punctuation";
        case QNBoundaryEvent::idle:
            return "idle";
        case QNBoundaryEvent::commit:
            return "commit";
    }
    return "unknown";
}

std::string hashText(std::u16string_view text) {
    char buffer[17];
    std::snprintf(buffer, sizeof buffer, "%016llx",
                  static_cast<unsigned long long>(QNCorrectionDecision::stableHash(text)));
    return buffer;
}

}  // namespace

// --- Dispatch

QNModelCorrectionJob QNServiceComposer::sentencePolishJob(QNBoundaryEvent boundary) const {
    const std::u16string& canonical = buffers.canonicalText;
    const auto start = knownAppliedPrefix(canonical).size();
    auto end = canonical.size();
    if (boundary == QNBoundaryEvent::terminator || boundary == QNBoundaryEvent::paragraph ||
        boundary == QNBoundaryEvent::softPunctuation) {
        end -= textAfterLastSentenceEnd(canonical).size();
    }
    end = std::max(end, start);
    QNModelCorrectionJob job;
    job.scope = QNModelCorrectionJob::Scope::sentencePolish;
    job.contextPrefix = canonical.substr(0, start);
    job.targetPrefix = canonical.substr(start, end - start);
    job.targetRange = {static_cast<std::int64_t>(start), static_cast<std::int64_t>(end - start)};
    job.trigger = boundary == QNBoundaryEvent::commit ? QNCorrectionDecisionTrigger::commit
                  : boundary == QNBoundaryEvent::idle ? QNCorrectionDecisionTrigger::idlePolish
                                                      : QNCorrectionDecisionTrigger::pause;
    return job;
}

void QNServiceComposer::rememberRefusal(const QNModelCorrectionJob& job) {
    lastRefusal_ = Refusal{job.targetPrefix, job.contextPrefix, clock->now()};
}

void QNServiceComposer::noteUnavailableResult() {
    if (++unavailableStreak_ >= kUnavailableHoldStreak && !holdUntil_) {
        holdUntil_ = clock->now() + kUnavailableHold;
    }
}

void QNServiceComposer::maybeDispatchSentencePolish(QNBoundaryEvent boundary) {
    followUps.polishBoundaries.push_back(boundary);
    const Instant now = clock->now();
    auto job = sentencePolishJob(boundary);
    const std::string shape = " boundary=" + std::string(boundaryName(boundary)) +
                              " input_len=" + std::to_string(job.targetPrefix.size()) +
                              " input_hash=" + hashText(job.targetPrefix);
    const auto skip = [&](std::string_view reason) {
        log(QNKindLog::skipped, " state=skipped reason=" + std::string(reason) + shape,
            job.targetPrefix);
        if (!correctionTask) {
            status.set(QNStateComposer::idle());
        }
    };
    if (text::isBlank(job.targetPrefix)) {
        return skip("blank-target");
    }
    if (lastRefusal_ && now - lastRefusal_->at < kRefusalMemory &&
        lastRefusal_->target == job.targetPrefix && lastRefusal_->context == job.contextPrefix) {
        return skip("recently-rejected");
    }
    const auto key = dedupeKey(job);
    // Keys of decisions no longer among the recent ones are forgotten.
    std::erase_if(jobKeys_, [&](const auto& entry) {
        return std::ranges::none_of(recentDecisions.get(),
                                    [&](const auto& d) { return d.id == entry.first; });
    });
    for (const auto& [id, jobKey] : jobKeys_) {
        if (!(jobKey == key)) {
            continue;
        }
        for (const auto& decision : recentDecisions.get()) {
            const auto kind = decision.status.kind;
            if (decision.id == id && (kind == QNCorrectionDecisionStatus::Kind::accepted ||
                                      kind == QNCorrectionDecisionStatus::Kind::noChange)) {
                return skip("duplicate");
            }
        }
    }
    if (recentDecisionsCover(job, key, now)) {
        return skip("covered");
    }
    if (sentencePolishCount_ >= kSentencePolishCap) {
        return skip("session-cap");
    }
    if (holdUntil_ && now < *holdUntil_) {
        return skip("unavailable-hold");
    }
    holdUntil_.reset();

    if (polishRerouting) {
        const auto route =
            polishRerouting(static_cast<std::int64_t>(text::characterCount(job.targetPrefix)));
        if (!route.empty()) {
            log(QNKindLog::info, " " + route);
        }
    }
    ++sentencePolishCount_;
    log(QNKindLog::info, " state=scheduled" + shape);
    if (pendingDispatchTask) {
        pendingDispatchTask->cancel();
    }
    pendingCorrectionJob = job;
    if (boundary == QNBoundaryEvent::commit) {
        pendingDispatchTask.reset();
        startCorrectionRun(std::move(job));
        return;
    }
    pendingDispatchTask.emplace();
    pendingDispatch(this, clock, std::chrono::milliseconds(delays.correctionDebounceMs),
                    std::move(job), FlowGuard(lifetime_, pendingDispatchTask->stop.get_token()));
}

QCoro::Task<> QNServiceComposer::pendingDispatch(QNServiceComposer* service,
                                                 std::shared_ptr<Executor> clock,
                                                 std::chrono::milliseconds delay,
                                                 QNModelCorrectionJob job, FlowGuard guard) {
    co_await sleepFor(*clock, delay, guard.stop());
    if (guard.ended()) {
        co_return;
    }
    service->pendingDispatchTask.reset();
    service->startCorrectionRun(std::move(job));
}

}  // namespace ravlin
