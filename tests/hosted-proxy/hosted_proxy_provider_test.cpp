#include "core/providers/hosted-proxy/hosted_proxy_provider.h"
#include "core/providers/retry_after.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/text/unicode.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/stream_events.h"
#include "tests/support/streaming_provider_checks.h"
#include "tests/support/watchdog.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::deltaEvent;
using testing::failureOf;
using testing::LoopbackHttpServer;
using testing::partials;
using testing::ScriptedReply;
using testing::streamEvents;
using testing::terminal;
using Kind = QNModelCorrectionStreamEvent::Kind;

struct ProviderSetup {
    double timeout = 1.0;
    double idle = 1.0;
    double total = 5.0;
    std::optional<std::string> bearer = "  pub-key \n";
    std::optional<std::string> session = "session-token";
    std::optional<std::string> promptVersion = "online-v11";
    std::shared_ptr<const Clock> clock;
};

struct Calls {
    std::atomic<int> bearer{0};
    std::atomic<int> session{0};
    std::atomic<int> requestID{0};
};

std::shared_ptr<QNProviderHostedProxyCorrection> makeProvider(const std::string& endpoint,
                                                              const ProviderSetup& setup,
                                                              std::shared_ptr<Calls> calls = {}) {
    if (!calls) {
        calls = std::make_shared<Calls>();
    }
    return std::make_shared<QNProviderHostedProxyCorrection>(
        QNProviderHostedProxyCorrection::Configuration(endpoint, setup.timeout, setup.idle,
                                                       setup.total, "hosted-proxy"),
        "Correct the text.", setup.promptVersion,
        [calls, token = setup.bearer] {
            ++calls->bearer;
            return token;
        },
        [calls, token = setup.session] {
            ++calls->session;
            return token;
        },
        [calls] { return "request-" + std::to_string(++calls->requestID); },
        net::HttpClient::shared(), setup.clock ? setup.clock : Clock::system());
}

QNModelCorrectionRequest requestFor(std::u16string text) {
    return QNModelCorrectionRequest(std::move(text), 128);
}

TEST(HostedProxyProvider, StreamsDeltasIntoPartialsAndCompletes) {
    LoopbackHttpServer server;
    server.enqueue(
        ScriptedReply::eventStream()
            .chunk(": connected\n\nevent: delta\n")
            .event(deltaEvent("A"))
            .event(deltaEvent("B"))
            .event(deltaEvent(" "))
            .event(R"({"type":"response.output_text.done","text":"AB and more"})")
            .chunk("data: [DONE]\n\n")
            .event(
                R"({"type":"response.completed","tokens_prompt":11,"tokens_completion":4,"credits_charged":1,"credits_remaining":99})"));
    auto provider = makeProvider(server.url("/functions/v1/ravlin-cloud"), {});
    const auto request = QNModelCorrectionRequest(u"teh text", 96, std::string("en_US"));
    const auto events = streamEvents(*provider, request);

    EXPECT_EQ(partials(events), (std::vector<std::u16string>{u"A", u"AB", u"AB and more"}));
    const auto& last = terminal(events);
    ASSERT_EQ(last.kind(), Kind::completed);
    const auto& response = *last.response();
    EXPECT_EQ(response.input, u"teh text");
    EXPECT_EQ(response.output, u"AB and more");
    ASSERT_TRUE(response.latencyMilliseconds);
    EXPECT_GE(*response.latencyMilliseconds, 0.0);
    QNModelCorrectionUsage usage;
    usage.inputTokens = 11;
    usage.outputTokens = 4;
    usage.creditsCharged = 1;
    usage.creditsRemaining = 99;
    EXPECT_EQ(response.usage, usage);

    const auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.target, "/functions/v1/ravlin-cloud");
    EXPECT_EQ(recorded.clientHeaders(), (std::vector<std::pair<std::string, std::string>>{
                                            {"Content-Type", "application/json"},
                                            {"Accept", "text/event-stream"},
                                            {"Authorization", "Bearer pub-key"},
                                            {"apikey", "pub-key"}}));
    const auto body = QNModelHostedProxyCorrectionRequest::decode(recorded.body);
    EXPECT_EQ(body.sessionToken, "session-token");
    EXPECT_EQ(body.requestID, "request-1");
    EXPECT_EQ(body.instructions, "Correct the text.");
    EXPECT_EQ(body.input, "teh text");
    EXPECT_EQ(body.maximumResponseTokens, 96);
    EXPECT_EQ(body.localeIdentifier, "en_US");
    EXPECT_EQ(body.promptVersion, "online-v11");
    EXPECT_EQ(nlohmann::json::parse(recorded.body).size(), 7u);
}

