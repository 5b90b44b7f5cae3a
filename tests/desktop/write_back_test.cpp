// Write-back on the headless desktop: who took our text from the clipboard, and the paste judged
// by what changed in real applications' fields.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>
#include <signal.h>
#include <unistd.h>

#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/target/focus_snapshot.h"
#include "app/target/paste_check.h"
#include "app/target/quick_fix_host.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/text/unicode.h"
#include "desktop_apps.h"
#include "desktop_fixture.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

using platform::WriteFetch;
namespace keycode = platform::keycode;
namespace modifier = platform::modifier;

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

    // (Connected first: a client connecting once another has gone may be given its ids, and
    // a window of the same id that asked already is taken for the same client.)
    const auto second = platform::x11::Selections::open();
    ASSERT_TRUE(second);
    pasteboard.clear();
    ASSERT_TRUE(pasteboard.setString(u"ours").ok());
    EXPECT_EQ(fetches(), std::pair(WriteFetch::none, WriteFetch::none));

    // Another program reads it, as a clipboard manager does.
    EXPECT_TRUE(readClipboardExactly().contains(QStringLiteral("UTF8_STRING")));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byOthers, WriteFetch::byOthers));

    // A second connection of this process: the same program.
    EXPECT_EQ(clipboardTextThrough(*second), u"ours");
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byOthers, WriteFetch::byTarget));

    // The GTK target pastes it itself.
    const auto before = desktop.value(field);
    ASSERT_TRUE(desktop.seams.keySynthesis->postKeyPress({keycode::v, modifier::command}).ok());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) != before; }));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byTarget, WriteFetch::byTarget));

    // Our text gone from the clipboard: who took it while it was ours is still known (a paste
    // fetches from the owner of the moment), until we write again.
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("copy theirs")));
    EXPECT_TRUE(waitUntil([&] { return readString(pasteboard) == u"theirs"; }));
    EXPECT_EQ(fetches(), std::pair(WriteFetch::byTarget, WriteFetch::byTarget));
    ASSERT_TRUE(pasteboard.setString(u"ours again").ok());
    EXPECT_EQ(fetches(), std::pair(WriteFetch::none, WriteFetch::none));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("copy theirs")));
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

QCoro::Task<> keepSnapshot(QCoro::Task<QNModelFocusSnapshot> task,
                           std::shared_ptr<std::optional<QNModelFocusSnapshot>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keepSession(QCoro::Task<std::optional<QNQuickFixHostSession>> task,
                          std::shared_ptr<std::optional<QNQuickFixHostSession>> into,
                          std::shared_ptr<bool> done) {
    *into = co_await std::move(task);
    *done = true;
}

QCoro::Task<> keepCommit(QCoro::Task<QNQuickFixCommitResult> task,
                         std::shared_ptr<std::optional<QNQuickFixCommitResult>> into) {
    *into = co_await std::move(task);
}

// A Quick Fix's capture of the application in front: its focus snapshot, then (after
// `beforeSession`) the host's session (none when it refused), each run to its end.
std::optional<QNQuickFixHostSession> quickFixCapture(
    const TargetSeams& seams, const std::shared_ptr<QNQuickFixHostDriver>& driver,
    const std::function<void()>& beforeSession = {}) {
    auto snapshot = std::make_shared<std::optional<QNModelFocusSnapshot>>();
    auto capturing = keepSnapshot(QNModelFocusSnapshot::capture(seams, {}), snapshot);
    waitUntil([&] { return snapshot->has_value(); }, 10s);
    EXPECT_TRUE(snapshot->has_value());
    if (!snapshot->has_value()) {
        return std::nullopt;
    }
    if (beforeSession) {
        beforeSession();
    }
    auto session = std::make_shared<std::optional<QNQuickFixHostSession>>();
    auto done = std::make_shared<bool>(false);
    auto beginning =
        keepSession(QNServiceQuickFixHost::beginSession(**snapshot, driver, {}), session, done);
    waitUntil([&] { return *done; }, 10s);
    EXPECT_TRUE(*done);
    return *session;
}

std::optional<QNQuickFixCommitResult> quickFixCommit(
    const QNQuickFixHostSession& session, std::u16string corrected,
    const std::shared_ptr<QNQuickFixHostDriver>& driver,
    std::shared_ptr<QNQuickFixPasteboardManager> manager) {
    auto result = std::make_shared<std::optional<QNQuickFixCommitResult>>();
    auto committing = keepCommit(
        QNServiceQuickFixHost::commit(session, std::move(corrected), driver, std::move(manager), {}),
        result);
    waitUntil([&] { return result->has_value(); }, 10s);
    return *result;
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
        return readString(*desktop.seams.pasteboard) == std::optional(text.toStdU16String());
    }));
}

