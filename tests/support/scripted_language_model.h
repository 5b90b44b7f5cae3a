#pragma once

// A scripted on-device model: tests set its availability and what each response stream
// delivers, and read back which sessions were made, with which instructions and prompts.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "core/providers/foundation-models/language_model.h"

namespace ravlin::testing {

struct ScriptedResponse {
    std::vector<ondevice::Snapshot> snapshots;
    ondevice::StreamEnd end = ondevice::StreamEnd::finished();
    // Called before each snapshot is delivered, with its index (e.g. to request a stop).
    std::function<void(std::size_t)> beforeSnapshot;
};

// Snapshots carrying these texts; an empty text stands for a snapshot without text.
[[nodiscard]] ScriptedResponse snapshotsOf(
    const std::vector<std::u16string>& texts,
    ondevice::StreamEnd end = ondevice::StreamEnd::finished());

class ScriptedLanguageModel final : public ondevice::LanguageModel {
  public:
    struct SessionRecord {
        std::string instructions;
        int prewarmCount = 0;
        std::vector<std::u16string> prompts;
        std::vector<ondevice::GenerationOptions> options;
        bool includedSchema = false;
    };

    void setAvailability(ondevice::ModelAvailability availability);
    // Runs in every session's prewarm, before it is counted (e.g. to make warming take time).
    void setPrewarmAction(std::function<void(std::stop_token)> action);
    // Responses are handed out in order, one per stream; when none is queued a stream finishes
    // with no snapshots.
    void enqueue(ScriptedResponse response);

    [[nodiscard]] ondevice::ModelAvailability availability() const override;
    [[nodiscard]] std::shared_ptr<ondevice::LanguageModelSession> makeSession(
        const std::string& instructions) override;

    // One record per session made, in order of creation.
    [[nodiscard]] std::vector<SessionRecord> sessions() const;

  private:
    friend class ScriptedSession;
    ScriptedResponse nextResponse();

    mutable std::mutex mutex_;
    ondevice::ModelAvailability availability_ = ondevice::ModelAvailability::available();
    std::deque<ScriptedResponse> responses_;
    std::function<void(std::stop_token)> prewarmAction_;
    std::vector<std::shared_ptr<SessionRecord>> sessions_;
};

}  // namespace ravlin::testing
