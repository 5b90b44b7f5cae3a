#pragma once

// The paste both write-backs end in, the Composer's commit and Quick Fix's: from the moment the
// user's contents are saved, the target is in front and what the text replaces is certain, to
// the verdict on the paste. Over what was saved only, the text goes on the pasteboard (kept out
// of clipboard managers' history); once the person has let go of the keys they hold, with the
// target still in front and our text still on the pasteboard, the chord goes out; the target's
// fetch is waited for (nothing stops that wait: a put-back before it would paste the user's
// previous contents); then the paste check (paste_check.h) tells whether the text arrived.
//
// Each flow keeps its own first half (the save, the front, the selection) and decides from the
// verdict what becomes of the text and of the user's contents: put back, or the text left on
// the clipboard for the person with the contents coming back later. The bounds of every wait
// are pasteBounds (paste_bounds.h).

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/target/paste_bounds.h"
#include "app/target/paste_check.h"
#include "platform/outcome.h"
#include "platform/pasteboard.h"

namespace ravlin {

// Where the paste chord would go, looked at right before it: the field the paste is for, or
// (nothing is sent) another application, another window of the target, another field of that
// window (a dialog inside it, another tab, another input of a page), a password field, or
// somewhere the desktop does not say (its keyboard focus is not in the window it names active).
enum class QNChordPlace {
    target,
    otherApplication,
    otherWindow,
    otherField,
    passwordField,
    elsewhere,
};

// What became of a paste chord.
enum class QNChordPost {
    sent,
    notOurs,  // not sent: the pasteboard no longer held our text (a copy, or a put-back of ours)
    // not sent: the keyboard's focus, as the desktop sends the keys, was not in the target's
    // window
    elsewhere,
    failed,  // not sent: the keys could not be posted
};

// How the sequence reaches the target and the pasteboard, whichever way a flow does: over the
// desktop's seams (the Composer) or through a Quick Fix driver.
class QNPasteSteps {
  public:
    virtual ~QNPasteSteps() = default;

    // Whether the pasteboard (each one the paste goes through) still holds what was saved, or
    // this program's own put-back of it: nobody has copied since.
    [[nodiscard]] virtual bool stillSaved() = 0;
    // Clears the pasteboard and puts `text` on it for this paste only: invalidArgument when
    // another program copied since the save (nothing written), another failure when refused.
    virtual platform::Status write(std::u16string_view text) = 0;
    // Until the person has let go of every modifier and of the Composer shortcut's key.
    [[nodiscard]] virtual QCoro::Task<> waitForKeysUp(std::stop_token stop) = 0;
    // Until the keyboard's focus is in the target's window in front, at most
    // pasteBounds.keyboardFocusLimit; at once where the desktop does not tell.
    [[nodiscard]] virtual QCoro::Task<> waitForKeyboardFocus(std::stop_token stop) = 0;
    // Until `taker` has been told what our text on the pasteboard offers, where it is seen to
    // need that (QNModelPasteboardSnapshot::waitForLook); at once where the desktop does not
    // tell.
    [[nodiscard]] virtual QCoro::Task<> waitForLook(platform::FetchTarget taker,
                                                    std::stop_token stop) = 0;
    [[nodiscard]] virtual bool inFront() = 0;
    // Where the chord would go now, beyond the target being in front (the window it was meant
    // for, the field there, a password field), read fresh; as far as the flow knows. The last
    // look before the chord: nothing but the chord itself comes after it.
    [[nodiscard]] virtual QNChordPlace chordPlace() { return QNChordPlace::target; }
    // Whether our text is still what the pasteboard the chord pastes from holds.
    [[nodiscard]] virtual bool holdsOwnChange() = 0;
    // The target as the paste reaches it: its process, and its window in front now.
    [[nodiscard]] virtual platform::FetchTarget taker() = 0;
    // The target as the paste check reads it, for `taker`.
    [[nodiscard]] virtual QNPasteTarget target(platform::FetchTarget taker) = 0;
    // What the paste ran on into past a field read as `witness` just before the chord
    // (QNPasteTarget::runOn); unset where no document runs a paste on so.
    [[nodiscard]] virtual std::function<std::optional<std::u16string>()> runOn(
        const QNPasteWitness& witness, std::u16string_view text);
    // Sends the paste chord, only while the pasteboard it pastes from still holds our text and
    // the keyboard's focus is in the target's window, as the desktop orders events
    // (KeySynthesis::postKeyPressIf); from just before it, only the fetches that follow count as
    // the paste's (Pasteboard::markFetches).
    virtual QNChordPost postChord() = 0;
    // Until `taker` has fetched our last write since the chord (nobody else's fetch counts),
    // then until nobody has asked for it for pasteBounds.fetchQuiet; all within
    // pasteBounds.fetchLimit. Not stoppable.
    [[nodiscard]] virtual QCoro::Task<> waitForFetch(platform::FetchTarget taker) = 0;
    // A pause nothing stops.
    [[nodiscard]] virtual QCoro::Task<> pause(std::chrono::milliseconds duration) = 0;
};

struct QNPasteVerdict {
    enum class Kind {
        arrived,  // seen in the field, or (where it cannot be read) taken by the target itself
        // In part, or perhaps (`check` says which): never to be pasted again.
        mayHaveArrived,
        // Another program copied before the write or before the chord: their copy stands, and
        // no chord went out.
        clipboardChanged,
        writeFailed,  // the text could not be put on the pasteboard
        noChord,      // the text is on the pasteboard, and no chord is known to paste it there
        // Written, and no chord went out: a stop, or the chord could not be sent.
        notSent,
        // Written, and no chord went out: it would have gone to another application, another
        // window of the target, another field of its window, or into a password field (`place`
        // says which).
        misplaced,
        // The chord went out, and the paste did not arrive (`check` says why); should another
        // program have copied before the target fetched, the target got theirs.
        notPasted,
    };
    Kind kind = Kind::arrived;
    // Whether our text went onto the pasteboard.
    bool written = false;
    QNChordPlace place = QNChordPlace::target;
    // Once the chord is out: the check's word, and the target just before the chord.
    QNPasteCheck check = QNPasteCheck::seen;
    QNPasteWitness witness;
};

// What a paste sends: the text, whether a chord is known to paste it, and whether the target
// may hold a paste it took back for the person (pasteGuardMayHold).
struct QNPasteRequest {
    std::u16string text;
    bool chordKnown = true;
    bool mayBeHeld = false;
};

// The paste chord `chord` into whatever has the focus, through `keys`, only while `pasteboard`
// still holds our text and, where `focusIn` is set, the keyboard's focus is in that window, as
// the desktop orders events; the fetches counted from just before it.
[[nodiscard]] QNChordPost postChordOverOwnWrite(
    platform::Pasteboard& pasteboard, platform::KeySynthesis& keys, platform::KeyChord chord,
    std::optional<std::uint64_t> focusIn = std::nullopt);

// The sequence above, through `steps` (which must outlive the call). A stop before the chord
// ends it without one (`notSent`); once the chord is out, the waits after it run in full.
[[nodiscard]] QCoro::Task<QNPasteVerdict> pasteAndCheck(QNPasteSteps& steps, QNPasteRequest request,
                                                        std::stop_token stop);

}  // namespace ravlin
