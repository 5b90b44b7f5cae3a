#include "platform/linux/clipboard/clipboard_keeper.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/process/unique_fd.h"
#include "platform/linux/clipboard/x11_selections.h"

extern char** environ;  // NOLINT: POSIX

namespace ravlin::platform {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long the keeper waits for its hand-off to arrive whole.
constexpr auto handOffWait = 5s;

int remainingMs(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::max<std::int64_t>(left, 0));
}

bool sendAll(int fd, const std::vector<std::uint8_t>& bytes, Clock::time_point until) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd out{fd, POLLOUT, 0};
        if (remainingMs(until) == 0 || ::poll(&out, 1, remainingMs(until)) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool startClipboardKeeper(const std::string& program, const x11::SelectionHandOff& handOff,
                          std::chrono::milliseconds limit) {
    const x11::SelectionLimits limits;
    if (handOff.data.byteCount() > limits.maxBytes ||
        handOff.data.targets.size() > limits.maxTargets) {
        return false;
    }
    const auto until = Clock::now() + limit;
    const auto bytes = x11::encodeHandOff(handOff);
    // One socket for both ways: the hand-off goes in on the keeper's standard input, its word
    // that it serves the selection comes back on its standard output.
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    process::UniqueFd ours(ends[0]);
    process::UniqueFd theirs(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session, nothing blocked, the usual signal actions: it outlives us on its own.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
        sigaddset(&defaults, number);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string option(clipboardKeeperOption);
    char* argv[] = {const_cast<char*>(program.c_str()), option.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    theirs.reset();
    if (spawned != 0) {
        return false;
    }
    ::fcntl(ours.get(), F_SETFL, ::fcntl(ours.get(), F_GETFL) | O_NONBLOCK);
    if (!sendAll(ours.get(), bytes, until)) {
        return false;
    }
    ::shutdown(ours.get(), SHUT_WR);
    while (true) {
        char word = 0;
        const ssize_t n = ::recv(ours.get(), &word, 1, 0);
        if (n == 1) {
            return word == '1';
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        pollfd in{ours.get(), POLLIN, 0};
        if (remainingMs(until) == 0 || ::poll(&in, 1, remainingMs(until)) < 0) {
            return false;
        }
    }
}

int runClipboardKeeper() {
    std::signal(SIGPIPE, SIG_IGN);
    const x11::SelectionLimits limits;
    const std::size_t cap = x11::maxHandOffBytes(limits);
    const auto until = Clock::now() + handOffWait;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> buffer(1 << 16);
    while (true) {
        pollfd in{0, POLLIN, 0};
        if (remainingMs(until) == 0 || ::poll(&in, 1, remainingMs(until)) <= 0) {
            return 2;
        }
        const ssize_t n = ::read(0, buffer.data(), buffer.size());
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return 2;
        }
        if (bytes.size() + static_cast<std::size_t>(n) > cap) {
            return 2;  // more than a hand-off within the caps can be
        }
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    }
    buffer = {};
    auto handOff = x11::decodeHandOff(bytes, limits);
    bytes = {};
    if (!handOff) {
        return 2;
    }
    // Before the connection: its thread may still be telling a change when it is closed.
    std::mutex mutex;
    std::condition_variable changed;
    bool taken = false;
    auto selections = x11::Selections::open();
    if (!selections) {
        return 1;
    }
    selections->onForeignChange([&](const std::string& which, std::uint64_t) {
        if (which == handOff->selection) {
            std::lock_guard lock(mutex);
            taken = true;
            changed.notify_all();
        }
    });
    const bool serving = selections->ownAsOf(
        handOff->selection, std::make_shared<const x11::SelectionData>(std::move(handOff->data)),
        handOff->time);
    if (serving) {
        [[maybe_unused]] const auto written = ::write(1, "1", 1);
        std::unique_lock lock(mutex);
        while (!taken && selections->connected()) {
            changed.wait_for(lock, 1s);
        }
    }
    selections->onForeignChange(nullptr);
    return 0;
}

}  // namespace ravlin::platform
