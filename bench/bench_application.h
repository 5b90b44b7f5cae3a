#pragma once

// The QApplication of a benchmark that drives widgets: made on first use, off screen unless
// QT_QPA_PLATFORM says otherwise, never destroyed (the benchmark exits with Qt's globals up).

#include <QApplication>

namespace ravlin::bench {

inline void offscreenApplication(const char* name) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static auto* app = new QApplication(argc, argv);
    (void)app;
}

}  // namespace ravlin::bench
