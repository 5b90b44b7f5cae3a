#pragma once

// The bench every end-to-end case runs on: the real engine over real providers, each provider
// facing a real stand-in (a loopback HTTP server, a shell script in place of the Codex tool, the
// scripted on-device model). A case builds its providers on a fresh `Rig`, runs one correction
// through the engine's full entry point, then checks the outcome, that the call did not hang, that
// no failure text or privacy-log event carries the person's text, and, once the rig is gone, that
// no descriptor, thread or process was left behind.
//
// Every text the person "types" carries a canary word; a failure text or privacy-log event that
// contains it has leaked user text.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/correction_engine.h"
#include "tests/support/fake_executable.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/recording_privacy_logger.h"
#include "tests/support/resource_watch.h"
#include "tests/support/scripted_language_model.h"
#include "tests/support/watchdog.h"

namespace ravlin::e2e {

using namespace std::chrono_literals;
using Provider = std::shared_ptr<QNProviderCorrectionModel>;
using Outcome = QNModelCorrectionOutcome;
using Status = QNCorrectionDecisionStatus;
using testing::ScriptedReply;

// The canary, in the text, in the context and in the model's answers.
inline constexpr std::string_view kCanary = "qzcanary4417";
extern const std::u16string kUserText;   // what the person typed, with two typos
extern const std::u16string kCorrected;  // the answer every well-behaved model gives
extern const std::u16string kContext;    // text before it in the document

// Slack added to every deadline: a watchdog against a call that hangs, never a measurement. The
// outcome tells which deadline ended a call; this only has to tell a call that ended from one
// that waits on a stand-in's 30-second sleep or endless stall, on a machine as loaded as it gets
// (the suite runs under sanitizers beside every other suite).
inline constexpr std::chrono::milliseconds kMargin = testing::kHangWatchdog;

// Time limits of an online provider, in seconds.
struct Timing {
    double request = 5;
    double idle = 5;
    double total = 10;
};

// The stand-ins of one case; destroyed before its leak check.
class Rig {
  public:
    Rig();

    testing::LoopbackHttpServer server;
    testing::FakeExecutableDirectory tools;
    std::shared_ptr<testing::ScriptedLanguageModel> model;

    // The hosted cloud provider talking to `server`, with both credentials present.
    [[nodiscard]] Provider hosted(Timing timing = {});
    // The same, sending to `endpoint` instead.
    [[nodiscard]] Provider hostedAt(std::string endpoint, Timing timing = {});
    // The hosted cloud provider without a session token.
    [[nodiscard]] Provider hostedWithoutSession();
    // The OpenAI provider with the user's own key, sending to `server` (or to `base`).
    [[nodiscard]] Provider openai(Timing timing = {});
    [[nodiscard]] Provider openaiAt(std::string base, Timing timing = {});
    // The generic online provider posting to `server` (or to `origin`); its time-out is its one
    // time limit.
    [[nodiscard]] Provider remote(double timeoutSeconds = 5);
    [[nodiscard]] Provider remoteAt(const std::string& origin, double timeoutSeconds = 5);
    // The Codex provider running a stand-in tool whose script is `body`, preceded by lines that
    // set $OUT to the file the final message goes to. The tool gets `prompt` as instructions.
    [[nodiscard]] Provider codex(const std::string& body, double timeoutSeconds = 10,
                                 std::string prompt = "Fix spelling only.");
    // The on-device provider over `model`.
    [[nodiscard]] Provider onDevice();

    // Where the Codex provider makes its per-run working directories.
    [[nodiscard]] std::filesystem::path codexRuns() const;
    // Whether every working directory the Codex provider made is gone.
    [[nodiscard]] bool codexRunsCleanedUp() const;

