#include "app/target/quick_fix_pasteboard_manager.h"

#include <algorithm>
#include <utility>

#include "core/support/async.h"

namespace ravlin {

std::shared_ptr<QNQuickFixPasteboardManager> QNQuickFixPasteboardManager::create(
    std::shared_ptr<platform::Pasteboard> pasteboard, std::shared_ptr<Executor> executor) {
    return std::shared_ptr<QNQuickFixPasteboardManager>(
        new QNQuickFixPasteboardManager(std::move(pasteboard), std::move(executor)));
}

QNQuickFixPasteboardManager::QNQuickFixPasteboardManager(
    std::shared_ptr<platform::Pasteboard> pasteboard, std::shared_ptr<Executor> executor)
    : pasteboard_(std::move(pasteboard)), executor_(std::move(executor)) {}

QNQuickFixPasteboardManager::~QNQuickFixPasteboardManager() {
    if (pendingTask_) {
        pendingTask_->request_stop();
    }
}

void QNQuickFixPasteboardManager::scheduleRestore(QNModelPasteboardSnapshot snapshot,
                                                  std::int64_t afterSeconds) {
    cancelPendingRestore();
    // The pending restore answers for the snapshot from now on.
    settle(snapshot.loan);
    pendingSnapshot_ = std::move(snapshot);
    recordedChangeCount_ = pasteboard_->changeCount();
    pendingTask_.emplace();
    const std::int64_t ticks = std::max<std::int64_t>(afterSeconds, 0) * ticksPerSecond;
    // Not kept: the countdown runs to its end on its own and frees itself there.
    countdown(weak_from_this(), pasteboard_, executor_, ticks, recordedChangeCount_,
              pendingTask_->get_token());
}

void QNQuickFixPasteboardManager::cancelPendingRestore() {
    if (pendingTask_) {
        pendingTask_->request_stop();
    }
    pendingTask_.reset();
    pendingSnapshot_.reset();
}

std::optional<QNModelPasteboardSnapshot> QNQuickFixPasteboardManager::takePendingSnapshot() {
    if (!pendingSnapshot_ || pasteboard_->changeCount() != recordedChangeCount_) {
        return std::nullopt;
    }
    auto snapshot = std::move(pendingSnapshot_);
    cancelPendingRestore();
    return snapshot;
}

std::uint64_t QNQuickFixPasteboardManager::lend(std::vector<platform::PasteboardItem> items,
                                                std::int64_t changeCount) {
    const std::uint64_t loan = nextLoan_++;
    loans_.emplace(loan, Loan{std::move(items), changeCount});
    return loan;
}

void QNQuickFixPasteboardManager::settle(std::uint64_t loan) {
    loans_.erase(loan);
}

void QNQuickFixPasteboardManager::restoreBeforeExit() {
    if (!loans_.empty()) {
        const Loan& oldest = loans_.begin()->second;
        if (pasteboard_->changeCount() != oldest.changeCount) {
            QNModelPasteboardSnapshot{oldest.items}.restore(*pasteboard_);
        }
        loans_.clear();
        cancelPendingRestore();
        return;
    }
    if (pendingSnapshot_ && pasteboard_->changeCount() == recordedChangeCount_) {
        restorePending();
    }
    cancelPendingRestore();
}

void QNQuickFixPasteboardManager::restorePending() {
    if (pendingSnapshot_) {
        pendingSnapshot_->restore(*pasteboard_);
    }
    pendingSnapshot_.reset();
    pendingTask_.reset();
}

QCoro::Task<> QNQuickFixPasteboardManager::countdown(
    std::weak_ptr<QNQuickFixPasteboardManager> weakManager,
    std::shared_ptr<platform::Pasteboard> pasteboard, std::shared_ptr<Executor> executor,
    std::int64_t ticks, std::int64_t recordedChangeCount, std::stop_token stop) {
    // The task first runs on the sequence once the scheduling call has returned.
    co_await sleepFor(*executor, std::chrono::nanoseconds::zero(), stop);
    if (stop.stop_requested()) {
        co_return;
    }
    for (std::int64_t counted = 0; counted < ticks;) {
        co_await sleepFor(*executor, tick, stop);
        // A stop (cancelled, replaced, the manager gone) ends the countdown without restoring;
        // while none was requested this countdown is the manager's pending one.
        if (stop.stop_requested()) {
            co_return;
        }
        if (pasteboard->changeCount() != recordedChangeCount) {
            if (const auto manager = weakManager.lock()) {
                manager->cancelPendingRestore();
            }
            co_return;
        }
        ++counted;
    }
    if (const auto manager = weakManager.lock()) {
        manager->restorePending();
    }
}

}  // namespace ravlin
