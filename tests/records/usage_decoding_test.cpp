#include "core/records/usage_decoding.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/records/raw_value.h"

namespace ravlin {
namespace {

using Json = nlohmann::json;
using Metadata = QNModelCorrectionAPIMetadata;

Metadata decoded(const char* json) {
    return Metadata::decode(Json::parse(json));
}

Metadata metadata(std::optional<std::int64_t> input, std::optional<std::int64_t> output,
                  std::optional<std::int64_t> total, std::optional<std::int64_t> cached,
                  std::optional<double> latency) {
    return Metadata{input, output, total, cached, latency};
}

constexpr auto none = std::nullopt;

TEST(UsageMetadataDecoding, ReadsEveryMemberNameAndPlace) {
    struct Row {
        const char* json;
        Metadata expected;
    };
    const Row rows[] = {
        {"{}", metadata(none, none, none, none, none)},
        {R"({"inputTokens":1,"outputTokens":2,"totalTokens":3,"cachedTokens":4,"latencyMs":5})",
         metadata(1, 2, 3, 4, 5.0)},
        {R"({"prompt_tokens":1,"completion_tokens":2,"total_tokens":3,"prompt_tokens_cached":4})",
         metadata(1, 2, 3, 4, none)},
        {R"({"promptTokens":7,"completionTokens":8,"tokens_cached":1})",
         metadata(7, 8, none, 1, none)},
        // The top level wins over the usage object.
        {R"({"input_tokens":3,"usage":{"input_tokens":9,"output_tokens":4}})",
         metadata(3, 4, none, none, none)},
        // Counts as numeric text.
        {R"({"usage":{"prompt_tokens":12,"completion_tokens":"7"}})",
         metadata(12, 7, none, none, none)},
        // "usage" that is not an object is passed over for the next name.
        {R"({"usage":5,"tokens":{"total_tokens":5}})", metadata(none, none, 5, none, none)},
        {R"({"tokenUsage":{"inputTokens":2},"token_usage":{"inputTokens":3}})",
         metadata(2, none, none, none, none)},
        // Cached tokens inside a details object, found in the usage object or at the top level.
        {R"({"input_tokens":10,"output_tokens":2,"input_tokens_details":{"cached_tokens":4}})",
         metadata(10, 2, none, 4, none)},
        {R"({"usage":{"prompt_tokens_details":{"cachedTokens":6}},
             "input_tokens_details":{"cached_tokens":1}})",
         metadata(none, none, none, 6, none)},
        {R"({"usage":{"input_tokens_cached":2,"input_tokens_details":{"cached_tokens":9}}})",
         metadata(none, none, none, 2, none)},
        // A details object that lacks the count does not fall through to the other one.
        {R"({"usage":{"input_tokens_details":{}},"prompt_tokens_details":{"cached_tokens":3}})",
         metadata(none, none, none, none, none)},
        // Only "cachedTokens"/"cached_tokens" are read inside details.
        {R"({"input_tokens_details":{"tokens_cached":3}})", metadata(none, none, none, none, none)},
        // Names are matched exactly.
        {R"({"Input_Tokens":3,"INPUTTOKENS":4})", metadata(none, none, none, none, none)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(decoded(row.json), row.expected) << row.json;
    }
}

TEST(UsageMetadataDecoding, RoundsCountsHalfAwayFromZeroAndReadsTrimmedText) {
    struct Row {
        const char* value;
        std::optional<std::int64_t> expected;
    };
    const Row rows[] = {
        {"12.5", 13},
        {"-12.5", -13},
        {"12.49", 12},
        {"0.5", 1},
        {"-0.4", 0},
        {"1e3", 1000},
        {R"(" 8 ")", 8},
        {R"("\t8\n")", 8},
        {R"("\u00a08\u2028")", 8},
        {R"("12.5")", 13},
        {R"("0x10")", 16},
        {R"("+4")", 4},
        {R"("8 tokens")", none},
        {R"("")", none},
        {R"("   ")", none},
        {R"("eight")", none},
        {"-3", -3},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"null", none},
        {"[1]", none},
        {R"({"value":1})", none},
    };
    for (const Row& row : rows) {
        std::string json = std::string(R"({"input_tokens":)") + row.value + "}";
        EXPECT_EQ(decoded(json.c_str()).inputTokens, row.expected) << json;
    }
}

// A number with no 64-bit integer form, or a boolean, is unreadable: it is passed over and the
// next name is tried, never converted out of range.
TEST(UsageMetadataDecoding, CountsWithoutAnIntegerFormArePassedOver) {
    const char* unreadable[] = {
        "1e300",
        "-1e300",
        "18446744073709551615",  // above the signed range
        "9223372036854775808",   // one past it
        "9.3e18",
        "1e400",  // beyond double: the parser keeps it as text-free infinity or fails
        R"("inf")",
        R"("-infinity")",
        R"("nan")",
        R"("1e300")",
        "true",
        "false",
    };
    for (const char* value : unreadable) {
        std::string json = std::string(R"({"inputTokens":)") + value + R"(,"input_tokens":7})";
        Json parsed = Json::parse(json, nullptr, false);
        if (parsed.is_discarded()) {
            continue;
        }
        EXPECT_EQ(Metadata::decode(parsed).inputTokens, 7) << json;
    }
}

TEST(UsageMetadataDecoding, CountsBuiltInMemoryWithNonFiniteValuesArePassedOver) {
    for (double value :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN(), 9.3e18, -9.3e18}) {
        Json json = {{"total_tokens", value}, {"usage", {{"totalTokens", 2}}}};
        EXPECT_EQ(Metadata::decode(json).totalTokens, 2) << value;
    }
    Json boolean = {{"cachedTokens", true}};
    EXPECT_FALSE(Metadata::decode(boolean).cachedTokens.has_value());
}

TEST(UsageMetadataDecoding, LatencyInMillisecondsOrSeconds) {
    struct Row {
        const char* json;
        std::optional<double> expected;
    };
    const Row rows[] = {
        {R"({"latency_seconds":1.25})", 1250.0},
        {R"({"latency_ms":"42"})", 42.0},
        {R"({"latencyMs":"fast","latency_ms":5})", 5.0},
        {R"({"time_taken":3,"latencyMilliseconds":4})", 4.0},
        {R"({"elapsed_seconds":2,"usage":{"latency_ms":7}})", 2000.0},
        {R"({"usage":{"latency_ms":7,"durationSeconds":1}})", 7.0},
        {R"({"usage":{"time_taken_seconds":"0.5"}})", 500.0},
        {R"({"responseMs":-3.5})", -3.5},
        {R"({"duration_ms":true})", none},
        {R"({"latency":12})", none},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(decoded(row.json).latencyMilliseconds, row.expected) << row.json;
    }
}

TEST(UsageMetadataDecoding, OnlyANonObjectFails) {
    for (const char* json : {R"("text")", "[1,2]", "3", "null", "true"}) {
        EXPECT_THROW((void)Metadata::decode(Json::parse(json)), DecodingError) << json;
    }
    EXPECT_NO_THROW((void)Json::parse(R"({"usage":[],"input_tokens":{}})").get<Metadata>());
}

}  // namespace
}  // namespace ravlin
