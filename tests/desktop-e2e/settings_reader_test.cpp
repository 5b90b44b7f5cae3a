// The settings window as a screen reader uses it, over the accessibility bus: every check box
// applies what it shows however it was toggled, the focus follows the pane the keys show, every
// Tab stop is named; and a settings file deleted or emptied while the program runs loses nothing
// the person set.

#include <gtest/gtest.h>

#include <QFile>
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
    // Presses Tab until the focus reaches a control it reached before, reading each one.
    std::vector<ReadControl> tabStops() {
        std::vector<ReadControl> stops;
        auto at = reader->focused();
        for (int step = 0; step < 40; ++step) {
            EXPECT_TRUE(keyboard.tap("Tab"));
            const auto before = at;
            if (!waitUntil([&] { return (at = reader->focused()) != before && at.has_value(); })) {
                ADD_FAILURE() << "Tab did not move the focus from " << describe(before);
                break;
            }
            if (std::ranges::find(stops, *at) != stops.end()) {
                break;
            }
            stops.push_back(*at);
        }
        return stops;
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

// A pane key moves the focus to the button of the pane it shows, checked, so that a screen
// reader names the new pane; from a pane button or from a control inside the pane alike.
TEST_F(SettingsByReader, APaneKeyTakesTheFocusToThePaneShown) {
    settings = {{"correctionModelMode", "local"}};
    ASSERT_NO_FATAL_FAILURE(settingsUp(u"General"));
    const struct {
        bool intoThePane;  // Tab first, into the pane's first control
        std::string keys;
        std::string pane;
    } steps[] = {
        {false, "Control_L+Tab", "Correction"},     {false, "Control_L+Next", "Shortcuts"},
        {true, "Control_L+Tab", "About"},           {false, "Control_L+Shift_L+Tab", "Shortcuts"},
        {true, "Control_L+Prior", "Correction"},    {true, "Control_L+Next", "Shortcuts"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.keys + " to " + step.pane);
        if (step.intoThePane) {
            const auto before = reader->focused();
            ASSERT_TRUE(keyboard.tap("Tab"));
            ASSERT_TRUE(waitUntil([&] { return reader->focused() != before; }, kSettle));
        }
        ASSERT_TRUE(keyboard.chord(step.keys));
        const ReadControl shown{"check box", step.pane, true, true};
        EXPECT_TRUE(waitUntil([&] { return reader->focused() == shown; }, kSettle))
            << describe(reader->focused());
    }
}

// Tab round the window on every pane, the panes chosen by a screen reader's action on their
// buttons: every stop has a name, and the pane buttons are one stop, at the pane shown.
TEST_F(SettingsByReader, EveryTabStopHasANameAndThePaneButtonsStopAtThePaneShown) {
    // The Correction pane with every row it can hold for OpenAI.
    settings = {{"correctionModelMode", "online"}, {"BYOK.isEnabled", "true"}};
    ASSERT_NO_FATAL_FAILURE(settingsUp(u"General"));
    const std::vector<std::string> panes{"General", "Correction", "Shortcuts", "About"};
    for (const auto& pane : {"Correction", "Shortcuts", "About", "General"}) {
        SCOPED_TRACE(pane);
        ASSERT_TRUE(reader->act("check box", pane));
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto button = reader->find("check box", pane);
                return button && button->checked;
            },
            kSettle));
        int paneStops = 0;
        const auto stops = tabStops();
        for (const auto& stop : stops) {
            EXPECT_FALSE(stop.name.empty()) << describe(stop);
            EXPECT_TRUE(stop.showing) << describe(stop);
            if (stop.role == "check box" && std::ranges::find(panes, stop.name) != panes.end()) {
                ++paneStops;
                EXPECT_TRUE(stop == (ReadControl{"check box", pane, true, true})) << describe(stop);
            }
        }
        EXPECT_EQ(paneStops, 1);
    }
}

// The settings file deleted, then emptied, while the program runs: the next change writes every
// setting in force, not only the one changed, and the program says once each time that it wrote
// the file again.
TEST_F(SettingsByReader, ASettingsFileDeletedOrEmptiedLosesNothingAtTheNextChange) {
    settings = {{"correctionModelMode", "local"},
                {"ComposerFontSize", "5"},
                {"DoubleTap.enabled", "false"}};
    ASSERT_NO_FATAL_FAILURE(settingsUp(u"Correction"));
    const QByteArray said = "was found missing or empty; the settings in force were written";
    const struct {
        const char* name;
        bool deleted;
    } cases[] = {{"deleted", true}, {"emptied", false}};
    std::size_t times = 0;
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        if (each.deleted) {
            ASSERT_TRUE(QFile::remove(settingsFile()));
        } else {
            QFile file(settingsFile());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }
        // Two changes: the first finds the file gone, the second finds it whole again.
        for (const std::string value : {"true", "false"}) {
            ASSERT_TRUE(reader->act("check box", "Custom local correction prompt"));
            EXPECT_TRUE(waitUntil(
                [&] { return stored("CustomCorrectionPrompt.local.isEnabled") == value; },
                kSettle));
            EXPECT_EQ(stored("ComposerFontSize"), "5");
            EXPECT_EQ(stored("DoubleTap.enabled"), "false");
            EXPECT_EQ(stored("correctionModelMode"), "local");
        }
        EXPECT_EQ(program.errorLines(said).size(), ++times) << program.errors().toStdString();
    }
    // The session log says it too, each time, though its window was not open then. (Its menu
    // is the running window's, brought before Settings to take the click.)
    ASSERT_TRUE(activateWindowTitled(QStringLiteral("Ravlin"), kSettle));
    ASSERT_TRUE(openLog(program));
    EXPECT_EQ(occurrences(shownLog(program), said.toStdString()), times) << shownLog(program);
}

}  // namespace
}  // namespace ravlin::testing
