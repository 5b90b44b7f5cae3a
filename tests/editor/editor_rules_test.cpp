// The text controller's pure rules and the decoration layer.

#include <gtest/gtest.h>

#include "app/editor/decoration_layer.h"
#include "app/editor/edit_reporting.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using text::Utf16Range;

TEST(RangeClamp, KeepsRangesInsideTheText) {
    struct Case {
        Utf16Range range;
        std::int64_t length;
        Utf16Range expected;
    };
    for (const auto& c : std::vector<Case>{
             {{NSNotFound, 0}, 5, {5, 0}},
             {{9, 2}, 5, {5, 0}},
             {{-3, 2}, 5, {0, 2}},
             {{2, -1}, 5, {2, 0}},
             {{3, 10}, 5, {3, 2}},
             {{1, 2}, 5, {1, 2}},
             {{0, 4}, 0, {0, 0}},
         }) {
        EXPECT_EQ(editor::clampRange(c.range, c.length), c.expected)
            << c.range.location << "," << c.range.length;
    }
}

TEST(VisibleEnd, StepsBackOverTrailingLineBreaksOnly) {
    struct Case {
        std::u16string text;
        std::int64_t expected;
    };
    for (const auto& c : std::vector<Case>{
             {u"a\n\n", 1},
             {u"a\r\n", 1},
             {u"a \t\n", 3},
             {u"\n\u2028\u2029\u0085", 0},
             {u"", 0},
             {u"x\U0001F600\n", 3},
             {u"ab", 2},
         }) {
        EXPECT_EQ(editor::visibleEndOffset(c.text), c.expected) << text::toUtf8(c.text);
    }
}

TEST(RangesTouch, FollowsTheMarkedTextRule) {
    struct Case {
        Utf16Range a, b;
        bool expected;
    };
    for (const auto& c : std::vector<Case>{
             {{3, 2}, {3, 0}, true},   // same start
             {{3, 2}, {4, 3}, true},   // share a unit
             {{3, 2}, {5, 1}, false},  // adjacent, both non-empty
             {{3, 2}, {5, 0}, true},   // empty at the end
             {{5, 0}, {3, 2}, true},   // either order
             {{4, 0}, {3, 2}, false},  // empty strictly inside
             {{NSNotFound, 0}, {0, 0}, false},
         }) {
        EXPECT_EQ(editor::rangesTouch(c.a, c.b), c.expected)
            << c.a.location << "," << c.a.length << " / " << c.b.location << "," << c.b.length;
    }
}

TEST(EditKind, FirstMatchingRuleWins) {
    using K = QNUserEditKind;
    const std::optional<Utf16Range> marked = Utf16Range{4, 2};
    struct Case {
        editor::EditFacts facts;
        K expected;
    };
    for (const auto& c : std::vector<Case>{
             {{.range = {0, 0}, .replacement = u"a"}, K::insert},
             {{.range = {0, 0}, .replacement = u"\U0001F600"}, K::pasteInsert},
             {{.range = {0, 0}, .replacement = u"ab"}, K::pasteInsert},
             {{.range = {0, 1}, .replacement = u""}, K::deletion},
             {{.range = {0, 1}, .replacement = u"a"}, K::replace},
             {{.range = {0, 0}, .replacement = u"a", .isPerformingPaste = true}, K::pasteInsert},
             {{.range = {0, 2}, .replacement = u"", .isPerformingPaste = true}, K::pasteInsert},
             {{.range = {6, 0}, .replacement = u"x", .pendingMarkedTextRange = marked},
              K::imeCommit},
             {{.range = {0, 0}, .replacement = u"x", .pendingMarkedTextRange = marked}, K::insert},
             {{.range = {1, 1},
             .replacement = u"",
             .isCommittingMarkedText = true,
             .isPerformingPaste = true},
              K::imeCommit},
         }) {
        EXPECT_EQ(editor::classifyEdit(c.facts), c.expected) << text::toUtf8(c.facts.replacement);
    }
}

