#pragma once

// Owning selections, as ICCCM's owner: SetSelectionOwner at a server time we know (never
// CurrentTime), answering each SelectionRequest (TARGETS with exactly the saved list, TIMESTAMP
// with the time our ownership began, MULTIPLE target by target, every other target with exactly
// its saved bytes and property type) and telling the requestor with a SelectionNotify; giving a
// selection to nobody; learning of SelectionClear and, through XFIXES, of every change another
// client makes. Runs on the pump's thread; what callers may read of it (what we serve, the
// changes known) is under its own lock.

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/linux/clipboard/client_identity.h"
#include "platform/linux/clipboard/incr_transfers.h"
#include "platform/linux/clipboard/selection_connection.h"
#include "platform/linux/clipboard/x11_selections.h"

namespace ravlin::platform::x11 {

class SelectionOwner {
  public:
    using KnownChange = Selections::KnownChange;

    SelectionOwner(SelectionConnection& connection, IncrTransfers& transfers);

    // --- On the pump's thread
    // Asks XFIXES to tell every change of `selection`.
    void watch(xcb_atom_t selection);
    // Takes `selection` as of `time` (the server ignores it when the selection changed after
    // `time`) and serves `data`; whether the server made us the owner.
    bool ownAt(xcb_atom_t selection, std::shared_ptr<const SelectionData> data, std::uint32_t time);
    // Gives `selection` to nobody, undoing `change` only while it is the selection's last.
    bool clear(xcb_atom_t selection, KnownChange change);
    // Whether `change` is still the selection's last change (a round trip: the news of every
    // change the server made before it is in).
    bool isLastChange(xcb_atom_t selection, KnownChange change);
    // Selections::takeOver.
    Selections::Taken takeOver(xcb_atom_t selection, std::shared_ptr<const SelectionData> data,
                               KnownChange basis);
    // Serves `data` (none: nobody) in place of `change`, only while that is the last change.
    bool replace(xcb_atom_t selection, KnownChange change,
                 std::shared_ptr<const SelectionData> data);
    // Offers what we own of `selection` to the clipboard manager and serves its reads.
    bool saveToManager(xcb_atom_t selection, std::chrono::milliseconds limit);
    // What we serve for `selection` (none when we do not own it).
    [[nodiscard]] std::shared_ptr<const SelectionData> served(xcb_atom_t selection) const;

    // Someone who takes selections on our behalf (Selections::setDeputy), until its window is
    // destroyed: the server may give that window's number to another client afterwards.
    void setDeputy(xcb_window_t window);
    // A window we asked to hear of being destroyed is gone.
    void onDestroyed(xcb_window_t window);
    // The deputy's change of `selection` as ours, once its news is in (a round trip).
    std::optional<KnownChange> deputyChange(xcb_atom_t selection);
    // Told of every change of a watched selection's owner.
    std::function<void(const Selections::OwnerChange&)> onOwnerChanged;
    // Told of each client that fetches contents of ours (Selections::onFetch).
    std::function<void(const std::string&, const ClientIdentity&, bool)> onFetch;
    // Told of every request for contents of ours (Selections::onRequest).
    std::function<void(const std::string&)> onRequest;
    // Selections.standBy: taken at once, in the handling of the news, should `window` go away
    // while it owns `selection`.
    void standBy(xcb_atom_t selection, std::shared_ptr<const SelectionData> data,
                 xcb_window_t window);

    // Events.
    void onSelectionRequest(const xcb_selection_request_event_t& event);
    void onSelectionClear(const xcb_selection_clear_event_t& event, std::uint32_t sequence);
    void onOwnerChange(const xcb_xfixes_selection_notify_event_t& event, std::uint32_t sequence);
    // The clipboard manager's answer to SAVE_TARGETS.
    void onManagerAnswer(const xcb_selection_notify_event_t& event);

    // --- Any thread
    [[nodiscard]] KnownChange lastChange(const std::string& selection) const;
    [[nodiscard]] KnownChange lastOwnChange(const std::string& selection) const;
    [[nodiscard]] std::shared_ptr<const SelectionData> owned(const std::string& selection) const;
    [[nodiscard]] std::uint32_t ownedSince(const std::string& selection) const;
    [[nodiscard]] bool fetched(const std::string& selection) const;
    [[nodiscard]] std::vector<ClientIdentity> requestors(const std::string& selection) const;
    [[nodiscard]] Selections::Fetches fetches(const std::string& selection) const;
    // On the pump's thread: Selections::markFetches (a round trip first, so that every request
    // the server sent before it is counted as before the mark).
    bool markFetches(xcb_atom_t selection);
    [[nodiscard]] std::uint32_t clientBaseOf(std::uint32_t window) const {
        return identities_.baseOf(window);
    }
    // On the pump's thread (a round trip).
    [[nodiscard]] ClientIdentity clientOf(xcb_window_t window) const {
        return identities_.of(window);
    }
    [[nodiscard]] std::uint64_t ownChanges(const std::string& selection) const;
    void onForeignChange(std::function<void(const std::string&, std::uint64_t)> callback);

    // What went wrong (Selections::onTrouble), on the pump's thread.
    std::function<void(std::string)> onTrouble;

