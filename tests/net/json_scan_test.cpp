#include "core/net/json_scan.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace ravlin::net {
namespace {

struct Collect final : JsonObjectVisitor {
    std::vector<std::pair<std::string, JsonSpan>> members;
    void member(std::string_view key, JsonSpan value) override {
        members.emplace_back(std::string(key), value);
    }
};

TEST(JsonScan, AcceptsExactlyWhatTheJsonGrammarAccepts) {
    const std::vector<std::string> wellFormed = {
        "{}",
        " \t\r\n{ } \n",
        R"({"a":1,"b":-0.5e+3,"c":"x\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00","d":[],"e":{},"f":null})",
        R"({"nested":[[[[{"x":[true,false,null,0,-0,1E9]}]]]]})",
        R"({"a":{"b":{"c":{"d":[1,[2,[3]]]}}}})",
        std::string("{\"k\":\"\\u0000\"}"),
        // Underflow reads as zero; the largest double and integers past 64 bits stay numbers.
        R"({"a":1e-400,"b":1.7976931348623157e308,"c":-1797693134862315e293})",
        "{\"a\":1" + std::string(308, '0') + ".5}",
    };
    for (const auto& text : wellFormed) {
        Collect visitor;
        JsonObjectScanner scanner;
        EXPECT_TRUE(scanner.scan(text, visitor)) << text;
        EXPECT_FALSE(nlohmann::json::parse(text, nullptr, false).is_discarded()) << text;
    }
    const std::vector<std::string> malformed = {
        "",
        "[]",
        "\"text\"",
        "{",
        "{\"a\"}",
        "{\"a\":}",
        "{\"a\":1,}",
        "{\"a\":[1,]}",
        "{\"a\":01}",
        "{\"a\":1.}",
        "{\"a\":.5}",
        "{\"a\":1e}",
        "{\"a\":+1}",
        "{\"a\":tru}",
        "{\"a\":\"\\x\"}",
        "{\"a\":\"\\u12\"}",
        "{\"a\":\"\\udc00\"}",         // lone low surrogate
        "{\"a\":\"\\ud800\"}",         // high surrogate alone
        "{\"a\":\"\\ud800\\u0041\"}",  // high surrogate and no low one
        "{\"a\":\"tab\there\"}",       // raw control character
        "{\"a\":\"\xFF\"}",
        "{'a':1}",
        "{\"a\":1} x",
        "{\"a\":1}{}",
        "{\"a\":[}",
        "{\"a\":{]}",
        std::string("{}\0", 3),
    };
    for (const auto& text : malformed) {
        Collect visitor;
        JsonObjectScanner scanner;
        EXPECT_FALSE(scanner.scan(text, visitor)) << text;
    }
}

TEST(JsonScan, RefusesNumbersWithNoFiniteDoubleAsADocumentReaderDoes) {
    const std::vector<std::string> tooLarge = {
        "{\"a\":1e400}",
        "{\"a\":-1E+400}",
        "{\"a\":1.7976931348623159e308}",
        "{\"a\":0.1e310}",
        "{\"a\":[1" + std::string(309, '0') + "]}",
        "{\"a\":-1" + std::string(400, '0') + ".0}",
    };
    for (const auto& text : tooLarge) {
        Collect visitor;
        JsonObjectScanner scanner;
        EXPECT_FALSE(scanner.scan(text, visitor)) << text;
        EXPECT_TRUE(nlohmann::json::parse(text, nullptr, false).is_discarded()) << text;
    }
}

TEST(JsonScan, HandsOutTopLevelMembersWithTheirKindsAndDecodesThem) {
    const std::string text =
        R"({"type":"x","n":12,"o":{"inner":1},"a":[1],"b":false,"z":null,"ty\u0070e":"last"})";
    Collect visitor;
    JsonObjectScanner scanner;
    ASSERT_TRUE(scanner.scan(text, visitor));
    ASSERT_EQ(visitor.members.size(), 7u);
    EXPECT_EQ(visitor.members[0].first, "type");
    EXPECT_EQ(visitor.members[0].second.kind, JsonSpan::Kind::string);
    EXPECT_EQ(visitor.members[1].second.kind, JsonSpan::Kind::number);
    EXPECT_EQ(visitor.members[1].second.text, "12");
    EXPECT_EQ(visitor.members[2].second.kind, JsonSpan::Kind::object);
    EXPECT_EQ(visitor.members[2].second.text, R"({"inner":1})");
    EXPECT_EQ(visitor.members[3].second.kind, JsonSpan::Kind::array);
    EXPECT_EQ(visitor.members[4].second.kind, JsonSpan::Kind::boolean);
    EXPECT_EQ(visitor.members[5].second.kind, JsonSpan::Kind::null);
    EXPECT_EQ(visitor.members[6].first, "type");  // escaped keys are decoded

    EXPECT_EQ(decodeJsonString(R"("a\"b\\c\/d\n\t\u00e9\ud83d\ude00")"),
              "a\"b\\c/d\n\t\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(decodeJsonString(R"("")"), "");
}

TEST(JsonScan, ReadsIntegersAsAJsonDecoderDoes) {
    struct Case {
        const char* number;
        std::optional<std::int64_t> value;
    };
    const std::vector<Case> cases = {
        {"0", 0},
        {"-0", 0},
        {"42", 42},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"-9223372036854775809", INT64_MIN},  // read as a double, which rounds to the limit
        {"3.0", 3},
        {"1e3", 1000},
        {"2.5", std::nullopt},
        {"1e400", std::nullopt},
        {"1e-400", 0},
        {"5e-324", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(jsonInteger(c.number), c.value) << c.number;
    }
}

}  // namespace
}  // namespace ravlin::net
