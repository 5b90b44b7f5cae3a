#pragma once

// The custom prompt editor: one plain-text window per slot (600 × 480). Every change of the text
// is stored, cut to its first 8000 characters, through the store's setPrompt, and then the
// caller's change callback runs. The editor shows exactly what is stored: text past the limit is
// cut there in the editor too, and a line under it counts the characters against the limit and
// says when it cut. Escape or "Done" closes it. One controller for the whole program; each
// slot's window is built on first use, placed beside the window it was opened from, and brought
// forward after.

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/preferences/preference_stores.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ravlin {

class QNViewCustomPromptEditor;

// Where a window of `size` stands beside `anchor` (both frames) within `available`: on the side
// with more room, its top level with the anchor's, and moved onto `available` where it would
// leave it (then covering part of the anchor).
[[nodiscard]] QRect placedBeside(const QRect& anchor, QSize size, const QRect& available);

class QNControllerCustomPromptWindow {
  public:
    using Slot = QNStoreCustomCorrectionPrompt::Slot;

    [[nodiscard]] static QNControllerCustomPromptWindow& shared();

    // Opens (or brings forward) the slot's editor, placed beside `beside` the first time it
    // shows after being closed (centred on the screen without one).
    void show(Slot slot, std::shared_ptr<QNStoreCustomCorrectionPrompt> store,
              std::function<void()> onChange, const QWidget* beside = nullptr);

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
    // The line under the text: the count against the limit, or that the text was cut there.
    [[nodiscard]] QString limitNote() const;
    [[nodiscard]] QPushButton* doneButton() const { return done_; }

  private:
    void textChanged();
    void showCount(bool cut);

    QNStoreCustomCorrectionPrompt::Slot slot_;
    QPlainTextEdit* editor_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* done_ = nullptr;
    std::shared_ptr<QNStoreCustomCorrectionPrompt> store_;
    std::function<void()> onChange_;
};

}  // namespace ravlin
