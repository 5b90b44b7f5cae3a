// Commits into the VTE terminals people run most, Tilix and GNOME Terminal, each running cat:
// Tilix reads the clipboard twice for one paste (a look, then the paste), and GNOME Terminal's
// window belongs to a server started over the session bus, which takes the keyboard's focus a
// moment after the window manager names its window active, and forgets what the clipboard offers
// at each change until it has asked again. What cat writes is what the paste gave the terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e_harness.h"
#include "scenarios.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/support/clipboard_tool.h"
#include "tests/support/watchdog.h"

namespace ravlin::testing {
namespace {

struct TerminalProgram {
    const char* name;
    QString program;
    QStringList options;
    QString execute;
    bool asOneLine;
    QString serverClass;
};

const std::vector<TerminalProgram>& terminalPrograms() {
    static const std::vector<TerminalProgram> programs{
        {"tilix", QStringLiteral("tilix"), {}, QStringLiteral("-e"), true, {}},
        {"gnome-terminal", QStringLiteral("gnome-terminal"), {QStringLiteral("--wait")},
         QStringLiteral("--"), false, QStringLiteral("gnome-terminal-server")},
    };
    return programs;
}

constexpr const char* kWords[] = {"one", "two",  "three", "four", "five", "six",  "seven",
                                  "eight", "nine", "ten",  "eleven", "twelve", "thirteen"};

// The session log's lines that end a commit, in order, without their session identifiers.
std::vector<std::string> commitEnds(const std::string& log) {
    std::vector<std::string> ends;
    std::size_t at = 0;
    while (at < log.size()) {
        auto end = log.find('\n', at);
        if (end == std::string::npos) {
            end = log.size();
        }
        const std::string line = log.substr(at, end - at);
        at = end + 1;
        for (const char* state : {"state=committed ", "state=commit_failed ", "state=commit_sent ",
                                  "state=commit_partial "}) {
            if (const auto found = line.find(state); found != std::string::npos) {
                ends.push_back(line.substr(found));
            }
        }
    }
    return ends;
}

class TerminalScenarios : public ComposerScenarios {
  protected:
    bool terminalInFront(const CatTerminal& terminal) {
        return waitUntil(
            [&] {
                const auto front = desktop.seams.workspace->frontmostApplication();
                return front && front->pid == terminal.pid();
            },
            kSettle);
    }

    // Types `lines` into a new Composer (Shift+Return between them; over a draft kept from a
    // commit that did not paste) and waits until it holds them.
    bool compose(const std::vector<std::u16string>& lines) {
        if (!openComposer() || !keyboard.chord("Control_L+a")) {
            return false;
        }
        std::u16string all;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i > 0) {
                if (!keyboard.chord("Shift_L+Return")) {
                    return false;
                }
                all += u'\n';
            }
            if (!keyboard.type(lines[i])) {
                return false;
            }
            all += lines[i];
        }
        return keyboard.waitForRelease() && focusedValueBecomes(programPid(), all);
    }

    void commitThirteenOverAnOlderClipboard(const TerminalProgram& terminalProgram);

    // Ends the terminal's line (cat writes it) as a person does, once the terminal has the
    // keyboard and after a look at the line, and waits until what cat has written in all is
    // `done`; what it wrote. (The look also gives a paste that went to the terminal, its text
    // on its way from the clipboard's owner, its moment: nothing outside the terminal tells
    // when that text is in its line.)
    QByteArray endLine(const CatTerminal& terminal,
                       const std::function<bool(const QByteArray&)>& done) {
        EXPECT_TRUE(waitUntil([&] { return keyboardIn(terminal.pid()); }));
        pause(300ms);
        EXPECT_TRUE(keyboard.tap("Return"));
        QByteArray written;
        waitUntil([&] {
            written = terminal.written();
            return done(written);
        });
        return written;
    }
};

