#pragma once

// What a scroll area tells assistive technology. Qt's own answer for a scroll area hands out the
// child at any index it is asked for without looking at how many there are, and the count moves
// whenever a scroll bar shows or hides. A screen reader (or any accessibility client) that asks
// for a child by an index read a moment earlier, after the content grew or shrank, made the
// program read past the end of the list and crash. Ours answers such an index with no child.

namespace ravlin {

// Call once, after the application object exists and before any window is shown: from then on
// every QScrollArea and plain QAbstractScrollArea answers through ours (the specialised views,
// lists and text fields keep Qt's).
void installScrollAreaAccessibility();

}  // namespace ravlin
