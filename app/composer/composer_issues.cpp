// The Composer's correction issue: what a failing hosted cloud route shows in the menu, and
// when it is set, made lasting and cleared.

#include <algorithm>
#include <array>

#include "app/composer/composer_service.h"
#include "core/providers/retry_after.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::string_view kBusyTitle = "Cloud Correction Busy";
constexpr std::string_view kSessionTitle = "Cloud Session Expired";
constexpr std::string_view kConnectionTitle = "Connection Problem";
constexpr std::string_view kProblemTitle = "Cloud Correction Problem";

struct Row {
    std::string_view phrase;
    std::string_view title;
    std::string_view menuDetail;
    std::string_view detail;
};

constexpr std::string_view kBusyMenu = "Cloud busy - using local";
constexpr std::string_view kBusyDetail =
    "Cloud correction is busy. Ravlin will keep using local correction and try again later.";
constexpr std::string_view kSessionMenu = "Session expired - using local";
constexpr std::string_view kSessionDetail =
    "Your cloud correction session needs to be refreshed. Ravlin is using local correction "
    "until it is.";
constexpr std::string_view kConnectionMenu = "Connection - using local";
constexpr std::string_view kConnectionDetail =
    "Ravlin cannot reach cloud correction. Check your internet connection; local correction will "
    "be used when available.";
constexpr std::string_view kFailedMenu = "Cloud failed - using local";
constexpr std::string_view kProblemDetail =
    "Cloud correction returned something Ravlin could not use. Local correction will be used "
    "when available.";
constexpr std::string_view kNotSetUpTitle = "Cloud Correction Not Set Up";
constexpr std::string_view kNotSetUpMenu = "Cloud not set up - using local";
constexpr std::string_view kNotSetUpDetail =
    "No cloud correction is set up. Add your OpenAI key or the Codex tool in Settings, "
    "Correction; local correction is used meanwhile.";
// The service asked to be left alone for a while (Retry-After).
constexpr std::string_view kWaitingTitle = "Cloud Correction Waiting";
constexpr std::string_view kWaitingMenu = "Waiting to try again - using local";
constexpr std::string_view kWaitingDetail =
    "The cloud service asked Ravlin to wait before its next request. Local correction will be "
    "used until then.";
// The Codex command runs here: its time-out is no connection's.
constexpr std::string_view kSlowCommandTitle = "Codex Took Too Long";
constexpr std::string_view kSlowCommandMenu = "Codex too slow - using local";
constexpr std::string_view kSlowCommandDetail =
    "The Codex command took too long to answer. Local correction will be used when available.";
constexpr std::string_view kUnfinishedDetail =
    "Cloud correction did not finish. Ravlin is using local correction when available.";

// Tried in order on the normalised message; the first phrase found decides.
constexpr std::array<Row, 20> kRows{{
    {"too_many_concurrent_requests", kBusyTitle, kBusyMenu, kBusyDetail},
    {"duplicate_request_in_progress", kBusyTitle, kBusyMenu, kBusyDetail},
    {"cloud correction is busy", kBusyTitle, kBusyMenu, kBusyDetail},
    {"waiting before trying again", kWaitingTitle, kWaitingMenu, kWaitingDetail},
    {"invalid_session", kSessionTitle, kSessionMenu, kSessionDetail},
    {"session", kSessionTitle, kSessionMenu, kSessionDetail},
    {"codex cli timed out", kSlowCommandTitle, kSlowCommandMenu, kSlowCommandDetail},
    {"timed out", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"timeout", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"network", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"internet", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"offline", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"cannot connect", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"could not connect", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"connection lost", kConnectionTitle, kConnectionMenu, kConnectionDetail},
    {"malformed", kProblemTitle, kFailedMenu, kProblemDetail},
    {"empty response", kProblemTitle, kFailedMenu, kProblemDetail},
    {"unexpected response", kProblemTitle, kFailedMenu, kProblemDetail},
    {"openrouter", kProblemTitle, kFailedMenu, kProblemDetail},
    // Cloud switched on with no route to it: nothing was tried, so nothing failed.
    {"not configured", kNotSetUpTitle, kNotSetUpMenu, kNotSetUpDetail},
}};

// Line feeds become spaces, the ends are trimmed, the rest lower-cased with the root locale.
std::string normalisedMessage(std::string_view message) {
    std::string flattened(message);
    std::ranges::replace(flattened, '\n', ' ');
    return text::lowercased(text::trimmed(std::string_view(flattened)));
}

bool isRemote(const QNCorrectionDecision& decision) {
    return decision.provider && decision.provider->route == QNModelCorrectionRoute::remote;
}

}  // namespace

void QNServiceComposer::setCorrectionIssue(std::optional<QNModelCorrectionIssue> issue) {
    if (issue == correctionIssue.get()) {
        return;
    }
    correctionIssue.set(issue);
    if (correctionIssueHandler) {
        correctionIssueHandler(issue);
    }
}

