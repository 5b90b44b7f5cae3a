// The user's clipboard after the program ends. A Composer commit borrows the clipboard of an
// owner that is not Qt and puts it back, so the program serves it; then the program ends, as a
// person quits it or as the session stops it, with no clipboard manager running. Another client
// still reads the same targets and bytes, from the keeper the program left; and the keeper ends
// once something else is copied.

#include <gtest/gtest.h>

#include <QFile>

#include "core/text/unicode.h"
#include "tests/desktop-e2e/e2e_harness.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

QString line(const QString& target, const QString& type, int format, const QByteArray& bytes) {
    return target + QLatin1Char('\t') + type + QLatin1Char('\t') + QString::number(format) +
           QStringLiteral("\thex:") + QString::fromLatin1(bytes.toHex());
}

// Whether the process `pid` (not our child) has ended within `limit`: gone, or a zombie.
bool ends(qint64 pid, std::chrono::milliseconds limit) {
    return waitUntil(
        [&] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly)) {
                return true;
            }
            const QByteArray fields = stat.readAll();
            const auto close = fields.lastIndexOf(')');
            return close >= 0 && fields.mid(close + 2, 1) == "Z";
        },
        limit);
}

TEST(ClipboardAfterExit, TheKeeperServesTheSameTargetsAndBytesUntilSomethingElseIsCopied) {
    Desktop& desktop = Desktop::get();
    Keyboard keyboard;
    ASSERT_TRUE(keyboard.ready());
    TargetApp& app = *desktop.gtk;
    for (const bool quitButton : {false, true}) {
        SCOPED_TRACE(quitButton ? "Quit in the running window" : "SIGTERM");
        ClipboardOwner owner({
            line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"), 8,
                 QByteArray("kept\xc3\xa9", 6) + QByteArray(1, '\0')),
            line(QStringLiteral("text/html"), QStringLiteral("text/html"), 8,
                 QByteArray("\xff\xfe<\0b\0>\0", 8)),
            line(QStringLiteral("application/x-ravlin-note"), QStringLiteral("RAVLIN_NOTE_TYPE"),
                 8, "a note"),
        });
        ASSERT_TRUE(owner.owning());
        const QString before = readClipboardExactly();
        ASSERT_TRUE(before.contains(QStringLiteral("application/x-ravlin-note")))
            << before.toStdString();

        RavlinProgram program;
        program.writeSettings({{"DoubleTap.enabled", "false"}, {"QuickFix.enabled", "false"}});
        ASSERT_TRUE(program.start()) << program.errors().toStdString();
        ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"));
        const auto pid = static_cast<platform::ProcessID>(program.pid());
        // Where the desktop has no tray the settings window opens at start and takes the front
        // once: the target comes forward only after that.
        findInProgram(pid, "filler", u"Settings", 5s);

        // A Composer round over "end": the commit pastes through the clipboard and puts the
        // owner's contents back, which the program then serves.
        // (A target only just started may take a second request before its field has the
        // focus as the accessibility bus sees it.)
        bool focused = false;
        for (int attempt = 0; attempt < 3 && !focused; ++attempt) {
            focused = desktop.bringToFrontPersistently(app.pid()) &&
                      app.command(QStringLiteral("focus line")) &&
                      waitUntil([&] { return bool(desktop.focusedOf(app.pid())); }, 3s);
        }
        ASSERT_TRUE(focused);
        ASSERT_TRUE(app.command(QStringLiteral("text line start end")));
        ASSERT_TRUE(app.command(QStringLiteral("select 6 9")));
        // The Composer opens on the selection at the first press, is retyped once it shows it,
        // and commits once it shows the new text.
        const auto composerShows = [&](const auto& accepts) {
            return waitUntil([&] { return accepts(desktop.value(desktop.focusedOf(pid))); }, 5s);
        };
        const auto seeded = [](const std::u16string& value) { return value == u"end"; };
        ASSERT_TRUE(keyboard.chord("Super_L+e"));
        ASSERT_TRUE(composerShows(seeded)) << program.errors().toStdString();
        ASSERT_TRUE(keyboard.chord("Control_L+a"));
        ASSERT_TRUE(keyboard.type(u"fine"));
        ASSERT_TRUE(keyboard.waitForRelease());
        ASSERT_TRUE(composerShows([](const std::u16string& value) {
            return text::canonicallyEqual(text::lowercased(value), u"fine");
        }));
        ASSERT_TRUE(keyboard.tap("Return"));
        EXPECT_TRUE(waitUntil(
            [&] {
                const auto value = desktop.value(desktop.focusedOf(app.pid()));
                return value.starts_with(u"start ") && value != u"start end";
            },
            5s))
            << text::toUtf8(desktop.value(desktop.focusedOf(app.pid())));
        ASSERT_TRUE(waitUntil([&] { return owner.lost() && clipboardOwnerPid() == pid; }, 5s));
        // The commit is over (its put-back, the watch after it) before the program ends.
        pause(1500ms);

        if (quitButton) {
            const auto quit = findInProgram(pid, "push button", u"Quit");
            ASSERT_TRUE(quit) << "the running window (no tray here) offers no Quit button";
            ASSERT_TRUE(clickElement(quit));
            EXPECT_TRUE(waitUntil([&] { return !program.running(); }, 10s));
        }
        EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();

        const qint64 keeper = clipboardOwnerPid();
        EXPECT_NE(keeper, 0) << "the clipboard went with the program";
        EXPECT_NE(keeper, pid);
        EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString());

        ClipboardOwner taker({line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"),
                                   8, "newer")});
        ASSERT_TRUE(taker.owning());
        EXPECT_TRUE(ends(keeper, 1s)) << "the keeper lingers after another client copied";

    }
}

}  // namespace
}  // namespace ravlin::testing
