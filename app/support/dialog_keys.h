#pragma once

// The keys a dialog answers, for the program's windows that are plain windows: Return or Enter
// presses the push or tool button that has the focus, else the window's default button while it
// is shown and enabled (without one, the first shown button marked as its row's default); Escape
// closes the window, where it should. A key its control takes for itself (Return in
// a text area, Escape closing an open list) stays the control's.

class QPushButton;
class QWidget;

namespace ravlin {

// For the life of `window`; `defaultButton` may be none.
void answerDialogKeys(QWidget& window, QPushButton* defaultButton = nullptr,
                      bool escapeCloses = true);

}  // namespace ravlin
