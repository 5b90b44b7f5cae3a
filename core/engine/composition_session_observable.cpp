#include "core/engine/composition_session_observable.h"

#include <utility>

#include "core/text/unicode.h"

namespace ravlin {

namespace {

using records::sameText;

// The end of a piece of work that others may wait for. Waiters run as tasks of the executor,
// after the work's own effects.
struct Completion {
    bool finished = false;
    std::vector<Executor::Task> waiters;

    void finish(Executor& executor) {
        if (finished) {
            return;
        }
        finished = true;
        for (auto& waiter : waiters) {
            executor.post(std::move(waiter));
        }
        waiters.clear();
    }
    void whenFinished(Executor& executor, Executor::Task waiter) {
        if (finished) {
            executor.post(std::move(waiter));
        } else {
            waiters.push_back(std::move(waiter));
        }
    }
};

}  // namespace

// The delayed correction: its delay, then the correction run.
struct QNSessionComposition::DebounceTask {
    DebounceTask(std::u16string text, std::int64_t revision)
        : text(std::move(text)), revision(revision) {}

    std::u16string text;
    std::int64_t revision;
    Executor::TaskID timer = 0;
    bool cancelled = false;
    Completion done;
};

// One engine call; finished when its result is back on the main sequence.
struct QNSessionComposition::EngineCall {
    EngineCall(std::int64_t generation, std::shared_ptr<DebounceTask> awaiting)
        : generation(generation), awaiting(std::move(awaiting)) {}

    std::int64_t generation;
    std::shared_ptr<DebounceTask> awaiting;
    std::stop_source stop;
    Completion done;
};

// One awaitSnapshot: ends at the first of the awaited work's end and the time limit.
// Holds the model weakly: the executor's queue must not own the model that owns the executor.
struct QNSessionComposition::Wait {
    std::weak_ptr<QNSessionComposition> session;
    SnapshotHandler completion;
    Executor::TaskID timer = 0;

