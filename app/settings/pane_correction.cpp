#include "app/settings/pane_correction.h"

#include "app/settings/settings_view.h"

namespace ravlin {

void buildCorrectionPane(QNViewSettings& /*view*/, QNSettingsForm& /*form*/) {}

}  // namespace ravlin
