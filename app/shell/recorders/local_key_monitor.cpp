#include "app/shell/recorders/local_key_monitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

#include "core/text/unicode.h"

namespace ravlin {

namespace {

using platform::InputEvent;
using platform::InputEventType;

// Modifier keys by Qt key, with the event flag each holds down.
std::optional<std::pair<std::uint32_t, std::uint64_t>> modifierKey(int key) {
    namespace flag = platform::eventflag;
    switch (key) {
        case Qt::Key_Shift:
            return std::pair{std::uint32_t{56}, flag::shift};
        case Qt::Key_Control:
            return std::pair{std::uint32_t{59}, flag::control};
        case Qt::Key_Alt:
            return std::pair{std::uint32_t{58}, flag::option};
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
            return std::pair{std::uint32_t{55}, flag::command};
        case Qt::Key_CapsLock:
            return std::pair{std::uint32_t{57}, flag::capsLock};
        default:
            return std::nullopt;
    }
}

std::uint64_t flagsOf(Qt::KeyboardModifiers modifiers) {
    namespace flag = platform::eventflag;
    std::uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= flag::shift;
    if (modifiers & Qt::ControlModifier)
        flags |= flag::control;
    if (modifiers & Qt::AltModifier)
        flags |= flag::option;
    if (modifiers & Qt::MetaModifier)
        flags |= flag::command;
    return flags;
}

class Filter final : public QObject {
  public:
    Filter(std::uint64_t mask, QNLocalKeyMonitor::Handler handler,
           std::function<std::uint32_t(std::uint32_t)> toKeyCode)
        : mask_(mask), handler_(std::move(handler)), toKeyCode_(std::move(toKeyCode)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        // Each key event reaches the filter once per object on its way; take it at its window.
        if (!watched->isWindowType()) {
            return false;
        }
        const auto translated = QNQtLocalKeyMonitor::translate(*event, toKeyCode_);
        if (!translated || (mask_ & platform::eventMaskBit(translated->type)) == 0) {
            return false;
        }
        return handler_(*translated);
    }

  private:
    std::uint64_t mask_;
    QNLocalKeyMonitor::Handler handler_;
    std::function<std::uint32_t(std::uint32_t)> toKeyCode_;
};

}  // namespace

QNQtLocalKeyMonitor::QNQtLocalKeyMonitor(std::function<std::uint32_t(std::uint32_t)> toKeyCode)
    : toKeyCode_(std::move(toKeyCode)) {}

std::optional<InputEvent> QNQtLocalKeyMonitor::translate(
    const QEvent& event, const std::function<std::uint32_t(std::uint32_t)>& toKeyCode) {
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease) {
        return std::nullopt;
    }
    const auto& key = static_cast<const QKeyEvent&>(event);
    const bool press = event.type() == QEvent::KeyPress;
    std::uint64_t flags = flagsOf(key.modifiers());
    if (const auto modifier = modifierKey(key.key())) {
        // Whether a modifier key's own flag is already in the event differs between platforms:
        // set it on the press and clear it on the release.
        flags = press ? (flags | modifier->second) : (flags & ~modifier->second);
        const std::uint32_t native = toKeyCode ? toKeyCode(key.nativeScanCode()) : 0xFFFFFFFF;
        return InputEvent{.type = InputEventType::flagsChanged,
                          .keyCode = native != 0xFFFFFFFF ? native : modifier->first,
                          .flags = flags};
    }
    if (!press) {
        return std::nullopt;  // key ups are of no interest
    }
    const std::uint32_t code = toKeyCode ? toKeyCode(key.nativeScanCode()) : 0xFFFFFFFF;
    return InputEvent{.type = InputEventType::keyDown,
                      .keyCode = code,
                      .flags = flags,
                      .characters = key.text().toStdU16String(),
                      .isRepeat = key.isAutoRepeat()};
}

Subscription QNQtLocalKeyMonitor::add(std::uint64_t mask, Handler handler) {
    auto* application = QCoreApplication::instance();
    if (application == nullptr) {
        return {};
    }
    QPointer<Filter> filter = new Filter(mask, std::move(handler), toKeyCode_);
    application->installEventFilter(filter);
    return Subscription([filter] {
        if (filter) {
            if (auto* app = QCoreApplication::instance()) {
                app->removeEventFilter(filter);
            }
            filter->deleteLater();
        }
    });
}

}  // namespace ravlin
