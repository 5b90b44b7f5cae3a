#include "app/shell/updater.h"

#include <gtest/gtest.h>

#include <QPushButton>

#include "platform/fake/fake_desktop.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/manual_work_runner.h"
#include "tests/support/qt_application.h"

namespace ravlin {
namespace {

[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_menu");

using Kind = QNUpdateCheckResult::Kind;
using testing::ScriptedReply;

std::string appcast(std::string_view items) {
    return std::string(R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Ravlin</title>)") +
           std::string(items) + "</channel></rss>";
}

std::string item(std::string_view version, std::string_view link = "https://example.org/r") {
    return "<item><title>Ravlin " + std::string(version) + "</title><link>" + std::string(link) +
           "</link><enclosure url=\"https://example.org/r.tar.gz\" sparkle:shortVersionString=\"" +
           std::string(version) + "\" length=\"1\" type=\"application/octet-stream\"/></item>";
}

ScriptedReply feedReply(std::string body, int status = 200) {
    ScriptedReply reply(status);
    reply.header("Content-Type", "application/rss+xml").chunk(std::move(body));
    return reply;
}

TEST(UpdateFeed, VersionsCompareByNumberPerComponent) {
    EXPECT_TRUE(compareVersions("0.10", "0.9") > 0);
    EXPECT_TRUE(compareVersions("1.0", "1") == 0);
    EXPECT_TRUE(compareVersions("01.2", "1.2.0") == 0);
    EXPECT_TRUE(compareVersions("1.2", "1.2.1") < 0);
    EXPECT_TRUE(compareVersions("100000000000000000000001", "99999999999999999999999") > 0);
    for (const std::string_view bad : {"", "1.", ".1", "1..2", "1.2b", " 1"}) {
        EXPECT_FALSE(isVersionText(bad)) << bad;
    }
}

TEST(UpdateFeed, NewestItemWinsWhateverItsPlaceAndUnsafeLinksAreDropped) {
    const auto reading = readUpdateFeed(
        appcast(item("0.9") + item("0.10", "file:///etc/passwd") + item("not-a-version")));
    ASSERT_TRUE(reading.newest) << reading.failure;
    EXPECT_EQ(reading.newest->version, "0.10");
    // The enclosure's address stands in for a link that is not a web page.
    EXPECT_EQ(reading.newest->link, "https://example.org/r.tar.gz");

    EXPECT_FALSE(readUpdateFeed(std::string(maximumFeedBytes + 1, ' ')).newest);
    EXPECT_FALSE(readUpdateFeed("<!DOCTYPE rss [<!ENTITY a \"aaaa\">]><rss/>").newest);
}

class Updater : public ::testing::Test {
  protected:
    std::unique_ptr<QNControllerUpdater> make(
        std::optional<std::string> feed,
        std::chrono::milliseconds timeout = std::chrono::seconds(30),
        EnvironmentSnapshot environment = {}) {
        std::map<std::string, std::string> build{{"CFBundleShortVersionString", "1.2"}};
        if (feed) {
            build.emplace("RavlinUpdateFeedURL", *feed);
        }
        return std::make_unique<QNControllerUpdater>(QNControllerUpdater::Dependencies{
            .executor = executor,
            .workRunner = runner,
            .defaults = defaults,
            .httpClient = net::HttpClient::shared(),
            .workspace = desktop.seams().workspace,
            .buildConfig = QNConfigBuild(std::move(build)),
            .environment = std::move(environment),
            // The calendar moves with the executor's virtual time.
            .wallClock =
                [this] {
                    return std::chrono::system_clock::time_point(std::chrono::hours(500000)) +
                           std::chrono::duration_cast<std::chrono::system_clock::duration>(
                               executor->now() - start);
                },
            .timeout = timeout,
        });
    }
    // Runs the queued check against the server and hands its answer back.
    void finishCheck() {
        ASSERT_EQ(runner->runAll(), 1u);
        executor->runUntilIdle();
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    Instant start = executor->now();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<testing::ManualWorkRunner> runner =
        std::make_shared<testing::ManualWorkRunner>();
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    testing::LoopbackHttpServer server;
};

TEST_F(Updater, ChecksAnswerInTheirWindow) {
    struct Case {
        const char* name;
        ScriptedReply reply;
        Kind kind;
        const char* message;  // a part of the window's text
    };
    const std::vector<Case> cases{
        {"newer", feedReply(appcast(item("1.10") + item("1.3"))), Kind::newerVersion,
         "Ravlin 1.10 is available; you have 1.2."},
        {"same", feedReply(appcast(item("1.2.0"))), Kind::upToDate,
         "Ravlin 1.2 is the newest version available."},
        {"older", feedReply(appcast(item("1.1.9"))), Kind::upToDate, "newest version"},
        {"malformed", feedReply("<rss><channel><item></channel></rss>"), Kind::failed,
         "The update feed could not be read: "},
        {"no version", feedReply(appcast(item("soon"))), Kind::failed,
         "The update feed names no version."},
        {"404", feedReply("missing", 404), Kind::failed,
         "The update server answered with HTTP 404."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto updater = make(server.url("/appcast.xml"));
        updater->startUpdater();
        server.enqueue(c.reply);
        updater->checkForUpdates();
        finishCheck();
        auto* window = updater->resultWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->message().contains(QString::fromUtf8(c.message)))
            << window->message().toStdString();
        EXPECT_EQ(window->openButton()->isVisibleTo(window), c.kind == Kind::newerVersion);
        EXPECT_EQ(window->title() == "You're up to date", c.kind == Kind::upToDate);
    }
    ASSERT_EQ(server.requestCount(), cases.size());
    EXPECT_EQ(server.requests().front().method, "GET");
    EXPECT_EQ(server.requests().front().target, "/appcast.xml");
}

TEST_F(Updater, TheNewerVersionsButtonOpensItsPage) {
    auto updater = make(server.url("/feed"));
    updater->startUpdater();
    server.enqueue(feedReply(appcast(item("2.0", "https://example.org/ravlin-2.0"))));
    updater->checkForUpdates();
    finishCheck();
    updater->resultWindow()->openButton()->click();
    EXPECT_EQ(desktop.openedURLs(), std::vector<std::string>{"https://example.org/ravlin-2.0"});
}

TEST_F(Updater, AStalledServerFailsAtTheTimeOut) {
    auto updater = make(server.url("/feed"), std::chrono::milliseconds(200));
    updater->startUpdater();
    server.enqueue(ScriptedReply().stallBeforeHead());
    updater->checkForUpdates();
    finishCheck();
    EXPECT_EQ(updater->resultWindow()->message(), "The update server did not answer in time.");
    EXPECT_TRUE(updater->canCheckForUpdates());
}

TEST_F(Updater, WithoutAFeedNothingCanBeChecked) {
    auto updater = make(std::nullopt);
    updater->startUpdater();
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->setAutomaticallyChecksForUpdates(true);
    updater->checkForUpdates();
    executor->advance(std::chrono::hours(48));
    EXPECT_EQ(runner->pendingCount(), 0u);
    EXPECT_EQ(updater->resultWindow(), nullptr);
}

// The environment names the feed when the build does not; the build's wins; blank is none.
TEST_F(Updater, TheEnvironmentNamesTheFeedWhenTheBuildDoesNot) {
    const std::string variable(QNControllerUpdater::feedURLVariable);
    const struct {
        std::optional<std::string> build;
        std::optional<std::string> environment;
        std::optional<std::string> used;
    } rows[] = {
        {std::nullopt, "  https://example.org/appcast.xml\n", "https://example.org/appcast.xml"},
        {"https://build.example/feed", "https://env.example/feed", "https://build.example/feed"},
        {std::nullopt, " \t ", std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        EnvironmentSnapshot environment;
        if (row.environment) {
            environment.emplace(variable, *row.environment);
        }
        auto updater = make(row.build, std::chrono::seconds(30), environment);
        EXPECT_EQ(updater->feedURL(), row.used) << row.environment.value_or("(unset)");
        updater->startUpdater();
        EXPECT_EQ(updater->canCheckForUpdates(), row.used.has_value());
    }
}

TEST_F(Updater, NoCheckCanStartWhileOneRuns) {
    auto updater = make(server.url("/feed"));
    std::vector<bool> heard;
    auto watching =
        updater->observeCanCheckForUpdates([&](const bool& can) { heard.push_back(can); });
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->startUpdater();
    server.enqueue(feedReply(appcast(item("1.2"))));
    updater->checkForUpdates();
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->checkForUpdates();
    finishCheck();
    EXPECT_EQ(heard, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(Updater, AutomaticChecksRunDailyFromTheLastCheckAndShowOnlyNewerVersions) {
    {
        auto first = make(server.url("/feed"));
        first->setAutomaticallyChecksForUpdates(true);
        first->startUpdater();
        // Never checked before: the first check is due at once.
        executor->runUntilIdle();
        server.enqueue(feedReply(appcast(item("1.2"))));
        finishCheck();
        EXPECT_EQ(first->resultWindow(), nullptr);
    }
    // The next run, 23 hours later, waits out the rest of the day.
    executor->advance(std::chrono::hours(23));
    auto updater = make(server.url("/feed"));
    EXPECT_TRUE(updater->automaticallyChecksForUpdates());
    updater->startUpdater();
    executor->advance(std::chrono::minutes(59));
    EXPECT_EQ(runner->pendingCount(), 0u);
    executor->advance(std::chrono::minutes(1));
    server.enqueue(feedReply(appcast(item("1.3"))));
    finishCheck();
    ASSERT_NE(updater->resultWindow(), nullptr);
    EXPECT_TRUE(updater->resultWindow()->title().contains("new version"));

    // Switched off: no further check.
    updater->setAutomaticallyChecksForUpdates(false);
    executor->advance(std::chrono::hours(30));
    EXPECT_EQ(runner->pendingCount(), 0u);
    EXPECT_EQ(server.requestCount(), 2u);
}

}  // namespace
}  // namespace ravlin
