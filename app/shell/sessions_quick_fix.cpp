// The Quick Fix session: capture and open, then the auto-commit that writes the settled
// correction back into the field it came from.

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/shell/session_flows.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "app/target/focus_snapshot.h"
#include "app/target/quick_fix_host_driver.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

// Ends the refusal of a Quick Fix: the trigger works again unless a panel holds the session.
void endRefusedOpen(QNCoordinatorApp& app) {
    app.isOpeningPanel = false;
    if (!app.isPanelOpen && app.quickFixDoubleTap) {
        app.quickFixDoubleTap->resume();
    }
}

// Whether the application's focused element is known and takes no typing.
bool noTextFieldFocused(QNQuickFixHostDriver& driver, const platform::RunningApplication& app) {
    const auto focused = driver.focusedElement(app);
    return focused && !focused->isSecure && !QNServiceQuickFixHost::isTextField(driver, *focused);
}

// Marks the auto-commit as ended, however its coroutine ends.
struct RunningFlag {
    std::shared_ptr<bool> running;
    ~RunningFlag() {
        if (running) {
            *running = false;
        }
    }
};

}  // namespace

void QNCoordinatorApp::handleQuickFixTrigger(std::string source) {
    if (source != "menu" && env_.isDocumentWindow && env_.isDocumentWindow()) {
        logSession(
            QNKindLog::skipped,
            "sid=- state=quick_fix_ignored trigger=" + source + " reason=ravlin-document-focused",
            QNLogIssuePolicy::always);
        return;
    }
    if (isPanelOpen || isOpeningPanel || isCommitting) {
        logSystem(platform::LogLevel::notice,
                  "handleQuickFixTrigger: a session is open or under way; nothing started");
        return;
    }
    isOpeningPanel = true;
    if (quickFixDoubleTap) {
        quickFixDoubleTap->suspend();
    }
    SessionFlows::post(
        *this, [weak = weak_from_this(), source] { SessionFlows::startQuickFix(weak, source); });
}

QCoro::Task<> QNCoordinatorApp::SessionFlows::startQuickFix(Weak weak, std::string trigger) {
    auto self = weak.lock();
    if (!self) {
        co_return;
    }
    if (!self->composer || !checkTrust(*self)) {
        endRefusedOpen(*self);
        co_return;
    }

    const TargetSeams seams = targetSeams(*self);
    auto driver = std::make_shared<QNQuickFixHostLiveDriver>(seams);
    // Where the keyboard is in no text field (a page, a button), nothing there is read, copied
    // or typed into: only the heads-up says so.
    if (const auto front = seams.workspace->frontmostApplication();
        front && front->pid != seams.workspace->currentApplication().pid &&
        seams.secureInput->state() != platform::SecureInput::State::on &&
        noTextFieldFocused(*driver, *front)) {
        refuseQuickFix(*self, trigger,
                       front->identity.empty() ? std::nullopt : std::optional(front->identity),
                       noTextFieldHeadsUp(), "no-target-text");
        co_return;
    }
    auto capture = QNModelFocusSnapshot::capture(seams, seams.ending);
    self.reset();
    const QNModelFocusSnapshot snapshot = co_await capture;
    if (seams.ending.stop_requested()) {
        co_return;
    }
    const std::optional<QNQuickFixHostSession> session =
        co_await QNServiceQuickFixHost::beginSession(snapshot, driver, seams.ending);
    self = resumed(weak);
    if (!self) {
        co_return;
    }
    auto& app = *self;

    if (!session) {
        QNQuickFixHUDKind kind = QNQuickFixHUDKind::noTarget;
        std::string reason = "no-target-text";
        // Secure input may be known without a focused element's role (the field last reported).
        switch (snapshot.isSecureInput
                    ? QNQuickFixRoute::secureInput
                    : QNServiceQuickFixHost::route(snapshot.appBundleID, snapshot.focusedRole)) {
            case QNQuickFixRoute::terminal:
                kind = QNQuickFixHUDKind::terminalRefused;
                reason = "terminal-not-supported";
                break;
            case QNQuickFixRoute::secureInput:
                kind = QNQuickFixHUDKind::secureRefused;
                reason = "secure-input";
                break;
            default:
                break;
        }
        const bool noField =
            kind == QNQuickFixHUDKind::noTarget && noTextFieldFocused(*driver, snapshot.app);
        refuseQuickFix(app, trigger, snapshot.appBundleID,
                       noField ? noTextFieldHeadsUp()
                               : QNHeadsUp{kind, hudTitle(kind), hudMessage(kind)},
                       reason);
        co_return;
    }

    const std::string sessionID = nextSessionID(app);
    const std::string prefix = "sid=" + sessionID;

    app.cancelQuickFixAutoCommit();
    app.sourceApp = session->app;
    // A commit by hand pastes over what the Quick Fix captured: its selection, else the whole
    // value of the field.
    app.sourceSelection = QNPasteSelection{
        session->originalText,
        session->strategy.kind == QNQuickFixReplacementStrategy::Kind::currentSelection
            ? session->strategy.range
            : std::optional(text::Utf16Range{
                  0, static_cast<std::int64_t>(session->originalText.size())})};
    app.quickFixCapturedText = session->originalText;
    clearDraft(app);
    // Its text, if it does not arrive, is kept only to go over the text read, where that stands.
    app.sessionDraftPlace = DraftPlace{session->app, *app.sourceSelection};
    app.composer->reset(QNServiceComposer::ViewText::beginFollows);
    app.composer->setLogSessionID(sessionID);
    app.panelSessionID = sessionID;
    // A field's whole text is finished: its last word is corrected as Return would.
    using Strategy = QNQuickFixReplacementStrategy;
    const bool wholeField =
        session->strategy == Strategy::focusedValue() ||
        session->strategy == Strategy::changedText(
                                 {0, static_cast<std::int64_t>(session->originalText.size())});
    app.composer->begin(session->originalText, true, QNPlacementCaret::visibleEnd,
                        QNComposerCorrectionPolicy::existingText, wholeField);
    app.logSession(
        QNKindLog::system,
        prefix + " state=quick_fix_opened trigger=" + trigger +
            " source=" + orUnknown(session->bundleID) + " role=" + orUnknown(session->role) +
            " capture=" + std::string(toString(session->captureMethod)) +
            " route=" + std::string(toString(session->route)) +
            " target_chars=" + std::to_string(text::characterCount(session->originalText)));
    presentPanel(app, prefix, snapshot, "quick-fix-panel-dismiss");

    app.quickFixAutoCommitSessionID = sessionID;
    app.quickFixAutoCommitTask = AutoCommitTask{};
    post(app, [weak, sessionID, session = *session, trigger, driver,
               stop = app.quickFixAutoCommitTask->stop.get_token(),
               running = app.quickFixAutoCommitTask->running] {
        runQuickFixAutoCommit(weak, sessionID, session, trigger, driver, stop, running);
    });
    app.isOpeningPanel = false;
}

