#pragma once

// The desktop suite's plain xcb clipboard client (tests/desktop/targets/clipboard_tool.cpp),
// driven from a test: an owner serving exact bytes per target, a reader that reads the clipboard
// as any requestor does, and who owns it. This process's event loop turns while the tool works:
// it may be the owner that must answer.

#include <signal.h>
#include <sys/types.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <chrono>
#include <memory>
#include <optional>

#include "tests/support/clipboard_targets.h"

namespace ravlin::testing {

// Runs the tool with `arguments` to its end (at most `limitMs`); its standard output, or an
// empty text when it did not end in time.
[[nodiscard]] inline QString runClipboardTool(const QStringList& arguments, int limitMs = 20'000) {
    return outputTurningTheLoop(QStringLiteral(RAVLIN_CLIPBOARD_TOOL), arguments, limitMs);
}

// The clipboard as a plain requestor reads it: "TARGETS <type> <names...>", then one line per
// target that carries contents ("<name> <type> <format> <size> <hash> <first bytes>").
[[nodiscard]] inline QString readClipboardExactly() {
    return runClipboardTool({QStringLiteral("read")});
}

// The process whose window owns the clipboard; 0 when nobody owns it or it names none.
[[nodiscard]] inline qint64 clipboardOwnerPid() {
    return runClipboardTool({QStringLiteral("owner")}).trimmed().toLongLong();
}

// Whether the process `pid` has ended within `limit`: gone, or a zombie (not reaped yet).
[[nodiscard]] inline bool processEnds(qint64 pid, std::chrono::milliseconds limit) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < limit.count()) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) {
            return true;
        }
        const QByteArray fields = stat.readAll();
        const auto close = fields.lastIndexOf(')');
        if (close >= 0 && fields.mid(close + 2, 1) == "Z") {
            return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return false;
}

// A spec of plain text alone, as UTF8_STRING.
[[nodiscard]] inline QStringList plainTextOffer(const QByteArray& utf8) {
    return {QStringLiteral("UTF8_STRING\tUTF8_STRING\t8\thex:") + QString::fromLatin1(utf8.toHex())};
}

// An owner of the clipboard serving `spec` (one "<name>\t<type>\t<format>\t<contents>" per
// target, see the tool): it takes the clipboard at once, or with `Start::later` when take() says
// so; with `Start::silent` it never answers; with `Start::stalling` it announces each large
// target's INCR answer and sends none of its steps.
class ClipboardOwner {
  public:
    enum class Start { now, silent, stalling, later };
    explicit ClipboardOwner(const QStringList& spec, Start start = Start::now) {
        spec_.open();
        spec_.write(spec.join(QLatin1Char('\n')).toUtf8() + '\n');
        spec_.flush();
        QStringList arguments{QStringLiteral("serve"), spec_.fileName()};
        if (start == Start::silent) {
            arguments << QStringLiteral("silent");
        } else if (start == Start::stalling) {
            arguments << QStringLiteral("stalling");
        } else if (start == Start::later) {
            arguments << QStringLiteral("later");
        }
        process_.start(QStringLiteral(RAVLIN_CLIPBOARD_TOOL), arguments);
        waitFor(start == Start::later ? "ready" : "owning");
    }
    // Takes the clipboard now (a copy the user makes), and returns once it owns it.
    bool take() {
        process_.write("take\n");
        process_.waitForBytesWritten(1000);
        return waitFor("owning");
    }
    // The same without waiting for it: a copy made at this moment, whose owning is told later
    // (owns()).
    void takeSoon() {
        process_.write("take\n");
        process_.waitForBytesWritten(1000);
    }
    [[nodiscard]] bool owns() { return waitFor("owning"); }
    // With Start::later: a copy made at a moment the X server times, whatever this process is
    // doing then. The tool takes the clipboard itself `delay` after the server next tells it of
    // the clipboard changing hands (takeAfterNextChange), or of the key that types `keysym`
    // going down, whoever has the focus (takeAfterKey). Returns once the tool watches; owns()
    // tells when it has taken the clipboard, tookAfter() how long after the event that was.
    bool takeAfterNextChange(std::chrono::milliseconds delay) {
        return watch(QByteArrayLiteral("after change ") + QByteArray::number(delay.count()));
    }
    bool takeAfterKey(const QByteArray& keysym, std::chrono::milliseconds delay) {
        return watch("after key " + keysym + ' ' + QByteArray::number(delay.count()));
    }
    // Once owns(): the server's time from the event to the take, in milliseconds.
    [[nodiscard]] std::optional<int> tookAfter() const {
        const auto at = output_.indexOf("taken ");
        if (at < 0) {
            return std::nullopt;
        }
        return output_.mid(at + 6).split(' ').value(0).toInt();
    }
    // With Start::later, before take(): reads the clipboard's text as a requestor, as a
    // clipboard manager does with every copy.
    bool fetch() {
        process_.write("fetch\n");
        process_.waitForBytesWritten(1000);
        return waitFor("fetched");
    }
    ~ClipboardOwner() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    ClipboardOwner(const ClipboardOwner&) = delete;
    ClipboardOwner& operator=(const ClipboardOwner&) = delete;

    [[nodiscard]] bool owning() const { return output_.contains("owning"); }
    // Whether another client has taken the clipboard from it.
    [[nodiscard]] bool lost() {
        process_.waitForReadyRead(10);
        output_ += process_.readAllStandardOutput();
        return output_.contains("lost");
    }
    // Whether it has given another client contents (a target other than TARGETS and TIMESTAMP),
    // as a clipboard manager fetches each copy.
    [[nodiscard]] bool gave() {
        process_.waitForReadyRead(10);
        output_ += process_.readAllStandardOutput();
        return output_.contains("gave");
    }
    [[nodiscard]] qint64 pid() const { return process_.processId(); }
    // How many requests it has been sent so far, answered or not.
    [[nodiscard]] qsizetype asked() {
        process_.waitForReadyRead(50);
        output_ += process_.readAllStandardOutput();
        return output_.count("asked\n");
    }

  private:
    bool watch(const QByteArray& line) {
        process_.write(line + '\n');
        process_.waitForBytesWritten(1000);
        return waitFor("watching");
    }
    bool waitFor(const char* word) {
        QElapsedTimer waited;
        waited.start();
        while (!output_.contains(word) && waited.elapsed() < 10'000 &&
               process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(20);
            output_ += process_.readAllStandardOutput();
        }
        return output_.contains(word);
    }

    QTemporaryFile spec_;
    QProcess process_;
    QByteArray output_;
};

}  // namespace ravlin::testing
