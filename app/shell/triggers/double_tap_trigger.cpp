#include "app/shell/triggers/double_tap_trigger.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/preferences/hot_key.h"
#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_route.h"
#include "core/text/unicode.h"

namespace ravlin {

using platform::InputEvent;
using platform::InputEventType;
using platform::TapVerdict;
using Matcher = QNServiceDoubleTapMatcher;

namespace {

std::string secondsText(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
    return buffer;
}

const char* boolText(bool value) {
    return value ? "true" : "false";
}

}  // namespace

QNTriggerDoubleTap::QNTriggerDoubleTap(std::uint32_t triggerKeyCode, std::function<void()> onFire,
                                       platform::Seams seams, std::shared_ptr<Executor> executor,
                                       platform::ProcessID ownPid)
    : onFire_(std::move(onFire)),
      seams_(std::move(seams)),
      executor_(std::move(executor)),
      ownPid_(ownPid),
      self_(std::make_shared<QNTriggerDoubleTap*>(this)) {
    auto characters = makeTriggerCharacterSet(triggerKeyCode, *seams_.keyboardLayout);
    std::lock_guard lock(stateLock_);
    state_.triggerKeyCode = triggerKeyCode;
    state_.triggerCharacters = std::move(characters);
}

QNTriggerDoubleTap::~QNTriggerDoubleTap() {
    unregisterTap();
}

std::set<std::u16string> QNTriggerDoubleTap::makeTriggerCharacterSet(
    std::uint32_t keyCode, platform::KeyboardLayout& layout) {
    const auto character = QNConfigHotKey::characterForKeyCode(keyCode, layout);
    if (!character) {
        return {};
    }
    const auto single = Matcher::singleCharacter(text::toUtf16(*character));
    if (!single) {
        return {};
    }
    return {*single, text::lowercased(*single), text::uppercased(*single)};
}

void QNTriggerDoubleTap::resetBoundary(SharedState& state) {
    state.atBoundary = true;
    state.boundaryNeedsVerification = true;
    state.lastWasTrigger = false;
    state.armedTriggerNeedsVerification = false;
    state.lastTriggerTime = 0;
    state.lastKeystrokeTime = 0;
}

bool QNTriggerDoubleTap::registerTap() {
    if (eventTap_) {
        return true;
    }
    std::weak_ptr<QNTriggerDoubleTap*> weak = self_;
    auto tap = seams_.keyTaps->startTap(eventMask, [weak](const InputEvent& event) {
        const auto self = weak.lock();
        return self ? (*self)->handleEvent(event) : TapVerdict::pass;
    });
    if (!tap) {
        log(platform::LogLevel::error,
            "register: CGEvent.tapCreate returned nil (accessibility likely missing)");
        return false;
    }
    eventTap_ = std::move(*tap);
    eventTap_->setEnabled(true);
    std::uint32_t keyCode = 0;
    std::string characters;
    {
        std::lock_guard lock(stateLock_);
        resetBoundary(state_);
        keyCode = state_.triggerKeyCode;
        for (const auto& character : state_.triggerCharacters) {  // ascending
            if (!characters.empty()) {
                characters += ",";
            }
            characters += text::toUtf8(character);
        }
    }
    log(platform::LogLevel::notice, "register: event tap installed, triggerKeyCode=" +
                                        std::to_string(keyCode) + ", triggerChars=" + characters);
    return true;
}

void QNTriggerDoubleTap::unregisterTap() {
    if (eventTap_) {
        eventTap_->setEnabled(false);
        eventTap_->stop();
        eventTap_.reset();
    }
    std::lock_guard lock(stateLock_);
    resetBoundary(state_);
    pendingTakeBack_.reset();
}

void QNTriggerDoubleTap::setTriggerKey(std::uint32_t keyCode) {
    auto characters = makeTriggerCharacterSet(keyCode, *seams_.keyboardLayout);
    std::lock_guard lock(stateLock_);
    state_.triggerKeyCode = keyCode;
    state_.triggerCharacters = std::move(characters);
    resetBoundary(state_);
    pendingTakeBack_.reset();
}

void QNTriggerDoubleTap::suspend() {
    std::lock_guard lock(stateLock_);
    resetBoundary(state_);
    state_.isSuspended = true;
    pendingTakeBack_.reset();
}

void QNTriggerDoubleTap::forgetBoundary() {
    std::lock_guard lock(stateLock_);
    // Keys the person pressed since ours went to the field (a pair typed while the paste still
    // waited) stand after them: they tell the boundary themselves.
    if (ownKeysAt_ && eventsSeen_ != *ownKeysAt_) {
        return;
    }
    resetBoundary(state_);
}

void QNTriggerDoubleTap::ownKeysToField() {
    // A pair the desktop has delivered by now counts as typed before these keys.
    (void)seams_.keyTaps->catchUp();
    std::lock_guard lock(stateLock_);
    ownKeysAt_ = eventsSeen_;
    // (The keys themselves pass the taps unseen, being ours: a first tap before them is no
    // longer the one before the caret, and what now stands there only the field can tell.)
    state_.lastWasTrigger = false;
    state_.armedTriggerNeedsVerification = false;
    state_.atBoundary = true;
    state_.boundaryNeedsVerification = true;
}

void QNTriggerDoubleTap::resume() {
    std::lock_guard lock(stateLock_);
    state_.isSuspended = false;
}

QNTriggerDoubleTap::SharedState QNTriggerDoubleTap::state() const {
    std::lock_guard lock(stateLock_);
    return state_;
}

TapVerdict QNTriggerDoubleTap::handleEvent(const InputEvent& event) {
    // Keys this program sent (the caret probe's, the taps' BackSpaces, its chords) are not the
    // person's typing: they neither make nor break a pair, nor follow one. Where they move the
    // caret or change the field, whoever sent them says so (forgetBoundary, ownKeysToField).
    if (event.isOwn) {
        return TapVerdict::pass;
    }
    switch (event.type) {
        case InputEventType::leftMouseDown:
        case InputEventType::rightMouseDown:
        case InputEventType::otherMouseDown: {
            // A click may have moved the caret anywhere; also while suspended, times kept.
            std::lock_guard lock(stateLock_);
            ++eventsSeen_;
            state_.atBoundary = true;
            state_.boundaryNeedsVerification = true;
            state_.lastWasTrigger = false;
            state_.armedTriggerNeedsVerification = false;
            return TapVerdict::pass;
        }
        case InputEventType::tapDisabledByTimeout:
        case InputEventType::tapDisabledByUserInput: {
            std::weak_ptr<QNTriggerDoubleTap*> weak = self_;
            executor_->post([weak] {
                if (const auto self = weak.lock(); self && (*self)->eventTap_) {
                    (*self)->eventTap_->setEnabled(true);
                }
            });
            return TapVerdict::pass;
        }
        case InputEventType::keyDown:
            return handleKeyDown(event);
        case InputEventType::flagsChanged: {
            std::lock_guard lock(stateLock_);
            ++eventsSeen_;
            return TapVerdict::pass;
        }
        default:
            return TapVerdict::pass;
    }
}

TapVerdict QNTriggerDoubleTap::handleKeyDown(const InputEvent& event) {
    const std::uint32_t kc = event.keyCode;
    const double now = event.timestamp;
    const auto modifiers = DisqualifyingModifierFlags::fromEventFlags(event.flags);

    std::uint32_t triggerKeyCode = 0;
    {
        std::lock_guard lock(stateLock_);
        triggerKeyCode = state_.triggerKeyCode;
    }
    const bool couldMatch = Matcher::couldMatchByKeyCode(kc, triggerKeyCode);
    // The characters are read (and, on some desktops, worked out) only for a possible trigger.
    std::u16string typed = couldMatch ? event.typed() : std::u16string();
    if (typed.size() > maxEventCharacters) {
        typed.resize(maxEventCharacters);
    }
    const std::u16string_view characters = typed;

    std::unique_lock lock(stateLock_);
    auto& s = state_;
    ++eventsSeen_;
    if (s.isSuspended) {
        return TapVerdict::pass;
    }
    bool priorWasTrigger = s.lastWasTrigger;
    bool windowOpen = false;
    if (s.lastKeystrokeTime != 0 &&
        Matcher::isBeyond(now - s.lastKeystrokeTime, Matcher::idleTimeout)) {
        s.lastWasTrigger = false;
        s.armedTriggerNeedsVerification = false;
        priorWasTrigger = false;
    } else {
        windowOpen = Matcher::isWithin(now - s.lastTriggerTime, Matcher::maxTapInterval);
    }
    s.lastKeystrokeTime = now;

    if (Matcher::hasDisqualifyingModifier(modifiers) || !couldMatch ||
        !Matcher::matches(kc, characters, s.triggerKeyCode, s.triggerCharacters)) {
        if (Matcher::isArmingBoundaryKey(kc, characters, modifiers)) {
            s.atBoundary = true;
            s.boundaryNeedsVerification = false;
        } else if (Matcher::isCursorMover(kc)) {
            s.atBoundary = true;
            s.boundaryNeedsVerification = true;
        } else {
            s.atBoundary = false;
            s.boundaryNeedsVerification = false;
        }
        s.lastWasTrigger = false;
        s.armedTriggerNeedsVerification = false;
        return TapVerdict::pass;
    }

    const bool triggerIsBoundary = Matcher::isArmingBoundaryKey(kc, characters, modifiers);
    const double dt = now - s.lastTriggerTime;
    const bool priorAtBoundary = s.atBoundary;
    MatchTrace trace{kc, std::u16string(characters), dt, priorWasTrigger, priorAtBoundary, false};

    if (priorWasTrigger && windowOpen) {
        const bool boundaryUnverified = s.armedTriggerNeedsVerification;
        // Until the field says otherwise the taps stand on no boundary.
        s.atBoundary = false;
        s.boundaryNeedsVerification = false;
        s.lastWasTrigger = false;
        s.armedTriggerNeedsVerification = false;
        const auto events = eventsSeen_;
        lock.unlock();
        if (!seams_.keyTaps->canSwallow()) {
            // The key is on its way to the application, which the field is read after.
            postCheckedFire(trace, events, boundaryUnverified);
            return TapVerdict::pass;
        }
        if (!checkFocusedField(characters, boundaryUnverified)) {
            return TapVerdict::pass;
        }
        lock.lock();
        s.atBoundary = true;
        s.boundaryNeedsVerification = true;
        s.lastWasTrigger = false;
        s.armedTriggerNeedsVerification = false;
        lock.unlock();
        trace.didFire = true;
        postLog(trace);
        postFire();
        return TapVerdict::swallow;
    }

    s.lastWasTrigger = priorAtBoundary;
    s.armedTriggerNeedsVerification = priorAtBoundary && s.boundaryNeedsVerification;
    s.lastTriggerTime = now;
    s.atBoundary = triggerIsBoundary;
    s.boundaryNeedsVerification = false;
    lock.unlock();
    postLog(trace);
    return TapVerdict::pass;
}

void QNTriggerDoubleTap::postCheckedFire(const MatchTrace& trace, std::uint64_t events,
                                         bool boundaryUnverified) {
    struct Pending {
        MatchTrace trace;
        std::uint64_t events = 0;
        bool boundaryUnverified = false;
        std::chrono::milliseconds waited{0};
    };
    auto pending = std::make_shared<Pending>(Pending{trace, events, boundaryUnverified});
    auto step = std::make_shared<std::function<void()>>();
    std::weak_ptr<QNTriggerDoubleTap*> weak = self_;
    *step = [weak, pending, weakStep = std::weak_ptr(step)] {
        const auto self = weak.lock();
        const auto again = weakStep.lock();
        if (!self || !again) {
            return;
        }
        auto& trigger = **self;
        const std::u16string_view characters = pending->trace.characters;
        {
            // Another key or a click since the pair, or a session opened: the pair is history.
            std::lock_guard lock(trigger.stateLock_);
            if (trigger.state_.isSuspended || trigger.eventsSeen_ != pending->events) {
                return;
            }
        }
        if (pending->boundaryUnverified && !trigger.fieldShowsBothTaps(characters) &&
            pending->waited < fieldWaitLimit) {
            pending->waited += fieldPollInterval;
            trigger.executor_->postAfter(fieldPollInterval, [again] { (*again)(); });
            return;
        }
        if (!trigger.checkFocusedField(characters, pending->boundaryUnverified)) {
            return;
        }
        {
            std::lock_guard lock(trigger.stateLock_);
            if (trigger.state_.isSuspended || trigger.eventsSeen_ != pending->events) {
                return;
            }
            trigger.state_.atBoundary = true;
            trigger.state_.boundaryNeedsVerification = true;
            trigger.pendingTakeBack_ = PendingTakeBack{pending->events};
        }
        auto fired = pending->trace;
        fired.didFire = true;
        trigger.postLog(fired);
        trigger.postWatchedFire();
    };
    // Held by the posted tasks only: it goes with the last of them.
    executor_->post([step] { (*step)(); });
}

std::set<std::u16string> QNTriggerDoubleTap::triggerCharacters() const {
    std::lock_guard lock(stateLock_);
    return state_.triggerCharacters;
}

bool QNTriggerDoubleTap::isTriggerText(const std::set<std::u16string>& triggers,
                                       std::u16string_view text) {
    const std::u16string unit(text);
    return triggers.contains(unit) || triggers.contains(text::lowercased(unit));
}

std::optional<platform::ElementRef> QNTriggerDoubleTap::focusedElementElsewhere() const {
    auto& accessibility = *seams_.accessibility;
    const auto focused = QNQuickFixHostLiveDriver::copyAttribute(
        accessibility, platform::ax::focusedUIElement, accessibility.systemWideElement());
    if (!focused) {
        return std::nullopt;
    }
    // Our own window in front: asking our own element would wait on this very thread.
    if (const auto pid = accessibility.processID(*focused); !pid || *pid == ownPid_) {
        return std::nullopt;
    }
    return focused;
}

bool QNTriggerDoubleTap::fieldShowsBothTaps(std::u16string_view characters) const {
    auto& accessibility = *seams_.accessibility;
    const auto triggers = triggerCharacters();
    const auto focused = focusedElementElsewhere();
    if (!focused) {
        return false;
    }
    const auto range = QNQuickFixHostLiveDriver::selectedTextRange(accessibility, *focused);
    const auto length = std::max<std::int64_t>(1, static_cast<std::int64_t>(characters.size()));
    if (!range || range->length != 0 || range->location < 2 * length) {
        return false;
    }
    const auto typed = accessibility.parameterizedAttribute(
        *focused, platform::ax::stringForRange,
        platform::AttributeValue(text::Utf16Range{range->location - 2 * length, 2 * length}));
    const auto* pair = typed ? std::get_if<std::u16string>(&typed.value()) : nullptr;
    if (pair == nullptr || pair->size() != static_cast<std::size_t>(2 * length)) {
        return false;
    }
    const std::u16string_view both = *pair;
    const auto half = static_cast<std::size_t>(length);
    return isTriggerText(triggers, both.substr(0, half)) &&
           isTriggerText(triggers, both.substr(half));
}

bool QNTriggerDoubleTap::checkFocusedField(std::u16string_view characters,
                                           bool boundaryUnverified) const {
    using State = platform::SecureInput::State;
    auto& accessibility = *seams_.accessibility;
    if (seams_.secureInput->state() == State::on) {
        return false;
    }
    const auto focused = accessibility.isTrusted(false) ? focusedElementElsewhere() : std::nullopt;
    if (!focused) {
        return false;
    }
    const auto read = QNQuickFixHostLiveDriver::stringAttribute(accessibility, platform::ax::role,
                                                                *focused, true);
    const auto role = read ? std::optional<std::string>(text::toUtf8(*read)) : std::nullopt;
    if (QNQuickFixHostLiveDriver::isSecureTextElement(accessibility, *focused, role)) {
        return false;
    }
    const auto front = seams_.workspace->frontmostApplication();
    std::optional<std::string> identity;
    if (front && !front->identity.empty()) {
        identity = front->identity;
    }
    if (quickFixRoute(identity, role) == QNQuickFixRoute::terminal) {
        return false;
    }
    if (platform::booleanAttribute(accessibility, *focused, platform::ax::editable) != true) {
        return false;
    }
    return !boundaryUnverified || boundaryBeforeTaps(*focused, characters);
}

bool QNTriggerDoubleTap::boundaryBeforeTaps(platform::ElementRef field,
                                            std::u16string_view characters) const {
    const auto triggers = triggerCharacters();
    auto& accessibility = *seams_.accessibility;
    const auto range = QNQuickFixHostLiveDriver::selectedTextRange(accessibility, field);
    if (!range || range->length != 0) {
        return false;
    }
    const auto value =
        QNQuickFixHostLiveDriver::stringAttribute(accessibility, platform::ax::value, field, false);
    if (!value) {
        return false;
    }
    const std::int64_t length =
        std::max<std::int64_t>(1, static_cast<std::int64_t>(characters.size()));
    std::int64_t caret = range->location;
    if (!seams_.keyTaps->canSwallow() && caret >= 2 * length &&
        caret <= static_cast<std::int64_t>(value->size())) {
        // The tap only watched: the second tap is in the field too. Two trigger characters before
        // the caret: the boundary stands before both.
        const auto unit = [&](std::int64_t at) {
            return std::u16string(
                value->substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length)));
        };
        if (isTriggerText(triggers, unit(caret - length)) &&
            isTriggerText(triggers, unit(caret - 2 * length))) {
            caret -= length;
        }
    }
    return Matcher::hasBoundaryBeforeInsertedTrigger(*value, caret, length);
}

