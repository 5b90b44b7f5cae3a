#pragma once

// The monotonic clock the core measures with. Production code uses the steady clock; tests
// inject a ManualClock and move time by hand.

#include <chrono>
#include <memory>
#include <mutex>

namespace ravlin {

using Instant = std::chrono::steady_clock::time_point;

// Milliseconds from `start` to `end`, fractional.
[[nodiscard]] inline double millisecondsBetween(Instant start, Instant end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

class Clock {
  public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual Instant now() const = 0;

    // The process-wide steady clock.
    [[nodiscard]] static std::shared_ptr<const Clock> system();
};

class SteadyClock final : public Clock {
  public:
    [[nodiscard]] Instant now() const override { return std::chrono::steady_clock::now(); }
};

// A clock that only moves when told to. Thread-safe.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(Instant start = Instant{} + std::chrono::hours(1)) : now_(start) {}

    [[nodiscard]] Instant now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void advance(std::chrono::nanoseconds by) {
        std::lock_guard lock(mutex_);
        now_ += by;
    }
    void set(Instant to) {
        std::lock_guard lock(mutex_);
        now_ = to;
    }

  private:
    mutable std::mutex mutex_;
    Instant now_;
};

}  // namespace ravlin
