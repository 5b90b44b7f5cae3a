#pragma once

// One run of a child program: started in a process group of its own, its standard input fed
// from a buffer (or "/dev/null"), standard output and standard error drained into bounded sinks,
// all by one poll() loop on the calling thread, which also watches a wake-up descriptor for
// cancellation. The run ends when the child has exited, the time-out has passed or the stop
// token was triggered; in the last two cases the group gets SIGTERM, then SIGKILL after the
// grace. Whatever the child left in its group is stopped before the call returns, the child is
// always reaped, and every descriptor the run opened is closed.
//
// SIGPIPE is blocked on the calling thread for the length of the run, so a child that closes its
// input early makes our write fail with EPIPE instead of killing us.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "core/process/output_capture.h"
#include "core/process/process_group.h"
#include "core/process/spawn.h"

namespace ravlin::process {

struct ChildRunOptions {
    SpawnRequest spawn;
    // Absent: the child reads "/dev/null". Present: written to a pipe in full, then the pipe is
    // closed so the child sees the end of its input (at once when empty).
    std::optional<std::string> standardInput;
    std::chrono::nanoseconds timeout{0};
    // Given to the child after SIGTERM and again after SIGKILL, and to the rest of its group.
    std::chrono::nanoseconds terminationGrace = kTerminationGrace;
    // Given to each output pipe after the child has ended, to reach its end of file (a process
    // outside the group may still hold it open).
    std::chrono::nanoseconds drainGrace = kTerminationGrace;
    // A stop request ends the run as cancelled; the child's group gets SIGTERM at once from the
    // thread that asks.
    std::stop_token stopToken;

    // Observation points for tests; all optional. `onStarted` and `onReaped` run on the run's
    // thread, right after the start and right after the reaping of the child. `signalGroup`
    // replaces signalProcessGroup for the signals the run sends to the child's group.
    std::function<void(pid_t)> onStarted;
    std::function<void(pid_t)> onReaped;
    std::function<bool(pid_t, int)> signalGroup;
};

struct ChildRunOutcome {
    // Set when the child could not be started; nothing else is meaningful then.
    std::optional<SpawnError> spawnError;
    // The child's status (exit code, or 128 + signal); -1 when waitpid failed.
    int status = -1;
    bool timedOut = false;
    bool cancelled = false;
};

// Runs the child to its end as described above. Blocks the calling thread; never throws for
// failures of the child or of the system calls (they are reported in the outcome).
[[nodiscard]] ChildRunOutcome runChild(const ChildRunOptions& options, OutputSink& standardOutput,
                                       OutputSink& standardError);

}  // namespace ravlin::process
