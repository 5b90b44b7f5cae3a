#pragma once

// Where a window stands on the screen, as the window system tells it (the workspace backend) to
// those that need it (the accessibility backend, for toolkits that give positions only inside
// their windows).

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"
#include "platform/geometry.h"

namespace ravlin::platform {

struct WindowPlace {
    ProcessID pid = 0;
    // The client's window (without the window manager's frame), y down from the screen's
    // top-left corner.
    Rect frame;
    // What the client draws around its content itself (a GTK window's shadow and resize
    // margins: _GTK_FRAME_EXTENTS), left, right, top, bottom; none where it says nothing.
    std::optional<std::array<double, 4>> clientFrame;
};

// The window that has the keyboard, as the window system tells it: its process, its title and
// the titles of that process's dialogs that stand over it (transient for it). Titles in UTF-8,
// empty where a window has none.
struct ActiveWindow {
    ProcessID pid = 0;
    std::string title;
    std::vector<std::string> dialogTitles;
};

}  // namespace ravlin::platform