// Keys by their virtual codes (the ANSI layout's positions).
constexpr std::uint32_t virtualKeyN = 45;
constexpr std::uint32_t virtualKeyX = 7;
constexpr std::uint32_t virtualKeyDown = 125;
constexpr std::uint32_t virtualKeyHome = 115;

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
        EXPECT_EQ(readString(*desktop.seams.pasteboard), u"the user's own");
        EXPECT_FALSE(manager->hasPendingRestore());
        // The target as the suite knows it.
        ASSERT_TRUE(gtk.command(QStringLiteral("shaping off")));
        ASSERT_TRUE(gtk.command(QStringLiteral("maxlength 0")));
        ASSERT_TRUE(gtk.command(QStringLiteral("text line h\u00e9llo \U0001F600 w\u00f6rld teh")));
        ASSERT_TRUE(
            gtk.command(QStringLiteral("text area line one \U0001F600\\nsecond l\u00edne teh")));
    }
}

// With a clipboard manager running (it fetches every copy at once): a terminal in the table takes
// the text with its own chord and is seen to take it; one outside the table gets Ctrl+V, takes
// nothing, and nothing is claimed: the text waits on the clipboard, no chord named; a terminal
// whose paste guard may hold a text with line breaks is told as sent (in its hands), not as
// arrived.
TEST(WriteBack, TerminalsWithAClipboardManagerRunning) {
    auto& desktop = Desktop::get();
    QProcess manager;
    manager.setStandardOutputFile(QProcess::nullDevice());
    manager.setStandardErrorFile(QProcess::nullDevice());
    manager.start(QStringLiteral("parcellite"), {QStringLiteral("-n")});
    ASSERT_TRUE(manager.waitForStarted(10000));
    ASSERT_TRUE(clipboardManagerWatches());
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
             Case{"mlterm, from the text last selected", QStringLiteral("mlterm"), {},
                  u"echo one", {}, "echo one"},
             Case{"xterm under a class outside the table", QStringLiteral("xterm"),
                  {QStringLiteral("-class"), QStringLiteral("Unlisted")}, u"echo one",
                  {QNPasteResult::leftOnClipboard, "paste-not-fetched", ""}, {}},
             Case{"rxvt-unicode, whose guard asks before line breaks", QStringLiteral("urxvt"), {},
                  u"echo one\necho two",
                  {QNPasteResult::sentUnconfirmed, "arrival-unconfirmed", "", true}, {}},
         }) {
        SCOPED_TRACE(c.name);
        userCopies(QStringLiteral("the user's own"));
        auto restorer =
            QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
        CatTerminal terminal(c.program, c.options, QStringLiteral("-e"));
        ASSERT_TRUE(terminal.ready());
        EXPECT_EQ(commit(c.text, restorer), std::optional(c.outcome));
        const bool left = c.outcome.result == QNPasteResult::leftOnClipboard;
        EXPECT_EQ(readString(*desktop.seams.pasteboard),
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

// --- Applications people use

using Kind = DesktopApplication::Kind;

bool press(std::uint32_t key, std::uint32_t modifiers = 0) {
    const bool sent = Desktop::get().seams.keySynthesis->postKeyPress({key, modifiers}).ok();
    waitUntil([] { return false; }, 120ms);  // as a person's next key
    return sent;
}

// The whole document of the application in front, as it copies it (Ctrl+A, Ctrl+C): what the
// person sees, whatever its accessibility shows. The selection is left covering it. A busy
// application copies late, after every key sent before: its copy is waited for, bounded only
// against a hang.
std::optional<std::u16string> documentText() {
    auto& pasteboard = *Desktop::get().seams.pasteboard;
    const auto before = pasteboard.changeCount();
    if (!press(platform::keycode::a, modifier::command) ||
        !press(platform::keycode::c, modifier::command) ||
        !waitUntil([&] { return pasteboard.changeCount() != before; })) {
        return std::nullopt;
    }
    return readString(pasteboard);
}

// The document replaced by `text` with the keys a person uses (all selected, pasted over; again
// where an application just brought forward missed the first keys), then the caret put on the
// start of its second line, nothing selected. The application takes the keys in order: the copy
// after the paste shows what the paste made.
bool typeDocument(DesktopApplication& app, const std::u16string& text) {
    auto& desktop = Desktop::get();
    if (!desktop.bringToFrontPersistently(app.pid())) {
        return false;
    }
    std::optional<std::u16string> copied;
    for (int attempt = 0; attempt < 3 && copied != text; ++attempt) {
        if (!desktop.seams.pasteboard->setString(text).ok() ||
            !press(platform::keycode::a, modifier::command) ||
            !press(platform::keycode::v, modifier::command)) {
            return false;
        }
        copied = documentText();
    }
    if (copied != text) {
        std::fprintf(stderr, "%s: the document copies as \"%s\"\n", app.name().c_str(),
                     text::toUtf8(copied.value_or(u"<nothing>")).c_str());
        return false;
    }
    return press(virtualKeyHome, modifier::command) && press(virtualKeyDown);
}

// Quick Fix over a three-line document with nothing selected, and over a text with nothing to
// correct: the fix appears once, or the document is left as it was (the heads-up says why); and
// whatever the capture selected to copy, and whatever the write did to the caret, caret and
// selection are as they were afterwards (beside the same words), so the next key the person
// types goes where it would have.
TEST(WriteBackInApplications, QuickFixIsExactOrLeavesTheDocumentAsItWas) {
    auto& desktop = Desktop::get();
    const std::u16string document = u"first line\nteh second line\nthird line";
    const std::u16string fixed = u"first line\nthe second line\nthird line";
    for (const Kind kind : {Kind::kwrite, Kind::writer, Kind::textEditor, Kind::chromium}) {
        auto& app = DesktopApplication::get(kind);
        for (const bool nothingToFix : {false, true}) {
            SCOPED_TRACE(app.name() + (nothingToFix ? ", nothing to fix" : ", a typo"));
            ASSERT_TRUE(app.ready());
            const std::u16string before = kind == Kind::chromium
                                              ? (nothingToFix ? u"all good" : u"teh line")
                                              : (nothingToFix ? fixed : document);
            if (kind == Kind::chromium) {
                ASSERT_TRUE(app.prepare(
                    before, {static_cast<std::int64_t>(before.size()), 0}, QStringLiteral("line")));
            } else {
                ASSERT_TRUE(typeDocument(app, before));
            }
            auto manager =
                QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
            const auto seams = TargetSeams::from(desktop.seams, desktop.executor, manager);
            const std::shared_ptr<QNQuickFixHostDriver> driver =
                std::make_shared<QNQuickFixHostLiveDriver>(seams);
            const auto session = quickFixCapture(seams, driver);
            std::optional<QNQuickFixCommitResult> result;
            if (session && !nothingToFix) {
                std::u16string corrected = session->originalText;
                for (auto at = corrected.find(u"teh"); at != std::u16string::npos;
                     at = corrected.find(u"teh")) {
                    corrected.replace(at, 3, u"the");
                }
                result = quickFixCommit(*session, corrected, driver, manager);
                ASSERT_TRUE(result);
                EXPECT_NE(result->kind, QNQuickFixCommitResult::Kind::pasteOnClipboard)
                    << toString(*result);
            }
            std::printf("measure: %s quick fix %s: capture %s, %s\n", app.name().c_str(),
                        nothingToFix ? "nothing to fix" : "a typo",
                        session ? std::string(toString(session->captureMethod)).c_str() : "none",
                        result ? toString(*result).c_str() : "no write");
            // The next key lands where the caret was, replacing nothing.
            ASSERT_TRUE(press(virtualKeyX));
            const auto after = kind == Kind::chromium
                                   ? std::optional(desktop.value(desktop.focusedOf(app.pid())))
                                   : documentText();
            ASSERT_TRUE(after);
            const bool written = result && result->kind == QNQuickFixCommitResult::Kind::committed;
            std::u16string expected = written ? (kind == Kind::chromium ? u"the line" : fixed)
                                              : before;
            expected.insert(kind == Kind::chromium ? expected.size() : 11, u"x");
            EXPECT_EQ(*after, expected) << text::toUtf8(*after);
        }
    }
}

// A Qt rich text field with a bold word: Quick Fix types each change over alone, and the word
// stays bold; nothing else of the field changes.
TEST(WriteBackInApplications, QuickFixKeepsAQtRichTextsBold) {
    auto& desktop = Desktop::get();
    auto& qt = *desktop.qt;
    ASSERT_TRUE(desktop.focus(qt, QStringLiteral("rich")));
    ASSERT_TRUE(qt.command(QStringLiteral("text rich We will <b>recieve</b> teh parcel.")));
    ASSERT_TRUE(qt.command(QStringLiteral("select 27 27")));
    auto manager = QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor, manager);
    const std::shared_ptr<QNQuickFixHostDriver> driver =
        std::make_shared<QNQuickFixHostLiveDriver>(seams);
    const auto session = quickFixCapture(seams, driver);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->strategy, QNQuickFixReplacementStrategy::changedText({0, 27}));
    qt.forget();
    const auto result = quickFixCommit(*session, u"We will receive the parcel.", driver, manager);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, QNQuickFixCommitResult::committed(QNQuickFixReplacementMethod::typed))
        << toString(*result);
    EXPECT_TRUE(waitUntil(
        [&] { return qt.printed(QStringLiteral("rich: We will *receive* the parcel.")); }));
    EXPECT_EQ(desktop.value(desktop.focusedOf(qt.pid())), u"We will receive the parcel.");
}

