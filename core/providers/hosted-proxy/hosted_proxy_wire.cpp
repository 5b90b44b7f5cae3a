#include "core/providers/hosted-proxy/hosted_proxy_wire.h"

#include <vector>

#include <nlohmann/json.hpp>

#include "core/net/json_scan.h"
#include "core/providers/failure_text.h"
#include "core/providers/json_members.h"
#include "core/records/raw_value.h"
#include "core/text/utf8.h"

namespace ravlin {

namespace {

using nlohmann::json;
using namespace json_members;

// The members of a reply event, kept as places in the text until they are decoded. A member
// that appears twice counts with its last value.
struct EventMembers final : net::JsonObjectVisitor {
    std::optional<net::JsonSpan> type, delta, text, message, error, response, tokensPrompt,
        tokensCompletion, tokensCached, creditsCharged, creditsRemaining;

    void member(std::string_view key, net::JsonSpan value) override {
        if (key == "type") {
            type = value;
        } else if (key == "delta") {
            delta = value;
        } else if (key == "text") {
            text = value;
        } else if (key == "message") {
            message = value;
        } else if (key == "error") {
            error = value;
        } else if (key == "response") {
            response = value;
        } else if (key == "tokens_prompt") {
            tokensPrompt = value;
        } else if (key == "tokens_completion") {
            tokensCompletion = value;
        } else if (key == "tokens_cached") {
            tokensCached = value;
        } else if (key == "credits_charged") {
            creditsCharged = value;
        } else if (key == "credits_remaining") {
            creditsRemaining = value;
        }
    }
};

}  // namespace

std::optional<std::string> QNModelHostedProxyCorrectionRequest::encoded() const {
    nlohmann::ordered_json body;
    body["session_token"] = sessionToken;
    body["request_id"] = requestID;
    body["instructions"] = instructions;
    body["input"] = input;
    body["maximumResponseTokens"] = maximumResponseTokens;
    if (localeIdentifier) {
        body["localeIdentifier"] = *localeIdentifier;
    }
    if (promptVersion) {
        body["prompt_version"] = *promptVersion;
    }
    return compactText(body);
}

QNModelHostedProxyCorrectionRequest QNModelHostedProxyCorrectionRequest::decode(
    std::string_view text) {
    const json object = parseObject(text);
    QNModelHostedProxyCorrectionRequest request;
    request.sessionToken = requiredString(object, "session_token");
    request.requestID = requiredString(object, "request_id");
    request.instructions = requiredString(object, "instructions");
    request.input = requiredString(object, "input");
    request.maximumResponseTokens = requiredInteger(object, "maximumResponseTokens");
    request.localeIdentifier = optionalString(object, "localeIdentifier");
    request.promptVersion = optionalString(object, "prompt_version");
    return request;
}

QNModelHostedProxyStreamEvent QNModelHostedProxyStreamEvent::decode(std::string_view text) {
    // One event per line of the reply: read with the scanner rather than a document tree.
    net::JsonObjectScanner scanner;
    EventMembers members;
    scanObject(scanner, text, members);
    QNModelHostedProxyStreamEvent event;
    event.type = spanString(members.type, "type");
    event.delta = spanString(members.delta, "delta");
    event.text = spanString(members.text, "text");
    event.message = spanString(members.message, "message");
    // A nested object was checked with the whole text, so scanning it again cannot fail.
    if (const auto* error = spanObject(members.error, "error")) {
        const auto message = scanObject<1>(scanner, error->text, {"message"});
        event.error = ErrorDetails{spanString(message.values[0], "message")};
    }
    if (const auto* response = spanObject(members.response, "response")) {
        const auto incomplete = scanObject<1>(scanner, response->text, {"incomplete_details"});
        ResponseDetails details;
        if (const auto* found = spanObject(incomplete.values[0], "incomplete_details")) {
            const auto reason = scanObject<1>(scanner, found->text, {"reason"});
            details.incompleteDetails = IncompleteDetails{spanString(reason.values[0], "reason")};
        }
        event.response = details;
    }
    event.tokensPrompt = spanInteger(members.tokensPrompt, "tokens_prompt");
    event.tokensCompletion = spanInteger(members.tokensCompletion, "tokens_completion");
    event.tokensCached = spanInteger(members.tokensCached, "tokens_cached");
    event.creditsCharged = spanInteger(members.creditsCharged, "credits_charged");
    event.creditsRemaining = spanInteger(members.creditsRemaining, "credits_remaining");
    return event;
}

QNModelHostedProxyHTTPErrorPayload QNModelHostedProxyHTTPErrorPayload::decode(
    std::string_view text) {
    const json object = parseObject(text);
    QNModelHostedProxyHTTPErrorPayload payload;
    payload.error = optionalString(object, "error");
    payload.message = optionalString(object, "message");
    payload.requestStatus = optionalString(object, "request_status");
    return payload;
}

namespace {

// The payload of a "data:" line, "[DONE]" included.
std::optional<std::string_view> dataPayload(std::string_view line) {
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(line);
    if (trimmed.empty() || !trimmed.starts_with("data:")) {
        return std::nullopt;
    }
    return text::trimmedHorizontalWhitespace(trimmed.substr(5));
}

}  // namespace

std::optional<std::string_view> hostedProxyEventPayload(std::string_view line) {
    const auto payload = dataPayload(line);
    if (!payload || *payload == "[DONE]") {
        return std::nullopt;
    }
    return payload;
}

bool hostedProxyIsDoneLine(std::string_view line) {
    return dataPayload(line) == std::optional<std::string_view>("[DONE]");
}

std::string hostedProxyHTTPErrorText(int status, std::string_view body, bool cutAtLimit) {
    std::string text = "Hosted proxy HTTP " + std::to_string(status);
    if (body.size() > kHostedProxyErrorBodyLimit) {
        body = body.substr(0, kHostedProxyErrorBodyLimit);
        cutAtLimit = true;
    }
    if (cutAtLimit) {
        body = text::droppingIncompleteTrailingSequence(body);
    }
    if (!text::isValidUtf8(body)) {
        return text;
    }
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(body);
    if (trimmed.empty()) {
        return text;
    }
    std::string bodyText(trimmed);
    for (char& c : bodyText) {
        if (c == '\n') {
            c = ' ';
        }
    }

    std::vector<std::string> details;
    try {
        const auto payload = QNModelHostedProxyHTTPErrorPayload::decode(bodyText);
        for (const auto& item : {payload.error, payload.requestStatus, payload.message}) {
            if (!item) {
                continue;
            }
            std::string detail(text::trimmedWhitespaceAndNewlines(*item));
            if (detail.empty()) {
                continue;
            }
            bool repeated = false;
            for (const auto& earlier : details) {
                repeated = repeated || earlier == detail;
            }
            if (!repeated) {
                details.push_back(std::move(detail));
            }
        }
    } catch (const DecodingError&) {
        details.clear();
    }
    if (details.empty()) {
        return condensedFailureText(text + ": " + bodyText);
    }
    for (const auto& detail : details) {
        text += ": " + detail;
    }
    return condensedFailureText(text);
}

}  // namespace ravlin
