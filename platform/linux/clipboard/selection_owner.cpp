#include "platform/linux/clipboard/selection_owner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ravlin::platform::x11 {
namespace {

// A MULTIPLE request names at most this many targets.
constexpr std::size_t maxMultiplePairs = 256;

}  // namespace

SelectionOwner::SelectionOwner(SelectionConnection& connection, IncrTransfers& transfers)
    : connection_(connection),
      c_(connection.xcb()),
      transfers_(transfers),
      identities_(connection.xcb()) {}

void SelectionOwner::watch(xcb_atom_t selection) {
    if (!connection_.xfixes() || selection == XCB_NONE || !watched_.insert(selection).second) {
        return;
    }
    xcb_xfixes_select_selection_input(c_, connection_.window(), selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // The owner now; the news of every change from here on follows (news of changes before this
    // answer, handled after it, ends in the same owner).
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection), nullptr));
    currentOwner_[selection] = owner ? owner->owner : XCB_NONE;
}

void SelectionOwner::standBy(xcb_atom_t selection, std::shared_ptr<const SelectionData> data,
                             xcb_window_t window) {
    if (data && window != XCB_NONE) {
        standBy_[selection] = StandBy{prepare(std::move(data)), window};
    } else {
        standBy_.erase(selection);
    }
}

Reply<xcb_get_selection_owner_reply_t> SelectionOwner::ownerAfterNews(xcb_atom_t selection) {
    const auto cookie = xcb_get_selection_owner(c_, selection);
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, cookie, nullptr));
    connection_.drainQueued(cookie.sequence);
    return owner;
}

void SelectionOwner::setDeputy(xcb_window_t window) {
    deputy_ = XCB_NONE;
    if (window == XCB_NONE) {
        return;
    }
    // Its destruction is told to us; a window already gone is no deputy.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (xcb_generic_error_t* error = xcb_request_check(
            c_, xcb_change_window_attributes_checked(c_, window, XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        return;
    }
    deputy_ = window;
}

void SelectionOwner::onDestroyed(xcb_window_t window) {
    if (window != XCB_NONE && window == deputy_) {
        deputy_ = XCB_NONE;
    }
}

std::optional<Selections::KnownChange> SelectionOwner::deputyChange(xcb_atom_t selection) {
    const auto owner = ownerAfterNews(selection);
    if (!owner || deputy_ == XCB_NONE || owner->owner != deputy_) {
        return std::nullopt;
    }
    return lastOwnChange(connection_.name(selection).value_or(std::string()));
}

// --- Taking and giving away

SelectionOwner::Ownership SelectionOwner::prepare(std::shared_ptr<const SelectionData> data) {
    Ownership owning;
    owning.targets = connection_.atoms(data->targets);
    owning.targetsType = connection_.atom(data->targetsType);
    std::vector<std::string> valueTargets;
    std::vector<std::string> valueTypes;
    for (const auto& value : data->values) {
        valueTargets.push_back(value.target);
        valueTypes.push_back(value.type);
    }
    const auto targets = connection_.atoms(valueTargets);
    owning.types = connection_.atoms(valueTypes);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i] != XCB_NONE) {
            owning.values.try_emplace(targets[i], i);
        }
    }
    owning.data = std::move(data);
    return owning;
}

bool SelectionOwner::ownAt(xcb_atom_t selection, std::shared_ptr<const SelectionData> data,
                           std::uint32_t time) {
    return take(selection, prepare(std::move(data)), time);
}

bool SelectionOwner::take(xcb_atom_t selection, Ownership owning, std::uint32_t time) {
    owning.time = time;
    owning.request = xcb_set_selection_owner(c_, connection_.window(), selection, time).sequence;
    const auto look = xcb_get_selection_owner(c_, selection);
    lastLook_ = look.sequence;
    Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(c_, look, nullptr));
    if (!owner || owner->owner != connection_.window()) {
        forget(selection);
        return false;
    }
    changedByUs(selection, owning.request, false, time);
    // Taken again while ours: still the owner since the first take.
    if (const auto before = owned_.find(selection); before != owned_.end()) {
        owning.madeAt = before->second.madeAt;
        owning.firstRequest = before->second.firstRequest;
    } else {
        owning.firstRequest = owning.request;
    }
    {
        std::lock_guard lock(mutex_);
        const auto selectionName = connection_.name(selection).value_or(std::string());
        mirrors_[selectionName] = Mirror{owning.data, time};
        fetches_[selectionName] = {};
    }
    owned_[selection] = std::move(owning);
    return true;
}

