#include "app/support/rounded_windows.h"

#include <QGuiApplication>

namespace ravlin {

bool cutsCornersOnThisPlatform() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("offscreen");
}

}  // namespace ravlin