// Ten one-line and three two-line commits into the terminal over an older two-line clipboard:
// cat never writes the older clipboard; each text arrives exactly once, and the log says
// committed for a one-line text (the terminal's own client took it) and sent for a two-line
// one (a terminal may hold a paste with a line break to ask the person). GNOME Terminal takes a
// chord for nothing until it has asked what the clipboard's new contents offer: the chord waits
// for that.
void TerminalScenarios::commitThirteenOverAnOlderClipboard(const TerminalProgram& terminalProgram) {
    ASSERT_TRUE(openLog(program));  // it records while it is open
    const QByteArray older = "older first line\nolder second line";
    ClipboardOwner olderClipboard(plainTextOffer(older));
    ASSERT_TRUE(olderClipboard.owning());
    CatTerminal terminal(terminalProgram.program, terminalProgram.options, terminalProgram.execute,
                         terminalProgram.asOneLine, terminalProgram.serverClass);
    ASSERT_TRUE(terminal.ready());
    QByteArray expected;
    std::vector<bool> arrivals;
    int olderPasted = 0;
    for (int commit = 0; commit < 13; ++commit) {
        SCOPED_TRACE(commit);
        const std::u16string word = text::toUtf16(kWords[commit]);
        const bool twoLines = commit == 4 || commit == 9 || commit == 12;
        const std::vector<std::u16string> lines =
            twoLines ? std::vector<std::u16string>{u"Top " + word + u" line.",
                                                   u"Bottom " + word + u" line."}
                     : std::vector<std::u16string>{u"Line " + word + u" here."};
        std::u16string text;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            text += (i > 0 ? u"\n" : u"") + lines[i];
        }
        const QByteArray utf8 = QByteArray::fromStdString(text::toUtf8(text));
        ASSERT_TRUE(compose(lines));
        const ClipboardWatch hands;
        ASSERT_TRUE(keyboard.chord("Return"));
        // Over once the older text is back (our text, then the older one: two changes of hands).
        EXPECT_TRUE(waitUntil(
            [&] {
                return hands.changes() >= 2 &&
                       readClipboard()[QStringLiteral("text/plain")] == older;
            },
            kSettle))
            << program.errors().toStdString();
        EXPECT_TRUE(terminalInFront(terminal));
        const QByteArray before = expected;
        const QByteArray written = endLine(terminal, [&](const QByteArray& now) {
            return now.size() > before.size() && now.endsWith('\n');
        });
        const QByteArray got = written.mid(before.size());
        arrivals.push_back(got == utf8 + '\n');
        olderPasted += got.contains("older");
        EXPECT_EQ(got, utf8 + '\n');
        expected = written;
        // (Line by line: a person's pause before the next Composer.)
        pause(300ms);
    }
    ASSERT_TRUE(keyboard.chord("Control_L+d"));  // the line is empty: cat ends
    EXPECT_TRUE(terminal.ends(kSettle));
    EXPECT_EQ(olderPasted, 0);
    std::printf("note: %s: 13 commits over a two-line clipboard: arrived %d, older clipboard "
                "pasted %d\n",
                terminalProgram.name,
                static_cast<int>(std::ranges::count(arrivals, true)), olderPasted);
    const std::string log = sessionLog(program);
    const auto ends = commitEnds(log);
    ASSERT_EQ(ends.size(), 13u) << log;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        const bool twoLines = i == 4 || i == 9 || i == 12;
        const char* said = twoLines ? "state=commit_sent method=paste reason=arrival-unconfirmed "
                                      "pasteboard_restore=success"
                                    : "state=committed method=paste pasteboard_restore=success";
        EXPECT_EQ(ends[i], said) << i << "\n" << log;
    }
}

TEST_F(TerminalScenarios, CommitsIntoTilixPasteTheTextNeverTheOlderClipboard) {
    commitThirteenOverAnOlderClipboard(terminalPrograms()[0]);
}

TEST_F(TerminalScenarios, CommitsIntoGnomeTerminalPasteTheTextNeverTheOlderClipboard) {
    commitThirteenOverAnOlderClipboard(terminalPrograms()[1]);
}