  private:
    int scripts_ = 0;
};

// An http origin on 127.0.0.1 where nothing listens: connecting is refused.
[[nodiscard]] std::string refusedOrigin();
// A hosted cloud reply streaming `pieces` as text deltas, then a usage report.
[[nodiscard]] ScriptedReply hostedAnswer(const std::vector<std::string>& pieces);
// One text-delta event payload; the hosted service and OpenAI share its shape.
[[nodiscard]] std::string textDelta(std::string_view text);
// An OpenAI Responses reply streaming `pieces` as text deltas, then the completion event.
[[nodiscard]] ScriptedReply openaiAnswer(const std::vector<std::string>& pieces);
// A generic endpoint's JSON reply carrying `answer` (UTF-8) as the corrected text.
[[nodiscard]] ScriptedReply remoteAnswer(const std::string& answer);
// A tool script that reads its input and answers `answer` (UTF-8) as its final message.
[[nodiscard]] std::string codexAnswer(const std::string& answer);

// Measures how long a stop request takes to become the answer: records the moment the stop was
// asked for, from whatever thread asks.
class StopWatch {
  public:
    // Asks `source` to stop and notes when.
    void stop(std::stop_source& source);
    [[nodiscard]] bool stopped() const { return stoppedAt_.load() != 0; }
    // Time from the stop request to `returnedAt`.
    [[nodiscard]] std::chrono::microseconds latencyUntil(
        std::chrono::steady_clock::time_point returnedAt) const;

  private:
    std::atomic<std::int64_t> stoppedAt_{0};
};

struct Call {
    std::u16string text = kUserText;
    std::optional<std::u16string> context;
    QNMisbehaviorRuleIDSet extraFallbackRules;
    std::stop_token stop;
    // Called with each partial text the engine forwards, after it was recorded.
    std::function<void(const std::u16string&)> onPartial;
};

struct Observed {
    QNModelCorrectionResult result;
    std::vector<std::u16string> partials;
    std::vector<QNModelPrivacyLogEvent> events;
    std::chrono::milliseconds elapsed{0};
    std::chrono::steady_clock::time_point returnedAt;
};

// One correction through a new engine over `primary` and `fallback`, with a recording logger.
[[nodiscard]] Observed correct(Provider primary, Provider fallback, const Call& call = {});

// Every text the correction produced that a person or a log may see and that must never hold
// user text: outcome and status reasons and notes of the result, its decision, its stages and
// children, and the privacy-log messages.
[[nodiscard]] std::vector<std::string> failureTexts(const Observed& observed);
// Fails the test when the canary appears in any of them.
void expectNoCanary(const Observed& observed);

// What a case expects of the engine.
struct Expected {
    Outcome outcome;
    // The reason is checked as a prefix: the rest is the platform's wording.
    bool reasonIsPrefix = false;
    // The decision's own status; by default the one the outcome maps to (no fallback happened).
    std::optional<Status> status;
    // The result's output; by default the person's text for every outcome that applies nothing
    // but a rejection (whose output is the refused answer and is left unchecked).
    std::optional<std::u16string> output;
    // The partial texts the engine forwarded, when checked.
    std::optional<std::vector<std::u16string>> partials;
    // The longest the call may take by the rules of the providers involved, for the values the
    // case configured; kMargin is added.
    std::chrono::milliseconds deadline{0};
};

struct Row {
    using Arrange = std::function<std::pair<Provider, Provider>(Rig&)>;
    using Check = std::function<void(Rig&, const Observed&)>;

    Row(std::string name, Arrange arrange, Expected expected,
        std::optional<std::u16string> context = std::nullopt, Check alsoCheck = {})
        : name(std::move(name)),
          arrange(std::move(arrange)),
          expected(std::move(expected)),
          context(std::move(context)),
          alsoCheck(std::move(alsoCheck)) {}

    std::string name;
    // Builds the primary and fallback providers on the rig and scripts the stand-ins.
    Arrange arrange;
    Expected expected;
    // The text before the person's text, sent along with it.
    std::optional<std::u16string> context;
    // Extra checks on what was observed, while the rig still stands.
    Check alsoCheck;
};

// Runs each row on a fresh rig with all the checks above; prints "<title>: N rows".
void runMatrix(const std::string& title, const std::vector<Row>& rows);

// Fails the test when something is still held that was not at `before`.
void expectNothingLeaked(const testing::ResourceSnapshot& before);

}  // namespace ravlin::e2e
