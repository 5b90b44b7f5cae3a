#include "platform/linux/clipboard/clipboard_keeper.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/clipboard/keeper_protocol.h"
#include "platform/linux/clipboard/selection_text.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "platform/pasteboard_save_failure.h"

namespace ravlin::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using x11::KeeperMessage;

// Started for nothing: how long it waits for its first contents.
constexpr auto firstHoldWait = 5s;
// Holding nothing more: how long its answers in progress may take to end, and how often it looks
// whether they have.
constexpr auto transfersWait = 10s;
constexpr auto transfersLook = std::chrono::milliseconds(200);
// After the program went in the middle of a borrow: how long a clipboard manager that fills the
// emptied clipboard with the last text it saw (the borrow's) is watched for, and how long a look
// at what it put there may take.
constexpr auto refillWatch = 2s;
constexpr auto refillLook = std::chrono::milliseconds(500);

void say(const std::string& line) {
    std::fprintf(stderr, "ravlin %s: %s\n", clipboardKeeperOption.data(), line.c_str());
}

// What the layer's thread tells the keeper's: the changes of owner, and the looks asked for.
// Shared with the layer's callbacks, so that one that comes late finds it still there.
struct Inbox {
    Inbox() { ::pipe2(wake, O_CLOEXEC | O_NONBLOCK); }
    ~Inbox() {
        ::close(wake[0]);
        ::close(wake[1]);
    }
    Inbox(const Inbox&) = delete;
    Inbox& operator=(const Inbox&) = delete;
    void ring() { [[maybe_unused]] const auto written = ::write(wake[1], "x", 1); }
    // What the selection thread has left in `queue`, taken whole.
    template <typename T>
    std::deque<T> take(std::deque<T>& queue) {
        std::lock_guard lock(mutex);
        return std::exchange(queue, {});
    }

    int wake[2] = {-1, -1};
    std::mutex mutex;
    std::deque<x11::Selections::OwnerChange> changes;  // under mutex
    // Looks at what another client put on a selection.
    struct Look {
        std::string selection;
        std::uint64_t fingerprint = 0;  // of its text; 0: none
        bool refused = false;           // it offers text and does not give it
    };
    std::deque<Look> looks;  // under mutex
};

class Keeper {
  public:
    explicit Keeper(std::shared_ptr<x11::Selections> selections)
        : selections_(std::move(selections)) {
        selections_->onOwnerChange([inbox = inbox_](const x11::Selections::OwnerChange& change) {
            {
                std::lock_guard lock(inbox->mutex);
                inbox->changes.push_back(change);
            }
            inbox->ring();
        });
    }
    ~Keeper() { selections_->onOwnerChange(nullptr); }
    Keeper(const Keeper&) = delete;
    Keeper& operator=(const Keeper&) = delete;

    int run() {
        send(KeeperMessage::ready, x11::encodeWord(selections_->window()));
        const auto started = Clock::now();
        std::optional<Clock::time_point> emptySince;
        while (selections_->connected()) {
            std::optional<Clock::time_point> wake;
            if (held_.empty() && left_.empty() &&
                (everHeld_ || Clock::now() - started >= firstHoldWait)) {
                // Nothing more to keep: the answers still going out end first (looked at now
                // and then: this lasts a few seconds at most).
                emptySince = emptySince.value_or(Clock::now());
                if (selections_->transfersInProgress() == 0 ||
                    Clock::now() - *emptySince >= transfersWait) {
                    return 0;
                }
                wake = std::min(Clock::now() + transfersLook, *emptySince + transfersWait);
            } else {
                emptySince.reset();
                if (!everHeld_) {
                    wake = started + firstHoldWait;
                }
            }
            // Otherwise it sleeps until the program, the selections or a deadline of its own
            // need it: holding the user's contents, nothing wakes it.
            for (const auto& [selection, since] : refills_) {
                wake = std::min(wake.value_or(since + refillWatch), since + refillWatch);
            }
            for (const auto& [selection, left] : left_) {
                wake = std::min(wake.value_or(left.until), left.until);
            }
            int timeout = -1;
            if (wake) {
                timeout = static_cast<int>(std::clamp<std::int64_t>(
                    std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count(), 0,
                    60'000));
            }
            pollfd fds[2] = {{program_ ? 0 : -1, POLLIN, 0}, {inbox_->wake[0], POLLIN, 0}};
            ::poll(fds, 2, timeout);
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readProgram()) {
                return 2;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                char drained[64];
                while (::read(inbox_->wake[0], drained, sizeof drained) > 0) {
                }
            }
            handleChanges();
            endLeftTexts();
        }
        return 0;
    }

  private:
    // False when the program broke the protocol.
    bool readProgram() {
        std::uint8_t buffer[1 << 16];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            program_ = false;  // the program has gone, or closed its end: the keeper goes on
            return true;
        }
        if (n < 0) {
            return true;
        }
        frames_.feed(std::span(buffer, static_cast<std::size_t>(n)));
        bool handled = false;
        while (const auto frame = frames_.next()) {
            if (!handle(*frame)) {
                return false;
            }
            handled = true;
        }
        if (handled) {
            // The copies a message went through on its way in go back to the system: the keeper
            // keeps the contents alone.
            ::malloc_trim(0);
        }
        return !frames_.broken();
    }

