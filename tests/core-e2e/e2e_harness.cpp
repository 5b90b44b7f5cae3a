#include "tests/core-e2e/e2e_harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/providers/codex-cli/codex_cli_provider.h"
#include "core/providers/foundation-models/foundation_models_provider.h"
#include "core/providers/hosted-proxy/hosted_proxy_provider.h"
#include "core/providers/openai/openai_provider.h"
#include "core/providers/remote/remote_provider.h"

namespace ravlin::e2e {
namespace {

namespace fs = std::filesystem;

// Every process this program starts from now on carries its marker, so a leaked grandchild can
// be found wherever it ended up. Runs before main, while there is one thread.
const bool kDescendantsMarked = [] {
    testing::markDescendantEnvironment();
    return true;
}();

// Sets $OUT to the path that follows "--output-last-message" among the tool's arguments.
constexpr const char* kFindOutputFile = R"(OUT=""; prev=""
for a in "$@"; do
  if [ "$prev" = "--output-last-message" ]; then OUT="$a"; fi
  prev="$a"
done
)";

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string describe(const Outcome& outcome) {
    return "outcome kind " + std::to_string(static_cast<int>(outcome.kind)) + " \"" +
           outcome.reason + "\"";
}

std::string describe(const Status& status) {
    return "status kind " + std::to_string(static_cast<int>(status.kind)) + " \"" + status.reason +
           "\"";
}

void collect(const std::vector<QNCorrectionNote>& notes, std::vector<std::string>& texts) {
    for (const QNCorrectionNote& note : notes) {
        texts.push_back(note.key);
        texts.push_back(note.value);
    }
}

void collect(const QNCorrectionDecision& decision, std::vector<std::string>& texts) {
    texts.push_back(decision.status.reason);
    if (decision.outcome) {
        texts.push_back(decision.outcome->reason);
    }
    collect(decision.structuredNotes, texts);
    for (const QNCorrectionDecisionStage& stage : decision.stages) {
        texts.push_back(stage.status.reason);
        collect(stage.notes, texts);
    }
    for (const QNCorrectionDecision& child : decision.children) {
        collect(child, texts);
    }
}

bool reasonMatches(const std::string& actual, const std::string& expected, bool prefix) {
    return prefix ? actual.starts_with(expected) : actual == expected;
}

void check(const Expected& expected, const Observed& seen) {
    const QNModelCorrectionResult& result = seen.result;
    EXPECT_EQ(result.outcome.kind, expected.outcome.kind) << describe(result.outcome);
    EXPECT_TRUE(
        reasonMatches(result.outcome.reason, expected.outcome.reason, expected.reasonIsPrefix))
        << describe(result.outcome) << ", expected \"" << expected.outcome.reason << "\"";

    const Status wantedStatus = expected.status.value_or(decisionStatus(expected.outcome));
    ASSERT_TRUE(result.decision.has_value());
    EXPECT_EQ(result.decision->status.kind, wantedStatus.kind) << describe(result.decision->status);
    EXPECT_TRUE(
        reasonMatches(result.decision->status.reason, wantedStatus.reason, expected.reasonIsPrefix))
        << describe(result.decision->status) << ", expected \"" << wantedStatus.reason << "\"";

    if (expected.output) {
        EXPECT_EQ(result.output, *expected.output);
    } else if (expected.outcome.kind != Outcome::Kind::rejected) {
        EXPECT_EQ(result.output, result.input);
    }
    EXPECT_EQ(result.input, kUserText);
    if (expected.partials) {
        EXPECT_EQ(seen.partials, *expected.partials);
    }
    EXPECT_LT(seen.elapsed, expected.deadline + kMargin)
        << "took " << seen.elapsed.count() << " ms";
}

}  // namespace

const std::u16string kUserText = u"teh cat qzcanary4417 sat on teh mat.";
const std::u16string kCorrected = u"The cat qzcanary4417 sat on the mat.";
const std::u16string kContext = u"Earlier qzcanary4417 words came first.";

