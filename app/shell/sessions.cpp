// The Composer session: toggle, open, dismiss and commit, and the steps the Quick Fix session
// shares with it.

#include <QCoreApplication>
#include <QKeyEvent>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/editor/view_composition.h"
#include "app/shell/recorders/local_key_monitor.h"
#include "app/shell/session_flows.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "app/target/focus_snapshot.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

const char* boolWord(bool value) {
    return value ? "true" : "false";
}

std::string characters(std::u16string_view text) {
    return std::to_string(text::characterCount(text));
}

// A tap's key down as Qt's key press, for a widget of ours; none for other events.
std::unique_ptr<QKeyEvent> qtKeyPress(const platform::InputEvent& event) {
    namespace flag = platform::eventflag;
    if (event.type != platform::InputEventType::keyDown) {
        return nullptr;
    }
    Qt::KeyboardModifiers modifiers;
    for (const auto& [bit, modifier] : {std::pair{flag::shift, Qt::ShiftModifier},
                                        std::pair{flag::control, Qt::ControlModifier},
                                        std::pair{flag::option, Qt::AltModifier},
                                        std::pair{flag::command, Qt::MetaModifier}}) {
        if ((event.flags & bit) != 0) {
            modifiers |= modifier;
        }
    }
    // The keys that type nothing, by their key codes; the others by what they type.
    static constexpr std::pair<std::uint32_t, Qt::Key> named[] = {
        {36, Qt::Key_Return}, {76, Qt::Key_Enter},  {48, Qt::Key_Tab},    {51, Qt::Key_Backspace},
        {117, Qt::Key_Delete}, {53, Qt::Key_Escape}, {115, Qt::Key_Home}, {119, Qt::Key_End},
        {123, Qt::Key_Left},  {124, Qt::Key_Right}, {125, Qt::Key_Down}, {126, Qt::Key_Up},
    };
    const QString text = QString::fromStdU16String(event.characters);
    int key = Qt::Key_unknown;
    if (const auto* found = std::ranges::find(named, event.keyCode,
                                              &std::pair<std::uint32_t, Qt::Key>::first);
        found != std::end(named)) {
        key = found->second;
    } else if (text.size() == 1 && text[0].unicode() < 0x80) {
        key = text[0].toUpper().unicode();  // Qt's keys for ASCII are its upper-case codes
    } else if (text.isEmpty()) {
        return nullptr;  // a modifier, a function key: nothing the editor takes
    }
    const bool typesText = key != Qt::Key_Backspace && key != Qt::Key_Delete &&
                           key != Qt::Key_Escape && !(key >= Qt::Key_Home && key <= Qt::Key_Down);
    return std::make_unique<QKeyEvent>(QEvent::KeyPress, key, modifiers,
                                       typesText ? text : QString());
}

// Keys into the target, each noted first by `note`.
class NotingKeySynthesis final : public platform::KeySynthesis {
  public:
    NotingKeySynthesis(std::shared_ptr<platform::KeySynthesis> keys, std::function<void()> note)
        : keys_(std::move(keys)), note_(std::move(note)) {}

    platform::Status postKeyDown(platform::KeyChord chord) override {
        note_();
        return keys_->postKeyDown(chord);
    }
    platform::Status postKeyUp(platform::KeyChord chord) override {
        return keys_->postKeyUp(chord);
    }
    platform::Status postText(std::u16string_view text) override {
        note_();
        return keys_->postText(text);
    }
    TextRoom textRoom(std::u16string_view text) override { return keys_->textRoom(text); }
    bool modifiersHeld() override { return keys_->modifiersHeld(); }
    platform::Status postKeyPresses(platform::KeyChord chord, int times) override {
        note_();
        return keys_->postKeyPresses(chord, times);
    }
    platform::Status postKeyPressIf(platform::KeyChord chord,
                                    const platform::KeyCondition& condition) override {
        note_();
        return keys_->postKeyPressIf(chord, condition);
    }

  private:
    std::shared_ptr<platform::KeySynthesis> keys_;
    std::function<void()> note_;
};

}  // namespace

// --- Entry points

void QNCoordinatorApp::toggleHotkey(std::string trigger) {
    if (trigger != "menu" && env_.isDocumentWindow && env_.isDocumentWindow()) {
        logSession(QNKindLog::skipped,
                   "sid=- state=ignored trigger=" + trigger + " reason=ravlin-document-focused",
                   QNLogIssuePolicy::always);
        return;
    }
    logSystem(platform::LogLevel::notice, std::string("toggleHotkey: isPanelOpen=") +
                                              boolWord(isPanelOpen) +
                                              " isOpeningPanel=" + boolWord(isOpeningPanel));
    // A commit pastes into the application the session came from: a new panel now would take
    // the focus the paste is aimed at, and the commit's end would close a session not its own.
    // The person asked for the Composer all the same: it opens once the commit has ended.
    if (isCommitting) {
        openAfterCommit = trigger;
        logSystem(platform::LogLevel::notice,
                  "toggleHotkey: a commit is under way; the Composer opens once it has ended");
        return;
    }
    if (isPanelOpen) {
        dismissPanel("toggle-" + trigger);
    } else if (!isOpeningPanel) {
        SessionFlows::post(
            *this, [weak = weak_from_this(), trigger] { SessionFlows::openPanel(weak, trigger); });
    }
}

