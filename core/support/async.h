#pragma once

// Awaitables for coroutines that run on an Executor's sequence, and the scope that lets an
// owner end the flows it started.
//
// Every wait here resumes its coroutine on the executor's sequence, never on a worker thread,
// and a stop request ends it at once (a stopped wait is not an error: the flow reads its token
// and decides). They work with any coroutine type (the application uses QCoro::Task) and on
// any Executor, so tests run whole flows on a ManualExecutor's virtual time.
//
//   QCoro::Task<> Owner::flow(std::string input, FlowGuard guard) {  // parameters by value
//       co_await sleepFor(executor_, 40ms, guard.stop());
//       if (guard.ended()) co_return;  // after every wait: stopped, or the owner is gone
//       auto text = co_await runBlocking(runner_, executor_,
//                                         [input](std::stop_token stop) { return work(input, stop);
//                                         }, guard.stop());
//       if (guard.ended()) co_return;
//       ...
//   }
//
// Rules for every flow:
// - Start and await on the executor's sequence; the executor outlives every flow on it.
// - Take parameters by value: a reference parameter dangles after the first suspension.
// - Hold the owner only through a FlowGuard and check `ended()` after every wait before touching
//   the owner; the owner's FlowScope requests the stop when the owner goes, so a flow that
//   outlives its owner wakes at once and ends without running anything more.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

#include "core/support/executor.h"
#include "core/support/subscription.h"

namespace ravlin {

// What a running flow knows of its owner: whether it asked the flow to stop and whether it still
// exists. Cheap to copy; pass it to the flow by value.
class FlowGuard {
  public:
    FlowGuard(std::weak_ptr<const void> owner, std::stop_token stop)
        : owner_(std::move(owner)), stop_(std::move(stop)) {}

    [[nodiscard]] const std::stop_token& stop() const { return stop_; }
    // True once the flow must end: its stop was requested or its owner is gone. Check it on the
    // owner's sequence, after every wait, before touching the owner.
    [[nodiscard]] bool ended() const { return stop_.stop_requested() || owner_.expired(); }

  private:
    std::weak_ptr<const void> owner_;
    std::stop_token stop_;
};

// Held by an object that starts flows. Its destruction, or `stopAll`, requests the stop of every
// flow started with a guard from it, so their waits end at once and they end on the sequence.
class FlowScope {
  public:
    FlowScope() = default;
    FlowScope(const FlowScope&) = delete;
    FlowScope& operator=(const FlowScope&) = delete;
    ~FlowScope() { stop_.request_stop(); }

    // A guard for a new flow.
    [[nodiscard]] FlowGuard guard() const { return FlowGuard(alive_, stop_.get_token()); }
    // Stops every flow started so far; guards handed out afterwards are fresh.
    void stopAll() {
        stop_.request_stop();
        stop_ = std::stop_source();
    }

  private:
    std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
    std::stop_source stop_;
};

namespace async_detail {

// What one suspended wait shares with the tasks it posts and with its stop callback. Whoever ends
// the wait first resumes the coroutine, exactly once, on the executor's sequence.
struct WaitState {
    explicit WaitState(Executor& executor) : executor(executor) {}

    // True for the one caller that ends the wait.
    bool end() { return !ended.exchange(true, std::memory_order_acq_rel); }
    [[nodiscard]] bool hasEnded() const { return ended.load(std::memory_order_acquire); }

    void setTimer(Executor::TaskID id) {
        std::lock_guard lock(mutex);
        timer = id;
    }

    // A stop request, on whatever thread made it: drop the pending timer and resume through the
    // sequence.
    static void stopWait(const std::shared_ptr<WaitState>& state) {
        if (!state->end()) {
            return;
        }
        Executor::TaskID pending = 0;
        {
            std::lock_guard lock(state->mutex);
            pending = std::exchange(state->timer, 0);
        }
        if (pending != 0) {
            state->executor.cancel(pending);
        }
        state->executor.post([state] { state->waiter.resume(); });
    }

    Executor& executor;
    std::coroutine_handle<> waiter;
    std::atomic<bool> ended{false};
    std::mutex mutex;
    Executor::TaskID timer = 0;  // guarded by mutex
};

struct StopWait {
    std::shared_ptr<WaitState> state;
    void operator()() const { WaitState::stopWait(state); }
};

// One suspended wait, counted on its executor while it is held (Executor::suspendedWaits).
class Counted {
  public:
    explicit Counted(Executor& executor) : executor_(executor) { executor_.waitSuspended(); }
    ~Counted() { executor_.waitResumed(); }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

