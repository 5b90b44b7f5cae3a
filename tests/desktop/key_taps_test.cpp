// Key taps and the keyboard layout on the session's X server, keys typed with XTest from a
// connection of the test's own.

#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>

#include "desktop_fixture.h"
#include "platform/key_taps.h"
#include "platform/linux/taps/x11_key_taps.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::testing {
namespace {

using platform::InputEvent;
using platform::InputEventType;
using platform::TapVerdict;
namespace keycode = platform::keycode;
namespace eventflag = platform::eventflag;

// X keycodes of the session's evdev keymap.
constexpr unsigned xShiftL = 50, xShiftR = 62, xSuperL = 133, xCapsLock = 66, xE = 26, xA = 38,
                   xEscape = 9;

class Typist {
  public:
    Typist() : display_(XOpenDisplay(nullptr)) {}
    ~Typist() { XCloseDisplay(display_); }
    // A few milliseconds apart, so the server's times differ.
    void key(unsigned key, bool down) {
        XTestFakeKeyEvent(display_, key, down ? True : False, CurrentTime);
        XSync(display_, False);
        QThread::msleep(3);
    }
    void tap(unsigned key) {
        this->key(key, true);
        this->key(key, false);
    }
    void button(unsigned button) {
        XTestFakeButtonEvent(display_, button, True, CurrentTime);
        XTestFakeButtonEvent(display_, button, False, CurrentTime);
        XSync(display_, False);
    }

  private:
    Display* display_;
};

struct Recorder {
    std::vector<InputEvent> events;
    platform::KeyTap tap;

    explicit Recorder(std::uint64_t mask = eventMaskBit(InputEventType::keyDown) |
                                           eventMaskBit(InputEventType::keyUp) |
                                           eventMaskBit(InputEventType::flagsChanged)) {
        auto started = Desktop::get().seams.keyTaps->startTap(mask, [this](const InputEvent& e) {
            events.push_back(e);
            return TapVerdict::pass;
        });
        EXPECT_TRUE(started.hasValue());
        if (started.hasValue()) {
            tap = std::move(started).value();
        }
    }
    bool await(std::size_t count) {
        return waitUntil([&] { return events.size() >= count; });
    }
};

struct Expected {
    InputEventType type;
    std::uint32_t keyCode;
    std::uint64_t flags;
};

TEST(DesktopKeyTaps, KeysGiveTheirCodesFlagsRisingTimesAndSynthetic) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    const std::vector<std::pair<unsigned, bool>> typed = {
        {xShiftL, true},  {xE, true},      {xE, false},      {xShiftL, false}, {xShiftR, true},
        {xShiftR, false}, {xSuperL, true}, {xSuperL, false}, {xE, true},       {xE, false},
    };
    const std::vector<Expected> expected = {
        {InputEventType::flagsChanged, keycode::shift, eventflag::shift},
        {InputEventType::keyDown, keycode::e, eventflag::shift},
        {InputEventType::keyUp, keycode::e, eventflag::shift},
        {InputEventType::flagsChanged, keycode::shift, 0},
        {InputEventType::flagsChanged, keycode::rightShift, eventflag::shift},
        {InputEventType::flagsChanged, keycode::rightShift, 0},
        {InputEventType::flagsChanged, keycode::command, eventflag::command},
        {InputEventType::flagsChanged, keycode::command, 0},
        {InputEventType::keyDown, keycode::e, 0},
        {InputEventType::keyUp, keycode::e, 0},
    };
    Recorder recorder;
    Typist typist;
    for (const auto& [key, down] : typed) {
        typist.key(key, down);
    }
    ASSERT_TRUE(recorder.await(expected.size()));
    ASSERT_EQ(recorder.events.size(), expected.size());
    double previous = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& event = recorder.events[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(event.type, expected[i].type);
        EXPECT_EQ(event.keyCode, expected[i].keyCode);
        EXPECT_EQ(event.flags, expected[i].flags);
        EXPECT_TRUE(event.isSynthetic);
        EXPECT_GT(event.timestamp, previous);
        previous = event.timestamp;
    }
    EXPECT_EQ(recorder.events[1].typed(), u"E");
    EXPECT_EQ(recorder.events[8].typed(), u"e");
}

