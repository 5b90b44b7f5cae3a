#include "core/providers/codex-cli/codex_cli_provider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/services/output_sanitizer.h"
#include "core/records/prompt_catalogue.h"
#include "core/text/unicode.h"
#include "tests/support/fake_executable.h"
#include "tests/support/stream_events.h"

namespace ravlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Provider = QNProviderCodexCLICorrection;
using testing::FakeExecutableDirectory;
using testing::streamEvents;

constexpr const char* kPrompt = "Fix spelling only.";
const std::string kNotLoggedIn = "Codex CLI not logged in - run `codex login`";

// Every stand-in tool starts by recording its run n (1, 2, ...): its arguments one per line, the
// mode of its working directory, that directory's path and its standard input. $OUT is the file
// the final message goes to.
constexpr const char* kRecordRun = R"(OUT=""; CD=""; prev=""
for a in "$@"; do
  case "$prev" in
    --output-last-message) OUT="$a" ;;
    --cd) CD="$a" ;;
  esac
  prev="$a"
done
n=1
while [ -e "$FAKE_DIR/args.$n" ]; do n=$((n+1)); done
printf '%s\n' "$@" > "$FAKE_DIR/args.$n"
stat -c %a "$CD" > "$FAKE_DIR/mode.$n"
printf '%s' "$CD" > "$FAKE_DIR/cd.$n"
cat > "$FAKE_DIR/stdin.$n"
)";

QNModelCorrectionRequest requestWithContext() {
    return QNModelCorrectionRequest(u"teh cat sat", 256, std::nullopt, u"Earlier words.");
}

std::string messageOf(const QNModelCorrectionStreamEvent& event) {
    return event.message() ? *event.message() : "<no message>";
}

class CodexCLIProviderTest : public ::testing::Test {
  protected:
    // A root that does not exist yet: the provider makes it.
    [[nodiscard]] fs::path root() const { return fake_.path() / "tmp" / "nested"; }

    std::shared_ptr<Provider> providerRunning(const std::string& scenario, double timeout = 10,
                                              std::optional<std::string> model = " gpt-test \n",
                                              Provider::Services services = {}) {
        const std::string path = fake_.writeScript("codex", std::string(kRecordRun) + scenario);
        services.temporaryRoot = root();
        return std::make_shared<Provider>(
            Provider::Configuration{"  " + path + "\n", std::nullopt, std::move(model), timeout,
                                    "codex-cli-byok"},
            kPrompt, std::move(services));
    }

    [[nodiscard]] int runs() const {
        int count = 0;
        while (fake_.read("args." + std::to_string(count + 1))) {
            ++count;
        }
        return count;
    }

    [[nodiscard]] std::vector<std::string> arguments(int run) const {
        std::vector<std::string> lines;
        std::istringstream in(fake_.read("args." + std::to_string(run)).value_or(""));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    [[nodiscard]] std::string recorded(const std::string& what, int run) const {
        return fake_.read(what + "." + std::to_string(run)).value_or("<missing>");
    }

    // No working directory is left behind under the root.
    void expectNothingLeft() const {
        if (fs::exists(root())) {
            EXPECT_TRUE(fs::is_empty(root()));
        }
    }

    FakeExecutableDirectory fake_;
};

TEST_F(CodexCLIProviderTest, SuccessSendsInstructionsAndTextAndCleansTheFinalMessage) {
    auto provider = providerRunning(
        "printf '{\"type\":\"thread.started\"}\\n{\"type\":\"turn.completed\"}\\n'\n"
        "printf '   \"The cat sat.\"\\n' > \"$OUT\"\nexit 0");
    const auto request = requestWithContext();

    const auto events = streamEvents(*provider, request);

    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].kind(), QNModelCorrectionStreamEvent::Kind::completed);
    const QNModelCorrectionResponse& response = *events[0].response();
    EXPECT_EQ(response.input, request.text);
    EXPECT_EQ(response.output, sanitizeModelOutput(u"\"The cat sat.\"", request.text).cleaned);
    EXPECT_EQ(response.output, u"The cat sat");  // quotes and the added full stop went
    ASSERT_TRUE(response.latencyMilliseconds.has_value());
    EXPECT_GE(*response.latencyMilliseconds, 0.0);
    EXPECT_FALSE(response.usage.has_value());

    ASSERT_EQ(runs(), 1);
    const std::string directory = recorded("cd", 1);
    EXPECT_EQ(fs::path(directory).parent_path(), root());
    const std::string name = fs::path(directory).filename().string();
    ASSERT_EQ(name.size(), std::string("QNProviderCodexCLI-").size() + 36);
    EXPECT_EQ(name.rfind("QNProviderCodexCLI-", 0), 0u);
    const std::string uuid = name.substr(name.size() - 36);
    EXPECT_EQ(text::uppercased(std::string_view(uuid)), uuid);
    EXPECT_EQ(arguments(1),
              Provider::makeArguments(directory, fs::path(directory) / "last-message.txt",
                                      std::string("gpt-test"), true));
    EXPECT_EQ(recorded("stdin", 1),
              request.instructions(kPrompt) + "\n\n" + text::toUtf8(request.modelInputText()));
    // The person's text passes through the directory: only its owner may enter it.
    EXPECT_EQ(recorded("mode", 1), "700\n");
    EXPECT_FALSE(fs::exists(directory));
    expectNothingLeft();
}

