#pragma once

// The typed double tap: the trigger key typed twice within 0.6 s, the first tap at the start of
// a word, opens the Composer. Watches key downs and mouse downs through a key tap, tracks
// whether the caret stands at a word boundary, and on a pair erases what the taps typed and
// calls `onFire` 20 ms later. Where the boundary is uncertain (after a click, a cursor key or a
// fire) it reads the focused field through accessibility before firing.
//
// Where the tap can hold the second tap back, one Delete erases the first before `onFire`. Where
// it cannot (X11 taps only watch), both taps reached the application, and the two BackSpaces
// that erase them go out only when the Composer's open asks for them (takeBackTaps()), as late
// as it can: only while no other key has been pressed since the second tap, so that a key rolled
// over from the taps (a fast "eel") never loses a character to them, and only while no key of
// the program's own (a paste) has gone to the field since, after which the letters no longer
// stand before the caret.
//
// Every pair goes through one check of the focused field before anything is sent: it must be
// identified through accessibility as an editable text field that is neither a password field
// nor a terminal (whose prompts may ask for a password unseen). Otherwise the taps stay where
// they are and nothing is said: no log line tells which kind of field held the letters.
//
// Runs on the main sequence: the tap's handler, the coordinator's writes and every posted task.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/shell/triggers/double_tap_matcher.h"
#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

class QNTriggerDoubleTap {
  public:
    static constexpr std::uint32_t deleteKeyCode = 51;
    static constexpr double firingDelaySeconds = 0.020;
    // Left, right and other mouse down, key down, and modifier changes (a modifier pressed after
    // a pair is a key that followed it).
    static constexpr std::uint64_t eventMask = 0x200140A;
    static constexpr const char* logSubsystem = "io.quen.ravlin.AppRavlinInput";
    static constexpr const char* logCategory = "DoubleTap";
    // Characters read from an event, at most.
    static constexpr std::size_t maxEventCharacters = 8;
    // Where the tap only watches, the field is read once it shows both taps (the application
    // gets each key when the tap does, and takes a moment to insert it): looked at this often,
    // for this long at most.
    static constexpr auto fieldPollInterval = std::chrono::milliseconds(10);
    static constexpr auto fieldWaitLimit = std::chrono::milliseconds(150);

    struct SharedState {
        std::uint32_t triggerKeyCode = 0;
        std::set<std::u16string> triggerCharacters;
        bool atBoundary = true;
        bool boundaryNeedsVerification = true;
        bool lastWasTrigger = false;
        bool armedTriggerNeedsVerification = false;
        double lastTriggerTime = 0;
        double lastKeystrokeTime = 0;
        bool isSuspended = false;

        friend bool operator==(const SharedState&, const SharedState&) = default;
    };

    struct MatchTrace {
        std::uint32_t kc = 0;
        std::u16string characters;
        double dt = 0;
        bool priorWasTrigger = false;
        bool priorAtBoundary = false;
        bool didFire = false;
    };

    // `ownPid` is this process: its own elements are never asked (such a call would wait on the
    // process's own event loop).
    QNTriggerDoubleTap(std::uint32_t triggerKeyCode, std::function<void()> onFire,
                       platform::Seams seams, std::shared_ptr<Executor> executor,
                       platform::ProcessID ownPid);
    ~QNTriggerDoubleTap();
    QNTriggerDoubleTap(const QNTriggerDoubleTap&) = delete;
    QNTriggerDoubleTap& operator=(const QNTriggerDoubleTap&) = delete;

    // The layout's character for the key, lower- and upper-cased; empty when the key types none
    // or more than one character.
    [[nodiscard]] static std::set<std::u16string> makeTriggerCharacterSet(
        std::uint32_t keyCode, platform::KeyboardLayout& layout);

    // True when the tap is installed after the call.
    bool registerTap();
    void unregisterTap();
    [[nodiscard]] bool isRegistered() const { return eventTap_.has_value(); }

    // The coordinator's writes.
    void setTriggerKey(std::uint32_t keyCode);
    void suspend();
    void resume();
    // Our own keys (a paste, a select-all) went to the field: where its caret now stands only
    // the field can tell, as after a click. A pair waiting for its open is left to it, and so is
    // whatever the person typed since those keys (ownKeysToField).
    void forgetBoundary();
    // Keys of the program's own that change the field (a paste chord) go out now: a pair typed
    // before them, fired or not, no longer stands before the caret and is not taken back.
    void ownKeysToField();