    bool handle(const x11::KeeperFrame& frame) {
        switch (frame.kind) {
            case KeeperMessage::program: {
                const auto window = x11::decodeWord(frame.payload);
                programWindow_ = window.value_or(0);
                for (const auto& [selection, data] : held_) {
                    selections_->standBy(selection, servedFor(selection), programWindow_);
                }
                return window.has_value();
            }
            case KeeperMessage::hold: {
                auto handOff = x11::decodeHandOff(frame.payload, {});
                if (!handOff) {
                    return false;
                }
                auto data = std::make_shared<const x11::SelectionData>(std::move(handOff->data));
                // What the program hands over now comes in place of any text it left there.
                forgetLeft(handOff->selection);
                // Serving the selection already: what it serves from now on.
                if (selections_->owned(handOff->selection)) {
                    (void)selections_->ownAsOf(handOff->selection, data,
                                               selections_->ownedSince(handOff->selection));
                }
                keep(handOff->selection, std::move(data));
                // Standing by with them: the program going from now on leaves them there.
                send(KeeperMessage::taken, std::vector<std::uint8_t>{1});
                return true;
            }
            case KeeperMessage::take: {
                const auto take = x11::decodeTake(frame.payload);
                if (!take) {
                    return false;
                }
                // The text left for the person while its time runs, else the contents held.
                const auto data = servedFor(take->selection);
                bool taken = false;
                if (data) {
                    taken = take->time != 0
                                ? selections_->ownAsOf(take->selection, data, take->time)
                                : selections_->own(take->selection, data).has_value();
                }
                send(KeeperMessage::taken, std::vector<std::uint8_t>{taken ? std::uint8_t{1}
                                                                           : std::uint8_t{0}});
                return true;
            }
            case KeeperMessage::moment: {
                const auto moment = x11::decodeMoment(frame.payload);
                if (!moment) {
                    return false;
                }
                if (moment->fingerprint != 0) {
                    if (moments_[moment->selection] != moment->fingerprint) {
                        fetchers_.erase(moment->selection);  // a new borrow's text
                    }
                    moments_[moment->selection] = moment->fingerprint;
                } else {
                    // (Who fetched it stays known: the text may be left for the person.)
                    moments_.erase(moment->selection);
                }
                return true;
            }
            case KeeperMessage::fetcher: {
                const auto fetcher = x11::decodeFetcher(frame.payload);
                if (!fetcher) {
                    return false;
                }
                auto& known = fetchers_[fetcher->selection];
                const x11::ClientIdentity client{
                    fetcher->base,
                    fetcher->pid > 0 ? std::optional(fetcher->pid) : std::nullopt};
                if (known.size() < maxFetchers && std::ranges::find(known, client) == known.end()) {
                    known.push_back(client);
                }
                return true;
            }
            case KeeperMessage::leave: {
                auto leave = x11::decodeLeave(frame.payload);
                if (!leave) {
                    return false;
                }
                const std::string selection = leave->text.selection;
                if (leave->milliseconds == 0) {
                    forgetLeft(selection);
                    selections_->standBy(selection, servedFor(selection), programWindow_);
                    return true;
                }
                auto text = std::make_shared<const x11::SelectionData>(std::move(leave->text.data));
                if (!leave->thenHeld) {
                    held_.erase(selection);  // the person's clipboard was empty
                }
                // Should a clipboard manager fill the emptied selection with it once the program
                // has gone, the text is served again in its place, for the rest of its time.
                const auto* utf8 = text->find("UTF8_STRING");
                moments_[selection] = utf8 != nullptr ? x11::textFingerprint(utf8->bytes) : 0;
                left_[selection] =
                    Left{text, Clock::now() + std::chrono::milliseconds(leave->milliseconds)};
                everHeld_ = true;
                selections_->standBy(selection, std::move(text), programWindow_);
                send(KeeperMessage::taken, std::vector<std::uint8_t>{1});
                return true;
            }
            case KeeperMessage::ready:
            case KeeperMessage::taken:
                return false;  // the keeper's own words
        }
        return false;
    }

