#pragma once

// A provider that stands in for an online route that cannot run (nothing configured, a tool
// that is missing): it answers every request as unavailable with its reason and reports itself
// unavailable with its title and reason. Its route is `remote`, so the reason reaches the user
// as the correction issue of an online route.

#include <string>

#include "core/providers/provider.h"

namespace ravlin {

class QNUnavailableCorrectionModelProvider final : public QNProviderCorrectionModel {
  public:
    QNUnavailableCorrectionModelProvider(std::string providerID, std::string reason,
                                         std::string title, std::string providerName);

    [[nodiscard]] std::string providerID() const override { return providerID_; }
    // Route remote, the provider's name, nothing else.
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    // Not available: the title, and the reason as the detail.
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    void prewarm() override {}
    // `unavailable` with the reason, whatever is asked.
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) override;

    [[nodiscard]] const std::string& reason() const { return reason_; }
    [[nodiscard]] const std::string& title() const { return title_; }
    [[nodiscard]] const std::string& providerName() const { return providerName_; }

  private:
    std::string providerID_;
    std::string reason_;
    std::string title_;
    std::string providerName_;
};

}  // namespace ravlin
