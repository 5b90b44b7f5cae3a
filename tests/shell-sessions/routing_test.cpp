// Engine routing, the Codex detection, the availability line, correction issues and the panel's
// minimum height, on a started coordinator.

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

TEST_F(Routing, EveryReconfigureReplacesPrewarmsAndLogsBothEnginesLiveFirst) {
    struct Case {
        const char* name;
        QNCorrectionModelMode mode;
        bool ownKeyOn, ownKeyComplete, onDeviceAvailable;
        std::string live, polish;
    };
    startApp();
    for (const Case& c : {
             Case{"local", QNCorrectionModelMode::local, false, false, true,
                  "correction_route intent=live primary=on-device fallback=none reason=mode-local",
                  "correction_route intent=polish primary=on-device fallback=none "
                  "reason=mode-local"},
             Case{"online with a complete own key", QNCorrectionModelMode::online, true, true, true,
                  "correction_route intent=live primary=on-device fallback=none "
                  "reason=mode-online",
                  "correction_route intent=polish primary=" + kOpenAI +
                      " fallback=on-device reason=mode-online"},
             Case{"online with an own key without its key", QNCorrectionModelMode::online, true,
                  false, true,
                  "correction_route intent=live primary=on-device fallback=none "
                  "reason=mode-online",
                  "correction_route intent=polish primary=on-device fallback=none "
                  "reason=online-unavailable"},
             Case{"on-device model unavailable", QNCorrectionModelMode::local, false, false, false,
                  "correction_route intent=live primary=on-device fallback=none "
                  "reason=fm-unavailable",
                  "correction_route intent=polish primary=on-device fallback=none "
                  "reason=mode-local"},
         }) {
        SCOPED_TRACE(c.name);
        onDevice->setAvailability({c.onDeviceAvailable, "Scripted", ""});
        auto& stores = *app->stores;
        stores.correctionModelMode->setMode(c.mode);
        stores.bringYourOwnKey->setEnabled(c.ownKeyOn);
        stores.bringYourOwnKey->setProviderKind(QNBYOKProviderKind::openai);
        stores.bringYourOwnKey->setModel("gpt-5.4-nano");
        (void)stores.bringYourOwnKey->setAPIKey(c.ownKeyComplete ? "sk-test" : "");

        // Twice: nothing is compared with the routing before.
        for (int round = 0; round < 2; ++round) {
            const auto before = lines().size();
            const int prewarmsBefore = onDevice->prewarmCalls();
            app->reconfigureCorrectionEngines();
            EXPECT_EQ(onDevice->prewarmCalls(), prewarmsBefore) << "prewarmed on the main sequence";
            ASSERT_EQ(lines().size(), before + 2);
            EXPECT_EQ(lines()[before], c.live);
            EXPECT_EQ(lines()[before + 1], c.polish);
            drive(0ms);
            EXPECT_GT(onDevice->prewarmCalls(), prewarmsBefore);
        }
    }
}

TEST_F(Routing, AChunkReroutesOnlyThePolishEngineAndLogsNothing) {
    startApp();
    app->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
    app->stores->bringYourOwnKey->setEnabled(true);
    app->stores->bringYourOwnKey->setModel("gpt-5.4-nano");
    (void)app->stores->bringYourOwnKey->setAPIKey("sk-test");
    const auto livePrimary = app->liveEngine->diagnosticsSummary().primary.providerID;
    const auto before = lines().size();
    const int prewarms = onDevice->prewarmCalls();

    EXPECT_EQ(app->reroutePolishEngine(42),
              "correction_route intent=polish chunk_chars=42 primary=" + kOpenAI +
                  " fallback=on-device reason=mode-online");
    drive(0ms);
    EXPECT_EQ(lines().size(), before);
    EXPECT_EQ(onDevice->prewarmCalls(), prewarms);
    EXPECT_EQ(app->polishEngine->diagnosticsSummary().primary.providerID, kOpenAI);
    EXPECT_EQ(app->liveEngine->diagnosticsSummary().primary.providerID, livePrimary);
}

QNCodexCLIDetection codex(std::string version, bool loggedIn) {
    return {"/usr/local/bin/codex", std::move(version), QNCodexCLISupportStatus::supported,
            loggedIn ? QNCodexCLILoginState::loggedIn : QNCodexCLILoginState::notLoggedIn};
}

