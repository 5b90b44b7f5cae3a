// The program's own windows with the keyboard alone and as a screen reader reads them.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <functional>

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
};

TEST_F(WindowKeys, TheKeysOfAWindowWithPagesCycleThePanes) {
    auto& window = showActive();
    // Tab reaches the pane buttons as one group, at the pane shown; the arrows move in it.
    const auto stops = tabStops(window);
    EXPECT_NE(std::ranges::find(stops, paneButton(Pane::general)), stops.end());
    const struct {
        const char* keys;
        std::function<void()> act;
        Pane after;
    } steps[] = {
        {"Ctrl+Tab", [&] { press(window, Qt::Key_Tab, Qt::ControlModifier); }, Pane::correction},
        {"Ctrl+Page Down", [&] { press(window, Qt::Key_PageDown, Qt::ControlModifier); },
         Pane::hotKeys},
        {"Ctrl+Tab", [&] { press(window, Qt::Key_Tab, Qt::ControlModifier); }, Pane::about},
        {"Ctrl+Tab past the last", [&] { press(window, Qt::Key_Tab, Qt::ControlModifier); },
         Pane::general},
        {"Ctrl+Shift+Tab past the first",
         [&] { press(window, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier); },
         Pane::about},
        {"Ctrl+Page Up", [&] { press(window, Qt::Key_PageUp, Qt::ControlModifier); },
         Pane::hotKeys},
        {"Right on the focused pane button",
         [&] {
             paneButton(Pane::hotKeys)->setFocus(Qt::TabFocusReason);
             press(window, Qt::Key_Right);
         },
         Pane::about},
        {"Space on the focused pane button",
         [&] {
             paneButton(Pane::correction)->setFocus(Qt::TabFocusReason);
             press(window, Qt::Key_Space);
         },
         Pane::correction},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.keys);
        step.act();
        EXPECT_EQ(shown(), step.after);
        EXPECT_TRUE(view().paneWidget(step.after)->isVisible());
        EXPECT_TRUE(paneButton(step.after)->isChecked());
    }
}

// A screen reader's action on a pane button shows that pane, and every button's state follows
// the pane on screen, whoever changed it.
TEST_F(WindowKeys, APaneButtonsAccessibleActionShowsItsPane) {
    show();
    const auto readsChecked = [this](Pane pane) {
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(paneButton(pane));
        return button->state().checked != 0;
    };
    const struct {
        const char* how;
        std::function<void()> act;
        Pane after;
    } steps[] = {
        {"action on Correction",
         [&] {
             auto* actions =
                 QAccessible::queryAccessibleInterface(paneButton(Pane::correction))
                     ->actionInterface();
             ASSERT_NE(actions, nullptr);
             ASSERT_FALSE(actions->actionNames().isEmpty());
             actions->doAction(actions->actionNames().front());
         },
         Pane::correction},
        {"action on Correction again",
         [&] {
             auto* actions =
                 QAccessible::queryAccessibleInterface(paneButton(Pane::correction))
                     ->actionInterface();
             actions->doAction(actions->actionNames().front());
         },
         Pane::correction},
        {"action on About",
         [&] {
             auto* actions =
                 QAccessible::queryAccessibleInterface(paneButton(Pane::about))->actionInterface();
             actions->doAction(actions->actionNames().front());
         },
         Pane::about},
        {"the program shows Shortcuts", [&] { controller.show(Pane::hotKeys); }, Pane::hotKeys},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.how);
        step.act();
        settle();
        EXPECT_EQ(shown(), step.after);
        EXPECT_TRUE(view().paneWidget(step.after)->isVisible());
        for (const auto pane : kAllSettingsPanes) {
            EXPECT_EQ(readsChecked(pane), pane == step.after) << rawValue(pane);
        }
    }
}

}  // namespace
}  // namespace ravlin
