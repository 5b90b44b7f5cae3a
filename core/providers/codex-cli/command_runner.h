#pragma once

// The short commands Codex tool detection runs: the tool's version query, a location query and
// a login shell printing its search path. Each is bounded in time and in output, whatever the
// program does (hangs, floods, starts background processes).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/process/spawn.h"

namespace ravlin {

// How a short command ended and what it printed.
struct QNCodexCLICommandResult {
    // Exit code; 128 + signal when killed by a signal; 124 when it timed out; -1 when it could
    // not be started or waiting for it failed.
    std::int32_t terminationStatus = 0;
    std::string stdout;
    std::string stderr;

    friend bool operator==(const QNCodexCLICommandResult&,
                           const QNCodexCLICommandResult&) = default;
};

// A failed step of starting a command: the call's name and its error number; described as the
// name, " failed: " and the system's message.
using QNCodexCLISpawnError = process::SpawnError;

// The detector's time-out and per-stream output cap.
inline constexpr double kCodexCLIDetectorTimeoutSeconds = 2.0;
inline constexpr std::int64_t kCodexCLIDetectorMaxOutputBytes = 65536;

// Runs `executablePath` (a full path; the search path is not consulted) with `arguments`, in a
// process group of its own, with "/dev/null" as standard input and `environment` (or the process
// environment when absent). Keeps the first `maxOutputBytes` bytes of each output stream. After
// `timeoutSeconds` the group is stopped and the status is 124, with a note of the time-out after
// the standard error text. Blocks the calling thread; never throws.
[[nodiscard]] QNCodexCLICommandResult runCodexCLICommand(
    const std::string& executablePath, const std::vector<std::string>& arguments,
    const std::optional<process::Environment>& environment, double timeoutSeconds,
    std::int64_t maxOutputBytes);

}  // namespace ravlin
