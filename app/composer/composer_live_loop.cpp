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

// A mark that ends a chunk: a sentence's end, a line break, a comma or a semicolon.
bool isChunkMark(char16_t unit) {
    return unit == u'.' || unit == u'!' || unit == u'?' || unit == u';' || unit == u',' ||
           unit == u'\n';
}

bool holdsChunkMark(std::u16string_view text) {
    return std::ranges::any_of(text, isChunkMark);
}

bool endsASentence(std::u16string_view text) {
    const std::u16string trimmed = text::trimmed(text);
    return !trimmed.empty() && (trimmed.back() == u'.' || trimmed.back() == u'!' ||
                                trimmed.back() == u'?' || text.back() == u'\n');
}

}  // namespace

bool composer::deletesWholeSentences(const QNUserEdit& edit, std::u16string_view text) {
    const auto& range = edit.range;
    if (!edit.replacement.empty() || range.length <= 0 || range.location < 0 ||
        range.end() > utf16Length(text)) {
        return false;
    }
    const auto before = text.substr(0, static_cast<std::size_t>(range.location));
    const auto taken = text.substr(static_cast<std::size_t>(range.location),
                                   static_cast<std::size_t>(range.length));
    return (text::isBlank(before) || endsASentence(before)) && endsASentence(taken);
}

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
    // While a stream shows its text the projection is straight outside the stream's range only.
    if (activeStreamApply && alignStreamProjection()) {
        return;
    }
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

bool QNServiceComposer::stopWorkInFlight(std::string_view reason,
                                         std::optional<AbandonedStream>* abandoned) {
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
    std::optional<QNCorrectionDecision> decision;
    if (run_) {
        decision = std::move(run_->decision);
        run_.reset();
        waveShown_ = true;
    }
    if (activeStreamApply) {
        inFlight = true;
        auto state = std::move(activeStreamApply);
        if (state->currentReplacement != state->originalVisibleReplacement) {
            const auto span = shownStreamSpan(*state);
            if (abandoned && span) {
                *abandoned = AbandonedStream{std::move(state), *span, std::move(decision), {}};
                return true;
            }
            // Someone else's text stands where the stream wrote: it stays.
            markStreamEventsRolledBack(state->canonicalRange);
            needsResync_ = true;
        }
    }
    if (decision) {
        const std::u16string input = decision->input;
        recordStoppedDecision(std::move(*decision), reason, input);
    }
    return inFlight;
}

void QNServiceComposer::recordStoppedDecision(QNCorrectionDecision decision,
                                              std::string_view reason, std::u16string output) {
    const Instant now = clock->now();
    const std::string why(reason);
    decision.finish(std::move(output), QNModelCorrectionOutcome::skipped(why),
                    QNCorrectionDecisionStatus::skipped(why), {},
                    millisecondsBetween(decision.startedAt, now), std::nullopt, now);
    recordDecision(std::move(decision));
}

void QNServiceComposer::growDirtySpan(text::Utf16Range range, std::int64_t inserted) {
    text::Utf16Range grown{range.location, inserted};
    const std::u16string_view canonical = buffers.canonicalText;
    const auto part = [&](std::int64_t from, std::int64_t to) {
        from = std::clamp<std::int64_t>(from, 0, utf16Length(canonical));
        to = std::clamp<std::int64_t>(to, from, utf16Length(canonical));
        return canonical.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
    };
    if (dirtySpan) {
        const auto start = movedByEdit(dirtySpan->range.location, range, inserted, false);
        const auto end = movedByEdit(dirtySpan->range.end(), range, inserted, true);
        const auto from = std::min(start, grown.location);
        grown = {from, std::max(end, grown.end()) - from};
    }
    const auto length = utf16Length(buffers.canonicalText);
    grown.location = std::clamp<std::int64_t>(grown.location, 0, length);
    grown.length = std::clamp<std::int64_t>(grown.length, 0, length - grown.location);
    dirtySpan = QNDirtySpan{grown, buffers.revision, clock->now()};
    // A key that ends nothing, pressed before a mark that ends a chunk already.
    const auto editEnd = range.location + inserted;
    lastEditInsideSentence_ =
        !holdsChunkMark(part(range.location, editEnd)) && holdsChunkMark(part(editEnd, grown.end()));
}

