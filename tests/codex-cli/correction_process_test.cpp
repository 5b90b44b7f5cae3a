#include "core/providers/codex-cli/correction_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tests/support/fake_executable.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::FakeExecutableDirectory;
using testing::kHangWatchdog;
using testing::numberedLines;
using testing::since;

TEST(CodexCLIArguments, FollowTheToolContract) {
    const std::vector<std::string> full = codex_cli::makeArguments(
        "/tmp/QNProviderCodexCLI-X", "/tmp/QNProviderCodexCLI-X/last-message.txt",
        std::string("  gpt-5.1-codex \n"), true);
    const std::vector<std::string> expected = {
        "exec",
        "--json",
        "--cd",
        "/tmp/QNProviderCodexCLI-X",
        "--skip-git-repo-check",
        "--sandbox",
        "read-only",
        "--ephemeral",
        "--output-last-message",
        "/tmp/QNProviderCodexCLI-X/last-message.txt",
        "--color",
        "never",
        "-c",
        "approval_policy=never",
        "-c",
        "web_search=disabled",
        "-c",
        "suppress_unstable_features_warning=true",
        "-m",
        "gpt-5.1-codex",
        "-",
    };
    EXPECT_EQ(full, expected);

    for (const auto& model : {std::optional<std::string>(), std::optional<std::string>(" \t\n")}) {
        const auto bare = codex_cli::makeArguments("/d", "/d/f", model, false);
        ASSERT_EQ(bare.size(), 15u);
        EXPECT_EQ(bare[13], "approval_policy=never");
        EXPECT_EQ(bare[14], "-");
    }
}

TEST(CodexCLIRetryTest, NeedsAnExtraSettingAndAnUnknownSettingPhrase) {
    struct Case {
        const char* stdout;
        const char* stderr;
        bool retry;
    };
    const Case cases[] = {
        {"", "Error: unknown configuration key web_search", true},
        {"", "UNKNOWN CONFIG: Web_Search", true},  // letter case is ignored
        {"unrecognized option suppress_unstable_features_warning", "", true},  // stdout counts
        {"web_search", "unexpected key", true},  // split across the two streams
        {"", "web_search failed for another reason", false},
        {"", "unrecognized option --foo", false},
        {"", "", false},
    };
    for (const auto& c : cases) {
        const QNCodexCLICorrectionProcessResult result{1, c.stdout, c.stderr, false, false};
        EXPECT_EQ(shouldRetryWithoutExtraConfig(result), c.retry) << c.stdout << "|" << c.stderr;
    }
}

class CodexCLIProcessTest : public ::testing::Test {
  protected:
    QNCodexCLICorrectionInvocation invocation(const std::string& body, double timeout = 5.0) {
        QNCodexCLICorrectionInvocation value;
        value.executablePath = dir.writeScript("codex", body);
        value.arguments = codex_cli::makeArguments(dir.path(), dir.path() / "last-message.txt",
                                                   std::nullopt, true);
        value.standardInput = "Fix this.\n\nteh text";
        value.temporaryDirectory = dir.path();
        value.outputFile = dir.path() / "last-message.txt";
        value.timeoutSeconds = timeout;
        value.maxOutputBytes = kCodexCLIMaxOutputBytes;
        return value;
    }
    FakeExecutableDirectory dir;
};

TEST_F(CodexCLIProcessTest, RunsTheToolWithThePromptOnItsInput) {
    const auto result =
        runCodexCLICorrectionProcess(invocation("cat > \"$FAKE_DIR/stdin.txt\"\n"
                                                "printf '%s\\n' \"$@\" > \"$FAKE_DIR/args.txt\"\n"
                                                "echo '{\"type\":\"turn.completed\"}'\n"
                                                "echo 'the text' > \"${10}\"\n"  // the output file
                                                "echo warning >&2"));
    EXPECT_EQ(result, (QNCodexCLICorrectionProcessResult{0, "{\"type\":\"turn.completed\"}\n",
                                                         "warning\n", false, false}));
    EXPECT_EQ(dir.read("stdin.txt"), "Fix this.\n\nteh text");
    EXPECT_EQ(dir.read("last-message.txt"), "the text\n");
    const auto args = dir.read("args.txt");
    ASSERT_TRUE(args);
    EXPECT_EQ(args->substr(0, 12), "exec\n--json\n");
    EXPECT_EQ(args->substr(args->size() - 2), "-\n");
}

