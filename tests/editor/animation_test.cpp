// The animated correction apply and the prefix wave on an off-screen editor, on virtual time.

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <QTextDocument>

#include "app/editor/controller_auto_correcting_text.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using text::Utf16Range;
using Result = std::shared_ptr<std::optional<QNAnimatedApplyResult>>;

QCoro::Task<> keep(QCoro::Task<QNAnimatedApplyResult> task, Result into) {
    *into = co_await task;
}

class AnimationTest : public ::testing::Test {
  public:
    void SetUp() override {
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(420, 200);
        view->show();
    }
    // Every flow ends before the executor goes.
    void TearDown() override {
        controller.reset();
        executor->advance(10s);
    }
    void seed(std::u16string text, Utf16Range selection) {
        controller->setText(std::move(text), QNPlacementCaret::end);
        view->setSelectedRange(selection);
        executor->runUntilIdle();
    }
    Result apply(std::u16string from, std::u16string to, bool pulses = false,
                 std::stop_token stop = {}) {
        auto result = std::make_shared<std::optional<QNAnimatedApplyResult>>();
        keep(controller->applyCorrectionAnimated(std::move(from), std::move(to), 180, 4, pulses,
                                                 std::move(stop)),
             result);
        return result;
    }
    std::vector<QNDecorationLayer::Run> foreground() const {
        std::vector<QNDecorationLayer::Run> out;
        for (const auto& run : controller->decorations().runs()) {
            if (run.key == QNDecorationKey::foreground) {
                out.push_back(run);
            }
        }
        return out;
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
};

constexpr QNAnimatedApplyResult kApplied{true, 1, 2};
constexpr QNAnimatedApplyResult kRefused{};

TEST_F(AnimationTest, StepsRunLeftToRightAndTheCaretKeepsItsPlace) {
    struct Case {
        const char* name;
        std::u16string tail;
        Utf16Range selection;
        Utf16Range caretAfter;
    };
    // "Helo wrld" -> "Hello world": two insertions, 4 ms apart.
    for (const auto& c : std::vector<Case>{
             {"caret at the visible end", u"\n\n", {9, 0}, {11, 0}},
             {"caret inside the prefix", u" tail", {2, 0}, {2, 0}},
             {"caret after the prefix", u" tail", {12, 0}, {14, 0}},
             {"a selection after the prefix keeps its text", u" tail", {10, 3}, {12, 3}},
             // Over a rewritten word: its ends go to the new word's ends.
             {"a selection over the prefix grows with it", u" tail", {0, 9}, {0, 11}},
             {"a selection from inside a word", u" tail", {6, 6}, {7, 7}},
         }) {
        seed(u"Helo wrld" + c.tail, c.selection);
        const auto result = apply(u"Helo wrld", u"Hello world");
        EXPECT_EQ(controller->string(), u"Hello wrld" + c.tail) << c.name;
        EXPECT_FALSE(result->has_value());
        executor->advance(4ms);
        EXPECT_EQ(*result, kApplied) << c.name;
        EXPECT_EQ(controller->string(), u"Hello world" + c.tail) << c.name;
        EXPECT_EQ(view->selectedRange(), c.caretAfter) << c.name;
        EXPECT_FALSE(view->document()->isUndoAvailable()) << c.name;
    }
}

TEST_F(AnimationTest, WholeReplacementAndRefusals) {
    const std::u16string longer = u"An entirely different sentence written out here.";
    seed(
        u"short words"
        u" tail",
        {16, 0});
    const auto whole = apply(u"short words", longer);
    EXPECT_EQ(*whole,
              (QNAnimatedApplyResult{true, 1, static_cast<std::int64_t>(longer.size()) - 11}));
    EXPECT_EQ(controller->string(), longer + u" tail");
    EXPECT_EQ(view->selectedRange(), (Utf16Range{static_cast<std::int64_t>(longer.size()) + 5, 0}));

    seed(u"abc", {3, 0});
    controller->startFadePulse({0, 1}, controller->fadePulseGeneration(), 60ms, 0.55, 50ms, 220ms);
    EXPECT_EQ(*apply(u"abc", u"abc"), kRefused);
    EXPECT_EQ(controller->fadePulses().size(), 1u) << "equal prefixes leave the pulses";
    EXPECT_EQ(*apply(u"xbc", u"abd"), kRefused) << "not the text's beginning";
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(*apply(u"abc", u"abd", false, stopped.get_token()), kRefused);
    view->setReadOnly(true);
    EXPECT_EQ(*apply(u"abc", u"abd"), kRefused);
    EXPECT_EQ(controller->string(), u"abc");
}

TEST_F(AnimationTest, AnEditInsideThePrefixOrAStopEndsTheRunKeepingItsSteps) {
    seed(u"Helo wrld!", {10, 0});
    auto result = apply(u"Helo wrld", u"Hello world");
    view->setSelectedRange({0, 0});
    QTest::keyClicks(view, "Z");
    executor->advance(10ms);
    EXPECT_EQ(*result, kRefused);
    EXPECT_EQ(controller->string(), u"ZHello wrld!");
    EXPECT_EQ(view->selectedRange(), (Utf16Range{1, 0}));

    seed(u"Helo wrld!", {10, 0});
    std::stop_source stop;
    result = apply(u"Helo wrld", u"Hello world", false, stop.get_token());
    stop.request_stop();
    EXPECT_FALSE(controller->hasPendingContentHeightNotification());
    executor->runUntilIdle();
    EXPECT_EQ(*result, kRefused);
    EXPECT_EQ(controller->string(), u"Hello wrld!");
    EXPECT_EQ(view->selectedRange(), (Utf16Range{11, 0})) << "where the write left it";
}

TEST_F(AnimationTest, TypingAfterThePrefixLetsTheRunGoOnAndKeepsTheUsersCaret) {
    seed(u"Helo wrld", {9, 0});
    const auto result = apply(u"Helo wrld", u"Hello world");
    QTest::keyClicks(view, " a");  // after the prefix, during the pause
    executor->advance(4ms);
    EXPECT_EQ(*result, kApplied);
    EXPECT_EQ(controller->string(), u"Hello world a");
    EXPECT_EQ(view->selectedRange(), (Utf16Range{13, 0})) << "after what the user typed";
    QTest::keyClicks(view, "b");
    EXPECT_EQ(controller->string(), u"Hello world ab");

    seed(u"Helo wrld tail", {14, 0});
    const auto moved = apply(u"Helo wrld", u"Hello world");
    view->setSelectedRange({12, 0});  // the user clicks elsewhere
    executor->advance(4ms);
    EXPECT_EQ(*moved, kApplied);
    EXPECT_EQ(view->selectedRange(), (Utf16Range{13, 0})) << "shifted by the later step only";
}

// The person holds a selection while a correction lands: it stays on its text, made backwards or
// forwards, through the steps or a whole replacement; a mouse still dragging it drags on from
// where its anchor now stands.
TEST_F(AnimationTest, ASelectionStaysOnItsTextThroughTheWrites) {
    seed(u"Helo wrld. Next.", {0, 0});
    view->setSelectionEnds({16, 0});  // made backwards, from the end
    const auto stepped = apply(u"Helo wrld.", u"Hello world.");
    executor->advance(4ms);
    EXPECT_EQ(*stepped, kApplied);
    EXPECT_EQ(view->selectionEnds(), (editor::SelectionEnds{18, 0}));

    const std::u16string longer = u"An entirely different sentence written out here.";
    seed(u"short words. Next.", {0, 0});
    view->setSelectionEnds({13, 18});
    ASSERT_TRUE(apply(u"short words.", longer)->has_value());
    EXPECT_EQ(controller->string(), longer + u" Next.");
    const auto shift = static_cast<std::int64_t>(longer.size()) - 12;
    EXPECT_EQ(view->selectionEnds(), (editor::SelectionEnds{13 + shift, 18 + shift}));

    seed(u"Helo wrld tail end", {0, 0});
    const auto at = [&](int position) {
        QTextCursor cursor(view->document());
        cursor.setPosition(position);
        return view->cursorRect(cursor).center();
    };
    const auto dragged = apply(u"Helo wrld", u"Hello world");  // the first step is written
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(11));
    QTest::mouseMove(view->viewport(), at(14));
    executor->advance(4ms);  // the second step lands mid-drag
    EXPECT_EQ(*dragged, kApplied);
    QTest::mouseMove(view->viewport(), at(20));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(20));
    EXPECT_EQ(controller->string(), u"Hello world tail end");
    EXPECT_EQ(view->selectionEnds(), (editor::SelectionEnds{12, 20}));
}

