#pragma once

// A work runner that only queues its jobs; the test runs them, on its own thread, when it
// chooses. With a ManualExecutor this makes every engine call of a model deterministic: the call
// runs where the test says, and its result waits on the executor until the test runs that.

#include <cstddef>
#include <deque>
#include <mutex>

#include "core/support/executor.h"

namespace ravlin::testing {

class ManualWorkRunner final : public WorkRunner {
  public:
    void run(Job job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }

    // Runs the oldest queued job; false when none is queued.
    bool runNext() {
        Job job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty()) {
                return false;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
        return true;
    }
    // Runs queued jobs until none is left; returns how many ran.
    std::size_t runAll() {
        std::size_t ran = 0;
        while (runNext()) {
            ++ran;
        }
        return ran;
    }
    [[nodiscard]] std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return jobs_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<Job> jobs_;
};

}  // namespace ravlin::testing
