#include "app/support/qt_screens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

#include "platform/screen_flip.h"

namespace ravlin {
namespace {

platform::Rect toRect(const QRect& r) {
    return platform::makeRect(r.x(), r.y(), r.width(), r.height());
}

platform::Screen toScreen(const QScreen& screen, double edge) {
    return {platform::flipped(toRect(screen.geometry()), edge),
            platform::flipped(toRect(screen.availableGeometry()), edge)};
}

}  // namespace

double qtFlipEdge() {
    std::vector<platform::Rect> frames;
    for (const QScreen* screen : QGuiApplication::screens()) {
        frames.push_back(toRect(screen->geometry()));
    }
    std::optional<platform::Rect> primary;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        primary = toRect(screen->geometry());
    }
    return platform::flipEdge(frames, primary);
}

platform::Rect yUpRect(const QRect& yDown) {
    return platform::flipped(toRect(yDown), qtFlipEdge());
}

QRect yDownRect(const platform::Rect& yUp) {
    const platform::Rect r = platform::flipped(yUp, qtFlipEdge());
    return QRect(static_cast<int>(std::lround(r.minX())), static_cast<int>(std::lround(r.minY())),
                 static_cast<int>(std::lround(r.width())),
                 static_cast<int>(std::lround(r.height())));
}

std::vector<platform::Screen> QtScreens::screens() {
    const double edge = qtFlipEdge();
    std::vector<platform::Screen> result;
    for (const QScreen* screen : QGuiApplication::screens()) {
        result.push_back(toScreen(*screen, edge));
    }
    return result;
}

std::optional<platform::Screen> QtScreens::mainScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return std::nullopt;
    }
    return toScreen(*screen, qtFlipEdge());
}

platform::Point QtScreens::mouseLocation() {
    const QPoint p = QCursor::pos();
    return platform::flipped(platform::Point{double(p.x()), double(p.y())}, qtFlipEdge());
}

}  // namespace ravlin
