#include "app/editor/view_composition.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "app/editor/controller_auto_correcting_text.h"

namespace ravlin {

using namespace std::chrono_literals;

namespace {

QEasingCurve cubicCurve(double x1, double y1, double x2, double y2) {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}

const QEasingCurve& lapCurve() {
    static const QEasingCurve curve = cubicCurve(0.33, 0, 0.2, 1);
    return curve;
}
const QEasingCurve& easeOut() {
    static const QEasingCurve curve = cubicCurve(0, 0, 0.58, 1);
    return curve;
}
const QEasingCurve& easeIn() {
    static const QEasingCurve curve = cubicCurve(0.42, 0, 1, 1);
    return curve;
}

double progress(double elapsed, double duration) {
    if (!(duration > 0)) {
        return 1;
    }
    return std::clamp(elapsed / duration, 0.0, 1.0);
}

std::chrono::nanoseconds toNanoseconds(double seconds) {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::max(0.0, seconds) * 1e9));
}

// The rounded outline starting at the top edge after the top-left corner and running clockwise
// (y down), each corner a quadratic curve through the rectangle's corner; left open.
QPainterPath beamPath(const QRectF& rect, double cornerRadius) {
    const double r =
        std::max(0.0, std::min(cornerRadius, std::min(rect.width(), rect.height()) / 2));
    QPainterPath path;
    path.moveTo(rect.left() + r, rect.top());
    path.lineTo(rect.right() - r, rect.top());
    path.quadTo(rect.topRight(), QPointF(rect.right(), rect.top() + r));
    path.lineTo(rect.right(), rect.bottom() - r);
    path.quadTo(rect.bottomRight(), QPointF(rect.right() - r, rect.bottom()));
    path.lineTo(rect.left() + r, rect.bottom());
    path.quadTo(rect.bottomLeft(), QPointF(rect.left(), rect.bottom() - r));
    path.lineTo(rect.left(), rect.top() + r);
    path.quadTo(rect.topLeft(), QPointF(rect.left() + r, rect.top()));
    return path;
}

QColor beamColor(const QNConfigComposerBorderAnimation& config, double opacity) {
    const auto& c = config.beamColor;
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue),
                            float(std::clamp(c.alpha * opacity, 0.0, 1.0)));
}

// The dashes of one layer of the beam as open sub-paths along the outline. They are cut from
// the path here rather than by a QPen dash pattern: Qt's stroker for pens under one pixel wide
// draws stray dashes on curved paths.
QPainterPath beamDashes(const QRectF& padded, double cornerRadius, const QNBeamStroke& stroke) {
    QPainterPath dashes;
    if (!(stroke.lineWidth > 0)) {
        return dashes;
    }
    const double half = stroke.lineWidth / 2;
    // The outline flattened once, with the distance along it at each vertex.
    const QPainterPath path = beamPath(padded.adjusted(half, half, -half, -half), cornerRadius);
    const QList<QPolygonF> polygons = path.toSubpathPolygons();
    if (polygons.isEmpty() || polygons.front().size() < 2) {
        return dashes;
    }
    const QPolygonF& outline = polygons.front();
    std::vector<double> along(std::size_t(outline.size()), 0.0);
    for (qsizetype i = 1; i < outline.size(); ++i) {
        along[std::size_t(i)] =
            along[std::size_t(i - 1)] + QLineF(outline[i - 1], outline[i]).length();
    }
    const auto pointAt = [&](double distance, std::size_t& segment) {
        while (segment + 2 < along.size() && along[segment + 1] < distance) {
            ++segment;
        }
        const double span = along[segment + 1] - along[segment];
        const double t = span > 0 ? std::clamp((distance - along[segment]) / span, 0.0, 1.0) : 0.0;
        return outline[qsizetype(segment)] +
               (outline[qsizetype(segment + 1)] - outline[qsizetype(segment)]) * t;
    };
    for (const auto& [from, to] :
         dashIntervals(along.back(), stroke.dashOn, stroke.dashOff, stroke.dashPhase)) {
        std::size_t segment = 0;
        dashes.moveTo(pointAt(from, segment));
        while (segment + 1 < along.size() && along[segment + 1] < to) {
            dashes.lineTo(outline[qsizetype(segment + 1)]);
            ++segment;
        }
        dashes.lineTo(pointAt(to, segment));
    }
    return dashes;
}