bool SelectionOwner::isLastChange(xcb_atom_t selection, KnownChange change) {
    const auto selectionName = connection_.name(selection).value_or(std::string());
    // The news of every change the server made before this round trip is in by its answer: a
    // change after the caller's is newer than it, even in its millisecond.
    const auto before = ownerAfterNews(selection);
    std::lock_guard lock(mutex_);
    const auto known = lastChange_.find(selectionName);
    return before && change.time != XCB_CURRENT_TIME && known != lastChange_.end() &&
           known->second.number == change.number;
}

bool SelectionOwner::lastChangeIs(xcb_atom_t selection, std::uint64_t number) {
    const auto before = ownerAfterNews(selection);
    return before && lastChange(connection_.name(selection).value_or(std::string())).number == number;
}

Selections::Taken SelectionOwner::takeOver(xcb_atom_t selection,
                                           std::shared_ptr<const SelectionData> data,
                                           KnownChange basis) {
    using Take = Selections::Take;
    auto owning = prepare(std::move(data));  // its round trips before the look
    if (!lastChangeIs(selection, basis.number)) {
        return {connection_.connected() ? Take::changed : Take::failed};
    }
    const auto replacedBefore = replacedUnseen_[selection];
    // As of the time of the contents looked at: the server ignores the take should another
    // client have taken the selection after them. Where nobody said when, the server's time now.
    std::optional<std::uint32_t> time = basis.time;
    if (*time == XCB_CURRENT_TIME) {
        time = connection_.serverTime();
        if (!time) {
            return {Take::failed};
        }
    }
    if (!take(selection, owning, *time)) {
        // Ignored: another change came after the look (its news is in now), or the time we were
        // given was not the ownership's own.
        connection_.drainQueued(lastLook_);
        if (lastChange(connection_.name(selection).value_or(std::string())).number !=
            basis.number) {
            return {Take::changed};
        }
        time = connection_.serverTime();
        if (!time || !take(selection, owning, *time)) {
            return {Take::failed};
        }
    }
    // Another client's change the server made between the look and the take was replaced by
    // ours: their copy is gone, and ours must not stand in its place.
    connection_.drainQueued(lastLook_);
    if (replacedUnseen_[selection] != replacedBefore) {
        (void)clear(selection, lastOwnChange(connection_.name(selection).value_or(std::string())));
        return {Take::changed};
    }
    return {Take::taken, *time};
}

bool SelectionOwner::replace(xcb_atom_t selection, KnownChange change,
                             std::shared_ptr<const SelectionData> data) {
    if (!data) {
        return clear(selection, change);
    }
    // Taken as of the change it replaces: the server ignores it should another client have
    // taken the selection since the check.
    return isLastChange(selection, change) && ownAt(selection, std::move(data), change.time);
}

bool SelectionOwner::clear(xcb_atom_t selection, KnownChange change) {
    if (!isLastChange(selection, change)) {
        return false;
    }
    // The server ignores it when the selection changed after the caller's change (a copy made
    // since): then the selection still has an owner, and the change is not ours.
    const auto request = xcb_set_selection_owner(c_, XCB_NONE, selection, change.time).sequence;
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection), nullptr));
    if (!owner || owner->owner != XCB_NONE) {
        return false;
    }
    changedByUs(selection, request, true, change.time);
    forget(selection);
    return true;
}

void SelectionOwner::forget(xcb_atom_t selection) {
    owned_.erase(selection);
    std::lock_guard lock(mutex_);
    mirrors_.erase(connection_.name(selection).value_or(std::string()));
}

