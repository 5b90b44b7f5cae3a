#pragma once

// The end-to-end suite's hands and eyes: the real `ravlin` started as a child in a home of its
// own, keys posted through XTest as a person would press them, the clipboard read and written in
// every format, the screen captured, and a stock editor started on a file. The targets of the
// desktop suite (tests/desktop/targets) and its Desktop fixture read fields over AT-SPI.
//
// Every wait is bounded; a child that does not stop on SIGTERM within its limit is killed and
// reaped, and the test that saw it fails.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/accessibility.h"

struct _XDisplay;  // Xlib's Display
class QTimer;

namespace ravlin::testing {

using namespace std::chrono_literals;

// The folder the suite writes its screenshots to (made on first use).
QString outputFolder();

class RavlinProgram {
  public:
    // A fresh home: $HOME, $XDG_CONFIG_HOME, $XDG_DATA_HOME, $XDG_CACHE_HOME and a private
    // $XDG_RUNTIME_DIR under one temporary folder. Nothing runs yet.
    RavlinProgram();
    ~RavlinProgram();
    RavlinProgram(const RavlinProgram&) = delete;
    RavlinProgram& operator=(const RavlinProgram&) = delete;

    // Writes the settings file as the program reads it ($XDG_CONFIG_HOME/ravlin/ravlin.ini,
    // section General), replacing what was there. Keys as the stores name them.
    void writeSettings(const std::map<std::string, std::string>& settings);
    // Environment variables the program gets on top of the session's.
    void setEnvironment(const QString& name, const QString& value);

    // Starts it and waits (at most `limit`) for "ravlin: running (pid N)"; whether it came.
    bool start(std::chrono::milliseconds limit = 30s);
    // SIGTERM, then waits (at most `limit`) for it to end; its exit status, or -1 when it had to
    // be killed or died by a signal.
    int stop(std::chrono::milliseconds limit = 20s);

    // Starts the program a second time, as a person does to bring its window back: the second
    // copy tells this one and ends (at most 10 s). Whether it ended with status 0.
    bool startAgain();

    [[nodiscard]] bool running() const { return process_.state() != QProcess::NotRunning; }
    [[nodiscard]] qint64 pid() const { return pid_; }
    [[nodiscard]] const QString& home() const { return home_; }
    // Everything it wrote on stderr so far.
    const QByteArray& errors();
    // Waits (at most `limit`) until stderr holds `text`; whether it did.
    bool waitForError(const QByteArray& text, std::chrono::milliseconds limit = 10s);
    // The lines of stderr that hold `text`.
    std::vector<std::string> errorLines(const QByteArray& text);

  private:
    QTemporaryDir root_;
    QString home_;
    QProcessEnvironment environment_;
    QProcess process_;
    QByteArray errors_;
    qint64 pid_ = 0;
};

// Keys posted through XTest on the session's display as a person presses them: every key goes
// down, stays down a while, and comes up; typed keys follow each other 40-120 ms apart (press to
// press), a chord's keys go down one after the other and come up in reverse. The waits run the
// event loop. Key names are X keysym names ("Super_L", "e", "Shift_R", "Return", "Escape").
class Keyboard {
  public:
    // How long a typed key is held, and the pause before the next one: cycled through, so that
    // a text is typed unevenly, between these bounds.
    static constexpr std::chrono::milliseconds typedHolds[] = {45ms, 60ms, 40ms, 70ms, 55ms};
    static constexpr std::chrono::milliseconds typedPauses[] = {30ms, 15ms, 45ms, 20ms, 35ms};
    // Between two keys of a chord going down, and coming up.
    static constexpr auto chordStep = 30ms;
    static constexpr auto chordRelease = 20ms;
    // A shortcut's last key, held as people hold it (80-250 ms).
    static constexpr auto shortcutHold = 120ms;

    Keyboard();
    ~Keyboard();
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    [[nodiscard]] bool ready() const { return display_ != nullptr; }
    // Presses the keys in order and releases them in reverse, the last held `hold`:
    // "Super_L+e", "Control_L+a".
    bool chord(const std::string& keys, std::chrono::milliseconds hold = shortcutHold);
    // One key as typed: held a typed key's time, then the pause before the next.
    bool tap(const std::string& key);
    // Two taps of one key, `gap` from the first release to the second press (the double tap of
    // the triggers), each held `hold` (none: as typed).
    bool doubleTap(const std::string& key, std::chrono::milliseconds gap = 150ms,
                   std::optional<std::chrono::milliseconds> hold = std::nullopt);
    // Types text character by character; characters outside the keymap go through spare
    // keycodes mapped for the text (at most as many distinct ones as there are spare codes).
    bool type(std::u16string_view text);
    // Waits (at most `limit`) until no key is held down on the server.
    bool waitForRelease(std::chrono::milliseconds limit = 2s);
    // One key going down or up, by its keysym name, when a scenario times the keys itself.
    bool key(const std::string& name, bool down);

