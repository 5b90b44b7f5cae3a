#include "core/process/child_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_executable.h"

namespace ravlin::process {
namespace {

using namespace std::chrono_literals;
using testing::FakeExecutableDirectory;
using testing::kHangWatchdog;
using testing::numberedLines;
using testing::since;

class KeepAll final : public OutputSink {
  public:
    void consume(std::string_view chunk) override { bytes.append(chunk); }
    std::string bytes;
};

class ChildRunTest : public ::testing::Test {
  protected:
    ChildRunOptions scriptOptions(const std::string& body, std::chrono::nanoseconds timeout = 5s) {
        ChildRunOptions options;
        options.spawn.executablePath = dir.writeScript("child.sh", body);
        options.timeout = timeout;
        options.onStarted = [this](pid_t pid) { childPid = pid; };
        return options;
    }
    ChildRunOutcome run(const ChildRunOptions& options) { return runChild(options, out, err); }
    void TearDown() override {
        // No process of the child's group may outlive a run.
        if (childPid > 1) {
            EXPECT_FALSE(processGroupExists(childPid)) << "group " << childPid << " left behind";
            ::kill(-childPid, SIGKILL);
        }
    }

    FakeExecutableDirectory dir;
    KeepAll out;
    KeepAll err;
    pid_t childPid = -1;
};

TEST_F(ChildRunTest, ReportsExitCodesAndDeathsBySignal) {
    struct Case {
        const char* body;
        int status;
    };
    const Case cases[] = {
        {"exit 0", 0},       {"exit 3", 3},          {"exit 255", 255},
        {"kill -9 $$", 137}, {"kill -TERM $$", 143},
    };
    for (const auto& c : cases) {
        const auto outcome = run(scriptOptions(c.body));
        EXPECT_FALSE(outcome.spawnError) << c.body;
        EXPECT_EQ(outcome.status, c.status) << c.body;
        EXPECT_FALSE(outcome.timedOut) << c.body;
        EXPECT_FALSE(outcome.cancelled) << c.body;
    }
}

TEST_F(ChildRunTest, ReportsTheStepThatFailedToStart) {
    ChildRunOptions options;
    options.spawn.executablePath = dir.file("does-not-exist");
    options.timeout = 1s;
    auto outcome = run(options);
    ASSERT_TRUE(outcome.spawnError);
    EXPECT_EQ(outcome.spawnError->function, "posix_spawn");
    EXPECT_EQ(outcome.spawnError->code, ENOENT);
    EXPECT_EQ(outcome.spawnError->description(),
              std::string("posix_spawn failed: ") + std::strerror(ENOENT));

    options.spawn.executablePath = dir.writeFile("not-executable", "#!/bin/sh\nexit 0\n");
    outcome = run(options);
    ASSERT_TRUE(outcome.spawnError);
    EXPECT_EQ(outcome.spawnError->code, EACCES);
}

TEST_F(ChildRunTest, StartsTheChildAsLeaderOfItsOwnGroup) {
    auto options = scriptOptions("exit 0");
    pid_t group = -1;
    options.onStarted = [&](pid_t pid) {
        childPid = pid;
        group = ::getpgid(pid);
    };
    ASSERT_EQ(run(options).status, 0);
    EXPECT_EQ(group, childPid);
    EXPECT_NE(group, ::getpgrp());
}

TEST_F(ChildRunTest, StartsTheChildWithACleanSignalState) {
    // Our thread blocks SIGTERM and the process ignores SIGUSR1; the child must see neither.
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &previous);
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ignore, &old);

    const auto outcome = run(scriptOptions("exec cat /proc/self/status"));

