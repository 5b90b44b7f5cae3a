// The program's own windows with the keyboard alone and as a screen reader reads them.

#include <gtest/gtest.h>

#include <QAbstractSlider>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QScrollBar>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <functional>
#include <map>

#include "app/log/log_window.h"
#include "app/preferences/custom_prompt_window.h"
#include "app/settings/pane_shortcuts.h"
#include "app/shell/recorders/double_tap_recorder.h"
#include "app/shell/recorders/hot_key_recorder.h"
#include "app/shell/status_window.h"
#include "app/shell/updater.h"
#include "app/support/combo_box_accessibility.h"
#include "tests/settings/settings_fixture.h"

namespace ravlin {
namespace {

using Pane = QNModelSettingsPane;

class WindowKeys : public testing::SettingsFixture {
  public:
    [[nodiscard]] QToolButton* paneButton(Pane pane) const {
        return controller.window()->toolBar()->findChild<QToolButton*>(
            QString::fromStdString(identifier(pane)));
    }
    QNWindowSettings& showActive(Pane pane = Pane::general) {
        auto& window = show(pane);
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        return window;
    }
    // The key as a person's press and release reach the focused widget.
    void press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                                 : &window;
        QTest::keyClick(target, key, modifiers);
        settle();
    }
    // Every widget Tab gives the focus to, in order, once round the window.
    std::vector<QWidget*> tabStops(QWidget& window) {
        std::vector<QWidget*> stops;
        for (int step = 0; step < 200; ++step) {
            press(window, Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            if (focused == nullptr || std::ranges::find(stops, focused) != stops.end()) {
                break;
            }
            stops.push_back(focused);
        }
        return stops;
    }
    [[nodiscard]] Pane shown() const { return controller.windowState()->selectedPane.get(); }
    // The key pressed where `focus` has the focus, its window active.
    void keyAt(QWidget& focus, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* window = focus.window();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        focus.setFocus(Qt::TabFocusReason);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        press(*window, key, modifiers);
    }
    // The settings window with the real Correction pane.
    std::unique_ptr<QNControllerSettingsWindow> liveSettings() {
        auto live = std::make_unique<QNControllerSettingsWindow>(
            [this](std::shared_ptr<QNStoreSettingsWindow> state,
                   std::function<void(QSize)> onSize) {
                return new QNViewSettings(std::move(state),
                                          QNModelSettingsDependencies::live(coordinator),
                                          std::nullopt, std::move(onSize));
            },
            QNControllerSettingsWindow::Activation{});
        live->setAnimationsEnabled(false);
        return live;
    }
    [[nodiscard]] QNPaneShortcuts& shortcuts() const { return *view().shortcutsPane(); }
    [[nodiscard]] std::optional<QNModeKeyCapture> capturing() const {
        return view().activeKeyCapture.get();
    }
    // The windows besides Settings, made as the program makes them.
    std::unique_ptr<QNViewLogWindow> logWindow() {
        auto window = std::make_unique<QNViewLogWindow>();
        window->attach(coordinator->logger, coordinator->environment().seams.pasteboard);
        coordinator->logger->log(QNKindLog::error, "a line to export");
        return window;
    }
    QPointer<QNWindowUpdateResult> updateWindow() {
        auto* window = new QNWindowUpdateResult(coordinator->environment().seams.workspace);
        window->present({.kind = QNUpdateCheckResult::Kind::upToDate, .ourVersion = "1.0"});
        return window;
    }
    std::unique_ptr<QNViewCustomPromptEditor> promptEditor() {
        auto editor =
            std::make_unique<QNViewCustomPromptEditor>(QNStoreCustomCorrectionPrompt::Slot::local);
        editor->attach(coordinator->stores->customCorrectionPrompt, {});
        return editor;
    }
};

TEST_F(WindowKeys, TheKeysOfAWindowWithPagesCycleThePanes) {
    auto& window = showActive();
    // Tab reaches the pane buttons as one group, at the pane shown; the arrows move in it.
    const auto stops = tabStops(window);
    EXPECT_NE(std::ranges::find(stops, paneButton(Pane::general)), stops.end());
    constexpr auto ctrl = Qt::ControlModifier;
    // Each key pressed where the focus is, or on a pane button given the focus first.
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::optional<Pane> focusedButton;
        Pane after;
    } steps[] = {
        {Qt::Key_Tab, ctrl, {}, Pane::correction},
        {Qt::Key_PageDown, ctrl, {}, Pane::hotKeys},
        {Qt::Key_Tab, ctrl, {}, Pane::about},
        {Qt::Key_Tab, ctrl, {}, Pane::general},  // round the end
        {Qt::Key_Backtab, ctrl | Qt::ShiftModifier, {}, Pane::about},
        {Qt::Key_PageUp, ctrl, {}, Pane::hotKeys},
        {Qt::Key_Right, {}, Pane::hotKeys, Pane::about},
        {Qt::Key_Space, {}, Pane::correction, Pane::correction},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QKeySequence(step.key | step.modifiers).toString().toStdString());
        if (step.focusedButton) {
            paneButton(*step.focusedButton)->setFocus(Qt::TabFocusReason);
        }
        press(window, step.key, step.modifiers);
        EXPECT_EQ(shown(), step.after);
        EXPECT_TRUE(view().paneWidget(step.after)->isVisible());
        EXPECT_TRUE(paneButton(step.after)->isChecked());
    }
    // While a shortcut recorder records, the keys are the recorder's.
    show(Pane::hotKeys);
    view().activeKeyCapture.set(QNModeKeyCapture::hotKey);
    press(window, Qt::Key_Tab, ctrl);
    EXPECT_EQ(shown(), Pane::hotKeys);
    view().activeKeyCapture.set(std::nullopt);
}

