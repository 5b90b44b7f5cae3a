#pragma once

// The desktop facilities (platform seams) the program is built on, and which of them this build
// does not yet connect to a real backend. The program says so at start, on its standard error
// and in its window, so nobody mistakes a missing backend for a fault.

#include <string>
#include <vector>

namespace ravlin {

struct SeamStatus {
    std::string name;  // what a person reads: "accessibility", "pasteboard", ...
    bool connected = false;
};

// Every seam the program uses, with whether a real backend stands behind it.
[[nodiscard]] std::vector<SeamStatus> platformSeams();

// The names of the seams without a real backend, in order.
[[nodiscard]] std::vector<std::string> unconnectedSeams(const std::vector<SeamStatus>& seams);

// "Not connected yet: a, b, c." or an empty string when every seam is connected.
[[nodiscard]] std::string unconnectedNotice(const std::vector<SeamStatus>& seams);

}  // namespace ravlin
