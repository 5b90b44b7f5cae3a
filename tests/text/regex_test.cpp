#include "core/text/regex.h"

#include <gtest/gtest.h>

namespace ravlin::text {
namespace {

TEST(Regex, ReportsMatchesAndGroupsAsUtf16Ranges) {
    auto regex = Regex::literal(R"(([a-w]+)(x)?-(\d+))");
    const std::u16string text = u"\U0001F600 ab-12 cdx-3";
    auto found = regex.matches(text);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].range, (Utf16Range{3, 5}));
    EXPECT_EQ(found[0].group(1), (Utf16Range{3, 2}));
    EXPECT_EQ(found[0].group(2), std::nullopt);  // took no part
    EXPECT_EQ(found[0].group(3), (Utf16Range{6, 2}));
    EXPECT_EQ(found[1].range, (Utf16Range{9, 5}));
    EXPECT_EQ(found[1].group(2), (Utf16Range{11, 1}));
    EXPECT_EQ(found[1].group(9), std::nullopt);
    EXPECT_EQ(regex.numberOfCaptureGroups(), 3u);
}

TEST(Regex, OptionsMapToIcuFlags) {
    RegexOptions caseless;
    caseless.caseInsensitive = true;
    EXPECT_TRUE(Regex::literal(R"(\bteh\b)", caseless).hasMatch(u"TEH cat"));
    EXPECT_FALSE(Regex::literal(R"(\bteh\b)").hasMatch(u"TEH cat"));
    // Plain \b treats an apostrophe as a break; Unicode word boundaries do not.
    EXPECT_TRUE(Regex::literal(R"(\bdon\b)").hasMatch(u"don't"));
    RegexOptions unicodeWords;
    unicodeWords.useUnicodeWordBoundaries = true;
    EXPECT_FALSE(Regex::literal(R"(\bdon\b)", unicodeWords).hasMatch(u"don't"));
    RegexOptions lines;
    lines.anchorsMatchLines = true;
    EXPECT_EQ(Regex::literal("^x", lines).numberOfMatches(u"x\nx"), 2);
    EXPECT_EQ(Regex::literal("^x").numberOfMatches(u"x\nx"), 1);
}

TEST(Regex, RegionSearchSeesContextOutsideTheRegion) {
    auto regex = Regex::literal(R"((?<=a)b)");
    EXPECT_EQ(regex.matches(u"abab", {1, 3}).size(), 2u);
    EXPECT_EQ(regex.matches(u"abab", {2, 2}).front().range, (Utf16Range{3, 1}));
}

TEST(Regex, ReplacesWithTemplates) {
    auto regex = Regex::literal(R"((\w+) (\w+))");
    EXPECT_EQ(regex.replacingMatches(u"hello world", u"$2 $1"), u"world hello");
    EXPECT_EQ(regex.replacingMatches(u"a b", u"\\$1"), u"$1");
    const std::u16string text = u"one two";
    auto match = regex.firstMatch(text);
    ASSERT_TRUE(match);
    EXPECT_EQ(regex.replacementFor(*match, text, u"[$2|$1|$0|\\$]"), u"[two|one|one two|$]");
    EXPECT_EQ(regex.replacementFor(*match, text, u"$12"), u"one2");  // no group 12
}

TEST(Regex, EscapesLiteralText) {
    const std::u16string literal = u"a.b*(c)$ [x]";
    auto regex = Regex::compile(Regex::escapedPattern(literal));
    ASSERT_TRUE(regex);
    EXPECT_TRUE(regex->hasMatch(u"zz a.b*(c)$ [x] zz"));
    EXPECT_FALSE(regex->hasMatch(u"aXb*(c)$ [x]"));
    auto dollar = Regex::literal("x");
    EXPECT_EQ(dollar.replacingMatches(u"x", Regex::escapedTemplate(u"$1\\")), u"$1\\");
}

TEST(Regex, InvalidPatternIsReportedNotThrown) {
    std::string error;
    EXPECT_FALSE(Regex::compile(std::string_view("(unclosed"), {}, &error));
    EXPECT_NE(error.find("invalid regular expression"), std::string::npos);
}

}  // namespace
}  // namespace ravlin::text
