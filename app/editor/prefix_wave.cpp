// The prefix wave: while a correction request is in flight, the text it covers is dimmed and
// soft bands tinted with the accent colour travel through it from left to right. It is drawn
// only as the decoration layer's foreground colour, so the text, its undo history and the edit
// reports never see it. The wave and its delayed stop are coroutines on the executor that hold
// the controller weakly; a generation counter keeps a stopped or superseded one from touching a
// newer wave.

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/edit_reporting.h"
#include "app/editor/prefix_wave_window.h"

namespace ravlin {
namespace {

using std::chrono::milliseconds;

constexpr int kFadeInFrames = 5;
constexpr int kFadeOutFrames = 8;
constexpr double kDimmedTextOpacity = 0.5;
constexpr double kBandSigma = 6.0;
constexpr double kBandPeriod = 80.0;
constexpr double kPhaseStep = 1.32;
constexpr milliseconds kFrame{33};
constexpr milliseconds kStopGrace{220};
constexpr double kBandSegment = 4.0;
constexpr double kMinimumWeight = 0.01;
constexpr int kVisibleMarginY = 48;

// `from` moved toward `to` by `fraction`, every component (alpha too) mixed linearly.
QColor blended(const QColor& from, const QColor& to, double fraction) {
    const auto mix = [fraction](float a, float b) {
        return static_cast<float>(a + (b - a) * fraction);
    };
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()),
                            mix(a.blueF(), b.blueF()), mix(a.alphaF(), b.alphaF()));
}

}  // namespace

void QNControllerAutoCorrectingText::startPrefixWave(std::int64_t snapshotLength) {
    if (snapshotLength <= 0) {
        resetPrefixWave();
        return;
    }
    if (prefixWaveStopTask_) {
        std::exchange(prefixWaveStopTask_, nullptr)->request_stop();
    }
    prefixWaveSnapshotLength_ = snapshotLength;
    if (prefixWaveTask_) {
        prefixWaveFadingOut_ = false;  // a fade-out in progress turns back into a running wave
        return;
    }
    const std::int64_t generation = ++prefixWaveGeneration_;
    prefixWaveFadingOut_ = false;
    clearPrefixWaveRendering();
    prefixWaveTask_ = std::make_shared<std::stop_source>();
    prefixWaveTask(generation, executor_, FlowGuard(alive_, prefixWaveTask_->get_token()));
}

void QNControllerAutoCorrectingText::stopPrefixWave(bool immediately) {
    if (immediately) {
        resetPrefixWave();
        return;
    }
    if (!prefixWaveTask_) {
        clearPrefixWaveRendering();
        prefixWaveSnapshotLength_ = 0;
        return;
    }
    if (prefixWaveStopTask_) {
        return;
    }
    prefixWaveStopTask_ = std::make_shared<std::stop_source>();
    prefixWaveStopTask(prefixWaveGeneration_, executor_,
                       FlowGuard(alive_, prefixWaveStopTask_->get_token()));
}

void QNControllerAutoCorrectingText::resetPrefixWave() {
    ++prefixWaveGeneration_;
    if (prefixWaveStopTask_) {
        std::exchange(prefixWaveStopTask_, nullptr)->request_stop();
    }
    if (prefixWaveTask_) {
        std::exchange(prefixWaveTask_, nullptr)->request_stop();
    }
    prefixWaveFadingOut_ = false;
    prefixWaveSnapshotLength_ = 0;
    clearPrefixWaveRendering();
}

void QNControllerAutoCorrectingText::clearPrefixWaveRendering() {
    const auto length = static_cast<std::int64_t>(shadow_.size());
    if (textView_ && length > 0) {
        decorations_.remove(QNDecorationKey::foreground, {0, length});
        redrawDecorations();
    }
    prefixWaveRenderedRange_.reset();
}

std::optional<text::Utf16Range> QNControllerAutoCorrectingText::prefixWaveVisibleCharacterRange()
    const {
    const QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return std::nullopt;
    }
    const QRect viewport = view->viewport()->rect();
    if (viewport.width() <= 0 || viewport.height() <= 0) {
        return std::nullopt;
    }
    // The viewport in document coordinates, widened by the side insets and a margin above and
    // below, read at its corners.
    const QPointF scroll(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
    const QRectF shown = QRectF(viewport).translated(scroll).adjusted(
        -QNTextViewCommitAware::kInsetWidth, -kVisibleMarginY, QNTextViewCommitAware::kInsetWidth,
        kVisibleMarginY);
    QAbstractTextDocumentLayout* layout = view->document()->documentLayout();
    const auto length = static_cast<std::int64_t>(shadow_.size());
    const std::int64_t first =
        std::clamp<std::int64_t>(layout->hitTest(shown.topLeft(), Qt::FuzzyHit), 0, length);
    const std::int64_t last =
        std::clamp<std::int64_t>(layout->hitTest(shown.bottomRight(), Qt::FuzzyHit), 0, length);
    if (last <= first) {
        return std::nullopt;
    }
    return text::Utf16Range{first, last - first};
}