    void handleChanges() {
        for (const auto& change : inbox_->take(inbox_->changes)) {
            if (!program_ && programWindow_ != 0 && !change.ownerGone &&
                change.owner == programWindow_ && programWindowReused()) {
                // The program has gone, and the server has given its window's id to another
                // client (it reuses those of clients that ended): whatever that one copies is
                // its own, and its going away later is no end of the program's.
                forgetProgramWindow();
            }
            if (!keeps(change.selection)) {
                continue;
            }
            const bool programs = programWindow_ != 0 && change.previous == programWindow_;
            if (change.ownerGone && programs) {
                // The program went while its own text was on the selection: the layer has taken
                // it back with the user's contents already (standBy), unless something newer was
                // copied meanwhile, or a clipboard manager got there first (watched for below).
                if (selections_->owned(change.selection)) {
                    say(left_.contains(change.selection)
                            ? "the program ended: " + change.selection +
                                  " holds the text left for the person until its time is up"
                            : "the program ended during a borrow: " + change.selection +
                                  " holds the user's contents again");
                }
                refills_[change.selection] = Clock::now();
            } else if (change.ownerGone || (change.owner != programWindow_ &&
                                            change.owner != selections_->window())) {
                if (!change.ownerGone && watchesRefill(change.selection) &&
                    byManager(change.selection, change.owner)) {
                    look(change.selection);  // the borrow's text put back, or another copy?
                } else {
                    drop(change.selection);  // another client's copy, or nobody's: not ours
                }
            }
        }
        handleLooks();
        // A refill watched for long enough: what is there now stands.
        for (auto refill = refills_.begin(); refill != refills_.end();) {
            if (Clock::now() - refill->second < refillWatch) {
                ++refill;
                continue;
            }
            if (keeps(refill->first) && !selections_->owned(refill->first)) {
                drop(refill->first);
            }
            refill = refills_.erase(refill);
        }
    }

    [[nodiscard]] bool watchesRefill(const std::string& selection) const {
        const auto refill = refills_.find(selection);
        return refill != refills_.end() && Clock::now() - refill->second < refillWatch &&
               moments_.contains(selection);
    }

    // Whether `owner` is a client that fetched the borrow's text from aside (a clipboard manager,
    // never the application it was pasted into): only such a one puts it back on its own.
    [[nodiscard]] bool byManager(const std::string& selection, std::uint32_t owner) {
        const auto fetchers = fetchers_.find(selection);
        if (fetchers == fetchers_.end() || fetchers->second.empty()) {
            return false;
        }
        const auto client = selections_->clientOf(owner);
        return std::ranges::any_of(fetchers->second, [&](const x11::ClientIdentity& fetcher) {
            return x11::isClientOf(client, fetcher.base, fetcher.pid.value_or(0));
        });
    }

    // Reads the text another client has just put on `selection`, for handleLooks.
    void look(const std::string& selection) {
        selections_->readTextOnly(
            selection, {.total = refillLook}, [inbox = inbox_, selection](x11::Selections::Read read) {
                Inbox::Look look{selection};
                if (read.failure == PasteboardSaveFailure::none) {
                    // The text it offers first, as its bytes (UTF8_STRING where it offers it),
                    // or that it offers text and refuses it.
                    if (!read.data.values.empty()) {
                        look.fingerprint = x11::textFingerprint(read.data.values.front().bytes);
                    } else {
                        look.refused = std::ranges::any_of(x11::textTargets, [&](auto target) {
                            return read.data.refuses(target);
                        });
                    }
                } else {
                    look.refused = read.failure == PasteboardSaveFailure::typeFailed;
                }
                {
                    std::lock_guard lock(inbox->mutex);
                    inbox->looks.push_back(std::move(look));
                }
                inbox->ring();
            });
    }

    // A clipboard manager that fills the emptied selection once the program has gone puts back
    // the last contents it saw: the borrow's text, or, saved from an owner going away in the
    // middle, a list of targets it cannot give. The user's contents go back over either; any
    // other copy, and any copy of another client, stands.
    void handleLooks() {
        for (const auto& look : inbox_->take(inbox_->looks)) {
            const auto data = servedFor(look.selection);
            if (!data) {
                continue;
            }
            const auto moment = moments_.find(look.selection);
            const bool borrowsText = moment != moments_.end() && look.fingerprint != 0 &&
                                     look.fingerprint == moment->second;
            if ((borrowsText || look.refused) && selections_->own(look.selection, data)) {
                say("the program ended during a borrow and a clipboard manager put " +
                    std::string(borrowsText ? "its text" : "contents it cannot give") +
                    " back: " + look.selection + " holds " +
                    (left_.contains(look.selection) ? "the text left for the person again"
                                                    : "the user's contents again"));
                refills_.erase(look.selection);
            } else {
                drop(look.selection);
            }
        }
    }

