// X11SelectionPasteboard and its keeper: the user's contents never live only in this process.
// Before our own text goes over them the keeper holds them in reserve; when they are put back
// the keeper takes the selection and serves them; at the program's end whatever it still serves
// itself goes to the keeper (else to the clipboard manager).

#include <thread>

#include "platform/linux/clipboard/keeper_link.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"

namespace ravlin::platform {

void X11SelectionPasteboard::setKeeperProgram(std::string program) {
    keeperProgram_ = std::move(program);
    keeper_.reset();
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

std::uint64_t X11SelectionPasteboard::foreignChanges() const {
    return selections_->lastChange(selection_).number - selections_->ownChanges(selection_);
}

bool X11SelectionPasteboard::keeperHolds(const x11::SelectionData& data) {
    return keeperHeld_ && foreignChanges() == foreignChangesAtHold_ && *keeperHeld_ == data;
}

void X11SelectionPasteboard::reserveLastRead() {
    const auto link = keeper();
    if (!link || !lastRead_) {
        return;
    }
    const auto read = std::exchange(lastRead_, std::nullopt);
    // Contents another copy has replaced since are not the user's now; the keeper's own it holds.
    if (read->change != selections_->lastChange(selection_).number ||
        (read->owner != 0 && read->owner == link->window())) {
        return;
    }
    const auto until = std::chrono::steady_clock::now() + KeeperLink::exchangeWait;
    if (const auto window = link->ensure(until)) {
        selections_->setDeputy(*window);
        if (link->hold(selection_, *read->data, until)) {
            keeperHeld_ = read->data;
            foreignChangesAtHold_ = foreignChanges();
        }
    }
}

std::optional<bool> X11SelectionPasteboard::handToKeeper(
    std::shared_ptr<const x11::SelectionData> data, std::uint32_t asOf,
    std::chrono::steady_clock::time_point until) {
    const auto link = keeper();
    if (!link) {
        return std::nullopt;
    }
    const auto window = link->ensure(until);
    if (!window) {
        return std::nullopt;
    }
    selections_->setDeputy(*window);
    if (!keeperHolds(*data)) {
        if (!link->hold(selection_, *data, until)) {
            return std::nullopt;
        }
        keeperHeld_ = data;
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
    lastWrite_ = std::move(data);
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

void X11SelectionPasteboard::keepAfterExit(std::chrono::steady_clock::time_point until) {
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
            mine = selections_->replace(selection_, ownChange_, user) ? user : nullptr;
        }
    }
    if (mine) {
        const auto kept = handToKeeper(mine, selections_->ownedSince(selection_), until);
        if (!kept) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !selections_->saveToManager(selection_, left)) {
                tellTrouble("clipboard_not_kept selection=" + selection_);
            }
        }
    }
    // A requestor in the middle of an INCR answer of ours gets the rest of it.
    if (listens_) {
        while (selections_->transfersInProgress() > 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

}  // namespace ravlin::platform
