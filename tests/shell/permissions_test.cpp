#include <gtest/gtest.h>

#include <vector>

#include "tests/support/coordinator_fixture.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRevoked =
    "Accessibility permission revoked at runtime — hotkey is dead until re-granted";

// The monitor's lines: each one the revocation, at the error level, under its own subsystem.
std::size_t revocationLines(const platform::fake::FakeDesktop& desktop) {
    std::size_t count = 0;
    for (const auto& record : desktop.logRecords()) {
        EXPECT_EQ(record,
                  (platform::LogRecord{"io.quen.ravlin.AppRavlin", "AccessibilityPermissions",
                                       platform::LogLevel::error, kRevoked}));
        ++count;
    }
    return count;
}

class Permissions : public ::testing::Test {
  public:
    Permissions() { desktop.setTrusted(false); }
    std::shared_ptr<QNServiceAccessibilityPermissions> make() {
        auto monitor = QNServiceAccessibilityPermissions::create(desktop.seams(), executor,
                                                                 activation.source());
        monitor->onChange = [this](bool trusted) { changes.push_back(trusted); };
        return monitor;
    }
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    testing::ManualActivation activation;
    std::vector<bool> changes;
};

TEST_F(Permissions, UpdateRules) {
    struct Case {
        const char* name;
        std::vector<bool> answers;
        std::vector<bool> changes;
        int trustedNotices;
        int revokedNotices;
        bool revoked;
        std::size_t revocationLines;
    };
    const Case cases[] = {
        {"same value twice", {true, true}, {true}, 1, 0, false, 0},
        {"lost once, checked again", {true, false, false}, {true, false}, 2, 1, true, 1},
        {"never trusted", {false, false}, {}, 0, 0, false, 0},
        {"lost and granted again", {true, false, true}, {true, false, true}, 3, 2, false, 1},
        {"lost twice", {true, false, true, false}, {true, false, true, false}, 4, 3, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::fake::FakeDesktop fresh{executor};
        fresh.setTrusted(false);
        const auto monitor =
            QNServiceAccessibilityPermissions::create(fresh.seams(), executor, activation.source());
        std::vector<bool> told;
        int trustedNotices = 0;
        int revokedNotices = 0;
        monitor->onChange = [&](bool trusted) {
            // onChange runs inside update, after the value is stored.
            EXPECT_EQ(monitor->isTrusted().get(), trusted);
            told.push_back(trusted);
        };
        const auto a = monitor->isTrusted().observe([&](bool) { ++trustedNotices; });
        const auto b = monitor->accessibilityRevoked().observe([&](bool) { ++revokedNotices; });
        for (const bool answer : c.answers) {
            EXPECT_EQ(monitor->update(answer), answer);
        }
        EXPECT_EQ(told, c.changes);
        EXPECT_EQ(trustedNotices, c.trustedNotices);
        EXPECT_EQ(revokedNotices, c.revokedNotices);
        EXPECT_EQ(monitor->accessibilityRevoked().get(), c.revoked);
        EXPECT_EQ(revocationLines(fresh), c.revocationLines);
    }
}

TEST_F(Permissions, ChecksAtCreationAndOnActivationWithoutPrompting) {
    desktop.setTrusted(true);
    const auto monitor = make();
    EXPECT_TRUE(monitor->isTrusted().get());
    EXPECT_TRUE(changes.empty());  // no handler yet at creation
    desktop.setTrusted(false);
    activation.activate();
    EXPECT_EQ(changes, std::vector<bool>{false});
    EXPECT_EQ(revocationLines(desktop), 1u);
    EXPECT_EQ(desktop.trustPrompts(), 0);
}

TEST_F(Permissions, WatchingTwiceLeavesOneTimer) {
    const auto monitor = make();
    monitor->startWatching(1s);
    monitor->startWatching(1s);
    EXPECT_EQ(executor->pendingCount(), 1u);
    desktop.setTrusted(true);
    executor->advance(999ms);
    EXPECT_TRUE(changes.empty());
    executor->advance(1ms);
    EXPECT_EQ(changes, std::vector<bool>{true});
    desktop.setTrusted(false);
    executor->advance(1s);
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    EXPECT_EQ(executor->pendingCount(), 1u);
    monitor->stopWatching();
    EXPECT_FALSE(monitor->isWatching());
    EXPECT_EQ(executor->pendingCount(), 0u);
    desktop.setTrusted(true);
    executor->advance(5s);
    EXPECT_EQ(changes.size(), 2u);
}

TEST_F(Permissions, GoneMonitorsTimerAndActivationDoNothing) {
    auto monitor = make();
    monitor->startWatching(1s);
    monitor.reset();
    desktop.setTrusted(true);
    activation.activate();
    executor->advance(5s);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(executor->pendingCount(), 0u);
}

}  // namespace
}  // namespace ravlin
