#include "app/settings/settings_view.h"

#include <algorithm>
#include <cmath>

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHideEvent>
#include <QPainter>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "app/settings/correction_settings.h"
#include "app/settings/pane_about.h"
#include "app/settings/pane_correction.h"
#include "app/settings/pane_general.h"
#include "app/settings/pane_shortcuts.h"
#include "app/settings/settings_updates.h"
#include "app/shell/coordinator.h"
#include "app/shell/permissions.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

std::string_view supportStatusName(QNCodexCLISupportStatus status) {
    switch (status) {
        case QNCodexCLISupportStatus::supported:
            return "supported";
        case QNCodexCLISupportStatus::missing:
            return "missing";
        case QNCodexCLISupportStatus::unsupportedVersion:
            return "unsupportedVersion";
        case QNCodexCLISupportStatus::unparsableVersion:
            return "unparsableVersion";
        case QNCodexCLISupportStatus::versionCheckFailed:
            return "versionCheckFailed";
        case QNCodexCLISupportStatus::pathResolutionFailed:
            return "pathResolutionFailed";
        case QNCodexCLISupportStatus::unsupportedPlatform:
            return "unsupportedPlatform";
    }
    return "missing";
}

std::string_view loginStateName(QNCodexCLILoginState state) {
    switch (state) {
        case QNCodexCLILoginState::loggedIn:
            return "loggedIn";
        case QNCodexCLILoginState::notLoggedIn:
            return "notLoggedIn";
        case QNCodexCLILoginState::unknown:
            return "unknown";
    }
    return "unknown";
}

bool customPromptOn(bool enabled, const std::string& prompt) {
    return enabled && text::trimmedNonEmpty(prompt).has_value();
}

// The outgoing pane during a switch: its picture, shrinking towards 0.985 and fading out.
class TransitionOverlay final : public QWidget {
  public:
    TransitionOverlay(QPixmap picture, QWidget* parent)
        : QWidget(parent), picture_(std::move(picture)) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setProgress(double progress) {
        progress_ = progress;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setOpacity(1.0 - progress_);
        const double scale = 1.0 - (1.0 - QNViewSettings::transitionScale) * progress_;
        const QPointF centre = QRectF(rect()).center();
        painter.translate(centre);
        painter.scale(scale, scale);
        painter.translate(-centre);
        painter.drawPixmap(0, 0, picture_);
    }

  private:
    QPixmap picture_;
    double progress_ = 0;
};

}  // namespace

std::string layoutSignature(QNModelSettingsPane pane, const QNSettingsLayoutInputs& in) {
    switch (pane) {
        case QNModelSettingsPane::general:
            return std::string(in.launchRequiresApproval ? "launchRequiresApproval" : "") + "|" +
                   (in.launchHasError ? "launchError" : "");
        case QNModelSettingsPane::correction: {
            std::vector<std::string> tokens;
            tokens.emplace_back(in.online ? "online" : "local");
            tokens.emplace_back(in.byokEnabled ? "byokEnabled" : "byokDisabled");
            tokens.emplace_back(in.codexCLI ? "codexCLI" : "openai");
            tokens.emplace_back(in.hasKey ? "hasKey" : "noKey");
            tokens.emplace_back(in.saveStatusMessage.value_or(""));
            tokens.emplace_back(in.codexCLI || in.codexDetection.isAvailable() ? "openai,codexCLI"
                                                                               : "openai");
            tokens.emplace_back(in.codexDetection.executablePath.value_or("noCodexPath"));
            tokens.emplace_back(in.codexDetection.versionString.value_or("noCodexVersion"));
            tokens.emplace_back(supportStatusName(in.codexDetection.supportStatus));
            tokens.emplace_back(loginStateName(in.codexDetection.loginState));
            tokens.emplace_back(in.onlineConfigured ? "configured" : "unconfigured");
            tokens.emplace_back(in.customLocalOn ? "customLocalOn" : "customLocalOff");
            tokens.emplace_back(in.customOnlineOn ? "customOnlineOn" : "customOnlineOff");
            std::string joined;
            for (std::size_t i = 0; i < tokens.size(); ++i) {
                if (i > 0) {
                    joined += '|';
                }
                joined += tokens[i];
            }
            return joined;
        }
        case QNModelSettingsPane::hotKeys:
            return in.hasHotKeyError ? "hotKeyError" : "";
        case QNModelSettingsPane::about:
            return "";
    }
    return "";
}