  private:
    bool press(unsigned long keysym, bool down);
    bool typeOne(char32_t character);
    // Maps the characters of `characters` that the keymap lacks onto spare keycodes.
    bool borrowKeycodes(const std::u32string& characters);
    // The next typed key's hold and pause.
    std::chrono::milliseconds nextHold();
    std::chrono::milliseconds nextPause();

    ::_XDisplay* display_ = nullptr;
    std::vector<int> spareKeycodes_;
    std::map<unsigned long, int> borrowed_;  // keysym -> the spare keycode it is on
    std::size_t typed_ = 0;
};

// Runs the event loop for `duration`: a person's pause, not a wait for anything.
void pause(std::chrono::milliseconds duration);

// Moves the pointer to (x, y) on the screen and clicks the left button there, through XTest.
bool clickAt(int x, int y);
// Moves the pointer to (x, y), clicking nothing.
bool movePointerTo(int x, int y);
// Double-clicks the left button at (x, y) as a person does (each press held a moment, a short
// pause between the two), selecting the word there.
bool doubleClickAt(int x, int y);

// Counts the times the clipboard changes hands (a program takes it: a copy, a paste's borrow)
// while alive, as this X client is told of them.
class ClipboardWatch {
  public:
    ClipboardWatch();
    ~ClipboardWatch();
    ClipboardWatch(const ClipboardWatch&) = delete;
    ClipboardWatch& operator=(const ClipboardWatch&) = delete;
    [[nodiscard]] int changes() const { return *changes_; }

  private:
    std::shared_ptr<int> changes_ = std::make_shared<int>(0);
    QMetaObject::Connection connection_;
};

// Runs `action` once, `delay` after the clipboard next changes hands (a program takes it) as
// this X client is told of it, while alive.
class AfterClipboardTake {
  public:
    AfterClipboardTake(std::chrono::milliseconds delay, std::function<void()> action);
    ~AfterClipboardTake();
    AfterClipboardTake(const AfterClipboardTake&) = delete;
    AfterClipboardTake& operator=(const AfterClipboardTake&) = delete;

    // Whether the clipboard has changed hands since.
    [[nodiscard]] bool taken() const { return *taken_; }

  private:
    std::shared_ptr<bool> taken_ = std::make_shared<bool>(false);
    QMetaObject::Connection connection_;
};

// A window's place on the screen.
struct ScreenWindow {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    unsigned long id = 0;  // the X window
};
// The windows `pid` has on screen that no window manager handles (tool tips, popup menus, the
// heads-up), as the X server knows them: mapped, override-redirect, with that _NET_WM_PID.
std::vector<ScreenWindow> unmanagedWindowsOf(qint64 pid);

// Whether a system tray (a tray host such as trayer) holds the screen's tray selection.
bool trayHostPresent();

// The title of the window the X server says is active; empty when there is none.
QString activeWindowTitle();
// The window the window manager names active (_NET_ACTIVE_WINDOW); 0 when none.
unsigned long activeWindow();
// Gives `window` the keyboard as its own application does when it takes the focus by itself
// (XSetInputFocus), no input of anyone's with it.
bool focusWindowByItsOwnApplication(unsigned long window);
// Has the session's window manager give the keyboard to the window the pointer moves onto
// (`follows`), or only to a window clicked, and waits (at most `limit`) until it has read its
// configuration again.
bool setFocusFollowsPointer(bool follows, std::chrono::milliseconds limit);
// Brings the managed window whose title starts with `title` to the front as a taskbar does, and
// whether the window manager made it the active window within `limit`.
bool activateWindowTitled(const QString& title, std::chrono::milliseconds limit);

// The calls made to one application over the accessibility bus while alive, by anyone, as a bus
// monitor sees them (dbus-monitor on the accessibility bus): "Interface.Member" for each, such
// as "org.a11y.atspi.Text.GetText". Calls over an application's private connection (the ATK
// bridge offers one to its clients) are not on the bus and not seen: GTK 4 has none.
class AccessibilityCalls {
  public:
    explicit AccessibilityCalls(platform::ProcessID pid);
    ~AccessibilityCalls();
    AccessibilityCalls(const AccessibilityCalls&) = delete;
    AccessibilityCalls& operator=(const AccessibilityCalls&) = delete;

    // Whether the monitor runs and watches the application.
    [[nodiscard]] bool ready() const { return ready_; }
    // Those seen so far.
    std::vector<std::string> calls();

  private:
    QString bus_;
    QString name_;  // the application's on the bus
    QProcess monitor_;
    QByteArray output_;
    int pings_ = 0;
    bool ready_ = false;
};

// The application's connection to the accessibility bus (its unique name, ":1.N"), found by its
// process; empty when it has none.
QString accessibilityBusNameOf(platform::ProcessID pid);
// The role (an AtspiRole) of `application`'s object at `path`, asked over the accessibility bus;
// none when it did not answer.
std::optional<int> roleOnTheBus(const QString& application, const QString& path);

// The calls the program sends to other applications, over the accessibility bus and over the
// private connections they offer alike, as a library loaded into it records them: what was asked
// of which object, never with what. Made before the program starts.
class ProgramBusCalls {
  public:
    struct Call {
        QString destination;  // the application's name on the bus
        QString path;
        QString member;  // "Interface.Member", such as "org.a11y.atspi.Text.GetText"
    };