void QNServiceComposer::shiftDirtySpan(text::Utf16Range range, std::int64_t inserted) {
    if (!dirtySpan) {
        return;
    }
    const auto start = movedByEdit(dirtySpan->range.location, range, inserted, false);
    const auto end = movedByEdit(dirtySpan->range.end(), range, inserted, false);
    if (end <= start) {
        dirtySpan.reset();
        return;
    }
    dirtySpan->range = {start, end - start};
}

void QNServiceComposer::takeSentencesOutOfAppliedPrefixes(text::Utf16Range range) {
    const std::u16string_view canonical = buffers.canonicalText;
    const auto takeOut = [&](std::u16string& prefix) {
        if (range.end() <= utf16Length(prefix) && canonical.starts_with(prefix)) {
            prefix.erase(static_cast<std::size_t>(range.location),
                         static_cast<std::size_t>(range.length));
        }
    };
    takeOut(lastAppliedPrefix);
    takeOut(sealedContextPrefix);
    if (lastWholeAppliedPrefix) {
        takeOut(*lastWholeAppliedPrefix);
    }
}

void QNServiceComposer::takeInEdit(const QNUserEdit& edit) {
    // Whole sentences taken out change nothing of the others: what was polished stays so, and
    // nothing new is left to polish.
    const bool sentencesOut = composer::deletesWholeSentences(edit, buffers.canonicalText);
    if (sentencesOut) {
        takeSentencesOutOfAppliedPrefixes(edit.range);
    }
    if (!replacing(buffers.authoredText, edit.range, u"") &&
        replacing(buffers.canonicalText, edit.range, u"")) {
        // A fix or an answer changed a length, so the typed text no longer lines up with the
        // corrected one: it starts again from the corrected text, as a resync would make it,
        // and the edit is taken in where it was made (a resync would lose it from the dirty
        // span, and with a stream on screen take the stream's text for the user's).
        buffers.authoredText = buffers.canonicalText;
    }
    if (!buffers.recordUserEdit(edit)) {
        needsResync_ = true;
    }
    if (sentencesOut) {
        shiftDirtySpan(edit.range, 0);
        lastEditInsideSentence_ = false;
    } else {
        growDirtySpan(edit.range, utf16Length(edit.replacement));
    }
    if (!needsResync_) {
        chunkLedger.applyCanonicalEdit(edit.range, edit.replacement, buffers.canonicalText);
    }
}

void QNServiceComposer::onUserEdit(const QNUserEdit& edit) {
    if (takeInEditBesideWorkInFlight(edit)) {
        // The next sentence typed while the last one is out: that one goes on.
        ++userEditCount_;
        existingTextQuietBaseline.reset();
        existingTextInitialWholeDidComplete = false;
        return;
    }
    std::optional<AbandonedStream> abandoned;
    if (stopWorkInFlight("superseded-by-input", abandonedStream_ ? nullptr : &abandoned)) {
        log(QNKindLog::skipped, " state=cancelled reason=superseded-by-input");
    }
    requestID_.reset();
    if (abandoned) {
        abandonedStream_ = std::move(abandoned);
    }
    ++userEditCount_;
    existingTextQuietBaseline.reset();
    existingTextInitialWholeDidComplete = false;
    if (abandonedStream_) {
        // The view still shows the stream's text; the edit is taken in once the stream is
        // settled.
        abandonedStream_->edits.push_back(edit);
        return;
    }
    takeInEdit(edit);
}

namespace {

// Whether an edit of `range` changes the text inside `span`: a non-empty range overlapping it,
// or an insertion strictly inside it (one at either end lands beside it).
bool landsInside(text::Utf16Range range, text::Utf16Range span) {
    if (range.length > 0) {
        return range.location < span.end() && span.location < range.end();
    }
    return span.location < range.location && range.location < span.end();
}

}  // namespace

