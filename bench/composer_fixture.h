#pragma once

// The Composer (the real editor, service and local rules, no polish engine, off screen, on a
// manual executor) and a plain QTextEdit laid out the same way, for benchmarks that press the
// same keys into both in one program.

#include <QApplication>
#include <QKeyEvent>
#include <QTextEdit>
#include <memory>
#include <string>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "bench/bench_application.h"

namespace ravlin::bench {

inline constexpr QSize kComposerViewSize{560, 400};

inline void press(QWidget* view, Qt::Key key, const QString& text,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent down(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(view, &down);
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(view, &up);
}

inline std::u16string toU16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()),
            static_cast<std::size_t>(text.size())};
}

struct Composer {
    explicit Composer(std::u16string text) {
        offscreenApplication("bench_composer");
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(kComposerViewSize);
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
    // Everything the key left to do at all: each later turn (the pulses' frames, the service's
    // pauses) run as its time comes, on virtual time, the view painted after each.
    void settleUntilIdle() const {
        while (true) {
            settle();
            const auto next = executor->nextDueTime();
            if (!next) {
                return;
            }
            executor->advance(*next - executor->now());
        }
    }
    void key(Qt::Key key, const QString& text,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        press(view, key, text, modifiers);
        settle();
    }
    void clear() const {
        service->reset();
        settleUntilIdle();
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
        offscreenApplication("bench_composer");
        view = std::make_unique<PlainTextEdit>();
        QFont font = view->font();
        font.setPixelSize(static_cast<int>(QNControllerAutoCorrectingText::kFontSize));
        view->setFont(font);
        view->setPlainText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
        view->moveCursor(QTextCursor::End);
        view->resize(kComposerViewSize);
        view->show();
        settle();
    }
    static void settle() { QCoreApplication::processEvents(); }
    static void settleUntilIdle() { settle(); }
    void key(Qt::Key key, const QString& text,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        press(view.get(), key, text, modifiers);
        settle();
    }
    void clear() const {
        view->clear();
        settle();
    }
    [[nodiscard]] std::u16string text() const { return toU16(view->toPlainText()); }

    std::unique_ptr<QTextEdit> view;
};

}  // namespace ravlin::bench
