#include "core/engine/composition_session_owned.h"

#include <utility>

#include "core/services/character_view.h"
#include "core/records/text_equality.h"
#include "core/text/unicode.h"

namespace ravlin {

namespace {

using records::sameText;

}  // namespace

bool operator==(const QNOwnedCompositionLocalCorrectionResult& a,
                const QNOwnedCompositionLocalCorrectionResult& b) {
    return a.didChange == b.didChange && sameText(a.correctedText, b.correctedText);
}

// A delayed (debounce) or commit correction: waiting for its delay, or running its correction.
struct QNOwnedCompositionSession::PendingTask {
    enum class Kind { debounce, immediate };

    PendingTask(Kind kind, std::u16string text, std::int64_t revision, Trigger trigger)
        : kind(kind), text(std::move(text)), revision(revision), trigger(trigger) {}

    Kind kind;
    std::u16string text;
    std::int64_t revision;
    Trigger trigger;
    bool cancelled = false;
    // Stopped with `cancelled`; the owner's sleep may watch it.
    std::stop_source stop;

    void cancel() {
        cancelled = true;
        stop.request_stop();
    }
};

// One engine call and the run that awaits it.
struct QNOwnedCompositionSession::EngineCall {
    std::int64_t generation;
    std::shared_ptr<PendingTask> awaiting;
    Engine engine;
    std::stop_source stop;
};

std::shared_ptr<QNOwnedCompositionSession> QNOwnedCompositionSession::create(
    Engine engine, EngineForTrigger engineForTrigger, ShouldRunCorrection shouldRunCorrection,
    std::shared_ptr<QNServicePrivacyLogging> logger, LocalCorrection localCorrection,
    ContextBefore contextBefore, Sleep sleep, std::chrono::nanoseconds debounceDelay,
    std::chrono::nanoseconds boundaryDebounceDelay, OnChange onChange,
    std::shared_ptr<Executor> executor, std::shared_ptr<WorkRunner> worker) {
    return std::shared_ptr<QNOwnedCompositionSession>(new QNOwnedCompositionSession(
        std::move(engine), std::move(engineForTrigger), std::move(shouldRunCorrection),
        std::move(logger), std::move(localCorrection), std::move(contextBefore), std::move(sleep),
        debounceDelay, boundaryDebounceDelay, std::move(onChange), std::move(executor),
        std::move(worker)));
}

QNOwnedCompositionSession::QNOwnedCompositionSession(
    Engine engine, EngineForTrigger engineForTrigger, ShouldRunCorrection shouldRunCorrection,
    std::shared_ptr<QNServicePrivacyLogging> logger, LocalCorrection localCorrection,
    ContextBefore contextBefore, Sleep sleep, std::chrono::nanoseconds debounceDelay,
    std::chrono::nanoseconds boundaryDebounceDelay, OnChange onChange,
    std::shared_ptr<Executor> executor, std::shared_ptr<WorkRunner> worker)
    : engine_(engine ? std::move(engine) : makeDefaultCompositionEngine()),
      engineForTrigger_(std::move(engineForTrigger)),
      shouldRunCorrection_(std::move(shouldRunCorrection)),
      logger_(logger ? std::move(logger) : QNServicePrivacyLogger::shared()),
      localCorrection_(std::move(localCorrection)),
      contextBefore_(std::move(contextBefore)),
      sleep_(std::move(sleep)),
      debounceDelay_(debounceDelay),
      boundaryDebounceDelay_(boundaryDebounceDelay),
      onChange_(std::move(onChange)),
      executor_(std::move(executor)),
      worker_(worker ? std::move(worker) : std::make_shared<ThreadWorkRunner>()) {
    availability_ = engine_->availabilitySummary();
}

QNOwnedCompositionSession::~QNOwnedCompositionSession() {
    if (correctionTask_) {
        correctionTask_->stop.request_stop();
    }
}

QNOwnedCompositionSession::Sleep QNOwnedCompositionSession::executorSleep(
    std::shared_ptr<Executor> executor) {
    return
        [executor = std::move(executor)](std::chrono::nanoseconds delay, std::stop_token cancelled,
                                         std::function<void()> resume) {
            struct Waiting {
                std::function<void()> resume;
                Executor::TaskID timer = 0;
                std::optional<std::stop_callback<std::function<void()>>> onCancel;

                // Whichever comes first, the delay or the cancellation, takes `resume`; the other
                // finds it gone.
                std::function<void()> take() {
                    auto taken = std::move(resume);
                    resume = nullptr;
                    return taken;
                }
            };
            auto waiting = std::make_shared<Waiting>();
            waiting->resume = std::move(resume);
            waiting->timer = executor->postAfter(delay, [waiting] {
                if (const auto resume = waiting->take()) {
                    resume();
                }
            });
            // Weak: the executor's queue holds this wait, which must not hold the queue.
            std::function<void()> cancel = [weak = std::weak_ptr<Waiting>(waiting),
                                            weakExecutor = std::weak_ptr<Executor>(executor)] {
                const auto w = weak.lock();
                const auto queue = weakExecutor.lock();
                if (!w || !queue || !w->resume) {
                    return;
                }
                queue->cancel(w->timer);
                queue->post([resume = w->take(), w] { resume(); });
            };
            waiting->onCancel.emplace(std::move(cancelled), std::move(cancel));
        };
}

QNOwnedCompositionSession::Trigger QNOwnedCompositionSession::correctionTrigger(
    std::u16string_view text) {
    const engine::detail::CharacterView characters(text);
    std::int64_t last = characters.size() - 1;
    for (; last >= 0 && characters.isWhitespace(last); --last) {
    }
    const auto trailing = characters.slice(last + 1, characters.size());
    if (trailing.find_first_of(u"\n\r") != std::u16string_view::npos) {
        return Trigger::boundary(QNBoundaryEvent::paragraph);
    }
    // `last` is the index of the last non-whitespace character: the number of characters
    // before it.
    if (last < kMinimumCharactersBeforeBoundary) {
        return Trigger::idle();
    }
    const auto mark = characters.at(last);
    if (mark == u"." || mark == u"!" || mark == u"?") {
        return Trigger::boundary(QNBoundaryEvent::terminator);
    }
    if (mark == u";" || mark == u",") {
        return Trigger::boundary(QNBoundaryEvent::softPunctuation);
    }
    return Trigger::idle();
}

const std::u16string& QNOwnedCompositionSession::preferredText() const {
    return correctedText_.empty() ? draftText_ : correctedText_;
}

QNModelCompositionSnapshot QNOwnedCompositionSession::snapshot() const {
    return QNModelCompositionSnapshot{draftText_, correctedText_, status_};
}

QNOwnedCompositionSession::Engine QNOwnedCompositionSession::engineFor(
    const Trigger& trigger) const {
    if (!engineForTrigger_) {
        return engine_;
    }
    auto chosen = engineForTrigger_(trigger);
    return chosen ? chosen : engine_;
}

bool QNOwnedCompositionSession::shouldRun(const Trigger& trigger) const {
    return !shouldRunCorrection_ || shouldRunCorrection_(trigger);
}

void QNOwnedCompositionSession::start() {
    const auto engine = engineFor(Trigger::idle());
    availability_ = engine->availabilitySummary();
    engine->prewarm();
    notifyChange();
}

void QNOwnedCompositionSession::refreshAvailability() {
    availability_ = engineFor(Trigger::idle())->availabilitySummary();
    notifyChange();
}

void QNOwnedCompositionSession::replaceDraft(std::u16string text) {
    cancelPendingCorrections();
    ++revision_;
    latestResult_.reset();
    correctedText_.clear();
    if (!sameText(text, draftText_)) {
        lastCorrection_.reset();
    }
    auto local = localCorrection_
                     ? localCorrection_(text)
                     : QNOwnedCompositionLocalCorrectionResult::unchanged(std::move(text));
    draftText_ = std::move(local.correctedText);
    if (local.didChange) {
        lastCorrection_.reset();
    }
    scheduleCorrection(draftText_, revision_);
    notifyChange();
}

void QNOwnedCompositionSession::scheduleCorrection(std::u16string text, std::int64_t revision) {
    if (text::isBlank(text)) {
        setStatus(QNModelCompositionStatus::ready());
        return;
    }
    const auto trigger = correctionTrigger(text);
    if (!shouldRun(trigger)) {
        correctedText_.clear();
        setStatus(QNModelCompositionStatus::ready());
        return;
    }
    setStatus(QNModelCompositionStatus::pausing());
    const auto delay =
        trigger.kind() == Trigger::Kind::idle ? debounceDelay_ : boundaryDebounceDelay_;
    auto task = std::make_shared<PendingTask>(PendingTask::Kind::debounce, text, revision, trigger);
    debounceTask_ = task;
    std::weak_ptr<QNOwnedCompositionSession> weak = weak_from_this();
    executor_->post([weak, task, delay] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        auto resumed = std::make_shared<bool>(false);
        self->sleep_(delay, task->stop.get_token(), [weak, task, resumed] {
            if (*resumed) {
                return;  // a sleep resumes once
            }
            *resumed = true;
            if (const auto session = weak.lock()) {
                session->resumeAfterSleep(task);
            }
        });
    });
}

