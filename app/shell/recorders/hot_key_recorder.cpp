#include "app/shell/recorders/hot_key_recorder.h"

#include <algorithm>
#include <utility>

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/shell/recorders/recorder_symbols.h"
#include "app/shell/recorders/reserved_shortcuts.h"

namespace ravlin {

namespace {

QString localized(const char* text) {
    return QCoreApplication::translate("ShortcutRecorder", text);
}

// Every modifier a shortcut can hold on this desktop, for the widest prompt.
constexpr std::uint32_t allHeld = QNConfigHotKey::controlMask | QNConfigHotKey::optionMask |
                                  QNConfigHotKey::commandMask | QNConfigHotKey::shiftMask;

QColor secondaryColor(const QWidget& widget) {
    return widget.palette().color(QPalette::PlaceholderText);
}

}  // namespace

QNRecorderField::QNRecorderField(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void QNRecorderField::paintEvent(QPaintEvent* /*event*/) {}

void QNRecorderField::keyPressEvent(QKeyEvent* event) {
    // Return presses the field as Space does (QAbstractButton answers Space alone).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat()) {
            setDown(true);
        }
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void QNRecorderField::keyReleaseEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !event->isAutoRepeat() && isDown()) {
        setDown(false);
        click();
        event->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

void QNRecorderField::mousePressEvent(QMouseEvent* event) {
    event->ignore();
}

void QNRecorderField::mouseReleaseEvent(QMouseEvent* event) {
    event->ignore();
}

void paintRecorderField(QWidget& widget, bool recording, bool hover) {
    QPainter painter(&widget);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(widget.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(shape, 6, 6);
    QColor fill = recording ? QColor(Qt::red) : secondaryColor(widget);
    fill.setAlphaF(recording ? 0.12F : (hover ? 0.18F : 0.1F));
    painter.fillPath(path, fill);
    QColor border = recording ? QColor(Qt::red) : secondaryColor(widget);
    border.setAlphaF(recording ? 0.6F : 0.3F);
    // The keyboard's focus shows as the field's border in the accent colour.
    if (widget.hasFocus()) {
        border = widget.palette().color(QPalette::Highlight);
    }
    painter.setPen(QPen(border, widget.hasFocus() ? 2 : 1));
    painter.drawPath(path);
}

// The field: symbol and label over the rounded background; a click asks to toggle recording.
class QNViewHotKeyRecorder::Field final : public QNRecorderField {
  public:
    explicit Field(QNViewHotKeyRecorder& owner) : QNRecorderField(&owner), owner_(owner) {
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override { return minimumSizeHint(); }
    // Room for the shortcut and for every prompt of a recording: none is ever cut.
    QSize minimumSizeHint() const override {
        const QFontMetrics body(bodyFont());
        const int text = std::max({QFontMetrics(monospacedBodyFont())
                                       .horizontalAdvance(owner_.labelText(false)),
                                   body.horizontalAdvance(localized("Press shortcut…")),
                                   body.horizontalAdvance(owner_.heldPrompt(allHeld))});
        const int trailing = owner_.clearButton_->isVisible() ? 32 : 10;
        return {std::max(128, 10 + 16 + 8 + text + trailing), body.height() + 12};
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        paintRecorderField(*this, owner_.isRecording_, owner_.hoverEffect_);
        QPainter painter(this);
        const int trailing = owner_.clearButton_->isVisible() ? 32 : 10;
        const QRect content = rect().adjusted(10, 6, -trailing, -6);
        const int iconSize = 16;
        const QIcon icon = owner_.isRecording_
                               ? symbolIcon("record.circle", Qt::red, iconSize)
                               : symbolIcon("keyboard", secondaryColor(*this), iconSize);
        icon.paint(&painter, QRect(content.left(), content.center().y() - iconSize / 2 + 1,
                                   iconSize, iconSize));
        painter.setFont(owner_.isRecording_ ? bodyFont() : monospacedBodyFont());
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect textRect = content.adjusted(iconSize + 8, 0, 0, 0);
        painter.drawText(
            textRect, Qt::AlignLeft | Qt::AlignVCenter,
            painter.fontMetrics().elidedText(owner_.labelText(), Qt::ElideRight, textRect.width()));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            click();
        }
    }
    void enterEvent(QEnterEvent*) override {
        owner_.hoverEffect_ = true;
        update();
    }
    void leaveEvent(QEvent*) override {
        owner_.hoverEffect_ = false;
        update();
    }

  private:
    QNViewHotKeyRecorder& owner_;
};

QNViewHotKeyRecorder::QNViewHotKeyRecorder(
    QNConfigHotKey config, bool isRecording, std::function<void(bool)> onRecordingChange,
    std::function<void(std::uint32_t, std::uint32_t)> onCapture, std::function<void()> onClear,
    QNRecorderContext context, QWidget* parent)
    : QWidget(parent),
      config_(config),
      isRecording_(isRecording),
      onRecordingChange_(std::move(onRecordingChange)),
      onCapture_(std::move(onCapture)),
      onClear_(std::move(onClear)),
      context_(std::move(context)),
      name_(localized("Shortcut")) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    field_ = new Field(*this);
    connect(field_, &QAbstractButton::clicked, this, [this] {
        if (onRecordingChange_) {
            onRecordingChange_(!isRecording_);
        }
    });
    auto* fieldLayout = new QHBoxLayout(field_);
    fieldLayout->setContentsMargins(0, 0, 10, 0);
    fieldLayout->addStretch();
    clearButton_ = new QToolButton(field_);
    clearButton_->setAutoRaise(true);
    clearButton_->setIcon(symbolIcon("xmark.circle", secondaryColor(*this)));
    clearButton_->setAccessibleName(localized("Clear shortcut"));
    clearButton_->setToolTip(localized("Clear shortcut"));
    fieldLayout->addWidget(clearButton_);
    connect(clearButton_, &QToolButton::clicked, this, [this] { clearTapped(); });
    layout->addWidget(field_, 0, Qt::AlignRight);
    messageLabel_ = new QLabel(this);
    messageLabel_->setFont(captionFont());
    messageLabel_->setStyleSheet(QStringLiteral("color: red"));
    messageLabel_->setAlignment(Qt::AlignRight);
    messageLabel_->setWordWrap(true);
    layout->addWidget(messageLabel_);
    refresh();
}

QNViewHotKeyRecorder::~QNViewHotKeyRecorder() {
    if (session_) {
        session_->stop();
    }
}

void QNViewHotKeyRecorder::setName(const QString& name) {
    name_ = name;
    refresh();
}

void QNViewHotKeyRecorder::setConfig(QNConfigHotKey config) {
    config_ = config;
    refresh();
}

void QNViewHotKeyRecorder::setRecording(bool recording) {
    if (recording == isRecording_) {
        return;
    }
    isRecording_ = recording;
    if (recording) {
        startRecording();
    } else {
        stopRecording();
    }
    refresh();
}

void QNViewHotKeyRecorder::startRecording() {
    if (session_) {
        return;
    }
    liveModifiers_ = 0;
    rejectionMessage_.reset();
    QNSessionKeyCapture::Callbacks callbacks{
        .onCapture = [this](std::uint32_t keyCode,
                            std::uint32_t modifiers) { handleCapture(keyCode, modifiers); },
        .onCancel =
            [this] {
                if (onRecordingChange_) {
                    onRecordingChange_(false);
                }
                stopRecording();
            },
        .onModifiersChanged =
            [this](std::uint32_t modifiers) {
                liveModifiers_ = modifiers;
                refresh();
            },
        // Said under the field, recording on: what was wrong and what to press instead.
        .onRefused =
            [this](std::uint32_t keyCode) {
                rejectionMessage_ = bareKeyMessage(keyCode);
                refusedWhileRecording_ = true;
                refresh();
            },
    };
    session_ = std::make_unique<QNSessionKeyCapture>(std::move(callbacks), context_.seams,
                                                     context_.executor, context_.localMonitor,
                                                     context_.beep);
    refresh();
}

void QNViewHotKeyRecorder::stopRecording() {
    // What was said of a key pressed alone is about that recording only.
    if (std::exchange(refusedWhileRecording_, false)) {
        rejectionMessage_.reset();
    }
    if (session_) {
        // Also from inside one of its deliveries: the delivery keeps what it needs alive.
        session_->stop();
        session_.reset();
    }
    liveModifiers_ = 0;
    refresh();
}

void QNViewHotKeyRecorder::handleCapture(std::uint32_t keyCode, std::uint32_t modifiers) {
    refusedWhileRecording_ = false;
    if (auto message = QNModelHotKeyChord::validationMessage(modifiers, keyCode)) {
        rejectionMessage_ = std::move(message);
    } else {
        rejectionMessage_.reset();
        if (onCapture_) {
            onCapture_(keyCode, modifiers);
        }
    }
    if (onRecordingChange_) {
        onRecordingChange_(false);
    }
    stopRecording();
}

void QNViewHotKeyRecorder::clearTapped() {
    rejectionMessage_.reset();
    if (isRecording_) {
        if (onRecordingChange_) {
            onRecordingChange_(false);
        }
        stopRecording();
    }
    if (onClear_) {
        onClear_();
    }
    refresh();
}

std::string QNViewHotKeyRecorder::bareKeyMessage(std::uint32_t keyCode) const {
    return localized("%1 alone cannot be a shortcut: hold Ctrl, Alt, Shift or Super with it.")
        .arg(QString::fromStdString(keyText(keyCode, *context_.seams.keyboardLayout)))
        .toStdString();
}

QString QNViewHotKeyRecorder::heldPrompt(std::uint32_t modifiers) {
    return QString::fromStdString(modifierText(modifiers)) + localized(" press key");
}

QString QNViewHotKeyRecorder::labelText() const {
    return labelText(isRecording_);
}

QString QNViewHotKeyRecorder::labelText(bool recording) const {
    if (recording) {
            if (!modifierText(liveModifiers_).empty()) {
            return heldPrompt(liveModifiers_);
        }
        return localized("Press shortcut…");
    }
    if (config_.keyCode == QNConfigHotKey::noKeyCode && config_.modifiers == 0) {
        return localized("No shortcut");
    }
    return QString::fromStdString(shortcutText(config_, *context_.seams.keyboardLayout));
}

void QNViewHotKeyRecorder::refresh() {
    const bool empty = config_.keyCode == QNConfigHotKey::noKeyCode && config_.modifiers == 0;
    clearButton_->setVisible(onClear_ != nullptr && !empty);
    field_->setAccessibleName(name_);
    field_->setAccessibleDescription(rejectionMessage_ ? QString::fromStdString(*rejectionMessage_)
                                                       : labelText());
    field_->updateGeometry();
    field_->update();
    messageLabel_->setVisible(rejectionMessage_.has_value());
    messageLabel_->setText(QString::fromStdString(rejectionMessage_.value_or("")));
    fitMessageHeight(*messageLabel_, width());
}

void QNViewHotKeyRecorder::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitMessageHeight(*messageLabel_, width());
}

void fitMessageHeight(QLabel& message, int width) {
    // The rows holding a recorder do not ask a wrapped line its height for their width: the
    // message asks for its lines itself, so none is cut.
    const int height = message.isVisibleTo(message.parentWidget()) && width > 0
                           ? message.heightForWidth(width)
                           : 0;
    if (message.minimumHeight() != height) {
        message.setMinimumHeight(height);
    }
}

void QNViewHotKeyRecorder::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!appeared_) {
        appeared_ = true;
        if (isRecording_) {
            startRecording();
        }
    }
}

void QNViewHotKeyRecorder::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    appeared_ = false;
    stopRecording();
    if (isRecording_ && onRecordingChange_) {
        onRecordingChange_(false);
    }
}

}  // namespace ravlin

namespace ravlin {

QWidget* QNViewHotKeyRecorder::field() const {
    return field_;
}

}  // namespace ravlin
