// Where Return in the Composer sends its text: only into the field the Composer was opened over,
// as it stands when the paste keys go out. Inside one window the keyboard moves by itself (a
// page's own prompt, a sign-in the browser asks for, a page that moves it to another input or to
// its password input, a file opened as a new tab of the editor), another program's window comes
// up right after Return, and a window manager that follows the pointer brings windows forward by
// their own rules. Each time nothing reaches any other field and the text is kept; and the
// Composer still has the keyboard back from an application that takes it by itself.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

#include "core/text/unicode.h"
#include "scenarios.h"
#include "tests/desktop/desktop_apps.h"

namespace ravlin::testing {
namespace {

using Kind = DesktopApplication::Kind;

class CommitPlace : public ComposerScenarios {
  protected:
    void SetUp() override {
        ComposerScenarios::SetUp();
        ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    }

    // The commits the log has seen end so far.
    std::size_t commitsEnded() { return commitEnds(shownLog(program)); }
    // The log's last line about a commit's end.
    std::string lastCommitEnd() {
        const std::string log = shownLog(program);
        std::string last;
        std::size_t from = 0;
        while (from < log.size()) {
            const auto end = log.find('\n', from);
            const std::string line = log.substr(from, end == std::string::npos ? end : end - from);
            if (line.find("state=commit") != std::string::npos &&
                line.find("state=committing") == std::string::npos) {
                last = line;
            }
            from = end == std::string::npos ? log.size() : end + 1;
        }
        return last;
    }

    // The Composer opened over the focused field of `pid` with "teh finish" typed into it (the
    // local rules make it "The finish").
    void composeOver(platform::ProcessID pid) {
        ASSERT_TRUE(desktop.focusedOf(pid));
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.type(u"teh finish"));
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"The finish"));
        ASSERT_TRUE(keyboard.waitForRelease());
    }

    // Return, as a person presses it after typing in the Composer: where the Composer still has
    // the keyboard, its commit, waited for to end; whether the Composer had it.
    bool returnInTheComposer(std::size_t& commits) {
        const bool composerHadIt = bool(desktop.focusedOf(programPid()));
        commits = commitsEnded();
        EXPECT_TRUE(keyboard.tap("Return"));
        if (composerHadIt) {
            EXPECT_TRUE(waitUntil([&] { return commitsEnded() > commits; }))
                << program.errors().toStdString();
        }
        return composerHadIt;
    }

    // The text is kept: the next opening over `pid`'s field shows it; emptied for the next round.
    void theTextWasKept(platform::ProcessID pid) {
        ASSERT_TRUE(desktop.focusedOf(pid));
        ASSERT_TRUE(openComposer());
        EXPECT_EQ(desktop.value(desktop.focusedOf(programPid())), u"The finish");
        ASSERT_TRUE(keyboard.chord("Control_L+a"));
        ASSERT_TRUE(keyboard.tap("BackSpace"));
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(pid));
    }
};

// Page e's title: its state and the lengths of its three fields' texts.
struct PageE {
    QString state;
    int area = -1;
    int other = -1;
    int secret = -1;
};
PageE pageE(const DesktopApplication& browser) {
    static const QRegularExpression form(
        QStringLiteral("^page e load \\d+ (.+) (\\d+) (\\d+) (\\d+)( [-\u2014] .*)?$"));
    const auto match = form.match(browser.windowTitle());
    if (!match.hasMatch()) {
        return {};
    }
    return {match.captured(1), match.captured(2).toInt(), match.captured(3).toInt(),
            match.captured(4).toInt()};
}

// What the page does by itself while the Composer is open over its text area.
enum class PageMove { prompt, signIn, otherInput, passwordInput };

const char* nameOf(PageMove move) {
    switch (move) {
        case PageMove::prompt:
            return "its own prompt";
        case PageMove::signIn:
            return "the browser's sign-in prompt";
        case PageMove::otherInput:
            return "another input";
        case PageMove::passwordInput:
            break;
    }
    return "its password input";
}

