// The awaitables and the flow pattern, on virtual time.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/support/debounced_job.h"
#include "core/support/async.h"
#include "core/support/executor.h"
#include "tests/support/manual_work_runner.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::ManualWorkRunner;

struct Trace {
    std::vector<std::string> steps;
    std::chrono::nanoseconds at{};
};

QCoro::Task<> sleepThenNote(Executor& executor, std::chrono::nanoseconds duration,
                            std::stop_token stop, std::shared_ptr<Trace> trace) {
    const Instant start = executor.now();
    co_await sleepFor(executor, duration, stop);
    trace->at = executor.now() - start;
    trace->steps.push_back(stop.stop_requested() ? "stopped" : "slept");
}

TEST(Sleep, EndsAtItsDueTimeOrAtOnceOnStop) {
    struct Case {
        const char* name;
        std::chrono::nanoseconds stopAfter;  // negative: never
        std::string step;
        std::chrono::nanoseconds at;
    };
    for (const Case& c :
         {Case{"runs out", -1ns, "slept", 40ms}, Case{"stopped mid-sleep", 15ms, "stopped", 15ms},
          Case{"stopped before", 0ns, "stopped", 0ms}}) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        std::stop_source stop;
        auto trace = std::make_shared<Trace>();
        if (c.stopAfter == 0ns) {
            stop.request_stop();
        }
        auto task = sleepThenNote(executor, 40ms, stop.get_token(), trace);
        if (c.stopAfter > 0ns) {
            executor.advance(c.stopAfter);
            EXPECT_TRUE(trace->steps.empty());
            stop.request_stop();
            EXPECT_TRUE(trace->steps.empty())
                << "resumes through the sequence, not in request_stop";
            executor.runUntilIdle();
        }
        executor.advance(100ms);
        EXPECT_EQ(trace->steps, std::vector<std::string>{c.step});
        EXPECT_EQ(trace->at, c.at);
        EXPECT_EQ(executor.pendingCount(), 0u) << "a stopped sleep leaves no timer behind";
    }
}

TEST(Sleep, StopFromAnotherThreadResumesOnTheSequence) {
    ManualExecutor executor;
    std::stop_source stop;
    auto trace = std::make_shared<Trace>();
    auto task = sleepThenNote(executor, 1h, stop.get_token(), trace);
    std::thread([&] { stop.request_stop(); }).join();
    ASSERT_TRUE(executor.waitForPostedWork(5s));
    EXPECT_EQ(trace->steps, std::vector<std::string>{"stopped"});
}

QCoro::Task<> waitThenNote(Executor& executor, std::function<bool()> condition,
                           std::stop_token stop, std::shared_ptr<Trace> trace) {
    const Instant start = executor.now();
    const bool met = co_await waitUntil(executor, std::move(condition), 50ms, 200ms, stop);
    trace->at = executor.now() - start;
    trace->steps.push_back(met ? "met" : "not met");
}

TEST(WaitUntil, PollsUntilTheConditionHoldsOrTheLimitPasses) {
    struct Case {
        const char* name;
        int trueFromCheck;  // 1 = the first check; 0 = never
        bool stopAt60ms;
        std::string step;
        std::chrono::nanoseconds at;
    };
    for (const Case& c : {Case{"already true", 1, false, "met", 0ms},
                          Case{"true at the third check", 3, false, "met", 100ms},
                          Case{"true only at the limit", 5, false, "met", 200ms},
                          Case{"never true", 0, false, "not met", 200ms},
                          Case{"stopped", 0, true, "not met", 60ms}}) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        std::stop_source stop;
        auto trace = std::make_shared<Trace>();
        auto checks = std::make_shared<int>(0);
        auto task = waitThenNote(
            executor, [checks, c] { return ++*checks == c.trueFromCheck; }, stop.get_token(),
            trace);
        if (c.stopAt60ms) {
            executor.advance(60ms);
            stop.request_stop();
            executor.runUntilIdle();
        }
        executor.advance(1s);
        EXPECT_EQ(trace->steps, std::vector<std::string>{c.step});
        EXPECT_EQ(trace->at, c.at);
        EXPECT_LE(*checks, 5) << "checks at 0, 50, 100, 150 and 200 ms and no more";
        EXPECT_EQ(executor.pendingCount(), 0u);
    }
}

