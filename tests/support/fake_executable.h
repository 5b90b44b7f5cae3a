#pragma once

// Small shell scripts standing in for outside programs (the Codex tool, a login shell), written
// into a private temporary directory that is removed with everything in it at the end of the
// test. Also helpers to watch the processes those scripts start.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/watchdog.h"

namespace ravlin::testing {

class FakeExecutableDirectory {
  public:
    FakeExecutableDirectory();
    ~FakeExecutableDirectory();
    FakeExecutableDirectory(const FakeExecutableDirectory&) = delete;
    FakeExecutableDirectory& operator=(const FakeExecutableDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    // Full path of `name` inside the directory (the file need not exist).
    [[nodiscard]] std::string file(const std::string& name) const;

    // Writes "#!/bin/sh", a line break and `body` to `name` (subfolders are made), mode 0755;
    // returns its full path. The script sees the directory as $FAKE_DIR.
    std::string writeScript(const std::string& name, const std::string& body);
    // Writes a plain file with `mode`; returns its full path.
    std::string writeFile(const std::string& name, const std::string& content,
                          std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
    // The content of `name`, or absent when it does not exist.
    [[nodiscard]] std::optional<std::string> read(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// Script lines that start `sleep 30` in a session of its own (outside the script's process
// group, still holding the script's output pipes), wait until it has written its pid to
// $FAKE_DIR/`pidFile`, and exit 0.
[[nodiscard]] std::string startOutsiderScript(const std::string& pidFile);

// Waits up to `timeout` for `path` to hold a process id (written by a script, for example
// `echo $! > file`) and returns it.
[[nodiscard]] std::optional<pid_t> waitForPidFile(
    const std::string& path, std::chrono::milliseconds timeout = kHangWatchdog);

// Whether `pid` is a process that has not ended (zombies count as ended).
[[nodiscard]] bool processIsRunning(pid_t pid);

// Waits up to `timeout` for `pid` to end; true when it has.
[[nodiscard]] bool waitUntilEnded(pid_t pid, std::chrono::milliseconds timeout = kHangWatchdog);

// Kills `pid` (if it still runs) and waits for it to end; for cleaning up after a test.
void killAndForget(pid_t pid);

// Number of descriptors this process has open.
[[nodiscard]] int openDescriptorCount();

// Time on the steady clock since `start`, for the watchdog and for checking that a wait was
// not cut short.
[[nodiscard]] std::chrono::milliseconds since(std::chrono::steady_clock::time_point start);
// `bytes` bytes of numbered lines: every stretch of the pattern is easy to tell apart.
[[nodiscard]] std::string numberedLines(std::size_t bytes);

}  // namespace ravlin::testing
