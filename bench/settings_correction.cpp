// The Correction pane built again in online mode with the own provider on and the Codex
// command-line tool's rows shown, as it is after every change of a value it reads: the old rows
// dropped, the new ones made and laid out. Off screen, over the simulated desktop.
//
// With RAVLIN_SCREENSHOT_DIR set, also writes the pane in local and in online mode there
// (correction-local.png, correction-online.png).
#include <benchmark/benchmark.h>

#include "bench/bench_application.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "app/preferences/preferences.h"
#include "app/settings/correction_settings.h"
#include "app/settings/pane_correction.h"
#include "platform/fake/fake_desktop.h"

namespace {

using namespace ravlin;

struct PaneBench {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<Preferences> stores =
        makePreferences(std::make_shared<MemoryDefaults>(), {}, desktop.seams());
    std::shared_ptr<QNControllerCorrectionSettings> controller;
    std::unique_ptr<QNViewCorrectionPane> pane;

    explicit PaneBench(bool online) {
        stores->correctionModelMode->setMode(online ? QNCorrectionModelMode::online
                                                    : QNCorrectionModelMode::local);
        auto& byok = *stores->bringYourOwnKey;
        byok.setEnabled(true);
        byok.setCodexDetection({"/home/ada/.npm-global/bin/codex", "codex-cli 0.118.2",
                                QNCodexCLISupportStatus::supported,
                                QNCodexCLILoginState::notLoggedIn});
        byok.setProviderKind(QNBYOKProviderKind::codexCLI);
        QNCorrectionSettingsEnvironment env;
        env.stores = stores;
        env.executor = executor;
        env.workRunner = std::make_shared<ThreadWorkRunner>();
        env.reconfigureCorrectionEngines = [] {};
        env.localModelAvailability = [] {
            return QNModelAvailabilitySummary{false, "Unavailable",
                                              "The on-device model is not installed."};
        };
        auto state = std::make_shared<QNModelBYOKViewState>();
        state->byokSaveStatus.set(QNModeBYOKSaveStatus::failed(
            "Codex CLI is installed, but codex login has not been completed."));
        controller = std::make_shared<QNControllerCorrectionSettings>(env, state);
        pane = std::make_unique<QNViewCorrectionPane>(controller);
        pane->resize(560, pane->sizeHint().height());
        pane->show();
    }
};

void writeScreenshots() {
    const QString folder = qEnvironmentVariable("RAVLIN_SCREENSHOT_DIR");
    if (folder.isEmpty()) {
        return;
    }
    for (const bool online : {false, true}) {
        PaneBench bench(online);
        QApplication::processEvents();
        bench.pane->resize(560, bench.pane->sizeHint().height());
        QApplication::processEvents();
        bench.pane->grab().save(
            QDir(folder).filePath(online ? "correction-online.png" : "correction-local.png"));
    }
}

void BM_CorrectionPaneRebuildOnlineWithCodexRows(benchmark::State& state) {
    bench::offscreenApplication("bench_settings_correction");
    static const bool screenshots = (writeScreenshots(), true);
    (void)screenshots;
    PaneBench bench(true);
    for (auto _ : state) {
        bench.pane->rebuild();
        // What the event loop does next: polish and lay out the new rows, drop the old ones.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

BENCHMARK(BM_CorrectionPaneRebuildOnlineWithCodexRows)->Unit(benchmark::kMillisecond);

}  // namespace