QCoro::Task<> waitForNewsThenNote(Executor& executor, std::function<bool()> condition,
                                  CallbackList<>& news, std::stop_token stop,
                                  std::shared_ptr<Trace> trace) {
    const Instant start = executor.now();
    const bool met = co_await waitUntilNotified(
        executor, std::move(condition), [&news](std::function<void()> changed) {
            return news.add([changed = std::move(changed)] { changed(); });
        },
        200ms, stop);
    trace->at = executor.now() - start;
    trace->steps.push_back(met ? "met" : "not met");
}

// Checked at the start, after each piece of news (through the sequence), and at the limit;
// never on a clock of its own in between, and the registration goes with the wait.
TEST(WaitUntilNotified, ChecksOnNewsAndAtTheLimitOnly) {
    struct Case {
        const char* name;
        std::vector<std::chrono::milliseconds> newsAt;
        bool trueFromNews;   // the condition holds from the first news on
        bool trueAtTheLimit; // ... or only from the limit on
        bool stopAt60ms;
        std::string step;
        std::chrono::nanoseconds at;
        int checks;
    };
    for (const Case& c : {
             Case{"news that it holds", {30ms}, true, false, false, "met", 30ms, 2},
             Case{"news, but it does not hold", {30ms, 70ms}, false, false, false, "not met",
                  200ms, 4},
             Case{"no news, holds at the limit", {}, false, true, false, "met", 200ms, 2},
             Case{"news after a stop", {100ms}, true, false, true, "not met", 60ms, 1},
         }) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        CallbackList<> news;
        std::stop_source stop;
        auto trace = std::make_shared<Trace>();
        auto checks = std::make_shared<int>(0);
        auto holds = std::make_shared<bool>(false);
        auto task = waitForNewsThenNote(
            executor, [checks, holds] { return ++*checks, *holds; }, news, stop.get_token(),
            trace);
        for (const auto at : c.newsAt) {
            executor.postAfter(at, [&news, holds, c] {
                *holds = c.trueFromNews;
                news.notify();
            });
        }
        if (c.trueAtTheLimit) {
            executor.postAfter(199ms, [holds] { *holds = true; });
        }
        if (c.stopAt60ms) {
            executor.postAfter(60ms, [&stop] { stop.request_stop(); });
        }
        executor.advance(1s);
        EXPECT_EQ(trace->steps, std::vector<std::string>{c.step});
        EXPECT_EQ(trace->at, c.at);
        EXPECT_EQ(*checks, c.checks);
        EXPECT_EQ(executor.pendingCount(), 0u);
        news.notify();  // the wait is over: nothing registered is told any more
        executor.runUntilIdle();
        EXPECT_EQ(*checks, c.checks);
    }
}

QCoro::Task<> runThenNote(WorkRunner& runner, Executor& executor, bool fail,
                          std::shared_ptr<Trace> trace) {
    try {
        const std::string value = co_await runBlocking(
            runner, executor,
            [fail](std::stop_token) -> std::string {
                if (fail) {
                    throw std::runtime_error("job failed");
                }
                return "from job";
            },
            std::stop_token());
        trace->steps.push_back(value);
    } catch (const std::runtime_error& error) {
        trace->steps.push_back(error.what());
    }
}

TEST(RunBlocking, ResumesOnTheSequenceWithTheResultOrTheError) {
    for (const bool fail : {false, true}) {
        ManualExecutor executor;
        ManualWorkRunner runner;
        auto trace = std::make_shared<Trace>();
        auto task = runThenNote(runner, executor, fail, trace);
        ASSERT_TRUE(runner.runNext());
        EXPECT_TRUE(trace->steps.empty()) << "not on the worker";
        executor.runUntilIdle();
        EXPECT_EQ(trace->steps, std::vector<std::string>{fail ? "job failed" : "from job"});
    }
}