// A tool that colours its message for a terminal: the answer is its plain text, and the final
// mark is judged on that text, so none is added after the colour codes.
TEST_F(CodexCLIProviderTest, ColourCodesAreNoPartOfTheAnswer) {
    auto provider = providerRunning(
        "printf '\\033[1mThe cat sat\\033[0m.\\033]0;title\\007\\n' > \"$OUT\"\nexit 0");
    const auto events = streamEvents(*provider, requestWithContext());
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].kind(), QNModelCorrectionStreamEvent::Kind::completed);
    EXPECT_EQ(events[0].response()->output, u"The cat sat");
}

TEST_F(CodexCLIProviderTest, TextThatIsNotWellFormedIsSentWithReplacementCharacters) {
    auto provider = providerRunning("printf 'fixed' > \"$OUT\"", 10, std::nullopt);
    std::u16string broken = u"caf";
    broken.push_back(char16_t{0xD800});  // a lone surrogate
    broken += u"e";

    const auto result = provider->generateCorrection(QNModelCorrectionRequest(broken, 64), {});

    ASSERT_EQ(runs(), 1);
    EXPECT_EQ(recorded("stdin", 1), std::string(kPrompt) +
                                        "\n\ncaf\xEF\xBF\xBD"
                                        "e");
    EXPECT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::success);
    // Without a model the arguments carry no "-m".
    const auto args = arguments(1);
    EXPECT_EQ(std::count(args.begin(), args.end(), "-m"), 0);
}

TEST_F(CodexCLIProviderTest, FailuresBecomeTextsAPersonUnderstands) {
    const std::string colourful = [] {
        std::string text;
        while (text.size() < 2000) {
            text += "\x1b[31merror\x1b[0m  line\n";
        }
        return text;
    }();
    const std::string condensedColourful = [&] {
        std::string text;
        while (text.size() < 600) {
            text += "error line ";
        }
        return text::trimmed(std::string_view(text.substr(0, 500))) + "...";
    }();
    const fs::path colourFile = fake_.path() / "colourful.txt";
    fake_.writeFile("colourful.txt", colourful);

    struct Case {
        const char* name;
        std::string scenario;
        std::string message;
    };
    const Case cases[] = {
        {"not logged in, exit 1", "echo 'Error: you are not logged in.' >&2\nexit 1",
         "Codex CLI failed: " + kNotLoggedIn},
        {"auth and login named", "echo 'auth token missing; please login' >&2\nexit 1",
         "Codex CLI failed: " + kNotLoggedIn},
        {"standard error first", "echo 'from out'\nprintf ' boom\\n\\tbad   thing \\n' >&2\nexit 2",
         "Codex CLI failed: boom bad thing"},
        {"standard output when error is blank", "echo 'only out'\necho '  ' >&2\nexit 3",
         "Codex CLI failed: only out"},
        {"no output at all", "exit 3", "Codex CLI failed with exit code 3"},
        {"killed by a signal", "kill -9 $$", "Codex CLI failed with exit code 137"},
        // A final message is the answer only when the tool says it finished (status 0): one
        // written before the tool was stopped or failed is not.
        {"killed after writing part of its message", "printf 'The cat' > \"$OUT\"\nkill -9 $$",
         "Codex CLI failed with exit code 137"},
        {"failing after writing its message", "printf 'The cat sat.' > \"$OUT\"\nexit 1",
         "Codex CLI failed with exit code 1"},
        {"long coloured error", "cat '" + colourFile.string() + "' >&2\nexit 1",
         "Codex CLI failed: " + condensedColourful},
        {"exit 0 without a final message", "exit 0", "Codex returned an empty response"},
        {"blank final message", "printf ' \\n\\t' > \"$OUT\"", "Codex returned an empty response"},
        {"final message not UTF-8", "printf 'ok\\377' > \"$OUT\"",
         "Codex returned an empty response"},
        {"turn.failed with exit 0",
         "echo '{\"type\":\"turn.failed\",\"error\":{\"message\":\"You are not logged in\"}}'\n"
         "printf 'ignored' > \"$OUT\"",
         kNotLoggedIn},
        {"turn.failed wins over the exit status",
         "echo 'noise'\necho '{\"type\":\"turn.failed\",\"error\":{\"message\":\"Rate limit\"}}'\n"
         "echo 'stderr detail' >&2\nexit 1",
         "Rate limit"},
        {"turn.failed without a message", "echo '{\"type\":\"turn.failed\",\"code\":42}'",
         "Codex CLI turn failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root());
        for (int run = 1; run <= 2; ++run) {
            fs::remove(fake_.file("args." + std::to_string(run)));
        }
        auto provider = providerRunning(c.scenario);
        const auto events = streamEvents(*provider, requestWithContext());
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind(), QNModelCorrectionStreamEvent::Kind::failed);
        EXPECT_EQ(messageOf(events[0]), c.message);
        EXPECT_EQ(runs(), 1);  // nothing here is worth a second run
        expectNothingLeft();
    }
}

