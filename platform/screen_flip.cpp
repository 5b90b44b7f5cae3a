#include "platform/screen_flip.h"

namespace ravlin::platform {

double flipEdge(const std::vector<Rect>& yDownFrames, const std::optional<Rect>& primary) {
    for (const auto& frame : yDownFrames) {
        if (frame.origin == Point{0, 0}) {
            return frame.maxY();
        }
    }
    return primary ? primary->maxY() : 0;
}

}  // namespace ravlin::platform