void QNTriggerDoubleTap::postLog(const MatchTrace& trace) {
    std::weak_ptr<QNTriggerDoubleTap*> weak = self_;
    executor_->post([weak, trace] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        const auto dt = secondsText(trace.dt);
        (*self)->log(platform::LogLevel::debug,
                     "trigger match: kc=" + std::to_string(trace.kc) +
                         " lastWasTrigger=" + boolText(trace.priorWasTrigger) +
                         " atBoundary=" + boolText(trace.priorAtBoundary) + " dt=" + dt + "s");
        if (trace.didFire) {
            (*self)->log(platform::LogLevel::notice, "DOUBLE-TAP fired (dt=" + dt + "s)");
        }
    });
}

void QNTriggerDoubleTap::postFire() {
    {
        std::lock_guard lock(stateLock_);
        pendingTakeBack_ = PendingTakeBack{};  // erased here
    }
    std::weak_ptr<QNTriggerDoubleTap*> weak = self_;
    executor_->post([weak] {
        if (const auto self = weak.lock()) {
            // Held back: only the first tap reached the application.
            (void)(*self)->seams_.keySynthesis->postKeyPress({deleteKeyCode, 0});
            (*self)->postWatchedFire();
        }
    });
}

void QNTriggerDoubleTap::postWatchedFire() {
    executor_->postAfter(std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::duration<double>(firingDelaySeconds)),
                         [onFire = onFire_] {
                             if (onFire) {
                                 onFire();
                             }
                         });
}

