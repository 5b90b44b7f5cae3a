#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/composition_session_observable.h"
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
using Status = QNModelCompositionStatus;
using Event = QNModelPrivacyLogEvent;

constexpr auto kDelay = 500ms;

struct ObservableSessionTest : ::testing::Test {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<ManualWorkRunner> worker = std::make_shared<ManualWorkRunner>();
    std::shared_ptr<ScriptedEngine> engine = ScriptedEngine::make();
    std::shared_ptr<RecordingPrivacyLogger> logger = std::make_shared<RecordingPrivacyLogger>();
    std::shared_ptr<QNSessionComposition> model =
        QNSessionComposition::create(engine, logger, kDelay, executor, worker);

    void finishEngineCalls() {
        worker->runAll();
        executor->runUntilIdle();
    }
    void correct(const std::u16string& text) {
        model->setDraftText(text);
        executor->advance(kDelay);
        finishEngineCalls();
    }
    std::vector<std::string> statusLabels() const {
        std::vector<std::string> labels;
        for (const auto& event : logger->events()) {
            if (event.category == QNModelPrivacyLogCategory::status) {
                labels.push_back(event.message);
            }
        }
        return labels;
    }
};

TEST_F(ObservableSessionTest, StatusChangesAreLoggedOnceWithTheirLabels) {
    engine->enqueueResult(ScriptedEngine::corrected(u"teh cat", u"the cat"));
    correct(u"teh cat");
    EXPECT_EQ(logger->events(),
              (std::vector<Event>{{QNModelPrivacyLogCategory::status, "Pausing", 7},
                                  {QNModelPrivacyLogCategory::status, "Correcting", 7},
                                  {QNModelPrivacyLogCategory::correction, "starting", 7},
                                  {QNModelPrivacyLogCategory::status, "Fixed", 7}}));
    EXPECT_TRUE(model->hasCorrectedText());
    EXPECT_EQ(model->preferredText(), u"the cat");

    logger->clear();
    model->clear();
    EXPECT_EQ(statusLabels(), std::vector<std::string>{"Ready"});
    logger->clear();
    model->clear();  // already ready: nothing logged
    EXPECT_TRUE(logger->events().empty());
}

TEST_F(ObservableSessionTest, OutcomesBecomeStatuses) {
    const struct {
        QNModelCorrectionOutcome outcome;
        Status status;
        std::string label;
    } cases[] = {
        {QNModelCorrectionOutcome::skipped("Text too short"), Status::ready(), "Ready"},
        {QNModelCorrectionOutcome::unavailable("No model"),
         Status::modelUnavailable("No model", "Turned off"), "Model unavailable"},
        {QNModelCorrectionOutcome::rejected("Refused"), Status::error("Refused"), "Error"},
        {QNModelCorrectionOutcome::failed("Timed out"), Status::error("Timed out"), "Error"},
        {QNModelCorrectionOutcome::unchanged(), Status::noChanges(), "No changes"},
    };
    for (const auto& c : cases) {
        engine = ScriptedEngine::make();
        logger->clear();
        model = QNSessionComposition::create(engine, logger, kDelay, executor, worker);
        // The engine's availability changes between the start and the answer: the status
        // detail is read afresh, so it and `availability` agree.
        engine->setAvailability({false, "Unavailable", "Turned off"});
        engine->enqueueResult(ScriptedEngine::withOutcome(u"Hello world", c.outcome));
        correct(u"Hello world");
        EXPECT_EQ(model->status(), c.status);
        EXPECT_EQ(statusLabels().back(), c.label);
        EXPECT_EQ(model->correctedText(), u"");
        EXPECT_EQ(model->availability().detail, "Turned off");
    }
}

