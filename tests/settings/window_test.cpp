// The window, its toolbar and selection, its resizing, and the content's measurement and appear
// work, over a started coordinator on the simulated desktop.

#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

#include "app/settings/pane_general.h"
#include "app/shell/update_service.h"
#include "tests/settings/settings_fixture.h"
#include "tests/support/qt_application.h"

namespace ravlin {
namespace {

using Pane = QNModelSettingsPane;

[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_settings");

class SettingsWindow : public testing::SettingsFixture {
  public:
    int selectionChanges = 0;
    Subscription watching =
        controller.windowState()->selectedPane.observe([this](const Pane&) { ++selectionChanges; });

    [[nodiscard]] QToolButton* toolbarButton(Pane pane) const {
        return controller.window()->toolBar()->findChild<QToolButton*>(
            QString::fromStdString(identifier(pane)));
    }
    [[nodiscard]] std::string checkedItem() const {
        return controller.toolbarDelegate()->selectedItemIdentifier().value_or("none");
    }
    [[nodiscard]] int contentHeight() const {
        return controller.window()->height() - controller.window()->toolBar()->height();
    }
    // Every content size the live window's content asked for, in order.
    std::vector<QSize> reportedSizes;
    // A second window over the same coordinator with the real Correction pane, unanimated.
    [[nodiscard]] std::unique_ptr<QNControllerSettingsWindow> liveWindow() {
        auto live = std::make_unique<QNControllerSettingsWindow>(
            [this](std::shared_ptr<QNStoreSettingsWindow> state,
                   std::function<void(QSize)> onSize) {
                return new QNViewSettings(
                    std::move(state), QNModelSettingsDependencies::live(coordinator),
                    std::nullopt, [this, onSize = std::move(onSize)](QSize size) {
                        reportedSizes.push_back(size);
                        onSize(size);
                    });
            },
            QNControllerSettingsWindow::Activation{});
        live->setAnimationsEnabled(false);
        return live;
    }
};

TEST_F(SettingsWindow, FirstShowBuildsOneWindowOnGeneralThatClosingOnlyHides) {
    EXPECT_EQ(controller.window(), nullptr);
    auto& window = show();
    EXPECT_EQ(window.windowTitle(), "Settings");
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(controller.windowState()->selectedPane.get(), Pane::general);
    EXPECT_EQ(window.toolBar()->objectName(), "RavlinSettingsToolbar");
    EXPECT_FALSE(window.toolBar()->isMovable());
    QStringList items;
    for (QAction* action : window.toolBar()->actions()) {
        if (!action->objectName().isEmpty()) {
            items << action->objectName();
        }
    }
    EXPECT_EQ(items, QStringList({"settings.general", "settings.correction", "settings.hotKeys",
                                  "settings.about"}));
    EXPECT_EQ(checkedItem(), "settings.general");
    EXPECT_EQ(window.width(), 500);

    toolbarButton(Pane::hotKeys)->click();
    settle();
    EXPECT_EQ(controller.windowState()->selectedPane.get(), Pane::hotKeys);
    const QSize size = window.size();
    window.close();
    EXPECT_FALSE(window.isVisible());

    show();
    EXPECT_EQ(controller.window(), &window);
    EXPECT_EQ(controller.windowState()->selectedPane.get(), Pane::hotKeys);
    EXPECT_EQ(checkedItem(), "settings.hotKeys");
    EXPECT_EQ(window.size(), size);
    EXPECT_EQ(activations, 2);
}

TEST_F(SettingsWindow, ShowWithAPaneSelectsItAndTheCurrentPaneStillRaises) {
    show(Pane::about);
    selectionChanges = 0;
    show(Pane::correction);
    EXPECT_EQ(controller.windowState()->selectedPane.get(), Pane::correction);
    EXPECT_EQ(checkedItem(), "settings.correction");
    EXPECT_EQ(selectionChanges, 1);
    show(Pane::correction);
    show();
    EXPECT_EQ(selectionChanges, 1);
    EXPECT_EQ(activations, 4);
}

TEST_F(SettingsWindow, SelectingTheSelectedPaneDoesNothing) {
    show();
    controller.select(Pane::general);
    toolbarButton(Pane::general)->click();
    controller.toolbarDelegate()->selectPane("settings.nothing");
    EXPECT_EQ(selectionChanges, 0);
    EXPECT_EQ(controller.toolbarDelegate()->item("settings.nothing"), nullptr);
    controller.select(Pane::about);
    EXPECT_EQ(selectionChanges, 1);
    EXPECT_EQ(checkedItem(), "settings.about");
}

TEST_F(SettingsWindow, ResizingKeepsTheTopEdgeRoundsUpAndIgnoresHalfPoints) {
    auto& window = show(Pane::about);
    const int toolbar = window.toolBar()->height();
    window.move(window.x(), 10);
    settle();
    const QPoint topLeft = window.geometry().topLeft();
    window.resizeKeepingTopEdge(QSizeF(500, 340.2), false);
    EXPECT_EQ(window.geometry(), QRect(topLeft, QSize(500, 341 + toolbar)));
    window.resizeKeepingTopEdge(QSizeF(500, 340.6), true);  // same frame: nothing moves
    EXPECT_FALSE(window.isResizeAnimating());

    window.setAnimationsEnabled(true);
    window.resizeKeepingTopEdge(QSizeF(500, 300), true);
    EXPECT_TRUE(window.isResizeAnimating());
    EXPECT_EQ(window.targetGeometry(), QRect(topLeft, QSize(500, 300 + toolbar)));
    window.hide();
    window.resizeKeepingTopEdge(QSizeF(500, 400), true);  // hidden: at once
    EXPECT_FALSE(window.isResizeAnimating());
    EXPECT_EQ(window.geometry(), QRect(topLeft, QSize(500, 400 + toolbar)));
}

// A window low on the screen that grows past its bottom moves up as far as it must; one taller
// than the screen is cut there (the pane scrolls inside).
TEST_F(SettingsWindow, AWindowThatWouldPassTheScreensBottomMovesUpOrIsCut) {
    auto& window = show(Pane::about);
    const QRect screen = window.screen()->availableGeometry();
    const int toolbar = window.toolBar()->height();
    window.move(window.x(), screen.bottom() - 300);
    settle();
    window.resizeKeepingTopEdge(QSizeF(500, 400), false);
    EXPECT_EQ(window.geometry().bottom(), screen.bottom());
    EXPECT_EQ(window.geometry().height(), 400 + toolbar);
    window.resizeKeepingTopEdge(QSizeF(500, screen.height() + 200), false);
    EXPECT_TRUE(screen.contains(window.geometry()));
    EXPECT_GE(window.frameGeometry().top(), screen.top());
}

TEST_F(SettingsWindow, PanesTakeTheirMeasuredHeightsCachedPerSignature) {
    desktop.setLoginItemStatus(platform::LoginItemStatus::requiresApproval);
    auto& window = show();
    EXPECT_EQ(view().estimatedContentSize(), QSize(500, 354));
    const QNModelSettingsPaneMeasurementKey general{Pane::general, "launchRequiresApproval|"};
    ASSERT_TRUE(view().measuredPaneHeights().contains(general));
    const int measured = static_cast<int>(view().measuredPaneHeights().at(general));
    EXPECT_GE(measured, 220);
    EXPECT_EQ(contentHeight(), std::min(measured, 600));

    // Correction is not capped; its height is measured again when its content grows.
    show(Pane::correction);
    correctionContent->setMinimumHeight(950);
    settle();
    EXPECT_EQ(view().preferredContentSize().height(), 950 + 16);
    EXPECT_EQ(window.width(), 500);

    // A hot key error changes the key: the default first, then its own measurement; clearing
    // it finds the earlier one at once.
    show(Pane::hotKeys);
    const int plain = view().preferredContentSize().height();
    view().hotKeyError.set("refused");
    EXPECT_EQ(view().layoutSignature(), "hotKeyError");
    settle();
    EXPECT_GT(view().preferredContentSize().height(), plain);
    view().hotKeyError.set(std::nullopt);
    EXPECT_EQ(view().preferredContentSize().height(), plain);
    EXPECT_EQ(contentHeight(), plain);
}

// Editing a custom prompt changes the Correction pane's signature but none of its rows: the
// window keeps its size, and whatever a pane asks for it stays on the screen.
TEST_F(SettingsWindow, APromptEditKeepsTheWindowsSizeAndEveryPaneStaysOnScreen) {
    auto live = liveWindow();
    live->show(Pane::correction);
    settle();
    auto& window = *live->window();
    const QRect before = window.geometry();
    auto& prompts = *coordinator->stores->customCorrectionPrompt;
    prompts.setEnabled(true, QNStoreCustomCorrectionPrompt::Slot::local);
    settle();
    reportedSizes.clear();
    for (const char* text : {"B", "Be brief.", "", "Be brief and kind."}) {
        SCOPED_TRACE(text);
        prompts.setPrompt(text, QNStoreCustomCorrectionPrompt::Slot::local);
        settle();
        EXPECT_EQ(window.targetGeometry(), before);
    }
    // Not even for a moment did it ask for another size (a pane's estimate, say).
    EXPECT_TRUE(std::ranges::all_of(reportedSizes,
                                    [&](QSize size) { return size == reportedSizes.front(); }))
        << reportedSizes.size() << " sizes, first " << reportedSizes.front().height();

    // Online with the own key's rows: the tallest pane, on a screen too short for it, and every
    // other pane after it.
    const QRect screen = window.screen()->availableGeometry();
    coordinator->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
    coordinator->stores->bringYourOwnKey->setEnabled(true);
    settle();
    EXPECT_TRUE(screen.contains(window.geometry()));
    for (const auto pane : {Pane::general, Pane::hotKeys, Pane::about, Pane::correction}) {
        live->select(pane);
        settle();
        EXPECT_TRUE(screen.contains(window.geometry())) << rawValue(pane);
    }
}

TEST_F(SettingsWindow, EachAppearanceObservesUpdatesUnderANewIdentifier) {
    auto& updates = coordinator->updateChecker();
    show();
    const auto first = view().updateObserverID();
    ASSERT_TRUE(first);
    EXPECT_TRUE(updates.observers.contains(*first));
    controller.window()->close();
    EXPECT_FALSE(view().updateObserverID());
    EXPECT_FALSE(updates.observers.contains(*first));
    show();
    ASSERT_TRUE(view().updateObserverID());
    EXPECT_NE(*view().updateObserverID(), *first);
    EXPECT_EQ(updates.observers.size(), 1u);
}

TEST_F(SettingsWindow, TrustIsPolledOnlyWhileGeneralIsOnScreen) {
    auto& permissions = *coordinator->permissions;
    show();
    EXPECT_TRUE(permissions.isWatching());
    QLabel* revoked = view().generalPane()->revokedLabel();
    EXPECT_FALSE(revoked->isVisibleTo(&view()));
    desktop.setTrusted(false);
    executor->advance(std::chrono::milliseconds(1000));
    EXPECT_TRUE(revoked->isVisibleTo(&view()));
    EXPECT_TRUE(find<QWidget>("settings.general.grantAccessButton")->isVisibleTo(&view()));

    controller.select(Pane::about);
    EXPECT_FALSE(permissions.isWatching());
    controller.select(Pane::general);
    EXPECT_TRUE(permissions.isWatching());
    controller.window()->close();
    EXPECT_FALSE(permissions.isWatching());
}

TEST_F(SettingsWindow, AppearingReportsAnUnforcedCodexDetection) {
    workRunner->runAll();
    settle();
    coordinator->stores->bringYourOwnKey->setCodexDetection(QNCodexCLIDetection{});
    show();
    EXPECT_GE(workRunner->runAll(), 1u);
    settle();
    EXPECT_EQ(coordinator->stores->bringYourOwnKey->codexDetection().get(),
              coordinator->codexCLIDetector->refresh(false));
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

// Every pane, the real Correction pane among them, at the height it asked for; with
// RAVLIN_SCREENSHOT_DIR set, each is saved there as settings-<pane>.png.
TEST_F(SettingsWindow, EveryPaneFitsTheWindowAndCanBeSaved) {
    const auto live = liveWindow();
    const QString folder = qEnvironmentVariable("RAVLIN_SCREENSHOT_DIR");
    for (const auto pane : kAllSettingsPanes) {
        live->show(pane);
        settle();
        auto& window = *live->window();
        // Correction may be cut to the screen, where it scrolls.
        const int wanted = live->content()->preferredContentSize().height();
        const int shown = window.height() - window.toolBar()->height();
        if (pane == Pane::correction) {
            EXPECT_LE(shown, wanted);
        } else {
            EXPECT_EQ(shown, wanted) << rawValue(pane);
        }
        const QPixmap picture = window.grab();
        ASSERT_FALSE(picture.isNull());
        if (!folder.isEmpty()) {
            picture.save(folder + "/settings-" + QString::fromLatin1(rawValue(pane).data()) +
                         ".png");
        }
    }
    delete live->window();
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

// Every text a person reads in a window: labels, buttons and check boxes as drawn (a doubled
// "&" shows as one; a lone "&" would mark a mnemonic, drawn underlined or as "_"), and what the
// accessibility layer reads out.
QStringList readTexts(const QWidget& root) {
    QStringList texts;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root)) {
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            texts << label->text();
        }
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            EXPECT_TRUE(QKeySequence::mnemonic(button->text()).isEmpty())
                << button->text().toStdString();
            texts << QString(button->text()).replace(QStringLiteral("&&"), QStringLiteral("&"));
        }
        texts << widget->accessibleName() << widget->accessibleDescription();
    }
    return texts;
}

// Each pane as a person on this desktop reads it, with every row the settings can show: no
// other desktop's key symbols or names, the keys by their Linux names.
TEST_F(SettingsWindow, EveryPaneReadsAsALinuxProgram) {
    coordinator->stores->correctionModelMode->setMode(QNCorrectionModelMode::online);
    coordinator->stores->bringYourOwnKey->setEnabled(true);
    const auto live = liveWindow();
    const struct {
        Pane pane;
        std::vector<const char*> shown;
    } cases[] = {
        {Pane::general, {"Grant Access"}},
        {Pane::hotKeys,
         {"Super+E", "E, E", "Right Shift, Right Shift",
          "Click the field, then press a key combination. Hold Ctrl, Alt, Super or Shift with "
          "another key, or use a function key."}},
        {Pane::correction, {"Save & Verify", "Local correction: Ravlin's rules"}},
        {Pane::about, {}},
    };
    desktop.setTrusted(false);
    coordinator->permissions->checkNow();
    for (const auto& c : cases) {
        SCOPED_TRACE(rawValue(c.pane));
        live->show(c.pane);
        settle();
        const QStringList texts = readTexts(*live->window());
        for (const char* text : c.shown) {
            EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
        }
        for (const QString& text : texts) {
            for (const char* foreign : {"⌘", "⌃", "⌥", "⇧", "macOS", "Apple", "Not Eligible",
                                        "x-apple", "Globe"}) {
                EXPECT_FALSE(text.contains(QString::fromUtf8(foreign))) << text.toStdString();
            }
        }
    }
    delete live->window();
}

}  // namespace
}  // namespace ravlin
