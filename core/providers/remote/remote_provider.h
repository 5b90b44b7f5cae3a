#pragma once

// The provider of a generic online correction endpoint: one JSON POST with a bearer token per
// correction, one JSON reply with the corrected text. It has no streaming of its own (its
// stream is the one terminal event of a generate call), nothing to warm and no state between
// requests; the token is asked for afresh every time and never kept.

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "core/net/http_client.h"
#include "core/providers/provider.h"
#include "core/providers/remote/remote_wire.h"
#include "core/support/clock.h"

namespace ravlin {

class QNProviderRemoteCorrection final : public QNProviderCorrectionModel {
  public:
    struct Configuration {
        // The address every correction is posted to.
        std::string endpoint;
        // Sent as stored, untrimmed.
        std::string model;
        // The time allowed to connect and send, and for each wait on the reply.
        double timeoutSeconds;
        std::string providerID;

        Configuration(std::string endpoint, std::string model, double timeoutSeconds,
                      std::string providerID)
            : endpoint(std::move(endpoint)),
              model(std::move(model)),
              timeoutSeconds(timeoutSeconds),
              providerID(std::move(providerID)) {}

        // The endpoint compared as written, the texts as texts (canonical equivalence), the
        // time-out exactly.
        friend bool operator==(const Configuration& a, const Configuration& b);
    };

    // Returns the current API token, or nothing. Called on the thread that calls the provider.
    using APIKeyProvider = std::function<std::optional<std::string>()>;

    // Stores the values; calls nothing and sends nothing.
    QNProviderRemoteCorrection(
        Configuration configuration, std::string prompt, std::optional<std::string> promptVersion,
        APIKeyProvider apiKeyProvider,
        std::shared_ptr<const net::HttpClient> httpClient = net::HttpClient::shared(),
        std::shared_ptr<const Clock> clock = Clock::system());

    [[nodiscard]] std::string providerID() const override { return providerID_; }
    // Route remote, name "Hosted Online", the model as stored, the endpoint's host and the
    // prompt version in force for online use (not the provider's own `promptVersion`).
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    // "Online Model Ready" with a token and a model, else "Online Model Not Configured".
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    void prewarm() override {}

    // One POST, one reply. Without a token or a model: unavailable("Online Model Not
    // Configured"), nothing sent. A status outside 200 to 299 fails with "Online correction
    // HTTP " and the status; a reply that is not the expected JSON, or longer than
    // `kRemoteCorrectionReplyLimit`, with "Online correction malformed response".
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) override;

    [[nodiscard]] const Configuration& configuration() const { return configuration_; }
    [[nodiscard]] const std::string& prompt() const { return prompt_; }
    [[nodiscard]] const std::optional<std::string>& promptVersion() const { return promptVersion_; }

  private:
    [[nodiscard]] std::optional<std::string> currentAPIKey() const;
    [[nodiscard]] bool isConfigured() const;
    QNModelCorrectionProviderResult send(const QNModelCorrectionRequest& request,
                                         const std::string& key, std::stop_token stopToken) const;

    std::string providerID_;
    Configuration configuration_;
    std::string prompt_;
    std::optional<std::string> promptVersion_;
    APIKeyProvider apiKeyProvider_;
    std::shared_ptr<const net::HttpClient> httpClient_;
    std::shared_ptr<const Clock> clock_;
};

}  // namespace ravlin
