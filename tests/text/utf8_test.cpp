#include "core/text/utf8.h"

#include <gtest/gtest.h>

namespace ravlin::text {
namespace {

TEST(NetUtf8, DropsOnlyASequenceCutAtTheEnd) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"abc", "abc"},
        {"ab\xC3", "ab"},                      // lead of a two-byte sequence
        {"ab\xE2\x82", "ab"},                  // two of three bytes
        {"ab\xF0\x9F\x98", "ab"},              // three of four bytes
        {"ab\xE2\x82\xAC", "ab\xE2\x82\xAC"},  // complete
        {"ab\xFF", "ab\xFF"},                  // not a cut sequence: left for the validator
        {"ab\xE0\x80", "ab\xE0\x80"},          // not a well-formed beginning
        {"\x80", "\x80"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(droppingIncompleteTrailingSequence(c.in), c.out) << c.in;
    }
}

TEST(NetUtf8, TrimsUnicodeWhitespaceAtBothEnds) {
    EXPECT_EQ(trimmedWhitespaceAndNewlines(" \t\r\n a b \xE2\x80\xA8\xC2\xA0"), "a b");
    EXPECT_EQ(trimmedWhitespaceAndNewlines("\xE3\x80\x80x\xC2\x85"), "x");
    EXPECT_EQ(trimmedWhitespaceAndNewlines("   "), "");
    EXPECT_EQ(trimmedHorizontalWhitespace("\t [DONE] \t"), "[DONE]");
    EXPECT_EQ(trimmedHorizontalWhitespace("\n[DONE]\n"), "\n[DONE]\n");
    EXPECT_EQ(trimmedHorizontalWhitespace("\xC2\xA0x\xE2\x80\x83"), "x");
}

TEST(NetUtf8, ValidatesStrictly) {
    EXPECT_TRUE(isValidUtf8("plain ascii that is longer than eight bytes"));
    EXPECT_TRUE(isValidUtf8("\xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE0\x9F\xBF"));      // overlong
    EXPECT_FALSE(isValidUtf8("abcdefgh\xC3"));
    EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace ravlin::text