TEST_F(Routing, ADetectionReroutesOnlyWhenTheConfiguredStateChanges) {
    struct Case {
        const char* name;
        QNCodexCLIDetection stored, detected;
        std::optional<std::string> line;  // with the two route lines after it
    };
    for (const Case& c : {
             Case{"now configured", codex("0.116.0", false), codex("0.116.0", true),
                  "Codex CLI configured state changed: configured"},
             Case{"no longer configured", codex("0.116.0", true), codex("0.116.0", false),
                  "Codex CLI configured state changed: not configured"},
             Case{"only the version", codex("0.116.0", true), codex("0.120.1", true), {}},
         }) {
        SCOPED_TRACE(c.name);
        startApp();
        app->stores->bringYourOwnKey->setCodexDetection(c.stored);
        const auto before = lines().size();
        app->reportCodexCLIDetection(c.detected);
        EXPECT_EQ(app->stores->bringYourOwnKey->codexDetection().get(), c.detected);
        if (!c.line) {
            EXPECT_EQ(lines().size(), before);
            continue;
        }
        ASSERT_EQ(lines().size(), before + 3);
        EXPECT_EQ(lines()[before], *c.line);
        EXPECT_EQ(lines()[before + 1].rfind("correction_route intent=live", 0), 0u);
        EXPECT_EQ(lines()[before + 2].rfind("correction_route intent=polish", 0), 0u);
    }
}

TEST_F(Routing, TheStartUpDetectionAnswersAfterStartAndIsDroppedWhenTheCoordinatorIsGone) {
    // The stored detection was configured; this desktop finds no tool.
    for (const bool keepCoordinator : {true, false}) {
        SCOPED_TRACE(keepCoordinator ? "kept" : "gone");
        QNStoreBringYourOwnKey(defaults, {}).setCodexDetection(codex("0.116.0", true));
        auto env = environment();
        env.foundationModels = [provider = onDevice](const std::string&) { return provider; };
        auto coordinator = QNCoordinatorApp::create(std::move(env));
        coordinator->logger->startCapturing();
        coordinator->start();
        const auto atStart = sessionLines(*coordinator);
        ASSERT_FALSE(atStart.empty());
        EXPECT_EQ(atStart.back(), "Coordinator started");
        std::weak_ptr<QNCoordinatorApp> weak = coordinator;
        if (!keepCoordinator) {
            coordinator.reset();
        }
        drive(100ms);
        if (!keepCoordinator) {
            EXPECT_TRUE(weak.expired());
            continue;
        }
        const auto after = sessionLines(*coordinator);
        ASSERT_EQ(after.size(), atStart.size() + 3);
        EXPECT_EQ(after[atStart.size()], "Codex CLI configured state changed: not configured");
        const auto system = systemLines();
        EXPECT_NE(std::find(system.begin(), system.end(),
                            "Codex CLI configured state changed: configured=false"),
                  system.end());
        coordinator.reset();
        drive(50ms);
    }
}

TEST_F(Routing, TheAvailabilityLineNamesTheLiveEnginesModel) {
    for (const bool available : {true, false}) {
        onDevice->setAvailability({available, available ? "Ready" : "Model not loaded", "x"});
        startApp();
        app->logEngineAvailability();
        EXPECT_EQ(lines().back(),
                  std::string("Engine availability: local_model=") +
                      (available ? "available (Ready)" : "unavailable (Model not loaded)"));
    }
}

TEST_F(Routing, AnOnlineOnlyIssueIsHiddenWhileTheModeIsLocal) {
    startApp();
    EXPECT_EQ(app->currentCorrectionIssue(), std::nullopt);
    for (const bool onlineOnly : {false, true}) {
        QNModelCorrectionIssue issue{.title = "Cloud AI unavailable",
                                     .requiresOnlineMode = onlineOnly};
        app->composer->setCorrectionIssue(issue);
        app->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
        EXPECT_EQ(app->currentCorrectionIssue(), issue);
        app->stores->correctionModelMode->setMode(QNCorrectionModelMode::local);
        EXPECT_EQ(app->currentCorrectionIssue(), onlineOnly ? std::nullopt : std::optional(issue));
    }
}

TEST_F(Routing, TheFontSizeSetsThePointsAndAPanelMinimumOfAtLeast40) {
    startApp();
    for (const auto [size, points] :
         {std::pair{QNComposerFontSize::xxs, 12.0}, std::pair{QNComposerFontSize::m, 18.0},
          std::pair{QNComposerFontSize::xxl, 24.0}}) {
        app->applyComposerFontSize(size);
        EXPECT_EQ(app->stores->fontSize->size().get(), size);
        EXPECT_EQ(QNCoordinatorApp::composerPointSize(size), points);
        const double expected = std::max(40.0, app->textController->lineHeight(points));
        EXPECT_EQ(app->panel->panelMinHeight(), expected);
        EXPECT_GE(app->panel->minimumHeight(), 40);
        EXPECT_EQ(app->panel->minimumWidth(), 360);
    }
}

}  // namespace
}  // namespace ravlin::testing
