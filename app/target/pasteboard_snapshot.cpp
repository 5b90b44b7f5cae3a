#include "app/target/pasteboard_snapshot.h"

#include <utility>
#include <variant>

#include "app/target/focus_snapshot.h"
#include "app/target/paste_check.h"
#include "app/target/paste_sequence.h"
#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "app/target/quick_fix_route.h"
#include "core/text/search.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

std::optional<std::string> identityOrNone(const platform::RunningApplication& app) {
    return app.identity.empty() ? std::nullopt : std::optional<std::string>(app.identity);
}

// The field a paste is for, and its role; `readable` when a paste into it may be checked by
// reading it back. `opened`: the field the paste was meant for from the start (where it was
// known); else the focused element of `target` now.
struct FocusedField {
    std::optional<platform::ElementRef> element;
    std::optional<std::string> role;
    bool readable = false;
};

FocusedField focusedField(const TargetSeams& seams, const platform::RunningApplication& target,
                          std::optional<platform::ElementRef> opened) {
    using Driver = QNQuickFixHostLiveDriver;
    auto& accessibility = *seams.accessibility;
    FocusedField field;
    field.element = opened ? opened : Driver::focusedElementRef(accessibility, target.pid);
    if (!field.element) {
        return field;
    }
    if (const auto read =
            Driver::stringAttribute(accessibility, platform::ax::role, *field.element, true)) {
        field.role = text::toUtf8(*read);
    }
    // Never read back: a password field, nor a terminal, whose text is a screen the program in
    // it draws (echoed or not, wrapped, scrolled).
    field.readable = !Driver::isSecureTextElement(accessibility, *field.element, field.role) &&
                     !terminalPaste(identityOrNone(target), field.role);
    return field;
}

// A terminal whose paste chord is not known: nothing is sent, and no chord is named.
QNPasteRoute noChordRoute() {
    return {std::nullopt, "", false};
}

bool isInFront(const TargetSeams& seams, const platform::RunningApplication& target) {
    const auto front = seams.workspace->frontmostApplication();
    return front && front->pid == target.pid;
}

// Where the keyboard is in `target` now, as far as the desktop tells: in `window` (where known)
// and in `field` there (where known over accessibility), and not in a password field. Read fresh.
QNChordPlace keyboardPlace(const TargetSeams& seams, const platform::RunningApplication& target,
                           std::optional<std::uint64_t> window,
                           std::optional<platform::ElementRef> field) {
    using Driver = QNQuickFixHostLiveDriver;
    if (!isInFront(seams, target)) {
        return QNChordPlace::otherApplication;
    }
    if (window && seams.workspace->frontmostWindow() != window) {
        return QNChordPlace::otherWindow;
    }
    auto& accessibility = *seams.accessibility;
    const auto focused = Driver::focusedElementRef(accessibility, target.pid);
    bool password = seams.secureInput->state() == platform::SecureInput::State::on;
    if (focused && !password) {
        std::optional<std::string> role;
        if (const auto read =
                Driver::stringAttribute(accessibility, platform::ax::role, *focused, true)) {
            role = text::toUtf8(*read);
        }
        password = QNModelFocusSnapshot::isPasswordField(seams, *focused, role);
    }
    if (password) {
        return QNChordPlace::passwordField;
    }
    // (one that cannot be found now cannot be told to be the field)
    if (field && focused != field) {
        return QNChordPlace::otherField;
    }
    return QNChordPlace::target;
}

// Where the keyboard was, in the session log's and the outcome's words.
std::string_view keyboardElsewhereReason(QNChordPlace place) {
    switch (place) {
        case QNChordPlace::otherApplication:
            return "another-application";
        case QNChordPlace::otherWindow:
            return "another-window";
        case QNChordPlace::otherField:
            return "another-field";
        case QNChordPlace::target:
        case QNChordPlace::passwordField:
        case QNChordPlace::elsewhere:
            break;
    }
    return "another-window-unnamed";
}

