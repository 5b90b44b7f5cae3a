#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/composition_session_owned.h"
#include "core/support/executor.h"
#include "tests/support/manual_work_runner.h"
#include "tests/support/recording_privacy_logger.h"
#include "tests/support/scripted_engine.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::ManualWorkRunner;
using testing::RecordingPrivacyLogger;
using testing::ScriptedEngine;
using Trigger = QNOwnedCompositionCorrectionTrigger;
using Status = QNModelCompositionStatus;

constexpr auto kIdleDelay = 1000ms;
constexpr auto kBoundaryDelay = 250ms;

// A session on virtual time: engine calls wait in `worker` until the test runs them, and their
// results wait on `executor` until the test runs that.
struct OwnedSessionTest : ::testing::Test {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<ManualWorkRunner> worker = std::make_shared<ManualWorkRunner>();
    std::shared_ptr<ScriptedEngine> engine = ScriptedEngine::make();
    std::shared_ptr<RecordingPrivacyLogger> logger = std::make_shared<RecordingPrivacyLogger>();
    std::vector<QNModelCompositionSnapshot> changes;
    std::vector<Trigger> engineTriggers;
    std::function<bool(const Trigger&)> shouldRun = [](const Trigger&) { return true; };
    std::function<QNOwnedCompositionLocalCorrectionResult(const std::u16string&)> local =
        [](const std::u16string& text) {
            return QNOwnedCompositionLocalCorrectionResult::unchanged(text);
        };
    std::function<void(const QNModelCompositionSnapshot&)> onChangeHook;
    std::optional<std::u16string> context;
    std::shared_ptr<QNOwnedCompositionSession> session;

    void SetUp() override { session = makeSession(); }

    // Everything new, for the next case of a table.
    void fresh() {
        session.reset();
        executor = std::make_shared<ManualExecutor>();
        worker = std::make_shared<ManualWorkRunner>();
        engine = ScriptedEngine::make();
        logger = std::make_shared<RecordingPrivacyLogger>();
        changes.clear();
        engineTriggers.clear();
        session = makeSession();
    }

    std::shared_ptr<QNOwnedCompositionSession> makeSession() {
        return QNOwnedCompositionSession::create(
            engine,
            [this](const Trigger& trigger) {
                engineTriggers.push_back(trigger);
                return engine;
            },
            [this](const Trigger& trigger) { return shouldRun(trigger); }, logger,
            [this](const std::u16string& text) { return local(text); }, [this] { return context; },
            QNOwnedCompositionSession::executorSleep(executor), kIdleDelay, kBoundaryDelay,
            [this](const QNModelCompositionSnapshot& snapshot) {
                changes.push_back(snapshot);
                if (onChangeHook) {
                    onChangeHook(snapshot);
                }
            },
            executor, worker);
    }

    // Runs the engine calls started so far and applies their results.
    void finishEngineCalls() {
        worker->runAll();
        executor->runUntilIdle();
    }

    // Replaces the draft and lets its correction run to the end.
    void correct(const std::u16string& text) {
        session->replaceDraft(text);
        executor->advance(kIdleDelay);
        finishEngineCalls();
    }

    std::vector<QNModelPrivacyLogEvent> correctionEvents() const {
        std::vector<QNModelPrivacyLogEvent> events;
        for (const auto& event : logger->events()) {
            if (event.category == QNModelPrivacyLogCategory::correction) {
                events.push_back(event);
            }
        }
        return events;
    }
};

TEST(OwnedCompositionTrigger, ReadsTheEndOfTheDraft) {
    const auto terminator = Trigger::boundary(QNBoundaryEvent::terminator);
    const auto soft = Trigger::boundary(QNBoundaryEvent::softPunctuation);
    const auto paragraph = Trigger::boundary(QNBoundaryEvent::paragraph);
    const struct {
        std::u16string text;
        Trigger expected;
    } cases[] = {
        {u"Hello world.", terminator},    // 11 characters before the mark
        {u"0123456789.", terminator},     // exactly 10 are enough
        {u"Hello wo.", Trigger::idle()},  // 8 are not
        {u"Hello world!", terminator},
        {u"Hello world?  ", terminator},
        {u"Hello world,   ", soft},
        {u"Hello world;", soft},
        {u"Hello world", Trigger::idle()},
        {u"Hello world:", Trigger::idle()},
        {u"ab\n", paragraph},  // a line break wins whatever the length
        {u"ab\r\n", paragraph},
        {u"ab \r", paragraph},
        {u"Hello world.\u2028", terminator},  // a line separator is not a line feed
        {u"Hello world.\u00a0", terminator},  // no-break space is whitespace
        {u"   ", Trigger::idle()},
        {u"", Trigger::idle()},
        // Nine characters of two code units each: counted as characters, not units.
        {u"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301.", Trigger::idle()},
        // A full stop carrying an accent is another character.
        {u"Hello world.\u0301", Trigger::idle()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QNOwnedCompositionSession::correctionTrigger(c.text), c.expected)
            << "for a draft of " << c.text.size() << " units";
    }
    EXPECT_FALSE(Trigger::boundary(QNBoundaryEvent::terminator) == soft);
    EXPECT_FALSE(Trigger::idle() == Trigger::commit());
}

