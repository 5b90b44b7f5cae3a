#include "core/providers/remote/remote_wire.h"

#include <nlohmann/json.hpp>

#include "core/providers/json_members.h"
#include "core/records/raw_value.h"

namespace ravlin {

namespace {

using nlohmann::json;
using namespace json_members;

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
    return compactText(body);
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