// Another program's XTest keys (a test's, xdotool's) come through the same device as ours: ours
// are known by the sequence we sent, whatever comes between, and only while a tap watches (a
// key of ours sent unwatched is never waited for).
TEST(DesktopKeyTaps, TheProgramsOwnKeysAreToldFromAnotherProgramsSyntheticKeys) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    auto& keys = *Desktop::get().seams.keySynthesis;
    ASSERT_TRUE(keys.postKeyPress({keycode::e, 0}).ok());  // unwatched
    ASSERT_TRUE(waitUntil([&] { return focus.field().text() == QStringLiteral("e"); }));
    Recorder recorder;
    Typist typist;
    typist.tap(xE);
    ASSERT_TRUE(keys.postKeyPress({keycode::deleteKey, 0}).ok());
    typist.key(xE, true);
    ASSERT_TRUE(keys.postText(u"\u200B").ok());
    typist.key(xE, false);
    ASSERT_TRUE(keys.postKeyPress({keycode::e, platform::modifier::shift}).ok());
    ASSERT_TRUE(recorder.await(12));
    std::vector<std::pair<std::uint32_t, bool>> seen;  // key code, whether ours, of key downs
    for (const auto& event : recorder.events) {
        EXPECT_TRUE(event.isSynthetic);
        if (event.type != InputEventType::keyUp) {
            seen.emplace_back(event.keyCode, event.isOwn);
        }
    }
    const std::vector<std::pair<std::uint32_t, bool>> expected = {
        {keycode::e, false},     {keycode::deleteKey, true}, {keycode::e, false},
        {recorder.events[5].keyCode, true},  // the character's borrowed key
        {keycode::shift, true},  {keycode::e, true},         {keycode::shift, true},
    };
    EXPECT_EQ(seen, expected);
}

TEST(DesktopKeyTaps, ReleasingOneShiftWhileTheOtherIsHeldKeepsShift) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    Recorder recorder;
    Typist typist;
    typist.key(xShiftL, true);
    typist.key(xShiftR, true);
    typist.key(xShiftR, false);
    typist.key(xShiftL, false);
    ASSERT_TRUE(recorder.await(4));
    EXPECT_EQ(recorder.events[2].keyCode, keycode::rightShift);
    EXPECT_EQ(recorder.events[2].flags, eventflag::shift);
    EXPECT_EQ(recorder.events[3].flags, 0U);
}

TEST(DesktopKeyTaps, CapsLockSetsAlphaShiftUntilUnlocked) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    Recorder recorder;
    Typist typist;
    typist.tap(xCapsLock);
    typist.tap(xE);
    typist.tap(xCapsLock);
    typist.tap(xE);
    ASSERT_TRUE(recorder.await(8));
    EXPECT_EQ(recorder.events[0].type, InputEventType::flagsChanged);
    EXPECT_EQ(recorder.events[0].keyCode, keycode::capsLock);
    EXPECT_EQ(recorder.events[0].flags, eventflag::capsLock);
    EXPECT_EQ(recorder.events[2].flags, eventflag::capsLock);
    EXPECT_EQ(recorder.events[2].typed(), u"E");
    // Caps Lock goes off on its release.
    EXPECT_EQ(recorder.events[5].flags, 0U);
    EXPECT_EQ(recorder.events[6].flags, 0U);
    EXPECT_EQ(recorder.events[6].typed(), u"e");
}

TEST(DesktopKeyTaps, TheWheelIsNoClick) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    Recorder recorder(~std::uint64_t{0});
    Typist typist;
    for (const unsigned button : {4U, 5U, 6U, 7U, 8U}) {
        typist.button(button);
    }
    ASSERT_TRUE(recorder.await(1));
    EXPECT_TRUE(Desktop::get().seams.keyTaps->catchUp());  // every click the server sent is in
    ASSERT_EQ(recorder.events.size(), 1U);
    EXPECT_EQ(recorder.events[0].type, InputEventType::otherMouseDown);
}

