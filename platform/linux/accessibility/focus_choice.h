#pragma once

// Which element has the keyboard, told from what the accessibility bus shows of the active
// application: in which of its windows to look, and which of the elements there that claim the
// focus to take. Applications leave more than one element claiming it (LibreOffice: the
// document's paragraph behind a dialog, the paragraph the caret left), and some editable fields
// claim it for none (a GTK 4 field whose inner text widget has it).
//
// Pure rules over what the walk read, apart from its calls (atspi_focus.cpp makes them).

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/accessibility/toolkit.h"
#include "platform/linux/window_place.h"

namespace ravlin::platform::atspi {

// One of the application's windows as the bus shows it.
struct BusWindow {
    std::string name;
    bool active = false;  // the toolkit says it is the application's active window
};

// Whether a window the bus names `name` is the one the window system titles `title`: the same
// text, or the title goes on after the name with a space (Qt adds the application's name).
[[nodiscard]] bool namesWindow(std::string_view name, std::string_view title);

// The windows to look in (indexes into `windows`), as groups looked in one after the other until
// one of them shows the focus. First the windows the toolkit says are active that bear the
// title of the window that has the keyboard or of a dialog over it, or no name at all (Qt
// titles an unnamed window with the application's name); then the others bearing one of those
// titles. Dialogs come before the window they stand over, in a group of their own. A window said active under another
// title is passed over where one bears the title (the toolkit has not caught up yet). Where
// none bears any of them: the ones said active, else all of them (without `active`, nothing
// tells: the same).
[[nodiscard]] std::vector<std::vector<std::size_t>> windowsToSearch(
    std::span<const BusWindow> windows, const ActiveWindow* active);

// An element the walk met that may have the keyboard.
struct FocusCandidate {
    FocusClaim claim = FocusClaim::standsIn;
    bool takesText = false;
    // The person can type into it (the toolkit's rule).
    bool editable = false;
    // Its caret offset, read for text holders only; negative where the caret is elsewhere
    // (LibreOffice's paragraphs other than the caret's).
    std::optional<int> caret;
    // The element the latest focus event named.
    bool latestEvent = false;
    // It claims no focus, but is a field whose focus the toolkit does not tell (see
    // Toolkit::mayHoldFocusUnsaid).
    bool unsaid = false;
    // An element inside it that can hold the keyboard claims the focus too: it only stands in
    // for that one (a browser's document keeps claiming the focus around the input clicked).
    bool enclosesAnother = false;
};

// Whether the walk can end at it (once it has looked inside it): a field the person types
// into, holding the keyboard, with its caret there. An element that only holds a caret (a web
// page's document or paragraph after a click on the page: it keeps that caret while an input
// has the keyboard) does not end it.
[[nodiscard]] bool endsFocusSearch(const FocusCandidate& candidate);

// The one taken among those met, in the walk's order: one that ends the search; else the one
// the latest focus event named; else the first that holds the keyboard, with nothing inside it
// that does, one that can be typed into first; else the first that stands in for it; else a
// field whose focus goes unsaid, when it is the only one. None when none qualifies.
[[nodiscard]] std::optional<std::size_t> chooseFocus(std::span<const FocusCandidate> met);

}  // namespace ravlin::platform::atspi
