// The event log: range tests, supersession in the apply paths' calling order, the cap, and the
// rollback of an abandoned stream against a small text view.

#include <gtest/gtest.h>

#include <memory>

#include "app/composer/composer_service.h"

namespace ravlin {
namespace {

using text::Utf16Range;
using Kind = QNCorrectionEventSource::Kind;
using Status = QNCorrectionEventStatus::Kind;

class FakeTextView final : public QNComposerTextView {
  public:
    std::u16string text;
    std::vector<QNPlacementCaret> writes;

    std::u16string string() const override { return text; }
    void setText(std::u16string newText, QNPlacementCaret caret) override {
        text = std::move(newText);
        writes.push_back(caret);
    }
};

QNCorrectionEvent event(Utf16Range range, ConfidenceTier tier, QNCorrectionEventSource source) {
    QNCorrectionEvent e;
    e.id = Uuid::random();
    e.canonicalRange = range;
    e.tier = tier;
    e.source = std::move(source);
    return e;
}
QNCorrectionEvent streamed(Utf16Range range) {
    return event(range, ConfidenceTier::streaming, QNCorrectionEventSource::of(Kind::modelStream));
}
QNCorrectionEvent local(Utf16Range range) {
    return event(range, ConfidenceTier::eager, QNCorrectionEventSource::localRule("teh"));
}

class EventLogTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    QNServiceComposer composer{executor};
};

TEST(Ranges, TouchAndOverlap) {
    struct Case {
        Utf16Range a, b;
        bool touch, overlap;
    };
    for (const auto& c : {
             Case{{3, 0}, {3, 2}, true, true},
             Case{{5, 0}, {3, 2}, true, false},
             Case{{3, 2}, {5, 3}, false, false},
             Case{{3, 3}, {5, 3}, true, true},
             Case{{3, 2}, {4, 0}, true, false},
             Case{{4, 0}, {4, 0}, true, false},
             Case{{4, 0}, {5, 0}, false, false},
             Case{{NSNotFound, 0}, {0, 9}, false, false},
             Case{{-1, 3}, {0, 2}, false, true},
             Case{{1, NSNotFound}, {0, 9}, false, false},
         }) {
        EXPECT_EQ(nsRangesTouch(c.a, c.b), c.touch) << c.a.location << "," << c.a.length;
        EXPECT_EQ(nsRangesOverlap(c.a, c.b), c.overlap) << c.a.location << "," << c.a.length;
    }
}

TEST_F(EventLogTest, LiveEventsTouchingTheNewRangeAreSuperseded) {
    struct Case {
        Utf16Range existing, incoming;
        bool superseded;
    };
    for (const auto& c : {Case{{10, 0}, {10, 0}, true}, Case{{10, 0}, {5, 5}, true},
                          Case{{10, 0}, {11, 3}, false}, Case{{0, 5}, {5, 3}, false},
                          Case{{0, 5}, {5, 0}, true}, Case{{NSNotFound, 0}, {0, 100}, false}}) {
        const auto old = local(c.existing);
        composer.events.set({old});
        const auto id = Uuid::random();
        EXPECT_EQ(composer.supersedeLiveEvents(c.incoming, id).size(), c.superseded ? 1u : 0u);
        EXPECT_EQ(composer.events.get()[0].status, c.superseded
                                                       ? QNCorrectionEventStatus::superseded(id)
                                                       : QNCorrectionEventStatus::live());
    }
}

// Local fix, two streamed partials, the final answer: each apply supersedes, appends, trims.
TEST_F(EventLogTest, ApplyPathsSupersedeInCallingOrder) {
    int notifications = 0;
    auto watch = composer.events.observe([&](const auto&) { ++notifications; });
    const auto fix = composer.recordAppliedEvent(local({0, 3}), false);
    const auto first = composer.recordAppliedEvent(streamed({0, 12}), true);
    EXPECT_TRUE(first.supersedes.empty()) << "partials leave an eager local fix alone";
    const auto second = composer.recordAppliedEvent(streamed({0, 14}), true);
    EXPECT_EQ(second.supersedes, std::vector<Uuid>{first.id});
    auto final = local({0, 14});
    final.source = QNCorrectionEventSource::of(Kind::modelSentencePolish);
    final.tier = ConfidenceTier::tentative;
    const auto answer = composer.recordAppliedEvent(final, false);
    EXPECT_EQ(answer.supersedes, (std::vector<Uuid>{fix.id, second.id}));

    const auto& log = composer.events.get();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].status, QNCorrectionEventStatus::superseded(answer.id));
    EXPECT_EQ(log[1].status, QNCorrectionEventStatus::superseded(second.id));
    EXPECT_EQ(log[2].status, QNCorrectionEventStatus::superseded(answer.id));
    EXPECT_EQ(log[3].status, QNCorrectionEventStatus::live());
    EXPECT_EQ(notifications, 6) << "4 appends, 2 supersessions: one mutation each";
}

