#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "app/target/focus_snapshot.h"
#include "tests/support/coordinator_fixture.h"
#include "tests/support/qt_application.h"

namespace ravlin {
namespace {

[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_shell");

using Lines = std::vector<std::string>;

// The lines about triggers, trust and start-up; the routing and availability lines are not
// start-up's own and are left out.
Lines startUpLines(const Lines& lines) {
    static const std::vector<std::string> prefixes = {"Sparkle",       "Coordinator",  "Hotkey",
                                                      "Global hotkey", "Fn hotkey",    "Double-tap",
                                                      "Quick Fix",     "Accessibility"};
    Lines kept;
    std::ranges::copy_if(lines, std::back_inserter(kept), [](const std::string& line) {
        return std::ranges::any_of(prefixes,
                                   [&](const std::string& p) { return line.starts_with(p); });
    });
    return kept;
}

struct StartUpCase {
    const char* name;
    bool trusted;
    std::uint32_t keyCode;
    std::uint32_t modifiers;
    bool switchesOn;
    bool tapsSeeFn;
    Lines session;
    Lines system;
    std::size_t settingsRequests;
    std::size_t hotKeys;
    std::size_t taps;
};

class StartUp : public testing::CoordinatorFixture,
                public ::testing::WithParamInterface<StartUpCase> {};

TEST_P(StartUp, LogsRegistersAndDefersInOrder) {
    const auto& c = GetParam();
    desktop.setTrusted(c.trusted);
    desktop.setTapsSeeFn(c.tapsSeeFn);
    desktop.reserveHotKey({15, 0x100});  // another program holds ⌘R
    defaults->set("HotKey.keyCode", std::int64_t{c.keyCode});
    defaults->set("HotKey.modifiers", std::int64_t{c.modifiers});
    defaults->set("DoubleTap.enabled", c.switchesOn);
    defaults->set("QuickFix.enabled", c.switchesOn);

    const auto app = startCoordinator();

    const auto session = sessionLines(*app);
    EXPECT_EQ(startUpLines(session), c.session);
    EXPECT_EQ(session.back(), "Coordinator started");
    EXPECT_EQ(startUpLines(systemLines()), c.system);
    ASSERT_EQ(settingsRequests->size(), c.settingsRequests);
    if (c.settingsRequests > 0) {
        EXPECT_EQ(settingsRequests->front(), std::nullopt);
    }
    EXPECT_EQ(desktop.hotKeyCount(), c.hotKeys);
    EXPECT_EQ(desktop.tapCount(), c.taps);
    // Both double-tap triggers exist whether or not they are on or registered.
    ASSERT_NE(app->doubleTap, nullptr);
    ASSERT_NE(app->quickFixDoubleTap, nullptr);
    EXPECT_EQ(app->doubleTap->isRegistered(), c.trusted && c.switchesOn);
    EXPECT_EQ(app->quickFixDoubleTap->isRegistered(), c.trusted && c.switchesOn);
    EXPECT_EQ(app->hotKey == nullptr, c.keyCode == 0xFFFFFFFF && c.modifiers == 0);
    EXPECT_EQ(desktop.trustPrompts(), 0);
}

const Lines kUntrusted = {"Accessibility not granted yet; showing Settings"};

INSTANTIATE_TEST_SUITE_P(
    , StartUp,
    ::testing::Values(
        StartUpCase{"Trusted",
                    true,
                    14,
                    0x100,
                    true,
                    true,
                    {"Sparkle updater started", "Hotkey registered: ⌘E",
                     "Double-tap trigger registered: ee", "Quick Fix trigger registered: R⇧ R⇧",
                     "Coordinator started"},
                    {"Global hotkey registered: ⌘E"},
                    0,
                    1,
                    2},
        StartUpCase{"Untrusted",
                    false,
                    14,
                    0x100,
                    true,
                    true,
                    {"Sparkle updater started", "Hotkey registered: ⌘E", "Coordinator started"},
                    {kUntrusted[0], "Global hotkey registered: ⌘E",
                     "Double-tap registration deferred until accessibility granted",
                     "Quick Fix registration deferred until accessibility granted"},
                    1,
                    1,
                    0},
        StartUpCase{"NoShortcutSwitchesOff",
                    true,
                    0xFFFFFFFF,
                    0,
                    false,
                    true,
                    {"Sparkle updater started", "Hotkey disabled", "Coordinator started"},
                    {"Global hotkey disabled"},
                    0,
                    0,
                    0},
        StartUpCase{"UntrustedFnSwitchesOff",
                    false,
                    63,
                    0x800000,
                    false,
                    true,
                    {"Sparkle updater started", "Coordinator started"},
                    {kUntrusted[0], "Fn hotkey registration deferred until accessibility granted"},
                    1,
                    0,
                    0},
        StartUpCase{
            "TrustedFnWithKey",
            true,
            49,
            0x800000,
            false,
            true,
            {"Sparkle updater started", "Hotkey registered: fnSpace", "Coordinator started"},
            {"Global hotkey registered: fnSpace"},
            0,
            0,
            1},
        StartUpCase{"FnWhereTapsCannotSeeIt",
                    true,
                    63,
                    0x800000,
                    true,
                    false,
                    {"Sparkle updater started", "Hotkey registration failed",
                     "Double-tap trigger registered: ee", "Quick Fix trigger registered: R⇧ R⇧",
                     "Coordinator started"},
                    {"Hotkey registration FAILED"},
                    0,
                    0,
                    2},
        StartUpCase{
            "ShortcutHeldElsewhere",
            true,
            15,
            0x100,
            false,
            true,
            {"Sparkle updater started", "Hotkey registration failed", "Coordinator started"},
            {"Hotkey registration FAILED"},
            0,
            0,
            0}),
    [](const auto& info) { return std::string(info.param.name); });

class StartUpDetails : public testing::CoordinatorFixture {};

TEST_F(StartUpDetails, FailuresAreErrorsEverythingElseInfo) {
    desktop.reserveHotKey({15, 0x100});
    defaults->set("HotKey.keyCode", std::int64_t{15});
    auto app = startCoordinator();
    for (const auto& record : systemRecords()) {
        if (record.category != QNCoordinatorApp::logCategory) {
            continue;
        }
        EXPECT_EQ(record.subsystem, "io.quen.ravlin.AppRavlinInput");
        EXPECT_EQ(record.level, record.message.find("FAILED") != std::string::npos
                                    ? platform::LogLevel::error
                                    : platform::LogLevel::info)
            << record.message;
    }
    for (const auto& entry : app->logger->entries()) {
        EXPECT_EQ(entry.kind, entry.message == "Hotkey registration failed" ? QNKindLog::error
                                                                            : QNKindLog::system)
            << entry.message;
    }
    // Not capturing, the log keeps only the failure, as a recent issue.
    app.reset();
    app = startCoordinator(false);
    ASSERT_EQ(app->logger->recentIssues().size(), 1u);
    EXPECT_EQ(app->logger->recentIssues().front().message, "Hotkey registration failed");
}

// Settings that cannot be saved and a stored shortcut set aside are kept as issues of the
// session log while its window is closed, each once.
TEST_F(StartUpDetails, UnsavedSettingsAndSetAsideShortcutsAreIssuesOfTheSessionLog) {
    QTemporaryDir folder;
    const QString ini = folder.filePath("ravlin.ini");
    ASSERT_EQ(::mkfifo(ini.toLocal8Bit().constData(), 0600), 0);
    const auto settings = std::make_shared<QSettingsDefaults>(ini);
    settings->set("HotKey.keyCode", std::int64_t{0});
    settings->set("HotKey.modifiers", std::int64_t{0});
    auto env = environment();
    env.defaults = settings;
    const auto app = QNCoordinatorApp::create(env);
    Lines issues;
    for (const auto& issue : app->logger->recentIssues()) {
        issues.push_back(issue.message);
    }
    EXPECT_EQ(issues, (Lines{"Settings cannot be saved: " + ini.toStdString() +
                                 " is a FIFO, not a regular file; using the defaults until Ravlin "
                                 "quits",
                             "Stored shortcut out of range: HotKey.keyCode=0 HotKey.modifiers=0; "
                             "using the default"}));
    EXPECT_EQ(app->stores->hotKey->config().get(), QNConfigHotKey{});
}

TEST_F(StartUpDetails, PanelMinimumHeightFollowsTheLargestFont) {
    defaults->set("ComposerFontSize", std::int64_t{6});
    const auto app = startCoordinator();
    EXPECT_EQ(app->panel->panelMinHeight(), std::max(40.0, app->textController->lineHeight(24)));
    EXPECT_EQ(app->panel->minimumWidth(), 360);
    EXPECT_EQ(QNCoordinatorApp::composerPointSize(QNComposerFontSize::xxs), 12);
}

TEST_F(StartUpDetails, FocusCapturesFeedTheMonitor) {
    desktop.setTrusted(false);
    const auto app = startCoordinator();
    ASSERT_TRUE(QNModelFocusSnapshot::accessibilityTrustObserver);
    desktop.setTrusted(true);
    QNModelFocusSnapshot::accessibilityTrustObserver(true);
    EXPECT_TRUE(app->permissions->isTrusted().get());
    EXPECT_TRUE(app->doubleTap->isRegistered());
}

TEST_F(StartUpDetails, NothingFiresIntoAGoneCoordinator) {
    auto app = startCoordinator();
    ASSERT_EQ(desktop.hotKeyCount(), 1u);
    ASSERT_TRUE(desktop.pressHotKey({14, 0x100}));  // the press waits on the executor
    app.reset();
    executor->runUntilIdle();
    EXPECT_EQ(desktop.hotKeyCount(), 0u);
    EXPECT_EQ(desktop.tapCount(), 0u);
    QNModelFocusSnapshot::accessibilityTrustObserver(false);
    activation.activate();
}

}  // namespace
}  // namespace ravlin