// An answer is whole only when the service says so: its "response.output_text.done", a
// "response.completed" or a "[DONE]" line. A body that ends after text without any of them was
// cut short (a connection closed mid-answer ends a body like any other), and its text must not
// stand in for the answer; the partials stay with the consumer as they came.
TEST(HostedProxyProvider, OnlyAnAnswerTheServiceEndedCompletes) {
    struct Row {
        const char* name;
        ScriptedReply reply;
        std::string failure;  // empty: completed with "We should bring."
    };
    const auto deltas = [] {
        return ScriptedReply::eventStream()
            .event(deltaEvent("We should "))
            .event(deltaEvent("bring."));
    };
    const std::vector<Row> rows{
        {"deltas, then the body ends", deltas(), "Hosted proxy response incomplete"},
        {"deltas and a usage report without type", deltas().event(R"({"credits_remaining":4})"),
         "Hosted proxy response incomplete"},
        {"deltas and [DONE]", deltas().chunk("data:[DONE]\n\n"), ""},
        {"deltas and the done event", deltas().event(testing::doneEvent("We should bring.")), ""},
        {"deltas and response.completed",
         deltas().event(R"({"type":"response.completed","tokens_prompt":3})"), ""},
        {"[DONE] before the last delta",
         ScriptedReply::eventStream()
             .event(deltaEvent("We should "))
             .chunk("data: [DONE]\n\n")
             .event(deltaEvent("bring.")),
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackHttpServer server;
        server.enqueue(row.reply);
        auto provider = makeProvider(server.url(), {});
        const auto events = streamEvents(*provider, requestFor(u"we shoud bring"));
        EXPECT_EQ(partials(events),
                  (std::vector<std::u16string>{u"We should", u"We should bring."}));
        if (row.failure.empty()) {
            ASSERT_EQ(terminal(events).kind(), Kind::completed);
            EXPECT_EQ(terminal(events).response()->output, u"We should bring.");
        } else {
            EXPECT_EQ(failureOf(events), row.failure);
        }
    }
}

TEST(HostedProxyProvider, SendsTheWrappedInputWithContextAndAnswersWithThePlainText) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream()
                       .event(deltaEvent("Fixed."))
                       .event(testing::doneEvent("Fixed.")));
    ProviderSetup setup;
    setup.promptVersion = "online-v9";  // not deployable: left out
    auto provider = makeProvider(server.url(), setup);
    const QNModelCorrectionRequest request(u"teh text", 64, std::nullopt, u"Earlier words.");
    const auto events = streamEvents(*provider, request);
    ASSERT_EQ(terminal(events).kind(), Kind::completed);
    EXPECT_EQ(terminal(events).response()->input, u"teh text");

    const auto recorded = server.requests().at(0);
    const auto json = nlohmann::json::parse(recorded.body);
    EXPECT_EQ(json.size(), 5u);
    EXPECT_FALSE(json.contains("prompt_version"));
    EXPECT_FALSE(json.contains("localeIdentifier"));
    EXPECT_EQ(json["input"], text::toUtf8(request.modelInputText()));
    EXPECT_EQ(json["instructions"], request.instructions("Correct the text."));
    EXPECT_NE(json["input"].get<std::string>().find("Earlier words."), std::string::npos);
}