TEST(DesktopKeyTaps, TheTapReportsWhatX11CannotDo) {
    auto& taps = *Desktop::get().seams.keyTaps;
    EXPECT_FALSE(taps.canSwallow());
    EXPECT_FALSE(taps.seesFn());
}

TEST(DesktopKeyCapture, WhileHeldKeysReachNeitherTheTargetNorTheTapsAndAfterStopTheyDo) {
    auto& desktop = Desktop::get();
    const auto area = desktop.focus(*desktop.gtk, QStringLiteral("area"));
    ASSERT_TRUE(area);
    const auto before = desktop.value(area);
    Recorder passive;
    std::vector<InputEvent> captured;
    auto capture = desktop.seams.keyTaps->startCapture([&](const InputEvent& e) {
        captured.push_back(e);
        return TapVerdict::pass;
    });
    ASSERT_TRUE(capture.hasValue()) << capture.error().message;
    Typist typist;
    typist.key(xShiftL, true);
    typist.tap(xE);
    typist.key(xShiftL, false);
    ASSERT_TRUE(waitUntil([&] { return captured.size() >= 4; }));
    // Every key the server sent is in. One that got through to the field would stand before the
    // E typed once the capture is over: the field is seen to gain that E alone.
    EXPECT_TRUE(desktop.seams.keyTaps->catchUp());
    ASSERT_EQ(captured.size(), 4U);
    EXPECT_EQ(captured[1].type, InputEventType::keyDown);
    EXPECT_EQ(captured[1].keyCode, keycode::e);
    EXPECT_EQ(captured[1].flags, eventflag::shift);
    EXPECT_EQ(captured[1].typed(), u"E");
    EXPECT_TRUE(passive.events.empty());
    EXPECT_EQ(desktop.value(area), before);

    capture.value().stop();
    capture.value().stop();
    typist.tap(xE);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before + u"e"; }));
    EXPECT_TRUE(passive.await(2));
    EXPECT_EQ(captured.size(), 4U);
    constexpr unsigned xBackSpace = 22;
    typist.tap(xBackSpace);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before; }));
}

// A key another program typed a moment ago reaches the taps at a catch-up, without a turn of the
// event loop; a key's release is seen as such.
TEST(DesktopKeyTaps, ACatchUpHandsOverWhatTheServerSentByNow) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    Recorder recorder;
    Typist typist;
    typist.tap(xE);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(Desktop::get().seams.keyTaps->catchUp());
    ASSERT_EQ(recorder.events.size(), 2U);
    EXPECT_EQ(recorder.events[0].type, InputEventType::keyDown);
    EXPECT_EQ(recorder.events[1].type, InputEventType::keyUp);
}

