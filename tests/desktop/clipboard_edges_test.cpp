// The user's clipboard at the edges of a borrow, with real owners on the headless desktop: Emacs,
// which lists targets it refuses; a person's copy landing just after our read or our take; a
// flood of requests while the paste waits; the keeper killed in the middle of a borrow.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "line_field_fixture.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

// The desktop's clipboard, told when a borrow has read it and when our text has gone on it.
class WatchedPasteboard final : public platform::Pasteboard {
  public:
    explicit WatchedPasteboard(std::shared_ptr<platform::Pasteboard> inner)
        : inner_(std::move(inner)) {}

    std::function<void()> onRead;
    std::function<void()> onTake;
    std::function<void()> onMark;  // just before a paste chord

    std::int64_t changeCount() override { return inner_->changeCount(); }
    std::int64_t clear() override { return inner_->clear(); }
    platform::Status setString(std::u16string_view text) override {
        return inner_->setString(text);
    }
    platform::Status setTransientString(std::u16string_view text) override {
        auto written = inner_->setTransientString(text);
        if (written.ok() && onTake) {
            onTake();
        }
        return written;
    }
    bool makeTransientOrdinary() override { return inner_->makeTransientOrdinary(); }
    platform::WriteFetch lastWriteFetchedBy(const platform::FetchTarget& target) override {
        return inner_->lastWriteFetchedBy(target);
    }
    void markFetches() override {
        inner_->markFetches();
        if (onMark) {
            onMark();
        }
    }
    void setPasteAwaited(bool awaited) override { inner_->setPasteAwaited(awaited); }
    std::uint64_t fetchRequests() override { return inner_->fetchRequests(); }
    std::optional<platform::KeyCondition> ownWriteCondition() override {
        return inner_->ownWriteCondition();
    }
    Subscription observeFetches(std::function<void()> onFetch) override {
        return inner_->observeFetches(std::move(onFetch));
    }
    bool holdsOwnChange() override { return inner_->holdsOwnChange(); }
    platform::PutBack putBackOverOwnChange(const platform::PasteboardContents& contents) override {
        return inner_->putBackOverOwnChange(contents);
    }
    Subscription observeChanges(std::function<void(std::int64_t)> onChange) override {
        return inner_->observeChanges(std::move(onChange));
    }
    void readContents(std::function<void(platform::PasteboardContents)> done) override {
        inner_->readContents([this, done = std::move(done)](platform::PasteboardContents read) {
            if (onRead) {
                onRead();
            }
            done(std::move(read));
        });
    }
    platform::Status writeContents(const platform::PasteboardContents& contents) override {
        return inner_->writeContents(contents);
    }
    void readString(std::function<void(std::optional<std::u16string>)> done) override {
        inner_->readString(std::move(done));
    }

  private:
    std::shared_ptr<platform::Pasteboard> inner_;
};

QString hexLine(const QString& target, const QByteArray& bytes) {
    return target + QStringLiteral("\tUTF8_STRING\t8\thex:") + QString::fromLatin1(bytes.toHex());
}

// The processes this one started whose name is the keeper's and that are still running, but for
// those in `besides`.
std::vector<pid_t> keepersOfOurs(const std::vector<pid_t>& besides = {}) {
    std::vector<pid_t> found;
    for (const auto& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!number || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray fields = stat.readAll();
        const auto open = fields.indexOf('(');
        const auto close = fields.lastIndexOf(')');
        const auto rest = fields.mid(close + 2).split(' ');
        if (open < 0 || close < 0 || rest.size() < 2 ||
            fields.mid(open + 1, close - open - 1) != "ravlin" || rest[1].toInt() != ::getpid() ||
            rest[0] == "Z" || std::ranges::count(besides, pid) > 0) {
            continue;
        }
        found.push_back(pid);
    }
    return found;
}

