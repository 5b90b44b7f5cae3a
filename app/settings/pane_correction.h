#pragma once

// The Correction pane's sections: mode, on-device model, custom prompts and the own-key block,
// built into the Correction Form of the settings view.

namespace ravlin {

class QNSettingsForm;
class QNViewSettings;

void buildCorrectionPane(QNViewSettings& view, QNSettingsForm& form);

}  // namespace ravlin
