#pragma once

// The bounds of a paste into another application, the Composer's and Quick Fix's alike: how long
// each wait on the target, on the person's keys and on the pasteboard may last, and how often a
// selection, a write or the pasted text is read back. Every wait ends as soon as what it waits
// for has happened; these are only its limits.

#include <chrono>

namespace ravlin {

struct QNPasteBounds {
    using Milliseconds = std::chrono::milliseconds;

    // The target in front: after an activation request it accepted, else (it may be in front
    // already, or come of its own).
    Milliseconds frontAfterAcceptedActivation{1200};
    Milliseconds frontOtherwise{300};
    // The person's modifiers and the Composer shortcut's key let go before a chord: looked at
    // this often, at most this long (then the chord goes anyway).
    Milliseconds keysUpPoll{5};
    Milliseconds keysUpLimit{1000};
    // A selection set again over accessibility, read back this many times, this far apart.
    int selectionChecks = 8;
    Milliseconds selectionCheckInterval{25};
    // An accessibility write read back this many times, this far apart; once seen, this pause
    // before the user's contents and the caret go back.
    int valueChecks = 6;
    Milliseconds valueCheckInterval{20};
    Milliseconds pauseAfterAccessibilityWrite{80};
    // The keyboard's focus itself in the target's window before a chord (the window manager
    // names the window in front before the focus moves there): looked at this often (keysUpPoll),
    // at most this long (then the chord goes anyway).
    Milliseconds keyboardFocusLimit{500};
    // Within the same limit, the field the paste is for shown focused over accessibility, looked
    // at this often; where the target still claimed that field while another application had
    // the keyboard, only once it has been in front this long. An application brought back tells
    // where its keyboard is a moment after it has it, and until then those still claim the
    // field they had when they lost the keyboard (Firefox: 30-45 ms beside eight busy loops),
    // though a page may have moved it meanwhile.
    Milliseconds fieldSettle{150};
    Milliseconds fieldFocusPoll{10};
    // The target told what our text on the pasteboard offers before a chord: a program that
    // watches the clipboard asks that of each change, and may take a chord that comes before
    // its answer for nothing to paste (GNOME Terminal). Looked at this often (keysUpPoll): for
    // an application not seen yet at most the first, which tells whether it looks; for one seen
    // to look first (it asked so of an earlier write of ours, or ignored a chord that came
    // before its look) at most the second (then the chord goes anyway). One seen to paste
    // without a look gets its chord at once.
    Milliseconds lookLimit{40};
    Milliseconds watcherLookLimit{500};
    // Once the chord is out: the target fetching our text, all within this. A target may ask
    // more than once (a terminal looks at the text, then pastes it), and a clipboard manager
    // reads the marks after the text: once the target has fetched, our text stays until nobody
    // has asked for it for this long.
    Milliseconds fetchLimit{1800};
    Milliseconds fetchQuiet{200};
    // The looks for the pasted text in a field that can be read back (checkPaste): this many in
    // all, this far apart. The first comes as soon as the target has fetched the text, so the
    // looks after it give a target that shows it late about a second.
    int looks = 21;
    Milliseconds lookInterval{50};
    // A caret and selection put back: read until seen, this often, at most this long; a
    // select-all read this long after the write is written over.
    Milliseconds putBackLimit{1000};
    Milliseconds putBackCheckInterval{5};
    Milliseconds putBackRewriteAfter{100};
    // A Quick Fix already under way selects the text to replace with Ctrl+A, and where the
    // selected text cannot be read, copies it to check it: a browser busy under load shows the
    // select-all and lands the copy well over a second late. Each is waited for until it shows,
    // at most this long (about three seconds in all; the Composer's opening keeps its own,
    // shorter bounds).
    Milliseconds commitSelectAllLimit{2000};
    Milliseconds commitCopyLimit{1000};
    // A text left on the clipboard stays this long before the user's contents come back; a
    // put-back the desktop did not confirm is tried again after this.
    std::chrono::seconds deferredRestore{60};
    std::chrono::seconds retryAfterFailedRestore{1};

    [[nodiscard]] constexpr Milliseconds frontWait(bool activationAccepted) const {
        return activationAccepted ? frontAfterAcceptedActivation : frontOtherwise;
    }
};

// The one set both flows use.
inline constexpr QNPasteBounds pasteBounds{};

}  // namespace ravlin