// The run of keys the taps keep, which tells a GTK 4 entry showing what the person typed from a
// hidden one: "aaa" is kept while it goes into an entry that takes each key, and nothing of it
// while it goes into a password field.
TEST(DesktopKeyTaps, TheTypedRunKeepsNothingOfKeysTypedIntoAPasswordField) {
    auto& desktop = Desktop::get();
    auto& app = *desktop.gtk4;
    auto& taps = static_cast<platform::X11KeyTaps&>(*desktop.seams.keyTaps);
    Recorder recorder(eventMaskBit(InputEventType::keyDown));  // (the run is kept while taps run)
    Typist typist;
    // (held, and typed, at a person's pace)
    const auto press = [&](unsigned key) {
        typist.key(key, true);
        waitUntil([] { return false; }, 60ms);
        typist.key(key, false);
        waitUntil([] { return false; }, 120ms);
    };
    struct Case {
        QString field;
        QString first;
        std::size_t kept;
    };
    // (each field holding again what it held)
    for (const auto& c : {Case{QStringLiteral("line"),
                               QString::fromStdU16String(u"h\u00e9llo \U0001F600 w\u00f6rld teh"), 3},
                          Case{QStringLiteral("password"), QStringLiteral("secret"), 0}}) {
        SCOPED_TRACE(c.field.toStdString());
        ASSERT_TRUE(app.command(QStringLiteral("text %1 %2").arg(c.field, c.first)));
        ASSERT_TRUE(desktop.focus(app, c.field));
        ASSERT_TRUE(app.command(QStringLiteral("text ") + c.field));
        press(xEscape);  // (a key that types nothing: the run starts here)
        app.forget();
        for (int typed = 1; typed <= 3; ++typed) {
            press(xA);
            ASSERT_TRUE(waitUntil([&] {
                return app.printed(c.field + QStringLiteral(": ") + QString(typed, QLatin1Char('a')));
            }));
        }
        ASSERT_TRUE(taps.catchUp());
        EXPECT_EQ(taps.typedRun().times, c.kept);
        EXPECT_EQ(taps.typedRun().character, c.kept > 0 ? u"a" : u"");
        ASSERT_TRUE(app.command(QStringLiteral("text %1 %2").arg(c.field, c.first)));
    }
}

// The GTK target's text area focused: keys that get through land there.
class DesktopKeyHold : public ::testing::Test {
  protected:
    void SetUp() override {
        area = desktop.focus(*desktop.gtk, QStringLiteral("area"));
        ASSERT_TRUE(area);
        before = desktop.value(area);
    }

    Desktop& desktop = Desktop::get();
    platform::KeyTaps& taps = *desktop.seams.keyTaps;
    platform::ElementRef area;
    std::u16string before;
};

// Held keys reach neither the field nor the taps nor a hot key of ours; released, they come back
// in order with what they type (Shift held over the release too). A hold dropped unreleased
// posts the keys that were let go meanwhile to the field.
TEST_F(DesktopKeyHold, HeldKeysAreGivenBackInOrderOrPostedWhenDropped) {
    Recorder passive;
    int shortcuts = 0;
    auto hotKey = desktop.seams.hotKeys->registerHotKey({keycode::e, platform::modifier::command},
                                                        10, [&] { ++shortcuts; });
    ASSERT_TRUE(hotKey.hasValue());
    Typist typist;
    {
        auto hold = taps.holdKeys();
        ASSERT_TRUE(hold);
        EXPECT_FALSE(taps.holdKeys()) << "one hold at a time";
        typist.key(xShiftL, true);
        typist.tap(xE);
        typist.key(xShiftL, false);
        typist.key(xSuperL, true);
        typist.tap(xE);
        typist.key(xSuperL, false);
        // Every key the server sent is held by now. One that got through to the field would
        // stand before the E the next hold posts: the field is seen to gain that E alone.
        EXPECT_TRUE(taps.catchUp());
        EXPECT_EQ(desktop.value(area), before);
        EXPECT_TRUE(passive.events.empty());
        EXPECT_EQ(shortcuts, 0);
        const auto held = hold->release();
        std::vector<std::pair<InputEventType, std::u16string>> seen;
        for (const auto& event : held) {
            seen.emplace_back(event.type, event.characters);
        }
        EXPECT_EQ(seen.size(), 8U);
        ASSERT_GE(seen.size(), 3U);
        EXPECT_EQ(seen[1], std::pair(InputEventType::keyDown, std::u16string(u"E")));
        EXPECT_EQ(hold->release().size(), 0U) << "once";
    }
    EXPECT_TRUE(taps.catchUp());
    EXPECT_EQ(desktop.value(area), before) << "released: the caller delivers them";
    EXPECT_EQ(shortcuts, 0);
    {
        auto hold = taps.holdKeys();
        ASSERT_TRUE(hold);
        typist.tap(xE);
        EXPECT_TRUE(taps.catchUp());  // the hold has the E
    }
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before + u"e"; }));
    constexpr unsigned xBackSpace = 22;
    typist.tap(xBackSpace);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before; }));
}