void QNCoordinatorApp::dismissPanel(std::string reason) {
    // While a commit runs the panel belongs to it (the resign handler checks the same).
    if (!isPanelOpen || isCommitting) {
        return;
    }
    cancelQuickFixAutoCommit();
    logSystem(platform::LogLevel::notice, "dismissPanel: reason=" + reason);
    const std::string prefix = "sid=" + panelSessionID.value_or("-");
    if (const auto text = textController->string(); text == quickFixCapturedText) {
        SessionFlows::clearDraft(*this);
    } else {
        SessionFlows::preserveDraft(*this, text);
    }
    isPanelOpen = false;
    SessionFlows::liftDoubleTapSuspension(*this);
    if (composer) {
        composer->cancelCorrections("panel-" + reason);
    }
    SessionFlows::closePanelWindow(*this);
    logSession(QNKindLog::system, prefix + " state=cancelled reason=" + reason);
    SessionFlows::endSession(*this);
}

void QNCoordinatorApp::requestCommit() {
    if (!isPanelOpen || isCommitting) {
        return;
    }
    cancelQuickFixAutoCommit();
    isCommitting = true;
    SessionFlows::post(*this, [weak = weak_from_this(), target = sourceApp,
                               replacing = sourceSelection, place = sourcePlace] {
        SessionFlows::commitPanel(weak, target, replacing, place);
    });
}

void QNCoordinatorApp::cancelQuickFixAutoCommit() {
    if (quickFixAutoCommitTask) {
        quickFixAutoCommitTask->stop.request_stop();
    }
    quickFixAutoCommitTask.reset();
    quickFixAutoCommitSessionID.reset();
}

// --- Flows

