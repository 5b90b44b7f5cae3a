#include "app/shell/status_window.h"

#include <QFont>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <utility>

#include "app/support/dialog_keys.h"
#include "app/support/start_up_activation.h"

namespace ravlin {

StatusWindow::StatusWindow(const QString& notice, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Ravlin"));
    const QIcon drawnIcon = ravlinIcon();
    setWindowIcon(drawnIcon);

    auto* icon = new QLabel;
    icon->setPixmap(drawnIcon.pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto* title = new QLabel(QStringLiteral("Ravlin is running."));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    title->setFont(titleFont);

    auto* howTo = new QLabel(QStringLiteral(
        "It keeps running when this window is closed; start it again to bring this window "
        "back.\nTo quit, click Quit or press Ctrl+Q."));
    howTo->setWordWrap(true);

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addWidget(howTo);
    if (!notice.isEmpty()) {
        auto* seams = new QLabel(notice);
        seams->setWordWrap(true);
        seams->setObjectName(QStringLiteral("notice"));
        seams->setStyleSheet(QStringLiteral("color: palette(mid);"));
        text->addWidget(seams);
    }
    text->addStretch();

    auto* quit = new QPushButton(QStringLiteral("Quit"));
    quit->setObjectName(QStringLiteral("quit"));
    connect(quit, &QPushButton::clicked, this, &StatusWindow::quitRequested);
    quit_ = quit;
    // The chord the window names, on every desktop (not every platform binds Quit to it).
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(shortcut, &QShortcut::activated, this, &StatusWindow::quitRequested);
    menuButton_ = new QPushButton(QStringLiteral("Menu"));
    menuButton_->setObjectName(QStringLiteral("menu"));
    menuButton_->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(menuButton_);
    buttons->addStretch();
    buttons->addWidget(quit);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(icon);
    top->addLayout(text, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    // Ordered once both are in this window (Qt orders nothing across windows): Menu, then Quit.
    setTabOrder(menuButton_, quit);
    // Closing it is no answer to Escape: it is how a person finds the way to quit.
    answerDialogKeys(*this, nullptr, false);
    setFixedWidth(420);
    leaveQuitUnfocused();
}

void StatusWindow::leaveQuitUnfocused() {
    // The window itself holds the focus, as it opens: a Space or Return typed into it quits
    // nothing. Tab reaches Menu, then Quit.
    if (focusWidget() == nullptr || focusWidget() == quit_) {
        setFocus(Qt::OtherFocusReason);
    }
}

void StatusWindow::bringForward() {
    startUpActivation::clear(this);
    if (!isVisible()) {
        leaveQuitUnfocused();
    }
    show();
    raise();
    activateWindow();
}

void StatusWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!std::exchange(drawn_, true)) {
        emit firstDrawn();
    }
}

void StatusWindow::setMenu(QMenu* menu) {
    if (QMenu* previous = menuButton_->menu()) {
        menuButton_->removeAction(previous->menuAction());
    }
    menuButton_->setMenu(menu);
    // The button lists the menu among its actions, which would make the menu's shortcuts the
    // window's too: Ctrl+Q and Ctrl+, would have two owners here and neither would fire. The
    // window keeps its own; the menu answers them while it is open.
    if (menu != nullptr) {
        menuButton_->removeAction(menu->menuAction());
    }
    menuButton_->setVisible(menu != nullptr);
}

QIcon ravlinIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath square;
        square.addRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), size * 0.22, size * 0.22);
        painter.fillPath(square, QColor(0x2f, 0x6f, 0xde));
        QFont font;
        font.setBold(true);
        font.setPixelSize(static_cast<int>(size * 0.68));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QStringLiteral("R"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace ravlin
