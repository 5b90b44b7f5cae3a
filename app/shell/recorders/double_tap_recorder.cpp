#include "app/shell/recorders/double_tap_recorder.h"

#include "app/shell/recorders/key_capture.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

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
      context_(std::move(context)),
      name_(localized("Double-tap key")) {
    setAttribute(Qt::WA_Hover);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    row_ = new QNRecorderField(this);
    setFocusProxy(row_);
    connect(row_, &QAbstractButton::clicked, this, [this] {
        if (onRecordingChange_) {
            onRecordingChange_(!isRecording_);
        }
    });
    row_->setCursor(Qt::PointingHandCursor);
    row_->setMinimumWidth(140);
    row_->installEventFilter(this);
    auto* layout = new QHBoxLayout(row_);
    layout->setContentsMargins(10 + 16 + 8, 0, 10, 0);
    auto* prompt = new QLabel(localized("Press key…"), row_);
    prompt->setFont(bodyFont());
    prompt_ = prompt;
    layout->addWidget(prompt_);
    column->addWidget(row_);
    message_ = new QLabel(this);
    message_->setFont(captionFont());
    message_->setStyleSheet(QStringLiteral("color: red"));
    message_->setAlignment(Qt::AlignRight);
    message_->setWordWrap(true);
    message_->hide();
    column->addWidget(message_);
    refresh();
}

QNViewDoubleTapKeyRecorder::~QNViewDoubleTapKeyRecorder() = default;

QSize QNViewDoubleTapKeyRecorder::minimumSizeHint() const {
    // At least 140 wide, and room for the key's line and the prompt: neither is ever cut (the
    // refusal under them wraps).
    return QSize(std::max(140, row_->minimumSizeHint().width()),
                 QWidget::minimumSizeHint().height());
}

bool QNViewDoubleTapKeyRecorder::isModifierKeyCode(std::uint32_t keyCode) {
    // Left and right Command, Shift, Option and Control (Caps Lock is none of them).
    return QNConfigQuickFix::isRecordableKeyCode(keyCode);
}

bool QNViewDoubleTapKeyRecorder::isExcludedKeyCode(std::uint32_t keyCode) {
    return QNConfigDoubleTap::isExcludedKeyCode(keyCode);
}

void QNViewDoubleTapKeyRecorder::setName(const QString& name) {
    name_ = name;
    refresh();
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
    // What was said of a refused key is about that recording only.
    if (refusal_) {
        refusal_.reset();
        refresh();
    }
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
    const QString name = keyName(event.keyCode);
    const std::string onlyModifiers =
        localized("%1 is not a modifier: Quick Fix takes Shift, Ctrl, Alt or Super, left or "
                  "right.")
            .arg(name)
            .toStdString();
    if (event.type == InputEventType::flagsChanged) {
        if (!allowsOnlyModifierKeys_) {
            // The typed trigger sees key presses only: a modifier held for a capital is no
            // answer, and no mistake either; a modifier pressed for itself is told why.
            if (isModifierKeyCode(event.keyCode) && event.flags != 0) {
                refuse(localized("%1 types nothing: the double tap takes a key that types, "
                                 "such as E.")
                           .arg(name)
                           .toStdString(),
                       false);
            }
            return;
        }
        if (isModifierKeyCode(event.keyCode)) {
            capture(event.keyCode);
            return;
        }
        refuse(onlyModifiers, true);
        return;
    }
    if (event.type != InputEventType::keyDown) {
        return;
    }
    if (allowsOnlyModifierKeys_) {
        refuse(onlyModifiers, true);
        return;
    }
    if (isExcludedKeyCode(event.keyCode)) {
        refuse(localized("%1 cannot be a double-tap key: press a key that types, such as E.")
                   .arg(name)
                   .toStdString(),
               true);
        return;
    }
    if (static_cast<std::uint32_t>(event.flags) > 0x3FFFF) {
        refuse(localized("Press %1 alone, without Ctrl, Alt or Super.").arg(name).toStdString(),
               true);
        return;
    }
    capture(event.keyCode);
}

QString QNViewDoubleTapKeyRecorder::keyName(std::uint32_t keyCode) const {
    return QString::fromStdString(keyText(keyCode, *context_.seams.keyboardLayout));
}

void QNViewDoubleTapKeyRecorder::refuse(std::string message, bool withBeep) {
    if (withBeep) {
        beep();
    }
    refusal_ = std::move(message);
    refresh();
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
        display_ = new QNViewDoubleTapKeyDisplay(keyCode_, *context_.seams.keyboardLayout, row_);
        static_cast<QHBoxLayout*>(row_->layout())->addWidget(display_);
    }
    prompt_->setVisible(isRecording_);
    message_->setText(QString::fromStdString(refusal_.value_or("")));
    message_->setVisible(refusal_.has_value());
    fitMessageHeight(*message_, width());
    row_->setAccessibleName(name_);
    row_->setAccessibleDescription(
        refusal_ ? message_->text()
        : isRecording_
            ? localized("Press key…")
            : QString::fromStdString(doubleTapText(keyCode_, *context_.seams.keyboardLayout)));
    row_->update();
}

bool QNViewDoubleTapKeyRecorder::eventFilter(QObject* watched, QEvent* event) {
    // The field is the row: its background, border and symbol.
    if (watched == row_ && event->type() == QEvent::Paint) {
        paintRecorderField(*row_, isRecording_, hoverEffect_);
        QPainter painter(row_);
        const int iconSize = 16;
        const QIcon icon = isRecording_ ? symbolIcon("record.circle", Qt::red, iconSize)
                                        : symbolIcon("keyboard",
                                                     palette().color(QPalette::PlaceholderText),
                                                     iconSize);
        icon.paint(&painter, QRect(10, (row_->height() - iconSize) / 2, iconSize, iconSize));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void QNViewDoubleTapKeyRecorder::mousePressEvent(QMouseEvent* event) {
    // The field asks; the refusal under it is only read.
    if (event->button() == Qt::LeftButton && onRecordingChange_ &&
        !(message_->isVisible() && message_->geometry().contains(event->position().toPoint()))) {
        onRecordingChange_(!isRecording_);
    }
}

void QNViewDoubleTapKeyRecorder::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitMessageHeight(*message_, width());
}

void QNViewDoubleTapKeyRecorder::enterEvent(QEnterEvent*) {
    hoverEffect_ = true;
    row_->update();
}

void QNViewDoubleTapKeyRecorder::leaveEvent(QEvent*) {
    hoverEffect_ = false;
    row_->update();
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
