#include "platform/screens.h"

namespace ravlin::platform {

std::optional<Screen> primaryScreen(const std::vector<Screen>& screens) {
    for (const auto& screen : screens) {
        if (screen.frame.origin == Point{0, 0}) {
            return screen;
        }
    }
    return std::nullopt;
}

}  // namespace ravlin::platform
