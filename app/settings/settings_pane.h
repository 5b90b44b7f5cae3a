#pragma once

// The panes of the settings window, in the order of the toolbar.

namespace ravlin {

enum class QNModelSettingsPane { general, correction, hotKeys, about };

}  // namespace ravlin
