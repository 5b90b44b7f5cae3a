#include "core/providers/provider.h"

#include <utility>

namespace ravlin {

QNModelCorrectionProviderDiagnostics QNProviderCorrectionModel::diagnostics() const {
    QNModelCorrectionProviderDiagnostics diagnostics;
    diagnostics.providerID = providerID();
    diagnostics.route = QNModelCorrectionRoute::unknown;
    return diagnostics;
}

void QNProviderCorrectionModel::streamCorrection(const QNModelCorrectionRequest& request,
                                                 std::stop_token stopToken,
                                                 const QNModelCorrectionStreamSink& sink) {
    sink(QNModelCorrectionStreamEvent::from(generateCorrection(request, std::move(stopToken))));
}

QNModelCorrectionProviderResult QNProviderCorrectionModel::drainedStreamResult(
    const QNModelCorrectionRequest& request, std::stop_token stopToken, std::string_view streamName,
    StopOutcome onStop) {
    auto result = QNModelCorrectionProviderResult::failed(std::string(streamName) +
                                                          " stream produced no events");
    streamCorrection(request, stopToken, [&](const QNModelCorrectionStreamEvent& event) {
        if (auto terminal = event.terminalResult()) {
            result = *std::move(terminal);
        }
    });
    if (stopToken.stop_requested()) {
        switch (onStop) {
            case StopOutcome::asStreamed:
                break;
            case StopOutcome::failureBecomesCancelled:
                if (result.kind() == QNModelCorrectionProviderResult::Kind::failed) {
                    return QNModelCorrectionProviderResult::cancelled();
                }
                break;
            case StopOutcome::cancelled:
                return QNModelCorrectionProviderResult::cancelled();
        }
    }
    return result;
}

}  // namespace ravlin