    // Whether the program's window id is now another process's. Told by the process the server
    // gives for it: a change of the program's own made before it went may still be on its way
    // here, with the id then still its own or nobody's.
    [[nodiscard]] bool programWindowReused() {
        const auto client = selections_->clientOf(programWindow_);
        return programPid_ > 1 && client.pid && *client.pid != programPid_;
    }

    void forgetProgramWindow() {
        programWindow_ = 0;
        for (const auto& [selection, data] : held_) {
            selections_->standBy(selection, nullptr, 0);
        }
        for (const auto& [selection, left] : left_) {
            selections_->standBy(selection, nullptr, 0);
        }
    }

    void keep(const std::string& selection, std::shared_ptr<const x11::SelectionData> data) {
        selections_->standBy(selection, data, programWindow_);
        held_[selection] = std::move(data);
        everHeld_ = true;
    }

    void drop(const std::string& selection) {
        selections_->standBy(selection, nullptr, 0);
        held_.erase(selection);
        forgetLeft(selection);
    }

    [[nodiscard]] bool keeps(const std::string& selection) const {
        return held_.contains(selection) || left_.contains(selection);
    }

    // What the keeper serves for `selection` should it take it now: the text left for the
    // person while its time runs, else the contents it holds; none: nothing.
    [[nodiscard]] std::shared_ptr<const x11::SelectionData> servedFor(
        const std::string& selection) const {
        if (const auto left = left_.find(selection); left != left_.end()) {
            return left->second.text;
        }
        const auto held = held_.find(selection);
        return held != held_.end() ? held->second : nullptr;
    }

    void forgetLeft(const std::string& selection) {
        const auto left = left_.find(selection);
        if (left == left_.end()) {
            return;
        }
        moments_.erase(selection);
        left_.erase(left);
    }

    // Texts left for the person whose time is up: where the keeper serves one (the program has
    // gone), the user's contents take its place, or the selection goes to nobody when theirs
    // was empty; only while the keeper still has it, so never over a copy made since.
    void endLeftTexts() {
        for (auto left = left_.begin(); left != left_.end();) {
            if (Clock::now() < left->second.until) {
                ++left;
                continue;
            }
            const std::string selection = left->first;
            const bool serving = selections_->owned(selection) == left->second.text;
            moments_.erase(selection);
            left = left_.erase(left);
            const auto held = servedFor(selection);
            const auto change = selections_->lastOwnChange(selection);
            if (serving &&
                selections_->isLastChange(selection, change) == x11::Selections::Verdict::yes) {
                // A change of its own at the server's time now, not a new answer under the old
                // ownership: readers that keep the list of targets until the selection changes
                // (Qt does) would go on offering the text's.
                if (held) {
                    (void)selections_->own(selection, held);
                } else {
                    (void)selections_->clear(selection, change);
                }
                say("the text left for the person on " + selection + " has had its time: " +
                    (held ? "the user's contents are back" : "it is empty again, as it was"));
            }
            selections_->standBy(selection, held, programWindow_);
        }
    }

    void send(KeeperMessage kind, const std::vector<std::uint8_t>& payload) {
        if (!program_) {
            return;
        }
        const auto frame = x11::encodeFrame(kind, payload);
        std::size_t sent = 0;
        while (sent < frame.size()) {
            const ssize_t n = ::write(1, frame.data() + sent, frame.size() - sent);
            if (n <= 0 && errno != EINTR) {
                return;
            }
            sent += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }

    std::shared_ptr<x11::Selections> selections_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    // The fingerprint of the moment's text the program has on each selection, and the clients
    // that fetched it from aside (at most maxFetchers).
    std::map<std::string, std::uint64_t> moments_;
    static constexpr std::size_t maxFetchers = 16;
    std::map<std::string, std::vector<x11::ClientIdentity>> fetchers_;
    // Since when each selection is watched for a refill of the borrow's text.
    std::map<std::string, Clock::time_point> refills_;
    x11::KeeperFrameReader frames_{x11::maxProgramPayload()};
    std::map<std::string, std::shared_ptr<const x11::SelectionData>> held_;
    // The text the program left on each selection for the person, until when.
    struct Left {
        std::shared_ptr<const x11::SelectionData> text;
        Clock::time_point until;
    };
    std::map<std::string, Left> left_;
    std::uint32_t programWindow_ = 0;
    const pid_t programPid_ = ::getppid();  // the program started the keeper
    bool program_ = true;  // its end of the socket is open
    bool everHeld_ = false;
};

}  // namespace

int runClipboardKeeper() {
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_NAME, clipboardKeeperName.data(), 0, 0, 0);
    auto selections = x11::Selections::open();
    if (!selections) {
        say("no display");
        return 1;
    }
    const int status = Keeper(selections).run();
    if (status == 2) {
        say("the program's messages could not be read");
    }
    return status;
}

}  // namespace ravlin::platform