// ---- Rig --------------------------------------------------------------------------------------

Rig::Rig() : model(std::make_shared<testing::ScriptedLanguageModel>()) {}

Provider Rig::hosted(Timing timing) {
    return hostedAt(server.url("/functions/v1/ravlin-cloud"), timing);
}

Provider Rig::hostedAt(std::string endpoint, Timing timing) {
    return std::make_shared<QNProviderHostedProxyCorrection>(
        QNProviderHostedProxyCorrection::Configuration(std::move(endpoint), timing.request,
                                                       timing.idle, timing.total, "hosted-proxy"),
        "Correct the text.", "online-v11", [] { return std::optional<std::string>("pub-key"); },
        [] { return std::optional<std::string>("session-token"); },
        QNProviderHostedProxyCorrection::RequestIDProvider{});
}

Provider Rig::hostedWithoutSession() {
    return std::make_shared<QNProviderHostedProxyCorrection>(
        QNProviderHostedProxyCorrection::Configuration(server.url("/functions/v1/ravlin-cloud"), 5,
                                                       5, 10, "hosted-proxy"),
        "Correct the text.", "online-v11", [] { return std::optional<std::string>("pub-key"); },
        [] { return std::optional<std::string>(); },
        QNProviderHostedProxyCorrection::RequestIDProvider{});
}

Provider Rig::openai(Timing timing) {
    return openaiAt(server.url(""), timing);
}

Provider Rig::openaiAt(std::string base, Timing timing) {
    return std::make_shared<QNProviderOpenAICorrection>(
        QNProviderOpenAICorrection::Configuration("gpt-4.1-mini", timing.request, timing.idle,
                                                  timing.total, "openai-byok"),
        "Correct the text.", [] { return std::optional<std::string>("sk-test"); },
        net::HttpClient::shared(), Clock::system(), std::move(base));
}

Provider Rig::remote(double timeoutSeconds) {
    return remoteAt(server.url(""), timeoutSeconds);
}

Provider Rig::remoteAt(const std::string& origin, double timeoutSeconds) {
    return std::make_shared<QNProviderRemoteCorrection>(
        QNProviderRemoteCorrection::Configuration(origin + "/v1/correct", "gpt-remote",
                                                  timeoutSeconds, "hosted-online"),
        "Correct the text.", std::optional<std::string>("online-v11"),
        [] { return std::optional<std::string>("remote-token"); });
}

Provider Rig::codex(const std::string& body, double timeoutSeconds, std::string prompt) {
    const std::string path =
        tools.writeScript("codex-" + std::to_string(++scripts_), kFindOutputFile + body);
    QNProviderCodexCLICorrection::Services services;
    services.temporaryRoot = codexRuns();
    return std::make_shared<QNProviderCodexCLICorrection>(
        QNProviderCodexCLICorrection::Configuration{path, std::nullopt, std::string("gpt-test"),
                                                    timeoutSeconds, "codex-cli-byok"},
        std::move(prompt), std::move(services));
}

Provider Rig::onDevice() {
    return std::make_shared<QNProviderFoundationModelsCorrection>("Fix the text.", model);
}

fs::path Rig::codexRuns() const {
    return tools.path() / "runs";
}

bool Rig::codexRunsCleanedUp() const {
    return !fs::exists(codexRuns()) || fs::is_empty(codexRuns());
}

// ---- Stand-in answers -------------------------------------------------------------------------

std::string refusedOrigin() {
    // Bind a port and close it again without listening: until someone else takes it, a
    // connection to it is refused at once.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return "http://127.0.0.1:" + std::to_string(port);
}

std::string textDelta(std::string_view text) {
    return nlohmann::json{{"type", "response.output_text.delta"}, {"delta", text}}.dump();
}