void QNOwnedCompositionSession::resumeAfterSleep(const std::shared_ptr<PendingTask>& task) {
    if (task->cancelled) {
        finishTask(task);
        return;
    }
    runCorrection(task);
}

void QNOwnedCompositionSession::finishTask(const std::shared_ptr<PendingTask>& task) {
    if (revision_ != task->revision) {
        return;
    }
    auto& slot =
        task->kind == PendingTask::Kind::debounce ? debounceTask_ : immediateCorrectionTask_;
    if (slot == task) {
        slot.reset();
    }
}

void QNOwnedCompositionSession::runCorrection(const std::shared_ptr<PendingTask>& task) {
    if (revision_ != task->revision || !sameText(draftText_, task->text)) {
        finishTask(task);
        return;
    }
    if (!shouldRun(task->trigger)) {
        setStatus(QNModelCompositionStatus::ready());
        finishTask(task);
        return;
    }
    if (lastCorrection_ && sameText(lastCorrection_->source, task->text)) {
        setStatus(lastCorrection_->status);
        finishTask(task);
        return;
    }
    auto engine = engineFor(task->trigger);
    availability_ = engine->availabilitySummary();
    setStatus(QNModelCompositionStatus::correcting());
    logCorrection("starting", task->text);
    auto context = contextBefore_ ? contextBefore_() : std::nullopt;

    auto call = std::make_shared<EngineCall>(
        EngineCall{++correctionTaskGeneration_, task, engine, std::stop_source{}});
    activeCorrectionTaskGeneration_ = call->generation;
    correctionTask_ = call;
    std::weak_ptr<QNOwnedCompositionSession> weak = weak_from_this();
    engine::detail::startEngineCall(*worker_, executor_, std::move(engine), task->text,
                                    std::optional(std::move(context)), call->stop.get_token(),
                                    [weak, call](QNModelCorrectionResult result) {
                                        if (const auto self = weak.lock()) {
                                            self->applyResult(call, std::move(result));
                                        }
                                    });
}