std::shared_ptr<const SelectionData> SelectionOwner::served(xcb_atom_t selection) const {
    const auto mine = owned_.find(selection);
    return mine == owned_.end() ? nullptr : mine->second.data;
}

// --- Changes: ours, and those we are told of

void SelectionOwner::changedByUs(xcb_atom_t selection, std::uint32_t request, bool cleared,
                                 std::uint32_t time) {
    ourLastChange_[selection] = OwnChange{request, cleared};
    const auto selectionName = connection_.name(selection).value_or(std::string());
    std::lock_guard lock(mutex_);
    ++ownChanges_[selectionName];
    learnt(selectionName, time);
    lastOwnChange_[selectionName] = lastChange_[selectionName];
}

void SelectionOwner::learnt(const std::string& selectionName, std::uint32_t time) {
    auto& known = lastChange_[selectionName];
    known = KnownChange{known.number + 1, time};
}

void SelectionOwner::onSelectionClear(const xcb_selection_clear_event_t& event,
                                      std::uint32_t sequence) {
    const auto mine = owned_.find(event.selection);
    // A clear the server sent before it took our current ownership was for one we have since
    // replaced (our own clear's among them), whatever its time says.
    if (mine == owned_.end() || cameBefore(sequence, mine->second.request)) {
        return;
    }
    forget(event.selection);
    // Our losing a selection and the extension's word of the new owner are one change: the
    // extension tells it for the selections it watches.
    if (!watched_.contains(event.selection)) {
        foreignChange(event.selection, event.time);
    }
}

void SelectionOwner::onOwnerChange(const xcb_xfixes_selection_notify_event_t& event,
                                   std::uint32_t sequence) {
    // Each event is one change, the owner's window or connection going away among them (it
    // leaves the selection to nobody, and carries the time of the change that made the owner).
    const bool ownerGone = event.subtype != XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER;
    auto& current = currentOwner_[event.selection];
    const xcb_window_t previous = current;
    current = ownerGone ? XCB_NONE : event.owner;
    if (const auto standing = standBy_.find(event.selection);
        ownerGone && standing != standBy_.end() && previous == standing->second.window) {
        // At once, before anyone who fills an empty selection with what it last saw (the text
        // of the borrow) does (with its names known beforehand, the request goes out before
        // anything else): as of the time of the ownership that went, so never over a change
        // made since.
        (void)take(event.selection, standing->second.owning, event.selection_timestamp);
    }
    if (onOwnerChanged) {
        onOwnerChanged({connection_.name(event.selection).value_or(std::string()), previous,
                        current, ownerGone, event.selection_timestamp});
    }
    if (!ownerGone && event.owner == connection_.window()) {
        if (const auto mine = owned_.find(event.selection);
            mine != owned_.end() && !mine->second.madeAt &&
            !cameBefore(sequence, mine->second.firstRequest)) {
            mine->second.madeAt = event.timestamp;
        }
        return;
    }
    // An event carries the sequence number of the last request of ours the server had taken
    // when it made it: a change made before our own last one was replaced by ours, and the
    // change our clear made (to nobody) is ours. Not told by the time: another client may take
    // the selection in the very millisecond we did, with that same time.
    if (const auto ours = ourLastChange_.find(event.selection); ours != ourLastChange_.end()) {
        if (cameBefore(sequence, ours->second.request)) {
            if (!ownerGone && event.owner != XCB_NONE && event.owner != deputy_) {
                ++replacedUnseen_[event.selection];
            }
            return;
        }
        if (!ownerGone && sequence == ours->second.request && ours->second.cleared &&
            event.owner == XCB_NONE) {
            return;
        }
    }
    if (!ownerGone && deputy_ != XCB_NONE && event.owner == deputy_) {
        changedByUs(event.selection, sequence, false, event.selection_timestamp);  // for us
        return;
    }
    foreignChange(event.selection, event.selection_timestamp);
}

