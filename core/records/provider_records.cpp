#include "core/records/provider_records.h"

#include <array>
#include <utility>

#include "core/records/text_equality.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using records::sameOptionalText;
using records::sameText;

constexpr std::u16string_view kContextHeading =
    u"Context for meaning only. Do not correct, rewrite, or return this context:\n";
constexpr std::u16string_view kTextHeading =
    u"\n\nText to correct. Return only the corrected version of this text:\n";
constexpr std::string_view kContextInstructionParagraph =
    "\n\nWhen context is provided, use it only to understand the current text. Do not rewrite or "
    "return the context. Return only the corrected text from the \"Text to correct\" section.";

struct RouteNames {
    QNModelCorrectionRoute route;
    std::string_view raw;
    std::string_view label;
};

constexpr std::array<RouteNames, 4> kRoutes{{
    {QNModelCorrectionRoute::local, "local", "LOCAL"},
    {QNModelCorrectionRoute::remote, "remote", "ONLINE"},
    {QNModelCorrectionRoute::unavailable, "unavailable", "UNAVAILABLE"},
    {QNModelCorrectionRoute::unknown, "unknown", "UNKNOWN"},
}};

const RouteNames& namesOf(QNModelCorrectionRoute route) {
    for (const auto& names : kRoutes) {
        if (names.route == route) {
            return names;
        }
    }
    return kRoutes.back();
}

// Spaces and line feeds become "_" so a value stays one token of a key=value line.
std::string cleanedLogValue(std::string value) {
    for (char& c : value) {
        if (c == ' ' || c == '\n') {
            c = '_';
        }
    }
    return value;
}

}  // namespace

// --- Request -----------------------------------------------------------------------------------

QNModelCorrectionRequest::QNModelCorrectionRequest(std::u16string text,
                                                   std::int64_t maximumResponseTokens,
                                                   std::optional<std::string> localeIdentifier,
                                                   std::optional<std::u16string> contextBefore)
    : text(std::move(text)),
      maximumResponseTokens(maximumResponseTokens),
      localeIdentifier(std::move(localeIdentifier)),
      contextBefore(std::move(contextBefore)) {
    if (this->contextBefore && text::isBlank(*this->contextBefore)) {
        this->contextBefore.reset();
    }
}

std::u16string QNModelCorrectionRequest::modelInputText() const {
    if (!hasContext()) {
        return text;
    }
    std::u16string input;
    input.reserve(kContextHeading.size() + contextBefore->size() + kTextHeading.size() +
                  text.size());
    input.append(kContextHeading);
    input.append(*contextBefore);
    input.append(kTextHeading);
    input.append(text);
    return input;
}

std::string QNModelCorrectionRequest::instructions(std::string_view appendingTo) const {
    std::string result(appendingTo);
    if (hasContext()) {
        result.append(kContextInstructionParagraph);
    }
    return result;
}

bool operator==(const QNModelCorrectionRequest& a, const QNModelCorrectionRequest& b) {
    return a.maximumResponseTokens == b.maximumResponseTokens && sameText(a.text, b.text) &&
           sameOptionalText(a.localeIdentifier, b.localeIdentifier) &&
           sameOptionalText(a.contextBefore, b.contextBefore);
}

// --- Route -------------------------------------------------------------------------------------

std::string_view toString(QNModelCorrectionRoute route) {
    return namesOf(route).raw;
}

template <>
std::optional<QNModelCorrectionRoute> fromString<QNModelCorrectionRoute>(std::string_view raw) {
    for (const auto& names : kRoutes) {
        if (names.raw == raw) {
            return names.route;
        }
    }
    return std::nullopt;
}

std::string_view logLabel(QNModelCorrectionRoute route) {
    return namesOf(route).label;
}

// --- Diagnostics -------------------------------------------------------------------------------

std::string QNModelCorrectionProviderDiagnostics::readableLogDescription() const {
    std::string line(logLabel(route));
    line += " model provider=";
    line += providerID;
    if (providerName) {
        line += ' ';
        line += *providerName;
    }
    if (model) {
        line += " model=";
        line += *model;
    }
    if (endpointHost) {
        line += " host=";
        line += *endpointHost;
    }
    return line;
}

std::string QNModelCorrectionProviderDiagnostics::logSummary() const {
    std::string line = "model_kind=";
    line += logLabel(route);
    line += " route=";
    line += toString(route);
    line += " provider=";
    line += providerID;
    const std::pair<std::string_view, const std::optional<std::string>*> optionalItems[] = {
        {" name=", &providerName},
        {" model=", &model},
        {" host=", &endpointHost},
        {" prompt=", &promptVersion},
    };
    for (const auto& [key, value] : optionalItems) {
        if (*value) {
            line += key;
            line += cleanedLogValue(**value);
        }
    }
    return line;
}

bool operator==(const QNModelCorrectionProviderDiagnostics& a,
                const QNModelCorrectionProviderDiagnostics& b) {
    return a.route == b.route && sameText(a.providerID, b.providerID) &&
           sameOptionalText(a.providerName, b.providerName) && sameOptionalText(a.model, b.model) &&
           sameOptionalText(a.endpointHost, b.endpointHost) &&
           sameOptionalText(a.promptVersion, b.promptVersion);
}

std::string QNModelCorrectionEngineDiagnostics::logSummary() const {
    std::string line = "primary_model={" + primary.logSummary() + "}";
    if (fallback) {
        line += " fallback_model={" + fallback->logSummary() + "}";
    } else {
        line += " fallback_model=none";
    }
    return line;
}

// --- Usage and response ------------------------------------------------------------------------

bool QNModelCorrectionUsage::hasMetadata() const {
    return hasTokenCounts() || creditsCharged || creditsRemaining;
}

