#include "app/shell/recorders/double_tap_recorder.h"

#include "app/shell/recorders/key_capture.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "app/shell/recorders/recorder_symbols.h"

namespace ravlin {

namespace {

QString localized(const char* text) {
    return QCoreApplication::translate("ShortcutRecorder", text);
}

}  // namespace

// --- Token

QNViewDoubleTapKeyToken::QNViewDoubleTapKeyToken(std::uint32_t keyCode,
                                                 platform::KeyboardLayout& layout, QWidget* parent)
    : QLabel(QString::fromStdString(keyText(keyCode, layout)), parent) {
    setFont(monospacedBodyFont());
    setTextFormat(Qt::PlainText);
    setAccessibleName(text());
}

// --- Display

QNViewDoubleTapKeyDisplay::QNViewDoubleTapKeyDisplay(std::uint32_t keyCode,
                                                     platform::KeyboardLayout& layout,
                                                     QWidget* parent)
    : QWidget(parent) {
    auto* layoutBox = new QHBoxLayout(this);
    layoutBox->setContentsMargins(0, 0, 0, 0);
    layoutBox->setSpacing(0);
    // The key pressed twice, as one line: "E, E".
    auto* first = new QNViewDoubleTapKeyToken(keyCode, layout, this);
    auto* separator = new QLabel(QStringLiteral(", "), this);
    separator->setFont(first->font());
    separator->setAccessibleName(QString());
    layoutBox->addWidget(first);
    layoutBox->addWidget(separator);
    layoutBox->addWidget(new QNViewDoubleTapKeyToken(keyCode, layout, this));
    layoutBox->addStretch();
    setAccessibleName(QString::fromStdString(doubleTapText(keyCode, layout)));
}

QList<QNViewDoubleTapKeyToken*> QNViewDoubleTapKeyDisplay::tokens() const {
    return findChildren<QNViewDoubleTapKeyToken*>();
}

QString QNViewDoubleTapKeyDisplay::text() const {
    return accessibleName();
}

// --- Recorder

QNViewDoubleTapKeyRecorder::QNViewDoubleTapKeyRecorder(std::uint32_t keyCode, bool isRecording,
                                                       bool allowsOnlyModifierKeys,
                                                       std::function<void(bool)> onRecordingChange,
                                                       std::function<void(std::uint32_t)> onCapture,
                                                       QNRecorderContext context, QWidget* parent)
    : QWidget(parent),
      keyCode_(keyCode),
      isRecording_(isRecording),
      allowsOnlyModifierKeys_(allowsOnlyModifierKeys),
      onRecordingChange_(std::move(onRecordingChange)),
      onCapture_(std::move(onCapture)),
      context_(std::move(context)) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10 + 16 + 8, 0, 10, 0);
    auto* prompt = new QLabel(localized("Press key…"), this);
    prompt->setFont(bodyFont());
    prompt_ = prompt;
    layout->addWidget(prompt_);
    refresh();
}

QNViewDoubleTapKeyRecorder::~QNViewDoubleTapKeyRecorder() = default;

QSize QNViewDoubleTapKeyRecorder::minimumSizeHint() const {
    // At least 140 wide, and room for the key's line and the prompt: neither is ever cut.
    return QWidget::minimumSizeHint().expandedTo(QSize(140, 0));
}

bool QNViewDoubleTapKeyRecorder::isModifierKeyCode(std::uint32_t keyCode) {
    // Left and right Command, Shift, Option and Control (Caps Lock is none of them).
    return QNConfigQuickFix::isRecordableKeyCode(keyCode);
}

bool QNViewDoubleTapKeyRecorder::isExcludedKeyCode(std::uint32_t keyCode) {
    return QNConfigDoubleTap::isExcludedKeyCode(keyCode);
}

void QNViewDoubleTapKeyRecorder::setKeyCode(std::uint32_t keyCode) {
    keyCode_ = keyCode;
    refresh();
}