// Another client copies 0 to 20 ms after the commit's text went on the clipboard (2 ms steps,
// timed by that client from the X server's news of the take): its copy stays on the clipboard
// every time, and the log says what became of the chord: the text committed only where cat wrote
// it; where the terminal was given the copy, the chord went out (never "clipboard-changed");
// "clipboard-changed" only where cat got nothing.
TEST_F(TerminalScenarios, ACopyJustAfterTheTakeStandsAndTheLogSaysWhatTheChordDid) {
    ASSERT_TRUE(openLog(program));  // it records while it is open
    struct Step {
        int delay;
        std::string got;  // "ours", "theirs", "nothing"
    };
    std::vector<Step> steps;
    std::vector<int> tookAfter;  // each copy's distance from the take, in the server's time
    for (const auto& terminalProgram : terminalPrograms()) {
        SCOPED_TRACE(terminalProgram.name);
        ClipboardOwner olderClipboard(plainTextOffer("older"));
        ASSERT_TRUE(olderClipboard.owning());
        CatTerminal terminal(terminalProgram.program, terminalProgram.options,
                             terminalProgram.execute, terminalProgram.asOneLine,
                             terminalProgram.serverClass);
        ASSERT_TRUE(terminal.ready());
        QByteArray expected;
        for (int delay = 0; delay <= 20; delay += 2) {
            SCOPED_TRACE(delay);
            const QByteArray copied = "copy after " + QByteArray::number(delay) + " ms";
            ClipboardOwner copy(plainTextOffer(copied), ClipboardOwner::Start::later);
            const std::u16string word = text::toUtf16(kWords[delay / 2]);
            const std::u16string line = u"Race " + word + u" here.";
            ASSERT_TRUE(compose({line}));
            ASSERT_TRUE(copy.takeAfterNextChange(std::chrono::milliseconds(delay)));
            ASSERT_TRUE(keyboard.chord("Return"));
            EXPECT_TRUE(copy.owns());
            tookAfter.push_back(copy.tookAfter().value_or(-1));
            EXPECT_TRUE(terminalInFront(terminal));
            // The commit's end, as the log says it: whatever it did with the clipboard is done.
            EXPECT_TRUE(waitUntil(
                [&] { return commitEnds(shownLog(program)).size() > steps.size(); },
                kHangWatchdog));
            EXPECT_EQ(readClipboard()[QStringLiteral("text/plain")], copied) << "the copy stands";
            const QByteArray before = expected;
            const QByteArray written = endLine(terminal, [&](const QByteArray& now) {
                return now.size() > before.size() && now.endsWith('\n');
            });
            const QByteArray got = written.mid(before.size());
            const std::string ours = text::toUtf8(line) + "\n";
            steps.push_back({delay, got.toStdString() == ours                ? "ours"
                                    : got == copied + '\n'                   ? "theirs"
                                    : got == "\n"                            ? "nothing"
                                                                             : got.toStdString()});
            expected = written;
            pause(300ms);
        }
        ASSERT_TRUE(keyboard.chord("Control_L+d"));  // the line is empty: cat ends
        EXPECT_TRUE(terminal.ends(kSettle));
    }
    const auto ends = commitEnds(sessionLog(program));
    ASSERT_EQ(ends.size(), steps.size());
    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        SCOPED_TRACE(std::to_string(i) + " after " + std::to_string(steps[i].delay) + " ms");
        ++seen[steps[i].got];
        const std::string& end = ends[i];
        const bool committed = end.starts_with("state=committed ");
        const bool chordOut = !end.starts_with("state=commit_failed reason=clipboard-changed ");
        if (steps[i].got == "ours") {
            // Committed, or, where the copy came while the terminal may still have been asking
            // (it reads twice), sent with its arrival unconfirmed: never a failure.
            EXPECT_TRUE(committed ||
                        end.starts_with("state=commit_sent method=paste reason=arrival-unconfirmed "))
                << end;
        } else if (steps[i].got == "theirs") {
            // The chord went out, and what the terminal pasted was not ours.
            EXPECT_FALSE(committed) << end;
            EXPECT_TRUE(chordOut) << end;
        } else {
            EXPECT_EQ(steps[i].got, "nothing");
            EXPECT_FALSE(committed) << end;
        }
        EXPECT_TRUE(end.ends_with(" pasteboard_restore=newer-copy-kept")) << end;
    }
    std::printf("note: of %zu copies 0-20 ms after the take: our text pasted %d, the copy pasted "
                "%d, no chord %d\n",
                steps.size(), seen["ours"], seen["theirs"], seen["nothing"]);
    std::printf("note: the copies came (ms after the take, server time):");
    for (const int after : tookAfter) {
        std::printf(" %d", after);
    }
    std::printf("\n");
}

