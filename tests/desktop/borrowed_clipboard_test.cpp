// The flows that borrow the clipboard to write into real GTK and Qt fields: the paste goes over
// the selection it was made for, and the user's clipboard comes back exactly as it was, as
// another X client sees it.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>
#include <signal.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>

#include "app/target/focus_snapshot.h"
#include "app/target/pasteboard_snapshot.h"
#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

namespace ax = platform::ax;

const std::u16string lineText = u"h\u00e9llo \U0001F600 w\u00f6rld teh";

class BorrowedClipboardTest : public ::testing::TestWithParam<std::string> {
  protected:
    Desktop& desktop = Desktop::get();
    platform::Accessibility& accessibility = *desktop.seams.accessibility;
    platform::Pasteboard& pasteboard = *desktop.seams.pasteboard;
    TargetApp& app = desktop.target(GetParam());

    // The user's clipboard: text and a PNG image, copied in the Qt target. Its formats as
    // another client sees them.
    QStringList copyWithAnImage(const QString& text) {
        EXPECT_TRUE(desktop.qt->command(QStringLiteral("copy ") + text));
        EXPECT_TRUE(waitUntil([&] { return readString(pasteboard) == text.toStdU16String(); }));
        return clipboardTargetsSeenElsewhere();
    }
    void putBack(platform::ElementRef field) {
        EXPECT_TRUE(
            accessibility.setAttribute(field, ax::value, platform::AttributeValue(lineText)).ok());
    }
};

// GTK drops a field's selection when another program takes the primary selection, as the
// Composer's text view does; the commit selects it again before pasting over it.
TEST_P(BorrowedClipboardTest, ACommitPastesOverTheSelectionItsSessionWasSeededFrom) {
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);
    ASSERT_TRUE(app.command(QStringLiteral("text line start end")));
    ASSERT_TRUE(app.command(QStringLiteral("select 6 9")));
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    ASSERT_TRUE(
        waitUntil([&] { return QNModelFocusSnapshot::captureNow(seams).selectionText == u"end"; }));
    const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
    const auto seeded = QNPasteSelection::seededBy(snapshot);
    ASSERT_EQ(seeded, (QNPasteSelection{u"end", text::Utf16Range{6, 3}}));

    {
        OwnKeyboardFocus panel;
        ASSERT_TRUE(panel.ready());
        panel.field().setText(QStringLiteral("The finish"));
        panel.field().selectAll();
        QGuiApplication::clipboard()->setText(QStringLiteral("The finish"), QClipboard::Selection);
        // GTK's field lets go of its selection once it hears of that (Qt's keeps it).
        if (GetParam() == "GTK") {
            ASSERT_TRUE(waitUntil([&] {
                const auto selected =
                    platform::rangeAttribute(accessibility, field, ax::selectedTextRange);
                return selected && selected->length == 0;
            }));
        }
    }
    const auto result =
        runToEnd(QNModelPasteboardSnapshot::paste(seams, u"The finish", snapshot.app, {}, seeded));
    EXPECT_EQ(result, QNPasteResult::pasted);
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == u"start The finish"; }))
        << text::toUtf8(desktop.value(field));
    putBack(field);
}

TEST_P(BorrowedClipboardTest, APasteGivesBackExactlyTheFormatsOfTheUsersClipboard) {
    const QStringList offered = copyWithAnImage(QStringLiteral("kept with an image"));
    ASSERT_TRUE(offered.contains(QStringLiteral("image/png"))) << offered.join(' ').toStdString();
    const auto items = readContents(pasteboard).items;
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);
    const auto target = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(target);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u" [p]", *target, {})),
              QNPasteResult::pasted);
    EXPECT_EQ(clipboardTargetsSeenElsewhere().join(' ').toStdString(), offered.join(' ').toStdString());
    EXPECT_EQ(readContents(pasteboard).items, items);
    putBack(field);
}

