// The settings window as a screen reader uses it, over the accessibility bus: every check box
// applies what it shows however it was toggled.

#include <gtest/gtest.h>

#include <QSettings>

#include "scenarios.h"
#include "screen_reader.h"

namespace ravlin::testing {
namespace {

class SettingsByReader : public OwnWindows {
  protected:
    // The program started on `settings`, its settings window in front with the keyboard, the
    // pane `pane` shown.
    void settingsUp(std::u16string_view pane) {
        ASSERT_NO_FATAL_FAILURE(launch());
        reader = std::make_unique<ScreenReader>(program.pid());
        ASSERT_TRUE(openSettings(pane));
        ASSERT_TRUE(waitUntil(
            [&] {
                return activeWindowTitle().startsWith(QStringLiteral("Settings")) &&
                       keyboardIn(static_cast<platform::ProcessID>(program.pid()));
            },
            kSettle));
    }
    [[nodiscard]] QString settingsFile() const {
        return program.home() + QStringLiteral("/.config/ravlin/ravlin.ini");
    }
    // What the settings file holds under `key` now; empty when nothing.
    [[nodiscard]] std::string stored(const std::string& key) const {
        return QSettings(settingsFile(), QSettings::IniFormat)
            .value(QString::fromStdString(key))
            .toString()
            .toStdString();
    }
    // Whether the menu's item `item` is checked, as a screen reader announces it while the
    // keys move down the menu to it; none when it was not announced.
    std::optional<bool> menuItemChecked(const std::string& item) {
        // The running window before Settings, so that its Menu button takes the click.
        if (!activateWindowTitled(QStringLiteral("Ravlin"), kSettle) || !openMenu(program)) {
            return std::nullopt;
        }
        reader->heard();
        std::optional<bool> checked;
        for (int step = 0; step < 6 && !checked; ++step) {
            if (!keyboard.tap("Down")) {
                break;
            }
            // The next item announced.
            waitUntil([&] {
                bool announced = false;
                for (const auto& control : reader->heard()) {
                    if (control.role == "menu item") {
                        announced = true;
                        if (control.name == item) {
                            checked = control.checked;
                        }
                    }
                }
                return announced;
            });
        }
        keyboard.tap("Escape");
        menuClosed(program);
        return checked;
    }
    std::unique_ptr<ScreenReader> reader;
};

// The Correction pane's four check boxes toggled by a screen reader's action (which clicks
// nothing): each stores what it shows at once, the rows it governs come and go, and the menu's
// "Use Cloud AI Correction" follows the cloud box.
TEST_F(SettingsByReader, EachCorrectionBoxStoresWhatItShowsWhenAReaderTogglesIt) {
    settings = {{"correctionModelMode", "local"}};
    ASSERT_NO_FATAL_FAILURE(settingsUp(u"Correction"));
    const std::string cloud = "Use Cloud AI Model for better corrections";
    const std::string byok = "Bring Your Own Key (BYOK)";
    const struct {
        std::string box;
        std::string key;
        std::string stored;
        bool checked;
        // A row the box shows or hides, and whether it shows.
        std::pair<std::string, std::string> row;
        bool rowShown;
    } steps[] = {
        {cloud, "correctionModelMode", "online", true, {"check box", byok}, true},
        {byok, "BYOK.isEnabled", "true", true, {"combo box", "Model"}, true},
        {"Custom local correction prompt", "CustomCorrectionPrompt.local.isEnabled", "true", true,
         {}, false},
        {"Custom online correction prompt", "CustomCorrectionPrompt.online.isEnabled", "true",
         true, {}, false},
        {byok, "BYOK.isEnabled", "false", false, {"combo box", "Model"}, false},
        {cloud, "correctionModelMode", "local", false, {"check box", byok}, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.box + " -> " + step.stored);
        ASSERT_TRUE(reader->act("check box", step.box));
        EXPECT_TRUE(waitUntil([&] { return stored(step.key) == step.stored; }, kSettle))
            << step.key << "=" << stored(step.key);
        const auto box = reader->find("check box", step.box);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->checked, step.checked);
        if (!step.row.first.empty()) {
            EXPECT_EQ(reader->find(step.row.first, step.row.second).has_value(), step.rowShown);
        }
        if (step.box == cloud) {
            EXPECT_EQ(menuItemChecked("Use Cloud AI Correction"), step.checked);
        }
    }
}

}  // namespace
}  // namespace ravlin::testing
