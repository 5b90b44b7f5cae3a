#pragma once

// Borrowing the general pasteboard: save everything on it, use it for our own text, put the
// user's contents back. And the one complete paste into another application: bring it to the
// front, put the text on the pasteboard, send the paste chord, restore.

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/target/paste_bounds.h"
#include "app/target/target_seams.h"
#include "core/support/async.h"
#include "core/text/range.h"
#include "platform/keys.h"
#include "platform/pasteboard.h"
#include "platform/workspace.h"

namespace ravlin {

enum class QNPasteResult {
    pasted,            // seen to arrive (or, where the field cannot be read, taken by the target
                       // itself), or nothing to paste
    activationFailed,  // the target did not come to the front in time
    pasteFailed,       // the text could not be written, the chord could not be sent, or the
                       // paste was cancelled before the chord went out
    selectionLost,     // the selection the text was to replace could not be made certain again
    leftOnClipboard,   // the paste did not arrive, or no chord pastes there: the text stays on
                       // the clipboard, the user's contents come back through the deferred restore
    pastedInPart,      // only the text's beginning arrived (the field took no more)
    sentUnconfirmed,   // the target may have the text, but its arrival cannot be told
    clipboardUnsaved,  // the user's clipboard could not be saved whole: it was not touched
    clipboardChanged,  // another program copied before the paste chord: their copy stands, and
                       // no chord went out
    notPasted,         // the chord went out and the paste did not arrive, and the text could
                       // not be left on the clipboard: a copy made meanwhile stands there (the
                       // target may have been given it)
    keyboardElsewhere,  // the keyboard was not in the field the paste is for (`reason` says
                        // where): no chord went out
    passwordField,      // the keyboard was in a password field: no chord went out
};

[[nodiscard]] std::string_view toString(QNPasteResult result);

struct QNPasteOutcome {
    QNPasteResult result = QNPasteResult::pasted;
    // Why, in the session log's words: for leftOnClipboard and notPasted "paste-not-seen",
    // "paste-not-fetched", "target-gone", and for leftOnClipboard "no-paste-chord"; for
    // pastedInPart and sentUnconfirmed the paste check's (QNPasteCheck); for clipboardUnsaved the
    // save's failure ("too-large"...); for keyboardElsewhere where the keyboard was:
    // "another-application", "another-window" (of the target), "another-field" (of the window),
    // "another-window-unnamed" (the desktop's focus was not where its window manager said).
    std::string_view reason;
    // leftOnClipboard: the chord that pastes the text there ("Ctrl+V"); empty where none is
    // known, or where the one sent just failed.
    std::string_view chordName;
    // sentUnconfirmed: the text is in the target's hands (its field shows it, or its own client
    // took it), not only perhaps.
    bool takenByTarget = false;
    // What became of the user's contents (for leftOnClipboard: of those put back at once, where
    // the text could not be left).
    platform::PutBack restore = platform::PutBack::done;

    friend bool operator==(const QNPasteOutcome&, const QNPasteOutcome&) = default;
};

// How a paste reaches `target` whose focused element has `focusedRole`: Command+V (the
// key-synthesis seam sends Ctrl+V); in a terminal, the chord of its family (terminalPaste): Ctrl+Shift+V
// (where Ctrl+V would type a control character), or Shift+Insert from the text last selected,
// which then holds the text too; no chord for a terminal whose chord we do not know.
struct QNPasteRoute {
    std::optional<platform::KeyChord> chord;
    std::string_view chordName;  // as a person reads it: "Ctrl+V", "Ctrl+Shift+V", "Shift+Insert"
    bool fromPrimary = false;

    friend bool operator==(const QNPasteRoute&, const QNPasteRoute&) = default;
};
[[nodiscard]] QNPasteRoute pasteRoute(const platform::RunningApplication& target,
                                      const std::optional<std::string>& focusedRole = {});

struct QNModelFocusSnapshot;

// Where a paste is for, as far as the flow knows: the window (Workspace::frontmostWindow's
// number) and the field in it the Composer was opened over, and whether the application still
// claimed that field focused while the Composer had the keyboard (Firefox does; such an
// application claims it on for a moment once in front again, before it shows where its keyboard
// is now).
struct QNPastePlace {
    std::optional<std::uint64_t> window;
    std::optional<platform::ElementRef> field;
    bool fieldClaimedWhileAway = true;

