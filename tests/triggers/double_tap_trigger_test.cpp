#include "app/shell/triggers/double_tap_trigger.h"

#include "tests/triggers/trigger_fixture.h"

namespace ravlin {
namespace {

using platform::eventflag::capsLock;
using platform::eventflag::command;
using platform::eventflag::control;
using platform::eventflag::function;
using platform::eventflag::option;
using platform::eventflag::shift;
using platform::fake::PostedKey;

constexpr std::uint32_t kE = 14;

class DoubleTapTrigger : public testing::TriggerDesktop {
  protected:
    DoubleTapTrigger() { EXPECT_TRUE(trigger->registerTap()); }

    // Space, then the trigger twice `gapMs` apart.
    void spaceThenTwice(int gapMs = 100, std::uint64_t secondFlags = 0) {
        press(49, u" ");
        after(50);
        press(kE, u"e");
        after(gapMs);
        press(kE, (secondFlags & (shift | capsLock)) ? u"E" : u"e", secondFlags);
    }
    void settle() { after(100); }
    // As the Composer's open asks: whether the taps are gone. The keys held for the Composer go
    // on to the field.
    bool takeBack() {
        return trigger->takeBackTaps().outcome == QNTriggerDoubleTap::TakeBack::Outcome::taken;
    }
    [[nodiscard]] int deletesPosted() const {
        int count = 0;
        for (const auto& key : desktop.postedKeys()) {
            count += key.kind == PostedKey::Kind::down && key.chord.keyCode == 51;
        }
        return count;
    }

    // The log lines the trigger wrote after the first `from`.
    [[nodiscard]] std::vector<std::string> logSince(std::size_t from) const {
        std::vector<std::string> lines;
        const auto& records = desktop.logRecords();
        for (std::size_t i = from; i < records.size(); ++i) {
            lines.push_back(records[i].message);
        }
        return lines;
    }