void QNServiceComposer::settleAbandonedStream() {
    AbandonedStream abandoned = std::move(*abandonedStream_);
    abandonedStream_.reset();
    const QNStreamApplyState& state = *abandoned.state;
    const std::u16string& partial = state.currentReplacement;
    const std::u16string& original = state.originalVisibleReplacement;

    // Where the streamed text stands after each edit, and whether one landed inside it.
    text::Utf16Range span = abandoned.span;
    bool inside = false;
    for (const QNUserEdit& edit : abandoned.edits) {
        const auto delta = utf16Length(edit.replacement) - edit.range.length;
        if (inside || landsInside(edit.range, span)) {
            const auto start = std::min(span.location, edit.range.location);
            const auto end = std::max(span.end(), edit.range.end()) + delta;
            span = {start, end - start};
            inside = true;
        } else if (edit.range.end() <= span.location) {
            span.location += delta;
        }
    }
    const std::u16string view = viewString();
    const bool shown = !inside && span.end() <= utf16Length(view) &&
                       std::u16string_view(view).substr(static_cast<std::size_t>(span.location),
                                                        static_cast<std::size_t>(span.length)) ==
                           partial;

    if (inside) {
        // The user edited the streamed text as they saw it: it is theirs now. One event of the
        // user's takes the place of the stream's.
        buffers.reset(view);
        lastLocalVisibleText = view;
        chunkLedger.resetSealedChunks();
        for (const QNUserEdit& edit : abandoned.edits) {
            growDirtySpan(edit.range, utf16Length(edit.replacement));
        }
        span.length = std::clamp<std::int64_t>(span.length, 0, utf16Length(view) - span.location);
        QNCorrectionEvent event;
        event.id = Uuid::random();
        event.canonicalRange = span;
        event.visibleRangeAtApply = span;
        event.original = original;
        event.replacement = view.substr(static_cast<std::size_t>(span.location),
                                        static_cast<std::size_t>(span.length));
        event.tier = ConfidenceTier::eager;
        event.source = QNCorrectionEventSource::of(QNCorrectionEventSource::Kind::userEdit);
        event.createdAt = clock->now();
        if (abandoned.decision) {
            event.decisionID = abandoned.decision->id;
        }
        recordUserAcceptedStream(std::move(event));
        if (abandoned.decision) {
            recordStoppedDecision(std::move(*abandoned.decision), "superseded-by-input", partial);
        }
        return;
    }

    markStreamEventsRolledBack(state.canonicalRange);
    if (!shown) {
        // Someone else's text stands where the stream wrote: it stays, and the buffers follow it.
        resyncToView();
        for (const QNUserEdit& edit : abandoned.edits) {
            growDirtySpan(edit.range, utf16Length(edit.replacement));
        }
    } else {
        // The buffers take the text that stood in the range before the stream back, then each
        // edit where it falls once that text is back.
        if (!buffers.projection.applyVisibleReplacement(state.canonicalRange,
                                                        utf16Length(original))) {
            buffers.rebuildProjection(utf16Length(view) - utf16Length(partial) +
                                      utf16Length(original));
        }
        text::Utf16Range at = abandoned.span;
        const auto shift = utf16Length(original) - utf16Length(partial);
        for (QNUserEdit edit : abandoned.edits) {
            const auto delta = utf16Length(edit.replacement) - edit.range.length;
            if (edit.range.end() <= at.location) {
                at.location += delta;
            } else {
                edit.range.location += shift;
            }
            takeInEdit(edit);
        }
        const std::int64_t caret = controller ? controller->caretOffset() : 0;
        if (controller) {
            controller->replaceText(span, original,
                                    caret <= span.location ? caret
                                    : caret >= span.end()  ? caret + shift
                                                           : span.location + utf16Length(original));
        }
        noteOwnWrite();
        if (needsResync_ || buffers.canonicalText != lastLocalVisibleText) {
            resyncToView();
        }
    }
    if (abandoned.decision) {
        const std::u16string input = abandoned.decision->input;
        recordStoppedDecision(std::move(*abandoned.decision), "superseded-by-input", input);
    }
}

