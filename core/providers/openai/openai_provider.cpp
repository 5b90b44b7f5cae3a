#include "core/providers/openai/openai_provider.h"

#include <algorithm>
#include <utility>

#include "core/net/response_lines.h"
#include "core/net/sse_line_reader.h"
#include "core/providers/online_provider_support.h"
#include "core/providers/retry_after.h"
#include "core/records/prompt_catalogue.h"
#include "core/text/unicode.h"
#include "core/text/utf8.h"

namespace ravlin {

namespace {

constexpr const char* kKeyNotConfigured = "OpenAI Key Not Configured";

QNModelCorrectionStreamEvent failed(QNErrorOpenAIStreaming::Kind kind) {
    return QNModelCorrectionStreamEvent::failed(QNErrorOpenAIStreaming::of(kind).failureText());
}

QNModelCorrectionStreamEvent failedForTransport(const net::HttpError& error) {
    return QNModelCorrectionStreamEvent::from(
        transportFailureResult(error, "OpenAI request timed out", "OpenAI network error: ",
                               "OpenAI could not connect"));
}

}  // namespace

bool operator==(const QNProviderOpenAICorrection::Configuration& a,
                const QNProviderOpenAICorrection::Configuration& b) {
    return text::canonicallyEqual(std::string_view(a.model), std::string_view(b.model)) &&
           a.timeoutSeconds == b.timeoutSeconds &&
           a.streamIdleTimeoutSeconds == b.streamIdleTimeoutSeconds &&
           a.streamTotalDeadlineSeconds == b.streamTotalDeadlineSeconds &&
           text::canonicallyEqual(std::string_view(a.providerID), std::string_view(b.providerID));
}

QNProviderOpenAICorrection::QNProviderOpenAICorrection(
    Configuration configuration, std::string prompt, APIKeyProvider apiKeyProvider,
    std::shared_ptr<const net::HttpClient> httpClient, std::shared_ptr<const Clock> clock,
    std::string baseURL)
    : providerID_(configuration.providerID),
      configuration_(std::move(configuration)),
      prompt_(std::move(prompt)),
      apiKeyProvider_(std::move(apiKeyProvider)),
      httpClient_(httpClient ? std::move(httpClient) : net::HttpClient::shared()),
      clock_(clock ? std::move(clock) : Clock::system()),
      responsesURL_(std::move(baseURL) + std::string(kOpenAIResponsesPath)) {}

const std::string& QNProviderOpenAICorrection::responsesEndpoint() {
    static const std::string endpoint =
        std::string(kOpenAIAPIBaseURL) + std::string(kOpenAIResponsesPath);
    return endpoint;
}

const std::string& QNProviderOpenAICorrection::modelsEndpoint() {
    static const std::string endpoint =
        std::string(kOpenAIAPIBaseURL) + std::string(kOpenAIModelsPath);
    return endpoint;
}

QNModelCorrectionProviderDiagnostics QNProviderOpenAICorrection::diagnostics() const {
    QNModelCorrectionProviderDiagnostics diagnostics;
    diagnostics.providerID = providerID_;
    diagnostics.route = QNModelCorrectionRoute::remote;
    diagnostics.providerName = "OpenAI";
    diagnostics.model = configuration_.model;
    diagnostics.endpointHost = net::hostOfURL(responsesURL_);
    diagnostics.promptVersion = std::string(
        QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online).rawValue());
    return diagnostics;
}

QNModelAvailabilitySummary QNProviderOpenAICorrection::availabilitySummary() {
    if (resolvedCredential(apiKeyProvider_) && trimmedNonBlank(configuration_.model)) {
        return {true, "OpenAI Ready", "Correction goes directly to OpenAI using your key."};
    }
    return {false, kKeyNotConfigured,
            "Add your OpenAI API key in Settings to use bring-your-own-key correction."};
}

QNModelCorrectionProviderResult QNProviderOpenAICorrection::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken) {
    // A caller that went away is told so, whatever the stream ended with.
    return drainedStreamResult(request, std::move(stopToken), "OpenAI", StopOutcome::cancelled);
}

void QNProviderOpenAICorrection::streamCorrection(const QNModelCorrectionRequest& request,
                                                  std::stop_token stopToken,
                                                  const QNModelCorrectionStreamSink& sink) {
    const auto key = resolvedCredential(apiKeyProvider_);
    if (!key) {
        sink(QNModelCorrectionStreamEvent::unavailable(kKeyNotConfigured));
        return;
    }
    const auto model = trimmedNonBlank(configuration_.model);
    if (!model) {
        sink(QNModelCorrectionStreamEvent::unavailable("OpenAI model not selected"));
        return;
    }
    QNModelCorrectionStreamEvent terminal = runStream(request, *key, *model, stopToken, sink);
    // Whatever broke after a stop request was the stop's doing: the answer is cancelled.
    if (stopToken.stop_requested() &&
        terminal.kind() == QNModelCorrectionStreamEvent::Kind::failed) {
        terminal = QNModelCorrectionStreamEvent::cancelled();
    }
    sink(std::move(terminal));
}