void SelectionOwner::foreignChange(xcb_atom_t selection, std::uint32_t time) {
    const std::string selectionName = connection_.name(selection).value_or(std::string());
    std::function<void(const std::string&, std::uint64_t)> callback;
    std::uint64_t ours = 0;
    {
        std::lock_guard lock(mutex_);
        learnt(selectionName, time);
        callback = onForeign_;
        ours = ownChanges_[selectionName];
    }
    if (callback) {
        callback(selectionName, ours);
    }
}

// --- Answering requests

void SelectionOwner::onSelectionRequest(const xcb_selection_request_event_t& event) {
    xcb_atom_t answered = XCB_NONE;
    std::string selectionName;
    const auto mine = owned_.find(event.selection);
    // A request stamped before our ownership was meant for an owner before us. So was one
    // stamped after the time we took the selection as of but before the server made the change:
    // the client asked the owner it last heard of (a clipboard manager reading on a timer, or
    // reading one target of that owner after another), and our contents are no answer to it.
    const auto meantForAnother = [&](const Ownership& owned) {
        return event.time != XCB_CURRENT_TIME &&
               (cameBefore(event.time, owned.time) ||
                (owned.madeAt && cameBefore(owned.time, event.time) &&
                 cameBefore(event.time, *owned.madeAt)));
    };
    if (event.owner == connection_.window() && mine != owned_.end() &&
        !meantForAnother(mine->second)) {
        // Requestors from before ICCCM name no property: the target's name stands for it.
        const xcb_atom_t property = event.property != XCB_NONE ? event.property : event.target;
        selectionName = connection_.name(event.selection).value_or(std::string());
        if (event.target == connection_.atom("MULTIPLE")) {
            if (event.property != XCB_NONE &&
                serveMultiple(mine->second, selectionName, event.requestor, event.property)) {
                answered = event.property;
            }
        } else if (serveOne(mine->second, selectionName, event.requestor, event.target, property)) {
            answered = property;
        }
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = event.time;
    notify.requestor = event.requestor;
    notify.selection = event.selection;
    notify.target = event.target;
    notify.property = answered;
    char wire[32] = {};
    std::memcpy(wire, &notify, sizeof notify);
    xcb_send_event(c_, 0, event.requestor, XCB_EVENT_MASK_NO_EVENT, wire);
    if (answered != XCB_NONE) {
        noteLooker(selectionName, event.requestor);
    }
}

bool SelectionOwner::serveOne(Ownership& owned, const std::string& selectionName,
                              xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property) {
    if (target == connection_.atom("TARGETS")) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, owned.targetsType, 32,
                            static_cast<std::uint32_t>(owned.targets.size()), owned.targets.data());
        return true;
    }
    if (target == connection_.atom("TIMESTAMP")) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &owned.time);
        return true;
    }
    const auto found = owned.values.find(target);
    if (found == owned.values.end()) {
        return false;
    }
    noteRequestor(selectionName, requestor);
    return transfers_.send(owned.data, found->second, owned.types[found->second], requestor,
                           property);
}

void SelectionOwner::noteRequestor(const std::string& selectionName, xcb_window_t requestor) {
    std::optional<ClientIdentity> identity;
    bool counted = true;
    {
        std::lock_guard lock(mutex_);
        auto& fetches = fetches_[selectionName];
        fetches.any = true;
        ++fetches.requests;
        // A window that has asked already costs nothing more: a flood of requests is answered
        // without a round trip each. (Not its client's base: the server gives a gone client's
        // base, and so its first window's id, to the next one to connect; within one ownership,
        // a second or so, only such a newcomer could be taken for the one before it.)
        const auto known = std::ranges::find(fetches.windows, requestor,
                                             &std::pair<xcb_window_t, ClientIdentity>::first);
        if (known != fetches.windows.end()) {
            identity = known->second;
        } else if (fetches.windows.size() >= maxRequestorWindows) {
            counted = false;
        }
    }
    const bool firstOfWindow = counted && !identity;
    if (firstOfWindow) {
        // Asked while the requestor's window exists (a reader may destroy it once served).
        identity = identities_.of(requestor);
    }
    bool newClient = false;
    if (identity) {
        std::lock_guard lock(mutex_);
        auto& fetches = fetches_[selectionName];
        if (firstOfWindow && fetches.windows.size() < maxRequestorWindows) {
            fetches.windows.emplace_back(requestor, *identity);
        }
        auto& known = fetches.requestors;
        if (known.size() < maxRequestors && std::ranges::find(known, *identity) == known.end()) {
            known.push_back(*identity);
            newClient = true;
        }
        auto& since = fetches.sinceMark;
        if (fetches.marked && since.size() < maxRequestors &&
            std::ranges::find(since, *identity) == since.end()) {
            since.push_back(*identity);
        }
    }
    if (newClient && onFetch) {
        // Whether it is the client in front (where a paste goes), or one watching from aside.
        const auto active = identities_.active();
        onFetch(selectionName, *identity,
                active && isClientOf(*identity, active->base, active->pid.value_or(0)));
    }
    if (onRequest) {
        onRequest(selectionName);
    }
}