void QNOwnedCompositionSession::applyResult(const std::shared_ptr<EngineCall>& call,
                                            QNModelCorrectionResult result) {
    const auto& task = call->awaiting;
    // A result arriving in a cancelled task is discarded, except when its call is still the
    // wanted one: a commit cancels the waiting delayed correction but waits for the engine call
    // it started, so that call's result is applied and ends the commit's wait. Discarding it
    // would leave the call marked in flight and every later commit waiting for it.
    const bool wanted = activeCorrectionTaskGeneration_ == call->generation;
    if (!wanted) {
        finishTask(task);
        return;
    }
    activeCorrectionTaskGeneration_.reset();
    correctionTask_.reset();
    if (revision_ != task->revision || !sameText(draftText_, task->text)) {
        logCorrection("stale result rejected", task->text);
        finishTask(task);
        return;
    }
    // A copy: the owner, told of the status change, may replace the stored result.
    const auto outcome = result.outcome;
    latestResult_ = std::move(result);
    using Kind = QNModelCorrectionOutcome::Kind;
    switch (outcome.kind) {
        case Kind::skipped:
            correctedText_.clear();
            setStatus(QNModelCompositionStatus::ready());
            break;
        case Kind::unavailable:
            correctedText_.clear();
            availability_ = call->engine->availabilitySummary();
            setStatus(
                QNModelCompositionStatus::modelUnavailable(outcome.reason, availability_.detail));
            break;
        case Kind::rejected:
        case Kind::failed:
            correctedText_.clear();
            setStatus(QNModelCompositionStatus::error(outcome.reason));
            break;
        case Kind::unchanged:
            correctedText_.clear();
            lastCorrection_ = CachedCorrection{task->text, QNModelCompositionStatus::noChanges()};
            setStatus(QNModelCompositionStatus::noChanges());
            break;
        case Kind::corrected:
            correctedText_ = latestResult_->output;
            lastCorrection_ =
                CachedCorrection{latestResult_->output, QNModelCompositionStatus::fixed()};
            setStatus(QNModelCompositionStatus::fixed());
            break;
    }
    finishTask(task);
}