TEST_F(OwnedSessionTest, BoundaryAndIdleDraftsWaitTheirOwnDelay) {
    const struct {
        std::u16string text;
        std::chrono::nanoseconds delay;
        Trigger trigger;
    } cases[] = {
        {u"Hello world.", kBoundaryDelay, Trigger::boundary(QNBoundaryEvent::terminator)},
        {u"ab\n", kBoundaryDelay, Trigger::boundary(QNBoundaryEvent::paragraph)},
        {u"Hello wo.", kIdleDelay, Trigger::idle()},
        {u"Hello world", kIdleDelay, Trigger::idle()},
    };
    for (const auto& c : cases) {
        fresh();
        session->replaceDraft(c.text);
        EXPECT_EQ(session->status(), Status::pausing());
        executor->advance(c.delay - 1ns);
        EXPECT_EQ(worker->pendingCount(), 0U);
        EXPECT_EQ(session->status(), Status::pausing());
        executor->advance(1ns);
        EXPECT_EQ(worker->pendingCount(), 1U);
        EXPECT_EQ(session->status(), Status::correcting());
        ASSERT_EQ(engineTriggers.size(), 1U);
        EXPECT_EQ(engineTriggers.back(), c.trigger);
    }
}

TEST_F(OwnedSessionTest, ASecondEditWithinTheDelaySupersedesTheFirst) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Second draft.", u"Second draft!"));
    session->replaceDraft(u"First draft here.");
    executor->advance(200ms);
    session->replaceDraft(u"Second draft.");
    executor->advance(kBoundaryDelay - 1ns);  // the first delay is long over
    EXPECT_EQ(worker->pendingCount(), 0U);
    executor->advance(1ns);
    finishEngineCalls();

    const auto calls = engine->calls();
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].text, u"Second draft.");
    EXPECT_EQ(session->status(), Status::fixed());
    EXPECT_EQ(session->correctedText(), u"Second draft!");
    EXPECT_EQ(session->preferredText(), u"Second draft!");
    EXPECT_EQ(correctionEvents(), (std::vector<QNModelPrivacyLogEvent>{
                                      {QNModelPrivacyLogCategory::correction, "starting", 13}}));
}

TEST_F(OwnedSessionTest, EachReplacementReportsTwiceAndPassesTheContext) {
    context = u"Earlier text.";
    session->replaceDraft(u"Hello world");
    ASSERT_EQ(changes.size(), 2U);  // the status change, then the replacement itself
    EXPECT_EQ(changes[0].status, Status::pausing());
    EXPECT_EQ(changes[1], (QNModelCompositionSnapshot{u"Hello world", u"", Status::pausing()}));

    executor->advance(kIdleDelay);
    finishEngineCalls();
    const auto calls = engine->calls();
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].contextBefore,
              std::optional(std::optional<std::u16string>(u"Earlier text.")));
}

TEST_F(OwnedSessionTest, OutcomesBecomeStatusesAndTheCache) {
    const struct {
        QNModelCorrectionResult result;
        Status status;
        std::u16string corrected;
    } cases[] = {
        {ScriptedEngine::withOutcome(u"Hello world",
                                     QNModelCorrectionOutcome::skipped("Text too short")),
         Status::ready(), u""},
        {ScriptedEngine::withOutcome(u"Hello world",
                                     QNModelCorrectionOutcome::unavailable("No model")),
         Status::modelUnavailable("No model", "Apple Intelligence is off"), u""},
        {ScriptedEngine::withOutcome(u"Hello world", QNModelCorrectionOutcome::rejected("Refused")),
         Status::error("Refused"), u""},
        {ScriptedEngine::withOutcome(u"Hello world", QNModelCorrectionOutcome::failed("Timed out")),
         Status::error("Timed out"), u""},
        {ScriptedEngine::unchanged(u"Hello world"), Status::noChanges(), u""},
        {ScriptedEngine::corrected(u"Hello world", u"Hello, world"), Status::fixed(),
         u"Hello, world"},
    };
    for (const auto& c : cases) {
        fresh();
        engine->setAvailability({false, "Model Unavailable", "Apple Intelligence is off"});
        engine->enqueueResult(c.result);
        correct(u"Hello world");
        EXPECT_EQ(session->status(), c.status) << session->status().label();
        EXPECT_EQ(session->correctedText(), c.corrected);
        EXPECT_EQ(session->latestResult(), std::optional(c.result));
        EXPECT_EQ(session->status().detail(), c.status.detail());
    }
}

