// What the panel and the heads-up draw: the rounded sheet with its corners cut, the beam visible
// mid-lap. With RAVLIN_SCREENSHOT_DIR set, the frames are also saved there as PNG files.

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/editor/view_composition.h"
#include "app/target/quick_fix_hud.h"
#include "panel_support.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

void save(const QImage& image, const char* name) {
    const QByteArray dir = qgetenv("RAVLIN_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        image.save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name)));
    }
}

QPalette appearance(bool dark) {
    QPalette palette;
    palette.setColor(QPalette::Window, dark ? QColor(36, 36, 38) : QColor(246, 246, 246));
    palette.setColor(QPalette::WindowText, dark ? QColor(235, 235, 235) : QColor(20, 20, 20));
    palette.setColor(QPalette::Text, dark ? QColor(235, 235, 235) : QColor(20, 20, 20));
    palette.setColor(QPalette::PlaceholderText,
                     dark ? QColor(150, 150, 155) : QColor(120, 120, 120));
    palette.setColor(QPalette::Mid, dark ? QColor(90, 90, 90) : QColor(160, 160, 160));
    return palette;
}

// Sum of the absolute differences of two frames' pixels along the sheet's edge band.
long edgeDifference(const QImage& a, const QImage& b) {
    long sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const bool edge = x < 14 || y < 14 || x >= a.width() - 14 || y >= a.height() - 14;
            if (edge) {
                sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) +
                       std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y)));
            }
        }
    }
    return sum;
}

TEST(Render, PanelHasRoundedCornersAndAVisibleBeamMidLap) {
    testing_panel::ensureApplication();
    for (const bool dark : {false, true}) {
        auto executor = std::make_shared<ManualExecutor>();
        QNControllerAutoCorrectingText controller(QNModelTextEditorInteractionMode::composer,
                                                  executor);
        auto trigger = std::make_shared<QNModelComposerBorderAnimationTrigger>();
        QNPanelComposition panel(nullptr);
        panel.setPalette(appearance(dark));
        auto* view = new QNViewComposition(controller, trigger, executor);
        view->setPalette(appearance(dark));
        panel.installContentView(view);
        controller.setText(
            u"Thanks for the notes on the draft. I will send the revised "
            u"version tomorrow morning, with the figures checked again.",
            QNPlacementCaret::end);
        panel.resize(540, 140);
        panel.show();
        const QImage still = panel.grab().toImage();
        trigger->fire();
        executor->advance(450ms);
        const QImage beam = panel.grab().toImage();
        executor->advance(2s);
        save(beam, dark ? "composer-dark-beam.png" : "composer-light-beam.png");
        save(still, dark ? "composer-dark.png" : "composer-light.png");

        EXPECT_EQ(qAlpha(still.pixel(1, 1)), 0) << dark;  // outside the rounded corner
        EXPECT_GT(qAlpha(still.pixel(270, 70)), 200) << dark;
        EXPECT_GT(edgeDifference(still, beam), 50) << dark;  // subtle by design, but there
    }
}

// Mean alpha over a small box.
int alphaAround(const QImage& image, int x, int y) {
    int sum = 0;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            sum += qAlpha(image.pixel(x + dx, y + dy));
        }
    }
    return sum / 25;
}

TEST(Render, BeamDrawsOneDashWhereThePhasePutsIt) {
    testing_panel::ensureApplication();
    auto config = QNConfigComposerBorderAnimation::standard().adapted(false);
    config.maxOpacity = config.glowOpacity = 1;
    for (const double phase : {0.0, 0.5}) {
        QImage image(540, 140, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintBorderBeam(painter, QSizeF(540, 140), config, phase, 1);
        painter.end();
        // Phase 0: on the top edge just after the top-left corner; 0.5: the opposite point.
        const QPoint dash = phase == 0 ? QPoint(50, 2) : QPoint(490, 138);
        const QPoint away = phase == 0 ? QPoint(490, 138) : QPoint(50, 2);
        EXPECT_GT(alphaAround(image, dash.x(), dash.y()), 40) << phase;
        EXPECT_EQ(alphaAround(image, away.x(), away.y()), 0) << phase;
        // No stray dash along the rest of the bottom edge (Qt's thin-pen dasher drew one).
        for (int x = 60; x < 400; x += 20) {
            EXPECT_EQ(alphaAround(image, x, phase == 0 ? 138 : 2), 0) << phase << " " << x;
        }
    }
}

TEST(Render, HeadsUpCard) {
    testing_panel::ensureApplication();
    auto executor = std::make_shared<ManualExecutor>();
    auto screens = std::make_shared<testing_panel::StubScreens>();
    QNQuickFixHUDController controller(executor, screens);
    controller.panel().setPalette(appearance(false));
    controller.show(clipboardUnsavedHeadsUp("owner-not-answering"));
    save(controller.panel().grab().toImage(), "heads-up-nothing-pasted.png");
    controller.show(QNQuickFixHUDKind::pasteOnClipboard);
    const QImage card = controller.panel().grab().toImage();
    save(card, "quick-fix-heads-up.png");
    EXPECT_EQ(qAlpha(card.pixel(QNViewQuickFixHUD::kShadowMargin + 1,
                                QNViewQuickFixHUD::kShadowMargin + 1)),
              qAlpha(card.pixel(0, 0)));  // the corner is cut (only the faint shadow)
    EXPECT_GT(qAlpha(card.pixel(card.width() / 2, card.height() / 2)), 200);
    controller.panel().dismiss();
    executor->runUntilIdle();
}

}  // namespace
}  // namespace ravlin
