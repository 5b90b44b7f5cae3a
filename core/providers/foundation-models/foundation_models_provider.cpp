#include "core/providers/foundation-models/foundation_models_provider.h"

#include "core/records/prompt_catalogue.h"

namespace ravlin {

QNProviderFoundationModelsCorrection::QNProviderFoundationModelsCorrection(
    std::string prompt, std::shared_ptr<ondevice::LanguageModel> model,
    std::shared_ptr<const Clock> clock)
    : prompt_(std::move(prompt)), model_(std::move(model)), clock_(std::move(clock)) {}

QNModelCorrectionProviderDiagnostics QNProviderFoundationModelsCorrection::diagnostics() const {
    return QNModelCorrectionProviderDiagnostics{
        std::string(kProviderID),
        QNModelCorrectionRoute::local,
        "Apple Foundation Models",
        "SystemLanguageModel.default",
        std::nullopt,
        std::string(
            QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::local).rawValue()),
    };
}

const ondevice::GenerationSchema& QNProviderFoundationModelsCorrection::correctedOutputSchema() {
    static const ondevice::GenerationSchema schema{
        "QNModelCorrectedOutput",
        "correctedText",
        "The corrected text. Preserve original meaning, voice, structure, and formatting.",
    };
    return schema;
}

QNModelAvailabilitySummary QNProviderFoundationModelsCorrection::summaryFor(
    ondevice::ModelAvailability availability) {
    if (availability.isAvailable) {
        return {true, "Local model ready", ""};
    }
    switch (availability.reason) {
        case ondevice::UnavailableReason::deviceNotEligible:
            return {false, "Device Not Eligible",
                    "This device does not support the on-device language model."};
        case ondevice::UnavailableReason::appleIntelligenceNotEnabled:
            return {false, "Apple Intelligence Off",
                    "Enable Apple Intelligence to use Ravlin correction."};
        case ondevice::UnavailableReason::modelNotReady:
            return {false, "Model Downloading",
                    "The on-device language model is still preparing. Try again shortly."};
        case ondevice::UnavailableReason::other:
            break;
    }
    return {false, "Model Unavailable", "On-device correction is unavailable."};
}

QNModelAvailabilitySummary QNProviderFoundationModelsCorrection::availabilitySummary() {
    return summaryFor(model_->availability());
}

QNProviderFoundationModelsCorrection::~QNProviderFoundationModelsCorrection() {
    std::jthread warmUp;
    {
        std::lock_guard lock(mutex_);
        warmUp = std::move(warmUp_);
    }
    // Stopped and joined outside the lock: the warm-up takes it to finish.
    warmUp.request_stop();
}

void QNProviderFoundationModelsCorrection::prewarm() {
    if (!model_->availability().isAvailable) {
        std::lock_guard lock(mutex_);
        session_.reset();
        sessionInstructions_.reset();
        return;
    }
    std::lock_guard lock(mutex_);
    if ((session_ && sessionInstructions_ == prompt_) || warming_) {
        return;  // already warm, or soon
    }
    warming_ = true;
    // The previous warm-up has cleared `warming_`: its thread is ending, if not gone already.
    if (warmUp_.joinable()) {
        warmUp_.join();
    }
    auto session = model_->makeSession(prompt_);
    warmUp_ = std::jthread([this, session = std::move(session)](std::stop_token stop) {
        session->prewarm(stop);
        std::lock_guard lock(mutex_);
        warming_ = false;
        // A request arriving meanwhile made its own session; this one waits for the next.
        if (!stop.stop_requested()) {
            session_ = session;
            sessionInstructions_ = prompt_;
        }
        warmedUp_.notify_all();
    });
}

bool QNProviderFoundationModelsCorrection::waitForWarmUp(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return warmedUp_.wait_for(lock, limit, [this] { return !warming_; });
}

bool QNProviderFoundationModelsCorrection::hasWarmSession() const {
    std::lock_guard lock(mutex_);
    return session_ != nullptr;
}

std::shared_ptr<ondevice::LanguageModelSession> QNProviderFoundationModelsCorrection::sessionFor(
    const QNModelCorrectionRequest& request) {
    if (request.hasContext()) {
        // Context changes the instructions: a session of its own, and the warm one stays kept.
        return model_->makeSession(request.instructions(prompt_));
    }
    {
        std::lock_guard lock(mutex_);
        if (session_ && sessionInstructions_ == prompt_) {
            // A kept session serves exactly one request.
            sessionInstructions_.reset();
            return std::exchange(session_, nullptr);
        }
    }
    return model_->makeSession(prompt_);
}

void QNProviderFoundationModelsCorrection::streamCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken,
    const QNModelCorrectionStreamSink& sink) {
    const auto summary = availabilitySummary();
    if (!summary.isAvailable) {
        sink(QNModelCorrectionStreamEvent::unavailable(summary.title));
        return;
    }
    auto session = sessionFor(request);

    ondevice::GenerationOptions options;
    options.greedySampling = true;
    options.maximumResponseTokens = request.maximumResponseTokens;

    const Instant start = clock_->now();
    std::optional<std::u16string> lastText;
    const ondevice::StreamEnd end = session->streamResponse(
        request.modelInputText(), correctedOutputSchema(), /*includeSchemaInPrompt=*/true, options,
        stopToken, [&](const ondevice::Snapshot& snapshot) {
            if (stopToken.stop_requested()) {
                return false;
            }
            if (snapshot.text && !snapshot.text->empty() && snapshot.text != lastText) {
                sink(QNModelCorrectionStreamEvent::partial(*snapshot.text));
                lastText = snapshot.text;
            }
            return true;
        });

    // A stop request always ends as cancelled, whatever the stream reported on its way out.
    if (stopToken.stop_requested() || end.kind == ondevice::StreamEnd::Kind::cancelled) {
        sink(QNModelCorrectionStreamEvent::cancelled());
    } else if (end.kind == ondevice::StreamEnd::Kind::error) {
        sink(QNModelCorrectionStreamEvent::failed(end.errorDescription));
    } else if (lastText) {
        sink(QNModelCorrectionStreamEvent::completed(QNModelCorrectionResponse(
            request.text, *lastText, millisecondsBetween(start, clock_->now()))));
    } else {
        sink(QNModelCorrectionStreamEvent::failed("Foundation Models stream ended without output"));
    }
    // The next session warms in the background: the answer is out, and the call returns now.
    prewarm();
}

QNModelCorrectionProviderResult QNProviderFoundationModelsCorrection::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken) {
    // The stream itself answers a stop request; its answer stands.
    return drainedStreamResult(request, std::move(stopToken), "Foundation Models",
                               StopOutcome::asStreamed);
}

}  // namespace ravlin