  private:
    struct Ownership {
        std::shared_ptr<const SelectionData> data;
        std::uint32_t time = 0;
        std::uint32_t request = 0;  // the sequence number of our SetSelectionOwner
        // The server's time when it made us the owner, by the first of our takes in a row (its
        // news tells it): later than `time` where we took the selection as of the contents we
        // replaced. And that take's sequence number.
        std::optional<std::uint32_t> madeAt;
        std::uint32_t firstRequest = 0;
        xcb_atom_t targetsType = XCB_ATOM_ATOM;
        std::vector<xcb_atom_t> targets;
        std::vector<xcb_atom_t> types;  // of data->values, by index
        std::unordered_map<xcb_atom_t, std::size_t> values;
    };
    // What serving `data` takes: its names as atoms (round trips, done before the taking).
    Ownership prepare(std::shared_ptr<const SelectionData> data);
    bool take(xcb_atom_t selection, Ownership owning, std::uint32_t time);
    bool serveOne(Ownership& owned, const std::string& selectionName, xcb_window_t requestor,
                  xcb_atom_t target, xcb_atom_t property);
    bool serveMultiple(Ownership& owned, const std::string& selectionName, xcb_window_t requestor,
                       xcb_atom_t property);
    void changedByUs(xcb_atom_t selection, std::uint32_t request, bool cleared,
                     std::uint32_t time);
    // Whether the last change of `selection` we know of, once the news of every change before a
    // round trip is in, is the `number`th.
    bool lastChangeIs(xcb_atom_t selection, std::uint64_t number);
    // The owner of `selection` as the server says now, with the news of every change it made
    // before handled (not to be called while an event is being handled).
    Reply<xcb_get_selection_owner_reply_t> ownerAfterNews(xcb_atom_t selection);
    // Counts a change of the selection we now know of (under mutex_).
    void learnt(const std::string& selectionName, std::uint32_t time);
    void foreignChange(xcb_atom_t selection, std::uint32_t time);
    void forget(xcb_atom_t selection);
    // A client asked for contents we own of the selection: kept once per client.
    void noteRequestor(const std::string& selectionName, xcb_window_t requestor);
    // A client was answered (the answer just sent): kept once per client, once the server has
    // sent it on.
    void noteLooker(const std::string& selectionName, xcb_window_t requestor);

    SelectionConnection& connection_;
    xcb_connection_t* c_;
    IncrTransfers& transfers_;
    ClientIdentities identities_;

    std::map<xcb_atom_t, Ownership> owned_;
    // Our last SetSelectionOwner of each selection: its request's sequence number, and whether
    // it gave the selection to nobody.
    struct OwnChange {
        std::uint32_t request = 0;
        bool cleared = false;
    };
    std::map<xcb_atom_t, OwnChange> ourLastChange_;
    std::unordered_set<xcb_atom_t> watched_;
    // The owner of each watched selection, as the server's news tells it.
    std::map<xcb_atom_t, xcb_window_t> currentOwner_;
    xcb_window_t deputy_ = XCB_NONE;
    struct StandBy {
        Ownership owning;
        xcb_window_t window = XCB_NONE;
    };
    std::map<xcb_atom_t, StandBy> standBy_;
    std::optional<bool> managerAnswer_;
    // Changes of other clients the server made between our look and a take of ours, which the
    // take then replaced (counted for takeOver).
    std::map<xcb_atom_t, std::uint64_t> replacedUnseen_;
    // The request of the look that ended our last take (for the news before its answer).
    std::uint32_t lastLook_ = 0;

    // --- Shared with callers (under mutex_)
    mutable std::mutex mutex_;
    struct Mirror {
        std::shared_ptr<const SelectionData> data;
        std::uint32_t time = 0;
    };
    std::map<std::string, Mirror> mirrors_;
    // Who fetched contents of our last ownership of each selection (at most maxRequestors
    // clients; one that asks for many targets counts once), kept once we have lost it: a paste
    // fetches while we own the selection, whatever comes after.
    struct Fetches {
        bool any = false;
        std::vector<ClientIdentity> requestors;
        // The windows that asked and their clients (at most maxRequestorWindows).
        std::vector<std::pair<xcb_window_t, ClientIdentity>> windows;
        // Since the mark (Selections::markFetches): the clients that asked (at most
        // maxRequestors), and requests for contents by anyone during the ownership.
        bool marked = false;
        std::vector<ClientIdentity> sinceMark;
        std::uint64_t requests = 0;
        // The clients that asked anything and have been answered (at most maxRequestors), and
        // the windows they asked from (at most maxRequestorWindows).
        std::vector<ClientIdentity> lookers;
        std::vector<std::pair<xcb_window_t, ClientIdentity>> lookWindows;
    };
    static constexpr std::size_t maxRequestors = 16;
    static constexpr std::size_t maxRequestorWindows = 64;
    std::map<std::string, Fetches> fetches_;
    // The clients that looked at an ownership of ours before a paste chord's mark (the latest
    // maxRequestors), by selection: they watch its changes.
    std::map<std::string, std::vector<ClientIdentity>> watchers_;
    // How many times we have taken or cleared each selection.
    std::map<std::string, std::uint64_t> ownChanges_;
    // The latest change of each selection we know of (ours or told).
    std::map<std::string, KnownChange> lastChange_;
    // The latest change of each selection we made ourselves.
    std::map<std::string, KnownChange> lastOwnChange_;
    std::function<void(const std::string&, std::uint64_t)> onForeign_;
};

}  // namespace ravlin::platform::x11
