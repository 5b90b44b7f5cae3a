#include "app/target/pasteboard_snapshot.h"

#include <utility>

#include "app/target/focus_snapshot.h"
#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "app/target/quick_fix_route.h"
#include "core/text/search.h"
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
        case QNPasteResult::selectionLost:
            return "selectionLost";
    }
    return "pasted";
}

std::optional<QNPasteSelection> QNPasteSelection::seededBy(const QNModelFocusSnapshot& snapshot) {
    if (!snapshot.selectionText || text::isBlank(*snapshot.selectionText)) {
        return std::nullopt;
    }
    QNPasteSelection selection{*snapshot.selectionText, std::nullopt};
    if (snapshot.selectionLocation && snapshot.selectionLength && *snapshot.selectionLength > 0) {
        selection.range = text::Utf16Range{*snapshot.selectionLocation, *snapshot.selectionLength};
    }
    return selection;
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
        auto items = seams.pasteboard->items();
        return QNModelPasteboardSnapshot{std::move(items), seams.pasteboard->lastReadComplete()};
    }
    auto pending = manager->takePendingSnapshot();
    QNModelPasteboardSnapshot snapshot;
    if (pending) {
        snapshot = std::move(*pending);
    } else {
        auto items = seams.pasteboard->items();
        snapshot = QNModelPasteboardSnapshot{std::move(items), seams.pasteboard->lastReadComplete()};
    }
    // In the ledger until restored, so that an exit in between still puts it back; contents
    // that could not be saved are never put back, so they are not lent either.
    if (snapshot.complete) {
        snapshot.loan = manager->lend(snapshot.items, seams.pasteboard->changeCount());
        snapshot.lender = manager;
    }
    return snapshot;
}

void QNModelPasteboardSnapshot::restore(platform::Pasteboard& pasteboard) const {
    if (const auto manager = lender.lock()) {
        manager->settle(loan);
    }
    if (!complete) {
        return;
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

QCoro::Task<bool> QNModelPasteboardSnapshot::reselect(TargetSeams seams,
                                                      platform::RunningApplication target,
                                                      QNPasteSelection selection,
                                                      std::stop_token stop) {
    using Driver = QNQuickFixHostLiveDriver;
    auto& accessibility = *seams.accessibility;
    std::optional<std::string> role;
    if (const auto element = Driver::focusedElementRef(accessibility, target.pid)) {
        if (const auto read =
                Driver::stringAttribute(accessibility, platform::ax::role, *element, true)) {
            role = text::toUtf8(*read);
        }
        if (Driver::selectedText(accessibility, *element) == selection.text) {
            co_return true;
        }
        std::optional<text::Utf16Range> range;
        if (const auto value =
                Driver::stringAttribute(accessibility, platform::ax::value, *element, true)) {
            if (selection.range && Driver::substring(*value, selection.range->location,
                                                     selection.range->length) == selection.text) {
                range = selection.range;
            } else if (const auto at = text::findFirst(*value, selection.text)) {
                range = text::Utf16Range{static_cast<std::int64_t>(*at),
                                         static_cast<std::int64_t>(selection.text.size())};
            }
        }
        if (range && Driver::setSelectedTextRange(accessibility, *range, *element)) {
            for (int check = 0; check < selectionChecks && !stop.stop_requested(); ++check) {
                const auto front = seams.workspace->frontmostApplication();
                if (!front || front->pid != target.pid) {
                    co_return false;
                }
                if (Driver::selectedText(accessibility, *element) == selection.text) {
                    co_return true;
                }
                co_await sleepFor(*seams.executor, selectionCheckInterval, stop);
            }
        }
    }
    if (stop.stop_requested()) {
        co_return false;
    }
    const auto copied =
        co_await QNModelFocusSnapshot::copySelectionViaPasteboard(seams, target, role, stop);
    co_return copied == selection.text;
}

QCoro::Task<QNPasteResult> QNModelPasteboardSnapshot::paste(
    TargetSeams seams, std::u16string text, platform::RunningApplication target,
    std::stop_token stop, std::optional<QNPasteSelection> replacing) {
    if (text.empty()) {
        co_return QNPasteResult::pasted;
    }
    const auto snapshot = capture(seams);
    if (!snapshot.complete) {
        co_return QNPasteResult::pasteFailed;
    }
    auto& pasteboard = *seams.pasteboard;

    bool activationAccepted = false;
    if (target.pid != seams.workspace->currentApplication().pid) {
        activationAccepted = seams.workspace->activate(target.pid);
    }
    if (!co_await waitUntilFrontmost(seams, target, activationAccepted, stop)) {
        snapshot.restore(pasteboard);
        co_return QNPasteResult::activationFailed;
    }
    // Pasting over anything but the selection the session was seeded from would leave that text
    // in place beside the new one, or overwrite other text of the user's.
    if (replacing && !co_await reselect(seams, target, *replacing, stop)) {
        snapshot.restore(pasteboard);
        co_return QNPasteResult::selectionLost;
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
