#include "core/providers/openai/openai_provider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/records/prompt_catalogue.h"
#include "core/services/token_budget.h"
#include "core/providers/retry_after.h"
#include "core/text/unicode.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/stream_events.h"
#include "tests/support/streaming_provider_checks.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::deltaEvent;
using testing::doneEvent;
using testing::failureOf;
using testing::LoopbackHttpServer;
using testing::partials;
using testing::ScriptedReply;
using testing::streamEvents;
using testing::terminal;
using Kind = QNModelCorrectionStreamEvent::Kind;

constexpr const char* kPrompt = "Correct the text.";

struct ProviderSetup {
    std::string model = "gpt-4.1-mini";
    double timeout = 1.0;
    double idle = 1.0;
    double total = 5.0;
    std::optional<std::string> key = "  sk-test \n";
};

struct Provider {
    std::shared_ptr<QNProviderOpenAICorrection> provider;
    std::shared_ptr<std::atomic<int>> keyCalls;
};

Provider makeProvider(const LoopbackHttpServer& server, const ProviderSetup& setup = {}) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto provider = std::make_shared<QNProviderOpenAICorrection>(
        QNProviderOpenAICorrection::Configuration(setup.model, setup.timeout, setup.idle,
                                                  setup.total, "openai-byok"),
        kPrompt,
        [calls, key = setup.key] {
            ++*calls;
            return key;
        },
        net::HttpClient::shared(), Clock::system(), server.url(""));
    return {provider, calls};
}

QNModelCorrectionRequest requestFor(std::u16string text) {
    return QNModelCorrectionRequest(std::move(text), 128);
}

TEST(OpenAIProvider, StreamsDeltasIntoPartialsAndCompletesWithUsage) {
    LoopbackHttpServer server;
    server.enqueue(
        ScriptedReply::eventStream()
            .chunk("event: response.created\n")
            .event(R"({"type":"response.created","response":{"usage":null,"metadata":{}}})")
            .chunk(": keep-alive\n\n")
            .event(deltaEvent("Hel"))
            .event(deltaEvent("lo"))
            .event(doneEvent("Hello"))
            .event(doneEvent("Hello."))
            .event(doneEvent(""))
            .chunk("data: [DONE]\n\n")
            .event(
                R"({"type":"response.completed","response":{"usage":{"input_tokens":40,"output_tokens":3,"total_tokens":43,"input_tokens_details":{"cached_tokens":32}}}})"));
    ProviderSetup setup;
    setup.model = " GPT-5-mini ";
    auto [provider, keyCalls] = makeProvider(server, setup);
    const auto request = QNModelCorrectionRequest(u"helo", 96, std::string("en_US"));
    const auto events = streamEvents(*provider, request);

    EXPECT_EQ(partials(events), (std::vector<std::u16string>{u"Hel", u"Hello", u"Hello."}));
    const auto& last = terminal(events);
    ASSERT_EQ(last.kind(), Kind::completed);
    const auto& response = *last.response();
    EXPECT_EQ(response.input, u"helo");
    EXPECT_EQ(response.output, u"Hello.");
    ASSERT_TRUE(response.latencyMilliseconds);
    EXPECT_GE(*response.latencyMilliseconds, 0.0);
    QNModelCorrectionUsage usage;
    usage.inputTokens = 40;
    usage.outputTokens = 3;
    usage.totalTokens = 43;
    usage.cachedTokens = 32;
    EXPECT_EQ(response.usage, usage);
    EXPECT_EQ(*keyCalls, 1);

    ASSERT_EQ(server.requestCount(), 1u);
    const auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.target, "/v1/responses");
    EXPECT_EQ(recorded.clientHeaders(), (std::vector<std::pair<std::string, std::string>>{
                                            {"Content-Type", "application/json"},
                                            {"Accept", "application/json"},
                                            {"Authorization", "Bearer sk-test"}}));
    const auto body = QNModelOpenAIResponsesRequest::decode(recorded.body);
    EXPECT_EQ(body.model, "GPT-5-mini");
    EXPECT_EQ(body.instructions, kPrompt);
    EXPECT_EQ(body.input, "helo");
    EXPECT_EQ(body.maxOutputTokens, 96);
    EXPECT_EQ(body.promptCacheKey, "ravlin-" + fingerprint(std::string_view(kPrompt)));
    EXPECT_EQ(body.promptCacheRetention, "in_memory");
    EXPECT_EQ(body.reasoning, QNModelOpenAIResponseReasoning{"minimal"});
    EXPECT_FALSE(body.store);
    EXPECT_TRUE(body.stream);
    EXPECT_EQ(body.text.format.type, "text");
    // The locale is not sent; ten keys for a gpt-5 model.
    EXPECT_EQ(nlohmann::json::parse(recorded.body).size(), 10u);
}

