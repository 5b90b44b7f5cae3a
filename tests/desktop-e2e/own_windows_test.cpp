// The program's own windows as a new user meets them: the running window, its menu, the
// settings, the prompt editor and the session log, with cloud correction switched on and
// nothing set up behind it.

#include <gtest/gtest.h>

#include <optional>

#include "e2e_harness.h"
#include "scenarios.h"

// Xlib last: its macros clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "tests/support/x_properties.h"

namespace ravlin::testing {
namespace {

// The client area of the managed window whose title starts with `title`, on the screen.
std::optional<ScreenWindow> windowTitled(const QString& title) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return std::nullopt;
    }
    std::optional<ScreenWindow> found;
    const Window root = DefaultRootWindow(display);
    for (const auto window : cardinalsOf(display, root,
                                         XInternAtom(display, "_NET_CLIENT_LIST", False),
                                         XA_WINDOW)) {
        if (!QString::fromStdString(titleOf(display, window)).startsWith(title)) {
            continue;
        }
        XWindowAttributes attributes;
        int x = 0;
        int y = 0;
        Window child = 0;
        if (XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable &&
            XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) {
            found = ScreenWindow{x, y, attributes.width, attributes.height};
            break;
        }
    }
    XCloseDisplay(display);
    return found;
}

bool sameWindow(const std::optional<ScreenWindow>& a, const std::optional<ScreenWindow>& b) {
    return a && b && a->x == b->x && a->y == b->y && a->width == b->width &&
           a->height == b->height;
}

// The program with cloud correction on and no route to any cloud service.
class OwnWindows : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        program.writeSettings(settings);
        ASSERT_TRUE(program.start()) << program.errors().toStdString();
        ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"))
            << program.errors().toStdString();
        // The running window takes the front once mapped.
        findInProgram(program.pid(), "push button", u"Quit", 5s);
        pause(500ms);
    }
    void TearDown() override {
        EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
        expectNoSanitizerReport(program);
    }

    // The settings from the running window's menu by their shortcut, on the pane `pane`.
    bool openSettings(std::u16string_view pane) {
        if (!openMenu(program) || !keyboard.chord("Control_L+comma") ||
            !findInProgram(program.pid(), "filler", u"Settings", kSettle)) {
            return false;
        }
        for (const char* role : {"toggle button", "push button", "check box", "radio button"}) {
            if (const auto item = findInProgram(program.pid(), role, pane, 200ms)) {
                return clickElement(item);
            }
        }
        return false;
    }

    std::map<std::string, std::string> settings{{"correctionModelMode", "online"}};
    RavlinProgram program;
};

// Editing a custom prompt changes none of the Correction pane's rows: the settings window keeps
// its size and place.
TEST_F(OwnWindows, APromptEditLeavesTheSettingsWindowAsItWas) {
    ASSERT_TRUE(openSettings(u"Correction"));
    pause(600ms);  // the pane's change of size settles
    // Both prompts switched on: the pane's signature follows their texts.
    for (const auto* toggle : {u"Custom local correction prompt", u"Custom online correction prompt"}) {
        ASSERT_TRUE(clickElement(findInProgram(program.pid(), "check box", toggle, kSettle)));
    }
    pause(600ms);
    const auto before = windowTitled(QStringLiteral("Settings"));
    ASSERT_TRUE(before);
    ASSERT_TRUE(clickElement(findInProgram(program.pid(), "push button", u"Edit…", kSettle)));
    const bool editorActive = waitUntil(
        [] { return activeWindowTitle().startsWith("Custom "); }, kSettle);
    screenshot(QStringLiteral("prompt-editor-opened"));
    ASSERT_TRUE(editorActive) << activeWindowTitle().toStdString();
    ASSERT_TRUE(keyboard.type(u"Be brief."));
    pause(600ms);
    screenshot(QStringLiteral("prompt-editor-beside-settings"));
    const auto after = windowTitled(QStringLiteral("Settings"));
    EXPECT_TRUE(sameWindow(before, after))
        << before->y << "+" << before->height << " -> " << (after ? after->y : -1) << "+"
        << (after ? after->height : -1);
    // The editor stands beside the settings (the screen is too narrow for both side by side:
    // it covers no more of them than it must), its top level with theirs.
    const auto editor = windowTitled(QStringLiteral("Custom "));
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->y, before->y);
    EXPECT_GT(editor->x, before->x + before->width / 2)
        << editor->x << " settings " << before->x << "+" << before->width;
    ASSERT_TRUE(keyboard.tap("Escape"));
    EXPECT_TRUE(waitUntil([] { return !windowTitled(QStringLiteral("Custom ")); }, kSettle));
}

}  // namespace
}  // namespace ravlin::testing
