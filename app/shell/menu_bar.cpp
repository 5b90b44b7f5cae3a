#include "app/shell/menu_bar.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

#include "app/log/log_window.h"
#include "app/shell/recorders/recorder_symbols.h"
#include "app/shell/update_service.h"
#include "app/support/desktop_wording.h"

namespace ravlin {
namespace {

// The icon's drawing at `size` pixels, painted in `color` where the drawing is opaque.
QPixmap paintedIcon(QSvgRenderer& drawing, int size, const QColor& color) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter, QRectF(0, 0, size, size));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    return pixmap;
}

}  // namespace

std::string_view correctionIssueSymbol(QNModelCorrectionIssueKind kind) {
    switch (kind) {
        case QNModelCorrectionIssueKind::connection:
            return "exclamationmark.triangle.fill";
    }
    return "exclamationmark.circle.fill";
}

QColor tintColor(QNMenuBarTint tint) {
    switch (tint) {
        case QNMenuBarTint::orange:
            return QColor(0xff, 0x95, 0x00);
        case QNMenuBarTint::yellow:
            return QColor(0xff, 0xcc, 0x00);
        case QNMenuBarTint::none:
            break;
    }
    return QColor(Qt::black);
}

QIcon menuBarIcon(QNMenuBarTint tint) {
    QIcon icon;
    QSvgRenderer drawing(QStringLiteral(":/MenuBarIcon.svg"));  // read once for every size
    for (const int size : {16, 18, 22, 24, 32, 36, 48}) {
        icon.addPixmap(paintedIcon(drawing, size, tintColor(tint)));
    }
    // Without a tint the drawing is a mask the desktop may colour to suit its panel.
    icon.setIsMask(tint == QNMenuBarTint::none);
    return icon;
}

QNControllerMenuBar::QNControllerMenuBar(QNMenuBarCallbacks callbacks,
                                         QNMenuBarDependencies dependencies)
    : callbacks_(std::move(callbacks)),
      dependencies_(std::move(dependencies)),
      statusItem_(std::make_unique<QSystemTrayIcon>()) {
    buildMenu();
}

QNControllerMenuBar::~QNControllerMenuBar() {
    statusItem_->setContextMenu(nullptr);
}

void QNControllerMenuBar::buildMenu() {
    statusItem_->setIcon(menuBarIcon(QNMenuBarTint::none));
    statusItem_->setToolTip(desktopButtonText("Ravlin"));
    menu_ = std::make_unique<QMenu>();
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { refresh(); });

    const auto add = [this](std::string_view title, void (QNControllerMenuBar::*action)()) {
        QAction* item = menu_->addAction(desktopButtonText(title));
        connect(item, &QAction::triggered, this, [this, action] { (this->*action)(); });
        return item;
    };
    correctionIssueItem_ = add("", &QNControllerMenuBar::correctionIssueTapped);
    correctionIssueSeparator_ = menu_->addSeparator();
    triggerItem_ = add("Open Composer", &QNControllerMenuBar::triggerTapped);
    cloudAIItem_ = add("Use Cloud AI Correction", &QNControllerMenuBar::cloudAITapped);
    cloudAIItem_->setCheckable(true);
    openLogItem_ = add("Open Log", &QNControllerMenuBar::openLogTapped);
    menu_->addSeparator();
    settingsItem_ = add("Settings…", &QNControllerMenuBar::settingsTapped);
    settingsItem_->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    updateItem_ = add("Check for Updates…", &QNControllerMenuBar::updateTapped);
    menu_->addSeparator();
    quitItem_ = add("Quit Ravlin", &QNControllerMenuBar::quitTapped);
    quitItem_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    correctionIssueItem_->setVisible(false);
    correctionIssueSeparator_->setVisible(false);
    // A menu that opens on its own (from the tray or a button) belongs to no window, so Qt
    // never matches its items' shortcuts: the menu answers them itself.
    menu_->installEventFilter(this);
    statusItem_->setContextMenu(menu_.get());
    // A click opens the menu too, as the context click does.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    menu_->popup(QCursor::pos());
                }
            });
}

bool QNControllerMenuBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != menu_.get() || event->type() != QEvent::KeyPress) {
        return false;
    }
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (QAction* item : {settingsItem_, quitItem_}) {
        if (item->isEnabled() && item->shortcut() == pressed) {
            menu_->hide();
            item->trigger();
            return true;
        }
    }
    return false;
}

void QNControllerMenuBar::showStatusItem() {
    // Qt keeps a shown icon waiting for a tray and puts it there when one appears.
    statusItem_->show();
}

