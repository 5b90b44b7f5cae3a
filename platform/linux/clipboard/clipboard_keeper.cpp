#include "platform/linux/clipboard/clipboard_keeper.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/clipboard/keeper_protocol.h"
#include "platform/linux/clipboard/x11_selections.h"

namespace ravlin::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using x11::KeeperMessage;

// Started for nothing: how long it waits for its first contents.
constexpr auto firstHoldWait = 5s;
// Holding nothing more: how long its answers in progress may take to end.
constexpr auto transfersWait = 10s;

void say(const std::string& line) {
    std::fprintf(stderr, "ravlin %s: %s\n", clipboardKeeperOption.data(), line.c_str());
}

class Keeper {
  public:
    explicit Keeper(std::shared_ptr<x11::Selections> selections)
        : selections_(std::move(selections)) {
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
        selections_->onOwnerChange([this](const x11::Selections::OwnerChange& change) {
            {
                std::lock_guard lock(mutex_);
                changes_.push_back(change);
            }
            [[maybe_unused]] const auto written = ::write(wake_[1], "x", 1);
        });
    }
    ~Keeper() {
        selections_->onOwnerChange(nullptr);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    Keeper(const Keeper&) = delete;
    Keeper& operator=(const Keeper&) = delete;

    int run() {
        send(KeeperMessage::ready, x11::encodeWord(selections_->window()));
        const auto started = Clock::now();
        std::optional<Clock::time_point> emptySince;
        while (selections_->connected()) {
            if (held_.empty() && (everHeld_ || Clock::now() - started >= firstHoldWait)) {
                // Nothing more to keep: the answers still going out end first.
                emptySince = emptySince.value_or(Clock::now());
                if (selections_->transfersInProgress() == 0 ||
                    Clock::now() - *emptySince >= transfersWait) {
                    return 0;
                }
            } else {
                emptySince.reset();
            }
            pollfd fds[2] = {{program_ ? 0 : -1, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            ::poll(fds, 2, 200);
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readProgram()) {
                return 2;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                char drained[64];
                while (::read(wake_[0], drained, sizeof drained) > 0) {
                }
            }
            handleChanges();
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
                return window.has_value();
            }
            case KeeperMessage::hold: {
                auto handOff = x11::decodeHandOff(frame.payload, {});
                if (!handOff) {
                    return false;
                }
                auto data = std::make_shared<const x11::SelectionData>(std::move(handOff->data));
                // Serving the selection already: what it serves from now on.
                if (selections_->owned(handOff->selection)) {
                    (void)selections_->ownAsOf(handOff->selection, data,
                                               selections_->ownedSince(handOff->selection));
                }
                held_[handOff->selection] = std::move(data);
                everHeld_ = true;
                return true;
            }
            case KeeperMessage::take: {
                const auto take = x11::decodeTake(frame.payload);
                if (!take) {
                    return false;
                }
                const auto found = held_.find(take->selection);
                bool taken = false;
                if (found != held_.end()) {
                    taken = take->time != 0
                                ? selections_->ownAsOf(take->selection, found->second, take->time)
                                : selections_->own(take->selection, found->second).has_value();
                }
                send(KeeperMessage::taken, std::vector<std::uint8_t>{taken ? std::uint8_t{1}
                                                                           : std::uint8_t{0}});
                return true;
            }
            case KeeperMessage::ready:
            case KeeperMessage::taken:
                return false;  // the keeper's own words
        }
        return false;
    }

    void handleChanges() {
        std::deque<x11::Selections::OwnerChange> changes;
        {
            std::lock_guard lock(mutex_);
            changes.swap(changes_);
        }
        for (const auto& change : changes) {
            const auto held = held_.find(change.selection);
            if (held == held_.end()) {
                continue;
            }
            const bool programs = programWindow_ != 0 && change.previous == programWindow_;
            if (change.ownerGone && programs) {
                // The program went while its own text was on the selection: the user's contents
                // come back, unless something newer was copied meanwhile.
                if (selections_->ownAsOf(change.selection, held->second, change.time)) {
                    say("the program ended during a borrow: " + change.selection +
                        " holds the user's contents again");
                } else {
                    held_.erase(held);
                }
            } else if (change.ownerGone || (change.owner != programWindow_ &&
                                            change.owner != selections_->window())) {
                held_.erase(held);  // another client's copy, or nobody's: not ours to keep
            }
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
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<x11::Selections::OwnerChange> changes_;  // under mutex_
    x11::KeeperFrameReader frames_{x11::maxHandOffBytes({})};
    std::map<std::string, std::shared_ptr<const x11::SelectionData>> held_;
    std::uint32_t programWindow_ = 0;
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
