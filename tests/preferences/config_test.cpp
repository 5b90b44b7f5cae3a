#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/preferences/border_animation.h"
#include "app/preferences/build_config.h"
#include "app/preferences/custom_prompt_window.h"
#include "app/preferences/hot_key.h"
#include "app/preferences/launch_at_login_store.h"
#include "app/support/desktop_wording.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

// Fontconfig keeps its caches to the end of the process, which the leak checker reports once Qt
// has laid out text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace ravlin {
namespace {

using platform::LoginItemStatus;
using platform::fake::FakeDesktop;

QApplication& application() {
    static int argc = 1;
    static char name[] = "tests_preferences";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt cannot take its application apart during exit handlers.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

class WithDesktop : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    FakeDesktop desktop{executor};
    platform::KeyboardLayout& layout() { return *layout_; }

    void SetUp() override { desktop.setKeyboardLayout({{14, u"e"}, {12, u"ß"}, {0, u"a"}}); }

  private:
    std::shared_ptr<platform::KeyboardLayout> layout_ = desktop.seams().keyboardLayout;
};

TEST_F(WithDesktop, KeyNamesComeFromTheTableThenTheLayoutThenTheCode) {
    const struct {
        std::uint32_t keyCode;
        const char* displayName;
        const char* name;
    } cases[] = {
        {49, "Space", "Space"},
        {60, "R⇧", "R⇧"},
        {122, "F1", "F1"},
        {90, "F20", "F20"},
        {14, "E", "e"},
        {12, "SS", "ß"},
        {200, "Key 200", "Key 200"},
        {0x10000, "Key 65536", "Key 65536"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QNConfigHotKey::keyDisplayName(c.keyCode, layout()), c.displayName) << c.keyCode;
        EXPECT_EQ(QNConfigHotKey::keyName(c.keyCode, layout()), c.name) << c.keyCode;
    }
}

TEST_F(WithDesktop, ShortcutsShowTheirModifiersInAFixedOrder) {
    EXPECT_EQ((QNConfigHotKey{14, 0x100}).displayString(layout()), "⌘E");
    EXPECT_EQ(
        (QNConfigHotKey{0, 0x800000 | 0x100 | 0x200 | 0x800 | 0x1000}).displayString(layout()),
        "⌃⌥⇧⌘fnA");
    EXPECT_EQ((QNConfigHotKey{63, 0x800000}).displayString(layout()), "fn");
    EXPECT_EQ((QNConfigHotKey{QNConfigHotKey::noKeyCode, 0}).displayString(layout()),
              "No shortcut");
    // Command, shift, option, control and Fn kept; caps lock (0x10000) dropped.
    EXPECT_EQ(QNConfigHotKey::carbonModifiers(0x100000 | 0x20000 | 0x80000 | 0x40000 | 0x800000 |
                                              0x10000),
              0x100U | 0x200U | 0x800U | 0x1000U | 0x800000U);
    EXPECT_EQ(QNConfigHotKey::modifierSymbols(0x10000), "");
}

TEST_F(WithDesktop, DoubleTapLabelsJoinOneCharacterNamesWithoutASpace) {
    EXPECT_EQ(QNConfigDoubleTap::keyLabel(14, layout()), "ee");
    EXPECT_EQ(QNConfigDoubleTap::keyLabel(60, layout()), "R⇧ R⇧");
    EXPECT_EQ(QNConfigDoubleTap::keyLabel(49, layout()), "Space Space");
    EXPECT_EQ(QNConfigDoubleTap::keyLabel(200, layout()), "Key 200 Key 200");
    EXPECT_EQ(hotKeyKeyLabel(4294967295U), "Key 4294967295");
}

TEST_F(WithDesktop, ShortcutsReadWithTheDesktopsKeyNames) {
    const struct {
        QNConfigHotKey config;
        const char* text;
    } shortcuts[] = {
        {{14, 0x100}, "Super+E"},
        {{40, 0x1000 | 0x800}, "Ctrl+Alt+Key 40"},  // the layout types nothing there
        {{96, 0x200}, "Shift+F5"},
        {{0, 0x800000 | 0x100 | 0x200 | 0x800 | 0x1000}, "Ctrl+Alt+Super+Shift+Fn+A"},
        {{12, 0x1000}, "Ctrl+SS"},
        {{105, 0}, "Print"},
        {{116, 0x100}, "Super+Page Up"},
        {{63, 0x800000}, "Fn"},
        {{QNConfigHotKey::noKeyCode, 0}, "No shortcut"},
    };
    for (const auto& c : shortcuts) {
        EXPECT_EQ(shortcutText(c.config, layout()), c.text) << c.text;
        // Stored values and log lines keep their symbols.
        EXPECT_EQ(c.config.displayString(layout()).find('+'), std::string::npos) << c.text;
    }
    const struct {
        std::uint32_t keyCode;
        const char* text;
    } doubleTaps[] = {
        {14, "E, E"},
        {60, "Right Shift, Right Shift"},
        {59, "Left Ctrl, Left Ctrl"},
        {54, "Right Super, Right Super"},
        {61, "Right Alt, Right Alt"},
        {49, "Space, Space"},
        {200, "Key 200, Key 200"},
    };
    for (const auto& c : doubleTaps) {
        EXPECT_EQ(doubleTapText(c.keyCode, layout()), c.text) << c.text;
    }
    EXPECT_EQ(modifierText(0x10000), "");  // caps lock is no shortcut modifier
    EXPECT_EQ(shortcutRecorderHint(),
              "Hold Ctrl, Alt, Super or Shift with another key, or use a function key.");
}

TEST(BuildConfig, ReadsTrimmedValuesAndRefusesUnexpandedOnes) {
    const QNConfigBuild build({{"CFBundleShortVersionString", " 1.2.3 "},
                               {"Blank", "  "},
                               {"Unexpanded", "$(MARKETING_VERSION)"}});
    EXPECT_EQ(build.infoPlistString("CFBundleShortVersionString"), "1.2.3");
    EXPECT_EQ(build.infoPlistString("Blank"), std::nullopt);
    EXPECT_EQ(build.infoPlistString("Unexpanded"), std::nullopt);
    EXPECT_EQ(build.infoPlistString("Missing"), std::nullopt);
    EXPECT_EQ(versionText("1.2.3", "45"), "Version 1.2.3 (45)");

    const auto& standard = QNConfigBuild::standard();
    EXPECT_EQ(standard.infoPlistString("CFBundleName"), "Ravlin");
    EXPECT_TRUE(standard.infoPlistString("CFBundleShortVersionString"));
}

TEST(BuildConfig, FunctionsBaseURLMustBeAbsoluteHttpWithAHost) {
    const struct {
        const char* value;
        bool accepted;
    } cases[] = {
        {"https://x.supabase.co/functions/v1", true},
        {" http://127.0.0.1:54321 ", true},
        {"HTTPS://Example.test", true},
        {"ftp://example.test", false},
        {"/functions/v1", false},
        {"https://", false},
        {"example.test/functions", false},
        {"https://$(HOST)/x", false},
    };
    for (const auto& c : cases) {
        const QNConfigBuild build({{"RavlinSupabaseFunctionsBaseURL", c.value}});
        EXPECT_EQ(build.supabaseFunctionsBaseURL().has_value(), c.accepted) << c.value;
    }
}

TEST(BorderAnimation, LightAppearanceKeepsTimingAndChangesTheBeam) {
    application();
    const auto& standard = QNConfigComposerBorderAnimation::standard();
    const QColor placeholder = QGuiApplication::palette().color(QPalette::PlaceholderText);
    EXPECT_DOUBLE_EQ(standard.beamColor.alpha, placeholder.alphaF());
    EXPECT_EQ(standard.adapted(true), standard);
    const auto light = standard.adapted(false);
    EXPECT_EQ(light.duration, 1.35);
    EXPECT_EQ(light.cornerRadius, 18);
    EXPECT_EQ(light.maxOpacity, 0.2);
    EXPECT_EQ(light.maximumBeamLength, 56);
    EXPECT_EQ(light.beamColor, (QNColorRGBA{0.14, 0.28, 0.46, 1}));
}

TEST_F(WithDesktop, LaunchAtLoginReportsWhyAChangeFailed) {
    QNStoreLaunchAtLogin store(desktop.seams().loginItem);
    store.setEnabled(true);
    EXPECT_EQ(store.status().get(), LoginItemStatus::enabled);
    EXPECT_EQ(store.errorMessage().get(), std::nullopt);
    EXPECT_EQ(store.statusDescription(),
              "Ravlin is registered to open automatically when you log in.");

    desktop.setLoginItemFailure(platform::ErrorCode::failed);
    store.setEnabled(false);
    EXPECT_EQ(store.status().get(), LoginItemStatus::enabled);
    ASSERT_TRUE(store.errorMessage().get());
    EXPECT_EQ(store.errorMessage().get()->rfind("Could not update Launch at Login. ", 0), 0U);

    desktop.setLoginItemStatus(LoginItemStatus::notFound);
    store.refreshStatus();
    store.setEnabled(true);
    EXPECT_EQ(store.errorMessage().get(),
              "Launch at Login can only be changed from the Ravlin app.");
    EXPECT_EQ(store.statusDescription(), "Your desktop could not find Ravlin as a login item.");
}

TEST(DesktopWording, NamesThisDesktopsFacilities) {
    EXPECT_EQ(forThisDesktop("Key saved to Keychain."), "Key saved to the keyring.");
    EXPECT_EQ(forThisDesktop("Open Login Items Settings…"), "Open autostart Settings…");
    EXPECT_EQ(forThisDesktop("Press ⌘V to paste"), "Press Ctrl+V to paste");
    EXPECT_EQ(forThisDesktop("Launch at Login"), "Launch at Login");
    EXPECT_EQ(forThisDesktop("By default, the local Apple Intelligence model is used."),
              "By default, the on-device model is used.");
    EXPECT_EQ(forThisDesktop("stored in the macOS Keychain on this Mac only"),
              "stored in the keyring on this computer only");
}

TEST(CustomPromptWindow, EveryChangeIsStoredCutTo8000CharactersThenReported) {
    application();
    const auto defaults = std::make_shared<MemoryDefaults>();
    const auto store = std::make_shared<QNStoreCustomCorrectionPrompt>(defaults);
    store->setPrompt("Be brief.", QNStoreCustomCorrectionPrompt::Slot::online);
    int changes = 0;
    auto& controller = QNControllerCustomPromptWindow::shared();
    controller.show(QNStoreCustomCorrectionPrompt::Slot::online, store, [&] { ++changes; });
    auto* window = controller.window(QNStoreCustomCorrectionPrompt::Slot::online);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(600, 480));
    EXPECT_EQ(window->editor()->toPlainText(), "Be brief.");
    EXPECT_EQ(changes, 0);