// A screen reader's action on a pane button shows that pane, and every button's state follows
// the pane on screen, whoever changed it.
TEST_F(WindowKeys, APaneButtonsAccessibleActionShowsItsPane) {
    show();
    const auto readsChecked = [this](Pane pane) {
        return QAccessible::queryAccessibleInterface(paneButton(pane))->state().checked != 0;
    };
    // A screen reader's action on the pane's button, or (none) the program showing the pane.
    const struct {
        Pane pane;
        bool byAction;
    } steps[] = {{Pane::correction, true},
                 {Pane::correction, true},
                 {Pane::about, true},
                 {Pane::hotKeys, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE(rawValue(step.pane));
        if (step.byAction) {
            auto* actions =
                QAccessible::queryAccessibleInterface(paneButton(step.pane))->actionInterface();
            ASSERT_TRUE(actions != nullptr && !actions->actionNames().isEmpty());
            actions->doAction(actions->actionNames().front());
        } else {
            controller.show(step.pane);
        }
        settle();
        EXPECT_EQ(shown(), step.pane);
        EXPECT_TRUE(view().paneWidget(step.pane)->isVisible());
        for (const auto pane : kAllSettingsPanes) {
            EXPECT_EQ(readsChecked(pane), pane == step.pane) << rawValue(pane);
        }
    }
}

// Return presses the button that has the focus (the recorders start on it, and on Space), else
// the window's default; Tab reaches every control on its way.
TEST_F(WindowKeys, ReturnPressesTheFocusedButtonElseTheDefaultOne) {
    const auto log = logWindow();
    QMenu menu;
    menu.addAction(QStringLiteral("Settings…"));
    bool menuSeen = false;
    StatusWindow running(QString{});
    running.setMenu(&menu);
    const auto editor = promptEditor();
    const struct {
        const char* what;
        std::function<void()> act;
        std::function<bool()> done;
    } cases[] = {
        {"a pane button",
         [&] { keyAt(*paneButton(Pane::about), Qt::Key_Return); },
         [&] { return shown() == Pane::about; }},
        {"the Composer's recorder",
         [&] {
             show(Pane::hotKeys);
             keyAt(*shortcuts().hotKeyRecorder()->field(), Qt::Key_Return);
         },
         [&] { return capturing() == QNModeKeyCapture::hotKey; }},
        {"the Quick Fix recorder, by Space",
         [&] {
             view().activeKeyCapture.set(std::nullopt);
             keyAt(*shortcuts().quickFixRecorder(), Qt::Key_Space);
         },
         [&] { return capturing() == QNModeKeyCapture::quickFix; }},
        {"a Reset button, reached by Tab",
         [&] {
             view().activeKeyCapture.set(std::nullopt);
             ASSERT_TRUE(coordinator->updateHotKey({12, 0x100}));
             settle();
             const auto stops = tabStops(*controller.window());
             for (QWidget* control : std::initializer_list<QWidget*>{
                      shortcuts().hotKeyRecorder()->field(), shortcuts().hotKeyResetButton()}) {
                 EXPECT_NE(std::ranges::find(stops, control), stops.end());
             }
             keyAt(*shortcuts().hotKeyResetButton(), Qt::Key_Return);
         },
         [&] { return hotKeyStore().config().get().keyCode == 14; }},
        {"Export", [&] { keyAt(*log->exportButton(), Qt::Key_Return); },
         [&] { return !log->exportStatus().isEmpty(); }},
        {"Export as the default, from the log's text",
         [&] {
             log->attach(coordinator->logger, coordinator->environment().seams.pasteboard);
             keyAt(*log->findChild<QPlainTextEdit*>(), Qt::Key_Return);
         },
         [&] { return !log->exportStatus().isEmpty(); }},
        {"the running window's Menu",
         [&] {
             // The menu runs its own loop while it is open: it is seen there, then closed.
             QTimer watch;
             QObject::connect(&watch, &QTimer::timeout, &menu, [&] {
                 if (menu.isVisible()) {
                     menuSeen = true;
                     menu.close();
                 }
             });
             watch.start(10);
             keyAt(*running.menuButton(), Qt::Key_Return);
         },
         [&] { return menuSeen; }},
        {"Done, reached by Tab from the prompt",
         [&] {
             keyAt(*editor->editor(), Qt::Key_Tab);
             EXPECT_EQ(QApplication::focusWidget(), editor->doneButton());
             EXPECT_FALSE(editor->editor()->toPlainText().contains(QLatin1Char('\t')));
             press(*editor, Qt::Key_Return);
         },
         [&] { return !editor->isVisible(); }},
    };
    show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.act();
        EXPECT_TRUE(QTest::qWaitFor(c.done));
    }
}

