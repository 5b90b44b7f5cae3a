// The settings window over a coordinator on the simulated desktop, off screen: the first show
// (the window, its toolbar, the four panes, the appear work and the first measurement) and a
// pane switch without animation (the selection, the measurement of the new pane and the resize).
#include <benchmark/benchmark.h>

#include "bench/bench_application.h"
#include "bench/bench_coordinator.h"

#include <QApplication>

#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "app/shell/coordinator.h"
#include "platform/fake/fake_desktop.h"

namespace {

using namespace ravlin;

struct Bench {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<QNCoordinatorApp> coordinator = bench::startedCoordinator(desktop, executor);

    [[nodiscard]] std::unique_ptr<QNControllerSettingsWindow> controller() {
        auto made = std::make_unique<QNControllerSettingsWindow>(
            [this](std::shared_ptr<QNStoreSettingsWindow> state,
                   std::function<void(QSize)> onSize) {
                return new QNViewSettings(std::move(state),
                                          QNModelSettingsDependencies::live(coordinator),
                                          std::nullopt, std::move(onSize));
            },
            [] {});
        made->setAnimationsEnabled(false);
        return made;
    }
    void settle() {
        QApplication::processEvents();
        executor->runUntilIdle();
    }
};

void BM_SettingsFirstShow(benchmark::State& state) {
    bench::offscreenApplication("bench_settings_window");
    Bench bench;
    for (auto _ : state) {
        auto controller = bench.controller();
        controller->show();
        bench.settle();
        benchmark::DoNotOptimize(controller->window()->height());
        state.PauseTiming();
        controller.reset();
        bench.settle();
        state.ResumeTiming();
    }
}

void BM_SettingsPaneSwitch(benchmark::State& state) {
    bench::offscreenApplication("bench_settings_window");
    Bench bench;
    auto controller = bench.controller();
    controller->show();
    bench.settle();
    std::size_t next = 0;
    for (auto _ : state) {
        next = (next + 1) % kAllSettingsPanes.size();
        controller->select(kAllSettingsPanes[next]);
        bench.settle();
        benchmark::DoNotOptimize(controller->window()->height());
    }
}

BENCHMARK(BM_SettingsFirstShow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettingsPaneSwitch)->Unit(benchmark::kMillisecond);

}  // namespace
