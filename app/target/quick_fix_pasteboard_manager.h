#pragma once

// The deferred restore of the user's pasteboard when a Quick Fix leaves its corrected text on
// the clipboard for the user to paste: about a minute later the user's own contents come back,
// with at most one restore pending at a time.
//
// One per process, owned by whoever builds the target services and shared with every snapshot
// through TargetSeams::pasteboardManager; tests make their own. The countdown holds the manager
// weakly: once the manager is gone it restores nothing.
//
// It also keeps the ledger of the borrowers in flight (every snapshot captured through it and
// not restored yet), so that a program leaving in the middle of a paste or a Quick Fix puts the
// user's contents back before it goes: `restoreBeforeExit`; it watches, for a short time after a
// copy's put-back, for the target's copy landing late (`watchForLateCopy`); it remembers a
// save it had to refuse, so that no flow waits twice on an owner that does not answer; and it
// remembers, for the run, what each application was seen to do with a new clipboard of ours
// before a paste chord (`clipboardLookOf`).

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "app/target/pasteboard_snapshot.h"
#include "core/support/executor.h"
#include "platform/pasteboard.h"

namespace ravlin {

// What an application was seen to do with our text on the clipboard before a paste chord.
enum class QNClipboardLook {
    unknown,
    // It asks what the clipboard offers first, and may take a chord that comes before its
    // answer for nothing (GNOME Terminal): its chord waits for that look.
    looksFirst,
    // It never looked before a chord and pasted all the same: its chord goes at once.
    pastesAtOnce,
};

class QNQuickFixPasteboardManager
    : public std::enable_shared_from_this<QNQuickFixPasteboardManager> {
  public:
    static constexpr auto tick = std::chrono::milliseconds(100);
    static constexpr std::int64_t ticksPerSecond = 10;
    // After a copy's put-back: how long, and how often, the pasteboard is watched.
    static constexpr auto lateCopyWatch = std::chrono::milliseconds(1000);
    static constexpr auto lateCopyStep = std::chrono::milliseconds(50);
    static constexpr int lateCopyRestores = 3;
    // How long a refused save answers for the unchanged pasteboard.
    static constexpr auto refusalMemory = std::chrono::seconds(5);

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
    // A put-back of `snapshot` that could not be confirmed (the desktop did not answer): tried
    // again as the pending restore after `afterSeconds`, by the next borrower, or at exit. What is
    // on the pasteboard meanwhile is no text left for the user.
    void retryRestore(QNModelPasteboardSnapshot snapshot, std::int64_t afterSeconds);
    // Drops the pending restore, if any, without restoring it.
    void cancelPendingRestore();

    // For a new borrower of the pasteboard: while a restore is pending and the pasteboard still
    // holds only the text it was scheduled for, the pending snapshot (the user's contents), with
    // the pending restore cancelled; the borrower restores it on its own path. Otherwise none.
    [[nodiscard]] std::optional<QNModelPasteboardSnapshot> takePendingSnapshot();

    // A borrower captured `contents` (the pasteboard's change count is `changeCount` then): the
    // number of its loan, settled when the snapshot is restored or handed to scheduleRestore.
    // A watch for a late copy ends: the new borrower puts the user's contents back itself.
    [[nodiscard]] std::uint64_t lend(platform::PasteboardContents contents,
                                     std::int64_t changeCount);
    // Closes a loan; unknown or settled numbers are ignored.
    void settle(std::uint64_t loan);
    // The program is leaving: the user's contents go back now. With borrowers in flight, those
    // the oldest of them saved, unless the pasteboard has not changed since it saved them (its
    // own text never went out); otherwise the pending restore, unless something newer was
    // copied, or the pasteboard sees to it beyond the program's life (Pasteboard::leaveForUser:
    // the text then stays for the rest of its time). Nothing is pending or watched afterwards,
    // and nothing starts waiting again: a restore scheduled later goes back at once (unless the
    // pasteboard keeps the text beyond the program's life), a late copy is no longer watched.
    void restoreBeforeExit();
    [[nodiscard]] std::size_t openLoans() const { return loans_.size(); }

    // A borrower put `snapshot` (the user's contents) back after its copy chord. For
    // lateCopyWatch, every lateCopyStep: when another program has taken the pasteboard since and
    // it now holds `copied` (anything, when `copied` is none), that is the target's copy landing
    // late, and the user's contents go back again (at most lateCopyRestores times). Other
    // contents (the user's own copy), a new borrower or a deferred restore end the watch.
    void watchForLateCopy(QNModelPasteboardSnapshot snapshot, std::optional<std::u16string> copied);
    [[nodiscard]] bool isWatching() const { return watch_.has_value(); }

    // A save refused with `failure` when the change count was `changeCount`: tell onSaveRefused,
    // and answer recentRefusal while the pasteboard stays as it was, for refusalMemory.
    void noteRefusal(platform::PasteboardSaveFailure failure, std::int64_t changeCount);
    [[nodiscard]] std::optional<platform::PasteboardSaveFailure> recentRefusal() const;
    // Told of each save refused (the flow leaves the pasteboard alone).
    std::function<void(platform::PasteboardSaveFailure)> onSaveRefused;

    // What `application` (its window class or executable, else its process) was seen to do
    // before a paste chord, and the note of it, kept for the run (at most maxApplications; the
    // oldest note goes first).
    static constexpr std::size_t maxApplications = 256;
    [[nodiscard]] QNClipboardLook clipboardLookOf(const std::string& application) const;
    void noteClipboardLook(const std::string& application, QNClipboardLook seen);

    // The same for the text last selected (X11's PRIMARY), made on first use; none where the
    // desktop has none. Its refusals are told through this one's onSaveRefused, and it is
    // restored before exit with this one.
    [[nodiscard]] std::shared_ptr<QNQuickFixPasteboardManager> primarySelection();

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
    void schedule(QNModelPasteboardSnapshot snapshot, std::int64_t afterSeconds,
                  bool textLeftForUser);
    void restorePending();
    void endWatch();
    static QCoro::Task<> watchLateCopy(std::weak_ptr<QNQuickFixPasteboardManager> weakManager,
                                       std::shared_ptr<platform::Pasteboard> pasteboard,
                                       std::shared_ptr<Executor> executor,
                                       QNModelPasteboardSnapshot snapshot,
                                       std::optional<std::u16string> copied,
                                       std::stop_token stop);

    std::shared_ptr<platform::Pasteboard> pasteboard_;
    std::shared_ptr<Executor> executor_;
    // The running countdown's stop, and the snapshot it restores; both set or both none.
    std::optional<std::stop_source> pendingTask_;
    std::optional<QNModelPasteboardSnapshot> pendingSnapshot_;
    std::int64_t recordedChangeCount_ = 0;
    // The pending restore is seen to beyond the program's life by the pasteboard.
    bool leftBeyondExit_ = false;
    // restoreBeforeExit has run: the program is ending.
    bool exiting_ = false;
    struct Loan {
        platform::PasteboardContents contents;
        std::int64_t changeCount = 0;
    };
    std::optional<std::stop_source> watch_;
    struct Refusal {
        platform::PasteboardSaveFailure failure;
        std::int64_t changeCount = 0;
        Instant at;
    };
    std::optional<Refusal> refusal_;
    std::map<std::uint64_t, Loan> loans_;  // by number: the oldest first
    struct Look {
        QNClipboardLook seen = QNClipboardLook::unknown;
        std::uint64_t order = 0;
    };
    std::map<std::string, Look> looks_;
    std::uint64_t nextLookOrder_ = 0;
    std::shared_ptr<QNQuickFixPasteboardManager> primary_;
    std::uint64_t nextLoan_ = 1;
};

}  // namespace ravlin
