#include "app/target/quick_fix_host.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "app/target/paste_check.h"
#include "app/target/paste_sequence.h"
#include "app/target/position_map.h"
#include "app/target/quick_fix_edits.h"
#include "core/text/search.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Token = QNQuickFixElementToken;
using Driver = std::shared_ptr<QNQuickFixHostDriver>;
using Host = QNServiceQuickFixHost;
using Method = QNQuickFixCaptureMethod;
using Strategy = QNQuickFixReplacementStrategy;
using Result = QNQuickFixCommitResult;
namespace ax = platform::ax;

constexpr std::array<std::string_view, 6> methodNames = {
    "selectedText", "selectedRange", "copy", "selectAllAndCopy", "focusedValue", "descendantValue"};
constexpr std::array<std::string_view, 3> replacementNames = {"accessibility", "paste", "typed"};
constexpr std::array<std::string_view, 7> clipboardNames = {
    "ax-write-rejected", "ax-verify-failed",  "routed-to-paste", "paste-after-ax-failure",
    "paste-not-seen",    "paste-not-fetched", "target-gone"};
constexpr std::array<std::string_view, 12> failureNames = {
    "no-target",       "activate-target",    "restore-target-selection", "send-paste-keystroke",
    "unchanged-text",  "secure-input",       "terminal-not-supported",   "pasteboard-write-failed",
    "driver-rejected", "pasteboard-unsaved", "clipboard-changed",        "paste-not-arrived"};

bool isTextRole(const std::optional<std::string>& role) {
    return role == ax::textAreaRole || role == ax::textFieldRole || role == ax::comboBoxRole;
}

bool isNonBlank(const std::optional<std::u16string>& text) {
    return text && !text::isBlank(*text);
}

// The capture method at the position of a snapshot's selection source.
std::optional<Method> methodFor(QNSelectionSource source) {
    switch (source) {
        case QNSelectionSource::accessibilitySelectedText:
            return Method::selectedText;
        case QNSelectionSource::accessibilityValueRange:
            return Method::selectedRange;
        case QNSelectionSource::copyFallback:
            return Method::copy;
        case QNSelectionSource::none:
            break;
    }
    return std::nullopt;
}

QNQuickFixHostSession makeSession(const QNModelFocusSnapshot& snapshot, Token token,
                                  std::optional<std::string> role, std::u16string text,
                                  Strategy strategy, Method method, QNQuickFixRoute route) {
    return QNQuickFixHostSession{.app = snapshot.app,
                                 .bundleID = snapshot.appBundleID,
                                 .role = std::move(role),
                                 .elementToken = token,
                                 .originalText = std::move(text),
                                 .strategy = strategy,
                                 .captureMethod = method,
                                 .route = route,
                                 .snapshot = snapshot};
}

// Whether the element shows a selection (of one unit or more) now.
std::function<bool()> selectionShownIn(const Driver& driver, Token token) {
    return [driver, token] {
        const auto range = driver->selectedTextRange(token);
        return range && range->length >= 1;
    };
}

// Ctrl+C (after Ctrl+A with `selectAll`) and the text that reached the pasteboard, the chord
// sent only while the element shows a selection (QNModelFocusSnapshot::copyFromFront), the copy
// waited for at most `copyLimit`.
QCoro::Task<std::optional<std::u16string>> copyCapture(
    Driver driver, platform::RunningApplication app, Token element, bool selectAll,
    std::stop_token stop, std::shared_ptr<const QNModelPasteboardSnapshot> saved = nullptr,
    std::chrono::milliseconds copyLimit = QNModelFocusSnapshot::copyWaitLimit) {
    auto shown = selectionShownIn(driver, element);
    return QNModelFocusSnapshot::copyFromFront(std::move(driver), std::move(app), selectAll,
                                               std::move(stop), std::move(saved), std::move(shown),
                                               copyLimit);
}

// Whether the element shows the whole of its text selected (what Ctrl+A makes of it).
bool wholeTextSelected(const Driver& driver, Token token, std::optional<text::Utf16Range> range) {
    if (!range || range->location != 0 || range->length < 1) {
        return false;
    }
    const auto value = driver->value(token);
    return value && static_cast<std::int64_t>(value->size()) == range->length;
}