    window->editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(window->editor(), " Ok");
    EXPECT_EQ(store->onlinePrompt().get(), "Be brief. Ok");
    EXPECT_EQ(changes, 3);

    EXPECT_EQ(window->limitNote(), "12 of 8,000 characters");

    // 9,000 characters pasted: the editor shows what is stored, its first 8,000, and says so.
    QString pasted;
    for (int word = 0; pasted.size() < 9000; ++word) {
        pasted += QStringLiteral("word%1 ").arg(word);
    }
    pasted.truncate(9000);
    window->editor()->selectAll();
    window->editor()->insertPlainText(pasted);
    const std::string stored = store->onlinePrompt().get();
    EXPECT_EQ(stored, pasted.left(8000).toStdString());
    EXPECT_EQ(window->editor()->toPlainText().toStdString(), stored);
    EXPECT_EQ(defaults->stringValue("CustomCorrectionPrompt.online.prompt")->size(), 8000U);
    EXPECT_EQ(window->limitNote(), "A prompt holds at most 8,000 characters: the text was cut "
                                   "there, and what is shown is what is kept.");
    // Typing on at the end changes nothing past the limit; deleting counts again.
    QTest::keyClicks(window->editor(), "z");
    EXPECT_EQ(window->editor()->toPlainText().toStdString(), stored);
    QTest::keyClick(window->editor(), Qt::Key_Backspace);
    EXPECT_EQ(store->onlinePrompt().get(), stored.substr(0, 7999));
    EXPECT_EQ(window->limitNote(), "7,999 of 8,000 characters");
    EXPECT_EQ(controller.window(QNStoreCustomCorrectionPrompt::Slot::local), nullptr);

