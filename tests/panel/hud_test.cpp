// The Quick Fix heads-up: texts, size, position, the four-second dismissal and its window.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/support/qt_screens.h"
#include "app/target/quick_fix_hud.h"
#include "panel_support.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using Kind = QNQuickFixHUDKind;

TEST(HudTexts, TheTableWithThisDesktopsPasteChord) {
    EXPECT_EQ(hudTitle(Kind::pasteOnClipboard), "Press Ctrl+V to paste");
    EXPECT_EQ(hudText("Press ⌘V to paste"), "Press Ctrl+V to paste");
    EXPECT_EQ(hudTitle(Kind::terminalRefused), "Quick Fix isn't available in terminals");
    EXPECT_EQ(hudMessage(Kind::secureRefused),
              "Ravlin won't read text from secure password fields.");
    EXPECT_EQ(symbolName(Kind::activationFailed), "exclamationmark.arrow.triangle.2.circlepath");
    EXPECT_EQ(symbolName(Kind::noTarget), "text.cursor");
}

class HudTest : public ::testing::Test {
  protected:
    void SetUp() override { testing_panel::ensureApplication(); }
    // Lets stopped dismissals end, as the application's loop would.
    void TearDown() override { executor->runUntilIdle(); }
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<testing_panel::StubScreens> screens =
        std::make_shared<testing_panel::StubScreens>();
};

TEST_F(HudTest, ASecondShowRestartsTheFourSeconds) {
    QNQuickFixHUDController controller(executor, screens);
    auto& panel = controller.panel();
    controller.show(Kind::noTarget);
    EXPECT_TRUE(panel.isVisible());
    executor->advance(3s);
    controller.show(Kind::secureRefused);
    EXPECT_EQ(panel.hostingView()->title().toStdString(), hudTitle(Kind::secureRefused));
    executor->advance(3s);  // the first dismissal has passed and done nothing
    EXPECT_TRUE(panel.isVisible());
    executor->advance(1s);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.dismissTask, nullptr);
}

TEST_F(HudTest, DismissalHoldsThePanelWeakly) {
    auto panel = std::make_unique<QNQuickFixHUDPanel>(executor, screens);
    auto task = std::make_shared<std::stop_source>();
    QNQuickFixHUDPanel::scheduleDismiss(4s, QPointer<QNQuickFixHUDPanel>(panel.get()), *executor,
                                        task);
    panel.reset();
    executor->advance(5s);  // wakes, finds the panel gone, does nothing
    SUCCEED();
}

TEST_F(HudTest, AtLeast280By56AndTwoLinesOfMessage) {
    QNQuickFixHUDController controller(executor, screens);
    auto& panel = controller.panel();
    panel.hostingView()->setContent(Kind::noTarget, "T", "short");
    EXPECT_EQ(panel.hostingView()->messageLines().size(), 1);
    controller.show(Kind::secureRefused);
    EXPECT_GE(panel.contentSize().width(), 280);
    EXPECT_GE(panel.contentSize().height(), 56);

    const QString longMessage = QString("word ").repeated(200);
    panel.hostingView()->setContent(Kind::noTarget, "T", longMessage);
    const QStringList lines = panel.hostingView()->messageLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026)));
    EXPECT_LE(panel.hostingView()->fittingSize().width(),
              QNViewQuickFixHUD::kMaximumTextWidth + 16 * 2 + 24 + 12);
}

// The write-back's own heads-ups say everything in two lines: none is cut.
TEST_F(HudTest, TheWriteBackHeadsUpsAreSaidWhole) {
    QNQuickFixHUDController controller(executor, screens);
    for (const QNHeadsUp& headsUp :
         {textOnClipboardHeadsUp(""), textOnClipboardHeadsUp("Shift+Insert"),
          pastedInPartHeadsUp(), clipboardUnsavedHeadsUp("owner-not-answering"),
          clipboardUnsavedHeadsUp("too-large"), clipboardUnsavedHeadsUp("too-many-types"),
          clipboardUnsavedHeadsUp("type-failed"), selectionUncertainHeadsUp(),
          keyboardElsewhereHeadsUp("another-application"),
          keyboardElsewhereHeadsUp("another-window"), keyboardElsewhereHeadsUp("another-field"),
          keyboardElsewhereHeadsUp("another-window-unnamed")}) {
        SCOPED_TRACE(headsUp.title);
        controller.show(headsUp);
        const QStringList lines = controller.panel().hostingView()->messageLines();
        EXPECT_LE(lines.size(), 2);
        EXPECT_EQ(lines.join(QLatin1Char(' ')).toStdString(), headsUp.message);
    }
    EXPECT_EQ(textOnClipboardHeadsUp("Shift+Insert").title, "Press Shift+Insert to paste");
}

TEST_F(HudTest, PlacedAtTheBottomCentreElseLeftWhereItIs) {
    const double edge = qtFlipEdge();
    screens->list = {testing_panel::screen(0, 0, 800, edge, 10)};
    screens->main = screens->list.front();
    QNQuickFixHUDController controller(executor, screens);
    auto& panel = controller.panel();
    controller.show(Kind::terminalRefused);
    const int m = QNViewQuickFixHUD::kShadowMargin;
    const QSize card = panel.contentSize();
    // The card's bottom edge lies 80 points over the visible frame's bottom (y-down: under it).
    EXPECT_EQ(panel.x() + m, 10 + (780 - card.width()) / 2);
    EXPECT_EQ(panel.y() + m + card.height(), int(edge) - 10 - 80);

    screens->list.clear();
    screens->main.reset();
    const QPoint before = panel.pos();
    panel.positionAtBottomCenter();
    EXPECT_EQ(panel.pos(), before);
}

TEST_F(HudTest, NeverTakesFocusOrInput) {
    QNQuickFixHUDController controller(executor, screens);
    auto& panel = controller.panel();
    const auto flags = panel.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::ToolTip);
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    QWidget other;
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    QWidget* const before = QApplication::activeWindow();
    controller.show(Kind::pasteOnClipboard);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), before);
}

}  // namespace
}  // namespace ravlin