void strokeDashes(QPainter& painter, const QPainterPath& dashes, const QNBeamStroke& stroke,
                  const QColor& color) {
    QPen pen(color, stroke.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(dashes);
}

// One running-sum box pass along rows (or columns) of premultiplied pixels.
void boxPass(std::uint8_t* bits, int width, int height, qsizetype stride, int radius,
             bool horizontal, std::vector<std::uint8_t>& line) {
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const qsizetype step = horizontal ? 4 : stride;
    const int window = 2 * radius + 1;
    line.resize(static_cast<std::size_t>(length) * 4);
    for (int l = 0; l < lines; ++l) {
        std::uint8_t* start = horizontal ? bits + l * stride : bits + qsizetype(l) * 4;
        for (int i = 0; i < length; ++i) {
            std::copy_n(start + i * step, 4, line.data() + std::size_t(i) * 4);
        }
        int sum[4] = {0, 0, 0, 0};
        // Pixels outside the image count as transparent.
        for (int i = 0; i <= std::min(radius, length - 1); ++i) {
            for (int c = 0; c < 4; ++c) {
                sum[c] += line[std::size_t(i) * 4 + c];
            }
        }
        for (int i = 0; i < length; ++i) {
            for (int c = 0; c < 4; ++c) {
                start[i * step + c] = static_cast<std::uint8_t>(sum[c] / window);
            }
            const int add = i + radius + 1;
            const int drop = i - radius;
            for (int c = 0; c < 4; ++c) {
                if (add < length) {
                    sum[c] += line[std::size_t(add) * 4 + c];
                }
                if (drop >= 0) {
                    sum[c] -= line[std::size_t(drop) * 4 + c];
                }
            }
        }
    }
}

// Draws one stroke on a layer of its own covering just its dashes and their blur (at half
// resolution for wide blurs), blurs it and lays it over the painter.
void paintBlurred(QPainter& painter, QSizeF size, const QRectF& padded, double cornerRadius,
                  const QNBeamStroke& stroke, const QColor& color) {
    const QPainterPath dashes = beamDashes(padded, cornerRadius, stroke);
    if (dashes.isEmpty()) {
        return;
    }
    const double sigma = stroke.blurRadius / 2;
    const double margin = stroke.lineWidth / 2 + 3 * sigma + 2;
    const QRectF bounds = dashes.boundingRect()
                              .adjusted(-margin, -margin, margin, margin)
                              .intersected(QRectF(QPointF(0, 0), size))
                              .toAlignedRect();
    if (bounds.isEmpty()) {
        return;
    }
    const double scale = stroke.blurRadius >= 3 ? 0.5 : 1.0;
    const QSize layerSize(std::max(1, int(std::ceil(bounds.width() * scale))),
                          std::max(1, int(std::ceil(bounds.height() * scale))));
    QImage layer(layerSize, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::Antialiasing);
        layerPainter.scale(scale, scale);
        layerPainter.translate(-bounds.topLeft());
        strokeDashes(layerPainter, dashes, stroke, color);
    }
    blurImage(layer, sigma * scale);
    painter.drawImage(QRectF(bounds.topLeft(), QSizeF(layerSize) / scale), layer);
}

}  // namespace

// --- Trigger

void QNModelComposerBorderAnimationTrigger::fire() {
    const std::int64_t current = token.get();
    token.set(current == std::numeric_limits<std::int64_t>::max() ? 1 : current + 1);
}

// --- Beam state

QNBorderBeamState::QNBorderBeamState(std::shared_ptr<Executor> executor,
                                     QNConfigComposerBorderAnimation config)
    : executor_(std::move(executor)), config_(std::move(config)) {}

QNBorderBeamState::~QNBorderBeamState() {
    disappear();
}

void QNBorderBeamState::replay() {
    if (fadeOutTask_) {
        fadeOutTask_->request_stop();
        fadeOutTask_.reset();
    }
    replayedAt_ = executor_->now();
    fadeStartedAt_.reset();
    fadeFrom_ = 0;
    auto task = std::make_shared<std::stop_source>();
    fadeOutTask_ = task;
    fadeOutTask(toNanoseconds(config_.duration - config_.fadeOutDuration), task, flows_.guard());
}

