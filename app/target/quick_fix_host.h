#pragma once

// The Quick Fix host: takes the text of the focused field of another application and puts the
// correction back. `beginSession` classifies the target, refuses secure fields and terminals,
// finds the element and captures its text by the first method that works; `commit` brings the
// target to the front, selects exactly the captured text and replaces it through a verified
// accessibility write, else a paste, else leaves the text on the clipboard. The user's pasteboard
// comes back on every path: at once, after the paste, or through the deferred restore.
//
// One driver per run: the commit must be given the driver that captured the session.

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/target/focus_snapshot.h"
#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "app/target/quick_fix_route.h"
#include "core/text/range.h"

namespace ravlin {

// How the text was captured; the first three in the order of the snapshot's selection sources.
enum class QNQuickFixCaptureMethod {
    selectedText,
    selectedRange,
    copy,
    selectAllAndCopy,
    focusedValue,
    descendantValue,
};

[[nodiscard]] std::string_view toString(QNQuickFixCaptureMethod method);
[[nodiscard]] std::optional<QNQuickFixCaptureMethod> captureMethodFromString(std::string_view raw);

// What the commit replaces: the selection (with its range when one was read), or the element's
// whole value; in a field whose formatting a plain text would lose, only what the correction
// changed, where the text stands in the element's value (`range`: all of it, or the selection
// it was).
struct QNQuickFixReplacementStrategy {
    enum class Kind { currentSelection, focusedValue, changedText };
    Kind kind = Kind::currentSelection;
    std::optional<text::Utf16Range> range;  // currentSelection and changedText

    [[nodiscard]] static QNQuickFixReplacementStrategy currentSelection(
        std::optional<text::Utf16Range> range) {
        return {Kind::currentSelection, range};
    }
    [[nodiscard]] static QNQuickFixReplacementStrategy focusedValue() {
        return {Kind::focusedValue, std::nullopt};
    }
    [[nodiscard]] static QNQuickFixReplacementStrategy changedText(text::Utf16Range range) {
        return {Kind::changedText, range};
    }
    friend bool operator==(const QNQuickFixReplacementStrategy& a,
                           const QNQuickFixReplacementStrategy& b) {
        return a.kind == b.kind && (a.kind == Kind::focusedValue || a.range == b.range);
    }
};

struct QNQuickFixHostSession {
    platform::RunningApplication app;
    std::optional<std::string> bundleID;
    std::optional<std::string> role;  // of the element the text came from
    QNQuickFixElementToken elementToken;
    std::u16string originalText;  // exactly as read
    QNQuickFixReplacementStrategy strategy;
    QNQuickFixCaptureMethod captureMethod = QNQuickFixCaptureMethod::selectedText;
    QNQuickFixRoute route = QNQuickFixRoute::unknown;
    QNModelFocusSnapshot snapshot;

    friend bool operator==(const QNQuickFixHostSession&, const QNQuickFixHostSession&) = default;
};

// `typed`: each change selected and typed over (a formatted field's changed text).
enum class QNQuickFixReplacementMethod { accessibility, paste, typed };

enum class QNQuickFixClipboardReason {
    axWriteRejected,
    axVerifyFailed,
    routedToPaste,
    pasteAfterAXFailure,
    // The paste chord went out but the paste did not arrive (QNPasteCheck): "paste-not-seen",
    // "paste-not-fetched", "target-gone".
    pasteNotSeen,
    pasteNotFetched,
    targetGone,
};

enum class QNQuickFixCommitFailure {
    noTarget,
    activateTarget,
    restoreTargetSelection,
    sendPasteKeystroke,
    unchangedText,
    secureInput,
    terminalNotSupported,
    pasteboardWriteFailed,
    driverRejected,  // for the coordinator's outcome table; the commit never returns it
    // The user's clipboard could not be saved whole, so it was not borrowed (the result's
    // `detail` says why: "too-large"...).
    pasteboardUnsaved,
    // The user copied while it was borrowed, before the paste: their copy stands.
    clipboardChanged,
};

// Log words: "accessibility", "paste", "typed"; "ax-write-rejected", ...; "no-target", ...
[[nodiscard]] std::string_view toString(QNQuickFixReplacementMethod method);
[[nodiscard]] std::string_view toString(QNQuickFixClipboardReason reason);
[[nodiscard]] std::string_view toString(QNQuickFixCommitFailure failure);

struct QNQuickFixCommitResult {
    // Beside the three outcomes a write-back always had, two for a write that may have
    // arrived and must never be made again: `partial` (only part of it arrived) and
    // `unconfirmed` (the target may have it, but that cannot be told).
    enum class Kind { committed, pasteOnClipboard, failed, partial, unconfirmed };
    Kind kind = Kind::failed;
    QNQuickFixReplacementMethod method = QNQuickFixReplacementMethod::accessibility;
    QNQuickFixClipboardReason reason = QNQuickFixClipboardReason::pasteAfterAXFailure;
    QNQuickFixCommitFailure failure = QNQuickFixCommitFailure::noTarget;
    // The log's reason for `partial` and `unconfirmed` (the paste check's words) and for the
    // failure `pasteboardUnsaved` (the save's).
    std::string_view detail;
    // `unconfirmed`: the text is in the target's hands (its own client took it, or its field
    // shows it), not only perhaps.
    bool takenByTarget = false;
    // What became of the user's contents (for `pasteOnClipboard`: of those put back at once,
    // where the text could not be left). Not part of the outcome's equality.
    platform::PutBack pasteboardRestore = platform::PutBack::done;

