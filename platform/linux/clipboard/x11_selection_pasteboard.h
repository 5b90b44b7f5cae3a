#pragma once

// The pasteboard as the X11 CLIPBOARD selection, read and served byte for byte by our own
// selection layer (x11_selections.h), one item whose types are the owner's targets. This is what
// the program borrows the user's clipboard through: nothing is converted on the way, the owner's
// list of targets and the property type of each come back as they were, and no read holds up the
// program (the asynchronous reads answer on the main thread within the read's time limit).
//
// The change count is our own: it moves once for each write or clear of ours and once for each
// change another client makes (a copy, the owner going away), never for our own selection
// events. A clear gives away the clipboard as the last change we know of left it, never a copy
// made after that. When the program ends while it serves the clipboard, keepContentsAfterExit hands the
// contents to the clipboard manager, or else to a keeper process (clipboard_keeper.h).
//
// Main thread only (the layer's thread posts its answers here through Qt's event loop).

#include <QObject>
#include <QSocketNotifier>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/linux/clipboard/x11_selections.h"
#include "platform/pasteboard.h"

namespace ravlin::platform {

class KeeperLink;

class X11SelectionPasteboard final : public QObject, public Pasteboard {
  public:
    // How long the program's end may take to hand on what it still serves, both selections
    // together: to the keeper, else to the clipboard manager; its answers in progress end
    // within it too.
    static constexpr auto exitWait = std::chrono::milliseconds(1000);
    // How long a put-back from elsewhere waits for a paste's target to fetch our text: at most,
    // and once it has, the quiet after its last request.
    static constexpr auto awaitedPasteLimit = std::chrono::milliseconds(400);
    static constexpr auto awaitedPasteQuiet = std::chrono::milliseconds(100);

    explicit X11SelectionPasteboard(std::shared_ptr<x11::Selections> selections,
                                    std::string selection = "CLIPBOARD");
    ~X11SelectionPasteboard() override;

    std::int64_t changeCount() override { return changeCount_; }
    std::int64_t clear() override;
    Status setString(std::u16string_view text) override;
    Status setTransientString(std::u16string_view text) override;
    bool makeTransientOrdinary() override;
    bool holdsOwnChange() override;
    PutBack putBackOverOwnChange(const PasteboardContents& contents) override;
    // By the target's own X client (the one that made its window, or another connection of its
    // process); a clipboard manager's fetch is another client's.
    WriteFetch lastWriteFetchedBy(const FetchTarget& target) override;
    WriteLook lastWriteLookedAtBy(const FetchTarget& target) override;
    void markFetches() override;
    std::uint64_t fetchRequests() override;
    // This selection owned by our selection window, while our moment's text is our last change.
    std::optional<KeyCondition> ownWriteCondition() override;
    void setPasteAwaited(bool awaited) override { pasteAwaited_ = awaited; }
    Subscription observeChanges(std::function<void(std::int64_t)> onChange) override;
    Subscription observeTrouble(std::function<void(const std::string&)> onTrouble) override;
    Subscription observeFetches(std::function<void()> onFetch) override;

    void readContents(std::function<void(PasteboardContents)> done) override;
    Status writeContents(const PasteboardContents& contents) override;
    void readString(std::function<void(std::optional<std::u16string>)> done) override;
    // Hands on PRIMARY's too, when this is the clipboard and the program served that as well.
    void keepContentsAfterExit() override;
    // The keeper serves a text left for the person for the rest of its time should the program
    // end first, then the user's contents.
    bool leaveForUser(const PasteboardContents& userContents,
                      std::chrono::milliseconds duration) override;
    // The clipboard's sibling over PRIMARY, on the same connection (made on first use).
    std::shared_ptr<Pasteboard> primarySelection() override;

    // The keeper's executable (clipboard_keeper.h); the one beside this program's unless set;
    // an empty one: no keeper, the contents are served here.
    void setKeeperProgram(std::string program);
    [[nodiscard]] const std::shared_ptr<x11::Selections>& selections() const { return selections_; }

    // Between the owner's answer and our contents: one item of the owner's targets, its list and
    // forms kept; and back.
    [[nodiscard]] static PasteboardContents contentsOf(const x11::SelectionData& data,
                                                       PasteboardSaveFailure failure);
    [[nodiscard]] static x11::SelectionData dataOf(const PasteboardContents& contents);

  private:
    // Whether a client is `target`'s (its window's client, or another connection of its process).
    [[nodiscard]] std::function<bool(const x11::ClientIdentity&)> isClient(
        const FetchTarget& target) const;
    // A sibling on the same connection: the clipboard's instance tells it of its changes.
    struct Sibling {};
    X11SelectionPasteboard(std::shared_ptr<x11::Selections> selections, std::string selection,
                           Sibling);

