#pragma once

// Starting a program as the leader of a new process group, with its three standard streams
// wired to descriptors the caller made, a clean signal state, and no other descriptor of ours.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ravlin::process {

// A failed step of starting a child: the name of the call and the error number it returned.
struct SpawnError {
    std::string function;
    std::int32_t code = 0;

    // `function`, " failed: ", and the system's message for `code`.
    [[nodiscard]] std::string description() const;

    friend bool operator==(const SpawnError&, const SpawnError&) = default;
};

using Environment = std::map<std::string, std::string>;

// The process environment as it is at this moment. A variable listed twice keeps its first value.
[[nodiscard]] Environment currentEnvironment();

// "NAME=value" entries in ascending order of name, so one map always gives the same vector.
[[nodiscard]] std::vector<std::string> environmentEntries(const Environment& environment);

struct SpawnRequest {
    // A full path; the search path is never consulted.
    std::string executablePath;
    // The arguments after the program name (the program name is the executable path).
    std::vector<std::string> arguments;
    // Absent: the process environment at the moment of the start.
    std::optional<Environment> environment;
};

// The descriptors a child is started with. The parent's ends are closed in the child; every
// other descriptor of ours above 2 is closed in the child too.
struct ChildDescriptors {
    int standardInputRead = -1;  // -1: standard input is "/dev/null"
    int standardInputWrite = -1;
    int standardOutputRead = -1;
    int standardOutputWrite = -1;
    int standardErrorRead = -1;
    int standardErrorWrite = -1;
};

struct SpawnResult {
    pid_t processID = -1;  // also the id of the child's new process group
    std::optional<SpawnError> error;
};

// Starts the program with posix_spawn in a new process group (group id = its process id),
// with an empty signal mask and every signal at its default action.
[[nodiscard]] SpawnResult spawnInNewProcessGroup(const SpawnRequest& request,
                                                 const ChildDescriptors& descriptors);

}  // namespace ravlin::process