void QNControllerMenuBar::refresh() {
    applyCorrectionIssue(callbacks_.correctionIssue ? callbacks_.correctionIssue() : std::nullopt);

    triggerItem_->setEnabled(callbacks_.isAccessibilityTrusted &&
                             callbacks_.isAccessibilityTrusted());
    // The shortcut goes after a tab: the menu draws it in its shortcut column, aligned with
    // the other items' Ctrl+, and Ctrl+Q.
    QString title = desktopButtonText("Open Composer");
    if (callbacks_.hotKeyConfig && dependencies_.keyboardLayout) {
        const QNConfigHotKey config = callbacks_.hotKeyConfig();
        if (config.keyCode != QNConfigHotKey::noKeyCode || config.modifiers != 0) {
            title += QLatin1Char('\t') + QString::fromStdString(withoutMnemonics(
                                             shortcutText(config, *dependencies_.keyboardLayout)));
        }
    }
    triggerItem_->setText(title);

    cloudAIItem_->setChecked(dependencies_.correctionModelModeStore &&
                             dependencies_.correctionModelModeStore->mode().get() ==
                                 QNCorrectionModelMode::online);

    updateItem_->setText(desktopButtonText("Check for Updates…"));
    updateItem_->setEnabled(dependencies_.updateChecker &&
                            dependencies_.updateChecker->updaterController().canCheckForUpdates());
}

void QNControllerMenuBar::applyCorrectionIssue(const std::optional<QNModelCorrectionIssue>& issue) {
    correctionIssueItem_->setVisible(issue.has_value());
    correctionIssueSeparator_->setVisible(issue.has_value());
    if (issue) {
        const QString menuDetail = QString::fromStdString(issue->menuDetail);
        correctionIssueItem_->setText(QString::fromStdString(withoutMnemonics(issue->menuDetail)));
        correctionIssueItem_->setToolTip(QString::fromStdString(issue->detail));
        QIcon icon =
            symbolIcon(correctionIssueSymbol(issue->kind), menu_->palette().color(QPalette::Text));
        icon.setIsMask(true);
        correctionIssueItem_->setIcon(icon);
        correctionIssueItem_->setIconText(menuDetail);
        statusItem_->setToolTip(QString::fromStdString(issue->detail));
        setTint(issue->severity == QNModelCorrectionIssueSeverity::critical
                    ? QNMenuBarTint::orange
                    : QNMenuBarTint::yellow);
    } else {
        correctionIssueItem_->setText(QString());
        correctionIssueItem_->setIconText(QString());
        correctionIssueItem_->setToolTip(QString());
        correctionIssueItem_->setIcon(QIcon());
        statusItem_->setToolTip(desktopButtonText("Ravlin"));
        setTint(QNMenuBarTint::none);
    }
}

void QNControllerMenuBar::setTint(QNMenuBarTint tint) {
    if (tint_ != tint) {
        tint_ = tint;
        statusItem_->setIcon(menuBarIcon(tint));
    }
}

void QNControllerMenuBar::triggerTapped() {
    if (callbacks_.onTrigger) {
        callbacks_.onTrigger();
    }
}

void QNControllerMenuBar::cloudAITapped() {
    if (callbacks_.onToggleCloudAI) {
        callbacks_.onToggleCloudAI();
    }
    refresh();
}

void QNControllerMenuBar::correctionIssueTapped() {
    if (callbacks_.onShowCorrectionSettings) {
        callbacks_.onShowCorrectionSettings();
    }
}

void QNControllerMenuBar::openLogTapped() {
    if (dependencies_.logger) {
        QNControllerLogWindow::shared().show(dependencies_.logger, dependencies_.pasteboard);
    }
}

void QNControllerMenuBar::settingsTapped() {
    if (callbacks_.onShowSettings) {
        callbacks_.onShowSettings();
    }
}

void QNControllerMenuBar::updateTapped() {
    if (dependencies_.updateChecker) {
        dependencies_.updateChecker->updaterController().checkForUpdates();
    }
}

void QNControllerMenuBar::quitTapped() {
    if (callbacks_.onQuit) {
        callbacks_.onQuit();
    } else {
        QCoreApplication::quit();
    }
}

void QNControllerMenuBar::newTextDocumentTapped() {
    if (callbacks_.onNewTextDocument) {
        callbacks_.onNewTextDocument();
    }
}

void QNControllerMenuBar::openTextFileTapped() {
    if (callbacks_.onOpenTextFile) {
        callbacks_.onOpenTextFile();
    }
}

}  // namespace ravlin
