#include "core/providers/openai/openai_wire.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <tuple>

#include "core/services/token_budget.h"
#include "core/providers/openai/openai_stream.h"
#include "core/records/raw_value.h"
#include "tests/support/json_keys.h"

namespace ravlin {
namespace {

using LineKind = QNParserOpenAIStreamEvent::Line::Kind;
using testing::keysInOrder;

QNModelOpenAIResponsesRequest sampleRequest() {
    QNModelOpenAIResponsesRequest request;
    request.model = "gpt-4.1-mini";
    request.instructions = "Fix it.";
    request.input = "teh \"text\" \xE2\x80\x94 ok";
    request.maxOutputTokens = 300;
    request.promptCacheKey = openAIPromptCacheKey(request.instructions);
    request.promptCacheRetention = "in_memory";
    request.store = false;
    request.stream = true;
    request.text.format.type = "text";
    return request;
}

TEST(OpenAIWire, RequestBodyHasNineOrTenKeysInOrder) {
    auto request = sampleRequest();
    const auto nine = request.encoded();
    ASSERT_TRUE(nine);
    EXPECT_EQ(keysInOrder(*nine),
              (std::vector<std::string>{"model", "instructions", "input", "max_output_tokens",
                                        "prompt_cache_key", "prompt_cache_retention", "store",
                                        "stream", "text"}));
    EXPECT_EQ(*nine,
              "{\"model\":\"gpt-4.1-mini\",\"instructions\":\"Fix it.\",\"input\":\"teh "
              "\\\"text\\\" \xE2\x80\x94 ok\",\"max_output_tokens\":300,"
              "\"prompt_cache_key\":\"" +
                  request.promptCacheKey +
                  "\",\"prompt_cache_retention\":\"in_memory\",\"store\":false,"
                  "\"stream\":true,\"text\":{\"format\":{\"type\":\"text\"}}}");
    EXPECT_EQ(QNModelOpenAIResponsesRequest::decode(*nine), request);

    request.reasoning = QNModelOpenAIResponseReasoning{"minimal"};
    const auto ten = request.encoded();
    ASSERT_TRUE(ten);
    EXPECT_EQ(keysInOrder(*ten),
              (std::vector<std::string>{"model", "instructions", "input", "max_output_tokens",
                                        "prompt_cache_key", "prompt_cache_retention", "reasoning",
                                        "store", "stream", "text"}));
    EXPECT_NE(ten->find("\"reasoning\":{\"effort\":\"minimal\"}"), std::string::npos);
    EXPECT_EQ(QNModelOpenAIResponsesRequest::decode(*ten), request);

    request.input = "bad \xFF byte";
    EXPECT_FALSE(request.encoded());
}

TEST(OpenAIWire, RequestDecodingRequiresEveryKeyButReasoning) {
    const auto body = nlohmann::json::parse(*sampleRequest().encoded());
    for (const auto& item : body.items()) {
        auto without = body;
        without.erase(item.key());
        EXPECT_THROW((void)QNModelOpenAIResponsesRequest::decode(without.dump()), DecodingError)
            << item.key();
        auto nulled = body;
        nulled[item.key()] = nullptr;
        EXPECT_THROW((void)QNModelOpenAIResponsesRequest::decode(nulled.dump()), DecodingError)
            << item.key();
    }
    auto wrong = body;
    wrong["store"] = "false";
    EXPECT_THROW((void)QNModelOpenAIResponsesRequest::decode(wrong.dump()), DecodingError);
    wrong = body;
    wrong["reasoning"] = "minimal";
    EXPECT_THROW((void)QNModelOpenAIResponsesRequest::decode(wrong.dump()), DecodingError);
    auto nullReasoning = body;
    nullReasoning["reasoning"] = nullptr;
    EXPECT_EQ(QNModelOpenAIResponsesRequest::decode(nullReasoning.dump()).reasoning, std::nullopt);
}

TEST(OpenAIWire, ReasoningGoesOnlyToModelsNamedGpt5) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"gpt-5", true},     {" GPT-5-mini \n", true}, {"gpt-50", true},
        {"Gpt-5.1", true},   {"gpt-4o", false},        {"gpt 5", false},
        {"my-gpt-5", false}, {"o3-mini", false},       {"", false},
    };
    for (const auto& [model, expected] : cases) {
        EXPECT_EQ(openAIModelTakesReasoning(model), expected) << model;
    }
}

