#pragma once

// The owned composition session: it owns the draft of one composition and keeps a
// model-corrected version beside it. The owner replaces the draft as the user types; the session
// applies the owner's local fixes, waits a short delay (a shorter or longer one depending on
// whether the draft ends at a sentence or clause boundary), runs one model correction through an
// engine, applies its result only if the draft has not moved on, and reports every change
// through `onChange`. A commit corrects at once and waits, within a bound, for the outcome.
//
// Everything runs on the main sequence (`executor`): call the session there, and every owner
// function is called there. Engine calls run as jobs of the work runner and hand their results
// back through the executor. The session's own delayed work holds it weakly, so a session that
// its owner drops stops doing anything.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "core/engine/composition_session.h"
#include "core/services/composition_status.h"
#include "core/engine/correction_engine.h"
#include "core/services/privacy_log.h"
#include "core/records/boundary.h"
#include "core/records/result.h"
#include "core/support/executor.h"

namespace ravlin {

// Why a correction runs.
class QNOwnedCompositionCorrectionTrigger {
  public:
    enum class Kind { boundary, idle, commit };

    // Only terminator, paragraph and softPunctuation arise from a draft.
    [[nodiscard]] static QNOwnedCompositionCorrectionTrigger boundary(QNBoundaryEvent event) {
        return {Kind::boundary, event};
    }
    [[nodiscard]] static QNOwnedCompositionCorrectionTrigger idle() { return {Kind::idle, {}}; }
    [[nodiscard]] static QNOwnedCompositionCorrectionTrigger commit() { return {Kind::commit, {}}; }

    [[nodiscard]] Kind kind() const { return kind_; }
    // The event of a boundary trigger; absent for the others.
    [[nodiscard]] std::optional<QNBoundaryEvent> event() const {
        return kind_ == Kind::boundary ? std::optional(event_) : std::nullopt;
    }

    friend bool operator==(const QNOwnedCompositionCorrectionTrigger& a,
                           const QNOwnedCompositionCorrectionTrigger& b) {
        return a.kind_ == b.kind_ && (a.kind_ != Kind::boundary || a.event_ == b.event_);
    }

  private:
    QNOwnedCompositionCorrectionTrigger(Kind kind, QNBoundaryEvent event)
        : kind_(kind), event_(event) {}

    Kind kind_;
    QNBoundaryEvent event_;
};

// The answer of the owner's local fixes.
struct QNOwnedCompositionLocalCorrectionResult {
    std::u16string correctedText;
    bool didChange = false;

    [[nodiscard]] static QNOwnedCompositionLocalCorrectionResult unchanged(std::u16string text) {
        return {std::move(text), false};
    }
    [[nodiscard]] static QNOwnedCompositionLocalCorrectionResult changed(std::u16string text) {
        return {std::move(text), true};
    }

    // Texts compare by canonical equivalence.
    friend bool operator==(const QNOwnedCompositionLocalCorrectionResult& a,
                           const QNOwnedCompositionLocalCorrectionResult& b);
};

class QNOwnedCompositionSession : public std::enable_shared_from_this<QNOwnedCompositionSession> {
  public:
    using Trigger = QNOwnedCompositionCorrectionTrigger;
    using Engine = std::shared_ptr<QNServiceCorrectionGenerating>;
    // Picks the engine for a trigger; an empty answer means the default engine.
    using EngineForTrigger = std::function<Engine(const Trigger&)>;
    using ShouldRunCorrection = std::function<bool(const Trigger&)>;
    using LocalCorrection =
        std::function<QNOwnedCompositionLocalCorrectionResult(const std::u16string&)>;
    using ContextBefore = std::function<std::optional<std::u16string>()>;
    // Waits `delay`, then calls `resume` once, on the main sequence. `cancelled` is stopped when
    // the waiting correction is cancelled; the sleep may then resume at once or wait out the
    // delay (the session checks for cancellation only after it resumes).
    using Sleep = std::function<void(std::chrono::nanoseconds delay, std::stop_token cancelled,
                                     std::function<void()> resume)>;
    using OnChange = std::function<void(const QNModelCompositionSnapshot&)>;
    using SnapshotHandler = std::function<void(const QNModelCompositionSnapshot&)>;

    // How often a snapshot wait looks whether the pending work is done.
    static constexpr std::chrono::milliseconds kSnapshotPollInterval{10};
    // Characters that must precede a closing punctuation mark before it counts as a boundary.
    static constexpr std::int64_t kMinimumCharactersBeforeBoundary = 10;

    // Without `engine` the session builds the on-device engine (makeDefaultCompositionEngine);
    // without `engineForTrigger` every trigger gets `engine`; without `worker` engine calls run
    // on threads of the session's own. Sets `availability` from `engine`; calls no owner
    // function.
    [[nodiscard]] static std::shared_ptr<QNOwnedCompositionSession> create(
        Engine engine, EngineForTrigger engineForTrigger, ShouldRunCorrection shouldRunCorrection,
        std::shared_ptr<QNServicePrivacyLogging> logger, LocalCorrection localCorrection,
        ContextBefore contextBefore, Sleep sleep, std::chrono::nanoseconds debounceDelay,
        std::chrono::nanoseconds boundaryDebounceDelay, OnChange onChange,
        std::shared_ptr<Executor> executor, std::shared_ptr<WorkRunner> worker = nullptr);