// A key the server sent before a hold's grab reached the field: the taps see it, however late
// the program reads it, and a Shift pressed then gives the held key its capital. Keys pressed
// through the hold reach the field; the keyboard is held again at once.
TEST_F(DesktopKeyHold, KeysBeforeTheGrabGoToTheTapsAndKeysPressedThroughToTheField) {
    Recorder passive;
    Typist typist;
    typist.key(xShiftL, true);  // the server has it; the program has not read it yet
    auto hold = taps.holdKeys();
    ASSERT_TRUE(hold);
    typist.tap(xE);
    EXPECT_TRUE(taps.catchUp());
    ASSERT_EQ(passive.events.size(), 1U);
    EXPECT_EQ(passive.events[0].type, InputEventType::flagsChanged);
    typist.key(xShiftL, false);
    const auto through = hold->pressThrough({keycode::a, 0}, 2);
    EXPECT_TRUE(through.posted);
    EXPECT_FALSE(through.keyPassed);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before + u"aa"; }))
        << QString::fromStdU16String(desktop.value(area)).toStdString();
    typist.tap(xE);
    EXPECT_TRUE(taps.catchUp());  // the hold has the E
    EXPECT_EQ(desktop.value(area), before + u"aa") << "held again";
    std::vector<std::u16string> typed;
    for (const auto& event : hold->release()) {
        if (event.type == InputEventType::keyDown) {
            typed.push_back(event.characters);
        }
    }
    EXPECT_EQ(typed, (std::vector<std::u16string>{u"E", u"e"}));
    constexpr unsigned xBackSpace = 22;
    typist.tap(xBackSpace);
    typist.tap(xBackSpace);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before; }));
}

// A key the server sent to the hold just before it ends is the hold's, though the program has
// not read it yet: given back by the release, posted to the field when the hold is dropped.
TEST_F(DesktopKeyHold, AKeyNotReadYetWhenTheHoldEndsIsKept) {
    Recorder passive;
    Typist typist;
    {
        auto hold = taps.holdKeys();
        ASSERT_TRUE(hold);
        typist.tap(xE);  // no turn of the loop after it
        std::vector<std::pair<InputEventType, std::u16string>> seen;
        for (const auto& event : hold->release()) {
            seen.emplace_back(event.type, event.characters);
        }
        EXPECT_EQ(seen, (std::vector<std::pair<InputEventType, std::u16string>>{
                            {InputEventType::keyDown, u"e"}, {InputEventType::keyUp, u""}}));
        EXPECT_TRUE(taps.catchUp());
        EXPECT_TRUE(passive.events.empty()) << "the released keys are the caller's alone";
    }
    {
        auto hold = taps.holdKeys();
        ASSERT_TRUE(hold);
        typist.tap(xE);
    }
    ASSERT_TRUE(waitUntil([&] { return desktop.value(area) == before + u"e"; }))
        << QString::fromStdU16String(desktop.value(area)).toStdString();
    constexpr unsigned xBackSpace = 22;
    typist.tap(xBackSpace);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(area) == before; }));
}

TEST(DesktopKeyCapture, AKeyboardHeldElsewhereFailsStart) {
    auto& taps = *Desktop::get().seams.keyTaps;
    Display* holder = XOpenDisplay(nullptr);
    ASSERT_EQ(XGrabKeyboard(holder, DefaultRootWindow(holder), False, GrabModeAsync, GrabModeAsync,
                            CurrentTime),
              GrabSuccess);
    XSync(holder, False);
    const auto refused = taps.startCapture([](const InputEvent&) { return TapVerdict::pass; });
    XUngrabKeyboard(holder, CurrentTime);
    XCloseDisplay(holder);
    EXPECT_FALSE(refused.hasValue());
    // One capture at a time; once it ends the keyboard is free again.
    auto first = taps.startCapture([](const InputEvent&) { return TapVerdict::pass; });
    ASSERT_TRUE(first.hasValue());
    EXPECT_FALSE(taps.startCapture([](const InputEvent&) { return TapVerdict::pass; }).hasValue());
    first.value().stop();
    EXPECT_TRUE(taps.startCapture([](const InputEvent&) { return TapVerdict::pass; }).hasValue());
}