  private:
    Executor& executor_;
};

}  // namespace async_detail

// `co_await sleepFor(executor, 40ms, stop)`: resumes once `duration` has passed on the executor's
// clock, or at once (through the sequence) when `stop` is requested, whichever comes first.
class [[nodiscard]] SleepAwaiter {
  public:
    SleepAwaiter(Executor& executor, std::chrono::nanoseconds duration, std::stop_token stop)
        : executor_(executor), duration_(duration), stop_(std::move(stop)) {}

    [[nodiscard]] bool await_ready() const noexcept { return stop_.stop_requested(); }
    void await_suspend(std::coroutine_handle<> waiter) {
        counted_.emplace(executor_);
        auto state = std::make_shared<async_detail::WaitState>(executor_);
        state->waiter = waiter;
        state->setTimer(executor_.postAfter(duration_, [state] {
            if (state->end()) {
                state->waiter.resume();
            }
        }));
        onStop_.emplace(stop_, async_detail::StopWait{std::move(state)});
    }
    void await_resume() noexcept {
        onStop_.reset();
        counted_.reset();
    }

  private:
    Executor& executor_;
    std::chrono::nanoseconds duration_;
    std::stop_token stop_;
    std::optional<async_detail::Counted> counted_;
    std::optional<std::stop_callback<async_detail::StopWait>> onStop_;
};

[[nodiscard]] inline SleepAwaiter sleepFor(Executor& executor, std::chrono::nanoseconds duration,
                                           std::stop_token stop) {
    return SleepAwaiter(executor, duration, std::move(stop));
}

// `co_await waitUntil(executor, condition, 50ms, 1s, stop)`: checks `condition` now and then
// every `pollInterval` on the sequence; yields true as soon as it holds, false when `limit` has
// passed without it (it is checked once more at the limit) or when `stop` is requested.
class [[nodiscard]] WaitUntilAwaiter {
  public:
    WaitUntilAwaiter(Executor& executor, std::function<bool()> condition,
                     std::chrono::nanoseconds pollInterval, std::chrono::nanoseconds limit,
                     std::stop_token stop)
        : executor_(executor),
          condition_(std::move(condition)),
          pollInterval_(
              std::max(pollInterval, std::chrono::nanoseconds(std::chrono::milliseconds(1)))),
          limit_(limit),
          stop_(std::move(stop)) {}

    [[nodiscard]] bool await_ready() {
        if (stop_.stop_requested()) {
            return true;
        }
        met_ = condition_();
        return met_ || limit_ <= std::chrono::nanoseconds::zero();
    }
    void await_suspend(std::coroutine_handle<> waiter) {
        counted_.emplace(executor_);
        auto poll = std::make_shared<Poll>(executor_);
        poll->waiter = waiter;
        poll->condition = std::move(condition_);
        poll->pollInterval = pollInterval_;
        poll->deadline = executor_.now() + limit_;
        poll->met = &met_;
        schedule(poll);
        onStop_.emplace(stop_, async_detail::StopWait{poll});
    }
    bool await_resume() noexcept {
        onStop_.reset();
        counted_.reset();
        return met_;
    }

  private:
    struct Poll : async_detail::WaitState {
        using WaitState::WaitState;
        std::function<bool()> condition;
        std::chrono::nanoseconds pollInterval{};
        Instant deadline;
        bool* met = nullptr;  // the awaiter's, which lives until the coroutine resumes
    };

    static void schedule(const std::shared_ptr<Poll>& poll) {
        const auto delay = std::min<std::chrono::nanoseconds>(
            poll->pollInterval, poll->deadline - poll->executor.now());
        poll->setTimer(poll->executor.postAfter(delay, [poll] { check(poll); }));
    }
    static void check(const std::shared_ptr<Poll>& poll) {
        if (poll->hasEnded()) {
            return;
        }
        const bool met = poll->condition();
        if (!met && poll->executor.now() < poll->deadline) {
            schedule(poll);
            return;
        }
        if (poll->end()) {
            *poll->met = met;
            poll->waiter.resume();
        }
    }

    Executor& executor_;
    std::function<bool()> condition_;
    std::chrono::nanoseconds pollInterval_;
    std::chrono::nanoseconds limit_;
    std::stop_token stop_;
    bool met_ = false;
    std::optional<async_detail::Counted> counted_;
    std::optional<std::stop_callback<async_detail::StopWait>> onStop_;
};

[[nodiscard]] inline WaitUntilAwaiter waitUntil(Executor& executor, std::function<bool()> condition,
                                                std::chrono::nanoseconds pollInterval,
                                                std::chrono::nanoseconds limit,
                                                std::stop_token stop) {
    return WaitUntilAwaiter(executor, std::move(condition), pollInterval, limit, std::move(stop));
}

// `co_await waitUntilNotified(executor, condition, subscribe, limit, stop)`: as waitUntil, but
// nothing is polled: `condition` is checked now, after each time the registration `subscribe`
// makes is told of a change, and once more at the limit. `subscribe(changed)` registers
// `changed` with whatever tells of the changes (on any thread) and returns its Subscription,
// which is dropped on the sequence when the wait ends.
class [[nodiscard]] WaitUntilNotifiedAwaiter {
  public:
    using Subscribe = std::function<Subscription(std::function<void()> changed)>;