    // Escape closes it; opened again it shows the stored text.
    QTest::keyClick(window->editor(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    controller.show(QNStoreCustomCorrectionPrompt::Slot::online, store, [&] { ++changes; });
    EXPECT_EQ(window->editor()->toPlainText().toStdString(), stored.substr(0, 7999));
    window->doneButton()->click();
    EXPECT_FALSE(window->isVisible());
}

// The editor opens beside the settings window, on the side with more room; always on the
// screen, covering the settings window only as far as the screen makes it.
TEST(CustomPromptWindow, ItStandsBesideTheWindowItWasOpenedFrom) {
    const QRect screen(0, 0, 1280, 1024);
    const QSize size(600, 480);
    const struct {
        const char* name;
        QRect anchor;
        QRect placed;
    } rows[] = {
        {"room on the right", QRect(40, 100, 500, 400), QRect(552, 100, 600, 480)},
        {"room on the left only", QRect(700, 100, 500, 400), QRect(88, 100, 600, 480)},
        {"centred, no room either side", QRect(390, 100, 500, 700), QRect(680, 100, 600, 480)},
        {"low on the screen", QRect(40, 900, 500, 100), QRect(552, 544, 600, 480)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QRect placed = placedBeside(row.anchor, size, screen);
        EXPECT_EQ(placed, row.placed);
        EXPECT_TRUE(screen.contains(placed));
    }
}

}  // namespace
}  // namespace ravlin
