#pragma once

// The correction jobs of document editor sessions: one active job and two bounded waiting lines,
// live corrections and on-device polish passes. A submission to a full line is refused with
// `queueFull`; the live line is served before the polish line; each job runs as a coroutine on
// the executor and its outcome, or `cancelled`, reaches the submitter exactly once.
//
// The document editor session binds a text controller in document mode to its engines and the
// scheduler and keeps the record of what it corrected; when it goes, its jobs go with it.

#include <qcoro/qcorotask.h>

#include <any>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "app/editor/controller_auto_correcting_text.h"
#include "core/engine/correction_engine.h"
#include "core/records/decision.h"
#include "core/support/executor.h"
#include "core/support/uuid.h"

namespace ravlin {

struct QNModelCorrectionSchedulerConfiguration {
    int maximumQueuedLiveJobs = 8;
    int maximumQueuedFoundationModelsPolishJobs = 2;
};

enum class QNModelCorrectionSchedulerWorkKind { liveCorrection, foundationModelsPolish };

struct QNModelCorrectionSchedulerError {
    enum class Code { queueFull, cancelled };
    Code code = Code::cancelled;
    QNModelCorrectionSchedulerWorkKind kind = QNModelCorrectionSchedulerWorkKind::liveCorrection;

    [[nodiscard]] static QNModelCorrectionSchedulerError queueFull(
        QNModelCorrectionSchedulerWorkKind kind) {
        return {Code::queueFull, kind};
    }
    [[nodiscard]] static QNModelCorrectionSchedulerError cancelled() { return {}; }
    friend bool operator==(const QNModelCorrectionSchedulerError&,
                           const QNModelCorrectionSchedulerError&) = default;
};

// The operation's value, or why there is none.
using QNSchedulerOutcome = std::variant<std::any, QNModelCorrectionSchedulerError>;

struct QNScheduledCorrectionJob {
    using Operation = std::function<QCoro::Task<std::any>(std::stop_token)>;

    Uuid id;
    std::string sessionID;
    QNModelCorrectionSchedulerWorkKind kind;
    Operation operation;
    std::function<void(QNSchedulerOutcome)> resume;
    std::shared_ptr<std::stop_source> task;  // set once the job runs
    bool didComplete = false;

    // Delivers `outcome` unless something was delivered already; true when it did.
    bool deliver(QNSchedulerOutcome outcome);
};

class QNServiceCorrectionScheduler final
    : public std::enable_shared_from_this<QNServiceCorrectionScheduler> {
  public:
    using Job = std::shared_ptr<QNScheduledCorrectionJob>;

    QNServiceCorrectionScheduler(QNModelCorrectionSchedulerConfiguration configuration,
                                 std::shared_ptr<Executor> executor);

    // Queues a job; a full line refuses it at once with `queueFull(kind)` and answers none.
    Job submit(std::string sessionID, QNModelCorrectionSchedulerWorkKind kind,
               QNScheduledCorrectionJob::Operation operation,
               std::function<void(QNSchedulerOutcome)> resume);

    // Takes every queued job of the session out of its line, delivering `cancelled` to those
    // not yet delivered. The active job is left alone.
    void cancelJobs(const std::string& sessionID);
    // Delivers `cancelled` unless delivered already, then stops the job's task if it has one.
    void cancel(const Job& job);

    [[nodiscard]] const Job& activeJob() const { return activeJob_; }
    [[nodiscard]] const std::deque<Job>& liveQueue() const { return liveQueue_; }
    [[nodiscard]] const std::deque<Job>& polishQueue() const { return polishQueue_; }
    [[nodiscard]] const std::shared_ptr<Executor>& executor() const { return executor_; }

    const QNModelCorrectionSchedulerConfiguration configuration;

  private:
    void startNext();
    static QCoro::Task<> run(std::weak_ptr<QNServiceCorrectionScheduler> self, Job job);

    std::shared_ptr<Executor> executor_;
    Job activeJob_;
    std::deque<Job> liveQueue_;
    std::deque<Job> polishQueue_;
};

enum class QNModelDocumentEditorCorrectionKind { instantLocalFix, liveCorrection, sentencePolish };

struct QNModelDocumentEditorCorrectionEvent {
    QNModelDocumentEditorCorrectionKind kind = QNModelDocumentEditorCorrectionKind::liveCorrection;
    std::u16string originalText;
    std::u16string correctedText;
    QNModelCorrectionOutcome outcome;
    bool applied = false;
    friend bool operator==(const QNModelDocumentEditorCorrectionEvent&,
                           const QNModelDocumentEditorCorrectionEvent&) = default;
};

class QNServiceDocumentEditorSession {
  public:
    QNServiceDocumentEditorSession(std::string sessionID,
                                   std::shared_ptr<QNControllerAutoCorrectingText> controller,
                                   std::shared_ptr<QNServiceCorrectionGenerating> liveEngine,
                                   std::shared_ptr<QNServiceCorrectionGenerating> polishEngine,
                                   std::shared_ptr<QNServiceCorrectionScheduler> scheduler);
    // Stops the live correction in flight, then has the scheduler withdraw the session's queued
    // jobs and cancel its active one on the executor, holding the scheduler and the identifier,
    // never the session.
    ~QNServiceDocumentEditorSession();
    QNServiceDocumentEditorSession(const QNServiceDocumentEditorSession&) = delete;
    QNServiceDocumentEditorSession& operator=(const QNServiceDocumentEditorSession&) = delete;

    const std::string sessionID;
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    bool isDirty = false;
    std::vector<QNModelDocumentEditorCorrectionEvent> correctionEvents;
    std::vector<QNCorrectionDecision> correctionDecisions;
    std::vector<QNModelDocumentCorrectionUndoEvent> undoRedoEvents;
    std::function<std::u16string()> getDocumentText;
    std::function<void(std::u16string)> setDocumentText;
    std::shared_ptr<QNServiceCorrectionGenerating> liveEngine;
    std::shared_ptr<QNServiceCorrectionGenerating> polishEngine;
    const std::shared_ptr<QNServiceCorrectionScheduler> scheduler;
    bool automaticallyCorrectsDocumentEdits = true;
    bool isClosed = false;
    std::shared_ptr<std::stop_source> liveCorrectionTask;
    std::int64_t liveCorrectionGeneration = 0;
};

}  // namespace ravlin