TEST_F(OwnedSessionTest, AnOrdinaryReplacementDiscardsTheOldResultSilently) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    session->replaceDraft(u"Hello world");
    executor->advance(kIdleDelay);  // the engine call is now in flight
    session->replaceDraft(u"Something else");
    finishEngineCalls();

    EXPECT_EQ(session->correctedText(), u"");
    EXPECT_EQ(session->latestResult(), std::nullopt);
    EXPECT_EQ(session->status(), Status::pausing());
    EXPECT_EQ(correctionEvents().size(), 1U);  // "starting" only
}

TEST_F(OwnedSessionTest, AResultForADraftReplacedWhileItsCallStartedIsRejectedAsStale) {
    // An owner that rewrites the draft when it sees the correction begin.
    bool rewritten = false;
    onChangeHook = [&](const QNModelCompositionSnapshot& snapshot) {
        if (!rewritten && snapshot.status == Status::correcting()) {
            rewritten = true;
            session->replaceDraft(u"Rewritten");
        }
    };
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    session->replaceDraft(u"Hello world");
    executor->advance(kIdleDelay);
    finishEngineCalls();

    EXPECT_EQ(session->draftText(), u"Rewritten");
    EXPECT_EQ(session->correctedText(), u"");
    EXPECT_EQ(session->latestResult(), std::nullopt);
    EXPECT_EQ(correctionEvents(),
              (std::vector<QNModelPrivacyLogEvent>{
                  {QNModelPrivacyLogCategory::correction, "starting", 11},
                  {QNModelPrivacyLogCategory::correction, "stale result rejected", 11}}));
    // The stale call no longer counts as in flight: a commit now corrects the new draft.
    bool done = false;
    session->awaitCommitSnapshot(1s, false,
                                 [&](const QNModelCompositionSnapshot&) { done = true; });
    executor->runUntilIdle();
    finishEngineCalls();
    executor->advance(QNOwnedCompositionSession::kSnapshotPollInterval);
    EXPECT_TRUE(done);
    EXPECT_EQ(engine->calls().back().text, u"Rewritten");
}

TEST_F(OwnedSessionTest, BlankDraftsSetReadyWithoutScheduling) {
    for (const std::u16string text : {u"", u"   ", u" \t "}) {
        fresh();
        session->replaceDraft(u"Hello world");
        session->replaceDraft(text);
        EXPECT_EQ(session->status(), Status::ready());
        executor->advance(kIdleDelay * 2);
        EXPECT_EQ(worker->pendingCount(), 0U);
        bool done = false;
        session->awaitCommitSnapshot(1s, false, [&](const QNModelCompositionSnapshot& snapshot) {
            done = true;
            EXPECT_EQ(snapshot.status, Status::ready());
        });
        EXPECT_TRUE(done);  // nothing pending: answered at once
        EXPECT_TRUE(engine->calls().empty());
    }
}

TEST_F(OwnedSessionTest, LocalFixesBecomeTheDraftAndAChangeDropsTheCache) {
    bool flagEveryText = false;
    local = [&](const std::u16string& text) {
        if (text == u"teh cat sat") {
            return QNOwnedCompositionLocalCorrectionResult::changed(u"the cat sat");
        }
        return flagEveryText ? QNOwnedCompositionLocalCorrectionResult::changed(text)
                             : QNOwnedCompositionLocalCorrectionResult::unchanged(text);
    };
    correct(u"teh cat sat");
    EXPECT_EQ(session->draftText(), u"the cat sat");
    EXPECT_EQ(engine->calls().back().text, u"the cat sat");
    ASSERT_EQ(session->status(), Status::noChanges());  // cached

    // The same text again, but the local fixes report a change: the cache goes.
    flagEveryText = true;
    correct(u"the cat sat");
    EXPECT_EQ(engine->calls().size(), 2U);
}

