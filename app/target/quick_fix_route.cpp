#include "app/target/quick_fix_route.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/accessibility.h"

namespace ravlin {
namespace {

constexpr std::array<std::string_view, 6> routeNames = {"nativeAppKit", "webArea",     "electron",
                                                        "terminal",     "secureInput", "unknown"};

// The role the Linux accessibility backend gives a terminal's text (also one embedded in an
// editor).
constexpr std::string_view terminalRole = "AXTerminal";

// One family of applications: the macOS identities (exact) and the Linux ones (any letter case).
struct AppSet {
    std::vector<std::string_view> exact;
    std::vector<std::string_view> anyCase;

    [[nodiscard]] bool contains(std::string_view identity) const {
        const auto sameIgnoringCase = [identity](std::string_view member) {
            return std::ranges::equal(identity, member, [](char a, char b) {
                const auto lower = [](char c) {
                    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                };
                return lower(a) == lower(b);
            });
        };
        return std::ranges::find(exact, identity) != exact.end() ||
               std::ranges::any_of(anyCase, sameIgnoringCase);
    }
};

// Every terminal we know, and how each takes a paste. The Linux rows are the window classes the
// terminals Debian packages set (WM_CLASS's class; xterm-like ones often keep "XTerm", mlterm
// names its instance "xterm"). The macOS rows keep those terminals terminals; their own
// desktop's chord means nothing here.
struct TerminalRow {
    AppSet identities;
    QNTerminalPaste paste;
};
const std::array<TerminalRow, 3> terminals{{
    {{{"com.apple.Terminal", "com.googlecode.iterm2", "dev.warp.Warp-Stable"},
      // Their paste chord is not one we can be sure of.
      {"pterm", "eterm", "aterm", "zutty", "lilyterm", "xiterm", "tabby", "hyper"}},
     QNTerminalPaste::unknown},
    {{{},
      {// VTE
       "gnome-terminal", "gnome-terminal-server", "org.gnome.Console", "kgx", "xfce4-terminal",
       "tilix", "terminator", "mate-terminal", "lxterminal", "sakura", "guake", "roxterm",
       "tilda", "termit", "termite", "germinal", "deepin-terminal",
       // Konsole
       "konsole", "yakuake",
       // their own
       "kitty", "alacritty", "wezterm", "org.wezfurlong.wezterm", "foot", "footclient",
       "qterminal", "terminology", "cool-retro-term", "ghostty", "com.mitchellh.ghostty",
       // st (Debian's stterm): Ctrl+Shift+V pastes the clipboard, Shift+Insert the selection
       "st", "st-256color", "stterm", "stterm-256color"}},
     QNTerminalPaste::clipboardChord},
    // No clipboard chord unless configured: Shift+Insert pastes the text last selected.
    {{{}, {"xterm", "uxterm", "koi8rxterm", "lxterm", "urxvt", "rxvt-unicode", "rxvt", "mrxvt",
           "mlterm", "kterm"}},
     QNTerminalPaste::primaryShiftInsert},
}};

const AppSet electronApps{
    {"com.tinyspeck.slackmacgap", "com.microsoft.VSCode", "com.microsoft.VSCodeInsiders",
     "com.github.atom", "org.whispersystems.signal-desktop", "com.hnc.Discord", "com.figma.Desktop",
     "notion.id", "com.linear", "md.obsidian"},
    {"code", "code-oss", "codium", "slack", "discord", "signal", "obsidian", "element", "atom",
     "teams-for-linux"}};

const AppSet browsers{
    {"com.google.Chrome", "com.google.Chrome.canary", "com.microsoft.edgemac", "com.brave.Browser",
     "company.thebrowser.Browser", "company.thebrowser.dia", "com.apple.Safari"},
    {"firefox", "firefox-esr", "chromium", "chromium-browser", "google-chrome", "brave-browser",
     "microsoft-edge", "vivaldi-stable", "opera", "librewolf", "epiphany", "org.gnome.Epiphany"}};

const AppSet nativeApps{{"com.apple.TextEdit", "com.apple.Notes", "com.apple.mail",
                         "com.apple.Reminders", "com.apple.iWork.Pages", "com.apple.iWork.Numbers",
                         "com.apple.iWork.Keynote", "com.apple.MobileSMS", "com.apple.Stickies"},
                        {"gedit", "org.gnome.gedit", "gnome-text-editor", "org.gnome.TextEditor",
                         "kate", "kwrite", "mousepad", "pluma", "xed", "featherpad"}};

}  // namespace

std::string_view toString(QNQuickFixRoute route) {
    return routeNames[static_cast<std::size_t>(route)];
}

std::optional<QNQuickFixRoute> quickFixRouteFromString(std::string_view raw) {
    const auto found = std::ranges::find(routeNames, raw);
    if (found == routeNames.end()) {
        return std::nullopt;
    }
    return static_cast<QNQuickFixRoute>(found - routeNames.begin());
}

std::optional<QNTerminalPaste> terminalPaste(const std::optional<std::string>& bundleID,
                                             const std::optional<std::string>& role) {
    if (bundleID) {
        for (const auto& row : terminals) {
            if (row.identities.contains(*bundleID)) {
                return row.paste;
            }
        }
    }
    if (role == terminalRole) {
        return QNTerminalPaste::unknown;
    }
    return std::nullopt;
}

QNQuickFixRoute quickFixRoute(const std::optional<std::string>& bundleID,
                              const std::optional<std::string>& role) {
    namespace ax = platform::ax;
    if (role == ax::secureTextFieldRole) {
        return QNQuickFixRoute::secureInput;
    }
    if (terminalPaste(bundleID, role)) {
        return QNQuickFixRoute::terminal;
    }
    if (!bundleID) {
        return QNQuickFixRoute::unknown;
    }
    if (electronApps.contains(*bundleID)) {
        return QNQuickFixRoute::electron;
    }
    if (browsers.contains(*bundleID)) {
        return QNQuickFixRoute::webArea;
    }
    if (role == ax::webAreaRole) {
        return QNQuickFixRoute::webArea;
    }
    if (nativeApps.contains(*bundleID)) {
        return QNQuickFixRoute::nativeAppKit;
    }
    if (!role) {
        return QNQuickFixRoute::unknown;
    }
    if (role == ax::textAreaRole || role == ax::textFieldRole || role == ax::comboBoxRole) {
        return QNQuickFixRoute::nativeAppKit;
    }
    return QNQuickFixRoute::unknown;
}

}  // namespace ravlin
