#include "app/settings/pane_about.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/settings_form.h"
#include "app/settings/settings_updates.h"
#include "app/settings/settings_view.h"
#include "app/shell/status_window.h"
#include "app/support/desktop_wording.h"

namespace ravlin {

std::string appDisplayName(const QNConfigBuild& build) {
    if (auto name = build.infoPlistString("CFBundleDisplayName")) {
        return *name;
    }
    if (auto name = build.infoPlistString("CFBundleName")) {
        return *name;
    }
    return forThisDesktop("Ravlin");
}

std::string appBuildVersion(const QNConfigBuild& build) {
    return build.infoPlistString("CFBundleVersion").value_or("0");
}

QNPaneAbout::QNPaneAbout(QNViewSettings& view, QWidget& content) : QObject(&content), view_(view) {
    auto* layout = static_cast<QVBoxLayout*>(content.layout());

    icon_ = new QLabel(&content);
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull()) {
        icon = ravlinIcon();
    }
    icon_->setPixmap(icon.pixmap(iconSize, iconSize));
    icon_->setFixedSize(iconSize, iconSize);
    icon_->setScaledContents(true);
    layout->addWidget(icon_, 0, Qt::AlignHCenter);

    auto* identity = new QVBoxLayout;
    identity->setSpacing(4);
    name_ = new QLabel(&content);
    QFont headline = name_->font();
    headline.setPointSizeF(headline.pointSizeF() * 1.1);
    headline.setWeight(QFont::DemiBold);
    name_->setFont(headline);
    identity->addWidget(name_, 0, Qt::AlignHCenter);
    version_ = new QLabel(&content);
    applyTextStyle(*version_, QNSettingsTextStyle::secondary);
    identity->addWidget(version_, 0, Qt::AlignHCenter);
    layout->addLayout(identity);

    auto* updates = new QVBoxLayout;
    updates->setSpacing(8);
    check_ = new QPushButton(desktopButtonText("Check for Updates…"), &content);
    check_->setObjectName(QStringLiteral("settings.about.checkForUpdatesButton"));
    updates->addWidget(check_, 0, Qt::AlignHCenter);
    automatic_ = new QCheckBox(desktopButtonText("Automatically check for updates"), &content);
    automatic_->setObjectName(QStringLiteral("settings.about.automaticallyCheckForUpdatesToggle"));
    updates->addWidget(automatic_, 0, Qt::AlignHCenter);
    layout->addLayout(updates);

    connect(check_, &QPushButton::clicked, this, [this] {
        const auto& deps = view_.dependencies();
        if (deps && deps->updateChecker) {
            settings_updates::checkForUpdates(*deps->updateChecker);
        }
    });
    connect(automatic_, &QCheckBox::toggled, this, [this](bool on) {
        if (!refreshing_) {
            setAutomaticallyChecks(on);
        }
    });
    const auto changed = [this](const bool&) { refresh(); };
    subscriptions_.push_back(view.canCheckForUpdates.observe(changed));
    subscriptions_.push_back(view.automaticallyChecksForUpdates.observe(changed));
    refresh();
}

QNPaneAbout::~QNPaneAbout() = default;

void QNPaneAbout::refresh() {
    refreshing_ = true;
    const auto& deps = view_.dependencies();
    const QNConfigBuild& build = deps ? deps->buildConfig : QNConfigBuild::standard();
    name_->setText(QString::fromStdString(appDisplayName(build)));
    std::string shortVersion = build.infoPlistString("CFBundleShortVersionString").value_or("0");
    if (deps && deps->updateChecker) {
        shortVersion = settings_updates::appVersion(*deps->updateChecker);
    }
    version_->setText(
        QString::fromStdString(forThisDesktop(versionText(shortVersion, appBuildVersion(build)))));
    check_->setEnabled(view_.canCheckForUpdates.get());
    automatic_->setChecked(view_.automaticallyChecksForUpdates.get());
    refreshing_ = false;
}

void QNPaneAbout::setAutomaticallyChecks(bool value) {
    const auto& deps = view_.dependencies();
    if (deps && deps->updateChecker) {
        settings_updates::setAutomaticallyChecksForUpdates(*deps->updateChecker, value);
        view_.automaticallyChecksForUpdates.set(
            settings_updates::automaticallyChecksForUpdates(*deps->updateChecker));
    }
    // Whatever the updater holds now, the box shows.
    refresh();
}

}  // namespace ravlin
