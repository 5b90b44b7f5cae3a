#pragma once

// The coordinator's session flows and the steps they share, for sessions.cpp and
// sessions_quick_fix.cpp only.
//
// Every flow is a coroutine on the main sequence that takes its arguments by value and holds the
// coordinator weakly: it locks it to work, lets go of it before each wait and locks it again
// after (resumed), ending when it is gone or the program is ending. Each wait is one the
// program's end stops (TargetSeams::ending, the auto-commit's stop). Nothing that opens or closes a panel runs while a commit or a
// Quick Fix write-back is under way (`isCommitting`): a Composer trigger meanwhile opens the
// panel once it has ended. A commit's or write-back's last steps touch the session only while
// `panelSessionID` still names the session they were made for.

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/shell/coordinator.h"
#include "app/target/quick_fix_host.h"
#include "app/target/quick_fix_hud.h"
#include "app/target/target_seams.h"

namespace ravlin {

struct QNCoordinatorApp::SessionFlows {
    using Weak = std::weak_ptr<QNCoordinatorApp>;

    static constexpr std::chrono::milliseconds kCommitPolishTimeout{800};

    // --- Flows
    static QCoro::Task<> openPanel(Weak weak, std::string trigger);
    // Into `target`, only while the keyboard is in the `place` the panel was opened over (its
    // window and field, where known).
    static QCoro::Task<> commitPanel(Weak weak, std::optional<platform::RunningApplication> target,
                                     std::optional<QNPasteSelection> replacing,
                                     QNPastePlace place);
    // The program ends under a commit whose text has not gone into the target: the text stays
    // on the clipboard for the person for its minute, the user's contents after it
    // (QNModelPasteboardSnapshot::leaveAtExit), rather than going with the program.
    static QCoro::Task<> leaveCommitAtExit(Weak weak, std::u16string text, std::string prefix);
    static QCoro::Task<> startQuickFix(Weak weak, std::string trigger);
    static QCoro::Task<> runQuickFixAutoCommit(Weak weak, std::string sessionID,
                                               QNQuickFixHostSession session, std::string trigger,
                                               std::shared_ptr<QNQuickFixHostDriver> driver,
                                               std::stop_token stop, std::shared_ptr<bool> running);
    // The steps of a Quick Fix write-back. Until the Composer has settled on the correction and
    // the panel's own activation has landed; false (the task cleared where the correction was
    // cancelled) when the write-back does not go on.
    static QCoro::Task<bool> waitForQuickFixCorrection(Weak weak, std::string sessionID,
                                                       std::string skipped, std::stop_token stop);
    // True, and logged with `skipped`, when there is nothing to write back: the person edited in
    // the Composer, the correction failed, the text is blank or unchanged.
    static bool quickFixAutoCommitSkipped(QNCoordinatorApp& app,
                                          const QNQuickFixHostSession& session,
                                          const std::u16string& text, const std::string& skipped);
    // The session ends by the outcome: the panel, the draft, the heads-up and the log line.
    // `formatted`: the field's changes were typed (a formatted field's): its correction is
    // never kept as a draft.
    static void reportQuickFixWriteBack(QNCoordinatorApp& app, const std::string& sessionID,
                                        const std::u16string& text,
                                        const QNQuickFixCommitResult& outcome, bool formatted);
    // The heads-up of a failed write-back; all but a refused target bring the panel back (only
    // `ours`: a newer session keeps its own).
    static void showQuickFixFailure(QNCoordinatorApp& app, QNQuickFixCommitFailure failure,
                                    std::string_view detail, bool ours);
    // A Quick Fix that does not start: a session number used up, the heads-up, the skipped
    // line with `source` and `reason`, and the trigger usable again.
    static void refuseQuickFix(QNCoordinatorApp& app, const std::string& trigger,
                               const std::optional<std::string>& source, const QNHeadsUp& headsUp,
                               const std::string& reason);

