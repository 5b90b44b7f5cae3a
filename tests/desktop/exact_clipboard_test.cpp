// The user's clipboard as owners that are not Qt make it, borrowed by the real flows on the
// headless desktop: after each borrow another client reads the same TARGETS and the same bytes
// and type for every target; what cannot be saved whole is left alone, without holding the
// program up; and the contents outlive the program through its keeper.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "app/target/focus_snapshot.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "line_field_fixture.h"
#include "platform/linux/clipboard/clipboard_keeper.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "platform/linux/clipboard/selection_text.h"
#include "tests/support/clipboard_tool.h"
#include "tests/support/watchdog.h"

namespace ravlin::testing {
namespace {

QString hex(const QByteArray& bytes) {
    return QStringLiteral("hex:") + QString::fromLatin1(bytes.toHex());
}

QString line(const QString& target, const QString& type, int format, const QString& contents) {
    return target + QLatin1Char('\t') + type + QLatin1Char('\t') + QString::number(format) +
           QLatin1Char('\t') + contents;
}

// What the issue names: UTF8_STRING ending in NUL, UTF-16LE text/html with a byte-order mark, a
// PNG image, a custom type, 32-bit data, and 70 custom targets.
QStringList richOffer() {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(qRgb(10, 220, 40));
    image.save(&buffer, "PNG");
    QByteArray html("\xff\xfe", 2);
    for (const char16_t unit : std::u16string(u"<b>b\u00f6ld</b>")) {
        html.append(static_cast<char>(unit & 0xff)).append(static_cast<char>(unit >> 8));
    }
    QStringList spec{
        line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"), 8,
             hex(QByteArray("h\xc3\xa9llo w\xc3\xb6rld", 13) + QByteArray(1, '\0'))),
        line(QStringLiteral("text/html"), QStringLiteral("text/html"), 8, hex(html)),
        line(QStringLiteral("image/png"), QStringLiteral("image/png"), 8, hex(png)),
        line(QStringLiteral("application/x-ravlin-note"), QStringLiteral("RAVLIN_NOTE_TYPE"), 8,
             hex("a note")),
        line(QStringLiteral("x-ravlin/words"), QStringLiteral("CARDINAL"), 32,
             hex(QByteArray("\x01\x00\x00\x00\xff\xff\xff\x7f", 8))),
    };
    for (int part = 0; part < 70; ++part) {
        const QString name = QStringLiteral("x-ravlin/part-%1").arg(part, 2, 10, QLatin1Char('0'));
        spec << line(name, name, 8, hex(QByteArray(part + 1, static_cast<char>('A' + part % 26))));
    }
    return spec;
}

using ExactClipboard = LineFieldTest;

TEST_F(ExactClipboard, EveryTargetComesBackExactlyAfterEachBorrow) {
    ClipboardOwner owner(richOffer());
    ASSERT_TRUE(owner.owning());
    const QString before = readClipboardExactly();
    ASSERT_TRUE(before.contains(QStringLiteral("x-ravlin/part-69"))) << before.toStdString();
    ASSERT_FALSE(before.contains(QStringLiteral("refused"))) << before.toStdString();
    const auto target = focusField();

    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u"[p]", target, {})),
              QNPasteResult::pasted);
    EXPECT_TRUE(waitUntil([&] { return fieldText() == u"start [p]"; }))
        << text::toUtf8(fieldText());
    EXPECT_TRUE(owner.lost()) << "the put-back is served by this program";
    EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString()) << "after a paste";

    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("select 0 5")));
    EXPECT_EQ(
        runToEnd(QNModelFocusSnapshot::copySelectionViaPasteboard(seams, target, "AXTextField", {})),
        u"start");
    EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString()) << "after a copy";
}

