#include "app/shell/recorders/key_capture.h"

#include "tests/triggers/trigger_fixture.h"

namespace ravlin {
namespace {

using platform::InputEvent;
using platform::InputEventType;
namespace flag = platform::eventflag;
using Kind = QNSessionKeyCaptureDelivery::Kind;

class KeyCapture : public testing::TriggerDesktop {
  public:
    void start() {
        session = std::make_unique<QNSessionKeyCapture>(
            QNSessionKeyCapture::Callbacks{.onCapture =
                                               [this](std::uint32_t k, std::uint32_t m) {
                                                   log.push_back({Kind::capture, k, m});
                                                   if (stopAtCapture) {
                                                       session->stop();
                                                   }
                                               },
                                           .onCancel = [this] { log.push_back({Kind::cancel}); },
                                           .onModifiersChanged =
                                               [this](std::uint32_t m) {
                                                   log.push_back({Kind::modifiers, 0, m});
                                               }},
            desktop.seams(), executor, monitor, [this] { log.push_back({Kind::beep}); });
    }
    void flags(std::uint32_t keyCode, std::uint64_t flags) {
        desktop.userFlagsChanged(keyCode, flags);
    }
    void key(std::uint32_t keyCode, std::uint32_t modifiers) {
        desktop.userPressKey({keyCode, modifiers});
    }

    std::shared_ptr<testing::FakeLocalMonitor> monitor =
        std::make_shared<testing::FakeLocalMonitor>();
    std::unique_ptr<QNSessionKeyCapture> session;
    std::vector<QNSessionKeyCaptureDelivery> log;
    bool stopAtCapture = false;
};

using D = QNSessionKeyCaptureDelivery;

TEST_F(KeyCapture, TapSequences) {
    struct Case {
        const char* name;
        std::function<void(KeyCapture&)> run;
        std::vector<D> expected;
    };
    const Case cases[] = {
        {"command shift K",
         [](auto& t) {
             t.flags(55, flag::command);
             t.flags(56, flag::command | flag::shift);
             t.key(40, 0x300);
         },
         {{Kind::modifiers, 0, 0x100}, {Kind::modifiers, 0, 0x300}, {Kind::capture, 40, 0x300}}},
        {"fn alone",
         [](auto& t) {
             t.flags(63, flag::function);
             t.flags(63, 0);
         },
         {{Kind::modifiers, 0, 0x800000}, {Kind::modifiers, 0, 0}, {Kind::capture, 63, 0x800000}}},
        {"fn with A",
         [](auto& t) {
             t.flags(63, flag::function);
             t.key(0, 0x800000);
             t.flags(63, 0);
         },
         {{Kind::modifiers, 0, 0x800000}, {Kind::capture, 0, 0x800000}, {Kind::modifiers, 0, 0}}},
        {"fn released while shift held",
         [](auto& t) {
             t.flags(56, flag::shift);
             t.flags(63, flag::shift | flag::function);
             t.flags(63, flag::shift);
         },
         {{Kind::modifiers, 0, 0x200},
          {Kind::modifiers, 0, 0x800200},
          {Kind::modifiers, 0, 0x200}}},
        {"escape with modifiers",
         [](auto& t) {
             t.flags(55, flag::command);
             t.key(53, 0x100);
         },
         {{Kind::modifiers, 0, 0x100}, {Kind::cancel}}},
        {"bare letter beeps, bare F5 captures",
         [](auto& t) {
             t.key(0, 0);
             t.key(96, 0);
         },
         {{Kind::beep}, {Kind::capture, 96, 0}}},
        {"caps lock changes no mask",
         [](auto& t) {
             t.flags(57, flag::capsLock);
             t.flags(57, 0);
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        start();
        EXPECT_TRUE(session->usesTap());
        c.run(*this);
        executor->runUntilIdle();
        EXPECT_EQ(log, c.expected);
        session.reset();
    }
}

TEST_F(KeyCapture, TapSwallowsKeysAndReenables) {
    desktop.setTapsCanSwallow(true);
    desktop.setValue(field, u"x", {1, 0});
    start();
    key(0, 0);
    key(0, 0x200);
    desktop.disableTaps(InputEventType::tapDisabledByTimeout);
    executor->runUntilIdle();
    key(1, 0x200);
    executor->runUntilIdle();
    EXPECT_EQ(text(), u"x");
    EXPECT_EQ(log,
              (std::vector<D>{{Kind::beep}, {Kind::capture, 0, 0x200}, {Kind::capture, 1, 0x200}}));
    EXPECT_FALSE(session->usesLocalMonitor());
}

TEST_F(KeyCapture, NothingIsDeliveredAfterStop) {
    // Two keys read in one go: the recorder stops at the first capture, the second is dropped.
    stopAtCapture = true;
    start();
    key(96, 0);
    key(97, 0);
    executor->runUntilIdle();
    EXPECT_EQ(log, (std::vector<D>{{Kind::capture, 96, 0}}));
    session->stop();
    session->stop();
    EXPECT_EQ(desktop.tapCount(), 0u);

    // A stop before the queue runs drops everything.
    log.clear();
    stopAtCapture = false;
    start();
    key(98, 0);
    session->stop();
    executor->runUntilIdle();
    EXPECT_TRUE(log.empty());
}

TEST_F(KeyCapture, LocalMonitorWithoutATap) {
    desktop.setTapsRefused(true);
    start();
    EXPECT_FALSE(session->usesTap());
    EXPECT_EQ(monitor->mask, 0x1400u);
    // Deliveries at once; a flags change is consumed only when it captures.
    EXPECT_FALSE(monitor->send(
        {.type = InputEventType::flagsChanged, .keyCode = 63, .flags = flag::function}));
    EXPECT_TRUE(monitor->send({.type = InputEventType::flagsChanged, .keyCode = 63, .flags = 0}));
    EXPECT_TRUE(monitor->send({.type = InputEventType::keyDown, .keyCode = 0}));
    EXPECT_EQ(log, (std::vector<D>{{Kind::modifiers, 0, 0x800000},
                                   {Kind::modifiers, 0, 0},
                                   {Kind::capture, 63, 0x800000},
                                   {Kind::beep}}));
    session->stop();
    EXPECT_FALSE(monitor->send({.type = InputEventType::keyDown, .keyCode = 96}));
    EXPECT_EQ(log.size(), 4u);

    monitor->refuse = true;
    start();
    EXPECT_FALSE(session->usesTap());
    EXPECT_FALSE(session->usesLocalMonitor());
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

TEST_F(KeyCapture, WatchingTapKeepsKeysFromOwnWidgetsWithoutDeliveringTwice) {
    start();
    EXPECT_TRUE(session->usesTap());
    ASSERT_TRUE(session->usesLocalMonitor());
    key(96, 0);  // through the tap
    EXPECT_TRUE(monitor->send({.type = InputEventType::keyDown, .keyCode = 96}));
    EXPECT_FALSE(
        monitor->send({.type = InputEventType::flagsChanged, .keyCode = 56, .flags = flag::shift}));
    executor->runUntilIdle();
    EXPECT_EQ(log, (std::vector<D>{{Kind::capture, 96, 0}}));
    session->stop();
    EXPECT_FALSE(session->usesLocalMonitor());
}

}  // namespace
}  // namespace ravlin
