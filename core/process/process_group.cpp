#include "core/process/process_group.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace ravlin::process {

static_assert(std::chrono::steady_clock::is_steady, "waits need a monotonic clock");

namespace {

void idleUntil(const IdleFunction& idle, Instant until) {
    if (idle) {
        idle(until);
    } else {
        std::this_thread::sleep_until(until);
    }
}

// Whether /proc lists a process of group `pid` that has not ended. Zombies are left out: they
// can no longer run or be stopped, and an orphaned one lingers until the system reaps it.
// Absent when /proc cannot be read.
std::optional<bool> groupHasLiveMember(pid_t pid) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return std::nullopt;
    }
    bool live = false;
    while (!live) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr) {
            break;
        }
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        char path[sizeof "/proc//stat" + sizeof entry->d_name];
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
        ::close(fd);
        if (n <= 0) {
            continue;
        }
        // "pid (comm) state ppid pgrp ...": the name may hold anything, so parse after the last
        // ')'.
        const std::string_view stat(buffer, static_cast<std::size_t>(n));
        const auto close = stat.rfind(')');
        if (close == std::string_view::npos || close + 2 >= stat.size()) {
            continue;
        }
        const char state = stat[close + 2];
        buffer[n] = '\0';
        char* cursor = buffer + close + 3;
        (void)std::strtol(cursor, &cursor, 10);  // ppid
        const long group = std::strtol(cursor, &cursor, 10);
        live = group == pid && state != 'Z' && state != 'X';
    }
    ::closedir(proc);
    return live;
}

Instant nextPoll(Instant deadline) {
    return std::min(deadline, std::chrono::steady_clock::now() + kPollInterval);
}

}  // namespace

std::chrono::nanoseconds durationFromSeconds(double seconds) {
    if (!(seconds > 0)) {
        return std::chrono::nanoseconds::zero();
    }
    // About 31 years: far beyond any run, far below the range of the clock.
    constexpr double kLimit = 1e9;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(std::min(seconds, kLimit)));
}

int exitStatusFromWaitStatus(int rawStatus) {
    if (WIFEXITED(rawStatus)) {
        return WEXITSTATUS(rawStatus);
    }
    if (WIFSIGNALED(rawStatus)) {
        return 128 + WTERMSIG(rawStatus);
    }
    return rawStatus;
}

std::optional<int> reapIfExited(pid_t pid) {
    for (;;) {
        int raw = 0;
        const pid_t rc = ::waitpid(pid, &raw, WNOHANG);
        if (rc == pid) {
            return exitStatusFromWaitStatus(raw);
        }
        if (rc == 0) {
            return std::nullopt;
        }
        if (errno == EINTR) {
            continue;
        }
        return -1;
    }
}

std::optional<int> waitForExit(pid_t pid, std::chrono::nanoseconds timeout,
                               const IdleFunction& idle) {
    const Instant deadline =
        std::chrono::steady_clock::now() + std::max(timeout, std::chrono::nanoseconds::zero());
    for (;;) {
        if (auto status = reapIfExited(pid)) {
            return status;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        idleUntil(idle, nextPoll(deadline));
    }
}

bool signalProcessGroup(pid_t pid, int signal) {
    if (pid <= 1) {
        return false;
    }
    return ::kill(-pid, signal) == 0;
}

bool processGroupExists(pid_t pid) {
    if (pid <= 1) {
        return false;
    }
    if (::kill(-pid, 0) != 0 && errno == ESRCH) {
        return false;
    }
    return groupHasLiveMember(pid).value_or(true);
}

bool waitForProcessGroupExit(pid_t pid, std::chrono::nanoseconds timeout,
                             const IdleFunction& idle) {
    const Instant deadline =
        std::chrono::steady_clock::now() + std::max(timeout, std::chrono::nanoseconds::zero());
    while (std::chrono::steady_clock::now() < deadline) {
        if (!processGroupExists(pid)) {
            return true;
        }
        idleUntil(idle, nextPoll(deadline));
    }
    return !processGroupExists(pid);
}

void terminateProcessGroup(pid_t pid, const IdleFunction& idle, std::chrono::nanoseconds grace) {
    if (!processGroupExists(pid)) {
        return;
    }
    signalProcessGroup(pid, SIGTERM);
    if (waitForProcessGroupExit(pid, grace, idle)) {
        return;
    }
    signalProcessGroup(pid, SIGKILL);
    (void)waitForProcessGroupExit(pid, grace, idle);
}

}  // namespace ravlin::process