// The refusal comes from the size the owner announces: this owner never sends a step of its
// 70 MB, so a save that went on to read them would end as an owner not answering instead.
TEST_F(ExactClipboard, ContentsOverTheCapAreRefusedAndLeftWithTheirOwner) {
    ClipboardOwner owner(
        {line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"), 8, hex("kept")),
         line(QStringLiteral("x-ravlin/large"), QStringLiteral("x-ravlin/large"), 8,
              QStringLiteral("text:73400320:3"))},
        ClipboardOwner::Start::stalling);
    ASSERT_TRUE(owner.owning());
    auto manager = QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
    std::vector<platform::PasteboardSaveFailure> told;
    manager->onSaveRefused = [&](platform::PasteboardSaveFailure failure) {
        told.push_back(failure);
    };
    auto borrowing = TargetSeams::from(desktop.seams, desktop.executor, manager);
    const auto target = focusField();
    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(borrowing, u"[p]", target, {})),
              QNPasteResult::clipboardUnsaved);
    EXPECT_EQ(told, std::vector{platform::PasteboardSaveFailure::tooLarge});
    EXPECT_EQ(fieldText(), u"start end");
    EXPECT_FALSE(owner.lost());
    EXPECT_EQ(clipboardOwnerPid(), owner.pid());
}

TEST_F(ExactClipboard, A25MegabyteTextRoundTripsByteForByte) {
    ClipboardOwner owner(
        {line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"), 8,
              QStringLiteral("text:26214400:7")),
         line(QStringLiteral("text/plain"), QStringLiteral("text/plain"), 8, hex("small"))});
    ASSERT_TRUE(owner.owning());
    const QString before = readClipboardExactly();
    ASSERT_TRUE(before.contains(QStringLiteral("UTF8_STRING UTF8_STRING 8 26214400")))
        << before.toStdString();
    QElapsedTimer took;
    took.start();
    auto saved = std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
    auto saving = keepSaved(QNModelPasteboardSnapshot::capture(seams), saved);
    ASSERT_TRUE(waitUntil([&] { return saved->has_value(); }));
    std::printf("note: saving a 25 MB clipboard took %lld ms\n",
                static_cast<long long>(took.elapsed()));
    EXPECT_TRUE((*saved)->complete());
    const auto target = focusField();
    took.restart();
    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u"[p]", target, {})),
              QNPasteResult::pasted);
    std::printf("note: a paste with a 25 MB clipboard took %lld ms in all\n",
                static_cast<long long>(took.elapsed()));
    EXPECT_TRUE(owner.lost());
    EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString());
}