TEST(OpenAIProvider, SendsContextThroughInstructionsAndInputOnly) {
    LoopbackHttpServer server;
    server.setHandler([](const testing::RecordedRequest&) {
        return ScriptedReply::eventStream().event(deltaEvent("Fixed.")).event(doneEvent("Fixed."));
    });
    auto [provider, keyCalls] = makeProvider(server);
    const QNModelCorrectionRequest plain(u"teh text", 64);
    const QNModelCorrectionRequest withContext(u"teh text", 64, std::nullopt, u"Earlier words.");
    ASSERT_EQ(terminal(streamEvents(*provider, plain)).kind(), Kind::completed);
    const auto events = streamEvents(*provider, withContext);
    ASSERT_EQ(terminal(events).kind(), Kind::completed);
    EXPECT_EQ(terminal(events).response()->input, u"teh text");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto first = nlohmann::json::parse(requests[0].body);
    const auto second = nlohmann::json::parse(requests[1].body);
    EXPECT_EQ(first.size(), 9u);
    EXPECT_FALSE(first.contains("reasoning"));
    EXPECT_EQ(second["instructions"], withContext.instructions(kPrompt));
    EXPECT_EQ(second["input"], text::toUtf8(withContext.modelInputText()));
    EXPECT_NE(second["input"].get<std::string>().find("Earlier words."), std::string::npos);
    EXPECT_NE(first["prompt_cache_key"], second["prompt_cache_key"]);
    EXPECT_EQ(second["prompt_cache_key"].get<std::string>().size(), 15u);
}

TEST(OpenAIProvider, EndsEveryStreamWithItsOwnFailureText) {
    struct Case {
        const char* name;
        ScriptedReply reply;
        std::string failure;
        std::vector<std::u16string> partials;
    };
    std::vector<Case> cases;
    cases.push_back({"completed without text",
                     ScriptedReply::eventStream().event(
                         R"({"type":"response.completed","usage":{"total_tokens":3}})"),
                     "OpenAI returned empty response",
                     {}});
    cases.push_back(
        {"empty body", ScriptedReply::eventStream(), "OpenAI returned empty response", {}});
    // Text that the service never said was whole: the rest of the answer was lost.
    cases.push_back({"text without a completion event",
                     ScriptedReply::eventStream().event(deltaEvent("Hi")).chunk("data: [DONE]\n\n"),
                     "OpenAI response incomplete",
                     {u"Hi"}});
    cases.push_back({"event without type",
                     ScriptedReply::eventStream().event(deltaEvent("Hi")).event(R"({"delta":"x"})"),
                     "OpenAI malformed response",
                     {u"Hi"}});
    cases.push_back({"bad json",
                     ScriptedReply::eventStream().event("{not json").event(deltaEvent("never")),
                     "OpenAI malformed response",
                     {}});
    cases.push_back({"failed event",
                     ScriptedReply::eventStream()
                         .event(deltaEvent("Hi"))
                         .event(R"({"type":"response.failed","error":{"message":"Upstream"}})"),
                     "Upstream",
                     {u"Hi"}});
    cases.push_back(
        {"incomplete event",
         ScriptedReply::eventStream().event(
             R"({"type":"response.incomplete","response":{"incomplete_details":{"reason":"max_output_tokens"}}})"),
         "OpenAI response incomplete: max_output_tokens",
         {}});
    cases.push_back({"error event",
                     ScriptedReply::eventStream().event(R"({"type":"error"})"),
                     "OpenAI stream error",
                     {}});
    cases.push_back({"line too long",
                     ScriptedReply::eventStream().chunk("data: " + std::string(262144, 'x') + "\n"),
                     "OpenAI event payload too large",
                     {}});
    cases.push_back({"not utf-8",
                     ScriptedReply::eventStream().chunk("data: {\"type\":\"\xFF\"}\n"),
                     "OpenAI malformed stream",
                     {}});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server;
        server.enqueue(std::move(c.reply));
        auto [provider, keyCalls] = makeProvider(server);
        const auto events = streamEvents(*provider, requestFor(u"text"));
        EXPECT_EQ(failureOf(events), c.failure);
        EXPECT_EQ(partials(events), c.partials);
        EXPECT_EQ(server.requestCount(), 1u);
    }
}