// The events of one stream, or absent when it is not over by `deadline`; a stream that hangs is
// left to itself so that the test can report it.
std::optional<std::vector<QNModelCorrectionStreamEvent>> streamWithin(
    std::shared_ptr<Provider> provider, std::stop_token stop, std::chrono::seconds deadline) {
    auto done = std::make_shared<std::promise<std::vector<QNModelCorrectionStreamEvent>>>();
    auto future = done->get_future();
    std::thread([provider, stop, done] {
        done->set_value(streamEvents(*provider, requestWithContext(), stop));
    }).detach();
    if (future.wait_for(deadline) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

TEST_F(CodexCLIProviderTest, TheAnswerFileMustBeAPlainFileWithinTheOutputLimit) {
    struct Case {
        const char* name;
        std::string scenario;
        bool answered;
        const char* failure = "Codex returned an empty response";
    };
    constexpr const char* kTooLarge = "Codex returned an unexpected response (too large)";
    const Case cases[] = {
        {"a pipe nobody writes to", "mkfifo \"$OUT\"", false},
        {"a link to an endless device", "ln -s /dev/zero \"$OUT\"", false},
        {"a link to a good answer",
         "printf 'The cat sat' > \"$FAKE_DIR/real\"\nln -s \"$FAKE_DIR/real\" \"$OUT\"", false},
        {"a directory", "mkdir \"$OUT\"", false},
        {"a sparse 256 MB file", "truncate -s 256M \"$OUT\"", false, kTooLarge},
        {"one byte over the limit", "head -c 524289 /dev/zero | tr '\\0' a > \"$OUT\"", false,
         kTooLarge},
        {"exactly the limit", "head -c 524288 /dev/zero | tr '\\0' a > \"$OUT\"", true},
        {"a plain answer", "printf 'The cat sat' > \"$OUT\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root());
        // Once plainly, once with a stop requested when the tool is done and its answer is read.
        for (const bool stopAfterTheTool : {false, true}) {
            SCOPED_TRACE(stopAfterTheTool ? "stopped after the tool" : "not stopped");
            std::stop_source stop;
            Provider::Services services;
            services.runner = [&stop, stopAfterTheTool](
                                  const QNCodexCLICorrectionInvocation& invocation,
                                  std::stop_token token) {
                auto result = runCodexCLICorrectionProcess(invocation, std::move(token));
                if (stopAfterTheTool) {
                    stop.request_stop();
                }
                return result;
            };
            auto provider = providerRunning(c.scenario, 10, std::nullopt, services);
            const auto events = streamWithin(provider, stop.get_token(), 20s);
            ASSERT_TRUE(events.has_value()) << "the run did not end";
            ASSERT_EQ(events->size(), 1u);
            const QNModelCorrectionStreamEvent& event = events->front();
            if (stopAfterTheTool) {
                EXPECT_EQ(event.kind(), QNModelCorrectionStreamEvent::Kind::cancelled);
            } else if (c.answered) {
                EXPECT_EQ(event.kind(), QNModelCorrectionStreamEvent::Kind::completed);
            } else {
                EXPECT_EQ(messageOf(event), c.failure);
            }
            expectNothingLeft();
        }
    }
}

TEST_F(CodexCLIProviderTest, AToolThatCannotStartIsAFailureWithItsReason) {
    Provider provider(Provider::Configuration{fake_.file("no-such-codex"), std::nullopt,
                                              std::nullopt, 5, "codex-cli-byok"},
                      kPrompt, {.temporaryRoot = root()});
    const auto result = provider.generateCorrection(requestWithContext(), {});
    ASSERT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::failed);
    EXPECT_EQ(result.message()->rfind("Codex CLI failed: posix_spawn failed: ", 0), 0u)
        << *result.message();
    expectNothingLeft();
}

TEST_F(CodexCLIProviderTest, RefusedExtraSettingsAreDroppedForOneSecondRun) {
    auto clock = std::make_shared<ManualClock>();
    Provider::Services services;
    services.clock = clock;
    services.runner = [clock](const QNCodexCLICorrectionInvocation& invocation,
                              std::stop_token stop) {
        clock->advance(1500ms);
        return runCodexCLICorrectionProcess(invocation, std::move(stop));
    };
    auto provider = providerRunning(
        "case \" $* \" in\n"
        "  *web_search=disabled*) echo 'Error: unknown configuration key: web_search' >&2; exit 2 "
        ";;\n"
        "esac\n"
        "printf 'The cat sat' > \"$OUT\"",
        10, "gpt-test", services);

    const auto events = streamEvents(*provider, requestWithContext());

    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].kind(), QNModelCorrectionStreamEvent::Kind::completed)
        << messageOf(events[0]);
    EXPECT_EQ(events[0].response()->output, u"The cat sat");
    EXPECT_EQ(events[0].response()->latencyMilliseconds, 3000.0);  // both runs
    ASSERT_EQ(runs(), 2);
    const std::string first = recorded("cd", 1);
    const std::string second = recorded("cd", 2);
    EXPECT_NE(first, second);
    EXPECT_EQ(arguments(1).size(), 21u);
    EXPECT_EQ(arguments(2), Provider::makeArguments(second, fs::path(second) / "last-message.txt",
                                                    std::string("gpt-test"), false));
    EXPECT_EQ(recorded("stdin", 2), recorded("stdin", 1));
    expectNothingLeft();
}