int estimatedContentHeight(QNModelSettingsPane pane, const QNSettingsLayoutInputs& in) {
    switch (pane) {
        case QNModelSettingsPane::general:
            return in.launchRequiresApproval || in.launchHasError ? 354 : 320;
        case QNModelSettingsPane::correction: {
            if (!in.online) {
                return 440;
            }
            if (!in.byokEnabled) {
                return 500;
            }
            int height = 730;
            if (in.codexCLI) {
                height = in.codexDetection.isAvailable() ? 840 : 880;
            }
            return in.saveStatusMessage ? height + 22 : height;
        }
        case QNModelSettingsPane::hotKeys:
            return in.hasHotKeyError ? 564 : 540;
        case QNModelSettingsPane::about:
            return 220;
    }
    return 220;
}

QSize preferredContentSize(const QNSettingsMeasuredHeights& heights,
                           const QNModelSettingsPaneMeasurementKey& key, int estimatedHeight) {
    int height = estimatedHeight;
    if (const auto found = heights.find(key); found != heights.end() && found->second > 0) {
        height = std::max(QNViewSettings::minimumMeasuredHeight,
                          static_cast<int>(std::ceil(found->second)));
    }
    if (key.pane != QNModelSettingsPane::correction) {
        height = std::min(QNViewSettings::maximumHeight, height);
    }
    return {QNViewSettings::contentWidth, height};
}

bool recordMeasuredHeight(QNSettingsMeasuredHeights& heights,
                          const QNModelSettingsPaneMeasurementKey& key, double height) {
    const double rounded = std::ceil(height);
    if (!std::isfinite(rounded) || rounded <= 0) {
        return false;
    }
    const auto found = heights.find(key);
    const double stored = found == heights.end() ? 0.0 : found->second;
    if (std::abs(rounded - stored) <= 0.5) {
        return false;
    }
    heights[key] = rounded;
    return true;
}

struct QNViewSettings::Private {
    QStackedWidget* stack = nullptr;
    std::map<QNModelSettingsPane, QWidget*> containers;
    // The Forms of General and Shortcuts, and the Correction content.
    std::map<QNModelSettingsPane, QWidget*> forms;
    std::map<QNModelSettingsPane, QWidget*> holders;
    std::shared_ptr<QNControllerCorrectionSettings> correction;
    QWidget* aboutContent = nullptr;
    std::unique_ptr<QNPaneGeneral> general;
    std::unique_ptr<QNPaneShortcuts> shortcuts;
    std::unique_ptr<QNPaneAbout> about;
    std::vector<Subscription> subscriptions;
    std::optional<QSize> lastReported;
    // The pane that size was for.
    QNModelSettingsPane lastReportedPane = QNModelSettingsPane::general;
    QPointer<QVariantAnimation> transition;
    QPointer<TransitionOverlay> overlay;
    bool appeared = false;
    bool measuring = false;
};

QNViewSettings::QNViewSettings(std::shared_ptr<QNStoreSettingsWindow> windowState,
                               std::optional<QNModelSettingsDependencies> dependencies,
                               std::optional<QNModelSettingsPreviewSnapshot> previewSnapshot,
                               SizeCallback onPreferredContentSizeChange,
                               QNSettingsCorrectionContent correctionContent, QWidget* parent)
    : QWidget(parent),
      windowState_(windowState ? std::move(windowState)
                               : std::make_shared<QNStoreSettingsWindow>()),
      dependencies_(previewSnapshot ? std::nullopt : std::move(dependencies)),
      previewSnapshot_(std::move(previewSnapshot)),
      onPreferredContentSizeChange_(std::move(onPreferredContentSizeChange)),
      correctionContent_(std::move(correctionContent)),
      d_(std::make_unique<Private>()) {
    if (!dependencies_ && !previewSnapshot_) {
        previewSnapshot_ = QNModelSettingsPreviewSnapshot::makeDefault();
    }
    if (previewSnapshot_) {
        canCheckForUpdates.set(previewSnapshot_->canCheckForUpdates);
        automaticallyChecksForUpdates.set(previewSnapshot_->automaticallyChecksForUpdates);
    } else {
        readUpdaterFlags();
    }
    buildPanes();
    observeInputs();
}

