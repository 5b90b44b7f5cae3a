#include "core/providers/openai/openai_stream.h"

#include "core/providers/failure_text.h"
#include "core/providers/online_provider_support.h"
#include "core/records/raw_value.h"
#include "core/text/utf8.h"

namespace ravlin {

namespace {

const std::optional<std::string>& errorMessage(const QNModelOpenAIStreamEvent& event) {
    static const std::optional<std::string> none;
    return event.error ? event.error->message : none;
}

const std::optional<std::string>& incompleteReason(const QNModelOpenAIStreamEvent& event) {
    static const std::optional<std::string> none;
    if (event.response && event.response->incompleteDetails) {
        return event.response->incompleteDetails->reason;
    }
    return none;
}

bool holdsTokenCount(const std::optional<QNModelCorrectionAPIMetadata>& metadata) {
    return metadata && (metadata->inputTokens || metadata->outputTokens || metadata->totalTokens ||
                        metadata->cachedTokens);
}

}  // namespace

std::string QNErrorOpenAIStreaming::failureText() const {
    switch (kind) {
        case Kind::failed:
            return message;
        case Kind::malformed:
            return "OpenAI malformed stream";
        case Kind::idleTimeout:
            return "OpenAI idle timeout";
        case Kind::payloadTooLarge:
            return "OpenAI event payload too large";
        case Kind::totalDeadlineExceeded:
            return "OpenAI total stream deadline exceeded";
    }
    return message;
}

QNParserOpenAIStreamEvent::Line QNParserOpenAIStreamEvent::parseLine(std::string_view line) const {
    using Kind = Line::Kind;
    const auto tooLarge = [&](std::string_view bytes) {
        return static_cast<std::int64_t>(bytes.size()) > maxEventByteSize;
    };
    if (tooLarge(line)) {
        return {Kind::payloadTooLarge, std::nullopt};
    }
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(line);
    if (trimmed.empty() || !trimmed.starts_with("data:")) {
        return {Kind::none, std::nullopt};
    }
    const std::string_view payload = text::trimmedHorizontalWhitespace(trimmed.substr(5));
    if (tooLarge(payload)) {
        return {Kind::payloadTooLarge, std::nullopt};
    }
    if (payload == "[DONE]") {
        return {Kind::none, std::nullopt};
    }
    try {
        return {Kind::event, QNModelOpenAIStreamEvent::decode(payload)};
    } catch (const DecodingError&) {
        return {Kind::undecodable, std::nullopt};
    }
}

std::optional<QNErrorOpenAIStreaming> QNParserOpenAIStreamEvent::consume(
    const QNModelOpenAIStreamEvent& event) {
    const std::string_view type = event.type;
    if (type == "response.output_text.delta") {
        if (event.delta && !event.delta->empty()) {
            output += *event.delta;
            ++outputRevision;
        }
        return std::nullopt;
    }
    if (type == "response.output_text.done") {
        answerEnded = true;
        if (event.text && !event.text->empty() && *event.text != output) {
            output = *event.text;
            ++outputRevision;
        }
        return std::nullopt;
    }
    if (type == "response.completed") {
        answerEnded = true;
        const std::optional<QNModelCorrectionAPIMetadata>* candidates[] = {
            event.response ? &event.response->usage : nullptr,
            event.response ? &event.response->metadata : nullptr,
            &event.usage,
            &event.metadata,
        };
        for (const auto* candidate : candidates) {
            if (candidate != nullptr && holdsTokenCount(*candidate)) {
                const QNModelCorrectionAPIMetadata& counts = **candidate;
                QNModelCorrectionUsage report;
                report.inputTokens = counts.inputTokens;
                report.outputTokens = counts.outputTokens;
                report.totalTokens = counts.totalTokens;
                report.cachedTokens = counts.cachedTokens;
                usage = report;
                break;
            }
        }
        return std::nullopt;
    }
    if (type == "response.failed") {
        if (const auto message = shownMessage(errorMessage(event))) {
            return QNErrorOpenAIStreaming::failed(*message);
        }
        return QNErrorOpenAIStreaming::failed("OpenAI response failed");
    }
    if (type == "response.incomplete") {
        if (const auto message = shownMessage(errorMessage(event))) {
            return QNErrorOpenAIStreaming::failed(*message);
        }
        if (const auto reason = shownMessage(incompleteReason(event))) {
            return QNErrorOpenAIStreaming::failed(
                condensedFailureText("OpenAI response incomplete: " + *reason));
        }
        return QNErrorOpenAIStreaming::failed("OpenAI response incomplete");
    }
    if (type == "error") {
        if (const auto message = shownMessage(event.message)) {
            return QNErrorOpenAIStreaming::failed(*message);
        }
        if (const auto message = shownMessage(errorMessage(event))) {
            return QNErrorOpenAIStreaming::failed(*message);
        }
        return QNErrorOpenAIStreaming::failed("OpenAI stream error");
    }
    return std::nullopt;
}

}  // namespace ravlin
