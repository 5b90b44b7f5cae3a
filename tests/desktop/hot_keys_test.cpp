// Global hot keys on the session's X server, keys typed with XTest from a connection of the
// test's own (a second client, as another program would be).

#include <gtest/gtest.h>

#include <QProcess>
#include <memory>

#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "platform/linux/keys/keycodes.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::testing {
namespace {

namespace keycode = platform::keycode;
namespace modifier = platform::modifier;
using platform::KeyChord;

constexpr unsigned xSuper = 133;  // left Super: the Command position
constexpr unsigned xE = 26;
constexpr unsigned xNumLock = 77;
constexpr unsigned xCapsLock = 66;

int otherClientErrors = 0;
int countOtherClientError(Display*, XErrorEvent*) {
    ++otherClientErrors;
    return 0;
}

// Another X client: types keys and holds grabs of its own.
class OtherClient {
  public:
    OtherClient() : display_(XOpenDisplay(nullptr)) {}
    ~OtherClient() { XCloseDisplay(display_); }

    void tap(unsigned key) {
        press(key, true);
        press(key, false);
    }
    void press(unsigned key, bool down) {
        XTestFakeKeyEvent(display_, key, down ? True : False, CurrentTime);
        XSync(display_, False);
    }
    void chord(const std::vector<unsigned>& modifiers, unsigned key, int repeats = 0) {
        for (const auto m : modifiers) {
            press(m, true);
        }
        press(key, true);
        for (int i = 0; i < repeats; ++i) {
            press(key, true);
        }
        press(key, false);
        for (const auto m : modifiers) {
            press(m, false);
        }
    }
    // Whether every lock variant of Super+key could be grabbed here (none held elsewhere).
    bool canGrabAllVariants(unsigned key) {
        const unsigned super = Mod4Mask;
        otherClientErrors = 0;
        auto* previous = XSetErrorHandler(countOtherClientError);
        for (const unsigned locks :
             {0U, unsigned{LockMask}, unsigned{Mod2Mask}, unsigned{LockMask | Mod2Mask}}) {
            XGrabKey(display_, static_cast<int>(key), super | locks, DefaultRootWindow(display_),
                     False, GrabModeAsync, GrabModeAsync);
        }
        XSync(display_, False);
        XUngrabKey(display_, static_cast<int>(key), AnyModifier, DefaultRootWindow(display_));
        XSync(display_, False);
        XSetErrorHandler(previous);
        return otherClientErrors == 0;
    }
    void grab(unsigned key, unsigned modifiers) {
        XGrabKey(display_, static_cast<int>(key), modifiers, DefaultRootWindow(display_), False,
                 GrabModeAsync, GrabModeAsync);
        XSync(display_, False);
    }
    void ungrabAll(unsigned key) {
        XUngrabKey(display_, static_cast<int>(key), AnyModifier, DefaultRootWindow(display_));
        XSync(display_, False);
    }

  private:
    Display* display_;
};

bool setLayout(const char* layout) {
    return QProcess::execute("setxkbmap", {layout}) == 0;
}

TEST(DesktopHotKeys, ChordFiresOncePerPressWhateverTheLocksAndLayout) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    auto& desktop = Desktop::get();
    OtherClient other;
    int presses = 0;
    auto hotKey = desktop.seams.hotKeys->registerHotKey(KeyChord{keycode::e, modifier::command}, 1,
                                                        [&] { ++presses; });
    ASSERT_TRUE(hotKey.hasValue()) << hotKey.error().message;