// Another client copies 10 to 120 ms after the paste key went down (timed by that client from
// the X server's news of the key), and the copy stands. Where the terminal took the text, it is
// not kept: the next Composer opens empty (Return there would paste it a second time, and a
// shell would run the line twice), and the text is in the terminal once. (Tilix asks for the
// text twice, about 11 ms apart, and pastes what the second answer gives: a copy that comes
// between the two is what it pastes, in place of ours, never beside it.) Where the copy came
// before the terminal asked at all (a busy terminal), the terminal pastes the copy, our text
// never left, and it is kept as the draft.
TEST_F(TerminalScenarios, ACopyAfterThePasteKeyLeavesTheTextInTheTerminalOnceAndNoDraft) {
    ASSERT_TRUE(openLog(program));  // it records while it is open
    ClipboardOwner olderClipboard(plainTextOffer("older"));
    ASSERT_TRUE(olderClipboard.owning());
    const auto& tilix = terminalPrograms()[0];
    CatTerminal terminal(tilix.program, tilix.options, tilix.execute, tilix.asOneLine,
                         tilix.serverClass);
    ASSERT_TRUE(terminal.ready());
    QByteArray expected;
    int once = 0;
    int trials = 0;
    int between = 0;             // the copy pasted in place of ours
    int kept = 0;                // of those, before the terminal asked: the text kept
    std::vector<int> tookAfter;  // each copy's distance from the key, in the server's time
    for (int delay = 10; delay <= 120; delay += 11) {
        SCOPED_TRACE(delay);
        const QByteArray copied = "copy after " + QByteArray::number(delay) + " ms";
        ClipboardOwner copy(plainTextOffer(copied), ClipboardOwner::Start::later);
        const std::u16string line = u"Copy " + text::toUtf16(kWords[trials]) + u" here.";
        ASSERT_TRUE(compose({line}));
        ASSERT_TRUE(copy.takeAfterKey("v", std::chrono::milliseconds(delay)));
        ASSERT_TRUE(keyboard.chord("Return"));
        EXPECT_TRUE(copy.owns());
        tookAfter.push_back(copy.tookAfter().value_or(-1));
        ++trials;
        EXPECT_TRUE(waitUntil([&] { return commitEnds(shownLog(program)).size() >= std::size_t(trials); },
                              kHangWatchdog));
        EXPECT_EQ(readClipboard()[QStringLiteral("text/plain")], copied) << "the copy stands";
        const auto ends = commitEnds(shownLog(program));
        const std::string end = ends.size() >= std::size_t(trials) ? ends[trials - 1] : "";
        const bool neverAsked = end.find("reason=paste-not-fetched") != std::string::npos;
        ASSERT_TRUE(terminalInFront(terminal));
        ASSERT_TRUE(openComposer());
        EXPECT_EQ(text::toUtf8(desktop.value(desktop.focusedOf(programPid()))),
                  neverAsked ? text::toUtf8(line) : "")
            << end;
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(terminal.pid()));
        const QByteArray before = expected;
        const QByteArray written = endLine(terminal, [&](const QByteArray& now) {
            return now.size() > before.size() && now.endsWith('\n');
        });
        const QByteArray got = written.mid(before.size());
        const QByteArray ours = QByteArray::fromStdString(text::toUtf8(line)) + '\n';
        EXPECT_TRUE(got == copied + '\n' || (got == ours && !neverAsked)) << got.toStdString();
        once += got == ours;
        between += got == copied + '\n';
        kept += neverAsked;
        expected = written;
        pause(300ms);
    }
    ASSERT_TRUE(keyboard.chord("Control_L+d"));  // the line is empty: cat ends
    EXPECT_TRUE(terminal.ends(kSettle));
    std::printf("note: of %d copies 10-120 ms after the paste key: the text in the terminal once "
                "and no draft %d, the copy pasted in its place %d (before the terminal asked, "
                "the text kept: %d)\n",
                trials, once, between, kept);
    std::printf("note: the copies came (ms after the key, server time):");
    for (const int after : tookAfter) {
        std::printf(" %d", after);
    }
    std::printf("\n");
}

}  // namespace
}  // namespace ravlin::testing