// The user copies in another program while a paste borrows the clipboard: right after our text
// went on it (before anyone fetched it, so before the chord), once the target has fetched it, and
// once the field shows it (before or after the put-back). Their copy stands, now and after the
// paste, and the field gets our text or nothing, never theirs. (Each copy is timed from what the
// target did: a copy that lands after the chord but before the target's fetch is what the target
// pastes, which nothing on X11 can keep it from; the paste then never says it arrived.)
TEST_P(BorrowedClipboardTest, TheUsersCopyDuringTheBorrowStandsAndIsNeverPasted) {
    enum class CopyWhen { ourTextOn, targetFetched, fieldShows };
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);
    const auto target = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(target);
    const platform::FetchTarget taker{target->pid, desktop.seams.workspace->frontmostWindow()};
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    const auto& selections =
        *dynamic_cast<platform::X11SelectionPasteboard&>(pasteboard).selections();
    for (const auto when : {CopyWhen::ourTextOn, CopyWhen::targetFetched, CopyWhen::fieldShows}) {
        SCOPED_TRACE(static_cast<int>(when));
        putBack(field);
        ClipboardOwner before(plainTextOffer("before"));
        ClipboardOwner mine(plainTextOffer("mine"), ClipboardOwner::Start::later);
        ASSERT_TRUE(before.owning());
        const auto copyOnce = [&] {
            if (!mine.owning()) {
                EXPECT_TRUE(mine.take());
            }
        };
        Subscription onWrite;
        Subscription onFetch;
        QTimer look;
        if (when == CopyWhen::ourTextOn) {
            onWrite = pasteboard.observeChanges([&](std::int64_t) {
                if (selections.owned("CLIPBOARD") && !selections.fetched("CLIPBOARD")) {
                    copyOnce();
                }
            });
        } else if (when == CopyWhen::targetFetched) {
            onFetch = pasteboard.observeFetches([&] {
                if (pasteboard.lastWriteFetchedBy(taker) == platform::WriteFetch::byTarget) {
                    copyOnce();
                }
            });
        } else {
            QObject::connect(&look, &QTimer::timeout, [&] {
                if (desktop.value(field).find(u"[q]") != std::u16string::npos) {
                    copyOnce();
                }
            });
            look.start(10);
        }
        const auto result = runToEnd(QNModelPasteboardSnapshot::paste(seams, u" [q]", *target, {}));
        const bool beforeTheChord = when == CopyWhen::ourTextOn;
        EXPECT_EQ(result, beforeTheChord ? QNPasteResult::clipboardChanged : QNPasteResult::pasted);
        if (when == CopyWhen::fieldShows) {
            // The put-back may come first: the copy is made over it.
            EXPECT_TRUE(waitUntil([&] { return mine.owning(); }, kHangWatchdog));
            look.stop();
        }
        EXPECT_TRUE(mine.owning());
        // A put-back, or the target's paste of what its chord was given, would have come by now
        // (no later sign: a toolkit pastes once the owner answers, after keys typed since).
        waitUntil([] { return false; }, 1500ms);
        EXPECT_TRUE(before.lost());
        EXPECT_EQ(readString(pasteboard), u"mine");
        const auto value = desktop.value(field);
        EXPECT_EQ(value.find(u"mine"), std::u16string::npos) << text::toUtf8(value);
        EXPECT_EQ(value.find(u"[q]") != std::u16string::npos, !beforeTheChord)
            << text::toUtf8(value);
    }
    putBack(field);
}

// The application that owns the user's clipboard does not answer while a borrower saves it: the
// clipboard is not borrowed, and nothing clears what could not be saved.
TEST(BorrowedClipboard, ContentsWhoseOwnerDoesNotAnswerAreNeitherBorrowedNorCleared) {
    Desktop& desktop = Desktop::get();
    auto& pasteboard = *desktop.seams.pasteboard;
    TargetApp& owner = *desktop.qt;
    ASSERT_TRUE(owner.command(QStringLiteral("copy kept by a busy owner")));
    ASSERT_TRUE(waitUntil([&] { return readString(pasteboard) == u"kept by a busy owner"; }));
    const QStringList offered = clipboardTargetsSeenElsewhere();
    const auto field = desktop.focus(*desktop.gtk, "line");
    ASSERT_TRUE(field);
    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("select 0 5")));
    const auto target = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(target);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    ASSERT_EQ(::kill(owner.pid(), SIGSTOP), 0);
    const auto copied = runToEnd(
        QNModelFocusSnapshot::copySelectionViaPasteboard(seams, *target, "AXTextField", {}));
    const auto pasted = runToEnd(QNModelPasteboardSnapshot::paste(seams, u"!", *target, {}));
    ASSERT_EQ(::kill(owner.pid(), SIGCONT), 0);
    EXPECT_EQ(copied, std::nullopt);
    EXPECT_EQ(pasted, QNPasteResult::clipboardUnsaved);
    EXPECT_EQ(desktop.value(field), lineText);
    EXPECT_TRUE(waitUntil([&] { return readString(pasteboard) == u"kept by a busy owner"; }));
    EXPECT_EQ(clipboardTargetsSeenElsewhere().join(' ').toStdString(), offered.join(' ').toStdString());
}