QNViewSettings::~QNViewSettings() {
    // The panes hold references to this view: let them go first, while it is whole.
    d_->subscriptions.clear();
    if (updateObserverID_ && dependencies_ && dependencies_->updateChecker) {
        settings_updates::removeObserver(*dependencies_->updateChecker, *updateObserverID_);
    }
    d_->general.reset();
    d_->shortcuts.reset();
    d_->about.reset();
}

void QNViewSettings::readUpdaterFlags() {
    if (dependencies_ && dependencies_->updateChecker) {
        auto& service = *dependencies_->updateChecker;
        canCheckForUpdates.set(settings_updates::canCheckForUpdates(service));
        automaticallyChecksForUpdates.set(settings_updates::automaticallyChecksForUpdates(service));
    }
}

void QNViewSettings::buildPanes() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    d_->stack = new QStackedWidget(this);
    layout->addWidget(d_->stack);

    for (const auto pane : kAllSettingsPanes) {
        QWidget* container = nullptr;
        if (pane == QNModelSettingsPane::about) {
            container = new QWidget;
            auto* outer = new QVBoxLayout(container);
            outer->setContentsMargins(0, 0, 0, 0);
            d_->aboutContent = new QWidget(container);
            auto* stack = new QVBoxLayout(d_->aboutContent);
            stack->setContentsMargins(24, 24, 24, 24);
            stack->setSpacing(14);
            stack->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
            outer->addWidget(d_->aboutContent, 0, Qt::AlignCenter);
            d_->about = std::make_unique<QNPaneAbout>(*this, *d_->aboutContent);
            d_->aboutContent->installEventFilter(this);
        } else {
            QWidget* form = pane == QNModelSettingsPane::correction
                                ? makeCorrectionContent()
                                : static_cast<QWidget*>(new QNSettingsForm);
            form->setFixedWidth(QNSettingsForm::width);
            auto* holder = new QWidget;
            auto* outer = new QVBoxLayout(holder);
            outer->setContentsMargins(0, QNSettingsForm::topPadding, 0, 0);
            outer->addWidget(form, 0, Qt::AlignTop | Qt::AlignHCenter);
            outer->addStretch(1);
            d_->forms[pane] = form;
            if (pane == QNModelSettingsPane::correction) {
                // The one pane that may outgrow the screen: it scrolls inside the window.
                auto* scroll = new QScrollArea;
                scroll->setFrameShape(QFrame::NoFrame);
                scroll->setWidgetResizable(true);
                scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                // No Tab stop of its own (it has no name and shows no focus): Tab goes to the
                // pane's controls, and the pane scrolls to the one that takes the focus.
                scroll->setFocusPolicy(Qt::NoFocus);
                scroll->setWidget(holder);
                container = scroll;
            } else {
                container = holder;
                auto* settingsForm = static_cast<QNSettingsForm*>(form);
                if (pane == QNModelSettingsPane::general) {
                    d_->general = std::make_unique<QNPaneGeneral>(*this, *settingsForm);
                } else {
                    d_->shortcuts = std::make_unique<QNPaneShortcuts>(*this, *settingsForm);
                }
            }
            // A change inside the Form posts its layout request to the Form; a change of the
            // Form's own size hint, to the widget holding it.
            form->installEventFilter(this);
            holder->installEventFilter(this);
            d_->holders[pane] = holder;
        }
        d_->containers[pane] = container;
        d_->stack->addWidget(container);
    }
    d_->stack->setCurrentWidget(d_->containers[windowState_->selectedPane.get()]);
}

QWidget* QNViewSettings::makeCorrectionContent() {
    if (correctionContent_) {
        return correctionContent_(*this);
    }
    if (dependencies_ && dependencies_->coordinator) {
        d_->correction = std::make_shared<QNControllerCorrectionSettings>(
            correctionSettingsEnvironment(dependencies_->coordinator), byok_);
        return new QNViewCorrectionPane(d_->correction);
    }
    return new QWidget;
}

