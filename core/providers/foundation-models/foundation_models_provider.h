#pragma once

// The on-device provider: corrects text with the device's own language model, streaming the
// growing answer as partial events, and keeps one warmed session ready for the next request.
// Warming happens on a thread of the provider's own, never on a caller's time; the provider
// ends it (stopping it and waiting for it) when it is destroyed.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/providers/foundation-models/language_model.h"
#include "core/providers/provider.h"
#include "core/support/clock.h"

namespace ravlin {

class QNProviderFoundationModelsCorrection final : public QNProviderCorrectionModel {
  public:
    static constexpr std::string_view kProviderID = "foundation-models";

    // `prompt` is the correction instruction text. The model is not touched here.
    explicit QNProviderFoundationModelsCorrection(
        std::string prompt,
        std::shared_ptr<ondevice::LanguageModel> model = ondevice::LanguageModel::systemDefault(),
        std::shared_ptr<const Clock> clock = Clock::system());
    // Stops a warm-up still under way and waits for it.
    ~QNProviderFoundationModelsCorrection() override;
    QNProviderFoundationModelsCorrection(const QNProviderFoundationModelsCorrection&) = delete;
    QNProviderFoundationModelsCorrection& operator=(const QNProviderFoundationModelsCorrection&) =
        delete;

    [[nodiscard]] std::string providerID() const override { return std::string(kProviderID); }
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    // Drops the kept session when the model is unavailable; otherwise, unless a session is kept
    // or one is being warmed, makes one and warms it in the background, keeping it once warm.
    // Returns at once.
    void prewarm() override;
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) override;
    void streamCorrection(const QNModelCorrectionRequest& request, std::stop_token stopToken,
                          const QNModelCorrectionStreamSink& sink) override;

    // The structured answer the model is asked for.
    [[nodiscard]] static const ondevice::GenerationSchema& correctedOutputSchema();
    // The availability as the user sees it.
    [[nodiscard]] static QNModelAvailabilitySummary summaryFor(
        ondevice::ModelAvailability availability);

    // Whether a warmed session is kept (for tests and diagnostics).
    [[nodiscard]] bool hasWarmSession() const;
    // Waits, at most `limit`, until no warm-up is under way; false when one still is (for tests).
    bool waitForWarmUp(std::chrono::milliseconds limit) const;

  private:
    std::shared_ptr<ondevice::LanguageModelSession> sessionFor(
        const QNModelCorrectionRequest& request);

    const std::string prompt_;
    const std::shared_ptr<ondevice::LanguageModel> model_;
    const std::shared_ptr<const Clock> clock_;

    // The warmed session and the instructions it was made with: both present or both absent.
    mutable std::mutex mutex_;
    std::shared_ptr<ondevice::LanguageModelSession> session_;
    std::optional<std::string> sessionInstructions_;
    // The warm-up thread, and whether it is still warming.
    std::jthread warmUp_;
    bool warming_ = false;
    mutable std::condition_variable warmedUp_;
};

}  // namespace ravlin
