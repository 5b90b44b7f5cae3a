#include "app/preferences/custom_prompt_window.h"

#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/text/unicode.h"

namespace ravlin {

QNControllerCustomPromptWindow& QNControllerCustomPromptWindow::shared() {
    static auto* controller = new QNControllerCustomPromptWindow();
    return *controller;
}

QNViewCustomPromptEditor* QNControllerCustomPromptWindow::window(Slot slot) const {
    return slot == Slot::local ? local_.data() : online_.data();
}

void QNControllerCustomPromptWindow::show(Slot slot,
                                          std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
                                          std::function<void()> onChange) {
    auto& window = slot == Slot::local ? local_ : online_;
    if (!window) {
        window = new QNViewCustomPromptEditor(slot);
    }
    window->attach(std::move(store), std::move(onChange));
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
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(editor_);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] { textChanged(); });
}

void QNViewCustomPromptEditor::attach(std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
                                      std::function<void()> onChange) {
    store_ = std::move(store);
    onChange_ = std::move(onChange);
    const QSignalBlocker quiet(editor_);
    editor_->setPlainText(QString::fromStdString(store_->prompt(slot_).get()));
}

void QNViewCustomPromptEditor::textChanged() {
    if (!store_) {
        return;
    }
    const std::u16string text = editor_->toPlainText().toStdU16String();
    const std::u16string kept =
        text::prefixCharacters(text, QNStoreCustomCorrectionPrompt::maximumPromptCharacters);
    store_->setPrompt(text::toUtf8(kept), slot_);
    if (onChange_) {
        onChange_();
    }
}

}  // namespace ravlin
