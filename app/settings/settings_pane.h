#pragma once

// The panes of the settings window, in the order of the toolbar, with their titles, toolbar
// identifiers and symbols.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

enum class QNModelSettingsPane { general, correction, hotKeys, about };

// Every pane in declaration order (the toolbar's order).
inline constexpr std::array<QNModelSettingsPane, 4> kAllSettingsPanes = {
    QNModelSettingsPane::general, QNModelSettingsPane::correction, QNModelSettingsPane::hotKeys,
    QNModelSettingsPane::about};

// "general", "correction", "hotKeys", "about".
[[nodiscard]] std::string_view rawValue(QNModelSettingsPane pane);
// Exact, case-sensitive.
[[nodiscard]] std::optional<QNModelSettingsPane> settingsPaneFromRawValue(std::string_view raw);
// The title a person reads ("General", "Correction", "Shortcuts", "About").
[[nodiscard]] std::string title(QNModelSettingsPane pane);
// "settings." followed by the raw value.
[[nodiscard]] std::string identifier(QNModelSettingsPane pane);
// The first pane whose identifier equals `identifier`.
[[nodiscard]] std::optional<QNModelSettingsPane> settingsPaneFromToolbarIdentifier(
    std::string_view identifier);
// The symbol's name in the icon table.
[[nodiscard]] std::string_view systemImageName(QNModelSettingsPane pane);

}  // namespace ravlin
