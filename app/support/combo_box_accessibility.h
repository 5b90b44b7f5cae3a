#pragma once

// What a combo box tells assistive technology. On Linux, Qt's own answer names a combo box by the
// item it shows, so a screen reader reads "gpt-5-mini, combo box" and the person cannot tell
// what is being chosen. Ours names it by its accessible name ("Model") where it has one, the item
// shown being its value; its list, its actions and its states stay as Qt gives them otherwise.

namespace ravlin {

// Call once, after the application object exists and before any window is shown.
void installComboBoxAccessibility();

}  // namespace ravlin
