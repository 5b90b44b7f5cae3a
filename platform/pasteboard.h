#pragma once

// The general pasteboard (the desktop's clipboard): a list of items, each offering its contents
// under one or more types. The change count moves whenever the contents are cleared, which
// every writer does before writing, so a caller can tell whether anything was copied since it
// last looked. Reading never changes the count.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/subscription.h"
#include "platform/key_synthesis.h"
#include "platform/outcome.h"
#include "platform/pasteboard_save_failure.h"

namespace ravlin::platform {

// One item: type -> bytes.
using PasteboardItem = std::map<std::string, std::vector<std::uint8_t>>;

// How one type's bytes travel between programs, where the desktop says (X11: the property type
// the owner gave them, such as "UTF8_STRING", "ATOM" or "image/png", and the size of their units,
// 8, 16 or 32 bits). Kept so that they go back exactly as they came, never guessed.
struct PasteboardForm {
    std::string propertyType;
    std::uint8_t unitBits = 8;

    friend bool operator==(const PasteboardForm&, const PasteboardForm&) = default;
};

// How the owner of the contents offered them: its list of types in its own order (X11: its
// answer to TARGETS, the selection protocol's own names included) and the form of each type.
// Empty where the desktop gives no more than the items.
struct PasteboardOffer {
    std::vector<std::string> types;
    std::map<std::string, PasteboardForm> forms;

    friend bool operator==(const PasteboardOffer&, const PasteboardOffer&) = default;
};

[[nodiscard]] std::string_view toString(PasteboardSaveFailure failure);

// Everything a borrower saves, as one value.
struct PasteboardContents {
    std::vector<PasteboardItem> items;
    PasteboardOffer offer;
    PasteboardSaveFailure failure = PasteboardSaveFailure::none;

    [[nodiscard]] bool complete() const { return failure == PasteboardSaveFailure::none; }
    friend bool operator==(const PasteboardContents&, const PasteboardContents&) = default;
};

// Who has fetched what this program last wrote to the pasteboard, as far as the desktop tells
// (on X11 a paste takes the text from its writer, so each fetch has a requestor).
enum class WriteFetch {
    none,      // nobody (while the contents were this program's: who took them then is still
               // told once another program has copied)
    byTarget,  // the program asked about took it (its own connection to the desktop)
    byOthers,  // only other programs took it (a clipboard manager takes every new copy)
    unknown,   // taken, by whom the desktop does not tell
};

[[nodiscard]] std::string_view toString(WriteFetch fetch);

// The program a fetch is asked about: its process and, where the desktop names one, the window
// that had the focus when the paste was asked for (X11: its client is the program's connection).
struct FetchTarget {
    std::int32_t pid = 0;
    std::optional<std::uint64_t> window;
};

// Whether a program has looked at what this program last wrote to the pasteboard: asked anything
// of it (what it offers, as a program that watches the pasteboard does on each change, or the
// contents) and had its answer, as the desktop orders events.
struct WriteLook {
    bool looked = false;
    // It looked at an earlier write of this program's before any paste chord went out over it:
    // a program that watches the pasteboard's changes.
    bool watches = false;
};

// What became of a put-back of the user's contents.
enum class PutBack {
    done,       // they are back (or never left)
    newerCopy,  // another program copied since, and its copy stands: nothing was written over it
    failed,     // not known to be back: the desktop did not answer in time
};

[[nodiscard]] std::string_view toString(PutBack putBack);

// The type under which plain text travels (UTF-8).
inline constexpr std::string_view plainTextType = "text/plain;charset=utf-8";

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    [[nodiscard]] virtual std::int64_t changeCount() = 0;
    // Empties the pasteboard; returns the new change count.
    virtual std::int64_t clear() = 0;
    // Puts `text` on the pasteboard as plain text (normally right after clear()).
    virtual Status setString(std::u16string_view text) = 0;
    // The same for a text that is to stay only a moment (a paste's): marked, where the desktop
    // has marks, so that clipboard managers that honour them keep it out of their history. It
    // goes only over the contents last saved (readContents) or this program's own last change:
    // should another program have copied since, as the desktop orders events, nothing is
    // written and it fails with ErrorCode::invalidArgument (their copy stands).
    virtual Status setTransientString(std::u16string_view text) { return setString(text); }
    // The moment's text this program last put there is left for the user to paste by hand: it
    // becomes an ordinary copy, only while it is still there. Whether it is there.
    virtual bool makeTransientOrdinary() { return holdsOwnChange(); }
    // Whether `target` has fetched what this program last wrote (setString, writeContents) while
    // it is still on the pasteboard. On X11 a paste is served by the clipboard's owner while its
    // event loop runs, so a writer that puts something else back before the target has fetched
    // its text makes the target paste that instead. A clipboard manager fetches every new copy
    // at once, so only the target's own fetch tells that a paste took the text. Where the
    // desktop cannot name who fetched: unknown once anyone did.
    [[nodiscard]] virtual WriteFetch lastWriteFetchedBy(const FetchTarget& target) = 0;
    // Whether `target` has looked at what this program last wrote (WriteLook). A program that
    // watches the pasteboard may refuse a paste until it knows what the new contents offer
    // (GNOME Terminal forgets that on each change and asks again), so a paste chord waits for
    // its look. Where the desktop does not tell: looked.
    [[nodiscard]] virtual WriteLook lastWriteLookedAtBy(const FetchTarget& target) {
        (void)target;
        return {.looked = true};
    }
    // A paste chord goes out next: from here on, in the desktop's order of events, only the
    // fetches that come after count for lastWriteFetchedBy (a program that read our text before
    // the chord did not paste it). Nothing where the desktop does not tell who fetched.
    virtual void markFetches() {}
    // How many times anyone has asked for what this program last wrote, each request counted (a
    // clipboard manager's too); observeFetches tells of each. 0 where the desktop does not tell.
    [[nodiscard]] virtual std::uint64_t fetchRequests() { return 0; }
    // What the desktop must still show for a paste chord to go out (KeySynthesis::postKeyPressIf):
    // the text this program last put there for a moment (setTransientString), with no change
    // since, its own (a put-back) or another program's. None once that is not so here.
    [[nodiscard]] virtual std::optional<KeyCondition> ownWriteCondition() { return std::nullopt; }
    // A paste chord went out over what this program last wrote, and the paste waits for its
    // target to fetch it (true), or no longer (false). A put-back of the user's contents made
    // meanwhile from elsewhere (the program ending) first gives the target a short moment to
    // fetch the text, where the desktop tells of fetches: put back before, the target would
    // paste the user's contents.
    virtual void setPasteAwaited(bool awaited) { (void)awaited; }
    // True while what this program last did to the pasteboard (a write or a clear of its own) is
    // still its state: no other program has copied since. Asked of the desktop where it can tell
    // (within a bounded time); false when this program has changed nothing, or cannot tell.
    [[nodiscard]] virtual bool holdsOwnChange() { return false; }
    // Puts `contents` back (no items: leaves the pasteboard empty) in place of this program's own
    // last change, only while that is still the pasteboard's state (holdsOwnChange): a copy
    // another program made since stands.
    virtual PutBack putBackOverOwnChange(const PasteboardContents& contents);
    // Told with the new change count when the contents change.
    virtual Subscription observeChanges(std::function<void(std::int64_t)> onChange) = 0;
    // Told, on the main sequence, after another program fetches what this program last wrote
    // (lastWriteFetchedBy tells who, fetchRequests how often; several requests in a row may be
    // told once); nothing where the desktop does not tell.
    virtual Subscription observeFetches(std::function<void()> onFetch) {
        (void)onFetch;
        return {};
    }
    // Told, on the main sequence, of what went wrong out of sight of any flow (another program's
    // transfer refused or cut, the user's contents that could not be handed on): one
    // "key=value" line without any contents. Nothing where nothing can go wrong so.
    virtual Subscription observeTrouble(std::function<void(const std::string&)> onTrouble) {
        return {};
    }