TEST_F(CodexCLIProviderTest, TheSecondRunIsTheLastWhateverItSays) {
    auto provider = providerRunning("echo \"run $n: unknown config web_search\" >&2\nexit 1");
    const auto result = provider->generateCorrection(requestWithContext(), {});
    ASSERT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::failed);
    EXPECT_EQ(*result.message(), "Codex CLI failed: run 2: unknown config web_search");
    EXPECT_EQ(runs(), 2);
    expectNothingLeft();
}

TEST_F(CodexCLIProviderTest, OnlyAFailedFirstRunIsRepeated) {
    // The complaint is there, but the run succeeded.
    auto provider = providerRunning(
        "echo 'warning: unknown option suppress_unstable_features_warning' >&2\n"
        "printf 'The cat sat' > \"$OUT\"");
    const auto result = provider->generateCorrection(requestWithContext(), {});
    EXPECT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::success);
    EXPECT_EQ(runs(), 1);

    // A time-out is never repeated either.
    fs::remove(fake_.file("args.1"));
    auto slow = providerRunning("echo 'unknown config web_search' >&2\nsleep 30", 0.2);
    const auto timedOut = slow->generateCorrection(requestWithContext(), {});
    ASSERT_EQ(timedOut.kind(), QNModelCorrectionProviderResult::Kind::failed);
    EXPECT_EQ(*timedOut.message(), "Codex CLI timed out after 0.2s");
    EXPECT_EQ(runs(), 1);
    expectNothingLeft();
}

