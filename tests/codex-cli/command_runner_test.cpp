#include "core/providers/codex-cli/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <string>

#include "tests/support/fake_executable.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::FakeExecutableDirectory;
using testing::kHangWatchdog;
using testing::numberedLines;
using testing::since;

std::string pattern(std::size_t bytes, char salt) {
    std::string text;
    for (std::size_t i = 0; i < bytes; ++i) {
        text.push_back(static_cast<char>('a' + (i * 7 + i / 26 + salt) % 26));
    }
    return text;
}

TEST(CodexCLICommandRunner, ReportsStatusesOutputAndStartFailures) {
    FakeExecutableDirectory dir;
    struct Case {
        const char* body;
        QNCodexCLICommandResult expected;
    };
    const Case cases[] = {
        {"echo codex-cli 0.116.0", {0, "codex-cli 0.116.0\n", ""}},
        {"echo out; echo err >&2; exit 3", {3, "out\n", "err\n"}},
        {"printf 'a\\377b'",
         {0,
          "a\xEF\xBF\xBD"
          "b",
          ""}},
        {"kill -9 $$", {137, "", ""}},
        {"cat; echo eof", {0, "eof\n", ""}},  // standard input is at its end at once
    };
    for (const auto& c : cases) {
        const std::string script = dir.writeScript("tool.sh", c.body);
        EXPECT_EQ(runCodexCLICommand(script, {}, std::nullopt, 2.0, 65536), c.expected) << c.body;
    }

    const auto missing =
        runCodexCLICommand(dir.file("nowhere"), {"--version"}, std::nullopt, 2.0, 65536);
    EXPECT_EQ(missing.terminationStatus, -1);
    EXPECT_EQ(missing.stdout, "");
    EXPECT_EQ(missing.stderr, std::string("posix_spawn failed: ") + std::strerror(ENOENT));
}

TEST(CodexCLICommandRunner, KeepsOnlyThePrefixOfEachStream) {
    FakeExecutableDirectory dir;
    const std::string out = pattern(100'000, 0);
    const std::string err = pattern(100'000, 5);
    dir.writeFile("out.txt", out);
    dir.writeFile("err.txt", err);
    const std::string script = dir.writeScript(
        "tool.sh", "cat \"$FAKE_DIR/err.txt\" >&2 & cat \"$FAKE_DIR/out.txt\"; wait; exit 6");
    const auto result = runCodexCLICommand(script, {}, std::nullopt, 5.0, 65536);
    EXPECT_EQ(result.terminationStatus, 6);
    EXPECT_TRUE(result.stdout == out.substr(0, 65536));
    EXPECT_TRUE(result.stderr == err.substr(0, 65536));
}

TEST(CodexCLICommandRunner, TimesOutWithAMessageNamingTheCommand) {
    FakeExecutableDirectory dir;
    // The tool is found through the search path by /usr/bin/env, as detection does it.
    dir.writeScript("bin/codex", "echo 'still starting' >&2\nexec sleep 30");
    const process::Environment environment{{"PATH", dir.file("bin") + ":/usr/bin:/bin"}};
    const auto start = std::chrono::steady_clock::now();
    const auto result =
        runCodexCLICommand("/usr/bin/env", {"codex", "--version"}, environment, 0.2, 65536);
    EXPECT_LT(since(start), kHangWatchdog);
    EXPECT_EQ(result.terminationStatus, 124);
    EXPECT_EQ(result.stdout, "");
    EXPECT_EQ(result.stderr,
              "still starting\n\nCommand timed out after 0.20s: /usr/bin/env codex --version");

    const std::string quiet = dir.writeScript("quiet.sh", "exec sleep 30");
    EXPECT_EQ(runCodexCLICommand(quiet, {}, std::nullopt, 0.1, 65536).stderr,
              "Command timed out after 0.10s: " + quiet);
}

TEST(CodexCLICommandRunner, KillsACommandThatIgnoresTerm) {
    FakeExecutableDirectory dir;
    const std::string script = dir.writeScript(
        "stubborn.sh", "trap '' TERM\necho $$ > \"$FAKE_DIR/pid\"\nwhile :; do sleep 0.02; done");
    const auto start = std::chrono::steady_clock::now();
    const auto result = runCodexCLICommand(script, {}, std::nullopt, 0.2, 65536);
    EXPECT_EQ(result.terminationStatus, 124);
    EXPECT_GE(since(start), 450ms);  // time-out + the grace after SIGTERM
    const auto pid = testing::waitForPidFile(dir.file("pid"));
    ASSERT_TRUE(pid);
    EXPECT_FALSE(testing::processIsRunning(*pid));
}

TEST(CodexCLICommandRunner, StopsABackgroundChildLeftBehind) {
    FakeExecutableDirectory dir;
    const std::string script = dir.writeScript(
        "tool.sh", "sleep 30 &\necho $! > \"$FAKE_DIR/pid\"\necho codex-cli 0.120.0");
    // Waiting for the child's end of the pipes would end in the time-out (124).
    const auto result = runCodexCLICommand(script, {}, std::nullopt, 10.0, 65536);
    EXPECT_EQ(result, (QNCodexCLICommandResult{0, "codex-cli 0.120.0\n", ""}));
    const auto pid = testing::waitForPidFile(dir.file("pid"));
    ASSERT_TRUE(pid);
    EXPECT_FALSE(testing::processIsRunning(*pid));
}

}  // namespace
}  // namespace ravlin