    sigaction(SIGUSR1, &old, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_EQ(outcome.status, 0);
    const auto mask = [&](const std::string& name) {
        const auto at = out.bytes.find(name + ":\t");
        EXPECT_NE(at, std::string::npos) << name;
        return std::stoull(out.bytes.substr(at + name.size() + 2, 16), nullptr, 16);
    };
    EXPECT_EQ(mask("SigBlk"), 0u);
    // The C library keeps its own two real-time signals (32, 33) ignored; the rest is default.
    EXPECT_EQ(mask("SigIgn") & 0x7FFFFFFFull, 0u);  // signals 1-31
}

TEST_F(ChildRunTest, PassesArgumentsAndTheSortedEnvironment) {
    auto options = scriptOptions("printf '%s|' \"$0\" \"$@\"");
    options.spawn.arguments = {"one", "two words", ""};
    ASSERT_EQ(run(options).status, 0);
    EXPECT_EQ(out.bytes, options.spawn.executablePath + "|one|two words||");

    // env prints its environment in the order it was given.
    out.bytes.clear();
    options.spawn.executablePath = "/usr/bin/env";
    options.spawn.arguments = {};
    options.spawn.environment = Environment{{"ZED", "last"}, {"ALPHA", "first"}, {"MID", "a=b"}};
    ASSERT_EQ(run(options).status, 0);
    EXPECT_EQ(out.bytes, "ALPHA=first\nMID=a=b\nZED=last\n");

    EXPECT_EQ(environmentEntries({{"b", "2"}, {"a", "1"}}),
              (std::vector<std::string>{"a=1", "b=2"}));
}

TEST_F(ChildRunTest, WithoutAnEnvironmentTheChildGetsOursAsItIsNow) {
    ::setenv("RAVLIN_CHILD_RUN_MARK", "present", 1);
    auto options = scriptOptions("printf %s \"$RAVLIN_CHILD_RUN_MARK\"");
    ASSERT_EQ(run(options).status, 0);
    ::unsetenv("RAVLIN_CHILD_RUN_MARK");
    EXPECT_EQ(out.bytes, "present");
}

TEST_F(ChildRunTest, StandardInputIsTheNullDeviceUnlessGiven) {
    const auto outcome = run(scriptOptions("cat; echo eof", 2s));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(out.bytes, "eof\n");
}

TEST_F(ChildRunTest, AnEmptyInputIsClosedAtOnce) {
    // Left open, cat would wait for the time-out.
    auto options = scriptOptions("cat; echo eof", 10s);
    options.standardInput = "";
    EXPECT_EQ(run(options).status, 0);
    EXPECT_EQ(out.bytes, "eof\n");
}

TEST_F(ChildRunTest, WritesTheWholeInputWhileTheChildWritesBack) {
    // More than any pipe buffer in both directions: a parent that wrote before reading would
    // deadlock with a child that echoes.
    const std::string input = numberedLines(3'000'000);
    auto options = scriptOptions("tee \"$FAKE_DIR/stdin.txt\"");
    options.standardInput = input;
    const auto outcome = run(options);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(out.bytes.size(), input.size());
    EXPECT_TRUE(out.bytes == input);
    const auto written = dir.read("stdin.txt");
    ASSERT_TRUE(written);
    EXPECT_TRUE(*written == input);
}

TEST_F(ChildRunTest, AChildThatClosesItsInputDoesNotKillUs) {
    auto options = scriptOptions("exec 0<&-; sleep 0.1; exit 5");
    options.standardInput = numberedLines(2'000'000);
    const auto outcome = run(options);
    EXPECT_EQ(outcome.status, 5);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST_F(ChildRunTest, DrainsBothStreamsAtOnce) {
    const std::string big = numberedLines(1'500'000);
    dir.writeFile("big.txt", big);
    const auto outcome = run(
        scriptOptions("cat \"$FAKE_DIR/big.txt\" >&2 & cat \"$FAKE_DIR/big.txt\"; wait; exit 4"));
    EXPECT_EQ(outcome.status, 4);
    EXPECT_TRUE(out.bytes == big);
    EXPECT_TRUE(err.bytes == big);
}

TEST_F(ChildRunTest, TimesOutAChildThatHangs) {
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = run(scriptOptions("echo started; exec sleep 30", 200ms));
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.status, 128 + SIGTERM);
    EXPECT_EQ(out.bytes, "started\n");
    EXPECT_GE(since(start), 200ms);
    EXPECT_LT(since(start), kHangWatchdog);
}

TEST_F(ChildRunTest, KillsAChildThatIgnoresTerm) {
    const auto start = std::chrono::steady_clock::now();
    const auto outcome =
        run(scriptOptions("trap '' TERM\necho ready\nwhile :; do sleep 0.02; done", 200ms));
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(outcome.status, 128 + SIGKILL);
    EXPECT_GE(since(start), 200ms + kTerminationGrace);
    EXPECT_LT(since(start), kHangWatchdog);
}

TEST_F(ChildRunTest, StopsWhatTheChildLeftInItsGroup) {
    // Waiting for the grandchild's end of the pipes would end in the time-out.
    const auto outcome =
        run(scriptOptions("sleep 30 &\necho $! > \"$FAKE_DIR/grandchild.pid\"\nexit 0", 10s));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_FALSE(outcome.timedOut);
    const auto grandchild = testing::waitForPidFile(dir.file("grandchild.pid"));
    ASSERT_TRUE(grandchild);
    EXPECT_FALSE(testing::processIsRunning(*grandchild));
}

TEST_F(ChildRunTest, KillsAGrandchildThatIgnoresTerm) {
    const auto outcome =
        run(scriptOptions("(trap '' TERM; echo $$ > /dev/null; exec sleep 30) &\n"
                          "echo $! > \"$FAKE_DIR/grandchild.pid\"\nexit 0",
                          5s));
    EXPECT_EQ(outcome.status, 0);
    const auto grandchild = testing::waitForPidFile(dir.file("grandchild.pid"));
    ASSERT_TRUE(grandchild);
    EXPECT_TRUE(testing::waitUntilEnded(*grandchild));
}

TEST_F(ChildRunTest, AProcessOutsideTheGroupHoldingAPipeDelaysTheRunOnlyBriefly) {
    auto options =
        scriptOptions("echo before\n" + testing::startOutsiderScript("outsider.pid"), 10s);
    options.drainGrace = 300ms;
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = run(options);
    const auto outsider = testing::waitForPidFile(dir.file("outsider.pid"));
    ASSERT_TRUE(outsider);
    const auto elapsed = since(start);
    testing::killAndForget(*outsider);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(out.bytes, "before\n");
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, kHangWatchdog);
}

