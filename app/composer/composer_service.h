#pragma once

// The Composer service: the Composer's buffers, its log of applied corrections and its recent
// decisions, and the operations that keep them consistent when corrections land, streams are
// abandoned and decisions finish. Edit intake, dispatch, the job run and streaming add their own
// fields and operations to this class. Everything here runs on the main sequence; the executor
// is the service's clock.

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/composer/composer_text_view.h"
#include "app/composer/correction_buffers.h"
#include "app/composer/correction_event.h"
#include "app/composer/correction_issue.h"
#include "app/composer/correction_job.h"
#include "app/composer/stream_apply_state.h"
#include "app/editor/spell_check_filter.h"
#include "app/log/event_logger.h"
#include "core/engine/correction_engine.h"
#include "core/records/boundary.h"
#include "core/records/chunk.h"
#include "core/records/decision.h"
#include "core/rules/local_rule.h"
#include "core/rules/tier_policy.h"
#include "core/support/async.h"
#include "core/support/executor.h"
#include "core/support/observable.h"

namespace ravlin {

// What makes two polish jobs the same request: scope, range, texts and prompt policy.
struct QNDecisionDedupeKey {
    QNCorrectionDecisionScope scope = QNCorrectionDecisionScope::sentencePolish;
    text::Utf16Range canonicalRange;
    std::uint64_t inputHash = 0;
    std::optional<std::uint64_t> contextHash;  // none for an empty context
    std::optional<std::string> policyVersion;

    friend bool operator==(const QNDecisionDedupeKey&, const QNDecisionDedupeKey&) = default;
};

// What the Composer is doing, as its views show it.
struct QNStateComposer {
    enum class Kind { error, idle, waitingForPause, correcting, applied, noChange };

    Kind kind = Kind::idle;
    std::string message;  // error only

    [[nodiscard]] static QNStateComposer error(std::string message) {
        return {Kind::error, std::move(message)};
    }
    [[nodiscard]] static QNStateComposer idle() { return {Kind::idle, {}}; }
    [[nodiscard]] static QNStateComposer waitingForPause() { return {Kind::waitingForPause, {}}; }
    [[nodiscard]] static QNStateComposer correcting() { return {Kind::correcting, {}}; }
    [[nodiscard]] static QNStateComposer applied() { return {Kind::applied, {}}; }
    [[nodiscard]] static QNStateComposer noChange() { return {Kind::noChange, {}}; }

    // Same case and, for error, the same message.
    friend bool operator==(const QNStateComposer& a, const QNStateComposer& b) {
        return a.kind == b.kind && (a.kind != Kind::error || a.message == b.message);
    }
};

// A task the service started: cancelling it asks it to stop, and it stops at its next wait.
struct QNComposerTask {
    std::stop_source stop;

    void cancel() { stop.request_stop(); }
};

// The Composer's waits, in milliseconds.
struct QNComposerCorrectionDelays {
    std::int64_t correctionDebounceMs = 120;
    std::int64_t idleBackstopMs = 1500;
    std::int64_t liveIdleBackstopMs = 500;
};

class QNServiceComposer {
  public:
    // What the service is made with. The live engine and its idle wait are held for the live
    // path; sentence polish and the whole-text correction of seeded text use the polish engine.
    struct Construction {
        std::shared_ptr<QNComposerTextView> controller;
        std::shared_ptr<QNServiceCorrectionGenerating> liveEngine;
        std::shared_ptr<QNServiceCorrectionGenerating> polishEngine;
        std::shared_ptr<QNServiceSpellCheckProviding> spellChecker;
        std::shared_ptr<Executor> clock;
        // Where the engine calls run; they block.
        std::shared_ptr<WorkRunner> workRunner;
        std::shared_ptr<QNLoggerEvent> sessionLog;
        QNComposerCorrectionDelays delays;
        // Told the character count of each polish target before it goes out; answers the route
        // line to log (empty: nothing to log).
        std::function<std::string(std::int64_t)> polishRerouting;
        std::function<void(const std::optional<QNModelCorrectionIssue>&)> correctionIssueHandler;
    };

