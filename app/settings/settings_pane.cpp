#include "app/settings/settings_pane.h"

#include "app/support/desktop_wording.h"

namespace ravlin {

std::string_view rawValue(QNModelSettingsPane pane) {
    switch (pane) {
        case QNModelSettingsPane::general:
            return "general";
        case QNModelSettingsPane::correction:
            return "correction";
        case QNModelSettingsPane::hotKeys:
            return "hotKeys";
        case QNModelSettingsPane::about:
            return "about";
    }
    return "general";
}

std::optional<QNModelSettingsPane> settingsPaneFromRawValue(std::string_view raw) {
    for (const auto pane : kAllSettingsPanes) {
        if (rawValue(pane) == raw) {
            return pane;
        }
    }
    return std::nullopt;
}

std::string title(QNModelSettingsPane pane) {
    switch (pane) {
        case QNModelSettingsPane::general:
            return forThisDesktop("General");
        case QNModelSettingsPane::correction:
            return forThisDesktop("Correction");
        case QNModelSettingsPane::hotKeys:
            return forThisDesktop("Shortcuts");
        case QNModelSettingsPane::about:
            return forThisDesktop("About");
    }
    return {};
}

std::string identifier(QNModelSettingsPane pane) {
    return "settings." + std::string(rawValue(pane));
}

std::optional<QNModelSettingsPane> settingsPaneFromToolbarIdentifier(std::string_view identifier) {
    for (const auto pane : kAllSettingsPanes) {
        if (ravlin::identifier(pane) == identifier) {
            return pane;
        }
    }
    return std::nullopt;
}

std::string_view systemImageName(QNModelSettingsPane pane) {
    switch (pane) {
        case QNModelSettingsPane::general:
            return "gearshape.fill";
        case QNModelSettingsPane::correction:
            return "wand.and.rays";
        case QNModelSettingsPane::hotKeys:
            return "keyboard.fill";
        case QNModelSettingsPane::about:
            return "info.circle.fill";
    }
    return {};
}

}  // namespace ravlin