TEST(OpenAIWire, PromptCacheKeyDependsOnTheInstructionsAlone) {
    const std::string key = openAIPromptCacheKey("Correct the text.");
    EXPECT_EQ(key.size(), 15u);
    EXPECT_EQ(key, "ravlin-" + fingerprint(std::string_view("Correct the text.")));
    EXPECT_EQ(openAIPromptCacheKey("Correct the text."), key);
    EXPECT_NE(openAIPromptCacheKey("Correct the text. "), key);
    EXPECT_EQ(openAIPromptCacheKey("").size(), 15u);
}

TEST(OpenAIWire, EventDecodingIsStrictAboutTypesAndLenientAboutTheRest) {
    const auto full = QNModelOpenAIStreamEvent::decode(
        R"({"type":"response.completed","delta":"d","text":"t","message":"m",
            "error":{"message":"e","code":7},"extra":[1,{"x":2}],
            "response":{"id":"r","usage":{"input_tokens":5,"output_tokens":2,"total_tokens":7,
              "input_tokens_details":{"cached_tokens":1}},"metadata":{},
              "incomplete_details":{"reason":"max_output_tokens"}},
            "usage":{"total_tokens":"9"},"metadata":null})");
    EXPECT_EQ(full.type, "response.completed");
    EXPECT_EQ(full.delta, "d");
    EXPECT_EQ(full.text, "t");
    EXPECT_EQ(full.message, "m");
    EXPECT_EQ(full.error->message, "e");
    ASSERT_TRUE(full.response);
    EXPECT_EQ(full.response->usage->inputTokens, 5);
    EXPECT_EQ(full.response->usage->cachedTokens, 1);
    EXPECT_EQ(full.response->metadata, QNModelCorrectionAPIMetadata{});
    EXPECT_EQ(full.response->incompleteDetails->reason, "max_output_tokens");
    EXPECT_EQ(full.usage->totalTokens, 9);
    EXPECT_EQ(full.metadata, std::nullopt);

    const auto nulls = QNModelOpenAIStreamEvent::decode(
        R"({"type":"x","delta":null,"error":null,"response":{"usage":null,"incomplete_details":null}})");
    EXPECT_EQ(nulls.delta, std::nullopt);
    EXPECT_EQ(nulls.error, std::nullopt);
    EXPECT_EQ(nulls.response, QNModelOpenAIStreamEvent::ResponseDetails{});

    const std::vector<std::string> undecodable = {
        "",
        "[]",
        "not json",
        R"({"delta":"no type"})",
        R"({"type":null})",
        R"({"type":5})",
        R"({"type":"x","delta":1})",
        R"({"type":"x","text":false})",
        R"({"type":"x","error":"boom"})",
        R"({"type":"x","error":{"message":3}})",
        R"({"type":"x","response":[]})",
        R"({"type":"x","response":{"usage":5}})",
        R"({"type":"x","response":{"incomplete_details":{"reason":1}}})",
        R"({"type":"x","usage":"12"})",
        R"({"type":"x","metadata":[]})",
        R"({"type":"x"} trailing)",
        R"({"type":"x",})",
    };
    for (const auto& payload : undecodable) {
        EXPECT_THROW((void)QNModelOpenAIStreamEvent::decode(payload), DecodingError) << payload;
    }
}

TEST(OpenAIWire, LinesBecomeEventsOnlyAfterData) {
    QNParserOpenAIStreamEvent parser;
    const std::string event = R"({"type":"response.output_text.delta","delta":"Hi"})";
    struct Case {
        std::string line;
        LineKind kind;
    };
    const std::vector<Case> cases = {
        {"", LineKind::none},
        {" \t ", LineKind::none},
        {"event: response.output_text.delta", LineKind::none},
        {": keep-alive", LineKind::none},
        {"id: 7", LineKind::none},
        {"data: [DONE]", LineKind::none},
        {"  data:[DONE]  ", LineKind::none},
        {"data: " + event, LineKind::event},
        {"data:" + event, LineKind::event},
        {"data: \t" + event + "\t ", LineKind::event},
        {"DATA: " + event, LineKind::none},
        {"data:", LineKind::undecodable},
        {"data: {\"type\":", LineKind::undecodable},
        {"data: {\"delta\":\"no type\"}", LineKind::undecodable},
    };
    for (const auto& c : cases) {
        const auto parsed = parser.parseLine(c.line);
        EXPECT_EQ(parsed.kind, c.kind) << c.line;
        EXPECT_EQ(parsed.event.has_value(), c.kind == LineKind::event) << c.line;
    }
    EXPECT_EQ(parser.parseLine("data: " + event).event->delta, "Hi");

    // A line of exactly 262,144 bytes passes; one byte more is too large.
    const std::string prefix = R"(data: {"type":"response.output_text.delta","delta":")";
    const std::string suffix = "\"}";
    const std::string exact =
        prefix + std::string(262144 - prefix.size() - suffix.size(), 'a') + suffix;
    ASSERT_EQ(exact.size(), 262144u);
    EXPECT_EQ(parser.parseLine(exact).kind, LineKind::event);
    const std::string over =
        prefix + std::string(262145 - prefix.size() - suffix.size(), 'a') + suffix;
    EXPECT_EQ(parser.parseLine(over).kind, LineKind::payloadTooLarge);
    EXPECT_EQ(parser.parseLine(std::string(262145, ' ')).kind, LineKind::payloadTooLarge);
}