TEST_F(WindowKeys, EscapeClosesEachWindowButTheRunningOne) {
    const auto log = logWindow();
    const auto update = updateWindow();
    const auto editor = promptEditor();
    StatusWindow running(QString{});
    show(Pane::hotKeys);
    const struct {
        const char* window;
        QPointer<QWidget> focus;  // Software Update goes once closed
        bool closes;
    } cases[] = {
        {"Settings", shortcuts().hotKeyRecorder()->field(), true},
        {"Session Log", log->findChild<QPlainTextEdit*>(), true},
        {"Software Update", update->closeButton(), true},
        {"prompt editor", editor->editor(), true},
        {"running window", running.findChild<QPushButton*>(QStringLiteral("quit")), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        ASSERT_NE(c.focus, nullptr);
        keyAt(*c.focus, Qt::Key_Escape);
        if (c.closes) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !c.focus || !c.focus->isVisible(); }));
        } else {
            EXPECT_TRUE(c.focus->window()->isVisible());
        }
    }
    delete update.data();
}

// What a screen reader calls each control a person can use in a window: buttons, fields, lists,
// sliders and text areas shown there.
std::map<QString, std::vector<const QWidget*>> controlsByName(const QWidget& window) {
    std::map<QString, std::vector<const QWidget*>> named;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<const QAbstractButton*>(widget) != nullptr ||
            qobject_cast<const QComboBox*>(widget) != nullptr ||
            qobject_cast<const QLineEdit*>(widget) != nullptr ||
            qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
            (qobject_cast<const QAbstractSlider*>(widget) != nullptr &&
             qobject_cast<const QScrollBar*>(widget) == nullptr);
        if (!control || !widget->isVisibleTo(&window) ||
            qobject_cast<const QLineEdit*>(widget->parentWidget()) != nullptr ||
            qobject_cast<const QComboBox*>(widget->parentWidget()) != nullptr) {
            continue;
        }
        QAccessibleInterface* read =
            QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
        named[read->text(QAccessible::Name)].push_back(widget);
    }
    return named;
}

