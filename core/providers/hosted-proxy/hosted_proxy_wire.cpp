#include "core/providers/hosted-proxy/hosted_proxy_wire.h"

#include <cmath>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/net/json_scan.h"
#include "core/text/utf8.h"
#include "core/records/raw_value.h"

namespace ravlin {

namespace {

using nlohmann::json;

json parseObject(std::string_view text) {
    json value = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "the data is not valid JSON");
    }
    if (!value.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, "expected a JSON object");
    }
    return value;
}

// The member of that name, or null when it is missing or JSON null.
const json* member(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw DecodingError(DecodingError::Kind::typeMismatch,
                            std::string("expected a string for \"") + key + "\"");
    }
    return value->get<std::string>();
}

std::string requiredString(const json& object, const char* key) {
    auto value = optionalString(object, key);
    if (!value) {
        throw DecodingError(DecodingError::Kind::keyNotFound,
                            std::string("no value for \"") + key + "\"");
    }
    return std::move(*value);
}

// A signed 64-bit integer: a JSON integer in range, or a number with no fractional part that
// fits. Anything else is undecodable.
std::optional<std::int64_t> optionalInteger(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    const auto mismatch = [&] {
        return DecodingError(DecodingError::Kind::typeMismatch,
                             std::string("expected an integer for \"") + key + "\"");
    };
    if (value->is_number_unsigned()) {
        const auto raw = value->get<std::uint64_t>();
        if (raw > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw mismatch();
        }
        return static_cast<std::int64_t>(raw);
    }
    if (value->is_number_integer()) {
        return value->get<std::int64_t>();
    }
    if (value->is_number_float()) {
        const double raw = value->get<double>();
        if (!std::isfinite(raw) || std::trunc(raw) != raw || raw < -9223372036854775808.0 ||
            raw >= 9223372036854775808.0) {
            throw mismatch();
        }
        return static_cast<std::int64_t>(raw);
    }
    throw mismatch();
}

const json* optionalObject(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value != nullptr && !value->is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch,
                            std::string("expected an object for \"") + key + "\"");
    }
    return value;
}

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

struct OneMember final : net::JsonObjectVisitor {
    explicit OneMember(std::string_view name) : name(name) {}
    void member(std::string_view key, net::JsonSpan found) override {
        if (key == name) {
            value = found;
        }
    }
    std::string_view name;
    std::optional<net::JsonSpan> value;
};

DecodingError mismatch(const char* key, const char* expected) {
    return DecodingError(DecodingError::Kind::typeMismatch,
                         std::string("expected ") + expected + " for \"" + key + "\"");
}

std::optional<std::string> spanString(const std::optional<net::JsonSpan>& span, const char* key) {
    if (!span || span->kind == net::JsonSpan::Kind::null) {
        return std::nullopt;
    }
    if (span->kind != net::JsonSpan::Kind::string) {
        throw mismatch(key, "a string");
    }
    return net::decodeJsonString(span->text);
}

std::optional<std::int64_t> spanInteger(const std::optional<net::JsonSpan>& span, const char* key) {
    if (!span || span->kind == net::JsonSpan::Kind::null) {
        return std::nullopt;
    }
    if (span->kind == net::JsonSpan::Kind::number) {
        if (const auto value = net::jsonInteger(span->text)) {
            return value;
        }
    }
    throw mismatch(key, "an integer");
}

const net::JsonSpan* spanObject(const std::optional<net::JsonSpan>& span, const char* key) {
    if (!span || span->kind == net::JsonSpan::Kind::null) {
        return nullptr;
    }
    if (span->kind != net::JsonSpan::Kind::object) {
        throw mismatch(key, "an object");
    }
    return &*span;
}

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
    try {
        return body.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a text that is not UTF-8
    }
}

QNModelHostedProxyCorrectionRequest QNModelHostedProxyCorrectionRequest::decode(
    std::string_view text) {
    const json object = parseObject(text);
    QNModelHostedProxyCorrectionRequest request;
    request.sessionToken = requiredString(object, "session_token");
    request.requestID = requiredString(object, "request_id");
    request.instructions = requiredString(object, "instructions");
    request.input = requiredString(object, "input");
    const auto tokens = optionalInteger(object, "maximumResponseTokens");
    if (!tokens) {
        throw DecodingError(DecodingError::Kind::keyNotFound,
                            "no value for \"maximumResponseTokens\"");
    }
    request.maximumResponseTokens = *tokens;
    request.localeIdentifier = optionalString(object, "localeIdentifier");
    request.promptVersion = optionalString(object, "prompt_version");
    return request;
}

QNModelHostedProxyStreamEvent QNModelHostedProxyStreamEvent::decode(std::string_view text) {
    // One event per line of the reply: read with the scanner rather than a document tree.
    net::JsonObjectScanner scanner;
    EventMembers members;
    if (!scanner.scan(text, members)) {
        throw DecodingError(DecodingError::Kind::dataCorrupted,
                            "the data is not a valid JSON object");
    }
    QNModelHostedProxyStreamEvent event;
    event.type = spanString(members.type, "type");
    event.delta = spanString(members.delta, "delta");
    event.text = spanString(members.text, "text");
    event.message = spanString(members.message, "message");
    if (const auto* error = spanObject(members.error, "error")) {
        OneMember message("message");
        scanner.scan(error->text, message);
        event.error = ErrorDetails{spanString(message.value, "message")};
    }
    if (const auto* response = spanObject(members.response, "response")) {
        OneMember incomplete("incomplete_details");
        scanner.scan(response->text, incomplete);
        ResponseDetails details;
        if (const auto* found = spanObject(incomplete.value, "incomplete_details")) {
            OneMember reason("reason");
            scanner.scan(found->text, reason);
            details.incompleteDetails = IncompleteDetails{spanString(reason.value, "reason")};
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

std::optional<std::string_view> hostedProxyEventPayload(std::string_view line) {
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(line);
    if (trimmed.empty() || !trimmed.starts_with("data:")) {
        return std::nullopt;
    }
    const std::string_view payload = text::trimmedHorizontalWhitespace(trimmed.substr(5));
    if (payload == "[DONE]") {
        return std::nullopt;
    }
    return payload;
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
        return text + ": " + bodyText;
    }
    for (const auto& detail : details) {
        text += ": " + detail;
    }
    return text;
}

}  // namespace ravlin
