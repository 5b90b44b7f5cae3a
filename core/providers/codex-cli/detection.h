#pragma once

// Whether the user's Codex command-line tool is installed, where, whether its version is recent
// enough and whether the user has signed in to it. The detector probes the file system and runs
// the tool's version command; it keeps its last answer.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/process/spawn.h"
#include "core/providers/codex-cli/command_runner.h"

namespace ravlin {

enum class QNCodexCLISupportStatus {
    supported,
    missing,
    unsupportedVersion,
    unparsableVersion,
    versionCheckFailed,
    pathResolutionFailed,
    unsupportedPlatform,
};

enum class QNCodexCLILoginState {
    loggedIn,
    notLoggedIn,
    unknown,
};

struct QNCodexCLIDetection {
    std::optional<std::string> executablePath;
    // What the version command printed, kept whatever the status.
    std::optional<std::string> versionString;
    QNCodexCLISupportStatus supportStatus = QNCodexCLISupportStatus::missing;
    QNCodexCLILoginState loginState = QNCodexCLILoginState::unknown;

    // Supported, with a non-empty path.
    [[nodiscard]] bool isAvailable() const;
    // Available and signed in.
    [[nodiscard]] bool isConfigured() const;

    // For where detection does not run: nothing found, status unsupportedPlatform, login unknown.
    [[nodiscard]] static const QNCodexCLIDetection& unsupportedPlatform();

    friend bool operator==(const QNCodexCLIDetection&, const QNCodexCLIDetection&) = default;
};

// The oldest version accepted.
inline constexpr std::string_view kCodexCLIMinimumSupportedVersionString = "0.116.0";

struct QNCodexCLIVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;

    friend auto operator<=>(const QNCodexCLIVersion&, const QNCodexCLIVersion&) = default;
};

inline constexpr QNCodexCLIVersion kCodexCLIMinimumSupportedVersion{0, 116, 0};

namespace codex_cli {

// "codex-cli 0.116.0" (surrounding whitespace allowed) gives 0, 116, 0. Exactly two words split
// at spaces, the first "codex-cli", the second three dot-separated whole numbers; anything else
// (a "-beta" suffix, two parts, an extra word) gives nothing.
[[nodiscard]] std::optional<QNCodexCLIVersion> parseVersion(std::string_view output);

// What a command printed: its standard output trimmed when that is not empty, otherwise its
// standard error trimmed when that is not empty, otherwise nothing.
[[nodiscard]] std::optional<std::string> outputText(const QNCodexCLICommandResult& result);

// The first / last line of `text` that is not empty once trimmed, trimmed; lines end at any line
// break (LF, CR, CR LF, VT, FF, NEL, LS, PS).
[[nodiscard]] std::optional<std::string> firstLine(std::string_view text);
[[nodiscard]] std::optional<std::string> lastLine(std::string_view text);

// The file probes the detector uses by default: existence, and an executable regular file.
[[nodiscard]] bool fileExists(const std::string& path);
[[nodiscard]] bool isExecutableFile(const std::string& path);

// The current user's home directory: $HOME when set, else the password database's entry.
[[nodiscard]] std::string homeDirectoryPath();

}  // namespace codex_cli

class QNCodexCLIDetector {
  public:
    using CommandRunner = std::function<QNCodexCLICommandResult(
        const std::string& executablePath, const std::vector<std::string>& arguments,
        const std::optional<process::Environment>& environment)>;

    // What a detector works with; `standard()` gives the real ones.
    struct Configuration {
        std::string homeDirectoryPath;
        std::vector<std::string> standardExecutablePaths;
        std::function<bool(const std::string&)> fileExists;
        std::function<bool(const std::string&)> isExecutableFile;
        CommandRunner commandRunner;
        std::function<std::optional<std::string>()> loginShellPathProvider;  // may be empty
        process::Environment environment;

        // The user's home, the five standard places under it, the file probes, the command
        // runner with a 2-second time-out and a 64 KiB cap per stream, no login-shell path
        // provider, and the process environment as it is now.
        [[nodiscard]] static Configuration standard();
    };

    // "/opt/homebrew/bin/codex", "/usr/local/bin/codex", then under `home` ".npm-global/bin/codex",
    // ".cargo/bin/codex", ".bun/bin/codex".
    [[nodiscard]] static std::vector<std::string> standardExecutablePathsFor(
        const std::string& home);

    // Runs no command.
    QNCodexCLIDetector();
    explicit QNCodexCLIDetector(Configuration configuration);
    QNCodexCLIDetector(const QNCodexCLIDetector&) = delete;
    QNCodexCLIDetector& operator=(const QNCodexCLIDetector&) = delete;

    // The last detection, if any; runs no command. Safe from any thread.
    [[nodiscard]] std::optional<QNCodexCLIDetection> cachedDetection() const;
    // The cached detection, or a new one (then cached). Blocks while a detection runs (up to
    // three commands, each bounded by its time-out): never call it on the main thread.
    [[nodiscard]] QNCodexCLIDetection currentDetection();
    // With `force`, always detects anew and caches the answer; otherwise as currentDetection().
    QNCodexCLIDetection refresh(bool force);

    // One detection, not cached.
    [[nodiscard]] QNCodexCLIDetection detect() const;

  private:
    [[nodiscard]] QNCodexCLIDetection versionCheckAtKnownPath(const std::string& path,
                                                              QNCodexCLILoginState login) const;
    [[nodiscard]] QNCodexCLIDetection searchPathDetection(QNCodexCLILoginState login) const;
    [[nodiscard]] process::Environment commandEnvironment() const;
    [[nodiscard]] std::optional<std::string> loginShellPath() const;
    // `searchPath` followed by the folders of the environment's own PATH it lacks, in order.
    [[nodiscard]] std::string withOwnSearchPath(const std::string& searchPath) const;

    mutable std::mutex cacheLock_;
    std::optional<QNCodexCLIDetection> cachedValue_;
    Configuration configuration_;
};

}  // namespace ravlin
