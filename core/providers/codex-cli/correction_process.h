#pragma once

// One correction run of the Codex tool: its command line, the child process with the prompt on
// its standard input, the collected output within a byte budget, the time-out and cancellation.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/process/spawn.h"

namespace ravlin {

// One child process to run.
struct QNCodexCLICorrectionInvocation {
    // Absolute path of the tool; the program path and the first argument.
    std::string executablePath;
    // The arguments after the program name.
    std::vector<std::string> arguments;
    // The prompt, written to the child's standard input as UTF-8.
    std::string standardInput;
    // The per-run working directory (made and removed by the provider).
    std::filesystem::path temporaryDirectory;
    // Where the tool writes its final message.
    std::filesystem::path outputFile;
    double timeoutSeconds = 30.0;
    // Per stream; the provider passes kCodexCLIMaxOutputBytes.
    std::int64_t maxOutputBytes = 0;

    friend bool operator==(const QNCodexCLICorrectionInvocation&,
                           const QNCodexCLICorrectionInvocation&) = default;
};

inline constexpr std::int64_t kCodexCLIMaxOutputBytes = 524288;

// How a run ended.
struct QNCodexCLICorrectionProcessResult {
    // Exit code; 128 + signal when killed by a signal; 124 timed out; 130 cancelled; -1 when
    // the child failed to start or waitpid failed.
    std::int32_t terminationStatus = 0;
    // Each stream keeps its first and last halves of the budget with a marker between them when
    // it ran over.
    std::string stdout;
    // When the child failed to start: the description of the start error.
    std::string stderr;
    bool timedOut = false;
    bool cancelled = false;

    friend bool operator==(const QNCodexCLICorrectionProcessResult&,
                           const QNCodexCLICorrectionProcessResult&) = default;
};

// A failed step of starting the child (same shape and description as the detector's).
using QNCodexCLICorrectionSpawnError = process::SpawnError;

namespace codex_cli {

// The tool's arguments for one correction run, in order: "exec", "--json", "--cd" D,
// "--skip-git-repo-check", "--sandbox" "read-only", "--ephemeral", "--output-last-message" F,
// "--color" "never", "-c" "approval_policy=never", with `includeExtraConfig` the pairs
// "-c" "web_search=disabled" and "-c" "suppress_unstable_features_warning=true", with a model
// "-m" and the model, and "-" last. The model is trimmed; a blank one is left out.
[[nodiscard]] std::vector<std::string> makeArguments(const std::filesystem::path& workingDirectory,
                                                     const std::filesystem::path& outputFile,
                                                     const std::optional<std::string>& model,
                                                     bool includeExtraConfig);

}  // namespace codex_cli

// Whether a failed run complained that it does not know the two extra settings, so that the run
// is worth repeating without them.
[[nodiscard]] bool shouldRetryWithoutExtraConfig(const QNCodexCLICorrectionProcessResult& result);

// Runs the tool once as described by `invocation`, with the application's own environment.
// Blocks the calling thread until the run is over; a stop request ends it promptly with status
// 130 (the child's group gets SIGTERM at once from the requesting thread). Never throws.
[[nodiscard]] QNCodexCLICorrectionProcessResult runCodexCLICorrectionProcess(
    const QNCodexCLICorrectionInvocation& invocation, std::stop_token stopToken = {});

}  // namespace ravlin
