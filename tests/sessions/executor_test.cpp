#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/support/executor.h"
#include "core/support/observable.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

TEST(ManualExecutor, RunsTasksInDueOrderOnVirtualTime) {
    ManualExecutor executor;
    const auto start = executor.now();
    std::vector<std::string> ran;
    std::vector<std::chrono::nanoseconds> at;
    const auto record = [&](std::string name) {
        return [&, name] {
            ran.push_back(name);
            at.push_back(executor.now() - start);
        };
    };
    executor.postAfter(30ms, record("c"));
    executor.postAfter(10ms, record("b1"));
    executor.postAfter(10ms, record("b2"));  // same due time: post order
    const auto dropped = executor.postAfter(20ms, record("dropped"));
    executor.post([&] {
        record("a")();
        executor.post(record("a-nested"));           // runs in the same idle pass
        executor.postAfter(5ms, record("a-later"));  // due at 5 ms
    });
    EXPECT_TRUE(executor.cancel(dropped));
    EXPECT_FALSE(executor.cancel(dropped));

    EXPECT_EQ(executor.runUntilIdle(), 2U);
    EXPECT_EQ(executor.nextDueTime(), start + 5ms);
    EXPECT_EQ(executor.advance(29ms), 3U);
    EXPECT_EQ(executor.now() - start, 29ms);
    EXPECT_EQ(executor.advance(1ms), 1U);
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "a-nested", "a-later", "b1", "b2", "c"}));
    EXPECT_EQ(at, (std::vector<std::chrono::nanoseconds>{0ms, 0ms, 5ms, 10ms, 10ms, 30ms}));
    EXPECT_EQ(executor.pendingCount(), 0U);
}

TEST(ManualExecutor, ATaskThatFallsDueWhileAdvancingRunsAtItsOwnTime) {
    ManualExecutor executor;
    const auto start = executor.now();
    std::chrono::nanoseconds secondAt{};
    executor.postAfter(
        10ms, [&] { executor.postAfter(10ms, [&] { secondAt = executor.now() - start; }); });
    executor.advance(100ms);
    EXPECT_EQ(secondAt, 20ms);
}

TEST(ManualExecutor, WaitsForWorkPostedByAWorkerThread) {
    auto executor = std::make_shared<ManualExecutor>();
    std::atomic<bool> applied = false;
    {
        ThreadWorkRunner runner;
        runner.run([executor, &applied] { executor->post([&applied] { applied = true; }); });
        ASSERT_TRUE(executor->waitForPostedWork());
        EXPECT_TRUE(applied);
        runner.run([] {});  // reaps the finished thread
    }
    EXPECT_FALSE(executor->waitForPostedWork(0ms));
}

TEST(Observable, TellsObserversOnlyOfRealChangesWhileTheirHandleLives) {
    Observable<std::string> value("a");
    std::vector<std::string> heard;
    auto watching = value.observe([&](const std::string& v) { heard.push_back(v); });
    EXPECT_FALSE(value.set("a"));
    EXPECT_TRUE(value.set("b"));
    watching.reset();
    EXPECT_FALSE(watching.active());
    EXPECT_TRUE(value.set("c"));
    EXPECT_EQ(heard, std::vector<std::string>{"b"});
    EXPECT_EQ(value.get(), "c");
}

TEST(Observable, InPlaceChangeTellsObserversOnlyWhenItSaysItChanged) {
    Observable<std::vector<int>> value({1});
    int told = 0;
    auto watching = value.observe([&](const std::vector<int>&) { ++told; });
    EXPECT_FALSE(value.modify([](std::vector<int>&) { return false; }));
    EXPECT_TRUE(value.modify([](std::vector<int>& v) {
        v.push_back(2);
        return true;
    }));
    EXPECT_EQ(told, 1);
    EXPECT_EQ(value.get(), (std::vector<int>{1, 2}));
}

TEST(Observable, AnObserverDroppedByAnotherDuringANotificationIsNotTold) {
    Observable<int> value(0);
    Subscription second;
    int secondHeard = 0;
    auto first = value.observe([&](const int&) { second.reset(); });
    second = value.observe([&](const int&) { ++secondHeard; });
    value.set(1);
    EXPECT_EQ(secondHeard, 0);
}

TEST(Subscription, CancelsOnceOnDropOrResetAndNeverAfterRelease) {
    int cancels = 0;
    {
        Subscription dropped([&] { ++cancels; });
        Subscription moved = std::move(dropped);
        EXPECT_FALSE(dropped.active());
        moved.reset();
        moved.reset();
    }
    EXPECT_EQ(cancels, 1);
    {
        Subscription replaced([&] { ++cancels; });
        replaced = Subscription([&] { cancels += 10; });
        EXPECT_EQ(cancels, 2);
        replaced.release();
    }
    EXPECT_EQ(cancels, 2);
}

TEST(Subscription, OutlivingItsListIsHarmless) {
    Subscription handle;
    {
        Observable<int> value(0);
        handle = value.observe([](const int&) {});
    }
    handle.reset();
    EXPECT_FALSE(handle.active());
}

}  // namespace
}  // namespace ravlin