QCoro::Task<> QNCoordinatorApp::SessionFlows::openPanel(Weak weak, std::string trigger) {
    auto self = weak.lock();
    // Two triggers in one turn of the sequence post two opens; the second finds the first done
    // (a capture that needs no fallback does not wait) and must not open over it.
    if (!self || self->isOpeningPanel || self->isPanelOpen || self->isCommitting ||
        !self->composer) {
        co_return;
    }
    self->isOpeningPanel = true;
    self->cancelQuickFixAutoCommit();
    if (!checkTrust(*self)) {
        self->isOpeningPanel = false;
        co_return;
    }

    self->logSystem(platform::LogLevel::notice, "openPanel: capturing focus snapshot");
    const TargetSeams seams = targetSeams(*self);
    // Where the caret probe has to type, a person going on typing straight after the shortcut
    // must not type into the field between its character and its take-back: from then on what
    // they type is the panel's, held until it has the keyboard. (The typed pair's letters are
    // taken back only once the capture is over, and a key after them is the word going on:
    // after the pair nothing is held, and the probe types nothing.)
    QNModelFocusSnapshot::ProbeKeys probeKeys;
    if (trigger == "hotkey") {
        probeKeys = [weak]() -> std::shared_ptr<platform::KeyHold> {
            const auto app = weak.lock();
            if (!app) {
                return nullptr;
            }
            if (!app->heldKeys_) {
                app->heldKeys_ = app->env_.seams.keyTaps->holdKeys();
            }
            return app->heldKeys_;
        };
    }
    auto capture = QNModelFocusSnapshot::capture(seams, seams.ending, trigger == "hotkey",
                                                 std::move(probeKeys));
    self.reset();
    const QNModelFocusSnapshot snapshot = co_await capture;
    self = resumed(weak);
    if (!self) {
        co_return;
    }
    auto& app = *self;
    const std::string bundle = orUnknown(snapshot.appBundleID);
    app.logSystem(
        platform::LogLevel::notice,
        "openPanel: snapshot app=" + bundle + " isSecureInput=" + boolWord(snapshot.isSecureInput));

    // The typed pair's letters go only now, as late as they can before the panel takes the
    // keyboard, and only if no key has followed them (that key was the word going on). What is
    // typed from the BackSpaces on is the panel's: held until it has the keyboard.
    if (trigger == "double-tap" && !snapshot.isSecureInput) {
        using Outcome = QNTriggerDoubleTap::TakeBack::Outcome;
        auto back = app.doubleTap ? app.doubleTap->takeBackTaps() : QNTriggerDoubleTap::TakeBack{};
        if (back.outcome != Outcome::taken) {
            // Only a key of the person's is worth a line: the other refusals leave the letters
            // where the person sees them, as a refused pair always does.
            if (back.outcome == Outcome::keyFollowed) {
                app.logSession(QNKindLog::skipped,
                               "sid=- state=ignored trigger=double-tap reason=key-followed");
            }
            app.isOpeningPanel = false;
            co_return;
        }
        app.heldKeys_ =
            back.heldKeys ? std::move(back.heldKeys) : app.env_.seams.keyTaps->holdKeys();
    }
    const std::string sessionID = nextSessionID(app);
    const std::string prefix = "sid=" + sessionID;
    if (snapshot.isSecureInput) {
        app.logSession(QNKindLog::skipped,
                       prefix + " state=blocked trigger=" + trigger + " source=" + bundle +
                           " secure_input=true reason=secure-input",
                       QNLogIssuePolicy::always);
        // A shortcut refused says why, as Quick Fix does (a refused pair says nothing: its
        // letters stay where the person sees them).
        if (trigger != "double-tap") {
            showQuickFixHUD(app, QNQuickFixHUDKind::secureRefused, "Composer isn't available here");
        }
        app.isOpeningPanel = false;
        co_return;
    }
    // A person goes on typing straight after the shortcut: from here on what is typed is the
    // panel's, held until it has the keyboard (before, the focused field had to be read).
    if (trigger == "hotkey" && !app.heldKeys_) {
        app.heldKeys_ = app.env_.seams.keyTaps->holdKeys();
    }

    // The program is never its own target: opened over a window it cannot tell the process of,
    // or over one of its own, the Composer has nowhere to paste.
    app.sourceApp = snapshot.app.pid != app.env_.seams.workspace->currentApplication().pid
                        ? std::optional(snapshot.app)
                        : std::nullopt;
    app.sourceSelection = QNPasteSelection::seededBy(snapshot);
    app.quickFixCapturedText.reset();
    app.sessionDraftPlace.reset();
    std::optional<std::u16string> seed;
    if (snapshot.selectionText) {
        // What the person sees of it: an object the selection takes in (an image; a part some
        // fields show only as an object replacement character) has no text to seed with.
        std::u16string shown = *snapshot.selectionText;
        std::erase(shown, u'\uFFFC');
        if (!text::isBlank(shown)) {
            seed = std::move(shown);
        }
    }
    app.composer->reset(seed || app.preservedDraft ? QNServiceComposer::ViewText::beginFollows
                                                   : QNServiceComposer::ViewText::emptied);
    app.composer->setLogSessionID(sessionID);
    app.panelSessionID = sessionID;

    const std::string opened =
        " trigger=" + trigger + " source=" + bundle +
        " secure_input=false role=" + orUnknown(snapshot.focusedRole) +
        " selection_source=" + std::string(toString(snapshot.selectionSource));
    if (seed) {
        clearDraft(app);
        app.composer->begin(*seed, true, QNPlacementCaret::visibleEnd,
                            QNComposerCorrectionPolicy::existingText);
        app.logSession(QNKindLog::system,
                       prefix + " state=opened" + opened + " selection_chars=" + characters(*seed));
    } else if (app.preservedDraft) {
        const std::u16string draft = *app.preservedDraft;
        // A Quick Fix's correction goes only over the text it was made of, where that stands,
        // when the Composer opens in its application again. A draft carries its text, never a
        // target: opened over another application it goes where the Composer was opened now.
        if (app.preservedDraftPlace && app.sourceApp &&
            app.sourceApp->pid == app.preservedDraftPlace->app.pid) {
            app.sourceApp = app.preservedDraftPlace->app;
            app.sourceSelection = app.preservedDraftPlace->replacing;
            app.sessionDraftPlace = app.preservedDraftPlace;
        }
        app.composer->begin(draft, false, QNPlacementCaret::end,
                            app.preservedDraftCorrectionPolicy);
        app.logSession(QNKindLog::system, prefix + " state=reopened" + opened +
                                              " preserved_draft_chars=" + characters(draft));
    } else {
        app.logSession(QNKindLog::system, prefix + " state=opened" + opened + " selection_chars=0");
    }
    presentPanel(app, prefix, snapshot, "panel-dismiss");
    app.sayCloudNotSetUpOnce();
    if (app.heldKeys_) {
        handHeldKeysToPanel(app);
    }
    app.isOpeningPanel = false;
}

