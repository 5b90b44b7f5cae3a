// Arbitrary bytes as an OpenAI reply: read as a stream of lines folded into the output, as one
// event payload, and as an error body (status from the first two bytes). Only decoding may
// throw, and it must never escape. Events are read by a scanner of our own for speed: here it
// must agree with a reading through a full JSON document, value for value and failure for
// failure.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/providers/openai/openai_stream.h"
#include "core/providers/openai/openai_wire.h"
#include "core/records/raw_value.h"
#include "core/text/utf8.h"

namespace {

using nlohmann::json;
using ravlin::DecodingError;
using ravlin::QNModelCorrectionAPIMetadata;
using ravlin::QNModelOpenAIStreamEvent;

std::optional<std::string> referenceString(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_string()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, key);
    }
    return found->get<std::string>();
}

const json* referenceObject(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    if (!found->is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, key);
    }
    return &*found;
}

std::optional<QNModelCorrectionAPIMetadata> referenceMetadata(const json& object, const char* key) {
    if (const json* found = referenceObject(object, key)) {
        return QNModelCorrectionAPIMetadata::decode(*found);
    }
    return std::nullopt;
}

QNModelOpenAIStreamEvent referenceDecode(const json& object) {
    if (!object.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, "object");
    }
    QNModelOpenAIStreamEvent event;
    auto type = referenceString(object, "type");
    if (!type) {
        throw DecodingError(DecodingError::Kind::keyNotFound, "type");
    }
    event.type = *type;
    event.delta = referenceString(object, "delta");
    event.text = referenceString(object, "text");
    event.message = referenceString(object, "message");
    if (const json* error = referenceObject(object, "error")) {
        event.error = QNModelOpenAIStreamEvent::ErrorDetails{referenceString(*error, "message")};
    }
    if (const json* response = referenceObject(object, "response")) {
        QNModelOpenAIStreamEvent::ResponseDetails details;
        details.usage = referenceMetadata(*response, "usage");
        details.metadata = referenceMetadata(*response, "metadata");
        if (const json* incomplete = referenceObject(*response, "incomplete_details")) {
            details.incompleteDetails =
                QNModelOpenAIStreamEvent::IncompleteDetails{referenceString(*incomplete, "reason")};
        }
        event.response = details;
    }
    event.usage = referenceMetadata(object, "usage");
    event.metadata = referenceMetadata(object, "metadata");
    return event;
}

// A latency read from text may be NaN, which equals nothing: compare such figures as equal.
void settleNaN(std::optional<QNModelCorrectionAPIMetadata>& metadata) {
    if (metadata && metadata->latencyMilliseconds && std::isnan(*metadata->latencyMilliseconds)) {
        metadata->latencyMilliseconds = -1.0;
    }
}

void settleNaN(std::optional<QNModelOpenAIStreamEvent>& event) {
    if (!event) {
        return;
    }
    settleNaN(event->usage);
    settleNaN(event->metadata);
    if (event->response) {
        settleNaN(event->response->usage);
        settleNaN(event->response->metadata);
    }
}

void checkDecoderAgreement(std::string_view payload) {
    std::optional<QNModelOpenAIStreamEvent> scanned;
    try {
        scanned = QNModelOpenAIStreamEvent::decode(payload);
    } catch (const DecodingError&) {
    }
    // A raw NUL byte is never valid JSON, but the document reader takes it for the end of the
    // input; the scanner must refuse such a text.
    if (payload.find('\0') != std::string_view::npos) {
        if (scanned) {
            std::abort();
        }
        return;
    }
    json document;
    try {
        document = json::parse(payload.begin(), payload.end());
    } catch (const json::out_of_range&) {
        return;  // a number beyond a double: the document reader refuses what the grammar allows
    } catch (const json::exception&) {
        if (scanned) {
            std::abort();  // the scanner took a text that is not JSON
        }
        return;
    }
    std::optional<QNModelOpenAIStreamEvent> reference;
    try {
        reference = referenceDecode(document);
    } catch (const DecodingError&) {
    }
    settleNaN(scanned);
    settleNaN(reference);
    if (scanned != reference) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The whole input as one event payload.
    checkDecoderAgreement(bytes);

    // The input as a reply body, split into lines as the line reader would.
    ravlin::QNParserOpenAIStreamEvent parser;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!ravlin::text::isValidUtf8(line)) {
            continue;  // the line reader refuses such a line before it is parsed
        }
        const auto parsed = parser.parseLine(line);
        if (parsed.event.has_value() !=
            (parsed.kind == ravlin::QNParserOpenAIStreamEvent::Line::Kind::event)) {
            std::abort();
        }
        if (!parsed.event) {
            continue;
        }
        if (const auto failure = parser.consume(*parsed.event)) {
            const std::string text = failure->failureText();
            if (text.empty() || !ravlin::text::isValidUtf8(text)) {
                std::abort();
            }
            break;
        }
        if (!ravlin::text::isValidUtf8(parser.output)) {
            std::abort();
        }
        if (parser.usage && parser.usage->creditsCharged) {
            std::abort();  // this service reports no credits
        }
    }

    // The input as an error reply.
    if (size >= 2) {
        const int status = 100 + (data[0] | (data[1] << 8)) % 500;
        const std::string_view body = bytes.substr(2);
        for (const bool cut : {false, true}) {
            const auto text = ravlin::openAIErrorBodyText(body, cut);
            if (text && (text->size() > ravlin::kOpenAIErrorBodyLimit ||
                         !ravlin::text::isValidUtf8(*text))) {
                std::abort();
            }
            const std::string message = ravlin::openAIHTTPErrorMessage(status, text);
            if (message.empty() || !ravlin::text::isValidUtf8(message)) {
                std::abort();
            }
        }
    }
    return 0;
}