    struct Case {
        const char* name;
        std::function<void()> before;
        std::function<void()> after;
        int repeats;
    };
    const Case cases[] = {
        {"plain", [] {}, [] {}, 0},
        {"held down, repeating", [] {}, [] {}, 3},
        {"Num Lock on", [&] { other.tap(xNumLock); }, [&] { other.tap(xNumLock); }, 0},
        {"Caps Lock on", [&] { other.tap(xCapsLock); }, [&] { other.tap(xCapsLock); }, 0},
        {"German layout", [] { ASSERT_TRUE(setLayout("de")); },
         [] { ASSERT_TRUE(setLayout("us")); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        presses = 0;
        other.chord({xSuper}, xE, c.repeats);
        EXPECT_TRUE(waitUntil([&] { return presses >= 1; }));
        EXPECT_TRUE(desktop.seams.keyTaps->catchUp());  // every key the server sent is in
        EXPECT_EQ(presses, 1);
        c.after();
    }
    // E alone is no chord.
    presses = 0;
    other.tap(xE);
    EXPECT_TRUE(desktop.seams.keyTaps->catchUp());
    EXPECT_EQ(presses, 0);
}

// A chord held as a person holds it: another program's focused field keeps its focus all the
// while (the keyboard is let go once the press is taken), the hot key says it is held until the
// key is up, and the held key's repeat neither fires again nor types into the field.
TEST(DesktopHotKeys, AHeldChordLeavesTheFocusWhereItWasUntilReleased) {
    auto& desktop = Desktop::get();
    auto& hotKeys = *desktop.seams.hotKeys;
    const auto field = desktop.focus(*desktop.gtk, "line");
    ASSERT_TRUE(field);
    const auto before = desktop.value(field);
    OtherClient other;
    int presses = 0;
    auto hotKey = hotKeys.registerHotKey(KeyChord{keycode::e, modifier::command}, 8,
                                         [&] { ++presses; });
    ASSERT_TRUE(hotKey.hasValue()) << hotKey.error().message;
    other.press(xSuper, true);
    other.press(xE, true);
    ASSERT_TRUE(waitUntil([&] { return presses == 1; }));
    bool kept = true;
    waitUntil(
        [&] {
            kept = kept && desktop.focusedOf(desktop.gtk->pid()) == field;
            return false;
        },
        150ms);
    EXPECT_TRUE(kept) << "the field lost its focus while the chord was held";
    EXPECT_TRUE(hotKeys.isHeld());
    other.press(xE, true);  // the key repeating
    EXPECT_TRUE(desktop.seams.keyTaps->catchUp());
    EXPECT_EQ(presses, 1);
    other.press(xE, false);
    other.press(xSuper, false);
    EXPECT_TRUE(waitUntil([&] { return !hotKeys.isHeld(); }));
    EXPECT_EQ(desktop.value(field), before);
}

// Our own keys sent at the moment a person presses the shortcut (Super already let go, E still
// down, the press not yet read here: the grab it started is still ours) reach the field, not
// this program.
TEST(DesktopHotKeys, KeysSentWhileTheShortcutsGrabIsUnreadReachTheField) {
    auto& desktop = Desktop::get();
    const auto field = desktop.focus(*desktop.gtk, "line");
    ASSERT_TRUE(field);
    // The line as the other scenarios find it, however this one ends.
    const std::shared_ptr<void> restore(nullptr, [&](void*) {
        desktop.gtk->command(QStringLiteral("text line h\u00e9llo \U0001F600 w\u00f6rld teh"));
    });
    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line")));
    ASSERT_TRUE(waitUntil([&] { return desktop.value(field).empty(); }));
    OtherClient other;
    auto hotKey = desktop.seams.hotKeys->registerHotKey(KeyChord{keycode::e, modifier::command}, 9,
                                                        [] {});
    ASSERT_TRUE(hotKey.hasValue()) << hotKey.error().message;
    other.press(xSuper, true);
    other.press(xE, true);
    other.press(xSuper, false);
    // No turn of the event loop since: the press that took the keyboard is unread.
    EXPECT_TRUE(desktop.seams.keySynthesis->postKeyPress({7, 0}).ok());  // X
    other.press(xE, false);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == u"x"; }))
        << text::toUtf8(desktop.value(field));
}

TEST(DesktopHotKeys, ChordHeldElsewhereFailsAndLeavesNoVariantGrabbed) {
    auto& desktop = Desktop::get();
    OtherClient holder;
    OtherClient checker;
    // The holder takes only the Num Lock variant: ours grab several before meeting it.
    holder.grab(xE, Mod4Mask | Mod2Mask);
    auto hotKey =
        desktop.seams.hotKeys->registerHotKey(KeyChord{keycode::e, modifier::command}, 2, [] {});
    EXPECT_FALSE(hotKey.hasValue());
    holder.ungrabAll(xE);
    EXPECT_TRUE(checker.canGrabAllVariants(xE));
}

TEST(DesktopHotKeys, UnregisteringTwiceIsHarmlessAndFreesTheChord) {
    auto& desktop = Desktop::get();
    OtherClient checker;
    auto hotKey = desktop.seams.hotKeys->registerHotKey(
        KeyChord{keycode::e, modifier::command | modifier::shift}, 3, [] {});
    ASSERT_TRUE(hotKey.hasValue());
    auto subscription = std::move(hotKey).value();
    subscription.reset();
    subscription.reset();
    EXPECT_TRUE(checker.canGrabAllVariants(xE));
}

TEST(DesktopHotKeys, FnChordsAreRefused) {
    auto& hotKeys = *Desktop::get().seams.hotKeys;
    EXPECT_FALSE(hotKeys.registerHotKey(KeyChord{keycode::function, 0}, 4, [] {}).hasValue());
    EXPECT_FALSE(
        hotKeys.registerHotKey(KeyChord{keycode::e, modifier::function}, 5, [] {}).hasValue());
}

int ownErrors = 0;
int countOwnError(Display*, XErrorEvent*) {
    ++ownErrors;
    return 0;
}

TEST(DesktopHotKeys, OtherCodesErrorsStillReachTheirHandler) {
    auto& desktop = Desktop::get();
    OtherClient holder;
    Display* display = XOpenDisplay(nullptr);
    auto* previous = XSetErrorHandler(countOwnError);
    holder.grab(xE, Mod4Mask);
    // One registration refused, one taken: both put the handler back.
    EXPECT_FALSE(desktop.seams.hotKeys->registerHotKey({keycode::e, modifier::command}, 6, [] {})
                     .hasValue());
    auto taken = desktop.seams.hotKeys->registerHotKey({keycode::a, modifier::command}, 7, [] {});
    EXPECT_TRUE(taken.hasValue());
    holder.ungrabAll(xE);
    ownErrors = 0;
    XDestroyWindow(display, 0x1);  // not a window of ours: BadWindow
    XSync(display, False);
    EXPECT_EQ(ownErrors, 1);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
}

}  // namespace
}  // namespace ravlin::testing
