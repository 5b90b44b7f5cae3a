#include "app/support/app_context.h"

#include "platform/unavailable.h"

namespace ravlin {

std::string unconnectedNotice(const platform::Seams& seams) {
    const auto names = platform::unavailableSeamNames(seams);
    if (names.empty()) {
        return {};
    }
    std::string notice = "Not connected yet: ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            notice += ", ";
        }
        notice += names[i];
    }
    return notice + ".";
}

std::string connectedNotice(const platform::Seams& seams) {
    const auto names = platform::connectedSeamNames(seams);
    std::string notice = "Connected: ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        notice += (i > 0 ? ", " : "") + std::string(names[i]);
    }
    return notice + (names.empty() ? "none." : ".");
}

}  // namespace ravlin
