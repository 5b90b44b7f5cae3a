#pragma once

// The X11 selections (CLIPBOARD, PRIMARY, ...) read and served byte for byte, over an xcb
// connection of our own, as ICCCM describes: a read asks the owner for TARGETS, then for each
// target that carries contents, taking large answers in INCR steps; while we own a selection we
// answer TARGETS with exactly the saved list, each target with exactly its saved bytes and
// property type, TIMESTAMP with the time our ownership began, MULTIPLE target by target, and
// large answers in INCR steps. Which selection is a parameter of every call.
//
// The connection has a thread of its own that does all its X traffic. Reads never hold up the
// caller: their answer comes through a callback on that thread, within the read's time limit
// whatever the owner does. Our own answers do not wait for the caller either, so another
// program's paste is served even while the caller's thread is busy, and a toolkit in this
// process that reads the selection the blocking way (Qt does) gets its answer too. Taking and
// clearing a selection wait only for the X server's round trips (bounded).
//
// Changes of the owner made by other clients are told through a callback on the thread; the
// changes we make ourselves are not.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/clipboard/client_identity.h"
#include "platform/linux/clipboard/selection_data.h"
#include "platform/pasteboard_save_failure.h"

namespace ravlin::platform::x11 {

class Selections {
  public:
    // A connection to the display named by DISPLAY, with its thread; none when there is none.
    [[nodiscard]] static std::shared_ptr<Selections> open();
    // Ends the thread and the connection: what we own is given up (the selections go to
    // nobody), INCR answers in progress end.
    ~Selections();
    Selections(const Selections&) = delete;
    Selections& operator=(const Selections&) = delete;

    // A change of a selection we know of: our own, or another client's as told
    // (onForeignChange). Numbered in the order we learnt of them, from 1 (0: none known).
    struct KnownChange {
        std::uint64_t number = 0;
        std::uint32_t time = 0;  // the server time of the change
    };

    struct Read {
        SelectionData data;
        PasteboardSaveFailure failure = PasteboardSaveFailure::none;
        std::uint32_t owner = 0;  // the window that owned the selection when read (0: nobody)
        // The change that made what was read: the selection's last when the read began, and
        // still its last when the read ended (one that changes hands in the middle is read again
        // from the start, once). Its time is the owner's word (TIMESTAMP) where we heard of no
        // change since we began; 0 where nobody says.
        KnownChange change;
    };
    // Reads everything `selection` holds: `done` runs once, on the connection's thread, at most
    // `limits.total` later. The server says who owns the selection: nobody, and it is read as
    // empty; we, and it answers from what we serve. A target the owner lists and refuses is kept
    // as refused (SelectionData::refuses). Nothing is kept of a read that fails.
    void read(std::string selection, SelectionLimits limits, std::function<void(Read)> done);
    // Reads only the plain text (the first text target the owner offers); none when there is
    // none or the read fails.
    void readText(std::string selection, SelectionLimits limits,
                  std::function<void(std::optional<std::u16string>)> done);
    // The same as a read: its data holds that one target, or none when the owner offers no
    // text; a failure when the owner offers text and does not give it.
    void readTextOnly(std::string selection, SelectionLimits limits,
                      std::function<void(Read)> done);

    // Takes `selection` at the server's time now and serves `data` until another client takes
    // it; the server time it was taken at, or none when it could not be.
    std::optional<std::uint32_t> own(const std::string& selection,
                                     std::shared_ptr<const SelectionData> data);
    // Takes `selection` over the contents `basis` made (a read's change, or our own) and serves
    // `data`: only while that change is still the selection's last, as the server orders
    // events. Taken as of the time of `basis` where it is known, so that the server itself
    // refuses the take should another client take the selection after the look; the server
    // time it was taken at.
    enum class Take { taken, changed, failed };
    struct Taken {
        Take outcome = Take::failed;
        std::uint32_t time = 0;
    };
    Taken takeOver(const std::string& selection, std::shared_ptr<const SelectionData> data,
                   KnownChange basis);
    // Takes `selection` as of `time`: only while nobody has taken it since then (the server
    // ignores an ownership older than the selection's last change), so a keeper carrying on
    // another program's ownership never pushes aside a newer one.
    bool ownAsOf(const std::string& selection, std::shared_ptr<const SelectionData> data,
                 std::uint32_t time);
    [[nodiscard]] KnownChange lastChange(const std::string& selection) const;
    // The last change of `selection` made through this connection (none: {}).
    [[nodiscard]] KnownChange lastOwnChange(const std::string& selection) const;
    // Gives `selection` to nobody (its contents are gone), undoing `change` whoever made it,
    // only while it is still the selection's last change: a change made after it stays,
    // whether we heard of it already or not (the server ignores a change older than the
    // selection's last). False when the selection was not cleared.
    bool clear(const std::string& selection, KnownChange change);
    // What the server said, or that it did not say in time (another client holds a server grab,
    // the display is gone).
    enum class Verdict { yes, no, unknown };
    // Whether `change` is still the selection's last change, asked of the server: the news of
    // every change it made before its answer is in.
    Verdict isLastChange(const std::string& selection, KnownChange change);
    // Serves `data` for `selection` in place of `change` (a change of ours), only while that is
    // still the selection's last change; none gives the selection to nobody. Yes: done; no: a
    // newer change stands; unknown: not known to be done.
    Verdict replace(const std::string& selection, KnownChange change,
                    std::shared_ptr<const SelectionData> data);

