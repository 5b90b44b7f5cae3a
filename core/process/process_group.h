#pragma once

// Waiting for a child and stopping its whole process group. Every wait is measured on the
// monotonic clock, so setting the system clock neither ends a wait early nor stretches it.
//
// The pauses between polls go through an idle function, so a caller with pipes to service can
// keep draining them while it waits; by default the thread just sleeps.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>

#include "core/support/clock.h"

namespace ravlin::process {

// Called with the instant to idle until (at most); it may return earlier.
using IdleFunction = std::function<void(Instant until)>;

// The pause between two polls of a child or a group.
inline constexpr std::chrono::milliseconds kPollInterval{10};
// How long a child or a group is given after SIGTERM, and again after SIGKILL.
inline constexpr std::chrono::milliseconds kTerminationGrace{250};

// Converts seconds to a duration: NaN and values below zero give zero, huge values are capped.
[[nodiscard]] std::chrono::nanoseconds durationFromSeconds(double seconds);

// A status reported by waitpid as a number: the exit code for a normal exit, 128 + the signal
// for a death by signal, the raw value otherwise.
[[nodiscard]] int exitStatusFromWaitStatus(int rawStatus);

// Reaps `pid` without blocking: its status once it has ended, -1 when waitpid fails (other than
// by interruption, which is retried), absent while it runs.
[[nodiscard]] std::optional<int> reapIfExited(pid_t pid);

// Polls `pid` every 10 ms at most until it has been reaped or `timeout` has passed (absent then).
[[nodiscard]] std::optional<int> waitForExit(pid_t pid, std::chrono::nanoseconds timeout,
                                             const IdleFunction& idle = {});

// Sends `signal` to the process group `pid` (never to group 0 or 1; those are refused).
// Returns whether the signal was delivered.
bool signalProcessGroup(pid_t pid, int signal);

// Whether a process of group `pid` still runs: a probe with signal 0 does not fail with ESRCH,
// and (where /proc can be read) a member of the group has not ended; zombies waiting for the
// system to reap them do not count.
[[nodiscard]] bool processGroupExists(pid_t pid);

// Probes group `pid` until it is gone or `timeout` has passed; true when it is gone.
[[nodiscard]] bool waitForProcessGroupExit(pid_t pid, std::chrono::nanoseconds timeout,
                                           const IdleFunction& idle = {});

// Stops what is left of group `pid`: SIGTERM, up to `grace` for it to vanish, then SIGKILL and up
// to `grace` more. Does nothing when the group is already gone.
void terminateProcessGroup(pid_t pid, const IdleFunction& idle = {},
                           std::chrono::nanoseconds grace = kTerminationGrace);

}  // namespace ravlin::process