void SelectionOwner::noteLooker(const std::string& selectionName, xcb_window_t requestor) {
    {
        std::lock_guard lock(mutex_);
        const auto& windows = fetches_[selectionName].lookWindows;
        if (windows.size() >= maxRequestorWindows ||
            std::ranges::find(windows, requestor,
                              &std::pair<xcb_window_t, ClientIdentity>::first) != windows.end()) {
            return;
        }
    }
    // Counted once the server has handled the answer (a round trip after it): a paste chord
    // posted from then on, on any connection, reaches the looker after its answer.
    Reply<xcb_get_input_focus_reply_t> handled(
        xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    const auto identity = identities_.of(requestor);
    std::lock_guard lock(mutex_);
    auto& fetches = fetches_[selectionName];
    fetches.lookWindows.emplace_back(requestor, identity);
    if (fetches.lookers.size() < maxRequestors &&
        std::ranges::find(fetches.lookers, identity) == fetches.lookers.end()) {
        fetches.lookers.push_back(identity);
    }
}

bool SelectionOwner::markFetches(xcb_atom_t selection) {
    // Every request the server sent before this round trip's answer is handled by then: it came
    // before the mark, whatever it was for.
    (void)ownerAfterNews(selection);
    const auto selectionName = connection_.name(selection).value_or(std::string());
    std::lock_guard lock(mutex_);
    if (!mirrors_.contains(selectionName)) {
        return false;
    }
    auto& fetches = fetches_[selectionName];
    fetches.marked = true;
    fetches.sinceMark.clear();
    // Who looked before the chord looked at the change itself.
    auto& watchers = watchers_[selectionName];
    for (const auto& looker : fetches.lookers) {
        if (const auto known = std::ranges::find(watchers, looker); known != watchers.end()) {
            watchers.erase(known);
        }
        watchers.push_back(looker);
    }
    if (watchers.size() > maxRequestors) {
        watchers.erase(watchers.begin(),
                       watchers.begin() + static_cast<std::ptrdiff_t>(watchers.size() - maxRequestors));
    }
    return true;
}

bool SelectionOwner::serveMultiple(Ownership& owned, const std::string& selectionName,
                                   xcb_window_t requestor, xcb_atom_t property) {
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c_,
                               xcb_get_property(c_, 0, requestor, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, maxMultiplePairs * 2),
                               nullptr));
    if (!reply || reply->format != 32 || reply->type == XCB_NONE) {
        return false;
    }
    if (reply->bytes_after > 0) {
        // Answering only the first pairs would look like an answer to all of them: refused whole.
        if (onTrouble) {
            onTrouble("multiple_refused reason=more-than-" + std::to_string(maxMultiplePairs) +
                      "-targets");
        }
        return false;
    }
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / 8;
    std::vector<xcb_atom_t> pairs(count * 2);
    std::memcpy(pairs.data(), xcb_get_property_value(reply.get()), pairs.size() * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const xcb_atom_t target = pairs[2 * i];
        const xcb_atom_t into = pairs[2 * i + 1];
        // A target that cannot be given is marked None in the list, as ICCCM asks.
        if (into == XCB_NONE || target == connection_.atom("MULTIPLE") ||
            !serveOne(owned, selectionName, requestor, target, into)) {
            pairs[2 * i] = XCB_NONE;
        }
    }
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                        static_cast<std::uint32_t>(pairs.size()), pairs.data());
    return true;
}

