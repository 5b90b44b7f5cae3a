// The correction issue: the failure texts, the handler, and the rule run over results of the
// real engine with scripted providers on the hosted route.

#include <gtest/gtest.h>

#include <memory>

#include "app/composer/composer_service.h"
#include "app/composer/provider_routing.h"
#include "core/engine/correction_engine.h"
#include "tests/support/recording_privacy_logger.h"
#include "tests/support/scripted_provider.h"

namespace ravlin {
namespace {

using testing::ScriptedProvider;
using Route = QNModelCorrectionRoute;

TEST(CloudFailureTexts, FirstMatchingRowOfTheNormalisedMessageDecides) {
    struct Case {
        const char* message;
        const char* title;
        const char* menuDetail;
    };
    for (const auto& c : {
             Case{"Error: TOO_MANY_CONCURRENT_REQUESTS (retry)", "Cloud Correction Busy",
                  "Cloud busy - using local"},
             Case{"duplicate_request_in_progress", "Cloud Correction Busy",
                  "Cloud busy - using local"},
             Case{"Invalid_Session", "Cloud Session Expired", "Session expired - using local"},
             // "session" (row 5) comes before "timeout" (row 7).
             Case{"session timeout", "Cloud Session Expired", "Session expired - using local"},
             Case{"The request TIMED OUT.", "Connection Problem", "Connection - using local"},
             Case{"could not connect to server", "Connection Problem", "Connection - using local"},
             Case{"  connection\nlost  ", "Connection Problem", "Connection - using local"},
             Case{"Malformed JSON in reply", "Cloud Correction Problem",
                  "Cloud failed - using local"},
             Case{"OpenRouter said no", "Cloud Correction Problem", "Cloud failed - using local"},
             // Nothing set up: no attempt failed, the issue says what is missing.
             Case{"Online correction endpoint not configured", "Cloud Correction Not Set Up",
                  "Cloud not set up - using local"},
             Case{"Codex CLI Not Configured", "Cloud Correction Not Set Up",
                  "Cloud not set up - using local"},
             Case{"connection\r\nlost", "Using Local Correction", "Cloud failed - using local"},
             // Each distinct failure of the routes, as a person reads it in the menu.
             Case{"Hosted proxy could not connect (connection refused)", "Connection Problem",
                  "Connection - using local"},
             Case{"OpenAI could not connect (TLS handshake failed)", "Connection Problem",
                  "Connection - using local"},
             Case{"Hosted proxy could not connect (certificate not trusted)",
                  "Connection Problem", "Connection - using local"},
             Case{"Hosted proxy returned an unexpected response (a web page)",
                  "Cloud Correction Problem", "Cloud failed - using local"},
             Case{"Codex returned an unexpected response (too large)", "Cloud Correction Problem",
                  "Cloud failed - using local"},
             // The command runs here: its time-out is no connection's.
             Case{"Codex CLI timed out after 30s", "Codex Took Too Long",
                  "Codex too slow - using local"},
             Case{"", "Using Local Correction", "Cloud failed - using local"},
         }) {
        const auto texts = QNServiceComposer::cloudFailureTexts(c.message, false);
        EXPECT_EQ(texts.title, c.title) << c.message;
        EXPECT_EQ(texts.menuDetail, c.menuDetail) << c.message;
    }
    EXPECT_EQ(QNServiceComposer::cloudFailureTexts("timed out", false).detail,
              "Ravlin cannot reach cloud correction. Check your internet connection; local "
              "correction will be used when available.");
    // Persistence changes only the last row's title.
    EXPECT_EQ(QNServiceComposer::cloudFailureTexts("", true),
              (QNCloudFailureTexts{"Correction Issue", "Cloud failed - using local",
                                   "Cloud correction did not finish. Ravlin is using local "
                                   "correction when available."}));
    EXPECT_EQ(QNServiceComposer::cloudFailureTexts("offline", true),
              QNServiceComposer::cloudFailureTexts("offline", false));
}

TEST(CorrectionIssue, HandlerHearsEachChangeOnce) {
    QNServiceComposer composer(std::make_shared<ManualExecutor>());
    std::vector<std::optional<QNModelCorrectionIssue>> heard;
    composer.correctionIssueHandler = [&](const auto& issue) { heard.push_back(issue); };
    const QNModelCorrectionIssue busy{.title = "Busy", .isPersistent = false};
    auto lasting = busy;
    lasting.isPersistent = true;

    composer.setCorrectionIssue(busy);
    composer.setCorrectionIssue(busy);
    composer.setCorrectionIssue(lasting);
    composer.setCorrectionIssue(std::nullopt);
    composer.setCorrectionIssue(std::nullopt);
    composer.correctionIssue.set(busy);  // a direct write does not call the handler
    EXPECT_EQ(heard,
              (std::vector<std::optional<QNModelCorrectionIssue>>{busy, lasting, std::nullopt}));
}

QNModelCorrectionProviderDiagnostics diagnostics(const std::string& id, Route route) {
    QNModelCorrectionProviderDiagnostics value;
    value.providerID = id;
    value.route = route;
    return value;
}

struct EngineRun {
    std::shared_ptr<ScriptedProvider> primary = ScriptedProvider::make("primary");
    std::shared_ptr<ScriptedProvider> fallback = ScriptedProvider::make("fallback");
    QNEngineCorrection engine;