TEST_F(AnimationTest, PulsesOnlyOverWrittenNewText) {
    seed(u"abcd", {4, 0});
    const auto result = apply(u"abcd", u"xbc", true);  // substitute "a", then delete "d"
    executor->advance(4ms);
    EXPECT_EQ(*result, (QNAnimatedApplyResult{true, 1, -1}));
    ASSERT_EQ(controller->fadePulses().size(), 1u);
    EXPECT_EQ(controller->fadePulses().begin()->second.activeRange, (Utf16Range{0, 1}));
}

TEST_F(AnimationTest, ARunOutlivingItsControllerTouchesNothing) {
    seed(u"Helo wrld", {9, 0});
    const auto result = apply(u"Helo wrld", u"Hello world");
    controller.reset();
    executor->advance(1s);
    EXPECT_EQ(*result, kRefused);
}

TEST_F(AnimationTest, WaveFadesInRunsAndFadesOutLeavingNoColour) {
    seed(u"hello world, this is a longer line of text", {0, 0});
    controller->startPrefixWave(30);
    EXPECT_TRUE(foreground().empty()) << "the wave starts on a later turn";
    executor->runUntilIdle();
    ASSERT_EQ(foreground().size(), 1u) << "the first frame draws no bands";
    EXPECT_EQ(foreground()[0].range, (Utf16Range{0, 30}));
    EXPECT_FLOAT_EQ(foreground()[0].color.alphaF(), 1.0f);

    QPalette palette = view->palette();
    palette.setColor(QPalette::Text, Qt::white);
    view->setPalette(palette);
    executor->advance(5 * 33ms);  // full intensity
    EXPECT_GT(foreground().size(), 1u);
    EXPECT_EQ(foreground().back().color, QColor::fromRgbF(1, 1, 1, 0.5f)) << "dimmed text";
    EXPECT_EQ(controller->prefixWaveRenderedRange(), (Utf16Range{0, 30}));

    controller->stopPrefixWave(false);
    executor->advance(219ms);
    EXPECT_FALSE(controller->prefixWaveFadingOut());
    executor->advance(1ms);
    EXPECT_TRUE(controller->prefixWaveFadingOut());
    executor->advance(8 * 33ms);
    EXPECT_FALSE(controller->hasPrefixWaveTask());
    EXPECT_TRUE(foreground().empty());
    EXPECT_EQ(controller->prefixWaveSnapshotLength(), 0);
}