QCoro::Task<> QNCoordinatorApp::SessionFlows::commitPanel(
    Weak weak, std::optional<platform::RunningApplication> target,
    std::optional<QNPasteSelection> replacing, QNPastePlace place) {
    auto self = weak.lock();
    if (!self) {
        co_return;
    }
    if (!self->composer) {
        endCommit(*self);
        co_return;
    }
    const std::optional<std::string> sessionID = self->panelSessionID;
    const std::string prefix = "sid=" + sessionID.value_or("-");
    auto polish = self->composer->polishBeforeCommit(kCommitPolishTimeout);
    self.reset();
    const std::u16string polished = co_await polish;
    // Untrimmed: the user's leading and trailing spaces are theirs to paste.
    const std::u16string commitText = text::isBlank(polished) ? std::u16string() : polished;
    self = resumed(weak);
    if (!self) {
        if (target) {
            co_await leaveCommitAtExit(weak, commitText, prefix);
        }
        co_return;
    }

    // Whether the session this commit was made for is still the coordinator's.
    const auto ours = [&] { return self->panelSessionID == sessionID; };
    // Looked at while the panel still has the keyboard (see QNPastePlace).
    place.fieldClaimedWhileAway =
        target && place.field &&
        QNQuickFixHostLiveDriver::focusedElementRef(*self->env_.seams.accessibility,
                                                    target->pid) == place.field;
    if (ours()) {
        self->isPanelOpen = false;
        liftDoubleTapSuspension(*self);
        closePanelWindow(*self);
    }

    if (!target) {
        if (ours()) {
            preserveDraft(*self, commitText);
        }
        if (!commitText.empty()) {
            showHeadsUp(*self, noTargetHeadsUp());
        }
        self->logSession(QNKindLog::error, prefix + " state=commit_failed reason=no-target-app");
    } else if (commitText.empty()) {
        if (ours()) {
            clearDraft(*self);
        }
        self->logSession(QNKindLog::skipped, prefix + " state=commit_skipped reason=empty-text");
    } else {
        self->logSession(QNKindLog::system, prefix + " state=committing " + characters(commitText) +
                                                " chars target=" + orUnknown(target->identity) +
                                                " method=paste");
        const TargetSeams seams = writingSeams(*self);
        auto paste = QNModelPasteboardSnapshot::paste(seams, commitText, *target, seams.ending,
                                                      std::move(replacing), place);
        self.reset();
        const QNPasteOutcome outcome = co_await paste;
        self = resumed(weak);
        if (!self) {
            // Cut short before the chord by the program's end, the text is not in the target.
            // (A text left on the clipboard, or a chord that went out, is the target's or the
            // person's already.)
            const auto result = outcome.result;
            if (result == QNPasteResult::activationFailed ||
                result == QNPasteResult::pasteFailed || result == QNPasteResult::selectionLost ||
                result == QNPasteResult::clipboardUnsaved ||
                result == QNPasteResult::keyboardElsewhere ||
                result == QNPasteResult::passwordField) {
                co_await leaveCommitAtExit(weak, commitText, prefix);
            }
            co_return;
        }
        // The paste chord reached the tap as a shortcut, which says "no boundary"; the caret
        // now stands after the text, which may well end in one.
        forgetTypedBoundary(*self);
        // The draft goes only once the text is known to have arrived.
        const QNPasteResult result = outcome.result;
        const std::string reason(outcome.reason);
        // Only what was done: the user's contents back, a newer copy of theirs left standing,
        // or a put-back that could not be confirmed.
        const std::string restored =
            " pasteboard_restore=" + std::string(platform::toString(outcome.restore));
        if (result == QNPasteResult::pasted) {
            if (ours()) {
                clearDraft(*self);
            }
            self->logSession(QNKindLog::applied,
                             prefix + " state=committed method=paste" + restored);
        } else if (result == QNPasteResult::leftOnClipboard) {
            // The text waits on the clipboard for the user to paste, and in the draft.
            if (ours()) {
                preserveDraft(*self, commitText);
            }
            showHeadsUp(*self, textOnClipboardHeadsUp(outcome.chordName));
            self->logSession(QNKindLog::error, prefix + " state=commit_failed reason=" + reason +
                                                   " pasteboard_restore=deferred");
        } else if (result == QNPasteResult::pastedInPart) {
            // Only its beginning arrived: the whole text stays as the draft, and the person is
            // told so; it is never offered for pasting again.
            if (ours()) {
                preserveDraft(*self, commitText);
            }
            showHeadsUp(*self, pastedInPartHeadsUp());
            self->logSession(QNKindLog::error, prefix +
                                                   " state=commit_partial method=paste reason=" +
                                                   reason + restored);
        } else if (result == QNPasteResult::sentUnconfirmed) {
            // In the target's hands (what a terminal's paste guard then asks is the terminal's,
            // in front of the person): kept nowhere, so that it is never sent twice. Only where
            // nobody can tell who took it does it stay, and the person is told.
            if (ours()) {
                if (outcome.takenByTarget) {
                    clearDraft(*self);
                } else {
                    preserveDraft(*self, commitText);
                }
            }
            if (!outcome.takenByTarget) {
                showHeadsUp(*self, arrivalUnknownHeadsUp());
            }
            self->logSession(QNKindLog::system, prefix +
                                                    " state=commit_sent method=paste reason=" +
                                                    reason + restored);
        } else if (result == QNPasteResult::clipboardUnsaved) {
            // The user's clipboard was never touched: nothing was pasted, and they are told.
            if (ours()) {
                preserveDraft(*self, commitText);
            }
            showHeadsUp(*self, clipboardUnsavedHeadsUp(reason));
            self->logSession(QNKindLog::error, prefix + " state=commit_failed reason=" + reason +
                                                   " pasteboard_restore=untouched");
        } else if (result == QNPasteResult::clipboardChanged) {
            // The user copied meanwhile: their copy stands, the text is kept.
            if (ours()) {
                preserveDraft(*self, commitText);
            }
            showHeadsUp(*self, clipboardChangedHeadsUp());
            self->logSession(QNKindLog::error,
                             prefix + " state=commit_failed reason=clipboard-changed" + restored);
        } else if (result == QNPasteResult::notPasted) {
            // The chord went out and the text did not arrive; the person's copy, made meanwhile,
            // stands on the clipboard. The text is kept.
            if (ours()) {
                preserveDraft(*self, commitText);
            }
            showHeadsUp(*self, clipboardChangedHeadsUp());
            self->logSession(QNKindLog::error,
                             prefix + " state=commit_failed reason=" + reason + restored);
        } else if (result == QNPasteResult::keyboardElsewhere ||
                   result == QNPasteResult::passwordField) {
            // Not where the Composer was opened (a dialog the application raised, a page's own
            // prompt, another input, a new tab, a password prompt): nothing was pasted, the text
            // is kept, and the person is told where the keyboard was.
            if (ours()) {
                preserveDraft(*self, commitText);
            }
            const bool password = result == QNPasteResult::passwordField;
            showHeadsUp(*self, password ? passwordFieldHeadsUp()
                                        : keyboardElsewhereHeadsUp(outcome.reason));
            self->logSession(QNKindLog::error,
                             prefix + " state=commit_failed reason=" +
                                 (password ? "secure-input" : "keyboard-elsewhere") + restored);
        } else {
            if (ours()) {
                preserveDraft(*self, commitText);
                // A correction kept to go over the text it was made of: that text is not there.
                if (result == QNPasteResult::selectionLost && self->sessionDraftPlace) {
                    showHeadsUp(*self, draftPlaceGoneHeadsUp());
                }
            }
            const char* reason = result == QNPasteResult::activationFailed ? "activate-target"
                                 : result == QNPasteResult::selectionLost
                                     ? "restore-target-selection"
                                     : "send-paste-keystroke";
            self->logSession(QNKindLog::error,
                             prefix + " state=commit_failed reason=" + reason + restored);
        }
    }
    if (ours()) {
        endSession(*self);
    }
    endCommit(*self);
}