// Whether `pid` is gone and reaped (no zombie of it is left).
bool reaped(pid_t pid) {
    return !QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

// A program of its own (its own connection to the server, its own keeper) in the middle of a
// borrow: the clipboard saved, then "borrowed" on it in the user's contents' place. It ends, as
// a crash leaves it unless it was told to keep them, when this goes.
struct BorrowingProgram {
    std::shared_ptr<platform::X11SelectionPasteboard> pasteboard;
    std::shared_ptr<std::optional<QNModelPasteboardSnapshot>> saved =
        std::make_shared<std::optional<QNModelPasteboardSnapshot>>();
    std::optional<QCoro::Task<>> saving;

    // Whether the save and the borrow's text went through.
    bool borrow(const TargetSeams& seams) {
        pasteboard =
            std::make_shared<platform::X11SelectionPasteboard>(platform::x11::Selections::open());
        pasteboard->setKeeperProgram(RAVLIN_CLIPBOARD_KEEPER);
        auto local = seams;
        local.pasteboard = pasteboard;
        saving.emplace(keepSaved(QNModelPasteboardSnapshot::capture(local), saved));
        if (!waitUntil([&] { return saved->has_value(); })) {
            return false;
        }
        pasteboard->clear();
        return pasteboard->setTransientString(u"borrowed").ok();
    }
};

using ClipboardEdges = LineFieldTest;

// Emacs lists targets it has nothing for (FILE_NAME, CHARACTER_POSITION, LINE_NUMBER,
// COLUMN_NUMBER, ATOM, INTEGER) and refuses them: the commit goes through, and afterwards every
// target reads back as Emacs gave it, the refused ones still refused.
TEST_F(ClipboardEdges, EmacsAsTheOwnerIsBorrowedAndGivenBackWithItsRefusals) {
    QProcess emacs;
    emacs.setStandardOutputFile(QProcess::nullDevice());
    emacs.setStandardErrorFile(QProcess::nullDevice());
    emacs.start(QStringLiteral("emacs"),
                {QStringLiteral("-Q"), QStringLiteral("--eval"),
                 QStringLiteral("(progn (insert \"copied in emacs\") (kill-new \"copied in "
                                "emacs\"))")});
    ASSERT_TRUE(emacs.waitForStarted(10000));
    QString before;
    ASSERT_TRUE(waitUntil(
        [&] {
            // (What answers first is not always Emacs's whole list yet.)
            before = readClipboardExactly();
            return before.contains(QStringLiteral("UTF8_STRING UTF8_STRING 8 15")) &&
                   before.contains(QStringLiteral("FILE_NAME refused"));
        },
        20s))
        << before.toStdString();
    const auto target = focusField();
    EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u"[p]", target, {})),
              QNPasteResult::pasted);
    EXPECT_TRUE(waitUntil([&] { return fieldText() == u"start [p]"; }))
        << text::toUtf8(fieldText());
    EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString());
    emacs.kill();
    emacs.waitForFinished(5000);
}

// The person copies in another program 0 to 50 ms after the paste read their clipboard, and 0 to
// 50 ms after our text went on it. Their copy stands every time, and what the paste says is what
// happened: "pasted" only with our text in the field; "the clipboard changed" only when no chord
// went out (the server took the copy before the chord: the field is as it was); "not pasted"
// when the chord went out and the text did not arrive (a copy the server takes in the moment
// between the chord and the target's asking is what the target is given: X gives a paste the
// owner of that moment).
TEST_F(ClipboardEdges, APersonsCopyJustAfterOurReadOrOurTakeStandsAndIsNeverPasted) {
    auto watched = std::make_shared<WatchedPasteboard>(desktop.seams.pasteboard);
    auto manager = QNQuickFixPasteboardManager::create(watched, desktop.executor);
    auto watching = TargetSeams::from(desktop.seams, desktop.executor, manager);
    watching.pasteboard = watched;
    const auto target = focusField();
    int pasted = 0;
    int changed = 0;
    int theirsPasted = 0;
    for (const bool afterTake : {false, true}) {
        for (int delay = 0; delay <= 50; delay += 5) {
            SCOPED_TRACE(std::string(afterTake ? "after the take " : "after the read ") +
                         std::to_string(delay) + " ms");
            ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line start end")));
            ASSERT_TRUE(desktop.gtk->command(QStringLiteral("select 6 9")));
            ClipboardOwner before(plainTextOffer("the user's"));
            ClipboardOwner mine({hexLine(QStringLiteral("UTF8_STRING"), "mine")},
                                ClipboardOwner::Start::later);
            ASSERT_TRUE(before.owning());
            const auto copy = [&] {
                QTimer::singleShot(std::chrono::milliseconds(delay), [&] { mine.takeSoon(); });
            };
            watched->onRead = afterTake ? std::function<void()>() : copy;
            watched->onTake = afterTake ? copy : std::function<void()>();
            auto outcome =
                pasteToEnd(QNModelPasteboardSnapshot::paste(watching, u"[q]", target, {}));
            watched->onRead = nullptr;
            watched->onTake = nullptr;
            ASSERT_TRUE(outcome);
            ASSERT_TRUE(mine.owns());
            // A put-back would have come by now: past one tried again after a failed one
            // (retryAfterFailedRestore, 1 s).
            waitUntil([] { return false; }, 1200ms);
            EXPECT_EQ(readClipboardExactly().count(QStringLiteral("6d696e65")), 1)
                << "the person's copy stands";
            const auto value = fieldText();
            if (value.find(u"mine") != std::u16string::npos) {
                ++theirsPasted;
                EXPECT_EQ(outcome->result, QNPasteResult::notPasted) << text::toUtf8(value);
            }
            if (outcome->result == QNPasteResult::pasted) {
                ++pasted;
                EXPECT_EQ(value, u"start [q]");
            } else {
                ++changed;
                EXPECT_TRUE(outcome->result == QNPasteResult::clipboardChanged ||
                            outcome->result == QNPasteResult::notPasted)
                    << toString(outcome->result);
                EXPECT_EQ(outcome->restore, platform::PutBack::newerCopy);
                EXPECT_EQ(value.find(u"[q]"), std::u16string::npos) << text::toUtf8(value);
                if (outcome->result == QNPasteResult::clipboardChanged) {
                    EXPECT_EQ(value, u"start end") << "a chord went out";
                }
            }
        }
    }
    std::printf("note: of 22 copies 0-50 ms after the read or the take: pasted %d, not pasted "
                "%d (theirs given to the target in %d)\n",
                pasted, changed, theirsPasted);
}