class PageMoves : public CommitPlace {
  protected:
    // One round on page e of `browser`: the page is set to make `move` 1.5 s later, the Composer
    // opened over the empty text area with a text typed into it, and Return pressed once the
    // page has made the move. Nothing of the Composer's reaches the page, the prompt or the
    // browser's sign-in, and the text is kept. Says what came of it.
    void round(DesktopApplication& browser, PageMove move) {
        SCOPED_TRACE(nameOf(move));
        // (as the page first stands)
        ASSERT_TRUE(browser.open('e'));
        if (pageE(browser).state != QStringLiteral("ready")) {
            ASSERT_TRUE(browser.reload());
        }
        ASSERT_TRUE(waitUntil([&] { return pageE(browser).state == QStringLiteral("ready"); }))
            << browser.windowTitle().toStdString();
        ASSERT_TRUE(browser.focus(QStringLiteral("area")));
        const char* key = move == PageMove::prompt       ? "Shift_L+F2"
                          : move == PageMove::signIn     ? "Shift_L+F3"
                          : move == PageMove::otherInput ? "Shift_L+F4"
                                                         : "Shift_L+F9";
        ASSERT_TRUE(keyboard.chord(key, 60ms));
        ASSERT_TRUE(waitUntil([&] { return pageE(browser).state == QStringLiteral("armed"); }))
            << browser.windowTitle().toStdString();
        composeOver(browser.pid());
        if (HasFatalFailure()) {
            return;
        }
        // The page's move, 1.5 s after its key.
        auto& accessibility = *desktop.seams.accessibility;
        const auto signInField = [&] {
            return findInProgramWhere(
                browser.pid(),
                [&](platform::ElementRef element) {
                    return platform::textAttribute(accessibility, element, ax::title) ==
                               u"Username" &&
                           platform::textAttribute(accessibility, element, ax::role) ==
                               u"AXTextField";
                },
                200ms);
        };
        platform::ElementRef promptField;
        ASSERT_TRUE(waitUntil([&] {
            if (move == PageMove::signIn) {
                return bool(promptField = signInField());
            }
            const auto state = pageE(browser).state;
            return move == PageMove::prompt ? state == QStringLiteral("prompting")
                                            : state == QStringLiteral("moved");
        })) << browser.windowTitle().toStdString();
        pause(300ms);  // (the browser's own focus handling follows the page's)
        std::size_t commits = 0;
        const bool composerHadIt = returnInTheComposer(commits);
        const std::string ended = composerHadIt ? lastCommitEnd() : std::string("(no commit)");
        // Nothing of the Composer's anywhere but where it was opened (and not there either: the
        // keyboard had left).
        pause(500ms);
        const auto page = pageE(browser);
        std::u16string prompted;
        if (move == PageMove::prompt) {
            // The prompt's entry has the keyboard; its answer tells what it held.
            prompted = desktop.value(desktop.focusedOf(browser.pid()));
            ASSERT_TRUE(keyboard.tap("Return"));
            EXPECT_TRUE(waitUntil([&] { return pageE(browser).state.startsWith(QStringLiteral("prompted")); }))
                << browser.windowTitle().toStdString();
            EXPECT_EQ(pageE(browser).state, QStringLiteral("prompted 0"));
        } else if (move == PageMove::signIn) {
            prompted = desktop.value(promptField);
            ASSERT_TRUE(keyboard.tap("Escape"));
            EXPECT_TRUE(waitUntil(
                [&] { return browser.windowTitle().startsWith(QStringLiteral("sign-in refused")); }))
                << browser.windowTitle().toStdString();
            ASSERT_TRUE(browser.open('e'));
        }
        const bool elsewhere = page.area != 0 || page.other != 0 || page.secret != 0 ||
                               !prompted.empty();
        std::printf("measure: %s, %s moved the keyboard: %s; %s\n", browser.name().c_str(),
                    nameOf(move),
                    !composerHadIt ? "the Composer had gone before Return"
                    : elsewhere    ? "the Composer's text went elsewhere"
                                   : "nothing went elsewhere",
                    ended.c_str());
        EXPECT_EQ(page.area, 0) << browser.windowTitle().toStdString();
        EXPECT_EQ(page.other, 0) << browser.windowTitle().toStdString();
        EXPECT_EQ(page.secret, 0) << browser.windowTitle().toStdString();
        EXPECT_EQ(text::toUtf8(prompted), "");
        if (composerHadIt) {
            EXPECT_NE(ended.find(move == PageMove::passwordInput
                                     ? "state=commit_failed reason=secure-input"
                                     : "state=commit_failed reason=keyboard-elsewhere"),
                      std::string::npos)
                << ended;
        }
        ASSERT_TRUE(browser.focus(QStringLiteral("area")));
        theTextWasKept(browser.pid());
    }
};

