#pragma once

// The deferred restore of the user's pasteboard when a Quick Fix leaves its corrected text on
// the clipboard for the user to paste: about a minute later the user's own contents come back,
// with at most one restore pending at a time.
//
// One per process, owned by whoever builds the target services and shared with every snapshot
// through TargetSeams::pasteboardManager; tests make their own. The countdown holds the manager
// weakly: once the manager is gone it restores nothing.

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>

#include "app/target/pasteboard_snapshot.h"
#include "core/support/executor.h"
#include "platform/pasteboard.h"

namespace ravlin {

class QNQuickFixPasteboardManager
    : public std::enable_shared_from_this<QNQuickFixPasteboardManager> {
  public:
    static constexpr auto tick = std::chrono::milliseconds(100);
    static constexpr std::int64_t ticksPerSecond = 10;

    [[nodiscard]] static std::shared_ptr<QNQuickFixPasteboardManager> create(
        std::shared_ptr<platform::Pasteboard> pasteboard, std::shared_ptr<Executor> executor);
    QNQuickFixPasteboardManager(const QNQuickFixPasteboardManager&) = delete;
    QNQuickFixPasteboardManager& operator=(const QNQuickFixPasteboardManager&) = delete;
    // Stops a pending countdown; nothing is restored.
    ~QNQuickFixPasteboardManager();

    // The caller has just written its own text to the pasteboard: restore `snapshot` after
    // `afterSeconds` seconds (negative counts as 0) of 100 ms ticks during which the pasteboard's
    // change count stays where it is now. A restore still pending is dropped unrestored. Should
    // the count move first, something newer was copied: the snapshot is dropped, since writing it
    // back would destroy the newer contents.
    void scheduleRestore(QNModelPasteboardSnapshot snapshot, std::int64_t afterSeconds);
    // Drops the pending restore, if any, without restoring it.
    void cancelPendingRestore();

    // For a new borrower of the pasteboard: while a restore is pending and the pasteboard still
    // holds only the text it was scheduled for, the pending snapshot (the user's contents), with
    // the pending restore cancelled; the borrower restores it on its own path. Otherwise none.
    [[nodiscard]] std::optional<QNModelPasteboardSnapshot> takePendingSnapshot();

    [[nodiscard]] bool hasPendingRestore() const { return pendingTask_.has_value(); }
    [[nodiscard]] const std::optional<QNModelPasteboardSnapshot>& pendingSnapshot() const {
        return pendingSnapshot_;
    }

  private:
    QNQuickFixPasteboardManager(std::shared_ptr<platform::Pasteboard> pasteboard,
                                std::shared_ptr<Executor> executor);

    static QCoro::Task<> countdown(std::weak_ptr<QNQuickFixPasteboardManager> weakManager,
                                   std::shared_ptr<platform::Pasteboard> pasteboard,
                                   std::shared_ptr<Executor> executor, std::int64_t ticks,
                                   std::int64_t recordedChangeCount, std::stop_token stop);
    void restorePending();

    std::shared_ptr<platform::Pasteboard> pasteboard_;
    std::shared_ptr<Executor> executor_;
    // The running countdown's stop, and the snapshot it restores; both set or both none.
    std::optional<std::stop_source> pendingTask_;
    std::optional<QNModelPasteboardSnapshot> pendingSnapshot_;
    std::int64_t recordedChangeCount_ = 0;
};

}  // namespace ravlin
