#include "core/providers/hosted-proxy/hosted_proxy_wire.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/providers/hosted-proxy/hosted_proxy_provider.h"
#include "core/providers/hosted-proxy/hosted_proxy_stream.h"
#include "core/records/raw_value.h"
#include "tests/support/json_keys.h"

namespace ravlin {
namespace {

using testing::keysInOrder;

TEST(HostedProxyWire, RequestBodyHasItsKeysInOrderAndLeavesOutAbsentOnes) {
    QNModelHostedProxyCorrectionRequest request;
    request.sessionToken = "session";
    request.requestID = "id-1";
    request.instructions = "Fix it.";
    request.input = "teh text \xE2\x80\x94 \"quoted\"";
    request.maximumResponseTokens = 96;
    const auto minimal = request.encoded();
    ASSERT_TRUE(minimal);
    EXPECT_EQ(keysInOrder(*minimal),
              (std::vector<std::string>{"session_token", "request_id", "instructions", "input",
                                        "maximumResponseTokens"}));
    EXPECT_EQ(*minimal,
              "{\"session_token\":\"session\",\"request_id\":\"id-1\",\"instructions\":\"Fix it.\","
              "\"input\":\"teh text \xE2\x80\x94 \\\"quoted\\\"\",\"maximumResponseTokens\":96}");
    EXPECT_EQ(QNModelHostedProxyCorrectionRequest::decode(*minimal), request);

    request.localeIdentifier = "en_GB";
    request.promptVersion = "online-v11";
    const auto full = request.encoded();
    ASSERT_TRUE(full);
    EXPECT_EQ(
        keysInOrder(*full),
        (std::vector<std::string>{"session_token", "request_id", "instructions", "input",
                                  "maximumResponseTokens", "localeIdentifier", "prompt_version"}));
    EXPECT_EQ(QNModelHostedProxyCorrectionRequest::decode(*full), request);

    request.sessionToken = "\xFF";
    EXPECT_FALSE(request.encoded());
}

TEST(HostedProxyWire, OnlyTheFourDeployablePromptVersionsAreSent) {
    using P = QNProviderHostedProxyCorrection;
    for (const char* version : {"online-v6", "online-v7", "online-v8", "online-v11"}) {
        EXPECT_EQ(P::hostedPromptVersionIfDeployable(std::string(version)), version);
    }
    for (const char* version : {"online-v9", "online-v12", "online-v14", "Online-v11",
                                " online-v11", "online-v11 ", ""}) {
        EXPECT_EQ(P::hostedPromptVersionIfDeployable(std::string(version)), std::nullopt)
            << version;
    }
    EXPECT_EQ(P::hostedPromptVersionIfDeployable(std::nullopt), std::nullopt);
}

TEST(HostedProxyWire, FramingKeepsOnlyDataLinesAndSkipsDone) {
    struct Case {
        const char* line;
        std::optional<std::string> payload;
    };
    const std::vector<Case> cases = {
        {"data: {\"a\":1}", "{\"a\":1}"},
        {"data:{\"a\":1}", "{\"a\":1}"},
        {"  data: \t{\"a\":1} \t ", "{\"a\":1}"},
        {"data: [DONE]", std::nullopt},
        {"data:[DONE]", std::nullopt},
        {"data: [DONE] ", std::nullopt},
        {": keep-alive comment", std::nullopt},
        {"event: response.output_text.delta", std::nullopt},
        {"id: 7", std::nullopt},
        {"retry: 100", std::nullopt},
        {"", std::nullopt},
        {" \t\r", std::nullopt},
        {"data:", ""},
        {"data: ", ""},
        {"Data: {}", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto payload = hostedProxyEventPayload(c.line);
        EXPECT_EQ(payload ? std::optional<std::string>(*payload) : std::nullopt, c.payload)
            << c.line;
    }
}

TEST(HostedProxyWire, EventDecodingIsStrictAboutTypesAndLenientAboutTheRest) {
    const auto event = QNModelHostedProxyStreamEvent::decode(
        R"({"type":"response.output_text.delta","delta":"Hi","unknown":[1,2],"text":null,
            "error":{"message":"m","code":3},"response":{"incomplete_details":{"reason":"r"}},
            "tokens_prompt":12,"tokens_completion":3.0,"credits_remaining":9007199254740993})");
    EXPECT_EQ(event.type, "response.output_text.delta");
    EXPECT_EQ(event.delta, "Hi");
    EXPECT_EQ(event.text, std::nullopt);
    EXPECT_EQ(event.error->message, "m");
    EXPECT_EQ(event.response->incompleteDetails->reason, "r");
    EXPECT_EQ(event.tokensPrompt, 12);
    EXPECT_EQ(event.tokensCompletion, 3);
    EXPECT_EQ(event.creditsRemaining, 9007199254740993LL);

    for (const char* undecodable : {
             R"({"type":"error","error":"a string, not an object"})",
             R"({"type":5})",
             R"({"delta":["x"]})",
             R"({"tokens_prompt":"12"})",
             R"({"tokens_prompt":1.5})",
             R"({"tokens_prompt":true})",
             R"({"tokens_prompt":18446744073709551615})",
             R"({"response":{"incomplete_details":"x"}})",
             R"(["not an object"])",
             R"("text")",
             "",
             "{",
             "{\"type\":\"a\"} trailing",
         }) {
        EXPECT_THROW((void)QNModelHostedProxyStreamEvent::decode(undecodable), DecodingError)
            << undecodable;
    }
}

std::optional<QNErrorHostedProxyStreaming> consumeOne(QNParserHostedProxyStreamEvent& parser,
                                                      const std::string& json) {
    return parser.consume(QNModelHostedProxyStreamEvent::decode(json));
}

TEST(HostedProxyWire, EventsFoldIntoTheOutput) {
    QNParserHostedProxyStreamEvent parser;
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.output_text.delta","delta":"A"})"));
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.output_text.delta"})"));
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.output_text.delta","delta":"B"})"));
    EXPECT_EQ(parser.output, "AB");
    // A complete text that does not begin with the deltas leaves them.
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.output_text.done","text":"XY"})"));
    EXPECT_EQ(parser.output, "AB");
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.output_text.done","text":""})"));
    EXPECT_EQ(parser.output, "AB");
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.output_text.done","text":"ABC"})"));
    EXPECT_EQ(parser.output, "ABC");

    QNParserHostedProxyStreamEvent fresh;
    EXPECT_FALSE(consumeOne(fresh, R"({"type":"response.output_text.done","text":"Whole"})"));
    EXPECT_EQ(fresh.output, "Whole");
}

