#pragma once

// The plain values every pane can be drawn from instead of the live stores, and the fixed
// content size of each pane drawn that way.

#include <string>

#include <QSize>

#include "app/preferences/byok_store.h"
#include "app/preferences/preference_stores.h"
#include "app/settings/settings_pane.h"
#include "core/providers/codex-cli/detection.h"
#include "core/records/result.h"

namespace ravlin {

struct QNModelSettingsPreviewSnapshot {
    bool isAccessibilityTrusted = false;
    bool isLaunchAtLoginRequested = true;
    std::string launchAtLoginStatusText;
    bool launchAtLoginRequiresApproval = true;
    bool isOnlineCorrectionEnabled = true;
    bool isOnlineCorrectionConfigured = false;
    bool isBYOKEnabled = true;
    bool hasBYOKKey = false;
    QNBYOKProviderKind byokProviderKind = QNBYOKProviderKind::openai;
    std::string byokModel = "gpt-5.4-nano";
    QNCodexCLIDetection codexDetection{std::nullopt, std::nullopt, QNCodexCLISupportStatus::missing,
                                       QNCodexCLILoginState::notLoggedIn};
    std::string hotKeyDisplay = "Super+E";
    bool doubleTapEnabled = true;
    std::string doubleTapKeyDisplay = "E, E";
    bool quickFixEnabled = true;
    std::string quickFixKeyDisplay = "Right Shift, Right Shift";
    QNComposerFontSize composerFontSize = QNComposerFontSize::m;
    bool canCheckForUpdates = true;
    bool automaticallyChecksForUpdates = true;
    QNModelAvailabilitySummary localModelAvailability{true, "Local model ready", ""};
    bool isHotKeyFunctionOnly = false;

    // The values above, with the launch status text in this desktop's words.
    [[nodiscard]] static QNModelSettingsPreviewSnapshot makeDefault();

    // Width 500; the pane's fixed height (Correction capped at 600).
    [[nodiscard]] QSize previewSize(QNModelSettingsPane pane) const;
};

}  // namespace ravlin
