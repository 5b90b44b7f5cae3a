#include "core/support/executor.h"

#include <algorithm>
#include <iterator>

namespace ravlin {

Executor::TaskID DueTaskQueue::add(Instant due, Task task) {
    const TaskID id = nextID_++;
    tasks_.emplace(Key{due, id}, std::move(task));
    dueTimes_.emplace(id, due);
    return id;
}

std::optional<Executor::Task> DueTaskQueue::remove(TaskID id) {
    const auto due = dueTimes_.find(id);
    if (due == dueTimes_.end()) {
        return std::nullopt;
    }
    auto node = tasks_.extract(Key{due->second, id});
    dueTimes_.erase(due);
    return std::move(node.mapped());
}

std::optional<std::pair<Instant, Executor::Task>> DueTaskQueue::takeDue(Instant limit) {
    if (tasks_.empty() || tasks_.begin()->first.first > limit) {
        return std::nullopt;
    }
    auto node = tasks_.extract(tasks_.begin());
    dueTimes_.erase(node.key().second);
    return std::pair{node.key().first, std::move(node.mapped())};
}

std::vector<Executor::Task> DueTaskQueue::takeAll() {
    std::vector<Task> all;
    all.reserve(tasks_.size());
    for (auto& [key, task] : tasks_) {
        all.push_back(std::move(task));
    }
    tasks_.clear();
    dueTimes_.clear();
    return all;
}

std::optional<Instant> DueTaskQueue::nextDueTime() const {
    if (tasks_.empty()) {
        return std::nullopt;
    }
    return tasks_.begin()->first.first;
}

bool DueTaskQueue::isFirst(TaskID id) const {
    return !tasks_.empty() && tasks_.begin()->first.second == id;
}

ManualExecutor::ManualExecutor(Instant start) : now_(start) {}

Executor::TaskID ManualExecutor::post(Task task) {
    return postAfter(std::chrono::nanoseconds::zero(), std::move(task));
}

Executor::TaskID ManualExecutor::postAfter(std::chrono::nanoseconds delay, Task task) {
    TaskID id = 0;
    {
        std::lock_guard lock(mutex_);
        id = tasks_.add(now_ + std::max(delay, std::chrono::nanoseconds::zero()), std::move(task));
    }
    posted_.notify_all();
    return id;
}

bool ManualExecutor::cancel(TaskID id) {
    std::optional<Task> removed;  // destroyed outside the lock: its captures may post or cancel
    {
        std::lock_guard lock(mutex_);
        removed = tasks_.remove(id);
    }
    return removed.has_value();
}

Instant ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::optional<Executor::Task> ManualExecutor::takeDue(Instant limit) {
    std::lock_guard lock(mutex_);
    auto taken = tasks_.takeDue(limit);
    if (!taken) {
        return std::nullopt;
    }
    now_ = std::max(now_, taken->first);
    return std::move(taken->second);
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
        const bool due = posted_.wait_for(lock, limit, [&] {
            const auto next = tasks_.nextDueTime();
            return next && *next <= now_;
        });
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
    return tasks_.nextDueTime();
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