    WaitUntilNotifiedAwaiter(Executor& executor, std::function<bool()> condition,
                             Subscribe subscribe, std::chrono::nanoseconds limit,
                             std::stop_token stop)
        : executor_(executor),
          condition_(std::move(condition)),
          subscribe_(std::move(subscribe)),
          limit_(limit),
          stop_(std::move(stop)) {}

    [[nodiscard]] bool await_ready() {
        if (stop_.stop_requested()) {
            return true;
        }
        met_ = condition_();
        return met_ || limit_ <= std::chrono::nanoseconds::zero();
    }
    void await_suspend(std::coroutine_handle<> waiter) {
        counted_.emplace(executor_);
        auto wait = std::make_shared<Wait>(executor_);
        wait_ = wait;
        wait->waiter = waiter;
        wait->condition = std::move(condition_);
        wait->met = &met_;
        wait->setTimer(executor_.postAfter(limit_, [wait] { finish(wait, wait->condition()); }));
        // (weakly: the wait owns the subscription)
        wait->subscription =
            subscribe_([weak = std::weak_ptr<Wait>(wait), &executor = executor_] {
                executor.post([weak] {
                    if (const auto wait = weak.lock(); wait && !wait->hasEnded() &&
                                                       wait->condition()) {
                        finish(wait, true);
                    }
                });
            });
        onStop_.emplace(stop_, async_detail::StopWait{std::move(wait)});
    }
    bool await_resume() noexcept {
        onStop_.reset();
        if (wait_) {
            wait_->subscription.reset();
        }
        counted_.reset();
        return met_;
    }

  private:
    struct Wait : async_detail::WaitState {
        using WaitState::WaitState;
        std::function<bool()> condition;
        Subscription subscription;
        bool* met = nullptr;  // the awaiter's, which lives until the coroutine resumes
    };

    static void finish(const std::shared_ptr<Wait>& wait, bool met) {
        if (!wait->end()) {
            return;
        }
        Executor::TaskID pending = 0;
        {
            std::lock_guard lock(wait->mutex);
            pending = std::exchange(wait->timer, 0);
        }
        if (pending != 0) {
            wait->executor.cancel(pending);
        }
        *wait->met = met;
        wait->waiter.resume();
    }

    Executor& executor_;
    std::function<bool()> condition_;
    Subscribe subscribe_;
    std::chrono::nanoseconds limit_;
    std::stop_token stop_;
    bool met_ = false;
    std::shared_ptr<Wait> wait_;
    std::optional<async_detail::Counted> counted_;
    std::optional<std::stop_callback<async_detail::StopWait>> onStop_;
};

[[nodiscard]] inline WaitUntilNotifiedAwaiter waitUntilNotified(
    Executor& executor, std::function<bool()> condition,
    WaitUntilNotifiedAwaiter::Subscribe subscribe, std::chrono::nanoseconds limit,
    std::stop_token stop) {
    return WaitUntilNotifiedAwaiter(executor, std::move(condition), std::move(subscribe), limit,
                                    std::move(stop));
}

// `co_await whenAnswered<T>(executor, start, stop, stopped)`: calls `start(done)`, which begins an
// operation that answers once through `done`, on any thread, possibly before `start` returns;
// resumes on the executor's sequence with the answer (at once, without suspending, when it came
// during `start`). The operation bounds its own time; a stop request ends the wait at once with
// `stopped` (the operation's own answer is then dropped when it comes), and a wait asked for
// once `stop` has been requested starts nothing.
template <class T>
class [[nodiscard]] AnswerAwaiter {
  public:
    using Start = std::function<void(std::function<void(T)>)>;

    AnswerAwaiter(Executor& executor, Start start, std::stop_token stop, T stopped)
        : executor_(executor),
          start_(std::move(start)),
          stop_(std::move(stop)),
          shared_(std::make_shared<Shared>()) {
        shared_->stopped.emplace(std::move(stopped));
    }

