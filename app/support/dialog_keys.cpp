#include "app/support/dialog_keys.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

namespace ravlin {
namespace {

// Sees the keys that reach the window itself: those no widget on their way took.
class DialogKeys final : public QObject {
  public:
    DialogKeys(QWidget& window, QPushButton* defaultButton, bool escapeCloses)
        : QObject(&window),
          window_(window),
          defaultButton_(defaultButton),
          escapeCloses_(escapeCloses) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &window_ || event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto& key = *static_cast<QKeyEvent*>(event);
        if ((key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        if (key.key() == Qt::Key_Escape && escapeCloses_) {
            window_.close();
            return true;
        }
        if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter) {
            return false;
        }
        if (QAbstractButton* button = pressable(QApplication::focusWidget())) {
            button->click();
            return true;
        }
        if (QPushButton* button = defaultButton()) {
            button->click();
            return true;
        }
        return false;
    }

  private:
    // A button of this window that Return presses: a check box or radio button is no such.
    [[nodiscard]] QAbstractButton* pressable(QWidget* focused) const {
        auto* button = qobject_cast<QAbstractButton*>(focused);
        if (button == nullptr || button->window() != &window_ || !button->isEnabled() ||
            qobject_cast<QCheckBox*>(button) != nullptr ||
            qobject_cast<QRadioButton*>(button) != nullptr) {
            return nullptr;
        }
        return button;
    }

    // The window's own, else the first button shown that its row marks as the default (the
    // key's "Save & Verify" while the Correction pane shows).
    [[nodiscard]] QPushButton* defaultButton() const {
        const auto usable = [](const QPushButton* button) {
            return button != nullptr && button->isVisible() && button->isEnabled();
        };
        if (defaultButton_) {
            return usable(defaultButton_) ? defaultButton_.data() : nullptr;
        }
        for (QPushButton* button : window_.findChildren<QPushButton*>()) {
            if (button->isDefault() && usable(button) && button->window() == &window_) {
                return button;
            }
        }
        return nullptr;
    }

    QWidget& window_;
    QPointer<QPushButton> defaultButton_;
    bool escapeCloses_;
};

}  // namespace

void answerDialogKeys(QWidget& window, QPushButton* defaultButton, bool escapeCloses) {
    if (defaultButton != nullptr) {
        defaultButton->setDefault(true);
    }
    window.installEventFilter(new DialogKeys(window, defaultButton, escapeCloses));
}

}  // namespace ravlin