void QNOwnedCompositionSession::startCommitCorrection() {
    if (debounceTask_) {
        debounceTask_->cancel();
        debounceTask_.reset();
    }
    if (text::isBlank(draftText_)) {
        setStatus(QNModelCompositionStatus::ready());
        return;
    }
    if (correctionTask_) {
        return;  // the commit waits for the call in flight
    }
    if (!shouldRun(Trigger::commit())) {
        setStatus(QNModelCompositionStatus::ready());
        return;
    }
    if (immediateCorrectionTask_) {
        immediateCorrectionTask_->cancel();
    }
    setStatus(QNModelCompositionStatus::correcting());
    auto task = std::make_shared<PendingTask>(PendingTask::Kind::immediate, draftText_, revision_,
                                              Trigger::commit());
    immediateCorrectionTask_ = task;
    std::weak_ptr<QNOwnedCompositionSession> weak = weak_from_this();
    executor_->post([weak, task] {
        if (const auto self = weak.lock()) {
            self->runCorrection(task);
        }
    });
}

void QNOwnedCompositionSession::awaitSnapshot(std::chrono::nanoseconds maxWait,
                                              bool cancelOnTimeout, SnapshotHandler completion) {
    pollSnapshot(executor_->now() + maxWait, cancelOnTimeout, std::move(completion));
}

void QNOwnedCompositionSession::awaitCommitSnapshot(std::chrono::nanoseconds maxWait,
                                                    bool cancelOnTimeout,
                                                    SnapshotHandler completion) {
    startCommitCorrection();
    awaitSnapshot(maxWait, cancelOnTimeout, std::move(completion));
}

void QNOwnedCompositionSession::pollSnapshot(Instant deadline, bool cancelOnTimeout,
                                             SnapshotHandler completion) {
    if (!hasPendingCorrection()) {
        completion(snapshot());
        return;
    }
    if (executor_->now() >= deadline) {
        if (cancelOnTimeout) {
            cancelPendingCorrections();
            setStatus(QNModelCompositionStatus::ready());
        }
        completion(snapshot());
        return;
    }
    // The executor's queue holds the session only weakly: the session holds the executor.
    executor_->postAfter(kSnapshotPollInterval, [weak = weak_from_this(), deadline, cancelOnTimeout,
                                                 completion = std::move(completion)]() mutable {
        if (const auto self = weak.lock()) {
            self->pollSnapshot(deadline, cancelOnTimeout, std::move(completion));
        }
    });
}

bool QNOwnedCompositionSession::hasPendingCorrection() const {
    return debounceTask_ || immediateCorrectionTask_ || correctionTask_;
}

void QNOwnedCompositionSession::cancelPendingCorrections() {
    if (debounceTask_) {
        debounceTask_->cancel();
        debounceTask_.reset();
    }
    if (immediateCorrectionTask_) {
        immediateCorrectionTask_->cancel();
        immediateCorrectionTask_.reset();
    }
    if (correctionTask_) {
        correctionTask_->stop.request_stop();
        correctionTask_.reset();
    }
    activeCorrectionTaskGeneration_.reset();
}

void QNOwnedCompositionSession::clear() {
    cancelPendingCorrections();
    ++revision_;
    latestResult_.reset();
    correctedText_.clear();
    draftText_.clear();
    lastCorrection_.reset();
    setStatus(QNModelCompositionStatus::ready());
}

void QNOwnedCompositionSession::resetCorrectionState() {
    auto preferred = preferredText();
    cancelPendingCorrections();
    latestResult_.reset();
    draftText_ = std::move(preferred);
    correctedText_.clear();
    lastCorrection_.reset();
    setStatus(QNModelCompositionStatus::ready());
}

void QNOwnedCompositionSession::setStatus(QNModelCompositionStatus status) {
    if (!(status == status_)) {
        status_ = std::move(status);
    }
    notifyChange();
}

void QNOwnedCompositionSession::notifyChange() {
    if (onChange_) {
        onChange_(snapshot());
    }
}

void QNOwnedCompositionSession::logCorrection(std::string message, const std::u16string& text) {
    logger_->log(QNModelPrivacyLogEvent{QNModelPrivacyLogCategory::correction, std::move(message),
                                        text::characterCount(text)});
}

}  // namespace ravlin