    int fires = 0;
    // As the coordinator's open does: the taps are taken back when the fire is acted on.
    bool takeBackOnFire = true;
    std::vector<bool> takeBacks;
    platform::ProcessID watchedApp = desktop.addApplication(
        {.identity = "org.example.Watched", .name = "Watched", .handlesKeys = false});
    platform::ElementRef watchedWindow = desktop.addWindow(watchedApp, {});
    std::unique_ptr<QNTriggerDoubleTap> trigger = std::make_unique<QNTriggerDoubleTap>(
        kE,
        [this] {
            ++fires;
            if (takeBackOnFire) {
                takeBacks.push_back(takeBack());
            }
        },
        desktop.seams(), executor, desktop.ownPid());
};

TEST_F(DoubleTapTrigger, SwallowedPairErasesFirstTapWithOneDeleteThenFires20msLater) {
    desktop.setTapsCanSwallow(true);
    desktop.setValue(field, u"a", {1, 0});
    spaceThenTwice();
    EXPECT_EQ(fires, 0);
    executor->runUntilIdle();
    EXPECT_EQ(text(), u"a ");
    EXPECT_EQ(deletesPosted(), 1);
    after(19);
    EXPECT_EQ(fires, 0);
    after(1);
    EXPECT_EQ(fires, 1);
}

TEST_F(DoubleTapTrigger, WatchedPairIsErasedByTwoBackSpacesOnlyWhenItsOpenAsks) {
    desktop.setValue(field, u"a", {1, 0});
    takeBackOnFire = false;
    spaceThenTwice();
    after(20);
    EXPECT_EQ(fires, 1);
    EXPECT_EQ(deletesPosted(), 0);
    EXPECT_EQ(text(), u"a ee");
    EXPECT_TRUE(takeBack());
    EXPECT_EQ(text(), u"a ");
    EXPECT_EQ(deletesPosted(), 2);
    // Once: a second ask finds no pair waiting.
    EXPECT_FALSE(takeBack());
    EXPECT_EQ(deletesPosted(), 2);
    executor->runUntilIdle();
    // As after any fire (the BackSpaces are the program's own: they change nothing).
    const auto state = trigger->state();
    EXPECT_TRUE(state.atBoundary);
    EXPECT_TRUE(state.boundaryNeedsVerification);
}

// Where the taps only watch and learn of events a turn late (X11), a key that follows the pair
// (rolled over from it, as in a fast "an eel") keeps both taps in the field: the BackSpaces go
// out only while no key, modifier or click has come since the second tap. A key's release is no
// key, nor are the program's own keys (the caret probe's character and its BackSpace, typed by
// the open before it takes the taps back), and a key after the BackSpaces only follows the
// erased taps.
TEST_F(DoubleTapTrigger, AnythingPressedAfterThePairKeepsItsLetters) {
    enum class Then { nothing, letter, release, shift, click, ownKeys };
    const struct {
        const char* name;
        Then then;
        int afterMs;  // after the second tap's press
        std::u16string field;
    } cases[] = {
        {"nothing", Then::nothing, 0, u"an "},
        {"a letter at once", Then::letter, 0, u"an eel"},
        {"a letter 10 ms later", Then::letter, 10, u"an eel"},
        {"a letter just before the open", Then::letter, 19, u"an eel"},
        {"a letter after the taps went", Then::letter, 30, u"an l"},
        {"the second tap released", Then::release, 10, u"an "},
        {"Shift pressed", Then::shift, 10, u"an ee"},
        {"a click", Then::click, 10, u"an ee"},
        {"the program's own keys", Then::ownKeys, 10, u"an "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fires = 0;
        takeBacks.clear();
        desktop.setValue(field, u"an", {2, 0});
        after(3000);
        spaceThenTwice(90);
        after(c.afterMs);
        switch (c.then) {
            case Then::nothing:
                break;
            case Then::letter:
                press(37, u"l");
                break;
            case Then::release:
                desktop.sendUserEvent({.type = platform::InputEventType::keyUp, .keyCode = kE});
                break;
            case Then::shift:
                desktop.userFlagsChanged(56, platform::eventflag::shift);
                break;
            case Then::click:
                click();
                break;
            case Then::ownKeys: {
                const auto keys = desktop.seams().keySynthesis;
                ASSERT_TRUE(keys->postText(u"\u200B").ok());
                ASSERT_TRUE(keys->postKeyPress({51, 0}).ok());
                break;
            }
        }
        after(100);
        EXPECT_EQ(text(), c.field);
        const bool taken = c.field == u"an " || c.field == u"an l";
        EXPECT_EQ(takeBacks, std::vector<bool>{taken});
        if (c.then == Then::shift) {
            desktop.userFlagsChanged(56, 0);
        }
    }
}

// The take-back asks the taps to catch up first: a key the application already has counts even
// when the taps have not been handed it yet.
TEST_F(DoubleTapTrigger, TheTakeBackCountsAKeyTheTapsHaveNotSeenYet) {
    takeBackOnFire = false;
    const auto logged = desktop.logRecords().size();
    desktop.setValue(field, u"an", {2, 0});
    spaceThenTwice(90);
    after(20);
    ASSERT_EQ(fires, 1);
    press(37, u"l");  // reaches the field; the taps hear of it on the next turn
    EXPECT_FALSE(takeBack());
    EXPECT_EQ(text(), u"an eel");
    EXPECT_EQ(deletesPosted(), 0);
    const auto lines = logSince(logged);
    EXPECT_NE(std::ranges::find(lines, "DOUBLE-TAP not acted on: a key followed the taps"),
              lines.end());
}

// The keyboard is held before the take-back looks at what came since the pair: a key (Shift
// with it) that reaches the desktop in the moment after that look is held for the Composer with
// its modifier, never typed into the field after the BackSpaces.
TEST_F(DoubleTapTrigger, AKeyRightAfterTheTakeBacksLookIsHeldWithItsModifiers) {
    takeBackOnFire = false;
    desktop.setValue(field, u"an", {2, 0});
    spaceThenTwice(90);
    after(20);
    ASSERT_EQ(fires, 1);
    desktop.afterNextCatchUp([&] {
        desktop.userFlagsChanged(56, shift);
        press(37, u"L", shift);
    });
    auto back = trigger->takeBackTaps();
    EXPECT_EQ(back.outcome, QNTriggerDoubleTap::TakeBack::Outcome::taken);
    EXPECT_EQ(text(), u"an ");
    ASSERT_TRUE(back.heldKeys);
    const auto held = back.heldKeys->release();
    ASSERT_EQ(held.size(), 2U);
    EXPECT_EQ(held[0].type, platform::InputEventType::flagsChanged);
    EXPECT_EQ(held[1].characters, u"L");
    EXPECT_EQ(held[1].flags & shift, shift);
    EXPECT_EQ(text(), u"an ") << "released: the Composer types them";
}

// Keys of the program's own that change the field (a commit's paste) after the pair leave the
// letters where they are, and no key of the person's is blamed; a pair typed after them is taken
// back, even once our keys have reset the boundary.
TEST_F(DoubleTapTrigger, OwnKeysToTheFieldAfterThePairKeepItsLetters) {
    takeBackOnFire = false;
    for (const bool pairFirst : {true, false}) {
        SCOPED_TRACE(pairFirst);
        fires = 0;
        desktop.setValue(field, u"an", {2, 0});
        after(3000);
        const auto logged = desktop.logRecords().size();
        const auto paste = [&] {
            trigger->ownKeysToField();
            (void)desktop.seams().keySynthesis->postKeyPress({9, platform::modifier::command});
            after(10);
            trigger->forgetBoundary();
        };
        if (!pairFirst) {
            paste();
        }
        spaceThenTwice(90);
        after(20);
        ASSERT_EQ(fires, 1);
        if (pairFirst) {
            paste();
        }
        auto back = trigger->takeBackTaps();
        EXPECT_EQ(back.outcome, pairFirst ? QNTriggerDoubleTap::TakeBack::Outcome::overtaken
                                          : QNTriggerDoubleTap::TakeBack::Outcome::taken);
        EXPECT_EQ(text(), pairFirst ? u"an ee" : u"an ");
        const auto lines = logSince(logged);
        EXPECT_EQ(std::ranges::find(lines, "DOUBLE-TAP not acted on: a key followed the taps"),
                  lines.end());
        after(100);
    }
}

TEST_F(DoubleTapTrigger, TypedSequences) {
    struct Key {
        std::uint32_t kc;
        std::u16string chars;
        std::uint64_t flags = 0;
        int gapBefore = 100;
    };
    struct Case {
        const char* name;
        std::vector<Key> keys;
        int fires;
    };
    const Key e{kE, u"e"};
    const Case cases[] = {
        {"after space", {{49, u" "}, e, e}, 1},
        {"after return", {{36, u"\r"}, e, e}, 1},
        {"after tab", {{48, u"\t"}, e, e}, 1},
        {"after keypad enter", {{76, u"\x03"}, e, e}, 1},
        {"shift space arms", {{49, u" ", shift}, e, e}, 1},
        {"inside a word", {{11, u"b"}, e, e}, 0},
        {"three inside a word", {{11, u"b"}, e, e, e}, 0},
        {"after full stop", {{47, u"."}, e, e}, 0},
        {"exactly 0.6 apart", {{49, u" "}, e, {kE, u"e", 0, 600}}, 1},
        {"0.61 apart, then a late pair", {{49, u" "}, e, {kE, u"e", 0, 610}, e}, 0},
        {"idle resets", {{49, u" "}, e, {kE, u"e", 0, 2010}, e}, 0},
        {"shift on second", {{49, u" "}, e, {kE, u"E", shift}}, 0},
        {"command on second", {{49, u" "}, e, {kE, u"e", command}}, 0},
        {"option on second", {{49, u" "}, e, {kE, u"e", option}}, 0},
        {"control on second", {{49, u" "}, e, {kE, u"e", control}}, 0},
        {"fn on second", {{49, u" "}, e, {kE, u"e", function}}, 0},
        {"caps lock matches", {{49, u" "}, e, {kE, u"E", capsLock}}, 1},
        {"other key between", {{49, u" "}, e, {11, u"b"}, e}, 0},
        {"three quick taps fire once", {{49, u" "}, e, e, e}, 1},
        {"after a fire the field is read again", {{49, u" "}, e, e, e, e}, 2},
        {"two pairs", {{49, u" "}, e, e, {49, u" "}, e, e}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fires = 0;
        trigger->setTriggerKey(kE);
        desktop.setValue(field, u"x", {1, 0});
        after(3000);
        bool first = true;
        for (const auto& key : c.keys) {
            if (!first) {
                after(key.gapBefore);
            }
            first = false;
            press(key.kc, key.chars, key.flags);
        }
        after(100);
        EXPECT_EQ(fires, c.fires);
    }
}

TEST_F(DoubleTapTrigger, UnverifiedBoundaryIsReadThroughAccessibility) {
    struct Case {
        const char* name;
        std::u16string before;
        bool canSwallow = true;
        bool secureInput = false;
        bool trusted = true;
        std::string subrole;
        bool staleSelection = false;
        int fires;
    };
    const Case cases[] = {
        {"space before", u"a ", true, false, true, "", false, 1},
        {"start of text", u"", true, false, true, "", false, 1},
        {"letter before", u"ab", true, false, true, "", false, 0},
        {"secure input", u"a ", true, true, true, "", false, 0},
        {"not trusted", u"a ", true, false, false, "", false, 0},
        {"secure field", u"a ", true, false, true, "AXSecureTextField", false, 0},
        {"selection not empty", u"a ", true, false, true, "", true, 0},
        {"watched: space before both taps", u"a ", false, false, true, "", false, 1},
        {"watched: start of text", u"", false, false, true, "", false, 1},
        {"watched: letter before both taps", u"ab", false, false, true, "", false, 0},
        {"watched: trigger before both taps", u"e", false, false, true, "", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fires = 0;
        desktop.setTapsCanSwallow(c.canSwallow);
        desktop.setSecureInput(c.secureInput);
        desktop.setTrusted(c.trusted);
        const auto size = static_cast<std::int64_t>(c.before.size());
        // Where the tap only watches (X11), the application already has the key when the field
        // is read: a window of an application whose text the test keeps as it would be.
        const auto parent = c.canSwallow ? window : watchedWindow;
        desktop.setFrontmost(c.canSwallow ? editor : watchedApp);
        auto target = desktop.addElement(
            parent, {.subrole = c.subrole,
                     .value = c.before,
                     .selection = {c.staleSelection ? 0 : size, c.staleSelection ? 1 : 0},
                     .reportsTypedCaret = !c.staleSelection});
        desktop.focus(target);
        after(3000);
        click();
        after(100);
        press(kE, u"e");
        after(100);
        if (!c.canSwallow) {
            desktop.setValue(target, c.before + u"ee", {size + 2, 0});
        }
        press(kE, u"e");
        after(100);
        const auto shown = desktop.value(target).value_or(u"");
        EXPECT_EQ(fires, c.fires) << std::string(shown.begin(), shown.end());
        desktop.setSecureInput(false);
        desktop.setTrusted(true);
    }
}

// Where the tap only watches, the application gets each key as the tap does and inserts it a
// moment later: the field is read once it shows both taps, within a bound.
TEST_F(DoubleTapTrigger, AWatchedPairIsCheckedOnceTheFieldShowsIt) {
    desktop.setFrontmost(watchedApp);
    enum class Then { shown, neverShown, anotherKey, click };
    for (const auto& [name, then, expected] : std::vector<std::tuple<const char*, Then, int>>{
             {"the taps shown 40 ms after the pair", Then::shown, 1},
             {"the taps never shown", Then::neverShown, 0},
             {"a letter typed meanwhile", Then::anotherKey, 0},
             {"a click meanwhile", Then::click, 0},
         }) {
        SCOPED_TRACE(name);
        fires = 0;
        const int deletes = deletesPosted();
        const auto target = desktop.addElement(watchedWindow, {.value = u"a ", .selection = {2, 0}});
        desktop.focus(target);
        after(3000);
        click();  // the boundary must be read
        after(100);
        press(kE, u"e");
        after(100);
        press(kE, u"e");
        after(10);
        if (then == Then::anotherKey) {
            press(37, u"l");
        } else if (then == Then::click) {
            click();
        }
        after(30);
        if (then != Then::neverShown) {
            desktop.setValue(target, u"a ee", {4, 0});
        }
        after(QNTriggerDoubleTap::fieldWaitLimit.count() + 50);
        EXPECT_EQ(fires, expected);
        EXPECT_EQ(deletesPosted() - deletes, 2 * expected);
        desktop.removeElement(target);
        after(100);
    }
}

// Every pair, on a typed boundary or one only the field can tell, with the second tap held back
// or only watched, acts only on a field identified as editable text that is neither a password
// field nor a terminal. Otherwise nothing is sent (the taps stay) and nothing is said.
TEST_F(DoubleTapTrigger, OnlyAnEditableTextFieldThatIsNoPasswordOrTerminalIsActedOn) {
    struct Field {
        const char* name;
        std::string identity = "org.example.Notes";
        std::optional<platform::fake::ElementDescription> focused = platform::fake::ElementDescription{};
        bool refused = false;
        bool secureInput = false;
        bool trusted = true;
    };
    const auto spec = [](std::string role, std::string subrole = {}, bool settable = true) {
        return platform::fake::ElementDescription{
            .role = std::move(role), .subrole = std::move(subrole), .settable = settable};
    };
    const Field fields[] = {
        {"text field", .focused = spec("AXTextField")},
        {"text area", .focused = spec("AXTextArea")},
        {"password field", .focused = spec("AXSecureTextField"), .refused = true},
        {"password subrole", .focused = spec("AXTextField", "AXSecureTextField"),
         .refused = true},
        {"secure input on", .refused = true, .secureInput = true},
        {"terminal element", "code", spec("AXTerminal"), true},
        {"terminal application", "gnome-terminal", spec("AXTextArea"), true},
        {"terminal showing no focus", "xterm", std::nullopt, true},
        {"no focused element", .focused = std::nullopt, .refused = true},
        {"not trusted", .refused = true, .trusted = false},
        {"read-only field", .focused = spec("AXTextField", {}, false), .refused = true},
        // Typed into, though accessibility writes nothing into it (a web page's text area, KDE's
        // editor).
        {"editable field that takes no writes",
         .focused = platform::fake::ElementDescription{.role = "AXTextArea", .settable = false,
                                                .editable = true}},
    };
    const std::size_t logged = desktop.logRecords().size();
    for (const bool canSwallow : {true, false}) {
        for (const bool typedBoundary : {true, false}) {
            for (const auto& f : fields) {
                SCOPED_TRACE(std::string(f.name) + (canSwallow ? ", held back" : ", watched") +
                             (typedBoundary ? ", after a space" : ", after a click"));
                desktop.setTapsCanSwallow(canSwallow);
                // The test keeps the field's text as the application would have it.
                const auto pid = desktop.addApplication(
                    {.identity = f.identity, .name = f.identity, .handlesKeys = false});
                platform::ElementRef target;
                if (f.focused) {
                    target = desktop.addElement(desktop.addWindow(pid, {}), *f.focused);
                    desktop.focus(target);
                }
                desktop.setFrontmost(pid);
                fires = 0;
                const int deletes = deletesPosted();
                after(3000);
                typedBoundary ? press(49, u" ") : click();
                after(100);
                press(kE, u"e");
                after(100);
                if (target) {
                    desktop.setValue(target, canSwallow ? u"a e" : u"a ee",
                                     {canSwallow ? 3 : 4, 0});
                }
                desktop.setSecureInput(f.secureInput);
                desktop.setTrusted(f.trusted);
                press(kE, u"e");
                after(QNTriggerDoubleTap::fieldWaitLimit.count() + 50);
                desktop.setSecureInput(false);
                desktop.setTrusted(true);
                const bool acted = !f.refused;
                EXPECT_EQ(fires, acted ? 1 : 0);
                EXPECT_EQ(deletesPosted() - deletes, acted ? (canSwallow ? 1 : 2) : 0);
            }
        }
    }
    // A refused pair leaves no trace of the field it was typed in (a password field's letters
    // among them): nothing is logged for it at all.
    for (const auto& line : logSince(logged)) {
        EXPECT_TRUE(line.starts_with("trigger match:") || line.starts_with("DOUBLE-TAP fired"))
            << line;
    }
}

TEST_F(DoubleTapTrigger, CursorMoverAndOwnWindowNeedVerification) {
    desktop.setValue(field, u"ab", {2, 0});
    after(3000);
    press(123, u"");  // left arrow: the caret may be anywhere
    after(100);
    press(kE, u"e");
    after(100);
    press(kE, u"e");
    after(100);
    EXPECT_EQ(fires, 0);

    // Our own window in front: never asked, never fires on an unverified boundary.
    const auto own = desktop.addElement(desktop.addWindow(desktop.ownPid(), {}),
                                        {.value = u" ", .selection = {1, 0}});
    desktop.focus(own);
    desktop.setFrontmost(desktop.ownPid());
    after(3000);
    click();
    press(kE, u"e");
    after(100);
    press(kE, u"e");
    after(100);
    EXPECT_EQ(fires, 0);
}

TEST_F(DoubleTapTrigger, SuspensionIgnoresKeysButClicksStillResetTheBoundary) {
    trigger->suspend();
    press(11, u"b");
    spaceThenTwice();
    settle();
    EXPECT_EQ(fires, 0);
    EXPECT_EQ(trigger->state().lastKeystrokeTime, 0);
    click();
    EXPECT_TRUE(trigger->state().boundaryNeedsVerification);
    trigger->resume();
    spaceThenTwice();
    settle();
    EXPECT_EQ(fires, 1);
    const auto state = trigger->state();
    EXPECT_TRUE(state.atBoundary);  // after a fire: a boundary that needs checking
    EXPECT_TRUE(state.boundaryNeedsVerification);
}

TEST_F(DoubleTapTrigger, RegistrationIsIdempotentAndReenablesAfterADisable) {
    EXPECT_TRUE(trigger->registerTap());
    EXPECT_EQ(desktop.tapCount(), 1u);
    desktop.disableTaps(platform::InputEventType::tapDisabledByTimeout);
    executor->runUntilIdle();
    spaceThenTwice();
    settle();
    EXPECT_EQ(fires, 1);
    trigger->unregisterTap();
    trigger->unregisterTap();
    EXPECT_EQ(desktop.tapCount(), 0u);
    spaceThenTwice();
    settle();
    EXPECT_EQ(fires, 1);

    desktop.setTapsRefused(true);
    EXPECT_FALSE(trigger->registerTap());
    EXPECT_TRUE(logged("DoubleTap",
                       "register: CGEvent.tapCreate returned nil (accessibility likely missing)"));
}

TEST_F(DoubleTapTrigger, LogLines) {
    EXPECT_TRUE(
        logged("DoubleTap", "register: event tap installed, triggerKeyCode=14, triggerChars=E,e"));
    spaceThenTwice(250);
    settle();
    EXPECT_TRUE(
        logged("DoubleTap", "trigger match: kc=14 lastWasTrigger=true atBoundary=false dt=0.250s"));
    EXPECT_TRUE(logged("DoubleTap", "DOUBLE-TAP fired (dt=0.250s)"));
    for (const auto& record : desktop.logRecords()) {
        EXPECT_EQ(record.subsystem, "io.quen.ravlin.AppRavlinInput");
    }
}

TEST_F(DoubleTapTrigger, TriggerCharactersFollowTheLayout) {
    desktop.setKeyboardLayout({{14, u"é"}, {49, u" "}});
    EXPECT_EQ(QNTriggerDoubleTap::makeTriggerCharacterSet(14, *desktop.seams().keyboardLayout),
              (std::set<std::u16string>{u"é", u"É"}));
    EXPECT_TRUE(
        QNTriggerDoubleTap::makeTriggerCharacterSet(99, *desktop.seams().keyboardLayout).empty());
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

TEST_F(DoubleTapTrigger, CharactersAreWorkedOutOnlyForPossibleTriggers) {
    int asked = 0;
    const auto event = [&](std::uint32_t keyCode, std::u16string characters) {
        return platform::InputEvent{.type = platform::InputEventType::keyDown,
                                    .keyCode = keyCode,
                                    .characterSource =
                                        [&asked, characters] {
                                            ++asked;
                                            return characters;
                                        },
                                    .timestamp = 5000};
    };
    trigger->handleEvent(event(11, u"b"));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(trigger->handleEvent(event(kE, u"e")), platform::TapVerdict::pass);
    EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace ravlin
