#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "app/shell/menu_bar.h"
#include "tests/support/coordinator_fixture.h"

namespace ravlin {
namespace {

using Panes = std::vector<std::optional<QNModelSettingsPane>>;

class CloudToggle : public testing::CoordinatorFixture {
  protected:
    // The session's route lines ("correction_route intent=live ...", then polish) since `from`.
    [[nodiscard]] static std::vector<std::string> routeLinesSince(const QNCoordinatorApp& app,
                                                                  std::size_t from) {
        std::vector<std::string> lines;
        const auto all = sessionLines(app);
        for (std::size_t i = from; i < all.size(); ++i) {
            lines.push_back(all[i].substr(0, all[i].find(" primary=")));
        }
        return lines;
    }
};

// Switching cloud correction never opens the settings: with no cloud route set up the menu's
// first line says so at once (its item opens the Correction pane), and switching off takes it
// away again.
TEST_F(CloudToggle, SwitchingNeverOpensSettingsTheMenuSaysWhatIsNotSetUp) {
    const auto app = startCoordinator();
    settingsRequests->clear();
    const auto& mode = app->stores->correctionModelMode->mode();

    for (const auto expected : {QNCorrectionModelMode::online, QNCorrectionModelMode::local,
                                QNCorrectionModelMode::online}) {
        const std::size_t before = app->logger->entries().size();
        // Through the menu: its check mark and its first line follow at once.
        app->menuBar->cloudAIItem()->trigger();
        EXPECT_EQ(mode.get(), expected);
        const bool online = expected == QNCorrectionModelMode::online;
        EXPECT_EQ(app->menuBar->cloudAIItem()->isChecked(), online);
        EXPECT_EQ(routeLinesSince(*app, before),
                  (std::vector<std::string>{"correction_route intent=live",
                                            "correction_route intent=polish"}));
        EXPECT_EQ(app->menuBar->correctionIssueItem()->isVisible(), online);
        if (online) {
            EXPECT_EQ(app->menuBar->correctionIssueItem()->text(),
                      "Cloud not set up - using local");
        }
    }
    EXPECT_TRUE(settingsRequests->empty());
    // The offer: the menu's line opens the Correction pane when the person chooses it.
    app->menuBar->correctionIssueItem()->trigger();
    EXPECT_EQ(*settingsRequests, Panes{QNModelSettingsPane::correction});
}

TEST_F(CloudToggle, EachCloudRouteAloneCounts) {
    const struct {
        const char* name;
        std::function<void(QNCoordinatorEnvironment&)> environment;
        std::function<void(QNCoordinatorApp&)> stores;
    } cases[] = {
        {"generic endpoint",
         [](QNCoordinatorEnvironment& env) {
             env.processEnvironment = {
                 {"RAVLIN_REMOTE_CORRECTION_URL", "https://correct.example.org/v1"},
                 {"RAVLIN_REMOTE_CORRECTION_MODEL", "m"},
                 {"RAVLIN_REMOTE_CORRECTION_API_KEY", "k"}};
         },
         [](QNCoordinatorApp&) {}},
        {"own key", [](QNCoordinatorEnvironment&) {},
         [](QNCoordinatorApp& app) {
             app.stores->bringYourOwnKey->setEnabled(true);
             ASSERT_TRUE(app.stores->bringYourOwnKey->setAPIKey("sk-test"));
         }},
        {"hosted service named by the environment",
         [](QNCoordinatorEnvironment& env) {
             env.processEnvironment = {
                 {"RAVLIN_SUPABASE_FUNCTIONS_BASE_URL", "https://fn.example.org/functions/v1"},
                 {"RAVLIN_SUPABASE_PUBLISHABLE_KEY", "publishable"}};
         },
         [](QNCoordinatorApp&) {}},
        {"hosted service with the anon key",
         [](QNCoordinatorEnvironment& env) {
             env.buildConfig = QNConfigBuild({
                 {"RavlinSupabaseFunctionsBaseURL", "https://fn.example.org/functions/v1"},
                 {"RavlinSupabasePublishableKey", "   "},
                 {"RavlinSupabaseAnonKey", "anon"},
             });
         },
         [](QNCoordinatorApp&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults = std::make_shared<MemoryDefaults>();
        auto env = environment();
        c.environment(env);
        const auto app = QNCoordinatorApp::create(std::move(env));
        c.stores(*app);
        app->toggleCloudAI();
        EXPECT_EQ(app->stores->correctionModelMode->mode().get(), QNCorrectionModelMode::online);
        EXPECT_TRUE(app->isCloudRouteConfigured());
        EXPECT_EQ(app->currentCorrectionIssue(), std::nullopt);
    }
    // A hosted address without any public key is not a route.
    defaults = std::make_shared<MemoryDefaults>();
    auto env = environment();
    env.buildConfig = QNConfigBuild({{"RavlinSupabaseFunctionsBaseURL", "https://fn.example.org"}});
    const auto app = QNCoordinatorApp::create(std::move(env));
    app->toggleCloudAI();
    EXPECT_FALSE(app->isCloudRouteConfigured());
    EXPECT_EQ(app->currentCorrectionIssue(), QNCoordinatorApp::cloudNotSetUpIssue());
}

TEST_F(CloudToggle, StartUpLeavesTheSettingsClosedWhenTrustedAndTheMenuAsksForTrustAfresh) {
    const auto app = startCoordinator();
    EXPECT_TRUE(settingsRequests->empty());

    desktop.setTrusted(false);
    app->menuBar->menu()->popup(QPoint(10, 10));
    EXPECT_FALSE(app->menuBar->triggerItem()->isEnabled());
    EXPECT_FALSE(app->permissions->isTrusted().get());
    app->menuBar->menu()->hide();
}

}  // namespace
}  // namespace ravlin