TEST(HostedProxyWire, UsageComesOnlyFromUntypedOrUnknownEventsAndIsReplacedWhole) {
    QNParserHostedProxyStreamEvent parser;
    EXPECT_FALSE(consumeOne(
        parser, R"({"type":"response.output_text.delta","delta":"x","tokens_prompt":5})"));
    EXPECT_EQ(parser.usage, std::nullopt);
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.completed","tokens_prompt":7})"));
    QNModelCorrectionUsage expected;
    expected.inputTokens = 7;
    EXPECT_EQ(parser.usage, expected);
    EXPECT_FALSE(consumeOne(parser, R"({"type":"response.completed"})"));
    EXPECT_EQ(parser.usage, expected);  // no figure: not a report
    EXPECT_FALSE(consumeOne(parser, R"({"credits_remaining":40,"credits_charged":2,
                                         "tokens_completion":3,"tokens_cached":1})"));
    QNModelCorrectionUsage replaced;
    replaced.outputTokens = 3;
    replaced.cachedTokens = 1;
    replaced.creditsCharged = 2;
    replaced.creditsRemaining = 40;
    EXPECT_EQ(parser.usage, replaced);
}

TEST(HostedProxyWire, FailingEventsCarryTheirTexts) {
    struct Case {
        const char* event;
        const char* text;
    };
    const std::vector<Case> cases = {
        {R"({"type":"response.failed","error":{"message":"Model overloaded"}})",
         "Model overloaded"},
        {R"({"type":"response.failed"})", "Hosted proxy response failed"},
        {R"({"type":"response.failed","error":{}})", "Hosted proxy response failed"},
        // A blank message would show nothing: the fixed text stands in.
        {R"({"type":"response.failed","error":{"message":""}})", "Hosted proxy response failed"},
        {R"({"type":"response.failed","error":{"message":" \n"}})", "Hosted proxy response failed"},
        {R"({"type":"response.incomplete","error":{"message":"Stopped"}})", "Stopped"},
        {R"({"type":"response.incomplete","error":{"message":""},
             "response":{"incomplete_details":{"reason":"max_output_tokens"}}})",
         "Hosted proxy response incomplete: max_output_tokens"},
        {R"({"type":"response.incomplete","response":{"incomplete_details":{"reason":""}}})",
         "Hosted proxy response incomplete"},
        {R"({"type":"response.incomplete"})", "Hosted proxy response incomplete"},
        {R"({"type":"error","message":"Quota","error":{"message":"Inner"}})", "Quota"},
        {R"({"type":"error","error":{"message":"Inner"}})", "Inner"},
        {R"({"type":"error","message":"","error":{"message":"Inner"}})", "Inner"},
        {R"({"type":"error","message":"  "})", "Hosted proxy stream error"},
        {R"({"type":"error"})", "Hosted proxy stream error"},
    };
    for (const auto& c : cases) {
        QNParserHostedProxyStreamEvent parser;
        const auto failure = consumeOne(parser, c.event);
        ASSERT_TRUE(failure) << c.event;
        EXPECT_EQ(failure->kind, QNErrorHostedProxyStreaming::Kind::failed);
        EXPECT_EQ(failure->failureText(), c.text) << c.event;
    }
}

