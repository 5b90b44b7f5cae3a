// X11SelectionPasteboard and its keeper: the user's contents never live only in this process.
// Before our own text goes over them the keeper holds them in reserve (a keeper that ends
// meanwhile is replaced and given them again); when they are put back the keeper takes the
// selection and serves them, and this process lets go of its copies; at the program's end
// whatever it still serves itself goes to the keeper (else to the clipboard manager).

#include <malloc.h>

#include <thread>

#include "platform/linux/clipboard/keeper_link.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"

namespace ravlin::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Contents this large, once let go of, are given back to the system at once (the allocator
// would keep them for later).
constexpr std::size_t largeContents = std::size_t{1} << 20;

}  // namespace

void X11SelectionPasteboard::setKeeperProgram(std::string program) {
    keeperProgram_ = std::move(program);
    keeper_.reset();
    keeperWatch_.reset();
    if (primary_) {
        primary_->keeperProgram_ = keeperProgram_;
        primary_->keeper_ = keeper();
    }
}

std::shared_ptr<KeeperLink> X11SelectionPasteboard::keeper() {
    if (!keeper_ && !keeperProgram_.empty()) {
        keeper_ = std::make_shared<KeeperLink>(keeperProgram_, selections_->window());
        keeper_->onTrouble = [this, alive = std::weak_ptr<const int>(alive_)](
                                 const std::string& line) {
            if (!alive.expired()) {
                tellTrouble(line);
            }
        };
    }
    return keeper_;
}

void X11SelectionPasteboard::watchKeeper() {
    // The clipboard's instance watches the link for both selections.
    if (!listens_) {
        return;
    }
    const auto link = keeper();
    if (!link || link->endingSignal() < 0 || keeperWatched_ == link->generation()) {
        return;
    }
    keeperWatched_ = link->generation();
    keeperWatch_ = std::make_unique<QSocketNotifier>(link->endingSignal(), QSocketNotifier::Read);
    QObject::connect(keeperWatch_.get(), &QSocketNotifier::activated, this, [this] {
        keeperWatch_->setEnabled(false);
        keeperEnded();
    });
}

void X11SelectionPasteboard::keeperEnded() {
    const auto link = keeper();
    if (!link || link->window() != 0) {
        return;  // still there (the look reaps one that has ended)
    }
    keeperWatch_.reset();
    keeperWatched_ = 0;
    for (auto* pasteboard : {this, primary_.get()}) {
        if (pasteboard == nullptr || (!pasteboard->reserve_ && !pasteboard->leftWithKeeper_)) {
            continue;
        }
        // In the middle of a borrow (our text still on the selection) the user's contents must
        // outlive a crash of ours: a new keeper holds them. Otherwise nothing is held any more.
        if (!pasteboard->holdsOwnChange()) {
            pasteboard->endBorrow();
            continue;
        }
        pasteboard->tellTrouble("keeper_lost reason=ended-during-borrow selection=" +
                                pasteboard->selection_);
        if (!pasteboard->holdReserve(SteadyClock::now() + KeeperLink::exchangeWait)) {
            pasteboard->tellTrouble("clipboard_reserve_lost selection=" + pasteboard->selection_);
        }
    }
}

std::uint64_t X11SelectionPasteboard::foreignChanges() const {
    return selections_->lastChange(selection_).number - selections_->ownChanges(selection_);
}

bool X11SelectionPasteboard::keeperHolds(const x11::SelectionData& data) {
    return keeperHeld_ && keeper_ && keeperHeldBy_ == keeper_->generation() &&
           keeper_->window() != 0 && foreignChanges() == foreignChangesAtHold_ &&
           *keeperHeld_ == data;
}

bool X11SelectionPasteboard::holdReserve(SteadyClock::time_point until) {
    const auto link = keeper();
    if (!link || (!reserve_ && !leftWithKeeper_)) {
        return false;
    }
    const auto window = link->ensure(until);
    if (!window) {
        return false;
    }
    watchKeeper();
    selections_->setDeputy(*window);
    if (reserve_ && !keeperHolds(*reserve_)) {
        if (!link->hold(selection_, *reserve_, until)) {
            return false;
        }
        keeperHeld_ = reserve_;
        keeperHeldBy_ = link->generation();
        foreignChangesAtHold_ = foreignChanges();
    }
    if (momentFingerprint_ != 0) {
        link->moment(selection_, momentFingerprint_);
    }
    // A text left for the person stays for the rest of its time, whatever keeper stands by.
    if (leftWithKeeper_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(leftUntil_ -
                                                                        SteadyClock::now());
        const auto user = userAfterLeft_ ? userAfterLeft_ : reserve_;
        if (left.count() > 0 && user && !keeperHolds(*user)) {
            if (!link->hold(selection_, *user, until)) {
                return false;
            }
            keeperHeld_ = user;
            keeperHeldBy_ = link->generation();
            foreignChangesAtHold_ = foreignChanges();
        }
        if (left.count() > 0 &&
            !link->leave({static_cast<std::uint32_t>(
                              std::min<std::int64_t>(left.count(), UINT32_MAX)),
                          user != nullptr, {selection_, ownChange_.time, *leftWithKeeper_}},
                         until)) {
            return false;
        }
    }
    for (const auto& fetcher : momentFetchers_) {
        link->fetcher(selection_, fetcher.base, fetcher.pid.value_or(0));
    }
    return true;
}

