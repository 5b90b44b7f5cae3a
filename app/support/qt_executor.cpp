#include "app/support/qt_executor.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <limits>
#include <vector>

namespace ravlin {

QtExecutor::QtExecutor(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { runDue(); });
}

QtExecutor::~QtExecutor() {
    std::vector<Task> dropped;  // destroyed outside the lock: their captures may post or cancel
    std::lock_guard lock(mutex_);
    dropped = tasks_.takeAll();
}

Executor::TaskID QtExecutor::post(Task task) {
    return postAfter(std::chrono::nanoseconds::zero(), std::move(task));
}

Executor::TaskID QtExecutor::postAfter(std::chrono::nanoseconds delay, Task task) {
    TaskID id = 0;
    bool becameFirst = false;
    {
        std::lock_guard lock(mutex_);
        id = tasks_.add(now() + std::max(delay, std::chrono::nanoseconds::zero()), std::move(task));
        becameFirst = tasks_.isFirst(id);
    }
    if (becameFirst) {
        wake();
    }
    return id;
}

bool QtExecutor::cancel(TaskID id) {
    std::optional<Task> removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    removed = tasks_.remove(id);
    // The timer may now fire early for nothing; runDue then just sets it again.
    return removed.has_value();
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
    auto taken = tasks_.takeDue(limit);
    if (!taken) {
        return std::nullopt;
    }
    return std::move(taken->second);
}

void QtExecutor::runDue() {
    const Instant turn = now();
    while (auto task = takeDue(turn)) {
        (*task)();
    }
    reschedule();
    if (afterTurn_) {
        afterTurn_();
    }
}

bool QtExecutor::drain(std::chrono::milliseconds limit) {
    if (suspendedWaits() == 0) {
        return true;
    }
    // Every wait resumes from a task of the sequence: after each turn is when one may have been
    // the last.
    QEventLoop loop;
    afterTurn_ = [this, &loop] {
        if (suspendedWaits() == 0) {
            loop.quit();
        }
    };
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
    afterTurn_ = nullptr;
    return suspendedWaits() == 0;
}

void QtExecutor::discardWaiting() {
    // Each round's tasks go outside the lock: their captures may post or cancel as they go, and
    // what they let go of may end a worker, whose result is posted before it has ended.
    // (Bounded: a task that posted another each time it went would otherwise keep this going.)
    for (int round = 0; round < 100; ++round) {
        std::vector<Task> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped = tasks_.takeAll();
        }
        if (dropped.empty()) {
            break;
        }
    }
    timer_.stop();
}

void QtExecutor::reschedule() {
    std::optional<Instant> next;
    {
        std::lock_guard lock(mutex_);
        wakePending_ = false;
        next = tasks_.nextDueTime();
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
