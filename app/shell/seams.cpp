#include "app/shell/seams.h"

namespace ravlin {

std::vector<SeamStatus> platformSeams() {
    // Each platform seam gets a row here as it is wired into the program, with `connected` true
    // once its Linux backend exists.
    return {};
}

std::vector<std::string> unconnectedSeams(const std::vector<SeamStatus>& seams) {
    std::vector<std::string> names;
    for (const auto& seam : seams) {
        if (!seam.connected) {
            names.push_back(seam.name);
        }
    }
    return names;
}

std::string unconnectedNotice(const std::vector<SeamStatus>& seams) {
    const auto names = unconnectedSeams(seams);
    if (names.empty()) {
        return {};
    }
    std::string notice = "Not connected yet: ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        notice += (i == 0 ? "" : ", ") + names[i];
    }
    return notice + ".";
}

}  // namespace ravlin