bool QNModelCorrectionUsage::hasTokenCounts() const {
    return inputTokens || outputTokens || totalTokens || cachedTokens;
}

std::optional<QNModelCorrectionUsage> normalizedUsage(std::optional<QNModelCorrectionUsage> usage) {
    if (usage && !usage->hasMetadata()) {
        return std::nullopt;
    }
    return usage;
}

QNModelCorrectionResponse::QNModelCorrectionResponse(std::u16string input, std::u16string output,
                                                     std::optional<double> latencyMilliseconds,
                                                     std::optional<QNModelCorrectionUsage> usage)
    : input(std::move(input)),
      output(std::move(output)),
      latencyMilliseconds(latencyMilliseconds),
      usage(normalizedUsage(std::move(usage))) {}

bool operator==(const QNModelCorrectionResponse& a, const QNModelCorrectionResponse& b) {
    // std::optional<double> compares the values with ==, so a NaN latency equals nothing.
    return a.latencyMilliseconds == b.latencyMilliseconds && a.usage == b.usage &&
           sameText(a.input, b.input) && sameText(a.output, b.output);
}

// --- Provider result ---------------------------------------------------------------------------

bool operator==(const QNModelCorrectionProviderResult::Unavailable& a,
                const QNModelCorrectionProviderResult::Unavailable& b) {
    return sameText(a.message, b.message);
}

bool operator==(const QNModelCorrectionProviderResult::Failed& a,
                const QNModelCorrectionProviderResult::Failed& b) {
    return sameText(a.message, b.message);
}

QNModelCorrectionProviderResult QNModelCorrectionProviderResult::success(
    QNModelCorrectionResponse response) {
    return QNModelCorrectionProviderResult(Success{std::move(response)});
}

QNModelCorrectionProviderResult QNModelCorrectionProviderResult::unavailable(std::string message) {
    return QNModelCorrectionProviderResult(Unavailable{std::move(message)});
}

QNModelCorrectionProviderResult QNModelCorrectionProviderResult::failed(std::string message) {
    return QNModelCorrectionProviderResult(Failed{std::move(message)});
}

QNModelCorrectionProviderResult QNModelCorrectionProviderResult::cancelled() {
    return QNModelCorrectionProviderResult(Cancelled{});
}

const QNModelCorrectionResponse* QNModelCorrectionProviderResult::response() const {
    const auto* success = std::get_if<Success>(&value_);
    return success ? &success->response : nullptr;
}

const std::string* QNModelCorrectionProviderResult::message() const {
    if (const auto* unavailable = std::get_if<Unavailable>(&value_)) {
        return &unavailable->message;
    }
    if (const auto* failed = std::get_if<Failed>(&value_)) {
        return &failed->message;
    }
    return nullptr;
}

// --- Stream event ------------------------------------------------------------------------------

bool operator==(const QNModelCorrectionStreamEvent::Partial& a,
                const QNModelCorrectionStreamEvent::Partial& b) {
    return sameText(a.text, b.text);
}

QNModelCorrectionStreamEvent QNModelCorrectionStreamEvent::partial(std::u16string text) {
    return QNModelCorrectionStreamEvent(Partial{std::move(text)});
}

QNModelCorrectionStreamEvent QNModelCorrectionStreamEvent::completed(
    QNModelCorrectionResponse response) {
    return QNModelCorrectionStreamEvent(Completed{std::move(response)});
}

QNModelCorrectionStreamEvent QNModelCorrectionStreamEvent::unavailable(std::string message) {
    return QNModelCorrectionStreamEvent(Unavailable{std::move(message)});
}

QNModelCorrectionStreamEvent QNModelCorrectionStreamEvent::failed(std::string message) {
    return QNModelCorrectionStreamEvent(Failed{std::move(message)});
}

QNModelCorrectionStreamEvent QNModelCorrectionStreamEvent::cancelled() {
    return QNModelCorrectionStreamEvent(Cancelled{});
}

QNModelCorrectionStreamEvent QNModelCorrectionStreamEvent::from(
    QNModelCorrectionProviderResult result) {
    using Result = QNModelCorrectionProviderResult;
    switch (result.kind()) {
        case Result::Kind::success:
            return completed(std::get<Result::Success>(result.value()).response);
        case Result::Kind::unavailable:
            return unavailable(std::get<Result::Unavailable>(result.value()).message);
        case Result::Kind::failed:
            return failed(std::get<Result::Failed>(result.value()).message);
        case Result::Kind::cancelled:
            break;
    }
    return cancelled();
}

std::optional<QNModelCorrectionProviderResult> QNModelCorrectionStreamEvent::terminalResult()
    const {
    using Result = QNModelCorrectionProviderResult;
    switch (kind()) {
        case Kind::partial:
            return std::nullopt;
        case Kind::completed:
            return Result::success(std::get<Completed>(value_).response);
        case Kind::unavailable:
            return Result::unavailable(std::get<Unavailable>(value_).message);
        case Kind::failed:
            return Result::failed(std::get<Failed>(value_).message);
        case Kind::cancelled:
            break;
    }
    return Result::cancelled();
}

const std::u16string* QNModelCorrectionStreamEvent::partialText() const {
    const auto* partial = std::get_if<Partial>(&value_);
    return partial ? &partial->text : nullptr;
}

const QNModelCorrectionResponse* QNModelCorrectionStreamEvent::response() const {
    const auto* completed = std::get_if<Completed>(&value_);
    return completed ? &completed->response : nullptr;
}

const std::string* QNModelCorrectionStreamEvent::message() const {
    if (const auto* unavailable = std::get_if<Unavailable>(&value_)) {
        return &unavailable->message;
    }
    if (const auto* failed = std::get_if<Failed>(&value_)) {
        return &failed->message;
    }
    return nullptr;
}

}  // namespace ravlin
