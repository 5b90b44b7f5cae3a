#pragma once

// An engine whose answers a test decides, for code that consumes QNServiceCorrectionGenerating
// (the composition sessions, later the composer). Records every call; answers with queued
// results in order, then with the fallback handler (by default: the text unchanged).
//
//   auto engine = ScriptedEngine::make();
//   engine->enqueueResult(ScriptedEngine::corrected(u"teh cat", u"the cat"));
//
// Thread safe: calls may run on a worker thread while the test reads the records.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/engine/correction_engine.h"

namespace ravlin::testing {

class ScriptedEngine : public QNServiceCorrectionGenerating {
  public:
    struct Call {
        std::u16string text;
        // Set only for the calls that pass a context (absent context included).
        std::optional<std::optional<std::u16string>> contextBefore;
    };
    using Handler = std::function<QNModelCorrectionResult(const std::u16string& text)>;

    [[nodiscard]] static std::shared_ptr<ScriptedEngine> make();

    [[nodiscard]] static QNModelCorrectionResult corrected(std::u16string input,
                                                           std::u16string output);
    [[nodiscard]] static QNModelCorrectionResult unchanged(std::u16string input);
    [[nodiscard]] static QNModelCorrectionResult withOutcome(std::u16string input,
                                                             QNModelCorrectionOutcome outcome);

    void setAvailability(QNModelAvailabilitySummary summary);
    void enqueueResult(QNModelCorrectionResult result);
    void setHandler(Handler handler);
    // Calls block until release() or a stop request; a stopped call answers failed "Cancelled".
    void setBlocksUntilReleased(bool blocks);
    void release();
    // Waits (real time, bounded) until `count` calls have begun.
    bool waitForCalls(std::size_t count);

    [[nodiscard]] std::vector<Call> calls() const;
    [[nodiscard]] int prewarmCalls() const;
    [[nodiscard]] int availabilityCalls() const;
    [[nodiscard]] int stoppedCalls() const;

    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    void prewarm() override;
    using QNServiceCorrectionGenerating::correct;
    [[nodiscard]] QNModelCorrectionResult correct(const std::u16string& text,
                                                  std::stop_token stop) override;
    [[nodiscard]] QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        std::stop_token stop) override;

  private:
    QNModelCorrectionResult answer(Call call, const std::stop_token& stop);

    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    QNModelAvailabilitySummary availability_{true, "Ready", "Scripted engine"};
    std::deque<QNModelCorrectionResult> queued_;
    Handler handler_;
    bool blocks_ = false;
    bool released_ = false;
    std::vector<Call> calls_;
    int prewarmCalls_ = 0;
    int availabilityCalls_ = 0;
    int stoppedCalls_ = 0;
};

}  // namespace ravlin::testing