    [[nodiscard]] bool await_ready() {
        if (stop_.stop_requested()) {
            shared_->answer = std::move(shared_->stopped);
            return true;
        }
        start_([shared = shared_, &executor = executor_](T answer) {
            answered(shared, executor, std::move(answer));
        });
        std::lock_guard lock(shared_->mutex);
        return shared_->answer.has_value();
    }
    [[nodiscard]] bool await_suspend(std::coroutine_handle<> waiter) {
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->answer) {
                return false;  // it came in between: go on at once
            }
            shared_->waiter = waiter;
        }
        counted_.emplace(executor_);
        onStop_.emplace(stop_, StopAnswer{shared_, &executor_});
        return true;
    }
    T await_resume() {
        onStop_.reset();
        counted_.reset();
        std::lock_guard lock(shared_->mutex);
        return std::move(*shared_->answer);
    }

  private:
    struct Shared {
        std::mutex mutex;
        std::optional<T> answer;
        std::optional<T> stopped;  // what a stop answers
        std::coroutine_handle<> waiter;
    };

    // The first answer counts, the operation's or the stop's; it resumes the waiter, if one
    // waits, through the sequence.
    static void answered(const std::shared_ptr<Shared>& shared, Executor& executor, T answer) {
        std::coroutine_handle<> waiter;
        {
            std::lock_guard lock(shared->mutex);
            if (shared->answer) {
                return;  // answered already: only the first answer counts
            }
            shared->answer.emplace(std::move(answer));
            waiter = shared->waiter;
        }
        if (waiter) {
            executor.post([waiter] { waiter.resume(); });
        }
    }

    struct StopAnswer {
        std::shared_ptr<Shared> shared;
        Executor* executor;
        void operator()() const {
            std::optional<T> stopped;
            {
                std::lock_guard lock(shared->mutex);
                stopped = std::move(shared->stopped);
            }
            if (stopped) {
                answered(shared, *executor, std::move(*stopped));
            }
        }
    };

    Executor& executor_;
    Start start_;
    std::stop_token stop_;
    std::shared_ptr<Shared> shared_;
    std::optional<async_detail::Counted> counted_;
    std::optional<std::stop_callback<StopAnswer>> onStop_;
};

template <class T>
[[nodiscard]] AnswerAwaiter<T> whenAnswered(Executor& executor,
                                            typename AnswerAwaiter<T>::Start start,
                                            std::stop_token stop, T stopped = T{}) {
    return AnswerAwaiter<T>(executor, std::move(start), std::move(stop), std::move(stopped));
}

// `co_await runBlocking(runner, executor, job, stop)`: runs `job(stop)` on the work runner and
// resumes on the executor's sequence with what it returned (or rethrows what it threw). A stop
// request does not end the wait early: the job is handed the token and must return promptly
// once it is stopped, with whatever its cancelled outcome is.
template <class Result>
class [[nodiscard]] BlockingAwaiter {
  public:
    using Job = std::function<Result(std::stop_token)>;

    BlockingAwaiter(WorkRunner& runner, Executor& executor, Job job, std::stop_token stop)
        : runner_(runner), executor_(executor), job_(std::move(job)), stop_(std::move(stop)) {}

    [[nodiscard]] bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) {
        counted_.emplace(executor_);
        auto shared = std::make_shared<Shared>();
        shared_ = shared;
        runner_.run(
            [shared, &executor = executor_, waiter, job = std::move(job_), stop = stop_]() mutable {
                try {
                    if constexpr (std::is_void_v<Result>) {
                        job(stop);
                        shared->value.emplace();
                    } else {
                        shared->value.emplace(job(stop));
                    }
                } catch (...) {
                    shared->error = std::current_exception();
                }
                job = nullptr;  // its captures go on the worker, not on the sequence
                executor.post([waiter] { waiter.resume(); });
            });
    }
    Result await_resume() {
        counted_.reset();
        if (shared_->error) {
            std::rethrow_exception(shared_->error);
        }
        if constexpr (!std::is_void_v<Result>) {
            return std::move(*shared_->value);
        }
    }

  private:
    struct Shared {
        std::optional<std::conditional_t<std::is_void_v<Result>, std::monostate, Result>> value;
        std::exception_ptr error;
    };

    WorkRunner& runner_;
    Executor& executor_;
    Job job_;
    std::stop_token stop_;
    std::shared_ptr<Shared> shared_;
    std::optional<async_detail::Counted> counted_;
};

template <class Job>
[[nodiscard]] auto runBlocking(WorkRunner& runner, Executor& executor, Job job,
                               std::stop_token stop) {
    using Result = std::invoke_result_t<Job&, std::stop_token>;
    return BlockingAwaiter<Result>(runner, executor, std::move(job), std::move(stop));
}

}  // namespace ravlin
