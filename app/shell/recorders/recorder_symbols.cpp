#include "app/shell/recorders/recorder_symbols.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPixmap>

namespace ravlin {

const std::vector<QNSymbolEntry>& symbolTable() {
    static const std::vector<QNSymbolEntry> table{
        {"record.circle", "media-record", u"\u25C9"},
        {"keyboard", "input-keyboard", u"\u2328"},
        {"xmark.circle", "edit-clear", u"\u2297"},
        // The settings window's status marks, painted so they take their colour.
        {"checkmark.circle.fill", "", u"\u2714"},
        {"xmark.circle.fill", "", u"\u2716"},
        {"exclamationmark.circle.fill", "", u"\u0021"},
        {"exclamationmark.triangle.fill", "", u"\u26A0"},
        {"key.fill", "", u"\u26BF"},
        // The settings window's toolbar and Shortcuts pane.
        {"gearshape.fill", "preferences-system", u"\u2699"},
        {"wand.and.rays", "tools-check-spelling", u"\u270E"},
        {"keyboard.fill", "input-keyboard", u"\u2328"},
        {"info.circle.fill", "help-about", u"\u2139"},
        {"arrow.counterclockwise", "edit-undo", u"\u21BA"},
    };
    return table;
}

std::optional<QNSymbolEntry> symbolEntry(std::string_view symbol) {
    for (const auto& entry : symbolTable()) {
        if (entry.symbol == symbol) {
            return entry;
        }
    }
    return std::nullopt;
}

QIcon symbolIcon(std::string_view symbol, const QColor& color, int size) {
    const auto entry = symbolEntry(symbol);
    if (!entry) {
        return {};
    }
    if (!entry->freedesktopIcon.empty()) {
        const auto name = QString::fromUtf8(entry->freedesktopIcon.data(),
                                            static_cast<qsizetype>(entry->freedesktopIcon.size()));
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = bodyFont();
    font.setPixelSize(size);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(
        pixmap.rect(), Qt::AlignCenter,
        QString::fromUtf16(entry->glyph.data(), static_cast<qsizetype>(entry->glyph.size())));
    painter.end();
    return QIcon(pixmap);
}

QFont bodyFont() {
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}

QFont captionFont() {
    return QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont);
}

QFont monospacedBodyFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(bodyFont().pointSizeF());
    return font;
}

}  // namespace ravlin
