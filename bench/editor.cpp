// The Composer editor at the end of a typed draft of about 2,000 characters and of about 20,000:
// one typed character from its key event to the edit report (and the whole key press), and one
// instant local-fix apply before the caret; the planning of an animated correction apply (changed
// range and diff) for one word changed near the end; one prefix-wave frame over the draft (the
// decoration layer and the view's extra selections). Off screen, on a manual executor.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <chrono>
#include <memory>
#include <string>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/correction_animation_plan.h"
#include "bench/bench_application.h"
#include "bench/bench_input.h"

namespace {

using namespace ravlin;
using Clock = std::chrono::steady_clock;

struct Editor {
    explicit Editor(std::u16string text) {
        bench::offscreenApplication("bench_editor");
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(560, 400);
        view->show();
        controller->setText(std::move(text), QNPlacementCaret::end);
        executor->runUntilIdle();
    }
    void press(Qt::Key key, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(view, &event);
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
};

// From the key event to the edit report; the Backspace after each key is not counted.
void BM_KeystrokeToUserEdit(benchmark::State& state) {
    Editor editor(bench::benchText(static_cast<std::size_t>(state.range(0))));
    Clock::time_point start;
    Clock::time_point reported;
    editor.controller->onUserEdit = [&](const QNUserEdit&) { reported = Clock::now(); };
    for (auto _ : state) {
        start = Clock::now();
        editor.press(Qt::Key_A, QStringLiteral("a"));
        state.SetIterationTime(std::chrono::duration<double>(reported - start).count());
        editor.press(Qt::Key_Backspace, {});
        editor.executor->runUntilIdle();
    }
    state.counters["characters"] = static_cast<double>(editor.controller->string().size());
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_KeystrokeToUserEdit)
    ->Arg(2000)
    ->Arg(20000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The whole key press: the report, the document's own change and its layout.
void BM_WholeKeystroke(benchmark::State& state) {
    Editor editor(bench::benchText(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        const auto start = Clock::now();
        editor.press(Qt::Key_A, QStringLiteral("a"));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        editor.press(Qt::Key_Backspace, {});
        editor.executor->runUntilIdle();
    }
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_WholeKeystroke)->Arg(2000)->Arg(20000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One local fix of the last finished word ("teh"), everything before it settled; range(1) = 1
// passes no settled prefix, so the rules run over the whole draft.
void BM_LocalFixApply(benchmark::State& state) {
    const std::u16string draft = bench::benchText(static_cast<std::size_t>(state.range(0)));
    const std::u16string text = draft + u" teh ";
    const std::u16string settled = state.range(1) == 0 ? draft + u" " : std::u16string();
    Editor editor(text);
    bool changed = false;
    for (auto _ : state) {
        state.PauseTiming();
        editor.controller->setText(text, QNPlacementCaret::end);
        editor.executor->runUntilIdle();
        state.ResumeTiming();
        changed = editor.controller
                      ->applyLocalFixesBeforeCaret(settled, QNModelLocalFixRules::all,
                                                   TierPolicy::defaultPolicy())
                      .didChange;
    }
    state.counters["changed"] = changed ? 1 : 0;
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_LocalFixApply)
    ->Args({2000, 0})
    ->Args({20000, 0})
    ->Args({2000, 1})
    ->Args({20000, 1})
    ->Unit(benchmark::kMicrosecond);

// Planning an animated apply of a correction that changes one word near the end of the draft.
void BM_AnimatedApplyPlanning(benchmark::State& state) {
    const std::u16string draft = bench::benchText(static_cast<std::size_t>(state.range(0)));
    const std::u16string from = draft + u" a finall word.";
    const std::u16string to = draft + u" a final word.";
    std::size_t operations = 0;
    for (auto _ : state) {
        const auto changed = editor::changedRange(from, to);
        const auto plan = editor::planCorrectionApply(from, to);
        benchmark::DoNotOptimize(changed);
        operations = plan.operations.size();
    }
    state.counters["operations"] = static_cast<double>(operations);
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_AnimatedApplyPlanning)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

// One frame of a running prefix wave over the whole draft, the view scrolled to its end.
void BM_PrefixWaveFrame(benchmark::State& state) {
    Editor editor(bench::benchText(static_cast<std::size_t>(state.range(0))));
    editor.controller->startPrefixWave(
        static_cast<std::int64_t>(editor.controller->string().size()));
    editor.executor->advance(std::chrono::milliseconds(6 * 33));  // full intensity
    for (auto _ : state) {
        const auto start = Clock::now();
        editor.executor->advance(std::chrono::milliseconds(33));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    const auto window = editor.controller->prefixWaveRenderedRange();
    state.counters["window"] = window ? static_cast<double>(window->length) : 0;
    state.counters["selections"] = static_cast<double>(editor.view->extraSelections().size());
    editor.controller->stopPrefixWave(true);
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_PrefixWaveFrame)
    ->Arg(2000)
    ->Arg(20000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
