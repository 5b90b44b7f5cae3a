#include "app/shell/program.h"

#include <unistd.h>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPixmapCache>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>

#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "app/shell/coordinator.h"
#include "app/shell/menu_bar.h"
#include "app/shell/signal_watcher.h"
#include "app/shell/single_instance.h"
#include "app/shell/status_window.h"
#include "app/support/app_context.h"
#include "app/support/combo_box_accessibility.h"
#include "app/support/qt_executor.h"
#include "app/support/scroll_area_accessibility.h"
#include "app/support/start_up_activation.h"
#include "core/support/executor.h"
#include "platform/unavailable.h"

namespace ravlin {
namespace {

// How long start-up waits for the running window to be drawn before it makes the coordinator all
// the same.
constexpr auto undrawnWindowLimit = std::chrono::seconds(1);
// The longest the program's end lets its stopped flows take to end (each takes a turn or two of
// the sequence; a correction under way, the time its request takes to stop).
constexpr auto stoppedFlowsLimit = std::chrono::milliseconds(250);
// The same at the end's start, while a commit cut short still leaves its text on the clipboard:
// it reads the user's contents first, which their owner on a busy machine may take most of its
// second to answer, then hands both to the keeper. Each of those waits has a bound of its own;
// this one is only against a hang (given up sooner, the text would be lost).
constexpr auto leftCommitLimit = std::chrono::seconds(10);

void say(const std::string& line) {
    std::fprintf(stderr, "ravlin: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

bool isRunningForPreviews(const EnvironmentSnapshot& environment) {
    const auto found = environment.find("XCODE_RUNNING_FOR_PREVIEWS");
    return found != environment.end() && found->second == "1";
}

int runProgram(int argc, char** argv, SeamsFactory desktopSeams) {
    QApplication::setApplicationName(QStringLiteral("ravlin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ravlin"));
    QApplication::setDesktopFileName(QStringLiteral("ravlin"));
    QApplication application(argc, argv);
    // A tray program: closing its window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // Nothing wakes the program while nothing happens. Qt's pixmap cache trims itself on a timer
    // (30 s after a pixmap is kept, then every 10 s until it is empty), so every paint of a
    // styled widget or an icon would be followed by wake-ups; our few small windows draw those
    // pieces again at no cost that shows.
    QPixmapCache::setCacheLimit(0);
    // Before any window: assistive technology reads our scroll areas through a safe answer, and
    // our combo boxes by their names.
    installScrollAreaAccessibility();
    installComboBoxAccessibility();

    SingleInstance instance(SingleInstance::defaultFolder(), QStringLiteral("ravlin"));
    switch (instance.claim()) {
        case SingleInstance::Claim::First:
            if (const auto& stale = instance.takenOver()) {
                say("took over " + instance.lockPath().toStdString() + " (" + *stale + ")");
            }
            if (const auto& socket = instance.socketProblem()) {
                say(*socket);
            }
            break;
        case SingleInstance::Claim::Told:
            say("already running; asked it to come forward");
            return 0;
        case SingleInstance::Claim::Unreachable:
        case SingleInstance::Claim::Unusable:
            say("cannot start: " + instance.problem());
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
    const auto environment = process::currentEnvironment();
    const std::string notice = unconnectedNotice(seams);
    const std::string connected = connectedNotice(seams);

    StatusWindow window(QString::fromStdString(notice));
    QObject::connect(&window, &StatusWindow::quitRequested, &application, &QApplication::quit);
    // One settings window for the life of the process, made on first use (over the preview
    // snapshot when previewing); whoever asks for it gets it in front.
    const auto showSettingsWindow = settingsWindowShower();
    // The coordinator makes every long-lived object and registers the triggers. Previews get
    // none of it: no coordinator, no tray, no trigger.
    std::shared_ptr<QNCoordinatorApp> coordinator;
    Subscription settingsProblem;
    Subscription settingsNotice;
    const bool previews = isRunningForPreviews(environment);

    // Settings…: Ctrl+, while any of the program's windows is active (once the coordinator the
    // settings show is there).
    QShortcut settingsShortcut(QKeySequence(QStringLiteral("Ctrl+,")), &window);
    settingsShortcut.setContext(Qt::ApplicationShortcut);
    QObject::connect(&settingsShortcut, &QShortcut::activated, &window, [&] {
        if (coordinator || previews) {
            showSettingsWindow(std::nullopt);
        }
    });

    // A provisional tray, only while the coordinator has built no menu of its own.
    std::unique_ptr<QSystemTrayIcon> tray;
    std::unique_ptr<QMenu> menu;
    const auto showProvisionalTray = [&] {
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
    };

    QObject::connect(&instance, &SingleInstance::activationRequested, &window, [&window] {
        say("asked to come forward");
        window.bringForward();
    });

    // The coordinator is made, then started, each on a turn of the loop of its own: the loop
    // answers the desktop between the two. None of the loop's turns after it ends start it.
    bool looping = true;
    bool hasTray = false;
    Executor::TaskID undrawnWindowTask = 0;
    const auto startCoordinator = [&] {
        if (!looping) {
            return;
        }
        coordinator->start();
        if (auto* settings = QNControllerSettingsWindow::shared().window();
            settings != nullptr && settings->isVisible()) {
            startUpActivation::mark(settings);  // shown because accessibility is missing
        }
        if (coordinator->menuBar) {
            // The running window offers the tray's menu as well: without a tray it is the way
            // to it.
            window.setMenu(coordinator->menuBar->menu());
        } else if (hasTray) {
            showProvisionalTray();
        }
        say("Coordinator started");
    };
    const auto makeCoordinator = [&] {
        if (!looping || coordinator) {
            return;
        }
        executor->cancel(std::exchange(undrawnWindowTask, 0));
        // Settings that cannot be saved are said here once, as in the session log, and so is
        // a settings file written again.
        const auto defaults =
            std::make_shared<QSettingsDefaults>(QSettingsDefaults::standardPath());
        const auto sayProblem = [](const std::optional<std::string>& problem) {
            if (problem) {
                say(*problem);
            }
        };
        sayProblem(defaults->saveProblem().get());
        settingsProblem = defaults->saveProblem().observe(sayProblem);
        settingsNotice = defaults->observeNotices([](const std::string& line) { say(line); });
        coordinator = QNCoordinatorApp::create(QNCoordinatorEnvironment{
            .seams = seams,
            .defaults = defaults,
            .processEnvironment = environment,
            .executor = executor,
            .workRunner = std::make_shared<ThreadWorkRunner>(),
            .clock = std::make_shared<SteadyClock>(),
            .ownPid = static_cast<platform::ProcessID>(::getpid()),
            .showSettingsWindow = showSettingsWindow,
            // The program has no document windows.
            .isDocumentWindow = [] { return false; },
            .quit = [] { QApplication::quit(); },
        });
        QNCoordinatorApp::setShared(coordinator);
        executor->post(startCoordinator);
    };

    executor->post([&, notice, connected] {
        say("running (pid " + std::to_string(::getpid()) + ")");
        say(connected);
        if (!notice.empty()) {
            say(notice);
        }
        if (previews) {
            showSettingsWindow(std::nullopt);
            return;
        }
        // Without a tray the running window is the program's face. It shows first, so the
        // settings window start-up opens when accessibility is missing comes over it; a person
        // needs nothing of the coordinator to see it, which is made once the window is drawn
        // (or a moment later should the desktop never draw it).
        hasTray = QSystemTrayIcon::isSystemTrayAvailable();
        if (hasTray) {
            makeCoordinator();
            return;
        }
        QObject::connect(&window, &StatusWindow::firstDrawn, &window,
                         [&] { executor->post(makeCoordinator); });
        undrawnWindowTask = executor->postAfter(undrawnWindowLimit, makeCoordinator);
        window.bringForward();
        startUpActivation::mark(&window);
    });
    const int status = QApplication::exec();
    looping = false;
    // Whatever flow the loop left suspended, the user's clipboard goes back while the
    // application (and its clipboard) still exists; then the flows are stopped, and end on the
    // sequence.
    if (coordinator) {
        coordinator->willTerminate();
        executor->drain(leftCommitLimit);
    }
    // What the program still serves on the clipboard (the user's contents put back, a text left
    // there) would go with it: a clipboard manager, or else a keeper of ours, takes it over.
    seams.pasteboard->keepContentsAfterExit();
    // The settings window holds the coordinator: it goes first, while the application exists.
    delete QNControllerSettingsWindow::shared().window();
    // The triggers let go of the desktop (the hot key's grab among them) before the seams go.
    QNCoordinatorApp::setShared(nullptr);
    coordinator.reset();
    // The flows of what went with it (its windows' animations) were stopped as their owners
    // went: they end too.
    executor->drain(stoppedFlowsLimit);
    // What is still waiting on the sequence (a quit that came while start-up had work under
    // way, a check due later) will never run; dropped, it lets go of what it held.
    executor->discardWaiting();
    return status;
}

}  // namespace ravlin
