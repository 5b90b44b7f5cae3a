#include "app/editor/text_view_commit_aware.h"

#include <QAbstractTextDocumentLayout>
#include <QInputMethodEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <utility>

#include "app/editor/edit_reporting.h"
#include "app/support/flag_scope.h"

namespace ravlin {
namespace {

std::optional<QNTextViewCommand> commandForKey(int key) {
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return QNTextViewCommand::insertNewline;
        case Qt::Key_Escape:
            return QNTextViewCommand::cancelOperation;
        default:
            return std::nullopt;
    }
}

}  // namespace

QNTextViewCommitAware::QNTextViewCommitAware(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setUndoRedoEnabled(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setViewportMargins(kInsetWidth, kInsetHeight, kInsetWidth, kInsetHeight);
    document()->setDocumentMargin(0);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    clear.setColor(QPalette::Window, Qt::transparent);
    setPalette(clear);
    // A paragraph's layout keeps its shaped text: without that, each paint of any of its lines
    // (a pulse's frame, the caret) itemizes and shapes the whole paragraph again. Set on the
    // blocks a change touches, before the document lays them out.
    connect(document(), &QTextDocument::contentsChange, this, [this](int from, int, int added) {
        shownCharacters_.reset();
        const QTextDocument* document = this->document();
        for (QTextBlock block = document->findBlock(from);
             block.isValid() && block.position() <= from + added; block = block.next()) {
            if (QTextLayout* lines = block.layout()) {
                lines->setCacheEnabled(true);
            }
        }
    });
    // (the same text laid out again, for a new font or width, shows other characters)
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::update, this,
            [this] { shownCharacters_.reset(); });
}

void QNTextViewCommitAware::scrollContentsBy(int dx, int dy) {
    shownCharacters_.reset();
    QTextEdit::scrollContentsBy(dx, dy);
}

void QNTextViewCommitAware::resizeEvent(QResizeEvent* event) {
    shownCharacters_.reset();
    QTextEdit::resizeEvent(event);
}

text::Utf16Range QNTextViewCommitAware::shownCharacters() const {
    if (!shownCharacters_) {
        shownCharacters_ = characterRangeIn(QRect(QPoint(0, 0) + scrollOffset(), viewport()->size()));
    }
    return *shownCharacters_;
}

text::Utf16Range QNTextViewCommitAware::markedRange() const {
    if (preedit_.isEmpty()) {
        return {};
    }
    return {textCursor().position(), preedit_.size()};
}