// Chromium's page processes (its renderers) under the browser `browser`, found by their parents.
std::vector<pid_t> pageProcesses(pid_t browser) {
    const auto read = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const auto parentOf = [&](pid_t pid) -> pid_t {
        const auto stat = read("/proc/" + std::to_string(pid) + "/stat");
        const auto after = stat.rfind(')');
        int parent = 0;
        return after != std::string::npos &&
                       std::sscanf(stat.c_str() + after + 1, " %*c %d", &parent) == 1
                   ? parent
                   : 0;
    };
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (read("/proc/" + name + "/cmdline").find("--type=renderer") == std::string::npos) {
            continue;
        }
        for (pid_t up = parentOf(pid), depth = 0; up > 1 && depth < 8; up = parentOf(up), ++depth) {
            if (up == browser) {
                found.push_back(pid);
                break;
            }
        }
    }
    return found;
}

// Chromium's page held up for `span` as a machine under load holds it up: its processes stopped,
// the browser still answering on the accessibility bus from what it last heard, keys queued for
// the page. Going on again after `span`, or at the end of this object at the latest.
struct PageHeldUp {
    std::vector<pid_t> processes;
    PageHeldUp(pid_t browser, std::chrono::milliseconds span) : processes(pageProcesses(browser)) {
        for (const pid_t pid : processes) {
            ::kill(pid, SIGSTOP);
        }
        QTimer::singleShot(span, [processes = processes] { resume(processes); });
    }
    ~PageHeldUp() { resume(processes); }
    PageHeldUp(const PageHeldUp&) = delete;
    PageHeldUp& operator=(const PageHeldUp&) = delete;
    static void resume(const std::vector<pid_t>& processes) {
        for (const pid_t pid : processes) {
            ::kill(pid, SIGCONT);
        }
    }
};

