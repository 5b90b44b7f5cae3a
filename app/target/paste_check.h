#pragma once

// Whether a paste arrived. A paste chord is only a request: the target may ignore it, fetch
// nothing, take only part of the text, hold it back for a confirmation, or have gone meanwhile,
// and the text must then stay where the user can still get it. So, once the pause after the
// chord is over, the paste is judged before anything of it is thrown away:
// - where the focused field can be read, by what changed in it at the place the text went,
//   tolerant of how targets shape pasted text (line breaks made spaces or dropped in a single
//   line, quotes and dashes substituted, indentation and other white space added, CRLF, object
//   replacement characters) but never of a change that is not the text;
// - where it cannot (a password field, a terminal, a program without accessibility), by the
//   target itself having taken the text from us (on X11 a paste fetches it from the clipboard's
//   owner; a clipboard manager fetches every copy, so only the target's own fetch counts).

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/text/range.h"
#include "platform/pasteboard.h"

namespace ravlin {

// How a field's text after a paste compares with the text pasted over its selection.
enum class QNPastedText {
    arrived,        // the text, as the field shaped it, replaced the selection, once
    arrivedInPart,  // only its beginning did: the field took no more (a length limit)
    // The field holds the text, but not as the paste would have put it: beside the old text,
    // somewhere else, or running on past what the field shows (a document that makes each line
    // a paragraph of its own).
    mayHaveArrived,
    notArrived,
};

// The field's text `before` the paste with `selection` (where the text went) and `after` it.
// A field that still holds its old text never passes, unless the text equals what it replaced.
// What the person types meanwhile (a few characters beside the text) is allowed for.
[[nodiscard]] QNPastedText pastedText(std::u16string_view before, text::Utf16Range selection,
                                      std::u16string_view after, std::u16string_view text);

// A text as compared above: canonically decomposed, white space, format characters and object
// replacement characters left out, quotes and dashes as their ASCII forms (a run of dashes as
// one), an ellipsis as three dots.
[[nodiscard]] std::u16string shapeInsensitive(std::u16string_view text);

enum class QNPasteCheck {
    seen,          // the text is in the field where it went
    delivered,     // the field cannot be read; the window took the text and still has the focus
    partial,       // only the text's beginning is in the field where it went
    misplaced,     // the field holds the text, but not where it went (see mayHaveArrived)
    unconfirmed,   // the target took it, but its arrival cannot be told: a paste guard may hold
                   // it, or the target lost the focus after taking it
    unattributed,  // someone took it, but the desktop cannot tell who
    notSeen,       // the field can be read, and the text is not in it
    notFetched,    // the target never fetched the text from the clipboard
    targetGone,    // the window that took the chord is gone, or another one has the focus
};

// The session log's reason ("paste-cut-short", "paste-misplaced", "arrival-unconfirmed",
// "paste-not-seen", "paste-not-fetched", "target-gone"); "seen" and "delivered" for the others.
[[nodiscard]] std::string_view toString(QNPasteCheck check);
[[nodiscard]] constexpr bool arrived(QNPasteCheck check) {
    return check == QNPasteCheck::seen || check == QNPasteCheck::delivered;
}
// Not arrived, yet perhaps in the target: never to be pasted again by the person.
[[nodiscard]] constexpr bool mayHaveArrived(QNPasteCheck check) {
    return check == QNPasteCheck::partial || check == QNPasteCheck::misplaced ||
           check == QNPasteCheck::unconfirmed || check == QNPasteCheck::unattributed;
}
// Not seen to arrive whole, yet certainly in the target's hands: its field shows the text, or
// its own client took it. What the target does with it then (a terminal's paste guard asking the
// person) is the target's.
[[nodiscard]] constexpr bool takenByTarget(QNPasteCheck check) {
    return mayHaveArrived(check) && check != QNPasteCheck::unattributed;
}

// The target just before the paste chord.
struct QNPasteWitness {
    std::optional<std::uint64_t> window;  // the window with the focus, where the desktop says
    // The focused field's text and selection (or caret), where it can be read back.
    std::optional<std::u16string> value;
    std::optional<text::Utf16Range> selection;

    [[nodiscard]] bool readable() const { return value && selection; }
};

// The target once the pause after the chord is over.
struct QNPasteLook {
    bool inFront = false;  // the target application still has the focus
    std::optional<std::uint64_t> window;
    platform::WriteFetch fetch = platform::WriteFetch::unknown;  // who took our text
    std::optional<std::u16string> value;  // the same field's text now
    // What the paste ran on into past the field (QNPasteTarget::runOn): the text arrived where
    // the field and it together show it, though the field alone does not.
    std::optional<std::u16string> runOn;
};

// How a flow reads its target for the check, whichever way it reaches it. `value` and
// `selection` read the field focused just before the chord; unset where it cannot be read back.
struct QNPasteTarget {
    std::function<bool()> inFront;
    std::function<std::optional<std::uint64_t>()> window;
    std::function<platform::WriteFetch()> fetch;
    std::function<std::optional<std::u16string>()> value;
    std::function<std::optional<text::Utf16Range>()> selection;
    // Once the pause is over, the text the paste ran on into past that field, a line break
    // before each part (a document that makes each pasted line a paragraph of its own and
    // takes the focus to the last); unset or none where there is none to be read.
    std::function<std::optional<std::u16string>()> runOn;

    // Just before the chord.
    [[nodiscard]] QNPasteWitness witness() const;
    // Once the pause after it is over; the field's text only where `before` could read it.
    [[nodiscard]] QNPasteLook look(const QNPasteWitness& before) const;
};

// Whether a target that took the text may still hold it back: a terminal asks before it passes
// on a paste with control characters (rxvt-unicode does for any line break or tab).
[[nodiscard]] bool pasteGuardMayHold(bool terminal, std::u16string_view text);

// The check of one look. A readable field is judged by its text; an unreadable one by who took
// the text (`mayBeHeld`: a paste guard may hold it, see pasteGuardMayHold).
[[nodiscard]] QNPasteCheck judgePaste(const QNPasteWitness& before, const QNPasteLook& now,
                                      std::u16string_view text, bool mayBeHeld = false);

// Looks at the target (`look`) and judges; while a readable field does not show the whole text
// where it went, looks again after `pause` (a target may fetch the text at once and show it a
// little later), up to pasteBounds.looks times in all (paste_bounds.h).
[[nodiscard]] QCoro::Task<QNPasteCheck> checkPaste(QNPasteWitness before, std::u16string text,
                                                   bool mayBeHeld,
                                                   std::function<QNPasteLook()> look,
                                                   std::function<QCoro::Task<>()> pause);

}  // namespace ravlin