QCoro::Task<> QNCoordinatorApp::SessionFlows::leaveCommitAtExit(Weak weak, std::u16string text,
                                                                std::string prefix) {
    auto self = weak.lock();
    if (!self || text.empty()) {
        co_return;
    }
    TargetSeams seams = targetSeams(*self);
    seams.ending = self->gone_.get_token();
    auto leave = QNModelPasteboardSnapshot::leaveAtExit(seams, std::move(text));
    self.reset();
    const bool left = co_await leave;
    if (const auto app = weak.lock()) {
        app->logSession(QNKindLog::error, prefix + " state=commit_failed reason=quit" +
                                              (left ? " pasteboard_restore=deferred"
                                                    : " pasteboard_restore=untouched"));
    }
}

// --- Shared steps

void QNCoordinatorApp::SessionFlows::post(QNCoordinatorApp& app, std::function<void()> task) {
    app.env_.executor->post(std::move(task));
}

bool QNCoordinatorApp::SessionFlows::checkTrust(QNCoordinatorApp& app) {
    if (app.freshTrustCheck()) {
        return true;
    }
    if (!app.permissions->hasEverBeenTrusted()) {
        (void)requestAccessibility(app.env_.seams);
    }
    // The settings' General pane says what is missing and holds the Grant Access row.
    if (app.env_.showSettingsWindow) {
        app.env_.showSettingsWindow(QNModelSettingsPane::general);
    }
    return false;
}