    struct TakeBack {
        enum class Outcome {
            taken,        // the taps are gone (or were erased at the fire already)
            keyFollowed,  // a key, a modifier or a click came since the second tap
            overtaken,    // keys of ours went to the field after the taps
            failed,       // the BackSpaces could not be sent
            none,         // no fire waits for its open
        };
        Outcome outcome = Outcome::none;
        // The keys pressed from the BackSpaces on, held back for the Composer (none where the
        // desktop cannot hold them, or the taps were erased at the fire).
        std::unique_ptr<platform::KeyHold> heldKeys;
    };
    // The open that the last fire started goes ahead: erases the pair's taps unless a key of the
    // person's (a modifier too; the program's own keys are none) was pressed or the mouse clicked
    // since the second tap, as the taps see the desktop's events up to this moment, or keys of
    // ours that change the field went to it meanwhile (ownKeysToField); then they
    // stay, and the open must not go on. The keyboard is held from before that look on, so that
    // a key pressed in any moment of it is either seen by the look (the letters stay) or held
    // for the Composer, never typed after the BackSpaces.
    TakeBack takeBackTaps();

    [[nodiscard]] SharedState state() const;

    // One event from the tap (public for measurement).
    platform::TapVerdict handleEvent(const platform::InputEvent& event);

  private:
    // A fire whose taps are not taken back yet: the events seen at the second tap, or none when
    // they were erased at the fire.
    struct PendingTakeBack {
        std::optional<std::uint64_t> eventsAtPair;
    };

    platform::TapVerdict handleKeyDown(const platform::InputEvent& event);
    // The one check of the focused field before a pair acts (see above); where the pair stands
    // on an unverified boundary, also a caret with whitespace or the text's start before the
    // taps. Without the lock.
    [[nodiscard]] bool checkFocusedField(std::u16string_view characters,
                                         bool boundaryUnverified) const;
    // The boundary part of the check, on the identified field.
    [[nodiscard]] bool boundaryBeforeTaps(platform::ElementRef field,
                                          std::u16string_view characters) const;
    // Whether the focused field shows both taps before its caret (the application has them).
    bool fieldShowsBothTaps(std::u16string_view characters) const;
    // The focused element, unless it is none or this program's own.
    [[nodiscard]] std::optional<platform::ElementRef> focusedElementElsewhere() const;
    [[nodiscard]] std::set<std::u16string> triggerCharacters() const;
    [[nodiscard]] static bool isTriggerText(const std::set<std::u16string>& triggers,
                                            std::u16string_view text);
    // The watched pair: the check (on an unverified boundary once the field shows the taps, or
    // the wait is over), then the fire, unless another key came or the trigger was suspended.
    void postCheckedFire(const MatchTrace& trace, std::uint64_t events, bool boundaryUnverified);
    static void resetBoundary(SharedState& state);
    void postLog(const MatchTrace& trace);
    // The Delete of a held-back pair, then `onFire` after the firing delay.
    void postFire();
    // `onFire` after the firing delay; the taps wait for takeBackTaps().
    void postWatchedFire();
    void log(platform::LogLevel level, std::string message) const;

    std::function<void()> onFire_;
    platform::Seams seams_;
    std::shared_ptr<Executor> executor_;
    platform::ProcessID ownPid_;
    std::optional<platform::KeyTap> eventTap_;
    mutable std::mutex stateLock_;
    SharedState state_;
    // Key downs, modifier changes and clicks seen, under the lock: a pending check or take-back
    // knows whether one came since.
    std::uint64_t eventsSeen_ = 0;
    // The events seen when keys of ours last went to the field (ownKeysToField), under the lock.
    std::optional<std::uint64_t> ownKeysAt_;
    std::optional<PendingTakeBack> pendingTakeBack_;  // under the lock
    // Posted tasks hold this weakly: they do nothing once the trigger is gone.
    std::shared_ptr<QNTriggerDoubleTap*> self_;
};

}  // namespace ravlin