TEST(OpenAIProvider, OutputIsNotTrimmedAndReadingGoesOnAfterDoneAndCompleted) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream()
                       .event(deltaEvent(" "))
                       .chunk("data: [DONE]\n\n")
                       .event(R"({"type":"response.completed"})")
                       .event(deltaEvent("Hi \xF0\x9F\x91\x8B\n")));
    auto [provider, keyCalls] = makeProvider(server);
    const auto events = streamEvents(*provider, requestFor(u"hi"));
    EXPECT_EQ(partials(events), (std::vector<std::u16string>{u" ", u" Hi \U0001F44B\n"}));
    ASSERT_EQ(terminal(events).kind(), Kind::completed);
    EXPECT_EQ(terminal(events).response()->output, u" Hi \U0001F44B\n");
    EXPECT_EQ(terminal(events).response()->usage, std::nullopt);
}

TEST(OpenAIProvider, HttpErrorsAreToldByStatus) {
    const std::string dash = "\xE2\x80\x94";
    const std::string mentionAt = [] {
        std::string body = std::string(8000, ' ') + R"({"error":{"code":"model_not_found"}})";
        return body;
    }();
    struct Case {
        const char* name;
        ScriptedReply reply;
        std::string failure;
    };
    std::vector<Case> cases;
    cases.push_back({"model not found within the first 8,192 bytes",
                     ScriptedReply(400).chunk(mentionAt), "Model not found for your API key tier"});
    cases.push_back({"model not found only after 8,192 bytes",
                     ScriptedReply(400).chunk(std::string(8192, ' ') + "model_not_found"),
                     "OpenAI rejected the request (400)"});
    cases.push_back({"model not found straddling the limit",
                     ScriptedReply(400).chunk(std::string(8180, ' ') + "model_not_found"),
                     "OpenAI rejected the request (400)"});
    cases.push_back(
        {"model not found before a character cut at the limit",
         ScriptedReply(400).chunk("model_not_found" + std::string(8176, ' ') + "\xC3\xA9 more"),
         "Model not found for your API key tier"});
    cases.push_back({"model not found in a body that is not utf-8",
                     ScriptedReply(400).chunk("model_not_found \xFF"),
                     "OpenAI rejected the request (400)"});
    // A body that could not be read leaves no text to search.
    cases.push_back({"model not found in a body cut short by the server",
                     ScriptedReply(400).chunk("model_not_found").drop(),
                     "OpenAI rejected the request (400)"});
    cases.push_back(
        {"plain 400", ScriptedReply(400).chunk("{}"), "OpenAI rejected the request (400)"});
    cases.push_back({"401", ScriptedReply(401).chunk("model_not_found"), "Invalid API key"});
    cases.push_back({"403", ScriptedReply(403), "Key authenticated but lacks access (403)"});
    cases.push_back({"429", ScriptedReply(429), "Rate limited " + dash + " try again later"});
    cases.push_back(
        {"500", ScriptedReply(500), "OpenAI is unavailable " + dash + " try again later"});
    cases.push_back(
        {"503", ScriptedReply(503), "OpenAI is unavailable " + dash + " try again later"});
    cases.push_back(
        {"599", ScriptedReply(599), "OpenAI is unavailable " + dash + " try again later"});
    cases.push_back({"418", ScriptedReply(418), "OpenAI HTTP 418"});
    cases.push_back({"404", ScriptedReply(404).chunk("model_not_found"), "OpenAI HTTP 404"});
    cases.push_back({"redirect is not followed",
                     ScriptedReply(302).header("Location", "/elsewhere"), "OpenAI HTTP 302"});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server;
        server.enqueue(std::move(c.reply));
        auto [provider, keyCalls] = makeProvider(server);
        const auto events = streamEvents(*provider, requestFor(u"text"));
        EXPECT_EQ(events.size(), 1u);
        EXPECT_EQ(failureOf(events), c.failure);
    }
}