// What the pasteboard's manager remembers `target` by: the window class or executable of the
// application in front when it is the target, else its process.
std::string applicationKey(const TargetSeams& seams, const platform::FetchTarget& target) {
    if (const auto front = seams.workspace->frontmostApplication();
        front && front->pid == target.pid && !front->identity.empty()) {
        return front->identity;
    }
    return "pid " + std::to_string(target.pid);
}

}  // namespace

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
        case QNPasteResult::leftOnClipboard:
            return "leftOnClipboard";
        case QNPasteResult::pastedInPart:
            return "pastedInPart";
        case QNPasteResult::sentUnconfirmed:
            return "sentUnconfirmed";
        case QNPasteResult::clipboardUnsaved:
            return "clipboardUnsaved";
        case QNPasteResult::clipboardChanged:
            return "clipboardChanged";
        case QNPasteResult::notPasted:
            return "notPasted";
        case QNPasteResult::keyboardElsewhere:
            return "keyboardElsewhere";
        case QNPasteResult::passwordField:
            return "passwordField";
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

std::optional<text::Utf16Range> QNPasteSelection::in(std::u16string_view value) const {
    if (text.empty()) {
        return std::nullopt;
    }
    if (range &&
        QNQuickFixHostLiveDriver::substring(value, range->location, range->length) == text) {
        return range;
    }
    if (const auto at = text::findFirst(value, text)) {
        return text::Utf16Range{static_cast<std::int64_t>(*at),
                                static_cast<std::int64_t>(text.size())};
    }
    return std::nullopt;
}

QNPasteRoute pasteRoute(const platform::RunningApplication& target,
                        const std::optional<std::string>& focusedRole) {
    using platform::modifier::command;
    using platform::modifier::shift;
    const auto terminal = terminalPaste(identityOrNone(target), focusedRole);
    if (!terminal) {
        return {platform::KeyChord{platform::keycode::v, command}, "Ctrl+V", false};
    }
    switch (*terminal) {
        case QNTerminalPaste::clipboardChord:
            return {platform::KeyChord{platform::keycode::v, command | shift}, "Ctrl+Shift+V",
                    false};
        case QNTerminalPaste::primaryShiftInsert:
            return {platform::KeyChord{platform::keycode::insert, shift}, "Shift+Insert", true};
        case QNTerminalPaste::unknown:
            break;
    }
    return noChordRoute();
}

AnswerAwaiter<std::optional<std::u16string>> pasteboardText(
    std::shared_ptr<platform::Pasteboard> pasteboard, Executor& executor, std::stop_token stop) {
    return whenAnswered<std::optional<std::u16string>>(
        executor,
        [pasteboard = std::move(pasteboard)](auto done) { pasteboard->readString(std::move(done)); },
        std::move(stop));
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
            *seams.executor,
            [pasteboard = seams.pasteboard](auto done) {
                pasteboard->readContents(std::move(done));
            },
            seams.ending,
            platform::PasteboardContents{.failure =
                                             platform::PasteboardSaveFailure::ownerNotAnswering}));
    }
    snapshot.changeCountWhenSaved = pasteboard.changeCount();
    const auto manager = seams.pasteboardManager.lock();
    if (!manager) {
        co_return snapshot;
    }
    if (!snapshot.complete()) {
        // (A read the program's end cut short says nothing of the owner.)
        if (!refused && !seams.ending.stop_requested()) {
            manager->noteRefusal(snapshot.failure, snapshot.changeCountWhenSaved);
        }
        co_return snapshot;
    }
    // In the ledger until restored, so that an exit in between still puts it back; contents
    // that could not be saved are never put back, so they are not lent either.
    snapshot.loan = manager->lend(snapshot.contents(), snapshot.changeCountWhenSaved);
    snapshot.lender = manager;
    co_return snapshot;
}

platform::PutBack QNModelPasteboardSnapshot::restore(platform::Pasteboard& pasteboard,
                                                     QNPutBackOver over) const {
    const auto manager = lender.lock();
    if (manager) {
        manager->settle(loan);
    }
    // Nothing has changed since the save (nothing of ours was written): they never left.
    if (complete() && over == QNPutBackOver::ownChange && !tookPendingRestore &&
        pasteboard.changeCount() == changeCountWhenSaved) {
        return platform::PutBack::done;
    }
    const auto putBackNow = putBack(pasteboard, over);
    if (putBackNow == platform::PutBack::failed && manager) {
        // Not known to be back (the desktop did not answer): tried again shortly, and by the
        // next borrower or at exit meanwhile.
        manager->retryRestore(*this, pasteBounds.retryAfterFailedRestore.count());
    }
    return putBackNow;
}

