#include "app/editor/correction_scheduler.h"

#include <utility>

namespace ravlin {

bool QNScheduledCorrectionJob::deliver(QNSchedulerOutcome outcome) {
    if (didComplete) {
        return false;
    }
    didComplete = true;  // before the call: a re-entrant cancel finds it delivered
    if (resume) {
        auto once = std::exchange(resume, nullptr);
        once(std::move(outcome));
    }
    return true;
}

QNServiceCorrectionScheduler::QNServiceCorrectionScheduler(
    QNModelCorrectionSchedulerConfiguration configuration, std::shared_ptr<Executor> executor)
    : configuration(configuration), executor_(std::move(executor)) {}

QNServiceCorrectionScheduler::Job QNServiceCorrectionScheduler::submit(
    std::string sessionID, QNModelCorrectionSchedulerWorkKind kind,
    QNScheduledCorrectionJob::Operation operation, std::function<void(QNSchedulerOutcome)> resume) {
    const bool live = kind == QNModelCorrectionSchedulerWorkKind::liveCorrection;
    auto& queue = live ? liveQueue_ : polishQueue_;
    const int limit = live ? configuration.maximumQueuedLiveJobs
                           : configuration.maximumQueuedFoundationModelsPolishJobs;
    if (static_cast<int>(queue.size()) >= limit) {
        if (resume) {
            resume(QNModelCorrectionSchedulerError::queueFull(kind));
        }
        return nullptr;
    }
    auto job = std::make_shared<QNScheduledCorrectionJob>(
        QNScheduledCorrectionJob{Uuid::random(), std::move(sessionID), kind, std::move(operation),
                                 std::move(resume), nullptr, false});
    queue.push_back(job);
    if (!activeJob_) {
        // On the next turn, so the submitter returns before anything runs.
        executor_->post([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->startNext();
            }
        });
    }
    return job;
}

void QNServiceCorrectionScheduler::startNext() {
    if (activeJob_) {
        return;
    }
    auto& queue = !liveQueue_.empty() ? liveQueue_ : polishQueue_;
    if (queue.empty()) {
        return;
    }
    activeJob_ = queue.front();
    queue.pop_front();
    activeJob_->task = std::make_shared<std::stop_source>();
    run(weak_from_this(), activeJob_);
}

QCoro::Task<> QNServiceCorrectionScheduler::run(std::weak_ptr<QNServiceCorrectionScheduler> self,
                                                Job job) {
    std::any value;
    if (job->operation && !job->task->stop_requested()) {
        value = co_await job->operation(job->task->get_token());
    }
    if (job->task->stop_requested()) {
        job->deliver(QNModelCorrectionSchedulerError::cancelled());
    } else {
        job->deliver(std::move(value));
    }
    auto scheduler = self.lock();
    if (!scheduler) {
        co_return;
    }
    if (scheduler->activeJob_ == job) {
        scheduler->activeJob_.reset();
    }
    scheduler->executor_->post([weak = std::move(self)] {
        if (auto s = weak.lock()) {
            s->startNext();
        }
    });
}

void QNServiceCorrectionScheduler::cancelJobs(const std::string& sessionID) {
    for (auto* queue : {&liveQueue_, &polishQueue_}) {
        std::vector<Job> removed;
        std::erase_if(*queue, [&](const Job& job) {
            if (job->sessionID != sessionID) {
                return false;
            }
            removed.push_back(job);
            return true;
        });
        // Delivered after the line is settled, so a submitter reacting to it sees the new line.
        for (const auto& job : removed) {
            job->deliver(QNModelCorrectionSchedulerError::cancelled());
        }
    }
}

void QNServiceCorrectionScheduler::cancel(const Job& job) {
    if (!job) {
        return;
    }
    job->deliver(QNModelCorrectionSchedulerError::cancelled());
    if (job->task) {
        job->task->request_stop();
    }
}

QNServiceDocumentEditorSession::QNServiceDocumentEditorSession(
    std::string sessionID, std::shared_ptr<QNControllerAutoCorrectingText> controller,
    std::shared_ptr<QNServiceCorrectionGenerating> liveEngine,
    std::shared_ptr<QNServiceCorrectionGenerating> polishEngine,
    std::shared_ptr<QNServiceCorrectionScheduler> scheduler)
    : sessionID(std::move(sessionID)),
      controller(std::move(controller)),
      liveEngine(std::move(liveEngine)),
      polishEngine(std::move(polishEngine)),
      scheduler(std::move(scheduler)) {}

QNServiceDocumentEditorSession::~QNServiceDocumentEditorSession() {
    if (liveCorrectionTask) {
        liveCorrectionTask->request_stop();
    }
    if (!scheduler) {
        return;
    }
    scheduler->executor()->post([scheduler = scheduler, id = sessionID] {
        scheduler->cancelJobs(id);
        if (const auto& active = scheduler->activeJob(); active && active->sessionID == id) {
            scheduler->cancel(active);
        }
    });
}

}  // namespace ravlin