TEST_F(CodexCLIProviderTest, CancellationStopsTheToolAndReportsCancelled) {
    auto provider = providerRunning("sleep 30 & echo $! > \"$FAKE_DIR/sleeper.pid\"\nwait");
    std::stop_source stop;
    std::jthread canceller([&] {
        if (testing::waitForPidFile(fake_.file("sleeper.pid"))) {
            stop.request_stop();
        }
    });
    const auto started = std::chrono::steady_clock::now();
    const auto events = streamEvents(*provider, requestWithContext(), stop.get_token());
    canceller.join();

    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind(), QNModelCorrectionStreamEvent::Kind::cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, testing::kHangWatchdog);
    const auto sleeper = testing::waitForPidFile(fake_.file("sleeper.pid"));
    ASSERT_TRUE(sleeper.has_value());
    EXPECT_TRUE(testing::waitUntilEnded(*sleeper));
    EXPECT_EQ(runs(), 1);
    expectNothingLeft();
}

TEST_F(CodexCLIProviderTest, AStopRequestedBeforehandStartsNothing) {
    auto provider = providerRunning("printf 'The cat sat' > \"$OUT\"");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(provider->generateCorrection(requestWithContext(), stop.get_token()),
              QNModelCorrectionProviderResult::cancelled());
    const auto events = streamEvents(*provider, requestWithContext(), stop.get_token());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind(), QNModelCorrectionStreamEvent::Kind::cancelled);
    EXPECT_EQ(runs(), 0);
}

TEST_F(CodexCLIProviderTest, AWorkingDirectoryThatCannotBeMadeIsAFailure) {
    fake_.writeFile("not-a-directory", "x");
    Provider provider(Provider::Configuration{fake_.writeScript("codex", kRecordRun), std::nullopt,
                                              std::nullopt, 5, "codex-cli-byok"},
                      kPrompt, {.temporaryRoot = fake_.path() / "not-a-directory"});
    const auto result = provider.generateCorrection(requestWithContext(), {});
    EXPECT_EQ(result, QNModelCorrectionProviderResult::failed(
                          "Codex CLI failed to create a temporary directory"));
    EXPECT_EQ(runs(), 0);
}

TEST(CodexCLIProviderTimeout, UsesTheDefaultUnlessFiniteAndPositiveAndFormatsToHundredths) {
    for (const double configured : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                                    std::numeric_limits<double>::infinity()}) {
        const Provider provider(
            Provider::Configuration{"/bin/true", std::nullopt, std::nullopt, configured, "x"}, "");
        EXPECT_EQ(provider.effectiveTimeoutSeconds(), 30.0) << configured;
    }
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {30, "30"},       {2.5, "2.5"},
        {0.125, "0.13"},  {0.2, "0.2"},
        {1.999, "2"},     {-3, "0"},
        {0.004, "0"},     {0.006, "0.01"},
        {12.34, "12.34"}, {1e20, "100000000000000000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Provider::formatSeconds(c.seconds), c.text) << c.seconds;
    }
    EXPECT_EQ(Provider::formatSeconds(std::numeric_limits<double>::quiet_NaN()), "0");
}

