// A paste of a one-paragraph draft of about 2,000, 20,000, 100,000 and 400,000 characters (the benchmark draft
// repeated, its misspellings included) into an empty Composer (the real editor, service and
// local rules, no polish engine), timed from Ctrl+V until the view is idle again: the local
// fixes written, every fade pulse's frames drawn and painted, the service's pauses run, all on
// virtual time so that only work is counted; against the same paste into a plain QTextEdit laid
// out the same, until its events are processed. The clipboard is Qt's own, in this process.
#include <benchmark/benchmark.h>

#include <QClipboard>
#include <QGuiApplication>
#include <chrono>
#include <string>

#include "bench/bench_input.h"
#include "bench/composer_fixture.h"

namespace {

using namespace ravlin;
using bench::Composer;
using bench::PlainEdit;
using Clock = std::chrono::steady_clock;

template <class Editor>
void paste(benchmark::State& state) {
    const std::u16string draft = bench::benchText(static_cast<std::size_t>(state.range(0)));
    Editor editor(u"");
    QGuiApplication::clipboard()->setText(
        QString::fromUtf16(draft.data(), static_cast<qsizetype>(draft.size())));
    std::size_t length = 0;
    for (auto _ : state) {
        editor.clear();
        const auto start = Clock::now();
        editor.key(Qt::Key_V, {}, Qt::ControlModifier);
        editor.settleUntilIdle();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        length = editor.text().size();
    }
    // (the Composer's fixes change the length a little)
    if (length < draft.size() * 9 / 10 || length > draft.size() * 11 / 10) {
        state.SkipWithError("the paste did not arrive whole");
    }
    state.counters["characters"] = static_cast<double>(length);
    state.SetLabel(bench::benchTextSource());
}

void BM_ComposerPaste(benchmark::State& state) {
    paste<Composer>(state);
}
void BM_PlainTextEditPaste(benchmark::State& state) {
    paste<PlainEdit>(state);
}

BENCHMARK(BM_ComposerPaste)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(100000)
    ->Arg(400000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);
BENCHMARK(BM_PlainTextEditPaste)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(100000)
    ->Arg(400000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

}  // namespace
