// Write-back on the headless desktop: who took our text from the clipboard, and the paste judged
// by what changed in real applications' fields.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <future>

#include "app/target/paste_check.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

using platform::WriteFetch;
namespace keycode = platform::keycode;
namespace modifier = platform::modifier;

// The clipboard's text as `reader` (a connection of its own) fetches it.
std::optional<std::u16string> fetchedBy(platform::x11::Selections& reader) {
    std::promise<std::optional<std::u16string>> promise;
    auto answer = promise.get_future();
    reader.readText("CLIPBOARD", {}, [&](std::optional<std::u16string> text) {
        promise.set_value(std::move(text));
    });
    // The owner answers from its own thread; this one only waits.
    return answer.wait_for(3s) == std::future_status::ready ? answer.get() : std::nullopt;
}

// Only the target's own fetch says a paste took the text: another program's (a clipboard
// manager fetches every copy at once) does not, another connection of the target's process does.
TEST(FetchedBy, OnlyTheTargetsOwnClientsFetchCounts) {
    auto& desktop = Desktop::get();
    auto& pasteboard = *desktop.seams.pasteboard;
    const auto field = desktop.focus(*desktop.gtk, QStringLiteral("line"));
    ASSERT_TRUE(field);
    const platform::FetchTarget gtk{desktop.gtk->pid(), desktop.seams.workspace->frontmostWindow()};
    ASSERT_TRUE(gtk.window);
    const platform::FetchTarget self{static_cast<std::int32_t>(::getpid()), std::nullopt};
    const auto fetches = [&] {
        return std::pair(pasteboard.lastWriteFetchedBy(gtk), pasteboard.lastWriteFetchedBy(self));
    };

    pasteboard.clear();
    ASSERT_TRUE(pasteboard.setString(u"ours").ok());
    EXPECT_EQ(fetches(), std::pair(WriteFetch::none, WriteFetch::none));

    // Another program reads it, as a clipboard manager does.
    EXPECT_TRUE(readClipboardExactly().contains(QStringLiteral("UTF8_STRING")));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byOthers, WriteFetch::byOthers));

    // A second connection of this process: the same program.
    const auto second = platform::x11::Selections::open();
    ASSERT_TRUE(second);
    EXPECT_EQ(fetchedBy(*second), u"ours");
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byOthers, WriteFetch::byTarget));

    // The GTK target pastes it itself.
    const auto before = desktop.value(field);
    ASSERT_TRUE(desktop.seams.keySynthesis->postKeyPress({keycode::v, modifier::command}).ok());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) != before; }));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byTarget, WriteFetch::byTarget));

    // Our text gone from the clipboard: nobody has it.
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("copy theirs")));
    EXPECT_TRUE(waitUntil([&] { return fetches().first == WriteFetch::none; }));
    ASSERT_TRUE(desktop.seams.accessibility
                    ->setAttribute(field, platform::ax::value,
                                   platform::AttributeValue(std::u16string(
                                       u"h\u00e9llo \U0001F600 w\u00f6rld teh")))
                    .ok());
}

QCoro::Task<> keepOutcome(QCoro::Task<QNPasteOutcome> task,
                          std::shared_ptr<std::optional<QNPasteOutcome>> into) {
    *into = co_await std::move(task);
}

// The Composer's paste of `text` into the application in front, run to its end (at most 10 s).
std::optional<QNPasteOutcome> commit(const std::u16string& text,
                                     std::shared_ptr<QNQuickFixPasteboardManager> manager) {
    auto& desktop = Desktop::get();
    const auto target = desktop.seams.workspace->frontmostApplication();
    if (!target) {
        return std::nullopt;
    }
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor, manager);
    auto result = std::make_shared<std::optional<QNPasteOutcome>>();
    auto running = keepOutcome(QNModelPasteboardSnapshot::paste(seams, text, *target, {}), result);
    waitUntil([&] { return result->has_value(); }, 10s);
    return *result;
}