TEST(HostedProxyProvider, EndsEveryStreamWithItsOwnFailureText) {
    struct Case {
        const char* name;
        ScriptedReply reply;
        std::string failure;
        std::vector<std::u16string> partials;
    };
    std::vector<Case> cases;
    cases.push_back({"whitespace only",
                     ScriptedReply::eventStream().event(deltaEvent(" ")).event(deltaEvent("\n")),
                     "Hosted proxy returned empty response",
                     {}});
    cases.push_back({"no events",
                     ScriptedReply::eventStream().chunk("data: [DONE]\n\n"),
                     "Hosted proxy returned empty response",
                     {}});
    cases.push_back({"empty data line",
                     ScriptedReply::eventStream().chunk("data:\n"),
                     "Hosted proxy malformed response",
                     {}});
    cases.push_back({"error as a string",
                     ScriptedReply::eventStream()
                         .event(deltaEvent("Hi"))
                         .event(R"({"type":"error","error":"boom"})"),
                     "Hosted proxy malformed response",
                     {u"Hi"}});
    cases.push_back(
        {"failed event",
         ScriptedReply::eventStream()
             .event(deltaEvent("Hi"))
             .event(R"({"type":"response.failed","error":{"message":"Upstream failed"}})"),
         "Upstream failed",
         {u"Hi"}});
    cases.push_back(
        {"incomplete event",
         ScriptedReply::eventStream().event(
             R"({"type":"response.incomplete","response":{"incomplete_details":{"reason":"max_output_tokens"}}})"),
         "Hosted proxy response incomplete: max_output_tokens",
         {}});
    cases.push_back({"line too long",
                     ScriptedReply::eventStream().chunk("data: " + std::string(262144, 'x') + "\n"),
                     "Hosted proxy event payload too large",
                     {}});
    cases.push_back({"not utf-8",
                     ScriptedReply::eventStream().chunk("data: {\"delta\":\"\xFF\"}\n"),
                     "Hosted proxy malformed stream",
                     {}});
    cases.push_back({"http error with json",
                     ScriptedReply(429)
                         .header("Content-Type", "application/json")
                         .chunk(R"({"error":"rate_limited","message":"Too many requests"})"),
                     "Hosted proxy HTTP 429: rate_limited: Too many requests",
                     {}});
    cases.push_back({"http error without body", ScriptedReply(500), "Hosted proxy HTTP 500", {}});
    cases.push_back({"http error body cut inside a character",
                     ScriptedReply(503).chunk("e" + std::string(4094, ' ') + "\xC3\xA9" + "tail"),
                     "Hosted proxy HTTP 503: e",
                     {}});
    cases.push_back({"redirect is not followed",
                     ScriptedReply(302).header("Location", "/elsewhere"),
                     "Hosted proxy HTTP 302",
                     {}});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server;
        server.enqueue(std::move(c.reply));
        auto provider = makeProvider(server.url(), {});
        const auto events = streamEvents(*provider, requestFor(u"text"));
        EXPECT_EQ(failureOf(events), c.failure);
        EXPECT_EQ(partials(events), c.partials);
        EXPECT_EQ(server.requestCount(), 1u);
    }
}

// A "wait" with a Retry-After holds the route: the next call sends nothing until it has passed,
// and says why.
TEST(HostedProxyProvider, ARetryAfterKeepsTheNextCallsBackUntilItHasPassed) {
    QNRetryAfterGate::shared().clear();
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(429).header("Retry-After", "30").chunk("slow down"));
    auto provider = makeProvider(server.url(), {});
    EXPECT_EQ(failureOf(streamEvents(*provider, requestFor(u"text"))),
              "Hosted proxy HTTP 429: slow down");
    // The route is built again for the next sentence; the wait stays.
    const auto events = streamEvents(*makeProvider(server.url(), {}), requestFor(u"text"));
    EXPECT_EQ(failureOf(events), "Hosted proxy waiting before trying again (30 s left)");
    EXPECT_EQ(server.requestCount(), 1u);
    QNRetryAfterGate::shared().clear();
}

