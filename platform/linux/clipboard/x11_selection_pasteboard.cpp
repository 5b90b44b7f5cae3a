#include "platform/linux/clipboard/x11_selection_pasteboard.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <thread>
#include <utility>

#include "platform/linux/clipboard/clipboard_keeper.h"
#include "platform/linux/clipboard/keeper_link.h"
#include "platform/linux/clipboard/selection_text.h"

namespace ravlin::platform {
namespace {

const x11::SelectionLimits limits{};

// Runs `task` on the main thread, unless `alive` has expired by then (the pasteboard is gone).
void onMain(std::weak_ptr<const int> alive, std::function<void()> task) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alive = std::move(alive), task = std::move(task)] {
            if (!alive.expired()) {
                task();
            }
        },
        Qt::QueuedConnection);
}

// What putting `contents` back serves: none when they hold nothing (the selection then goes to
// nobody). Targets the owner refused count: they are served as refused.
std::shared_ptr<const x11::SelectionData> servedFrom(const PasteboardContents& contents) {
    auto data = X11SelectionPasteboard::dataOf(contents);
    if (std::ranges::all_of(data.targets, x11::isProtocolTarget)) {
        return nullptr;
    }
    return std::make_shared<const x11::SelectionData>(std::move(data));
}

// `name` in the folder of this program's executable.
std::string besideThisProgram(std::string_view name) {
    std::error_code failed;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", failed);
    return failed ? std::string() : (self.parent_path() / name).string();
}

}  // namespace

X11SelectionPasteboard::X11SelectionPasteboard(std::shared_ptr<x11::Selections> selections,
                                               std::string selection)
    : selections_(std::move(selections)),
      selection_(std::move(selection)),
      keeperProgram_(besideThisProgram(clipboardKeeperExecutable)) {
    selections_->onForeignChange([this, alive = std::weak_ptr<const int>(alive_)](
                                     const std::string& which, std::uint64_t ourChanges) {
        onMain(alive, [this, which, ourChanges] {
            if (which == selection_) {
                onForeignChange(ourChanges);
            } else if (primary_ && which == primary_->selection_) {
                primary_->onForeignChange(ourChanges);
            }
        });
    });
    selections_->onTrouble([this, alive = std::weak_ptr<const int>(alive_)](const std::string& line) {
        onMain(alive, [this, line] { tellTrouble(line); });
    });
    selections_->onFetch([this, alive = std::weak_ptr<const int>(alive_)](
                             const std::string& which, const x11::ClientIdentity& client,
                             bool inFront) {
        onMain(alive, [this, which, client, inFront] {
            if (which == selection_) {
                fetchedFromAside(client, inFront);
            } else if (primary_ && which == primary_->selection_) {
                primary_->fetchedFromAside(client, inFront);
            }
        });
    });
    // Every request is told, a run of them once: a flood costs the main thread one turn.
    selections_->onRequest([this, alive = std::weak_ptr<const int>(alive_)](const std::string& which) {
        const bool clipboard = which == selection_;
        if (!clipboard && which != "PRIMARY") {
            return;
        }
        const auto& told = clipboard ? requestTold_ : primaryRequestTold_;
        if (told->exchange(true)) {
            return;
        }
        onMain(alive, [this, clipboard] {
            if (clipboard) {
                requestTold_->store(false);
                fetchObservers_.notify();
            } else if (primary_) {
                primaryRequestTold_->store(false);
                primary_->fetchObservers_.notify();
            }
        });
    });
}

void X11SelectionPasteboard::fetchedFromAside(const x11::ClientIdentity& client, bool inFront) {
    // A client that takes the moment's text from aside (not where it is pasted) is a clipboard
    // manager: the keeper knows it, should it put the text back once the program has gone.
    if (inFront || (momentFingerprint_ == 0 && !leftWithKeeper_) || momentFetchers_.size() >= 16 ||
        std::ranges::find(momentFetchers_, client) != momentFetchers_.end()) {
        return;
    }
    momentFetchers_.push_back(client);
    if (keeper_) {
        keeper_->fetcher(selection_, client.base, client.pid.value_or(0));
    }
}

void X11SelectionPasteboard::tellTrouble(std::string line) {
    troubleObservers_.notify(line);
}

Subscription X11SelectionPasteboard::observeTrouble(
    std::function<void(const std::string&)> onTrouble) {
    return troubleObservers_.add(std::move(onTrouble));
}

X11SelectionPasteboard::X11SelectionPasteboard(std::shared_ptr<x11::Selections> selections,
                                               std::string selection, Sibling)
    : selections_(std::move(selections)), selection_(std::move(selection)), listens_(false) {}

X11SelectionPasteboard::~X11SelectionPasteboard() {
    if (listens_) {
        selections_->onForeignChange(nullptr);
        selections_->onTrouble(nullptr);
        selections_->onFetch(nullptr);
        selections_->onRequest(nullptr);
    }
}