std::string QNCoordinatorApp::SessionFlows::nextSessionID(QNCoordinatorApp& app) {
    ++app.panelSessionCounter;
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "s%03d", app.panelSessionCounter);
    return buffer;
}

void QNCoordinatorApp::SessionFlows::preserveDraft(QNCoordinatorApp& app,
                                                   const std::u16string& text) {
    if (text::isBlank(text)) {
        clearDraft(app);
        return;
    }
    app.preservedDraft = text;
    app.preservedDraftCorrectionPolicy = app.composer ? app.composer->correctionPolicy.get()
                                                      : QNComposerCorrectionPolicy::liveTyping;
    app.preservedDraftPlace = app.sessionDraftPlace;
}

void QNCoordinatorApp::SessionFlows::clearDraft(QNCoordinatorApp& app) {
    app.preservedDraft.reset();
    app.preservedDraftCorrectionPolicy = QNComposerCorrectionPolicy::liveTyping;
    app.preservedDraftPlace.reset();
}

void QNCoordinatorApp::SessionFlows::presentPanel(QNCoordinatorApp& app,
                                                  const std::string& prefix,
                                                  const QNModelFocusSnapshot& snapshot,
                                                  std::string dismissReason) {
    app.logSession(
        QNKindLog::system,
        prefix + " anchor: " + (snapshot.anchor ? snapshot.anchor->logDescription() : "none"));
    app.sourcePlace = {.window = snapshot.window, .field = snapshot.focusedElement};
    app.panel->resignHandler = [weak = app.weak_from_this(), reason = std::move(dismissReason)] {
        const auto coordinator = weak.lock();
        if (coordinator && !coordinator->isCommitting && !takeKeyboardBack(*coordinator)) {
            coordinator->dismissPanel(reason);
        }
    };
    watchForPersonLeavingPanel(app);
    app.panel->positionNear(snapshot.anchor ? std::optional(snapshot.anchor->rect)
                                            : std::nullopt);
    // Activating the panel's own window is what brings this application to the front here:
    // asking the desktop to activate the process would raise whichever of its windows is
    // topmost (the settings window, when open), which would take the focus from the panel.
    app.panel->makeKeyAndOrderFront();
    app.composerBorderAnimationTrigger->fire();

    app.isPanelOpen = true;
    if (app.doubleTap) {
        app.doubleTap->suspend();
    }
    if (app.quickFixDoubleTap) {
        app.quickFixDoubleTap->suspend();
    }
    focusTextViewSoon(app);
}

namespace {

// A key going down that types, Shift included: one a person types into the panel, not a chord
// with Ctrl, Alt or Super (a window manager's, or one that takes them elsewhere). A modifier let
// go and a key repeating are no key at all. Told as the taps and the panel's own window see it.
enum class PersonsKey { none, typing, chord };

PersonsKey personsKey(const platform::InputEvent& event) {
    using platform::InputEventType;
    namespace flag = platform::eventflag;
    constexpr std::uint64_t modifierFlags =
        flag::shift | flag::control | flag::option | flag::command;
    const bool down =
        (event.type == InputEventType::flagsChanged && (event.flags & modifierFlags) != 0) ||
        (event.type == InputEventType::keyDown && !event.isRepeat);
    if (!down) {
        return PersonsKey::none;
    }
    return (event.flags & (flag::control | flag::option | flag::command)) != 0 ? PersonsKey::chord
                                                                               : PersonsKey::typing;
}

}  // namespace

