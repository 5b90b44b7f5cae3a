#include <algorithm>

#include <QApplication>
#include <QTest>
#include <QToolButton>

#include "app/shell/recorders/double_tap_recorder.h"
#include "app/shell/recorders/hot_key_recorder.h"
#include "tests/support/qt_application.h"
#include "tests/triggers/trigger_fixture.h"

namespace ravlin {
namespace {

using platform::InputEvent;
using platform::InputEventType;
namespace flag = platform::eventflag;

[[maybe_unused]] auto* const qtApplication = testing::addQtApplication("tests_triggers");

class Recorders : public testing::TriggerDesktop {
  public:
    QNRecorderContext context() {
        return {desktop.seams(), executor, monitor, [this] { events.push_back("beep"); }};
    }
    // The pane: keeps the recording flag and tells the recorder.
    std::unique_ptr<QNViewHotKeyRecorder> hotKeyRecorder(QNConfigHotKey config,
                                                         bool clearable = true) {
        std::unique_ptr<QNViewHotKeyRecorder> recorder;
        auto* raw = &recorder;
        recorder = std::make_unique<QNViewHotKeyRecorder>(
            config, false,
            [this, raw](bool recording) {
                events.push_back(recording ? "record" : "stop");
                (*raw)->setRecording(recording);
            },
            [this](std::uint32_t k, std::uint32_t m) {
                events.push_back("capture " + std::to_string(k) + "/" + std::to_string(m));
            },
            clearable ? std::function<void()>([this] { events.push_back("clear"); }) : nullptr,
            context());
        hotKeyHolder = raw;
        return recorder;
    }
    std::unique_ptr<QNViewDoubleTapKeyRecorder> doubleTapRecorder(bool onlyModifiers) {
        auto recorder = std::make_unique<QNViewDoubleTapKeyRecorder>(
            14, false, onlyModifiers,
            [this](bool recording) {
                events.push_back(recording ? "record" : "stop");
                doubleTap->setRecording(recording);
            },
            [this](std::uint32_t k) { events.push_back("capture " + std::to_string(k)); },
            context());
        doubleTap = recorder.get();
        return recorder;
    }
    std::string label(const QNViewHotKeyRecorder& recorder) {
        return recorder.labelText().toStdString();
    }

