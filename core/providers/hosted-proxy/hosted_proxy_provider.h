#pragma once

// The provider of the hosted correction service that the application runs for its users: one
// POST per correction to the configured endpoint, answered with a stream of server-sent events
// that become partial texts and one final answer. Credentials come from closures that are asked
// afresh for every use; a bodiless OPTIONS warm-up goes out at most once a minute.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "core/net/http_client.h"
#include "core/providers/hosted-proxy/hosted_proxy_stream.h"
#include "core/providers/hosted-proxy/hosted_proxy_wire.h"
#include "core/providers/provider.h"
#include "core/support/clock.h"

namespace ravlin {

class QNProviderHostedProxyCorrection final : public QNProviderCorrectionModel {
  public:
    struct Configuration {
        // Where corrections and warm-ups are sent.
        std::string endpoint;
        // The time allowed to connect, send and receive the reply's head; caps the warm-up's.
        double timeoutSeconds;
        // The longest wait for the next line of the reply.
        double streamIdleTimeoutSeconds;
        // The time allowed for the whole exchange, counted from just before sending.
        double streamTotalDeadlineSeconds;
        std::string providerID;

        Configuration(std::string endpoint, double timeoutSeconds, double streamIdleTimeoutSeconds,
                      double streamTotalDeadlineSeconds, std::string providerID)
            : endpoint(std::move(endpoint)),
              timeoutSeconds(timeoutSeconds),
              streamIdleTimeoutSeconds(streamIdleTimeoutSeconds),
              streamTotalDeadlineSeconds(streamTotalDeadlineSeconds),
              providerID(std::move(providerID)) {}

        friend bool operator==(const Configuration&, const Configuration&) = default;
    };

    // Return a credential, or nothing. Called on the thread that calls the provider.
    using TokenProvider = std::function<std::optional<std::string>()>;
    // Returns the identifier of one new request.
    using RequestIDProvider = std::function<std::string()>;

    // Calls none of the closures. An empty `requestIDProvider` stands for one that returns a
    // new UUID. `httpClient` and `clock` are the transport and the clock of warm-up spacing and
    // latency.
    QNProviderHostedProxyCorrection(
        Configuration configuration, std::string prompt, std::optional<std::string> promptVersion,
        TokenProvider bearerTokenProvider, TokenProvider sessionTokenProvider,
        RequestIDProvider requestIDProvider,
        std::shared_ptr<const net::HttpClient> httpClient = net::HttpClient::shared(),
        std::shared_ptr<const Clock> clock = Clock::system());
    // Ends a warm-up still under way.
    ~QNProviderHostedProxyCorrection() override;

    [[nodiscard]] std::string providerID() const override { return providerID_; }
    // Route remote, name "Hosted Proxy", model "server-controlled", the endpoint's host and the
    // stored prompt version (deployable or not).
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    // "Hosted Online Ready" when both credentials are present, else "Hosted Online Not
    // Configured". Asks for the session token only when a bearer token is present.
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    // With both credentials, starts an OPTIONS request to the endpoint unless one was started
    // less than 60,000 ms ago; a newer warm-up cancels an older one. Returns at once.
    void prewarm() override;

    // Drains the stream: partial texts are dropped, the terminal event becomes the result.
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) override;
    // Sends the correction and reports the reply: partial texts, each the whole trimmed text so
    // far and each different from the one before, then exactly one terminal event.
    void streamCorrection(const QNModelCorrectionRequest& request, std::stop_token stopToken,
                          const QNModelCorrectionStreamSink& sink) override;

    // `version` when it is one of the versions the service accepts, else absent.
    [[nodiscard]] static std::optional<std::string> hostedPromptVersionIfDeployable(
        const std::optional<std::string>& version);

    [[nodiscard]] const Configuration& configuration() const { return configuration_; }
    [[nodiscard]] const std::string& prompt() const { return prompt_; }
    [[nodiscard]] const std::optional<std::string>& promptVersion() const { return promptVersion_; }
    // When the last accepted warm-up started (on the provider's clock).
    [[nodiscard]] std::optional<Instant> lastPrewarmAt() const;

  private:
    QNModelCorrectionStreamEvent runStream(const QNModelCorrectionRequest& request,
                                           const std::string& bearerToken,
                                           const std::string& sessionToken,
                                           std::stop_token stopToken,
                                           const QNModelCorrectionStreamSink& sink) const;

    std::string providerID_;
    Configuration configuration_;
    std::string prompt_;
    std::optional<std::string> promptVersion_;
    TokenProvider bearerTokenProvider_;
    TokenProvider sessionTokenProvider_;
    RequestIDProvider requestIDProvider_;
    std::shared_ptr<const net::HttpClient> httpClient_;
    std::shared_ptr<const Clock> clock_;

    mutable std::mutex prewarmMutex_;
    std::optional<Instant> lastPrewarmAt_;
    std::jthread prewarmTask_;
};

// The time a warm-up may take: 2.0 seconds, or the request time-out when that is shorter.
[[nodiscard]] std::chrono::milliseconds hostedProxyWarmUpTimeout(
    const QNProviderHostedProxyCorrection::Configuration& configuration);

}  // namespace ravlin