// A clipboard manager that asks for the mark after the text, as Klipper does on each change of
// owner (TARGETS, the text, then x-kde-passwordManagerHint, one request after the other), gets
// the mark from the owner that gave it the text: a reader starting as our text goes on the
// clipboard never sees that text without "secret" beside it. (Read here in the owner's order of
// targets, where the marks come after the text's.)
TEST_F(ClipboardEdges, AReaderAskingForTheMarkAfterTheTextAlwaysGetsIt) {
    ClipboardOwner before(plainTextOffer("the user's"));
    ASSERT_TRUE(before.owning());
    const auto target = focusField();
    const QString ours = QString::fromLatin1(QByteArray("[k]").toHex());
    const QString secret = QString::fromLatin1(QByteArray("secret").toHex());
    int sawOurs = 0;
    for (int paste = 0; paste < 10; ++paste) {
        SCOPED_TRACE(paste);
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line start end")));
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("select 6 9")));
        QProcess reader;
        bool started = false;
        const auto taken = QObject::connect(
            QGuiApplication::clipboard(), &QClipboard::changed, [&](QClipboard::Mode mode) {
                if (mode == QClipboard::Clipboard && !started) {
                    started = true;
                    reader.start(QStringLiteral(RAVLIN_CLIPBOARD_TOOL), {QStringLiteral("read")});
                }
            });
        EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u"[k]", target, {})),
                  QNPasteResult::pasted);
        QObject::disconnect(taken);
        ASSERT_TRUE(started);
        ASSERT_TRUE(waitUntil([&] { return reader.state() == QProcess::NotRunning; }, 10s));
        const QString read = QString::fromUtf8(reader.readAllStandardOutput());
        const auto lineOf = [&](const QString& name) {
            for (const auto& line : read.split(QLatin1Char('\n'))) {
                if (line.startsWith(name + QLatin1Char(' '))) {
                    return line;
                }
            }
            return QString();
        };
        if (lineOf(QStringLiteral("UTF8_STRING")).endsWith(ours)) {
            ++sawOurs;
            EXPECT_TRUE(lineOf(QStringLiteral("x-kde-passwordManagerHint")).endsWith(secret))
                << read.toStdString();
        }
    }
    std::printf("note: a reader started at each of 10 takes read our text %d times\n", sawOurs);
}

