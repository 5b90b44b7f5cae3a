#include "core/providers/hosted-proxy/hosted_proxy_provider.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/net/response_lines.h"
#include "core/net/sse_line_reader.h"
#include "core/providers/online_provider_support.h"
#include "core/providers/retry_after.h"
#include "core/records/raw_value.h"
#include "core/support/uuid.h"
#include "core/text/unicode.h"
#include "core/text/utf8.h"

namespace ravlin {

namespace {

constexpr const char* kNotConfiguredTitle = "Hosted Online Not Configured";
constexpr double kPrewarmSpacingMilliseconds = 60'000.0;
constexpr double kPrewarmTimeoutCapSeconds = 2.0;
// What a warm-up reads of a reply before it lets the reply go.
constexpr std::size_t kPrewarmReplyLimit = 64 * 1024;

QNModelCorrectionStreamEvent failed(const QNErrorHostedProxyStreaming::Kind kind) {
    return QNModelCorrectionStreamEvent::failed(
        QNErrorHostedProxyStreaming::of(kind).failureText());
}

QNModelCorrectionStreamEvent failedForTransport(const net::HttpError& error) {
    return QNModelCorrectionStreamEvent::from(transportFailureResult(
        error, "Hosted proxy request timed out", "Hosted proxy network error: ",
        "Hosted proxy could not connect"));
}

}  // namespace

std::chrono::milliseconds hostedProxyWarmUpTimeout(
    const QNProviderHostedProxyCorrection::Configuration& configuration) {
    return net::durationFromSeconds(
        std::min(kPrewarmTimeoutCapSeconds, configuration.timeoutSeconds));
}

QNProviderHostedProxyCorrection::QNProviderHostedProxyCorrection(
    Configuration configuration, std::string prompt, std::optional<std::string> promptVersion,
    TokenProvider bearerTokenProvider, TokenProvider sessionTokenProvider,
    RequestIDProvider requestIDProvider, std::shared_ptr<const net::HttpClient> httpClient,
    std::shared_ptr<const Clock> clock)
    : providerID_(configuration.providerID),
      configuration_(std::move(configuration)),
      prompt_(std::move(prompt)),
      promptVersion_(std::move(promptVersion)),
      bearerTokenProvider_(std::move(bearerTokenProvider)),
      sessionTokenProvider_(std::move(sessionTokenProvider)),
      requestIDProvider_(std::move(requestIDProvider)),
      httpClient_(httpClient ? std::move(httpClient) : net::HttpClient::shared()),
      clock_(clock ? std::move(clock) : Clock::system()) {}

QNProviderHostedProxyCorrection::~QNProviderHostedProxyCorrection() {
    std::lock_guard lock(prewarmMutex_);
    if (prewarmTask_.joinable()) {
        prewarmTask_.request_stop();
        prewarmTask_.join();
    }
}

std::optional<std::string> QNProviderHostedProxyCorrection::hostedPromptVersionIfDeployable(
    const std::optional<std::string>& version) {
    if (!version) {
        return std::nullopt;
    }
    for (const auto deployable : kHostedProxyDeployablePromptVersions) {
        if (*version == deployable) {
            return version;
        }
    }
    return std::nullopt;
}

QNModelCorrectionProviderDiagnostics QNProviderHostedProxyCorrection::diagnostics() const {
    QNModelCorrectionProviderDiagnostics diagnostics;
    diagnostics.providerID = providerID_;
    diagnostics.route = QNModelCorrectionRoute::remote;
    diagnostics.providerName = "Hosted Proxy";
    diagnostics.model = "server-controlled";
    diagnostics.endpointHost = net::hostOfURL(configuration_.endpoint);
    diagnostics.promptVersion = promptVersion_;
    return diagnostics;
}

QNModelAvailabilitySummary QNProviderHostedProxyCorrection::availabilitySummary() {
    const bool configured =
        resolvedCredential(bearerTokenProvider_) && resolvedCredential(sessionTokenProvider_);
    if (configured) {
        return {true, "Hosted Online Ready", "Hosted correction is configured."};
    }
    return {false, kNotConfiguredTitle,
            "Hosted correction needs an endpoint, session token, and authorization token."};
}

std::optional<Instant> QNProviderHostedProxyCorrection::lastPrewarmAt() const {
    std::lock_guard lock(prewarmMutex_);
    return lastPrewarmAt_;
}

void QNProviderHostedProxyCorrection::prewarm() {
    if (!resolvedCredential(bearerTokenProvider_) || !resolvedCredential(sessionTokenProvider_)) {
        return;
    }
    std::lock_guard lock(prewarmMutex_);
    const Instant now = clock_->now();
    if (lastPrewarmAt_ && millisecondsBetween(*lastPrewarmAt_, now) < kPrewarmSpacingMilliseconds) {
        return;
    }
    // Counted before the request goes out, so a failed warm-up counts too.
    lastPrewarmAt_ = now;
    if (prewarmTask_.joinable()) {
        prewarmTask_.request_stop();  // the transfer answers a stop at once
        prewarmTask_.join();
    }
    net::HttpRequest request;
    request.method = "OPTIONS";
    request.url = configuration_.endpoint;
    request.timeout = hostedProxyWarmUpTimeout(configuration_);
    prewarmTask_ = std::jthread([client = httpClient_, request](std::stop_token stop) {
        auto opened = client->open(request, stop);
        if (opened.response) {
            // The reply is read and let go; nothing depends on it.
            (void)opened.response->readPrefix(kPrewarmReplyLimit,
                                              std::chrono::steady_clock::now() + request.timeout);
        }
    });
}

QNModelCorrectionProviderResult QNProviderHostedProxyCorrection::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken) {
    // A caller that went away is told so, never that the stream failed.
    return drainedStreamResult(request, std::move(stopToken), "Hosted proxy",
                               StopOutcome::failureBecomesCancelled);
}

