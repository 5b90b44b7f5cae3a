#pragma once

// The values the correction engine and every model provider exchange: the request, the
// provider's identity for logs, token and credit counts, the finished answer, the one-shot
// result and the events of an answer stream. All are plain values; texts compare by canonical
// equivalence, latencies numerically (a NaN equals nothing).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "core/records/raw_value.h"

namespace ravlin {

// What a provider is asked.
struct QNModelCorrectionRequest {
    std::u16string text;
    std::int64_t maximumResponseTokens = 0;
    std::optional<std::string> localeIdentifier;
    // Text before `text` in the document, for meaning only. Absent, or holding at least one
    // character that is not whitespace or a line break; kept untrimmed.
    std::optional<std::u16string> contextBefore;

    QNModelCorrectionRequest() = default;
    // Stores the values unchanged, except that a context that is empty once trimmed of
    // whitespace and line breaks is stored as absent.
    QNModelCorrectionRequest(std::u16string text, std::int64_t maximumResponseTokens,
                             std::optional<std::string> localeIdentifier = std::nullopt,
                             std::optional<std::u16string> contextBefore = std::nullopt);

    [[nodiscard]] bool hasContext() const { return contextBefore && !contextBefore->empty(); }

    // The user message sent to the model: `text` alone, or, with a context, the context and the
    // text each under its own heading line.
    [[nodiscard]] std::u16string modelInputText() const;
    // The provider's instruction text, with the paragraph about context appended when the
    // request has a context.
    [[nodiscard]] std::string instructions(std::string_view appendingTo) const;

    friend bool operator==(const QNModelCorrectionRequest& a, const QNModelCorrectionRequest& b);
};

// How a provider reaches its model.
enum class QNModelCorrectionRoute {
    local,
    remote,
    unavailable,
    unknown,
};

[[nodiscard]] std::string_view toString(QNModelCorrectionRoute route);
template <>
[[nodiscard]] std::optional<QNModelCorrectionRoute> fromString<QNModelCorrectionRoute>(
    std::string_view raw);
// "LOCAL", "ONLINE", "UNAVAILABLE", "UNKNOWN".
[[nodiscard]] std::string_view logLabel(QNModelCorrectionRoute route);

// A provider's identity for logs.
struct QNModelCorrectionProviderDiagnostics {
    std::string providerID;
    QNModelCorrectionRoute route = QNModelCorrectionRoute::unknown;
    std::optional<std::string> providerName;
    std::optional<std::string> model;
    std::optional<std::string> endpointHost;
    std::optional<std::string> promptVersion;

    // "LOCAL model provider=p My Model model=m host=h" (the prompt version is left out).
    [[nodiscard]] std::string readableLogDescription() const;
    // "model_kind=LOCAL route=local provider=p name=My_Model model=m host=h prompt=v1": the
    // optional items only when present, their spaces and line feeds turned into "_".
    [[nodiscard]] std::string logSummary() const;

    friend bool operator==(const QNModelCorrectionProviderDiagnostics& a,
                           const QNModelCorrectionProviderDiagnostics& b);
};

// An engine's pair of provider identities.
struct QNModelCorrectionEngineDiagnostics {
    QNModelCorrectionProviderDiagnostics primary;
    std::optional<QNModelCorrectionProviderDiagnostics> fallback;

    // "primary_model={...} fallback_model={...}" or "primary_model={...} fallback_model=none".
    [[nodiscard]] std::string logSummary() const;

    friend bool operator==(const QNModelCorrectionEngineDiagnostics&,
                           const QNModelCorrectionEngineDiagnostics&) = default;
};

// Token and credit counts a provider or service reports for one answer.
struct QNModelCorrectionUsage {
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::int64_t> totalTokens;
    std::optional<std::int64_t> cachedTokens;
    std::optional<std::int64_t> creditsCharged;
    std::optional<std::int64_t> creditsRemaining;

    // At least one of the six counts is present.
    [[nodiscard]] bool hasMetadata() const;
    // At least one of the four token counts is present.
    [[nodiscard]] bool hasTokenCounts() const;

    friend bool operator==(const QNModelCorrectionUsage&, const QNModelCorrectionUsage&) = default;
};

// The usage a record keeps: the given one when it has at least one count, else absent. Every
// record that holds a usage stores it through this.
[[nodiscard]] std::optional<QNModelCorrectionUsage> normalizedUsage(
    std::optional<QNModelCorrectionUsage> usage);

// A provider's finished answer.
struct QNModelCorrectionResponse {
    std::u16string input;
    std::u16string output;
    std::optional<double> latencyMilliseconds;
    // Absent, or with at least one count present.
    std::optional<QNModelCorrectionUsage> usage;