    friend bool operator==(const QNPastePlace&, const QNPastePlace&) = default;
};

// What a put-back of the user's contents may go over.
enum class QNPutBackOver {
    // Only this program's own last change of the pasteboard (its text, its put-back, its
    // clear): a copy anyone else made since stands.
    ownChange,
    // Whatever is there: right after a copy chord of ours, the target's copy.
    targetsCopy,
};

// The plain text on the pasteboard, read without holding up the program (within the pasteboard's
// own time bound; none at once once `stop` is requested):
// `co_await pasteboardText(seams.pasteboard, *seams.executor, seams.ending)`.
[[nodiscard]] AnswerAwaiter<std::optional<std::u16string>> pasteboardText(
    std::shared_ptr<platform::Pasteboard> pasteboard, Executor& executor, std::stop_token stop);

// The selection a paste is to replace: the text a session was seeded from and where it lay in
// its field when read. Some toolkits drop a field's selection while another application is in
// front (GTK does when it loses the primary selection), so a paste over it first makes it
// certain again.
struct QNPasteSelection {
    std::u16string text;
    std::optional<text::Utf16Range> range;

    // The selection a Composer session opened on `snapshot` is seeded from; none when the
    // snapshot holds no selection that is not blank.
    [[nodiscard]] static std::optional<QNPasteSelection> seededBy(
        const QNModelFocusSnapshot& snapshot);

    // Where the text stands in a field's `value` now: the recorded range while it still holds
    // the text, else the text's first occurrence; none for an empty text or one not there.
    [[nodiscard]] std::optional<text::Utf16Range> in(std::u16string_view value) const;

    friend bool operator==(const QNPasteSelection&, const QNPasteSelection&) = default;
};

struct QNModelPasteboardSnapshot {
    // One entry per pasteboard item, in the pasteboard's order: type -> bytes, for every type
    // the item gave data for.
    std::vector<platform::PasteboardItem> items;
    // How the owner offered them (its list of types, the form of each), where the desktop says:
    // they go back exactly as they came.
    platform::PasteboardOffer offer;
    // Why the user's contents could not be saved whole (`none` when they were). Nothing of them
    // is kept then: nobody may borrow the pasteboard, and a restore leaves it alone.
    platform::PasteboardSaveFailure failure = platform::PasteboardSaveFailure::none;
    // The loan this snapshot stands for in its pasteboard manager's ledger (0: none), settled by
    // restore(). Not part of the contents: equality leaves it out.
    std::uint64_t loan = 0;
    std::weak_ptr<QNQuickFixPasteboardManager> lender;
    // The pasteboard's change count once saved, and whether the contents were a pending deferred
    // restore's (the pasteboard then holds a text left there): for release().
    std::int64_t changeCountWhenSaved = 0;
    bool tookPendingRestore = false;

    [[nodiscard]] bool complete() const {
        return failure == platform::PasteboardSaveFailure::none;
    }
    [[nodiscard]] platform::PasteboardContents contents() const { return {items, offer, failure}; }
    [[nodiscard]] static QNModelPasteboardSnapshot of(platform::PasteboardContents contents);

    // The user's pasteboard contents. While a deferred restore is pending and the pasteboard
    // still holds only the text it was scheduled for, those are the pending snapshot's (the
    // pending restore is then cancelled: the caller now restores them on its own path);
    // otherwise everything the pasteboard holds now, read without holding up the program and
    // within the pasteboard's time bound, whatever its owner does. Contents that cannot be saved
    // whole give an incomplete snapshot and the manager is told (onSaveRefused); a save tried
    // again while the pasteboard has not changed since a refusal is refused at once, so that a
    // flow never waits twice on an owner that does not answer. Empty pasteboard, empty snapshot.
    // Once the program ends (seams.ending) a read still under way ends as one the owner did not
    // answer.
    [[nodiscard]] static QCoro::Task<QNModelPasteboardSnapshot> capture(TargetSeams seams);