    static constexpr std::size_t kEventLimit = 100;
    static constexpr std::size_t kRecentDecisionLimit = 200;
    static constexpr std::chrono::milliseconds kCoverageWindow{10'000};
    static constexpr std::chrono::milliseconds kSleepStep{5};
    static constexpr std::string_view kPolicyVersion = "composer-v2";

    static constexpr std::chrono::milliseconds kIdleBackstop{1500};
    static constexpr std::string_view kLocalPolicyVersion = "composer-v2-local";

    explicit QNServiceComposer(std::shared_ptr<Executor> clock);
    // Installs the edit intake on the controller; empty buffers, liveTyping, instant local fixes
    // on.
    explicit QNServiceComposer(Construction parts);
    // Stops the tasks still running; they end at their next resume without touching anything.
    ~QNServiceComposer();
    QNServiceComposer(const QNServiceComposer&) = delete;
    QNServiceComposer& operator=(const QNServiceComposer&) = delete;

    // The Composer's text view; none reads as an empty text and ignores writes.
    std::shared_ptr<QNComposerTextView> controller;
    QNCorrectionBuffers buffers;
    // Applied corrections, oldest first, at most kEventLimit.
    Observable<std::vector<QNCorrectionEvent>> events;
    // Recorded decisions, each followed by its descendants, oldest first, at most
    // kRecentDecisionLimit.
    Observable<std::vector<QNCorrectionDecision>> recentDecisions;
    // The stream being shown in place of its range, if any.
    std::shared_ptr<QNStreamApplyState> activeStreamApply;
    // The view's text after the service's last own write.
    std::u16string lastLocalVisibleText;
    std::u16string sealedContextPrefix;
    std::optional<std::u16string> lastWholeAppliedPrefix;
    std::shared_ptr<QNServiceCorrectionGenerating> polishEngine;
    std::shared_ptr<QNServiceSpellCheckProviding> degradationSpellChecker;
    const std::shared_ptr<Executor> clock;
    std::shared_ptr<QNServiceCorrectionGenerating> liveEngine;
    std::shared_ptr<WorkRunner> workRunner;
    std::shared_ptr<QNLoggerEvent> sessionLog;
    QNComposerCorrectionDelays delays;
    std::function<std::string(std::int64_t)> polishRerouting;
    QNChunkLedger chunkLedger{16};
    Observable<QNComposerCorrectionPolicy> correctionPolicy{QNComposerCorrectionPolicy::liveTyping};
    bool instantLocalFixesOnUserEdits = true;
    // The settled text before the active chunk.
    std::u16string lastAppliedPrefix;
    // Set when corrections are unavailable: the reason of the last unavailable result.
    Observable<std::optional<std::string>> correctionUnavailableWarning;

    // --- Edit intake
    // A user edit, reported from inside the view's change: in-flight work is superseded, the
    // edit recorded and the dirty span grown. Writes nothing to the view.
    void onUserEdit(const QNUserEdit& edit);
    // The turn after an edit: resync when the buffers lost the view, the instant local pass,
    // then the rescheduling.
    void onUserType();
    // The instant local pass over the words finished since the known applied prefix, recorded;
    // with `wordFinished` the word at the caret too (the text goes out as it stands).
    void applyLocalFixesToWholeText(std::string_view source, bool wordFinished = false);
    // Counts the user edits the service took in; stale checks compare it.
    [[nodiscard]] std::int64_t userEditCount() const { return userEditCount_; }
    // --- Dispatch
    static constexpr std::int64_t kSentencePolishCap = 200;
    static constexpr std::chrono::milliseconds kRefusalMemory{10'000};
    static constexpr std::chrono::milliseconds kUnavailableHold{60'000};
    static constexpr std::int64_t kUnavailableHoldStreak = 3;
    // The sentence-polish job for a boundary: from the end of the known applied prefix to the
    // end of the canonical text, less the tail after the last sentence end at a punctuation or
    // paragraph boundary; the context is everything before it.
    [[nodiscard]] QNModelCorrectionJob sentencePolishJob(QNBoundaryEvent boundary) const;
    // The answer for this target and context was refused: the same request is skipped for a
    // while, and the target's finished sentences stay as typed: the settled prefix moves past
    // them, so no later request carries them and no later answer replaces them. A piece that
    // ends at a comma is asked about again with the rest of its sentence.
    void rememberRefusal(const QNModelCorrectionJob& job);
    // The request for this target and context failed (the service, or every route, could not
    // answer): the same request is skipped for a while too, so a commit right after does not
    // wait for it to fail again.
    void rememberFailure(const QNModelCorrectionJob& job);
    // One more unavailable result in a row; the third starts the hold.
    void noteUnavailableResult();
    [[nodiscard]] std::int64_t sentencePolishCount() const { return sentencePolishCount_; }
    [[nodiscard]] std::optional<Instant> unavailableHoldUntil() const { return holdUntil_; }
    // Starts the run of a job that passed the gate: the polish engine's answer, streamed into
    // place partial by partial, then applied, refused or rolled back. Replaces a running one.
    void startCorrectionRun(QNModelCorrectionJob job);
    // Corrections applied this session (an animated apply counts its steps, at least one).
    [[nodiscard]] std::int64_t appliedCorrectionCount() const { return appliedCorrectionCount_; }
    // Stops every task, the job and the stream; partial text on screen is rolled back.
    void cancelCorrections(std::string_view reason);

    // --- For the shell
    // A new text in the view: work cancelled, buffers, events and decisions start again, the
    // local fixes run over it (`textFinished`: its last word too, a whole field's text that
    // nobody goes on typing). With `initialWholeCorrection` under existingText on a text not
    // blank, the whole text is corrected at once; its end sets the quiet baseline.
    void begin(std::u16string existingText, bool initialWholeCorrection,
               QNPlacementCaret caretPlacement, QNComposerCorrectionPolicy policy,
               bool textFinished = false);
    // An empty view and empty buffers; nothing scheduled, nothing remembered of the old text.
    // With `beginFollows` the view's text is left for the begin() made right after, which
    // writes only what differs: a draft the view still holds is not written again.
    enum class ViewText { emptied, beginFollows };
    void reset(ViewText view = ViewText::emptied);
    // Polishes the unfinished text (unless a run is going) and waits for it until `timeout`;
    // answers the view's text to commit.
    QCoro::Task<std::u16string> polishBeforeCommit(std::chrono::milliseconds timeout);
    // True once nothing is scheduled, running or streaming; false when stopped or past the
    // deadline (none: no deadline).
    QCoro::Task<bool> waitUntilSettled(std::optional<std::chrono::milliseconds> timeout,
                                       std::stop_token stop = {});
    // The log session's identifier ("-" in log lines when none).
    void setLogSessionID(std::optional<std::string> sessionID);
    [[nodiscard]] bool hasQuietExistingTextBaseline() const;

    // --- Scheduling state
    // Writing the value it already has tells nobody.
    Observable<QNStateComposer> status{QNStateComposer::idle()};
    std::optional<QNComposerTask> pendingDispatchTask;
    std::optional<QNComposerTask> idleBackstopTask;
    // Set while a correction runs.
    std::optional<QNComposerTask> correctionTask;
    std::optional<QNModelCorrectionJob> pendingCorrectionJob;
    // What the user changed since the last correction.
    std::optional<QNDirtySpan> dirtySpan;
    std::optional<std::u16string> existingTextQuietBaseline;
    bool existingTextInitialWholeDidComplete = false;
    // Decides the tier of each local rule application.
    std::shared_ptr<const TierPolicy> tierPolicy;
    QNChunkBoundaryDetector boundaryDetector;

    // What the follow-up steps of an edit were handed. The sentence-polish gate, the idle path
    // and the applied-prefix refresh only record here until they are built.
    struct FollowUps {
        std::int64_t appliedPrefixRefreshes = 0;
        std::vector<QNBoundaryEvent> polishBoundaries;
        std::int64_t idlePathRuns = 0;
        std::vector<QNModelCorrectionJob> startedRuns;
    };
    FollowUps followUps;

    // --- Correction issues
    Observable<std::optional<QNModelCorrectionIssue>> correctionIssue;
    // Told of every change made through setCorrectionIssue, and of nothing else.
    std::function<void(const std::optional<QNModelCorrectionIssue>&)> correctionIssueHandler;
    // Finished corrections in a row whose hosted attempt fell back or failed.
    Observable<std::int64_t> consecutiveHostedFallbackDispatchCount{0};

    // A different issue is stored and handed to the handler; an equal one changes nothing.
    void setCorrectionIssue(std::optional<QNModelCorrectionIssue> issue);
    // The title, menu line and detail for a cloud failure message.
    [[nodiscard]] static QNCloudFailureTexts cloudFailureTexts(std::string_view message,
                                                               bool isPersistent);
    // The menu's issue for a cloud failure message: a connection issue of the online route with
    // those texts, critical.
    [[nodiscard]] static QNModelCorrectionIssue cloudIssue(std::string_view message,
                                                           bool isPersistent);
    // Why a finished correction's answer was not used, in the words of whoever refused or
    // failed it (the first route's, when another took over): its failure text up to the first
    // ": ", which is where a service's, a tool's or the platform's own words would begin. One
    // line, at most 80 characters; none for a used answer.
    [[nodiscard]] static std::optional<std::string> failureCause(
        const QNModelCorrectionResult& result);
    // Sets, clears or leaves the issue after one finished correction.
    void updateCorrectionIssue(const QNModelCorrectionResult& result);
    // What is left of the wait the polish route asked for (Retry-After); none when it may be
    // asked now.
    [[nodiscard]] std::optional<std::chrono::seconds> routeWait() const;
    // The issue says the route is waiting before it tries again.
    void showRouteWaiting(std::chrono::seconds left);
    // The reason of the first decision, the given one or a descendant, in which the hosted
    // route was unavailable or failed.
    [[nodiscard]] static std::optional<std::string> firstHostedFailureReason(
        const QNCorrectionDecision& decision);

    // --- Local fix records and edit follow-up
    // Writes each eager application into the canonical text that `range` holds, then records
    // it (decision and event). Applications of other tiers, or of rules kept for models, are
    // left out.
    void applyEagerLocalApplications(const LocalRuleEvaluation& evaluation, text::Utf16Range range);
    // Records the tentative and streaming applications of an evaluation of the text that starts
    // at canonical offset `offset`, without touching the text.
    void recordTentativeLocalApplications(const LocalRuleEvaluation& evaluation,
                                          std::int64_t offset);
    // The text after the last sentence end (a line feed, or ".", "!" or "?" that ends the text
    // or stands before whitespace); empty when there is none.
    [[nodiscard]] static std::u16string textAfterLastSentenceEnd(std::u16string_view text);
    // Not empty and nothing but letters (and marks).
    [[nodiscard]] static bool isLettersOnly(std::u16string_view character);
    // The UTF-16 offset of the word that ends the text when it has at least 4 characters, does
    // not start the text and the spell checker flags it.
    [[nodiscard]] std::optional<std::int64_t> misspelledLastWordOffset(std::u16string_view text);
    // After an edit: refresh the applied prefixes, drop what was scheduled, then either hand a
    // boundary to the sentence-polish gate, start the idle wait, or go idle.
    void rescheduleAfterEdit();
    // The boundary the dirty span ends at, else idle once kIdleBackstop has passed since its
    // last edit; none without a dirty span.
    [[nodiscard]] std::optional<QNBoundaryEvent> evaluateBoundary(Instant now) const;
    // What is left of kIdleBackstop since the dirty span's last edit, rounded up to whole
    // milliseconds; the whole wait when nothing is left or there is no span.
    [[nodiscard]] std::int64_t idleBackstopDelayMs() const;
    void maybeDispatchSentencePolish(QNBoundaryEvent boundary);
    void runIdlePath();
    void refreshAppliedPrefixes();

    // --- Stream apply and the event log
    // The state of a stream about to replace `canonicalRange`: none when the range does not map
    // to a visible range inside the view's text (or the mapped range cuts a surrogate pair).
    [[nodiscard]] std::shared_ptr<QNStreamApplyState> makeStreamApplyState(
        text::Utf16Range canonicalRange);
    // Puts back the text that stood in the stream's range before the stream, when partial text
    // is on screen, and marks the stream's events rolled back. When the range no longer maps
    // into the view's text, the view gets the canonical text and a fresh linear projection.
    void syncTextView(QNStreamApplyState& state);
    // Live streamed events (tier streaming, source modelStream) touching `range` are rolled back.
    void markStreamEventsRolledBack(text::Utf16Range range);
    // Live events of tier streaming touching `range` are superseded by `newEventID`; returns
    // their ids in log order.
    std::vector<Uuid> supersedeStreamingEvents(text::Utf16Range range, const Uuid& newEventID);
    // Live events touching `range` are superseded by `newEventID`; returns their ids.
    std::vector<Uuid> supersedeLiveEvents(text::Utf16Range range, const Uuid& newEventID);
    // Decisions that applied `superseded` learn that `newEventID` replaced it.
    void recordSupersession(const Uuid& superseded, const Uuid& newEventID);
    // Keeps the newest kEventLimit events.
    void trimEvents();
    // The apply paths' calling order: a new id, supersession of what the event's range touches
    // (streamed partial text supersedes only streaming events), the event appended live, the log
    // trimmed. Returns the event as recorded.
    QNCorrectionEvent recordAppliedEvent(QNCorrectionEvent event, bool streamedPartial);
    // The same without handing the event back.
    void appendAppliedEvent(QNCorrectionEvent event, bool streamedPartial);
    // The user kept a stream's text by editing inside it: `event` (source userEdit) supersedes
    // the live streamed events of its decision and is appended like an applied one.
    QNCorrectionEvent recordUserAcceptedStream(QNCorrectionEvent event);

    // --- Decisions
    // Links the decision and each descendant to the events it produced.
    void linkEvents(QNCorrectionDecision& decision) const;
    // Keeps the newest kRecentDecisionLimit decisions.
    void trimRecentDecisions();
    // A finished decision: linked, appended with its descendants, trimmed.
    void recordDecision(QNCorrectionDecision decision);
    [[nodiscard]] QNDecisionDedupeKey dedupeKey(const QNModelCorrectionJob& job) const;
    // Whether decisions accepted (or unchanged) by a model within the last 10 seconds, under the
    // key's policy, tile the job's whole target range.
    [[nodiscard]] bool recentDecisionsCover(const QNModelCorrectionJob& job,
                                            const QNDecisionDedupeKey& key, Instant now) const;
    // The longest (in characters) of the sealed context prefix and the last whole-applied
    // prefix that begins `text`; the sealed one on a tie; empty when neither does.
    [[nodiscard]] std::u16string knownAppliedPrefix(std::u16string_view text) const;
    // "handled_by={...}" or "handled_by=unknown", plus " fallback_happened={... -> ...}". A
    // route that gave no answer (unavailable, failed, refused) handled nothing: the local rules
    // are named instead.
    [[nodiscard]] static std::string correctionNotesSummary(const QNCorrectionDecision& decision);
    // " apply_outcome=fallback-applied via=fallback" when the fallback's answer was accepted.
    [[nodiscard]] static std::string logFallbackApplied(const QNCorrectionDecision& decision);

    // --- Checks and waits
    // True when the answer swaps exactly one misspelled word of the original for another
    // misspelled word: the answer must be refused.
    [[nodiscard]] bool isSingleWordDegradation(std::u16string_view original,
                                               std::u16string_view corrected);
    // One short sleep toward `deadline` on the clock: at most kSleepStep, never past the
    // deadline, none when it has passed. A stop request ends the step normally.
    [[nodiscard]] QCoro::Task<> sleepStep(Instant deadline, std::stop_token stop = {}) const;

  private:
    // One local rule application recorded: its decision, then its event over (L, n) shown as
    // (L, m).
    void recordLocalApplication(const LocalRuleApplication& application, ConfidenceTier tier,
                                std::int64_t location, std::int64_t length);
    static QCoro::Task<> idleBackstop(QNServiceComposer* service, std::shared_ptr<Executor> clock,
                                      std::chrono::milliseconds delay, FlowGuard guard);
    [[nodiscard]] std::u16string viewString() const;
    // After one of the service's own writes: remembers the view's text and straightens a
    // projection whose visible length no longer matches it.
    void noteOwnWrite();
    // The buffers start again from the view's text.
    void resyncToView();
    // "sid=..." and, while a request is in flight, " req=...".
    [[nodiscard]] std::string logPrefix() const;
    void log(QNKindLog kind, const std::string& message,
             std::optional<std::u16string> detail = std::nullopt) const;
    // A stream whose partial text was on screen when a user edit cancelled it. The edits, in the
    // view's coordinates, are taken in on the turn after them, once the view holds them: the
    // stream's range gets the text that stood there before (the edits kept where they were
    // made), or, when an edit landed inside the streamed text, the user keeps what they see.
    struct AbandonedStream {
        std::shared_ptr<QNStreamApplyState> state;
        // Where the partial text stood in the view at the first edit.
        text::Utf16Range span;
        std::optional<QNCorrectionDecision> decision;
        std::vector<QNUserEdit> edits;
    };
    // Stops the tasks, the job and the stream without touching the view; true when anything was
    // in flight. The run's decision is recorded as skipped for `reason`, unless a stream with
    // partial text on screen goes to `abandoned` (with the decision) to be settled later.
    bool stopWorkInFlight(std::string_view reason,
                          std::optional<AbandonedStream>* abandoned = nullptr);
    // The abandoned stream's edits taken in, its range rolled back around them or kept, its
    // events and decision recorded as it went.
    void settleAbandonedStream();
    // A user edit recorded in the buffers (ranges as the canonical text has them), the dirty
    // span grown over it and the chunk ledger moved.
    void takeInEdit(const QNUserEdit& edit);
    void growDirtySpan(text::Utf16Range range, std::int64_t inserted);
    // The dirty span moved past an edit that leaves nothing to polish (whole sentences taken
    // out); gone when nothing of it is left.
    void shiftDirtySpan(text::Utf16Range range, std::int64_t inserted);
    // The applied prefixes without whole sentences taken out of them: what stood after those
    // sentences stays polished.
    void takeSentencesOutOfAppliedPrefixes(text::Utf16Range range);
    // A stopped run's decision, finished as skipped for `reason` with `output`, recorded.
    void recordStoppedDecision(QNCorrectionDecision decision, std::string_view reason,
                               std::u16string output);
    // Where a stream's text stands in the view, when the view still shows it there.
    [[nodiscard]] std::optional<text::Utf16Range> shownStreamSpan(
        const QNStreamApplyState& state) const;
    // --- Work in flight beside the user's typing
    // The job going out: the run's, else the pending dispatch's; none when nothing is.
    [[nodiscard]] const QNModelCorrectionJob* jobInFlight() const;
    // Whether that job asks about the same text, in the same place, after the same context.
    [[nodiscard]] bool isJobInFlight(const QNModelCorrectionJob& job) const;
    // Where canonical `range` shows in `view`: the view holds the canonical text before the
    // range and after it, and what stands between them shows the range (the typed text, or a
    // stream's text). None when the view does not hold both.
    [[nodiscard]] std::optional<text::Utf16Range> visibleSpanOf(text::Utf16Range range,
                                                                std::u16string_view view) const;
    // The edit in canonical offsets when it lands wholly after the text going out and does not
    // continue its last word; none when it changes that text or comes before it (the work is
    // then superseded), or when nothing is going out.
    [[nodiscard]] std::optional<QNUserEdit> editBesideWorkInFlight(const QNUserEdit& edit) const;
    // Takes in an edit beside the work in flight, which goes on; false, doing nothing, when the
    // edit supersedes that work.
    bool takeInEditBesideWorkInFlight(const QNUserEdit& edit);
    // The projection while a stream shows `shownLength` units for its range: straight outside it.
    void projectStream(std::int64_t shownLength);
    // The same from where the view shows the stream's range now; false when it does not.
    bool alignStreamProjection();
    std::vector<Uuid> supersedeEvents(text::Utf16Range range, const Uuid& newEventID,
                                      bool streamingOnly);
    // recordSupersession for each of `superseded`, in one walk over the decisions.
    void recordSupersessions(const std::vector<Uuid>& superseded, const Uuid& newEventID);

    // One correction run: what it sent and what its stream has done.
    struct Run {
        std::int64_t number = 0;
        QNModelCorrectionJob job;
        // The user edits taken in when it began (edits after its text leave it going).
        std::int64_t editsAtStart = 0;
        // The newest partial text not yet shown.
        std::optional<std::u16string> waitingPartial;
        bool animating = false;
        // An animated write was refused: the run's result is stale.
        bool refused = false;
        std::string decisionID;
        // The decision as it went out, recorded should the run be stopped.
        std::optional<QNCorrectionDecision> decision;
    };
    static QCoro::Task<> correctionRun(QNServiceComposer* service, std::shared_ptr<Run> run,
                                       FlowGuard guard);
    // The steps of a run. As it goes out: the wave over its sentence, its chunk and its decision
    // (the run's), the chunk returned.
    QNCorrectionChunk beginRun(Run& run, const QNDecisionDedupeKey& key);
    // Once answered: where its sentence stands in the view, while it still stands as it went out
    // (or as the stream shows it) and no animated write was refused.
    [[nodiscard]] std::optional<text::Utf16Range> answeredSpan(const Run& run,
                                                               const QNModelCorrectionJob& job);
    // What the answer became, each giving the log's state word: rolled back as stale; refused
    // as a one-word degradation; applied over `span` and recorded; an answer that cannot be
    // used (failed, unavailable, rejected, skipped) settled.
    std::string dropAnswer();
    std::string refuseDegradation(const QNModelCorrectionJob& job, QNCorrectionDecision& decision);
    std::string recordAnswer(const QNModelCorrectionJob& job, const std::u16string& output,
                             text::Utf16Range span, std::int64_t appliedCount,
                             const QNCorrectionDecision& decision, const Uuid& chunkID,
                             std::uint64_t inputHash);
    std::string settleUnusedAnswer(const QNModelCorrectionJob& job,
                                   const QNModelCorrectionResult& result);
    // The run's end: its decision recorded, the issue updated, the log line, the dirty span
    // moved past the sentence, the next run scheduled.
    void finishRun(const Run& run, const QNModelCorrectionJob& job, QNModelCorrectionResult& result,
                   const QNCorrectionDecision& decision, std::string state);
    // The dirty span no longer holds the attempted sentence; what follows it stays, moved by
    // `shift` (the answer's change of length).
    void moveDirtySpanPast(const QNModelCorrectionJob& job, std::int64_t shift);
    static QCoro::Task<> showPartials(QNServiceComposer* service, std::shared_ptr<Run> run,
                                      FlowGuard guard);
    void receivePartial(std::int64_t runNumber, std::u16string partial);
    // The visible span of the stream's range still holds what the run put or found there.
    [[nodiscard]] std::optional<text::Utf16Range> streamSpanIfIntact() const;
    void rollBackStream();

    std::shared_ptr<Run> run_;
    std::optional<AbandonedStream> abandonedStream_;
    // A run's prefix wave may still be on screen.
    bool waveShown_ = false;
    std::int64_t runCounter_ = 0;
    std::int64_t appliedCorrectionCount_ = 0;
    std::int64_t userEditCount_ = 0;
    bool needsResync_ = false;
    std::optional<std::string> logSessionID_;
    std::optional<std::string> requestID_;
    std::optional<QNBoundaryEvent> pendingPolishBoundary_;
    // The last edit was made before a chunk's end that stood already (inside a finished
    // sentence): its boundary waits for the pause, as new typing does.
    bool lastEditInsideSentence_ = false;
    std::int64_t sentencePolishCount_ = 0;
    std::int64_t requestCounter_ = 0;
    std::int64_t unavailableStreak_ = 0;
    std::optional<Instant> holdUntil_;
    // The last request refused or failed: the same one is skipped for kRefusalMemory.
    struct Refusal {
        std::u16string target;
        std::u16string context;
        Instant at;
        std::string_view reason;  // "recently-rejected" or "recently-failed"
    };
    std::optional<Refusal> lastRefusal_;
    // The dedupe key of each dispatched job, by its decision's id, while the decision is among
    // the recent ones.
    std::vector<std::pair<std::string, QNDecisionDedupeKey>> jobKeys_;
    static QCoro::Task<> pendingDispatch(QNServiceComposer* service,
                                         std::shared_ptr<Executor> clock,
                                         std::chrono::milliseconds delay, QNModelCorrectionJob job,
                                         FlowGuard guard);
    // Expires when the service goes, so its tasks know.
    std::shared_ptr<const int> lifetime_ = std::make_shared<const int>(0);
};

namespace composer {

// The edit distance between two texts in UTF-16 code units (insertions, deletions and
// substitutions cost 1), or `limit` when it is at least `limit`. Two rows; stops as soon as the
// limit is certain.
[[nodiscard]] std::int64_t boundedEditDistance(std::u16string_view a, std::u16string_view b,
                                               std::int64_t limit);

// Whether `edit` of `text` takes out whole sentences: nothing is typed, it starts where a
// sentence starts (the text's start, or after a sentence's end and the space after it) and what
// it takes ends at a sentence's end ("." "!" "?" or a line break, and the space after it).
[[nodiscard]] bool deletesWholeSentences(const QNUserEdit& edit, std::u16string_view text);

}  // namespace composer

}  // namespace ravlin
