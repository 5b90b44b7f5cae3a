#include "core/providers/remote/remote_provider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/records/prompt_catalogue.h"
#include "core/records/raw_value.h"
#include "core/text/unicode.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/stream_events.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackHttpServer;
using testing::ScriptedReply;
using ResultKind = QNModelCorrectionProviderResult::Kind;

constexpr const char* kPrompt = "Correct the text.";

struct RemoteSetup {
    std::string model = "house-model";
    double timeout = 1.0;
    std::optional<std::string> token = " tok-123\n";
    std::optional<std::string> promptVersion;
};

std::shared_ptr<QNProviderRemoteCorrection> makeProvider(
    const std::string& endpoint, const RemoteSetup& setup = {},
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>()) {
    return std::make_shared<QNProviderRemoteCorrection>(
        QNProviderRemoteCorrection::Configuration(endpoint, setup.model, setup.timeout, "remote"),
        kPrompt, setup.promptVersion, [calls, token = setup.token] {
            ++*calls;
            return token;
        });
}

QNModelCorrectionRequest requestFor(std::u16string text) {
    return QNModelCorrectionRequest(std::move(text), 200);
}

ScriptedReply json(int status, std::string body) {
    return ScriptedReply(status).header("Content-Type", "application/json").chunk(std::move(body));
}

TEST(RemoteProvider, PostsTheRequestMembersWithABearerToken) {
    LoopbackHttpServer server;
    server.setHandler(
        [](const testing::RecordedRequest&) { return json(200, R"({"correctedText":"Fixed."})"); });
    RemoteSetup setup;
    setup.model = "  spaced model ";
    auto provider = makeProvider(server.url("/correct"), setup);
    ASSERT_EQ(provider->generateCorrection(requestFor(u"fixd."), {}).kind(), ResultKind::success);

    setup.promptVersion = "online-v9";
    auto versioned = makeProvider(server.url("/correct"), setup);
    const QNModelCorrectionRequest full(u"teh text", 64, std::string("en_GB"), u"Before.");
    ASSERT_EQ(versioned->generateCorrection(full, {}).kind(), ResultKind::success);
    // An empty context is no context.
    const QNModelCorrectionRequest emptyContext(u"fixd.", 200, std::nullopt, u"");
    ASSERT_EQ(provider->generateCorrection(emptyContext, {}).kind(), ResultKind::success);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/correct");
    EXPECT_EQ(requests[0].headerNames(),
              (std::vector<std::string>{"Host", "Content-Type", "Accept", "Authorization",
                                        "Content-Length"}));
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer tok-123");

    const auto plain = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(plain, (nlohmann::json{{"model", "  spaced model "},
                                     {"instructions", kPrompt},
                                     {"input", "fixd."},
                                     {"maximumResponseTokens", 200}}));
    EXPECT_EQ(requests[2].body, requests[0].body);

    const auto body = QNModelRemoteCorrectionRequest::decode(requests[1].body);
    EXPECT_EQ(body.model, "  spaced model ");
    EXPECT_EQ(body.instructions, full.instructions(kPrompt));
    EXPECT_EQ(body.input, text::toUtf8(full.modelInputText()));
    EXPECT_NE(body.input.find("Before."), std::string::npos);
    EXPECT_EQ(body.maximumResponseTokens, 64);
    EXPECT_EQ(body.localeIdentifier, "en_GB");
    EXPECT_EQ(body.promptVersion, "online-v9");
    EXPECT_EQ(nlohmann::json::parse(requests[1].body).size(), 6u);
}