// "Rate limited" with a Retry-After date: nothing more goes out until it has passed.
TEST(OpenAIProvider, ARetryAfterKeepsTheNextCallsBack) {
    QNRetryAfterGate::shared().clear();
    LoopbackHttpServer server;
    const auto inAMinute = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() +
                                                                std::chrono::seconds(62));
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&inAMinute));
    server.enqueue(ScriptedReply(429).header("Retry-After", date));
    auto [provider, keyCalls] = makeProvider(server);
    EXPECT_EQ(failureOf(streamEvents(*provider, requestFor(u"text"))),
              "Rate limited \xE2\x80\x94 try again later");
    const auto waiting = failureOf(streamEvents(*provider, requestFor(u"text")));
    EXPECT_TRUE(waiting.starts_with("OpenAI waiting before trying again (")) << waiting;
    EXPECT_EQ(server.requestCount(), 1u);
    QNRetryAfterGate::shared().clear();
}

TEST(OpenAIProvider, TimesOutTheHeadTheIdleGapAndTheWholeExchange) {
    testing::expectStreamTimeLimits(
        [](const LoopbackHttpServer& server, double timeout, double idle, double total) {
            ProviderSetup setup;
            setup.timeout = timeout;
            setup.idle = idle;
            setup.total = total;
            return makeProvider(server, setup).provider;
        },
        {"OpenAI request timed out", "OpenAI idle timeout", "OpenAI total stream deadline exceeded",
         "OpenAI network error: "});
}

TEST(OpenAIProvider, CapsTheAnswerByTheResponseBudget) {
    testing::expectAnswerCap([](const LoopbackHttpServer& server, double, double,
                                double) { return makeProvider(server).provider; },
                             "OpenAI event payload too large", R"({"type":"response.completed"})");
}

TEST(OpenAIProvider, ParsesTheSameStreamCutAtEveryByte) {
    const std::string body = ": hi\r\n" + ("data: " + deltaEvent("Hel")) + "\r\n\r\n" +
                             "data:" + deltaEvent("lo \xE2\x82\xAC") + "\n" + "data: [DONE]\n" +
                             R"(data: {"type":"response.completed","usage":{"total_tokens":5}})";
    LoopbackHttpServer server;
    server.setHandler([&](const testing::RecordedRequest&) { return ScriptedReply(404); });
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        server.enqueue(
            ScriptedReply::eventStream().chunk(body.substr(0, cut)).chunk(body.substr(cut)));
        auto [provider, keyCalls] = makeProvider(server);
        const auto events = streamEvents(*provider, requestFor(u"x"));
        ASSERT_EQ(partials(events), (std::vector<std::u16string>{u"Hel", u"Hello \u20AC"}))
            << "cut at " << cut;
        ASSERT_EQ(terminal(events).kind(), Kind::completed) << "cut at " << cut;
        ASSERT_EQ(terminal(events).response()->usage->totalTokens, 5);
    }
}

TEST(OpenAIProvider, ACancelledCallerIsToldCancelled) {
    struct Case {
        const char* name;
        ScriptedReply reply;
    };
    std::vector<Case> cases;
    cases.push_back({"while awaiting the head", ScriptedReply::eventStream().stallBeforeHead()});
    cases.push_back(
        {"while reading events", ScriptedReply::eventStream().event(deltaEvent("Hi")).stall()});
    cases.push_back({"while reading an error body", ScriptedReply(400).chunk("mod").stall()});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool oneShot : {false, true}) {
            LoopbackHttpServer server;
            server.enqueue(c.reply);
            // Only the stop ends the wait.
            auto [provider, keyCalls] =
                makeProvider(server, {.timeout = 60.0, .idle = 60.0, .total = 120.0});
            std::stop_source stop;
            std::jthread canceller = server.stopAfterRequests(1, stop, 50ms);
            if (oneShot) {
                EXPECT_EQ(provider->generateCorrection(requestFor(u"text"), stop.get_token()),
                          QNModelCorrectionProviderResult::cancelled());
            } else {
                const auto events = streamEvents(*provider, requestFor(u"text"), stop.get_token());
                EXPECT_EQ(terminal(events).kind(), Kind::cancelled);
            }
        }
    }
    {
        // Already stopped: nothing goes out, and the answer is cancelled, not a network error.
        LoopbackHttpServer server;
        auto [provider, keyCalls] = makeProvider(server);
        std::stop_source stop;
        stop.request_stop();
        const auto events = streamEvents(*provider, requestFor(u"text"), stop.get_token());
        EXPECT_EQ(terminal(events).kind(), Kind::cancelled);
        EXPECT_EQ(server.requestCount(), 0u);
    }
}

