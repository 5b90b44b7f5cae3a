#include "app/shell/program.h"

#include <unistd.h>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <cstdio>
#include <memory>

#include "app/shell/signal_watcher.h"
#include "app/shell/single_instance.h"
#include "app/shell/status_window.h"
#include "app/support/app_context.h"
#include "app/support/qt_executor.h"
#include "core/support/executor.h"
#include "platform/unavailable.h"

namespace ravlin {
namespace {

void say(const std::string& line) {
    std::fprintf(stderr, "ravlin: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

int runProgram(int argc, char** argv, SeamsFactory desktopSeams) {
    QApplication::setApplicationName(QStringLiteral("ravlin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ravlin"));
    QApplication::setDesktopFileName(QStringLiteral("ravlin"));
    QApplication application(argc, argv);
    // A tray program: closing its window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(SingleInstance::defaultFolder(), QStringLiteral("ravlin"));
    switch (instance.claim()) {
        case SingleInstance::Claim::First:
            break;
        case SingleInstance::Claim::Told:
            say("already running; asked it to come forward");
            return 0;
        case SingleInstance::Claim::Unreachable:
            say("another copy holds " + instance.socketPath().toStdString() +
                " but does not answer");
            return 1;
    }

    SignalWatcher terminations;
    QObject::connect(&terminations, &SignalWatcher::terminationRequested, &application,
                     [](int number) {
                         say("stopping (signal " + std::to_string(number) + ")");
                         QApplication::quit();
                     });

    // What the program's parts share: the desktop seams, the main sequence, the runner for
    // blocking work and the clock.
    const auto executor = std::make_shared<QtExecutor>();
    auto seams = platform::withUnavailableFilled(desktopSeams ? desktopSeams() : platform::Seams{});
    const auto defaults = std::make_shared<QSettingsDefaults>(QSettingsDefaults::standardPath());
    const AppContext context{
        .seams = seams,
        .executor = executor,
        .workRunner = std::make_shared<ThreadWorkRunner>(),
        .clock = std::make_shared<SteadyClock>(),
        .preferences = makePreferences(defaults, process::currentEnvironment(), seams),
        .logger = std::make_shared<QNLoggerEvent>(defaults),
    };
    const std::string notice = unconnectedNotice(context.seams);
    const std::string connected = connectedNotice(context.seams);

    StatusWindow window(QString::fromStdString(notice));
    QObject::connect(&window, &StatusWindow::quitRequested, &application, &QApplication::quit);

    std::unique_ptr<QSystemTrayIcon> tray;
    std::unique_ptr<QMenu> menu;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        menu = std::make_unique<QMenu>();
        menu->addAction(QStringLiteral("Quit"), &application, &QApplication::quit);
        tray = std::make_unique<QSystemTrayIcon>(ravlinIcon());
        tray->setToolTip(QStringLiteral("Ravlin is running"));
        tray->setContextMenu(menu.get());
        QObject::connect(tray.get(), &QSystemTrayIcon::activated, &window,
                         [&window](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger) {
                                 window.bringForward();
                             }
                         });
        tray->show();
    } else {
        window.bringForward();
    }

    QObject::connect(&instance, &SingleInstance::activationRequested, &window, [&window] {
        say("asked to come forward");
        window.bringForward();
    });

    executor->post([notice, connected] {
        say("running (pid " + std::to_string(::getpid()) + ")");
        say(connected);
        if (!notice.empty()) {
            say(notice);
        }
    });
    return QApplication::exec();
}

}  // namespace ravlin
