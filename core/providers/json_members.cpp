#include "core/providers/json_members.h"

#include <cmath>
#include <limits>

namespace ravlin::json_members {

using nlohmann::json;

DecodingError mismatch(std::string_view key, std::string_view expected) {
    return DecodingError(DecodingError::Kind::typeMismatch,
                         "expected " + std::string(expected) + " for \"" + std::string(key) + "\"");
}

DecodingError missing(std::string_view key) {
    return DecodingError(DecodingError::Kind::keyNotFound,
                         "no value for \"" + std::string(key) + "\"");
}

std::optional<std::string> compactText(const nlohmann::ordered_json& body) {
    try {
        return body.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a text that is not UTF-8
    }
}

json parseDocument(std::string_view text) {
    json value = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "the data is not valid JSON");
    }
    return value;
}

json parseObject(std::string_view text) {
    json value = parseDocument(text);
    if (!value.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, "expected a JSON object");
    }
    return value;
}

const json* member(const json& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

const json& required(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        throw missing(key);
    }
    return *value;
}

std::optional<std::string> optionalString(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw mismatch(key, "a string");
    }
    return value->get<std::string>();
}

std::string requiredString(const json& object, std::string_view key) {
    auto value = optionalString(object, key);
    if (!value) {
        throw missing(key);
    }
    return std::move(*value);
}

bool requiredBool(const json& object, std::string_view key) {
    const json& value = required(object, key);
    if (!value.is_boolean()) {
        throw mismatch(key, "a boolean");
    }
    return value.get<bool>();
}

const json* optionalObject(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value != nullptr && !value->is_object()) {
        throw mismatch(key, "an object");
    }
    return value;
}

const json& requiredObject(const json& object, std::string_view key) {
    const json& value = required(object, key);
    if (!value.is_object()) {
        throw mismatch(key, "an object");
    }
    return value;
}

std::optional<std::int64_t> optionalInteger(const json& object, std::string_view key) {
    const json* value = member(object, key);
    if (value == nullptr) {
        return std::nullopt;
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

std::int64_t requiredInteger(const json& object, std::string_view key) {
    const auto value = optionalInteger(object, key);
    if (!value) {
        throw missing(key);
    }
    return *value;
}

bool isAbsent(const std::optional<net::JsonSpan>& span) {
    return !span || span->kind == net::JsonSpan::Kind::null;
}

std::optional<std::string> spanString(const std::optional<net::JsonSpan>& span,
                                      std::string_view key) {
    if (isAbsent(span)) {
        return std::nullopt;
    }
    if (span->kind != net::JsonSpan::Kind::string) {
        throw mismatch(key, "a string");
    }
    return net::decodeJsonString(span->text);
}

std::optional<std::int64_t> spanInteger(const std::optional<net::JsonSpan>& span,
                                        std::string_view key) {
    if (isAbsent(span)) {
        return std::nullopt;
    }
    if (span->kind == net::JsonSpan::Kind::number) {
        if (const auto value = net::jsonInteger(span->text)) {
            return value;
        }
    }
    throw mismatch(key, "an integer");
}

const net::JsonSpan* spanObject(const std::optional<net::JsonSpan>& span, std::string_view key) {
    if (isAbsent(span)) {
        return nullptr;
    }
    if (span->kind != net::JsonSpan::Kind::object) {
        throw mismatch(key, "an object");
    }
    return &*span;
}

void scanObject(net::JsonObjectScanner& scanner, std::string_view text,
                net::JsonObjectVisitor& visitor) {
    if (!scanner.scan(text, visitor)) {
        throw DecodingError(DecodingError::Kind::dataCorrupted,
                            "the data is not a valid JSON object");
    }
}

}  // namespace ravlin::json_members