platform::PutBack QNModelPasteboardSnapshot::putBack(platform::Pasteboard& pasteboard,
                                                     QNPutBackOver over) const {
    if (!complete()) {
        return platform::PutBack::done;  // never borrowed, so never left
    }
    if (over == QNPutBackOver::ownChange) {
        return pasteboard.putBackOverOwnChange(contents());
    }
    pasteboard.clear();
    if (!pasteboard.writeContents(contents()).ok()) {
        return platform::PutBack::failed;
    }
    return platform::PutBack::done;
}

bool QNModelPasteboardSnapshot::stillOn(platform::Pasteboard& pasteboard) const {
    return pasteboard.changeCount() == changeCountWhenSaved || pasteboard.holdsOwnChange();
}

void QNModelPasteboardSnapshot::release(platform::Pasteboard& pasteboard) const {
    if (tookPendingRestore || pasteboard.changeCount() != changeCountWhenSaved) {
        restore(pasteboard);
    } else if (const auto manager = lender.lock()) {
        manager->settle(loan);
    }
}

platform::PutBack QNModelPasteboardSnapshot::restoreAfterCopy(
    const TargetSeams& seams, std::optional<std::u16string> copied, QNPutBackOver over) const {
    const auto putBack = restore(*seams.pasteboard, over);
    if (!complete()) {
        return putBack;
    }
    if (const auto manager = seams.pasteboardManager.lock()) {
        manager->watchForLateCopy(of(contents()), std::move(copied));
    }
    return putBack;
}

QCoro::Task<bool> QNModelPasteboardSnapshot::leaveAtExit(TargetSeams seams, std::u16string text) {
    if (text.empty()) {
        co_return false;
    }
    const auto saved = co_await capture(seams);
    if (!saved.complete()) {
        co_return false;
    }
    auto& pasteboard = *seams.pasteboard;
    pasteboard.clear();
    if (!pasteboard.setString(text).ok() ||
        !pasteboard.leaveForUser(saved.contents(), pasteBounds.deferredRestore)) {
        (void)saved.restore(pasteboard);
        co_return false;
    }
    if (const auto manager = saved.lender.lock()) {
        manager->settle(saved.loan);
    }
    co_return true;
}

QCoro::Task<bool> QNModelPasteboardSnapshot::waitUntilFrontmost(TargetSeams seams,
                                                                platform::RunningApplication target,
                                                                bool activationRequested,
                                                                std::stop_token stop) {
    const auto isFrontmost = [seams, target] { return isInFront(seams, target); };
    const bool inFront =
        co_await waitForFront(seams, isFrontmost, pasteBounds.frontWait(activationRequested), stop);
    co_return inFront || (stop.stop_requested() && isFrontmost());
}

QCoro::Task<QNModelPasteboardSnapshot::Reselected> QNModelPasteboardSnapshot::reselect(
    TargetSeams seams, platform::RunningApplication target, QNPasteSelection selection,
    std::stop_token stop, std::shared_ptr<const QNModelPasteboardSnapshot> saved) {
    using Driver = QNQuickFixHostLiveDriver;
    auto& accessibility = *seams.accessibility;
    // A field that cannot be seen may be a password field, or a terminal where Ctrl+C interrupts
    // what runs: nothing is sent to it, and a selection that cannot be seen is never certain.
    const auto element = Driver::focusedElementRef(accessibility, target.pid);
    if (!element || seams.secureInput->state() == platform::SecureInput::State::on) {
        co_return Reselected{};
    }
    std::optional<std::string> role;
    if (const auto read = Driver::stringAttribute(accessibility, platform::ax::role, *element, true)) {
        role = text::toUtf8(*read);
    }
    if (Driver::isSecureTextElement(accessibility, *element, role)) {
        co_return Reselected{};
    }
    if (Driver::selectedText(accessibility, *element) == selection.text) {
        co_return Reselected{.certain = true};
    }
    std::optional<text::Utf16Range> range;
    if (const auto value =
            Driver::stringAttribute(accessibility, platform::ax::value, *element, true)) {
        range = selection.in(*value);
    }
    if (range && Driver::setSelectedTextRange(accessibility, *range, *element)) {
        for (int check = 0; check < pasteBounds.selectionChecks && !stop.stop_requested();
             ++check) {
            if (!isInFront(seams, target)) {
                co_return Reselected{};
            }
            if (Driver::selectedText(accessibility, *element) == selection.text) {
                co_return Reselected{.certain = true};
            }
            co_await sleepFor(*seams.executor, pasteBounds.selectionCheckInterval, stop);
        }
    }
    // A copy tells what is selected only while something is: without a selection some editors
    // copy the whole line the caret is on.
    const auto selected = Driver::selectedTextRange(accessibility, *element);
    if (stop.stop_requested() || !selected || selected->length < 1) {
        co_return Reselected{};
    }
    const auto copied = co_await QNModelFocusSnapshot::copySelectionViaPasteboard(
        seams, target, role, stop, std::move(saved));
    co_return Reselected{.certain = copied == selection.text, .copied = true};
}

