// Opening the Composer on a kept draft of none, about 20,000 and about 100,000 characters (the
// benchmark draft repeated, one paragraph): the shortcut through the coordinator over the
// simulated desktop, off screen, timed from the press until the panel is shown, laid out and
// painted with its text view focused; against a plain QTextEdit window that already holds the
// same text being shown again, laid out and painted. The first opening of each draft (right
// after it was kept) is timed apart from the later ones: the person's first press counts too.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTextEdit>
#include <chrono>
#include <memory>
#include <string>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/shell/coordinator.h"
#include "bench/bench_application.h"
#include "bench/bench_coordinator.h"
#include "bench/bench_input.h"
#include "bench/composer_fixture.h"
#include "platform/fake/fake_desktop.h"

namespace {

using namespace ravlin;
using Clock = std::chrono::steady_clock;

struct Shell {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<QNCoordinatorApp> coordinator = bench::startedCoordinator(desktop, executor);
    platform::ElementRef field = [this] {
        const auto pid = desktop.addApplication({.identity = "gedit", .name = "gedit"});
        const auto element =
            desktop.addElement(desktop.addWindow(pid, {100, 100, 600, 400}),
                               {.role = "AXTextArea",
                                .value = u"",
                                .frame = platform::Rect{120, 140, 400, 24}});
        desktop.focus(element);
        desktop.setFrontmost(pid);
        return element;
    }();

    void settle() const {
        while (executor->runUntilIdle() > 0) {
        }
        QApplication::processEvents();
        executor->runUntilIdle();
        QApplication::processEvents();
    }
    // The shortcut, until the panel shows its text view focused and painted.
    void open() const {
        coordinator->toggleHotkey("hotkey");
        settle();
    }
    void dismiss() const {
        coordinator->dismissPanel("dismiss-key");
        settle();
    }
    // Leaves `draft` kept: the field's selection seeds a session that is then dismissed.
    void keep(const std::u16string& draft) {
        desktop.setValue(field, draft, {0, static_cast<std::int64_t>(draft.size())});
        open();
        dismiss();
        desktop.setValue(field, u"", {0, 0});
    }
    [[nodiscard]] bool shows(std::size_t length) const {
        return coordinator->isPanelOpen && coordinator->panel->isVisible() &&
               coordinator->textController->string().size() == length;
    }
};

void BM_ComposerOpen(benchmark::State& state) {
    bench::offscreenApplication("bench_composer_open");
    static Shell shell;
    const std::u16string draft =
        state.range(0) > 0 ? bench::benchText(static_cast<std::size_t>(state.range(0))) : u"";
    shell.keep(draft);
    // (the local rules may change the kept text a little)
    const std::size_t kept = shell.coordinator->preservedDraft.value_or(u"").size();
    double first = 0;
    bool isFirst = true;
    bool shown = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        shell.open();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        if (isFirst) {
            first = elapsed;
            isFirst = false;
        }
        shown = shown && shell.shows(kept);
        shell.dismiss();
    }
    if (!shown) {
        state.SkipWithError("the panel did not open on the kept draft");
    }
    state.counters["characters"] = static_cast<double>(kept);
    state.counters["first_ms"] = first * 1000;
    state.SetLabel(bench::benchTextSource());
}

void BM_PlainTextEditShow(benchmark::State& state) {
    bench::offscreenApplication("bench_composer_open");
    const std::u16string draft =
        state.range(0) > 0 ? bench::benchText(static_cast<std::size_t>(state.range(0))) : u"";
    bench::PlainTextEdit view;
    view.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    view.setPlainText(QString::fromUtf16(draft.data(), static_cast<qsizetype>(draft.size())));
    view.moveCursor(QTextCursor::End);
    view.resize(540, 360);
    double first = 0;
    bool isFirst = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        view.show();
        view.activateWindow();
        view.setFocus();
        QApplication::processEvents();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        if (isFirst) {
            first = elapsed;
            isFirst = false;
        }
        view.hide();
        QApplication::processEvents();
    }
    state.counters["characters"] = static_cast<double>(draft.size());
    state.counters["first_ms"] = first * 1000;
    state.SetLabel(bench::benchTextSource());
}

BENCHMARK(BM_ComposerOpen)
    ->Arg(0)
    ->Arg(20000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainTextEditShow)
    ->Arg(0)
    ->Arg(20000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
