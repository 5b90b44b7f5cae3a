#include "core/providers/openai/openai_key_validation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/providers/openai/openai_provider.h"
#include "tests/support/loopback_http_server.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackHttpServer;
using testing::ScriptedReply;
using Error = QNErrorOpenAIKeyValidation;

QNOpenAIKeyValidationResult validate(const LoopbackHttpServer& server, std::string_view key,
                                     double timeout = 1.0, std::stop_token stop = {}) {
    return QNProviderOpenAICorrection::validateAPIKey(key, *net::HttpClient::shared(), timeout,
                                                      stop, server.url(""));
}

TEST(OpenAIKeyValidation, ABlankKeyIsRefusedWithoutARequest) {
    LoopbackHttpServer server;
    for (const std::string_view key : {"", "   ", " \n\t\r\n"}) {
        const auto result = validate(server, key);
        EXPECT_EQ(result, QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::empty)));
        EXPECT_EQ(result.error()->displayMessage(), "Enter a key first.");
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(OpenAIKeyValidation, SendsOneGetWithTheTrimmedKeyOnly) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(200).chunk(R"({"object":"list","data":[]})"));
    EXPECT_TRUE(validate(server, "  sk-proj-abc \n").isSuccess());
    ASSERT_EQ(server.requestCount(), 1u);
    const auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/v1/models");
    EXPECT_EQ(request.headerNames(), (std::vector<std::string>{"Host", "Authorization"}));
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-proj-abc");
    EXPECT_EQ(request.body, "");
}

TEST(OpenAIKeyValidation, TheStatusDecides) {
    const std::string dash = "\xE2\x80\x94";
    struct Case {
        int status;
        std::optional<Error> error;
        std::string message;
    };
    const std::vector<Case> cases = {
        {200, std::nullopt, ""},
        {204, std::nullopt, ""},
        {299, std::nullopt, ""},
        {401, Error::of(Error::Kind::invalidKey), "Invalid API key"},
        {403, Error::of(Error::Kind::forbidden), "Key authenticated but lacks access (403)"},
        {429, Error::of(Error::Kind::rateLimited), "Rate limited " + dash + " try again later"},
        {400, Error::serverError(400), "OpenAI rejected the request (400)"},
        {404, Error::serverError(404), "OpenAI HTTP 404"},
        {500, Error::serverError(500), "OpenAI is unavailable " + dash + " try again later"},
        {503, Error::serverError(503), "OpenAI is unavailable " + dash + " try again later"},
        {301, Error::serverError(301), "OpenAI HTTP 301"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        LoopbackHttpServer server;
        // Any body, even one that is not JSON, is passed over.
        server.enqueue(ScriptedReply(c.status).chunk("not json \xFF"));
        const auto result = validate(server, "sk");
        if (!c.error) {
            EXPECT_TRUE(result.isSuccess());
            continue;
        }
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(*result.error(), *c.error);
        EXPECT_EQ(result.error()->displayMessage(), c.message);
    }
}

TEST(OpenAIKeyValidation, TheBodyIsNeitherAwaitedNorKept) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(200).chunk(std::string(64 * 1024, 'x')).stall());
    // Awaited, the body would end the check in its time-out.
    EXPECT_TRUE(validate(server, "sk", 20.0).isSuccess());
    EXPECT_TRUE(server.waitForClientDisconnects(1, 20s));
}

TEST(OpenAIKeyValidation, TransportFailuresAreTimedOutNetworkOrCancelled) {
    {
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply(200).stallBeforeHead());
        const auto result = validate(server, "sk", 0.2);
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(*result.error(), Error::of(Error::Kind::timedOut));
        EXPECT_EQ(result.error()->displayMessage(), "Request to OpenAI timed out.");
    }
    {
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::raw(""));  // closes without a reply
        const auto result = validate(server, "sk");
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(result.error()->kind, Error::Kind::network);
        EXPECT_FALSE(result.error()->description.empty());
        EXPECT_EQ(result.error()->displayMessage(),
                  "Network error: " + result.error()->description);
    }
    {
        // Nothing listens on a port that was just let go.
        std::string base;
        {
            LoopbackHttpServer gone;
            base = gone.url("");
        }
        const auto result = QNProviderOpenAICorrection::validateAPIKey(
            "sk", *net::HttpClient::shared(), 1.0, {}, base);
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(result.error()->kind, Error::Kind::network);
    }
    {
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply(200).stallBeforeHead());
        std::stop_source stop;
        std::jthread canceller = server.stopAfterRequests(1, stop);
        const auto result = validate(server, "sk", 5.0, stop.get_token());
        ASSERT_FALSE(result.isSuccess());
        EXPECT_EQ(*result.error(), Error::of(Error::Kind::cancelled));
        EXPECT_EQ(result.error()->displayMessage(), "Validation cancelled.");
    }
}

TEST(OpenAIKeyValidation, EveryCaseHasItsSentence) {
    EXPECT_EQ(Error::of(Error::Kind::invalidResponse).displayMessage(),
              "OpenAI returned an unexpected response.");
    EXPECT_EQ(Error::network("offline").displayMessage(), "Network error: offline");
    // The shared HTTP texts reach statuses that a check never reports as server errors.
    EXPECT_EQ(Error::serverError(401).displayMessage(), "Invalid API key");
    EXPECT_EQ(Error::serverError(429).displayMessage(),
              "Rate limited \xE2\x80\x94 try again later");
    EXPECT_NE(Error::serverError(500), Error::serverError(502));
    EXPECT_NE(Error::network("a"), Error::network("b"));
}

}  // namespace
}  // namespace ravlin