namespace {

// The user's contents a Composer paste borrows: the clipboard's, and beside it the text last
// selected's where the target pastes from that.
struct Borrowed {
    TargetSeams seams;
    std::shared_ptr<const QNModelPasteboardSnapshot> clipboard;
    std::optional<TargetSeams> primarySeams;
    std::shared_ptr<const QNModelPasteboardSnapshot> primary;

    // The user's contents, saved before the target is brought forward (saving lets the
    // program's events run). A target that pastes the text last selected gets ours there too:
    // that selection is the user's as well, saved and put back like the clipboard. Contents that
    // cannot be saved whole: `clipboardUnsaved`, nothing touched.
    [[nodiscard]] static QCoro::Task<std::variant<Borrowed, QNPasteOutcome>> save(
        TargetSeams seams, platform::RunningApplication target) {
        const auto unsaved = [](const QNModelPasteboardSnapshot& saved) {
            return QNPasteOutcome{QNPasteResult::clipboardUnsaved,
                                  platform::toString(saved.failure)};
        };
        Borrowed borrowed{.seams = seams};
        borrowed.clipboard = std::make_shared<const QNModelPasteboardSnapshot>(
            co_await QNModelPasteboardSnapshot::capture(seams));
        if (!borrowed.clipboard->complete()) {
            co_return unsaved(*borrowed.clipboard);
        }
        if (pasteRoute(target).fromPrimary) {
            borrowed.primarySeams = seams.primarySelection();
        }
        if (borrowed.primarySeams) {
            borrowed.primary = std::make_shared<const QNModelPasteboardSnapshot>(
                co_await QNModelPasteboardSnapshot::capture(*borrowed.primarySeams));
            if (!borrowed.primary->complete()) {
                borrowed.clipboard->release(*seams.pasteboard);
                co_return unsaved(*borrowed.primary);
            }
        }
        co_return borrowed;
    }

    // The seams of the pasteboard a paste by `route` goes through.
    [[nodiscard]] const TargetSeams& pastedFrom(const QNPasteRoute& route) const {
        return route.fromPrimary ? *primarySeams : seams;
    }

    // The contents back, for a paste that ends here; after a selection check (`copied`: the
    // text its copy carries), one that watches for that copy landing late. What became of the
    // clipboard's contents.
    [[nodiscard]] platform::PutBack restore(std::optional<std::u16string> copied) const {
        auto putBack =
            copied ? clipboard->restoreAfterCopy(seams, std::move(copied), QNPutBackOver::ownChange)
                   : clipboard->restore(*seams.pasteboard);
        if (primary && primary->restore(*primarySeams->pasteboard) == platform::PutBack::failed) {
            putBack = platform::PutBack::failed;
        }
        return putBack;
    }