    // --- Borrowing without holding up the program: no call waits on another program
    // Saves everything on the pasteboard: `done` gets it once, on the main sequence (possibly
    // before this returns), within a bounded time whatever the owner does; contents that could
    // not be taken whole come with their failure and no items.
    virtual void readContents(std::function<void(PasteboardContents)> done) = 0;
    // Puts saved contents back as they were saved: the same types in the owner's order, each
    // with its bytes and its form (normally right after clear()).
    virtual Status writeContents(const PasteboardContents& contents) = 0;
    // The plain text on the pasteboard, if any: `done` gets it once, on the main sequence
    // (possibly before this returns), within a bounded time.
    virtual void readString(std::function<void(std::optional<std::u16string>)> done) = 0;
    // The program is ending: contents it still serves on the pasteboard (on X11 they live in its
    // process) are handed to someone who outlives it, so the user keeps them. Returns when that
    // is done or has failed, within a bounded time. Nothing to do where the desktop keeps them.
    virtual void keepContentsAfterExit() {}
    // The text this program last put there stays for the person to paste for `duration`; then
    // `userContents` (the person's own, saved before; no items: an empty pasteboard) come back in
    // its place, unless something else was copied meanwhile. Where the desktop can see to that
    // beyond this program's life, it does so should the program end (quit, crash) first, and
    // this says true: the caller need not put the contents back before exit. False where it
    // cannot (the caller restores them itself, at the latest before exit).
    virtual bool leaveForUser(const PasteboardContents& userContents,
                              std::chrono::milliseconds duration) {
        (void)userContents;
        (void)duration;
        return false;
    }

    // The desktop's other text selection, as a pasteboard of its own (X11's PRIMARY: the text
    // last selected, which some programs paste with Shift+Insert); none where there is none. The
    // same one on every call; it goes with this pasteboard.
    [[nodiscard]] virtual std::shared_ptr<Pasteboard> primarySelection() { return nullptr; }
};

}  // namespace ravlin::platform