QNModelOpenAIStreamEvent event(const std::string& json) {
    return QNModelOpenAIStreamEvent::decode(json);
}

TEST(OpenAIWire, EventsFoldIntoTheOutputWithoutTrimming) {
    QNParserOpenAIStreamEvent parser;
    const std::vector<std::pair<std::string, std::string>> steps = {
        {R"({"type":"response.output_text.delta","delta":" Hel"})", " Hel"},
        {R"({"type":"response.output_text.delta"})", " Hel"},
        {R"({"type":"response.output_text.delta","delta":"lo "})", " Hello "},
        {R"({"type":"response.output_text.done","text":""})", " Hello "},
        {R"({"type":"response.output_text.done"})", " Hello "},
        {R"({"type":"response.output_text.done","text":"Other."})", "Other."},
        {R"({"type":"Response.Output_Text.Delta","delta":"x"})", "Other."},
        {R"({"type":"response.created","response":{"usage":null}})", "Other."},
    };
    for (const auto& [json, output] : steps) {
        EXPECT_EQ(parser.consume(event(json)), std::nullopt) << json;
        EXPECT_EQ(parser.output, output) << json;
    }
    EXPECT_EQ(parser.usage, std::nullopt);
}

TEST(OpenAIWire, UsageComesFromTheFirstCompletedCandidateWithATokenCount) {
    struct Case {
        const char* name;
        std::string json;
        std::optional<QNModelCorrectionUsage> usage;
    };
    QNModelCorrectionUsage nested;
    nested.inputTokens = 10;
    nested.outputTokens = 3;
    nested.totalTokens = 13;
    nested.cachedTokens = 4;
    QNModelCorrectionUsage topLevel;
    topLevel.totalTokens = 21;
    QNModelCorrectionUsage fromMetadata;
    fromMetadata.outputTokens = 2;
    const std::vector<Case> cases = {
        {"nested usage",
         R"({"type":"response.completed","response":{"usage":{"input_tokens":10,"output_tokens":3,
             "total_tokens":13,"input_tokens_details":{"cached_tokens":4}}},"usage":{"total_tokens":21}})",
         nested},
        {"latency only in response.usage, counts at top level",
         R"({"type":"response.completed","response":{"usage":{"latency_ms":12}},
             "usage":{"total_tokens":21}})",
         topLevel},
        {"response.metadata before top-level usage",
         R"({"type":"response.completed","response":{"metadata":{"output_tokens":2}},
             "usage":{"total_tokens":21}})",
         fromMetadata},
        {"top-level metadata last",
         R"({"type":"response.completed","metadata":{"completion_tokens":2}})", fromMetadata},
        {"no counts anywhere",
         R"({"type":"response.completed","response":{"usage":{},"metadata":{"a":"b"}}})",
         std::nullopt},
        {"another type carrying usage",
         R"({"type":"response.in_progress","usage":{"total_tokens":21}})", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QNParserOpenAIStreamEvent parser;
        EXPECT_EQ(parser.consume(event(c.json)), std::nullopt);
        EXPECT_EQ(parser.usage, c.usage);
    }

    // A completed event without counts keeps the usage taken earlier.
    QNParserOpenAIStreamEvent parser;
    (void)parser.consume(event(R"({"type":"response.completed","usage":{"total_tokens":21}})"));
    (void)parser.consume(event(R"({"type":"response.completed"})"));
    EXPECT_EQ(parser.usage, topLevel);
}