// The user's clipboard, copied in another program (the Qt target).
void userCopies(const QString& text) {
    auto& desktop = Desktop::get();
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("copy ") + text));
    ASSERT_TRUE(waitUntil([&] {
        return desktop.seams.pasteboard->string() == std::optional(text.toStdU16String());
    }));
}

// Keys by their virtual codes (the ANSI layout's positions).
constexpr std::uint32_t virtualKeyD = 2;
constexpr std::uint32_t virtualKeyN = 45;

// How often `part` stands in `text`.
std::size_t occurrences(std::u16string_view text, std::u16string_view part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::u16string_view::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// A Composer text pasted into fields that shape it: arrived once where the field shows all of it
// in its own shape (never to be pasted again), in part where the field took no more; the user's
// clipboard back either way.
TEST(WriteBack, APasteIsJudgedByWhatTheFieldMadeOfIt) {
    auto& desktop = Desktop::get();
    auto& gtk = *desktop.gtk;
    auto manager = QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
    struct Case {
        const char* name;
        QString field;
        QString setUp;  // a command to the GTK target
        std::u16string text;
        QNPasteOutcome outcome;
        std::u16string after;
    };
    const std::u16string twoLines = u"Line one.\nLine two.";
    for (const Case& c : {
             Case{"curly quotes and indented lines", QStringLiteral("area"),
                  QStringLiteral("shaping on"), u"He said \"it's\" done.\nNext line.",
                  {}, u"Say:He said \u201cit\u2019s\u201d done.\n    Next line."},
             Case{"a single line", QStringLiteral("line"), QStringLiteral("maxlength 0"), twoLines,
                  {}, {}},
             Case{"a length limit", QStringLiteral("line"), QStringLiteral("maxlength 15"),
                  twoLines, {QNPasteResult::pastedInPart, "paste-cut-short"}, u"Say:Line one.\nL"},
         }) {
        SCOPED_TRACE(c.name);
        userCopies(QStringLiteral("the user's own"));
        ASSERT_TRUE(desktop.focus(gtk, c.field));
        ASSERT_TRUE(gtk.command(c.setUp));
        ASSERT_TRUE(gtk.command(QStringLiteral("text ") + c.field + QStringLiteral(" Say:")));
        ASSERT_TRUE(gtk.command(QStringLiteral("select 4 4")));
        const auto field = desktop.focusedOf(gtk.pid());
        EXPECT_EQ(commit(c.text, manager), std::optional(c.outcome));
        const auto value = desktop.value(field);
        if (!c.after.empty()) {
            EXPECT_EQ(value, c.after);
        } else {
            EXPECT_EQ(pastedText(u"Say:", {4, 0}, value, c.text), QNPastedText::arrived)
                << text::toUtf8(value);
        }
        EXPECT_EQ(occurrences(value, u"Line one"), c.text == twoLines ? 1u : 0u);
        EXPECT_EQ(desktop.seams.pasteboard->string(), u"the user's own");
        EXPECT_FALSE(manager->hasPendingRestore());
        // The target as the suite knows it.
        ASSERT_TRUE(gtk.command(QStringLiteral("shaping off")));
        ASSERT_TRUE(gtk.command(QStringLiteral("maxlength 0")));
        ASSERT_TRUE(gtk.command(QStringLiteral("text line h\u00e9llo \U0001F600 w\u00f6rld teh")));
        ASSERT_TRUE(
            gtk.command(QStringLiteral("text area line one \U0001F600\\nsecond l\u00edne teh")));
    }
}

// A terminal emulator running `cat > FILE`: what reaches the terminal as input is what cat
// writes to the file once a line ends or Ctrl+D flushes it.
class CatTerminal {
  public:
    CatTerminal(const QString& program, QStringList options) {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        options << QStringLiteral("-e") << QStringLiteral("sh") << QStringLiteral("-c")
                << QStringLiteral("exec cat > '%1'").arg(file());
        process_.start(program, options);
        if (process_.waitForStarted(10000)) {
            pid_ = static_cast<platform::ProcessID>(process_.processId());
            ready_ = waitUntil([&] { return Desktop::get().bringToFrontPersistently(pid_); }, 20s);
        }
    }
    ~CatTerminal() { endChild(); }
    CatTerminal(const CatTerminal&) = delete;
    CatTerminal& operator=(const CatTerminal&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    // What cat wrote, after Ctrl+D twice (the line, then the end).
    QByteArray flushed() {
        auto& keys = *Desktop::get().seams.keySynthesis;
        for (int i = 0; i < 2; ++i) {
            (void)keys.postKeyPress({virtualKeyD, platform::modifier::command});  // Ctrl+D
            waitUntil([] { return false; }, 150ms);
        }
        waitUntil([&] { return process_.state() == QProcess::NotRunning; }, 3s);
        QFile out(file());
        return out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray("<no file>");
    }

  private:
    [[nodiscard]] QString file() const { return folder_.path() + QStringLiteral("/typed.txt"); }
    void endChild() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000)) {
                process_.kill();
                process_.waitForFinished(3000);
            }
        }
    }

    QTemporaryDir folder_;
    QProcess process_;
    platform::ProcessID pid_ = 0;
    bool ready_ = false;
};