    // The text stays where `route` pasted it from, an ordinary copy for the person to paste;
    // the contents come back after pasteBounds.deferredRestore. False where nobody could bring
    // them back, or the text is no longer there (someone copied since): nothing is left then.
    [[nodiscard]] bool leave(const QNPasteRoute& route) const {
        const auto manager = seams.pasteboardManager.lock();
        if (!manager || !pastedFrom(route).pasteboard->makeTransientOrdinary()) {
            return false;
        }
        if (route.fromPrimary) {
            (void)seams.pasteboard->makeTransientOrdinary();
        }
        const auto later = pasteBounds.deferredRestore.count();
        manager->scheduleRestore(*clipboard, later);
        if (primary) {
            if (const auto primaryManager = primarySeams->pasteboardManager.lock()) {
                primaryManager->scheduleRestore(*primary, later);
            } else {
                primary->restore(*primarySeams->pasteboard);
            }
        }
        return true;
    }
};

// The paste's steps over the desktop's seams, into `target` through the pasteboard `route`
// pastes from (the clipboard takes the text too where that is the text last selected).
class SeamsPasteSteps final : public QNPasteSteps {
  public:
    // `settledFrom`: from when `opened` shown focused tells that the target has it (see
    // waitForKeyboardFocus).
    SeamsPasteSteps(const Borrowed& borrowed, platform::RunningApplication target,
                    QNPasteRoute route, FocusedField field, std::optional<std::uint64_t> window,
                    std::optional<platform::ElementRef> opened, Instant settledFrom)
        : borrowed_(borrowed),
          seams_(borrowed.seams),
          pastedFrom_(borrowed.pastedFrom(route)),
          target_(std::move(target)),
          route_(std::move(route)),
          field_(std::move(field)),
          window_(window),
          opened_(opened),
          settledFrom_(settledFrom) {}

    bool stillSaved() override {
        return borrowed_.clipboard->stillOn(*seams_.pasteboard) &&
               (!borrowed_.primary ||
                borrowed_.primary->stillOn(*borrowed_.primarySeams->pasteboard));
    }
    platform::Status write(std::u16string_view text) override {
        // The text is there for the paste only: kept out of clipboard managers' history.
        seams_.pasteboard->clear();
        auto written = seams_.pasteboard->setTransientString(text);
        if (written.ok() && route_.fromPrimary) {
            pastedFrom_.pasteboard->clear();
            written = pastedFrom_.pasteboard->setTransientString(text);
        }
        return written;
    }
    QCoro::Task<> waitForKeysUp(std::stop_token stop) override {
        (void)co_await ravlin::waitForKeysUp(seams_, std::move(stop));
    }
    bool inFront() override { return isInFront(seams_, target_); }
    QNChordPlace chordPlace() override {
        // A dialog the application raised meanwhile, a prompt of a page's own, another input the
        // page moved the keyboard to, a new tab: the text is not for them.
        return keyboardPlace(seams_, target_, window_, opened_);
    }
    bool holdsOwnChange() override { return pastedFrom_.pasteboard->holdsOwnChange(); }
    platform::FetchTarget taker() override {
        return {target_.pid, seams_.workspace->frontmostWindow()};
    }
    QNPasteTarget target(platform::FetchTarget taker) override {
        QNPasteTarget checked{
            .inFront = [seams = seams_, target = target_] { return isInFront(seams, target); },
            .window = [workspace = seams_.workspace] { return workspace->frontmostWindow(); },
            .fetch = [pasteboard = pastedFrom_.pasteboard,
                      taker] { return pasteboard->lastWriteFetchedBy(taker); },
        };
        if (field_.readable) {
            using Driver = QNQuickFixHostLiveDriver;
            checked.value = [accessibility = seams_.accessibility, element = *field_.element] {
                return Driver::stringAttribute(*accessibility, platform::ax::value, element, false);
            };
            checked.selection = [accessibility = seams_.accessibility, element = *field_.element] {
                return Driver::selectedTextRange(*accessibility, element);
            };
        }
        return checked;
    }
    std::function<std::optional<std::u16string>()> runOn(const QNPasteWitness& witness,
                                                         std::u16string_view text) override {
        if (!field_.readable) {
            return {};
        }
        // No longer than the field with the whole text in it can be, and a little typed.
        return [accessibility = seams_.accessibility, element = *field_.element, pid = target_.pid,
                most = witness.value->size() + text.size() + 64] {
            return QNQuickFixHostLiveDriver::textRunOnInto(*accessibility, element, pid, most);
        };
    }
    QCoro::Task<> waitForKeyboardFocus(std::stop_token stop) override {
        (void)co_await QNModelPasteboardSnapshot::waitForKeyboardFocus(seams_, stop);
        // An application brought back tells where its keyboard is a moment later (what some
        // tell before that is where it was when they lost it).
        if (opened_) {
            using Driver = QNQuickFixHostLiveDriver;
            auto& executor = *seams_.executor;
            (void)co_await waitUntil(
                executor,
                [this, &executor] {
                    return executor.now() >= settledFrom_ &&
                           Driver::focusedElementRef(*seams_.accessibility, target_.pid) ==
                               opened_;
                },
                pasteBounds.fieldFocusPoll, pasteBounds.keyboardFocusLimit, std::move(stop));
        }
    }
    QCoro::Task<> waitForLook(platform::FetchTarget taker, std::stop_token stop) override {
        (void)co_await QNModelPasteboardSnapshot::waitForLook(pastedFrom_, taker, std::move(stop));
    }
    QNChordPost postChord() override {
        return postChordOverOwnWrite(*pastedFrom_.pasteboard, *seams_.keySynthesis, *route_.chord,
                                     window_);
    }
    QCoro::Task<> waitForFetch(platform::FetchTarget taker) override {
        co_await QNModelPasteboardSnapshot::waitForFetch(pastedFrom_, taker);
    }
    QCoro::Task<> pause(std::chrono::milliseconds duration) override {
        co_await sleepFor(*seams_.executor, duration, seams_.ending);
    }