TEST(OpenAIWire, FailingEventsCarryTheirTexts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"type":"response.failed","error":{"message":"Server overloaded"}})",
         "Server overloaded"},
        {R"({"type":"response.failed"})", "OpenAI response failed"},
        {R"({"type":"response.failed","error":{}})", "OpenAI response failed"},
        // A blank message would leave the user with nothing to read.
        {R"({"type":"response.failed","error":{"message":" "}})", "OpenAI response failed"},
        {R"({"type":"response.failed","message":"top-level is not read"})",
         "OpenAI response failed"},
        {R"({"type":"response.incomplete","error":{"message":"Stopped"},
             "response":{"incomplete_details":{"reason":"max_output_tokens"}}})",
         "Stopped"},
        {R"({"type":"response.incomplete","error":{"message":""},
             "response":{"incomplete_details":{"reason":"max_output_tokens"}}})",
         "OpenAI response incomplete: max_output_tokens"},
        {R"({"type":"response.incomplete","response":{"incomplete_details":{"reason":""}}})",
         "OpenAI response incomplete"},
        {R"({"type":"response.incomplete"})", "OpenAI response incomplete"},
        {R"({"type":"error","message":"Bad things","error":{"message":"nested"}})", "Bad things"},
        {R"({"type":"error","error":{"message":"nested"}})", "nested"},
        {R"({"type":"error","message":"","error":{"message":"nested"}})", "nested"},
        {R"({"type":"error"})", "OpenAI stream error"},
    };
    for (const auto& [json, text] : cases) {
        QNParserOpenAIStreamEvent parser;
        parser.output = "kept";
        EXPECT_EQ(parser.consume(event(json)), QNErrorOpenAIStreaming::failed(text)) << json;
        EXPECT_EQ(parser.output, "kept");
    }
}

TEST(OpenAIWire, StreamFailuresHaveFixedTexts) {
    using Kind = QNErrorOpenAIStreaming::Kind;
    EXPECT_EQ(QNErrorOpenAIStreaming::failed("as is").failureText(), "as is");
    EXPECT_EQ(QNErrorOpenAIStreaming::of(Kind::malformed).failureText(), "OpenAI malformed stream");
    EXPECT_EQ(QNErrorOpenAIStreaming::of(Kind::idleTimeout).failureText(), "OpenAI idle timeout");
    EXPECT_EQ(QNErrorOpenAIStreaming::of(Kind::payloadTooLarge).failureText(),
              "OpenAI event payload too large");
    EXPECT_EQ(QNErrorOpenAIStreaming::of(Kind::totalDeadlineExceeded).failureText(),
              "OpenAI total stream deadline exceeded");
}

TEST(OpenAIWire, HttpErrorTextsFollowTheStatus) {
    const std::string dash = "\xE2\x80\x94";  // U+2014
    const std::optional<std::string> none;
    const std::vector<std::tuple<int, std::optional<std::string>, std::string>> cases = {
        {400, std::string(R"({"error":{"code":"model_not_found"}})"),
         "Model not found for your API key tier"},
        {400, std::string("MODEL_NOT_FOUND"), "OpenAI rejected the request (400)"},
        {400, none, "OpenAI rejected the request (400)"},
        {401, std::string("model_not_found"), "Invalid API key"},
        {403, none, "Key authenticated but lacks access (403)"},
        {429, none, "Rate limited " + dash + " try again later"},
        {500, none, "OpenAI is unavailable " + dash + " try again later"},
        {503, none, "OpenAI is unavailable " + dash + " try again later"},
        {599, none, "OpenAI is unavailable " + dash + " try again later"},
        {404, none, "OpenAI HTTP 404"},
        {418, none, "OpenAI HTTP 418"},
        {600, none, "OpenAI HTTP 600"},
        {302, none, "OpenAI HTTP 302"},
    };
    for (const auto& [status, body, text] : cases) {
        EXPECT_EQ(openAIHTTPErrorMessage(status, body), text) << status;
    }
}

TEST(OpenAIWire, ErrorBodyTextIsTheFirstBytesWhenTheyAreUtf8) {
    EXPECT_EQ(openAIErrorBodyText("plain", false), "plain");
    EXPECT_EQ(openAIErrorBodyText("", false), "");
    EXPECT_EQ(openAIErrorBodyText("bad \xFF", false), std::nullopt);
    // A whole body that ends inside a character is not UTF-8.
    EXPECT_EQ(openAIErrorBodyText("cut \xC3", false), std::nullopt);
    // A body cut at the limit inside a character keeps the text before it.
    const std::string cut = std::string(8191, 'a') + "\xC3\xA9tail";
    EXPECT_EQ(openAIErrorBodyText(cut, false), std::string(8191, 'a'));
    EXPECT_EQ(openAIErrorBodyText(std::string(8191, 'a') + "\xC3", true), std::string(8191, 'a'));
    EXPECT_EQ(openAIErrorBodyText(std::string(9000, 'b'), false), std::string(8192, 'b'));
}

}  // namespace
}  // namespace ravlin
