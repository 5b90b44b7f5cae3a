#include "platform/linux/screens/qt_screens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace ravlin::platform {
namespace {

// A Qt rectangle in X root pixels.
Rect rootPixels(const QRect& logical, qreal ratio) {
    return makeRect(logical.x() * ratio, logical.y() * ratio, logical.width() * ratio,
                    logical.height() * ratio);
}

Rect primaryFrame() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary != nullptr ? rootPixels(primary->geometry(), primary->devicePixelRatio())
                              : Rect{};
}

Screen screenOf(const QScreen& screen, const Rect& primary) {
    const auto ratio = screen.devicePixelRatio();
    return Screen{.frame = toYUp(rootPixels(screen.geometry(), ratio), primary),
                  .visibleFrame = toYUp(rootPixels(screen.availableGeometry(), ratio), primary)};
}

}  // namespace

Rect toYUp(const Rect& yDown, const Rect& primary) {
    return makeRect(yDown.minX() - primary.minX(), primary.maxY() - yDown.maxY(), yDown.width(),
                    yDown.height());
}

Point toYUp(Point yDown, const Rect& primary) {
    return Point{yDown.x - primary.minX(), primary.maxY() - yDown.y};
}

std::vector<Screen> QtScreens::screens() {
    const auto primary = primaryFrame();
    std::vector<Screen> result;
    for (const QScreen* screen : QGuiApplication::screens()) {
        result.push_back(screenOf(*screen, primary));
    }
    return result;
}

std::optional<Screen> QtScreens::mainScreen() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return std::nullopt;
    }
    return screenOf(*primary, primaryFrame());
}

Point QtScreens::mouseLocation() {
    const QPoint position = QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(position);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const qreal ratio = screen != nullptr ? screen->devicePixelRatio() : 1.0;
    return toYUp(Point{position.x() * ratio, position.y() * ratio}, primaryFrame());
}

}  // namespace ravlin::platform
