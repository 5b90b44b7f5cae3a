#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "tests/support/coordinator_fixture.h"

namespace ravlin {
namespace {

using Lines = std::vector<std::string>;
constexpr QNConfigHotKey kCommandE{14, 0x100};
constexpr QNConfigHotKey kCommandR{15, 0x100};
constexpr QNConfigHotKey kFn{63, 0x800000};
constexpr QNConfigHotKey kNone{0xFFFFFFFF, 0};

class Triggers : public testing::CoordinatorFixture {
  public:
    // Starts with the stored defaults (⌘E, both switches on) and forgets start-up's lines.
    void start(bool trusted = true) {
        desktop.setTrusted(trusted);
        app = startCoordinator();
        sessionMark = app->logger->entries().size();
        systemMark = systemLines().size();
    }
    Lines newSession() const {
        const auto all = sessionLines(*app);
        return {all.begin() + static_cast<std::ptrdiff_t>(sessionMark), all.end()};
    }
    Lines newSystem() const {
        const auto all = systemLines();
        return {all.begin() + static_cast<std::ptrdiff_t>(systemMark), all.end()};
    }
    void trust(bool trusted) {
        desktop.setTrusted(trusted);
        activation.activate();
    }
    [[nodiscard]] QNConfigHotKey storedHotKey() const {
        return app->stores->hotKey->config().get();
    }

