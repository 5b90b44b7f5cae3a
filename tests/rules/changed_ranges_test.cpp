#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rules/changed_ranges.h"
#include "tests/rules/rules_test_support.h"

namespace ravlin {
namespace {

using rules_test::u16;
using text::Utf16Range;

struct RangeCase {
    std::string from;
    std::string to;
    std::vector<Utf16Range> expected;
};

TEST(ChangedRanges, WalkAndResynchronise) {
    const std::vector<RangeCase> cases{
        {"abcd", "axcd", {{1, 1}}},
        {"acd", "abcd", {{1, 1}}},
        {"abcd", "acd", {{0, 1}}},  // a removal marks the code unit before it
        {"ab", "ax", {{1, 1}}},
        {"abc", "axc", {{1, 2}}},  // one matching code unit is not enough to resynchronise
        {"", "ab", {{0, 2}}},
        {"ab", "", {}},
        {"same", "same", {}},
        {"abcdefghijk", "aXcdefghYjk", {{1, 1}, {8, 1}}},  // two separate changes
        // A difference that is never followed by two matching code units runs to the end.
        {"abcdefghij", "aXcdefghYj", {{1, 1}, {8, 2}}},
        {"abcdefgh", "aXcYefgh", {{1, 3}}},  // separated by one unchanged unit
        {"abc", "ab", {{1, 1}}},             // the new text ended first
        {"abc", "abcd", {{3, 1}}},
        // Canonically equal texts have no changes, although their code units differ.
        {"caf\u00E9", "cafe\u0301", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(changedRanges(u16(c.from), u16(c.to)), c.expected) << c.from << " -> " << c.to;
    }
}

TEST(ChangedRanges, CountsUtf16CodeUnits) {
    EXPECT_EQ(changedRanges(u"ab", u"ab\U0001F600"), (std::vector<Utf16Range>{{2, 2}}));
    // Inserted before a single last character: the range also covers that character.
    EXPECT_EQ(changedRanges(u"ab", u"a\U0001F600b"), (std::vector<Utf16Range>{{1, 3}}));
}

TEST(ChangedRanges, RangesLieInsideTheNewText) {
    const std::vector<std::pair<std::u16string, std::u16string>> pairs{
        {u"i dont know  teh answer ", u"I don't know the answer "},
        {u"xxxxxxxx", u"y"},
        {u"y", u"xxxxxxxx"},
        {u"abab", u"baba"},
    };
    for (const auto& [from, to] : pairs) {
        for (const auto& range : changedRanges(from, to)) {
            EXPECT_GE(range.location, 0);
            EXPECT_GE(range.length, 1);
            EXPECT_LE(range.end(), static_cast<std::int64_t>(to.size()));
        }
    }
}

TEST(MergedRanges, SortsDropsEmptyAndJoins) {
    EXPECT_EQ(mergedRanges({{5, 2}, {1, 1}, {2, 0}, {6, 3}}),
              (std::vector<Utf16Range>{{1, 1}, {5, 4}}));
    EXPECT_EQ(mergedRanges({{0, 2}, {2, 2}}), (std::vector<Utf16Range>{{0, 4}}));  // touching
    EXPECT_EQ(mergedRanges({{0, 5}, {1, 1}}), (std::vector<Utf16Range>{{0, 5}}));  // contained
    EXPECT_TRUE(mergedRanges({}).empty());
}

}  // namespace
}  // namespace ravlin
