#include "app/shell/permissions.h"

#include <QGuiApplication>
#include <QObject>
#include <optional>

namespace ravlin {
namespace {

// The Qt application's activation: every change of its state to active.
Subscription qtActivation(std::function<void()> onActive) {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (application == nullptr) {
        return {};
    }
    const QMetaObject::Connection connection =
        QObject::connect(application, &QGuiApplication::applicationStateChanged, application,
                         [onActive = std::move(onActive)](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive) {
                                 onActive();
                             }
                         });
    return Subscription([connection] { QObject::disconnect(connection); });
}

}  // namespace

QNAccessibilityRequest requestAccessibility(const platform::Seams& seams) {
    if (!seams.desktopSession->hasSessionBus()) {
        return QNAccessibilityRequest::noSessionBus;
    }
    (void)seams.desktopSession->switchAccessibilityOn();
    return seams.accessibility->isTrusted(true) ? QNAccessibilityRequest::switchedOn
                                                : QNAccessibilityRequest::noAccessibilityBus;
}

struct QNServiceAccessibilityPermissions::Private {
    platform::Seams seams;
    std::shared_ptr<Executor> executor;
    Subscription activationObserver;
    // The pending tick of the watch timer, and which watch it belongs to.
    std::optional<Executor::TaskID> watchTimer;
    std::uint64_t watchGeneration = 0;
    std::chrono::nanoseconds interval{0};
    // The tick of the current watch; each posted copy reposts it.
    std::shared_ptr<std::function<void()>> tick;
};

std::shared_ptr<QNServiceAccessibilityPermissions> QNServiceAccessibilityPermissions::create(
    platform::Seams seams, std::shared_ptr<Executor> executor, ActivationSource activation) {
    std::shared_ptr<QNServiceAccessibilityPermissions> monitor(
        new QNServiceAccessibilityPermissions(std::move(seams), std::move(executor)));
    monitor->checkNow();
    const std::weak_ptr<QNServiceAccessibilityPermissions> weak = monitor;
    auto onActive = [weak] {
        if (const auto self = weak.lock()) {
            self->checkNow();
        }
    };
    monitor->d_->activationObserver =
        activation ? activation(std::move(onActive)) : qtActivation(std::move(onActive));
    return monitor;
}

QNServiceAccessibilityPermissions::QNServiceAccessibilityPermissions(
    platform::Seams seams, std::shared_ptr<Executor> executor)
    : d_(std::make_unique<Private>()) {
    d_->seams = std::move(seams);
    d_->executor = std::move(executor);
}

QNServiceAccessibilityPermissions::~QNServiceAccessibilityPermissions() {
    stopWatching();
}

bool QNServiceAccessibilityPermissions::update(bool isTrusted) {
    const bool changed = isTrusted_.set(isTrusted);
    if (isTrusted) {
        hasEverBeenTrusted_ = true;
        accessibilityRevoked_.set(false);
    } else if (hasEverBeenTrusted_ && !accessibilityRevoked_.get()) {
        accessibilityRevoked_.set(true);
        if (d_->seams.systemLog) {
            d_->seams.systemLog->write(
                {logSubsystem, logCategory, platform::LogLevel::error,
                 "Accessibility permission revoked at runtime — hotkey is dead until re-granted"});
        }
    }
    if (changed && onChange) {
        const auto told = onChange;  // the handler may replace itself
        told(isTrusted);
    }
    return isTrusted;
}

bool QNServiceAccessibilityPermissions::checkNow() {
    return update(d_->seams.accessibility->isTrusted(false));
}

void QNServiceAccessibilityPermissions::startWatching(std::chrono::nanoseconds interval) {
    stopWatching();
    d_->interval = interval;
    const std::uint64_t generation = ++d_->watchGeneration;
    const std::weak_ptr<QNServiceAccessibilityPermissions> weak = weak_from_this();
    // Each tick checks and then schedules the next, while this watch is still the current one.
    auto tick = std::make_shared<std::function<void()>>();
    *tick = [weak, generation, weakTick = std::weak_ptr(tick)] {
        const auto self = weak.lock();
        if (!self || self->d_->watchGeneration != generation) {
            return;
        }
        self->d_->watchTimer.reset();
        self->checkNow();
        const auto next = weakTick.lock();
        if (next && self->d_->watchGeneration == generation && !self->d_->watchTimer) {
            self->d_->watchTimer = self->d_->executor->postAfter(self->d_->interval, *next);
        }
    };
    d_->tick = tick;
    d_->watchTimer = d_->executor->postAfter(interval, *tick);
}

void QNServiceAccessibilityPermissions::stopWatching() {
    ++d_->watchGeneration;
    if (d_->watchTimer) {
        d_->executor->cancel(*d_->watchTimer);
        d_->watchTimer.reset();
    }
    d_->tick.reset();
}

bool QNServiceAccessibilityPermissions::isWatching() const {
    return d_->watchTimer.has_value();
}

}  // namespace ravlin
