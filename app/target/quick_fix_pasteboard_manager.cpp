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
    endWatch();
}

void QNQuickFixPasteboardManager::scheduleRestore(QNModelPasteboardSnapshot snapshot,
                                                  std::int64_t afterSeconds) {
    schedule(std::move(snapshot), afterSeconds, true);
}

void QNQuickFixPasteboardManager::retryRestore(QNModelPasteboardSnapshot snapshot,
                                               std::int64_t afterSeconds) {
    schedule(std::move(snapshot), afterSeconds, false);
}

void QNQuickFixPasteboardManager::schedule(QNModelPasteboardSnapshot snapshot,
                                           std::int64_t afterSeconds, bool textLeftForUser) {
    cancelPendingRestore();
    endWatch();
    // The pending restore answers for the snapshot from now on.
    settle(snapshot.loan);
    if (exiting_) {
        // No countdown outlives the program: the user's contents go back now, unless the desktop
        // keeps the text for the person beyond the program's life and brings them back after.
        const auto duration = std::chrono::seconds(std::max<std::int64_t>(afterSeconds, 0));
        if (!(textLeftForUser && pasteboard_->leaveForUser(snapshot.contents(), duration))) {
            (void)snapshot.putBack(*pasteboard_);
        }
        return;
    }
    pendingSnapshot_ = std::move(snapshot);
    // Where the desktop can, a text left for the person stays for the rest of its time even
    // should the program end first, and the user's contents come back after it all the same.
    leftBeyondExit_ =
        textLeftForUser &&
        pasteboard_->leaveForUser(pendingSnapshot_->contents(),
                                  std::chrono::seconds(std::max<std::int64_t>(afterSeconds, 0)));
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
    leftBeyondExit_ = false;
}

std::optional<QNModelPasteboardSnapshot> QNQuickFixPasteboardManager::takePendingSnapshot() {
    if (!pendingSnapshot_ || pasteboard_->changeCount() != recordedChangeCount_) {
        return std::nullopt;
    }
    auto snapshot = std::move(pendingSnapshot_);
    cancelPendingRestore();
    return snapshot;
}

std::uint64_t QNQuickFixPasteboardManager::lend(platform::PasteboardContents contents,
                                                std::int64_t changeCount) {
    endWatch();
    const std::uint64_t loan = nextLoan_++;
    loans_.emplace(loan, Loan{std::move(contents), changeCount});
    return loan;
}

void QNQuickFixPasteboardManager::settle(std::uint64_t loan) {
    loans_.erase(loan);
}

QNClipboardLook QNQuickFixPasteboardManager::clipboardLookOf(const std::string& application) const {
    const auto found = looks_.find(application);
    return found == looks_.end() ? QNClipboardLook::unknown : found->second.seen;
}

void QNQuickFixPasteboardManager::noteClipboardLook(const std::string& application,
                                                    QNClipboardLook seen) {
    if (!looks_.contains(application) && looks_.size() >= maxApplications) {
        looks_.erase(std::ranges::min_element(looks_, {}, [](const auto& entry) {
                         return entry.second.order;
                     }));
    }
    looks_[application] = Look{seen, nextLookOrder_++};
}

std::shared_ptr<QNQuickFixPasteboardManager> QNQuickFixPasteboardManager::primarySelection() {
    if (!primary_) {
        if (auto selection = pasteboard_->primarySelection()) {
            primary_ = create(std::move(selection), executor_);
            primary_->onSaveRefused = [weak = weak_from_this()](auto failure) {
                const auto self = weak.lock();
                if (self && self->onSaveRefused) {
                    self->onSaveRefused(failure);
                }
            };
        }
    }
    return primary_;
}

void QNQuickFixPasteboardManager::restoreBeforeExit() {
    exiting_ = true;
    if (primary_) {
        primary_->restoreBeforeExit();
    }
    endWatch();
    if (!loans_.empty()) {
        const auto oldest = std::move(loans_.begin()->second);
        loans_.clear();
        cancelPendingRestore();
        if (pasteboard_->changeCount() != oldest.changeCount) {
            (void)QNModelPasteboardSnapshot::of(oldest.contents).putBack(*pasteboard_);
        }
        return;
    }
    auto pending = std::exchange(pendingSnapshot_, std::nullopt);
    const bool keptBeyondExit = leftBeyondExit_;
    cancelPendingRestore();
    if (pending && pasteboard_->changeCount() == recordedChangeCount_ && !keptBeyondExit) {
        (void)pending->putBack(*pasteboard_);
    }
}

void QNQuickFixPasteboardManager::noteRefusal(platform::PasteboardSaveFailure failure,
                                              std::int64_t changeCount) {
    refusal_ = Refusal{failure, changeCount, executor_->now()};
    if (onSaveRefused) {
        onSaveRefused(failure);
    }
}

std::optional<platform::PasteboardSaveFailure> QNQuickFixPasteboardManager::recentRefusal() const {
    if (!refusal_ || refusal_->changeCount != pasteboard_->changeCount() ||
        executor_->now() - refusal_->at >= refusalMemory) {
        return std::nullopt;
    }
    return refusal_->failure;
}

void QNQuickFixPasteboardManager::watchForLateCopy(QNModelPasteboardSnapshot snapshot,
                                                   std::optional<std::u16string> copied) {
    endWatch();
    if (exiting_) {
        return;
    }
    snapshot.loan = 0;
    snapshot.lender.reset();
    watch_.emplace();
    // Not kept: the watch runs to its end on its own and frees itself there.
    watchLateCopy(weak_from_this(), pasteboard_, executor_, std::move(snapshot), std::move(copied),
                  watch_->get_token());
}

void QNQuickFixPasteboardManager::endWatch() {
    if (watch_) {
        watch_->request_stop();
    }
    watch_.reset();
}

QCoro::Task<> QNQuickFixPasteboardManager::watchLateCopy(
    std::weak_ptr<QNQuickFixPasteboardManager> weakManager,
    std::shared_ptr<platform::Pasteboard> pasteboard, std::shared_ptr<Executor> executor,
    QNModelPasteboardSnapshot snapshot, std::optional<std::u16string> copied,
    std::stop_token stop) {
    const Instant until = executor->now() + lateCopyWatch;
    std::int64_t recorded = pasteboard->changeCount();
    int restores = 0;
    while (executor->now() < until && restores < lateCopyRestores) {
        co_await sleepFor(*executor, lateCopyStep, stop);
        if (stop.stop_requested()) {
            co_return;
        }
        if (pasteboard->changeCount() == recorded) {
            continue;
        }
        const auto now = co_await pasteboardText(pasteboard, *executor, stop);
        // A borrower that began meanwhile puts the user's contents back on its own path.
        if (stop.stop_requested() || weakManager.expired()) {
            co_return;
        }
        if (copied && now != copied) {
            break;  // something else was copied: the user's, and newer than their old contents
        }
        snapshot.putBack(*pasteboard, QNPutBackOver::targetsCopy);
        recorded = pasteboard->changeCount();
        ++restores;
    }
    if (const auto manager = weakManager.lock(); manager && !stop.stop_requested()) {
        manager->watch_.reset();
    }
}

void QNQuickFixPasteboardManager::restorePending() {
    // Restored before its time (the program leaving): the countdown ends at once. A restore that
    // cannot be confirmed schedules itself again.
    auto snapshot = std::exchange(pendingSnapshot_, std::nullopt);
    cancelPendingRestore();
    if (snapshot) {
        snapshot->restore(*pasteboard_);
    }
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