text::Utf16Range QNTextViewCommitAware::selectedRange() const {
    const QTextCursor cursor = textCursor();
    return {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
}

void QNTextViewCommitAware::setSelectedRange(text::Utf16Range range) {
    const text::Utf16Range clamped = editor::clampRange(range, textLength());
    QTextCursor cursor = textCursor();
    if (cursor.selectionStart() == clamped.location && cursor.selectionEnd() == clamped.end()) {
        return;  // already so; a selection made backwards keeps its anchor
    }
    cursor.setPosition(static_cast<int>(clamped.location));
    cursor.setPosition(static_cast<int>(clamped.end()), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

editor::SelectionEnds QNTextViewCommitAware::selectionEnds() const {
    const QTextCursor cursor = textCursor();
    return {cursor.anchor(), cursor.position()};
}

void QNTextViewCommitAware::setSelectionEnds(editor::SelectionEnds ends) {
    const std::int64_t length = textLength();
    const auto clamp = [&](std::int64_t at) {
        return static_cast<int>(std::clamp<std::int64_t>(at, 0, length));
    };
    QTextCursor cursor = textCursor();
    if (cursor.anchor() == clamp(ends.anchor) && cursor.position() == clamp(ends.position)) {
        return;
    }
    cursor.setPosition(clamp(ends.anchor));
    cursor.setPosition(clamp(ends.position), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

std::int64_t QNTextViewCommitAware::textLength() const {
    return std::max(document()->characterCount() - 1, 0);
}

void QNTextViewCommitAware::insertNewline() {
    textCursor().insertText(QStringLiteral("\n"));
    ensureCursorVisible();
}

QPoint QNTextViewCommitAware::scrollOffset() const {
    return {isRightToLeft() ? horizontalScrollBar()->maximum() - horizontalScrollBar()->value()
                            : horizontalScrollBar()->value(),
            verticalScrollBar()->value()};
}

namespace {

// A plain text's blocks all stand in the root frame, so a block's layout is placed in the
// document's coordinates. (The layout's blockBoundingRect() is the same corner, found by measuring
// every line of the block.)
//
// The index of the line of `lines` that holds `position` (a position in its block), found by
// halving: the last line that starts at or before it.
int lineIndexAt(const QTextLayout& lines, int position) {
    int low = 0;
    int high = lines.lineCount();
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        if (lines.lineAt(middle).textStart() <= position) {
            low = middle;
        } else {
            high = middle;
        }
    }
    return low;
}

}  // namespace

QRegion QNTextViewCommitAware::regionOf(text::Utf16Range range) const {
    QRegion region;
    const QTextDocument* document = this->document();
    const auto end = static_cast<int>(range.end());
    for (QTextBlock block = document->findBlock(static_cast<int>(range.location));
         block.isValid() && block.position() < end; block = block.next()) {
        const QTextLayout* lines = block.layout();
        if (lines == nullptr || lines->lineCount() == 0) {
            continue;
        }
        const QPointF origin = lines->position();
        const int from = std::max(static_cast<int>(range.location), block.position()) -
                         block.position();
        const int to = std::min(end, block.position() + block.length() - 1) - block.position();
        for (int i = lineIndexAt(*lines, from); i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
            if (line.textStart() >= to) {
                break;
            }
            const int start = std::max(from, line.textStart());
            const int stop = std::min(to, line.textStart() + line.textLength());
            if (start >= stop) {
                continue;
            }
            const qreal x1 = line.cursorToX(start);
            const qreal x2 = line.cursorToX(stop);
            region += QRectF(std::min(x1, x2), line.y(), std::abs(x2 - x1), line.height())
                          .translated(origin)
                          .toAlignedRect();
        }
    }
    return region;
}

std::optional<QRectF> QNTextViewCommitAware::lineRectAt(std::int64_t position) const {
    const QTextDocument* document = this->document();
    const auto at = static_cast<int>(std::clamp<std::int64_t>(position, 0, textLength()));
    const QTextBlock block = document->findBlock(at);
    const QTextLayout* lines = block.isValid() ? block.layout() : nullptr;
    if (lines == nullptr || lines->lineCount() == 0) {
        return std::nullopt;
    }
    const QTextLine line = lines->lineAt(lineIndexAt(*lines, at - block.position()));
    return line.rect().translated(lines->position());
}

text::Utf16Range QNTextViewCommitAware::characterRangeIn(const QRect& area) const {
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const std::int64_t length = textLength();
    const auto first = std::clamp<std::int64_t>(
        layout->hitTest(QPointF(area.left(), area.top()), Qt::FuzzyHit), 0, length);
    const auto last = std::clamp<std::int64_t>(
        layout->hitTest(QPointF(area.right() + 1, area.bottom() + 1), Qt::FuzzyHit), 0, length);
    // A line cut at the area's corners still shows its ends.
    return {std::max<std::int64_t>(0, first - 1), std::min(length, last + 1) -
                                                      std::max<std::int64_t>(0, first - 1)};
}

void QNTextViewCommitAware::setUnderlaySource(UnderlaySource source) {
    underlaySource_ = std::move(source);
    viewport()->update();
}

void QNTextViewCommitAware::underlayChanged(text::Utf16Range range) {
    if (range.length <= 0 || !isVisible()) {
        return;
    }
    if (const auto shown = shownCharacters();
        range.end() < shown.location || range.location > shown.end()) {
        return;  // none of it shows
    }
    const QRect shown(QPoint(0, 0) + scrollOffset(), viewport()->size());
    const auto top = lineRectAt(range.location);
    const auto bottom = lineRectAt(range.end());
    if (!top || !bottom) {
        viewport()->update();
        return;
    }
    // Whole lines: cheaper to find than the runs' own extents, and painted at once anyway.
    const QRect lines = QRectF(shown.left(), top->top(), shown.width(),
                               bottom->bottom() - top->top())
                            .toAlignedRect() &
                        shown;
    if (!lines.isEmpty()) {
        viewport()->update(lines.translated(-scrollOffset()));
    }
}

std::vector<QNTextViewCommitAware::Underlay> QNTextViewCommitAware::underlay() const {
    std::vector<Underlay> runs;
    const std::int64_t length = textLength();
    if (!underlaySource_ || length == 0) {
        return runs;
    }
    for (Underlay& run : underlaySource_({0, length})) {
        run.range = editor::clampRange(run.range, length);
        if (run.range.length > 0) {
            runs.push_back(std::move(run));
        }
    }
    return runs;
}

void QNTextViewCommitAware::paintEvent(QPaintEvent* event) {
    if (underlaySource_ && textLength() > 0) {
        const QRect area = event->rect().translated(scrollOffset());
        const text::Utf16Range shown = characterRangeIn(area);
        const std::vector<Underlay> runs = underlaySource_(shown);
        if (!runs.empty()) {
            QPainter painter(viewport());
            painter.setClipRegion(event->region());
            painter.translate(-scrollOffset());
            for (const Underlay& run : runs) {
                // Measured at each paint, over what shows only: the text under a run can move
                // while its range stays (a fix earlier on the line, a rewrap, a scroll bar).
                const auto from = std::max(run.range.location, shown.location);
                const auto to = std::min(run.range.end(), shown.end());
                if (to <= from) {
                    continue;
                }
                for (const QRect& rect : regionOf({from, to - from})) {
                    painter.fillRect(rect, run.color);
                }
            }
        }
    }
    QTextEdit::paintEvent(event);
}

void QNTextViewCommitAware::keyPressEvent(QKeyEvent* event) {
    activeKeyDownModifierFlags = event->modifiers();
    setSelectedRange(selectedRange());
    if (handleKeyDown && handleKeyDown(event)) {
        activeKeyDownModifierFlags.reset();
        event->accept();
        return;
    }
    if (const auto command = commandForKey(event->key())) {
        // The key binding's command goes to the owner first; what it leaves, the view performs.
        if (handleCommand && handleCommand(*command)) {
            event->accept();
        } else if (*command == QNTextViewCommand::insertNewline) {
            insertNewline();
            event->accept();
        } else {
            QTextEdit::keyPressEvent(event);
        }
    } else if (typeText && !event->text().isEmpty() &&
               (event->text().front().isPrint() || event->text().front() == u'\t') &&
               !(event->modifiers() &
                 (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
               typeText(event->text())) {
        event->accept();
    } else {
        QTextEdit::keyPressEvent(event);
    }
    setSelectedRange(selectedRange());
    activeKeyDownModifierFlags.reset();
}

void QNTextViewCommitAware::inputMethodEvent(QInputMethodEvent* event) {
    const bool hadPreedit = hasMarkedText();
    const bool commits = !event->commitString().isEmpty();
    {
        FlagScope handling(isHandlingInputMethodEvent);
        if (commits && hadPreedit) {
            FlagScope committing(isCommittingMarkedText);
            QTextEdit::inputMethodEvent(event);
        } else if (!commits) {
            FlagScope updating(isUpdatingMarkedText);
            QTextEdit::inputMethodEvent(event);
        } else {
            QTextEdit::inputMethodEvent(event);
        }
    }
    preedit_ = event->preeditString();
    if (markedTextDidChange) {
        markedTextDidChange();
    }
}

void QNTextViewCommitAware::insertFromMimeData(const QMimeData* source) {
    if (isDropping_) {
        QTextEdit::insertFromMimeData(source);
        return;
    }
    FlagScope pasting(isPerformingPaste);
    const auto paste = [this, source] { QTextEdit::insertFromMimeData(source); };
    if (!pasteText || !pasteText(paste)) {
        paste();
    }
}

void QNTextViewCommitAware::dropEvent(QDropEvent* event) {
    FlagScope dropping(isDropping_);
    QTextEdit::dropEvent(event);
}

bool QNTextViewCommitAware::event(QEvent* event) {
    // Mouse events reach the view itself (not its viewport) only in the margins around the
    // text; a left-button drag there belongs to the owner.
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (handleMarginDrag && mouse->button() == Qt::LeftButton) {
                isMarginDragging_ = true;
                handleMarginDrag(QNWindowDragPhase::began);
                return true;
            }
            break;
        }
        case QEvent::MouseMove:
            if (isMarginDragging_ && handleMarginDrag) {
                handleMarginDrag(QNWindowDragPhase::changed);
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (isMarginDragging_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                isMarginDragging_ = false;
                if (handleMarginDrag) {
                    handleMarginDrag(QNWindowDragPhase::ended);
                }
                return true;
            }
            break;
        default:
            break;
    }
    return QTextEdit::event(event);
}

}  // namespace ravlin