// xclip serves one requestor at a time and waits for each INCR step of its answer: a save that
// refuses its 70 MB in the middle still takes the rest, so that every other client reads the
// clipboard afterwards.
TEST_F(ExactClipboard, XclipOwning70MegabytesIsStillReadableAfterARefusedSave) {
    QTemporaryFile contents;
    ASSERT_TRUE(contents.open());
    const QByteArray block(1 << 20, 'y');
    for (int megabyte = 0; megabyte < 70; ++megabyte) {
        contents.write(block);
    }
    contents.flush();
    QProcess xclip;
    xclip.setStandardInputFile(contents.fileName());
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                 QStringLiteral("-i")});
    ASSERT_TRUE(waitUntil(
        [] { return runClipboardTool({QStringLiteral("owner")}).trimmed() == QLatin1String("?"); },
        10s));
    auto saved = std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
    auto saving = keepSaved(QNModelPasteboardSnapshot::capture(seams), saved);
    ASSERT_TRUE(waitUntil([&] { return saved->has_value(); }));
    EXPECT_EQ((*saved)->failure, platform::PasteboardSaveFailure::tooLarge);
    // A second after the refusal (xclip drops a request that comes while it is still sending;
    // nothing outside xclip shows when it is done, and a request it dropped is never answered).
    waitUntil([] { return false; }, 1s);
    {
        QElapsedTimer took;
        took.start();
        QProcess reader;
        reader.start(QStringLiteral("xclip"),
                     {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        qint64 bytes = 0;
        while (reader.state() != QProcess::NotRunning && took.elapsed() < 20'000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            reader.waitForReadyRead(10);
            bytes += reader.readAllStandardOutput().size();
        }
        bytes += reader.readAllStandardOutput().size();
        std::printf("note: reading 70 MB from xclip a second after the refused save took %lld ms\n",
                    static_cast<long long>(took.elapsed()));
        EXPECT_EQ(bytes, 70 * block.size());
        reader.kill();
        reader.waitForFinished();
    }
    xclip.kill();
    xclip.waitForFinished();
}

TEST_F(ExactClipboard, AnOwnerThatDoesNotAnswerHoldsNothingUpAndKeepsItsClipboard) {
    ClipboardOwner owner(
        {line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"), 8, hex("kept"))},
        ClipboardOwner::Start::silent);
    ASSERT_TRUE(owner.owning());
    auto manager = QNQuickFixPasteboardManager::create(desktop.seams.pasteboard, desktop.executor);
    std::vector<platform::PasteboardSaveFailure> told;
    manager->onSaveRefused = [&](platform::PasteboardSaveFailure failure) {
        told.push_back(failure);
    };
    auto borrowing = TargetSeams::from(desktop.seams, desktop.executor, manager);

    // A timer of the program's keeps firing while the save waits. Qt fires due timers in the
    // order they fell due, so even a loop held up past the save's limit ticks once before the
    // save gives up; a save that held the loop for its whole wait answers before any tick.
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> ticks;
    auto saved = std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
    int ticksWhileWaiting = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ticks.push_back(clock.elapsed());
        ticksWhileWaiting += saved->has_value() ? 0 : 1;
    });
    timer.start(10);
    auto saving = keepSaved(QNModelPasteboardSnapshot::capture(borrowing), saved);
    ASSERT_TRUE(waitUntil([&] { return saved->has_value(); }, kHangWatchdog));
    const qint64 took = clock.elapsed();
    timer.stop();
    EXPECT_EQ((*saved)->failure, platform::PasteboardSaveFailure::ownerNotAnswering);
    EXPECT_TRUE((*saved)->items.empty());
    EXPECT_GE(ticksWhileWaiting, 1);
    qint64 longestGap = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        longestGap = std::max(longestGap, ticks[i] - ticks[i - 1]);
    }
    std::printf("note: one save against an owner that does not answer took %lld ms; meanwhile a "
                "10 ms timer fired %zu times, %lld ms apart at most\n",
                static_cast<long long>(took), ticks.size(), static_cast<long long>(longestGap));
    EXPECT_EQ(told, std::vector{platform::PasteboardSaveFailure::ownerNotAnswering});

    // The same flow goes on: the paste is refused without asking the owner again, nothing is
    // claimed or cleared.
    const auto target = focusField();
    const auto askedBefore = owner.asked();
    EXPECT_GT(askedBefore, 0);
    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(borrowing, u"[p]", target, {})),
              QNPasteResult::clipboardUnsaved);
    EXPECT_EQ(owner.asked(), askedBefore) << "the refused save is not waited for again";
    EXPECT_EQ(fieldText(), u"start end");
    EXPECT_FALSE(owner.lost());
    EXPECT_EQ(clipboardOwnerPid(), owner.pid());
}

// Another client may copy in the very millisecond of our own write, with that same time (the
// time of a key press that came just after it): the copy is a change all the same, and what we
// read at once is theirs. Our own clear and the write right after it leave us serving the write.
TEST_F(ExactClipboard, ACopyInTheMillisecondOfOurOwnWriteIsAChangeAndIsReadAtOnce) {
    auto& pasteboard = dynamic_cast<platform::X11SelectionPasteboard&>(*desktop.seams.pasteboard);
    const auto other = platform::x11::Selections::open();
    ASSERT_TRUE(other);
    const auto readElsewhere = [&] { return clipboardTextThrough(*other); };
    for (int round = 0; round < 20; ++round) {
        const std::u16string number = text::toUtf16(std::to_string(round));
        ASSERT_TRUE(pasteboard.setString(u"first " + number).ok());
        pasteboard.clear();
        QCoreApplication::processEvents();  // the clear goes out on the loop's next turn
        ASSERT_TRUE(pasteboard.setString(u"ours " + number).ok());
        EXPECT_EQ(readElsewhere(), u"ours " + number);

        const auto count = pasteboard.changeCount();
        ASSERT_TRUE(other->ownAsOf("CLIPBOARD",
                                   std::make_shared<const platform::x11::SelectionData>(
                                       platform::x11::textSelection(u"theirs " + number)),
                                   pasteboard.selections()->ownedSince("CLIPBOARD")));
        std::optional<std::optional<std::u16string>> read;
        pasteboard.readString([&](std::optional<std::u16string> text) { read = std::move(text); });
        ASSERT_TRUE(waitUntil([&] { return read.has_value(); }));
        EXPECT_EQ(*read, u"theirs " + number) << "round " << round;
        EXPECT_TRUE(waitUntil([&] { return pasteboard.changeCount() > count; }))
            << "round " << round;
    }
}