std::shared_ptr<Pasteboard> X11SelectionPasteboard::primarySelection() {
    if (!listens_) {
        return nullptr;
    }
    if (!primary_) {
        primary_ = std::shared_ptr<X11SelectionPasteboard>(
            new X11SelectionPasteboard(selections_, "PRIMARY", Sibling{}));
        primary_->keeperProgram_ = keeperProgram_;
        primary_->keeper_ = keeper();
    }
    return primary_;
}

void X11SelectionPasteboard::bump() {
    ++changeCount_;
    observers_.notify(changeCount_);
}

void X11SelectionPasteboard::onForeignChange(std::uint64_t ourChanges) {
    // News of a change that our own later write or clear has already replaced.
    if (ourChanges < ownChanges_) {
        return;
    }
    // Another client's copy: the keeper lets go of what it held in reserve, and so do we.
    endBorrow();
    bump();
}

PasteboardContents X11SelectionPasteboard::contentsOf(const x11::SelectionData& data,
                                                      PasteboardSaveFailure failure) {
    PasteboardContents contents;
    contents.failure = failure;
    if (failure != PasteboardSaveFailure::none) {
        return contents;
    }
    contents.offer.types = data.targets;
    if (!data.targets.empty()) {
        contents.offer.forms.emplace("TARGETS", PasteboardForm{data.targetsType, 32});
    }
    PasteboardItem item;
    for (const auto& value : data.values) {
        item.emplace(value.target, value.bytes);
        contents.offer.forms.insert_or_assign(value.target,
                                              PasteboardForm{value.type, value.format});
    }
    if (!item.empty()) {
        contents.items.push_back(std::move(item));
    }
    return contents;
}

x11::SelectionData X11SelectionPasteboard::dataOf(const PasteboardContents& contents) {
    x11::SelectionData data;
    const auto& forms = contents.offer.forms;
    if (!contents.offer.types.empty()) {
        data.targets = contents.offer.types;
        if (const auto form = forms.find("TARGETS"); form != forms.end()) {
            data.targetsType = form->second.propertyType;
        }
    } else {
        data.targets = {"TARGETS", "TIMESTAMP", "MULTIPLE"};
    }
    if (contents.items.empty()) {
        return data;
    }
    // One item on X11: the first one's types, in the owner's order, then any it did not list.
    const auto& item = contents.items.front();
    std::vector<std::string> order;
    for (const auto& target : data.targets) {
        if (item.contains(target) && std::ranges::find(order, target) == order.end()) {
            order.push_back(target);
        }
    }
    for (const auto& [type, bytes] : item) {
        if (std::ranges::find(order, type) == order.end()) {
            order.push_back(type);
            if (contents.offer.types.empty()) {
                data.targets.push_back(type);
            }
        }
    }
    for (const auto& type : order) {
        x11::SelectionValue value{type, type, 8, item.at(type)};
        if (const auto form = forms.find(type); form != forms.end()) {
            value.type = form->second.propertyType;
            value.format = form->second.unitBits;
        } else if (type == "TEXT") {
            value.type = "UTF8_STRING";
        }
        if (value.format != 8 && value.format != 16 && value.format != 32) {
            value.format = 8;
        }
        value.bytes.resize(value.bytes.size() / (value.format / 8) * (value.format / 8));
        data.values.push_back(std::move(value));
    }
    return data;
}

void X11SelectionPasteboard::readContents(std::function<void(PasteboardContents)> done) {
    if (clearPending_) {
        done({});
        return;
    }
    selections_->read(
        selection_, limits,
        [this, alive = std::weak_ptr<const int>(alive_),
         done = std::move(done)](x11::Selections::Read read) mutable {
            auto contents = contentsOf(read.data, read.failure);
            std::optional<LastRead> found;
            const bool saved = read.failure == PasteboardSaveFailure::none;
            if (saved && !read.data.values.empty()) {
                found = LastRead{std::make_shared<const x11::SelectionData>(std::move(read.data)),
                                 read.change.number, read.owner};
            }
            onMain(alive, [this, done = std::move(done), contents = std::move(contents),
                           found = std::move(found), saved, change = read.change]() mutable {
                lastRead_ = std::move(found);
                if (saved) {
                    basis_ = change;
                }
                done(std::move(contents));
            });
        });
}

void X11SelectionPasteboard::readString(std::function<void(std::optional<std::u16string>)> done) {
    if (clearPending_) {
        done(std::nullopt);
        return;
    }
    selections_->readText(selection_, limits,
                          [alive = std::weak_ptr<const int>(alive_),
                           done = std::move(done)](std::optional<std::u16string> text) mutable {
                              onMain(alive,
                                     [done = std::move(done), text = std::move(text)]() mutable {
                                         done(std::move(text));
                                     });
                          });
}