void QNViewDoubleTapKeyRecorder::setRecording(bool recording) {
    if (recording == isRecording_) {
        return;
    }
    isRecording_ = recording;
    if (recording) {
        installMonitor();
    } else {
        removeMonitor();
    }
    refresh();
}

void QNViewDoubleTapKeyRecorder::installMonitor() {
    if (monitor_.active() || !context_.localMonitor) {
        return;
    }
    monitor_ = context_.localMonitor->add(QNSessionKeyCapture::eventMask,
                                          [this](const platform::InputEvent& event) {
                                              handle(event);
                                              return true;
                                          });
}

void QNViewDoubleTapKeyRecorder::removeMonitor() {
    monitor_.reset();
}

void QNViewDoubleTapKeyRecorder::handle(const platform::InputEvent& event) {
    using platform::InputEventType;
    if (event.type == InputEventType::keyDown && event.keyCode == escapeKeyCode) {
        if (onRecordingChange_) {
            onRecordingChange_(false);
        }
        removeMonitor();
        return;
    }
    if (event.type == InputEventType::flagsChanged) {
        if (!allowsOnlyModifierKeys_) {
            // The typed trigger sees key presses only: a modifier held for a capital is no
            // answer, and no mistake either.
            return;
        }
        if (isModifierKeyCode(event.keyCode)) {
            capture(event.keyCode);
            return;
        }
        beep();
        return;
    }
    if (event.type != InputEventType::keyDown) {
        return;
    }
    if (allowsOnlyModifierKeys_ || isExcludedKeyCode(event.keyCode) ||
        static_cast<std::uint32_t>(event.flags) > 0x3FFFF) {
        beep();
        return;
    }
    capture(event.keyCode);
}

void QNViewDoubleTapKeyRecorder::capture(std::uint32_t keyCode) {
    if (onCapture_) {
        onCapture_(keyCode);
    }
    if (onRecordingChange_) {
        onRecordingChange_(false);
    }
    removeMonitor();
}

void QNViewDoubleTapKeyRecorder::beep() {
    if (context_.beep) {
        context_.beep();
    } else {
        QApplication::beep();
    }
}

void QNViewDoubleTapKeyRecorder::refresh() {
    if (display_ != nullptr) {
        display_->deleteLater();
        display_->hide();
        display_ = nullptr;
    }
    if (!isRecording_) {
        display_ = new QNViewDoubleTapKeyDisplay(keyCode_, *context_.seams.keyboardLayout, this);
        static_cast<QHBoxLayout*>(layout())->addWidget(display_);
    }
    prompt_->setVisible(isRecording_);
    setAccessibleName(isRecording_ ? localized("Press key…")
                                   : QString::fromStdString(
                                         doubleTapText(keyCode_, *context_.seams.keyboardLayout)));
    update();
}

void QNViewDoubleTapKeyRecorder::paintEvent(QPaintEvent*) {
    paintRecorderField(*this, isRecording_, hoverEffect_);
    QPainter painter(this);
    const int iconSize = 16;
    const QIcon icon =
        isRecording_ ? symbolIcon("record.circle", Qt::red, iconSize)
                     : symbolIcon("keyboard", palette().color(QPalette::PlaceholderText), iconSize);
    icon.paint(&painter, QRect(10, (height() - iconSize) / 2, iconSize, iconSize));
}

void QNViewDoubleTapKeyRecorder::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onRecordingChange_) {
        onRecordingChange_(!isRecording_);
    }
}

void QNViewDoubleTapKeyRecorder::enterEvent(QEnterEvent*) {
    hoverEffect_ = true;
    update();
}

void QNViewDoubleTapKeyRecorder::leaveEvent(QEvent*) {
    hoverEffect_ = false;
    update();
}

void QNViewDoubleTapKeyRecorder::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!appeared_) {
        appeared_ = true;
        if (isRecording_) {
            installMonitor();
        }
    }
}

void QNViewDoubleTapKeyRecorder::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    appeared_ = false;
    removeMonitor();
    if (isRecording_ && onRecordingChange_) {
        onRecordingChange_(false);
    }
}

}  // namespace ravlin