TEST_F(AnimationTest, WaveRestartsKeepItRunning) {
    seed(u"hello world", {0, 0});
    controller->startPrefixWave(5);
    const auto generation = controller->prefixWaveGeneration();
    controller->startPrefixWave(50);  // beyond the text: covers all of it
    EXPECT_EQ(controller->prefixWaveGeneration(), generation) << "one task";
    executor->advance(6 * 33ms);
    EXPECT_EQ(controller->prefixWaveRenderedRange(), (Utf16Range{0, 11}));

    controller->stopPrefixWave(false);
    executor->advance(100ms);
    controller->startPrefixWave(11);  // within the grace period
    EXPECT_FALSE(controller->hasPrefixWaveStopTask());
    executor->advance(500ms);
    EXPECT_FALSE(controller->prefixWaveFadingOut());

    controller->stopPrefixWave(false);
    executor->advance(220ms + 3 * 33ms);  // fading out
    ASSERT_TRUE(controller->prefixWaveFadingOut());
    controller->startPrefixWave(11);
    executor->advance(33ms);
    EXPECT_TRUE(controller->hasPrefixWaveTask());
    bool dimmed = false;
    for (const auto& run : foreground()) {
        dimmed = dimmed || std::abs(run.color.alphaF() - 0.5f) < 0.01f;
    }
    EXPECT_TRUE(dimmed) << "back to full intensity at once";

    controller->startPrefixWave(0);
    EXPECT_FALSE(controller->hasPrefixWaveTask());
    EXPECT_TRUE(foreground().empty());
    controller->stopPrefixWave(false);  // no wave: cleared at once
    EXPECT_EQ(controller->prefixWaveSnapshotLength(), 0);
}

TEST_F(AnimationTest, AnImmediateStopWithAFramePendingDrawsNothingMore) {
    seed(u"hello world", {0, 0});
    controller->startPrefixWave(11);
    executor->advance(3 * 33ms);
    ASSERT_FALSE(foreground().empty());
    controller->stopPrefixWave(true);
    EXPECT_TRUE(foreground().empty());
    EXPECT_TRUE(view->extraSelections().isEmpty());
    executor->advance(1s);
    EXPECT_TRUE(foreground().empty());
    EXPECT_EQ(executor->pendingCount(), 0u);
}

TEST_F(AnimationTest, ALongTextDrawsAWindowAroundWhatIsVisible) {
    std::u16string text;
    while (text.size() < 5000) {
        text += u"line of words number " + std::u16string(1, u'a' + text.size() % 26) + u"\n";
    }
    seed(text, {0, 0});
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    const auto visible = controller->prefixWaveVisibleCharacterRange();
    ASSERT_TRUE(visible.has_value());
    EXPECT_GT(visible->location, 1000);
    controller->startPrefixWave(static_cast<std::int64_t>(text.size()));
    executor->advance(6 * 33ms);
    const auto window = controller->prefixWaveRenderedRange();
    ASSERT_TRUE(window.has_value());
    EXPECT_LE(window->length, 1400);
    EXPECT_LE(window->location, visible->location);
    EXPECT_GE(window->end(), visible->end());
    for (const auto& run : foreground()) {
        EXPECT_TRUE(run.range.location >= window->location && run.range.end() <= window->end());
    }
    controller->stopPrefixWave(true);
    EXPECT_TRUE(foreground().empty());
}

TEST_F(AnimationTest, AWaveOutlivingItsControllerEnds) {
    seed(u"hello world", {0, 0});
    controller->startPrefixWave(11);
    controller->stopPrefixWave(false);
    executor->advance(2 * 33ms);
    controller.reset();
    executor->advance(1s);
    EXPECT_EQ(executor->pendingCount(), 0u);
}

}  // namespace
}  // namespace ravlin