    QNModelCorrectionResponse() = default;
    QNModelCorrectionResponse(std::u16string input, std::u16string output,
                              std::optional<double> latencyMilliseconds = std::nullopt,
                              std::optional<QNModelCorrectionUsage> usage = std::nullopt);

    friend bool operator==(const QNModelCorrectionResponse& a, const QNModelCorrectionResponse& b);
};

// The outcome of one `generateCorrection` call.
class QNModelCorrectionProviderResult {
  public:
    enum class Kind { success, unavailable, failed, cancelled };

    struct Success {
        QNModelCorrectionResponse response;
        friend bool operator==(const Success&, const Success&) = default;
    };
    struct Unavailable {
        std::string message;
        friend bool operator==(const Unavailable& a, const Unavailable& b);
    };
    struct Failed {
        std::string message;
        friend bool operator==(const Failed& a, const Failed& b);
    };
    struct Cancelled {
        friend bool operator==(const Cancelled&, const Cancelled&) = default;
    };
    using Value = std::variant<Success, Unavailable, Failed, Cancelled>;

    [[nodiscard]] static QNModelCorrectionProviderResult success(
        QNModelCorrectionResponse response);
    [[nodiscard]] static QNModelCorrectionProviderResult unavailable(std::string message);
    [[nodiscard]] static QNModelCorrectionProviderResult failed(std::string message);
    [[nodiscard]] static QNModelCorrectionProviderResult cancelled();

    [[nodiscard]] Kind kind() const { return static_cast<Kind>(value_.index()); }
    [[nodiscard]] const Value& value() const { return value_; }
    // The response of `success`, else null.
    [[nodiscard]] const QNModelCorrectionResponse* response() const;
    // The message of `unavailable` or `failed`, else null.
    [[nodiscard]] const std::string* message() const;

    friend bool operator==(const QNModelCorrectionProviderResult&,
                           const QNModelCorrectionProviderResult&) = default;

  private:
    explicit QNModelCorrectionProviderResult(Value value) : value_(std::move(value)) {}
    Value value_;
};

// One event of a provider's answer stream: `partial` reports the whole text so far, the other
// four report how the answer ended.
class QNModelCorrectionStreamEvent {
  public:
    enum class Kind { partial, completed, unavailable, failed, cancelled };

    struct Partial {
        std::u16string text;
        friend bool operator==(const Partial& a, const Partial& b);
    };
    struct Completed {
        QNModelCorrectionResponse response;
        friend bool operator==(const Completed&, const Completed&) = default;
    };
    using Unavailable = QNModelCorrectionProviderResult::Unavailable;
    using Failed = QNModelCorrectionProviderResult::Failed;
    using Cancelled = QNModelCorrectionProviderResult::Cancelled;
    using Value = std::variant<Partial, Completed, Unavailable, Failed, Cancelled>;

    [[nodiscard]] static QNModelCorrectionStreamEvent partial(std::u16string text);
    [[nodiscard]] static QNModelCorrectionStreamEvent completed(QNModelCorrectionResponse response);
    [[nodiscard]] static QNModelCorrectionStreamEvent unavailable(std::string message);
    [[nodiscard]] static QNModelCorrectionStreamEvent failed(std::string message);
    [[nodiscard]] static QNModelCorrectionStreamEvent cancelled();
    // The one event that reports a one-shot result: success -> completed, unavailable ->
    // unavailable, failed -> failed, cancelled -> cancelled, payloads unchanged.
    [[nodiscard]] static QNModelCorrectionStreamEvent from(QNModelCorrectionProviderResult result);
    // The other way round: the result a terminal event reports; absent for `partial`.
    [[nodiscard]] std::optional<QNModelCorrectionProviderResult> terminalResult() const;

    [[nodiscard]] Kind kind() const { return static_cast<Kind>(value_.index()); }
    [[nodiscard]] bool isTerminal() const { return kind() != Kind::partial; }
    [[nodiscard]] const Value& value() const { return value_; }
    // The text of `partial`, else null.
    [[nodiscard]] const std::u16string* partialText() const;
    // The response of `completed`, else null.
    [[nodiscard]] const QNModelCorrectionResponse* response() const;
    // The message of `unavailable` or `failed`, else null.
    [[nodiscard]] const std::string* message() const;

    friend bool operator==(const QNModelCorrectionStreamEvent&,
                           const QNModelCorrectionStreamEvent&) = default;

  private:
    explicit QNModelCorrectionStreamEvent(Value value) : value_(std::move(value)) {}
    Value value_;
};

}  // namespace ravlin
