#include "core/providers/hosted-proxy/hosted_proxy_stream.h"

#include "core/providers/failure_text.h"
#include "core/providers/online_provider_support.h"

namespace ravlin {

namespace {

const std::optional<std::string>& errorMessage(const QNModelHostedProxyStreamEvent& event) {
    static const std::optional<std::string> none;
    return event.error ? event.error->message : none;
}

}  // namespace

std::string QNErrorHostedProxyStreaming::failureText() const {
    switch (kind) {
        case Kind::failed:
            return message;
        case Kind::malformed:
            return "Hosted proxy malformed stream";
        case Kind::idleTimeout:
            return "Hosted proxy idle timeout";
        case Kind::payloadTooLarge:
            return "Hosted proxy event payload too large";
        case Kind::totalDeadlineExceeded:
            return "Hosted proxy total stream deadline exceeded";
    }
    return message;
}

std::optional<QNErrorHostedProxyStreaming> QNParserHostedProxyStreamEvent::consume(
    const QNModelHostedProxyStreamEvent& event) {
    const std::string_view type = event.type ? std::string_view(*event.type) : std::string_view();
    const bool typed = event.type.has_value();

    if (typed && type == "response.output_text.delta") {
        if (event.delta) {
            output += *event.delta;
        }
        return std::nullopt;
    }
    if (typed && type == "response.output_text.done") {
        answerEnded = true;
        if (event.text && !event.text->empty() &&
            (output.empty() || std::string_view(*event.text).starts_with(output))) {
            output = *event.text;
        }
        return std::nullopt;
    }
    if (typed && type == "response.failed") {
        if (const auto message = shownMessage(errorMessage(event))) {
            return QNErrorHostedProxyStreaming::failed(*message);
        }
        return QNErrorHostedProxyStreaming::failed("Hosted proxy response failed");
    }
    if (typed && type == "response.incomplete") {
        if (const auto message = shownMessage(errorMessage(event))) {
            return QNErrorHostedProxyStreaming::failed(*message);
        }
        static const std::optional<std::string> none;
        const auto& reason = event.response && event.response->incompleteDetails
                                 ? event.response->incompleteDetails->reason
                                 : none;
        if (const auto text = shownMessage(reason)) {
            return QNErrorHostedProxyStreaming::failed(
                condensedFailureText("Hosted proxy response incomplete: " + *text));
        }
        return QNErrorHostedProxyStreaming::failed(std::string(kHostedProxyIncompleteText));
    }
    if (typed && type == "error") {
        if (const auto message = shownMessage(event.message)) {
            return QNErrorHostedProxyStreaming::failed(*message);
        }
        if (const auto message = shownMessage(errorMessage(event))) {
            return QNErrorHostedProxyStreaming::failed(*message);
        }
        return QNErrorHostedProxyStreaming::failed("Hosted proxy stream error");
    }
    if (typed && type == "response.completed") {
        answerEnded = true;
    }
    // Any other type, or none: a usage report when it carries a figure.
    if (event.tokensPrompt || event.tokensCompletion || event.tokensCached ||
        event.creditsCharged || event.creditsRemaining) {
        QNModelCorrectionUsage report;
        report.inputTokens = event.tokensPrompt;
        report.outputTokens = event.tokensCompletion;
        report.cachedTokens = event.tokensCached;
        report.creditsCharged = event.creditsCharged;
        report.creditsRemaining = event.creditsRemaining;
        usage = report;
    }
    return std::nullopt;
}

}  // namespace ravlin