    // --- Shared steps
    // The coordinator again after a wait: none once it is gone or the program is ending (the
    // flow then ends without touching anything).
    static std::shared_ptr<QNCoordinatorApp> resumed(const Weak& weak);
    // Runs `task` on the main sequence after what is queued there.
    static void post(QNCoordinatorApp& app, std::function<void()> task);
    // The trust check of an open: fresh, handed to the monitor; without trust, the request for
    // accessibility (only when the monitor never saw trust) and the settings window's General
    // pane. True when trusted.
    static bool checkTrust(QNCoordinatorApp& app);
    // The next "s%03d" identifier; every call uses one up.
    static std::string nextSessionID(QNCoordinatorApp& app);
    static void preserveDraft(QNCoordinatorApp& app, const std::u16string& text);
    static void clearDraft(QNCoordinatorApp& app);
    // The session's anchor line, then: a resign handler that dismisses with `dismissReason`
    // unless a commit runs, place by the anchor, this application to the front, the panel key
    // and front, the border animation; then the panel is open, both double taps suspended and
    // the text view takes the focus on the next turn.
    static void presentPanel(QNCoordinatorApp& app, const std::string& prefix,
                             const QNModelFocusSnapshot& snapshot, std::string dismissReason);
    // Watches, from the panel's opening, for any input of the person's: a key, a button, the
    // pointer moving, a touch. Once one came the watch ends (nothing more to learn).
    static void watchForPersonLeavingPanel(QNCoordinatorApp& app);
    // The panel lost the keyboard to the very window it was opened over, within
    // `panelTakeBackWithin` of its opening, with no input of the person's since: that
    // application handling its own focus late (LibreOffice Writer under load), not the person
    // going back to it. The panel takes the keyboard back (at most `panelTakeBackLimit` times an
    // opening) and true. Any other window (a dialog of the same application too), a later loss,
    // or one after the person's input (a click, a key a window manager binds, the pointer moved
    // onto the application where the window manager follows it) is the panel's end: false.
    static bool takeKeyboardBack(QNCoordinatorApp& app);
    static constexpr int panelTakeBackLimit = 3;
    // Writer was seen taking it 0.83 s after the opening on a loaded machine; past this the
    // panel has had the keyboard too long for a loss to be the opening's late echo.
    static constexpr std::chrono::milliseconds panelTakeBackWithin{2000};
    // This application and the panel to the front, the text view focused (a failed write-back).
    static void bringPanelBack(QNCoordinatorApp& app);
    static void focusTextViewSoon(QNCoordinatorApp& app);
    // Once the panel's text view has the keyboard (or the panel is gone, or `heldKeysLimit` has
    // passed), the keys held since a typed pair's BackSpaces go to it.
    static void handHeldKeysToPanel(QNCoordinatorApp& app);
    static constexpr std::chrono::milliseconds heldKeysPoll{5};
    // How long a Quick Fix write-back waits for the panel's activation to land, and how often it
    // looks.
    static constexpr std::chrono::milliseconds panelActivationPoll{5};
    static constexpr std::chrono::milliseconds panelActivationLimit{500};
    static constexpr std::chrono::milliseconds heldKeysLimit{500};
    // Resign handler removed, anchor edge cleared, panel ordered out.
    static void closePanelWindow(QNCoordinatorApp& app);
    static void liftDoubleTapSuspension(QNCoordinatorApp& app);
    // A commit or write-back is over: `isCommitting` false, and the open a trigger asked for
    // meanwhile starts (unless a panel shows again).
    static void endCommit(QNCoordinatorApp& app);
    // After our write-back keys: the typed double tap's next boundary is read from the field.
    static void forgetTypedBoundary(QNCoordinatorApp& app);
    // No session any more: no identifier, none in the composer's log lines.
    static void endSession(QNCoordinatorApp& app);
    static void clearQuickFixAutoCommit(QNCoordinatorApp& app, const std::string& sessionID);
    static void showQuickFixHUD(QNCoordinatorApp& app, QNQuickFixHUDKind kind,
                                std::optional<std::string> title = std::nullopt);
    static void showHeadsUp(QNCoordinatorApp& app, const QNHeadsUp& headsUp);
    static TargetSeams targetSeams(QNCoordinatorApp& app);
    // The same, for a write into the field while the typed double tap is live: each key sent
    // is noted with it first (QNTriggerDoubleTap::ownKeysToField).
    static TargetSeams writingSeams(QNCoordinatorApp& app);
    // "?" for a missing or empty identity or role.
    static std::string orUnknown(const std::optional<std::string>& value);
};

}  // namespace ravlin