// The keeper's window, once destroyed, is a number the server may hand to another client: a copy
// made by a window under that number is another client's copy, never one made on our behalf.
TEST_F(ExactClipboard, ACopyByAWindowOnceTheKeepersIsAChange) {
    const auto ours = platform::x11::Selections::open();
    ASSERT_TRUE(ours);
    std::atomic<int> changes = 0;
    ours->onForeignChange([&](const std::string& which, std::uint64_t) {
        changes += which == "CLIPBOARD" ? 1 : 0;
    });
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const auto make = [&] {
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    };
    make();
    ours->setDeputy(window);
    xcb_destroy_window(c, window);
    make();  // the same number, now another window's
    auto* clipboard = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr);
    ASSERT_NE(clipboard, nullptr);
    xcb_set_selection_owner(c, window, clipboard->atom, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::free(clipboard);
    EXPECT_TRUE(waitUntil([&] { return changes > 0; }));
    ours->onForeignChange(nullptr);
    xcb_disconnect(c);
}

// A clear goes out on the loop's next turn: it undoes the clipboard as it was when asked for
// (our own write, or the copy we were last told of, as after a target's copy), never a copy
// another client made in between.
TEST_F(ExactClipboard, AClearUndoesTheClipboardItWasAskedForNeverALaterCopy) {
    auto& pasteboard = dynamic_cast<platform::X11SelectionPasteboard&>(*desktop.seams.pasteboard);
    const auto other = platform::x11::Selections::open();
    ASSERT_TRUE(other);
    const auto text = [](std::u16string_view words) {
        return std::make_shared<const platform::x11::SelectionData>(
            platform::x11::textSelection(words));
    };

    // Our write, then another client's copy we are told of: the clear undoes that copy.
    ASSERT_TRUE(pasteboard.setString(u"ours").ok());
    const auto count = pasteboard.changeCount();
    ASSERT_TRUE(other->own("CLIPBOARD", text(u"the target's copy")));
    ASSERT_TRUE(waitUntil([&] { return pasteboard.changeCount() > count; }));
    pasteboard.clear();
    QCoreApplication::processEvents();  // the clear goes out
    EXPECT_EQ(clipboardTextThrough(*other), std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return !other->owned("CLIPBOARD"); }));

    // Our write, cleared; a copy comes before the loop turns: it stays.
    ASSERT_TRUE(pasteboard.setString(u"ours").ok());
    pasteboard.clear();
    ASSERT_TRUE(other->own("CLIPBOARD", text(u"copied meanwhile")));
    QCoreApplication::processEvents();
    EXPECT_EQ(clipboardTextThrough(*other), u"copied meanwhile");
}

