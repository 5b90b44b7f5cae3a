#include "platform/linux/clipboard/keeper_link.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <utility>

#include "platform/linux/clipboard/clipboard_keeper.h"

extern char** environ;  // NOLINT: POSIX

namespace ravlin::platform {
namespace {

int remainingMs(KeeperLink::Clock::time_point until) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - KeeperLink::Clock::now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, 60'000));
}

}  // namespace

KeeperLink::KeeperLink(std::string program, std::uint32_t ownWindow)
    : program_(std::move(program)), ownWindow_(ownWindow) {}

KeeperLink::~KeeperLink() {
    // The running keeper goes on without us; those that have ended are reaped.
    if (pid_ > 0) {
        ::waitpid(pid_, nullptr, WNOHANG);
    }
    reapEnded();
}

void KeeperLink::reapEnded() {
    std::erase_if(ending_, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

std::optional<std::uint32_t> KeeperLink::ensure(Clock::time_point until) {
    reapEnded();
    if (alive() || start(until)) {
        return window_;
    }
    return std::nullopt;
}

std::uint32_t KeeperLink::window() {
    return alive() ? window_ : 0;
}

bool KeeperLink::hold(const std::string& selection, const x11::SelectionData& data,
                      Clock::time_point until) {
    if (!ensure(until)) {
        return false;
    }
    if (!send(x11::KeeperMessage::hold, x11::encodeHandOff({selection, 0, data}), until)) {
        drop("hold-not-sent");
        return false;
    }
    // Once it answers, it stands by with them: the program going from then on, even before its
    // next message, leaves them on the selection.
    return taken(until);
}

bool KeeperLink::taken(Clock::time_point until) {
    const auto answer = receive(until);
    if (!answer || answer->kind != x11::KeeperMessage::taken || answer->payload.size() != 1) {
        drop("no-answer");
        return false;
    }
    return answer->payload[0] == 1;
}

bool KeeperLink::take(const std::string& selection, std::uint32_t time, Clock::time_point until) {
    if (!alive() || !send(x11::KeeperMessage::take, x11::encodeTake({selection, time}), until)) {
        return false;
    }
    return taken(until);
}

bool KeeperLink::leave(const x11::KeeperLeave& leave, Clock::time_point until) {
    const bool over = leave.milliseconds == 0;
    if (over ? !alive() : !ensure(until)) {
        return false;
    }
    if (!send(x11::KeeperMessage::leave, x11::encodeLeave(leave), until)) {
        drop("leave-not-sent");
        return false;
    }
    if (over) {
        return true;
    }
    // Once it answers, it stands by with the text: a crash from then on leaves it there.
    return taken(until);
}

void KeeperLink::moment(const std::string& selection, std::uint64_t fingerprint) {
    if (alive() && !send(x11::KeeperMessage::moment, x11::encodeMoment({selection, fingerprint}),
                         Clock::now() + exchangeWait)) {
        drop("moment-not-sent");
    }
}

void KeeperLink::fetcher(const std::string& selection, std::uint32_t base, std::int32_t pid) {
    if (alive() && !send(x11::KeeperMessage::fetcher, x11::encodeFetcher({selection, base, pid}),
                         Clock::now() + exchangeWait)) {
        drop("fetcher-not-sent");
    }
}

bool KeeperLink::start(Clock::time_point until) {
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
    // Standard error stays the program's: what the keeper says reaches where the program's does.
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
    std::string name(clipboardKeeperName);
    std::string option(clipboardKeeperOption);
    char* argv[] = {name.data(), option.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program_.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    theirs.reset();
    if (spawned != 0) {
        if (!toldCannotStart_ && onTrouble) {
            onTrouble("keeper_not_started program=" + program_);
        }
        toldCannotStart_ = true;
        return false;
    }
    ::fcntl(ours.get(), F_SETFL, ::fcntl(ours.get(), F_GETFL) | O_NONBLOCK);
    socket_ = std::move(ours);
    pid_ = pid;
    frames_ = x11::KeeperFrameReader(64);
    const auto ready = receive(until);
    const auto window = ready && ready->kind == x11::KeeperMessage::ready
                            ? x11::decodeWord(ready->payload)
                            : std::nullopt;
    if (!window || !send(x11::KeeperMessage::program, x11::encodeWord(ownWindow_), until)) {
        drop("not-ready");
        return false;
    }
    window_ = *window;
    ++generation_;
    toldCannotStart_ = false;
    return true;
}

bool KeeperLink::send(x11::KeeperMessage kind, const std::vector<std::uint8_t>& payload,
                      Clock::time_point until) {
    const auto frame = x11::encodeFrame(kind, payload);
    std::size_t sent = 0;
    while (sent < frame.size() && socket_) {
        const ssize_t n = ::send(socket_.get(), frame.data() + sent, frame.size() - sent,
                                 MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd out{socket_.get(), POLLOUT, 0};
        if (remainingMs(until) == 0 || ::poll(&out, 1, remainingMs(until)) < 0) {
            return false;
        }
    }
    return sent == frame.size();
}

std::optional<x11::KeeperFrame> KeeperLink::receive(Clock::time_point until) {
    while (socket_) {
        if (auto frame = frames_.next()) {
            return frame;
        }
        if (frames_.broken()) {
            return std::nullopt;
        }
        std::uint8_t buffer[256];
        const ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            frames_.feed(std::span(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return std::nullopt;
        }
        pollfd in{socket_.get(), POLLIN, 0};
        if (remainingMs(until) == 0 || ::poll(&in, 1, remainingMs(until)) <= 0) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool KeeperLink::alive() {
    if (!socket_) {
        return false;
    }
    // The keeper says nothing unasked: anything readable is its end closing.
    pollfd in{socket_.get(), POLLIN, 0};
    if (::poll(&in, 1, 0) > 0) {
        forget(false);
        return false;
    }
    return true;
}

void KeeperLink::drop(const std::string& why) {
    if (onTrouble) {
        onTrouble("keeper_lost reason=" + why);
    }
    forget(true);
}

void KeeperLink::forget(bool end) {
    socket_.reset();
    window_ = 0;
    if (pid_ > 0) {
        // One that no longer answers may still serve: ended, so that the next is the only one.
        if (end) {
            ::kill(pid_, SIGTERM);
        }
        ending_.push_back(std::exchange(pid_, 0));
    }
    reapEnded();
}

}  // namespace ravlin::platform