// Writes the element's caret and selection back as `before` and waits until the element reads
// them so. A browser's page applies the write on a thread of its own after the call has been
// answered, and applies keys on another path: a select-all still on its way overtakes the write,
// and the person's next key would replace the whole text. So the whole text seen selected again
// a while after the write is written over again (the person does not select all while the flow
// runs). With `afterSelectAll` and the element still reading `before` when this starts, the
// Ctrl+A sent has not shown yet: reading `before` says nothing then, and the whole wait is
// watched for it. Whatever stops the flow, the wait runs to its end.
QCoro::Task<> putBackSelection(Driver driver, Token token, text::Utf16Range before,
                               bool afterSelectAll = false) {
    bool selectAllUnseen =
        afterSelectAll && driver->selectedTextRange(token) == std::optional(before);
    (void)driver->setSelectedTextRange(before, token);  // answered before applied: reads tell
    constexpr auto checks = pasteBounds.putBackLimit / pasteBounds.putBackCheckInterval;
    constexpr auto rewriteAfter =
        pasteBounds.putBackRewriteAfter / pasteBounds.putBackCheckInterval;
    std::int64_t sinceWrite = 0;
    for (std::int64_t check = 0; check < checks; ++check, ++sinceWrite) {
        if (check > 0) {
            co_await driver->sleep(pasteBounds.putBackCheckInterval, std::stop_token());
        }
        const auto range = driver->selectedTextRange(token);
        if (range == std::optional(before)) {
            if (!selectAllUnseen) {
                co_return;
            }
            continue;
        }
        if (sinceWrite >= rewriteAfter && wholeTextSelected(driver, token, range) &&
            !wholeTextSelected(driver, token, before)) {
            selectAllUnseen = false;
            sinceWrite = 0;
            (void)driver->setSelectedTextRange(before, token);
        }
    }
}

// Ctrl+A then Ctrl+C of the element's whole text, only where its caret and selection can be put
// back afterwards: a text element (another element's own range says nothing of where the
// application's caret is) whose caret is read, and written back as it is, first. Put back at
// the end.
QCoro::Task<std::optional<std::u16string>> selectAllAndCopy(Driver driver,
                                                            platform::RunningApplication app,
                                                            QNQuickFixElementInfo element,
                                                            std::stop_token stop) {
    const auto& token = element.token;
    const auto before = driver->selectedTextRange(token);
    if ((!isTextRole(element.role) && element.role != ax::webAreaRole) || !before ||
        !driver->setSelectedTextRange(*before, token)) {
        co_return std::nullopt;
    }
    auto copied = co_await copyCapture(driver, app, token, true, stop);
    co_await putBackSelection(driver, token, *before, true);
    co_return copied;
}