// With a clipboard manager running (it fetches every copy at once): a terminal in the table takes
// the text with its own chord and is seen to take it; one outside the table gets Ctrl+V, takes
// nothing, and nothing is claimed: the text waits on the clipboard, no chord named; a terminal
// whose paste guard may hold a text with line breaks is told as sent, not as arrived.
TEST(WriteBack, TerminalsWithAClipboardManagerRunning) {
    auto& desktop = Desktop::get();
    QProcess manager;
    manager.setStandardOutputFile(QProcess::nullDevice());
    manager.setStandardErrorFile(QProcess::nullDevice());
    manager.start(QStringLiteral("parcellite"), {QStringLiteral("-n")});
    ASSERT_TRUE(manager.waitForStarted(10000));
    waitUntil([] { return false; }, 1500ms);  // up and watching the clipboard
    struct Case {
        const char* name;
        QString program;
        QStringList options;
        std::u16string text;
        QNPasteOutcome outcome;
        QByteArray written;  // what reached the program in the terminal
    };
    for (const Case& c : {
             Case{"st, in the table", QStringLiteral("stterm"), {}, u"echo one", {}, "echo one"},
             Case{"xterm under a class outside the table", QStringLiteral("xterm"),
                  {QStringLiteral("-class"), QStringLiteral("Unlisted")}, u"echo one",
                  {QNPasteResult::leftOnClipboard, "paste-not-fetched", ""}, {}},
             Case{"rxvt-unicode, whose guard asks before line breaks", QStringLiteral("urxvt"), {},
                  u"echo one\necho two", {QNPasteResult::sentUnconfirmed, "arrival-unconfirmed"},
                  {}},
         }) {
        SCOPED_TRACE(c.name);
        userCopies(QStringLiteral("the user's own"));
        auto restorer =
            QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
        CatTerminal terminal(c.program, c.options);
        ASSERT_TRUE(terminal.ready());
        EXPECT_EQ(commit(c.text, restorer), std::optional(c.outcome));
        const bool left = c.outcome.result == QNPasteResult::leftOnClipboard;
        EXPECT_EQ(desktop.seams.pasteboard->string(),
                  left ? std::optional(c.text) : u"the user's own");
        EXPECT_EQ(restorer->hasPendingRestore(), left);
        // Declined at the guard's question: nothing arrives (the text is still the draft).
        if (c.outcome.result == QNPasteResult::sentUnconfirmed) {
            (void)desktop.seams.keySynthesis->postKeyPress({virtualKeyN, 0});
        }
        if (!c.written.isEmpty()) {
            EXPECT_EQ(terminal.flushed(), c.written);
        }
    }
    manager.terminate();
    EXPECT_TRUE(manager.waitForFinished(3000));
}

}  // namespace
}  // namespace ravlin::testing
