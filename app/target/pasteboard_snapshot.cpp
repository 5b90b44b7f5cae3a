#include "app/target/pasteboard_snapshot.h"

#include <utility>

#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "app/target/quick_fix_route.h"
#include "core/text/unicode.h"

namespace ravlin {

std::string_view toString(QNPasteResult result) {
    switch (result) {
        case QNPasteResult::pasted:
            return "pasted";
        case QNPasteResult::activationFailed:
            return "activationFailed";
        case QNPasteResult::pasteFailed:
            return "pasteFailed";
    }
    return "pasted";
}

platform::KeyChord pasteChord(const platform::RunningApplication& target,
                              const std::optional<std::string>& focusedRole) {
    const auto identity =
        target.identity.empty() ? std::nullopt : std::optional<std::string>(target.identity);
    if (quickFixRoute(identity, focusedRole) == QNQuickFixRoute::terminal) {
        return {platform::keycode::v, platform::modifier::command | platform::modifier::shift};
    }
    return {platform::keycode::v, platform::modifier::command};
}

QNModelPasteboardSnapshot QNModelPasteboardSnapshot::capture(const TargetSeams& seams) {
    const auto manager = seams.pasteboardManager.lock();
    if (!manager) {
        return QNModelPasteboardSnapshot{seams.pasteboard->items()};
    }
    auto pending = manager->takePendingSnapshot();
    QNModelPasteboardSnapshot snapshot =
        pending ? std::move(*pending) : QNModelPasteboardSnapshot{seams.pasteboard->items()};
    // In the ledger until restored, so that an exit in between still puts it back.
    snapshot.loan = manager->lend(snapshot.items, seams.pasteboard->changeCount());
    snapshot.lender = manager;
    return snapshot;
}

void QNModelPasteboardSnapshot::restore(platform::Pasteboard& pasteboard) const {
    if (const auto manager = lender.lock()) {
        manager->settle(loan);
    }
    pasteboard.clear();
    if (items.empty()) {
        return;
    }
    (void)pasteboard.writeItems(items);
}

bool QNModelPasteboardSnapshot::sendPasteKeystroke(const TargetSeams& seams,
                                                   platform::RunningApplication target) {
    auto& accessibility = *seams.accessibility;
    std::optional<std::string> role;
    if (const auto focused =
            QNQuickFixHostLiveDriver::focusedElementRef(accessibility, target.pid)) {
        if (const auto read = QNQuickFixHostLiveDriver::stringAttribute(
                accessibility, platform::ax::role, *focused, true)) {
            role = text::toUtf8(*read);
        }
    }
    return seams.keySynthesis->postKeyPress(pasteChord(target, role)).ok();
}

QCoro::Task<bool> QNModelPasteboardSnapshot::waitUntilFrontmost(TargetSeams seams,
                                                                platform::RunningApplication target,
                                                                bool activationRequested,
                                                                std::stop_token stop) {
    const auto isFrontmost = [&] {
        const auto front = seams.workspace->frontmostApplication();
        return front && front->pid == target.pid;
    };
    if (isFrontmost()) {
        co_return true;
    }
    const int polls =
        activationRequested ? frontmostPollsAfterAcceptedActivation : frontmostPollsOtherwise;
    for (int poll = 0; poll < polls; ++poll) {
        co_await sleepFor(*seams.executor, frontmostPollInterval, stop);
        if (isFrontmost()) {
            co_return true;
        }
    }
    co_return false;
}

QCoro::Task<QNPasteResult> QNModelPasteboardSnapshot::paste(TargetSeams seams, std::u16string text,
                                                            platform::RunningApplication target,
                                                            std::stop_token stop) {
    if (text.empty()) {
        co_return QNPasteResult::pasted;
    }
    const auto snapshot = capture(seams);
    auto& pasteboard = *seams.pasteboard;

    bool activationAccepted = false;
    if (target.pid != seams.workspace->currentApplication().pid) {
        activationAccepted = seams.workspace->activate(target.pid);
    }
    if (!co_await waitUntilFrontmost(seams, target, activationAccepted, stop)) {
        snapshot.restore(pasteboard);
        co_return QNPasteResult::activationFailed;
    }

    // A stopped paste must not go on: its pauses would end at once and the restore would land
    // before the target fetched the text, pasting the user's previous contents instead.
    if (stop.stop_requested()) {
        snapshot.restore(pasteboard);
        co_return QNPasteResult::pasteFailed;
    }
    pasteboard.clear();
    if (!pasteboard.setString(text)) {
        snapshot.restore(pasteboard);
        co_return QNPasteResult::pasteFailed;
    }
    co_await sleepFor(*seams.executor, pauseBeforePasteChord, stop);
    if (stop.stop_requested() || !sendPasteKeystroke(seams, target)) {
        snapshot.restore(pasteboard);
        co_return QNPasteResult::pasteFailed;
    }

    // The chord is out: the target reads the pasteboard from its own event loop, and on X11
    // fetches the text from us. Nothing shortens this.
    co_await sleepFor(*seams.executor, pauseAfterPasteChord, std::stop_token());
    co_await waitForFetch(seams);
    snapshot.restore(pasteboard);
    co_return QNPasteResult::pasted;
}

WaitUntilAwaiter QNModelPasteboardSnapshot::waitForFetch(const TargetSeams& seams) {
    return waitUntil(
        *seams.executor,
        [pasteboard = seams.pasteboard] { return !pasteboard->lastWriteUnfetched(); },
        fetchPollInterval, fetchWaitLimit, std::stop_token());
}

}  // namespace ravlin