    std::shared_ptr<testing::FakeLocalMonitor> monitor =
        std::make_shared<testing::FakeLocalMonitor>();
    std::vector<std::string> events;
    std::unique_ptr<QNViewHotKeyRecorder>* hotKeyHolder = nullptr;
    QNViewDoubleTapKeyRecorder* doubleTap = nullptr;
};

TEST_F(Recorders, ShortcutLabelsPerState) {
    auto recorder = hotKeyRecorder({14, 0x100});
    EXPECT_EQ(label(*recorder), "Super+E");
    EXPECT_FALSE(recorder->clearButton()->isHidden());
    EXPECT_EQ(recorder->clearButton()->accessibleName(), "Clear shortcut");
    EXPECT_EQ(recorder->clearButton()->toolTip(), "Clear shortcut");
    recorder->setConfig({63, 0x800000});
    EXPECT_EQ(label(*recorder), "Fn");
    recorder->setConfig({0xFFFFFFFF, 0});
    EXPECT_EQ(label(*recorder), "No shortcut");
    EXPECT_TRUE(recorder->clearButton()->isHidden());
    EXPECT_TRUE(hotKeyRecorder({14, 0x100}, false)->clearButton()->isHidden());

    QTest::mouseClick(recorder->field(), Qt::LeftButton);
    EXPECT_TRUE(recorder->hasSession());
    EXPECT_EQ(label(*recorder), "Press shortcut…");
    desktop.userFlagsChanged(59, flag::control);
    desktop.userFlagsChanged(58, flag::control | flag::option);
    executor->runUntilIdle();
    EXPECT_EQ(label(*recorder), "Ctrl+Alt press key");
    EXPECT_EQ(recorder->field()->accessibleDescription().toStdString(), "Ctrl+Alt press key");
}

TEST_F(Recorders, CapturedChordsAreCheckedAgainstTheReservedOnes) {
    struct Case {
        const char* name;
        platform::KeyChord chord;
        std::vector<std::string> events;
        bool refused;
    };
    const Case cases[] = {
        {"ctrl V refused", {9, 0x1000}, {"record", "stop"}, true},
        {"bare Print refused", {105, 0}, {"record", "stop"}, true},
        {"super Q accepted", {12, 0x100}, {"record", "capture 12/256", "stop"}, false},
        {"bare F5 accepted", {96, 0}, {"record", "capture 96/0", "stop"}, false},
        {"command shift K accepted", {40, 0x300}, {"record", "capture 40/768", "stop"}, false},
        {"escape cancels", {53, 0x100}, {"record", "stop"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        auto recorder = hotKeyRecorder({14, 0x100});
        QTest::mouseClick(recorder->field(), Qt::LeftButton);
        desktop.userPressKey(c.chord);
        executor->runUntilIdle();
        EXPECT_EQ(events, c.events);
        EXPECT_FALSE(recorder->hasSession());
        EXPECT_EQ(recorder->rejectionMessage().has_value(), c.refused);
        if (c.refused) {
            EXPECT_EQ(*recorder->rejectionMessage(), "This combo is reserved by your desktop.");
            QTest::mouseClick(recorder->field(), Qt::LeftButton);  // recording again clears it
            EXPECT_FALSE(recorder->rejectionMessage().has_value());
        }
    }
}

TEST_F(Recorders, ClearWhileRecordingEndsRecordingFirst) {
    auto recorder = hotKeyRecorder({14, 0x100});
    QTest::mouseClick(recorder->field(), Qt::LeftButton);
    QTest::mouseClick(recorder->clearButton(), Qt::LeftButton);
    EXPECT_EQ(events, (std::vector<std::string>{"record", "stop", "clear"}));
    EXPECT_FALSE(recorder->hasSession());
}

TEST_F(Recorders, DisappearingWhileRecordingReportsTheEnd) {
    auto recorder = hotKeyRecorder({14, 0x100});
    recorder->show();
    QTest::mouseClick(recorder->field(), Qt::LeftButton);
    recorder->hide();
    EXPECT_EQ(events, (std::vector<std::string>{"record", "stop"}));
    EXPECT_FALSE(recorder->hasSession());

    auto tapRecorder = doubleTapRecorder(false);
    tapRecorder->show();
    QTest::mouseClick(tapRecorder.get(), Qt::LeftButton);
    EXPECT_TRUE(tapRecorder->hasMonitor());
    tapRecorder->hide();
    EXPECT_FALSE(tapRecorder->hasMonitor());
}

TEST_F(Recorders, DoubleTapRecorderForModifierKeys) {
    auto recorder = doubleTapRecorder(true);
    QTest::mouseClick(recorder.get(), Qt::LeftButton);
    EXPECT_EQ(recorder->field()->accessibleDescription(), "Press key…");
    EXPECT_TRUE(monitor->send({.type = InputEventType::keyDown, .keyCode = 0, .characters = u"a"}));
    EXPECT_TRUE(
        monitor->send({.type = InputEventType::flagsChanged, .keyCode = 60, .flags = flag::shift}));
    EXPECT_EQ(events, (std::vector<std::string>{"record", "beep", "capture 60", "stop"}));
    EXPECT_FALSE(recorder->hasMonitor());
    recorder->setKeyCode(60);
    const auto tokens = recorder->display()->tokens();
    ASSERT_EQ(tokens.size(), 2);
    for (auto* token : tokens) {
        EXPECT_EQ(token->accessibleName(), "Right Shift");
        EXPECT_EQ(token->text(), "Right Shift");
    }
    EXPECT_EQ(recorder->display()->text(), "Right Shift, Right Shift");
    EXPECT_EQ(recorder->field()->accessibleDescription(), "Right Shift, Right Shift");
}

TEST_F(Recorders, DoubleTapRecorderForTypedKeys) {
    auto recorder = doubleTapRecorder(false);
    QTest::mouseClick(recorder.get(), Qt::LeftButton);
    for (std::uint32_t refused : {36u, 123u, 122u, 90u}) {
        monitor->send({.type = InputEventType::keyDown, .keyCode = refused});
    }
    monitor->send({.type = InputEventType::keyDown, .keyCode = 0, .flags = flag::command});
    // Shift held for a capital is consumed: no capture, no beep, still recording.
    EXPECT_TRUE(
        monitor->send({.type = InputEventType::flagsChanged, .keyCode = 56, .flags = flag::shift}));
    EXPECT_TRUE(monitor->send(
        {.type = InputEventType::flagsChanged, .keyCode = 57, .flags = flag::capsLock}));
    EXPECT_TRUE(recorder->hasMonitor());
    monitor->send(
        {.type = InputEventType::keyDown, .keyCode = 0, .flags = flag::shift | flag::capsLock});
    EXPECT_EQ(events, (std::vector<std::string>{"record", "beep", "beep", "beep", "beep", "beep",
                                                "capture 0", "stop"}));
    events.clear();
    QTest::mouseClick(recorder.get(), Qt::LeftButton);
    monitor->send({.type = InputEventType::keyDown, .keyCode = 53});
    EXPECT_EQ(events, (std::vector<std::string>{"record", "stop"}));
    EXPECT_FALSE(recorder->hasMonitor());
}

// A key the recorders refuse while recording says why under the field; recording goes on, and
// what was said goes with the recording.
TEST_F(Recorders, RefusedKeysSayWhyWhileRecordingGoesOn) {
    desktop.setKeyboardLayout({{14, u"e"}, {0, u"a"}, {12, u"q"}});
    auto recorder = hotKeyRecorder({14, 0x100});
    QTest::mouseClick(recorder->field(), Qt::LeftButton);
    desktop.userPressKey({14, 0});
    executor->runUntilIdle();
    EXPECT_TRUE(recorder->hasSession());
    EXPECT_EQ(recorder->rejectionMessage(),
              "E alone cannot be a shortcut: hold Ctrl, Alt, Shift or Super with it.");
    EXPECT_EQ(recorder->field()->accessibleDescription().toStdString(),
              *recorder->rejectionMessage());
    desktop.userPressKey({12, 0x100});
    executor->runUntilIdle();
    EXPECT_EQ(recorder->rejectionMessage(), std::nullopt);
    QTest::mouseClick(recorder->field(), Qt::LeftButton);
    desktop.userPressKey({14, 0});
    desktop.userPressKey({53, 0});  // Escape: no change, nothing said
    executor->runUntilIdle();
    EXPECT_FALSE(recorder->hasSession());
    EXPECT_EQ(recorder->rejectionMessage(), std::nullopt);

    const struct {
        const char* name;
        bool onlyModifiers;
        InputEvent event;
        const char* said;
        bool beeps;
    } rows[] = {
        {"right Shift for the typed double tap", false,
         {.type = InputEventType::flagsChanged, .keyCode = 60, .flags = flag::shift},
         "Right Shift types nothing: the double tap takes a key that types, such as E.", false},
        {"Return for the typed double tap", false,
         {.type = InputEventType::keyDown, .keyCode = 36},
         "Return cannot be a double-tap key: press a key that types, such as E.", true},
        {"Ctrl+A for the typed double tap", false,
         {.type = InputEventType::keyDown, .keyCode = 0, .flags = flag::control},
         "Press A alone, without Ctrl, Alt or Super.", true},
        {"A for Quick Fix", true, {.type = InputEventType::keyDown, .keyCode = 0},
         "A is not a modifier: Quick Fix takes Shift, Ctrl, Alt or Super, left or right.", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.clear();
        auto tapRecorder = doubleTapRecorder(row.onlyModifiers);
        QTest::mouseClick(tapRecorder.get(), Qt::LeftButton);
        monitor->send(row.event);
        EXPECT_TRUE(tapRecorder->hasMonitor());
        EXPECT_EQ(tapRecorder->refusalMessage(), row.said);
        EXPECT_EQ(std::ranges::count(events, std::string("beep")), row.beeps ? 1 : 0);
        monitor->send({.type = InputEventType::keyDown, .keyCode = 53});
        EXPECT_EQ(tapRecorder->refusalMessage(), std::nullopt);
    }
}

TEST_F(Recorders, KeyTokensForOtherKeys) {
    QNViewDoubleTapKeyDisplay display(14, *desktop.seams().keyboardLayout);
    EXPECT_EQ(display.text(), "E, E");
    EXPECT_EQ(QNViewDoubleTapKeyToken(57, *desktop.seams().keyboardLayout).text(), "Caps Lock");
    QImage image(display.sizeHint().expandedTo({10, 10}), QImage::Format_ARGB32);
    display.render(&image);  // paints off screen without trouble
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

TEST_F(Recorders, QtMonitorTranslatesAndConsumesWindowKeyEvents) {
    QNQtLocalKeyMonitor qtMonitor([](std::uint32_t scanCode) { return scanCode + 1000; });
    std::vector<InputEvent> seen;
    QWidget window;
    window.show();
    ASSERT_TRUE(window.windowHandle());
    {
        auto subscription = qtMonitor.add(0x1400, [&](const InputEvent& event) {
            seen.push_back(event);
            return true;
        });
        // Shift down, A, Shift up.
        QTest::keyClick(window.windowHandle(), Qt::Key_A, Qt::ShiftModifier);
    }
    QTest::keyClick(window.windowHandle(), Qt::Key_B);  // removed: nothing more
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].type, InputEventType::flagsChanged);
    EXPECT_EQ(seen[0].flags, flag::shift);
    EXPECT_EQ(seen[1].type, InputEventType::keyDown);
    EXPECT_EQ(seen[1].flags, flag::shift);
    EXPECT_EQ(seen[1].keyCode, 1000u);  // the scan code QTest gives (0), translated
    EXPECT_EQ(seen[2].type, InputEventType::flagsChanged);
    EXPECT_EQ(seen[2].flags, 0u);
}

}  // namespace
}  // namespace ravlin