TEST(HostedProxyProvider, ABadTenthEventEndsTheStreamAfterNinePartials) {
    LoopbackHttpServer server;
    auto reply = ScriptedReply::eventStream();
    for (int i = 0; i < 9; ++i) {
        reply.event(deltaEvent(std::string(1, static_cast<char>('a' + i))));
    }
    reply.event("{not json");
    reply.event(deltaEvent("never"));
    server.enqueue(std::move(reply));
    auto provider = makeProvider(server.url(), {});
    const auto events = streamEvents(*provider, requestFor(u"text"));
    EXPECT_EQ(partials(events).size(), 9u);
    EXPECT_EQ(partials(events).back(), u"abcdefghi");
    EXPECT_EQ(failureOf(events), "Hosted proxy malformed response");
}

TEST(HostedProxyProvider, TimesOutTheHeadTheIdleGapAndTheWholeExchange) {
    testing::expectStreamTimeLimits(
        [](const LoopbackHttpServer& server, double timeout, double idle, double total) {
            ProviderSetup setup;
            setup.timeout = timeout;
            setup.idle = idle;
            setup.total = total;
            return makeProvider(server.url(), setup);
        },
        {"Hosted proxy request timed out", "Hosted proxy idle timeout",
         "Hosted proxy total stream deadline exceeded", "Hosted proxy network error: "});
}

TEST(HostedProxyProvider, CapsTheAnswerByTheResponseBudget) {
    testing::expectAnswerCap([](const LoopbackHttpServer& server, double, double,
                                double) { return makeProvider(server.url(), ProviderSetup{}); },
                             "Hosted proxy event payload too large", "[DONE]");
}

TEST(HostedProxyProvider, ParsesTheSameStreamCutAtEveryByte) {
    const std::string body = ": hi\r\n" + ("data: " + deltaEvent("Hel")) + "\r\n\r\n" +
                             "data:" + deltaEvent("lo \xE2\x82\xAC") + "\n" + "data: [DONE]\n" +
                             "data: {\"credits_remaining\":5}";
    LoopbackHttpServer server;
    server.setHandler([&](const testing::RecordedRequest& request) {
        const std::size_t cut = std::stoul(request.target.substr(1));
        return ScriptedReply::eventStream().chunk(body.substr(0, cut)).chunk(body.substr(cut));
    });
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        auto provider = makeProvider(server.url("/" + std::to_string(cut)), {});
        const auto events = streamEvents(*provider, requestFor(u"x"));
        ASSERT_EQ(partials(events), (std::vector<std::u16string>{u"Hel", u"Hello \u20AC"}))
            << "cut at " << cut;
        ASSERT_EQ(terminal(events).kind(), Kind::completed) << "cut at " << cut;
        ASSERT_EQ(terminal(events).response()->usage->creditsRemaining, 5);
    }
}

TEST(HostedProxyProvider, ACancelledCallerIsToldCancelled) {
    LoopbackHttpServer server;
    server.setHandler([](const testing::RecordedRequest&) {
        return ScriptedReply::eventStream().event(deltaEvent("Hi")).stall();
    });
    auto provider = makeProvider(server.url(), {});
    {
        std::stop_source stop;
        std::jthread canceller = server.stopAfterRequests(1, stop, 50ms);
        const auto events = streamEvents(*provider, requestFor(u"text"), stop.get_token());
        EXPECT_EQ(terminal(events).kind(), Kind::cancelled);
    }
    {
        // The one-shot call answers cancelled too, not "Hosted proxy stream produced no events".
        std::stop_source stop;
        std::jthread canceller = server.stopAfterRequests(2, stop, 50ms);
        EXPECT_EQ(provider->generateCorrection(requestFor(u"text"), stop.get_token()),
                  QNModelCorrectionProviderResult::cancelled());
    }
    {
        // Stopped while the head is awaited.
        LoopbackHttpServer stalled;
        stalled.enqueue(ScriptedReply::eventStream().stallBeforeHead());
        auto waiting = makeProvider(stalled.url(), {});
        std::stop_source stop;
        std::jthread canceller = stalled.stopAfterRequests(1, stop);
        EXPECT_EQ(waiting->generateCorrection(requestFor(u"text"), stop.get_token()),
                  QNModelCorrectionProviderResult::cancelled());
    }
}

