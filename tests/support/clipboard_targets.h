#pragma once

// The clipboard's formats as another X client (a GTK one) is offered them, sorted, without the
// selection protocol's own targets; empty when the reader does not answer within ten seconds.
// This process's event loop turns meanwhile: it may be the owner that must answer.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace ravlin::testing {

[[nodiscard]] inline bool isSelectionProtocolTarget(const QString& target) {
    return target == QLatin1String("TARGETS") || target == QLatin1String("TIMESTAMP") ||
           target == QLatin1String("MULTIPLE") || target == QLatin1String("SAVE_TARGETS");
}

// Runs `program` with `arguments` to its end (at most `limitMs`) while this process's event loop
// turns; its standard output, or an empty text when it did not end in time.
[[nodiscard]] inline QString outputTurningTheLoop(const QString& program,
                                                  const QStringList& arguments, int limitMs) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    QElapsedTimer waited;
    waited.start();
    while (process.state() != QProcess::NotRunning && waited.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(5);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

[[nodiscard]] inline QStringList clipboardTargetsSeenElsewhere() {
    const QString listed = outputTurningTheLoop(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import gi\n"
                        "gi.require_version('Gdk', '3.0')\n"
                        "gi.require_version('Gtk', '3.0')\n"
                        "from gi.repository import Gdk, Gtk\n"
                        "ok, atoms = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)"
                        ".wait_for_targets()\n"
                        "print('\\n'.join(a.name() for a in atoms) if ok else '')\n")},
        10'000);
    QStringList targets;
    for (const QString& line : listed
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!isSelectionProtocolTarget(line)) {
            targets << line;
        }
    }
    targets.sort();
    return targets;
}

}  // namespace ravlin::testing
