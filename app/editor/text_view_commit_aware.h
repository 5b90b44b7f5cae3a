#pragma once

// The editor the Composer text controller edits in: a plain-text QTextEdit with no frame and a
// transparent viewport, inset by its viewport margins. It lets its owner see each key press
// before it acts, remembers the modifiers of the key press in progress, and marks the moments
// whose edits the owner classifies differently: a paste, an update of the input method's
// preedit, and the commit of a preedit. The preedit never enters the document; the view keeps
// where it shows.

#include <QColor>
#include <QRegion>
#include <QTextEdit>
#include <functional>
#include <optional>
#include <vector>

#include "app/editor/edit_reporting.h"
#include "core/text/range.h"

namespace ravlin {

// The commands a Return, keypad Enter or Escape stands for once the key handler declined it.
enum class QNTextViewCommand { insertNewline, cancelOperation, other };

// The phases of a press-drag in the view's margins.
enum class QNWindowDragPhase { began, changed, ended };

class QNTextViewCommitAware final : public QTextEdit {
    Q_OBJECT

  public:
    static constexpr int kInsetWidth = 14;
    static constexpr int kInsetHeight = 12;

    explicit QNTextViewCommitAware(QWidget* parent = nullptr);

    // The owner's key handler; true consumes the event.
    std::function<bool(QKeyEvent*)> handleKeyDown;
    // The owner's command handler; true when the owner performed the command itself.
    std::function<bool(QNTextViewCommand)> handleCommand;
    // The owner's handler of drags that begin in the margins, outside the text.
    std::function<void(QNWindowDragPhase)> handleMarginDrag;
    // Called after each input-method event, once the preedit it carries is showing.
    std::function<void()> markedTextDidChange;
    // Offered the text of a key that types as the base class would (printable or a tab, no
    // Control, Alt or Meta held) before the base class handles it; true when the owner typed it.
    std::function<bool(const QString& text)> typeText;
    // Offered each paste (not a drop) with the base class's own insertion as `paste`; true when
    // the owner pasted, by calling it.
    std::function<bool(const std::function<void()>& paste)> pasteText;

    std::optional<Qt::KeyboardModifiers> activeKeyDownModifierFlags;
    bool isPerformingPaste = false;
    bool isUpdatingMarkedText = false;
    bool isCommittingMarkedText = false;
    // True while the base class handles an input-method event.
    bool isHandlingInputMethodEvent = false;

    // Whether an input-method preedit is showing, and where: at the cursor, its length.
    [[nodiscard]] bool hasMarkedText() const { return !preedit_.isEmpty(); }
    [[nodiscard]] text::Utf16Range markedRange() const;

    // The cursor's anchor and position as a range.
    [[nodiscard]] text::Utf16Range selectedRange() const;
    // Selects `range` clamped to the document.
    void setSelectedRange(text::Utf16Range range);
    // The selection's anchor and cursor, and both set (clamped to the document) keeping which
    // end the person moves.
    [[nodiscard]] editor::SelectionEnds selectionEnds() const;
    void setSelectionEnds(editor::SelectionEnds ends);
    // The document's length in UTF-16 units, without its final block separator.
    [[nodiscard]] std::int64_t textLength() const;

    // Inserts a line break through the document (read back as "\n").
    void insertNewline();

    // A colour painted behind a range of the text.
    struct Underlay {
        text::Utf16Range range;
        QColor color;

        friend bool operator==(const Underlay&, const Underlay&) = default;
    };
    // What is painted behind the text (the fade pulses), drawn under the text rather than as
    // extra selections, which make the editor draw every line of a selected paragraph twice,
    // clipped. At each paint the view asks the source for the runs that meet what it paints;
    // the owner tells it where runs changed, and only the lines of those that show are painted
    // again. However many runs there are, a paint or a change costs what shows.
    using UnderlaySource = std::function<std::vector<Underlay>(text::Utf16Range)>;
    void setUnderlaySource(UnderlaySource source);
    // Repaints the visible lines that `range` covers.
    void underlayChanged(text::Utf16Range range);
    // Every run behind the text, clamped to it.
    [[nodiscard]] std::vector<Underlay> underlay() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void dropEvent(QDropEvent* event) override;
    bool event(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

  protected:

  private:
    // The rectangles that show `range`, line by line, in the document's coordinates.
    [[nodiscard]] QRegion regionOf(text::Utf16Range range) const;
    // The laid-out line that shows `position` in the document's coordinates; none before the
    // layout has it.
    [[nodiscard]] std::optional<QRectF> lineRectAt(std::int64_t position) const;
    // The text that `area` (document coordinates) shows.
    [[nodiscard]] text::Utf16Range characterRangeIn(const QRect& area) const;
    // Where the document's coordinates stand in the viewport.
    [[nodiscard]] QPoint scrollOffset() const;
    // The text the viewport shows, found once for a scroll position, a size and a layout: a
    // change of runs that are not in it (a pulse's frame far from what shows) costs nothing.
    [[nodiscard]] text::Utf16Range shownCharacters() const;

    QString preedit_;
    UnderlaySource underlaySource_;
    mutable std::optional<text::Utf16Range> shownCharacters_;
    bool isDropping_ = false;
    bool isMarginDragging_ = false;
};

}  // namespace ravlin
