#pragma once

// The keeper: a small process of the program's own, with nothing of the application in it (no
// Qt, no tray, no triggers, no single-instance claim), that serves the user's clipboard from
// the moment the program puts it back, so that it outlives the program however the program ends.
// It is started detached (a session of its own) with the other end of one socket as its standard
// input and output (keeper_protocol.h), and it:
//   - holds the user's contents of a selection in reserve while the program's own text is on it
//     (a borrow), and takes the selection back with them should the program's window go away
//     before it has put them back (a crash, a kill): as of the time of the program's ownership,
//     so never over a copy made since;
//   - takes the selection when the program puts the contents back, as of the time the program
//     says (its own change, which the server then replaces only if it still stands), and serves
//     exactly those targets and bytes;
//   - serves a text the program has left on a selection for the person to paste, should the
//     program go before its time is up (a quit, a crash), and then puts the user's contents back
//     in its place, as the program would have: only while nobody has copied since;
//   - lets go of a selection once another client takes it (a copy), and ends once it holds
//     nothing and its answers in progress are done.
// One keeper serves both CLIPBOARD and PRIMARY.

#include <string_view>

namespace ravlin::platform {

// `ps` shows the keeper as `ravlin --keep-clipboard`.
inline constexpr std::string_view clipboardKeeperOption = "--keep-clipboard";
inline constexpr std::string_view clipboardKeeperName = "ravlin";
// Its executable, installed beside the program's.
inline constexpr std::string_view clipboardKeeperExecutable = "ravlin-clipboard-keeper";

// The keeper's whole life: its exit status (0 once it holds nothing more, 1 without a display,
// 2 for a program that broke the protocol).
int runClipboardKeeper();

}  // namespace ravlin::platform
