#include "app/editor/text_view_commit_aware.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextDocument>
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
    } else if (performTypedKey && !event->text().isEmpty() &&
               !(event->modifiers() &
                 (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        performTypedKey(event->text(), [this, event] { QTextEdit::keyPressEvent(event); });
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