void QNBorderBeamState::disappear() {
    if (fadeOutTask_) {
        fadeOutTask_->request_stop();
        fadeOutTask_.reset();
    }
}

QCoro::Task<> QNBorderBeamState::fadeOutTask(std::chrono::nanoseconds wait,
                                             std::shared_ptr<std::stop_source> self,
                                             FlowGuard guard) {
    co_await sleepFor(*executor_, wait, self->get_token());
    if (guard.ended() || self->stop_requested()) {
        co_return;
    }
    fadeFrom_ = fadeInOpacity(executor_->now());
    fadeStartedAt_ = executor_->now();
    ++fadeOutCount_;
    if (fadeOutTask_ == self) {
        fadeOutTask_.reset();
    }
}

double QNBorderBeamState::secondsSince(Instant at) const {
    return std::chrono::duration<double>(executor_->now() - at).count();
}

double QNBorderBeamState::fadeInOpacity(Instant at) const {
    if (!replayedAt_) {
        return 0;
    }
    const double elapsed = std::chrono::duration<double>(at - *replayedAt_).count();
    return easeOut().valueForProgress(progress(elapsed, config_.fadeInDuration));
}

double QNBorderBeamState::phase() const {
    if (!replayedAt_) {
        return 0;
    }
    return lapCurve().valueForProgress(progress(secondsSince(*replayedAt_), config_.duration));
}

double QNBorderBeamState::opacity() const {
    if (!replayedAt_) {
        return 0;
    }
    if (!fadeStartedAt_) {
        return fadeInOpacity(executor_->now());
    }
    const double t = progress(secondsSince(*fadeStartedAt_), config_.fadeOutDuration);
    return fadeFrom_ * (1 - easeIn().valueForProgress(t));
}

bool QNBorderBeamState::isAnimating() const {
    if (!replayedAt_) {
        return false;
    }
    if (fadeOutTask_ || secondsSince(*replayedAt_) < config_.duration) {
        return true;
    }
    return fadeStartedAt_ && secondsSince(*fadeStartedAt_) < config_.fadeOutDuration;
}

// --- Painting

void blurImage(QImage& image, double sigma) {
    if (!(sigma > 0.3) || image.isNull()) {
        return;
    }
    if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    // Three boxes of this radius have about the variance of the Gaussian.
    const int radius = std::max(1, int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    std::vector<std::uint8_t> line;
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(image.bits(), image.width(), image.height(), image.bytesPerLine(), radius, true,
                line);
        boxPass(image.bits(), image.width(), image.height(), image.bytesPerLine(), radius, false,
                line);
    }
}

void paintBorderBeam(QPainter& painter, QSizeF size, const QNConfigComposerBorderAnimation& config,
                     double phase, double opacity) {
    if (!(opacity > 0) || size.isEmpty()) {
        return;
    }
    const QNBeamGeometry g = beamGeometry(size.width(), size.height(), config, phase);
    const QRectF padded =
        QRectF(QPointF(0, 0), size).adjusted(g.padding, g.padding, -g.padding, -g.padding);
    painter.save();
    painter.setOpacity(painter.opacity() * std::clamp(opacity, 0.0, 1.0));
    painter.setRenderHint(QPainter::Antialiasing);
    paintBlurred(painter, size, padded, config.cornerRadius, g.halo,
                 beamColor(config, g.halo.opacity));
    paintBlurred(painter, size, padded, config.cornerRadius, g.glow,
                 beamColor(config, g.glow.opacity));
    strokeDashes(painter, beamDashes(padded, config.cornerRadius, g.core), g.core,
                 beamColor(config, g.core.opacity));
    painter.restore();
}

// --- Beam view

QNViewComposerBorderBeam::QNViewComposerBorderBeam(std::shared_ptr<Executor> executor,
                                                   QNConfigComposerBorderAnimation config,
                                                   QWidget* parent)
    : QWidget(parent), state_(std::move(executor), std::move(config)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    frameTimer_.setInterval(16);
    QObject::connect(&frameTimer_, &QTimer::timeout, this, [this] { tick(); });
}

