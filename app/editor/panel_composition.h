#pragma once

// The floating window that holds the Composer: frameless, above other windows, placed next to
// the caret of the application the user came from and growing with its text. It knows nothing
// of correction: its content is handed to it, its keys and its loss of activation go to
// callbacks the host installs. Geometry is worked out in y-up screen coordinates
// (panel_geometry.h) and converted at the window's edge.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/editor/panel_geometry.h"
#include "platform/screens.h"

class QKeyEvent;

namespace ravlin {

class QNPanelComposition final : public QWidget {
  public:
    using M = QNPanelMetrics;

    // `screens` gives the screens to place against (none: the fallback working rectangle).
    explicit QNPanelComposition(std::shared_ptr<platform::Screens> screens);
    ~QNPanelComposition() override;

    // The lower bound of every resize; sets the minimum size to 360 x that height too.
    [[nodiscard]] double panelMinHeight() const { return panelMinHeight_; }
    void setPanelMinHeight(double height);

    // Called when the panel has stopped being the active window for good: a deactivation is
    // looked at again `resignSettle` later, and counts only if the panel has not got the
    // keyboard back meanwhile (X hands it away and back around key grabs and mapping). A window
    // of this program shown at start-up that took the keyboard by itself (it is activated once
    // it is mapped, however late) is not the person leaving: the panel takes the keyboard back.
    // Any other window, ours too (the settings the person asked for), is. A deactivation of an
    // earlier showing of the panel (put away since) counts for nothing.
    std::function<void()> resignHandler;
    static constexpr auto resignSettle = std::chrono::milliseconds(50);
    std::function<void()> onDismissKey;
    std::function<void()> onCommitKey;
    // Ctrl+comma: shows the settings window with its pane unchanged.
    std::function<void()> onSettingsKey;
    // Runs before a hidden panel is shown, while its native window is not mapped yet (what the
    // window manager should know of it goes with the mapping).
    std::function<void()> onWillShow;
    std::optional<PanelAnchorEdge> anchorEdge;

    // Puts `content` into the rounded container that fills the panel. Once.
    void installContentView(QWidget* content);
    [[nodiscard]] QWidget* container() const { return container_.data(); }

    // Applies the resize rule to a reported content height.
    void resizeToContentHeight(double height);
    // Places the panel for an optional anchor in y-up screen coordinates; sets `anchorEdge`.
    void positionNear(const std::optional<platform::Rect>& anchor);

    void makeKeyAndOrderFront();
    void orderOut();

    // The frame in y-up screen coordinates, and setting it.
    [[nodiscard]] platform::Rect frameYUp() const;
    void setFrameYUp(const platform::Rect& frame);

    // Without a compositor the window cannot be translucent: cut the corners with a mask, and
    // fill what the mask keeps opaque (the content's soft edge would otherwise blend with
    // black). On by default on X11 and off screen; the host turns it off when a compositor runs.
    void setCutsCornersWithMask(bool cuts);
    // Where windows may need their corners cut: on X11 (and off screen, which stands in for it).
    [[nodiscard]] static bool cutsCornersByDefault();
    [[nodiscard]] bool cutsCornersWithMask() const { return cutsCorners_; }

    // Whether a key event is the settings chord: comma with exactly Ctrl.
    [[nodiscard]] static bool isSettingsChord(const QKeyEvent& event);

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void updateMask();
    // A deactivation of the showing numbered `showing`, looked at again.
    void settleResign(std::uint64_t showing);
    void activate();

    std::shared_ptr<platform::Screens> screens_;
    double panelMinHeight_ = M::panelInitialMinHeight;
    QPointer<QWidget> container_;
    bool cutsCorners_ = false;
    // Counts the times the panel was put away: a deactivation belongs to the showing it came in
    // (Quick Fix's panel losing the keyboard to its target, then the Composer shown in it at once
    // and not active yet, is not the person leaving the Composer).
    std::uint64_t showings_ = 0;
};

}  // namespace ravlin