    void end() {
        if (!completion) {
            return;
        }
        auto handler = std::move(completion);
        completion = nullptr;
        if (const auto self = session.lock()) {
            self->executor_->cancel(timer);
            handler(self->snapshot());
        }
    }
};

std::shared_ptr<QNSessionComposition> QNSessionComposition::create(
    Engine engine, std::shared_ptr<QNServicePrivacyLogging> logger,
    std::chrono::nanoseconds debounceDelay, std::shared_ptr<Executor> executor,
    std::shared_ptr<WorkRunner> worker) {
    return std::shared_ptr<QNSessionComposition>(
        new QNSessionComposition(std::move(engine), std::move(logger), debounceDelay,
                                 std::move(executor), std::move(worker)));
}

QNSessionComposition::QNSessionComposition(Engine engine,
                                           std::shared_ptr<QNServicePrivacyLogging> logger,
                                           std::chrono::nanoseconds debounceDelay,
                                           std::shared_ptr<Executor> executor,
                                           std::shared_ptr<WorkRunner> worker)
    : engine_(engine ? std::move(engine) : makeDefaultCompositionEngine()),
      logger_(logger ? std::move(logger) : QNServicePrivacyLogger::shared()),
      debounceDelay_(debounceDelay),
      executor_(std::move(executor)),
      worker_(worker ? std::move(worker) : std::make_shared<ThreadWorkRunner>()) {
    availability_.set(engine_->availabilitySummary());
}

QNSessionComposition::~QNSessionComposition() {
    if (correctionTask_) {
        correctionTask_->stop.request_stop();
    }
}

void QNSessionComposition::setDraftText(std::u16string text) {
    const auto old = draftText_.get();
    draftText_.set(std::move(text));
    if (!isProgrammaticChange_ && !sameText(draftText_.get(), old)) {
        draftDidChange();
    }
}

bool QNSessionComposition::hasDraft() const {
    return !text::isBlank(draftText_.get());
}

bool QNSessionComposition::hasCorrectedText() const {
    return !text::isBlank(correctedText_.get());
}

const std::u16string& QNSessionComposition::preferredText() const {
    return hasCorrectedText() ? correctedText_.get() : draftText_.get();
}

QNModelCompositionSnapshot QNSessionComposition::snapshot() const {
    return QNModelCompositionSnapshot{draftText_.get(), correctedText_.get(), status_.get()};
}

void QNSessionComposition::start() {
    availability_.set(engine_->availabilitySummary());
    engine_->prewarm();
}

void QNSessionComposition::refreshAvailability() {
    availability_.set(engine_->availabilitySummary());
}

void QNSessionComposition::draftDidChange() {
    ++revision_;
    correctedText_.set(u"");
    latestResult_.set(std::nullopt);
    // A text known to be clean stays known while the draft is that text (for instance when the
    // owner takes the corrected text as the new draft), so its run needs no engine call.
    if (lastCorrectedSource_ && !sameText(*lastCorrectedSource_, draftText_.get())) {
        lastCorrectedSource_.reset();
    }
    scheduleCorrection(draftText_.get(), revision_);
}

void QNSessionComposition::scheduleCorrection(std::u16string text, std::int64_t revision) {
    cancelPendingCorrections();
    if (text::isBlank(text)) {
        setStatus(QNModelCompositionStatus::ready());
        return;
    }
    setStatus(QNModelCompositionStatus::pausing());
    auto task = std::make_shared<DebounceTask>(text, revision);
    debounceTask_ = task;
    std::weak_ptr<QNSessionComposition> weak = weak_from_this();
    task->timer = executor_->postAfter(debounceDelay_, [weak, task] {
        task->timer = 0;
        const auto self = weak.lock();
        if (!self) {
            task->done.finished = true;
            return;
        }
        if (task->cancelled) {
            self->finish(task);
            return;
        }
        self->runCorrection(task);
    });
}

void QNSessionComposition::runCorrection(const std::shared_ptr<DebounceTask>& task) {
    if (revision_ != task->revision || !sameText(draftText_.get(), task->text)) {
        finish(task);
        return;
    }
    if (lastCorrectedSource_ && sameText(*lastCorrectedSource_, task->text)) {
        setStatus(QNModelCompositionStatus::noChanges());
        finish(task);
        return;
    }
    availability_.set(engine_->availabilitySummary());
    setStatus(QNModelCompositionStatus::correcting());
    log(QNModelPrivacyLogCategory::correction, "starting", text::characterCount(task->text));

    auto call = std::make_shared<EngineCall>(++correctionTaskGeneration_, task);
    activeCorrectionTaskGeneration_ = call->generation;
    correctionTask_ = call;
    std::weak_ptr<QNSessionComposition> weak = weak_from_this();
    engine::detail::startEngineCall(*worker_, executor_, engine_, task->text, std::nullopt,
                                    call->stop.get_token(),
                                    [weak, call](QNModelCorrectionResult result) {
                                        if (const auto self = weak.lock()) {
                                            self->applyResult(call, std::move(result));
                                        }
                                    });
}

void QNSessionComposition::applyResult(const std::shared_ptr<EngineCall>& call,
                                       QNModelCorrectionResult result) {
    const auto task = call->awaiting;
    call->done.finish(*executor_);
    // Only a call that is no longer the wanted one is discarded silently. Cancelling pending
    // work always un-wants the call; a task cancelled while its own run was still starting the
    // call (an observer changed the draft on the status change) leaves the call wanted, and its
    // result then fails the staleness check below instead of lingering as the call in flight.
    if (activeCorrectionTaskGeneration_ != call->generation) {
        finish(task);
        return;
    }
    activeCorrectionTaskGeneration_.reset();
    correctionTask_.reset();
    if (revision_ != task->revision || !sameText(draftText_.get(), task->text)) {
        log(QNModelPrivacyLogCategory::correction, "stale result rejected",
            text::characterCount(task->text));
        finish(task);
        return;
    }
    // Copies: observers told of the changes below may replace the stored result.
    const auto outcome = result.outcome;
    const auto output = result.output;
    latestResult_.set(std::move(result));
    using Kind = QNModelCorrectionOutcome::Kind;
    switch (outcome.kind) {
        case Kind::skipped:
            correctedText_.set(u"");
            setStatus(QNModelCompositionStatus::ready());
            break;
        case Kind::unavailable:
            correctedText_.set(u"");
            availability_.set(engine_->availabilitySummary());
            setStatus(QNModelCompositionStatus::modelUnavailable(outcome.reason,
                                                                 availability_.get().detail));
            break;
        case Kind::rejected:
        case Kind::failed:
            correctedText_.set(u"");
            setStatus(QNModelCompositionStatus::error(outcome.reason));
            break;
        case Kind::unchanged:
            correctedText_.set(u"");
            lastCorrectedSource_ = task->text;
            setStatus(QNModelCompositionStatus::noChanges());
            break;
        case Kind::corrected:
            correctedText_.set(output);
            lastCorrectedSource_ = output;
            setStatus(QNModelCompositionStatus::fixed());
            break;
    }
    finish(task);
}

void QNSessionComposition::finish(const std::shared_ptr<DebounceTask>& task) {
    task->done.finish(*executor_);
}

void QNSessionComposition::cancelPendingCorrections() {
    if (debounceTask_) {
        debounceTask_->cancelled = true;
        // A task still waiting for its delay ends now; one in its correction run ends when the
        // engine call's result comes back.
        if (debounceTask_->timer != 0 && executor_->cancel(debounceTask_->timer)) {
            debounceTask_->timer = 0;
            finish(debounceTask_);
        }
        debounceTask_.reset();
    }
    if (correctionTask_) {
        correctionTask_->stop.request_stop();
        correctionTask_.reset();
    }
    activeCorrectionTaskGeneration_.reset();
}

void QNSessionComposition::clear() {
    cancelPendingCorrections();
    ++revision_;
    lastCorrectedSource_.reset();
    latestResult_.set(std::nullopt);
    correctedText_.set(u"");
    setDraftProgrammatically(u"");
    setStatus(QNModelCompositionStatus::ready());
}

void QNSessionComposition::newDraft() {
    clear();
}

void QNSessionComposition::setDraftProgrammatically(std::u16string text) {
    isProgrammaticChange_ = true;
    setDraftText(std::move(text));
    isProgrammaticChange_ = false;
}

void QNSessionComposition::setStatus(QNModelCompositionStatus status) {
    if (status == status_.get()) {
        return;
    }
    // Taken first: an observer may change the model (and the status) while it is told.
    std::string label(status.label());
    const auto characters = text::characterCount(draftText_.get());
    status_.set(std::move(status));
    log(QNModelPrivacyLogCategory::status, std::move(label), characters);
}

void QNSessionComposition::log(QNModelPrivacyLogCategory category, std::string message,
                               std::int64_t characters) {
    logger_->log(QNModelPrivacyLogEvent{category, std::move(message), characters});
}

void QNSessionComposition::awaitSnapshot(std::chrono::nanoseconds maxWait,
                                         SnapshotHandler completion) {
    Completion* awaited = nullptr;
    if (debounceTask_) {
        awaited = &debounceTask_->done;
    } else if (correctionTask_) {
        awaited = &correctionTask_->done;
    }
    if (!awaited) {
        completion(snapshot());
        return;
    }
    auto wait = std::make_shared<Wait>();
    wait->session = weak_from_this();
    wait->completion = std::move(completion);
    wait->timer = executor_->postAfter(maxWait, [wait] { wait->end(); });
    awaited->whenFinished(*executor_, [weak = std::weak_ptr<Wait>(wait)] {
        if (const auto w = weak.lock()) {
            w->end();
        }
    });
}

}  // namespace ravlin