// Quick Fix over text with nothing to fix on a page too busy to show Ctrl+A's select-all at once
// (held up as the capture begins: 1.5 s, longer than the capture waits for it, and 400 ms): the
// capture waits for it, and caret and selection are back as they were before the flow ends, so
// the next key goes where the caret was instead of replacing the field.
TEST(WriteBackInApplications, QuickFixOnABusyPageLeavesNothingSelected) {
    auto& desktop = Desktop::get();
    auto& app = DesktopApplication::get(Kind::chromium);
    ASSERT_TRUE(app.ready());
    auto manager = QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor, manager);
    const std::shared_ptr<QNQuickFixHostDriver> driver =
        std::make_shared<QNQuickFixHostLiveDriver>(seams);
    // The longer first: its capture copies nothing, so no watch for a late copy of "all good"
    // is left to take the next field's text off the clipboard.
    for (const auto busy : {1500ms, 400ms}) {
        SCOPED_TRACE(busy.count());
        const std::u16string before = u"all good";
        ASSERT_TRUE(app.prepare(before, {4, 0}, QStringLiteral("line")));
        std::optional<PageHeldUp> held;
        const auto session = quickFixCapture(seams, driver, [&] { held.emplace(app.pid(), busy); });
        ASSERT_TRUE(held && !held->processes.empty());
        std::printf("measure: %s quick fix on a page busy %lld ms: capture %s\n",
                    app.name().c_str(), static_cast<long long>(busy.count()),
                    session ? std::string(toString(session->captureMethod)).c_str() : "none");
        EXPECT_EQ(session.has_value(), busy < 1s) << "the select-all is waited for, for a while";
        ASSERT_TRUE(press(virtualKeyX));
        const auto field = desktop.focusedOf(app.pid());
        waitUntil([&] { return desktop.value(field) != before; }, 2s);
        EXPECT_EQ(desktop.value(field), u"all xgood");
    }
}

}  // namespace
}  // namespace ravlin::testing
