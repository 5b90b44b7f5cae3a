#pragma once

// The application's main sequence: an Executor that runs its tasks on the Qt event loop of the
// thread that created it (the GUI thread).
//
// Tasks run one at a time in the order they fall due (post order among tasks due at the same
// instant), on the steady clock. `post`, `postAfter` and `cancel` may be called from any thread;
// a worker hands its result back by posting it. Each turn of the event loop runs only the tasks
// that were due when the turn began, so a task that keeps posting cannot starve input and paint
// events.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

#include "core/support/executor.h"

namespace ravlin {

class QtExecutor final : public QObject, public Executor {
    Q_OBJECT

  public:
    explicit QtExecutor(QObject* parent = nullptr);
    ~QtExecutor() override;

    TaskID post(Task task) override;
    TaskID postAfter(std::chrono::nanoseconds delay, Task task) override;
    bool cancel(TaskID id) override;
    [[nodiscard]] Instant now() const override;

    // Tasks waiting, due now or later.
    [[nodiscard]] std::size_t pendingCount() const;

    // Runs the sequence (a local event loop) until no flow waits on anything any more
    // (suspendedWaits() is none, looked at after each of its turns) or `limit` has passed:
    // the program's end, once it has stopped its flows, lets them end so. Whether none is left.
    bool drain(std::chrono::milliseconds limit);
    // The program's end, once the loop has stopped for good: drops every task still waiting,
    // and any that dropping them posts. None of them can run any more, and each may hold what
    // holds the sequence (a timer's task that keeps its owner), which would then never go.
    void discardWaiting();

  private:
    // On the executor's thread: runs what is due, then sets the timer for the next task.
    void runDue();
    // On the executor's thread: points the timer at the earliest waiting task.
    void reschedule();
    // From any thread: makes the executor's thread reschedule.
    void wake();
    std::optional<Task> takeDue(Instant limit);

    QTimer timer_;
    // While draining: told after each turn of the sequence.
    std::function<void()> afterTurn_;
    mutable std::mutex mutex_;
    DueTaskQueue tasks_;
    bool wakePending_ = false;  // guarded by mutex_
};

}  // namespace ravlin