std::int64_t X11SelectionPasteboard::clear() {
    // Given to nobody on the next turn of the loop, unless a write of ours comes first (as it
    // does after nearly every clear): a clipboard manager that fills an empty clipboard at once
    // must not see it empty between the two. What is cleared then is the clipboard as it is now
    // (ours, or the copy we were last told of): a copy another client makes in between stays.
    lastWrite_.reset();
    clearAsOf_ = selections_->lastChange(selection_);
    if (!clearPending_) {
        clearPending_ = true;
        onMain(alive_, [this] { settlePendingClear(); });
    }
    bump();
    return changeCount_;
}

void X11SelectionPasteboard::settlePendingClear() {
    if (!clearPending_) {
        return;
    }
    clearPending_ = false;
    transientText_.reset();
    endLeft();
    if (selections_->clear(selection_, clearAsOf_)) {
        ownChanged();
    } else {
        ownChange_ = {};
    }
}

void X11SelectionPasteboard::ownChanged() {
    ownChanges_ = selections_->ownChanges(selection_);
    ownChange_ = selections_->lastOwnChange(selection_);
    basis_ = ownChange_;
}

void X11SelectionPasteboard::ownChangeOver() {
    // Another client's copy stands; what we knew of our own is over, and so is the borrow.
    lastWrite_.reset();
    ownChange_ = {};
    transientText_.reset();
    endBorrow();
}

bool X11SelectionPasteboard::holdsOwnChange() {
    settlePendingClear();
    return ownChange_.number != 0 &&
           selections_->isLastChange(selection_, ownChange_) == x11::Selections::Verdict::yes;
}

