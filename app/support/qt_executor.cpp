#include "app/support/qt_executor.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <limits>

namespace ravlin {

QtExecutor::QtExecutor(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { runDue(); });
}

QtExecutor::~QtExecutor() {
    std::map<Key, Task> dropped;  // destroyed outside the lock: their captures may post or cancel
    std::lock_guard lock(mutex_);
    dropped.swap(tasks_);
    dueTimes_.clear();
}

Executor::TaskID QtExecutor::post(Task task) {
    return postAfter(std::chrono::nanoseconds::zero(), std::move(task));
}

Executor::TaskID QtExecutor::postAfter(std::chrono::nanoseconds delay, Task task) {
    TaskID id = 0;
    bool becameFirst = false;
    {
        std::lock_guard lock(mutex_);
        id = nextID_++;
        const Key key{now() + std::max(delay, std::chrono::nanoseconds::zero()), id};
        tasks_.emplace(key, std::move(task));
        dueTimes_.emplace(id, key.first);
        becameFirst = tasks_.begin()->first == key;
    }
    if (becameFirst) {
        wake();
    }
    return id;
}

bool QtExecutor::cancel(TaskID id) {
    Task removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    const auto due = dueTimes_.find(id);
    if (due == dueTimes_.end()) {
        return false;
    }
    const auto task = tasks_.find(Key{due->second, id});
    removed = std::move(task->second);
    tasks_.erase(task);
    dueTimes_.erase(due);
    // The timer may now fire early for nothing; runDue then just sets it again.
    return true;
}

Instant QtExecutor::now() const {
    return std::chrono::steady_clock::now();
}

std::size_t QtExecutor::pendingCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

std::optional<Executor::Task> QtExecutor::takeDue(Instant limit) {
    std::lock_guard lock(mutex_);
    if (tasks_.empty() || tasks_.begin()->first.first > limit) {
        return std::nullopt;
    }
    auto node = tasks_.extract(tasks_.begin());
    dueTimes_.erase(node.key().second);
    return std::move(node.mapped());
}

void QtExecutor::runDue() {
    const Instant turn = now();
    while (auto task = takeDue(turn)) {
        (*task)();
    }
    reschedule();
}

void QtExecutor::reschedule() {
    std::optional<Instant> next;
    {
        std::lock_guard lock(mutex_);
        wakePending_ = false;
        if (!tasks_.empty()) {
            next = tasks_.begin()->first.first;
        }
    }
    if (!next) {
        timer_.stop();
        return;
    }
    // Round up so the timer never fires before the task is due.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::max(*next - now(), std::chrono::nanoseconds::zero()));
    timer_.start(static_cast<int>(
        std::min<std::chrono::milliseconds::rep>(wait.count(), std::numeric_limits<int>::max())));
}

void QtExecutor::wake() {
    if (QThread::currentThread() == thread()) {
        reschedule();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (std::exchange(wakePending_, true)) {
            return;
        }
    }
    QMetaObject::invokeMethod(
        this, [this] { reschedule(); }, Qt::QueuedConnection);
}

}  // namespace ravlin
