#include "app/support/start_up_activation.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace ravlin::startUpActivation {
namespace {

// Watches one window from its start-up show until the activation it asked for has come and gone.
class Watch final : public QObject {
  public:
    enum class State { waiting, active, spent };

    explicit Watch(QWidget* window)
        : QObject(window), state_(window->isActiveWindow() ? State::active : State::waiting) {
        setObjectName(name());
        window->installEventFilter(this);
    }

    [[nodiscard]] State state() const { return state_; }

    // The watch of a window, found by its name (it has no meta-object of its own to cast by).
    static Watch* of(const QWidget* window) {
        auto* found = window != nullptr
                          ? window->findChild<QObject*>(name(), Qt::FindDirectChildrenOnly)
                          : nullptr;
        return static_cast<Watch*>(found);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate && state_ == State::waiting) {
            state_ = State::active;
        } else if (event->type() == QEvent::WindowDeactivate && state_ == State::active) {
            state_ = State::spent;
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

  private:
    static QString name() { return QStringLiteral("ravlin-start-up-activation"); }

    State state_;
};

}  // namespace

void mark(QWidget* window) {
    if (window != nullptr && Watch::of(window) == nullptr) {
        new Watch(window);
    }
}

void clear(QWidget* window) {
    if (auto* watch = Watch::of(window)) {
        window->removeEventFilter(watch);
        delete watch;
    }
}

bool tookTheKeyboardByItself(const QWidget* window) {
    const auto* watch = Watch::of(window);
    return watch != nullptr && watch->state() == Watch::State::active && window->isActiveWindow();
}

}  // namespace ravlin::startUpActivation