  private:
    const Borrowed& borrowed_;
    const TargetSeams& seams_;
    const TargetSeams& pastedFrom_;
    platform::RunningApplication target_;
    QNPasteRoute route_;
    FocusedField field_;
    std::optional<std::uint64_t> window_;
    std::optional<platform::ElementRef> opened_;
    Instant settledFrom_;
};

}  // namespace

QCoro::Task<QNPasteOutcome> QNModelPasteboardSnapshot::paste(
    TargetSeams seams, std::u16string text, platform::RunningApplication target,
    std::stop_token stop, std::optional<QNPasteSelection> replacing, QNPastePlace place) {
    const auto window = place.window;
    const auto field = place.field;
    if (text.empty()) {
        co_return QNPasteOutcome{};
    }
    auto saved = co_await Borrowed::save(seams, target);
    if (const auto* unsaved = std::get_if<QNPasteOutcome>(&saved)) {
        co_return *unsaved;
    }
    const auto& borrowed = std::get<Borrowed>(saved);

    // The very window the paste is for, not the application's topmost one (another window of
    // it may stand over it where the window manager gives the keyboard to the pointer's window).
    bool activationAccepted = false;
    if (target.pid != seams.workspace->currentApplication().pid) {
        activationAccepted = window ? seams.workspace->activateWindow(target.pid, *window)
                                    : seams.workspace->activate(target.pid);
    }
    // Put back at the end; after a selection check that asked the target for a copy, one that
    // watches for that copy landing late (only then: a copy the person makes just afterwards
    // stands, whatever it holds). What became of the clipboard's contents is told with the
    // outcome.
    std::optional<std::u16string> copied;
    auto putBack = platform::PutBack::done;
    const auto ended = [&](QNPasteOutcome outcome) {
        outcome.restore = putBack;
        return outcome;
    };
    const auto restored = [&](QNPasteOutcome outcome) {
        putBack = borrowed.restore(copied);
        return ended(std::move(outcome));
    };
    const auto failed = [&](QNPasteOutcome outcome) { return restored(std::move(outcome)); };
    if (!co_await waitUntilFrontmost(seams, target, activationAccepted, stop)) {
        putBack = borrowed.clipboard->restore(*seams.pasteboard);
        if (borrowed.primary) {
            borrowed.primary->restore(*borrowed.primarySeams->pasteboard);
        }
        co_return ended(QNPasteOutcome{QNPasteResult::activationFailed});
    }
    // The window asked for comes with the application, or a moment after it; where another of
    // its windows keeps the keyboard (a dialog it raised), the chord's own look says so.
    if (window) {
        (void)co_await waitUntil(
            *seams.executor, [&] { return seams.workspace->frontmostWindow() == window; },
            pasteBounds.keysUpPoll, pasteBounds.frontWait(activationAccepted), stop);
    }
    // Where the application claimed the field while away, the field shown focused tells nothing
    // until it has been in front a while.
    const auto settledFrom =
        seams.executor->now() +
        (place.fieldClaimedWhileAway ? pasteBounds.fieldSettle : std::chrono::milliseconds(0));
    // Pasting over anything but the selection the session was seeded from would leave that text
    // in place beside the new one, or overwrite other text of the user's.
    if (replacing) {
        const auto reselected =
            co_await reselect(seams, target, *replacing, stop, borrowed.clipboard);
        if (reselected.copied) {
            copied = replacing->text;
        }
        if (!reselected.certain) {
            co_return failed(QNPasteOutcome{QNPasteResult::selectionLost});
        }
    }
    // A stopped paste must not go on: its pauses would end at once and the restore would land
    // before the target fetched the text, pasting the user's previous contents instead.
    if (stop.stop_requested()) {
        co_return failed(QNPasteOutcome{QNPasteResult::pasteFailed});
    }
    const auto focused = focusedField(seams, target, field);
    auto route = pasteRoute(target, focused.role);
    if (route.fromPrimary && !borrowed.primary) {
        route = noChordRoute();  // no selection to paste from
    }
    const bool terminal = terminalPaste(identityOrNone(target), focused.role).has_value();
    SeamsPasteSteps steps(borrowed, target, route, focused, window, field, settledFrom);
    const auto verdict = co_await pasteAndCheck(
        steps, {text, route.chord.has_value(), pasteGuardMayHold(terminal, text)}, stop);
    // The text is left for the person to paste (with `chordName` where one is known to work);
    // their contents come back later. Not where they have copied something since: that stands,
    // and the text is kept by the caller.
    // Once the chord went out, the outcome says what the paste did (`reason`), never that the
    // clipboard changed before it.
    const auto leftOnClipboard = [&](std::string_view reason, std::string_view chordName,
                                     bool chordSent) {
        if (borrowed.leave(route)) {
            return ended(QNPasteOutcome{QNPasteResult::leftOnClipboard, reason, chordName});
        }
        const bool managed = !seams.pasteboardManager.expired();
        putBack = borrowed.restore(copied);
        if (managed && putBack == platform::PutBack::newerCopy) {
            return ended(chordSent ? QNPasteOutcome{QNPasteResult::notPasted, reason}
                                   : QNPasteOutcome{QNPasteResult::clipboardChanged});
        }
        return ended(QNPasteOutcome{QNPasteResult::pasteFailed});
    };
    using Kind = QNPasteVerdict::Kind;
    switch (verdict.kind) {
        case Kind::arrived:
            co_return restored(QNPasteOutcome{});
        case Kind::mayHaveArrived:
            // Never to be pasted again: the text stays in the draft, the user's contents come
            // back.
            co_return restored(
                verdict.check == QNPasteCheck::partial
                    ? QNPasteOutcome{QNPasteResult::pastedInPart, toString(verdict.check)}
                    : QNPasteOutcome{QNPasteResult::sentUnconfirmed, toString(verdict.check), "",
                                     takenByTarget(verdict.check)});
        case Kind::clipboardChanged:
            co_return failed(QNPasteOutcome{QNPasteResult::clipboardChanged});
        case Kind::writeFailed:
        case Kind::notSent:
            co_return failed(QNPasteOutcome{QNPasteResult::pasteFailed});
        case Kind::misplaced:
            co_return failed(verdict.place == QNChordPlace::passwordField
                                 ? QNPasteOutcome{QNPasteResult::passwordField}
                                 : QNPasteOutcome{QNPasteResult::keyboardElsewhere,
                                                  keyboardElsewhereReason(verdict.place)});
        case Kind::noChord:
            co_return leftOnClipboard("no-paste-chord", route.chordName, false);
        case Kind::notPasted:
            break;
    }
    // The chord went out and did not paste: it is not named again. Only a target that lost the
    // front before it could paste still takes it.
    co_return leftOnClipboard(toString(verdict.check),
                              verdict.check == QNPasteCheck::targetGone ? route.chordName : "",
                              true);
}