TEST_F(ObservableSessionTest, AssigningTheSameDraftChangesNothing) {
    int draftChanges = 0;
    const auto watching =
        model->draftTextObservable().observe([&](const std::u16string&) { ++draftChanges; });
    model->setDraftText(u"caf\u00e9 au lait");
    EXPECT_EQ(draftChanges, 1);
    const auto pending = executor->pendingCount();
    logger->clear();
    model->setDraftText(u"cafe\u0301 au lait");  // canonically the same text
    model->setDraftText(u"caf\u00e9 au lait");
    EXPECT_EQ(draftChanges, 1);
    EXPECT_EQ(executor->pendingCount(), pending);
    EXPECT_TRUE(logger->events().empty());
}

TEST_F(ObservableSessionTest, OnlyTheLastDraftOfABurstReachesTheEngineAfterOneFullDelay) {
    model->setDraftText(u"One");
    executor->advance(300ms);
    model->setDraftText(u"One two");
    executor->advance(300ms);
    model->setDraftText(u"One two three");
    executor->advance(kDelay - 1ns);
    EXPECT_EQ(worker->pendingCount(), 0U);
    executor->advance(1ns);
    finishEngineCalls();
    const auto calls = engine->calls();
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].text, u"One two three");
    EXPECT_EQ(calls[0].contextBefore, std::nullopt);  // this model passes no context
}

TEST_F(ObservableSessionTest, ADraftChangeStopsTheCallInFlightAndDropsItsResult) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    model->setDraftText(u"Hello world");
    executor->advance(kDelay);
    model->setDraftText(u"Hello there");
    finishEngineCalls();
    EXPECT_EQ(model->correctedText(), u"");
    EXPECT_EQ(model->latestResult(), std::nullopt);
    EXPECT_EQ(model->status(), Status::pausing());
}

TEST_F(ObservableSessionTest, AResultForADraftChangedAsItsCallStartedIsRejectedAsStale) {
    const auto watching = model->statusObservable().observe([&](const Status& status) {
        if (status == Status::correcting()) {
            model->setDraftText(u"Rewritten");
        }
    });
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    model->setDraftText(u"Hello world");
    executor->advance(kDelay);
    logger->clear();
    finishEngineCalls();
    EXPECT_EQ(
        logger->events(),
        (std::vector<Event>{{QNModelPrivacyLogCategory::correction, "stale result rejected", 11}}));
    EXPECT_EQ(model->correctedText(), u"");
}

TEST_F(ObservableSessionTest, WhitespaceDraftsAreReadyWithoutATask) {
    model->setDraftText(u"Hello world");
    model->setDraftText(u" \n\t ");
    EXPECT_EQ(model->status(), Status::ready());
    EXPECT_FALSE(model->hasDraft());
    executor->advance(kDelay * 2);
    EXPECT_EQ(worker->pendingCount(), 0U);
    EXPECT_EQ(executor->pendingCount(), 0U);
}

TEST_F(ObservableSessionTest, AWhitespaceOutputDoesNotCountAsCorrectedText) {
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"  "));
    correct(u"Hello world");
    EXPECT_EQ(model->status(), Status::fixed());
    EXPECT_EQ(model->correctedText(), u"  ");
    EXPECT_FALSE(model->hasCorrectedText());
    EXPECT_EQ(model->preferredText(), u"Hello world");
}

TEST_F(ObservableSessionTest, TakingTheCorrectedTextAsTheDraftNeedsNoEngineCall) {
    engine->enqueueResult(ScriptedEngine::corrected(u"teh cat", u"the cat"));
    correct(u"teh cat");
    correct(model->correctedText());
    EXPECT_EQ(engine->calls().size(), 1U);
    EXPECT_EQ(model->status(), Status::noChanges());
    correct(u"another text");
    EXPECT_EQ(engine->calls().size(), 2U);
}