// The user's contents go back only once the target has fetched our text and nobody has asked for
// it since for a quiet moment (200 ms): never right after the first answer, which a target that
// asks twice (Tilix) would pay for with the user's old text.
TEST_F(ClipboardEdges, ThePutBackComesAQuietMomentAfterTheLastRequest) {
    ClipboardOwner before(plainTextOffer("the user's"));
    ASSERT_TRUE(before.owning());
    const auto target = focusField();
    std::vector<long long> delays;
    for (int paste = 0; paste < 10; ++paste) {
        SCOPED_TRACE(paste);
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line start end")));
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("select 6 9")));
        std::optional<QElapsedTimer> sinceRequest;
        const auto requests = desktop.seams.pasteboard->observeFetches([&] {
            sinceRequest.emplace();
            sinceRequest->start();
        });
        EXPECT_EQ(runToEnd(QNModelPasteboardSnapshot::paste(seams, u"[w]", target, {})),
                  QNPasteResult::pasted);
        ASSERT_TRUE(sinceRequest);
        delays.push_back(sinceRequest->elapsed());
        EXPECT_GE(delays.back(), 200);
        EXPECT_EQ(fieldText(), u"start [w]");
    }
    std::ranges::sort(delays);
    std::printf("measure: the put-back %lld-%lld ms (median %lld) after the last request, "
                "10 pastes\n",
                delays.front(), delays.back(), delays[delays.size() / 2]);
}

// The program ending just after its paste chord went out (the user's contents go back before
// anything else at the end): they go back only once the target has fetched our text, so that it
// pastes ours, never the user's.
TEST_F(ClipboardEdges, AnEndJustAfterTheChordPutsTheContentsBackOnceTheTargetFetched) {
    auto watched = std::make_shared<WatchedPasteboard>(desktop.seams.pasteboard);
    const auto target = focusField();
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line start end")));
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("select 6 9")));
        ClipboardOwner before(plainTextOffer("the user's"));
        ASSERT_TRUE(before.owning());
        auto manager = QNQuickFixPasteboardManager::create(watched, desktop.executor);
        auto watching = TargetSeams::from(desktop.seams, desktop.executor, manager);
        watching.pasteboard = watched;
        watched->onMark = [&manager] {
            QTimer::singleShot(0, [&manager] { manager->restoreBeforeExit(); });
        };
        (void)pasteToEnd(QNModelPasteboardSnapshot::paste(watching, u"[e]", target, {}));
        watched->onMark = nullptr;
        EXPECT_TRUE(waitUntil([&] { return fieldText() == u"start [e]"; }))
            << text::toUtf8(fieldText());
        EXPECT_TRUE(readClipboardExactly().contains(QString::fromLatin1(
            QByteArray("the user's").toHex())));
    }
}

// Another client floods the clipboard's owner with 10,000 requests while the paste waits for the
// target: the user's contents come back all the same, and the paste says so only because they
// did.
TEST_F(ClipboardEdges, AFloodOfRequestsInThePastePauseLeavesTheClipboardBack) {
    ClipboardOwner owner({hexLine(QStringLiteral("UTF8_STRING"), "the user's"),
                          hexLine(QStringLiteral("text/plain"), "the user's plain")});
    ASSERT_TRUE(owner.owning());
    const QString before = readClipboardExactly();
    auto watched = std::make_shared<WatchedPasteboard>(desktop.seams.pasteboard);
    auto watching = seams;
    watching.pasteboard = watched;
    const auto target = focusField();
    std::jthread flood;
    std::atomic<int> sent = 0;
    watched->onTake = [&] {
        flood = std::jthread([&](std::stop_token stop) {
            xcb_connection_t* c = xcb_connect(nullptr, nullptr);
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
            const xcb_window_t window = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
            const auto atom = [&](const char* name) {
                auto* reply = xcb_intern_atom_reply(
                    c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
                    nullptr);
                const xcb_atom_t value = reply != nullptr ? reply->atom : XCB_NONE;
                std::free(reply);
                return value;
            };
            const xcb_atom_t clipboard = atom("CLIPBOARD");
            const xcb_atom_t text = atom("UTF8_STRING");
            const xcb_atom_t into = atom("FLOODED");
            for (int i = 0; i < 10'000; ++i) {
                xcb_convert_selection(c, window, clipboard, text, into, XCB_CURRENT_TIME);
                ++sent;
            }
            xcb_flush(c);
            // Its requests' answers stay unread until the test is over.
            std::mutex idle;
            std::condition_variable_any untilTheEnd;
            std::unique_lock lock(idle);
            untilTheEnd.wait(lock, stop, [] { return false; });
            xcb_disconnect(c);
        });
    };
    const auto outcome =
        pasteToEnd(QNModelPasteboardSnapshot::paste(watching, u"[f]", target, {}));
    watched->onTake = nullptr;
    ASSERT_TRUE(outcome);
    EXPECT_EQ(sent, 10'000);
    EXPECT_EQ(outcome->result, QNPasteResult::pasted);
    EXPECT_EQ(outcome->restore, platform::PutBack::done);
    EXPECT_EQ(fieldText(), u"start [f]");
    EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString());
}

