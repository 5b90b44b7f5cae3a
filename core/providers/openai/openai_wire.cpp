#include "core/providers/openai/openai_wire.h"

#include <array>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/services/token_budget.h"
#include "core/net/json_scan.h"
#include "core/providers/json_members.h"
#include "core/records/raw_value.h"
#include "core/text/unicode.h"
#include "core/text/utf8.h"

namespace ravlin {

namespace {

using nlohmann::json;
using namespace json_members;

// A token-count object. Rare on the stream (usually once, at the end), so read through a
// document tree by the shared lenient decoder.
std::optional<QNModelCorrectionAPIMetadata> spanMetadata(const std::optional<net::JsonSpan>& span,
                                                         std::string_view key) {
    const net::JsonSpan* object = spanObject(span, key);
    if (object == nullptr) {
        return std::nullopt;
    }
    return QNModelCorrectionAPIMetadata::decode(parseDocument(object->text));
}

}  // namespace

std::optional<std::string> QNModelOpenAIResponsesRequest::encoded() const {
    nlohmann::ordered_json body;
    body["model"] = model;
    body["instructions"] = instructions;
    body["input"] = input;
    body["max_output_tokens"] = maxOutputTokens;
    body["prompt_cache_key"] = promptCacheKey;
    body["prompt_cache_retention"] = promptCacheRetention;
    if (reasoning) {
        body["reasoning"] = nlohmann::ordered_json{{"effort", reasoning->effort}};
    }
    body["store"] = store;
    body["stream"] = stream;
    body["text"] = nlohmann::ordered_json{{"format", {{"type", text.format.type}}}};
    return compactText(body);
}

QNModelOpenAIResponsesRequest QNModelOpenAIResponsesRequest::decode(std::string_view text) {
    const json object = parseObject(text);
    QNModelOpenAIResponsesRequest request;
    request.model = requiredString(object, "model");
    request.instructions = requiredString(object, "instructions");
    request.input = requiredString(object, "input");
    request.maxOutputTokens = requiredInteger(object, "max_output_tokens");
    request.promptCacheKey = requiredString(object, "prompt_cache_key");
    request.promptCacheRetention = requiredString(object, "prompt_cache_retention");
    if (const json* reasoning = optionalObject(object, "reasoning")) {
        request.reasoning = QNModelOpenAIResponseReasoning{requiredString(*reasoning, "effort")};
    }
    request.store = requiredBool(object, "store");
    request.stream = requiredBool(object, "stream");
    const json& textObject = requiredObject(object, "text");
    const json& format = requiredObject(textObject, "format");
    request.text.format.type = requiredString(format, "type");
    return request;
}

QNModelOpenAIStreamEvent QNModelOpenAIStreamEvent::decode(std::string_view text) {
    // One event per line of the reply: read with the scanner rather than a document tree.
    net::JsonObjectScanner scanner;
    const auto top = scanObject<8>(
        scanner, text,
        {"type", "delta", "text", "message", "error", "response", "usage", "metadata"});
    QNModelOpenAIStreamEvent event;
    auto type = spanString(top.values[0], "type");
    if (!type) {
        throw missing("type");
    }
    event.type = std::move(*type);
    event.delta = spanString(top.values[1], "delta");
    event.text = spanString(top.values[2], "text");
    event.message = spanString(top.values[3], "message");
    if (const auto* error = spanObject(top.values[4], "error")) {
        const auto members = scanObject<1>(scanner, error->text, {"message"});
        event.error = ErrorDetails{spanString(members.values[0], "message")};
    }
    if (const auto* response = spanObject(top.values[5], "response")) {
        const auto members =
            scanObject<3>(scanner, response->text, {"usage", "metadata", "incomplete_details"});
        ResponseDetails details;
        details.usage = spanMetadata(members.values[0], "usage");
        details.metadata = spanMetadata(members.values[1], "metadata");
        if (const auto* incomplete = spanObject(members.values[2], "incomplete_details")) {
            const auto reason = scanObject<1>(scanner, incomplete->text, {"reason"});
            details.incompleteDetails = IncompleteDetails{spanString(reason.values[0], "reason")};
        }
        event.response = std::move(details);
    }
    event.usage = spanMetadata(top.values[6], "usage");
    event.metadata = spanMetadata(top.values[7], "metadata");
    return event;
}

std::string openAIPromptCacheKey(std::string_view instructions) {
    return "ravlin-" + fingerprint(instructions);
}

bool openAIModelTakesReasoning(std::string_view model) {
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(model);
    return text::lowercased(trimmed).starts_with("gpt-5");
}

std::optional<std::string> openAIErrorBodyText(std::string_view bytes, bool cutAtLimit) {
    if (bytes.size() > kOpenAIErrorBodyLimit) {
        bytes = bytes.substr(0, kOpenAIErrorBodyLimit);
        cutAtLimit = true;
    }
    if (cutAtLimit) {
        bytes = text::droppingIncompleteTrailingSequence(bytes);
    }
    if (!text::isValidUtf8(bytes)) {
        return std::nullopt;
    }
    return std::string(bytes);
}

std::string openAIHTTPErrorMessage(int status, const std::optional<std::string>& body) {
    switch (status) {
        case 400:
            if (body && body->find("model_not_found") != std::string::npos) {
                return "Model not found for your API key tier";
            }
            return "OpenAI rejected the request (400)";
        case 401:
            return "Invalid API key";
        case 403:
            return "Key authenticated but lacks access (403)";
        case 429:
            return "Rate limited \u2014 try again later";
        default:
            break;
    }
    if (status >= 500 && status <= 599) {
        return "OpenAI is unavailable \u2014 try again later";
    }
    return "OpenAI HTTP " + std::to_string(status);
}

}  // namespace ravlin