void X11SelectionPasteboard::letTheAwaitedPasteFetch() {
    // The answers come from the selection layer's thread meanwhile; this thread only looks.
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + awaitedPasteLimit;
    auto requests = selections_->fetches(selection_).requests;
    auto lastRequest = Clock::now();
    while (Clock::now() < until) {
        const auto fetches = selections_->fetches(selection_);
        if (fetches.requests != requests) {
            requests = fetches.requests;
            lastRequest = Clock::now();
        }
        if (fetches.marked && !fetches.requestors.empty() &&
            Clock::now() - lastRequest >= awaitedPasteQuiet) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

PutBack X11SelectionPasteboard::putBackOverOwnChange(const PasteboardContents& contents) {
    using Verdict = x11::Selections::Verdict;
    settlePendingClear();
    if (pasteAwaited_ && transientText_) {
        letTheAwaitedPasteFetch();
    }
    pasteAwaited_ = false;
    lastRead_.reset();
    if (ownChange_.number == 0) {
        return PutBack::newerCopy;
    }
    endLeft();
    const auto data = servedFrom(contents);
    const auto ours = selections_->isLastChange(selection_, ownChange_);
    if (ours != Verdict::yes) {
        if (ours == Verdict::no) {
            ownChangeOver();
            return PutBack::newerCopy;
        }
        return PutBack::failed;
    }
    // The keeper serves the user's contents from now on, so that they outlive the program.
    if (const auto kept = data ? handToKeeper(data, ownChange_.time,
                                              std::chrono::steady_clock::now() +
                                                  KeeperLink::exchangeWait)
                               : std::nullopt;
        kept && *kept) {
        return PutBack::done;
    }
    transientText_.reset();
    const auto replaced = selections_->replace(selection_, ownChange_, data);
    if (replaced != Verdict::yes) {
        if (replaced == Verdict::no) {
            ownChangeOver();
            return PutBack::newerCopy;
        }
        return PutBack::failed;
    }
    ownChanged();
    lastWrite_ = data;
    endBorrow();
    bump();
    return PutBack::done;
}

Status X11SelectionPasteboard::own(std::shared_ptr<const x11::SelectionData> data) {
    clearPending_ = false;
    transientText_.reset();
    endLeft();
    const auto time = selections_->own(selection_, data);
    if (!time) {
        lastWrite_.reset();
        ownChange_ = {};
        bump();
        return Status::failure(ErrorCode::failed, "the clipboard was not taken");
    }
    ownChanged();
    lastWrite_ = std::move(data);
    bump();
    return {};
}

Status X11SelectionPasteboard::takeOver(std::shared_ptr<const x11::SelectionData> data) {
    using Take = x11::Selections::Take;
    clearPending_ = false;
    transientText_.reset();
    const auto taken = selections_->takeOver(selection_, data, basis_);
    if (taken.outcome != Take::taken) {
        lastWrite_.reset();
        ownChange_ = {};
        bump();
        if (taken.outcome == Take::changed) {
            return Status::failure(ErrorCode::invalidArgument,
                                   "the clipboard changed since it was saved");
        }
        return Status::failure(ErrorCode::failed, "the clipboard was not taken");
    }
    ownChanged();
    lastWrite_ = std::move(data);
    bump();
    return {};
}

Status X11SelectionPasteboard::writeContents(const PasteboardContents& contents) {
    auto data = servedFrom(contents);
    if (!data) {
        return {};
    }
    // The user's contents (nothing else is written so): the keeper serves them from now on.
    lastRead_.reset();
    clearPending_ = false;
    endLeft();
    if (const auto kept = handToKeeper(
            data, 0, std::chrono::steady_clock::now() + KeeperLink::exchangeWait);
        kept && *kept) {
        return {};
    }
    return own(std::move(data));
}

Status X11SelectionPasteboard::setString(std::u16string_view text) {
    // Our own text goes over the user's contents: the keeper holds them meanwhile.
    reserveLastRead();
    return own(std::make_shared<const x11::SelectionData>(x11::textSelection(text)));
}

Status X11SelectionPasteboard::setTransientString(std::u16string_view text) {
    reserveLastRead();
    auto data = std::make_shared<const x11::SelectionData>(x11::transientTextSelection(text));
    const auto* utf8 = data->find("UTF8_STRING");
    const auto fingerprint = utf8 != nullptr ? x11::textFingerprint(utf8->bytes) : 0;
    auto written = takeOver(std::move(data));
    if (written.ok()) {
        transientText_ = std::u16string(text);
        momentFingerprint_ = fingerprint;
        momentFetchers_.clear();
        if (keeper_) {
            keeper_->moment(selection_, fingerprint);
        }
    } else {
        endBorrow();
    }
    return written;
}

bool X11SelectionPasteboard::makeTransientOrdinary() {
    settlePendingClear();
    if (!transientText_) {
        return holdsOwnChange();
    }
    auto data = std::make_shared<const x11::SelectionData>(x11::textSelection(*transientText_));
    if (ownChange_.number == 0 ||
        selections_->replace(selection_, ownChange_, data) != x11::Selections::Verdict::yes) {
        return false;
    }
    transientText_.reset();
    momentFingerprint_ = 0;
    if (keeper_) {
        keeper_->moment(selection_, 0);
    }
    ownChanged();
    lastWrite_ = std::move(data);
    bump();
    return true;
}

WriteFetch X11SelectionPasteboard::lastWriteFetchedBy(const FetchTarget& target) {
    // Who fetched it while we served it (since the mark, where a paste chord followed it), also
    // once another client has taken the clipboard: a paste asks the owner of the moment.
    if (!lastWrite_) {
        return WriteFetch::none;
    }
    const auto requestors = selections_->fetches(selection_).requestors;
    if (requestors.empty()) {
        return WriteFetch::none;
    }
    return std::ranges::any_of(requestors, isClient(target)) ? WriteFetch::byTarget
                                                             : WriteFetch::byOthers;
}

std::function<bool(const x11::ClientIdentity&)> X11SelectionPasteboard::isClient(
    const FetchTarget& target) const {
    std::optional<std::uint32_t> targetBase;
    if (target.window && *target.window <= UINT32_MAX) {
        targetBase = selections_->clientBaseOf(static_cast<std::uint32_t>(*target.window));
    }
    return [targetBase, pid = target.pid](const x11::ClientIdentity& client) {
        return x11::isClientOf(client, targetBase, pid);
    };
}

WriteLook X11SelectionPasteboard::lastWriteLookedAtBy(const FetchTarget& target) {
    if (!lastWrite_) {
        return {.looked = true};  // nothing of ours to look at
    }
    const auto fetches = selections_->fetches(selection_);
    const auto ofTarget = isClient(target);
    return {.looked = std::ranges::any_of(fetches.lookers, ofTarget),
            .watches = std::ranges::any_of(fetches.watchers, ofTarget)};
}

void X11SelectionPasteboard::markFetches() {
    if (lastWrite_) {
        (void)selections_->markFetches(selection_);
    }
}

std::uint64_t X11SelectionPasteboard::fetchRequests() {
    return lastWrite_ ? selections_->fetches(selection_).requests : 0;
}

std::optional<KeyCondition> X11SelectionPasteboard::ownWriteCondition() {
    settlePendingClear();
    if (!transientText_ || !lastWrite_ || ownChange_.number == 0) {
        return std::nullopt;
    }
    return KeyCondition{selection_, selections_->window()};
}

Subscription X11SelectionPasteboard::observeFetches(std::function<void()> onFetch) {
    return fetchObservers_.add([onFetch = std::move(onFetch)] { onFetch(); });
}

Subscription X11SelectionPasteboard::observeChanges(std::function<void(std::int64_t)> onChange) {
    return observers_.add(std::move(onChange));
}

void X11SelectionPasteboard::keepContentsAfterExit() {
    keepAfterExit(std::chrono::steady_clock::now() + exitWait);
}

}  // namespace ravlin::platform
