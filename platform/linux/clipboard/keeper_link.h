#pragma once

// The program's end of its clipboard keeper (clipboard_keeper.h): started on first need,
// detached, one at a time; started again when the last one has ended. Every exchange is bounded
// in time; a keeper that cannot be started or reached is said once, and the caller serves the
// contents itself instead. A keeper the link gives up on (it stopped answering) is ended, so
// that two never serve at once, and every keeper that ends while the program runs is reaped.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/process/unique_fd.h"
#include "platform/linux/clipboard/keeper_protocol.h"
#include "platform/linux/clipboard/selection_data.h"

namespace ravlin::platform {

class KeeperLink {
  public:
    using Clock = std::chrono::steady_clock;
    // How long a start, or one exchange, may take.
    static constexpr auto startWait = std::chrono::milliseconds(1000);
    static constexpr auto exchangeWait = std::chrono::milliseconds(1000);

    // `program`: the keeper's executable; `ownWindow`: the window of the program's selections.
    KeeperLink(std::string program, std::uint32_t ownWindow);
    ~KeeperLink();
    KeeperLink(const KeeperLink&) = delete;
    KeeperLink& operator=(const KeeperLink&) = delete;

    // The running keeper's window, starting one if none runs; none when none can be had by
    // `until`.
    std::optional<std::uint32_t> ensure(Clock::time_point until);
    // The running keeper's window (0: none known to run), without starting one.
    [[nodiscard]] std::uint32_t window();
    // Counts the keepers started: a keeper that holds something holds it for this one only.
    [[nodiscard]] std::uint64_t generation() const { return generation_; }
    // The running keeper's end of the link becomes readable when it ends (-1: none runs), for a
    // caller that wants to hear of it at once.
    [[nodiscard]] int endingSignal() const { return socket_ ? socket_.get() : -1; }
    // Hands the keeper `data` for `selection` (see the protocol); false when it could not.
    bool hold(const std::string& selection, const x11::SelectionData& data,
              Clock::time_point until);
    // Asks the keeper to take `selection` with what it holds, as of `time` (0: now); whether it
    // did.
    bool take(const std::string& selection, std::uint32_t time, Clock::time_point until);

    // Tells the keeper of the text the program has left on a selection for the person (see
    // KeeperLeave), and waits until it stands by with it; with 0 milliseconds that none is left
    // there any more (no keeper is started, no answer awaited). False when it could not.
    bool leave(const x11::KeeperLeave& leave, Clock::time_point until);

    // Tells a running keeper the fingerprint of the moment's text now on `selection` (0: none
    // any more), so that it knows that text should a clipboard manager put it back after the
    // program is gone. Starts no keeper.
    void moment(const std::string& selection, std::uint64_t fingerprint);
    // Tells a running keeper of a client that fetched that text from aside (a clipboard
    // manager). Starts no keeper.
    void fetcher(const std::string& selection, std::uint32_t base, std::int32_t pid);

    // Told of what went wrong (a keeper that cannot be started, that stopped answering).
    std::function<void(const std::string&)> onTrouble;

  private:
    bool start(Clock::time_point until);
    bool send(x11::KeeperMessage kind, const std::vector<std::uint8_t>& payload,
              Clock::time_point until);
    std::optional<x11::KeeperFrame> receive(Clock::time_point until);
    // The keeper's `taken` answer to the message just sent: whether it took; a keeper that does
    // not answer so is given up on.
    bool taken(Clock::time_point until);
    // Whether the keeper's end is still open (its going away is read, and it is reaped).
    bool alive();
    // Gives up on the running keeper: ended (unless it has), and reaped once it has.
    void drop(const std::string& why);
    void forget(bool end);
    void reapEnded();

    std::string program_;
    std::uint32_t ownWindow_;
    process::UniqueFd socket_;
    pid_t pid_ = 0;
    std::uint32_t window_ = 0;
    std::uint64_t generation_ = 0;
    // Keepers left behind that have not been reaped yet.
    std::vector<pid_t> ending_;
    x11::KeeperFrameReader frames_{64};
    bool toldCannotStart_ = false;
};

}  // namespace ravlin::platform