    EngineRun(Route primaryRoute, Route fallbackRoute)
        : engine("PROMPT", primary, fallback, std::make_shared<testing::RecordingPrivacyLogger>()) {
        primary->setDiagnostics(diagnostics("primary", primaryRoute));
        fallback->setDiagnostics(diagnostics("fallback", fallbackRoute));
    }
    QNModelCorrectionResult run() {
        QNCorrectionDecision decision;
        return engine.correct(u"the text here", std::nullopt, decision, {}, std::stop_token());
    }
};

TEST(CorrectionIssue, HostedFallbacksLastFromTheThirdAndASuccessClears) {
    QNServiceComposer composer(std::make_shared<ManualExecutor>());
    std::vector<std::optional<QNModelCorrectionIssue>> heard;
    composer.correctionIssueHandler = [&](const auto& issue) { heard.push_back(issue); };
    EngineRun hosted(Route::remote, Route::local);
    hosted.primary->setGenerateResult(
        QNModelCorrectionProviderResult::failed("could not connect to server"));

    for (int dispatch = 1; dispatch <= 3; ++dispatch) {
        const auto result = hosted.run();
        ASSERT_EQ(result.decision->status.kind, QNCorrectionDecisionStatus::Kind::fallback);
        composer.updateCorrectionIssue(result);
        EXPECT_EQ(composer.consecutiveHostedFallbackDispatchCount.get(), dispatch);
        ASSERT_TRUE(composer.correctionIssue.get());
        const auto& issue = *composer.correctionIssue.get();
        EXPECT_EQ(issue.title, "Connection Problem");
        EXPECT_EQ(issue.isPersistent, dispatch >= 3) << dispatch;
        EXPECT_TRUE(issue.requiresOnlineMode);
        EXPECT_EQ(issue.kind, QNModelCorrectionIssueKind::connection);
        EXPECT_EQ(issue.severity, QNModelCorrectionIssueSeverity::critical);
    }
    // The second fallback repeated the first issue: the handler heard two changes.
    EXPECT_EQ(heard.size(), 2u);

    // A correction that never reached the hosted route changes nothing.
    EngineRun local(Route::local, Route::local);
    composer.updateCorrectionIssue(local.run());
    composer.updateCorrectionIssue(QNModelCorrectionResult(u"a", u"a", {}));
    EXPECT_EQ(composer.consecutiveHostedFallbackDispatchCount.get(), 3);
    EXPECT_TRUE(composer.correctionIssue.get());

    hosted.primary->setGenerateResult(
        ScriptedProvider::success(u"the text here", u"the text here"));
    const auto success = hosted.run();
    ASSERT_EQ(success.outcome.kind, QNModelCorrectionOutcome::Kind::unchanged);
    composer.updateCorrectionIssue(success);
    EXPECT_EQ(composer.consecutiveHostedFallbackDispatchCount.get(), 0);
    EXPECT_EQ(composer.correctionIssue.get(), std::nullopt);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard.back(), std::nullopt);
}

TEST(CorrectionIssue, CloudOnWithNothingSetUpSaysSo) {
    QNServiceComposer composer(std::make_shared<ManualExecutor>());
    EngineRun hosted(Route::remote, Route::local);
    hosted.primary->setGenerateResult(QNModelCorrectionProviderResult::unavailable(
        std::string(QNServiceCorrectionProviderSelector::kEndpointMissingReason)));
    composer.updateCorrectionIssue(hosted.run());
    ASSERT_TRUE(composer.correctionIssue.get());
    const auto& issue = *composer.correctionIssue.get();
    EXPECT_EQ(issue.title, "Cloud Correction Not Set Up");
    EXPECT_EQ(issue.menuDetail, "Cloud not set up - using local");
    EXPECT_EQ(issue.detail,
              "No cloud correction is set up. Add your OpenAI key or the Codex tool in Settings, "
              "Correction; local correction is used meanwhile.");
}

TEST(CorrectionIssue, HostedFailureBelowTheTopDecisionIsAlwaysLasting) {
    QNServiceComposer composer(std::make_shared<ManualExecutor>());
    EngineRun run(Route::local, Route::remote);
    run.primary->setGenerateResult(QNModelCorrectionProviderResult::failed("model busy"));
    run.fallback->setGenerateResult(QNModelCorrectionProviderResult::failed("Request timeout"));
    const auto result = run.run();
    EXPECT_EQ(QNServiceComposer::firstHostedFailureReason(*result.decision), "Request timeout");

    composer.updateCorrectionIssue(result);
    EXPECT_EQ(composer.consecutiveHostedFallbackDispatchCount.get(), 1);
    ASSERT_TRUE(composer.correctionIssue.get());
    EXPECT_TRUE(composer.correctionIssue.get()->isPersistent);
    EXPECT_EQ(composer.correctionIssue.get()->title, "Connection Problem");
}

}  // namespace
}  // namespace ravlin
