#pragma once

// The Composer panel's content: a nearly opaque rounded sheet in the palette's window colour,
// the Composer's text view on it, a hairline border, and the border beam, a short bright dash
// with a soft glow that runs once round the edge each time the trigger fires.
//
// The beam's phase and opacity are functions of the time since the last replay and of the
// fade-out start, read on the executor's clock; the fade-out is a cancellable task on the
// executor. The beam repaints at about 60 Hz only while it shows.

#include <qcoro/qcorotask.h>

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>

#include "app/editor/panel_geometry.h"
#include "app/preferences/border_animation.h"
#include "core/support/async.h"
#include "core/support/executor.h"
#include "core/support/observable.h"

class QPainter;

namespace ravlin {

class QNControllerAutoCorrectingText;

// Fired by the host each time it shows the panel; the beam replays on every change of `token`.
class QNModelComposerBorderAnimationTrigger {
  public:
    Observable<std::int64_t> token{0};
    // token + 1, or 1 after the largest value.
    void fire();
};

// The beam's animation state on the executor's clock.
class QNBorderBeamState {
  public:
    QNBorderBeamState(std::shared_ptr<Executor> executor, QNConfigComposerBorderAnimation config);
    ~QNBorderBeamState();
    QNBorderBeamState(const QNBorderBeamState&) = delete;
    QNBorderBeamState& operator=(const QNBorderBeamState&) = delete;

    // Cancels a pending fade-out, starts over from phase 0 and opacity 0, fades in, runs the
    // lap and schedules the fade-out.
    void replay();
    // The beam goes away: the pending fade-out is cancelled, the state left as it is.
    void disappear();

    void setConfig(const QNConfigComposerBorderAnimation& config) { config_ = config; }
    [[nodiscard]] const QNConfigComposerBorderAnimation& config() const { return config_; }

    // 0 to 1 along the lap; 0 before the first replay, 1 after a lap.
    [[nodiscard]] double phase() const;
    [[nodiscard]] double opacity() const;
    // Whether a later frame may still differ from this one.
    [[nodiscard]] bool isAnimating() const;
    [[nodiscard]] bool hasPendingFadeOut() const { return fadeOutTask_ != nullptr; }
    // How many fade-outs have begun (for the owner's bookkeeping and tests).
    [[nodiscard]] int fadeOutCount() const { return fadeOutCount_; }

  private:
    QCoro::Task<> fadeOutTask(std::chrono::nanoseconds wait, std::shared_ptr<std::stop_source> self,
                              FlowGuard guard);
    [[nodiscard]] double fadeInOpacity(Instant at) const;
    [[nodiscard]] double secondsSince(Instant at) const;

    std::shared_ptr<Executor> executor_;
    QNConfigComposerBorderAnimation config_;
    std::optional<Instant> replayedAt_;
    std::optional<Instant> fadeStartedAt_;
    double fadeFrom_ = 0;
    std::shared_ptr<std::stop_source> fadeOutTask_;
    int fadeOutCount_ = 0;
    FlowScope flows_;
};

// Paints one frame of the beam over a view of `size` (halo and glow blurred on their own layer).
void paintBorderBeam(QPainter& painter, QSizeF size, const QNConfigComposerBorderAnimation& config,
                     double phase, double opacity);

// Blurs a premultiplied ARGB image in place: three box passes approximating a Gaussian whose
// standard deviation is `sigma` pixels.
void blurImage(QImage& image, double sigma);

// The beam overlay: ignores the mouse, repaints while animating.
class QNViewComposerBorderBeam final : public QWidget {
  public:
    QNViewComposerBorderBeam(std::shared_ptr<Executor> executor,
                             QNConfigComposerBorderAnimation config, QWidget* parent);
    ~QNViewComposerBorderBeam() override;

    QNBorderBeamState& state() { return state_; }
    void replay();
    [[nodiscard]] bool isRepainting() const { return frameTimer_.isActive(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void tick();

    QNBorderBeamState state_;
    QTimer frameTimer_;
};

class QNViewComposition final : public QWidget {
  public:
    QNViewComposition(QNControllerAutoCorrectingText& controller,
                      std::shared_ptr<QNModelComposerBorderAnimationTrigger> trigger,
                      std::shared_ptr<Executor> executor, QWidget* parent = nullptr);
    ~QNViewComposition() override;

    // Dark when the palette's window colour is darker than its text colour.
    [[nodiscard]] bool isDark() const;
    // The standard configuration adapted to the appearance.
    [[nodiscard]] QNConfigComposerBorderAnimation resolvedConfig() const;

    // Reduce motion: no beam at all. Off by default; the host sets it.
    void setReducesMotion(bool reduces);
    [[nodiscard]] bool reducesMotion() const { return reducesMotion_; }
    // The beam view, present only when the configuration is enabled and motion is not reduced.
    [[nodiscard]] QNViewComposerBorderBeam* beam() const { return beam_.data(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void rebuildBeam();

    QPointer<QWidget> textView_;
    std::shared_ptr<QNModelComposerBorderAnimationTrigger> trigger_;
    std::shared_ptr<Executor> executor_;
    Subscription tokenSubscription_;
    QPointer<QNViewComposerBorderBeam> beam_;
    bool reducesMotion_ = false;
};

}  // namespace ravlin