TEST_F(OwnedSessionTest, TheSameTextKeepsTheCacheAndACorrectedOutputIsTheCachedSource) {
    correct(u"Hello world");
    ASSERT_EQ(session->status(), Status::noChanges());
    changes.clear();
    correct(u"Hello world");  // same text: cache hit, no engine call
    EXPECT_EQ(engine->calls().size(), 1U);
    EXPECT_EQ(session->status(), Status::noChanges());
    EXPECT_FALSE(changes.empty());

    fresh();
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    correct(u"Hello world");
    ASSERT_EQ(session->status(), Status::fixed());
    // The cache names the output; replacing the draft with it is a change of text, so the
    // engine is asked again.
    correct(u"Hello, world");
    EXPECT_EQ(engine->calls().size(), 2U);
}

TEST_F(OwnedSessionTest, ShouldRunCorrectionDecidesPerTrigger) {
    shouldRun = [](const Trigger& trigger) { return trigger.kind() != Trigger::Kind::idle; };
    session->replaceDraft(u"Hello world");
    EXPECT_EQ(session->status(), Status::ready());
    EXPECT_EQ(executor->pendingCount(), 0U);

    // A refused commit keeps an earlier corrected text and sets ready.
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world.", u"Hello, world."));
    session->replaceDraft(u"Hello world.");
    executor->advance(kBoundaryDelay);
    finishEngineCalls();
    ASSERT_EQ(session->correctedText(), u"Hello, world.");
    shouldRun = [](const Trigger& trigger) { return trigger.kind() != Trigger::Kind::commit; };
    std::optional<QNModelCompositionSnapshot> committed;
    session->awaitCommitSnapshot(1s, false,
                                 [&](const QNModelCompositionSnapshot& s) { committed = s; });
    ASSERT_TRUE(committed);
    EXPECT_EQ(*committed,
              (QNModelCompositionSnapshot{u"Hello world.", u"Hello, world.", Status::ready()}));
}

TEST_F(OwnedSessionTest, CommitCorrectsAtOnceAndWaitsForTheResult) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    session->replaceDraft(u"Hello world");
    std::optional<QNModelCompositionSnapshot> committed;
    session->awaitCommitSnapshot(1s, false,
                                 [&](const QNModelCompositionSnapshot& s) { committed = s; });
    EXPECT_EQ(session->status(), Status::correcting());
    executor->runUntilIdle();  // the commit run starts its engine call
    EXPECT_EQ(engineTriggers.back(), Trigger::commit());
    worker->runAll();
    executor->advance(10ms);  // the next look at the pending work
    ASSERT_TRUE(committed);
    EXPECT_EQ(committed->status, Status::fixed());
    EXPECT_EQ(committed->preferredText(), u"Hello, world");
    // The delayed correction was cancelled: nothing more reaches the engine.
    executor->advance(kIdleDelay * 2);
    EXPECT_EQ(engine->calls().size(), 1U);
}

TEST_F(OwnedSessionTest, TheCommitWaitIsBounded) {
    for (const bool cancelOnTimeout : {false, true}) {
        fresh();
        session->replaceDraft(u"Hello world");
        std::optional<QNModelCompositionSnapshot> committed;
        Instant answeredAt{};
        const auto askedAt = executor->now();
        session->awaitCommitSnapshot(100ms, cancelOnTimeout,
                                     [&](const QNModelCompositionSnapshot& s) {
                                         committed = s;
                                         answeredAt = executor->now();
                                     });
        executor->advance(99ms);  // the engine call never comes back meanwhile
        EXPECT_FALSE(committed);
        executor->advance(1ms);
        ASSERT_TRUE(committed);
        EXPECT_EQ(answeredAt - askedAt, 100ms);
        EXPECT_EQ(committed->status, cancelOnTimeout ? Status::ready() : Status::correcting());

        // A late result is applied only when the work was left running.
        engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
        finishEngineCalls();
        EXPECT_EQ(session->status(), cancelOnTimeout ? Status::ready() : Status::fixed());
    }
}