QCoro::Task<std::optional<QNQuickFixHostSession>> selectionCapture(QNModelFocusSnapshot snapshot,
                                                                   Driver driver,
                                                                   QNQuickFixElementInfo element,
                                                                   QNQuickFixRoute route,
                                                                   std::stop_token stop) {
    const auto range = driver->selectedTextRange(element.token);
    const bool hasRange = range && range->length >= 1;
    const bool hasSnapshotText = isNonBlank(snapshot.selectionText);
    if (!hasRange && !hasSnapshotText) {
        co_return std::nullopt;
    }
    // In a formatted field only what the correction changes is written back, where the
    // selection stands.
    const bool changedText = hasRange && driver->holdsRichText(element.token);
    const auto session = [&](std::u16string text, Method method) {
        return makeSession(snapshot, element.token, element.role, std::move(text),
                           changedText ? Strategy::changedText(*range)
                                       : Strategy::currentSelection(range),
                           method, route);
    };
    // A web area's own selected text is not trusted: it comes from the copy below.
    const bool webArea = element.role == ax::webAreaRole;
    if (!webArea) {
        if (auto selected = driver->selectedText(element.token); isNonBlank(selected)) {
            co_return session(std::move(*selected), Method::selectedText);
        }
        if (hasRange) {
            if (auto ranged = driver->string(*range, element.token); isNonBlank(ranged)) {
                co_return session(std::move(*ranged), Method::selectedRange);
            }
        }
    }
    if (hasSnapshotText) {
        if (const auto method = methodFor(snapshot.selectionSource)) {
            co_return session(*snapshot.selectionText, *method);
        }
    }
    // Only a selection the element shows is copied.
    if (!hasRange) {
        co_return std::nullopt;
    }
    auto copied = co_await copyCapture(driver, snapshot.app, element.token, false, stop);
    if (isNonBlank(copied)) {
        co_return session(std::move(*copied), Method::copy);
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<QNQuickFixHostSession>> focusedValueCapture(QNModelFocusSnapshot snapshot,
                                                                      Driver driver,
                                                                      QNQuickFixElementInfo element,
                                                                      QNQuickFixRoute route,
                                                                      std::stop_token stop) {
    const auto session = [&](const QNQuickFixElementInfo& from, std::u16string text,
                             Method method) {
        return makeSession(snapshot, from.token, from.role, std::move(text),
                           Strategy::focusedValue(), method, route);
    };
    // A formatted field (a web mail's message) is read as it shows; only what the correction
    // changes is written back (no Ctrl+A: with nothing to fix, the field stays as it was).
    if (driver->holdsRichText(element.token)) {
        if (auto value = driver->value(element.token); isNonBlank(value)) {
            const text::Utf16Range all{0, static_cast<std::int64_t>(value->size())};
            co_return makeSession(snapshot, element.token, element.role, std::move(*value),
                                  Strategy::changedText(all), Method::focusedValue, route);
        }
    }
    if (route != QNQuickFixRoute::webArea) {
        if (auto value = driver->value(element.token);
            isNonBlank(value) && isTextRole(element.role)) {
            co_return session(element, std::move(*value), Method::focusedValue);
        }
        std::vector<QNQuickFixElementInfo> descendants;
        driver->collectTextDescendants(element.token, 0, Host::descendantDepth, descendants);
        const auto first = std::ranges::find_if(descendants, [](const auto& d) {
            return d.valueLength.value_or(0) > 0 && isTextRole(d.role) && !d.isSecure;
        });
        if (first != descendants.end()) {
            if (auto value = driver->value(first->token); isNonBlank(value)) {
                co_return session(*first, std::move(*value), Method::descendantValue);
            }
        }
    }
    auto copied = co_await selectAllAndCopy(driver, snapshot.app, element, stop);
    if (isNonBlank(copied)) {
        co_return session(element, std::move(*copied), Method::selectAllAndCopy);
    }
    co_return std::nullopt;
}

std::optional<QNQuickFixHostSession> snapshotFallback(const QNModelFocusSnapshot& snapshot,
                                                      QNQuickFixRoute route) {
    if (!isNonBlank(snapshot.selectionText)) {
        return std::nullopt;
    }
    const auto method = methodFor(snapshot.selectionSource);
    if (!method) {
        return std::nullopt;
    }
    // A token no driver knows: every accessibility read on it fails.
    return makeSession(snapshot, Token::make(), snapshot.focusedRole, *snapshot.selectionText,
                       Strategy::currentSelection(std::nullopt), *method, route);
}

// --- Commit

struct PreparedSelection {
    std::optional<Token> elementToken;
    bool canAttemptAccessibilityWrite = false;
    bool canAttemptPaste = false;
    bool copied = false;       // a copy probe sent Ctrl+C
    bool selectedAll = false;  // Ctrl+A went out
    // The element's caret and selection before the commit selected anything: put back when the
    // commit ends without writing.
    std::optional<text::Utf16Range> before;
};

// Up to pasteBounds.selectionChecks checks, each with the target in front, that the element's
// selection reads as `expected`.
QCoro::Task<bool> verifySelection(Driver driver, Token token, platform::RunningApplication app,
                                  std::u16string expected, std::stop_token stop) {
    for (int check = 0; check < pasteBounds.selectionChecks; ++check) {
        if (!driver->isFrontmostOther(app)) {
            co_return false;
        }
        if (driver->selectedText(token) == expected) {
            co_return true;
        }
        if (stop.stop_requested()) {
            co_return false;
        }
        co_await driver->sleep(pasteBounds.selectionCheckInterval, stop);
    }
    co_return false;
}

// Up to pasteBounds.valueChecks reads that the write took: the value is the one before with the
// range that was selected replaced by `corrected`; when the value or the range before could not be
// read, a changed value holding `corrected`. A field that ignored the write never passes.
QCoro::Task<bool> verifyValue(Driver driver, Token token, std::u16string corrected,
                              std::optional<std::u16string> before,
                              std::optional<text::Utf16Range> selected, std::stop_token stop) {
    std::optional<std::u16string> expected;
    if (before && selected && selected->location >= 0 && selected->length >= 0 &&
        selected->location <= static_cast<std::int64_t>(before->size()) &&
        selected->length <= static_cast<std::int64_t>(before->size()) - selected->location) {
        expected = *before;
        expected->replace(static_cast<std::size_t>(selected->location),
                          static_cast<std::size_t>(selected->length), corrected);
    }
    for (int check = 0; check < pasteBounds.valueChecks; ++check) {
        if (check > 0) {
            co_await driver->sleep(pasteBounds.valueCheckInterval, stop);
        }
        const auto value = driver->value(token);
        if (!value) {
            continue;
        }
        if (expected ? *value == *expected
                     : (!before || *value != *before) && text::findFirst(*value, corrected)) {
            co_return true;
        }
    }
    co_return false;
}

QCoro::Task<PreparedSelection> prepareSelection(
    QNQuickFixHostSession session, Driver driver,
    std::shared_ptr<const QNModelPasteboardSnapshot> saved, std::stop_token stop) {
    Token token = session.elementToken;
    // Whatever has the focus now receives the chords: never a terminal or a secure field.
    bool chordsAllowed = true;
    if (const auto focused = driver->focusedElement(session.app)) {
        if (!focused->isSecure && focused->role == session.role) {
            token = focused->token;
        }
        chordsAllowed =
            !focused->isSecure && !isRefusedRoute(quickFixRoute(session.bundleID, focused->role));
    }
    const auto& original = session.originalText;
    PreparedSelection prepared{.elementToken = token, .before = driver->selectedTextRange(token)};
    const auto confirmed = [&] {
        prepared.canAttemptAccessibilityWrite = true;
        prepared.canAttemptPaste = chordsAllowed;
        return prepared;
    };
    // Paste over the selection only when it is certainly the captured text: anything else would
    // overwrite or duplicate text of the user's. Where accessibility does not say so, a copy of
    // the selection the element shows must give the text.
    const auto copyIsOriginal = [&]() -> QCoro::Task<bool> {
        if (!chordsAllowed) {
            co_return false;
        }
        prepared.copied = true;
        co_return co_await copyCapture(driver, session.app, token, false, stop, saved,
                                       pasteBounds.commitCopyLimit) == std::optional(original);
    };

    if (session.strategy.kind == Strategy::Kind::focusedValue) {
        const auto value = driver->value(token);
        if (value == original && session.route == QNQuickFixRoute::nativeAppKit &&
            !original.empty() &&
            driver->setSelectedTextRange({0, static_cast<std::int64_t>(original.size())}, token) &&
            co_await verifySelection(driver, token, session.app, original, stop)) {
            co_return confirmed();
        }
        // The whole field, selected by Ctrl+A, must be the text captured: a field the person has
        // typed in since is not pasted over.
        if (chordsAllowed) {
            co_await driver->waitForKeysUp(stop);
        }
        if (chordsAllowed && driver->isFrontmostOther(session.app) && driver->postSelectAll()) {
            prepared.selectedAll = true;
            const auto allSelected = [&] {
                return driver->selectedText(token) == std::optional(original);
            };
            // Looked for until Ctrl+A shows: the whole text selected, or a selection other than
            // the one before it (a busy browser shows it late: waited for at most
            // pasteBounds.commitSelectAllLimit).
            const auto changed = [&] {
                const auto range = driver->selectedTextRange(token);
                return range && range->length >= 1 && range != prepared.before;
            };
            (void)co_await QNModelFocusSnapshot::waitForSelectAll(
                driver, session.app, [&] { return allSelected() || changed(); }, stop,
                pasteBounds.commitSelectAllLimit);
            prepared.canAttemptPaste = allSelected() || co_await copyIsOriginal();
        }
        co_return prepared;
    }

    if (driver->selectedText(token) == original) {
        co_return confirmed();
    }
    const auto value = driver->value(token);
    if (value) {
        const auto range = QNPasteSelection{original, session.strategy.range}.in(*value);
        if (range && driver->setSelectedTextRange(*range, token) &&
            co_await verifySelection(driver, token, session.app, original, stop)) {
            co_return confirmed();
        }
    }
    prepared.canAttemptPaste = co_await copyIsOriginal();
    co_return prepared;
}

// Nothing written: the element's caret and selection as they were before the commit.
QCoro::Task<> putBackUnwritten(Driver driver, PreparedSelection prepared) {
    if (prepared.before && prepared.elementToken) {
        co_await putBackSelection(std::move(driver), *prepared.elementToken, *prepared.before,
                                  prepared.selectedAll);
    }
}

// Once the text is written: the element's caret and selection as they were before the commit
// (`caret`), mapped through the change, so that the person's next key goes where it would have.
// Only over the text as the write left it (`valueBefore` with `replaced` rewritten): a field
// changed since (the person typed on) keeps its caret.
QCoro::Task<> putBackAfterWrite(Driver driver, Token token, std::optional<text::Utf16Range> caret,
                                std::optional<std::u16string> valueBefore,
                                std::optional<text::Utf16Range> replaced, std::u16string corrected) {
    if (!caret || !valueBefore || !replaced || replaced->location < 0 || replaced->length < 0 ||
        replaced->end() > static_cast<std::int64_t>(valueBefore->size())) {
        co_return;
    }
    std::u16string written = *valueBefore;
    written.replace(static_cast<std::size_t>(replaced->location),
                    static_cast<std::size_t>(replaced->length), corrected);
    if (driver->value(token) != written) {
        co_return;
    }
    const auto mapped = rangeAfterCorrection(*valueBefore, written, *caret);
    if (driver->selectedTextRange(token) != std::optional(mapped)) {
        co_await putBackSelection(std::move(driver), token, mapped);
    }
}

// The corrected text stays on the clipboard; the user's contents come back later.
// `afterChord`: the check's word once a paste chord went out and the text did not arrive.
Result leaveOnClipboard(const Driver& driver, std::shared_ptr<QNQuickFixPasteboardManager> manager,
                        const QNModelPasteboardSnapshot& saved,
                        QNQuickFixClipboardReason reason =
                            QNQuickFixClipboardReason::pasteAfterAXFailure,
                        std::string_view afterChord = {}) {
    if (!manager) {
        manager = driver->pasteboardManager();
    }
    if (!manager || !driver->makePasteboardTextOrdinary()) {
        // Nobody could bring the user's contents back, or the text is no longer on the
        // clipboard (the user copied something since, which stands): put them back now where
        // the text still is, and keep the text. Otherwise it stays as an ordinary copy.
        const auto putBack = driver->restorePasteboard(saved, QNPutBackOver::ownChange);
        const bool newerCopy = manager && putBack == platform::PutBack::newerCopy;
        // Once the chord went out, what the paste did is said, never that the clipboard changed
        // before it.
        auto failed = newerCopy && !afterChord.empty()
                          ? Result::failed(QNQuickFixCommitFailure::notPasted, afterChord)
                      : newerCopy ? Result::failed(QNQuickFixCommitFailure::clipboardChanged)
                                  : Result::failed(QNQuickFixCommitFailure::pasteboardWriteFailed);
        failed.pasteboardRestore = putBack;
        return failed;
    }
    manager->scheduleRestore(saved, pasteBounds.deferredRestore.count());
    return Result::pasteOnClipboard(reason);
}

// The target as the paste check reads it; its focused field read back unless it is secure.
// `taker` is the target as the paste reaches it (its window in front at the chord).
QNPasteTarget pasteTarget(const Driver& driver, const platform::RunningApplication& app,
                          platform::FetchTarget taker) {
    QNPasteTarget target{
        .inFront = [driver, app] { return driver->isFrontmostOther(app); },
        .window = [driver] { return driver->frontmostWindow(); },
        .fetch = [driver, taker] { return driver->pasteboardFetchedBy(taker); },
    };
    const auto focused = driver->focusedElement(app);
    if (focused && !focused->isSecure) {
        target.value = [driver, token = focused->token] { return driver->value(token); };
        target.selection = [driver, token = focused->token] {
            return driver->selectedTextRange(token);
        };
    }
    return target;
}

// The paste's steps through the driver, into `app`, over the user's contents `saved`.
class DriverPasteSteps final : public QNPasteSteps {
  public:
    DriverPasteSteps(Driver driver, platform::RunningApplication app,
                     const QNModelPasteboardSnapshot& saved)
        : driver_(std::move(driver)), app_(std::move(app)), saved_(saved) {}

    bool stillSaved() override {
        return driver_->pasteboardChangeCount() == saved_.changeCountWhenSaved ||
               driver_->pasteboardHoldsOwnChange();
    }
    platform::Status write(std::u16string_view text) override {
        return driver_->writePasteboardString(text);
    }
    QCoro::Task<> waitForKeysUp(std::stop_token stop) override {
        return driver_->waitForKeysUp(std::move(stop));
    }
    bool inFront() override { return driver_->isFrontmostOther(app_); }
    bool holdsOwnChange() override { return driver_->pasteboardHoldsOwnChange(); }
    platform::FetchTarget taker() override { return {app_.pid, driver_->frontmostWindow()}; }
    QNPasteTarget target(platform::FetchTarget taker) override {
        return pasteTarget(driver_, app_, taker);
    }
    QCoro::Task<> waitForKeyboardFocus(std::stop_token stop) override {
        return driver_->waitForKeyboardFocus(std::move(stop));
    }
    QCoro::Task<> waitForLook(platform::FetchTarget taker, std::stop_token stop) override {
        return driver_->waitForPasteboardLook(taker, std::move(stop));
    }
    QNChordPost postChord() override { return driver_->postPaste(); }
    QCoro::Task<> waitForFetch(platform::FetchTarget taker) override {
        return driver_->waitForPasteboardFetch(taker);
    }
    QCoro::Task<> pause(std::chrono::milliseconds duration) override {
        return driver_->sleep(duration, std::stop_token());
    }

  private:
    Driver driver_;
    platform::RunningApplication app_;
    const QNModelPasteboardSnapshot& saved_;
};

QNQuickFixClipboardReason clipboardReason(QNPasteCheck check) {
    switch (check) {
        case QNPasteCheck::notFetched:
            return QNQuickFixClipboardReason::pasteNotFetched;
        case QNPasteCheck::targetGone:
            return QNQuickFixClipboardReason::targetGone;
        default:
            break;
    }
    return QNQuickFixClipboardReason::pasteNotSeen;
}

// The user's contents a write-back borrowed, put back at its end; after a copy probe, watched
// for its copy landing late (`copied`: the captured text, what it would carry). What became of
// them goes with the result.
struct BorrowedContents {
    Driver driver;
    std::shared_ptr<const QNModelPasteboardSnapshot> saved;
    std::optional<std::u16string> copied;
    platform::PutBack putBack = platform::PutBack::done;

    void restore() {
        putBack =
            copied ? driver->restorePasteboardAfterCopy(*saved, *copied, QNPutBackOver::ownChange)
                   : driver->restorePasteboard(*saved, QNPutBackOver::ownChange);
    }
    [[nodiscard]] Result ended(Result result) const {
        result.pasteboardRestore = putBack;
        return result;
    }
    [[nodiscard]] Result restored(Result result) {
        restore();
        return ended(std::move(result));
    }
};

// Whether the field that has the keyboard in `app` is a password field now: nothing is written
// into one, whatever was captured (a page may have hidden the field since, or moved the focus).
bool focusIsSecure(const Driver& driver, const platform::RunningApplication& app) {
    const auto focused = driver->focusedElement(app);
    return focused && focused->isSecure;
}

// The corrected text written over the selection through accessibility, where the route allows
// it, and read back: the commit's result once it took; none where the paste must try.
QCoro::Task<std::optional<Result>> writeOverAccessibility(
    const QNQuickFixHostSession& session, const std::u16string& corrected, Driver driver,
    const PreparedSelection& prepared, BorrowedContents& borrowed, std::stop_token stop) {
    if (session.route != QNQuickFixRoute::nativeAppKit || !prepared.canAttemptAccessibilityWrite) {
        co_return std::nullopt;
    }
    const auto token = prepared.elementToken.value_or(session.elementToken);
    if (!driver->canSetSelectedText(token)) {
        co_return std::nullopt;
    }
    const auto before = driver->value(token);
    const auto selected = driver->selectedTextRange(token);
    if (!driver->setSelectedText(corrected, token) ||
        !co_await verifyValue(driver, token, corrected, before, selected, stop)) {
        co_return std::nullopt;
    }
    co_await driver->sleep(pasteBounds.pauseAfterAccessibilityWrite, stop);
    borrowed.restore();
    co_await putBackAfterWrite(driver, token, prepared.before, before, selected, corrected);
    co_return borrowed.ended(Result::committed(QNQuickFixReplacementMethod::accessibility));
}

// The corrected text pasted over the selection prepared (paste_sequence.h), and what the
// verdict makes of the write-back.
QCoro::Task<Result> pasteOver(const QNQuickFixHostSession& session, const std::u16string& corrected,
                              Driver driver, std::shared_ptr<QNQuickFixPasteboardManager> manager,
                              const PreparedSelection& prepared, BorrowedContents& borrowed,
                              std::stop_token stop) {
    using Kind = QNPasteVerdict::Kind;
    DriverPasteSteps steps(driver, session.app, *borrowed.saved);
    const auto verdict = co_await pasteAndCheck(steps, {corrected}, stop);
    switch (verdict.kind) {
        case Kind::arrived:
            borrowed.restore();
            if (prepared.elementToken) {
                co_await putBackAfterWrite(driver, *prepared.elementToken, prepared.before,
                                           verdict.witness.value, verdict.witness.selection,
                                           corrected);
            }
            co_return borrowed.ended(Result::committed(QNQuickFixReplacementMethod::paste));
        case Kind::mayHaveArrived:
            // Never to be pasted again; the text stays in the draft.
            co_return borrowed.restored(
                verdict.check == QNPasteCheck::partial
                    ? Result::partial(toString(verdict.check))
                    : Result::unconfirmed(toString(verdict.check), takenByTarget(verdict.check)));
        case Kind::clipboardChanged:
        case Kind::writeFailed:
            borrowed.restore();
            if (!verdict.written) {
                co_await putBackUnwritten(driver, prepared);
            }
            co_return borrowed.ended(
                Result::failed(verdict.kind == Kind::clipboardChanged
                                   ? QNQuickFixCommitFailure::clipboardChanged
                                   : QNQuickFixCommitFailure::pasteboardWriteFailed));
        case Kind::notPasted:
            co_return leaveOnClipboard(driver, std::move(manager), *borrowed.saved,
                                       clipboardReason(verdict.check), toString(verdict.check));
        case Kind::noChord:
        case Kind::notSent:
        case Kind::misplaced:
            break;
    }
    // No chord went out (a stop, the target left the front, or the chord could not be sent).
    co_return leaveOnClipboard(driver, std::move(manager), *borrowed.saved);
}

}  // namespace

std::string_view toString(QNQuickFixCaptureMethod method) {
    return methodNames[static_cast<std::size_t>(method)];
}

std::optional<QNQuickFixCaptureMethod> captureMethodFromString(std::string_view raw) {
    const auto found = std::ranges::find(methodNames, raw);
    if (found == methodNames.end()) {
        return std::nullopt;
    }
    return static_cast<QNQuickFixCaptureMethod>(found - methodNames.begin());
}

std::string_view toString(QNQuickFixReplacementMethod method) {
    return replacementNames[static_cast<std::size_t>(method)];
}

std::string_view toString(QNQuickFixClipboardReason reason) {
    return clipboardNames[static_cast<std::size_t>(reason)];
}

std::string_view toString(QNQuickFixCommitFailure failure) {
    return failureNames[static_cast<std::size_t>(failure)];
}

std::string toString(const QNQuickFixCommitResult& result) {
    switch (result.kind) {
        case Result::Kind::committed:
            return "committed " + std::string(toString(result.method));
        case Result::Kind::pasteOnClipboard:
            return "pasteOnClipboard " + std::string(toString(result.reason));
        case Result::Kind::partial:
            return "partial " + std::string(result.detail);
        case Result::Kind::unconfirmed:
            return "unconfirmed " + std::string(result.detail);
        case Result::Kind::failed:
            break;
    }
    return "failed " + std::string(toString(result.failure)) +
           (result.detail.empty() ? "" : " " + std::string(result.detail));
}

bool QNServiceQuickFixHost::isTextField(QNQuickFixHostDriver& driver,
                                        const QNQuickFixElementInfo& element) {
    return isTextRole(element.role) || driver.isEditable(element.token) != false;
}

QCoro::Task<std::optional<QNQuickFixHostSession>> QNServiceQuickFixHost::beginSession(
    QNModelFocusSnapshot snapshot, std::shared_ptr<QNQuickFixHostDriver> driver,
    std::stop_token stop) {
    if (snapshot.isSecureInput) {
        co_return std::nullopt;
    }
    const auto firstRoute = route(snapshot.appBundleID, snapshot.focusedRole);
    if (isRefusedRoute(firstRoute) || !driver->isFrontmostOther(snapshot.app)) {
        co_return std::nullopt;
    }
    const auto element = driver->focusedElement(snapshot.app);
    if (!element) {
        co_return snapshotFallback(snapshot, firstRoute);
    }
    if (element->isSecure) {
        co_return std::nullopt;
    }
    const auto secondRoute = route(snapshot.appBundleID, element->role);
    if (isRefusedRoute(secondRoute) || !isTextField(*driver, *element)) {
        co_return std::nullopt;
    }
    if (auto session = co_await selectionCapture(snapshot, driver, *element, secondRoute, stop)) {
        co_return session;
    }
    if (auto session =
            co_await focusedValueCapture(snapshot, driver, *element, secondRoute, stop)) {
        co_return session;
    }
    co_return snapshotFallback(snapshot, firstRoute);
}

QCoro::Task<QNQuickFixCommitResult> QNServiceQuickFixHost::commit(
    QNQuickFixHostSession session, std::u16string correctedText,
    std::shared_ptr<QNQuickFixHostDriver> driver,
    std::shared_ptr<QNQuickFixPasteboardManager> manager, std::stop_token stop) {
    using Failure = QNQuickFixCommitFailure;
    if (correctedText.empty() || correctedText == session.originalText) {
        co_return Result::failed(Failure::unchangedText);
    }
    if (session.route == QNQuickFixRoute::terminal) {
        co_return Result::failed(Failure::terminalNotSupported);
    }
    if (session.route == QNQuickFixRoute::secureInput) {
        co_return Result::failed(Failure::secureInput);
    }

    // Saved before the target is brought to the front: the save lets the program's events run
    // (its own panel among them), which must not happen between the target coming to the front
    // and the write.
    const auto saved =
        std::make_shared<const QNModelPasteboardSnapshot>(co_await driver->capturePasteboard());
    bool activationAccepted = false;
    if (session.app.pid != driver->currentApplication().pid) {
        activationAccepted = driver->activate(session.app);
    }
    if (!co_await driver->waitForFrontmost(session.app, pasteBounds.frontWait(activationAccepted),
                                           stop)) {
        driver->releasePasteboard(*saved);  // nothing was written
        co_return Result::failed(Failure::activateTarget);
    }
    if (focusIsSecure(driver, session.app)) {
        driver->releasePasteboard(*saved);
        co_return Result::failed(Failure::secureInput);
    }
    // Each change typed over: the clipboard is not borrowed after all.
    if (session.strategy.kind == Strategy::Kind::changedText) {
        driver->releasePasteboard(*saved);
        co_return co_await commitChangedText(std::move(session), std::move(correctedText),
                                             std::move(driver), std::move(stop));
    }
    const auto prepared = co_await prepareSelection(session, driver, saved, stop);
    BorrowedContents borrowed{
        .driver = driver,
        .saved = saved,
        .copied = prepared.copied ? std::optional(session.originalText) : std::nullopt,
    };
    // (the selection took time: looked at again right before the text goes in)
    if (focusIsSecure(driver, session.app)) {
        if (saved->complete()) {
            borrowed.restore();
        }
        co_await putBackUnwritten(driver, prepared);
        co_return borrowed.ended(Result::failed(Failure::secureInput));
    }
    if (auto written = co_await writeOverAccessibility(session, correctedText, driver, prepared,
                                                       borrowed, stop)) {
        co_return *written;
    }
    // What would be replaced is not certainly the text captured: nothing is pasted, nor left to
    // be pasted over it.
    if (!prepared.canAttemptPaste) {
        if (saved->complete()) {
            borrowed.restore();
        }
        co_await putBackUnwritten(driver, prepared);
        co_return borrowed.ended(Result::failed(Failure::restoreTargetSelection));
    }
    // The user's contents could not be saved: the pasteboard is not borrowed.
    if (!saved->complete()) {
        co_await putBackUnwritten(driver, prepared);
        co_return Result::failed(Failure::pasteboardUnsaved, platform::toString(saved->failure));
    }
    co_return co_await pasteOver(session, correctedText, driver, std::move(manager), prepared,
                                 borrowed, stop);
}

}  // namespace ravlin
