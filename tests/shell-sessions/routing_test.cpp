// Engine routing, the Codex detection, the availability line, correction issues and the panel's
// minimum height.

#include <gtest/gtest.h>

#include "app/preferences/byok_store.h"
#include "core/engine/correction_engine.h"
#include "tests/shell-sessions/sessions_fixture.h"
#include "tests/support/qt_application.h"

namespace ravlin::testing {
namespace {

[[maybe_unused]] auto* const qtApplication = addQtApplication("tests_shell_sessions");

class Routing : public SessionsFixture {};

const std::string kOpenAI(QNStoreBringYourOwnKey::openAIProviderID);

std::string route(const std::string& intent, const std::string& primary,
                  const std::string& fallback, const std::string& reason) {
    return "correction_route intent=" + intent + " primary=" + primary + " fallback=" + fallback +
           " reason=" + reason;
}

TEST_F(Routing, EveryReconfigureReplacesPrewarmsOffTheSequenceAndLogsLiveThenPolish) {
    struct Case {
        QNCorrectionModelMode mode;
        bool ownKeyOn, ownKeyComplete, onDeviceAvailable;
        std::string live, polish;
    };
    startApp();
    for (const Case& c : {
             Case{QNCorrectionModelMode::local, false, false, true,
                  route("live", "on-device", "none", "mode-local"),
                  route("polish", "on-device", "none", "mode-local")},
             Case{QNCorrectionModelMode::online, true, true, true,
                  route("live", "on-device", "none", "mode-online"),
                  route("polish", kOpenAI, "on-device", "mode-online")},
             Case{QNCorrectionModelMode::online, true, false, true,
                  route("live", "on-device", "none", "mode-online"),
                  route("polish", "on-device", "none", "online-unavailable")},
             Case{QNCorrectionModelMode::local, false, false, false,
                  route("live", "on-device", "none", "fm-unavailable"),
                  route("polish", "on-device", "none", "mode-local")},
         }) {
        SCOPED_TRACE(c.polish);
        onDevice->setAvailability({c.onDeviceAvailable, "Scripted", ""});
        auto& byok = *app->stores->bringYourOwnKey;
        app->stores->correctionModelMode->setMode(c.mode);
        byok.setEnabled(c.ownKeyOn);
        byok.setModel("gpt-5.4-nano");
        (void)byok.setAPIKey(c.ownKeyComplete ? "sk-test" : "");
        for (int round = 0; round < 2; ++round) {  // nothing is compared with the last routing
            const auto before = lines().size();
            const int prewarms = onDevice->prewarmCalls();
            app->reconfigureCorrectionEngines();
            EXPECT_EQ(onDevice->prewarmCalls(), prewarms);
            EXPECT_EQ(linesWith("", before), (std::vector<std::string>{c.live, c.polish}));
            drive(0ms);
            EXPECT_GT(onDevice->prewarmCalls(), prewarms);
        }
    }
    // A chunk re-routes the polish engine only, logging and prewarming nothing.
    const auto before = lines().size();
    const int prewarms = onDevice->prewarmCalls();
    app->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
    app->stores->bringYourOwnKey->setEnabled(true);
    (void)app->stores->bringYourOwnKey->setAPIKey("sk-test");
    EXPECT_EQ(app->reroutePolishEngine(42),
              "correction_route intent=polish chunk_chars=42 primary=" + kOpenAI +
                  " fallback=on-device reason=mode-online");
    drive(0ms);
    EXPECT_EQ(lines().size(), before);
    EXPECT_EQ(onDevice->prewarmCalls(), prewarms);
    EXPECT_EQ(app->polishEngine->diagnosticsSummary().primary.providerID, kOpenAI);
    EXPECT_EQ(app->liveEngine->diagnosticsSummary().primary.providerID, "on-device");
}

QNCodexCLIDetection codex(std::string version, bool loggedIn) {
    return {"/usr/local/bin/codex", std::move(version), QNCodexCLISupportStatus::supported,
            loggedIn ? QNCodexCLILoginState::loggedIn : QNCodexCLILoginState::notLoggedIn};
}

TEST_F(Routing, ADetectionIsStoredAndReroutesOnlyWhenTheConfiguredStateChanges) {
    struct Case {
        QNCodexCLIDetection stored, detected;
        std::string line;  // empty: nothing written
    };
    startApp();
    for (const Case& c : {
             Case{codex("0.116.0", false), codex("0.116.0", true),
                  "Codex CLI configured state changed: configured"},
             Case{codex("0.116.0", true), codex("0.116.0", false),
                  "Codex CLI configured state changed: not configured"},
             Case{codex("0.116.0", true), codex("0.120.1", true), ""},
         }) {
        SCOPED_TRACE(c.line);
        app->stores->bringYourOwnKey->setCodexDetection(c.stored);
        const auto before = lines().size();
        app->reportCodexCLIDetection(c.detected);
        EXPECT_EQ(app->stores->bringYourOwnKey->codexDetection().get(), c.detected);
        const auto after = linesWith("", before);
        ASSERT_EQ(after.size(), c.line.empty() ? 0u : 3u);
        if (!c.line.empty()) {
            EXPECT_EQ(after[0], c.line);
            EXPECT_EQ(after[1].rfind("correction_route intent=live", 0), 0u);
        }
    }
}

TEST_F(Routing, TheStartUpDetectionAnswersAfterStartOrNotAtAllOnceTheCoordinatorIsGone) {
    for (const bool keep : {true, false}) {
        // The stored detection was configured; this desktop finds no tool.
        QNStoreBringYourOwnKey(defaults, {}).setCodexDetection(codex("0.116.0", true));
        app = make();
        app->start();
        const auto started = lines().size();
        EXPECT_EQ(lines().back(), "Coordinator started");
        std::weak_ptr<QNCoordinatorApp> weak = app;
        if (!keep) {
            app.reset();
        }
        drive(100ms);
        if (keep) {
            EXPECT_EQ(linesWith("", started).size(), 3u);
            EXPECT_EQ(written("Codex CLI configured state changed: not configured"), 1);
            const auto system = systemLines();
            EXPECT_EQ(std::count(system.begin(), system.end(),
                                 "Codex CLI configured state changed: configured=false"),
                      1);
        }
        EXPECT_EQ(weak.expired(), !keep);
    }
}

TEST_F(Routing, AvailabilityLineIssueVisibilityAndPanelMinimum) {
    onDevice->setAvailability({false, "Model not loaded", "detail"});
    startApp();
    app->logEngineAvailability();
    EXPECT_EQ(lines().back(), "Engine availability: local_model=unavailable (Model not loaded)");

    EXPECT_EQ(app->currentCorrectionIssue(), std::nullopt);
    // The composer's warning came from the route it was given: a route changed since (cloud
    // switched off) shows none of it.
    app->composer->correctionUnavailableWarning.set("Online Model Not Configured");
    app->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
    app->toggleCloudAI();
    EXPECT_EQ(app->composer->correctionUnavailableWarning.get(), std::nullopt);
    for (const bool onlineOnly : {false, true}) {
        const QNModelCorrectionIssue issue{.title = "Cloud", .requiresOnlineMode = onlineOnly};
        app->composer->setCorrectionIssue(issue);
        app->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
        EXPECT_EQ(app->currentCorrectionIssue(), issue);
        app->stores->correctionModelMode->setMode(QNCorrectionModelMode::local);
        EXPECT_EQ(app->currentCorrectionIssue(), onlineOnly ? std::nullopt : std::optional(issue));
    }

    for (const auto [size, points] :
         {std::pair{QNComposerFontSize::xxs, 12.0}, std::pair{QNComposerFontSize::xxl, 24.0}}) {
        app->applyComposerFontSize(size);
        EXPECT_EQ(app->stores->fontSize->size().get(), size);
        EXPECT_EQ(app->panel->panelMinHeight(),
                  std::max(40.0, app->textController->lineHeight(points)));
        EXPECT_GE(app->panel->minimumHeight(), 40);
        EXPECT_EQ(app->panel->minimumWidth(), 360);
    }
}

}  // namespace
}  // namespace ravlin::testing
