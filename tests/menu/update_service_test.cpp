#include "app/shell/update_service.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_desktop.h"
#include "tests/support/manual_work_runner.h"

namespace ravlin {
namespace {

class UpdateService : public ::testing::Test {
  protected:
    std::shared_ptr<QNServiceUpdate> make(std::map<std::string, std::string> build) {
        auto updater = std::make_shared<QNControllerUpdater>(QNControllerUpdater::Dependencies{
            .executor = executor,
            .workRunner = std::make_shared<testing::ManualWorkRunner>(),
            .defaults = defaults,
            .httpClient = net::HttpClient::shared(),
            .workspace = desktop.seams().workspace,
            .buildConfig = QNConfigBuild(build),
        });
        return std::make_shared<QNServiceUpdate>(executor, logger, std::move(updater),
                                                 QNConfigBuild(std::move(build)));
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    std::shared_ptr<QNLoggerEvent> logger = std::make_shared<QNLoggerEvent>(defaults);
};

TEST_F(UpdateService, InitialValuesReachClosuresSetLaterInTheSameTurnButNotRemovedOnes) {
    auto service = make({{"RavlinUpdateFeedURL", "http://127.0.0.1:1/feed"}});
    int changes = 0;
    int kept = 0;
    int removed = 0;
    service->onChange = [&] { ++changes; };
    service->observers[Uuid::random()] = [&] { ++kept; };
    const Uuid gone = Uuid::random();
    service->observers[gone] = [&] { ++removed; };
    service->observers.erase(gone);

    executor->runUntilIdle();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(kept, 2);
    EXPECT_EQ(removed, 0);

    // Starting makes a check possible: one more delivery, on the next turn.
    service->updaterController().startUpdater();
    EXPECT_EQ(changes, 2);
    executor->runUntilIdle();
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(kept, 3);
}

TEST_F(UpdateService, AutomaticChecksSwitchLogsOneLineAndNotifies) {
    // The log keeps system lines while capturing.
    logger->startCapturing();
    auto service = make({});
    executor->runUntilIdle();
    int changes = 0;
    service->onChange = [&] { ++changes; };

    service->setAutomaticallyChecksForUpdates(true);
    service->setAutomaticallyChecksForUpdates(false);
    executor->runUntilIdle();

    ASSERT_EQ(logger->entries().size(), 2u);
    EXPECT_EQ(logger->entries()[0].message, "Automatic update checks enabled");
    EXPECT_EQ(logger->entries()[1].message, "Automatic update checks disabled");
    EXPECT_EQ(logger->entries()[1].kind, QNKindLog::system);
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(service->updaterController().automaticallyChecksForUpdates());
    EXPECT_EQ(defaults->boolValue(QNControllerUpdater::automaticChecksKey), false);
}

TEST_F(UpdateService, AppVersionFallsBackToZero) {
    const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases{
        {{{"CFBundleShortVersionString", "1.4.2"}}, "1.4.2"},
        {{{"CFBundleShortVersionString", "   "}}, "0"},
        {{}, "0"},
    };
    for (const auto& [build, expected] : cases) {
        EXPECT_EQ(make(build)->appVersion(), expected);
    }
}

}  // namespace
}  // namespace ravlin
