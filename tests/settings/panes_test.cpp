// The General, About and Shortcuts panes, and the preview rendering.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>

#include "app/settings/pane_about.h"
#include "app/settings/pane_general.h"
#include "app/settings/pane_shortcuts.h"
#include "app/shell/recorders/double_tap_recorder.h"
#include "app/shell/recorders/hot_key_recorder.h"
#include "app/shell/update_service.h"
#include "tests/settings/settings_fixture.h"

namespace ravlin {
namespace {

using Pane = QNModelSettingsPane;
using Capture = QNModeKeyCapture;
using platform::LoginItemStatus;

class SettingsPanes : public testing::SettingsFixture {
  public:
    QNPaneGeneral& general() { return *view().generalPane(); }
    QNPaneShortcuts& shortcuts() { return *view().shortcutsPane(); }
    [[nodiscard]] bool shown(const QWidget* widget) const {
        return widget->isVisibleTo(controller.window());
    }
};

TEST_F(SettingsPanes, LaunchAtLoginFollowsTheStoreAndItsError) {
    const struct {
        LoginItemStatus status;
        bool on;
        bool button;
    } rows[] = {{LoginItemStatus::enabled, true, false},
                {LoginItemStatus::requiresApproval, true, true},
                {LoginItemStatus::notRegistered, false, false},
                {LoginItemStatus::notFound, false, false}};
    show();
    for (const auto& row : rows) {
        desktop.setLoginItemStatus(row.status);
        coordinator->stores->launchAtLogin->refreshStatus();
        EXPECT_EQ(general().launchToggle()->isChecked(), row.on) << int(row.status);
        EXPECT_EQ(shown(general().openLoginItemsButton()), row.button) << int(row.status);
        EXPECT_TRUE(shown(general().launchStatusLabel()));
        EXPECT_FALSE(shown(general().launchErrorLabel()));
    }
    desktop.setLoginItemStatus(LoginItemStatus::notRegistered);
    desktop.setLoginItemNeedsApproval(true);
    coordinator->stores->launchAtLogin->refreshStatus();
    general().launchToggle()->click();
    EXPECT_EQ(desktop.loginItemsSettingsOpened(), 0);
    EXPECT_TRUE(general().launchToggle()->isChecked());
    ASSERT_TRUE(shown(general().openLoginItemsButton()));
    general().openLoginItemsButton()->click();
    EXPECT_EQ(desktop.loginItemsSettingsOpened(), 1);

    // A failure replaces the footer with the message; the toggle shows what the item holds.
    desktop.setLoginItemFailure(platform::ErrorCode::failed);
    desktop.setLoginItemNeedsApproval(false);
    desktop.setLoginItemStatus(LoginItemStatus::enabled);
    coordinator->stores->launchAtLogin->refreshStatus();
    general().launchToggle()->click();
    EXPECT_TRUE(general().launchToggle()->isChecked());
    EXPECT_TRUE(shown(general().launchErrorLabel()));
    EXPECT_FALSE(general().launchErrorLabel()->text().isEmpty());
    EXPECT_FALSE(shown(general().launchStatusLabel()));
    EXPECT_EQ(view().layoutSignature(), "|launchError");
}

TEST_F(SettingsPanes, TheSliderRoundsHalvesAwayClampsAndGoesThroughTheCoordinator) {
    show();
    const struct {
        double value;
        QNComposerFontSize size;
    } rows[] = {{2.5, QNComposerFontSize::m},    {1.49, QNComposerFontSize::xs},
                {-0.4, QNComposerFontSize::xxs}, {9.0, QNComposerFontSize::xxl},
                {5.5, QNComposerFontSize::xxl},  {0.5, QNComposerFontSize::xs}};
    for (const auto& row : rows) {
        general().setFontSizeValue(row.value);
        EXPECT_EQ(coordinator->stores->fontSize->size().get(), row.size) << row.value;
        EXPECT_EQ(general().fontSizeSlider()->value(), static_cast<int>(row.size));
    }
    general().setFontSizeValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(coordinator->stores->fontSize->size().get(), QNComposerFontSize::xs);
    general().fontSizeSlider()->setValue(3);
    EXPECT_EQ(coordinator->stores->fontSize->size().get(), QNComposerFontSize::m);
}

TEST_F(SettingsPanes, GrantRowSwitchesAccessibilityOnAndSaysWhatFollows) {
    desktop.setTrusted(false);
    coordinator->permissions->checkNow();
    show();
    auto& row = *general().grantRow();
    EXPECT_FALSE(shown(row.grantedBadge()));
    EXPECT_FALSE(shown(row.note()));
    // No accessibility bus answers: nothing was switched on, and the row says so and what to do.
    row.grantButton()->click();
    EXPECT_EQ(desktop.trustPrompts(), 1);
    EXPECT_FALSE(shown(row.grantedBadge()));
    EXPECT_EQ(row.note()->text().toStdString(), kAccessibilityNoBusAnswers);
    // One that answers: switched on at once, the row granted.
    desktop.setPromptGrantsTrust(true);
    row.grantButton()->click();
    // The accessibility bus and the desktop's own switch; no other desktop's settings address.
    EXPECT_EQ(desktop.trustPrompts(), 2);
    EXPECT_EQ(desktop.accessibilitySwitchOns(), 2);
    EXPECT_TRUE(desktop.openedURLs().empty());
    EXPECT_EQ(row.note()->text().toStdString(), kAccessibilityRestartHint);
    EXPECT_TRUE(shown(row.grantedBadge()));
    EXPECT_FALSE(shown(row.grantButton()));
    executor->advance(std::chrono::milliseconds(1000));
    EXPECT_TRUE(shown(row.note()));  // the applications started before still need it

    // Started outside the desktop session: the row says so, and asking reaches nothing.
    desktop.setTrusted(false);
    desktop.setSessionBus(false);
    executor->advance(std::chrono::milliseconds(1000));
    EXPECT_EQ(row.note()->text().toStdString(), kAccessibilityNoSessionBus);
    row.grantButton()->click();
    EXPECT_EQ(desktop.trustPrompts(), 2);
    EXPECT_EQ(desktop.accessibilitySwitchOns(), 2);
    EXPECT_EQ(row.note()->text().toStdString(), kAccessibilityNoSessionBus);
}

TEST(SettingsAbout, NameAndBuildFallBackInOrder) {
    EXPECT_EQ(appDisplayName(QNConfigBuild(
                  {{"CFBundleDisplayName", "Ravlin Beta"}, {"CFBundleName", "ravlin"}})),
              "Ravlin Beta");
    EXPECT_EQ(appDisplayName(QNConfigBuild({{"CFBundleName", "ravlin"}})), "ravlin");
    EXPECT_EQ(appDisplayName(QNConfigBuild({})), "Ravlin");
    EXPECT_EQ(appBuildVersion(QNConfigBuild({{"CFBundleVersion", "45"}})), "45");
    EXPECT_EQ(appBuildVersion(QNConfigBuild({})), "0");
}

class SettingsAboutPane : public SettingsPanes {
  public:
    SettingsAboutPane() {
        coordinator = [this] {
            auto env = environment();
            env.buildConfig = QNConfigBuild({{"RavlinUpdateFeedURL", "http://127.0.0.1:9/feed"},
                                             {"CFBundleShortVersionString", "1.4"}});
            auto app = QNCoordinatorApp::create(env);
            app->start();
            return app;
        }();
    }
};

TEST_F(SettingsAboutPane, TheButtonWaitsForARunningCheckAndTheBoxShowsTheUpdater) {
    show(Pane::about);
    auto& about = *view().aboutPane();
    EXPECT_EQ(about.versionLabel()->text(), "Version 1.4 (0)");
    ASSERT_TRUE(about.checkButton()->isEnabled());
    about.checkButton()->click();
    settle();
    EXPECT_FALSE(about.checkButton()->isEnabled());
    workRunner->runAll();
    settle();
    EXPECT_TRUE(about.checkButton()->isEnabled());

    auto& updater = coordinator->updateChecker().updaterController();
    about.automaticToggle()->click();
    EXPECT_EQ(about.automaticToggle()->isChecked(), updater.automaticallyChecksForUpdates());
    EXPECT_TRUE(updater.automaticallyChecksForUpdates());
    updater.setAutomaticallyChecksForUpdates(false);  // the updater changes its mind
    settle();
    EXPECT_FALSE(about.automaticToggle()->isChecked());
}

TEST_F(SettingsPanes, OneRecorderCapturesAtATime) {
    show(Pane::hotKeys);
    auto& pane = shortcuts();
    pane.hotKeyRecordingChanged(true);
    EXPECT_TRUE(pane.hotKeyRecorder()->isRecording());
    pane.doubleTapRecordingChanged(true);
    EXPECT_EQ(view().activeKeyCapture.get(), Capture::doubleTap);
    EXPECT_FALSE(pane.hotKeyRecorder()->isRecording());
    EXPECT_TRUE(pane.doubleTapRecorder()->isRecording());
    pane.hotKeyRecordingChanged(false);  // late: it had already lost the capture
    EXPECT_EQ(view().activeKeyCapture.get(), Capture::doubleTap);
    pane.doubleTapSwitch()->click();  // off while capturing ends the capture
    EXPECT_EQ(view().activeKeyCapture.get(), std::nullopt);
    EXPECT_FALSE(doubleTapStore().config().get().isEnabled);
    EXPECT_FALSE(pane.doubleTapRecorder()->isEnabled());
    pane.quickFixRecordingChanged(true);
    pane.resetDoubleTap();  // every reset ends any capture
    EXPECT_EQ(view().activeKeyCapture.get(), std::nullopt);
}

TEST_F(SettingsPanes, ARefusedShortcutShowsTheMessageUntilTheNextCapture) {
    show(Pane::hotKeys);
    auto& pane = shortcuts();
    desktop.reserveHotKey({.keyCode = 15, .modifiers = QNConfigHotKey::commandMask});
    pane.captureHotKey(15, QNConfigHotKey::commandMask);
    ASSERT_TRUE(view().hotKeyError.get());
    EXPECT_EQ(*view().hotKeyError.get(),
              "That shortcut is unavailable. It may already be used by your desktop or another "
              "app.");
    EXPECT_TRUE(shown(pane.hotKeyErrorLabel()));
    EXPECT_EQ(hotKeyStore().config().get(), QNPaneShortcuts::defaultHotKey);
    EXPECT_FALSE(pane.hotKeyResetButton()->isEnabled());

    pane.captureHotKey(17, QNConfigHotKey::commandMask | QNConfigHotKey::shiftMask);
    EXPECT_FALSE(view().hotKeyError.get());
    EXPECT_FALSE(shown(pane.hotKeyErrorLabel()));
    EXPECT_TRUE(pane.hotKeyResetButton()->isEnabled());
    pane.hotKeyResetButton()->click();
    EXPECT_EQ(hotKeyStore().config().get(), QNPaneShortcuts::defaultHotKey);

    pane.clearHotKey();
    EXPECT_EQ(hotKeyStore().config().get().keyCode, QNConfigHotKey::noKeyCode);
    EXPECT_FALSE(view().hotKeyError.get());
}

TEST_F(SettingsPanes, DoubleTapResetSwitchesTheTriggerBackOn) {
    show(Pane::hotKeys);
    auto& pane = shortcuts();
    EXPECT_FALSE(pane.doubleTapResetButton()->isEnabled());
    pane.setDoubleTapEnabled(false);
    EXPECT_TRUE(pane.doubleTapResetButton()->isEnabled());
    pane.captureDoubleTapKey(2);
    EXPECT_EQ(doubleTapStore().config().get().keyCode, 2u);
    EXPECT_FALSE(doubleTapStore().config().get().isEnabled);
    pane.doubleTapResetButton()->click();
    EXPECT_EQ(doubleTapStore().config().get().keyCode, 14u);
    EXPECT_TRUE(doubleTapStore().config().get().isEnabled);
    EXPECT_FALSE(pane.doubleTapResetButton()->isEnabled());

    pane.setQuickFixEnabled(false);
    pane.quickFixResetButton()->click();
    EXPECT_TRUE(coordinator->stores->quickFix->config().get().isEnabled);
    EXPECT_EQ(coordinator->stores->quickFix->config().get().keyCode, 60u);
}

TEST_F(SettingsPanes, TheFnGuidanceShowsOnlyForTheFnKeyAlone) {
    show(Pane::hotKeys);
    auto& pane = shortcuts();
    const struct {
        QNConfigHotKey config;
        bool shown;
    } rows[] = {{{63, QNConfigHotKey::functionMask}, true},
                {{63, QNConfigHotKey::functionMask | QNConfigHotKey::commandMask}, false},
                {{14, QNConfigHotKey::functionMask}, false},
                {{14, QNConfigHotKey::commandMask}, false}};
    for (const auto& row : rows) {
        hotKeyStore().setConfig(row.config);
        EXPECT_EQ(shown(pane.fnSection()), row.shown) << row.config.keyCode;
    }
}

TEST_F(SettingsPanes, ThePreviewDrawsTheSnapshotAndTouchesNothing) {
    auto snapshot = QNModelSettingsPreviewSnapshot::makeDefault();
    snapshot.isHotKeyFunctionOnly = true;
    snapshot.isAccessibilityTrusted = true;
    const auto fontSize = coordinator->stores->fontSize->size().get();
    drainWork();
    QNControllerSettingsWindow preview(
        [&](std::shared_ptr<QNStoreSettingsWindow> state, std::function<void(QSize)> onSize) {
            return new QNViewSettings(std::move(state),
                                      QNModelSettingsDependencies::live(coordinator), snapshot,
                                      std::move(onSize));
        },
        {});
    preview.setAnimationsEnabled(false);
    preview.show(Pane::hotKeys);
    settle();
    auto& content = *preview.content();
    EXPECT_FALSE(content.dependencies());
    EXPECT_FALSE(content.updateObserverID());
    EXPECT_TRUE(coordinator->updateChecker().observers.empty());
    EXPECT_FALSE(coordinator->permissions->isWatching());
    EXPECT_EQ(workRunner->runAll(), 0u);
    EXPECT_EQ(content.preferredContentSize(), QSize(500, 540));
    EXPECT_EQ(preview.window()->height() - preview.window()->toolBar()->height(), 540);
    auto& pane = *content.shortcutsPane();
    EXPECT_EQ(pane.hotKeyRecorder(), nullptr);
    EXPECT_TRUE(pane.fnSection()->isVisibleTo(preview.window()));
    EXPECT_FALSE(pane.quickFixSection()->isVisibleTo(preview.window()));
    EXPECT_EQ(preview.window()->findChild<QWidget*>("settings.hotkeys.enableDoubleTap"), nullptr);
    EXPECT_EQ(preview.window()->findChild<QWidget*>("settings.general.grantAccessButton"), nullptr);
    pane.doubleTapSwitch()->click();  // bound to a constant
    EXPECT_TRUE(pane.doubleTapSwitch()->isChecked());
    content.generalPane()->fontSizeSlider()->setValue(6);
    EXPECT_EQ(content.generalPane()->fontSizeSlider()->value(), 3);
    EXPECT_EQ(coordinator->stores->fontSize->size().get(), fontSize);
}

}  // namespace
}  // namespace ravlin
