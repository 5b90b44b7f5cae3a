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

QRegion QNTextViewCommitAware::regionOf(text::Utf16Range range) const {
    QRegion region;
    const QTextDocument* document = this->document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    const auto end = static_cast<int>(range.end());
    for (QTextBlock block = document->findBlock(static_cast<int>(range.location));
         block.isValid() && block.position() < end; block = block.next()) {
        const QTextLayout* lines = block.layout();
        if (lines == nullptr) {
            continue;
        }
        const QPointF origin = layout->blockBoundingRect(block).topLeft();
        const int from = std::max(static_cast<int>(range.location), block.position()) -
                         block.position();
        const int to = std::min(end, block.position() + block.length() - 1) - block.position();
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
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

void QNTextViewCommitAware::setUnderlay(std::vector<Underlay> runs) {
    if (runs == underlay_) {
        return;
    }
    std::vector<QRegion> regions;
    regions.reserve(runs.size());
    QRegion changed;
    for (const Underlay& run : runs) {
        const auto kept = std::ranges::find(underlay_, run.range, &Underlay::range);
        const auto index = static_cast<std::size_t>(kept - underlay_.begin());
        regions.push_back(kept != underlay_.end() && index < underlayRegions_.size()
                              ? underlayRegions_[index]
                              : regionOf(run.range));
        if (kept == underlay_.end() || !(*kept == run)) {
            changed += regions.back();
        }
    }
    for (std::size_t i = 0; i < underlay_.size() && i < underlayRegions_.size(); ++i) {
        if (std::ranges::find(runs, underlay_[i].range, &Underlay::range) == runs.end()) {
            changed += underlayRegions_[i];
        }
    }
    underlay_ = std::move(runs);
    underlayRegions_ = std::move(regions);
    if (!changed.isEmpty()) {
        viewport()->update(changed.translated(-scrollOffset()));
    }
}

void QNTextViewCommitAware::paintEvent(QPaintEvent* event) {
    if (!underlay_.empty()) {
        QPainter painter(viewport());
        painter.setClipRegion(event->region());
        painter.translate(-scrollOffset());
        for (std::size_t i = 0; i < underlay_.size() && i < underlayRegions_.size(); ++i) {
            // Measured at each paint: the text under a run can move while its range stays (a
            // fix earlier on the line, a rewrap, a scroll bar coming or going).
            underlayRegions_[i] = regionOf(underlay_[i].range);
            for (const QRect& rect : underlayRegions_[i]) {
                painter.fillRect(rect, underlay_[i].color);
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
    QTextEdit::insertFromMimeData(source);
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
