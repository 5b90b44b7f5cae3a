#pragma once

// The interface every model backend meets. The engine holds a primary and an optional fallback
// provider through it and never knows which backend stands behind them.
//
// Both correction operations block the calling thread until the answer is final and take a
// stop token; a stop request makes them return promptly with their cancelled answer. Neither
// throws: every failure is a result case or an event.
//
// A stream delivers its events to the sink on the calling thread: zero or more `partial` events,
// each with the whole text produced so far, then exactly one terminal event (`completed`,
// `unavailable`, `failed` or `cancelled`), then the call returns. Nothing is delivered after the
// terminal event.

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/records/provider_records.h"
#include "core/records/result.h"

namespace ravlin {

using QNModelCorrectionStreamSink = std::function<void(QNModelCorrectionStreamEvent)>;

class QNProviderCorrectionModel {
  public:
    virtual ~QNProviderCorrectionModel() = default;

    // A stable identifier, fixed when the provider is built.
    [[nodiscard]] virtual std::string providerID() const = 0;
    // The provider's identity for logs. By default: its identifier, route unknown, nothing else.
    [[nodiscard]] virtual QNModelCorrectionProviderDiagnostics diagnostics() const;
    // Whether the provider can answer now, with a title and detail shown to the user. Quick;
    // it must not wait on the network or a child process.
    [[nodiscard]] virtual QNModelAvailabilitySummary availabilitySummary() = 0;
    // Prepares for a request; may start work of its own and return at once.
    virtual void prewarm() = 0;

    // One correction, answered once.
    [[nodiscard]] virtual QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) = 0;

    // One correction, answered as a stream. By default: one generateCorrection call whose result
    // becomes the one terminal event (success -> completed, the others by the same name); no
    // partial event. The stop token reaches the provider only through that call.
    virtual void streamCorrection(const QNModelCorrectionRequest& request,
                                  std::stop_token stopToken,
                                  const QNModelCorrectionStreamSink& sink);

  protected:
    // What a stop request that has arrived by the time the stream ends does to a drained answer.
    enum class StopOutcome {
        // The stream's answer stands.
        asStreamed,
        // A failure becomes `cancelled`; any other answer stands.
        failureBecomesCancelled,
        // The answer is `cancelled`, whatever the stream ended with.
        cancelled,
    };

    // A one-shot answer made from this provider's own stream: calls `streamCorrection` once,
    // drops partial texts and keeps the result of the last terminal event; a stream without one
    // answers failed("<streamName> stream produced no events"). Then applies `onStop`.
    [[nodiscard]] QNModelCorrectionProviderResult drainedStreamResult(
        const QNModelCorrectionRequest& request, std::stop_token stopToken,
        std::string_view streamName, StopOutcome onStop);

    QNProviderCorrectionModel() = default;
    QNProviderCorrectionModel(const QNProviderCorrectionModel&) = delete;
    QNProviderCorrectionModel& operator=(const QNProviderCorrectionModel&) = delete;
};

}  // namespace ravlin
