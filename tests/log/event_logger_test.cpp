#include "app/log/event_logger.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <ctime>

#include "app/log/log_window.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

// Fontconfig keeps its caches to the end of the process, which the leak checker reports once Qt
// has laid out text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace ravlin {
namespace {

using namespace std::chrono_literals;

class SessionLog : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }

    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    // 2024-01-02 03:04:05.678 UTC.
    std::chrono::system_clock::time_point wallTime =
        std::chrono::system_clock::time_point(1704164645678ms);
    std::shared_ptr<QNLoggerEvent> logger =
        std::make_shared<QNLoggerEvent>(defaults, clock, [this] { return wallTime; });

    [[nodiscard]] std::vector<std::string> messages(
        const std::deque<QNModelLogEvent>& events) const {
        std::vector<std::string> result;
        for (const auto& event : events) {
            result.push_back(event.message);
        }
        return result;
    }
};

TEST_F(SessionLog, NotCapturingKeepsOnlyTheIssuesThePolicyPicks) {
    logger->log(QNKindLog::error, "automatic error", "text");
    logger->log(QNKindLog::system, "automatic system");
    logger->log(QNKindLog::skipped, "always", std::nullopt, {}, {}, QNLogIssuePolicy::always);
    logger->log(QNKindLog::error, "never", std::nullopt, {}, {}, QNLogIssuePolicy::never);
    EXPECT_EQ(messages(logger->recentIssues()),
              (std::vector<std::string>{"automatic error", "always"}));
    EXPECT_EQ(logger->recentIssues().front().detail, std::nullopt);
    EXPECT_TRUE(logger->entries().empty());
}

TEST_F(SessionLog, DetailsAreKeptOnlyWhileCapturingAndAllowed) {
    logger->startCapturing();
    logger->log(QNKindLog::send, "allowed by default", "user text");
    defaults->set(QNLoggerEvent::includeTextDetailsKey, false);
    logger->log(QNKindLog::send, "switched off", "user text");
    defaults->set(QNLoggerEvent::includeTextDetailsKey, true);
    logger->log(QNKindLog::error, "allowed again", "user text");
    ASSERT_EQ(logger->entries().size(), 3U);
    EXPECT_EQ(logger->entries()[0].detail, "user text");
    EXPECT_EQ(logger->entries()[1].detail, std::nullopt);
    EXPECT_EQ(logger->entries()[2].detail, "user text");
    EXPECT_TRUE(logger->recentIssues().empty());  // only while not capturing

    logger->stopCapturing();
    for (const auto& entry : logger->entries()) {
        EXPECT_EQ(entry.detail, std::nullopt);
    }
}

TEST_F(SessionLog, KeepsTheNewestEntriesAndIssues) {
    for (int i = 0; i < 60; ++i) {
        logger->log(QNKindLog::error, "issue " + std::to_string(i));
    }
    ASSERT_EQ(logger->recentIssues().size(), 50U);
    EXPECT_EQ(logger->recentIssues().front().message, "issue 10");
    logger->startCapturing();
    for (int i = 0; i < 5003; ++i) {
        logger->log(QNKindLog::info, "entry " + std::to_string(i));
    }
    ASSERT_EQ(logger->entries().size(), 5000U);
    EXPECT_EQ(logger->entries().front().message, "entry 3");
    EXPECT_EQ(logger->entries().back().message, "entry 5002");
}