// The keeper holding the user's contents in reserve is killed in the middle of a borrow: a new
// one is started and given them, so that the program ending then (its window gone with our text
// on the clipboard), or after putting them back, still leaves the user's contents byte for byte.
// The killed keeper is reaped, and the one left holding the contents ends once another copy
// stands, though the server gives the copying client the id the program's window had. Keepers of
// earlier tests may still be ending or serving what they were given: only those started here are
// counted.
TEST_F(ClipboardEdges, AKeeperKilledInTheBorrowIsReplacedAndTheContentsOutliveTheProgram) {
    for (const bool putBack : {false, true}) {
        SCOPED_TRACE(putBack ? "put back, then the program ends" : "the program ends mid-borrow");
        ClipboardOwner owner({hexLine(QStringLiteral("UTF8_STRING"), "the user's own"),
                              hexLine(QStringLiteral("x-ravlin/note"), "a note")});
        ASSERT_TRUE(owner.owning());
        const QString before = readClipboardExactly();
        const auto earlier = keepersOfOurs();
        pid_t killed = 0;
        {
            BorrowingProgram program;
            ASSERT_TRUE(program.borrow(TargetSeams::from(desktop.seams, desktop.executor)));
            const auto keepers = keepersOfOurs(earlier);
            ASSERT_EQ(keepers.size(), 1u);
            killed = keepers.front();
            ASSERT_EQ(::kill(killed, SIGKILL), 0);
            ASSERT_TRUE(waitUntil([&] {
                const auto now = keepersOfOurs(earlier);
                return now.size() == 1 && now.front() != killed;
            }));
            if (putBack) {
                EXPECT_EQ((*program.saved)->restore(*program.pasteboard), platform::PutBack::done);
                EXPECT_EQ(readClipboardExactly().toStdString(), before.toStdString());
            }
            program.pasteboard->keepContentsAfterExit();
        }
        EXPECT_TRUE(waitUntil([&] { return reaped(killed); })) << "a zombie keeper";
        QString after;
        EXPECT_TRUE(waitUntil([&] {
            after = readClipboardExactly();
            return after == before;
        })) << after.toStdString();
        EXPECT_NE(clipboardOwnerPid(), ::getpid());
        ClipboardOwner taker({hexLine(QStringLiteral("UTF8_STRING"), "newer")});
        ASSERT_TRUE(taker.owning());
        EXPECT_TRUE(waitUntil([&] { return keepersOfOurs(earlier).empty(); }, 10s))
            << "the keeper holding the user's contents goes on once another copy stands";
    }
}

// The program ends in the middle of a borrow, and within the keeper's watch for a clipboard
// manager's refill the person copies: the very text that was being pasted, or an image whose
// owner also lists a text it refuses. Neither owner fetched the borrow's text as a manager does,
// so neither is a refill: the person's copy stands, and the keeper goes.
TEST_F(ClipboardEdges, APersonsCopyJustAfterTheProgramEndsMidBorrowStandsWhateverItHolds) {
    const QStringList image{QStringLiteral("image/png\timage/png\t8\thex:89504e470d0a1a0a"),
                            QStringLiteral("UTF8_STRING\tUTF8_STRING\t8\trefused")};
    for (const auto& [name, copy] :
         {std::pair{"the very text being pasted", plainTextOffer("borrowed")},
          std::pair{"an image listing a text it refuses", image}}) {
        SCOPED_TRACE(name);
        ClipboardOwner owner({hexLine(QStringLiteral("UTF8_STRING"), "the user's own")});
        ASSERT_TRUE(owner.owning());
        const auto earlier = keepersOfOurs();
        {
            BorrowingProgram program;
            ASSERT_TRUE(program.borrow(TargetSeams::from(desktop.seams, desktop.executor)));
        }  // gone with its text on the clipboard, as a crash leaves it
        ASSERT_TRUE(waitUntil([] {
            const auto server = clipboardOwnerPid();
            return server != 0 && server != ::getpid();
        })) << "the keeper takes the user's contents back";
        ClipboardOwner person(copy);
        ASSERT_TRUE(person.owning());
        waitUntil([] { return false; }, 2500ms);  // past the keeper's watch for a refill
        EXPECT_FALSE(person.lost());
        EXPECT_TRUE(waitUntil([&] { return keepersOfOurs(earlier).empty(); }, 10s));
    }
}

}  // namespace
}  // namespace ravlin::testing
