// The Composer's buffers and their canonical-to-visible projection.

#include <gtest/gtest.h>

#include <random>

#include "app/composer/correction_buffers.h"

namespace ravlin {
namespace {

using text::Utf16Range;
using Table = std::vector<std::int64_t>;

QNBufferProjection projection(Table table, std::int64_t visible) {
    const auto canonical = static_cast<std::int64_t>(table.size()) - 1;
    return {canonical, visible, std::move(table)};
}

TEST(Projection, LinearTableTruncatesAndHasOneEntryBelowLengthOne) {
    EXPECT_EQ(QNBufferProjection::linearOffsets(0, 5), Table{0});
    EXPECT_EQ(QNBufferProjection::linearOffsets(-2, 5), Table{0});
    EXPECT_EQ(QNBufferProjection::linearOffsets(3, 7), (Table{0, 2, 4, 7}));
    EXPECT_EQ(QNBufferProjection::linearOffsets(2, 5), (Table{0, 2, 5}));
}

TEST(Projection, VisibleRangeAcceptsOnlyRangesInsideTheCanonicalText) {
    const auto p = projection({0, 2, 4, 7}, 7);
    EXPECT_EQ(p.visibleRange({1, 2}), (Utf16Range{2, 5}));
    EXPECT_EQ(p.visibleRange({3, 0}), (Utf16Range{7, 0}));
    for (const Utf16Range r : {Utf16Range{2, 2}, Utf16Range{NSNotFound, 0}, Utf16Range{-1, 1},
                               Utf16Range{1, -1}, Utf16Range{1, NSNotFound}}) {
        EXPECT_FALSE(p.visibleRange(r)) << r.location << "," << r.length;
    }
    // A table too short for its length answers nothing instead of reading past its end.
    auto shortTable = p;
    shortTable.canonicalToVisibleOffsets = {0, 2};
    EXPECT_FALSE(shortTable.visibleRange({1, 2}));
}

TEST(Projection, CanonicalReplacementSpreadsTheNewSpanOverTheSameVisibleSpan) {
    struct Case {
        Utf16Range range;
        std::int64_t length;
        Table expected;
    };
    for (const auto& c : {Case{{1, 2}, 4, {0, 1, 1, 2, 2, 3, 4}}, Case{{1, 2}, 0, {0, 3, 4}},
                          Case{{4, 0}, 2, {0, 1, 2, 3, 4, 4, 4}}}) {
        auto p = projection({0, 1, 2, 3, 4}, 4);
        EXPECT_TRUE(p.applying(c.range, c.length));
        EXPECT_EQ(p.canonicalToVisibleOffsets, c.expected);
        EXPECT_EQ(p.canonicalUTF16Length, static_cast<std::int64_t>(c.expected.size()) - 1);
        EXPECT_EQ(p.visibleUTF16Length, 4);
    }
}

TEST(Projection, VisibleReplacementRescalesTheSpanAndShiftsWhatFollows) {
    auto p = projection({0, 1, 2, 3, 4}, 4);
    EXPECT_TRUE(p.applyVisibleReplacement({1, 2}, 4));
    EXPECT_EQ(p.canonicalToVisibleOffsets, (Table{0, 1, 3, 5, 6}));
    EXPECT_EQ(p.visibleUTF16Length, 6);
    auto insert = projection({0, 1, 2, 3, 4}, 4);
    EXPECT_TRUE(insert.applyVisibleReplacement({2, 0}, 3));
    EXPECT_EQ(insert.canonicalToVisibleOffsets, (Table{0, 1, 2, 6, 7}));
    EXPECT_EQ(insert.visibleUTF16Length, 7);
}

TEST(Projection, RefusalsChangeNothing) {
    const auto good = projection({0, 1, 2, 3, 4}, 4);
    const auto broken = projection({0, 2, 1, 3, 4}, 4);
    const auto outside = projection({0, 1, 2, 3, 9}, 4);
    struct Case {
        QNBufferProjection start;
        Utf16Range range;
        std::int64_t length;
    };
    for (const auto& c :
         {Case{good, {1, 2}, -1}, Case{good, {3, 2}, 1}, Case{good, {NSNotFound, 0}, 1},
          Case{broken, {0, 1}, 1}, Case{outside, {0, 1}, 1},
          Case{good, {0, 1}, QNBufferProjection::kMaximumLength}}) {
        auto canonical = c.start;
        EXPECT_FALSE(canonical.applying(c.range, c.length));
        EXPECT_EQ(canonical, c.start);
        auto visible = c.start;
        EXPECT_FALSE(visible.applyVisibleReplacement(c.range, c.length));
        EXPECT_EQ(visible, c.start);
    }
    auto edit = projection({0, 1, 2, 3}, 5);  // the range must lie inside both texts
    EXPECT_FALSE(edit.applyUserEdit({4, 1}, 0));
    EXPECT_TRUE(edit.applyUserEdit({1, 1}, 2));
    EXPECT_EQ(edit, QNBufferProjection::linear(4, 6));
}

TEST(Buffers, ReplacingRefusesRangesOutsideTheTextOrInsideASurrogatePair) {
    const std::u16string text = u"a\U0001F44D\U0001F3FDb";  // a, thumbs up, skin tone, b
    EXPECT_EQ(replacing(text, {3, 2}, u""), u"a\U0001F44Db") << "one code point of a cluster";
    EXPECT_EQ(replacing(text, {6, 0}, u"!"), text + u"!");
    for (const Utf16Range r : {Utf16Range{2, 1}, Utf16Range{1, 1}, Utf16Range{0, 7},
                               Utf16Range{NSNotFound, 0}, Utf16Range{-1, 1}}) {
        EXPECT_FALSE(replacing(text, r, u"x")) << r.location << "," << r.length;
    }
}

TEST(Buffers, UserEditsFollowBothTextsAndMakeTheTableLinear) {
    QNCorrectionBuffers buffers;
    buffers.reset(u"teh cat");
    buffers.canonicalText = u"the cat!";  // a correction made the texts differ
    ASSERT_TRUE(buffers.projection.applying({7, 0}, 1));
    ASSERT_NE(buffers.projection, QNBufferProjection::linear(8, 7));

    EXPECT_TRUE(buffers.recordUserEdit({{0, 0}, u"I: ", QNUserEditKind::insert, {}}));
    EXPECT_EQ(buffers.authoredText, u"I: teh cat");
    EXPECT_EQ(buffers.canonicalText, u"I: the cat!");
    EXPECT_EQ(buffers.revision, 1);
    EXPECT_EQ(buffers.projection, QNBufferProjection::linear(11, 10));

    // Valid in the authored text, not in the longer canonical one: nothing changes.
    buffers.authoredText = u"I: teh cat and more";
    const auto before = buffers.canonicalText;
    EXPECT_FALSE(buffers.recordUserEdit({{15, 2}, u"", QNUserEditKind::deletion, {}}));
    EXPECT_EQ(buffers.canonicalText, before);
    EXPECT_EQ(buffers.authoredText, u"I: teh cat and more");
    EXPECT_EQ(buffers.revision, 1);
    EXPECT_EQ(buffers.edits.size(), 1u);
}

TEST(Buffers, ApplyReplacementRebuildsWhenTheViewDisagrees) {
    QNCorrectionBuffers buffers;
    buffers.reset(u"helo there");
    buffers.applyReplacement({0, 4}, u"hello", u"hello there");
    EXPECT_EQ(buffers.projection.canonicalToVisibleOffsets[4], 5);
    EXPECT_EQ(buffers.projection.visibleUTF16Length, 11);
    buffers.applyReplacement({0, 4}, u"hi", u"something else entirely");
    EXPECT_EQ(buffers.projection, QNBufferProjection::linear(10, 23));
}

// Thousands of random user edits, canonical and visible replacements over text with surrogate
// pairs: after each, the invariants hold, or the owner's rebuild from the real lengths restores
// them.
TEST(Buffers, RandomOperationsKeepTheInvariantsOrTheOwnerRestoresThem) {
    std::mt19937 random(20240518);
    const std::vector<std::u16string> pieces = {u"", u"a", u"the ", u"\U0001F600", u"é", u"xyz"};
    const auto pick = [&](std::int64_t max) {
        return std::uniform_int_distribution<std::int64_t>(0,
                                                           std::max<std::int64_t>(max, 0))(random);
    };
    QNCorrectionBuffers buffers;
    std::u16string visible = u"Hello wrld, teh \U0001F600 cat.";
    buffers.reset(visible);
    int rebuilds = 0;
    int applied = 0;
    for (int step = 0; step < 5000; ++step) {
        const auto& piece = pieces[static_cast<std::size_t>(pick(5))];
        // User edits come in the view's offsets, corrections in canonical ones.
        const auto length = static_cast<std::int64_t>(step % 3 == 0 ? visible.size()
                                                                    : buffers.canonicalText.size());
        const auto location = pick(length);
        const Utf16Range range{location, pick(std::min<std::int64_t>(4, length - location))};
        switch (step % 3) {
            case 0: {  // the user edits the view; the buffers record the same range
                if (auto edited = replacing(visible, range, piece)) {
                    visible = std::move(*edited);
                    applied += buffers.recordUserEdit({range, piece, QNUserEditKind::replace, {}});
                }
                break;
            }
            case 1: {  // a correction of the canonical text, not yet on screen
                if (auto corrected = replacing(buffers.canonicalText, range, piece)) {
                    buffers.canonicalText = std::move(*corrected);
                    buffers.projection.applying(range, static_cast<std::int64_t>(piece.size()));
                    ++applied;
                }
                break;
            }
            default: {  // the correction reaches the view through the projection
                const auto shown = buffers.projection.visibleRange(range);
                auto written = shown ? replacing(visible, *shown, piece) : std::nullopt;
                if (written) {
                    visible = std::move(*written);
                    buffers.applyReplacement(range, piece, visible);
                    ++applied;
                }
            }
        }
        const auto& p = buffers.projection;
        if (!p.satisfiesInvariants() ||
            p.canonicalUTF16Length != static_cast<std::int64_t>(buffers.canonicalText.size()) ||
            p.visibleUTF16Length != static_cast<std::int64_t>(visible.size())) {
            ++rebuilds;
            buffers.rebuildProjection(static_cast<std::int64_t>(visible.size()));
        }
        ASSERT_TRUE(p.satisfiesInvariants()) << "step " << step;
        ASSERT_EQ(p.canonicalUTF16Length, static_cast<std::int64_t>(buffers.canonicalText.size()));
        ASSERT_EQ(p.visibleUTF16Length, static_cast<std::int64_t>(visible.size()));
    }
    EXPECT_GT(applied, 3000);
    EXPECT_GT(rebuilds, 0) << "the walk should reach the owner's rebuild";
}

}  // namespace
}  // namespace ravlin