TEST_F(WindowKeys, EveryControlHasANameOfItsOwn) {
    installComboBoxAccessibility();
    coordinator->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
    coordinator->stores->bringYourOwnKey->setEnabled(true);
    const auto live = liveSettings();
    const auto log = logWindow();
    const auto editor = promptEditor();
    QMenu menu;
    StatusWindow running(QString{});
    running.setMenu(&menu);
    const auto update = updateWindow();
    const struct {
        const char* window;
        std::function<QWidget&()> open;
        std::vector<const char*> names;  // some of those it must read
    } cases[] = {
        {"Settings: General", [&]() -> QWidget& { live->show(Pane::general); return *live->window(); },
         {"General", "Correction", "Shortcuts", "About"}},
        {"Settings: Correction",
         [&]() -> QWidget& { live->show(Pane::correction); return *live->window(); },
         {"Edit local prompt…", "Edit online prompt…", "Model"}},
        {"Settings: Shortcuts",
         [&]() -> QWidget& { live->show(Pane::hotKeys); return *live->window(); },
         {"Composer shortcut", "Double-tap key", "Quick Fix key", "Reset Composer shortcut",
          "Reset double-tap key", "Reset Quick Fix key"}},
        {"Settings: About", [&]() -> QWidget& { live->show(Pane::about); return *live->window(); },
         {}},
        {"Session Log", [&]() -> QWidget& { return *log; }, {"Session log", "Export"}},
        {"prompt editor", [&]() -> QWidget& { return *editor; }, {"Prompt", "Done"}},
        {"running window", [&]() -> QWidget& { return running; }, {"Menu", "Quit"}},
        {"Software Update", [&]() -> QWidget& { return *update; }, {"OK"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        QWidget& window = c.open();
        window.show();
        settle();
        const auto named = controlsByName(window);
        for (const auto& [name, controls] : named) {
            EXPECT_FALSE(name.trimmed().isEmpty())
                << controls.front()->metaObject()->className() << " "
                << controls.front()->objectName().toStdString();
            EXPECT_EQ(controls.size(), 1U) << name.toStdString();
        }
        for (const char* name : c.names) {
            EXPECT_TRUE(named.contains(QString::fromUtf8(name))) << name;
        }
    }
    delete live->window();
    delete update.data();
}

// The running window opens with no button focused: a Space or Return typed into it quits
// nothing, and Tab reaches Menu before Quit.
TEST_F(WindowKeys, TheRunningWindowOpensWithNoButtonFocused) {
    QMenu menu;
    for (const bool withMenu : {true, false}) {
        SCOPED_TRACE(withMenu ? "with its menu" : "beside a tray");
        StatusWindow running(QString{});
        if (withMenu) {
            running.setMenu(&menu);
        }
        int quits = 0;
        QObject::connect(&running, &StatusWindow::quitRequested, [&] { ++quits; });
        running.bringForward();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&running));
        EXPECT_EQ(QApplication::focusWidget(), &running);
        press(running, Qt::Key_Space);
        press(running, Qt::Key_Return);
        EXPECT_EQ(quits, 0);
        press(running, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), withMenu ? "menu" : "quit");
    }
}

}  // namespace
}  // namespace ravlin