    [[nodiscard]] static QNQuickFixCommitResult committed(QNQuickFixReplacementMethod method) {
        return {.kind = Kind::committed, .method = method};
    }
    [[nodiscard]] static QNQuickFixCommitResult pasteOnClipboard(QNQuickFixClipboardReason reason) {
        return {.kind = Kind::pasteOnClipboard, .reason = reason};
    }
    [[nodiscard]] static QNQuickFixCommitResult failed(QNQuickFixCommitFailure failure,
                                                       std::string_view detail = {}) {
        return {.kind = Kind::failed, .failure = failure, .detail = detail};
    }
    [[nodiscard]] static QNQuickFixCommitResult partial(
        std::string_view detail,
        QNQuickFixReplacementMethod method = QNQuickFixReplacementMethod::paste) {
        return {.kind = Kind::partial, .method = method, .detail = detail};
    }
    [[nodiscard]] static QNQuickFixCommitResult unconfirmed(
        std::string_view detail, bool takenByTarget,
        QNQuickFixReplacementMethod method = QNQuickFixReplacementMethod::paste) {
        return {.kind = Kind::unconfirmed,
                .method = method,
                .detail = detail,
                .takenByTarget = takenByTarget};
    }
    // Only the payload of the case counts.
    friend bool operator==(const QNQuickFixCommitResult& a, const QNQuickFixCommitResult& b) {
        if (a.kind != b.kind) {
            return false;
        }
        switch (a.kind) {
            case Kind::committed:
                return a.method == b.method;
            case Kind::pasteOnClipboard:
                return a.reason == b.reason;
            case Kind::partial:
                return a.detail == b.detail;
            case Kind::unconfirmed:
                return a.detail == b.detail && a.takenByTarget == b.takenByTarget;
            case Kind::failed:
                break;
        }
        return a.failure == b.failure && a.detail == b.detail;
    }
};

// "committed accessibility", "pasteOnClipboard paste-after-ax-failure", "failed no-target",
// "partial paste-cut-short".
[[nodiscard]] std::string toString(const QNQuickFixCommitResult& result);

struct QNServiceQuickFixHost {
    QNServiceQuickFixHost() = delete;

    // How deep the search for a text field under the focused element goes. The pauses and counts
    // of the write-back are the paste's (pasteBounds, paste_bounds.h).
    static constexpr int descendantDepth = 3;

    [[nodiscard]] static QNQuickFixRoute route(const std::optional<std::string>& bundleID,
                                               const std::optional<std::string>& role) {
        return quickFixRoute(bundleID, role);
    }

    // Whether `element` is a field a person types in: a text role, or an element that says it
    // takes typing (a web page's editor). A page, a button, a list is none: nothing is copied
    // from it.
    [[nodiscard]] static bool isTextField(QNQuickFixHostDriver& driver,
                                          const QNQuickFixElementInfo& element);

    // The session for the focused field of the snapshot's application, or none when there is
    // nothing the host may or can correct (no text field has the focus: nothing is read or
    // copied). A stop ends a copy capture with nothing (restoring).
    [[nodiscard]] static QCoro::Task<std::optional<QNQuickFixHostSession>> beginSession(
        QNModelFocusSnapshot snapshot, std::shared_ptr<QNQuickFixHostDriver> driver,
        std::stop_token stop);

    // Replaces the session's text with `correctedText`. `manager` is the deferred restore for a
    // clipboard outcome (none: the driver's). A stop ends the selection checks with failure, and
    // before the paste chord turns the paste into the clipboard outcome; once the chord is out,
    // the pauses after it run in full.
    [[nodiscard]] static QCoro::Task<QNQuickFixCommitResult> commit(
        QNQuickFixHostSession session, std::u16string correctedText,
        std::shared_ptr<QNQuickFixHostDriver> driver,
        std::shared_ptr<QNQuickFixPasteboardManager> manager, std::stop_token stop);
};

}  // namespace ravlin