TEST(OpenAIProvider, OneShotTakesTheTerminalEvent) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream()
                       .event(deltaEvent("Fix"))
                       .event(deltaEvent("ed"))
                       .event(R"({"type":"response.completed"})"));
    server.enqueue(ScriptedReply(401));
    auto [provider, keyCalls] = makeProvider(server);
    const auto result = provider->generateCorrection(requestFor(u"fixd"), {});
    ASSERT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::success);
    EXPECT_EQ(result.response()->output, u"Fixed");
    EXPECT_EQ(result.response()->input, u"fixd");
    EXPECT_EQ(provider->generateCorrection(requestFor(u"fixd"), {}),
              QNModelCorrectionProviderResult::failed("Invalid API key"));
}

TEST(OpenAIProvider, WithoutKeyOrModelNothingIsSent) {
    LoopbackHttpServer server;
    struct Case {
        std::optional<std::string> key;
        std::string model;
        std::string unavailable;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "gpt-5", "OpenAI Key Not Configured"},
        {"", "gpt-5", "OpenAI Key Not Configured"},
        {" \n\t\u2028", "gpt-5", "OpenAI Key Not Configured"},
        {"sk", "  \n", "OpenAI model not selected"},
        {"sk", "", "OpenAI model not selected"},
        {std::nullopt, "", "OpenAI Key Not Configured"},
    };
    for (const auto& c : cases) {
        ProviderSetup setup;
        setup.key = c.key;
        setup.model = c.model;
        auto [provider, keyCalls] = makeProvider(server, setup);
        EXPECT_EQ(
            provider->availabilitySummary(),
            (QNModelAvailabilitySummary{
                false, "OpenAI Key Not Configured",
                "Add your OpenAI API key in Settings to use bring-your-own-key correction."}));
        EXPECT_EQ(*keyCalls, 1);
        const auto events = streamEvents(*provider, requestFor(u"text"));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0], QNModelCorrectionStreamEvent::unavailable(c.unavailable));
        EXPECT_EQ(*keyCalls, 2);
        EXPECT_EQ(provider->generateCorrection(requestFor(u"text"), {}),
                  QNModelCorrectionProviderResult::unavailable(c.unavailable));
    }
    EXPECT_EQ(server.requestCount(), 0u);

    auto [ready, keyCalls] = makeProvider(server);
    EXPECT_EQ(ready->availabilitySummary(),
              (QNModelAvailabilitySummary{true, "OpenAI Ready",
                                          "Correction goes directly to OpenAI using your key."}));
}

TEST(OpenAIProvider, DiagnosticsNameTheServiceAndTheOnlinePrompt) {
    const QNProviderOpenAICorrection production(
        QNProviderOpenAICorrection::Configuration(" gpt-5-mini ", 8.0, 30.0, 90.0, "openai-byok"),
        kPrompt, [] { return std::optional<std::string>("k"); });
    EXPECT_EQ(production.responsesURL(), "https://api.openai.com/v1/responses");
    EXPECT_EQ(QNProviderOpenAICorrection::responsesEndpoint(),
              "https://api.openai.com/v1/responses");
    EXPECT_EQ(QNProviderOpenAICorrection::modelsEndpoint(), "https://api.openai.com/v1/models");
    const auto diagnostics = production.diagnostics();
    EXPECT_EQ(diagnostics.providerID, "openai-byok");
    EXPECT_EQ(production.providerID(), "openai-byok");
    EXPECT_EQ(diagnostics.route, QNModelCorrectionRoute::remote);
    EXPECT_EQ(diagnostics.providerName, "OpenAI");
    EXPECT_EQ(diagnostics.model, " gpt-5-mini ");
    EXPECT_EQ(diagnostics.endpointHost, "api.openai.com");
    EXPECT_EQ(
        diagnostics.promptVersion,
        std::string(
            QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online).rawValue()));

    using Configuration = QNProviderOpenAICorrection::Configuration;
    EXPECT_EQ(Configuration("caf\u00E9", 8.0, 30.0, 90.0, "p"),
              Configuration("cafe\u0301", 8.0, 30.0, 90.0, "p"));
    EXPECT_FALSE(Configuration("m", 8.0, 30.0, 90.0, "p") ==
                 Configuration("m", 8.0, 30.0, 90.5, "p"));
}

}  // namespace
}  // namespace ravlin
