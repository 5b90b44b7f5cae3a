#include "platform/linux/clipboard/x11_selection_pasteboard.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cstdint>
#include <filesystem>
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
            if (read.failure == PasteboardSaveFailure::none && !read.data.values.empty()) {
                found = LastRead{std::make_shared<const x11::SelectionData>(std::move(read.data)),
                                 0, read.owner};
            }
            onMain(alive, [this, done = std::move(done), contents = std::move(contents),
                           found = std::move(found)]() mutable {
                lastRead_ = std::move(found);
                if (lastRead_) {
                    lastRead_->change = selections_->lastChange(selection_).number;
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
        ownChanges_ = selections_->ownChanges(selection_);
        ownChange_ = selections_->lastOwnChange(selection_);
    } else {
        ownChange_ = {};
    }
}

bool X11SelectionPasteboard::holdsOwnChange() {
    settlePendingClear();
    return ownChange_.number != 0 && selections_->isLastChange(selection_, ownChange_);
}

bool X11SelectionPasteboard::putBackOverOwnChange(const PasteboardContents& contents) {
    settlePendingClear();
    if (ownChange_.number == 0) {
        return false;
    }
    endLeft();
    std::shared_ptr<const x11::SelectionData> data;
    if (!contents.items.empty()) {
        data = std::make_shared<const x11::SelectionData>(dataOf(contents));
    }
    // The keeper serves the user's contents from now on, so that they outlive the program.
    const bool ours = selections_->isLastChange(selection_, ownChange_);
    if (const auto kept = ours && data ? handToKeeper(data, ownChange_.time,
                                                      std::chrono::steady_clock::now() +
                                                          KeeperLink::exchangeWait)
                                       : std::nullopt;
        kept && *kept) {
        return true;
    }
    transientText_.reset();
    if (!ours || !selections_->replace(selection_, ownChange_, data)) {
        // Another client's copy stands; what we knew of our own is over.
        lastWrite_.reset();
        ownChange_ = {};
        return false;
    }
    ownChanges_ = selections_->ownChanges(selection_);
    ownChange_ = selections_->lastOwnChange(selection_);
    lastWrite_ = std::move(data);
    bump();
    return true;
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
    ownChanges_ = selections_->ownChanges(selection_);
    ownChange_ = selections_->lastOwnChange(selection_);
    lastWrite_ = std::move(data);
    bump();
    return {};
}

Status X11SelectionPasteboard::writeContents(const PasteboardContents& contents) {
    if (contents.items.empty()) {
        return {};
    }
    // The user's contents (nothing else is written so): the keeper serves them from now on.
    auto data = std::make_shared<const x11::SelectionData>(dataOf(contents));
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
    auto written = own(std::move(data));
    if (written.ok()) {
        transientText_ = std::u16string(text);
        if (keeper_) {
            keeper_->moment(selection_, fingerprint);
        }
    }
    return written;
}

bool X11SelectionPasteboard::makeTransientOrdinary() {
    settlePendingClear();
    if (!transientText_) {
        return holdsOwnChange();
    }
    auto data = std::make_shared<const x11::SelectionData>(x11::textSelection(*transientText_));
    if (ownChange_.number == 0 || !selections_->replace(selection_, ownChange_, data)) {
        return false;
    }
    transientText_.reset();
    if (keeper_) {
        keeper_->moment(selection_, 0);
    }
    ownChanges_ = selections_->ownChanges(selection_);
    ownChange_ = selections_->lastOwnChange(selection_);
    lastWrite_ = std::move(data);
    bump();
    return true;
}

WriteFetch X11SelectionPasteboard::lastWriteFetchedBy(const FetchTarget& target) {
    if (!lastWrite_ || selections_->owned(selection_) != lastWrite_) {
        return WriteFetch::none;
    }
    const auto requestors = selections_->requestors(selection_);
    if (requestors.empty()) {
        return WriteFetch::none;
    }
    std::optional<std::uint32_t> targetBase;
    if (target.window && *target.window <= UINT32_MAX) {
        targetBase = selections_->clientBaseOf(static_cast<std::uint32_t>(*target.window));
    }
    return std::ranges::any_of(requestors,
                               [&](const auto& r) { return x11::isClientOf(r, targetBase, target.pid); })
               ? WriteFetch::byTarget
               : WriteFetch::byOthers;
}

Subscription X11SelectionPasteboard::observeChanges(std::function<void(std::int64_t)> onChange) {
    return observers_.add(std::move(onChange));
}

void X11SelectionPasteboard::keepContentsAfterExit() {
    keepAfterExit(std::chrono::steady_clock::now() + exitWait);
}

}  // namespace ravlin::platform