TEST(RemoteProvider, WithoutTokenOrModelNothingIsSent) {
    LoopbackHttpServer server;
    struct Case {
        std::optional<std::string> token;
        std::string model;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "m"}, {"", "m"}, {" \n ", "m"}, {"tok", ""}, {"tok", " \t\n"}};
    for (const auto& c : cases) {
        RemoteSetup setup;
        setup.token = c.token;
        setup.model = c.model;
        auto calls = std::make_shared<std::atomic<int>>();
        auto provider = makeProvider(server.url(), setup, calls);
        EXPECT_EQ(provider->availabilitySummary(),
                  (QNModelAvailabilitySummary{
                      false, "Online Model Not Configured",
                      "Online correction needs an endpoint, model, and API token."}));
        EXPECT_EQ(provider->generateCorrection(requestFor(u"text"), {}),
                  QNModelCorrectionProviderResult::unavailable("Online Model Not Configured"));
        EXPECT_EQ(*calls, 2);
    }
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(makeProvider(server.url())->availabilitySummary(),
              (QNModelAvailabilitySummary{true, "Online Model Ready",
                                          "Online correction is configured."}));
}

TEST(RemoteProvider, ReadsEveryReplyShape) {
    struct Case {
        const char* name;
        std::string body;
        std::optional<std::u16string> output;  // absent: malformed
        std::optional<double> latency;         // absent: the measured one
        std::optional<QNModelCorrectionUsage> usage;
    };
    QNModelCorrectionUsage totalOnly;
    totalOnly.totalTokens = 12;
    QNModelCorrectionUsage openAISpelling;
    openAISpelling.inputTokens = 9;
    openAISpelling.outputTokens = 3;
    openAISpelling.totalTokens = 12;
    openAISpelling.cachedTokens = 4;
    const std::vector<Case> cases = {
        {"text only", R"({"correctedText":"  Fixed text.\n"})", u"  Fixed text.\n", {}, {}},
        {"other members ignored", R"({"correctedText":"A","id":7,"choices":[]})", u"A", {}, {}},
        {"empty text", R"({"correctedText":""})", u"", {}, {}},
        {"total tokens only",
         R"({"correctedText":"A","metadata":{"totalTokens":12}})",
         u"A",
         {},
         totalOnly},
        {"latency only",
         R"({"correctedText":"A","metadata":{"latencyMilliseconds":42.5}})",
         u"A",
         42.5,
         {}},
        {"openai spellings",
         R"({"correctedText":"A","metadata":{"input_tokens":9,"output_tokens":3,"total_tokens":12,
             "input_tokens_details":{"cached_tokens":4},"latency_ms":"7"}})",
         u"A", 7.0, openAISpelling},
        {"null metadata", R"({"correctedText":"A","metadata":null})", u"A", {}, {}},
        {"empty metadata", R"({"correctedText":"A","metadata":{}})", u"A", {}, {}},
        {"latency that is not a number",
         R"({"correctedText":"A","metadata":{"latencyMs":"nan"}})",
         u"A",
         {},
         {}},
        {"not json", "Fixed text.", {}, {}, {}},
        {"empty body", "", {}, {}, {}},
        {"no correctedText", R"({"text":"A"})", {}, {}, {}},
        {"null correctedText", R"({"correctedText":null})", {}, {}, {}},
        {"correctedText not a string", R"({"correctedText":5})", {}, {}, {}},
        {"metadata not an object", R"({"correctedText":"A","metadata":"fast"})", {}, {}, {}},
        {"array", R"([{"correctedText":"A"}])", {}, {}, {}},
        {"not utf-8", "{\"correctedText\":\"\xFF\"}", {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server;
        server.enqueue(json(200, c.body));
        const auto started = std::chrono::steady_clock::now();
        const auto result = makeProvider(server.url())->generateCorrection(requestFor(u"a"), {});
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - started;
        if (!c.output) {
            EXPECT_EQ(result, QNModelCorrectionProviderResult::failed(
                                  "Online correction malformed response"));
            continue;
        }
        ASSERT_EQ(result.kind(), ResultKind::success);
        const auto& response = *result.response();
        EXPECT_EQ(response.input, u"a");
        EXPECT_EQ(response.output, *c.output);
        ASSERT_TRUE(response.latencyMilliseconds);
        if (c.latency) {
            EXPECT_EQ(*response.latencyMilliseconds, *c.latency);
        } else {
            // Measured in milliseconds, within the call.
            EXPECT_GE(*response.latencyMilliseconds, 0.0);
            EXPECT_LE(*response.latencyMilliseconds, took.count());
        }
        EXPECT_EQ(response.usage, c.usage);
    }
}

