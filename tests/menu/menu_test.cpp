#include "app/shell/menu_bar.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "app/log/log_window.h"
#include "app/shell/status_window.h"
#include "app/shell/update_service.h"
#include "platform/fake/fake_desktop.h"
#include "tests/support/manual_work_runner.h"

namespace ravlin {
namespace {

// The menu as a person sees it: each shown item's text, then a tab and what its shortcut column
// shows; "-" for a separator; a disabled item in brackets, a checked one with "[x] ". No item
// marks a mnemonic: "&&" reads as "&".
QStringList shownItems(const QMenu& menu) {
    QStringList items;
    for (const QAction* action : menu.actions()) {
        if (!action->isVisible()) {
            continue;
        }
        EXPECT_TRUE(QKeySequence::mnemonic(action->text()).isEmpty()) << action->text().toStdString();
        QString text = action->isSeparator() ? QStringLiteral("-") : action->text();
        text.replace(QStringLiteral("&&"), QStringLiteral("&"));
        if (!action->shortcut().isEmpty()) {
            text += QLatin1Char('\t') + action->shortcut().toString(QKeySequence::NativeText);
        }
        if (action->isChecked()) {
            text = "[x] " + text;
        }
        items << (action->isEnabled() ? text : "(" + text + ")");
    }
    return items;
}

QNModelCorrectionIssue issueOf(QNModelCorrectionIssueSeverity severity) {
    return {.title = "Cloud correction is unavailable",
            .menuDetail = "Cloud correction: no connection",
            .detail = "The cloud service could not be reached.",
            .severity = severity};
}

class MenuBar : public ::testing::Test {
  protected:
    MenuBar() {
        desktop.setKeyboardLayout({{14, u"e"}});
        auto updater = std::make_shared<QNControllerUpdater>(QNControllerUpdater::Dependencies{
            .executor = executor,
            .workRunner = runner,
            .defaults = defaults,
            .httpClient = net::HttpClient::shared(),
            .workspace = desktop.seams().workspace,
            .buildConfig = QNConfigBuild({{"RavlinUpdateFeedURL", "http://127.0.0.1:9/feed"}}),
        });
        updates = std::make_shared<QNServiceUpdate>(executor, logger, updater, QNConfigBuild({}));
        menuBar = std::make_unique<QNControllerMenuBar>(
            QNMenuBarCallbacks{
                .onTrigger = [this] { calls.push_back("trigger"); },
                .onNewTextDocument = [this] { calls.push_back("new"); },
                .onOpenTextFile = [this] { calls.push_back("open"); },
                .onToggleCloudAI =
                    [this] {
                        calls.push_back("cloud");
                        modeStore->setMode(QNCorrectionModelMode::online);
                    },
                .correctionIssue = [this] { return issue; },
                .isAccessibilityTrusted = [this] { return trusted; },
                .hotKeyConfig = [this] { return hotKey; },
                .onShowCorrectionSettings = [this] { calls.push_back("correction settings"); },
                .onShowSettings = [this] { calls.push_back("settings"); },
                .onQuit = [this] { calls.push_back("quit"); },
            },
            QNMenuBarDependencies{
                .updateChecker = updates,
                .correctionModelModeStore = modeStore,
                .logger = logger,
                .pasteboard = desktop.seams().pasteboard,
                .keyboardLayout = desktop.seams().keyboardLayout,
            });
    }
    ~MenuBar() override { menuBar->menu()->hide(); }

