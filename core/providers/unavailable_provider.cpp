#include "core/providers/unavailable_provider.h"

namespace ravlin {

QNUnavailableCorrectionModelProvider::QNUnavailableCorrectionModelProvider(std::string providerID,
                                                                           std::string reason,
                                                                           std::string title,
                                                                           std::string providerName)
    : providerID_(std::move(providerID)),
      reason_(std::move(reason)),
      title_(std::move(title)),
      providerName_(std::move(providerName)) {}

QNModelCorrectionProviderDiagnostics QNUnavailableCorrectionModelProvider::diagnostics() const {
    return {.providerID = providerID_,
            .route = QNModelCorrectionRoute::remote,
            .providerName = providerName_};
}

QNModelAvailabilitySummary QNUnavailableCorrectionModelProvider::availabilitySummary() {
    return {false, title_, reason_};
}

QNModelCorrectionProviderResult QNUnavailableCorrectionModelProvider::generateCorrection(
    const QNModelCorrectionRequest&, std::stop_token) {
    return QNModelCorrectionProviderResult::unavailable(reason_);
}

}  // namespace ravlin
