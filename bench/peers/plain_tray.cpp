// A plain Qt 6 tray program, the measure of what any Qt tray program costs at start-up: a tray
// icon with a one-item menu where the desktop has a tray, else a small window with a label and
// a Quit button (as Ravlin shows where there is none). Nothing else: no settings, no
// accessibility, no dictionaries. scripts/measure-startup starts it beside Ravlin.
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QIcon drawnIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::darkCyan);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(2, 4, 28, 20, 6, 6);
    return QIcon(pixmap);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QIcon icon = drawnIcon();

    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &application, &QApplication::quit);
    QSystemTrayIcon tray(icon);
    tray.setContextMenu(&menu);

    QWidget window(nullptr, Qt::Tool);
    window.setWindowTitle(QStringLiteral("Plain tray"));
    auto* label = new QLabel(QStringLiteral("A plain tray program is running."));
    auto* quit = new QPushButton(QStringLiteral("Quit"));
    QObject::connect(quit, &QPushButton::clicked, &application, &QApplication::quit);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(label);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(quit);
    layout->addLayout(buttons);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray.show();
    } else {
        window.show();
    }
    return QApplication::exec();
}
