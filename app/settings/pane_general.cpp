#include "app/settings/pane_general.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/settings/pane_shortcuts.h"
#include "app/settings/settings_form.h"
#include "app/settings/settings_view.h"
#include "app/shell/coordinator.h"
#include "app/shell/permissions.h"

namespace ravlin {
namespace {

constexpr int kFontSizeCount = 7;

}  // namespace

QNPaneGeneral::QNPaneGeneral(QNViewSettings& view, QNSettingsForm& form)
    : QObject(&form), view_(view) {
    // Accessibility
    auto* access = form.addSection();
    auto* grantLayout = access->addHBoxRow(12);
    grantRow_ = new QNGrantRow(view);
    grantLayout->addWidget(grantRow_);
    revoked_ = makeFootnote(desktopText("Accessibility permission was revoked — please re-grant."),
                            QNSettingsTextStyle::red);
    access->addRow(revoked_);
    access->setFooter(makeFootnote(
        desktopText("So Ravlin can read what you select and paste corrections back wherever you "
                    "type. Granted via macOS Accessibility."),
        QNSettingsTextStyle::secondary));

    // Launch at login
    launchSection_ = form.addSection();
    launchToggle_ = new QCheckBox(desktopButtonText("Launch at Login"));
    launchToggle_->setObjectName(QStringLiteral("settings.general.launchAtLogin"));
    launchSection_->addRow(launchToggle_);
    launchError_ = makeFootnote({}, QNSettingsTextStyle::red);
    launchSection_->addRow(launchError_);
    launchFooter_ = new QWidget;
    auto* footer = new QVBoxLayout(launchFooter_);
    footer->setContentsMargins(0, 0, 0, 0);
    footer->setSpacing(8);
    launchStatus_ = makeFootnote({}, QNSettingsTextStyle::secondary, launchFooter_);
    footer->addWidget(launchStatus_);
    openLoginItems_ = new QPushButton(desktopButtonText("Open Login Items Settings…"), launchFooter_);
    openLoginItems_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    footer->addWidget(openLoginItems_, 0, Qt::AlignLeft);
    launchSection_->setFooter(launchFooter_);
    connect(launchToggle_, &QCheckBox::toggled, this, [this](bool on) {
        if (!refreshing_) {
            setLaunchAtLogin(on);
        }
    });
    connect(openLoginItems_, &QPushButton::clicked, this, [this] {
        const auto& deps = view_.dependencies();
        if (deps && deps->seams.loginItem) {
            (void)deps->seams.loginItem->openSystemSettingsLoginItems();
        }
    });

    // Composer font size
    auto* composer = form.addSection(desktopText("Composer"));
    auto* row = composer->addHBoxRow();
    row->addWidget(new QLabel(desktopText("Font Size")), 0, Qt::AlignVCenter);
    row->addSpacing(24);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setRange(0, kFontSizeCount - 1);
    slider_->setSingleStep(1);
    slider_->setPageStep(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(1);
    slider_->setAccessibleName(desktopText("Font Size"));
    slider_->setObjectName(QStringLiteral("settings.general.fontSizeSlider"));
    column->addWidget(slider_);
    auto* captions = new QHBoxLayout;
    captions->setContentsMargins(0, 0, 0, 0);
    captions->addWidget(makeCaption(desktopText("Min"), QNSettingsTextStyle::secondary));
    captions->addStretch(1);
    captions->addWidget(makeCaption(desktopText("Default"), QNSettingsTextStyle::secondary));
    captions->addStretch(1);
    captions->addWidget(makeCaption(desktopText("Max"), QNSettingsTextStyle::secondary));
    column->addLayout(captions);
    row->addLayout(column, 1);
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (!refreshing_) {
            setFontSizeValue(value);
        }
    });

    if (const auto& deps = view.dependencies()) {
        const auto changed = [this](const auto&) { refresh(); };
        if (deps->permissions) {
            subscriptions_.push_back(deps->permissions->accessibilityRevoked().observe(changed));
        }
        if (deps->launchAtLoginStore) {
            subscriptions_.push_back(deps->launchAtLoginStore->status().observe(changed));
            subscriptions_.push_back(deps->launchAtLoginStore->errorMessage().observe(changed));
        }
        if (deps->composerFontSizeStore) {
            subscriptions_.push_back(deps->composerFontSizeStore->size().observe(changed));
        }
    }
    refresh();
}

QNPaneGeneral::~QNPaneGeneral() = default;

void QNPaneGeneral::refresh() {
    refreshing_ = true;
    bool revoked = false;
    bool toggleOn = false;
    bool requiresApproval = false;
    std::optional<std::string> error;
    std::string statusText;
    int fontSize = static_cast<int>(QNComposerFontSize::m);
    if (const auto& snapshot = view_.previewSnapshot()) {
        toggleOn = snapshot->isLaunchAtLoginRequested;
        requiresApproval = snapshot->launchAtLoginRequiresApproval;
        statusText = snapshot->launchAtLoginStatusText;
        fontSize = static_cast<int>(snapshot->composerFontSize);
    } else if (const auto& deps = view_.dependencies()) {
        if (deps->permissions) {
            revoked = deps->permissions->accessibilityRevoked().get();
        }
        if (const auto& store = deps->launchAtLoginStore) {
            const auto status = store->status().get();
            toggleOn = status == platform::LoginItemStatus::enabled ||
                       status == platform::LoginItemStatus::requiresApproval;
            requiresApproval = status == platform::LoginItemStatus::requiresApproval;
            error = store->errorMessage().get();
            statusText = store->statusDescription();
        }
        if (deps->composerFontSizeStore) {
            fontSize = static_cast<int>(deps->composerFontSizeStore->size().get());
        }
    }
    revoked_->setVisible(revoked);
    launchToggle_->setChecked(toggleOn);
    launchError_->setText(QString::fromStdString(error.value_or("")));
    launchError_->setVisible(error.has_value());
    launchStatus_->setText(QString::fromStdString(statusText));
    openLoginItems_->setVisible(requiresApproval);
    // Approval pending: the status and the button; otherwise the status unless an error shows.
    launchFooter_->setVisible(requiresApproval || !error.has_value());
    slider_->setValue(fontSize);
    refreshing_ = false;
}

void QNPaneGeneral::setLaunchAtLogin(bool enabled) {
    const auto& deps = view_.dependencies();
    if (deps && deps->launchAtLoginStore) {
        deps->launchAtLoginStore->setEnabled(enabled);
    }
    // The toggle shows what the store holds, whatever happened.
    refresh();
}

void QNPaneGeneral::setFontSizeValue(double value) {
    const double rounded = std::round(value);
    const auto& deps = view_.dependencies();
    if (std::isfinite(rounded) && deps && deps->composerFontSizeStore && deps->coordinator) {
        const auto size = static_cast<QNComposerFontSize>(
            static_cast<int>(std::clamp(rounded, 0.0, double(kFontSizeCount - 1))));
        if (size != deps->composerFontSizeStore->size().get()) {
            deps->coordinator->applyComposerFontSize(size);
        }
    }
    refresh();
}

}  // namespace ravlin