QCoro::Task<> QNCoordinatorApp::SessionFlows::runQuickFixAutoCommit(
    Weak weak, std::string sessionID, QNQuickFixHostSession session, std::string trigger,
    std::shared_ptr<QNQuickFixHostDriver> driver, std::stop_token stop,
    std::shared_ptr<bool> running) {
    const RunningFlag flag{running};
    const std::string prefix = "sid=" + sessionID;
    const std::string skipped =
        prefix + " state=quick_fix_auto_commit_skipped trigger=" + trigger + " reason=";
    if (!co_await waitForQuickFixCorrection(weak, sessionID, skipped, stop)) {
        co_return;
    }
    auto self = weak.lock();
    if (!self) {
        co_return;
    }
    const std::u16string text = self->textController->string();
    // The session this task was made for is gone.
    if (stop.stop_requested() || !self->isPanelOpen || !self->panelSessionID ||
        *self->panelSessionID != sessionID) {
        clearQuickFixAutoCommit(*self, sessionID);
        co_return;
    }
    // From here on a stop leaves the panel open as an ordinary Composer session.
    if (!quickFixAutoCommitSkipped(*self, session, text, skipped)) {
        self->isCommitting = true;
        self->logSession(QNKindLog::system,
                         prefix + " state=quick_fix_auto_committing trigger=" + trigger + " " +
                             std::to_string(text::characterCount(text)) +
                             " chars target=" + orUnknown(session.bundleID) +
                             " route=" + std::string(toString(session.route)));
        // Made before the wait: the manager is the coordinator's.
        targetSeams(*self);
        auto commit = QNServiceQuickFixHost::commit(session, text, driver,
                                                    self->quickFixPasteboardManager_, stop);
        self.reset();
        const QNQuickFixCommitResult outcome = co_await commit;
        self = resumed(weak);
        if (!self) {
            co_return;
        }
        reportQuickFixWriteBack(
            *self, sessionID, text, outcome,
            session.strategy.kind == QNQuickFixReplacementStrategy::Kind::changedText);
        endCommit(*self);
    }
    clearQuickFixAutoCommit(*self, sessionID);
}