TEST_F(EventLogTest, TheLogKeepsTheNewestHundred) {
    std::vector<QNCorrectionEvent> log;
    for (int i = 0; i < 100; ++i) {
        log.push_back(local({i * 10, 1}));
    }
    composer.events.set(log);
    const auto newest = composer.recordAppliedEvent(local({5000, 1}), false);
    ASSERT_EQ(composer.events.get().size(), 100u);
    EXPECT_EQ(composer.events.get().front().id, log[1].id);
    EXPECT_EQ(composer.events.get().back().id, newest.id);
}

TEST_F(EventLogTest, DecisionsLearnTheirSupersedingEventOnce) {
    const auto a = local({0, 3});
    const auto b = local({4, 3});
    QNCorrectionDecision applied;
    applied.appliedEventIDs = {a.id, b.id};
    QNCorrectionDecision other;
    composer.events.set({a, b});
    composer.recentDecisions.set({applied, other});
    const auto id = Uuid::random();
    composer.supersedeLiveEvents({0, 10}, id);
    EXPECT_EQ(composer.recentDecisions.get()[0].supersededByEventIDs, std::vector<Uuid>{id});
    EXPECT_TRUE(composer.recentDecisions.get()[1].supersededByEventIDs.empty());
}

class RollbackTest : public EventLogTest {
  protected:
    void SetUp() override {
        composer.controller = view;
        composer.buffers.reset(u"Hello wrld. Next");
        view->text = u"Hello wrld. Next";
        state = composer.makeStreamApplyState({6, 4});
        ASSERT_TRUE(state);
        EXPECT_EQ(state->originalVisibleReplacement, u"wrld");
        EXPECT_EQ(state->visibleFullPrefix, u"Hello wrld");
        // A partial answer on screen, as the stream's apply leaves it.
        view->text = u"Hello world. Next";
        state->currentReplacement = u"world";
        composer.buffers.applyReplacement({6, 4}, u"world", view->text);
        partial = composer.recordAppliedEvent(streamed({6, 4}), true);
        eager = composer.recordAppliedEvent(local({12, 4}), false);
    }

    std::shared_ptr<FakeTextView> view = std::make_shared<FakeTextView>();
    std::shared_ptr<QNStreamApplyState> state;
    QNCorrectionEvent partial, eager;
};

TEST_F(RollbackTest, RestoresTheOriginalTextAndMarksTheStreamRolledBack) {
    composer.syncTextView(*state);
    EXPECT_EQ(view->text, u"Hello wrld. Next");
    EXPECT_EQ(view->writes, std::vector<QNPlacementCaret>{QNPlacementCaret::visibleEnd});
    EXPECT_EQ(state->currentReplacement, u"wrld");
    EXPECT_EQ(state->visibleFullPrefix, u"Hello wrld");
    EXPECT_EQ(composer.lastLocalVisibleText, view->text);
    EXPECT_EQ(composer.buffers.projection, QNBufferProjection::linear(16, 16));
    EXPECT_EQ(composer.events.get()[0].status.kind, Status::rolledBack);
    EXPECT_EQ(composer.events.get()[1].status.kind, Status::live);
}

TEST_F(RollbackTest, DoesNothingWithoutPartialTextOnScreen) {
    state->currentReplacement = state->originalVisibleReplacement;
    composer.syncTextView(*state);
    EXPECT_TRUE(view->writes.empty());
    EXPECT_EQ(composer.events.get()[0].status.kind, Status::live);
}

TEST_F(RollbackTest, AnUnmappableRangeShowsTheCanonicalText) {
    composer.buffers.recordUserEdit({{2, 14}, u"", QNUserEditKind::deletion, {}});
    view->text = u"Hello world. Next";  // the user's deletion is not on screen yet
    composer.syncTextView(*state);
    EXPECT_EQ(view->text, u"He");
    EXPECT_EQ(composer.buffers.projection, QNBufferProjection::linear(2, 2));
    EXPECT_EQ(state->currentReplacement, u"wrld");
    EXPECT_EQ(composer.events.get()[0].status.kind, Status::rolledBack);
}

TEST_F(EventLogTest, NoStreamStateForARangeOutsideTheViewOrInsideAPair) {
    composer.controller = std::make_shared<FakeTextView>();
    composer.buffers.reset(u"abc");
    EXPECT_FALSE(composer.makeStreamApplyState({0, 2})) << "the view shows nothing";
    auto view = std::make_shared<FakeTextView>();
    view->text = u"a\U0001F600";
    composer.controller = view;
    EXPECT_FALSE(composer.makeStreamApplyState({2, 1}));
    EXPECT_TRUE(composer.makeStreamApplyState({1, 2}));
}

}  // namespace
}  // namespace ravlin