TEST(RemoteProvider, OnlyStatusesFrom200To299AreRead) {
    const std::vector<std::pair<int, std::optional<std::string>>> cases = {
        {200, std::nullopt},
        {201, std::nullopt},
        {299, std::nullopt},
        {300, "Online correction HTTP 300"},
        {302, "Online correction HTTP 302"},
        {401, "Online correction HTTP 401"},
        {500, "Online correction HTTP 500"},
    };
    for (const auto& [status, failure] : cases) {
        SCOPED_TRACE(status);
        EXPECT_EQ(remoteCorrectionStatusFailure(status), failure);
        LoopbackHttpServer server;
        // The body of a failed reply is never read, even when it looks like an answer.
        server.enqueue(json(status, R"({"correctedText":"A"})"));
        const auto result = makeProvider(server.url())->generateCorrection(requestFor(u"a"), {});
        if (failure) {
            EXPECT_EQ(result, QNModelCorrectionProviderResult::failed(*failure));
        } else {
            EXPECT_EQ(result.kind(), ResultKind::success);
        }
    }
    // 1xx heads are interim in HTTP/1.1 and never a final reply on the wire; as a status they
    // fail like any other outside 200 to 299.
    EXPECT_EQ(remoteCorrectionStatusFailure(199), "Online correction HTTP 199");
    EXPECT_EQ(remoteCorrectionStatusFailure(100), "Online correction HTTP 100");
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::raw("HTTP/1.1 199 Odd\r\n\r\n"));
    const auto result = makeProvider(server.url())->generateCorrection(requestFor(u"a"), {});
    ASSERT_EQ(result.kind(), ResultKind::failed);
    EXPECT_TRUE(result.message()->starts_with("Online correction network error: "))
        << *result.message();
}

TEST(RemoteProvider, KeepsAtMostOneMebibyteOfReply) {
    const std::string padding(kRemoteCorrectionReplyLimit - 40, ' ');
    {
        LoopbackHttpServer server;
        server.enqueue(json(200, R"({"correctedText":"A"})" + padding));
        const auto result = makeProvider(server.url())->generateCorrection(requestFor(u"a"), {});
        EXPECT_EQ(result.kind(), ResultKind::success);
    }
    {
        // Past the limit the reply is let go as malformed, however it would have ended (read on,
        // it would end in the time-out).
        LoopbackHttpServer server;
        auto reply = json(200, R"({"correctedText":"A"})" + padding);
        reply.chunk(std::string(4096, ' ')).stall();
        server.enqueue(std::move(reply));
        const auto result = makeProvider(server.url())->generateCorrection(requestFor(u"a"), {});
        EXPECT_EQ(result,
                  QNModelCorrectionProviderResult::failed("Online correction malformed response"));
    }
}

TEST(RemoteProvider, TransportFailuresHaveTheirTexts) {
    {
        LoopbackHttpServer server;
        server.enqueue(json(200, "").stallBeforeHead());
        RemoteSetup setup;
        setup.timeout = 0.2;
        EXPECT_EQ(makeProvider(server.url(), setup)->generateCorrection(requestFor(u"a"), {}),
                  QNModelCorrectionProviderResult::failed("Online correction timed out"));
    }
    {
        LoopbackHttpServer server;
        server.enqueue(json(200, R"({"correctedText":)").stall());
        RemoteSetup setup;
        setup.timeout = 0.2;
        EXPECT_EQ(makeProvider(server.url(), setup)->generateCorrection(requestFor(u"a"), {}),
                  QNModelCorrectionProviderResult::failed("Online correction timed out"));
    }
    {
        LoopbackHttpServer server;
        server.enqueue(json(200, R"({"correctedText":)").drop());
        const auto result = makeProvider(server.url())->generateCorrection(requestFor(u"a"), {});
        ASSERT_EQ(result.kind(), ResultKind::failed);
        EXPECT_TRUE(result.message()->starts_with("Online correction network error: "))
            << *result.message();
    }
    {
        std::string url;
        {
            LoopbackHttpServer gone;
            url = gone.url("/correct");
        }
        EXPECT_EQ(makeProvider(url)->generateCorrection(requestFor(u"a"), {}),
                  QNModelCorrectionProviderResult::failed(
                      "Online correction could not connect (connection refused)"));
    }
}