    explicit ProgramBusCalls(RavlinProgram& program);
    // Those recorded so far, in the order they were sent.
    [[nodiscard]] std::vector<Call> calls() const;

  private:
    QString file_;
};

// The first element of the program's windows `matches` accepts (a bounded walk, tried again
// until `limit`); an empty reference when none did.
platform::ElementRef findInProgramWhere(qint64 pid,
                                        const std::function<bool(platform::ElementRef)>& matches,
                                        std::chrono::milliseconds limit);
// An element of the program's windows: the first one, in a bounded walk of its accessibility
// tree, whose role is `role` (AX roles, or AT-SPI role names such as "push button" and
// "menu item") and whose title is `title`; null when none is there within `limit`.
platform::ElementRef findInProgram(qint64 pid, std::string_view role, std::u16string_view title,
                                   std::chrono::milliseconds limit = 5s);
// Clicks the middle of an element as a person would, once it stands on screen (at most 10 s);
// false when it never did.
bool clickElement(platform::ElementRef element);

// Every format the clipboard offers, with its bytes.
using ClipboardContents = std::map<QString, QByteArray>;

// Reads the clipboard, every format with its bytes. Put it there from another process (the Qt
// target's "copy" command) so that it is read through the X selection as any program reads it.
ClipboardContents readClipboard();
// Leaves the clipboard with no owner at all, as after the program that copied has gone; false
// when another client takes it at once.
bool leaveClipboardWithoutOwner();
// The targets the clipboard's owner offers, as another X client (a GTK one) sees them, sorted,
// without the selection protocol's own (TARGETS, TIMESTAMP, MULTIPLE, SAVE_TARGETS). At most 10 s.
QStringList clipboardTargets();
// Where two clipboards differ, one line per format; empty when they are byte for byte equal.
std::string clipboardDifference(const ClipboardContents& before, const ClipboardContents& after);

// Captures the whole screen as outputFolder()/<name>.png; the file written, or empty.
QString screenshot(const QString& name);

// A program nobody here wrote, started on a temporary file holding `text`: mousepad.
class StockEditor {
  public:
    explicit StockEditor(const QString& text);
    ~StockEditor();
    StockEditor(const StockEditor&) = delete;
    StockEditor& operator=(const StockEditor&) = delete;

    // Whether its window is up and on the accessibility bus.
    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] platform::ProcessID pid() const { return pid_; }

  private:
    QTemporaryDir folder_;
    QProcess process_;
    platform::ProcessID pid_ = 0;
    bool ready_ = false;
};

// A terminal emulator (xterm) running a shell that waits.
class Terminal {
  public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] platform::ProcessID pid() const { return pid_; }

  private:
    QProcess process_;
    platform::ProcessID pid_ = 0;
    bool ready_ = false;
};

// Ends a child: SIGTERM, at most `limit` to go, then SIGKILL; always reaped.
void endChild(QProcess& process, std::chrono::milliseconds limit = 3s);

// Whether a window of `pid` is the active one with the keyboard's focus in it: the window
// manager names the active window before the focus itself moves there, and a terminal's server
// may take it a moment later.
bool keyboardIn(platform::ProcessID pid);

// The process whose window is at (x, y) on the screen, as the X server stacks them: the
// _NET_WM_PID of the deepest window there that has one (a tray icon's, not its tray's); 0 when
// none has.
qint64 windowOwnerAt(int x, int y);

// Counts, while alive, the managed windows `pid` has on screen (those the window manager lists,
// mapped, with that _NET_WM_PID), looked at every 10 ms as the event loop turns: a Quick Fix's
// panel, say, shows while the Quick Fix runs and goes at its end.
class ManagedWindowsWatch {
  public:
    explicit ManagedWindowsWatch(qint64 pid);
    ~ManagedWindowsWatch();
    ManagedWindowsWatch(const ManagedWindowsWatch&) = delete;
    ManagedWindowsWatch& operator=(const ManagedWindowsWatch&) = delete;

    // How many there were as the watch began, the most seen since, and the last seen.
    [[nodiscard]] int first() const { return state_->first; }
    [[nodiscard]] int most() const { return state_->most; }
    [[nodiscard]] int now() const { return state_->now; }

  private:
    struct State {
        ::_XDisplay* display = nullptr;
        qint64 pid = 0;
        int first = 0;
        int most = 0;
        int now = 0;
        void look();
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    QTimer* timer_ = nullptr;
};

}  // namespace ravlin::testing
