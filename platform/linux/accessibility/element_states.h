#pragma once

// The states of an element the AT-SPI backend decides on, read from one state set
// (atspi::statesOf).

namespace ravlin::platform::atspi {

struct States {
    bool focused = false;
    bool focusable = false;
    // A window: the one of its application that has the keyboard.
    bool active = false;
    bool showing = false;
    bool visible = false;
    bool defunct = false;
    bool editable = false;
    bool readOnly = false;
    bool singleLine = false;
    bool multiLine = false;
};

}  // namespace ravlin::platform::atspi
