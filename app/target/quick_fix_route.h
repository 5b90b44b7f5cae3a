#pragma once

// Which kind of application a target is, decided from its identity and the role of its focused
// element before anything is read from it: whether a Quick Fix may touch it at all, how its text
// is captured, whether it may be written through accessibility, and which chord pastes into it.

#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

enum class QNQuickFixRoute {
    nativeAppKit,
    webArea,
    electron,
    terminal,
    secureInput,
    unknown,
};

[[nodiscard]] std::string_view toString(QNQuickFixRoute route);
[[nodiscard]] std::optional<QNQuickFixRoute> quickFixRouteFromString(std::string_view raw);

// The route of an application identity and an accessibility role, first match wins: a secure
// field; a terminal (terminalPaste: a terminal application, or a terminal element); no identity;
// the Electron and browser applications; a web area; the native applications; no role; the three text roles; else unknown.
// The macOS identities compare exactly, the Linux ones without regard to letter case.
[[nodiscard]] QNQuickFixRoute quickFixRoute(const std::optional<std::string>& bundleID,
                                            const std::optional<std::string>& role);

// How a terminal takes a paste: the clipboard with Ctrl+Shift+V (the VTE terminals, Konsole,
// kitty, Alacritty, WezTerm, st...), the text last selected (X11's PRIMARY) with Shift+Insert
// (xterm, uxterm, rxvt-unicode, mlterm, which have no clipboard chord unless configured), or no
// chord we know (a terminal element in an application not in the table, a terminal whose chord
// is not certain, or a terminal of another desktop).
enum class QNTerminalPaste { clipboardChord, primaryShiftInsert, unknown };

// The terminal an application identity and the role of its focused element name, from the one
// table of terminals the route uses too: the identity's row, else `unknown` for a terminal
// element ("AXTerminal"); none for anything else.
[[nodiscard]] std::optional<QNTerminalPaste> terminalPaste(
    const std::optional<std::string>& bundleID, const std::optional<std::string>& role);

// A route the host refuses to touch (terminal, secure input).
[[nodiscard]] constexpr bool isRefusedRoute(QNQuickFixRoute route) {
    return route == QNQuickFixRoute::terminal || route == QNQuickFixRoute::secureInput;
}

}  // namespace ravlin