WaitUntilNotifiedAwaiter QNModelPasteboardSnapshot::waitForFront(const TargetSeams& seams,
                                                                  std::function<bool()> inFront,
                                                                  std::chrono::milliseconds limit,
                                                                  std::stop_token stop) {
    return waitUntilNotified(
        *seams.executor, std::move(inFront),
        [workspace = seams.workspace](std::function<void()> changed) {
            return workspace->observeFrontmost(
                [changed = std::move(changed)](const auto&) { changed(); });
        },
        limit, std::move(stop));
}

QCoro::Task<> QNModelPasteboardSnapshot::waitForFetch(TargetSeams seams,
                                                      platform::FetchTarget target) {
    auto& executor = *seams.executor;
    const auto until = executor.now() + pasteBounds.fetchLimit;
    const auto pasteboard = seams.pasteboard;
    // Told for as long as this waits (however the wait ends: the frame goes with the guard).
    pasteboard->setPasteAwaited(true);
    const std::unique_ptr<platform::Pasteboard, void (*)(platform::Pasteboard*)> awaited(
        pasteboard.get(), [](platform::Pasteboard* told) { told->setPasteAwaited(false); });
    const auto observe = [pasteboard](std::function<void()> fetched) {
        return pasteboard->observeFetches(std::move(fetched));
    };
    const bool taken = co_await waitUntilNotified(
        executor,
        [pasteboard, target] {
            const auto fetch = pasteboard->lastWriteFetchedBy(target);
            return fetch != platform::WriteFetch::none && fetch != platform::WriteFetch::byOthers;
        },
        observe, pasteBounds.fetchLimit, seams.ending);
    // The target may ask again for what it pastes, and a clipboard manager that read the text
    // asks for its marks after it: the text stays while anyone keeps asking.
    // A chord sent at once that the target took for nothing: it looks first after all.
    if (const auto manager = seams.pasteboardManager.lock();
        manager && !taken && pasteboard->lastWriteLookedAtBy(target).looked) {
        const auto application = applicationKey(seams, target);
        if (manager->clipboardLookOf(application) == QNClipboardLook::pastesAtOnce) {
            manager->noteClipboardLook(application, QNClipboardLook::looksFirst);
        }
    }
    while (taken && executor.now() < until) {
        const auto asked = pasteboard->fetchRequests();
        const auto quiet = std::min<std::chrono::nanoseconds>(pasteBounds.fetchQuiet,
                                                              until - executor.now());
        if (!co_await waitUntilNotified(
                executor, [pasteboard, asked] { return pasteboard->fetchRequests() != asked; },
                observe, quiet, seams.ending)) {
            break;
        }
    }
}

