#pragma once

// The Quick Fix heads-up: a small rounded card near the bottom of the screen with an icon, a
// one-line title and a message of at most two lines. It never takes the keyboard focus or the
// mouse (an unmanaged tool-tip window on X11: above full-screen windows, on every desktop) and
// goes by itself four seconds after it was shown. Where a compositor draws the screen the card
// floats on a soft shadow; without one, transparent pixels would show black, so the window is
// cut to the card's rounded shape and the card is drawn opaque, without the shadow.

#include <qcoro/qcorotask.h>

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/support/executor.h"
#include "platform/desktop_session.h"
#include "platform/geometry.h"
#include "platform/screens.h"

namespace ravlin {

enum class QNQuickFixHUDKind {
    pasteOnClipboard,
    noTarget,
    activationFailed,
    secureRefused,
    terminalRefused
};

// The symbol's name as the table gives it.
[[nodiscard]] std::string_view symbolName(QNQuickFixHUDKind kind);
// The title and message, through the lookup below.
[[nodiscard]] std::string hudTitle(QNQuickFixHUDKind kind);
[[nodiscard]] std::string hudMessage(QNQuickFixHUDKind kind);
// The text shown for a literal of the table: this desktop's wording where one differs, else
// the literal itself.
[[nodiscard]] std::string hudText(std::string_view literal);
// The pasteOnClipboard title for a text that `chordName` pastes where it was going: "Press
// Ctrl+Shift+V to paste" (the table's own title for "Ctrl+V").
[[nodiscard]] std::string pasteTitle(std::string_view chordName);

// A heads-up beside the table's: the kind whose symbol it shows, its title and message.
struct QNHeadsUp {
    QNQuickFixHUDKind kind = QNQuickFixHUDKind::pasteOnClipboard;
    std::string title;
    std::string message;

    friend bool operator==(const QNHeadsUp&, const QNHeadsUp&) = default;
};
// The text waits on the clipboard: the table's heads-up with the chord that pastes there, or,
// where none is known (or the one sent just failed), one that names no chord.
[[nodiscard]] QNHeadsUp textOnClipboardHeadsUp(std::string_view chordName);
// Only the text's beginning arrived; the whole text is kept.
[[nodiscard]] QNHeadsUp pastedInPartHeadsUp();
// The user's clipboard could not be saved (`failure`, the save's word), so nothing was pasted.
[[nodiscard]] QNHeadsUp clipboardUnsavedHeadsUp(std::string_view failure);
// The user copied something while their clipboard was borrowed, before the paste: their copy
// stands (a target that pasted at that moment may have been given it), the text is kept.
[[nodiscard]] QNHeadsUp clipboardChangedHeadsUp();
// A Quick Fix could not be sure which text it would replace, and left the field alone.
[[nodiscard]] QNHeadsUp selectionUncertainHeadsUp();
// A paste was taken, but the desktop cannot tell by whom; the text is kept.
[[nodiscard]] QNHeadsUp arrivalUnknownHeadsUp();
// No window to paste into was found; the text is kept.
[[nodiscard]] QNHeadsUp noTargetHeadsUp();
// Nothing was pasted: the keyboard was not where the Composer was opened, `where` says where
// (QNPasteOutcome's reason: another application, another window of the application (a dialog it
// raised), another field of that window (a page's own prompt, another input, a new tab), a
// window the desktop does not name), or in a password field; the text is kept.
[[nodiscard]] QNHeadsUp keyboardElsewhereHeadsUp(std::string_view where);
[[nodiscard]] QNHeadsUp passwordFieldHeadsUp();
// A Quick Fix of a formatted field changed nothing (`activationFailed`: it could not reach the
// application) or, `part`, only part of what it typed stayed; nothing is kept, since no paste
// could put the correction back with the field's formatting.
[[nodiscard]] QNHeadsUp formattedFieldHeadsUp(bool part, bool activationFailed = false);
// A kept correction was not pasted: the text it replaces was not found in the field.
[[nodiscard]] QNHeadsUp draftPlaceGoneHeadsUp();
// Quick Fix found no editable field where the keyboard is.
[[nodiscard]] QNHeadsUp noTextFieldHeadsUp();

// Where the card's frame goes: centred on the main screen's visible frame (else the first
// screen's), 80 points above its bottom; none without screens (it stays where it is).
[[nodiscard]] std::optional<platform::Point> hudBottomCenterOrigin(
    platform::Size frameSize, const std::vector<platform::Screen>& screens,
    const std::optional<platform::Screen>& mainScreen);

// The card's content: icon column, title, message.
class QNViewQuickFixHUD final : public QWidget {
  public:
    explicit QNViewQuickFixHUD(QWidget* parent = nullptr);

