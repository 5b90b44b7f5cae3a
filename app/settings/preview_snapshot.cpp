#include "app/settings/preview_snapshot.h"

#include <algorithm>

#include "app/support/desktop_wording.h"

namespace ravlin {

QNModelSettingsPreviewSnapshot QNModelSettingsPreviewSnapshot::makeDefault() {
    QNModelSettingsPreviewSnapshot snapshot;
    snapshot.launchAtLoginStatusText =
        forThisDesktop("macOS needs approval before Ravlin can launch at login.");
    return snapshot;
}

QSize QNModelSettingsPreviewSnapshot::previewSize(QNModelSettingsPane pane) const {
    int height = 220;
    switch (pane) {
        case QNModelSettingsPane::general:
            height = launchAtLoginRequiresApproval ? 354 : 320;
            break;
        case QNModelSettingsPane::correction:
            if (!isOnlineCorrectionEnabled) {
                height = 444;
            } else if (!isBYOKEnabled) {
                height = 554;
            } else if (byokProviderKind == QNBYOKProviderKind::openai) {
                height = hasBYOKKey ? 704 : 764;
            } else {
                height = codexDetection.isAvailable() ? 874 : 914;
            }
            height = std::min(height, 600);
            break;
        case QNModelSettingsPane::hotKeys:
            height = 540;
            break;
        case QNModelSettingsPane::about:
            height = 220;
            break;
    }
    return {500, height};
}

}  // namespace ravlin