TEST(HostedProxyProvider, OneShotDrainsTheStream) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream()
                       .event(deltaEvent("Fix"))
                       .event(deltaEvent("ed"))
                       .chunk("data: [DONE]\n\n"));
    server.enqueue(ScriptedReply(401).chunk("Unauthorized"));
    auto provider = makeProvider(server.url(), {});
    const auto result = provider->generateCorrection(requestFor(u"fixd"), {});
    ASSERT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::success);
    EXPECT_EQ(result.response()->output, u"Fixed");
    EXPECT_EQ(result.response()->input, u"fixd");
    EXPECT_EQ(provider->generateCorrection(requestFor(u"fixd"), {}),
              QNModelCorrectionProviderResult::failed("Hosted proxy HTTP 401: Unauthorized"));
}

TEST(HostedProxyProvider, MissingCredentialsMeanNotConfiguredWithoutARequest) {
    LoopbackHttpServer server;
    struct Case {
        std::optional<std::string> bearer;
        std::optional<std::string> session;
        int sessionCalls;
    };
    const std::vector<Case> cases = {{std::nullopt, "s", 0},
                                     {"", "s", 0},
                                     {" \n\t", "s", 0},
                                     {"k", std::nullopt, 1},
                                     {"k", "  ", 1}};
    for (const auto& c : cases) {
        ProviderSetup setup;
        setup.bearer = c.bearer;
        setup.session = c.session;
        auto calls = std::make_shared<Calls>();
        auto provider = makeProvider(server.url(), setup, calls);
        const auto summary = provider->availabilitySummary();
        EXPECT_FALSE(summary.isAvailable);
        EXPECT_EQ(summary.title, "Hosted Online Not Configured");
        EXPECT_EQ(summary.detail,
                  "Hosted correction needs an endpoint, session token, and authorization token.");
        EXPECT_EQ(calls->session, c.sessionCalls);
        provider->prewarm();
        EXPECT_EQ(provider->lastPrewarmAt(), std::nullopt);
        const auto events = streamEvents(*provider, requestFor(u"text"));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0],
                  QNModelCorrectionStreamEvent::unavailable("Hosted Online Not Configured"));
        EXPECT_EQ(provider->generateCorrection(requestFor(u"text"), {}),
                  QNModelCorrectionProviderResult::unavailable("Hosted Online Not Configured"));
        EXPECT_EQ(calls->requestID, 0);
    }
    EXPECT_EQ(server.requestCount(), 0u);

    auto ready = makeProvider(server.url(), {});
    EXPECT_EQ(ready->availabilitySummary(),
              (QNModelAvailabilitySummary{true, "Hosted Online Ready",
                                          "Hosted correction is configured."}));
}

TEST(HostedProxyProvider, DiagnosticsNameTheServiceAndKeepThePromptVersion) {
    ProviderSetup setup;
    setup.promptVersion = "online-v14";
    const auto provider =
        makeProvider("https://service.example.com/functions/v1/ravlin-cloud", setup);
    const auto diagnostics = provider->diagnostics();
    EXPECT_EQ(diagnostics.providerID, "hosted-proxy");
    EXPECT_EQ(provider->providerID(), "hosted-proxy");
    EXPECT_EQ(diagnostics.route, QNModelCorrectionRoute::remote);
    EXPECT_EQ(diagnostics.providerName, "Hosted Proxy");
    EXPECT_EQ(diagnostics.model, "server-controlled");
    EXPECT_EQ(diagnostics.endpointHost, "service.example.com");
    EXPECT_EQ(diagnostics.promptVersion, "online-v14");
}