    void setContent(QNQuickFixHUDKind kind, QString title, QString message);
    [[nodiscard]] QNQuickFixHUDKind kind() const { return kind_; }
    [[nodiscard]] const QString& title() const { return title_; }
    [[nodiscard]] const QString& message() const { return message_; }
    // The message as drawn: wrapped, cut after the second line.
    [[nodiscard]] QStringList messageLines() const;
    // The card's natural size for its content.
    [[nodiscard]] QSize fittingSize() const;
    // The card's rounded shape in the view, and whether the card is drawn opaque without its
    // shadow (the window is cut to that shape).
    [[nodiscard]] QRectF cardRect() const;
    void setOpaque(bool opaque);
    [[nodiscard]] bool isOpaque() const { return opaque_; }

    static constexpr int kShadowMargin = 16;
    static constexpr double kCornerRadius = 14;
    static constexpr int kMaximumTextWidth = 360;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    [[nodiscard]] QFont titleFont() const;
    [[nodiscard]] QFont messageFont() const;
    [[nodiscard]] int textWidth() const;

    QNQuickFixHUDKind kind_ = QNQuickFixHUDKind::pasteOnClipboard;
    QString title_;
    QString message_;
    bool opaque_ = false;
};

class QNQuickFixHUDPanel final : public QWidget {
  public:
    QNQuickFixHUDPanel(std::shared_ptr<Executor> executor,
                       std::shared_ptr<platform::Screens> screens);
    ~QNQuickFixHUDPanel() override;

    [[nodiscard]] QNViewQuickFixHUD* hostingView() const { return hostingView_; }
    // The pending automatic dismissal; stopping it makes it end without touching the panel.
    std::shared_ptr<std::stop_source> dismissTask;

    void positionAtBottomCenter();
    // Cancels the pending dismissal and hides the panel.
    void dismiss();
    // Sleeps `after` on the executor; then, unless stopped or the panel is gone, dismisses it.
    // The executor outlives the task (holding it here would tie the two in a cycle).
    static QCoro::Task<> scheduleDismiss(std::chrono::nanoseconds after,
                                         QPointer<QNQuickFixHUDPanel> panel, Executor& executor,
                                         std::shared_ptr<std::stop_source> task);

    // The card's size (the window adds the shadow's margin round it).
    [[nodiscard]] QSize contentSize() const;
    void setContentSize(QSize size);
    // Shows without activating anything.
    void orderFrontRegardless();
    // Cuts the window to the card's rounded shape (no compositor) or not.
    void setCutsCornersWithMask(bool cuts);
    [[nodiscard]] bool cutsCornersWithMask() const { return cutsCorners_; }
    [[nodiscard]] const std::shared_ptr<Executor>& executor() const { return executor_; }

  private:
    std::shared_ptr<Executor> executor_;
    std::shared_ptr<platform::Screens> screens_;
    QNViewQuickFixHUD* hostingView_ = nullptr;
    bool cutsCorners_ = false;
};

struct AppContext;

// Owns the one heads-up panel; the application makes one and keeps it for its lifetime.
class QNQuickFixHUDController {
  public:
    // `desktop` tells whether a compositor runs at each show; without one (or without it) the
    // corners are cut on X11 and off screen.
    QNQuickFixHUDController(std::shared_ptr<Executor> executor,
                            std::shared_ptr<platform::Screens> screens,
                            std::shared_ptr<platform::DesktopSession> desktop = nullptr);
    // Over the application's main sequence, screens and desktop session seams.
    explicit QNQuickFixHUDController(const AppContext& context);
    [[nodiscard]] QNQuickFixHUDPanel& panel() { return *panel_; }

    static constexpr std::chrono::seconds kDismissAfter{4};
    static constexpr QSize kMinimumContentSize{280, 56};

    // The show steps: cancel the pending dismissal, set the content, size it (at least 280 x 56),
    // place it, show it without activation and schedule the dismissal four seconds on. `title`
    // stands for the kind's title when given.
    void show(QNQuickFixHUDKind kind, std::optional<std::string> title = std::nullopt);
    void show(const QNHeadsUp& headsUp);

  private:
    std::unique_ptr<QNQuickFixHUDPanel> panel_;
    std::shared_ptr<platform::DesktopSession> desktop_;
};

}  // namespace ravlin