QNModelCorrectionIssue QNServiceComposer::cloudIssue(std::string_view message, bool isPersistent) {
    auto texts = cloudFailureTexts(message, isPersistent);
    return QNModelCorrectionIssue{
        .kind = QNModelCorrectionIssueKind::connection,
        .title = std::move(texts.title),
        .menuDetail = std::move(texts.menuDetail),
        .detail = std::move(texts.detail),
        .isPersistent = isPersistent,
        .requiresOnlineMode = true,
        .severity = QNModelCorrectionIssueSeverity::critical,
    };
}

QNCloudFailureTexts QNServiceComposer::cloudFailureTexts(std::string_view message,
                                                         bool isPersistent) {
    const std::string normalised = normalisedMessage(message);
    for (const auto& row : kRows) {
        if (normalised.find(row.phrase) != std::string::npos) {
            return {std::string(row.title), std::string(row.menuDetail), std::string(row.detail)};
        }
    }
    return {isPersistent ? "Correction Issue" : "Using Local Correction", std::string(kFailedMenu),
            std::string(kUnfinishedDetail)};
}

std::optional<std::string> QNServiceComposer::firstHostedFailureReason(
    const QNCorrectionDecision& decision) {
    using Kind = QNCorrectionDecisionStatus::Kind;
    for (const auto& each : decision.flattened()) {
        if (isRemote(each) &&
            (each.status.kind == Kind::unavailable || each.status.kind == Kind::failed)) {
            return each.status.reason;
        }
    }
    return std::nullopt;
}

std::optional<std::string> QNServiceComposer::failureCause(const QNModelCorrectionResult& result) {
    using Outcome = QNModelCorrectionOutcome::Kind;
    using Status = QNCorrectionDecisionStatus::Kind;
    std::optional<std::string> message;
    std::string handedOver;  // "<provider> failed: " and the like, before a provider's words
    if (result.decision) {
        for (const auto& each : result.decision->flattened()) {
            if (each.status.kind == Status::fallback) {
                message = each.status.reason;
                if (each.provider) {
                    handedOver = each.provider->providerID;
                }
                break;
            }
        }
    }
    const auto kind = result.outcome.kind;
    if (!message && kind != Outcome::corrected && kind != Outcome::unchanged) {
        message = result.outcome.reason;
    }
    if (!message || message->empty()) {
        return std::nullopt;
    }
    std::string_view cause = *message;
    for (const std::string_view marker : {" failed: ", " unavailable: ", " rejected: "}) {
        const std::string lead = handedOver + std::string(marker);
        if (!handedOver.empty() && cause.starts_with(lead)) {
            cause.remove_prefix(lead.size());
            break;
        }
    }
    // After the first ": " come words from outside: an error body, a tool's output, the
    // platform's description. They stay out of the line.
    cause = cause.substr(0, cause.find(": "));
    std::string line;
    for (const char c : cause) {
        line += c == '{' || c == '}' || c == '\n' || c == '\r' ? ' ' : c;
    }
    line = text::toUtf8(
        text::prefixCharacters(text::toUtf16(text::trimmed(std::string_view(line))), 80));
    if (line.empty()) {
        return std::nullopt;
    }
    return line;
}

std::optional<std::chrono::seconds> QNServiceComposer::routeWait() const {
    if (!polishEngine) {
        return std::nullopt;
    }
    const auto route = polishEngine->diagnosticsSummary().primary;
    if (route.route != QNModelCorrectionRoute::remote) {
        return std::nullopt;
    }
    return QNRetryAfterGate::shared().remaining(route.providerID);
}

void QNServiceComposer::showRouteWaiting(std::chrono::seconds left) {
    setCorrectionIssue(cloudIssue(retryAfterWaitText("Cloud correction", left), false));
}

void QNServiceComposer::updateCorrectionIssue(const QNModelCorrectionResult& result) {
    if (!result.decision) {
        return;
    }
    const QNCorrectionDecision& decision = *result.decision;
    if (isRemote(decision) && decision.status.kind == QNCorrectionDecisionStatus::Kind::fallback) {
        const auto count = consecutiveHostedFallbackDispatchCount.get() + 1;
        consecutiveHostedFallbackDispatchCount.set(count);
        setCorrectionIssue(cloudIssue(decision.status.reason, count >= 3));
        return;
    }
    if (const auto reason = firstHostedFailureReason(decision)) {
        consecutiveHostedFallbackDispatchCount.set(consecutiveHostedFallbackDispatchCount.get() +
                                                   1);
        setCorrectionIssue(cloudIssue(*reason, true));
        return;
    }
    using Outcome = QNModelCorrectionOutcome::Kind;
    if (isRemote(decision) &&
        (result.outcome.kind == Outcome::corrected || result.outcome.kind == Outcome::unchanged)) {
        consecutiveHostedFallbackDispatchCount.set(0);
        if (correctionIssue.get()) {
            setCorrectionIssue(std::nullopt);
        }
    }
}

}  // namespace ravlin
