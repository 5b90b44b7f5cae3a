// The `ravlin` program itself on the session's X server: the Composer shortcut it holds, its
// start-up lines, and what it lets go of when it quits.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "platform/linux/x11/xlib.h"

namespace ravlin::testing {
namespace {

constexpr unsigned xE = 26;

int grabErrors = 0;
int countGrabError(Display*, XErrorEvent*) {
    ++grabErrors;
    return 0;
}

// Whether another X client can grab Super+E (with any lock variant) right now.
bool otherClientCanGrabSuperE() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        ADD_FAILURE() << "no X display";
        return false;
    }
    grabErrors = 0;
    auto* previous = XSetErrorHandler(countGrabError);
    for (const unsigned locks :
         {0U, unsigned{LockMask}, unsigned{Mod2Mask}, unsigned{LockMask | Mod2Mask}}) {
        XGrabKey(display, static_cast<int>(xE), Mod4Mask | locks, DefaultRootWindow(display), False,
                 GrabModeAsync, GrabModeAsync);
    }
    XSync(display, False);
    XUngrabKey(display, static_cast<int>(xE), AnyModifier, DefaultRootWindow(display));
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return grabErrors == 0;
}

// The program with a configuration and runtime folder of its own.
class Program {
  public:
    explicit Program(const QByteArray& settings) {
        QFile::remove(folder_.path() + "/ravlin/ravlin.ini");
        QDir(folder_.path()).mkpath("ravlin");
        QFile ini(folder_.path() + "/ravlin/ravlin.ini");
        ini.open(QIODevice::WriteOnly);
        ini.write("[General]\n" + settings);
        ini.close();
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", folder_.path());
        environment.insert("XDG_CONFIG_HOME", folder_.path());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.remove("XCODE_RUNNING_FOR_PREVIEWS");
        process_.setProcessEnvironment(environment);
        process_.start(RAVLIN_PROGRAM, {});
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    // Waits (at most 30 s: the binary carries the sanitizers) until standard error holds `text`.
    bool waitFor(const QByteArray& text) {
        for (int i = 0; i < 300 && !errors_.contains(text); ++i) {
            if (process_.state() == QProcess::NotRunning) {
                break;
            }
            process_.waitForReadyRead(100);
            errors_ += process_.readAllStandardError();
        }
        return errors_.contains(text);
    }
    int quit() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(20000) || process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        errors_ += process_.readAllStandardError();
        return process_.exitCode();
    }
    [[nodiscard]] bool running() const { return process_.state() == QProcess::Running; }
    [[nodiscard]] std::string errors() const { return errors_.toStdString(); }
    // A line of the system log: on stderr where the session has no journal.
    bool logged(const QByteArray& line) {
        return access("/run/systemd/journal/socket", W_OK) == 0 || waitFor(line);
    }

  private:
    QTemporaryDir folder_;
    QProcess process_;
    QByteArray errors_;
};

TEST(DesktopProgram, HoldsTheShortcutAndLetsGoOnQuit) {
    ASSERT_TRUE(otherClientCanGrabSuperE()) << "Super+E is held before the program starts";
    Program ravlin("DoubleTap.enabled=false\nQuickFix.enabled=false\n");
    ASSERT_TRUE(ravlin.waitFor("ravlin: Coordinator started")) << ravlin.errors();
    EXPECT_FALSE(otherClientCanGrabSuperE());
    EXPECT_TRUE(ravlin.logged(
        "io.quen.ravlin.AppRavlinInput Coordinator info: Global hotkey registered: ⌘E"))
        << ravlin.errors();
    EXPECT_EQ(ravlin.quit(), 0) << ravlin.errors();
    EXPECT_TRUE(otherClientCanGrabSuperE());
}

TEST(DesktopProgram, AnFnShortcutIsRefusedAndTheProgramRunsOn) {
    Program ravlin("HotKey.keyCode=63\nHotKey.modifiers=8388608\n");
    ASSERT_TRUE(ravlin.waitFor("ravlin: Coordinator started")) << ravlin.errors();
    EXPECT_TRUE(ravlin.logged(
        "io.quen.ravlin.AppRavlinInput Coordinator error: Hotkey registration FAILED"))
        << ravlin.errors();
    EXPECT_TRUE(ravlin.running());
    EXPECT_TRUE(otherClientCanGrabSuperE());
    EXPECT_EQ(ravlin.quit(), 0) << ravlin.errors();
}

}  // namespace
}  // namespace ravlin::testing
