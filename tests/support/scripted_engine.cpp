#include "tests/support/scripted_engine.h"

#include <chrono>

namespace ravlin::testing {

std::shared_ptr<ScriptedEngine> ScriptedEngine::make() {
    return std::make_shared<ScriptedEngine>();
}

QNModelCorrectionResult ScriptedEngine::corrected(std::u16string input, std::u16string output) {
    return {std::move(input), std::move(output), QNModelCorrectionOutcome::corrected()};
}

QNModelCorrectionResult ScriptedEngine::unchanged(std::u16string input) {
    auto output = input;
    return {std::move(input), std::move(output), QNModelCorrectionOutcome::unchanged()};
}

QNModelCorrectionResult ScriptedEngine::withOutcome(std::u16string input,
                                                    QNModelCorrectionOutcome outcome) {
    auto output = input;
    return {std::move(input), std::move(output), std::move(outcome)};
}

void ScriptedEngine::setAvailability(QNModelAvailabilitySummary summary) {
    std::lock_guard lock(mutex_);
    availability_ = std::move(summary);
}

void ScriptedEngine::enqueueResult(QNModelCorrectionResult result) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(result));
}

void ScriptedEngine::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void ScriptedEngine::setBlocksUntilReleased(bool blocks) {
    std::lock_guard lock(mutex_);
    blocks_ = blocks;
    released_ = false;
}

void ScriptedEngine::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

bool ScriptedEngine::waitForCalls(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return calls_.size() >= count; });
}

std::vector<ScriptedEngine::Call> ScriptedEngine::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int ScriptedEngine::prewarmCalls() const {
    std::lock_guard lock(mutex_);
    return prewarmCalls_;
}

int ScriptedEngine::availabilityCalls() const {
    std::lock_guard lock(mutex_);
    return availabilityCalls_;
}

int ScriptedEngine::stoppedCalls() const {
    std::lock_guard lock(mutex_);
    return stoppedCalls_;
}

QNModelAvailabilitySummary ScriptedEngine::availabilitySummary() {
    std::lock_guard lock(mutex_);
    ++availabilityCalls_;
    return availability_;
}

void ScriptedEngine::prewarm() {
    std::lock_guard lock(mutex_);
    ++prewarmCalls_;
}

QNModelCorrectionResult ScriptedEngine::correct(const std::u16string& text, std::stop_token stop) {
    return answer(Call{text, std::nullopt}, stop);
}

QNModelCorrectionResult ScriptedEngine::correct(const std::u16string& text,
                                                const std::optional<std::u16string>& contextBefore,
                                                std::stop_token stop) {
    return answer(Call{text, contextBefore}, stop);
}

QNModelCorrectionResult ScriptedEngine::answer(Call call, const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    const auto text = call.text;
    calls_.push_back(std::move(call));
    changed_.notify_all();
    if (blocks_) {
        changed_.wait(lock, stop, [&] { return released_; });
        if (!released_) {
            ++stoppedCalls_;
            return withOutcome(text, QNModelCorrectionOutcome::failed("Cancelled"));
        }
    }
    if (!queued_.empty()) {
        auto result = std::move(queued_.front());
        queued_.pop_front();
        return result;
    }
    if (handler_) {
        const auto handler = handler_;
        lock.unlock();
        return handler(text);
    }
    return unchanged(text);
}

}  // namespace ravlin::testing
