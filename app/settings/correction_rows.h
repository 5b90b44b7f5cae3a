#pragma once

// Small pieces the Correction pane's rows are made of: labels in the footnote and secondary
// styles, coloured status marks from the symbol table, the status badge and the one-line labels
// elided in the middle. Every fixed text is shown through forThisDesktop by the caller.

#include <string>
#include <string_view>

#include <QColor>
#include <QLabel>
#include <QString>

#include "app/settings/byok_state.h"

class QWidget;

namespace ravlin::settings_rows {

[[nodiscard]] QColor green();
[[nodiscard]] QColor orange();
[[nodiscard]] QColor red();
[[nodiscard]] QColor secondary();

// A fixed text as this desktop words it.
[[nodiscard]] QString shown(std::string_view text);
[[nodiscard]] QString qs(std::string_view text);

// A word-wrapped label; `footnote` makes it smaller; an invalid colour keeps the palette's.
[[nodiscard]] QLabel* textLabel(const QString& text, QColor color = {}, bool footnote = false);
// The symbol painted in `color`, `size` pixels square.
[[nodiscard]] QLabel* symbolLabel(std::string_view symbol, const QColor& color, int size = 14);
// A row of widgets with `spacing` between them, centred vertically.
[[nodiscard]] QWidget* hstack(std::initializer_list<QWidget*> items, int spacing);

// The badge of a save status: nothing for idle, a busy indicator and "Verifying…", "Verified"
// or "Failed" with their marks. Null for idle.
[[nodiscard]] QWidget* statusBadge(const QNModeBYOKSaveStatus& status);

// One line of text shortened in the middle to the width it gets; selectable; the whole text in
// its tool tip and accessible name.
class ElidedLabel final : public QLabel {
  public:
    explicit ElidedLabel(QString text, QWidget* parent = nullptr);
    [[nodiscard]] const QString& fullText() const { return full_; }
    [[nodiscard]] QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QString full_;
};

}  // namespace ravlin::settings_rows
