// The Composer at the end of a typed draft of about 2,000 characters and of about 20,000: one
// keystroke that ends a misspelled word, from its key event through the service's edit intake to
// the instant local fix written before the caret. The text's length is held steady: the word is
// typed and taken back outside the timed part. Off screen, on a manual executor.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <chrono>
#include <memory>
#include <string>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "bench/bench_application.h"
#include "bench/bench_input.h"

namespace {

using namespace ravlin;
using Clock = std::chrono::steady_clock;

struct Composer {
    explicit Composer(std::u16string text) {
        bench::offscreenApplication("bench_composer_keystroke");
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(560, 400);
        view->show();
        service = std::make_unique<QNServiceComposer>(QNServiceComposer::Construction{
            .controller = controller,
            .clock = executor,
        });
        service->begin(std::move(text), false, QNPlacementCaret::end,
                       QNComposerCorrectionPolicy::liveTyping);
        executor->runUntilIdle();
    }
    void press(Qt::Key key, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(view, &event);
    }
    void type(const QString& keys) {
        for (const QChar character : keys) {
            press(Qt::Key_unknown, QString(character));
            executor->runUntilIdle();
        }
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
    std::unique_ptr<QNServiceComposer> service;
};

// The space after " recieve": the key event, the edit report, the service's intake and its local
// pass, which writes "receive".
void BM_KeystrokeToLocalFix(benchmark::State& state) {
    Composer composer(bench::benchText(static_cast<std::size_t>(state.range(0))));
    const auto length = composer.controller->string().size();
    std::int64_t fixed = 0;
    for (auto _ : state) {
        composer.type(QStringLiteral(" recieve"));
        const auto start = Clock::now();
        composer.press(Qt::Key_Space, QStringLiteral(" "));
        composer.executor->runUntilIdle();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        fixed += composer.controller->string().ends_with(u"eceive ") ? 1 : 0;
        for (int key = 0; key < 9; ++key) {
            composer.press(Qt::Key_Backspace, {});
            composer.executor->runUntilIdle();
        }
    }
    state.counters["characters"] = static_cast<double>(length);
    state.counters["fixed"] =
        benchmark::Counter(static_cast<double>(fixed), benchmark::Counter::kAvgIterations);
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_KeystrokeToLocalFix)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
