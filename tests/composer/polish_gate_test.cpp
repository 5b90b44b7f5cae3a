// The sentence-polish gate: the job it builds, each skip with its log line, and the debounce.

#include <gtest/gtest.h>

#include "app/composer/composer_service.h"
#include "app/preferences/defaults.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using B = QNBoundaryEvent;

class PolishGate : public ::testing::Test {
  public:
    void SetUp() override {
        log->startCapturing();
        composer.sessionLog = log;
        composer.setLogSessionID("s007");
    }
    // Flows still waiting end before the executor goes.
    void TearDown() override {
        if (composer.pendingDispatchTask) {
            composer.pendingDispatchTask->cancel();
        }
        executor->runUntilIdle();
    }
    void seed(std::u16string text) {
        composer.buffers.reset(std::move(text));
        composer.dirtySpan =
            QNDirtySpan{{0, static_cast<std::int64_t>(composer.buffers.canonicalText.size())},
                        1,
                        executor->now()};
    }
    // The pending dispatch goes without going out.
    void dropPending() {
        ASSERT_TRUE(composer.pendingDispatchTask);
        composer.pendingDispatchTask->cancel();
        composer.pendingDispatchTask.reset();
        composer.pendingCorrectionJob.reset();
        executor->runUntilIdle();
    }
    [[nodiscard]] std::string lastLine() const {
        return log->entries().empty() ? std::string() : log->entries().back().message;
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNLoggerEvent> log =
        std::make_shared<QNLoggerEvent>(std::make_shared<MemoryDefaults>());
    QNServiceComposer composer{executor};
};

struct JobCase {
    std::u16string sealed;
    std::u16string canonical;
    B boundary;
    std::u16string context;
    std::u16string target;
};

class PolishJob : public PolishGate, public ::testing::WithParamInterface<JobCase> {};

TEST_P(PolishJob, RunsFromTheKnownPrefixToTheLastSentenceEnd) {
    composer.sealedContextPrefix = GetParam().sealed;
    seed(GetParam().canonical);
    const auto job = composer.sentencePolishJob(GetParam().boundary);
    EXPECT_EQ(job.contextPrefix, GetParam().context);
    EXPECT_EQ(job.targetPrefix, GetParam().target);
    EXPECT_EQ(job.targetRange.location, static_cast<std::int64_t>(GetParam().context.size()));
    EXPECT_EQ(job.targetRange.length, static_cast<std::int64_t>(GetParam().target.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PolishJob,
    ::testing::Values(JobCase{u"", u"One. Two three", B::terminator, u"", u"One."},
                      JobCase{u"One. ", u"One. Two. Thr", B::terminator, u"One. ", u"Two."},
                      JobCase{u"One. ", u"One. Two\nThr", B::paragraph, u"One. ", u"Two\n"},
                      JobCase{u"One. ", u"One. Two thr", B::idle, u"One. ", u"Two thr"},
                      JobCase{u"Elsewhere. ", u"One. Two", B::commit, u"", u"One. Two"}));

TEST_F(PolishGate, DispatchWaitsForTheDebounceAndCommitStartsAtOnce) {
    std::vector<std::string> routes;
    composer.polishRerouting = [&](std::int64_t characters) {
        routes.push_back(std::to_string(characters));
        return std::string("correction_route intent=polish");
    };
    seed(u"Héllo there");
    composer.maybeDispatchSentencePolish(B::idle);
    EXPECT_EQ(routes, std::vector<std::string>{"11"});
    EXPECT_TRUE(composer.pendingDispatchTask);
    executor->advance(119ms);
    EXPECT_TRUE(composer.followUps.startedRuns.empty());
    executor->advance(1ms);
    ASSERT_EQ(composer.followUps.startedRuns.size(), 1u);
    EXPECT_FALSE(composer.pendingDispatchTask);

    composer.maybeDispatchSentencePolish(B::commit);
    EXPECT_EQ(composer.followUps.startedRuns.size(), 2u);
    EXPECT_EQ(composer.sentencePolishCount(), 2);
    EXPECT_NE(lastLine().find("sid=s007 state=scheduled boundary=commit input_len=11"),
              std::string::npos)
        << lastLine();
}

TEST_F(PolishGate, BlankTargetIsSkippedAndLeavesStatusIdle) {
    composer.status.set(QNStateComposer::waitingForPause());
    seed(u"Done.   ");
    composer.sealedContextPrefix = u"Done.";
    composer.maybeDispatchSentencePolish(B::idle);
    EXPECT_EQ(composer.status.get(), QNStateComposer::idle());
    EXPECT_EQ(lastLine().rfind("sid=s007 state=skipped reason=blank-target", 0), 0u) << lastLine();
    EXPECT_FALSE(composer.pendingDispatchTask);
}

// A request refused or failed a moment ago is not made again, at a pause or at Return, unless
// its text or context changed.
TEST_F(PolishGate, RefusedOrFailedRequestIsSkippedForTenSeconds) {
    using Remember = void (QNServiceComposer::*)(const QNModelCorrectionJob&);
    const std::pair<Remember, const char*> rows[] = {
        {&QNServiceComposer::rememberRefusal, "reason=recently-rejected"},
        {&QNServiceComposer::rememberFailure, "reason=recently-failed"},
    };
    for (const auto& [remember, reason] : rows) {
        SCOPED_TRACE(reason);
        seed(u"Helo there");
        (composer.*remember)(composer.sentencePolishJob(B::idle));
        for (const B boundary : {B::idle, B::commit}) {
            composer.maybeDispatchSentencePolish(boundary);
            EXPECT_NE(lastLine().find(reason), std::string::npos) << lastLine();
        }
        seed(u"Helo there!");
        composer.maybeDispatchSentencePolish(B::idle);
        dropPending();  // another text goes out
        seed(u"Helo there");
        executor->advance(10s);
        composer.maybeDispatchSentencePolish(B::idle);
        dropPending();
    }
}

// The text already waiting to go out is not scheduled again by the next key's boundary.
TEST_F(PolishGate, TheJobAlreadyPendingIsNotScheduledAgain) {
    seed(u"One. Two");
    composer.maybeDispatchSentencePolish(B::terminator);
    const auto lines = log->entries().size();
    composer.maybeDispatchSentencePolish(B::terminator);
    EXPECT_EQ(log->entries().size(), lines);
    EXPECT_EQ(composer.sentencePolishCount(), 1);
    executor->advance(120ms);
    EXPECT_EQ(composer.followUps.startedRuns.size(), 1u);
}

TEST_F(PolishGate, ThirdUnavailableResultHoldsDispatchForAMinute) {
    seed(u"Helo there");
    composer.noteUnavailableResult();
    composer.noteUnavailableResult();
    composer.maybeDispatchSentencePolish(B::idle);
    EXPECT_TRUE(composer.pendingDispatchTask);
    executor->advance(200ms);  // it went out
    composer.noteUnavailableResult();
    composer.maybeDispatchSentencePolish(B::idle);
    EXPECT_NE(lastLine().find("reason=unavailable-hold"), std::string::npos);
    executor->advance(60s);
    composer.maybeDispatchSentencePolish(B::idle);
    EXPECT_NE(lastLine().find("state=scheduled"), std::string::npos);
}

TEST_F(PolishGate, SessionCapStopsTheTwoHundredAndFirst) {
    seed(u"Helo there");
    for (int i = 0; i < 200; ++i) {
        composer.maybeDispatchSentencePolish(B::commit);
    }
    composer.maybeDispatchSentencePolish(B::commit);
    EXPECT_EQ(composer.followUps.startedRuns.size(), 200u);
    EXPECT_NE(lastLine().find("reason=session-cap"), std::string::npos);
    composer.setLogSessionID("s008");
    composer.maybeDispatchSentencePolish(B::commit);
    EXPECT_EQ(composer.followUps.startedRuns.size(), 201u);
}

TEST_F(PolishGate, TextsGoOnlyIntoTheDetail) {
    seed(u"Secret words");
    composer.rememberRefusal(composer.sentencePolishJob(B::idle));
    composer.maybeDispatchSentencePolish(B::idle);
    const auto& entry = log->entries().back();
    EXPECT_EQ(entry.message.find("Secret"), std::string::npos);
    EXPECT_EQ(entry.detail, "Secret words");
}

}  // namespace
}  // namespace ravlin