TEST_F(ChildRunTest, CancellationSignalsTheGroupAtOnceAndEndsTheRun) {
    std::stop_source stop;
    auto options = scriptOptions(
        "trap 'echo term > \"$FAKE_DIR/term\"; exit 0' TERM\n"
        "echo $$ > \"$FAKE_DIR/trapped.pid\"\nsleep 30 & wait",
        10s);
    options.stopToken = stop.get_token();
    // Once the child has set its trap.
    std::thread canceller([&] {
        (void)testing::waitForPidFile(dir.file("trapped.pid"));
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = run(options);
    canceller.join();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_LT(since(start), kHangWatchdog);
    EXPECT_EQ(dir.read("term"), "term\n");
}

TEST_F(ChildRunTest, CancellationBeforeTheStartStillStopsTheChild) {
    std::stop_source stop;
    stop.request_stop();
    auto options = scriptOptions("exec sleep 30", 60s);
    options.stopToken = stop.get_token();
    options.standardInput = "never written";
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = run(options);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_LT(since(start), kHangWatchdog);
    EXPECT_FALSE(testing::processIsRunning(childPid));
}

TEST_F(ChildRunTest, ACancelAfterTheReapNeverSignalsTheOldGroupId) {
    // Once the child is reaped its id may be handed out again; a late cancel must not use it.
    std::stop_source stop;
    std::mutex mutex;
    std::vector<std::pair<pid_t, int>> signalsDuringCancel;
    bool cancelling = false;
    auto options = scriptOptions("exit 0");
    options.stopToken = stop.get_token();
    options.signalGroup = [&](pid_t pid, int signal) {
        std::lock_guard guard(mutex);
        if (cancelling) {
            signalsDuringCancel.emplace_back(pid, signal);
        }
        return signalProcessGroup(pid, signal);
    };
    options.onReaped = [&](pid_t) {
        {
            std::lock_guard guard(mutex);
            cancelling = true;
        }
        stop.request_stop();  // runs the cancel action right here
        std::lock_guard guard(mutex);
        cancelling = false;
    };
    const auto outcome = run(options);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(signalsDuringCancel.empty());
}

TEST_F(ChildRunTest, LeaksNoDescriptor) {
    const int before = testing::openDescriptorCount();
    {
        auto options = scriptOptions("echo out; echo err >&2; exit 1");
        options.standardInput = "input";
        (void)run(options);
    }
    (void)run(scriptOptions("exec sleep 30", 50ms));
    {
        ChildRunOptions missing;
        missing.spawn.executablePath = dir.file("missing");
        (void)run(missing);
    }
    {
        std::stop_source stop;
        stop.request_stop();
        auto options = scriptOptions("exec sleep 30");
        options.stopToken = stop.get_token();
        (void)run(options);
    }
    EXPECT_EQ(testing::openDescriptorCount(), before);
}

TEST_F(ChildRunTest, TheChildInheritsNoDescriptorOfOurs) {
    // A descriptor opened without close-on-exec (as another library might) stays ours.
    const int stray = ::fcntl(0, F_DUPFD, 40);
    ASSERT_GE(stray, 40);
    const auto outcome = run(scriptOptions("exec ls /proc/self/fd"));
    ::close(stray);
    EXPECT_EQ(outcome.status, 0);
    // ls itself holds 0, 1, 2 and the directory it reads.
    EXPECT_EQ(out.bytes.find("\n" + std::to_string(stray) + "\n"), std::string::npos) << out.bytes;
    int lines = 0;
    for (char c : out.bytes) {
        lines += c == '\n';
    }
    EXPECT_LE(lines, 4) << out.bytes;
}

TEST(ProcessGroup, RefusesGroupsZeroAndOne) {
    EXPECT_FALSE(signalProcessGroup(0, 0));
    EXPECT_FALSE(signalProcessGroup(1, 0));
    EXPECT_FALSE(signalProcessGroup(-5, 0));
    EXPECT_FALSE(processGroupExists(0));
    EXPECT_FALSE(processGroupExists(1));
}

TEST(ProcessGroup, WaitsForExitAndReportsStatuses) {
    FakeExecutableDirectory dir;
    // Ends once told to, with status 9.
    const std::string script = dir.writeScript(
        "sleeper.sh", "while [ ! -e \"$FAKE_DIR/go\" ]; do sleep 0.01; done\nexit 9");
    const SpawnRequest request{script, {}, std::nullopt};
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const ChildDescriptors descriptors{-1, -1, fds[0], fds[1], fds[0], fds[1]};
    const auto spawned = spawnInNewProcessGroup(request, descriptors);
    ::close(fds[0]);
    ::close(fds[1]);
    ASSERT_FALSE(spawned.error);
    EXPECT_FALSE(waitForExit(spawned.processID, 0ms));
    dir.writeFile("go", "");
    EXPECT_EQ(waitForExit(spawned.processID, kHangWatchdog), 9);
    EXPECT_TRUE(waitForProcessGroupExit(spawned.processID, kHangWatchdog));
    EXPECT_EQ(reapIfExited(spawned.processID), -1);  // already reaped: waitpid fails
}

TEST(ProcessGroup, ConvertsSeconds) {
    EXPECT_EQ(durationFromSeconds(-1), 0ns);
    EXPECT_EQ(durationFromSeconds(std::nan("")), 0ns);
    EXPECT_EQ(durationFromSeconds(0.25), 250ms);
    EXPECT_GT(durationFromSeconds(std::numeric_limits<double>::infinity()), 24h * 365 * 30);
}

}  // namespace
}  // namespace ravlin::process