// A clipboard manager that keeps marked texts out of its history (CopyQ; parcellite and
// xfce4-clipman honour no mark): the text a paste borrows the clipboard for never reaches it,
// while the user's copies do, and so does a text left for the user to paste by hand.
TEST(BorrowedClipboard, AClipboardManagersHistoryHoldsNoBorrowedText) {
    Desktop& desktop = Desktop::get();
    auto& pasteboard = *desktop.seams.pasteboard;
    QProcess manager;
    manager.setStandardOutputFile(QProcess::nullDevice());
    manager.setStandardErrorFile(QProcess::nullDevice());
    manager.start(QStringLiteral("copyq"), {});
    ASSERT_TRUE(manager.waitForStarted(10000));
    const auto history = [] {
        return outputTurningTheLoop(
            QStringLiteral("copyq"),
            {QStringLiteral("eval"), QStringLiteral("--"),
             QStringLiteral("var all = ''; for (var i = 0; i < size(); i += 1) all += "
                            "str(read(i)) + '\\n'; all")},
            10'000);
    };
    // Up and watching the clipboard once it answers.
    ASSERT_TRUE(waitUntil(
        [] {
            return !outputTurningTheLoop(QStringLiteral("copyq"),
                                         {QStringLiteral("eval"), QStringLiteral("--"),
                                          QStringLiteral("size()")},
                                         2'000)
                        .trimmed()
                        .isEmpty();
        },
        15s));
    // Its clipboard monitor starts after it answers: watching once it fetches a copy.
    ASSERT_TRUE(clipboardManagerWatches());
    ClipboardOwner mine(plainTextOffer("the user's own copy"));
    ASSERT_TRUE(mine.owning());
    ASSERT_TRUE(waitUntil([&] { return history().contains(QStringLiteral("the user's own copy")); },
                          10s));
    // CopyQ reads the clipboard again on a timer for about a second after each change of the
    // clipboard or the selection (longer on a busy machine), one target after another, with the
    // list of formats it last fetched: a read that straddles our taking the clipboard asks us for
    // the text but not for the mark, which the old list lacks, and keeps the text. Such a read
    // stamped with the time of the user's copy is answered (the borrow is taken as of that very
    // time); one stamped later, as those that the field's selection below sets going are, is
    // refused. The borrow here comes once CopyQ has not read the user's copy for that long.
    auto reads = mine.asked();
    QElapsedTimer quiet;
    quiet.start();
    ASSERT_TRUE(waitUntil([&] {
        if (const auto now = mine.asked(); now != reads) {
            reads = now;
            quiet.restart();
        }
        return quiet.elapsed() >= 1500;
    }));
    const auto field = desktop.focus(*desktop.gtk, "line");
    ASSERT_TRUE(field);
    const auto target = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(target);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u" [borrowed]", *target, {})),
              QNPasteResult::pasted);
    // A text left for the user to paste is an ordinary copy.
    pasteboard.clear();
    ASSERT_TRUE(pasteboard.setTransientString(u"left for you"));
    ASSERT_TRUE(pasteboard.makeTransientOrdinary());
    EXPECT_TRUE(waitUntil([&] { return history().contains(QStringLiteral("left for you")); }, 20s))
        << history().toStdString() << "| now: " << readString(pasteboard).value_or(u"(none)").size();
    const QString kept = history();
    EXPECT_FALSE(kept.contains(QStringLiteral("[borrowed]"))) << kept.toStdString();
    EXPECT_TRUE(kept.contains(QStringLiteral("the user's own copy"))) << kept.toStdString();
    (void)outputTurningTheLoop(QStringLiteral("copyq"), {QStringLiteral("exit")}, 10'000);
    manager.waitForFinished(5000);
    (void)desktop.seams.accessibility->setAttribute(field, platform::ax::value,
                                                   platform::AttributeValue(lineText));
}

INSTANTIATE_TEST_SUITE_P(Toolkits, BorrowedClipboardTest, ::testing::Values("GTK", "Qt"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace ravlin::testing