QCoro::Task<bool> QNCoordinatorApp::SessionFlows::waitForQuickFixCorrection(Weak weak,
                                                                            std::string sessionID,
                                                                            std::string skipped,
                                                                            std::stop_token stop) {
    auto self = weak.lock();
    if (!self || !self->composer) {
        co_return false;
    }
    auto wait = self->composer->waitUntilSettled(std::nullopt, stop);
    self.reset();
    const bool settled = co_await wait;
    self = resumed(weak);
    if (!self) {
        co_return false;
    }
    if (!settled) {
        if (!stop.stop_requested()) {
            self->logSession(QNKindLog::skipped, skipped + "correction-cancelled");
        }
        clearQuickFixAutoCommit(*self, sessionID);
        co_return false;
    }
    // The panel's own activation lands before the write-back brings the target forward: one
    // still on its way (a correction that settled at once) would take the front back from the
    // target in the moment before the paste, and no paste could go.
    const auto panelInFront = [weak] {
        const auto app = weak.lock();
        if (!app || app->panel->isActiveWindow()) {
            return true;
        }
        const auto front = app->env_.seams.workspace->frontmostApplication();
        return front && front->pid == app->env_.seams.workspace->currentApplication().pid;
    };
    if (!panelInFront()) {
        auto active = waitUntil(*self->env_.executor, panelInFront, panelActivationPoll,
                                panelActivationLimit, stop);
        self.reset();
        (void)co_await active;
        if (!resumed(weak)) {
            co_return false;
        }
    }
    co_return true;
}

bool QNCoordinatorApp::SessionFlows::quickFixAutoCommitSkipped(QNCoordinatorApp& app,
                                                               const QNQuickFixHostSession& session,
                                                               const std::u16string& text,
                                                               const std::string& skipped) {
    const auto status = app.composer->status.get();
    if (!app.composer->hasQuietExistingTextBaseline()) {
        app.logSession(QNKindLog::skipped, skipped + "user-edited-composer");
    } else if (status.kind == QNStateComposer::Kind::error) {
        app.logSession(QNKindLog::error, skipped + "correction-error error=" + status.message);
    } else if (text::isBlank(text)) {
        app.logSession(QNKindLog::skipped, skipped + "empty-text");
    } else if (text == session.originalText) {
        app.logSession(QNKindLog::skipped, skipped + "unchanged-text");
    } else {
        return false;
    }
    return true;
}

void QNCoordinatorApp::SessionFlows::reportQuickFixWriteBack(
    QNCoordinatorApp& app, const std::string& sessionID, const std::u16string& text,
    const QNQuickFixCommitResult& outcome, bool formatted) {
    const std::string prefix = "sid=" + sessionID;
    forgetTypedBoundary(app);
    // A newer session keeps its panel, its identifier and its draft.
    const bool ours = app.panelSessionID == sessionID;
    const auto closeSession = [&] {
        app.isPanelOpen = false;
        closePanelWindow(app);
        liftDoubleTapSuspension(app);
    };
    // Only what was done to the user's clipboard.
    const std::string restored =
        " pasteboard_restore=" + std::string(platform::toString(outcome.pasteboardRestore));
    switch (outcome.kind) {
        case QNQuickFixCommitResult::Kind::committed:
            if (ours) {
                closeSession();
                clearDraft(app);
                endSession(app);
            }
            app.logSession(QNKindLog::applied, prefix + " state=quick_fix_committed method=" +
                                                   std::string(toString(outcome.method)) +
                                                   restored);
            break;
        case QNQuickFixCommitResult::Kind::pasteOnClipboard: {
            if (ours) {
                preserveDraft(app, text);
                closeSession();
                endSession(app);
            }
            // A paste chord that went out and did not paste is not named again.
            const bool chordFailed = outcome.reason == QNQuickFixClipboardReason::pasteNotSeen ||
                                     outcome.reason == QNQuickFixClipboardReason::pasteNotFetched;
            showHeadsUp(app, textOnClipboardHeadsUp(chordFailed ? "" : "Ctrl+V"));
            app.logSession(QNKindLog::system, prefix +
                                                  " state=quick_fix_paste_on_clipboard reason=" +
                                                  std::string(toString(outcome.reason)) +
                                                  " pasteboard_restore=deferred");
            break;
        }
        case QNQuickFixCommitResult::Kind::partial:
        case QNQuickFixCommitResult::Kind::unconfirmed: {
            // Only part arrived, or it is in the target's hands, or nobody can tell: never to be
            // pasted again. Kept as the draft (to go over the text read, should that stand
            // still), and said, unless the target has it all; a formatted field's correction is
            // not kept (pasted, it would lose the formatting).
            const bool partial = outcome.kind == QNQuickFixCommitResult::Kind::partial;
            const bool kept = !formatted && (partial || !outcome.takenByTarget);
            if (ours) {
                if (kept) {
                    preserveDraft(app, text);
                } else {
                    clearDraft(app);
                }
                closeSession();
                endSession(app);
            }
            if (formatted) {
                showHeadsUp(app, formattedFieldHeadsUp(true));
            } else if (partial) {
                showHeadsUp(app, pastedInPartHeadsUp());
            } else if (kept) {
                showHeadsUp(app, arrivalUnknownHeadsUp());
            }
            app.logSession(partial ? QNKindLog::error : QNKindLog::system,
                           prefix +
                               (partial ? " state=quick_fix_partial" : " state=quick_fix_sent") +
                               " method=" + std::string(toString(outcome.method)) +
                               " reason=" + std::string(outcome.detail) + restored);
            break;
        }
        case QNQuickFixCommitResult::Kind::failed:
            if (formatted) {
                // The field is as it was; its correction is not kept, and the session ends.
                if (ours) {
                    clearDraft(app);
                    closeSession();
                    endSession(app);
                }
                if (outcome.failure == QNQuickFixCommitFailure::secureInput ||
                    outcome.failure == QNQuickFixCommitFailure::terminalNotSupported) {
                    showQuickFixFailure(app, outcome.failure, outcome.detail, false);
                } else {
                    showHeadsUp(app, formattedFieldHeadsUp(
                                         false, outcome.failure ==
                                                    QNQuickFixCommitFailure::activateTarget));
                }
            } else {
                if (ours) {
                    preserveDraft(app, text);
                }
                showQuickFixFailure(app, outcome.failure, outcome.detail, ours);
            }
            // A clipboard that could not be saved was never touched.
            app.logSession(QNKindLog::error,
                           prefix + " state=quick_fix_commit_failed reason=" +
                               (outcome.failure == QNQuickFixCommitFailure::pasteboardUnsaved
                                    ? std::string(outcome.detail) + " pasteboard_restore=untouched"
                                    : std::string(toString(outcome.failure)) + restored));
            break;
    }
}

