// The main sequence over the Qt event loop.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <mutex>
#include <thread>
#include <vector>

#include <qcoro/qcorotask.h>

#include <functional>
#include <string>

#include "app/support/qt_executor.h"
#include "core/support/async.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "tests_app";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

class QtExecutorTest : public ::testing::Test {
  protected:
    void SetUp() override { application(); }

    // Runs the event loop until `count` tasks have noted themselves (or 5 s pass).
    bool runUntil(std::size_t count) {
        return QTest::qWaitFor(
            [&] {
                std::lock_guard lock(mutex);
                return order.size() >= count;
            },
            5000);
    }
    Executor::Task note(int value) {
        return [this, value] {
            std::lock_guard lock(mutex);
            order.push_back(value);
        };
    }

    QtExecutor executor;
    std::mutex mutex;
    std::vector<int> order;
};

TEST_F(QtExecutorTest, RunsByDueTimeThenPostOrder) {
    executor.postAfter(30ms, note(4));
    executor.post(note(1));
    executor.postAfter(10ms, note(3));
    executor.post(note(2));
    executor.postAfter(-5ms, note(0));  // a negative delay counts as none, posted first
    EXPECT_TRUE(order.empty()) << "nothing runs inside post";
    ASSERT_TRUE(runUntil(5));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 0, 3, 4}));
}

TEST_F(QtExecutorTest, WaitsForTheDelay) {
    const Instant start = executor.now();
    Instant ran;
    executor.postAfter(40ms, [&] {
        ran = executor.now();
        note(1)();
    });
    ASSERT_TRUE(runUntil(1));
    EXPECT_GE(ran - start, 40ms);
}

TEST_F(QtExecutorTest, CancelledTasksNeverRun) {
    const auto first = executor.postAfter(5ms, note(1));
    executor.postAfter(20ms, note(2));
    EXPECT_TRUE(executor.cancel(first));
    EXPECT_FALSE(executor.cancel(first));
    ASSERT_TRUE(runUntil(1));
    QTest::qWait(30);
    EXPECT_EQ(order, std::vector<int>{2});
    EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST_F(QtExecutorTest, TasksPostedFromWorkersRunOnTheExecutorThread) {
    std::vector<std::thread::id> threads;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&, i] {
            executor.post([&, i] {
                threads.push_back(std::this_thread::get_id());
                note(i)();
            });
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    ASSERT_TRUE(runUntil(4));
    for (const auto id : threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

TEST_F(QtExecutorTest, ATaskThatKeepsPostingLetsTheLoopTurn) {
    // Each task posts the next: the timer set by the test must still fire in between.
    std::function<void()> again = [&] { executor.post(again); };
    executor.post(again);
    bool timerFired = false;
    QTimer::singleShot(5, [&] { timerFired = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return timerFired; }, 2000));
    again = [] {};
}

// The program's end: its flows stopped, the sequence runs until none waits any more, at most
// for its limit (a flow whose wait nobody ends is left, and said).
TEST_F(QtExecutorTest, DrainRunsTheSequenceUntilNoFlowWaits) {
    std::stop_source stop;
    bool ended = false;
    auto sleeping = [](Executor& executor, std::stop_token stop, bool& ended) -> QCoro::Task<> {
        co_await sleepFor(executor, 1h, stop);
        ended = true;
    }(executor, stop.get_token(), ended);
    std::function<void(std::string)> answer;
    auto unanswered = [](Executor& executor,
                         std::function<void(std::string)>& answer) -> QCoro::Task<> {
        (void)co_await whenAnswered<std::string>(
            executor, [&answer](std::function<void(std::string)> done) { answer = done; }, {});
    }(executor, answer);
    ASSERT_EQ(executor.suspendedWaits(), 2u);
    stop.request_stop();
    EXPECT_FALSE(executor.drain(50ms)) << "a wait nobody ends is left";
    EXPECT_TRUE(ended);
    EXPECT_EQ(executor.suspendedWaits(), 1u);
    // Its answer comes after all: the next drain ends as that flow does.
    answer("late");
    EXPECT_TRUE(executor.drain(10s));
    EXPECT_EQ(executor.suspendedWaits(), 0u);
    EXPECT_TRUE(executor.drain(10s)) << "nothing to wait for";
}

// After the end's drain, what still waits (a check due later, a worker's result) never runs:
// dropped, with whatever its going posts, it lets go of what holds the sequence, which goes.
TEST_F(QtExecutorTest, AtTheEndWaitingTasksGoWithWhatTheyHold) {
    int gone = 0;
    struct Holder {
        Holder(std::shared_ptr<QtExecutor> held, int& count)
            : sequence(std::move(held)), gone(count) {}
        ~Holder() {
            ++gone;
            if (onGoing) {
                onGoing();
            }
        }
        std::shared_ptr<QtExecutor> sequence;
        int& gone;
        std::function<void()> onGoing;
    };
    auto sequence = std::make_shared<QtExecutor>();
    const std::weak_ptr<QtExecutor> watched = sequence;
    // One task due in an hour holds the sequence; its going posts another that holds it too.
    auto later = std::make_shared<Holder>(sequence, gone);
    later->onGoing = [sequence, &gone] {
        auto next = std::make_shared<Holder>(sequence, gone);
        sequence->post([next] {});
    };
    sequence->postAfter(1h, [later] {});
    later.reset();
    sequence->discardWaiting();
    EXPECT_EQ(sequence->pendingCount(), 0u);
    sequence.reset();
    EXPECT_EQ(gone, 2);
    EXPECT_TRUE(watched.expired());
}

}  // namespace
}  // namespace ravlin
