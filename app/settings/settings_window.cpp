#include "app/settings/settings_window.h"

#include <algorithm>
#include <iterator>
#include <vector>
#include <cmath>
#include <cstdlib>

#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "app/settings/dependencies.h"
#include "app/settings/settings_form.h"
#include "app/settings/settings_view.h"
#include "app/shell/coordinator.h"
#include "app/shell/recorders/recorder_symbols.h"
#include "app/support/dialog_keys.h"
#include "app/support/start_up_activation.h"

namespace ravlin {

// --- Window

QNWindowSettings::QNWindowSettings(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(desktopText("Settings"));
    setObjectName(QStringLiteral("settings.window"));
    answerDialogKeys(*this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

bool QNWindowSettings::animationsEnabled() const {
    const QVariant value = property(animationsProperty);
    return !value.isValid() || value.toBool();
}

void QNWindowSettings::setAnimationsEnabled(bool enabled) {
    setProperty(animationsProperty, enabled);
}

QSize QNWindowSettings::frameSizeForContentSize(QSizeF contentSize) const {
    const int width = static_cast<int>(std::ceil(contentSize.width()));
    int height = static_cast<int>(std::ceil(contentSize.height()));
    if (toolBar_ != nullptr) {
        height += toolBar_->sizeHint().height();
    }
    return {width, height};
}

void QNWindowSettings::resizeKeepingTopEdge(QSizeF contentSize, bool animated) {
    const QRect current = geometry();
    QRect next(current.topLeft(), frameSizeForContentSize(contentSize));
    // The window stays on the screen: one that would pass its bottom moves up as far as it
    // must (its title bar still on the screen); one taller than the screen is cut there, and
    // the pane scrolls inside.
    if (const QScreen* screen = this->screen(); screen != nullptr && isVisible()) {
        const QRect available = screen->availableGeometry();
        const int titleBar = std::max(0, current.top() - frameGeometry().top());
        if (next.bottom() > available.bottom()) {
            next.moveTop(std::max(available.top() + titleBar,
                                  available.bottom() - next.height() + 1));
        }
        const int room = available.bottom() - next.top() + 1;
        if (room >= QNViewSettings::minimumMeasuredHeight && next.height() > room) {
            next.setHeight(room);
        }
    }
    if (std::abs(next.width() - current.width()) <= 0.5 &&
        std::abs(next.height() - current.height()) <= 0.5) {
        return;
    }
    if (animation_) {
        animation_->stop();
    }
    target_ = next;
    if (animated && isVisible() && animationsEnabled()) {
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(resizeAnimationMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        animation->setStartValue(current);
        animation->setEndValue(next);
        connect(animation, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { applyGeometry(value.toRect()); });
        animation_ = animation;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
        return;
    }
    applyGeometry(next);
}

bool QNWindowSettings::isResizeAnimating() const {
    return animation_ && animation_->state() == QAbstractAnimation::Running;
}

QRect QNWindowSettings::targetGeometry() const {
    return isResizeAnimating() ? target_ : geometry();
}

void QNWindowSettings::applyGeometry(const QRect& geometry) {
    // Sized by the program only: the user gets no resize handle.
    setFixedSize(geometry.size());
    setGeometry(geometry);
}

void QNWindowSettings::setToolBar(QToolBar* toolBar) {
    toolBar_ = toolBar;
    toolBar->setParent(this);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, toolBar);
}

void QNWindowSettings::setContent(QWidget* content) {
    content_ = content;
    content->setParent(this);
    static_cast<QVBoxLayout*>(layout())->addWidget(content, 1);
}

// --- Toolbar

QNControllerSettingsToolbar::QNControllerSettingsToolbar(
    std::function<void(QNModelSettingsPane)> onSelectPane)
    : onSelectPane_(std::move(onSelectPane)) {}

QToolBar* QNControllerSettingsToolbar::makeToolBar(QNModelSettingsPane selected, QWidget* parent) {
    auto* toolBar = new QToolBar(parent);
    toolBar->setObjectName(QString::fromLatin1(toolbarIdentifier));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar->setIconSize(QSize(24, 24));
    toolBar->toggleViewAction()->setVisible(false);
    auto addSpacer = [toolBar] {
        auto* spacer = new QWidget(toolBar);
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolBar->addWidget(spacer);
    };
    auto* group = new QActionGroup(toolBar);
    group->setExclusive(true);
    // One group reached by Tab at the pane shown, however it was chosen (Qt moves the group's
    // Tab stop only with the focus), pressed by Space or Return, the arrow keys moving in it.
    const auto tabStopAt = [group, toolBar](const QAction* shown) {
        for (QAction* each : group->actions()) {
            if (QWidget* button = toolBar->widgetForAction(each)) {
                button->setFocusPolicy(each == shown ? Qt::TabFocus : Qt::NoFocus);
            }
        }
    };
    addSpacer();
    const QColor symbolColor = toolBar->palette().color(QPalette::ButtonText);
    for (const auto pane : kAllSettingsPanes) {
        const QString name = QString::fromStdString(identifier(pane));
        const QString label = QString::fromStdString(title(pane));
        auto* action = new QAction(label, toolBar);
        action->setObjectName(name);
        action->setToolTip(label);
        action->setIcon(symbolIcon(systemImageName(pane), symbolColor, 24));
        action->setCheckable(true);
        action->setChecked(pane == selected);
        group->addAction(action);
        toolBar->addAction(action);
        if (auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action))) {
            button->setObjectName(name);
            button->setAccessibleName(label);
            button->setAutoExclusive(true);
        }
        // Checked by a click, a key or a screen reader's toggle alike: the pane shows.
        const std::string id = identifier(pane);
        QObject::connect(action, &QAction::toggled, toolBar,
                         [this, id, action, tabStopAt](bool checked) {
                             if (checked) {
                                 tabStopAt(action);
                                 selectPane(id);
                             }
                         });
    }
    tabStopAt(group->checkedAction());
    addSpacer();
    toolBar_ = toolBar;
    group_ = group;
    return toolBar;
}

QAction* QNControllerSettingsToolbar::item(std::string_view identifier) const {
    if (!toolBar_ || !settingsPaneFromToolbarIdentifier(identifier)) {
        return nullptr;
    }
    return toolBar_->findChild<QAction*>(
        QString::fromUtf8(identifier.data(), static_cast<qsizetype>(identifier.size())),
        Qt::FindDirectChildrenOnly);
}

void QNControllerSettingsToolbar::setSelectedItemIdentifier(const std::string& identifier) {
    if (QAction* action = item(identifier)) {
        action->setChecked(true);
    }
}

std::optional<std::string> QNControllerSettingsToolbar::selectedItemIdentifier() const {
    if (!group_ || group_->checkedAction() == nullptr) {
        return std::nullopt;
    }
    return group_->checkedAction()->objectName().toStdString();
}

void QNControllerSettingsToolbar::selectPane(const std::string& identifier) {
    if (const auto pane = settingsPaneFromToolbarIdentifier(identifier); pane && onSelectPane_) {
        onSelectPane_(*pane);
    }
}

// --- Controller

QNControllerSettingsWindow::QNControllerSettingsWindow(ContentFactory contentFactory,
                                                       Activation activate)
    : contentFactory_(std::move(contentFactory)),
      activate_(std::move(activate)),
      windowState_(std::make_shared<QNStoreSettingsWindow>()) {}

QNControllerSettingsWindow::~QNControllerSettingsWindow() {
    captureWatch_.reset();
    delete window_.data();
}

QNViewSettings* QNControllerSettingsWindow::content() const {
    return static_cast<QNViewSettings*>(content_.data());
}

void QNControllerSettingsWindow::setAnimationsEnabled(bool enabled) {
    animationsEnabled_ = enabled;
    if (window_) {
        window_->setAnimationsEnabled(enabled);
    }
}

void QNControllerSettingsWindow::show(std::optional<QNModelSettingsPane> pane) {
    if (pane && *pane != windowState_->selectedPane.get()) {
        windowState_->selectedPane.set(*pane);
    }
    if (!window_) {
        sizeReporter_ = std::make_shared<QNControllerSettingsWindowSizeReporter>();
        std::weak_ptr<QNControllerSettingsWindowSizeReporter> box = sizeReporter_;
        auto onSize = [box](QSize size) {
            const auto reporter = box.lock();
            if (!reporter || !reporter->window) {
                return;
            }
            reporter->window->resizeKeepingTopEdge(size, true);
        };
        auto* window = new QNWindowSettings;
        window->setAnimationsEnabled(animationsEnabled_);
        toolbarDelegate_ = std::make_unique<QNControllerSettingsToolbar>(
            [this](QNModelSettingsPane selected) { select(selected); });
        window->setToolBar(toolbarDelegate_->makeToolBar(windowState_->selectedPane.get(), window));
        // The keys of any window with pages: Ctrl+Tab and Ctrl+Page Down show the next pane,
        // Ctrl+Shift+Tab and Ctrl+Page Up the one before, round the ends.
        std::vector<QPointer<QShortcut>> steps;
        const auto addStep = [this, window, &steps](QKeySequence keys, int step) {
            auto* shortcut = new QShortcut(keys, window);
            steps.emplace_back(shortcut);
            QObject::connect(shortcut, &QShortcut::activated, window, [this, step] {
                selectAdjacent(step);
            });
        };
        addStep(QKeySequence(Qt::CTRL | Qt::Key_Tab), 1);
        addStep(QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1);
        addStep(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1);
        addStep(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1);
        addStep(QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1);
        QNViewSettings* content = contentFactory_(windowState_, onSize);
        window->setContent(content);
        // A shortcut recorder that records takes these keys as any other.
        captureWatch_ = content->activeKeyCapture.observe(
            [steps](const std::optional<QNModeKeyCapture>& capture) {
                for (const auto& shortcut : steps) {
                    if (shortcut) {
                        shortcut->setEnabled(!capture.has_value());
                    }
                }
            });
        window->resizeKeepingTopEdge(QSizeF(initialContentSize), false);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->geometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        sizeReporter_->window = window;
        content_ = content;
        window_ = window;
    }
    if (pane && toolbarDelegate_) {
        toolbarDelegate_->setSelectedItemIdentifier(identifier(*pane));
    }
    if (activate_) {
        activate_();
    }
    // Asked for: its activation is the person's (start-up marks it again when it was start-up's).
    startUpActivation::clear(window_);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void QNControllerSettingsWindow::select(QNModelSettingsPane pane) {
    if (pane == windowState_->selectedPane.get()) {
        return;
    }
    windowState_->selectedPane.set(pane);
    if (window_ && toolbarDelegate_) {
        toolbarDelegate_->setSelectedItemIdentifier(identifier(pane));
    }
}

void QNControllerSettingsWindow::selectAdjacent(int step) {
    const auto count = static_cast<int>(kAllSettingsPanes.size());
    const auto shown = std::ranges::find(kAllSettingsPanes, windowState_->selectedPane.get());
    const auto index = static_cast<int>(std::distance(kAllSettingsPanes.begin(), shown));
    const auto pane =
        kAllSettingsPanes[static_cast<std::size_t>(((index + step) % count + count) % count)];
    select(pane);
    // The focus goes to the pane's button, so that a screen reader names the pane now shown.
    if (window_ && toolbarDelegate_) {
        if (QAction* item = toolbarDelegate_->item(identifier(pane))) {
            if (QWidget* button = window_->toolBar()->widgetForAction(item)) {
                button->setFocus(Qt::TabFocusReason);
            }
        }
    }
}

QNControllerSettingsWindow& QNControllerSettingsWindow::shared() {
    static auto* const controller = new QNControllerSettingsWindow(
        [](std::shared_ptr<QNStoreSettingsWindow> state, std::function<void(QSize)> onSize) {
            std::optional<QNModelSettingsPreviewSnapshot> snapshot;
            const char* previews = std::getenv("XCODE_RUNNING_FOR_PREVIEWS");
            const auto coordinator = QNCoordinatorApp::shared();
            std::optional<QNModelSettingsDependencies> dependencies;
            if ((previews != nullptr && std::string_view(previews) == "1") || !coordinator) {
                snapshot = QNModelSettingsPreviewSnapshot::makeDefault();
            } else {
                dependencies = QNModelSettingsDependencies::live(coordinator);
            }
            return new QNViewSettings(std::move(state), std::move(dependencies),
                                      std::move(snapshot), std::move(onSize));
        },
        [] {
            if (const auto coordinator = QNCoordinatorApp::shared()) {
                const auto& workspace = coordinator->environment().seams.workspace;
                if (workspace) {
                    workspace->activate(workspace->currentApplication().pid);
                }
            }
        });
    return *controller;
}

std::function<void(std::optional<QNModelSettingsPane>)> settingsWindowShower() {
    return [](std::optional<QNModelSettingsPane> pane) {
        QNControllerSettingsWindow::shared().show(pane);
    };
}

}  // namespace ravlin
