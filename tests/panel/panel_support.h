#pragma once

// Shared by the panel suites: one application for the program and a screens stub.

#include <QApplication>
#include <memory>
#include <optional>
#include <vector>

#include "platform/screens.h"

namespace ravlin::testing_panel {

void ensureApplication();

struct StubScreens final : platform::Screens {
    std::vector<platform::Screen> list;
    std::optional<platform::Screen> main;
    std::vector<platform::Screen> screens() override { return list; }
    std::optional<platform::Screen> mainScreen() override { return main; }
    platform::Point mouseLocation() override { return {}; }
};

// A screen with its visible frame `inset` inside on every side.
inline platform::Screen screen(double x, double y, double w, double h, double inset = 0) {
    return {platform::makeRect(x, y, w, h),
            platform::makeRect(x + inset, y + inset, w - 2 * inset, h - 2 * inset)};
}

}  // namespace ravlin::testing_panel
