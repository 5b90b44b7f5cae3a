#pragma once

// What keeps the user's clipboard alive once the program has ended. On X11 the contents of a
// selection live in the process that owns it; when no clipboard manager takes them, the program
// hands them to a keeper: its own executable started again, detached, with clipboardKeeperOption.
// The keeper is no second instance of the program (it starts nothing of the application: no
// tray, no triggers, no single-instance claim). It reads the hand-off on standard input, takes
// the selection as of the time the program's ownership began (so it never pushes aside a copy
// made since), says so with one byte on standard output, and serves exactly those targets and
// bytes until another client takes the selection; then it ends.

#include <chrono>
#include <string>
#include <string_view>

#include "platform/linux/clipboard/selection_data.h"

namespace ravlin::platform {

inline constexpr std::string_view clipboardKeeperOption = "--keep-clipboard";

// Starts `program` as the keeper of `handOff` and waits (at most `limit`) until it serves the
// selection; whether it does. Contents over the size cap are not handed over.
bool startClipboardKeeper(const std::string& program, const x11::SelectionHandOff& handOff,
                          std::chrono::milliseconds limit);

// The keeper's whole life, called from main before anything else: its exit status (0 once it
// has let go of the selection, or found it taken; 2 for a hand-off it refused).
int runClipboardKeeper();

}  // namespace ravlin::platform
