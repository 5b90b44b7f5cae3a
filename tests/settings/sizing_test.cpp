// The pane model, the preview sizes, the layout signatures and the height rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/settings/preview_snapshot.h"
#include "app/settings/settings_view.h"

namespace ravlin {
namespace {

using Pane = QNModelSettingsPane;

TEST(SettingsPaneModel, RawValuesIdentifiersAndTitlesRoundTrip) {
    const struct {
        Pane pane;
        const char* raw;
        const char* title;
    } rows[] = {{Pane::general, "general", "General"},
                {Pane::correction, "correction", "Correction"},
                {Pane::hotKeys, "hotKeys", "Shortcuts"},
                {Pane::about, "about", "About"}};
    for (const auto& row : rows) {
        EXPECT_EQ(rawValue(row.pane), row.raw);
        EXPECT_EQ(identifier(row.pane), std::string("settings.") + row.raw);
        EXPECT_EQ(title(row.pane), row.title);
        EXPECT_EQ(settingsPaneFromRawValue(row.raw), row.pane);
        EXPECT_EQ(settingsPaneFromToolbarIdentifier(identifier(row.pane)), row.pane);
    }
    for (const char* stranger : {"General", "hotkeys", "", "settings.", "settings.General"}) {
        EXPECT_FALSE(settingsPaneFromRawValue(stranger)) << stranger;
        EXPECT_FALSE(settingsPaneFromToolbarIdentifier(stranger)) << stranger;
    }
}

TEST(SettingsPreviewSnapshot, PreviewSizesFollowTheSnapshot) {
    auto snapshot = QNModelSettingsPreviewSnapshot::makeDefault();
    EXPECT_EQ(snapshot.previewSize(Pane::general), QSize(500, 354));
    EXPECT_EQ(snapshot.previewSize(Pane::correction), QSize(500, 600));  // 764, capped
    EXPECT_EQ(snapshot.previewSize(Pane::hotKeys), QSize(500, 540));
    EXPECT_EQ(snapshot.previewSize(Pane::about), QSize(500, 220));
    snapshot.launchAtLoginRequiresApproval = false;
    EXPECT_EQ(snapshot.previewSize(Pane::general).height(), 320);
    snapshot.isOnlineCorrectionEnabled = false;
    EXPECT_EQ(snapshot.previewSize(Pane::correction).height(), 444);
    snapshot.isOnlineCorrectionEnabled = true;
    snapshot.isBYOKEnabled = false;
    EXPECT_EQ(snapshot.previewSize(Pane::correction).height(), 554);
}

QNSettingsLayoutInputs online(bool codex, bool available = false) {
    QNSettingsLayoutInputs in;
    in.online = true;
    in.byokEnabled = true;
    in.codexCLI = codex;
    if (available) {
        in.codexDetection = {"/usr/bin/codex", "codex 0.120.0", QNCodexCLISupportStatus::supported,
                             QNCodexCLILoginState::loggedIn};
    }
    return in;
}

TEST(SettingsLayoutSignature, EachPaneAcrossItsStates) {
    QNSettingsLayoutInputs plain;
    EXPECT_EQ(layoutSignature(Pane::general, plain), "|");
    EXPECT_EQ(layoutSignature(Pane::hotKeys, plain), "");
    EXPECT_EQ(layoutSignature(Pane::about, plain), "");
    EXPECT_EQ(layoutSignature(Pane::correction, plain),
              "local|byokDisabled|openai|noKey||openai|noCodexPath|noCodexVersion|missing|unknown|"
              "unconfigured|customLocalOff|customOnlineOff");

    auto general = plain;
    general.launchRequiresApproval = true;
    EXPECT_EQ(layoutSignature(Pane::general, general), "launchRequiresApproval|");
    general.launchRequiresApproval = false;
    general.launchHasError = true;
    EXPECT_EQ(layoutSignature(Pane::general, general), "|launchError");
    auto shortcuts = plain;
    shortcuts.hasHotKeyError = true;
    EXPECT_EQ(layoutSignature(Pane::hotKeys, shortcuts), "hotKeyError");

    auto codex = online(true, true);
    codex.hasKey = true;
    codex.saveStatusMessage = "Codex CLI turn failed";
    codex.onlineConfigured = true;
    codex.customLocalOn = true;
    EXPECT_EQ(layoutSignature(Pane::correction, codex),
              "online|byokEnabled|codexCLI|hasKey|Codex CLI turn failed|openai,codexCLI|"
              "/usr/bin/codex|codex 0.120.0|supported|loggedIn|configured|customLocalOn|"
              "customOnlineOff");
    // A found tool is offered while OpenAI is chosen; 13 tokens, the empty ones kept.
    const std::string openai = layoutSignature(Pane::correction, online(false, true));
    EXPECT_NE(openai.find("|openai|noKey||openai,codexCLI|"), std::string::npos) << openai;
    EXPECT_EQ(std::count(openai.begin(), openai.end(), '|'), 12);
}

TEST(SettingsDefaultHeights, EveryRowOfTheTable) {
    QNSettingsLayoutInputs plain;
    auto approval = plain;
    approval.launchRequiresApproval = true;
    auto error = plain;
    error.launchHasError = true;
    auto byokOff = plain;
    byokOff.online = true;
    auto hotKeyError = plain;
    hotKeyError.hasHotKeyError = true;
    auto withMessage = online(false);
    withMessage.saveStatusMessage = "Invalid API key";
    auto codexMessage = online(true, true);
    codexMessage.saveStatusMessage = "";
    const struct {
        Pane pane;
        QNSettingsLayoutInputs in;
        int height;
    } rows[] = {
        {Pane::general, plain, 320},
        {Pane::general, approval, 354},
        {Pane::general, error, 354},
        {Pane::correction, plain, 440},
        {Pane::correction, byokOff, 500},
        {Pane::correction, online(false), 730},
        {Pane::correction, online(true, true), 840},
        {Pane::correction, online(true), 880},
        {Pane::correction, withMessage, 752},
        {Pane::correction, codexMessage, 862},
        {Pane::hotKeys, plain, 540},
        {Pane::hotKeys, hotKeyError, 564},
        {Pane::about, plain, 220},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(estimatedContentHeight(row.pane, row.in), row.height)
            << rawValue(row.pane) << " " << layoutSignature(row.pane, row.in);
    }
}

TEST(SettingsPreferredSize, MeasurementsRoundUpKeepTheFloorAndTheCapButCorrection) {
    QNSettingsMeasuredHeights heights{{{Pane::general, "|"}, 700},
                                      {{Pane::correction, "c"}, 950},
                                      {{Pane::about, ""}, 100},
                                      {{Pane::hotKeys, ""}, 540.2},
                                      {{Pane::hotKeys, "hotKeyError"}, 0}};
    const struct {
        QNModelSettingsPaneMeasurementKey key;
        int estimate;
        int height;
    } rows[] = {
        {{Pane::general, "|"}, 320, 600},
        {{Pane::correction, "c"}, 730, 950},
        {{Pane::correction, "other"}, 880, 880},
        {{Pane::about, ""}, 220, 220},
        {{Pane::hotKeys, ""}, 540, 541},
        {{Pane::hotKeys, "hotKeyError"}, 564, 564},
        {{Pane::general, "launchRequiresApproval|"}, 354, 354},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(preferredContentSize(heights, row.key, row.estimate), QSize(500, row.height))
            << row.key.layoutSignature;
    }
}

TEST(SettingsPreferredSize, RecordingStoresOnlyRealChangesAndKeepsOtherKeys) {
    QNSettingsMeasuredHeights heights;
    const QNModelSettingsPaneMeasurementKey key{Pane::general, "|"};
    const QNModelSettingsPaneMeasurementKey other{Pane::general, "launchRequiresApproval|"};
    EXPECT_TRUE(recordMeasuredHeight(heights, other, 400));
    EXPECT_TRUE(recordMeasuredHeight(heights, key, 300.2));
    EXPECT_EQ(heights.at(key), 301);
    EXPECT_FALSE(recordMeasuredHeight(heights, key, 300.9));  // rounds to the same 301
    EXPECT_TRUE(recordMeasuredHeight(heights, key, 301.3));
    EXPECT_EQ(heights.at(key), 302);
    for (double bad : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(recordMeasuredHeight(heights, key, bad)) << bad;
    }
    EXPECT_EQ(heights.at(key), 302);
    EXPECT_EQ(heights.at(other), 400);
}

}  // namespace
}  // namespace ravlin