ScriptedReply hostedAnswer(const std::vector<std::string>& pieces) {
    ScriptedReply reply = ScriptedReply::eventStream();
    for (const std::string& piece : pieces) {
        reply.event(textDelta(piece));
    }
    reply.event(R"({"type":"response.completed","tokens_prompt":21,"tokens_completion":9})");
    return reply;
}

ScriptedReply openaiAnswer(const std::vector<std::string>& pieces) {
    ScriptedReply reply = ScriptedReply::eventStream();
    for (const std::string& piece : pieces) {
        reply.event(textDelta(piece));
    }
    reply.event(R"({"type":"response.completed"})");
    return reply;
}

ScriptedReply remoteAnswer(const std::string& answer) {
    return ScriptedReply(200)
        .header("Content-Type", "application/json")
        .chunk(nlohmann::json{{"correctedText", answer},
                              {"metadata", {{"inputTokens", 21}, {"outputTokens", 9}}}}
                   .dump());
}

std::string codexAnswer(const std::string& answer) {
    return "cat > /dev/null\nprintf '%s' " + shellQuoted(answer) + " > \"$OUT\"\n";
}

// ---- Stop watch -------------------------------------------------------------------------------

void StopWatch::stop(std::stop_source& source) {
    stoppedAt_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    source.request_stop();
}

std::chrono::microseconds StopWatch::latencyUntil(
    std::chrono::steady_clock::time_point returnedAt) const {
    const std::chrono::steady_clock::time_point stoppedAt{
        std::chrono::steady_clock::duration(stoppedAt_.load())};
    return std::chrono::duration_cast<std::chrono::microseconds>(returnedAt - stoppedAt);
}

// ---- Running ----------------------------------------------------------------------------------

Observed correct(Provider primary, Provider fallback, const Call& call) {
    auto logger = std::make_shared<testing::RecordingPrivacyLogger>();
    QNEngineCorrection engine("Fix the text.", std::move(primary), std::move(fallback), logger,
                              Clock::system());
    std::vector<std::u16string> partials;
    QNCorrectionDecision decision;
    const auto started = std::chrono::steady_clock::now();
    QNModelCorrectionResult result = engine.correct(
        call.text, call.context, decision, call.extraFallbackRules,
        [&](const std::u16string& partial) {
            partials.push_back(partial);
            if (call.onPartial) {
                call.onPartial(partial);
            }
        },
        call.stop);
    const auto returned = std::chrono::steady_clock::now();
    return Observed{std::move(result), std::move(partials), logger->events(),
                    std::chrono::duration_cast<std::chrono::milliseconds>(returned - started),
                    returned};
}

std::vector<std::string> failureTexts(const Observed& observed) {
    std::vector<std::string> texts;
    texts.push_back(observed.result.outcome.reason);
    collect(observed.result.structuredNotes, texts);
    if (observed.result.decision) {
        collect(*observed.result.decision, texts);
    }
    for (const QNModelPrivacyLogEvent& event : observed.events) {
        texts.push_back(event.message);
    }
    return texts;
}

void expectNoCanary(const Observed& observed) {
    for (const std::string& text : failureTexts(observed)) {
        EXPECT_EQ(text.find(kCanary), std::string::npos) << "user text leaked into: " << text;
    }
}

void expectNothingLeaked(const testing::ResourceSnapshot& before) {
    EXPECT_EQ(testing::resourcesLeakedSince(before), std::vector<std::string>{});
}

void runMatrix(const std::string& title, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(title + " / " + row.name);
        const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
        {
            Rig rig;
            auto [primary, fallback] = row.arrange(rig);
            Call call;
            call.context = row.context;
            const Observed seen = correct(std::move(primary), std::move(fallback), call);
            check(row.expected, seen);
            expectNoCanary(seen);
            if (row.alsoCheck) {
                row.alsoCheck(rig, seen);
            }
            EXPECT_TRUE(rig.codexRunsCleanedUp());
        }
        expectNothingLeaked(before);
    }
    std::printf("%s: %zu rows\n", title.c_str(), rows.size());
}

}  // namespace ravlin::e2e
