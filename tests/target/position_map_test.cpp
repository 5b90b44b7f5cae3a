#include "app/target/position_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ravlin {
namespace {

// A caret written as "|" in the text before the correction, and where it stands after.
struct Case {
    const char* name;
    std::u16string before;  // with "|" at the caret
    std::u16string after;   // with "|" where it must stand
};

TEST(PositionAfterCorrection, TheCaretStaysBesideTheSameWords) {
    std::u16string longLine;  // too many words to compare the two lines' changes word by word
    for (int word = 0; word < 15000; ++word) {
        longLine += u"w ";
    }
    for (const Case& c : {
             Case{"before every change", u"Hi| teh cat", u"Hi| the cat"},
             Case{"after every change", u"Hi teh cat|", u"Hi the cat|"},
             Case{"between two changes", u"i read| teh news", u"I read| the news"},
             Case{"end of line 1 of 3", u"teh first|\nsecond\nthird realy",
                  u"the first|\nsecond\nthird really"},
             Case{"right after a rewritten word", u"a teh| b", u"a the| b"},
             Case{"right before a rewritten word", u"a |teh b", u"a |the b"},
             Case{"inside a rewritten word: after it", u"a te|h b", u"a the| b"},
             Case{"inside a longer correction", u"dont| go", u"don't| go"},
             Case{"where words were added", u"I see| you", u"I see,| you"},
             Case{"at the end, a full stop added", u"i read teh news|", u"I read the news.|"},
             Case{"words removed before it", u"the the cat sat|", u"the cat sat|"},
             Case{"the whole text rewritten", u"abc|", u"xyz|"},
             Case{"empty before", u"|", u"Hello|"},
             Case{"a long text changed far apart, caret between",
              u"teh " + longLine + u" a|\n" + longLine + u" realy",
              u"the " + longLine + u" a|\n" + longLine + u" really"},
             Case{"surrogate pairs kept whole", u"\U0001F600 teh|", u"\U0001F600 the|"},
         }) {
        SCOPED_TRACE(c.name);
        const auto at = static_cast<std::int64_t>(c.before.find(u'|'));
        const auto expected = static_cast<std::int64_t>(c.after.find(u'|'));
        std::u16string before = c.before;
        std::u16string after = c.after;
        before.erase(static_cast<std::size_t>(at), 1);
        after.erase(static_cast<std::size_t>(expected), 1);
        EXPECT_EQ(positionAfterCorrection(before, after, at), expected);
    }
}

TEST(PositionAfterCorrection, ASelectionCoversTheSameWords) {
    const std::u16string before = u"Hi teh cat sat";
    const std::u16string after = u"Hi the cat sat.";
    EXPECT_EQ(rangeAfterCorrection(before, after, {3, 7}), (text::Utf16Range{3, 7}));
    EXPECT_EQ(rangeAfterCorrection(before, after, {0, 14}), (text::Utf16Range{0, 15}));
    EXPECT_EQ(rangeAfterCorrection(before, after, {14, 0}), (text::Utf16Range{15, 0}));
    // Out of the text: at its end.
    EXPECT_EQ(positionAfterCorrection(before, after, 99), 15);
}

// The same rule for changes given one by one (Quick Fix's changes typed into a formatted field).
TEST(PositionAfterCorrection, APlaceMovesWithTheEditsBeforeIt) {
    using text::Utf16Range;
    const std::vector<QNTextEdit> edits = {{Utf16Range{11, 2}, u"ei"}, {Utf16Range{38, 0}, u"l"}};
    EXPECT_EQ(placeAfterEdits(edits, 0), 0);
    EXPECT_EQ(placeAfterEdits(edits, 12), 13) << "inside a change: after its replacement";
    EXPECT_EQ(placeAfterEdits(edits, 38), 39) << "where a word was typed";
    EXPECT_EQ(placeAfterEdits(edits, 45), 46);
    EXPECT_EQ(placeAfterEdits({{Utf16Range{2, 3}, u""}}, 9), 6);
}

}  // namespace
}  // namespace ravlin
