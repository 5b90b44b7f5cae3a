// What the Composer's editor paints under its text (the fade pulses): found in the decoration
// layer by range, painted where the text stands, and repainted only where it shows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <vector>

#include "app/editor/decoration_layer.h"
#include "app/editor/text_view_commit_aware.h"

// (The suite's application is made in controller_test.cpp.)
namespace ravlin {
namespace {

using text::Utf16Range;
using Key = QNDecorationKey;
using LayerRun = QNDecorationLayer::Run;

const QColor kRed{255, 0, 0};
const QColor kBlue{0, 0, 255};

TEST(DecorationLayerByRange, GivesTheRunsThatMeetTheRangeAndNoOthers) {
    QNDecorationLayer layer;
    layer.add(Key::background, {0, 4}, kRed);
    layer.add(Key::background, {4, 2}, kRed);  // touches the first: one run
    layer.add(Key::background, {10, 5}, kBlue);
    layer.add(Key::background, {20, 3}, kRed);
    layer.add(Key::foreground, {0, 30}, kBlue);  // another key: never in the answer
    const struct {
        Utf16Range range;
        std::vector<LayerRun> expected;
    } cases[] = {
        {{0, 1}, {{Key::background, {0, 6}, kRed}}},
        {{5, 1}, {{Key::background, {0, 6}, kRed}}},  // reached into from before
        {{6, 4}, {}},                                 // the gap between two runs
        {{6, 5}, {{Key::background, {10, 5}, kBlue}}},
        {{14, 7},
         {{Key::background, {10, 5}, kBlue}, {Key::background, {20, 3}, kRed}}},
        {{23, 100}, {}},
        {{0, 0}, {}},
        {{0, 100},
         {{Key::background, {0, 6}, kRed},
          {Key::background, {10, 5}, kBlue},
          {Key::background, {20, 3}, kRed}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(layer.runs(Key::background, c.range), c.expected)
            << c.range.location << "+" << c.range.length;
    }
}

// A view showing `text`, painting `runs` under it, with every paint's region recorded.
class UnderlayTest : public ::testing::Test {
  protected:
    void show(const QString& text) {
        view.resize(320, 160);
        view.setPlainText(text);
        view.setUnderlaySource([this](Utf16Range range) {
            std::vector<QNTextViewCommitAware::Underlay> met;
            for (const auto& run : runs) {
                if (run.range.intersects(range)) {
                    met.push_back(run);
                }
            }
            return met;
        });
        view.viewport()->installEventFilter(&painted);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QApplication::processEvents();
        painted.regions.clear();
    }
    // Where `position` stands in the viewport.
    QRect caretAt(int position) {
        QTextCursor cursor(view.document());
        cursor.setPosition(position);
        return view.cursorRect(cursor);
    }
    QColor colourBetween(int from, int to) {
        const QImage image = view.viewport()->grab().toImage();
        const QRect start = caretAt(from);
        const QRect end = caretAt(to);
        return image.pixelColor((start.center().x() + end.center().x()) / 2, start.center().y());
    }

    struct PaintRecorder : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                regions.push_back(static_cast<QPaintEvent*>(event)->region());
            }
            return false;
        }
        std::vector<QRegion> regions;
    };

    QNTextViewCommitAware view;
    std::vector<QNTextViewCommitAware::Underlay> runs;
    PaintRecorder painted;
};

// Over blanks, so no glyph covers the colour; at the top and, scrolled, at the end of a long
// paragraph.
TEST_F(UnderlayTest, PaintsEachRunUnderTheTextWhereItStands) {
    QString text = QStringLiteral("word");
    for (int i = 0; i < 300; ++i) {
        text += QStringLiteral(" word");
    }
    text += QStringLiteral("           end");
    show(QStringLiteral("a          b ") + text);
    const int top = 2;
    const int bottom = static_cast<int>(view.textLength()) - 12;
    runs = {{{top, 8}, kBlue}, {{bottom, 8}, kRed}};
    view.underlayChanged({0, view.textLength()});
    QApplication::processEvents();
    EXPECT_EQ(colourBetween(top, top + 8), kBlue);
    EXPECT_NE(colourBetween(top + 12, top + 14), kBlue) << "nothing outside the run";

    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QApplication::processEvents();
    EXPECT_EQ(colourBetween(bottom, bottom + 8), kRed);
    ASSERT_EQ(view.underlay().size(), 2u);
}

// A change far outside what shows paints nothing; one that shows repaints its lines only.
TEST_F(UnderlayTest, AChangeRepaintsOnlyTheVisibleLinesItCovers) {
    QString text;
    for (int i = 0; i < 2000; ++i) {
        text += QStringLiteral("word ");
    }
    show(text);
    const QRect line = caretAt(0);

    runs = {{{9000, 4}, kBlue}};
    view.underlayChanged({9000, 4});
    QApplication::processEvents();
    EXPECT_TRUE(painted.regions.empty()) << "far below what shows";

    runs = {{{0, 4}, kBlue}};
    view.underlayChanged({0, 4});
    QApplication::processEvents();
    ASSERT_FALSE(painted.regions.empty());
    const QRect repainted = painted.regions.back().boundingRect();
    EXPECT_TRUE(repainted.contains(QRect(caretAt(0).topLeft(), caretAt(4).bottomLeft())));
    EXPECT_LE(repainted.height(), 2 * line.height()) << "its line, not the view";
}

}  // namespace
}  // namespace ravlin