TEST(DeriveChange, ReadsTheDocumentsCountsAgainstTheShadow) {
    struct Case {
        const char* name;
        std::u16string before, after;
        std::int64_t position, removed, added;
        bool trim;
        std::optional<editor::TextChange> expected;
    };
    for (const auto& c : std::vector<Case>{
             {"plain insert", u"abc", u"abXc", 2, 0, 1, false, editor::TextChange{{2, 0}, u"X"}},
             {"letter over itself", u"abc", u"abc", 1, 1, 1, false,
              editor::TextChange{{1, 1}, u"b"}},
             {"final separator counted", u"hello!", u"", 0, 8, 0, false,
              editor::TextChange{{0, 6}, u""}},
             {"final separator on insert", u"", u"hello", 0, 0, 6, false,
              editor::TextChange{{0, 0}, u"hello"}},
             {"counts that do not add up", u"abcdef", u"abXYef", 2, 3, 2, false,
              editor::TextChange{{2, 2}, u"XY"}},
             {"block marked by an input method", u"a b|cd", u"a b|cXd", 4, 3, 4, true,
              editor::TextChange{{5, 0}, u"X"}},
             {"preedit only", u"a b|cd", u"a b|cd", 4, 3, 3, true, std::nullopt},
             {"trim keeps surrogate pairs whole", u"x\U0001F600", u"x\U0001F601", 0, 3, 3, true,
              editor::TextChange{{1, 2}, u"\U0001F601"}},
         }) {
        const auto read = [&](std::int64_t from, std::int64_t to) {
            return c.after.substr(from, to - from);
        };
        EXPECT_EQ(editor::deriveChange(c.before, c.position, c.removed, c.added,
                                       static_cast<std::int64_t>(c.after.size()), read, c.trim),
                  c.expected)
            << c.name;
    }
}

using DecorationRun = QNDecorationLayer::Run;
constexpr auto kBack = QNDecorationKey::background;
constexpr auto kFore = QNDecorationKey::foreground;

TEST(DecorationLayer, AddOverwritesAndRemoveErasesPerKey) {
    const QColor red(Qt::red), blue(Qt::blue);
    QNDecorationLayer layer;
    layer.add(kBack, {0, 10}, red);
    layer.add(kBack, {3, 2}, blue);  // splits the red span
    layer.add(kFore, {4, 4}, red);   // another key: independent
    EXPECT_EQ(layer.runs(), (std::vector<DecorationRun>{{kBack, {0, 3}, red},
                                                        {kBack, {3, 2}, blue},
                                                        {kBack, {5, 5}, red},
                                                        {kFore, {4, 4}, red}}));

    layer.remove(kBack, {2, 6});
    EXPECT_EQ(layer.runs(), (std::vector<DecorationRun>{
                                {kBack, {0, 2}, red}, {kBack, {8, 2}, red}, {kFore, {4, 4}, red}}));

    layer.add(kBack, {2, 6}, red);  // touching runs of one colour read as one
    layer.remove(kFore, {0, 100});
    EXPECT_EQ(layer.runs(), (std::vector<DecorationRun>{{kBack, {0, 10}, red}}));

    layer.add(kBack, {20, 0}, blue);  // empty ranges change nothing
    layer.remove(kBack, {5, -1});
    EXPECT_EQ(layer.runs().size(), 1u);
    layer.clear();
    EXPECT_TRUE(layer.isEmpty());
}

TEST(DecorationLayer, WidensRangesThatCutASurrogatePair) {
    const std::u16string text = u"a\U0001F600b";  // the pair at 1..3
    struct Case {
        Utf16Range range, expected;
    };
    for (const auto& c : std::vector<Case>{
             {{0, 2}, {0, 3}},
             {{2, 2}, {1, 3}},
             {{1, 2}, {1, 2}},
             {{3, 1}, {3, 1}},
             {{0, 4}, {0, 4}},
         }) {
        EXPECT_EQ(QNDecorationLayer::widenToCodePoints(c.range, text), c.expected)
            << c.range.location << "," << c.range.length;
    }
}

}  // namespace
}  // namespace ravlin