TEST(HostedProxyWire, HttpErrorTextUsesTheBodyWhenItHasOne) {
    struct Case {
        int status;
        std::string body;
        bool cut;
        std::string text;
    };
    // € cut after 2 bytes; the spaces before it collapse to nothing.
    const std::string longBody = "x" + std::string(4093, ' ') + "\xE2\x82\xAC";
    const std::vector<Case> cases = {
        {500, "", false, "Hosted proxy HTTP 500"},
        {502, " \r\n\t", false, "Hosted proxy HTTP 502"},
        {503, "Service down\nTry later\r\n", false,
         "Hosted proxy HTTP 503: Service down Try later"},
        {429, R"({"error":"rate_limited","message":"Slow down"})", false,
         "Hosted proxy HTTP 429: rate_limited: Slow down"},
        {402, R"({"message":"No credits","request_status":"rejected","error":"payment"})", false,
         "Hosted proxy HTTP 402: payment: rejected: No credits"},
        {400, R"({"error":"Same","message":" Same "})", false, "Hosted proxy HTTP 400: Same"},
        {400, R"({"error":"","message":null})", false,
         R"(Hosted proxy HTTP 400: {"error":"","message":null})"},
        {400, R"({"error":7})", false, R"(Hosted proxy HTTP 400: {"error":7})"},
        {401, "\xFF\xFE", false, "Hosted proxy HTTP 401"},
        {413, longBody.substr(0, 4096), true, "Hosted proxy HTTP 413: x"},
        // Shown as one line of at most 500 characters, without escapes or control characters.
        {400, "a\x1b[1mb\tc\x07\x1b\x7f d", false, "Hosted proxy HTTP 400: ab c d"},
        {400, std::string(1000, 'y'), false,
         "Hosted proxy HTTP 400: " + std::string(477, 'y') + "..."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hostedProxyHTTPErrorText(c.status, c.body, c.cut), c.text) << c.body;
    }
}

}  // namespace
}  // namespace ravlin
