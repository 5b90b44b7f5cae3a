#include "core/providers/remote/remote_wire.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

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

DecodingError mismatch(const char* key, const char* expected) {
    return DecodingError(DecodingError::Kind::typeMismatch,
                         std::string("expected ") + expected + " for \"" + key + "\"");
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw mismatch(key, "a string");
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

std::int64_t requiredInteger(const json& object, const char* key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        throw DecodingError(DecodingError::Kind::keyNotFound,
                            std::string("no value for \"") + key + "\"");
    }
    if (value->is_number_unsigned()) {
        const auto raw = value->get<std::uint64_t>();
        if (raw <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(raw);
        }
    } else if (value->is_number_integer()) {
        return value->get<std::int64_t>();
    } else if (value->is_number_float()) {
        const double raw = value->get<double>();
        if (std::isfinite(raw) && std::trunc(raw) == raw && raw >= -9223372036854775808.0 &&
            raw < 9223372036854775808.0) {
            return static_cast<std::int64_t>(raw);
        }
    }
    throw mismatch(key, "an integer");
}

}  // namespace

std::optional<std::string> QNModelRemoteCorrectionRequest::encoded() const {
    nlohmann::ordered_json body;
    body["model"] = model;
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

QNModelRemoteCorrectionRequest QNModelRemoteCorrectionRequest::decode(std::string_view text) {
    const json object = parseObject(text);
    QNModelRemoteCorrectionRequest request;
    request.model = requiredString(object, "model");
    request.instructions = requiredString(object, "instructions");
    request.input = requiredString(object, "input");
    request.maximumResponseTokens = requiredInteger(object, "maximumResponseTokens");
    request.localeIdentifier = optionalString(object, "localeIdentifier");
    request.promptVersion = optionalString(object, "prompt_version");
    return request;
}

QNModelRemoteCorrectionResponse QNModelRemoteCorrectionResponse::decode(std::string_view text) {
    const json object = parseObject(text);
    QNModelRemoteCorrectionResponse response;
    response.correctedText = requiredString(object, "correctedText");
    if (const json* metadata = member(object, "metadata")) {
        response.metadata = QNModelCorrectionAPIMetadata::decode(*metadata);
    }
    return response;
}

std::optional<std::string> remoteCorrectionStatusFailure(int status) {
    if (status >= 200 && status <= 299) {
        return std::nullopt;
    }
    return "Online correction HTTP " + std::to_string(status);
}

}  // namespace ravlin
