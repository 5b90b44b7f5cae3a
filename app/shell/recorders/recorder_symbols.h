#pragma once

// The symbols the recorders and the settings window draw, by the names the rest of the program
// uses ("record.circle", "keyboard", "xmark.circle", ...): a freedesktop icon when the theme has one, else a glyph painted in its place. One
// table for every window.

#include <optional>
#include <string_view>
#include <vector>

#include <QColor>
#include <QFont>
#include <QIcon>

namespace ravlin {

struct QNSymbolEntry {
    std::string_view symbol;
    std::string_view freedesktopIcon;  // empty: none fits
    std::u16string_view glyph;         // painted when the theme has no icon
};

[[nodiscard]] const std::vector<QNSymbolEntry>& symbolTable();
[[nodiscard]] std::optional<QNSymbolEntry> symbolEntry(std::string_view symbol);
// The theme's icon, else the glyph painted in `color` at `size` pixels.
[[nodiscard]] QIcon symbolIcon(std::string_view symbol, const QColor& color, int size = 16);

// The fonts the recorders use.
[[nodiscard]] QFont bodyFont();
[[nodiscard]] QFont captionFont();
[[nodiscard]] QFont monospacedBodyFont();

}  // namespace ravlin