TEST_F(SessionLog, LinesCarryTimeUptimeTagMetricsAndIndentedDetail) {
    logger->startCapturing();
    clock->advance(5120ms);
    logger->log(QNKindLog::receive, "sid=s001 req=r002 state=done", "first\nsecond",
                {.inputTokens = 3, .totalTokens = 9, .latencyMilliseconds = 119.6});
    logger->log(QNKindLog::perf, "metric=x value=1");
    ASSERT_EQ(logger->entries().size(), 2U);
    EXPECT_EQ(logger->entries()[0].line(),
              "[03:04:05.678 uptime=5120ms] RECV sid=s001 req=r002 state=done input_tokens=3 "
              "total_tokens=9 latency_ms=120\n    first\n    second");
    EXPECT_EQ(logger->entries()[1].line(), "[03:04:05.678 uptime=5120ms] PERF metric=x value=1");
    const std::pair<QNKindLog, const char*> tags[] = {
        {QNKindLog::info, "INFO"},    {QNKindLog::send, "SEND"},    {QNKindLog::receive, "RECV"},
        {QNKindLog::applied, "APPL"}, {QNKindLog::skipped, "SKIP"}, {QNKindLog::rejected, "REJT"},
        {QNKindLog::error, "ERRO"},   {QNKindLog::system, "SYST"},  {QNKindLog::perf, "PERF"},
    };
    for (const auto& [kind, tag] : tags) {
        EXPECT_EQ(logTag(kind), tag);
    }
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "tests_log";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt cannot take its application apart during exit handlers.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

TEST_F(SessionLog, WindowCapturesWhileOpenExportsWhatItShowsAndDropsDetailsOnClose) {
    application();
    auto executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop(executor);
    logger->log(QNKindLog::error, "earlier failure", "hidden text");

    auto& controller = QNControllerLogWindow::shared();
    controller.show(logger, desktop.seams().pasteboard);
    EXPECT_TRUE(logger->isCapturing());
    auto* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    logger->log(QNKindLog::send, "live entry", "typed text");
    const QString expected = QString::fromStdString(logger->recentIssues()[0].line() + "\n" +
                                                    logger->entries()[0].line());
    EXPECT_EQ(window->visibleText(), expected);

    QTest::mouseClick(window->exportButton(), Qt::LeftButton);
    EXPECT_EQ(desktop.pasteboardString(), expected.toStdU16String());

    // Past the cap the oldest entries leave the top of the screen as new ones arrive.
    logger->log(QNKindLog::info, "two\nlines");
    for (std::size_t i = 0; i < QNLoggerEvent::maximumEntries; ++i) {
        logger->log(QNKindLog::info, "entry " + std::to_string(i), i % 2 == 0 ? "d1\nd2" : "");
    }
    QStringList lines{QString::fromStdString(logger->recentIssues()[0].line())};
    for (const auto& entry : logger->entries()) {
        lines << QString::fromStdString(entry.line());
    }
    EXPECT_EQ(window->visibleText(), lines.join(QLatin1Char('\n')));

    window->close();
    EXPECT_FALSE(logger->isCapturing());
    EXPECT_EQ(logger->entries()[0].detail, std::nullopt);
    logger->log(QNKindLog::send, "after closing");
    EXPECT_EQ(logger->entries().back().message, "entry 4999");
}

// Export copies what is on screen and says so; with nothing on screen it leaves whatever the
// person copied where it is, every format byte for byte.
TEST_F(SessionLog, ExportOfAnEmptyLogLeavesTheClipboardAndAFullOneSaysItCopied) {
    application();
    auto executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop(executor);
    const std::vector<platform::PasteboardItem> copied{
        {{"text/plain", {'m', 'i', 'n', 'e'}}, {"image/png", {0x89, 'P', 'N', 'G', 0, 1}}}};
    desktop.copyToPasteboard(copied);

    QNViewLogWindow window;
    window.attach(logger, desktop.seams().pasteboard);
    ASSERT_TRUE(window.visibleText().isEmpty());
    QTest::mouseClick(window.exportButton(), Qt::LeftButton);
    EXPECT_EQ(desktop.pasteboardItems(), copied);
    EXPECT_EQ(window.exportStatus(), "Nothing to copy: the log is empty.");

    logger->startCapturing();
    logger->log(QNKindLog::info, "first");
    logger->log(QNKindLog::info, "second");
    QTest::mouseClick(window.exportButton(), Qt::LeftButton);
    EXPECT_EQ(desktop.pasteboardString(), window.visibleText().toStdU16String());
    EXPECT_EQ(window.exportStatus(), "Copied 2 lines to the clipboard.");
    logger->stopCapturing();
}

}  // namespace
}  // namespace ravlin