    std::shared_ptr<QNCoordinatorApp> app;
    std::size_t sessionMark = 0;
    std::size_t systemMark = 0;
};

TEST_F(Triggers, SameShortcutAnswersTrueAndTouchesNothing) {
    start();
    auto* const held = app->hotKey.get();
    EXPECT_TRUE(app->updateHotKey(kCommandE));
    EXPECT_EQ(app->hotKey.get(), held);
    EXPECT_TRUE(desktop.pressHotKey({14, 0x100}));
    EXPECT_EQ(newSession(), Lines{});
    EXPECT_EQ(newSystem(), Lines{});
}

TEST_F(Triggers, NoShortcutClearsAndStores) {
    start();
    // Only key 0xFFFFFFFF without modifiers means none; Fn picks the tap-based kind.
    EXPECT_EQ(app->makeHotKey(kNone), nullptr);
    EXPECT_FALSE(app->makeHotKey({0xFFFFFFFF, 0x100})->isFunctionKeyHotKey());
    EXPECT_TRUE(app->makeHotKey({0xFFFFFFFF, 0x800000})->isFunctionKeyHotKey());
    EXPECT_TRUE(app->updateHotKey(kNone));
    EXPECT_EQ(app->hotKey, nullptr);
    EXPECT_EQ(desktop.hotKeyCount(), 0u);
    EXPECT_EQ(storedHotKey(), kNone);
    EXPECT_EQ(newSession(), Lines{"Hotkey disabled"});
    EXPECT_EQ(newSystem(), Lines{"Hotkey disabled"});
}

TEST_F(Triggers, NewShortcutReplacesTheOld) {
    start();
    EXPECT_TRUE(app->updateHotKey(kCommandR));
    EXPECT_FALSE(desktop.pressHotKey({14, 0x100}));
    EXPECT_TRUE(desktop.pressHotKey({15, 0x100}));
    EXPECT_EQ(storedHotKey(), kCommandR);
    EXPECT_EQ(newSession(), Lines{"Hotkey updated: ⌘R"});
    EXPECT_EQ(newSystem(), Lines{"Hotkey updated: ⌘R"});
}

TEST_F(Triggers, RefusedShortcutRevertsToTheStoredOne) {
    struct Case {
        const char* name;
        QNConfigHotKey refused;
        bool tapsSeeFn;
    };
    for (const auto& c : {Case{"held elsewhere", kCommandR, true}, Case{"Fn on X11", kFn, false}}) {
        SCOPED_TRACE(c.name);
        desktop.reserveHotKey({15, 0x100});
        desktop.setTapsSeeFn(c.tapsSeeFn);
        start();
        auto* const old = app->hotKey.get();
        EXPECT_FALSE(app->updateHotKey(c.refused));
        EXPECT_EQ(storedHotKey(), kCommandE);
        EXPECT_NE(app->hotKey.get(), old);  // a fresh object for the stored shortcut
        EXPECT_TRUE(desktop.pressHotKey({14, 0x100}));
        EXPECT_EQ(desktop.hotKeyCount(), 1u);
        EXPECT_EQ(newSession(), Lines{"Hotkey update failed; reverted"});
        EXPECT_EQ(newSystem(), Lines{"Hotkey update FAILED; reverted to ⌘E"});
        app.reset();
    }
}

TEST_F(Triggers, FnShortcutWaitsForTrustThenRestores) {
    struct Case {
        const char* name;
        bool tapsSeeFn;
        Lines atGrant;
    };
    for (const auto& c :
         {Case{"taps see Fn", true, {"Fn hotkey tap restored"}}, Case{"X11", false, {}}}) {
        SCOPED_TRACE(c.name);
        defaults = std::make_shared<MemoryDefaults>();
        desktop.setTapsSeeFn(c.tapsSeeFn);
        start(false);
        EXPECT_TRUE(app->updateHotKey(kFn));
        EXPECT_EQ(storedHotKey(), kFn);
        EXPECT_EQ(desktop.hotKeyCount(), 0u);
        EXPECT_EQ(newSession(), Lines{"Hotkey updated pending Accessibility: fn"});
        EXPECT_EQ(newSystem(), Lines{"Fn hotkey update deferred until accessibility granted: fn"});
        app->setDoubleTapEnabled(std::nullopt, false);
        app->setQuickFixEnabled(std::nullopt, false);
        systemMark = systemLines().size();
        trust(true);
        Lines expected = {"Accessibility status changed: trusted=true"};
        expected.insert(expected.end(), c.atGrant.begin(), c.atGrant.end());
        EXPECT_EQ(newSystem(), expected);
        EXPECT_EQ(desktop.tapCount(), c.atGrant.size());
        app.reset();
        desktop.setTrusted(false);
    }
}

// The double tap and Quick Fix share their operations' shape.
struct SwitchView {
    const void* trigger;
    bool registered;
    std::uint32_t triggerKey;
    std::pair<std::uint32_t, bool> stored;
};

struct SwitchCase {
    const char* name;
    std::string prefix;  // of the session lines
    const char* deferred;
    std::string defaultLabel;
    std::uint32_t otherKey;
    std::string otherLabel;
    std::function<void(QNCoordinatorApp&, std::optional<std::uint32_t>, std::optional<bool>)> set;
    std::function<SwitchView(const QNCoordinatorApp&)> view;
};

class Switches : public Triggers, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(Switches, OffAndOnAgainReusesTheTrigger) {
    const auto& c = GetParam();
    start();
    const void* const trigger = c.view(*app).trigger;
    c.set(*app, std::nullopt, true);  // as stored: nothing happens
    EXPECT_EQ(newSession(), Lines{});
    c.set(*app, std::nullopt, false);
    EXPECT_FALSE(c.view(*app).registered);
    c.set(*app, std::nullopt, true);
    EXPECT_TRUE(c.view(*app).registered);
    EXPECT_EQ(c.view(*app).trigger, trigger);
    EXPECT_EQ(newSession(), (Lines{c.prefix + " trigger disabled",
                                   c.prefix + " trigger enabled: " + c.defaultLabel}));
    EXPECT_EQ(newSystem(), Lines{});
}

TEST_P(Switches, RekeyInPlaceAndWhileOff) {
    const auto& c = GetParam();
    start();
    const void* const trigger = c.view(*app).trigger;
    c.set(*app, c.otherKey, std::nullopt);
    EXPECT_EQ(c.view(*app).trigger, trigger);
    EXPECT_EQ(c.view(*app).triggerKey, c.otherKey);
    EXPECT_TRUE(c.view(*app).registered);
    c.set(*app, std::nullopt, false);
    const auto tapsOff = desktop.tapCount();
    c.set(*app, c.otherKey + 1, std::nullopt);  // re-key while off
    EXPECT_EQ(desktop.tapCount(), tapsOff);
    EXPECT_FALSE(c.view(*app).registered);
    EXPECT_EQ(c.view(*app).stored, std::make_pair(c.otherKey + 1, false));
    EXPECT_EQ(newSession(),
              (Lines{c.prefix + " trigger enabled: " + c.otherLabel, c.prefix + " trigger disabled",
                     c.prefix + " trigger disabled"}));
}

TEST_P(Switches, StoredEvenWhenWaitingOrRefused) {
    const auto& c = GetParam();
    defaults->set("DoubleTap.enabled", false);
    defaults->set("QuickFix.enabled", false);
    start(false);
    c.set(*app, std::nullopt, true);
    EXPECT_FALSE(c.view(*app).registered);
    EXPECT_TRUE(c.view(*app).stored.second);
    EXPECT_EQ(newSystem(), Lines{c.deferred});
    // Trust comes, but the taps are refused: the switch stays on, unregistered, and a later
    // grant registers it.
    c.set(*app, std::nullopt, false);
    desktop.setTapsRefused(true);
    desktop.setTrusted(true);
    c.set(*app, std::nullopt, true);
    EXPECT_FALSE(c.view(*app).registered);
    EXPECT_TRUE(c.view(*app).stored.second);
    EXPECT_EQ(newSession(),
              (Lines{c.prefix + " trigger enabled pending Accessibility: " + c.defaultLabel,
                     c.prefix + " trigger disabled", "Accessibility granted",
                     c.prefix + " trigger registration failed"}));
    EXPECT_EQ(app->logger->entries().back().kind, QNKindLog::error);
    desktop.setTapsRefused(false);
    trust(false);
    trust(true);
    EXPECT_TRUE(c.view(*app).registered);
}

INSTANTIATE_TEST_SUITE_P(
    , Switches,
    ::testing::Values(
        SwitchCase{"DoubleTap", "Double-tap",
                   "Double-tap registration deferred until accessibility granted", "ee", 15, "rr",
                   [](QNCoordinatorApp& a, auto k, auto e) { a.setDoubleTapEnabled(k, e); },
                   [](const QNCoordinatorApp& a) {
                       const auto s = a.stores->doubleTap->config().get();
                       return SwitchView{a.doubleTap.get(),
                                         a.doubleTap->isRegistered(),
                                         a.doubleTap->state().triggerKeyCode,
                                         {s.keyCode, s.isEnabled}};
                   }},
        SwitchCase{"QuickFix", "Quick Fix",
                   "Quick Fix registration deferred until accessibility granted", "R⇧ R⇧", 56,
                   "L⇧ L⇧", [](QNCoordinatorApp& a, auto k, auto e) { a.setQuickFixEnabled(k, e); },
                   [](const QNCoordinatorApp& a) {
                       const auto s = a.stores->quickFix->config().get();
                       return SwitchView{a.quickFixDoubleTap.get(),
                                         a.quickFixDoubleTap->isRegistered(),
                                         a.quickFixDoubleTap->state().triggerKeyCode,
                                         {s.keyCode, s.isEnabled}};
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Triggers, TrustLossTearsDownTapsAndKeepsTheGlobalHotKey) {
    start();
    trust(false);
    EXPECT_EQ(desktop.tapCount(), 0u);
    EXPECT_TRUE(desktop.pressHotKey({14, 0x100}));
    EXPECT_EQ(newSystem(), (Lines{"Accessibility status changed: trusted=false",
                                  "Double-tap tap torn down (accessibility revoked)",
                                  "Quick Fix tap torn down (accessibility revoked)"}));
    app->setQuickFixEnabled(std::nullopt, false);  // stored while untrusted
    systemMark = systemLines().size();
    trust(true);
    EXPECT_TRUE(app->doubleTap->isRegistered());
    EXPECT_FALSE(app->quickFixDoubleTap->isRegistered());
    EXPECT_EQ(newSystem(),
              (Lines{"Accessibility status changed: trusted=true", "Double-tap tap restored"}));
    EXPECT_EQ(newSession(), (Lines{"Accessibility revoked", "Quick Fix trigger disabled",
                                   "Accessibility granted"}));
}

TEST_F(Triggers, TrustLossTearsDownTheFnHotKeyAndRestoresIt) {
    defaults->set("HotKey.keyCode", std::int64_t{63});
    defaults->set("HotKey.modifiers", std::int64_t{0x800000});
    defaults->set("DoubleTap.enabled", false);
    defaults->set("QuickFix.enabled", false);
    desktop.setTapsSeeFn(true);  // (not X11's: a desktop whose taps see Fn)
    start();
    ASSERT_EQ(desktop.tapCount(), 1u);
    trust(false);
    trust(true);
    EXPECT_EQ(desktop.tapCount(), 1u);
    EXPECT_EQ(newSystem(),
              (Lines{"Accessibility status changed: trusted=false",
                     "Fn hotkey tap torn down (accessibility revoked)",
                     "Accessibility status changed: trusted=true", "Fn hotkey tap restored"}));
}

}  // namespace
}  // namespace ravlin
