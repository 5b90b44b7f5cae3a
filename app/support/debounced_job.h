#pragma once

// The shape every long flow of the application follows, in its smallest useful form: wait until
// the input has been quiet for a while, run a blocking job off the main sequence, wait until the
// result can be delivered, deliver it.
//
// Each `submit` stops the flow before it and starts a new one; destroying the DebouncedJob stops
// its flow, which then ends at its next resume without touching anything of the owner.

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <stop_token>
#include <string>

#include "core/support/async.h"
#include "core/support/executor.h"

namespace ravlin {

class DebouncedJob {
  public:
    struct Timing {
        std::chrono::nanoseconds quiet = std::chrono::milliseconds(300);
        std::chrono::nanoseconds readyPoll = std::chrono::milliseconds(25);
        std::chrono::nanoseconds readyLimit = std::chrono::seconds(1);
    };
    // Runs on the work runner; must return promptly once `stop` is stopped.
    using Job = std::function<std::string(const std::string& input, std::stop_token stop)>;
    // Whether a result can be delivered now; polled on the sequence.
    using Ready = std::function<bool()>;
    // Called on the sequence with a result while `ready` holds.
    using Deliver = std::function<void(std::string result)>;

    DebouncedJob(Executor& executor, WorkRunner& runner, Job job, Ready ready, Deliver deliver,
                 Timing timing);
    DebouncedJob(const DebouncedJob&) = delete;
    DebouncedJob& operator=(const DebouncedJob&) = delete;

    // Starts over with `input`: the flow running for an earlier input stops.
    void submit(std::string input);
    // Stops the running flow, if any.
    void cancel();

  private:
    QCoro::Task<> flow(std::string input, FlowGuard guard);

    Executor& executor_;
    WorkRunner& runner_;
    Job job_;
    Ready ready_;
    Deliver deliver_;
    Timing timing_;
    FlowScope flows_;  // last member: its destruction stops the flows before anything else goes
};

}  // namespace ravlin