TEST(DesktopLocalKeyMonitor, GivesCodesAndFlagsAndConsumedKeysNeverReachTheWidget) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    std::vector<InputEvent> seen;
    auto monitor = Desktop::get().seams.keyTaps->startLocalMonitor([&](const InputEvent& e) {
        seen.push_back(e);
        return e.keyCode == keycode::e ? TapVerdict::swallow : TapVerdict::pass;
    });
    ASSERT_TRUE(monitor.hasValue()) << monitor.error().message;
    constexpr unsigned xX = 53;
    constexpr std::uint32_t xPosition = 7;  // the X key's code
    Typist typist;
    typist.key(xShiftL, true);
    typist.tap(xE);
    typist.key(xShiftL, false);
    typist.tap(xX);
    ASSERT_TRUE(waitUntil([&] { return seen.size() >= 6; }));
    const std::vector<Expected> expected = {
        {InputEventType::flagsChanged, keycode::shift, eventflag::shift},
        {InputEventType::keyDown, keycode::e, eventflag::shift},
        {InputEventType::keyUp, keycode::e, eventflag::shift},
        {InputEventType::flagsChanged, keycode::shift, 0},
        {InputEventType::keyDown, xPosition, 0},
        {InputEventType::keyUp, xPosition, 0},
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].type, expected[i].type);
        EXPECT_EQ(seen[i].keyCode, expected[i].keyCode);
        EXPECT_EQ(seen[i].flags, expected[i].flags);
    }
    EXPECT_EQ(seen[1].typed(), u"E");
    EXPECT_TRUE(waitUntil([&] { return focus.field().text() == QStringLiteral("x"); }));
    monitor.value().stop();
    typist.tap(xE);
    EXPECT_TRUE(waitUntil([&] { return focus.field().text() == QStringLiteral("xe"); }));
    EXPECT_EQ(seen.size(), expected.size());
}

void setLayout(const char* layout) {
    ASSERT_EQ(QProcess::execute("setxkbmap", {layout}), 0);
}

TEST(DesktopKeyboardLayout, FollowsTheLayoutAtRunTime) {
    OwnKeyboardFocus restoresTheLayout;
    auto& layout = *Desktop::get().seams.keyboardLayout;
    constexpr std::uint32_t zPosition = 6, gravePosition = 50;
    EXPECT_EQ(layout.characterForKeyCode(zPosition), u"z");
    setLayout("de");
    const bool switched = waitUntil([&] { return layout.characterForKeyCode(zPosition) == u"y"; });
    const auto grave = layout.characterForKeyCode(gravePosition);
    setLayout("us");
    EXPECT_TRUE(switched);
    EXPECT_EQ(grave, u"^");  // a dead key: its spacing accent
    EXPECT_TRUE(waitUntil([&] { return layout.characterForKeyCode(zPosition) == u"z"; }));
    EXPECT_EQ(layout.characterForKeyCode(keycode::function), std::nullopt);
    EXPECT_EQ(layout.characterForKeyCode(keycode::shift), std::nullopt);
}

TEST(DesktopKeySynthesis, AnErrorSomeoneElseLeftIsNotTheNextKeysFailure) {
    OwnKeyboardFocus focus;
    ASSERT_TRUE(focus.ready());
    auto& keys = *Desktop::get().seams.keySynthesis;
    // Another X client of this process meets an error and never collects it.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XWindowAttributes attributes;
    XGetWindowAttributes(other, 0x3FFFFFFF, &attributes);  // no such window
    XSync(other, False);
    XCloseDisplay(other);

    EXPECT_TRUE(keys.postKeyPress({keycode::e, 0}).ok());
    EXPECT_TRUE(waitUntil([&] { return focus.field().text() == QStringLiteral("e"); }));
}

}  // namespace
}  // namespace ravlin::testing
