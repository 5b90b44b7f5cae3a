// One keystroke at the end of a typed draft of about 2,000 characters and of about 20,000: the
// space that ends a misspelled word, pressed into the Composer (the real editor, service and
// local rules, no polish engine, so nothing settles and the local pass covers the whole draft)
// until its events are processed and the instant local fix is in the view; and the same key
// pressed into a plain QTextEdit holding the same text until its events are processed. Both
// run in one program on the same text, off screen, so their ratio is the Composer's overhead.
// The text's length is held steady: the word is typed and taken back outside the timed part.
//
// With RAVLIN_BENCH_TEXT naming the reference draft of 20,000 characters, the 2,000 size is the
// reference draft of 2,000 characters (its first 2,000, without the word it cuts).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTextEdit>
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

constexpr QSize kViewSize{560, 400};

void press(QWidget* view, Qt::Key key, const QString& text) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(view, &up);
}

struct Composer {
    explicit Composer(std::u16string text) {
        bench::offscreenApplication("bench_composer_keystroke");
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(kViewSize);
        view->show();
        service = std::make_unique<QNServiceComposer>(QNServiceComposer::Construction{
            .controller = controller,
            .clock = executor,
        });
        service->begin(std::move(text), false, QNPlacementCaret::end,
                       QNComposerCorrectionPolicy::liveTyping);
        settle();
    }
    // Everything the key left to do now: the service's turn, the first pulse frame, painting.
    void settle() const {
        executor->runUntilIdle();
        QCoreApplication::processEvents();
    }
    void key(Qt::Key key, const QString& text) const {
        press(view, key, text);
        settle();
    }
    [[nodiscard]] std::u16string text() const { return controller->string(); }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
    std::unique_ptr<QNServiceComposer> service;
};

// A plain QTextEdit laid out as the Composer's editor lays out its text: no frame, the same
// insets, font and width, so both wrap the draft into the same lines.
class PlainTextEdit final : public QTextEdit {
  public:
    PlainTextEdit() {
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setViewportMargins(QNTextViewCommitAware::kInsetWidth, QNTextViewCommitAware::kInsetHeight,
                           QNTextViewCommitAware::kInsetWidth,
                           QNTextViewCommitAware::kInsetHeight);
        document()->setDocumentMargin(0);
    }
};

struct PlainEdit {
    explicit PlainEdit(const std::u16string& text) {
        bench::offscreenApplication("bench_composer_keystroke");
        view = std::make_unique<PlainTextEdit>();
        QFont font = view->font();
        font.setPixelSize(static_cast<int>(QNControllerAutoCorrectingText::kFontSize));
        view->setFont(font);
        view->setPlainText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
        view->moveCursor(QTextCursor::End);
        view->resize(kViewSize);
        view->show();
        settle();
    }
    static void settle() { QCoreApplication::processEvents(); }
    void key(Qt::Key key, const QString& text) const {
        press(view.get(), key, text);
        settle();
    }
    [[nodiscard]] std::u16string text() const {
        const QString plain = view->toPlainText();
        return {reinterpret_cast<const char16_t*>(plain.utf16()),
                static_cast<std::size_t>(plain.size())};
    }

    std::unique_ptr<QTextEdit> view;
};

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
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainTextEditKeystroke)
    ->Arg(2000)
    ->Arg(20000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