    // Puts the saved contents back in one write (the owner's types in its order, each with its
    // bytes and form; an empty snapshot leaves the pasteboard empty) in place of what `over`
    // allows: normally only this program's own last change, so that a copy the user (or anyone)
    // made since stands and nothing is written over it. Moves the change count when it writes.
    // Settles the loan. An incomplete snapshot touches nothing: clearing would destroy contents
    // it could not save. What became of them.
    // One that cannot be confirmed (the desktop did not answer in time) is tried again after
    // pasteBounds.retryAfterFailedRestore through the manager, whose pending restore it becomes.
    platform::PutBack restore(platform::Pasteboard& pasteboard,
                              QNPutBackOver over = QNPutBackOver::ownChange) const;
    // The same without settling the loan: for a flow that uses the pasteboard again afterwards
    // and restores at its own end.
    platform::PutBack putBack(platform::Pasteboard& pasteboard,
                              QNPutBackOver over = QNPutBackOver::ownChange) const;
    // Whether the pasteboard still holds what was saved (or this program's own put-back of it):
    // nobody else has copied since.
    [[nodiscard]] bool stillOn(platform::Pasteboard& pasteboard) const;
    // For a borrower that wrote nothing: settles the loan, and puts the contents back only where
    // the pasteboard no longer holds them (it changed since the save, or they were a pending
    // deferred restore's); otherwise the pasteboard is not touched.
    void release(platform::Pasteboard& pasteboard) const;
    // restore(), where a copy chord went to the target: then, for a short time, a copy landing
    // late with `copied` on it (with anything, when `copied` is none) puts the user's contents
    // back again (QNQuickFixPasteboardManager::watchForLateCopy).
    platform::PutBack restoreAfterCopy(const TargetSeams& seams,
                                       std::optional<std::u16string> copied,
                                       QNPutBackOver over) const;

    // The program ends with `text` not pasted (a commit cut short): it goes on the pasteboard as
    // an ordinary copy for the person to paste, for pasteBounds.deferredRestore, and the user's
    // contents, saved first (within the pasteboard's own time bound; `seams.ending` here stops
    // only this save, the program's end having come already), come back after it, where the
    // desktop sees to that beyond the program's life (Pasteboard::leaveForUser). Where it
    // cannot, the user's contents are put back at once; where they cannot be saved, nothing is
    // written. Whether the text was left.
    [[nodiscard]] static QCoro::Task<bool> leaveAtExit(TargetSeams seams, std::u16string text);

    // True once `target` is the frontmost application: tested at once, then each time the
    // desktop tells that another application came to the front, for up to
    // pasteBounds.frontWait(`activationRequested`: an activation request was accepted). A stop ends
    // the wait early, after one more test.
    [[nodiscard]] static QCoro::Task<bool> waitUntilFrontmost(TargetSeams seams,
                                                              platform::RunningApplication target,
                                                              bool activationRequested,
                                                              std::stop_token stop);

    // Pastes `text` into `target` with its chord (pasteRoute; the text last selected is saved,
    // set and put back beside the clipboard for a terminal that pastes from it), then checks that
    // the paste arrived (paste_check.h) before the user's pasteboard goes back. Empty text:
    // `pasted` without touching anything. A stop before the pasteboard write or before the paste
    // chord restores and answers `pasteFailed` (the caller keeps the text); once the chord is out,
    // the waits after it run in full. User's contents that cannot be saved: `clipboardUnsaved`
    // without touching anything. A paste that arrived in part, or may have arrived: the user's
    // contents back, `pastedInPart` or `sentUnconfirmed`. With `replacing`, once the target is in
    // front its selection must be that one again (see `reselect`) before anything is written; else
    // `selectionLost`, nothing pasted; a copy made to check it may land late, so the put-back then
    // watches for it (restoreAfterCopy). A paste that did not arrive, or a terminal with no chord
    // we know: `leftOnClipboard`, the text on the clipboard for the user to paste and the user's
    // contents back through the deferred restore (none set up: put back now, `pasteFailed`).
    // The `place`'s window (where known) is the one brought to the front. Right before the
    // chord, after every other look, the keyboard must be in that window, in the `place`'s field
    // there (where known over accessibility), read fresh as the focus reading reads it once the
    // application can tell it, and not in a password field; otherwise no chord goes out:
    // `keyboardElsewhere` (with where it was) or `passwordField`. The chord itself goes only
    // while the desktop's keyboard focus is in that window. Every other path puts the user's
    // contents back before returning.
    [[nodiscard]] static QCoro::Task<QNPasteOutcome> paste(
        TargetSeams seams, std::u16string text, platform::RunningApplication target,
        std::stop_token stop, std::optional<QNPasteSelection> replacing = std::nullopt,
        QNPastePlace place = {});

