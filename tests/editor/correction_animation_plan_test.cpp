// The pure rules of the animated correction apply and of the prefix wave's window.

#include <gtest/gtest.h>

#include "app/editor/correction_animation_plan.h"
#include "app/editor/prefix_wave_window.h"

namespace ravlin::editor {
namespace {

using namespace std::chrono_literals;
using text::Utf16Range;
using Op = QNEditOp;
using Tokens = std::vector<std::u16string>;

TEST(ChangedRange, CoversTheChangeAndOneUnitForAPureDeletion) {
    struct Case {
        std::u16string from, to;
        std::optional<Utf16Range> expected;
    };
    for (const auto& c : std::vector<Case>{
             {u"same", u"same", std::nullopt},
             {u"abc", u"", std::nullopt},
             {u"", u"abc", Utf16Range{0, 3}},
             {u"cat", u"cut", Utf16Range{1, 1}},
             {u"teh", u"the", Utf16Range{1, 2}},
             {u"abc", u"ac", Utf16Range{1, 1}},
             {u"abc", u"ab", Utf16Range{1, 1}},  // min(p, m - 1)
             {u"aaaa", u"aa", Utf16Range{1, 1}},
         }) {
        EXPECT_EQ(changedRange(c.from, c.to), c.expected)
            << std::string(c.from.begin(), c.from.end());
    }
}

TEST(Tokenize, RunsOfOneKindThatGiveBackTheText) {
    const std::u16string text = u"  two w\u00F6rds\n\te\u0301nd\u00A0!";
    const Tokens tokens = tokenize(text);
    EXPECT_EQ(tokens,
              (Tokens{u"  ", u"two", u" ", u"w\u00F6rds", u"\n\t", u"e\u0301nd", u"\u00A0", u"!"}));
    std::u16string joined;
    for (const auto& token : tokens) {
        joined += token;
    }
    EXPECT_EQ(joined, text);
    EXPECT_TRUE(tokenize(u"").empty());
    EXPECT_EQ(characters(u"ae\u0301\U0001F600"), (Tokens{u"a", u"e\u0301", u"\U0001F600"}));
}

TEST(EditOperations, TieBreakOrderAndAscendingPositions) {
    struct Case {
        const char* name;
        Tokens a, b;
        std::vector<Op> expected;
    };
    for (const auto& c : std::vector<Case>{
             {"substitution", {u"x"}, {u"yy"}, {Op::substitute(0, 1, u"yy")}},
             {"substitutions win over delete and insert",
              {u"a", u"b"},
              {u"b", u"c"},
              {Op::substitute(0, 1, u"b"), Op::substitute(1, 1, u"c")}},
             {"match, then insertion, then deletion",
              {u"a", u"b", u"c"},
              {u"b", u"c", u"d"},
              {Op::delete_(0, 1), Op::insert(3, u"d")}},
             {"insertions at one place keep their order",
              {u"a"},
              {u"x", u"y", u"a"},
              {Op::insert(0, u"x"), Op::insert(0, u"y")}},
             {"all inserted", {}, {u"p", u"q"}, {Op::insert(0, u"p"), Op::insert(0, u"q")}},
             {"all deleted", {u"pp", u"q"}, {}, {Op::delete_(0, 2), Op::delete_(2, 1)}},
             {"normalization only: code units differ",
              {u"e\u0301"},
              {u"\u00E9"},
              {Op::substitute(0, 2, u"\u00E9")}},
             {"nothing", {u"a"}, {u"a"}, {}},
         }) {
        EXPECT_EQ(editOperations(c.a, c.b), std::optional(c.expected)) << c.name;
    }
}

TEST(EditOperations, LongTextsDiffOnlyTheChangedMiddleAndCapTheTable) {
    Tokens a;
    std::int64_t offset = 0;
    for (int k = 0; k < 6000; ++k) {
        a.push_back(k % 2 ? u" " : u"w" + std::u16string(1, static_cast<char16_t>(u'a' + k % 26)));
        if (k < 5990) {
            offset += static_cast<std::int64_t>(a.back().size());
        }
    }
    Tokens b = a;
    b[5990] = u"word";
    EXPECT_EQ(editOperations(a, b),
              std::optional(std::vector<Op>{Op::substitute(offset, 2, u"word")}));

    Tokens x, y;
    for (int k = 0; k < 998; ++k) {
        x.push_back(u"x");
        y.push_back(u"y");
    }
    EXPECT_TRUE(editOperations(x, y).has_value());  // 999 x 999 cells
    x.push_back(u"x");
    y.push_back(u"y");
    x.push_back(u"x");
    y.push_back(u"y");
    EXPECT_FALSE(editOperations(x, y).has_value());
}

TEST(PauseBetweenSteps, SpreadsTheDurationWithinTheCaps) {
    struct Case {
        std::size_t operations;
        int duration, maxStep;
        std::chrono::milliseconds expected;
    };
    for (const auto& c : std::vector<Case>{
             {0, 180, 4, 0ms},
             {1, 180, 4, 0ms},
             {2, 90, 1, 1ms},     // below 2: always 1 ms
             {3, 180, 4, 4ms},    // 90 capped by the step bound
             {46, 180, 4, 4ms},   // 180 / 45
             {47, 180, 4, 3ms},   // integer division
             {200, 90, 30, 1ms},  // share 0
             {3, 100, 50, 20ms},  // the fixed cap
         }) {
        EXPECT_EQ(pauseBetweenSteps(c.operations, c.duration, c.maxStep), c.expected)
            << c.operations << " " << c.duration << " " << c.maxStep;
    }
}

TEST(ApplyForm, ThresholdsOfRunAndLength) {
    using F = QNCorrectionApplyForm;
    struct Case {
        std::optional<Utf16Range> changed;
        std::int64_t n, m;
        F expected;
    };
    for (const auto& c : std::vector<Case>{
             {Utf16Range{0, 41}, 10, 50, F::wholeReplacement},
             {Utf16Range{0, 40}, 10, 50, F::tokenDiff},
             {Utf16Range{0, 9}, 10, 20, F::tokenDiff},
             {Utf16Range{0, 8}, 80, 20, F::characterDiff},
             {Utf16Range{0, 8}, 81, 20, F::tokenDiff},
             {std::nullopt, 80, 0, F::characterDiff},
             {std::nullopt, 81, 0, F::tokenDiff},
         }) {
        EXPECT_EQ(chooseApplyForm(c.changed, c.n, c.m), c.expected) << c.n << " " << c.m;
    }
    // A long pure deletion is stepped, never written whole.
    const std::u16string from = u"keep " + std::u16string(60, u'z') + u" end";
    EXPECT_FALSE(planCorrectionApply(from, u"keep  end").wholeReplacement);
    EXPECT_TRUE(planCorrectionApply(u"", std::u16string(41, u'a')).wholeReplacement);
    EXPECT_FALSE(planCorrectionApply(u"", std::u16string(40, u'a')).wholeReplacement);
}

TEST(PrefixWaveWindow, WholeShortTextsElseAroundTheVisiblePartOrTheCaret) {
    struct Case {
        const char* name;
        std::int64_t length;
        std::optional<Utf16Range> visible;
        std::int64_t caret;
        Utf16Range expected;
    };
    for (const auto& c : std::vector<Case>{
             {"short", 1200, Utf16Range{500, 10}, 0, {0, 1200}},
             {"visible, widened", 5000, Utf16Range{2000, 300}, 0, {1760, 780}},
             {"visible, too wide", 5000, Utf16Range{0, 4000}, 0, {1420, 1400}},
             {"visible near the end", 5000, Utf16Range{4000, 1500}, 0, {3760, 1240}},
             {"visible beyond the covered text", 5000, Utf16Range{6000, 10}, 3000, {2300, 1400}},
             {"no visible range, caret in the middle", 5000, std::nullopt, 3000, {2300, 1400}},
             {"caret near the start", 5000, std::nullopt, 700, {0, 1400}},
             {"caret near the end", 5000, std::nullopt, 4900, {4200, 800}},
             {"caret past the covered text", 5000, std::nullopt, 9000, {4300, 700}},
         }) {
        EXPECT_EQ(prefixWaveWindow(c.length, c.visible, c.caret), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace ravlin::editor