QNTriggerDoubleTap::TakeBack QNTriggerDoubleTap::takeBackTaps() {
    using Outcome = TakeBack::Outcome;
    std::optional<PendingTakeBack> pending;
    {
        std::lock_guard lock(stateLock_);
        pending = std::exchange(pendingTakeBack_, std::nullopt);
    }
    if (!pending) {
        return {};
    }
    if (!pending->eventsAtPair) {
        return {Outcome::taken};
    }
    // The keyboard is held first: a key pressed from now on waits for the Composer, and one
    // pressed before has reached the field, where the look below sees it (where no hold can be
    // had, a key may still come between the look and the BackSpaces).
    auto held = seams_.keyTaps->holdKeys();
    // Whatever the desktop has delivered by now counts: a key that reached the field before the
    // BackSpaces would lose a character to them.
    const bool caughtUp = seams_.keyTaps->catchUp();
    Outcome refused = Outcome::taken;
    {
        // (The keys that followed have set the boundary as they are.)
        std::lock_guard lock(stateLock_);
        if (ownKeysAt_ && *ownKeysAt_ >= *pending->eventsAtPair) {
            refused = Outcome::overtaken;
        } else if (!caughtUp || state_.isSuspended || eventsSeen_ != *pending->eventsAtPair) {
            refused = Outcome::keyFollowed;
        }
    }
    if (refused == Outcome::overtaken) {
        log(platform::LogLevel::notice,
            "DOUBLE-TAP not acted on: keys of ours went to the field after the taps");
        return {refused};  // the hold ends: what it held goes on to the field, after the taps
    }
    if (refused == Outcome::keyFollowed) {
        log(platform::LogLevel::notice, "DOUBLE-TAP not acted on: a key followed the taps");
        return {refused};
    }
    const platform::KeyChord backSpace{deleteKeyCode, 0};
    if (held) {
        const auto through = held->pressThrough(backSpace, 2);
        if (!through.posted) {
            log(platform::LogLevel::error, "DOUBLE-TAP: the taps could not be erased");
            return {Outcome::failed};
        }
        if (through.keyPassed) {
            log(platform::LogLevel::notice,
                "DOUBLE-TAP: a key reached the field in the moment the taps were erased");
        }
        return {Outcome::taken, std::move(held)};
    }
    // Both in one burst: no key of the person's can come between them.
    if (!seams_.keySynthesis->postKeyPresses(backSpace, 2)) {
        log(platform::LogLevel::error, "DOUBLE-TAP: the taps could not be erased");
        return {Outcome::failed};
    }
    return {Outcome::taken};
}

void QNTriggerDoubleTap::log(platform::LogLevel level, std::string message) const {
    seams_.systemLog->write({logSubsystem, logCategory, level, std::move(message)});
}

}  // namespace ravlin