    // With `target` in front: whether its focused field's selection is `selection`. When it reads
    // otherwise, the range is selected again over accessibility (the recorded range when it still
    // holds the text, else the text's first occurrence) and read back
    // (pasteBounds.selectionChecks); failing that, while the field shows a selection, a copy of it
    // (Ctrl+C, `saved` put back: the user's contents the caller holds) must give the text. Never
    // true for a selection that is not certainly the text; no key goes to a field that cannot be
    // seen, nor to a password field.
    struct Reselected {
        bool certain = false;
        // Whether the copy was asked for (its chord may have gone to the target): its copy may
        // then land late, after the put-back.
        bool copied = false;
    };
    [[nodiscard]] static QCoro::Task<Reselected> reselect(
        TargetSeams seams, platform::RunningApplication target, QNPasteSelection selection,
        std::stop_token stop, std::shared_ptr<const QNModelPasteboardSnapshot> saved);

    // After the paste chord: waits until `target` has fetched our last write since the chord
    // (another program's fetch, a clipboard manager's, does not count; each fetch the desktop
    // tells of is looked at), then until nobody has asked for it for pasteBounds.fetchQuiet, all
    // within pasteBounds.fetchLimit. No flow's stop ends it, since restoring earlier would paste
    // the user's previous contents into the target; only the program's end does (seams.ending).
    // A target that fetched nothing yet looked by then, where its chord went without waiting for
    // a look, is noted as looking first (waitForLook).
    [[nodiscard]] static QCoro::Task<> waitForFetch(TargetSeams seams, platform::FetchTarget target);
    // Before a chord: until the keyboard's focus is in the window in front (tested every
    // pasteBounds.keysUpPoll, at most pasteBounds.keyboardFocusLimit; at once where the desktop
    // does not tell); whether it is.
    [[nodiscard]] static WaitUntilAwaiter waitForKeyboardFocus(const TargetSeams& seams,
                                                              std::stop_token stop);
    // Before a paste chord, only for a target that needs it: until `target` has been told what
    // our last write offers (Pasteboard::lastWriteLookedAtBy), tested every
    // pasteBounds.keysUpPoll. A target seen to look first (it watches the clipboard, or it once
    // ignored a chord that came before its look) waits at most pasteBounds.watcherLookLimit; one
    // not seen yet at most pasteBounds.lookLimit, which tells which it is; one seen to paste
    // without a look not at all. What was seen is kept for the run by the pasteboard's manager
    // (clipboardLookOf; without one every target counts as not seen). At once where the desktop
    // does not tell. Whether it has looked.
    [[nodiscard]] static QCoro::Task<bool> waitForLook(TargetSeams seams,
                                                      platform::FetchTarget target,
                                                      std::stop_token stop);
    // Waits until `inFront` holds: tested at once and each time the desktop tells that another
    // application came to the front, for up to `limit`; whether it held.
    [[nodiscard]] static WaitUntilNotifiedAwaiter waitForFront(const TargetSeams& seams,
                                                               std::function<bool()> inFront,
                                                               std::chrono::milliseconds limit,
                                                               std::stop_token stop);

    friend bool operator==(const QNModelPasteboardSnapshot& a, const QNModelPasteboardSnapshot& b) {
        return a.contents() == b.contents();
    }
};

}  // namespace ravlin