TEST(CodexCLIProviderAvailability, EachDetectionStateHasItsOwnTitleAndDetail) {
    using Status = QNCodexCLISupportStatus;
    using Login = QNCodexCLILoginState;
    const std::string path = "/opt/tools/codex";
    const std::string notConfigured =
        "Install Codex CLI and run codex login to use Codex correction.";
    const struct {
        QNCodexCLIDetection detection;
        const char* title;
        std::string detail;
    } cases[] = {
        {{path, "codex-cli 0.120.0", Status::supported, Login::notLoggedIn},
         "Codex CLI Not Logged In",
         "Run codex login to use Codex correction."},
        {{path, "codex-cli 0.120.0", Status::supported, Login::unknown},
         "Codex CLI Login Unknown",
         "Run codex login to verify Codex CLI authentication."},
        {{std::nullopt, "codex-cli 0.120.0", Status::supported, Login::loggedIn},
         "Codex CLI Not Configured",
         notConfigured},
        {{"", "codex-cli 0.120.0", Status::supported, Login::loggedIn},
         "Codex CLI Not Configured",
         notConfigured},
        {{std::nullopt, std::nullopt, Status::missing, Login::loggedIn},
         "Codex CLI Not Configured",
         notConfigured},
        {{std::nullopt, "codex-cli 0.120.0", Status::pathResolutionFailed, Login::loggedIn},
         "Codex CLI Not Configured",
         notConfigured},
        {{path, " codex-cli 0.100.0\n", Status::unsupportedVersion, Login::loggedIn},
         "Codex CLI Version Unsupported",
         "Detected Codex CLI codex-cli 0.100.0. Install Codex CLI 0.116.0 or newer."},
        {{path, " \n ", Status::unsupportedVersion, Login::loggedIn},
         "Codex CLI Version Unsupported",
         "Detected an unsupported Codex CLI version. Install Codex CLI 0.116.0 or newer."},
        {{path, "codex 1", Status::unparsableVersion, Login::loggedIn},
         "Codex CLI Version Unsupported",
         "Could not parse the detected Codex CLI version. Install Codex CLI 0.116.0 or newer."},
        {{path, "boom", Status::versionCheckFailed, Login::loggedIn},
         "Codex CLI Version Check Failed",
         "Codex CLI was detected, but its version could not be verified."},
        {QNCodexCLIDetection::unsupportedPlatform(), "Codex CLI Unsupported",
         "Codex CLI correction is only available on macOS."},
    };
    FakeExecutableDirectory fake;
    const std::string script = fake.writeScript("codex", "touch \"$FAKE_DIR/ran\"");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title + (" / " + c.detail));
        // Whatever path is configured, an unusable detection decides.
        Provider provider(Provider::Configuration{script, c.detection, std::nullopt, 5, "codex"},
                          kPrompt);
        EXPECT_EQ(provider.availabilitySummary(),
                  (QNModelAvailabilitySummary{false, c.title, c.detail}));
        const auto events = streamEvents(provider, requestWithContext());
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0], QNModelCorrectionStreamEvent::unavailable(c.title));
    }
    EXPECT_FALSE(fake.read("ran").has_value());

    // A usable detection: ready, running the path it was built with.
    const QNCodexCLIDetection usable{script, "codex-cli 0.120.0", Status::supported,
                                     Login::loggedIn};
    Provider ready(usable, std::nullopt, 5, "codex-cli-byok");
    EXPECT_EQ(ready.configuration().executablePath, script);
    EXPECT_EQ(
        ready.availabilitySummary(),
        (QNModelAvailabilitySummary{true, "Codex CLI Ready",
                                    "Correction runs through the detected Codex CLI executable."}));
    // ... but only when the configuration has a path of its own.
    Provider pathless(Provider::Configuration{std::nullopt, usable, std::nullopt, 5, "x"}, kPrompt);
    EXPECT_EQ(pathless.availabilitySummary().title, "Codex CLI Not Configured");
}

TEST(CodexCLIProviderAvailability, ABlankPathIsNotConfiguredAndStartsNothing) {
    Provider provider(std::string(" \t\n"), std::nullopt, 5, "codex-cli-byok");
    EXPECT_EQ(provider.availabilitySummary(),
              (QNModelAvailabilitySummary{
                  false, "Codex CLI Not Configured",
                  "Install Codex CLI and run codex login to use Codex correction."}));
    EXPECT_EQ(provider.generateCorrection(requestWithContext(), {}),
              QNModelCorrectionProviderResult::unavailable("Codex CLI Not Configured"));
}

TEST(CodexCLIProviderDiagnostics, NameTheToolTheModelAndTheOnlinePromptVersion) {
    Provider provider(std::string("/bin/true"), std::string("  gpt-5 \n"), 5,
                      "codex-cli-settings-verify");
    EXPECT_EQ(provider.providerID(), "codex-cli-settings-verify");
    const auto diagnostics = provider.diagnostics();
    EXPECT_EQ(diagnostics.providerID, "codex-cli-settings-verify");
    EXPECT_EQ(diagnostics.route, QNModelCorrectionRoute::remote);
    EXPECT_EQ(diagnostics.providerName, "Codex CLI");
    EXPECT_EQ(diagnostics.model, "gpt-5");
    EXPECT_EQ(diagnostics.endpointHost, std::nullopt);
    const auto online = QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online);
    EXPECT_EQ(diagnostics.promptVersion, std::string(online.rawValue()));
    EXPECT_EQ(provider.prompt(), QNModelCorrectionPrompt::loadText(online.rawValue()));

    Provider blankModel(std::string("/bin/true"), std::string(" "), 5, "x");
    EXPECT_EQ(blankModel.diagnostics().model, std::nullopt);
}

