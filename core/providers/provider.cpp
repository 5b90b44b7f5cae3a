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

}  // namespace ravlin