    // A sleep on `executor`'s timers that resumes at once when cancelled.
    [[nodiscard]] static Sleep executorSleep(std::shared_ptr<Executor> executor);

    // The trigger a draft's ending calls for: a line break in the trailing whitespace is a
    // paragraph; ".", "!", "?" (terminator) or ";", "," (soft punctuation) after at least ten
    // characters is a boundary; anything else is idle.
    [[nodiscard]] static Trigger correctionTrigger(std::u16string_view text);

    QNOwnedCompositionSession(const QNOwnedCompositionSession&) = delete;
    QNOwnedCompositionSession& operator=(const QNOwnedCompositionSession&) = delete;
    // Stops the engine call in flight, if any.
    ~QNOwnedCompositionSession();

    [[nodiscard]] const std::u16string& draftText() const { return draftText_; }
    [[nodiscard]] const std::u16string& correctedText() const { return correctedText_; }
    [[nodiscard]] const QNModelCompositionStatus& status() const { return status_; }
    [[nodiscard]] const std::optional<QNModelCorrectionResult>& latestResult() const {
        return latestResult_;
    }
    [[nodiscard]] const QNModelAvailabilitySummary& availability() const { return availability_; }

    // `correctedText` when it holds at least one character (whitespace counts), else the draft.
    [[nodiscard]] const std::u16string& preferredText() const;
    [[nodiscard]] QNModelCompositionSnapshot snapshot() const;

    // Reads the availability of the idle engine, prewarms it and reports the snapshot.
    void start();
    // As start(), without prewarming.
    void refreshAvailability();
    // The owner's edit: applies the local fixes, schedules a correction, reports the change.
    void replaceDraft(std::u16string text);
    // Empties the session and drops all correction state.
    void clear();
    // Keeps the preferred text as the draft and drops all correction state.
    void resetCorrectionState();

    // Calls `completion` with the snapshot once no correction is pending, or once `maxWait` has
    // passed; then, with `cancelOnTimeout`, the pending work is cancelled and the status set to
    // ready first. With nothing pending `completion` is called before this returns. The wait
    // does not keep the session alive: once its owner drops it, `completion` is not called.
    void awaitSnapshot(std::chrono::nanoseconds maxWait, bool cancelOnTimeout,
                       SnapshotHandler completion);
    // Starts a commit correction (unless one is already running), then waits as awaitSnapshot.
    void awaitCommitSnapshot(std::chrono::nanoseconds maxWait, bool cancelOnTimeout,
                             SnapshotHandler completion);

  private:
    struct CachedCorrection {
        std::u16string source;
        QNModelCompositionStatus status;
    };
    struct PendingTask;
    struct EngineCall;

    QNOwnedCompositionSession(Engine engine, EngineForTrigger engineForTrigger,
                              ShouldRunCorrection shouldRunCorrection,
                              std::shared_ptr<QNServicePrivacyLogging> logger,
                              LocalCorrection localCorrection, ContextBefore contextBefore,
                              Sleep sleep, std::chrono::nanoseconds debounceDelay,
                              std::chrono::nanoseconds boundaryDebounceDelay, OnChange onChange,
                              std::shared_ptr<Executor> executor,
                              std::shared_ptr<WorkRunner> worker);

    [[nodiscard]] Engine engineFor(const Trigger& trigger) const;
    [[nodiscard]] bool shouldRun(const Trigger& trigger) const;
    void scheduleCorrection(std::u16string text, std::int64_t revision);
    void resumeAfterSleep(const std::shared_ptr<PendingTask>& task);
    void runCorrection(const std::shared_ptr<PendingTask>& task);
    void applyResult(const std::shared_ptr<EngineCall>& call, QNModelCorrectionResult result);
    void finishTask(const std::shared_ptr<PendingTask>& task);
    void startCommitCorrection();
    void pollSnapshot(Instant deadline, bool cancelOnTimeout, SnapshotHandler completion);
    [[nodiscard]] bool hasPendingCorrection() const;
    void cancelPendingCorrections();
    void setStatus(QNModelCompositionStatus status);
    void notifyChange();
    void logCorrection(std::string message, const std::u16string& text);

    std::u16string draftText_;
    std::u16string correctedText_;
    QNModelCompositionStatus status_ = QNModelCompositionStatus::ready();
    std::optional<QNModelCorrectionResult> latestResult_;
    QNModelAvailabilitySummary availability_;
    const Engine engine_;
    const EngineForTrigger engineForTrigger_;
    const ShouldRunCorrection shouldRunCorrection_;
    const std::shared_ptr<QNServicePrivacyLogging> logger_;
    const LocalCorrection localCorrection_;
    const ContextBefore contextBefore_;
    const Sleep sleep_;
    const std::chrono::nanoseconds debounceDelay_;
    const std::chrono::nanoseconds boundaryDebounceDelay_;
    const OnChange onChange_;
    std::int64_t revision_ = 0;
    std::shared_ptr<PendingTask> debounceTask_;
    std::shared_ptr<PendingTask> immediateCorrectionTask_;
    std::shared_ptr<EngineCall> correctionTask_;
    std::int64_t correctionTaskGeneration_ = 0;
    std::optional<std::int64_t> activeCorrectionTaskGeneration_;
    std::optional<CachedCorrection> lastCorrection_;
    const std::shared_ptr<Executor> executor_;
    // Declared last: destroyed first, after the destructor has stopped the call in flight.
    const std::shared_ptr<WorkRunner> worker_;
};

}  // namespace ravlin
