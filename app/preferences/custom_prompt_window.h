#pragma once

// The custom prompt editor: one plain-text window per slot (600 × 480). Every change of the text
// is stored, cut to its first 8000 characters, through the store's setPrompt, and then the
// caller's change callback runs. One controller for the whole program; each slot's window is
// built on first use and brought forward after.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/preferences/preference_stores.h"

class QPlainTextEdit;

namespace ravlin {

class QNViewCustomPromptEditor;

class QNControllerCustomPromptWindow {
  public:
    using Slot = QNStoreCustomCorrectionPrompt::Slot;

    [[nodiscard]] static QNControllerCustomPromptWindow& shared();

    void show(Slot slot, std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
              std::function<void()> onChange);

    // The slot's window, once built.
    [[nodiscard]] QNViewCustomPromptEditor* window(Slot slot) const;

  private:
    QPointer<QNViewCustomPromptEditor> local_;
    QPointer<QNViewCustomPromptEditor> online_;
};

class QNViewCustomPromptEditor final : public QWidget {
  public:
    explicit QNViewCustomPromptEditor(QNStoreCustomCorrectionPrompt::Slot slot);

    // Shows the store's prompt and stores every change into it.
    void attach(std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
                std::function<void()> onChange);
    [[nodiscard]] QPlainTextEdit* editor() const { return editor_; }

  private:
    void textChanged();

    QNStoreCustomCorrectionPrompt::Slot slot_;
    QPlainTextEdit* editor_ = nullptr;
    std::shared_ptr<QNStoreCustomCorrectionPrompt> store_;
    std::function<void()> onChange_;
};

}  // namespace ravlin
