#pragma once

// The provider used when the user brings an OpenAI API key of their own: one streamed POST to
// the Responses interface per correction, its server-sent events turned into partial texts
// and one final answer, every failure told in a fixed text. It also checks a key against the
// service before the key is saved.
//
// The key is asked for afresh for every stream and every availability summary and is never
// kept. The provider holds no per-request state, so several corrections may run at once.

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/net/http_client.h"
#include "core/providers/openai/openai_key_validation.h"
#include "core/providers/openai/openai_stream.h"
#include "core/providers/openai/openai_wire.h"
#include "core/providers/provider.h"
#include "core/support/clock.h"

namespace ravlin {

class QNProviderOpenAICorrection final : public QNProviderCorrectionModel {
  public:
    struct Configuration {
        // The model name; sent trimmed, its letters unchanged.
        std::string model;
        // The time allowed to connect, send and receive the reply's head.
        double timeoutSeconds;
        // The longest wait for the next line of the reply.
        double streamIdleTimeoutSeconds;
        // The time allowed for the whole exchange, counted from just before sending.
        double streamTotalDeadlineSeconds;
        std::string providerID;

        Configuration(std::string model, double timeoutSeconds, double streamIdleTimeoutSeconds,
                      double streamTotalDeadlineSeconds, std::string providerID)
            : model(std::move(model)),
              timeoutSeconds(timeoutSeconds),
              streamIdleTimeoutSeconds(streamIdleTimeoutSeconds),
              streamTotalDeadlineSeconds(streamTotalDeadlineSeconds),
              providerID(std::move(providerID)) {}

        // Texts compared as texts (canonical equivalence), numbers exactly.
        friend bool operator==(const Configuration& a, const Configuration& b);
    };

    // Returns the stored key, or nothing. Called on the thread that calls the provider.
    using APIKeyProvider = std::function<std::optional<std::string>()>;

    // Calls nothing. `baseURL` is the origin the two paths are appended to: the OpenAI API in
    // production, a local server in tests.
    QNProviderOpenAICorrection(
        Configuration configuration, std::string prompt, APIKeyProvider apiKeyProvider,
        std::shared_ptr<const net::HttpClient> httpClient = net::HttpClient::shared(),
        std::shared_ptr<const Clock> clock = Clock::system(),
        std::string baseURL = std::string(kOpenAIAPIBaseURL));

    [[nodiscard]] std::string providerID() const override { return providerID_; }
    // Route remote, name "OpenAI", the model as configured (untrimmed), the host of the
    // responses endpoint and the prompt version in force for online use.
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    // "OpenAI Ready" with a key and a model, else "OpenAI Key Not Configured". Asks for the key
    // once.
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    // Nothing to warm.
    void prewarm() override {}

    // Drains the stream: partial texts are dropped, the last terminal event becomes the result.
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) override;
    // Sends the correction and reports the reply: partial texts, each the whole text so far and
    // each different from the one before, then exactly one terminal event. Asks for the key
    // once, before anything is sent.
    void streamCorrection(const QNModelCorrectionRequest& request, std::stop_token stopToken,
                          const QNModelCorrectionStreamSink& sink) override;

    // The failure text of an HTTP error reply (see `openAIHTTPErrorMessage`).
    [[nodiscard]] static std::string httpErrorMessage(int status,
                                                      const std::optional<std::string>& body) {
        return openAIHTTPErrorMessage(status, body);
    }

    // Asks the service whether it accepts `key` with one GET of the models listing, the key
    // trimmed after "Bearer ". A blank key fails with `empty` and sends nothing. Only the
    // status counts; the reply body is never read. Blocks until the head of the reply arrives,
    // the time-out passes or `stopToken` fires.
    [[nodiscard]] static QNOpenAIKeyValidationResult validateAPIKey(
        std::string_view key, const net::HttpClient& httpClient, double timeoutSeconds,
        std::stop_token stopToken = {}, std::string_view baseURL = kOpenAIAPIBaseURL);

    // The production addresses, built once.
    [[nodiscard]] static const std::string& responsesEndpoint();
    [[nodiscard]] static const std::string& modelsEndpoint();

    [[nodiscard]] const Configuration& configuration() const { return configuration_; }
    [[nodiscard]] const std::string& prompt() const { return prompt_; }
    // Where this provider sends corrections.
    [[nodiscard]] const std::string& responsesURL() const { return responsesURL_; }

  private:
    QNModelCorrectionStreamEvent runStream(const QNModelCorrectionRequest& request,
                                           const std::string& key, const std::string& model,
                                           std::stop_token stopToken,
                                           const QNModelCorrectionStreamSink& sink) const;

    std::string providerID_;
    Configuration configuration_;
    std::string prompt_;
    APIKeyProvider apiKeyProvider_;
    std::shared_ptr<const net::HttpClient> httpClient_;
    std::shared_ptr<const Clock> clock_;
    std::string responsesURL_;
};

}  // namespace ravlin
