#pragma once

// The desktop suite's world: this process as a Qt program on the session's X display with the
// Linux seams, and three real applications to reach into, a GTK 3, a GTK 4 and a Qt one, each
// started once for the whole suite.

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/support/qt_executor.h"
#include "app/target/pasteboard_snapshot.h"
#include "core/text/range.h"
#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/seams.h"
#include "tests/support/watchdog.h"

namespace ravlin::platform::x11 {
class Selections;
}

namespace ravlin::testing {

using namespace std::chrono_literals;

// Runs the event loop until `condition` holds or `limit` passes; whether it held. What an
// application must show is waited for until it shows, bounded only against a hang.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = kHangWatchdog);

// The clipboard's text as `reader`, a selection connection of its own, fetches it; none when
// nobody owns it, or it did not answer within 3 s. (The owner answers from its own thread.)
std::optional<std::u16string> clipboardTextThrough(platform::x11::Selections& reader);

// What `pasteboard` holds, read as the program reads it, on the event loop (at most 10 s): its
// plain text; everything on it (a read that did not end is one whose owner did not answer).
std::optional<std::u16string> readString(platform::Pasteboard& pasteboard);
platform::PasteboardContents readContents(platform::Pasteboard& pasteboard);

// Whether a clipboard manager is seen watching the clipboard: a copy of this process's own, on
// a connection of its own, is made again, each time waited on a little longer, until another
// client fetches its text as a manager does with every copy; bounded only against a hang. The
// copy's owner is gone once this returns (a manager may then serve its text).
bool clipboardManagerWatches();

// Runs a paste to its end on the event loop (at most 10 s); its result.
std::optional<QNPasteResult> runToEnd(QCoro::Task<QNPasteOutcome> task);
// The same, with all the paste says (why, what became of the user's contents).
std::optional<QNPasteOutcome> pasteToEnd(QCoro::Task<QNPasteOutcome> task);
// Keeps what a save of the clipboard gives in `into`, once it has.
QCoro::Task<> keepSaved(QCoro::Task<QNModelPasteboardSnapshot> task,
                        std::shared_ptr<std::optional<QNModelPasteboardSnapshot>> into);
// The same for a copy: the copied text (none too when it did not end in time).
std::optional<std::u16string> runToEnd(QCoro::Task<std::optional<std::u16string>> task);
// The same for a place (the caret probe's).
std::optional<platform::Rect> runToEnd(QCoro::Task<std::optional<platform::Rect>> task);

class TargetApp {
  public:
    TargetApp(std::string name, const QString& program, const QStringList& arguments);
    ~TargetApp();

    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] platform::ProcessID pid() const { return pid_; }
    // Sends one command line and waits for its acknowledgement.
    bool command(const QString& line);
    // Whether the application printed `line` (a whole line) since the last forget().
    bool printed(const QString& line);
    // The rest of the first line since the last forget() that starts with `start`.
    std::optional<QString> printedAfter(const QString& start);
    void forget() { output_.clear(); }

  private:
    void readOutput();

    std::string name_;
    QProcess process_;
    QString output_;
    platform::ProcessID pid_ = 0;
};

struct Desktop {
    QApplication* application;
    platform::Seams seams;
    std::shared_ptr<platform::AtspiAccessibility> accessibility;
    std::shared_ptr<QtExecutor> executor = std::make_shared<QtExecutor>();
    std::unique_ptr<TargetApp> gtk;
    std::unique_ptr<TargetApp> gtk4;
    std::unique_ptr<TargetApp> qt;
    // The X server's time when the last window brought to the front had the keyboard.
    unsigned long lastSettled = 0;

    // Started on first use, ended at exit.
    static Desktop& get();

    TargetApp& target(const std::string& name) {
        return name == "GTK" ? *gtk : name == "GTK 4" ? *gtk4 : *qt;
    }
    // Brings `app` to the front, focuses one of its fields ("line", "password", "readonly",
    // "area"; the GTK 4 target's "peeked", "hidden", "lettered", "zeroed", "spaced" and "locked",
    // the Qt one's "rich" too) and answers the focused element as the seams see it.
    platform::ElementRef focus(TargetApp& app, const QString& field);
    // The role the bus gives a field of the targets: the password and hidden fields are
    // "AXSecureTextField".
    [[nodiscard]] static std::u16string roleOf(const QString& field);
    // The element the system-wide lookup answers now, if it belongs to `pid`.
    platform::ElementRef focusedOf(platform::ProcessID pid);
    // Brings a window of `pid` to the front and waits until it has the X input focus too.
    bool bringToFront(platform::ProcessID pid, std::chrono::milliseconds limit = 5s);
    // The same, asking again each second: a window that has only just appeared may not take the
    // focus on its first activation (Qt answers the window manager's focus offer only once it is
    // fully up).
    bool bringToFrontPersistently(platform::ProcessID pid);
    std::u16string value(platform::ElementRef element);
    // Selects `range` in `element` (a caret where it is empty) as a person's click leaves it;
    // whether the application shows it. Set again each second until it does (a browser still
    // taking in a page or a markup it was just given drops a selection set meanwhile), bounded
    // only against a hang; where it never does, what the element holds goes to standard error.
    bool select(platform::ElementRef element, text::Utf16Range range);
};

// A terminal emulator running `cat > FILE` in a folder of its own, brought to the front: what
// reaches the terminal as input is what cat writes to the file once the line is ended (Ctrl+D
// flushes it, a second one ends cat and with it the terminal). Ended at the latest with it.
class CatTerminal {
  public:
    // `program` with `options`, then `execute` (its option that runs a command) and the command,
    // word by word, or as one command line where `execute` takes one (sakura's -x). Where the
    // terminal's windows belong to a server of its own (GNOME Terminal's), `serverClass` names
    // that server's window class: the terminal is the process of its new window.
    CatTerminal(const QString& program, QStringList options, const QString& execute,
                bool asOneLine = false, const QString& serverClass = {});
    ~CatTerminal();
    CatTerminal(const CatTerminal&) = delete;
    CatTerminal& operator=(const CatTerminal&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] platform::ProcessID pid() const { return pid_; }
    // Whether the terminal has ended within `limit`.
    bool ends(std::chrono::milliseconds limit);
    // What cat wrote.
    [[nodiscard]] QByteArray written() const;
    // What cat wrote once Ctrl+D went in twice (the line, then the end).
    QByteArray flushed();

  private:
    [[nodiscard]] QString file() const;

    QTemporaryDir folder_;
    QProcess process_;
    platform::ProcessID pid_ = 0;
    bool ready_ = false;
};

// For tests that post keys and clicks: while alive, a window of this process's own is in front
// with the pointer over it, so what they post lands there and in no target. At its end Caps Lock
// and Num Lock are off and the layout is "us" again, whatever the test left.
class OwnKeyboardFocus {
  public:
    OwnKeyboardFocus();
    ~OwnKeyboardFocus();
    OwnKeyboardFocus(const OwnKeyboardFocus&) = delete;
    OwnKeyboardFocus& operator=(const OwnKeyboardFocus&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] QLineEdit& field() { return *field_; }

  private:
    std::unique_ptr<QLineEdit> field_;  // made once the application is
    bool ready_ = false;
};

}  // namespace ravlin::testing