void QNProviderHostedProxyCorrection::streamCorrection(const QNModelCorrectionRequest& request,
                                                       std::stop_token stopToken,
                                                       const QNModelCorrectionStreamSink& sink) {
    const auto bearerToken = resolvedCredential(bearerTokenProvider_);
    const auto sessionToken =
        bearerToken ? resolvedCredential(sessionTokenProvider_) : std::nullopt;
    if (!bearerToken || !sessionToken) {
        sink(QNModelCorrectionStreamEvent::unavailable(kNotConfiguredTitle));
        return;
    }
    QNModelCorrectionStreamEvent terminal =
        runStream(request, *bearerToken, *sessionToken, stopToken, sink);
    // Whatever broke after a stop request was the stop's doing: the answer is cancelled.
    if (stopToken.stop_requested() &&
        terminal.kind() == QNModelCorrectionStreamEvent::Kind::failed) {
        terminal = QNModelCorrectionStreamEvent::cancelled();
    }
    sink(std::move(terminal));
}

QNModelCorrectionStreamEvent QNProviderHostedProxyCorrection::runStream(
    const QNModelCorrectionRequest& request, const std::string& bearerToken,
    const std::string& sessionToken, std::stop_token stopToken,
    const QNModelCorrectionStreamSink& sink) const {
    using Kind = QNErrorHostedProxyStreaming::Kind;

    QNModelHostedProxyCorrectionRequest body;
    body.sessionToken = sessionToken;
    body.requestID = requestIDProvider_ ? requestIDProvider_() : Uuid::random().uppercaseString();
    body.instructions = request.instructions(prompt_);
    body.input = text::toUtf8(request.modelInputText());
    body.maximumResponseTokens = request.maximumResponseTokens;
    body.localeIdentifier = request.localeIdentifier;
    body.promptVersion = hostedPromptVersionIfDeployable(promptVersion_);
    const auto idle = net::durationFromSeconds(configuration_.streamIdleTimeoutSeconds);
    const auto total = net::durationFromSeconds(configuration_.streamTotalDeadlineSeconds);

    net::HttpRequest http;
    http.method = "POST";
    http.url = configuration_.endpoint;
    http.headers = {{"Content-Type", "application/json"},
                    {"Accept", "text/event-stream"},
                    {"Authorization", "Bearer " + bearerToken},
                    {"apikey", bearerToken}};
    http.timeout = net::durationFromSeconds(configuration_.timeoutSeconds);
    http.body = body.encoded();
    if (!http.body) {
        return QNModelCorrectionStreamEvent::failed(
            "Hosted proxy request failed: The data couldn't be written because it isn't in the "
            "correct format.");
    }

    // The service asked to be left alone for a while: nothing goes out until then.
    auto& gate = QNRetryAfterGate::shared();
    if (const auto left = gate.remaining(providerID_)) {
        return QNModelCorrectionStreamEvent::failed(retryAfterWaitText("Hosted proxy", *left));
    }
    const Instant start = clock_->now();
    const Instant deadline = std::chrono::steady_clock::now() + total;
    auto opened = httpClient_->open(http, stopToken);
    if (!opened.response) {
        return failedForTransport(opened.error);
    }
    net::HttpResponse& response = *opened.response;
    gate.noteReply(providerID_, response.status(), response.headers());

    if (!response.isSuccess()) {
        const auto prefix = response.readPrefix(kHostedProxyErrorBodyLimit,
                                                std::chrono::steady_clock::now() + http.timeout);
        if (stopToken.stop_requested()) {
            return QNModelCorrectionStreamEvent::cancelled();
        }
        return QNModelCorrectionStreamEvent::failed(
            hostedProxyHTTPErrorText(response.status(), prefix.bytes, prefix.reachedLimit));
    }

    QNParserHostedProxyStreamEvent parser;
    // The output only ever grows at its end (a done event replaces it only with a text that
    // begins with it), so the published text, the output trimmed, is known by where it starts
    // and ends; each event needs only a look at what it added.
    std::optional<std::size_t> publishedStart;
    std::size_t publishedEnd = 0;
    const std::size_t answerLimit = streamedAnswerByteLimit(request);
    const auto published = [&] {
        return std::string_view(parser.output)
            .substr(*publishedStart, publishedEnd - *publishedStart);
    };
    net::ResponseByteSource bytes(response);
    net::SseLineReader reader(bytes, net::SseLineReader::kDefaultMaxLineBytes);
    std::string firstLine;  // the reply's first line that is not blank, its start
    while (true) {
        if (stopToken.stop_requested()) {
            return QNModelCorrectionStreamEvent::cancelled();
        }
        const Instant idleUntil = std::chrono::steady_clock::now() + idle;
        bytes.until = std::min(idleUntil, deadline);
        std::string_view line;
        switch (reader.readLine(line)) {
            case net::SseLineStatus::line:
                break;
            case net::SseLineStatus::end: {
                if (stopToken.stop_requested()) {
                    return QNModelCorrectionStreamEvent::cancelled();
                }
                if (!publishedStart) {
                    if (const auto kind = unexpectedReplyKind(response.headers(), firstLine)) {
                        return QNModelCorrectionStreamEvent::failed(
                            "Hosted proxy returned an unexpected response (" + *kind + ")");
                    }
                    return QNModelCorrectionStreamEvent::failed(
                        "Hosted proxy returned empty response");
                }
                // Text but no word that it is whole: the rest of the answer was lost (a cut
                // connection ends a body like any other), and the text so far must not stand in
                // for the answer.
                if (!parser.answerEnded) {
                    return QNModelCorrectionStreamEvent::failed(
                        std::string(kHostedProxyIncompleteText));
                }
                const double latency = millisecondsBetween(start, clock_->now());
                return QNModelCorrectionStreamEvent::completed(
                    QNModelCorrectionResponse(request.text, text::toUtf16(published()), latency,
                                              normalizedUsage(parser.usage)));
            }
            case net::SseLineStatus::payloadTooLarge:
                return failed(Kind::payloadTooLarge);
            case net::SseLineStatus::malformed:
                return failed(Kind::malformed);
            case net::SseLineStatus::sourceFailed:
                if (bytes.error.kind == net::HttpError::Kind::timedOut) {
                    return failed(deadline <= idleUntil ? Kind::totalDeadlineExceeded
                                                        : Kind::idleTimeout);
                }
                return failedForTransport(bytes.error);
        }
        if (stopToken.stop_requested()) {
            return QNModelCorrectionStreamEvent::cancelled();
        }

        rememberFirstLine(firstLine, line);
        const auto payload = hostedProxyEventPayload(line);
        if (!payload) {
            parser.answerEnded = parser.answerEnded || hostedProxyIsDoneLine(line);
            continue;
        }
        QNModelHostedProxyStreamEvent event;
        try {
            event = QNModelHostedProxyStreamEvent::decode(*payload);
        } catch (const DecodingError&) {
            return QNModelCorrectionStreamEvent::failed("Hosted proxy malformed response");
        }
        const std::size_t folded = parser.output.size();
        if (const auto failure = parser.consume(event)) {
            return QNModelCorrectionStreamEvent::failed(failure->failureText());
        }
        if (parser.output.size() > answerLimit) {
            return failed(Kind::payloadTooLarge);
        }
        // What the event added, trimmed: its last visible character ends the published text.
        const std::string_view added =
            text::trimmedWhitespaceAndNewlines(std::string_view(parser.output).substr(folded));
        if (added.empty()) {
            continue;  // nothing visible changed: no comparison, no conversion
        }
        const auto offset = [&](const char* at) {
            return static_cast<std::size_t>(at - parser.output.data());
        };
        if (!publishedStart) {
            publishedStart = offset(added.data());
        }
        publishedEnd = offset(added.data() + added.size());
        sink(QNModelCorrectionStreamEvent::partial(text::toUtf16(published())));
    }
}

}  // namespace ravlin
