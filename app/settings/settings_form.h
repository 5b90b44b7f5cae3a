#pragma once

// The grouped form the General, Correction and Shortcuts panes are made of: sections stacked top
// to bottom, each an optional header, a rounded group of rows and an optional footer. A hidden
// row or section takes no room, so a pane shows or hides optional rows by visibility and the
// view measures the result.
//
// Text helpers give the fonts and colours the panes use (footnote, caption, secondary, red...).

#include <string_view>

#include <QFrame>
#include <QString>
#include <QWidget>

#include "app/support/desktop_wording.h"  // desktopButtonText, for the panes

class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace ravlin {

class QNSettingsSection final : public QWidget {
  public:
    explicit QNSettingsSection(const QString& header, QWidget* parent = nullptr);

    // The header label; hidden when the header is empty.
    [[nodiscard]] QLabel* header() const { return header_; }
    // The rounded group holding the rows.
    [[nodiscard]] QFrame* group() const { return group_; }

    // Appends `row` (reparented) to the group and returns it.
    QWidget* addRow(QWidget* row);
    // Appends an empty row with a horizontal layout (vertically centred, no margins).
    QHBoxLayout* addHBoxRow(int spacing = -1);
    // Appends an empty row with a vertical layout (no margins).
    QVBoxLayout* addVBoxRow(int spacing = -1);
    // Replaces the footer (the old one is deleted); nullptr removes it.
    void setFooter(QWidget* footer);
    [[nodiscard]] QWidget* footer() const { return footer_; }

  private:
    QLabel* header_ = nullptr;
    QFrame* group_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    QVBoxLayout* outer_ = nullptr;
    QWidget* footer_ = nullptr;
};

class QNSettingsForm final : public QWidget {
  public:
    static constexpr int width = 460;
    static constexpr int topPadding = 16;

    explicit QNSettingsForm(QWidget* parent = nullptr);

    QNSettingsSection* addSection(const QString& header = {});
    // The laid-out height at the form's width, the top padding excluded.
    [[nodiscard]] int measuredHeight() const;

  private:
    QVBoxLayout* sections_ = nullptr;
};

enum class QNSettingsTextStyle { body, secondary, red, green, orange };

// A word-wrapped label in the footnote font (smaller than body) with the style's colour.
[[nodiscard]] QLabel* makeFootnote(const QString& text, QNSettingsTextStyle style,
                                   QWidget* parent = nullptr);
// A label in the caption font (smaller still) with the style's colour.
[[nodiscard]] QLabel* makeCaption(const QString& text, QNSettingsTextStyle style,
                                  QWidget* parent = nullptr);
// A word-wrapped label in the body font.
[[nodiscard]] QLabel* makeBodyLabel(const QString& text, QWidget* parent = nullptr);
void applyTextStyle(QWidget& widget, QNSettingsTextStyle style);
// `text` in this desktop's words, as a QString.
[[nodiscard]] QString desktopText(const char* text);

}  // namespace ravlin