void QNCoordinatorApp::SessionFlows::watchForPersonLeavingPanel(QNCoordinatorApp& app) {
    using platform::InputEventType;
    app.panelLeaveTap_.stop();
    app.panelKeysSeen_.reset();
    app.personMayHaveLeftPanel_ = false;
    app.panelKeysTyped_ = 0;
    app.panelKeysTypedInto_ = 0;
    app.panelKeyboardTakenBack_ = 0;
    app.panelOpenedAt_ = app.env_.executor->now();
    auto& taps = *app.env_.seams.keyTaps;
    // What was pressed before (the chord that opened the panel) goes to the taps already running.
    taps.catchUp();
    constexpr std::uint64_t keys = platform::eventMaskBit(InputEventType::keyDown) |
                                   platform::eventMaskBit(InputEventType::flagsChanged);
    constexpr std::uint64_t mask = keys | platform::eventMaskBit(InputEventType::leftMouseDown) |
                                   platform::eventMaskBit(InputEventType::rightMouseDown) |
                                   platform::eventMaskBit(InputEventType::otherMouseDown) |
                                   platform::eventMaskBit(InputEventType::mouseMoved) |
                                   platform::eventMaskBit(InputEventType::touchBegan);
    // A key typed is the person leaving only where it did not reach the panel (a key a window
    // manager binds): the keys our own windows got are counted beside those the taps saw.
    app.panelKeysSeen_ = QNQtLocalKeyMonitor(nullptr).add(
        keys, [weak = app.weak_from_this()](const platform::InputEvent& event) {
            if (const auto self = weak.lock(); self && personsKey(event) == PersonsKey::typing) {
                ++self->panelKeysTypedInto_;
            }
            return false;
        });
    auto tap =
        taps.startTap(mask, [weak = app.weak_from_this()](const platform::InputEvent& event) {
            const auto self = weak.lock();
            if (!self || event.isOwn) {
                return platform::TapVerdict::pass;
            }
            const bool key =
                event.type == InputEventType::keyDown || event.type == InputEventType::flagsChanged;
            const auto kind = personsKey(event);
            if (key && kind != PersonsKey::chord) {
                self->panelKeysTyped_ += kind == PersonsKey::typing ? 1 : 0;
                return platform::TapVerdict::pass;
            }
            self->personMayHaveLeftPanel_ = true;
            self->panelLeaveTap_.stop();
            return platform::TapVerdict::pass;
        });
    if (tap) {
        app.panelLeaveTap_ = std::move(*tap);
        app.panelLeaveTap_.setEnabled(true);
    }
}

bool QNCoordinatorApp::SessionFlows::takeKeyboardBack(QNCoordinatorApp& app) {
    auto& seams = app.env_.seams;
    // What the person did up to now has reached the watch.
    if (app.panelLeaveTap_.isEnabled()) {
        seams.keyTaps->catchUp();
    }
    const auto front = seams.workspace->frontmostApplication();
    const auto window = seams.workspace->frontmostWindow();
    const char* refused = nullptr;
    // (keys typed into the panel are the person typing there)
    if (app.personMayHaveLeftPanel_ || app.panelKeysTyped_ > app.panelKeysTypedInto_) {
        refused = "the person's own input came";
    } else if (!app.panelLeaveTap_.isEnabled()) {
        refused = "the person's input cannot be watched";
    } else if (!app.sourceApp || !front || front->pid != app.sourceApp->pid) {
        refused = "another application has it";
    } else if (!app.sourcePlace.window || window != app.sourcePlace.window) {
        refused = "another window has it";
    } else if (app.sourcePlace.field &&
               QNQuickFixHostLiveDriver::focusedElementRef(*seams.accessibility, front->pid) !=
                   app.sourcePlace.field) {
        // A tab, a page's prompt, a dialog inside the window: not the field it was opened over.
        refused = "another field has it";
    } else if (app.env_.executor->now() - app.panelOpenedAt_ > panelTakeBackWithin) {
        refused = "the panel has been open too long";
    } else if (app.panelKeyboardTakenBack_ >= panelTakeBackLimit) {
        refused = "taken back too often";
    }
    if (refused != nullptr) {
        app.logSystem(platform::LogLevel::notice,
                      std::string("panel: the keyboard went elsewhere; not taken back: ") +
                          refused);
        return false;
    }
    ++app.panelKeyboardTakenBack_;
    app.logSystem(platform::LogLevel::notice,
                  "panel: the application it was opened from took the keyboard by itself; "
                  "taken back");
    bringPanelBack(app);
    return true;
}

void QNCoordinatorApp::SessionFlows::bringPanelBack(QNCoordinatorApp& app) {
    app.panel->makeKeyAndOrderFront();
    if (auto* view = app.textController->textView()) {
        view->setFocus();
    }
}

void QNCoordinatorApp::SessionFlows::focusTextViewSoon(QNCoordinatorApp& app) {
    post(app, [weak = app.weak_from_this()] {
        const auto self = weak.lock();
        if (!self || !self->textController) {
            return;
        }
        if (auto* view = self->textController->textView()) {
            view->setFocus();
        }
    });
}

void QNCoordinatorApp::SessionFlows::handHeldKeysToPanel(QNCoordinatorApp& app) {
    auto waited = std::make_shared<std::chrono::milliseconds>(0);
    auto check = std::make_shared<std::function<void()>>();
    *check = [weak = app.weak_from_this(), waited, weakCheck = std::weak_ptr(check)] {
        const auto self = weak.lock();
        const auto again = weakCheck.lock();
        if (!self || !again || !self->heldKeys_) {
            return;
        }
        const auto* view = self->textController ? self->textController->textView() : nullptr;
        const bool ready = self->panel->isActiveWindow() && view != nullptr && view->hasFocus();
        if (!ready && self->isPanelOpen && *waited < heldKeysLimit) {
            *waited += heldKeysPoll;
            self->env_.executor->postAfter(heldKeysPoll, [again] { (*again)(); });
            return;
        }
        if (!ready) {
            // No panel to take them: on, as well as the desktop can, to wherever the keyboard is.
            self->logSystem(platform::LogLevel::notice,
                            "panel: the keys held for it went on to wherever the keyboard is; "
                            "the panel did not take the keyboard");
            self->heldKeys_.reset();
            return;
        }
        const auto events = self->heldKeys_->release();
        self->heldKeys_.reset();
        // Typed into the editor as if they had come to it.
        auto* editor = self->textController->textView();
        for (const auto& event : events) {
            if (const auto key = qtKeyPress(event)) {
                QCoreApplication::sendEvent(editor, key.get());
            }
        }
    };
    // Held by the posted tasks only: it goes with the last of them.
    post(app, [check] { (*check)(); });
}

