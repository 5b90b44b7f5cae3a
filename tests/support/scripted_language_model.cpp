#include "tests/support/scripted_language_model.h"

namespace ravlin::testing {

class ScriptedSession final : public ondevice::LanguageModelSession {
  public:
    ScriptedSession(ScriptedLanguageModel& model,
                    std::shared_ptr<ScriptedLanguageModel::SessionRecord> record)
        : model_(model), record_(std::move(record)) {}

    void prewarm(std::stop_token stop) override {
        std::function<void(std::stop_token)> action;
        {
            std::lock_guard lock(model_.mutex_);
            action = model_.prewarmAction_;
        }
        if (action) {
            action(stop);
        }
        std::lock_guard lock(model_.mutex_);
        ++record_->prewarmCount;
    }

    ondevice::StreamEnd streamResponse(
        const std::u16string& prompt, const ondevice::GenerationSchema&, bool includeSchemaInPrompt,
        const ondevice::GenerationOptions& options, std::stop_token stop,
        const std::function<bool(const ondevice::Snapshot&)>& onSnapshot) override {
        {
            std::lock_guard lock(model_.mutex_);
            record_->prompts.push_back(prompt);
            record_->options.push_back(options);
            record_->includedSchema = includeSchemaInPrompt;
        }
        ScriptedResponse response = model_.nextResponse();
        for (std::size_t i = 0; i < response.snapshots.size(); ++i) {
            if (response.beforeSnapshot) {
                response.beforeSnapshot(i);
            }
            if (stop.stop_requested()) {
                return ondevice::StreamEnd::cancelled();
            }
            if (!onSnapshot(response.snapshots[i])) {
                break;
            }
        }
        return response.end;
    }

  private:
    ScriptedLanguageModel& model_;
    std::shared_ptr<ScriptedLanguageModel::SessionRecord> record_;
};

ScriptedResponse snapshotsOf(const std::vector<std::u16string>& texts, ondevice::StreamEnd end) {
    ScriptedResponse response;
    for (const auto& text : texts) {
        response.snapshots.push_back(
            ondevice::Snapshot{text.empty() ? std::nullopt : std::optional<std::u16string>(text)});
    }
    response.end = std::move(end);
    return response;
}

void ScriptedLanguageModel::setAvailability(ondevice::ModelAvailability availability) {
    std::lock_guard lock(mutex_);
    availability_ = availability;
}

void ScriptedLanguageModel::setPrewarmAction(std::function<void(std::stop_token)> action) {
    std::lock_guard lock(mutex_);
    prewarmAction_ = std::move(action);
}

void ScriptedLanguageModel::enqueue(ScriptedResponse response) {
    std::lock_guard lock(mutex_);
    responses_.push_back(std::move(response));
}

ondevice::ModelAvailability ScriptedLanguageModel::availability() const {
    std::lock_guard lock(mutex_);
    return availability_;
}

std::shared_ptr<ondevice::LanguageModelSession> ScriptedLanguageModel::makeSession(
    const std::string& instructions) {
    std::lock_guard lock(mutex_);
    auto record = std::make_shared<SessionRecord>();
    record->instructions = instructions;
    sessions_.push_back(record);
    return std::make_shared<ScriptedSession>(*this, record);
}

std::vector<ScriptedLanguageModel::SessionRecord> ScriptedLanguageModel::sessions() const {
    std::lock_guard lock(mutex_);
    std::vector<SessionRecord> out;
    for (const auto& record : sessions_) {
        out.push_back(*record);
    }
    return out;
}

ScriptedResponse ScriptedLanguageModel::nextResponse() {
    std::lock_guard lock(mutex_);
    if (responses_.empty()) {
        return {};
    }
    ScriptedResponse next = std::move(responses_.front());
    responses_.pop_front();
    return next;
}

}  // namespace ravlin::testing
