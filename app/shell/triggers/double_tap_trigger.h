#pragma once

// The typed double tap: the trigger key typed twice within 0.6 s, the first tap at the start of
// a word, opens the Composer. Watches key downs and mouse downs through a key tap, tracks
// whether the caret stands at a word boundary, and on a pair erases what the taps typed and
// calls `onFire` 20 ms later. Where the boundary is uncertain (after a click, a cursor key or a
// fire) it reads the focused field through accessibility before firing.
//
// Where the tap can hold the second tap back, one Delete erases the first; where it cannot (X11
// taps only watch), both taps reached the application and two BackSpaces erase them.
//
// Every pair goes through one check of the focused field before anything is sent: it must be
// identified through accessibility as an editable text field that is neither a password field
// nor a terminal (whose prompts may ask for a password unseen). Otherwise the taps stay where
// they are and `onRefuse` is told why: "password-field", "terminal", "focus-unknown",
// "not-editable".
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
    // Left, right and other mouse down, key down.
    static constexpr std::uint64_t eventMask = 0x200040A;
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

    // Why a pair was not acted on (the session log's words).
    static constexpr std::string_view refusedPasswordField = "password-field";
    static constexpr std::string_view refusedTerminal = "terminal";
    static constexpr std::string_view refusedFocusUnknown = "focus-unknown";
    static constexpr std::string_view refusedNotEditable = "not-editable";

    // `ownPid` is this process: its own elements are never asked (such a call would wait on the
    // process's own event loop).
    QNTriggerDoubleTap(std::uint32_t triggerKeyCode, std::function<void()> onFire,
                       platform::Seams seams, std::shared_ptr<Executor> executor,
                       platform::ProcessID ownPid,
                       std::function<void(std::string_view reason)> onRefuse = {});
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
    // the field can tell, as after a click.
    void forgetBoundary();

    [[nodiscard]] SharedState state() const;

    // One event from the tap (public for measurement).
    platform::TapVerdict handleEvent(const platform::InputEvent& event);

  private:
    platform::TapVerdict handleKeyDown(const platform::InputEvent& event);
    struct FieldCheck {
        bool passes = false;
        // Why the field was refused; empty where it only showed no boundary before the taps.
        std::string_view refusal;
    };
    // The one check of the focused field before a pair acts (see above); where the pair stands
    // on an unverified boundary, also a caret with whitespace or the text's start before the
    // taps. Without the lock.
    [[nodiscard]] FieldCheck checkFocusedField(std::u16string_view characters,
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
    void postRefusal(std::string_view reason);
    void postFire();
    void log(platform::LogLevel level, std::string message) const;

    std::function<void()> onFire_;
    std::function<void(std::string_view)> onRefuse_;
    platform::Seams seams_;
    std::shared_ptr<Executor> executor_;
    platform::ProcessID ownPid_;
    std::optional<platform::KeyTap> eventTap_;
    mutable std::mutex stateLock_;
    SharedState state_;
    // Key downs and clicks seen, under the lock: a pending check knows whether one came since.
    std::uint64_t eventsSeen_ = 0;
    // Posted tasks hold this weakly: they do nothing once the trigger is gone.
    std::shared_ptr<QNTriggerDoubleTap*> self_;
};

}  // namespace ravlin