QNModelCorrectionStreamEvent QNProviderOpenAICorrection::runStream(
    const QNModelCorrectionRequest& request, const std::string& key, const std::string& model,
    std::stop_token stopToken, const QNModelCorrectionStreamSink& sink) const {
    using Kind = QNErrorOpenAIStreaming::Kind;

    QNModelOpenAIResponsesRequest body;
    body.model = model;
    body.instructions = request.instructions(prompt_);
    body.input = text::toUtf8(request.modelInputText());
    body.maxOutputTokens = request.maximumResponseTokens;
    body.promptCacheKey = openAIPromptCacheKey(body.instructions);
    body.promptCacheRetention = "in_memory";
    if (openAIModelTakesReasoning(model)) {
        body.reasoning = QNModelOpenAIResponseReasoning{"minimal"};
    }
    body.store = false;
    body.stream = true;
    body.text.format.type = "text";
    const auto idle = net::durationFromSeconds(configuration_.streamIdleTimeoutSeconds);
    const auto total = net::durationFromSeconds(configuration_.streamTotalDeadlineSeconds);

    net::HttpRequest http;
    http.method = "POST";
    http.url = responsesURL_;
    http.headers = {{"Content-Type", "application/json"},
                    {"Accept", "application/json"},
                    {"Authorization", "Bearer " + key}};
    http.timeout = net::durationFromSeconds(configuration_.timeoutSeconds);
    http.body = body.encoded();
    if (!http.body) {
        return QNModelCorrectionStreamEvent::failed(
            "OpenAI request failed: The data couldn't be written because it isn't in the correct "
            "format.");
    }

    // The service asked to be left alone for a while: nothing goes out until then.
    auto& gate = QNRetryAfterGate::shared();
    if (const auto left = gate.remaining(providerID_)) {
        return QNModelCorrectionStreamEvent::failed(retryAfterWaitText("OpenAI", *left));
    }
    const Instant start = clock_->now();
    const Instant deadline = std::chrono::steady_clock::now() + total;
    auto opened = httpClient_->open(http, stopToken);
    if (!opened.response) {
        return failedForTransport(opened.error);
    }
    net::HttpResponse& response = *opened.response;
    gate.noteReply(providerID_, response.status(), response.headers());

    if (response.status() < 100) {
        return QNModelCorrectionStreamEvent::failed("OpenAI returned a non-HTTP response");
    }
    if (!response.isSuccess()) {
        const auto prefix = response.readPrefix(kOpenAIErrorBodyLimit,
                                                std::chrono::steady_clock::now() + http.timeout);
        if (stopToken.stop_requested()) {
            return QNModelCorrectionStreamEvent::cancelled();
        }
        // A body that could not be read whole up to the limit leaves no text.
        const std::optional<std::string> bodyText =
            prefix.error ? std::nullopt : openAIErrorBodyText(prefix.bytes, prefix.reachedLimit);
        return QNModelCorrectionStreamEvent::failed(
            openAIHTTPErrorMessage(response.status(), bodyText));
    }

    QNParserOpenAIStreamEvent parser;
    // Every change of the output is yielded as it happens, so the text last yielded is always
    // the parser's output once one was.
    bool yielded = false;
    std::uint64_t yieldedRevision = 0;
    const std::size_t answerLimit = streamedAnswerByteLimit(request);
    net::ResponseByteSource bytes(response);
    net::SseLineReader reader(bytes, QNParserOpenAIStreamEvent::kMaxEventByteSize);
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
                const double latency = millisecondsBetween(start, clock_->now());
                if (!yielded) {
                    if (const auto kind = unexpectedReplyKind(response.headers(), firstLine)) {
                        return QNModelCorrectionStreamEvent::failed(
                            "OpenAI returned an unexpected response (" + *kind + ")");
                    }
                    return QNModelCorrectionStreamEvent::failed("OpenAI returned empty response");
                }
                // Text but no word that it is whole: the rest of the answer was lost, and the
                // partial text must not stand in for it.
                if (!parser.answerEnded) {
                    return QNModelCorrectionStreamEvent::failed("OpenAI response incomplete");
                }
                return QNModelCorrectionStreamEvent::completed(
                    QNModelCorrectionResponse(request.text, text::toUtf16(parser.output), latency,
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
        const auto parsed = parser.parseLine(line);
        switch (parsed.kind) {
            case QNParserOpenAIStreamEvent::Line::Kind::none:
                continue;
            case QNParserOpenAIStreamEvent::Line::Kind::payloadTooLarge:
                return failed(Kind::payloadTooLarge);
            case QNParserOpenAIStreamEvent::Line::Kind::undecodable:
                return QNModelCorrectionStreamEvent::failed("OpenAI malformed response");
            case QNParserOpenAIStreamEvent::Line::Kind::event:
                break;
        }
        if (const auto failure = parser.consume(*parsed.event)) {
            return QNModelCorrectionStreamEvent::failed(failure->failureText());
        }
        if (parser.outputRevision == yieldedRevision) {
            continue;  // nothing changed: no comparison, no conversion
        }
        if (parser.output.size() > answerLimit) {
            return failed(Kind::payloadTooLarge);
        }
        yieldedRevision = parser.outputRevision;
        yielded = true;
        sink(QNModelCorrectionStreamEvent::partial(text::toUtf16(parser.output)));
    }
}

}  // namespace ravlin
