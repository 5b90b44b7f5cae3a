#include "core/support/executor.h"

#include <algorithm>
#include <iterator>

namespace ravlin {

ManualExecutor::ManualExecutor(Instant start) : now_(start) {}

Executor::TaskID ManualExecutor::post(Task task) {
    return postAfter(std::chrono::nanoseconds::zero(), std::move(task));
}

Executor::TaskID ManualExecutor::postAfter(std::chrono::nanoseconds delay, Task task) {
    TaskID id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextID_++;
        const Instant due = now_ + std::max(delay, std::chrono::nanoseconds::zero());
        tasks_.emplace(Key{due, id}, std::move(task));
        dueTimes_.emplace(id, due);
    }
    posted_.notify_all();
    return id;
}

bool ManualExecutor::cancel(TaskID id) {
    Task removed;  // destroyed outside the lock: its captures may post or cancel
    {
        std::lock_guard lock(mutex_);
        const auto due = dueTimes_.find(id);
        if (due == dueTimes_.end()) {
            return false;
        }
        const auto task = tasks_.find(Key{due->second, id});
        removed = std::move(task->second);
        tasks_.erase(task);
        dueTimes_.erase(due);
    }
    return true;
}

Instant ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::optional<Executor::Task> ManualExecutor::takeDue(Instant limit) {
    std::lock_guard lock(mutex_);
    if (tasks_.empty() || tasks_.begin()->first.first > limit) {
        return std::nullopt;
    }
    auto node = tasks_.extract(tasks_.begin());
    dueTimes_.erase(node.key().second);
    now_ = std::max(now_, node.key().first);
    return std::move(node.mapped());
}

std::size_t ManualExecutor::runUntilIdle() {
    std::size_t ran = 0;
    while (auto task = takeDue(now())) {
        (*task)();
        ++ran;
    }
    return ran;
}

std::size_t ManualExecutor::advance(std::chrono::nanoseconds by) {
    const Instant target = now() + std::max(by, std::chrono::nanoseconds::zero());
    std::size_t ran = 0;
    while (auto task = takeDue(target)) {
        (*task)();
        ++ran;
    }
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, target);
    return ran;
}

bool ManualExecutor::waitForPostedWork(std::chrono::milliseconds limit) {
    {
        std::unique_lock lock(mutex_);
        const bool due = posted_.wait_for(
            lock, limit, [&] { return !tasks_.empty() && tasks_.begin()->first.first <= now_; });
        if (!due) {
            return false;
        }
    }
    runUntilIdle();
    return true;
}

std::size_t ManualExecutor::pendingCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

std::optional<Instant> ManualExecutor::nextDueTime() const {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) {
        return std::nullopt;
    }
    return tasks_.begin()->first.first;
}

ThreadWorkRunner::~ThreadWorkRunner() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) {
        worker.thread.join();
    }
}

void ThreadWorkRunner::run(Job job) {
    std::vector<Worker> finished;
    {
        std::lock_guard lock(mutex_);
        const auto split = std::stable_partition(
            workers_.begin(), workers_.end(), [](const Worker& w) { return !w.finished->load(); });
        std::move(split, workers_.end(), std::back_inserter(finished));
        workers_.erase(split, workers_.end());

        auto flag = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back(Worker{std::thread([job = std::move(job), flag]() mutable {
                                      job();
                                      job = nullptr;
                                      flag->store(true);
                                  }),
                                  flag});
    }
    for (auto& worker : finished) {
        worker.thread.join();
    }
}

}  // namespace ravlin
