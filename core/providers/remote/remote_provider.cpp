#include "core/providers/remote/remote_provider.h"

#include <cmath>
#include <utility>

#include "core/net/response_lines.h"
#include "core/providers/online_provider_support.h"
#include "core/providers/retry_after.h"
#include "core/records/prompt_catalogue.h"
#include "core/records/raw_value.h"
#include "core/text/unicode.h"
#include "core/text/utf8.h"

namespace ravlin {

namespace {

constexpr const char* kNotConfigured = "Online Model Not Configured";
constexpr const char* kMalformed = "Online correction malformed response";

QNModelCorrectionProviderResult failedForTransport(const net::HttpError& error) {
    return transportFailureResult(error, "Online correction timed out",
                                  "Online correction network error: ",
                                  "Online correction could not connect");
}

}  // namespace

bool operator==(const QNProviderRemoteCorrection::Configuration& a,
                const QNProviderRemoteCorrection::Configuration& b) {
    return a.endpoint == b.endpoint &&
           text::canonicallyEqual(std::string_view(a.model), std::string_view(b.model)) &&
           a.timeoutSeconds == b.timeoutSeconds &&
           text::canonicallyEqual(std::string_view(a.providerID), std::string_view(b.providerID));
}

QNProviderRemoteCorrection::QNProviderRemoteCorrection(
    Configuration configuration, std::string prompt, std::optional<std::string> promptVersion,
    APIKeyProvider apiKeyProvider, std::shared_ptr<const net::HttpClient> httpClient,
    std::shared_ptr<const Clock> clock)
    : providerID_(configuration.providerID),
      configuration_(std::move(configuration)),
      prompt_(std::move(prompt)),
      promptVersion_(std::move(promptVersion)),
      apiKeyProvider_(std::move(apiKeyProvider)),
      httpClient_(httpClient ? std::move(httpClient) : net::HttpClient::shared()),
      clock_(clock ? std::move(clock) : Clock::system()) {}

std::optional<std::string> QNProviderRemoteCorrection::currentAPIKey() const {
    return resolvedCredential(apiKeyProvider_);
}

bool QNProviderRemoteCorrection::isConfigured() const {
    return currentAPIKey() && !text::trimmedWhitespaceAndNewlines(configuration_.model).empty();
}

QNModelCorrectionProviderDiagnostics QNProviderRemoteCorrection::diagnostics() const {
    QNModelCorrectionProviderDiagnostics diagnostics;
    diagnostics.providerID = providerID_;
    diagnostics.route = QNModelCorrectionRoute::remote;
    diagnostics.providerName = "Hosted Online";
    diagnostics.model = configuration_.model;
    diagnostics.endpointHost = net::hostOfURL(configuration_.endpoint);
    diagnostics.promptVersion = std::string(
        QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online).rawValue());
    return diagnostics;
}

QNModelAvailabilitySummary QNProviderRemoteCorrection::availabilitySummary() {
    if (isConfigured()) {
        return {true, "Online Model Ready", "Online correction is configured."};
    }
    return {false, kNotConfigured, "Online correction needs an endpoint, model, and API token."};
}

QNModelCorrectionProviderResult QNProviderRemoteCorrection::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken) {
    const auto key = currentAPIKey();
    if (!key || text::trimmedWhitespaceAndNewlines(configuration_.model).empty()) {
        return QNModelCorrectionProviderResult::unavailable(kNotConfigured);
    }
    auto result = send(request, *key, stopToken);
    // Whatever broke after a stop request was the stop's doing: the answer is cancelled.
    if (stopToken.stop_requested() &&
        result.kind() == QNModelCorrectionProviderResult::Kind::failed) {
        return QNModelCorrectionProviderResult::cancelled();
    }
    return result;
}

QNModelCorrectionProviderResult QNProviderRemoteCorrection::send(
    const QNModelCorrectionRequest& request, const std::string& key,
    std::stop_token stopToken) const {
    QNModelRemoteCorrectionRequest body;
    body.model = configuration_.model;
    body.instructions = request.instructions(prompt_);
    body.input = text::toUtf8(request.modelInputText());
    body.maximumResponseTokens = request.maximumResponseTokens;
    body.localeIdentifier = request.localeIdentifier;
    body.promptVersion = promptVersion_;

    net::HttpRequest http;
    http.method = "POST";
    http.url = configuration_.endpoint;
    http.headers = {{"Content-Type", "application/json"},
                    {"Accept", "application/json"},
                    {"Authorization", "Bearer " + key}};
    http.timeout = net::durationFromSeconds(configuration_.timeoutSeconds);
    http.body = body.encoded();
    if (!http.body) {
        return QNModelCorrectionProviderResult::failed(
            "Online correction failed: The data couldn't be written because it isn't in the "
            "correct format.");
    }

    // The service asked to be left alone for a while: nothing goes out until then.
    auto& gate = QNRetryAfterGate::shared();
    if (const auto left = gate.remaining(configuration_.providerID)) {
        return QNModelCorrectionProviderResult::failed(
            retryAfterWaitText("Online correction", *left));
    }
    const Instant start = clock_->now();
    auto opened = httpClient_->open(http, stopToken);
    if (!opened.response) {
        return failedForTransport(opened.error);
    }
    net::HttpResponse& response = *opened.response;
    gate.noteReply(configuration_.providerID, response.status(), response.headers());
    if (response.status() < 100) {
        return QNModelCorrectionProviderResult::failed(
            "Online correction returned a non-HTTP response");
    }
    if (const auto failure = remoteCorrectionStatusFailure(response.status())) {
        return QNModelCorrectionProviderResult::failed(*failure);  // the body is not read
    }

    // The reply is kept up to a generous limit; each wait for more of it is bounded by the
    // request's time-out, as the wait for its head was.
    std::string reply;
    while (true) {
        const auto read = response.read(std::chrono::steady_clock::now() + http.timeout);
        if (read.kind == net::HttpResponse::Read::Kind::end) {
            break;
        }
        if (read.kind == net::HttpResponse::Read::Kind::failed) {
            return failedForTransport(read.error);
        }
        if (read.bytes.size() > kRemoteCorrectionReplyLimit - reply.size()) {
            return QNModelCorrectionProviderResult::failed(kMalformed);
        }
        reply.append(read.bytes);
    }
    const double measured = millisecondsBetween(start, clock_->now());

    QNModelRemoteCorrectionResponse decoded;
    try {
        decoded = QNModelRemoteCorrectionResponse::decode(reply);
    } catch (const DecodingError&) {
        return QNModelCorrectionProviderResult::failed(kMalformed);
    }

    double latency = measured;
    std::optional<QNModelCorrectionUsage> usage;
    if (const auto& metadata = decoded.metadata) {
        // A latency given as text may read as infinite or not a number; such a figure is no
        // latency at all, and the measured one stands.
        if (metadata->latencyMilliseconds && std::isfinite(*metadata->latencyMilliseconds)) {
            latency = *metadata->latencyMilliseconds;
        }
        if (metadata->inputTokens || metadata->outputTokens || metadata->totalTokens ||
            metadata->cachedTokens) {
            QNModelCorrectionUsage counts;
            counts.inputTokens = metadata->inputTokens;
            counts.outputTokens = metadata->outputTokens;
            counts.totalTokens = metadata->totalTokens;
            counts.cachedTokens = metadata->cachedTokens;
            usage = counts;
        }
    }
    return QNModelCorrectionProviderResult::success(QNModelCorrectionResponse(
        request.text, text::toUtf16(decoded.correctedText), latency, usage));
}

}  // namespace ravlin