WaitUntilAwaiter QNModelPasteboardSnapshot::waitForKeyboardFocus(const TargetSeams& seams,
                                                                 std::stop_token stop) {
    return waitUntil(
        *seams.executor,
        [workspace = seams.workspace] {
            const auto window = workspace->frontmostWindow();
            return !window || workspace->keyboardFocusIn(*window).value_or(true);
        },
        pasteBounds.keysUpPoll, pasteBounds.keyboardFocusLimit, std::move(stop));
}

QCoro::Task<bool> QNModelPasteboardSnapshot::waitForLook(TargetSeams seams,
                                                         platform::FetchTarget target,
                                                         std::stop_token stop) {
    const auto pasteboard = seams.pasteboard;
    const auto manager = seams.pasteboardManager.lock();
    const auto application = applicationKey(seams, target);
    const auto seen = manager ? manager->clipboardLookOf(application) : QNClipboardLook::unknown;
    const bool watches = pasteboard->lastWriteLookedAtBy(target).watches;
    const auto looked = [pasteboard, target] {
        return pasteboard->lastWriteLookedAtBy(target).looked;
    };
    if (seen == QNClipboardLook::pastesAtOnce && !watches) {
        co_return looked();
    }
    const bool looksFirst = watches || seen == QNClipboardLook::looksFirst;
    const bool lookedInTime = co_await waitUntil(
        *seams.executor, looked, pasteBounds.keysUpPoll,
        looksFirst ? pasteBounds.watcherLookLimit : pasteBounds.lookLimit, stop);
    // Only a wait that ran its course tells what the target does.
    if (manager && (lookedInTime || !stop.stop_requested())) {
        manager->noteClipboardLook(application, lookedInTime ? QNClipboardLook::looksFirst
                                                             : QNClipboardLook::pastesAtOnce);
    }
    co_return lookedInTime;
}

}  // namespace ravlin
