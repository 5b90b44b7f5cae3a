// Arbitrary bytes as the update feed. Reading never crashes; it gives either a release whose
// version is a version text and whose link is empty or a web address, or a failure in words.
// Version comparison is a total order that agrees with itself in both directions.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/shell/update_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto reading = ravlin::readUpdateFeed(bytes);
    if (reading.newest) {
        const auto& link = reading.newest->link;
        std::string scheme = link.substr(0, link.find(':'));
        for (char& c : scheme) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (!ravlin::isVersionText(reading.newest->version) ||
            !(link.empty() || scheme == "http" || scheme == "https")) {
            std::abort();
        }
    } else if (reading.failure.empty()) {
        std::abort();
    }
    // The first line against the rest, when both read as versions.
    const auto newline = bytes.find('\n');
    if (newline != std::string_view::npos) {
        const auto left = bytes.substr(0, newline);
        const auto right = bytes.substr(newline + 1);
        if (ravlin::isVersionText(left) && ravlin::isVersionText(right)) {
            const auto forward = ravlin::compareVersions(left, right);
            const auto backward = ravlin::compareVersions(right, left);
            if ((forward < 0) != (backward > 0) || (forward == 0) != (backward == 0)) {
                std::abort();
            }
        }
    }
    return 0;
}