TEST_F(OwnedSessionTest, ACommitDuringADelayedCallWaitsForThatCallAndAppliesIt) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    session->replaceDraft(u"Hello world");
    executor->advance(kIdleDelay);  // the delayed correction's call is in flight
    std::optional<QNModelCompositionSnapshot> committed;
    session->awaitCommitSnapshot(1s, false,
                                 [&](const QNModelCompositionSnapshot& s) { committed = s; });
    executor->advance(50ms);
    EXPECT_FALSE(committed);
    finishEngineCalls();
    executor->advance(10ms);
    ASSERT_TRUE(committed);
    EXPECT_EQ(committed->status, Status::fixed());
    EXPECT_EQ(engine->calls().size(), 1U);
    // Nothing is left marked as running: the next commit starts a call of its own.
    session->replaceDraft(u"Hello again");
    session->awaitCommitSnapshot(1s, false, [](const QNModelCompositionSnapshot&) {});
    executor->runUntilIdle();
    EXPECT_EQ(worker->pendingCount(), 1U);
}

TEST_F(OwnedSessionTest, ResetKeepsTheCorrectedTextAsTheDraft) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    correct(u"Hello world");
    changes.clear();
    session->resetCorrectionState();
    EXPECT_EQ(session->snapshot(),
              (QNModelCompositionSnapshot{u"Hello, world", u"", Status::ready()}));
    EXPECT_EQ(session->latestResult(), std::nullopt);
    ASSERT_EQ(changes.size(), 1U);
    EXPECT_EQ(changes[0].original, u"Hello, world");

    session->clear();
    EXPECT_EQ(session->snapshot(), (QNModelCompositionSnapshot{u"", u"", Status::ready()}));
}

TEST_F(OwnedSessionTest, StartReadsTheIdleEngineAndPrewarmsIt) {
    auto idleEngine = ScriptedEngine::make();
    idleEngine->setAvailability({false, "Off", "Idle engine detail"});
    engine->setAvailability({true, "Ready", "Default engine detail"});
    auto owned = QNOwnedCompositionSession::create(
        engine, [&](const Trigger&) { return idleEngine; }, nullptr, logger, nullptr, nullptr,
        QNOwnedCompositionSession::executorSleep(executor), kIdleDelay, kBoundaryDelay,
        [&](const QNModelCompositionSnapshot& s) { changes.push_back(s); }, executor, worker);
    EXPECT_EQ(owned->availability().detail, "Default engine detail");
    EXPECT_TRUE(changes.empty());
    owned->refreshAvailability();
    EXPECT_EQ(owned->availability().detail, "Idle engine detail");
    EXPECT_EQ(idleEngine->prewarmCalls(), 0);
    owned->start();
    EXPECT_EQ(idleEngine->prewarmCalls(), 1);
    EXPECT_EQ(changes.size(), 2U);
}

TEST_F(OwnedSessionTest, ASessionItsOwnerDropsDoesNothingMore) {
    session->replaceDraft(u"Hello world");
    std::weak_ptr<QNOwnedCompositionSession> weak = session;
    session.reset();
    EXPECT_TRUE(weak.expired());
    executor->advance(kIdleDelay * 2);
    EXPECT_EQ(worker->pendingCount(), 0U);
    EXPECT_TRUE(engine->calls().empty());
}

TEST_F(OwnedSessionTest, AnEngineCallOnAWorkerThreadHandsItsResultBackThroughTheExecutor) {
    engine->setBlocksUntilReleased(true);
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    auto threaded = QNOwnedCompositionSession::create(
        engine, nullptr, nullptr, logger, nullptr, nullptr,
        QNOwnedCompositionSession::executorSleep(executor), kIdleDelay, kBoundaryDelay, nullptr,
        executor, std::make_shared<ThreadWorkRunner>());
    threaded->replaceDraft(u"Hello world");
    executor->advance(kIdleDelay);
    ASSERT_TRUE(engine->waitForCalls(1));
    EXPECT_EQ(threaded->status(), Status::correcting());
    engine->release();
    ASSERT_TRUE(executor->waitForPostedWork());
    EXPECT_EQ(threaded->status(), Status::fixed());
    EXPECT_EQ(threaded->correctedText(), u"Hello, world");

    // A call in flight when the draft changes is stopped, and its answer is discarded.
    engine->setBlocksUntilReleased(true);
    threaded->replaceDraft(u"Another draft");
    executor->advance(kIdleDelay);
    ASSERT_TRUE(engine->waitForCalls(2));
    threaded->clear();
    ASSERT_TRUE(executor->waitForPostedWork());
    EXPECT_EQ(engine->stoppedCalls(), 1);
    EXPECT_EQ(threaded->snapshot(), (QNModelCompositionSnapshot{u"", u"", Status::ready()}));
}

}  // namespace
}  // namespace ravlin