TEST(HostedProxyProvider, WarmsUpAtMostOnceAMinuteOnItsClock) {
    LoopbackHttpServer server;
    server.setHandler([](const testing::RecordedRequest&) { return ScriptedReply(204); });
    auto clock = std::make_shared<ManualClock>();
    ProviderSetup setup;
    setup.clock = clock;
    auto provider = makeProvider(server.url("/ravlin-cloud"), setup);

    provider->prewarm();
    ASSERT_TRUE(server.waitForRequests(1, testing::kHangWatchdog));
    const auto first = provider->lastPrewarmAt();
    EXPECT_EQ(first, clock->now());
    clock->advance(59s);
    provider->prewarm();
    clock->advance(999ms);
    provider->prewarm();
    EXPECT_EQ(provider->lastPrewarmAt(), first);
    clock->advance(1ms);  // exactly 60,000 ms
    provider->prewarm();
    ASSERT_TRUE(server.waitForRequests(2, testing::kHangWatchdog));
    EXPECT_EQ(provider->lastPrewarmAt(), clock->now());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(server.requestCount(), 2u);
    for (const auto& request : server.requests()) {
        EXPECT_EQ(request.method, "OPTIONS");
        EXPECT_EQ(request.target, "/ravlin-cloud");
        EXPECT_EQ(request.headerNames(), std::vector<std::string>{"Host"});
        EXPECT_EQ(request.body, "");
    }
}

TEST(HostedProxyProvider, AWarmUpWaitsTwoSecondsAtMostOrLessWhenTheRequestTimeOutIsShorter) {
    using Configuration = QNProviderHostedProxyCorrection::Configuration;
    EXPECT_EQ(hostedProxyWarmUpTimeout(Configuration("https://h/x", 8.0, 8.0, 30.0, "p")), 2000ms);
    EXPECT_EQ(hostedProxyWarmUpTimeout(Configuration("https://h/x", 1.5, 8.0, 30.0, "p")), 1500ms);

    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(204).stallBeforeHead());
    ProviderSetup setup;
    setup.timeout = 0.2;
    auto provider = makeProvider(server.url(), setup);
    provider->prewarm();
    ASSERT_TRUE(server.waitForRequests(1, testing::kHangWatchdog));
    // The warm-up gives up on its own after 0.2 s.
    EXPECT_TRUE(server.waitForClientDisconnects(1, testing::kHangWatchdog));
}

TEST(HostedProxyProvider, ANewWarmUpCancelsOneStillWaiting) {
    LoopbackHttpServer server;
    server.setHandler(
        [](const testing::RecordedRequest&) { return ScriptedReply(204).stallBeforeHead(); });
    auto clock = std::make_shared<ManualClock>();
    ProviderSetup setup;
    setup.clock = clock;
    setup.timeout = 8.0;  // the warm-up waits 2 s at most
    auto provider = makeProvider(server.url(), setup);
    provider->prewarm();
    ASSERT_TRUE(server.waitForRequests(1, testing::kHangWatchdog));
    clock->advance(60s);
    const auto started = std::chrono::steady_clock::now();
    provider->prewarm();
    EXPECT_LT(std::chrono::steady_clock::now() - started, testing::kHangWatchdog);
    EXPECT_TRUE(server.waitForClientDisconnects(1, testing::kHangWatchdog));
    ASSERT_TRUE(server.waitForRequests(2, testing::kHangWatchdog));
}

}  // namespace
}  // namespace ravlin