void QNCoordinatorApp::SessionFlows::closePanelWindow(QNCoordinatorApp& app) {
    // Removed first: ordering out gives up the focus, which would call it.
    app.panel->resignHandler = nullptr;
    app.panelLeaveTap_.stop();
    app.panelKeysSeen_.reset();
    app.panel->anchorEdge.reset();
    app.panel->orderOut();
}

void QNCoordinatorApp::SessionFlows::liftDoubleTapSuspension(QNCoordinatorApp& app) {
    if (app.doubleTap) {
        app.doubleTap->resume();
    }
    if (app.quickFixDoubleTap) {
        app.quickFixDoubleTap->resume();
    }
}

void QNCoordinatorApp::SessionFlows::endCommit(QNCoordinatorApp& app) {
    app.isCommitting = false;
    const auto trigger = std::exchange(app.openAfterCommit, std::nullopt);
    if (!trigger || app.isPanelOpen || app.isOpeningPanel) {
        return;
    }
    app.logSystem(platform::LogLevel::notice,
                  "openPanel: the commit has ended; opening for trigger=" + *trigger);
    post(app, [weak = app.weak_from_this(), trigger = *trigger] { openPanel(weak, trigger); });
}

void QNCoordinatorApp::SessionFlows::forgetTypedBoundary(QNCoordinatorApp& app) {
    if (app.doubleTap) {
        app.doubleTap->forgetBoundary();
    }
}

void QNCoordinatorApp::SessionFlows::endSession(QNCoordinatorApp& app) {
    app.panelSessionID.reset();
    app.quickFixCapturedText.reset();
    app.sessionDraftPlace.reset();
    if (app.composer) {
        app.composer->setLogSessionID(std::nullopt);
    }
}

std::shared_ptr<QNCoordinatorApp> QNCoordinatorApp::SessionFlows::resumed(const Weak& weak) {
    auto self = weak.lock();
    if (self && self->ending_.stop_requested()) {
        return nullptr;
    }
    return self;
}

TargetSeams QNCoordinatorApp::SessionFlows::targetSeams(QNCoordinatorApp& app) {
    if (!app.quickFixPasteboardManager_) {
        app.quickFixPasteboardManager_ =
            QNQuickFixPasteboardManager::create(app.env_.seams.pasteboard, app.env_.executor);
        // A flow that could not save the user's clipboard leaves it alone, and says why.
        app.quickFixPasteboardManager_->onSaveRefused =
            [weak = app.weak_from_this()](platform::PasteboardSaveFailure failure) {
                if (const auto self = weak.lock()) {
                    self->logSession(QNKindLog::error,
                                     "sid=" + self->panelSessionID.value_or("-") +
                                         " state=pasteboard_unsaved reason=" +
                                         std::string(platform::toString(failure)) +
                                         " pasteboard_restore=untouched");
                }
            };
        app.clipboardTrouble_ = app.env_.seams.pasteboard->observeTrouble(
            [weak = app.weak_from_this()](const std::string& line) {
                if (const auto self = weak.lock()) {
                    self->logSession(QNKindLog::system, "sid=- state=clipboard_trouble " + line);
                }
            });
    }
    auto seams = TargetSeams::from(app.context(), app.quickFixPasteboardManager_);
    seams.ending = app.ending_.get_token();
    return seams;
}

TargetSeams QNCoordinatorApp::SessionFlows::writingSeams(QNCoordinatorApp& app) {
    TargetSeams seams = targetSeams(app);
    seams.keySynthesis = std::make_shared<NotingKeySynthesis>(
        std::move(seams.keySynthesis), [weak = app.weak_from_this()] {
            if (const auto self = weak.lock(); self && self->doubleTap) {
                self->doubleTap->ownKeysToField();
            }
        });
    return seams;
}

std::string QNCoordinatorApp::SessionFlows::orUnknown(const std::optional<std::string>& value) {
    return value && !value->empty() ? *value : "?";
}

}  // namespace ravlin
