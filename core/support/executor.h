#pragma once

// The serial "main" sequence that models, timers and results run on, and the runner that takes
// blocking work (engine calls) off it.
//
// Everything posted to one Executor runs one task at a time, in the order the tasks fall due
// (post order among tasks due at the same instant). `post` may be called from any thread: a
// worker hands its result back by posting it. The application runs the sequence on its UI event
// loop; tests use ManualExecutor and move virtual time by hand.
//
//   auto executor = std::make_shared<ManualExecutor>();
//   executor->postAfter(250ms, [&] { fired = true; });
//   executor->advance(249ms);  // nothing yet
//   executor->advance(1ms);    // runs the task, with now() at its due time

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/support/clock.h"

namespace ravlin {

class Executor {
  public:
    using Task = std::function<void()>;
    // Names a posted task; 0 never names one.
    using TaskID = std::uint64_t;

    virtual ~Executor() = default;

    // Runs `task` on the sequence as soon as the tasks before it have run. Any thread.
    virtual TaskID post(Task task) = 0;
    // Runs `task` on the sequence once `delay` has passed (a negative delay counts as none).
    virtual TaskID postAfter(std::chrono::nanoseconds delay, Task task) = 0;
    // Removes a task that has not started; true when it was still waiting.
    virtual bool cancel(TaskID id) = 0;
    // The sequence's monotonic time.
    [[nodiscard]] virtual Instant now() const = 0;

    // How many waits of flows on this sequence are suspended now: each awaitable of async.h
    // counts itself from its suspension to its resumption. None means that no flow waits on
    // anything (what the program's end drains the sequence for). Any thread.
    [[nodiscard]] std::size_t suspendedWaits() const {
        return suspendedWaits_.load(std::memory_order_acquire);
    }
    // For the awaitables: one wait suspended, one resumed.
    void waitSuspended() { suspendedWaits_.fetch_add(1, std::memory_order_acq_rel); }
    void waitResumed() { suspendedWaits_.fetch_sub(1, std::memory_order_acq_rel); }

  private:
    std::atomic<std::size_t> suspendedWaits_{0};
};

// The waiting tasks of a sequence, ordered by due time, then by posting order. Not thread safe:
// its owner locks around every call. Tasks taken out are handed back to be run or destroyed
// outside that lock (their captures may post or cancel).
class DueTaskQueue {
  public:
    using Task = Executor::Task;
    using TaskID = Executor::TaskID;

    // Adds a task due at `due`; returns its new identifier.
    TaskID add(Instant due, Task task);
    // Removes a waiting task; nothing when it is not waiting.
    std::optional<Task> remove(TaskID id);
    // Takes the earliest task due at or before `limit`, with its due time.
    std::optional<std::pair<Instant, Task>> takeDue(Instant limit);
    // Removes every task.
    std::vector<Task> takeAll();

    [[nodiscard]] std::optional<Instant> nextDueTime() const;
    // Whether `id` is the earliest waiting task.
    [[nodiscard]] bool isFirst(TaskID id) const;
    [[nodiscard]] std::size_t size() const { return tasks_.size(); }

  private:
    using Key = std::pair<Instant, TaskID>;

    TaskID nextID_ = 1;
    std::map<Key, Task> tasks_;
    std::map<TaskID, Instant> dueTimes_;
};

// A sequence that runs only when told to, on the thread that tells it, on virtual time. Thread
// safe for posting and cancelling; run it from one thread (the test's).
class ManualExecutor final : public Executor {
  public:
    explicit ManualExecutor(Instant start = Instant{} + std::chrono::hours(1));

    TaskID post(Task task) override;
    TaskID postAfter(std::chrono::nanoseconds delay, Task task) override;
    bool cancel(TaskID id) override;
    [[nodiscard]] Instant now() const override;

    // Runs every task due now, including those they post, until none is due. Returns how many
    // ran.
    std::size_t runUntilIdle();
    // Moves time forward by `by`, running each task when its due time is reached (now() reads
    // that due time while it runs); ends at the old time plus `by`. Returns how many ran.
    std::size_t advance(std::chrono::nanoseconds by);
    // Waits in real time, at most `limit`, until some task is due now (typically one posted by
    // a worker thread), then runs until idle. False when nothing came within the limit.
    bool waitForPostedWork(std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Tasks waiting, due now or later.
    [[nodiscard]] std::size_t pendingCount() const;
    // When the earliest waiting task falls due.
    [[nodiscard]] std::optional<Instant> nextDueTime() const;

  private:
    // Takes the earliest task due at or before `limit`, moving now() up to its due time.
    std::optional<Task> takeDue(Instant limit);

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    Instant now_;
    DueTaskQueue tasks_;
};

// Runs blocking jobs off the main sequence; a job hands its outcome back by posting to the
// executor. A job must return promptly once the stop token it was given is stopped.
class WorkRunner {
  public:
    using Job = std::function<void()>;

    virtual ~WorkRunner() = default;
    virtual void run(Job job) = 0;
};

// One thread per job. Finished threads are joined at the next run; the destructor joins every
// thread still running, so its owner must make sure the jobs end (by stopping them) first.
class ThreadWorkRunner final : public WorkRunner {
  public:
    ThreadWorkRunner() = default;
    ThreadWorkRunner(const ThreadWorkRunner&) = delete;
    ThreadWorkRunner& operator=(const ThreadWorkRunner&) = delete;
    ~ThreadWorkRunner() override;

    void run(Job job) override;

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    std::mutex mutex_;
    std::vector<Worker> workers_;
};

}  // namespace ravlin