TEST_F(ObservableSessionTest, ClearEmptiesTheDraftWithoutScheduling) {
    int draftChanges = 0;
    const auto watching =
        model->draftTextObservable().observe([&](const std::u16string&) { ++draftChanges; });
    model->setDraftText(u"Hello world");
    model->newDraft();
    EXPECT_EQ(draftChanges, 2);
    EXPECT_EQ(model->draftText(), u"");
    EXPECT_EQ(model->status(), Status::ready());
    executor->advance(kDelay * 2);
    EXPECT_TRUE(engine->calls().empty());
}

TEST_F(ObservableSessionTest, AwaitSnapshotEndsWithThePendingWorkOrTheTimeLimit) {
    // The delayed correction finishes first.
    engine->enqueueResult(ScriptedEngine::corrected(u"Hello world", u"Hello, world"));
    model->setDraftText(u"Hello world");
    std::optional<QNModelCompositionSnapshot> snapshot;
    model->awaitSnapshot(2s, [&](const QNModelCompositionSnapshot& s) { snapshot = s; });
    executor->advance(kDelay);
    EXPECT_FALSE(snapshot);  // the engine call is still out
    finishEngineCalls();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->status, Status::fixed());
    EXPECT_EQ(executor->pendingCount(), 0U);  // the time limit was withdrawn

    // Once finished (and still held), the task answers at once.
    snapshot.reset();
    model->awaitSnapshot(2s, [&](const QNModelCompositionSnapshot& s) { snapshot = s; });
    executor->runUntilIdle();
    ASSERT_TRUE(snapshot);

    // The time limit comes first; the work goes on.
    snapshot.reset();
    model->setDraftText(u"Hello again");
    model->awaitSnapshot(100ms, [&](const QNModelCompositionSnapshot& s) { snapshot = s; });
    executor->advance(100ms);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->status, Status::pausing());
    executor->advance(kDelay);
    EXPECT_EQ(model->status(), Status::correcting());

    // Nothing pending at all: answered before the call returns.
    model->clear();
    snapshot.reset();
    model->awaitSnapshot(1s, [&](const QNModelCompositionSnapshot& s) { snapshot = s; });
    EXPECT_TRUE(snapshot);
}

TEST_F(ObservableSessionTest, AWaitEndsWhenADraftChangeCancelsTheAwaitedDelay) {
    model->setDraftText(u"Hello world");
    std::optional<QNModelCompositionSnapshot> snapshot;
    model->awaitSnapshot(2s, [&](const QNModelCompositionSnapshot& s) { snapshot = s; });
    model->setDraftText(u"Hello there");
    executor->runUntilIdle();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->original, u"Hello there");
}

TEST_F(ObservableSessionTest, StartPrewarmsAndObserversHearOnlyRealChanges) {
    std::vector<QNModelAvailabilitySummary> heard;
    const auto watching = model->availabilityObservable().observe(
        [&](const QNModelAvailabilitySummary& summary) { heard.push_back(summary); });
    model->start();
    EXPECT_EQ(engine->prewarmCalls(), 1);
    EXPECT_TRUE(heard.empty());  // same summary as at creation
    engine->setAvailability({false, "Off", "Switched off"});
    model->refreshAvailability();
    model->refreshAvailability();
    ASSERT_EQ(heard.size(), 1U);
    EXPECT_EQ(heard[0].detail, "Switched off");
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

TEST_F(ObservableSessionTest, WithoutAnEngineTheOnDeviceEngineAnswersForItself) {
    auto own = QNSessionComposition::create(nullptr, logger, kDelay, executor, worker);
    EXPECT_FALSE(own->availability().isAvailable);  // no on-device model on this system
    own->setDraftText(u"Hello world");
    executor->advance(kDelay);
    finishEngineCalls();
    EXPECT_EQ(own->status().kind(), Status::Kind::modelUnavailable);
    EXPECT_EQ(own->status().detail(), std::optional(own->availability().detail));
    ASSERT_TRUE(own->latestResult());
    EXPECT_EQ(own->latestResult()->outcome.kind, QNModelCorrectionOutcome::Kind::unavailable);
}

}  // namespace
}  // namespace ravlin