TEST(CodexCLIFailureText, IsCondensedAndBounded) {
    const struct {
        std::string raw;
        std::string condensed;
    } cases[] = {
        {"", "Codex CLI failed"},
        {" \n\t ", "Codex CLI failed"},
        {"\x1b[1;31mfatal\x1b[0m:\x1b[K  bad\r\nthing ", "fatal: bad thing"},
        {"keep \x1b(B this", "keep (B this"},  // an escape without "[" is only a control character
        {"unterminated \x1b[12;3", "unterminated"},
        {"line\xE2\x80\xA8next\x01\x7F"
         "end",
         "line next end"},
        {"Please run CODEX LOGIN first", kNotLoggedIn},
        {"Auth failed; Login again", kNotLoggedIn},
        {"authorization header missing", "authorization header missing"},
        {std::string(500, 'x'), std::string(500, 'x')},
        {std::string(499, 'x') + " yyyy", std::string(499, 'x') + "..."},
        {std::string(600, 'x'), std::string(500, 'x') + "..."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Provider::condenseFailureText(c.raw), c.condensed) << c.raw;
    }
    // Characters, not bytes or code units, are counted.
    std::string emoji;
    for (int i = 0; i < 501; ++i) {
        emoji += "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // thumbs up with a skin tone: one character
    }
    const std::string cut = Provider::condenseFailureText(emoji);
    EXPECT_EQ(text::characterCount(std::string_view(cut)), 503);
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
}

TEST(CodexCLIEvents, OnlyTheFirstTurnFailedLineCounts) {
    const struct {
        const char* name;
        std::string output;
        std::optional<std::string> failure;
    } cases[] = {
        {"nothing", "", std::nullopt},
        {"other events and noise",
         "not json\n[1,2]\n{}\n{\"type\":\"turn.completed\",\"message\":\"x\"}\n\"turn.failed\"",
         std::nullopt},
        {"type must be the text", "{\"type\":[\"turn.failed\"],\"message\":\"m\"}", std::nullopt},
        {"message first", "{\"type\":\"turn.failed\",\"error\":\"e\",\"message\":\" m \"}", "m"},
        {"nested error message",
         "{\"type\":\"turn.failed\",\"error\":{\"code\":7,\"message\":\"quota\\nexceeded\"}}",
         "quota exceeded"},
        {"reason before error", "{\"type\":\"turn.failed\",\"error\":\"e\",\"reason\":\"r\"}", "r"},
        {"blank values are passed over",
         "{\"type\":\"turn.failed\",\"message\":\"  \",\"detail\":\"d\"}", "d"},
        {"any other key",
         "{\"type\":\"turn.failed\",\"info\":[\"no\"],\"extra\":{\"x\":\"found\"}}", "found"},
        {"first line wins, after other breaks",
         "{\"type\":\"turn.started\"}\x0b{\"type\":\"turn.failed\",\"message\":\"one\"}\r\n"
         "{\"type\":\"turn.failed\",\"message\":\"two\"}",
         "one"},
        {"no message", "  {\"type\":\"turn.failed\",\"type2\":3}  ", "Codex CLI turn failed"},
        {"sign-in problem", "{\"type\":\"turn.failed\",\"error\":{\"message\":\"Not logged in\"}}",
         kNotLoggedIn},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Provider::parseEvents(c.output), c.failure) << c.name;
    }
}

TEST(CodexCLIEvents, DeepNestingNeitherOverflowsNorExplodes) {
    // A message key nested thousands of levels deep, with every level also holding other keys:
    // searched naively this costs twice per level.
    constexpr int depth = 3000;
    std::string json;
    for (int i = 0; i < depth; ++i) {
        json += "{\"other\":1,\"message\":";
    }
    json += "\"deep\"";
    for (int i = 0; i < depth; ++i) {
        json += "}";
    }
    EXPECT_EQ(Provider::findEventMessage(nlohmann::json::parse(json)), "deep");
    EXPECT_EQ(Provider::parseEvents("{\"type\":\"turn.failed\",\"error\":" + json + "}"), "deep");
}

}  // namespace
}  // namespace ravlin
