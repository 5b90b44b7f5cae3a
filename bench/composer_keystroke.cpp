// One keystroke at the end of a typed draft of about 2,000, 20,000 and 100,000 characters: the
// space that ends a misspelled word, pressed into the Composer (the real editor, service and
// local rules, no polish engine, so nothing settles and the local pass covers the whole draft)
// until its events are processed and the instant local fix is in the view; and the same key
// pressed into a plain QTextEdit holding the same text until its events are processed. Both
// run in one program on the same text, off screen, so their ratio is the Composer's overhead.
// The text's length is held steady: the word is typed and taken back outside the timed part.
//
// With RAVLIN_BENCH_TEXT naming the reference draft of 20,000 characters, the 2,000 size is the
// reference draft of 2,000 characters (its first 2,000, without the word it cuts), and the
// 100,000 size is it repeated five times, one paragraph.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "bench/bench_input.h"
#include "bench/composer_fixture.h"

namespace {

using namespace ravlin;
using bench::Composer;
using bench::PlainEdit;
using Clock = std::chrono::steady_clock;

// The draft as the Composer shows it once its local pass has run over it.
std::u16string shownDraft(std::size_t characters) {
    return Composer(bench::benchText(characters)).text();
}

// The space after " recieve"; the Composer's local pass writes "receive" before the caret.
template <class Editor>
void keystroke(benchmark::State& state) {
    Editor editor(shownDraft(static_cast<std::size_t>(state.range(0))));
    const auto length = editor.text().size();
    std::int64_t fixed = 0;
    for (auto _ : state) {
        for (const QChar character : QStringLiteral(" recieve")) {
            editor.key(Qt::Key_unknown, QString(character));
        }
        const auto start = Clock::now();
        editor.key(Qt::Key_Space, QStringLiteral(" "));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        fixed += editor.text().ends_with(u"eceive ") ? 1 : 0;
        for (int backspace = 0; backspace < 9; ++backspace) {
            editor.key(Qt::Key_Backspace, {});
        }
    }
    state.counters["characters"] = static_cast<double>(length);
    state.counters["fixed"] =
        benchmark::Counter(static_cast<double>(fixed), benchmark::Counter::kAvgIterations);
    state.SetLabel(bench::benchTextSource());
}

void BM_ComposerKeystroke(benchmark::State& state) {
    keystroke<Composer>(state);
}
void BM_PlainTextEditKeystroke(benchmark::State& state) {
    keystroke<PlainEdit>(state);
}

BENCHMARK(BM_ComposerKeystroke)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainTextEditKeystroke)
    ->Arg(2000)
    ->Arg(20000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