TEST_F(CodexCLIProcessTest, WritesALargePromptInFull) {
    auto value = invocation("cat > \"$FAKE_DIR/stdin.txt\"; cat \"$FAKE_DIR/stdin.txt\"");
    value.standardInput = numberedLines(700'000);
    const auto result = runCodexCLICorrectionProcess(value);
    EXPECT_EQ(result.terminationStatus, 0);
    EXPECT_TRUE(dir.read("stdin.txt") == value.standardInput);
}

TEST_F(CodexCLIProcessTest, AnEmptyPromptIsAnImmediateEndOfInput) {
    // Left open, the input would keep cat waiting until the time-out.
    auto value = invocation("cat > /dev/null; echo eof", 10.0);
    value.standardInput = "";
    EXPECT_EQ(runCodexCLICorrectionProcess(value).stdout, "eof\n");
}

TEST_F(CodexCLIProcessTest, ReportsExitStatusesAndStartFailures) {
    EXPECT_EQ(runCodexCLICorrectionProcess(invocation("exit 3")).terminationStatus, 3);
    EXPECT_EQ(runCodexCLICorrectionProcess(invocation("kill -9 $$")).terminationStatus, 137);

    auto missing = invocation("exit 0");
    missing.executablePath = dir.file("no-such-codex");
    const auto result = runCodexCLICorrectionProcess(missing);
    EXPECT_EQ(result.terminationStatus, -1);
    EXPECT_EQ(result.stdout, "");
    EXPECT_EQ(result.stderr.rfind("posix_spawn failed: ", 0), 0u) << result.stderr;
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.cancelled);
}

TEST_F(CodexCLIProcessTest, KeepsTheHeadAndTailOfAFloodingStream) {
    const std::string flood = numberedLines(1'000'000);
    dir.writeFile("flood.txt", flood);
    const auto result =
        runCodexCLICorrectionProcess(invocation("cat \"$FAKE_DIR/flood.txt\"; exit 0"));
    EXPECT_EQ(result.terminationStatus, 0);
    const std::string expected = flood.substr(0, 262'144) + "\n...[truncated 475712 bytes]...\n" +
                                 flood.substr(1'000'000 - 262'144);
    EXPECT_TRUE(result.stdout == expected);
}

TEST_F(CodexCLIProcessTest, ATimeOutKeepsTheOutputAsItIs) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = runCodexCLICorrectionProcess(
        invocation("echo partial\necho oops >&2\ntrap '' TERM\nwhile :; do sleep 0.02; done", 0.2));
    EXPECT_EQ(result, (QNCodexCLICorrectionProcessResult{124, "partial\n", "oops\n", true, false}));
    EXPECT_GE(since(start), 450ms);  // SIGKILL only after the grace
    EXPECT_LT(since(start), kHangWatchdog);
}

TEST_F(CodexCLIProcessTest, CancellationGives130) {
    std::stop_source stop;
    // Once the tool runs.
    std::thread canceller([&] {
        (void)testing::waitForPidFile(dir.file("tool.pid"));
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto result = runCodexCLICorrectionProcess(
        invocation("echo $$ > \"$FAKE_DIR/tool.pid\"\nexec sleep 30", 60.0), stop.get_token());
    canceller.join();
    EXPECT_EQ(result.terminationStatus, 130);
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.timedOut);
    EXPECT_LT(since(start), kHangWatchdog);

    std::stop_source early;
    early.request_stop();
    const auto before =
        runCodexCLICorrectionProcess(invocation("exec sleep 30", 10.0), early.get_token());
    EXPECT_EQ(before.terminationStatus, 130);
    EXPECT_TRUE(before.cancelled);
}

TEST_F(CodexCLIProcessTest, GrandchildrenInTheGroupAreStoppedOutsidersOnlyDelay) {
    auto result = runCodexCLICorrectionProcess(
        invocation("sleep 30 &\necho $! > \"$FAKE_DIR/inside.pid\"\nexit 0"));
    EXPECT_EQ(result.terminationStatus, 0);
    const auto inside = testing::waitForPidFile(dir.file("inside.pid"));
    ASSERT_TRUE(inside);
    EXPECT_FALSE(testing::processIsRunning(*inside));

    const auto start = std::chrono::steady_clock::now();
    result = runCodexCLICorrectionProcess(
        invocation("echo kept\n" + testing::startOutsiderScript("outside.pid"), 10.0));
    const auto elapsed = since(start);
    const auto outside = testing::waitForPidFile(dir.file("outside.pid"));
    ASSERT_TRUE(outside);
    testing::killAndForget(*outside);
    EXPECT_EQ(result.terminationStatus, 0);
    EXPECT_EQ(result.stdout, "kept\n");
    EXPECT_GE(elapsed, 1s);  // half a second per stream
    EXPECT_LT(elapsed, kHangWatchdog);
}

}  // namespace
}  // namespace ravlin