    // What we serve for `selection` now; none when we do not own it. Our own view: another
    // client may have taken it a moment ago without our knowing yet (a read asks the server).
    [[nodiscard]] std::shared_ptr<const SelectionData> owned(const std::string& selection) const;
    // When our ownership of `selection` began (0 when we do not own it).
    [[nodiscard]] std::uint32_t ownedSince(const std::string& selection) const;
    // Whether another client has asked for any of the contents of our last ownership of
    // `selection` (a target other than TARGETS and TIMESTAMP), while we owned it; told also once
    // we have lost it.
    [[nodiscard]] bool fetched(const std::string& selection) const;
    // The clients that asked for those contents (each once, at most 16), as the server told
    // them when they asked.
    [[nodiscard]] std::vector<ClientIdentity> requestors(const std::string& selection) const;
    // Who asked for the contents of our last ownership of `selection`: the clients (each once, at
    // most 16) that asked since the mark, or in all where there is none, and how many requests
    // for contents anyone made (TARGETS and TIMESTAMP are no such request).
    // The clients that asked anything of that ownership (what it offers included) and whose
    // answer the server has sent (each once, at most 16): `lookers`; and the clients that did so
    // before a paste chord's mark for one of our earlier ownerships (at most 16, the latest):
    // `watchers`, programs that look at each change of the selection.
    struct Fetches {
        std::vector<ClientIdentity> requestors;
        bool marked = false;
        std::uint64_t requests = 0;
        std::vector<ClientIdentity> lookers;
        std::vector<ClientIdentity> watchers;
    };
    [[nodiscard]] Fetches fetches(const std::string& selection) const;
    // From now on, in the server's order of events, only the clients that ask after this count
    // as the requestors of our present ownership of `selection` (a paste chord goes out next:
    // what was asked before it was no paste's). False when we do not own it.
    bool markFetches(const std::string& selection);
    // The resource base of the client that created `window` (ClientIdentities::baseOf).
    [[nodiscard]] std::uint32_t clientBaseOf(std::uint32_t window) const;

    // How many times we have taken or cleared `selection` through this connection.
    [[nodiscard]] std::uint64_t ownChanges(const std::string& selection) const;
    // Another client took `selection`, or its owner went away: (selection, ownChanges as the
    // change found them: a caller that has changed the selection since knows the news is stale).
    // Runs on the connection's thread; set before use, cleared with nullptr.
    void onForeignChange(std::function<void(const std::string&, std::uint64_t)> callback);

    // Each client that fetches contents we serve, once per ownership: (selection, the client,
    // whether it is the client of the active window, where a paste goes). Runs on the
    // connection's thread; cleared with nullptr.
    void onFetch(std::function<void(const std::string&, const ClientIdentity&, bool)> callback);
    // Each request for contents we serve (selection), whoever makes it. Runs on the
    // connection's thread; cleared with nullptr.
    void onRequest(std::function<void(const std::string&)> callback);
    // The client of `window` (its base, and its process where the server tells).
    [[nodiscard]] ClientIdentity clientOf(std::uint32_t window);

    // Our window: the owner of what we serve.
    [[nodiscard]] std::uint32_t window() const;
    // Every change of the owner of CLIPBOARD or PRIMARY, ours included, as the server tells it:
    // the owner before and after (a window that went away, or its client, leaves nobody).
    struct OwnerChange {
        std::string selection;
        std::uint32_t previous = 0;
        std::uint32_t owner = 0;
        bool ownerGone = false;
        std::uint32_t time = 0;  // of the change that made the owner
    };
    // Runs on the connection's thread; cleared with nullptr.
    void onOwnerChange(std::function<void(const OwnerChange&)> callback);
    // A window that takes selections on our behalf (our keeper's): its taking one is a change of
    // ours, never news of another client's. 0: none.
    void setDeputy(std::uint32_t window);
    // After our deputy took `selection`: that change, as ours, once the server's news of it is
    // in; none unless the deputy owns the selection.
    std::optional<KnownChange> deputyChange(const std::string& selection);
    // Should `window` own `selection` and then go away (a program ended in the middle of a
    // borrow), `selection` is taken at once with `data`, as of the time of that ownership: never
    // over a change made since. Data none: no longer.
    void standBy(const std::string& selection, std::shared_ptr<const SelectionData> data,
                 std::uint32_t window);
    // Answers of ours still going out in INCR steps.
    [[nodiscard]] std::size_t transfersInProgress();

    // Offers what we own of `selection` to the running clipboard manager (CLIPBOARD_MANAGER,
    // SAVE_TARGETS) and serves its reads; true once it reported them saved, false when there is
    // no manager, it refused, or `limit` passed.
    bool saveToManager(const std::string& selection, std::chrono::milliseconds limit);

    // What went wrong out of sight of any caller (another client's transfer refused or cut, the
    // rest of an answer we refused given up, the display gone), as one "key=value" line without
    // any contents. Runs on the connection's thread; cleared with nullptr.
    void onTrouble(std::function<void(const std::string&)> callback);

    // False once the connection to the display is broken.
    [[nodiscard]] bool connected() const;

  private:
    // The connection with its pump, and what runs on it: selection_connection.h,
    // selection_reader.h, selection_owner.h, incr_transfers.h.
    struct Workings;
    explicit Selections(std::unique_ptr<Workings> workings);
    void submit(std::string selection, SelectionLimits limits, bool textOnly,
                std::function<void(Read)> done);
    std::unique_ptr<Workings> workings_;
};

}  // namespace ravlin::platform::x11