TEST_F(PageMoves, FirefoxsPromptsGetNothingOfTheComposer) {
    auto& firefox = DesktopApplication::get(Kind::firefoxOnSite);
    ASSERT_TRUE(firefox.ready());
    for (const auto move : {PageMove::prompt, PageMove::signIn}) {
        round(firefox, move);
    }
}

TEST_F(PageMoves, AnInputThePageMovesTheKeyboardToGetsNothing) {
    for (const auto kind : {Kind::firefoxOnSite, Kind::chromiumOnSite}) {
        auto& browser = DesktopApplication::get(kind);
        ASSERT_TRUE(browser.ready());
        round(browser, PageMove::otherInput);
    }
}

// Six times, the page loaded anew before each (Firefox puts new objects in its place).
TEST_F(PageMoves, APasswordInputThePageMovesTheKeyboardToGetsNothing) {
    auto& firefox = DesktopApplication::get(Kind::firefoxOnSite);
    ASSERT_TRUE(firefox.ready());
    for (int attempt = 0; attempt < 6; ++attempt) {
        SCOPED_TRACE("round " + std::to_string(attempt));
        ASSERT_TRUE(firefox.open('e'));
        ASSERT_TRUE(firefox.reload());
        round(firefox, PageMove::passwordInput);
    }
}

// Another file handed to the editor opens as a tab of its window and takes the keyboard a
// moment after the Composer opened over the first, before the person types there: the Composer
// does not take the keyboard back from it, and nothing of the Composer's reaches either
// document (what the person types then goes to the tab, as their keys do to whatever has the
// keyboard).
TEST_F(CommitPlace, AFileOpenedAsANewTabGetsNothingOfTheComposer) {
    StockEditor editor(QStringLiteral("Harbour lights"));
    ASSERT_TRUE(editor.ready());
    QTemporaryDir folder;
    const QString other = folder.path() + QStringLiteral("/other.txt");
    {
        QFile file(other);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("Far away") > 0);
    }
    const auto focusedText = [&] { return desktop.value(desktop.focusedOf(editor.pid())); };
    ASSERT_TRUE(waitUntil([&] { return focusedText() == u"Harbour lights"; }));
    const auto first = desktop.focusedOf(editor.pid());
    ASSERT_TRUE(openComposer());
    const auto takenBack = program.errorLines("by itself; taken back").size();
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("mousepad"), {other}));
    // The new tab has the keyboard: the Composer has gone, or took the keyboard back.
    EXPECT_TRUE(waitUntil([&] {
        return focusedText() == u"Far away" ||
               program.errorLines("by itself; taken back").size() > takenBack;
    })) << text::toUtf8(focusedText());
    pause(500ms);
    ASSERT_TRUE(keyboard.type(u"teh finish"));
    ASSERT_TRUE(keyboard.waitForRelease());
    std::size_t commits = 0;
    const bool composerHadIt = returnInTheComposer(commits);
    const auto tab = desktop.focusedOf(editor.pid());
    const bool pastedIntoTheTab = desktop.value(tab).find(u"The finish") != std::u16string::npos;
    std::printf("measure: a file opened as a new tab: taken back %zu times; %s; %s\n",
                program.errorLines("by itself; taken back").size() - takenBack,
                composerHadIt ? lastCommitEnd().c_str() : "the Composer had gone before Return",
                pastedIntoTheTab ? "the Composer's text went into the new tab"
                                 : "nothing of the Composer's went into the new tab");
    EXPECT_EQ(desktop.value(first), u"Harbour lights");
    EXPECT_FALSE(pastedIntoTheTab) << text::toUtf8(desktop.value(tab));
    // The new tab goes again, unsaved, and the first one has the keyboard again.
    ASSERT_TRUE(desktop.bringToFrontPersistently(editor.pid()));
    ASSERT_TRUE(keyboard.chord("Control_L+w"));
    if (!waitUntil([&] { return focusedText() == u"Harbour lights"; }, 2s)) {
        ASSERT_TRUE(keyboard.chord("Alt_L+d"));  // (mousepad asks about a changed tab: discard)
    }
    ASSERT_TRUE(waitUntil([&] { return focusedText() == u"Harbour lights"; }))
        << text::toUtf8(focusedText());
    if (composerHadIt) {
        theTextWasKept(editor.pid());
    }
}