    // Opens the menu (which refreshes it) and reads it.
    QStringList open() {
        menuBar->menu()->popup(QPoint(100, 100));
        return shownItems(*menuBar->menu());
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<testing::ManualWorkRunner> runner =
        std::make_shared<testing::ManualWorkRunner>();
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    std::shared_ptr<QNLoggerEvent> logger = std::make_shared<QNLoggerEvent>(defaults);
    std::shared_ptr<QNStoreCorrectionModelMode> modeStore =
        std::make_shared<QNStoreCorrectionModelMode>(defaults, EnvironmentSnapshot{});
    std::shared_ptr<QNServiceUpdate> updates;
    std::optional<QNModelCorrectionIssue> issue;
    bool trusted = true;
    QNConfigHotKey hotKey{.keyCode = 14, .modifiers = QNConfigHotKey::commandMask};
    std::vector<std::string> calls;
    std::unique_ptr<QNControllerMenuBar> menuBar;
};

TEST_F(MenuBar, ItemsInOrderWithTheirStates) {
    // Every shortcut in the menu's shortcut column, by the desktop's key names.
    EXPECT_EQ(open(),
              (QStringList{"Open Composer\tSuper+E", "Use Cloud AI Correction", "Open Log", "-",
                           "Settings…\tCtrl+,", "(Check for Updates…)", "-", "Quit Ravlin\tCtrl+Q"}));
    // A shortcut whose key types "&" and an issue with "&" read as written.
    desktop.setKeyboardLayout({{18, u"&"}});
    hotKey = {.keyCode = 18, .modifiers = QNConfigHotKey::controlMask | QNConfigHotKey::optionMask};
    issue = issueOf(QNModelCorrectionIssueSeverity::warning);
    issue->menuDetail = "Cloud & local";
    EXPECT_EQ(open().mid(0, 3),
              (QStringList{"Cloud & local", "-", "Open Composer\tCtrl+Alt+&"}));
    issue.reset();

    trusted = false;
    hotKey = {.keyCode = QNConfigHotKey::noKeyCode, .modifiers = 0};
    modeStore->setMode(QNCorrectionModelMode::online);
    updates->updaterController().startUpdater();
    issue = issueOf(QNModelCorrectionIssueSeverity::critical);
    EXPECT_EQ(open(), (QStringList{"Cloud correction: no connection", "-", "(Open Composer)",
                                   "[x] Use Cloud AI Correction", "Open Log", "-",
                                   "Settings…\tCtrl+,", "Check for Updates…", "-",
                                   "Quit Ravlin\tCtrl+Q"}));
    EXPECT_EQ(menuBar->settingsItem()->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_EQ(menuBar->quitItem()->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_TRUE(menuBar->quitItem()->icon().isNull());
}

TEST_F(MenuBar, TheIssueShowsOnTheItemAndTheTrayIcon) {
    const struct {
        std::optional<QNModelCorrectionIssue> issue;
        QNMenuBarTint tint;
        QString toolTip;
    } cases[] = {
        {issueOf(QNModelCorrectionIssueSeverity::critical), QNMenuBarTint::orange,
         "The cloud service could not be reached."},
        {issueOf(QNModelCorrectionIssueSeverity::warning), QNMenuBarTint::yellow,
         "The cloud service could not be reached."},
        {std::nullopt, QNMenuBarTint::none, "Ravlin"},
    };
    for (const auto& c : cases) {
        issue = c.issue;
        menuBar->refresh();
        EXPECT_EQ(menuBar->tint(), c.tint);
        EXPECT_EQ(menuBar->statusItem()->toolTip(), c.toolTip);
        EXPECT_EQ(menuBar->correctionIssueItem()->toolTip().isEmpty(), !c.issue);
        EXPECT_EQ(menuBar->correctionIssueItem()->icon().isNull(), !c.issue);
        EXPECT_EQ(menuBar->correctionIssueItem()->text().isEmpty(), !c.issue);
    }
    EXPECT_EQ(correctionIssueSymbol(QNModelCorrectionIssueKind::connection),
              "exclamationmark.triangle.fill");
    // The tinted icons are the drawing in orange and yellow.
    for (const auto tint : {QNMenuBarTint::orange, QNMenuBarTint::yellow}) {
        const QImage image = menuBarIcon(tint).pixmap(36, 36).toImage();
        EXPECT_EQ(image.pixelColor(6, 18).rgb(), tintColor(tint).rgb());
    }
}

TEST_F(MenuBar, ActionsReachTheirCallbacks) {
    issue = issueOf(QNModelCorrectionIssueSeverity::warning);
    updates->updaterController().startUpdater();
    open();
    for (QAction* item : {menuBar->correctionIssueItem(), menuBar->triggerItem(),
                          menuBar->settingsItem(), menuBar->quitItem()}) {
        item->trigger();
    }
    menuBar->newTextDocumentTapped();
    menuBar->openTextFileTapped();
    EXPECT_EQ(calls, (std::vector<std::string>{"correction settings", "trigger", "settings", "quit",
                                               "new", "open"}));

    // The cloud item's check mark follows at once, without reopening the menu.
    menuBar->cloudAIItem()->trigger();
    EXPECT_TRUE(menuBar->cloudAIItem()->isChecked());

    menuBar->updateItem()->trigger();
    EXPECT_EQ(runner->pendingCount(), 1u);
    EXPECT_FALSE(updates->updaterController().canCheckForUpdates());

    menuBar->openLogItem()->trigger();
    ASSERT_NE(QNControllerLogWindow::shared().window(), nullptr);
    EXPECT_TRUE(QNControllerLogWindow::shared().window()->isVisible());
    EXPECT_TRUE(logger->isCapturing());
    QNControllerLogWindow::shared().window()->close();
}

TEST_F(MenuBar, KeyEquivalentsWorkWhileTheMenuIsOpen) {
    open();
    QTest::keyClick(menuBar->menu(), Qt::Key_Comma, Qt::ControlModifier);
    open();
    QTest::keyClick(menuBar->menu(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(calls, (std::vector<std::string>{"settings", "quit"}));
}

TEST_F(MenuBar, WithoutATrayTheRunningWindowOffersTheSameMenu) {
    StatusWindow window(QString{});
    EXPECT_FALSE(window.menuButton()->isVisibleTo(&window));
    window.setMenu(menuBar->menu());
    window.show();
    EXPECT_TRUE(window.menuButton()->isVisible());

    QStringList shown;
    QTimer::singleShot(0, [&] {
        shown = shownItems(*menuBar->menu());
        menuBar->menu()->hide();
    });
    window.menuButton()->click();
    EXPECT_EQ(shown.value(0), "Open Composer\tSuper+E");
    EXPECT_EQ(shown.size(), 8);
}

// The running window names Ctrl+Q and Ctrl+, : while it is the active window each chord has
// one owner (the menu's items answer them only while the menu is open).
TEST_F(MenuBar, CtrlQInTheActiveRunningWindowQuitsOnce) {
    StatusWindow window(QString{});
    int quits = 0;
    QObject::connect(&window, &StatusWindow::quitRequested, [&] { ++quits; });
    window.setMenu(menuBar->menu());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (int press = 1; press <= 2; ++press) {
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(quits, press);
    }
    // The menu's own Quit is not a second owner of the chord.
    EXPECT_EQ(std::ranges::count(calls, std::string("quit")), 0);
}

}  // namespace
}  // namespace ravlin
