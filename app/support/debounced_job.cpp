#include "app/support/debounced_job.h"

#include <utility>

namespace ravlin {

DebouncedJob::DebouncedJob(Executor& executor, WorkRunner& runner, Job job, Ready ready,
                           Deliver deliver, Timing timing)
    : executor_(executor),
      runner_(runner),
      job_(std::move(job)),
      ready_(std::move(ready)),
      deliver_(std::move(deliver)),
      timing_(timing) {}

void DebouncedJob::submit(std::string input) {
    flows_.stopAll();
    // The task is not kept: the flow runs to its end on its own and frees itself there.
    flow(std::move(input), flows_.guard());
}

void DebouncedJob::cancel() {
    flows_.stopAll();
}

QCoro::Task<> DebouncedJob::flow(std::string input, FlowGuard guard) {
    co_await sleepFor(executor_, timing_.quiet, guard.stop());
    if (guard.ended()) {
        co_return;
    }

    std::string result = co_await runBlocking(
        runner_, executor_,
        [job = job_, input = std::move(input)](std::stop_token stop) { return job(input, stop); },
        guard.stop());
    if (guard.ended()) {
        co_return;
    }

    const bool ready =
        co_await waitUntil(executor_, ready_, timing_.readyPoll, timing_.readyLimit, guard.stop());
    if (guard.ended() || !ready) {
        co_return;
    }
    deliver_(std::move(result));
}

}  // namespace ravlin