// The user's contents outlive the program that borrowed them, however it ends. Put back, they
// are served by the keeper from then on; a program gone in the middle of a borrow (its window
// with it, as a crash or a kill leaves it) finds the keeper taking them back over its own text,
// also where a clipboard manager fills an emptied clipboard with the last text it saw
// (xfce4-clipman), or with a list of targets it then refuses (xfce4-clipman again, when it was
// saving the borrow as the program went; here a stand-in that fetched the borrow's text as a
// manager does). Either way they come back, never the borrow's text, and the keeper ends once
// another client copies.
TEST_F(ExactClipboard, TheUsersContentsOutliveTheProgramInItsKeeperHoweverItEnds) {
    enum class End { afterPutBack, midBorrow, midBorrowWithClipman, midBorrowRefilledUnreadable };
    for (const End end : {End::afterPutBack, End::midBorrow, End::midBorrowWithClipman,
                          End::midBorrowRefilledUnreadable}) {
        SCOPED_TRACE(end == End::afterPutBack           ? "put back, then the program ends"
                     : end == End::midBorrow            ? "the program ends mid-borrow"
                     : end == End::midBorrowWithClipman ? "mid-borrow, xfce4-clipman running"
                                                        : "mid-borrow, refilled with refusals");
        QProcess manager;
        if (end == End::midBorrowWithClipman) {
            manager.start(QStringLiteral("xfce4-clipman"), {});
            ASSERT_TRUE(manager.waitForStarted(10000));
            ASSERT_TRUE(clipboardManagerWatches());
        }
        ClipboardOwner owner(richOffer());
        ASSERT_TRUE(owner.owning());
        if (end == End::midBorrowWithClipman) {
            ASSERT_TRUE(waitUntil([&] { return owner.gave(); })) << "the manager takes the copy";
        }
        const QString before = readClipboardExactly();
        std::optional<ClipboardOwner> refill;
        {
            auto pasteboard = std::make_shared<platform::X11SelectionPasteboard>(
                platform::x11::Selections::open());
            pasteboard->setKeeperProgram(RAVLIN_CLIPBOARD_KEEPER);
            auto local = TargetSeams::from(desktop.seams, desktop.executor);
            local.pasteboard = pasteboard;
            auto saved = std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
            auto saving = keepSaved(QNModelPasteboardSnapshot::capture(local), saved);
            ASSERT_TRUE(waitUntil([&] { return saved->has_value(); }));
            bool toldOfFetch = false;
            const auto fetches = pasteboard->observeFetches([&] { toldOfFetch = true; });
            pasteboard->clear();
            ASSERT_TRUE(pasteboard->setTransientString(u"borrowed"));
            ASSERT_TRUE(waitUntil([&] { return clipboardOwnerPid() == ::getpid(); }));
            if (end == End::midBorrowRefilledUnreadable) {
                refill.emplace(
                    QStringList{line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"),
                                     8, QStringLiteral("refused")),
                                line(QStringLiteral("x-kde-passwordManagerHint"),
                                     QStringLiteral("x-kde-passwordManagerHint"), 8,
                                     QStringLiteral("refused"))},
                    ClipboardOwner::Start::later);
                ASSERT_TRUE(refill->fetch());
            }
            if (end == End::midBorrowWithClipman || end == End::midBorrowRefilledUnreadable) {
                // The program has heard that a clipboard manager fetched the text.
                ASSERT_TRUE(waitUntil([&] { return toldOfFetch; }));
            }
            if (end == End::afterPutBack) {
                EXPECT_EQ((*saved)->restore(*pasteboard), platform::PutBack::done);
                const auto server = clipboardOwnerPid();
                EXPECT_NE(server, 0);
                EXPECT_NE(server, ::getpid()) << "served by the keeper, not by the program";
                // A second borrow reads them from the keeper, and the same keeper serves them.
                saved->reset();
                auto again = keepSaved(QNModelPasteboardSnapshot::capture(local), saved);
                ASSERT_TRUE(waitUntil([&] { return saved->has_value(); }));
                pasteboard->clear();
                ASSERT_TRUE(pasteboard->setTransientString(u"borrowed again"));
                EXPECT_EQ((*saved)->restore(*pasteboard), platform::PutBack::done);
                EXPECT_EQ(clipboardOwnerPid(), server) << "one keeper at a time";
            }
        }
        ASSERT_TRUE(waitUntil([] { return clipboardOwnerPid() != 0; }));
        if (refill) {
            ASSERT_TRUE(refill->take());
        }
        if (end == End::midBorrowWithClipman || end == End::midBorrowRefilledUnreadable) {
            // The manager's refill and the keeper's taking back after it; then what stands once
            // the keeper has stopped watching for a refill (2 s).
            const auto text = [](const QString& read) {
                const auto from = read.indexOf(QStringLiteral("\nUTF8_STRING "));
                return read.mid(from, read.indexOf(QLatin1Char('\n'), from + 1) - from);
            };
            QString after;
            EXPECT_TRUE(waitUntil([&] {
                after = readClipboardExactly();
                return text(after) == text(before);
            })) << after.toStdString();
            waitUntil([] { return false; }, 2500ms);  // past the keeper's refillWatch
            after = readClipboardExactly();
            EXPECT_EQ(text(after).toStdString(), text(before).toStdString())
                << "owner " << clipboardOwnerPid() << ", manager " << manager.processId() << "\n"
                << after.toStdString();
            if (refill) {
                EXPECT_TRUE(refill->lost());
            }
            manager.kill();
            manager.waitForFinished(5000);
            continue;
        }
        // The keeper serves them (the program's own connection may still be closing).
        ASSERT_TRUE(waitUntil([] {
            const auto server = clipboardOwnerPid();
            return server != 0 && server != ::getpid();
        }));
        const QString after = readClipboardExactly();
        EXPECT_FALSE(after.contains(QStringLiteral("626f72726f776564"))) << "the borrow's text";
        const qint64 keeper = clipboardOwnerPid();
        EXPECT_NE(keeper, ::getpid());
        EXPECT_EQ(after.toStdString(), before.toStdString());

        ClipboardOwner taker(
            {line(QStringLiteral("UTF8_STRING"), QStringLiteral("UTF8_STRING"), 8, hex("newer"))});
        ASSERT_TRUE(taker.owning());
        EXPECT_TRUE(processEnds(keeper, 1s)) << "the keeper lingers";
        EXPECT_FALSE(taker.lost());
    }
}