TEST(RemoteProvider, ACancelledCallIsCancelledNeverANetworkError) {
    std::vector<ScriptedReply> replies;
    replies.push_back(json(200, "").stallBeforeHead());
    replies.push_back(json(200, R"({"correctedText":)").stall());
    for (auto& reply : replies) {
        LoopbackHttpServer server;
        server.enqueue(std::move(reply));
        // Only the stop ends the wait.
        RemoteSetup setup;
        setup.timeout = 60.0;
        auto provider = makeProvider(server.url(), setup);
        std::stop_source stop;
        std::jthread canceller = server.stopAfterRequests(1, stop, 50ms);
        EXPECT_EQ(provider->generateCorrection(requestFor(u"a"), stop.get_token()),
                  QNModelCorrectionProviderResult::cancelled());
    }
}

TEST(RemoteProvider, StreamsOneTerminalEvent) {
    LoopbackHttpServer server;
    server.enqueue(json(200, R"({"correctedText":"Fixed"})"));
    server.enqueue(ScriptedReply(503));
    auto provider = makeProvider(server.url());
    for (const auto expected : {QNModelCorrectionStreamEvent::Kind::completed,
                                QNModelCorrectionStreamEvent::Kind::failed}) {
        const auto events = testing::streamEvents(*provider, requestFor(u"fixd"));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind(), expected);
    }
}

TEST(RemoteProvider, DiagnosticsReportTheOnlinePromptNotTheProvidersOwn) {
    RemoteSetup setup;
    setup.model = " house ";
    setup.promptVersion = "online-v1";
    const auto provider = makeProvider("https://correct.example.org:8443/v1/fix", setup);
    const auto diagnostics = provider->diagnostics();
    EXPECT_EQ(diagnostics.providerID, "remote");
    EXPECT_EQ(diagnostics.route, QNModelCorrectionRoute::remote);
    EXPECT_EQ(diagnostics.providerName, "Hosted Online");
    EXPECT_EQ(diagnostics.model, " house ");
    EXPECT_EQ(diagnostics.endpointHost, "correct.example.org");
    EXPECT_EQ(
        diagnostics.promptVersion,
        std::string(
            QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online).rawValue()));
    EXPECT_EQ(makeProvider("not a url")->diagnostics().endpointHost, std::nullopt);
}

TEST(RemoteProvider, WireRecordsReadBackWhatTheyWrite) {
    QNModelRemoteCorrectionRequest request{"m", "i", "in \xE2\x80\x94", 5, std::nullopt, "v"};
    const auto encoded = request.encoded();
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded,
              "{\"model\":\"m\",\"instructions\":\"i\",\"input\":\"in \xE2\x80\x94\","
              "\"maximumResponseTokens\":5,\"prompt_version\":\"v\"}");
    EXPECT_EQ(QNModelRemoteCorrectionRequest::decode(*encoded), request);
    EXPECT_THROW((void)QNModelRemoteCorrectionRequest::decode(R"({"model":"m"})"), DecodingError);
    request.input = "\xC3";
    EXPECT_FALSE(request.encoded());

    using Configuration = QNProviderRemoteCorrection::Configuration;
    EXPECT_EQ(Configuration("https://a/x", "caf\u00E9", 8.0, "p"),
              Configuration("https://a/x", "cafe\u0301", 8.0, "p"));
    EXPECT_FALSE(Configuration("https://a/x", "m", 8.0, "p") ==
                 Configuration("https://a/y", "m", 8.0, "p"));
}

}  // namespace
}  // namespace ravlin
