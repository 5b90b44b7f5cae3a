// One frame of the Composer's border beam at 540 x 360, halo and glow blurred, in both
// appearances, and the blur alone on the halo's layer. Off screen.
#include <benchmark/benchmark.h>

#include "bench/bench_application.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "app/editor/view_composition.h"

namespace {

using namespace ravlin;

void beamFrame(benchmark::State& state, bool dark) {
    bench::offscreenApplication("bench_panel");
    const auto config = QNConfigComposerBorderAnimation::standard().adapted(dark);
    QImage target(540, 360, QImage::Format_ARGB32_Premultiplied);
    double phase = 0;
    for (auto _ : state) {
        target.fill(Qt::transparent);
        QPainter painter(&target);
        paintBorderBeam(painter, QSizeF(540, 360), config, phase, 1);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
        phase = phase >= 1 ? 0 : phase + 0.013;
    }
}

void BM_BeamFrameDark(benchmark::State& state) {
    beamFrame(state, true);
}
void BM_BeamFrameLight(benchmark::State& state) {
    beamFrame(state, false);
}

void BM_BlurHalfSizeLayer(benchmark::State& state) {
    QImage layer(270, 180, QImage::Format_ARGB32_Premultiplied);
    layer.fill(QColor(20, 40, 60, 100));
    for (auto _ : state) {
        blurImage(layer, 3);
        benchmark::DoNotOptimize(layer.constBits());
    }
}

BENCHMARK(BM_BeamFrameDark)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BeamFrameLight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurHalfSizeLayer)->Unit(benchmark::kMillisecond);

}  // namespace