// A text left on the clipboard for the person to paste stays there for the rest of its time,
// and then the user's contents come back byte for byte, served by the keeper: whether the program
// stays (its own deferred restore), quits, or is gone at once (as a crash leaves it). A copy
// made meanwhile stands, and the keeper goes.
TEST_F(ExactClipboard, ATextLeftForThePersonOutlivesTheProgramForTheRestOfItsTime) {
    enum class End { stays, quit, crash, crashThenCopy };
    constexpr std::int64_t minute = 4;  // seconds: the test's minute
    const auto leftText = [](const QString& read) {
        return read.contains(QString::fromLatin1(QByteArray("left for you").toHex()));
    };
    for (const End end : {End::stays, End::quit, End::crash, End::crashThenCopy}) {
        SCOPED_TRACE(end == End::stays   ? "the program stays"
                     : end == End::quit  ? "the program quits"
                     : end == End::crash ? "the program is gone at once"
                                         : "gone at once, then the person copies");
        ClipboardOwner owner(richOffer());
        ASSERT_TRUE(owner.owning());
        const QString before = readClipboardExactly();
        QElapsedTimer sinceLeft;
        {
            auto pasteboard = std::make_shared<platform::X11SelectionPasteboard>(
                platform::x11::Selections::open());
            pasteboard->setKeeperProgram(RAVLIN_CLIPBOARD_KEEPER);
            auto local = TargetSeams::from(desktop.seams, desktop.executor);
            local.pasteboard = pasteboard;
            const auto manager = QNQuickFixPasteboardManager::create(pasteboard, desktop.executor);
            auto saved = std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
            auto saving = keepSaved(QNModelPasteboardSnapshot::capture(local), saved);
            ASSERT_TRUE(waitUntil([&] { return saved->has_value(); }));
            pasteboard->clear();
            ASSERT_TRUE(pasteboard->setTransientString(u"left for you"));
            ASSERT_TRUE(pasteboard->makeTransientOrdinary());
            manager->scheduleRestore(**saved, minute);
            sinceLeft.start();
            if (end == End::stays) {
                EXPECT_EQ(clipboardOwnerPid(), ::getpid());
                EXPECT_TRUE(waitUntil([&] { return !leftText(readClipboardExactly()); },
                                      std::chrono::seconds(minute + 5)));
            } else if (end == End::quit) {
                // As the program ends: the deferred restore first, then the hand-over.
                manager->restoreBeforeExit();
                pasteboard->keepContentsAfterExit();
            }
        }
        ASSERT_TRUE(waitUntil([] {
            const auto server = clipboardOwnerPid();
            return server != 0 && server != ::getpid();
        }));
        const qint64 keeper = clipboardOwnerPid();
        if (end == End::crashThenCopy) {
            EXPECT_TRUE(leftText(readClipboardExactly()));
            ClipboardOwner taker(plainTextOffer("newer"));
            ASSERT_TRUE(taker.owning());
            EXPECT_TRUE(processEnds(keeper, 1s)) << "the keeper lingers";
            waitUntil([] { return false; }, std::chrono::seconds(minute));
            EXPECT_FALSE(taker.lost());
            continue;
        }
        // (A read in the very moment the keeper turns to the user's contents may see some of
        // each: it asks for the targets one by one.)
        QString after;
        EXPECT_TRUE(waitUntil(
            [&] {
                after = readClipboardExactly();
                return !leftText(after) && after == before;
            },
            std::chrono::seconds(minute + 5)));
        EXPECT_GE(sinceLeft.elapsed(), minute * 1000);
        EXPECT_EQ(after.toStdString(), before.toStdString());
        EXPECT_EQ(clipboardOwnerPid(), keeper);
        ClipboardOwner taker(plainTextOffer("newer"));
        ASSERT_TRUE(taker.owning());
        EXPECT_TRUE(processEnds(keeper, 1s)) << "the keeper lingers";
    }
}

}  // namespace
}  // namespace ravlin::testing