void QNViewSettings::observeInputs() {
    auto& subs = d_->subscriptions;
    QNModelSettingsPane shown = windowState_->selectedPane.get();
    subs.push_back(
        windowState_->selectedPane.observe([this, shown](const QNModelSettingsPane& pane) mutable {
            const auto previous = std::exchange(shown, pane);
            selectedPaneChanged(previous, pane);
        }));
    if (!dependencies_) {
        return;
    }
    const auto changed = [this](const auto&) { preferredSizeMayHaveChanged(); };
    const auto& deps = *dependencies_;
    if (deps.launchAtLoginStore) {
        subs.push_back(deps.launchAtLoginStore->status().observe(changed));
        subs.push_back(deps.launchAtLoginStore->errorMessage().observe(changed));
    }
    if (deps.correctionModelModeStore) {
        subs.push_back(deps.correctionModelModeStore->mode().observe(changed));
    }
    if (deps.byokStore) {
        subs.push_back(deps.byokStore->isEnabled().observe(changed));
        subs.push_back(deps.byokStore->providerKind().observe(changed));
        subs.push_back(deps.byokStore->hasAPIKey().observe(changed));
        subs.push_back(deps.byokStore->codexDetection().observe(changed));
    }
    if (deps.customCorrectionPromptStore) {
        subs.push_back(deps.customCorrectionPromptStore->localIsEnabled().observe(changed));
        subs.push_back(deps.customCorrectionPromptStore->localPrompt().observe(changed));
        subs.push_back(deps.customCorrectionPromptStore->onlineIsEnabled().observe(changed));
        subs.push_back(deps.customCorrectionPromptStore->onlinePrompt().observe(changed));
    }
    subs.push_back(byok_->byokSaveStatus.observe(changed));
    subs.push_back(hotKeyError.observe(changed));
}

QNSettingsLayoutInputs QNViewSettings::layoutInputs() const {
    QNSettingsLayoutInputs in;
    in.hasHotKeyError = hotKeyError.get().has_value();
    if (d_->correction) {
        in.saveStatusMessage = d_->correction->byokStatusMessage();
    } else if (const auto& status = byok_->byokSaveStatus.get();
               status.kind == QNModeBYOKSaveStatus::Kind::failed) {
        in.saveStatusMessage = status.message;
    }
    if (!dependencies_) {
        return in;
    }
    const auto& deps = *dependencies_;
    if (deps.launchAtLoginStore) {
        in.launchRequiresApproval =
            deps.launchAtLoginStore->status().get() == platform::LoginItemStatus::requiresApproval;
        in.launchHasError = deps.launchAtLoginStore->errorMessage().get().has_value();
    }
    if (deps.correctionModelModeStore) {
        in.online = deps.correctionModelModeStore->mode().get() == QNCorrectionModelMode::online;
    }
    if (deps.byokStore) {
        in.byokEnabled = deps.byokStore->isEnabled().get();
        in.codexCLI = deps.byokStore->providerKind().get() == QNBYOKProviderKind::codexCLI;
        in.hasKey = deps.byokStore->hasAPIKey().get();
        in.codexDetection = deps.byokStore->codexDetection().get();
    }
    if (deps.onlineCorrectionConfigStore) {
        in.onlineConfigured = QNModelOnlineCorrectionConfigStatus(*deps.onlineCorrectionConfigStore,
                                                                  deps.processEnvironment)
                                  .isConfigured();
    }
    if (const auto& prompts = deps.customCorrectionPromptStore) {
        in.customLocalOn =
            customPromptOn(prompts->localIsEnabled().get(), prompts->localPrompt().get());
        in.customOnlineOn =
            customPromptOn(prompts->onlineIsEnabled().get(), prompts->onlinePrompt().get());
    }
    return in;
}

std::string QNViewSettings::layoutSignature() const {
    return ravlin::layoutSignature(windowState_->selectedPane.get(), layoutInputs());
}

QSize QNViewSettings::estimatedContentSize() const {
    return {contentWidth, estimatedContentHeight(windowState_->selectedPane.get(), layoutInputs())};
}

QSize QNViewSettings::preferredContentSize() const {
    const auto pane = windowState_->selectedPane.get();
    if (previewSnapshot_) {
        return previewSnapshot_->previewSize(pane);
    }
    const auto inputs = layoutInputs();
    // A pane on screen whose signature changed keeps its height until it is measured under the
    // new one: a change that moves no row (a prompt's text, say) then moves nothing at all.
    int interim = estimatedContentHeight(pane, inputs);
    if (d_->lastReported && d_->lastReportedPane == pane) {
        interim = d_->lastReported->height();
    }
    return ravlin::preferredContentSize(measuredPaneHeights_,
                                        {pane, ravlin::layoutSignature(pane, inputs)}, interim);
}

void QNViewSettings::recordMeasuredHeight(double height) {
    if (previewSnapshot_) {
        return;
    }
    if (ravlin::recordMeasuredHeight(
            measuredPaneHeights_, {windowState_->selectedPane.get(), layoutSignature()}, height)) {
        preferredSizeMayHaveChanged();
    }
}

