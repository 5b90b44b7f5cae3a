// Arbitrary bytes as the hosted service's replies: an error body of a failed request (status
// taken from the first two bytes), a reply event and a request body. Only decoding may throw,
// and only its own error; an error text always starts with the status. Reply events are read
// by a scanner of our own for speed: here it must agree with a reading through a full JSON
// document, value for value and failure for failure.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/providers/hosted-proxy/hosted_proxy_wire.h"
#include "core/records/raw_value.h"
#include "core/text/utf8.h"

namespace {

using nlohmann::json;

std::optional<std::string> referenceString(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_string()) {
        throw ravlin::DecodingError(ravlin::DecodingError::Kind::typeMismatch, key);
    }
    return found->get<std::string>();
}

std::optional<std::int64_t> referenceInteger(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    if (found->is_number_unsigned()) {
        const auto raw = found->get<std::uint64_t>();
        if (raw <= static_cast<std::uint64_t>(INT64_MAX)) {
            return static_cast<std::int64_t>(raw);
        }
    } else if (found->is_number_integer()) {
        return found->get<std::int64_t>();
    } else if (found->is_number_float()) {
        const double raw = found->get<double>();
        if (std::isfinite(raw) && std::trunc(raw) == raw && raw >= -9223372036854775808.0 &&
            raw < 9223372036854775808.0) {
            return static_cast<std::int64_t>(raw);
        }
    }
    throw ravlin::DecodingError(ravlin::DecodingError::Kind::typeMismatch, key);
}

const json* referenceObject(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    if (!found->is_object()) {
        throw ravlin::DecodingError(ravlin::DecodingError::Kind::typeMismatch, key);
    }
    return &*found;
}

ravlin::QNModelHostedProxyStreamEvent referenceDecode(std::string_view text) {
    const json object = json::parse(text.begin(), text.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        throw ravlin::DecodingError(ravlin::DecodingError::Kind::dataCorrupted, "json");
    }
    ravlin::QNModelHostedProxyStreamEvent event;
    event.type = referenceString(object, "type");
    event.delta = referenceString(object, "delta");
    event.text = referenceString(object, "text");
    event.message = referenceString(object, "message");
    if (const json* error = referenceObject(object, "error")) {
        event.error =
            ravlin::QNModelHostedProxyStreamEvent::ErrorDetails{referenceString(*error, "message")};
    }
    if (const json* response = referenceObject(object, "response")) {
        ravlin::QNModelHostedProxyStreamEvent::ResponseDetails details;
        if (const json* incomplete = referenceObject(*response, "incomplete_details")) {
            details.incompleteDetails = ravlin::QNModelHostedProxyStreamEvent::IncompleteDetails{
                referenceString(*incomplete, "reason")};
        }
        event.response = details;
    }
    event.tokensPrompt = referenceInteger(object, "tokens_prompt");
    event.tokensCompletion = referenceInteger(object, "tokens_completion");
    event.tokensCached = referenceInteger(object, "tokens_cached");
    event.creditsCharged = referenceInteger(object, "credits_charged");
    event.creditsRemaining = referenceInteger(object, "credits_remaining");
    return event;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int status = 100 + (data[0] | (data[1] << 8)) % 500;
    const std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::string prefix = "Hosted proxy HTTP " + std::to_string(status);
    for (const bool cut : {false, true}) {
        const std::string text = ravlin::hostedProxyHTTPErrorText(status, body, cut);
        if (!text.starts_with(prefix) || !ravlin::text::isValidUtf8(text)) {
            std::abort();
        }
    }
    try {
        (void)ravlin::QNModelHostedProxyHTTPErrorPayload::decode(body);
    } catch (const ravlin::DecodingError&) {
    }
    std::optional<ravlin::QNModelHostedProxyStreamEvent> scanned;
    std::optional<ravlin::QNModelHostedProxyStreamEvent> reference;
    try {
        scanned = ravlin::QNModelHostedProxyStreamEvent::decode(body);
    } catch (const ravlin::DecodingError&) {
    }
    try {
        reference = referenceDecode(body);
    } catch (const ravlin::DecodingError&) {
    }
    // A raw NUL byte is never valid JSON, but the document reader takes it for the end of
    // the input; the scanner must refuse such a text.
    const bool hasNul = body.find('\0') != std::string_view::npos;
    if (hasNul ? scanned.has_value() : scanned != reference) {
        std::abort();
    }
    try {
        const auto request = ravlin::QNModelHostedProxyCorrectionRequest::decode(body);
        const auto encoded = request.encoded();
        if (!encoded || ravlin::QNModelHostedProxyCorrectionRequest::decode(*encoded) != request) {
            std::abort();  // what was read writes back to the same record
        }
    } catch (const ravlin::DecodingError&) {
    }
    return 0;
}
