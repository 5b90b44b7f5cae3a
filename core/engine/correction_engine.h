#pragma once

// The correction engine: one correction from request to judged answer. It runs the primary
// provider and, when that attempt cannot be used, the fallback provider; it cleans and screens
// every answer and records each step in the caller's decision trace.
//
// Every `correct` call blocks the calling thread until the answer is final and calls `onPartial`
// on that thread. A call takes its own references to the providers when it starts, so the pair
// can be replaced from another thread at any time without disturbing a running correction.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

#include "core/services/privacy_log.h"
#include "core/services/token_budget.h"
#include "core/providers/provider.h"
#include "core/records/decision.h"
#include "core/records/result.h"
#include "core/support/clock.h"

namespace ravlin {

// Receives each new clean partial text of the primary provider's answer.
using QNPartialTextHandler = std::function<void(const std::u16string&)>;
using QNMisbehaviorRuleIDSet = std::set<std::string>;

// What the application asks for corrections. The overloads mirror the engine's entry points,
// from the text alone to the full call with a caller's decision and extra misbehavior rules.
class QNServiceCorrectionGenerating {
  public:
    virtual ~QNServiceCorrectionGenerating() = default;

    [[nodiscard]] virtual QNModelAvailabilitySummary availabilitySummary() = 0;
    // By default: an "unknown" primary and no fallback.
    [[nodiscard]] virtual QNModelCorrectionEngineDiagnostics diagnosticsSummary();
    virtual void prewarm() = 0;

    [[nodiscard]] virtual QNModelCorrectionResult correct(const std::u16string& text,
                                                          std::stop_token stop) = 0;
    // By default the context is dropped.
    [[nodiscard]] virtual QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        std::stop_token stop);
    // By default `onPartial` is never called.
    [[nodiscard]] virtual QNModelCorrectionResult correct(const std::u16string& text,
                                                          const QNPartialTextHandler& onPartial,
                                                          std::stop_token stop);
    // By default the context is dropped.
    [[nodiscard]] virtual QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        const QNPartialTextHandler& onPartial, std::stop_token stop);
    // By default: fills the caller's decision, runs the call above and closes the decision
    // with its result.
    [[nodiscard]] virtual QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        QNCorrectionDecision& decision, const QNPartialTextHandler& onPartial,
        std::stop_token stop);
    // By default the extra rule identifiers are dropped.
    [[nodiscard]] virtual QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        QNCorrectionDecision& decision,
        const QNMisbehaviorRuleIDSet& additionalFallbackMisbehaviorRuleIDs,
        const QNPartialTextHandler& onPartial, std::stop_token stop);
};

// The decision status an engine outcome stands for.
[[nodiscard]] QNCorrectionDecisionStatus decisionStatus(const QNModelCorrectionOutcome& outcome);

class QNEngineCorrection final : public QNServiceCorrectionGenerating {
  public:
    static constexpr std::int64_t kContextLimit = 500;
    static constexpr std::int64_t kMinimumCharacters = 2;
    static constexpr std::string_view kTooShortReason = "Text too short";
    static constexpr std::string_view kTooLongReason = "Text too long for on-device model";
    // The most characters the on-device budget lets through, and the most UTF-16 units a text or
    // its bounded context may have: 16 a character, far beyond any real sentence, so that a few
    // characters carrying thousands of combining marks each never go out as megabytes.
    static constexpr std::int64_t kLongestBudgetedCharacters = 7'811;
    static constexpr std::int64_t kMaximumUtf16Length = 16 * kLongestBudgetedCharacters;
    static constexpr std::string_view kCancelledReason = "Cancelled";

    // Without a primary provider the engine corrects with the on-device provider, built with
    // `prompt`; otherwise `prompt` is not used.
    QNEngineCorrection(
        std::string prompt, std::shared_ptr<QNProviderCorrectionModel> modelProvider = nullptr,
        std::shared_ptr<QNProviderCorrectionModel> fallbackModelProvider = nullptr,
        std::shared_ptr<QNServicePrivacyLogging> logger = QNServicePrivacyLogger::shared(),
        std::shared_ptr<const Clock> clock = Clock::system());

    // Replaces both providers at once; nothing else happens.
    void setModelProviders(std::shared_ptr<QNProviderCorrectionModel> primary,
                           std::shared_ptr<QNProviderCorrectionModel> fallback);

    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    [[nodiscard]] QNModelCorrectionEngineDiagnostics diagnosticsSummary() override;
    void prewarm() override;

    using QNServiceCorrectionGenerating::correct;
    [[nodiscard]] QNModelCorrectionResult correct(const std::u16string& text,
                                                  std::stop_token stop) override;
    [[nodiscard]] QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        std::stop_token stop) override;
    [[nodiscard]] QNModelCorrectionResult correct(const std::u16string& text,
                                                  const QNPartialTextHandler& onPartial,
                                                  std::stop_token stop) override;
    [[nodiscard]] QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        const QNPartialTextHandler& onPartial, std::stop_token stop) override;
    [[nodiscard]] QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        QNCorrectionDecision& decision, const QNPartialTextHandler& onPartial,
        std::stop_token stop) override;
    // The pipeline every other `correct` ends in.
    [[nodiscard]] QNModelCorrectionResult correct(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore,
        QNCorrectionDecision& decision,
        const QNMisbehaviorRuleIDSet& additionalFallbackMisbehaviorRuleIDs,
        const QNPartialTextHandler& onPartial, std::stop_token stop) override;

  private:
    struct Providers {
        std::shared_ptr<QNProviderCorrectionModel> primary;
        std::shared_ptr<QNProviderCorrectionModel> fallback;
    };
    struct FallbackReason;
    struct AttemptResult;
    struct AttemptInput;

    [[nodiscard]] Providers providers() const;
    [[nodiscard]] QNModelAvailabilitySummary availabilityOf(const Providers& providers);
    [[nodiscard]] QNCorrectionDecision newDecision(
        const std::u16string& text, const std::optional<std::u16string>& contextBefore) const;
    [[nodiscard]] AttemptResult consumeProviderStream(const AttemptInput& input) const;

    mutable std::mutex mutex_;  // guards the provider pair
    std::shared_ptr<QNProviderCorrectionModel> modelProvider_;
    std::shared_ptr<QNProviderCorrectionModel> fallbackModelProvider_;
    const std::shared_ptr<QNServicePrivacyLogging> logger_;
    const std::shared_ptr<const Clock> clock_;
};

}  // namespace ravlin