int QNViewSettings::measurePane(QNModelSettingsPane pane) const {
    if (pane == QNModelSettingsPane::about) {
        QLayout* layout = d_->aboutContent->layout();
        layout->activate();
        return layout->hasHeightForWidth() ? layout->totalHeightForWidth(contentWidth)
                                           : layout->totalSizeHint().height();
    }
    QWidget* form = d_->forms.at(pane);
    int height = std::max(form->sizeHint().height(), form->minimumHeight());
    if (QLayout* layout = form->layout()) {
        layout->activate();
        height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(QNSettingsForm::width)
                                             : layout->totalSizeHint().height();
    }
    return height + QNSettingsForm::topPadding;
}

void QNViewSettings::measureSelectedPane() {
    if (previewSnapshot_ || d_->measuring) {
        return;
    }
    d_->measuring = true;
    const int height = measurePane(windowState_->selectedPane.get());
    d_->measuring = false;
    recordMeasuredHeight(height);
}

void QNViewSettings::preferredSizeMayHaveChanged() {
    const QSize size = preferredContentSize();
    if (d_->lastReported == size) {
        return;
    }
    d_->lastReported = size;
    d_->lastReportedPane = windowState_->selectedPane.get();
    updateGeometry();
    if (onPreferredContentSizeChange_) {
        onPreferredContentSizeChange_(size);
    }
}

QSize QNViewSettings::sizeHint() const {
    return preferredContentSize();
}

