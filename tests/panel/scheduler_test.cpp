// The correction scheduler's lines and deliveries, and a document editor session's release.

#include <gtest/gtest.h>

#include "app/editor/correction_scheduler.h"
#include "core/support/async.h"
#include "panel_support.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using Kind = QNModelCorrectionSchedulerWorkKind;
using Error = QNModelCorrectionSchedulerError;

QCoro::Task<std::any> sleepThen(std::shared_ptr<ManualExecutor> executor,
                                std::chrono::nanoseconds duration, std::string value,
                                std::stop_token stop) {
    co_await sleepFor(*executor, duration, stop);
    co_return std::any(std::move(value));
}

class SchedulerTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNServiceCorrectionScheduler> scheduler =
        std::make_shared<QNServiceCorrectionScheduler>(
            QNModelCorrectionSchedulerConfiguration{3, 1}, executor);
    // Each delivery as "name=value" or "name=cancelled" / "name=full".
    std::vector<std::string> deliveries;

    QNServiceCorrectionScheduler::Job submit(const std::string& name, const std::string& session,
                                             Kind kind, std::chrono::nanoseconds duration = 1s) {
        auto ex = executor;
        return scheduler->submit(
            session, kind,
            [ex, duration, name](std::stop_token stop) {
                return sleepThen(ex, duration, name, std::move(stop));
            },
            [this, name](QNSchedulerOutcome outcome) {
                if (const auto* error = std::get_if<Error>(&outcome)) {
                    deliveries.push_back(
                        name + (error->code == Error::Code::cancelled ? "=cancelled" : "=full"));
                } else {
                    deliveries.push_back(name + "=" +
                                         std::any_cast<std::string>(std::get<std::any>(outcome)));
                }
            });
    }

    static std::vector<std::string> sessions(
        const std::deque<QNServiceCorrectionScheduler::Job>& q) {
        std::vector<std::string> out;
        for (const auto& job : q) {
            out.push_back(job->sessionID);
        }
        return out;
    }
};

TEST_F(SchedulerTest, CancelJobsWithdrawsOneSessionFromBothLines) {
    submit("x", "C", Kind::liveCorrection, 10s);
    executor->runUntilIdle();
    ASSERT_NE(scheduler->activeJob(), nullptr);
    submit("a1", "A", Kind::liveCorrection);
    submit("b1", "B", Kind::liveCorrection);
    submit("a2", "A", Kind::liveCorrection);
    submit("b2", "B", Kind::foundationModelsPolish);
    scheduler->cancelJobs("A");
    EXPECT_EQ(sessions(scheduler->liveQueue()), (std::vector<std::string>{"B"}));
    EXPECT_EQ(sessions(scheduler->polishQueue()), (std::vector<std::string>{"B"}));
    scheduler->cancelJobs("C");  // the active job is not touched
    EXPECT_EQ(deliveries, (std::vector<std::string>{"a1=cancelled", "a2=cancelled"}));
    executor->advance(30s);
    EXPECT_EQ(deliveries,
              (std::vector<std::string>{"a1=cancelled", "a2=cancelled", "x=x", "b1=b1", "b2=b2"}));
}

TEST_F(SchedulerTest, FullLineRefusesAndLiveGoesFirst) {
    submit("x", "C", Kind::liveCorrection);
    executor->runUntilIdle();
    submit("p1", "C", Kind::foundationModelsPolish);
    EXPECT_EQ(submit("p2", "C", Kind::foundationModelsPolish), nullptr);
    for (const char* name : {"l1", "l2", "l3"}) {
        submit(name, "C", Kind::liveCorrection);
    }
    EXPECT_EQ(submit("l4", "C", Kind::liveCorrection), nullptr);
    executor->advance(10s);
    EXPECT_EQ(deliveries, (std::vector<std::string>{"p2=full", "l4=full", "x=x", "l1=l1", "l2=l2",
                                                    "l3=l3", "p1=p1"}));
}

TEST_F(SchedulerTest, DeliversOnceAndStillCancelsADeliveredJobsTask) {
    auto active = submit("x", "C", Kind::liveCorrection);
    submit("y", "C", Kind::liveCorrection);
    executor->runUntilIdle();
    scheduler->cancel(active);
    scheduler->cancel(active);
    EXPECT_TRUE(active->task->stop_requested());
    executor->runUntilIdle();  // the stopped operation ends without a second delivery
    EXPECT_EQ(deliveries, (std::vector<std::string>{"x=cancelled"}));
    executor->advance(1s);
    EXPECT_EQ(deliveries, (std::vector<std::string>{"x=cancelled", "y=y"}));

    auto delivered = submit("z", "C", Kind::liveCorrection);
    executor->advance(1s);
    ASSERT_TRUE(delivered->didComplete);
    scheduler->cancel(delivered);
    EXPECT_TRUE(delivered->task->stop_requested());
    EXPECT_EQ(deliveries.back(), "z=z");
    EXPECT_EQ(deliveries.size(), 3u);
}

TEST_F(SchedulerTest, ReleasingASessionCancelsItsQueuedJobsThenItsActiveOne) {
    testing_panel::ensureApplication();
    auto session =
        std::make_unique<QNServiceDocumentEditorSession>("A", nullptr, nullptr, nullptr, scheduler);
    auto live = std::make_shared<std::stop_source>();
    session->liveCorrectionTask = live;
    submit("a1", "A", Kind::liveCorrection, 10s);
    submit("b1", "B", Kind::liveCorrection);
    submit("a2", "A", Kind::foundationModelsPolish);
    executor->runUntilIdle();
    ASSERT_EQ(scheduler->activeJob()->sessionID, "A");

    session.reset();
    EXPECT_TRUE(live->stop_requested());
    EXPECT_TRUE(deliveries.empty());  // the scheduler's part runs on the next turn
    executor->runUntilIdle();
    EXPECT_EQ(deliveries, (std::vector<std::string>{"a2=cancelled", "a1=cancelled"}));
    executor->advance(1s);
    EXPECT_EQ(deliveries.back(), "b1=b1");

    auto other =
        std::make_unique<QNServiceDocumentEditorSession>("Z", nullptr, nullptr, nullptr, scheduler);
    submit("b2", "B", Kind::liveCorrection);
    other.reset();
    executor->advance(1s);
    EXPECT_EQ(deliveries.back(), "b2=b2");
}

}  // namespace
}  // namespace ravlin