TEST(RunBlocking, RunsTheJobOnAWorkerThread) {
    ManualExecutor executor;
    ThreadWorkRunner runner;
    auto trace = std::make_shared<Trace>();
    auto jobThread = std::make_shared<std::thread::id>();
    [](WorkRunner& runner, Executor& executor, std::shared_ptr<std::thread::id> jobThread,
       std::shared_ptr<Trace> trace) -> QCoro::Task<> {
        *jobThread = co_await runBlocking(
            runner, executor, [](std::stop_token) { return std::this_thread::get_id(); }, {});
        trace->steps.push_back("resumed");
    }(runner, executor, jobThread, trace);
    ASSERT_TRUE(executor.waitForPostedWork(5s));
    EXPECT_EQ(trace->steps, std::vector<std::string>{"resumed"});
    EXPECT_NE(*jobThread, std::this_thread::get_id());
}

// An operation that answers only when the test says (or never), as a clipboard owner may.
struct Answerer {
    std::vector<std::function<void(std::string)>> pending;
    int started = 0;
};

QCoro::Task<> askThenNote(Executor& executor, std::shared_ptr<Answerer> answerer,
                          std::stop_token stop, std::shared_ptr<Trace> trace) {
    trace->steps.push_back(co_await whenAnswered<std::string>(
        executor,
        [answerer](std::function<void(std::string)> done) {
            ++answerer->started;
            answerer->pending.push_back(std::move(done));
        },
        std::move(stop), "stopped"));
}

// An answer that may never come ends at once on a stop, with the stopped value; the answer that
// comes after is dropped. Every suspended wait is counted on its executor until it resumes.
TEST(WhenAnswered, EndsWithTheAnswerOrAtOnceOnStopAndIsCountedWhileSuspended) {
    struct Case {
        const char* name;
        bool stopBefore;
        bool answer;
        bool stopAfterAnswer;
        bool stopWhileWaiting;
        std::vector<std::string> steps;
        int started;
    };
    for (const Case& c : {
             Case{"answered", false, true, false, false, {"answer"}, 1},
             Case{"stopped while waiting, answered later", false, true, false, true, {"stopped"},
                  1},
             Case{"stopped after the answer", false, true, true, false, {"answer"}, 1},
             Case{"never answered, stopped", false, false, false, true, {"stopped"}, 1},
             Case{"stopped before: nothing started", true, false, false, false, {"stopped"}, 0},
         }) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        std::stop_source stop;
        auto answerer = std::make_shared<Answerer>();
        auto trace = std::make_shared<Trace>();
        if (c.stopBefore) {
            stop.request_stop();
        }
        auto task = askThenNote(executor, answerer, stop.get_token(), trace);
        EXPECT_EQ(executor.suspendedWaits(), c.stopBefore ? 0u : 1u);
        if (c.stopWhileWaiting) {
            stop.request_stop();
            EXPECT_TRUE(trace->steps.empty()) << "resumes through the sequence";
            executor.runUntilIdle();
        }
        if (c.answer && !answerer->pending.empty()) {
            answerer->pending.front()("answer");
        }
        if (c.stopAfterAnswer) {
            stop.request_stop();
        }
        executor.runUntilIdle();
        EXPECT_EQ(trace->steps, c.steps);
        EXPECT_EQ(answerer->started, c.started);
        EXPECT_EQ(executor.suspendedWaits(), 0u);
        EXPECT_EQ(executor.pendingCount(), 0u);
    }
}

TEST(SuspendedWaits, CountEveryKindOfWaitUntilItResumes) {
    ManualExecutor executor;
    ManualWorkRunner runner;
    std::stop_source stop;
    auto trace = std::make_shared<Trace>();
    auto sleeping = sleepThenNote(executor, 1s, stop.get_token(), trace);
    auto polling = [](Executor& executor, std::stop_token stop) -> QCoro::Task<> {
        (void)co_await waitUntil(executor, [] { return false; }, 10ms, 1s, stop);
    }(executor, stop.get_token());
    auto blocking = [](WorkRunner& runner, Executor& executor) -> QCoro::Task<> {
        (void)co_await runBlocking(runner, executor, [](std::stop_token) { return 1; }, {});
    }(runner, executor);
    EXPECT_EQ(executor.suspendedWaits(), 3u);
    stop.request_stop();
    executor.runUntilIdle();
    EXPECT_EQ(executor.suspendedWaits(), 1u) << "the job has not run";
    ASSERT_TRUE(runner.runNext());
    executor.runUntilIdle();
    EXPECT_EQ(executor.suspendedWaits(), 0u);
}