void X11SelectionPasteboard::reserveLastRead() {
    const auto link = keeper();
    if (!link || !lastRead_) {
        return;
    }
    const auto read = std::exchange(lastRead_, std::nullopt);
    // Contents another copy has replaced since are not the user's now.
    if (read->change != selections_->lastChange(selection_).number) {
        return;
    }
    reserve_ = read->data;
    if (read->owner != 0 && read->owner == link->window()) {
        // The keeper's own: it holds them already.
        keeperHeld_ = reserve_;
        keeperHeldBy_ = link->generation();
        foreignChangesAtHold_ = foreignChanges();
        watchKeeper();
        return;
    }
    (void)holdReserve(SteadyClock::now() + KeeperLink::exchangeWait);
}

void X11SelectionPasteboard::endBorrow() {
    const bool large = (reserve_ && reserve_->byteCount() >= largeContents) ||
                       (keeperHeld_ && keeperHeld_->byteCount() >= largeContents);
    reserve_.reset();
    keeperHeld_.reset();
    momentFingerprint_ = 0;
    momentFetchers_.clear();
    if (large) {
        ::malloc_trim(0);
    }
}

std::optional<bool> X11SelectionPasteboard::handToKeeper(
    std::shared_ptr<const x11::SelectionData> data, std::uint32_t asOf,
    SteadyClock::time_point until) {
    const auto link = keeper();
    if (!link) {
        return std::nullopt;
    }
    const auto window = link->ensure(until);
    if (!window) {
        return std::nullopt;
    }
    watchKeeper();
    selections_->setDeputy(*window);
    if (!keeperHolds(*data)) {
        if (!link->hold(selection_, *data, until)) {
            return std::nullopt;
        }
        keeperHeld_ = data;
        keeperHeldBy_ = link->generation();
        foreignChangesAtHold_ = foreignChanges();
    }
    if (!link->take(selection_, asOf, until)) {
        return link->window() != 0 ? std::optional(false) : std::nullopt;
    }
    const auto change = selections_->deputyChange(selection_);
    if (!change) {
        return false;  // taken, and taken from it again at once
    }
    clearPending_ = false;
    transientText_.reset();
    ownChanges_ = selections_->ownChanges(selection_);
    ownChange_ = *change;
    basis_ = ownChange_;
    // The keeper serves them now: nothing of them stays here.
    lastWrite_.reset();
    endBorrow();
    bump();
    return true;
}

bool X11SelectionPasteboard::leaveForUser(const PasteboardContents& userContents,
                                          std::chrono::milliseconds duration) {
    settlePendingClear();
    const auto link = keeper();
    if (!link || !lastWrite_ || !userContents.complete() || duration.count() <= 0 ||
        !holdsOwnChange()) {
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + KeeperLink::exchangeWait;
    const auto window = link->ensure(until);
    if (!window) {
        return false;
    }
    selections_->setDeputy(*window);
    std::shared_ptr<const x11::SelectionData> user;
    if (!userContents.items.empty()) {
        user = std::make_shared<const x11::SelectionData>(dataOf(userContents));
        if (!keeperHolds(*user)) {
            if (!link->hold(selection_, *user, until)) {
                return false;
            }
            keeperHeld_ = user;
            keeperHeldBy_ = link->generation();
            foreignChangesAtHold_ = foreignChanges();
        }
    }
    const auto milliseconds =
        static_cast<std::uint32_t>(std::min<std::int64_t>(duration.count(), UINT32_MAX));
    if (!link->leave({milliseconds, user != nullptr, {selection_, ownChange_.time, *lastWrite_}},
                     until)) {
        return false;
    }
    leftWithKeeper_ = lastWrite_;
    userAfterLeft_ = std::move(user);
    leftUntil_ = SteadyClock::now() + duration;
    watchKeeper();
    return true;
}

void X11SelectionPasteboard::endLeft() {
    if (!std::exchange(leftWithKeeper_, nullptr)) {
        return;
    }
    userAfterLeft_.reset();
    if (keeper_) {
        (void)keeper_->leave({0, false, {selection_, 0, {}}},
                             std::chrono::steady_clock::now() + KeeperLink::exchangeWait);
    }
}

void X11SelectionPasteboard::keepAfterExit(SteadyClock::time_point until) {
    if (primary_) {
        primary_->keepAfterExit(until);
    }
    auto mine = clearPending_ ? nullptr : selections_->owned(selection_);
    if (mine && mine == leftWithKeeper_) {
        // The text left for the person: the keeper serves it for the rest of its time, then
        // the user's contents. Should it not take it, the user's contents go back now, as the
        // put-back at its end would have put them.
        const auto link = keeper();
        if (link && link->take(selection_, selections_->ownedSince(selection_), until)) {
            mine = nullptr;
        } else {
            const auto user = userAfterLeft_;
            endLeft();
            mine = selections_->replace(selection_, ownChange_, user) == x11::Selections::Verdict::yes
                       ? user
                       : nullptr;
        }
    }
    if (mine && transientText_ && mine == lastWrite_) {
        // The moment's text of a borrow that could not be put back: never handed on. The keeper
        // holding the user's contents in reserve takes the selection back with them once our
        // window has gone.
        if (!reserve_ || !holdReserve(until)) {
            tellTrouble("clipboard_not_kept selection=" + selection_ + " reason=no-reserve");
        }
    } else if (mine) {
        const auto kept = handToKeeper(mine, selections_->ownedSince(selection_), until);
        if (!kept || !*kept) {
            // Served by us to the end, then by the clipboard manager if one takes them.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - SteadyClock::now());
            if (left.count() <= 0 || !selections_->saveToManager(selection_, left)) {
                tellTrouble("clipboard_not_kept selection=" + selection_ + " reason=" +
                            (kept ? "keeper-refused" : "no-keeper"));
            }
        }
    }
    // A requestor in the middle of an INCR answer of ours gets the rest of it.
    if (listens_) {
        while (selections_->transfersInProgress() > 0 && SteadyClock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

}  // namespace ravlin::platform