QNViewComposerBorderBeam::~QNViewComposerBorderBeam() {
    state_.disappear();
}

void QNViewComposerBorderBeam::replay() {
    state_.replay();
    frameTimer_.start();
    update();
}

void QNViewComposerBorderBeam::tick() {
    update();
    if (!state_.isAnimating()) {
        frameTimer_.stop();
    }
}

void QNViewComposerBorderBeam::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintBorderBeam(painter, QSizeF(size()), state_.config(), state_.phase(), state_.opacity());
}

void QNViewComposerBorderBeam::hideEvent(QHideEvent* event) {
    state_.disappear();
    frameTimer_.stop();
    QWidget::hideEvent(event);
}

// --- Root view

QNViewComposition::QNViewComposition(QNControllerAutoCorrectingText& controller,
                                     std::shared_ptr<QNModelComposerBorderAnimationTrigger> trigger,
                                     std::shared_ptr<Executor> executor, QWidget* parent)
    : QWidget(parent),
      textView_(controller.textView()),
      trigger_(std::move(trigger)),
      executor_(std::move(executor)) {
    setAttribute(Qt::WA_TranslucentBackground);
    if (textView_) {
        textView_->setParent(this);
        // The sheet shows through the editor.
        QPalette palette = textView_->palette();
        palette.setColor(QPalette::Base, Qt::transparent);
        textView_->setPalette(palette);
        textView_->setAutoFillBackground(false);
        textView_->show();
    }
    rebuildBeam();
    tokenSubscription_ = trigger_->token.observe([this](const std::int64_t&) {
        if (beam_) {
            beam_->replay();
        }
    });
}

QNViewComposition::~QNViewComposition() = default;

bool QNViewComposition::isDark() const {
    return palette().color(QPalette::Window).lightnessF() <
           palette().color(QPalette::WindowText).lightnessF();
}

QNConfigComposerBorderAnimation QNViewComposition::resolvedConfig() const {
    const bool dark = isDark();
    auto config = QNConfigComposerBorderAnimation::standard().adapted(dark);
    if (dark) {
        // The secondary colour of the appearance the view shows now: the standard one was read
        // from the application's palette once, perhaps in the other appearance.
        const QColor secondary = palette().color(QPalette::PlaceholderText);
        config.beamColor = {secondary.redF(), secondary.greenF(), secondary.blueF(),
                            secondary.alphaF()};
    }
    return config;
}

void QNViewComposition::setReducesMotion(bool reduces) {
    if (reduces == reducesMotion_) {
        return;
    }
    reducesMotion_ = reduces;
    rebuildBeam();
}

void QNViewComposition::rebuildBeam() {
    const auto config = resolvedConfig();
    const bool wanted = config.isEnabled && !reducesMotion_;
    if (!wanted) {
        delete beam_.data();  // its destructor cancels a pending fade-out
        return;
    }
    if (!beam_) {
        beam_ = new QNViewComposerBorderBeam(executor_, config, this);
        beam_->setGeometry(rect());
        beam_->show();
    }
    beam_->state().setConfig(config);
    beam_->raise();
}

void QNViewComposition::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = resolvedConfig().cornerRadius;
    QColor fill = palette().color(QPalette::Window);
    fill.setAlphaF(0.97f);
    const QRectF sheet(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(sheet, radius, radius);
    const QColor border =
        isDark() ? QColor::fromRgbF(1, 1, 1, 0.09f) : QColor::fromRgbF(0, 0, 0, 0.15f);
    painter.setPen(QPen(border, 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(sheet.adjusted(0.25, 0.25, -0.25, -0.25), radius - 0.25, radius - 0.25);
}

void QNViewComposition::resizeEvent(QResizeEvent* event) {
    if (textView_) {
        textView_->setGeometry(rect());
    }
    if (beam_) {
        beam_->setGeometry(rect());
    }
    QWidget::resizeEvent(event);
}

void QNViewComposition::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        rebuildBeam();
    }
    QWidget::changeEvent(event);
}

}  // namespace ravlin
