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

AnswerAwaiter<std::optional<std::u16string>> pasteboardText(
    std::shared_ptr<platform::Pasteboard> pasteboard, Executor& executor) {
    return whenAnswered<std::optional<std::u16string>>(
        executor, [pasteboard = std::move(pasteboard)](auto done) {
            pasteboard->readString(std::move(done));
        });
}

QNModelPasteboardSnapshot QNModelPasteboardSnapshot::of(platform::PasteboardContents contents) {
    QNModelPasteboardSnapshot snapshot;
    snapshot.failure = contents.failure;
    if (snapshot.complete()) {
        snapshot.items = std::move(contents.items);
        snapshot.offer = std::move(contents.offer);
    }
    return snapshot;
}

QCoro::Task<QNModelPasteboardSnapshot> QNModelPasteboardSnapshot::capture(TargetSeams seams) {
    auto& pasteboard = *seams.pasteboard;
    std::optional<QNModelPasteboardSnapshot> pending;
    std::optional<platform::PasteboardSaveFailure> refused;
    if (const auto manager = seams.pasteboardManager.lock()) {
        pending = manager->takePendingSnapshot();
        if (!pending) {
            refused = manager->recentRefusal();
        }
    }
    QNModelPasteboardSnapshot snapshot;
    if (pending) {
        snapshot = std::move(*pending);
        snapshot.tookPendingRestore = true;
    } else if (refused) {
        snapshot.failure = *refused;
    } else {
        snapshot = of(co_await whenAnswered<platform::PasteboardContents>(
            *seams.executor, [pasteboard = seams.pasteboard](auto done) {
                pasteboard->readContents(std::move(done));
            }));
    }
    const auto manager = seams.pasteboardManager.lock();
    snapshot.changeCountWhenSaved = pasteboard.changeCount();
    if (!manager) {
        co_return snapshot;
    }
    if (!snapshot.complete()) {
        if (!refused) {
            manager->noteRefusal(snapshot.failure, pasteboard.changeCount());
        }
        co_return snapshot;
    }
    // In the ledger until restored, so that an exit in between still puts it back; contents
    // that could not be saved are never put back, so they are not lent either.
    snapshot.changeCountWhenSaved = pasteboard.changeCount();
    snapshot.loan = manager->lend(snapshot.contents(), snapshot.changeCountWhenSaved);
    snapshot.lender = manager;
    co_return snapshot;
}

void QNModelPasteboardSnapshot::restore(platform::Pasteboard& pasteboard) const {
    if (const auto manager = lender.lock()) {
        manager->settle(loan);
    }
    putBack(pasteboard);
}

void QNModelPasteboardSnapshot::putBack(platform::Pasteboard& pasteboard) const {
    if (!complete()) {
        return;
    }
    pasteboard.clear();
    if (items.empty()) {
        return;
    }
    (void)pasteboard.writeContents(contents());
}

void QNModelPasteboardSnapshot::release(platform::Pasteboard& pasteboard) const {
    if (tookPendingRestore || pasteboard.changeCount() != changeCountWhenSaved) {
        restore(pasteboard);
    } else if (const auto manager = lender.lock()) {
        manager->settle(loan);
    }
}

void QNModelPasteboardSnapshot::restoreAfterCopy(const TargetSeams& seams,
                                                 std::optional<std::u16string> copied) const {
    restore(*seams.pasteboard);
    if (!complete()) {
        return;
    }
    if (const auto manager = seams.pasteboardManager.lock()) {
        manager->watchForLateCopy(of(contents()), std::move(copied));
    }
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

QCoro::Task<bool> QNModelPasteboardSnapshot::reselect(
    TargetSeams seams, platform::RunningApplication target, QNPasteSelection selection,
    std::stop_token stop, std::shared_ptr<const QNModelPasteboardSnapshot> saved) {
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
    const auto copied = co_await QNModelFocusSnapshot::copySelectionViaPasteboard(
        seams, target, role, stop, std::move(saved));
    co_return copied == selection.text;
}

QCoro::Task<QNPasteResult> QNModelPasteboardSnapshot::paste(
    TargetSeams seams, std::u16string text, platform::RunningApplication target,
    std::stop_token stop, std::optional<QNPasteSelection> replacing) {
    if (text.empty()) {
        co_return QNPasteResult::pasted;
    }
    const auto snapshot = std::make_shared<const QNModelPasteboardSnapshot>(co_await capture(seams));
    if (!snapshot->complete()) {
        co_return QNPasteResult::pasteFailed;
    }
    auto& pasteboard = *seams.pasteboard;

    bool activationAccepted = false;
    if (target.pid != seams.workspace->currentApplication().pid) {
        activationAccepted = seams.workspace->activate(target.pid);
    }
    if (!co_await waitUntilFrontmost(seams, target, activationAccepted, stop)) {
        snapshot->restore(pasteboard);
        co_return QNPasteResult::activationFailed;
    }
    // Put back at the end; after a selection check, one that watches for its copy landing late.
    const auto restore = [&] {
        if (replacing) {
            snapshot->restoreAfterCopy(seams, replacing->text);
        } else {
            snapshot->restore(pasteboard);
        }
    };
    // Pasting over anything but the selection the session was seeded from would leave that text
    // in place beside the new one, or overwrite other text of the user's.
    if (replacing && !co_await reselect(seams, target, *replacing, stop, snapshot)) {
        restore();
        co_return QNPasteResult::selectionLost;
    }

    // A stopped paste must not go on: its pauses would end at once and the restore would land
    // before the target fetched the text, pasting the user's previous contents instead.
    if (stop.stop_requested()) {
        restore();
        co_return QNPasteResult::pasteFailed;
    }
    pasteboard.clear();
    if (!pasteboard.setString(text)) {
        restore();
        co_return QNPasteResult::pasteFailed;
    }
    co_await sleepFor(*seams.executor, pauseBeforePasteChord, stop);
    if (stop.stop_requested() || !sendPasteKeystroke(seams, target)) {
        restore();
        co_return QNPasteResult::pasteFailed;
    }

    // The chord is out: the target reads the pasteboard from its own event loop, and on X11
    // fetches the text from us. Nothing shortens this.
    co_await sleepFor(*seams.executor, pauseAfterPasteChord, std::stop_token());
    co_await waitForFetch(seams);
    restore();
    co_return QNPasteResult::pasted;
}

WaitUntilAwaiter QNModelPasteboardSnapshot::waitForFetch(const TargetSeams& seams) {
    return waitUntil(
        *seams.executor,
        [pasteboard = seams.pasteboard] { return !pasteboard->lastWriteUnfetched(); },
        fetchPollInterval, fetchWaitLimit, std::stop_token());
}

}  // namespace ravlin
