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

[[nodiscard]] inline QStringList clipboardTargetsSeenElsewhere() {
    QProcess reader;
    reader.setStandardInputFile(QProcess::nullDevice());
    reader.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import gi\n"
                                 "gi.require_version('Gtk', '3.0')\n"
                                 "from gi.repository import Gdk, Gtk\n"
                                 "ok, atoms = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)"
                                 ".wait_for_targets()\n"
                                 "print('\\n'.join(a.name() for a in atoms) if ok else '')\n")});
    QElapsedTimer waited;
    waited.start();
    while (reader.state() != QProcess::NotRunning && waited.elapsed() < 10'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        reader.waitForFinished(5);
    }
    if (reader.state() != QProcess::NotRunning) {
        reader.kill();
        reader.waitForFinished();
        return {};
    }
    QStringList targets;
    for (const QString& line : QString::fromUtf8(reader.readAllStandardOutput())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!isSelectionProtocolTarget(line)) {
            targets << line;
        }
    }
    targets.sort();
    return targets;
}

}  // namespace ravlin::testing