// Another program's window with a password field comes up 20 to 100 ms after Return: nothing of
// the Composer's reaches it; the text arrives where the Composer was opened, or is kept.
TEST_F(CommitPlace, AnotherProgramsPasswordFieldThatComesUpAfterReturnGetsNothing) {
    auto& gtk = *desktop.gtk;
    auto& qt = *desktop.qt;
    ASSERT_TRUE(focus(qt, QStringLiteral("password")));
    ASSERT_TRUE(qt.command(QStringLiteral("text password secret")));
    int arrived = 0;
    int kept = 0;
    for (const auto after : {20ms, 30ms, 40ms, 50ms, 60ms, 70ms, 80ms, 90ms, 100ms}) {
        SCOPED_TRACE(std::to_string(after.count()) + " ms");
        ASSERT_TRUE(gtk.command(QStringLiteral("text line start")));
        ASSERT_TRUE(focus(gtk, QStringLiteral("line")));
        ASSERT_TRUE(gtk.command(QStringLiteral("select 5 5")));
        composeOver(gtk.pid());
        qt.forget();
        const auto commits = commitsEnded();
        ASSERT_TRUE(keyboard.key("Return", true));
        pause(after);
        ASSERT_TRUE(desktop.seams.workspace->activate(qt.pid()));
        pause(60ms);
        ASSERT_TRUE(keyboard.key("Return", false));
        EXPECT_TRUE(waitUntil([&] { return commitsEnded() > commits; }))
            << program.errors().toStdString();
        const auto took = qt.printedAfter(QStringLiteral("password: "));
        EXPECT_FALSE(took) << took->toStdString();
        const std::string ended = lastCommitEnd();
        const bool landed = fieldValue(gtk, QStringLiteral("line")) == u"startThe finish";
        std::printf("measure: a password field came up %lld ms after Return: %s; %s\n",
                    static_cast<long long>(after.count()),
                    took ? "it got the Composer's text"
                         : landed ? "the text arrived where the Composer was opened"
                                  : "nothing arrived",
                    ended.c_str());
        if (landed) {
            ++arrived;
            EXPECT_NE(ended.find("state=committed"), std::string::npos) << ended;
        } else {
            ++kept;
            EXPECT_EQ(fieldValue(gtk, QStringLiteral("line")), u"start");
            ASSERT_TRUE(focus(gtk, QStringLiteral("line")));
            ASSERT_TRUE(gtk.command(QStringLiteral("select 5 5")));
            theTextWasKept(gtk.pid());
        }
    }
    std::printf("measure: arrived %d, kept %d\n", arrived, kept);
}

// Under a window manager that gives the keyboard to the window the pointer is on, a window
// partly under another of its own application (the pointer on the part that shows): Return
// brings that very window forward and pastes there, nowhere else.
TEST_F(CommitPlace, AWindowPartlyUnderAnotherOfItsApplicationWhereTheKeyboardFollowsThePointer) {
    auto& gtk = *desktop.gtk;
    ASSERT_TRUE(gtk.command(QStringLiteral("text line start")));
    ASSERT_TRUE(focus(gtk, QStringLiteral("line")));
    ASSERT_TRUE(movePointerTo(1270, 1010));  // on no window
    const FocusFollowingThePointer following;
    ASSERT_TRUE(following.on);
    ASSERT_TRUE(gtk.command(QStringLiteral("second open")));
    ASSERT_TRUE(waitUntil([] { return activeWindowTitle() == QStringLiteral("gtk-target second"); }));
    gtk.forget();
    // The pointer onto the first window where the second leaves it showing.
    ASSERT_TRUE(movePointerTo(110, 360));
    ASSERT_TRUE(waitUntil([] { return activeWindowTitle() == QStringLiteral("gtk-target"); }));
    ASSERT_TRUE(gtk.command(QStringLiteral("focus line")));
    ASSERT_TRUE(gtk.command(QStringLiteral("select 5 5")));
    composeOver(gtk.pid());
    std::size_t commits = 0;
    ASSERT_TRUE(returnInTheComposer(commits));
    const std::string ended = lastCommitEnd();
    std::printf("measure: a window partly under another of its application: %s\n", ended.c_str());
    EXPECT_NE(ended.find("state=committed"), std::string::npos) << ended;
    EXPECT_EQ(fieldValue(gtk, QStringLiteral("line")), u"startThe finish");
    EXPECT_FALSE(gtk.printedAfter(QStringLiteral("second: ")));
    ASSERT_TRUE(gtk.command(QStringLiteral("second close")));
    ASSERT_TRUE(movePointerTo(1270, 1010));
}

}  // namespace
}  // namespace ravlin::testing