void QNCoordinatorApp::SessionFlows::showQuickFixFailure(QNCoordinatorApp& app,
                                                         QNQuickFixCommitFailure failure,
                                                         std::string_view detail, bool ours) {
    switch (failure) {
        case QNQuickFixCommitFailure::secureInput:
            showQuickFixHUD(app, QNQuickFixHUDKind::secureRefused);
            return;
        case QNQuickFixCommitFailure::terminalNotSupported:
            showQuickFixHUD(app, QNQuickFixHUDKind::terminalRefused);
            return;
        default:
            break;
    }
    // Every other failure brings the panel back with the text (a newer session keeps its own).
    if (ours) {
        bringPanelBack(app);
    }
    switch (failure) {
        case QNQuickFixCommitFailure::activateTarget:
            showQuickFixHUD(app, QNQuickFixHUDKind::activationFailed);
            break;
        case QNQuickFixCommitFailure::pasteboardUnsaved:
            showHeadsUp(app, clipboardUnsavedHeadsUp(detail));
            break;
        case QNQuickFixCommitFailure::restoreTargetSelection:
            showHeadsUp(app, selectionUncertainHeadsUp());
            break;
        case QNQuickFixCommitFailure::clipboardChanged:
            showHeadsUp(app, clipboardChangedHeadsUp());
            break;
        default:
            break;
    }
}

void QNCoordinatorApp::SessionFlows::refuseQuickFix(QNCoordinatorApp& app,
                                                    const std::string& trigger,
                                                    const std::optional<std::string>& source,
                                                    const QNHeadsUp& headsUp,
                                                    const std::string& reason) {
    const std::string sessionID = nextSessionID(app);
    showHeadsUp(app, headsUp);
    app.logSession(QNKindLog::skipped,
                   "sid=" + sessionID + " state=quick_fix_skipped trigger=" + trigger +
                       " source=" + orUnknown(source) + " reason=" + reason,
                   QNLogIssuePolicy::always);
    endRefusedOpen(app);
}

void QNCoordinatorApp::SessionFlows::clearQuickFixAutoCommit(QNCoordinatorApp& app,
                                                             const std::string& sessionID) {
    if (app.quickFixAutoCommitSessionID == sessionID) {
        app.quickFixAutoCommitSessionID.reset();
        app.quickFixAutoCommitTask.reset();
    }
}

void QNCoordinatorApp::SessionFlows::showQuickFixHUD(QNCoordinatorApp& app,
                                                     QNQuickFixHUDKind kind,
                                                     std::optional<std::string> title) {
    showHeadsUp(app, QNHeadsUp{kind, title.value_or(hudTitle(kind)), hudMessage(kind)});
}

void QNCoordinatorApp::SessionFlows::showHeadsUp(QNCoordinatorApp& app, const QNHeadsUp& headsUp) {
    if (!app.quickFixHUD_) {
        app.quickFixHUD_ =
            std::make_shared<QNQuickFixHUDController>(app.env_.executor, app.env_.seams.screens,
                                                      app.env_.seams.desktopSession);
    }
    app.quickFixHUD_->show(headsUp);
}

}  // namespace ravlin