QCoro::Task<> QNControllerAutoCorrectingText::prefixWaveTask(std::int64_t generation,
                                                             std::shared_ptr<Executor> executor,
                                                             FlowGuard guard) {
    const std::weak_ptr<const int> alive = alive_;  // read before the first wait
    // Like any task, the wave starts on a later turn of the sequence.
    co_await sleepFor(*executor, std::chrono::nanoseconds::zero(), guard.stop());
    double phase = 0;
    int fadeIn = 0;
    int fadeOut = 0;
    while (!guard.ended() && prefixWaveGeneration_ == generation) {
        const double fadeOutShare =
            prefixWaveFadingOut_
                ? std::min(1.0, static_cast<double>(fadeOut) / static_cast<double>(kFadeOutFrames))
                : 0.0;
        const double fadeInShare =
            std::min(1.0, static_cast<double>(fadeIn) / static_cast<double>(kFadeInFrames));
        if (!drawPrefixWaveFrame(generation, guard.stop(), fadeInShare, fadeOutShare, phase)) {
            break;
        }
        phase += kPhaseStep;
        if (phase >= kBandPeriod) {
            phase -= kBandPeriod;
        }
        if (!prefixWaveFadingOut_) {
            ++fadeIn;
            fadeOut = 0;
        } else if (++fadeOut >= kFadeOutFrames) {
            break;
        }
        co_await sleepFor(*executor, kFrame, guard.stop());
    }
    // Nothing of a controller that is gone may be read; a stale wave touches nothing.
    if (!alive.expired()) {
        finishPrefixWave(generation);
    }
}

void QNControllerAutoCorrectingText::finishPrefixWave(std::int64_t generation) {
    if (prefixWaveGeneration_ != generation) {
        return;
    }
    clearPrefixWaveRendering();
    prefixWaveTask_.reset();
    if (prefixWaveStopTask_) {
        std::exchange(prefixWaveStopTask_, nullptr)->request_stop();
    }
    prefixWaveFadingOut_ = false;
    prefixWaveSnapshotLength_ = 0;
}

QCoro::Task<> QNControllerAutoCorrectingText::prefixWaveStopTask(std::int64_t generation,
                                                                 std::shared_ptr<Executor> executor,
                                                                 FlowGuard guard) {
    co_await sleepFor(*executor, kStopGrace, guard.stop());
    if (guard.ended() || prefixWaveGeneration_ != generation) {
        co_return;
    }
    prefixWaveStopTask_.reset();
    prefixWaveFadingOut_ = true;
}

bool QNControllerAutoCorrectingText::drawPrefixWaveFrame(std::int64_t generation,
                                                         const std::stop_token& stop, double fadeIn,
                                                         double fadeOut, double phase) {
    QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return false;
    }
    const auto storageLength = static_cast<std::int64_t>(shadow_.size());
    const std::int64_t covered = std::min(prefixWaveSnapshotLength_, storageLength);
    if (covered <= 0) {
        return false;
    }
    const text::Utf16Range window = editor::prefixWaveWindow(
        covered,
        covered > editor::kPrefixWaveWholeLength ? prefixWaveVisibleCharacterRange() : std::nullopt,
        view->selectedRange().location);
    if (window.length <= 0) {
        return false;
    }
    if (prefixWaveRenderedRange_) {
        const text::Utf16Range drawn = editor::clampRange(*prefixWaveRenderedRange_, storageLength);
        if (drawn.length > 0) {
            decorations_.remove(QNDecorationKey::foreground, drawn);
        }
    }
    const double intensity = (1.0 - fadeOut) * fadeIn;
    const double base = 1.0 - (1.0 - kDimmedTextOpacity) * intensity;
    prefixWaveRenderedRange_ = window;

    // The palette is read at every frame, so a switch between light and dark follows at once.
    const QPalette palette = view->palette();
    const QColor label = palette.color(QPalette::Text);
    const QColor accent = palette.color(QPalette::Highlight);
    const auto withAlpha = [&](double alpha) {
        QColor color = label;
        color.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0) * label.alphaF()));
        return color;
    };
    const auto widened = [&](text::Utf16Range range) {
        return QNDecorationLayer::widenToCodePoints(range, shadow_);
    };
    decorations_.add(QNDecorationKey::foreground, widened(window), withAlpha(base));

    const std::int64_t start = window.location;
    const std::int64_t end = window.end();
    const double reach = std::ceil(3 * kBandSigma);
    const auto firstBand = static_cast<std::int64_t>(
        std::floor((static_cast<double>(start) - reach - phase) / kBandPeriod));
    const auto lastBand = static_cast<std::int64_t>(
        std::ceil((static_cast<double>(end) + reach - phase) / kBandPeriod));
    for (std::int64_t band = firstBand; band <= lastBand; ++band) {
        if (stop.stop_requested() || prefixWaveGeneration_ != generation) {
            break;
        }
        const double centre = static_cast<double>(band) * kBandPeriod + phase;
        for (double d0 = -reach; d0 < reach; d0 += kBandSegment) {
            const double d1 = std::min(d0 + kBandSegment, reach);
            const double middle = (d0 + d1) / 2;
            const double weight =
                std::exp(-(middle * middle) / (2 * kBandSigma * kBandSigma)) * intensity;
            if (weight <= kMinimumWeight) {
                continue;
            }
            const auto from = std::max(start, static_cast<std::int64_t>(std::floor(centre + d0)));
            const auto to = std::min(end, static_cast<std::int64_t>(std::ceil(centre + d1)));
            if (to <= from) {
                continue;
            }
            decorations_.add(QNDecorationKey::foreground, widened({from, to - from}),
                             blended(withAlpha(base + (1 - base) * weight), accent, weight));
        }
    }
    redrawDecorations();
    return true;
}

}  // namespace ravlin
