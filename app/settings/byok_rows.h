#pragma once

// The own-key block of the Correction pane's "Advanced" section: the own-provider switch, then,
// while it is on, the provider and model rows, the key rows (OpenAI) or the Codex rows, and the
// status message line.

#include <memory>

class QFormLayout;
class QLineEdit;
class QPushButton;

namespace ravlin {

class QNControllerCorrectionSettings;

// The widgets the pane keeps up to date while the user types a key (absent where not shown).
struct QNBYOKKeyRowWidgets {
    QLineEdit* field = nullptr;
    QPushButton* saveButton = nullptr;
};

QNBYOKKeyRowWidgets addBYOKRows(QFormLayout& form,
                                const std::shared_ptr<QNControllerCorrectionSettings>& controller);

}  // namespace ravlin