void QNServiceComposer::onUserType() {
    if (abandonedStream_) {
        settleAbandonedStream();
    }
    if (activeStreamApply) {
        alignStreamProjection();
    }
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

void QNServiceComposer::applyLocalFixesToWholeText(std::string_view source, bool wordFinished) {
    if (!controller) {
        return;
    }
    const std::u16string beforeCaret = controller->textBeforeCaret();
    std::u16string settled = knownAppliedPrefix(beforeCaret);
    // Where the settled prefix ends in the canonical text.
    auto offset = utf16Length(settled);
    if (const QNModelCorrectionJob* job = jobInFlight()) {
        // The text going out to a model is left as it was sent (or as its stream shows it):
        // only what follows it is fixed.
        const auto span = visibleSpanOf(job->targetRange, viewString());
        if (!span || span->end() > utf16Length(beforeCaret)) {
            noteOwnWrite();
            return;
        }
        if (span->end() > utf16Length(settled)) {
            settled = beforeCaret.substr(0, static_cast<std::size_t>(span->end()));
            offset = job->targetRange.end();
        }
    }
    // The segment the controller fixes: the finished words after the settled prefix.
    const std::u16string_view rest = std::u16string_view(beforeCaret).substr(settled.size());
    const std::u16string segment = wordFinished ? std::u16string(rest) : stablePrefixBoundary(rest);

    std::optional<LocalRuleEvaluation> evaluated;
    const auto result =
        controller->applyLocalFixesBeforeCaret(settled, QNModelLocalFixRules::all,
                                               TierPolicy::defaultPolicy(), &evaluated, wordFinished);
    if (result.didChange) {
        // The rules run once a keystroke: their run in the controller is the one recorded.
        const auto evaluate = wordFinished ? evaluateLocalFixesOfFinishedText : evaluateLocalFixes;
        const auto evaluation =
            evaluated && evaluated->input == segment
                ? std::move(*evaluated)
                : evaluate(segment, QNModelLocalFixRules::all, QNCorrectionStageID::unknown,
                           TierPolicy::defaultPolicy(), endOfTextBefore(settled));
        const bool held =
            std::u16string_view(buffers.canonicalText)
                .substr(std::min(buffers.canonicalText.size(), static_cast<std::size_t>(offset)))
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
    lastRefusal_ = Refusal{job.targetPrefix, job.contextPrefix, clock->now(), "recently-rejected"};
    const std::u16string_view canonical = buffers.canonicalText;
    const auto location =
        static_cast<std::size_t>(std::max<std::int64_t>(0, job.targetRange.location));
    if (location > canonical.size() || !canonical.substr(location).starts_with(job.targetPrefix)) {
        return;  // the text changed meanwhile: the refresh after the edit settles the prefixes
    }
    std::u16string finished =
        cutBackToSentenceEnd(canonical.substr(0, location + job.targetPrefix.size()), canonical);
    if (finished.size() > location && finished.size() > knownAppliedPrefix(canonical).size()) {
        sealedContextPrefix = std::move(finished);
    }
}

void QNServiceComposer::rememberFailure(const QNModelCorrectionJob& job) {
    lastRefusal_ = Refusal{job.targetPrefix, job.contextPrefix, clock->now(), "recently-failed"};
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
    // One request a sentence: the same text already going out is not sent again, and nothing
    // goes out while a run is out: its end looks for the next boundary.
    if (isJobInFlight(job) || (run_ && correctionTask)) {
        return;
    }
    if (text::isBlank(job.targetPrefix)) {
        return skip("blank-target");
    }
    // The same words asked about again (a commit takes the space typed after them too).
    if (lastRefusal_ && now - lastRefusal_->at < kRefusalMemory &&
        lastRefusal_->context == job.contextPrefix &&
        text::trimmed(lastRefusal_->target) == text::trimmed(job.targetPrefix)) {
        return skip(lastRefusal_->reason);
    }
    const auto key = dedupeKey(job);
    // Keys of decisions no longer among the recent ones are forgotten.
    std::erase_if(jobKeys_, [&](const auto& entry) {
        return std::ranges::none_of(recentDecisions.get(),
                                    [&](const auto& d) { return d.id == entry.first; });
    });
    // A duplicate is a request of this session whose answer was applied or found the text
    // unchanged; one that failed, or an earlier session's, says nothing about the text now.
    for (const auto& [id, jobKey] : jobKeys_) {
        if (!(jobKey == key)) {
            continue;
        }
        for (const auto& decision : recentDecisions.get()) {
            const auto kind = decision.status.kind;
            if (decision.id == id && decision.sessionID == logSessionID_ &&
                ((kind == QNCorrectionDecisionStatus::Kind::accepted &&
                  !decision.appliedEventIDs.empty()) ||
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
    // The route asked to be left alone for a while: nothing goes to it until then.
    if (const auto left = routeWait()) {
        showRouteWaiting(*left);
        return skip("retry-after");
    }

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
    // The job as it stands now: whole sentences taken out before it move it up.
    if (service->pendingCorrectionJob) {
        job = std::move(*service->pendingCorrectionJob);
    }
    service->startCorrectionRun(std::move(job));
}

}  // namespace ravlin