    Status own(std::shared_ptr<const x11::SelectionData> data);
    // Takes the selection for our own text only over the contents last saved or our own last
    // change (`basis_`): invalidArgument when another client has copied since.
    Status takeOver(std::shared_ptr<const x11::SelectionData> data);
    // After a change of ours succeeded: it is what we know of our own, and what a take goes over.
    void ownChanged();
    // Our own change is no longer the selection's: another client's copy stands.
    void ownChangeOver();
    // --- The keeper (x11_selection_keeping.cpp)
    // The link to the keeper, shared with the sibling; none when there is to be no keeper.
    std::shared_ptr<KeeperLink> keeper();
    // Hands the user's contents last read to the keeper in reserve, before our own text goes
    // over them.
    void reserveLastRead();
    // The borrow is over (put back, or another client's copy stands): the contents held for it
    // are let go of.
    void endBorrow();
    // The keeper ended: one in the middle of a borrow is replaced and given the reserve again.
    void keeperEnded();
    void watchKeeper();
    // Hands `reserve_` to the running keeper (starting one); whether it holds it.
    bool holdReserve(std::chrono::steady_clock::time_point until);
    // Has the keeper serve `data` in place of our own last change (`asOf` its time), or now;
    // none when no keeper could do it (the caller serves it), else whether it was taken.
    std::optional<bool> handToKeeper(std::shared_ptr<const x11::SelectionData> data,
                                     std::uint32_t asOf,
                                     std::chrono::steady_clock::time_point until);
    // Whether the keeper still holds `data`, handed to it since the last copy of another client.
    bool keeperHolds(const x11::SelectionData& data);
    void keepAfterExit(std::chrono::steady_clock::time_point until);
    // A change of ours replaces the text left for the person: the keeper is told it is over.
    void endLeft();
    // A put-back while a paste awaits its target's fetch: until someone has asked for our text
    // since the chord and nobody more for awaitedPasteQuiet, at most awaitedPasteLimit.
    void letTheAwaitedPasteFetch();
    bool pasteAwaited_ = false;
    // Runs a clear still waiting for the next turn of the loop now.
    void settlePendingClear();
    void bump();
    void onForeignChange(std::uint64_t ourChanges);

    std::shared_ptr<x11::Selections> selections_;
    std::string selection_;
    std::string keeperProgram_;
    std::shared_ptr<KeeperLink> keeper_;
    // The user's contents as the last full read found them, for the keeper's reserve: the
    // selection's last change known then, and the window that served them.
    struct LastRead {
        std::shared_ptr<const x11::SelectionData> data;
        std::uint64_t change = 0;
        std::uint32_t owner = 0;
    };
    std::optional<LastRead> lastRead_;
    // What a take of ours may go over: the change that made the contents last saved, or our
    // own last change, whichever came last.
    x11::Selections::KnownChange basis_;
    // The user's contents the keeper holds in reserve for the borrow in progress (none when
    // there is none): given again to a keeper that replaces one that ended meanwhile.
    std::shared_ptr<const x11::SelectionData> reserve_;
    // The fingerprint of the moment's text now on the selection (0: none), and the clients that
    // fetched it from aside.
    std::uint64_t momentFingerprint_ = 0;
    std::vector<x11::ClientIdentity> momentFetchers_;
    void fetchedFromAside(const x11::ClientIdentity& client, bool inFront);
    // What the keeper was last handed for this selection, the keeper it was handed to, and the
    // count of other clients' changes then (another's copy since makes the keeper let go of it).
    std::shared_ptr<const x11::SelectionData> keeperHeld_;
    std::uint64_t keeperHeldBy_ = 0;
    std::uint64_t foreignChangesAtHold_ = 0;
    // Told when the keeper's end of the link closes (the clipboard's instance only).
    std::unique_ptr<QSocketNotifier> keeperWatch_;
    std::uint64_t keeperWatched_ = 0;
    // The text left for the person (leaveForUser) with the keeper, while it is our last write,
    // and the user's contents that come back after it (none: an empty clipboard).
    std::shared_ptr<const x11::SelectionData> leftWithKeeper_;
    std::shared_ptr<const x11::SelectionData> userAfterLeft_;
    std::chrono::steady_clock::time_point leftUntil_;
    [[nodiscard]] std::uint64_t foreignChanges() const;
    std::int64_t changeCount_ = 0;
    // Our writes and clears so far (the layer's count): news of another client's change found
    // before the last of them is stale.
    std::uint64_t ownChanges_ = 0;
    std::shared_ptr<const x11::SelectionData> lastWrite_;
    // The text of our last write when it was a moment's (marked), else none.
    std::optional<std::u16string> transientText_;
    // Our last change of the selection (a write or a clear) as the layer knows it; none when we
    // have made none, or the last one failed.
    x11::Selections::KnownChange ownChange_;
    bool clearPending_ = false;
    // The change of the clipboard the pending clear undoes: the last we knew of when asked.
    x11::Selections::KnownChange clearAsOf_;
    CallbackList<std::int64_t> observers_;
    CallbackList<std::string> troubleObservers_;
    CallbackList<> fetchObservers_;
    // A telling of requests on its way to the main thread (requests in a row are told once).
    std::shared_ptr<std::atomic<bool>> requestTold_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> primaryRequestTold_ =
        std::make_shared<std::atomic<bool>>(false);
    // Tells the trouble observers, on the main thread.
    void tellTrouble(std::string line);
    // The connection tells one listener of changes: the clipboard's instance, which passes
    // PRIMARY's on to this.
    bool listens_ = true;
    std::shared_ptr<X11SelectionPasteboard> primary_;
    // Answers from the layer's thread reach the main thread only while this is alive.
    std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
};

}  // namespace ravlin::platform