// The flow pattern: a DebouncedJob whose owner may stop or vanish at every wait.
struct JobWorld {
    ManualExecutor executor;
    ManualWorkRunner runner;
    std::vector<std::string> jobs;  // inputs the job ran with
    std::vector<bool> jobsSawStop;  // whether each job found its stop requested
    std::vector<std::string> delivered;
    bool ready = true;

    std::unique_ptr<DebouncedJob> make() {
        return std::make_unique<DebouncedJob>(
            executor, runner,
            [this](const std::string& input, std::stop_token stop) {
                jobs.push_back(input);
                jobsSawStop.push_back(stop.stop_requested());
                return "corrected " + input;
            },
            [this] { return ready; }, [this](std::string result) { delivered.push_back(result); },
            DebouncedJob::Timing{.quiet = 300ms, .readyPoll = 25ms, .readyLimit = 100ms});
    }
};

TEST(DebouncedJob, DeliversAfterQuietJobAndReadiness) {
    JobWorld world;
    auto job = world.make();
    job->submit("a");
    world.executor.advance(200ms);
    job->submit("ab");  // restarts the quiet period
    world.executor.advance(299ms);
    EXPECT_EQ(world.runner.pendingCount(), 0u);
    world.executor.advance(1ms);
    world.runner.runAll();
    world.ready = false;
    world.executor.runUntilIdle();
    EXPECT_TRUE(world.delivered.empty()) << "waits for readiness";
    world.ready = true;
    world.executor.advance(25ms);
    EXPECT_EQ(world.jobs, std::vector<std::string>{"ab"});
    EXPECT_EQ(world.delivered, std::vector<std::string>{"corrected ab"});
}

TEST(DebouncedJob, GivesUpWhenNeverReady) {
    JobWorld world;
    world.ready = false;
    auto job = world.make();
    job->submit("a");
    world.executor.advance(300ms);
    world.runner.runAll();
    world.executor.advance(1s);
    EXPECT_TRUE(world.delivered.empty());
    EXPECT_EQ(world.executor.pendingCount(), 0u);
}

// Stopping or destroying the owner at each wait: nothing runs afterwards and, under
// AddressSanitizer, nothing is touched after it is freed and no coroutine frame leaks.
TEST(DebouncedJob, StoppedOrDestroyedAtAnyWaitRunsNothingAfter) {
    enum class Wait { Quiet, Job, Readiness };
    for (const Wait wait : {Wait::Quiet, Wait::Job, Wait::Readiness}) {
        for (const bool destroy : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "wait " << static_cast<int>(wait)
                                              << (destroy ? " destroyed" : " cancelled"));
            JobWorld world;
            world.ready = wait != Wait::Readiness;
            auto job = world.make();
            job->submit("a");
            if (wait != Wait::Quiet) {
                world.executor.advance(300ms);
            }
            if (wait == Wait::Readiness) {
                world.runner.runAll();
                world.executor.advance(30ms);
            }
            if (destroy) {
                job.reset();
            } else {
                job->cancel();
            }
            world.ready = true;
            world.runner.runAll();  // a job still queued runs, and finds itself stopped
            world.executor.advance(1s);
            EXPECT_TRUE(world.delivered.empty());
            EXPECT_EQ(world.jobs.size(), wait == Wait::Quiet ? 0u : 1u);
            if (wait == Wait::Job) {
                EXPECT_EQ(world.jobsSawStop, std::vector<bool>{true});
            }
            EXPECT_EQ(world.executor.pendingCount(), 0u);
        }
    }
}

}  // namespace
}  // namespace ravlin