// --- The clipboard manager

bool SelectionOwner::saveToManager(xcb_atom_t selection, std::chrono::milliseconds limit) {
    // A manager saves CLIPBOARD alone: asked while we serve another selection, it would read
    // CLIPBOARD (whoever owns it) and answer that it saved.
    const auto mine = owned_.find(selection);
    if (selection != connection_.atom("CLIPBOARD") || mine == owned_.end()) {
        return false;
    }
    const xcb_atom_t manager = connection_.atom("CLIPBOARD_MANAGER");
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, manager), nullptr));
    if (!owner || owner->owner == XCB_NONE) {
        return false;
    }
    // The targets to save: those that carry contents.
    std::vector<xcb_atom_t> targets;
    for (const auto& [target, index] : mine->second.values) {
        targets.push_back(target);
    }
    const xcb_atom_t property = connection_.atom("_RAVLIN_SAVE_TARGETS");
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, connection_.window(), property, XCB_ATOM_ATOM,
                        32, static_cast<std::uint32_t>(targets.size()), targets.data());
    const auto time = connection_.serverTime();
    managerAnswer_.reset();
    xcb_convert_selection(c_, connection_.window(), manager, connection_.atom("SAVE_TARGETS"),
                          property, time.value_or(XCB_CURRENT_TIME));
    // The manager reads every target from us meanwhile: this loop serves it.
    const auto until = Clock::now() + limit;
    while (!managerAnswer_ && connection_.waitForEvents(until)) {
    }
    return managerAnswer_.value_or(false);
}

void SelectionOwner::onManagerAnswer(const xcb_selection_notify_event_t& event) {
    managerAnswer_ = event.property != XCB_NONE;
}

// --- What callers read

Selections::KnownChange SelectionOwner::lastChange(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = lastChange_.find(selection);
    return found == lastChange_.end() ? KnownChange{} : found->second;
}

Selections::KnownChange SelectionOwner::lastOwnChange(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = lastOwnChange_.find(selection);
    return found == lastOwnChange_.end() ? KnownChange{} : found->second;
}

std::shared_ptr<const SelectionData> SelectionOwner::owned(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = mirrors_.find(selection);
    return found == mirrors_.end() ? nullptr : found->second.data;
}

std::uint32_t SelectionOwner::ownedSince(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = mirrors_.find(selection);
    return found == mirrors_.end() ? 0 : found->second.time;
}

bool SelectionOwner::fetched(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = fetches_.find(selection);
    return found != fetches_.end() && found->second.any;
}

std::vector<ClientIdentity> SelectionOwner::requestors(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = fetches_.find(selection);
    return found == fetches_.end() ? std::vector<ClientIdentity>{} : found->second.requestors;
}

Selections::Fetches SelectionOwner::fetches(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = fetches_.find(selection);
    if (found == fetches_.end()) {
        return {};
    }
    const auto& fetches = found->second;
    const auto watchers = watchers_.find(selection);
    return {fetches.marked ? fetches.sinceMark : fetches.requestors, fetches.marked,
            fetches.requests, fetches.lookers,
            watchers == watchers_.end() ? std::vector<ClientIdentity>{} : watchers->second};
}

std::uint64_t SelectionOwner::ownChanges(const std::string& selection) const {
    std::lock_guard lock(mutex_);
    const auto found = ownChanges_.find(selection);
    return found == ownChanges_.end() ? 0 : found->second;
}

void SelectionOwner::onForeignChange(
    std::function<void(const std::string&, std::uint64_t)> callback) {
    std::lock_guard lock(mutex_);
    onForeign_ = std::move(callback);
}

}  // namespace ravlin::platform::x11