void QNViewSettings::selectedPaneChanged(QNModelSettingsPane previous, QNModelSettingsPane pane) {
    QWidget* outgoing = d_->containers.at(previous);
    QWidget* incoming = d_->containers.at(pane);
    if (d_->transition) {
        d_->transition->stop();
    }
    const bool animate = isVisible() && animationsEnabled() && !previewSnapshot_;
    if (animate) {
        auto* overlay = new TransitionOverlay(outgoing->grab(), this);
        overlay->setGeometry(d_->stack->geometry());
        overlay->show();
        overlay->raise();
        d_->overlay = overlay;
        auto* effect = new QGraphicsOpacityEffect(incoming);
        effect->setOpacity(0);
        incoming->setGraphicsEffect(effect);
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(transitionMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        QPointer<QWidget> target = incoming;
        QPointer<TransitionOverlay> fading = overlay;
        connect(animation, &QVariantAnimation::valueChanged, this,
                [fading, effect, target](const QVariant& value) {
                    const double t = value.toDouble();
                    if (fading) {
                        fading->setProgress(t);
                    }
                    if (target && target->graphicsEffect() == effect) {
                        effect->setOpacity(t);
                    }
                });
        connect(animation, &QVariantAnimation::finished, this, [fading, target] {
            if (fading) {
                fading->deleteLater();
            }
            if (target) {
                target->setGraphicsEffect(nullptr);
            }
        });
        connect(animation, &QObject::destroyed, this, [fading, target] {
            if (fading) {
                fading->deleteLater();
            }
            if (target) {
                target->setGraphicsEffect(nullptr);
            }
        });
        d_->transition = animation;
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
    d_->stack->setCurrentWidget(incoming);
    if (d_->appeared && dependencies_) {
        if (previous == QNModelSettingsPane::general) {
            stopAccessibilityWatch();
        }
        if (pane == QNModelSettingsPane::general) {
            startAccessibilityWatch();
        }
    }
    preferredSizeMayHaveChanged();
    measureSelectedPane();
}

bool QNViewSettings::isTransitionRunning() const {
    return d_->transition && d_->transition->state() == QAbstractAnimation::Running;
}

bool QNViewSettings::animationsEnabled() const {
    const QWidget* top = window();
    const QVariant property = top->property(QNWindowSettings::animationsProperty);
    return !property.isValid() || property.toBool();
}

bool QNViewSettings::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::LayoutRequest && !previewSnapshot_) {
        const auto pane = windowState_->selectedPane.get();
        const QObject* shown = pane == QNModelSettingsPane::about
                                   ? static_cast<QObject*>(d_->aboutContent)
                                   : static_cast<QObject*>(d_->forms.at(pane));
        const auto holder = d_->holders.find(pane);
        if (watched == shown || (holder != d_->holders.end() && watched == holder->second)) {
            const bool handled = QWidget::eventFilter(watched, event);
            measureSelectedPane();
            return handled;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void QNViewSettings::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (previewSnapshot_) {
        // The preview's fixed size; nothing else happens on appearing.
        preferredSizeMayHaveChanged();
        return;
    }
    if (d_->appeared) {
        return;
    }
    d_->appeared = true;
    handleAppear();
    if (windowState_->selectedPane.get() == QNModelSettingsPane::general) {
        startAccessibilityWatch();
    }
    measureSelectedPane();
}

void QNViewSettings::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (previewSnapshot_ || !d_->appeared || event->spontaneous()) {
        return;
    }
    d_->appeared = false;
    handleDisappear();
}

void QNViewSettings::handleAppear() {
    if (!dependencies_) {
        return;
    }
    auto& deps = *dependencies_;
    if (deps.permissions && deps.seams.accessibility) {
        deps.permissions->update(deps.seams.accessibility->isTrusted(false));
    }
    if (deps.launchAtLoginStore) {
        deps.launchAtLoginStore->refreshStatus();
    }
    if (deps.coordinator && deps.coordinator->codexCLIDetector && deps.workRunner &&
        deps.executor) {
        std::weak_ptr<QNCoordinatorApp> weakCoordinator = deps.coordinator;
        std::shared_ptr<QNCodexCLIDetector> detector = deps.coordinator->codexCLIDetector;
        std::shared_ptr<Executor> executor = deps.executor;
        deps.workRunner->run([weakCoordinator, detector, executor] {
            QNCodexCLIDetection detection = detector->refresh(false);
            executor->post([weakCoordinator, detection] {
                if (const auto coordinator = weakCoordinator.lock()) {
                    coordinator->reportCodexCLIDetection(detection);
                }
            });
        });
    }
    startObservingUpdates();
    d_->lastReported.reset();
    preferredSizeMayHaveChanged();
}

void QNViewSettings::handleDisappear() {
    stopObservingUpdates();
    stopAccessibilityWatch();
}

void QNViewSettings::startObservingUpdates() {
    if (!dependencies_ || dependencies_->updateChecker == nullptr) {
        return;
    }
    readUpdaterFlags();
    if (updateObserverID_) {
        return;
    }
    const Uuid id = Uuid::random();
    QPointer<QNViewSettings> self = this;
    settings_updates::addObserver(*dependencies_->updateChecker, id, [self] {
        if (self) {
            self->readUpdaterFlags();
        }
    });
    updateObserverID_ = id;
}

void QNViewSettings::stopObservingUpdates() {
    if (!updateObserverID_) {
        return;
    }
    if (dependencies_ && dependencies_->updateChecker) {
        settings_updates::removeObserver(*dependencies_->updateChecker, *updateObserverID_);
    }
    updateObserverID_.reset();
}

void QNViewSettings::startAccessibilityWatch() {
    if (!dependencies_ || !dependencies_->permissions) {
        return;
    }
    auto& deps = *dependencies_;
    if (deps.seams.accessibility) {
        deps.permissions->update(deps.seams.accessibility->isTrusted(false));
    }
    deps.permissions->startWatching(accessibilityPollingInterval);
}

void QNViewSettings::stopAccessibilityWatch() {
    if (dependencies_ && dependencies_->permissions) {
        dependencies_->permissions->stopWatching();
    }
}

QWidget* QNViewSettings::paneWidget(QNModelSettingsPane pane) const {
    return d_->containers.at(pane);
}

QNSettingsForm* QNViewSettings::form(QNModelSettingsPane pane) const {
    if (pane == QNModelSettingsPane::correction) {
        return nullptr;
    }
    const auto found = d_->forms.find(pane);
    return found == d_->forms.end() ? nullptr : static_cast<QNSettingsForm*>(found->second);
}

QWidget* QNViewSettings::measuredContent(QNModelSettingsPane pane) const {
    return pane == QNModelSettingsPane::about ? d_->aboutContent : d_->forms.at(pane);
}

QWidget* QNViewSettings::aboutContent() const {
    return d_->aboutContent;
}

QNPaneGeneral* QNViewSettings::generalPane() const {
    return d_->general.get();
}

QNPaneShortcuts* QNViewSettings::shortcutsPane() const {
    return d_->shortcuts.get();
}

QNPaneAbout* QNViewSettings::aboutPane() const {
    return d_->about.get();
}

}  // namespace ravlin
