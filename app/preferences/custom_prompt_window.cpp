#include "app/preferences/custom_prompt_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/dialog_keys.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

// Room left between the two windows.
constexpr int kGap = 12;

QString grouped(std::int64_t number) {
    QLocale english(QLocale::English);
    return english.toString(static_cast<qlonglong>(number));
}

}  // namespace

QRect placedBeside(const QRect& anchor, QSize size, const QRect& available) {
    // On the side with more room; pushed back onto the screen where it does not fit there,
    // covering as little of the anchor as it must.
    const int roomRight = available.right() - anchor.right();
    const int roomLeft = anchor.left() - available.left();
    QRect placed(QPoint(), size);
    placed.moveTop(anchor.top());
    if (roomRight >= roomLeft) {
        placed.moveLeft(anchor.right() + 1 + kGap);
    } else {
        placed.moveRight(anchor.left() - 1 - kGap);
    }
    if (placed.right() > available.right()) {
        placed.moveRight(available.right());
    }
    if (placed.bottom() > available.bottom()) {
        placed.moveBottom(available.bottom());
    }
    placed.moveLeft(std::max(placed.left(), available.left()));
    placed.moveTop(std::max(placed.top(), available.top()));
    return placed;
}

QNControllerCustomPromptWindow& QNControllerCustomPromptWindow::shared() {
    static auto* controller = new QNControllerCustomPromptWindow();
    return *controller;
}

QNViewCustomPromptEditor* QNControllerCustomPromptWindow::window(Slot slot) const {
    return slot == Slot::local ? local_.data() : online_.data();
}

void QNControllerCustomPromptWindow::show(Slot slot,
                                          std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
                                          std::function<void()> onChange, const QWidget* beside) {
    auto& window = slot == Slot::local ? local_ : online_;
    if (!window) {
        window = new QNViewCustomPromptEditor(slot);
    }
    window->attach(std::move(store), std::move(onChange));
    if (!window->isVisible()) {
        const QScreen* screen = beside != nullptr ? beside->screen() : nullptr;
        if (screen == nullptr) {
            screen = QGuiApplication::primaryScreen();
        }
        if (screen != nullptr) {
            const QRect available = screen->availableGeometry();
            // The frame's own size is known once shown; the content's size stands in before.
            const QSize size = window->frameGeometry().size().expandedTo(window->size());
            QRect placed(QPoint(), size);
            if (beside != nullptr && beside->isVisible()) {
                placed = placedBeside(beside->frameGeometry(), size, available);
            } else {
                placed.moveCenter(available.center());
            }
            window->move(placed.topLeft());
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
}

QNViewCustomPromptEditor::QNViewCustomPromptEditor(QNStoreCustomCorrectionPrompt::Slot slot)
    : slot_(slot) {
    setWindowTitle(slot == QNStoreCustomCorrectionPrompt::Slot::local
                       ? QStringLiteral("Custom Local Prompt")
                       : QStringLiteral("Custom Online Prompt"));
    resize(600, 480);
    editor_ = new QPlainTextEdit(this);
    editor_->setAccessibleName(QStringLiteral("Prompt"));
    // Tab moves on to "Done", as in any other field of a window.
    editor_->setTabChangesFocus(true);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("limitNote"));
    note_->setWordWrap(true);
    done_ = new QPushButton(QStringLiteral("Done"), this);
    connect(done_, &QPushButton::clicked, this, &QWidget::close);

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(12, 6, 12, 10);
    bottom->addWidget(note_, 1);
    bottom->addWidget(done_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(editor_, 1);
    layout->addLayout(bottom);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] { textChanged(); });
    answerDialogKeys(*this, done_);
}

QString QNViewCustomPromptEditor::limitNote() const {
    return note_->text();
}

void QNViewCustomPromptEditor::attach(std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
                                      std::function<void()> onChange) {
    store_ = std::move(store);
    onChange_ = std::move(onChange);
    const QSignalBlocker quiet(editor_);
    editor_->setPlainText(QString::fromStdString(store_->prompt(slot_).get()));
    showCount(false);
}

void QNViewCustomPromptEditor::showCount(bool cut) {
    const std::int64_t limit = QNStoreCustomCorrectionPrompt::maximumPromptCharacters;
    if (cut) {
        note_->setText(QStringLiteral("A prompt holds at most %1 characters: the text was cut "
                                      "there, and what is shown is what is kept.")
                           .arg(grouped(limit)));
        return;
    }
    const auto count = text::characterCount(editor_->toPlainText().toStdU16String());
    note_->setText(QStringLiteral("%1 of %2 characters").arg(grouped(count), grouped(limit)));
}

void QNViewCustomPromptEditor::textChanged() {
    if (!store_) {
        return;
    }
    const std::u16string text = editor_->toPlainText().toStdU16String();
    const std::u16string kept =
        text::prefixCharacters(text, QNStoreCustomCorrectionPrompt::maximumPromptCharacters);
    const bool cut = kept.size() < text.size();
    if (cut) {
        // What is past the limit goes from the editor too (an undoable edit), so the editor
        // shows what is stored.
        const QSignalBlocker quiet(editor_);
        QTextCursor cursor(editor_->document());
        cursor.setPosition(static_cast<int>(kept.size()));
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        QTextCursor caret = editor_->textCursor();
        if (caret.position() > static_cast<int>(kept.size())) {
            caret.setPosition(static_cast<int>(kept.size()));
            editor_->setTextCursor(caret);
        }
    }
    showCount(cut);
    store_->setPrompt(text::toUtf8(kept), slot_);
    if (onChange_) {
        onChange_();
    }
}

}  // namespace ravlin
