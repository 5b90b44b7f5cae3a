// The real `ravlin` binary in an offscreen session: one instance per runtime folder, a clean
// stop on signals, a stale lock and socket taken over, what stands in the lock's or the socket's
// way said, hostile clients ignored, a socket file replaced behind its back, and settings files
// that are no regular files.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "core/process/unique_fd.h"
#include "tests/support/file_entries.h"

namespace {

using ravlin::testing::fileEntryAt;

class Ravlin {
  public:
    static constexpr int kHangLimitMs = 120'000;

    // Started through `wrapper` (a command that ends by running the program given last), if any;
    // its environment as `adjust` leaves it.
    explicit Ravlin(const QString& runtimeFolder, const QString& previews = {},
                    const QStringList& wrapper = {},
                    const std::function<void(QProcessEnvironment&)>& adjust = {}) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtimeFolder);
        environment.insert("XDG_CONFIG_HOME", runtimeFolder);
        environment.remove("XCODE_RUNNING_FOR_PREVIEWS");
        if (!previews.isNull()) {
            environment.insert("XCODE_RUNNING_FOR_PREVIEWS", previews);
        }
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        if (adjust) {
            adjust(environment);
        }
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        if (wrapper.isEmpty()) {
            process_.start(RAVLIN_PROGRAM, {});
        } else {
            process_.start(wrapper.front(), wrapper.mid(1) << RAVLIN_PROGRAM);
        }
    }
    ~Ravlin() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Waits until standard error has `line`, or the program has ended without it. The bound
    // only stops a hang: a start of the sanitized binary among a full machine's other tests
    // can take many seconds.
    bool waitForLine(const QByteArray& line) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kHangLimitMs) {
            errors_ += process_.readAllStandardError();
            if (errors_.contains("ravlin: " + line)) {
                return true;
            }
            if (process_.state() == QProcess::NotRunning) {
                errors_ += process_.readAllStandardError();
                return errors_.contains("ravlin: " + line);
            }
            process_.waitForReadyRead(100);
        }
        return false;
    }
    // The exit status once it ended by itself, or -1 (a crash, or a hang).
    int exitStatus() {
        if (!process_.waitForFinished(kHangLimitMs) ||
            process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process_.exitCode();
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    [[nodiscard]] qint64 pid() const { return process_.processId(); }
    [[nodiscard]] bool running() const { return process_.state() == QProcess::Running; }
    [[nodiscard]] const QByteArray& errors() const { return errors_; }

  private:
    QProcess process_;
    QByteArray errors_;
};

class ProgramTest : public ::testing::Test {
  protected:
    QTemporaryDir runtime;
};

TEST_F(ProgramTest, ASecondStartTellsTheFirstAndExitsZero) {
    Ravlin first(runtime.path());
    ASSERT_TRUE(first.waitForLine("running")) << first.errors().toStdString();

    Ravlin second(runtime.path());
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_TRUE(second.waitForLine("already running; asked it to come forward"));
    EXPECT_TRUE(first.waitForLine("asked to come forward")) << first.errors().toStdString();
    EXPECT_TRUE(first.running());
}

TEST_F(ProgramTest, StopsWithStatusZeroOnSigtermAndSigint) {
    for (const int number : {SIGTERM, SIGINT}) {
        Ravlin ravlin(runtime.path());
        ASSERT_TRUE(ravlin.waitForLine("running")) << ravlin.errors().toStdString();
        ravlin.signal(number);
        EXPECT_EQ(ravlin.exitStatus(), 0) << ravlin.errors().toStdString();
        EXPECT_TRUE(ravlin.waitForLine("stopping"));
    }
}

// What a start that has not gone online needs is all it loads: the HTTP library (with its TLS,
// Kerberos and LDAP libraries) comes with the first request.
TEST_F(ProgramTest, AStartLoadsNoHTTPLibrary) {
    Ravlin ravlin(runtime.path());
    ASSERT_TRUE(ravlin.waitForLine("Coordinator started")) << ravlin.errors().toStdString();
    QFile maps(QStringLiteral("/proc/%1/maps").arg(ravlin.pid()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("libcurl"));
    ravlin.signal(SIGTERM);
    EXPECT_EQ(ravlin.exitStatus(), 0) << ravlin.errors().toStdString();
}

TEST_F(ProgramTest, OnlyThePreviewValueOneSkipsTheCoordinator) {
    for (const char* value : {"1", "true", "0", ""}) {
        SCOPED_TRACE(value);
        Ravlin ravlin(runtime.path(), QString::fromUtf8(value));
        ASSERT_TRUE(ravlin.waitForLine("running")) << ravlin.errors().toStdString();
        const bool previews = value == std::string("1");
        if (!previews) {
            EXPECT_TRUE(ravlin.waitForLine("Coordinator started")) << ravlin.errors().toStdString();
        }
        ravlin.signal(SIGTERM);
        EXPECT_EQ(ravlin.exitStatus(), 0);
        ravlin.waitForLine("stopping");
        EXPECT_EQ(ravlin.errors().contains("ravlin: Coordinator started"), !previews);
    }
}

TEST_F(ProgramTest, AStartAfterACrashTakesOverTheLockAndSocket) {
    {
        Ravlin crashed(runtime.path());
        ASSERT_TRUE(crashed.waitForLine("running"));
        crashed.signal(SIGKILL);
        EXPECT_EQ(crashed.exitStatus(), -1);
    }
    ASSERT_TRUE(QFile::exists(runtime.path() + "/ravlin.socket")) << "the crash left it behind";

    Ravlin next(runtime.path());
    ASSERT_TRUE(next.waitForLine("running")) << next.errors().toStdString();
    Ravlin second(runtime.path());
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_TRUE(next.waitForLine("asked to come forward"));
}

TEST_F(ProgramTest, IgnoresClientsThatSendAnythingElse) {
    Ravlin ravlin(runtime.path());
    ASSERT_TRUE(ravlin.waitForLine("running"));
    for (const QByteArray& request :
         {QByteArray("activat"), QByteArray("ACTIVATE\n"), QByteArray(1 << 20, 'x')}) {
        QLocalSocket socket;
        socket.connectToServer(runtime.path() + "/ravlin.socket");
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write(request);
        socket.waitForBytesWritten(1000);
        socket.disconnectFromServer();
    }
    // A real request after them still works, and it is the only one noticed.
    Ravlin second(runtime.path());
    EXPECT_EQ(second.exitStatus(), 0);
    ASSERT_TRUE(ravlin.waitForLine("asked to come forward"));
    EXPECT_EQ(ravlin.errors().count("asked to come forward"), 1);
    EXPECT_TRUE(ravlin.running());
}

// What stands at the settings path or its lock is no regular file: the program starts on the
// defaults at once, says why once, quits on SIGTERM, and leaves every entry as it found it.
TEST_F(ProgramTest, SettingsThatAreNoRegularFileNeitherHangTheStartNorChange) {
    const struct {
        const char* name;
        std::function<bool(const std::string& folder)> arrange;
    } cases[] = {
        {"FIFO at the file",
         [](const std::string& folder) {
             return ::mkfifo((folder + "/ravlin.ini").c_str(), 0600) == 0;
         }},
        {"FIFO at the lock",
         [](const std::string& folder) {
             return ::mkfifo((folder + "/ravlin.ini.lock").c_str(), 0600) == 0;
         }},
        {"link to a device",
         [](const std::string& folder) {
             const auto made = ravlin::testing::makeDeviceOrFifo(folder + "/zero");
             if (made && *made != "character device") {
                 std::cout << "mknod refused: a FIFO stands in for the device\n";
             }
             return made && ::symlink("zero", (folder + "/ravlin.ini").c_str()) == 0;
         }},
        {"link to a FIFO",
         [](const std::string& folder) {
             return ::mkfifo((folder + "/pipe").c_str(), 0600) == 0 &&
                    ::symlink("pipe", (folder + "/ravlin.ini").c_str()) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home;
        const std::string folder = home.filePath("ravlin").toStdString();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
        ASSERT_TRUE(c.arrange(folder));
        std::map<std::string, std::optional<ravlin::testing::FileEntry>> before;
        for (const char* name : {"ravlin.ini", "ravlin.ini.lock", "zero", "pipe"}) {
            before[name] = fileEntryAt(folder + "/" + name);
        }

        QElapsedTimer clock;
        clock.start();
        Ravlin ravlin(home.path());
        ASSERT_TRUE(ravlin.waitForLine("Coordinator started")) << ravlin.errors().toStdString();
        std::cout << c.name << ": started in " << clock.elapsed() << " ms\n";
        EXPECT_EQ(ravlin.errors().count("ravlin: Settings cannot be saved: " +
                                        QByteArray(folder.c_str())),
                  1)
            << ravlin.errors().toStdString();
        ravlin.signal(SIGTERM);
        EXPECT_EQ(ravlin.exitStatus(), 0) << ravlin.errors().toStdString();
        for (const auto& [name, entry] : before) {
            EXPECT_EQ(fileEntryAt(folder + "/" + name), entry) << name;
        }
    }
}

// The socket file removed, or replaced by a file or a link while the program runs: a second
// start still reaches it; a removed socket comes back; what was put there stays after exit.
// (The file or link is made beside it and put in its place in one step: the program makes a
// removed socket again at once, and would be first in the path's empty moment.)
TEST_F(ProgramTest, ASecondStartReachesTheFirstWhateverBecameOfItsSocketFile) {
    enum class Change { removed, file, link };
    for (const Change change : {Change::removed, Change::file, Change::link}) {
        SCOPED_TRACE(static_cast<int>(change));
        QTemporaryDir folder;
        const std::string socket = folder.filePath("ravlin.socket").toStdString();
        const std::string target = folder.filePath("target").toStdString();
        const std::string aside = folder.filePath("aside").toStdString();
        Ravlin first(folder.path());
        ASSERT_TRUE(first.waitForLine("running")) << first.errors().toStdString();
        // (made as the program starts: waited for, bounded only against a hang)
        QElapsedTimer made;
        made.start();
        const auto isSocket = [&] {
            const auto entry = fileEntryAt(socket);
            return entry && S_ISSOCK(entry->mode);
        };
        while (!isSocket() && made.elapsed() < Ravlin::kHangLimitMs) {
            QThread::msleep(10);
        }
        ASSERT_TRUE(isSocket());
        if (change == Change::removed) {
            ASSERT_EQ(::unlink(socket.c_str()), 0);
        } else if (change == Change::file) {
            QFile file(QString::fromStdString(aside));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("not a socket");
            file.close();
            ASSERT_EQ(::rename(aside.c_str(), socket.c_str()), 0);
        } else if (change == Change::link) {
            QFile file(QString::fromStdString(target));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("the link's target");
            file.close();
            ASSERT_EQ(::symlink(target.c_str(), aside.c_str()), 0);
            ASSERT_EQ(::rename(aside.c_str(), socket.c_str()), 0);
        }
        const auto put = fileEntryAt(socket);
        const auto targetBefore = fileEntryAt(target);
        if (change == Change::removed) {
            // Made again, and answering there.
            QLocalSocket client;
            QElapsedTimer waited;
            waited.start();
            while (client.state() != QLocalSocket::ConnectedState &&
                   waited.elapsed() < Ravlin::kHangLimitMs) {
                QThread::msleep(100);
                client.connectToServer(QString::fromStdString(socket));
                client.waitForConnected(1000);
            }
            EXPECT_EQ(client.state(), QLocalSocket::ConnectedState);
        }

        Ravlin second(folder.path());
        EXPECT_EQ(second.exitStatus(), 0) << second.errors().toStdString();
        EXPECT_TRUE(second.waitForLine("already running; asked it to come forward"));
        EXPECT_TRUE(first.waitForLine("asked to come forward")) << first.errors().toStdString();
        first.signal(SIGTERM);
        EXPECT_EQ(first.exitStatus(), 0);
        if (change == Change::removed) {
            EXPECT_FALSE(fileEntryAt(socket).has_value()) << "its own socket goes with it";
        } else {
            EXPECT_EQ(fileEntryAt(socket), put);
            EXPECT_EQ(fileEntryAt(target), targetBefore);
        }
    }
}

// A lock that names no live copy of the program on this machine blocks nothing: the start takes
// it over and says why in one line, and a later start reaches it. A lock its owner still holds
// is never taken over, whatever it has come to say.
TEST_F(ProgramTest, ALockThatNamesNoLiveCopyIsTakenOverWithOneLine) {
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    const QByteArray ids = QSysInfo::machineUniqueId() + "\n" + QSysInfo::bootUniqueId() + "\n";
    const struct {
        const char* name;
        QByteArray content;
        QByteArray reason;
    } cases[] = {
        {"empty", "", "it is empty"},
        {"junk", "\x01\x7f not a lock\n\n\xff", "it is not a lock this program writes"},
        {"too long", QByteArray(64 * 1024, '7'), "it is not a lock this program writes"},
        {"another host", self + "\nravlin\nsome-other-host.example\n\n\n",
         "it was written on another host"},
        {"an earlier boot",
         self + "\nravlin\n" + host + "\n" + QSysInfo::machineUniqueId() + "\nnot-this-boot\n",
         "it was written before the system last started"},
        // This test's own process: alive, but no copy of the program.
        {"another program", self + "\nravlin\n" + host + "\n" + ids,
         "the process it names is not ravlin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        QFile lock(folder.filePath("ravlin.lock"));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly) && lock.write(c.content) == c.content.size());
        lock.close();
        Ravlin ravlin(folder.path());
        ASSERT_TRUE(ravlin.waitForLine("running")) << ravlin.errors().toStdString();
        EXPECT_EQ(
            ravlin.errors().count("ravlin: took over " + folder.filePath("ravlin.lock").toUtf8() +
                                  " (" + c.reason + ")"),
            1)
            << ravlin.errors().toStdString();
        if (&c == &cases[0]) {
            Ravlin second(folder.path());
            EXPECT_EQ(second.exitStatus(), 0) << second.errors().toStdString();
            EXPECT_TRUE(ravlin.waitForLine("asked to come forward"));
        }
        ravlin.signal(SIGTERM);
        EXPECT_EQ(ravlin.exitStatus(), 0) << ravlin.errors().toStdString();
    }

    // The running copy's lock overwritten with junk: still its own.
    Ravlin first(runtime.path());
    ASSERT_TRUE(first.waitForLine("running")) << first.errors().toStdString();
    QFile lock(runtime.filePath("ravlin.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate) && lock.write("junk") == 4);
    lock.close();
    Ravlin second(runtime.path());
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_TRUE(second.waitForLine("already running; asked it to come forward"))
        << second.errors().toStdString();
    EXPECT_FALSE(second.errors().contains("took over")) << second.errors().toStdString();
    EXPECT_TRUE(first.waitForLine("asked to come forward"));
}

// A lock written as QLockFile writes one, naming `pid`, and held as its owner holds it.
ravlin::process::UniqueFd heldLock(const QString& path, const QByteArray& pid) {
    const QByteArray content = pid + "\nravlin\n" + QSysInfo::machineHostName().toUtf8() + "\n" +
                               QSysInfo::machineUniqueId() + "\n" + QSysInfo::bootUniqueId() + "\n";
    ravlin::process::UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd || ::write(fd.get(), content.constData(), content.size()) != content.size() ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return {};
    }
    return fd;
}

// A link in the lock's place that leads nowhere is no lock: taken over, and said. A lock held
// by another process is never taken: the start ends saying who holds it, and why the lock did
// not name a copy that answers where it does not.
TEST_F(ProgramTest, WhatStandsInTheLocksWayIsSaidAndTakenOverOnlyWhereNobodyHoldsIt) {
    {
        SCOPED_TRACE("a link that leads nowhere");
        QTemporaryDir folder;
        const QString lock = folder.filePath("ravlin.lock");
        ASSERT_EQ(::symlink("gone/ravlin.lock", QFile::encodeName(lock).constData()), 0);
        Ravlin ravlin(folder.path());
        ASSERT_TRUE(ravlin.waitForLine("running")) << ravlin.errors().toStdString();
        EXPECT_TRUE(
            ravlin.errors().contains("ravlin: took over " + lock.toUtf8() +
                                     " (it was a link to gone/ravlin.lock, which does not exist)"))
            << ravlin.errors().toStdString();
        const auto entry = fileEntryAt(lock.toStdString());
        EXPECT_TRUE(entry && S_ISREG(entry->mode));
        EXPECT_FALSE(QFile::exists(folder.filePath("gone"))) << "nothing made where it pointed";
        Ravlin second(folder.path());
        EXPECT_EQ(second.exitStatus(), 0);
        EXPECT_TRUE(ravlin.waitForLine("asked to come forward"));
    }

    // A copy that runs elsewhere, for a lock that names a live copy of the program.
    Ravlin elsewhere(runtime.path());
    ASSERT_TRUE(elsewhere.waitForLine("running")) << elsewhere.errors().toStdString();
    const auto copy = QByteArray::number(static_cast<qint64>(elsewhere.pid()));
    const auto self = QByteArray::number(QCoreApplication::applicationPid());
    const struct {
        const char* name;
        QByteArray pid;  // named by the held lock
        QByteArray said;
    } held[] = {
        {"naming a live copy", copy,
         "another copy (pid " + copy + ") holds %1 but does not answer on %2"},
        {"naming another program", self,
         "%1 is stale (the process it names is not ravlin) but another process holds it"},
    };
    for (const auto& c : held) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QString lock = folder.filePath("ravlin.lock");
        const auto holder = heldLock(lock, c.pid);
        ASSERT_TRUE(holder);
        Ravlin ravlin(folder.path());
        EXPECT_EQ(ravlin.exitStatus(), 1);
        const QString said = QString::fromUtf8(c.said).arg(lock, folder.filePath("ravlin.socket"));
        EXPECT_TRUE(ravlin.waitForLine("cannot start: " + said.toUtf8()))
            << ravlin.errors().toStdString();
    }
}

// A runtime folder with no room left: no lock can be made in it, nor can a stale one be
// replaced, and the start says so. The folder is a small file system of the start's own, filled
// before it runs (in a user and mount namespace of its own).
TEST_F(ProgramTest, AFullRuntimeFolderIsSaid) {
    if (QProcess::execute("unshare", {"--user", "--map-root-user", "--mount", "true"}) != 0) {
        GTEST_SKIP() << "this system gives no user and mount namespaces to fill a folder in";
    }
    const struct {
        const char* name;
        std::optional<QByteArray> lock;  // left there before the folder filled
        QByteArray said;
    } cases[] = {
        {"empty", std::nullopt, "%1 cannot be made: %2 is full"},
        {"with a stale lock", QByteArray(),
         "%1 is stale (it is empty) but cannot be replaced: %2 is full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QStringList wrapper = {"unshare",
                                     "--user",
                                     "--map-root-user",
                                     "--mount",
                                     "sh",
                                     "-c",
                                     "mount -t tmpfs -o size=16k ravlin-full \"$1\" || exit 99\n"
                                     "[ \"$2\" = none ] || printf %s \"$2\" > \"$1/ravlin.lock\"\n"
                                     "head -c 1048576 /dev/zero > \"$1/fill\" 2>/dev/null\n"
                                     "shift 2\nexec \"$@\"",
                                     "sh",
                                     folder.path(),
                                     c.lock ? QString::fromUtf8(*c.lock) : QStringLiteral("none")};
        Ravlin ravlin(folder.path(), {}, wrapper);
        EXPECT_EQ(ravlin.exitStatus(), 1);
        const QString said =
            QString::fromUtf8(c.said).arg(folder.filePath("ravlin.lock"), folder.path());
        EXPECT_TRUE(ravlin.waitForLine("cannot start: " + said.toUtf8()))
            << ravlin.errors().toStdString();
    }
}

// Something of someone else's where the socket file goes: left alone, and said; a later start
// reaches the program all the same.
TEST_F(ProgramTest, WhatStandsWhereTheSocketGoesIsSaidAndLeftAlone) {
    const QString socket = runtime.filePath("ravlin.socket");
    {
        QFile file(socket);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("mine") == 4);
    }
    const auto put = fileEntryAt(socket.toStdString());
    Ravlin first(runtime.path());
    ASSERT_TRUE(first.waitForLine("running")) << first.errors().toStdString();
    EXPECT_TRUE(first.errors().contains("ravlin: cannot listen on " + socket.toUtf8() +
                                        ": it is a regular file; a later start reaches this one "
                                        "all the same"))
        << first.errors().toStdString();
    Ravlin second(runtime.path());
    EXPECT_EQ(second.exitStatus(), 0);
    EXPECT_TRUE(first.waitForLine("asked to come forward"));
    EXPECT_EQ(fileEntryAt(socket.toStdString()), put);
}

// Without XDG_RUNTIME_DIR the lock and socket go into ravlin-<uid> in the temporary folder: made
// private, or made so where it is the user's own; anything else there (another user's folder, a
// link to one) is refused with the reason, nothing of it used.
TEST_F(ProgramTest, WithoutARuntimeFolderOnlyAPrivateFolderOfTheUsersOwnIsUsed) {
    enum class Found { nothing, ownOpenFolder, link, othersFolder };
    for (const Found found :
         {Found::nothing, Found::ownOpenFolder, Found::link, Found::othersFolder}) {
        SCOPED_TRACE(static_cast<int>(found));
        // Only root can make a folder another user owns.
        if (found == Found::othersFolder && ::geteuid() != 0) {
            continue;
        }
        QTemporaryDir temporary;
        const QString folder = temporary.filePath(QStringLiteral("ravlin-%1").arg(::getuid()));
        QTemporaryDir elsewhere;
        if (found == Found::ownOpenFolder) {
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
        } else if (found == Found::link) {
            ASSERT_TRUE(QFile::link(elsewhere.path(), folder));
        } else if (found == Found::othersFolder) {
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
            ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        Ravlin ravlin(runtime.path(), {}, {}, [&](QProcessEnvironment& environment) {
            environment.remove("XDG_RUNTIME_DIR");
            environment.insert("TMPDIR", temporary.path());
        });
        if (found == Found::link || found == Found::othersFolder) {
            EXPECT_EQ(ravlin.exitStatus(), 1);
            EXPECT_TRUE(
                ravlin.waitForLine("cannot start: " + QFile::encodeName(folder) +
                                   (found == Found::link ? " is a link, not a folder"
                                                         : " belongs to another user (uid 65534)")))
                << ravlin.errors().toStdString();
            EXPECT_TRUE(QDir(found == Found::link ? elsewhere.path() : folder).isEmpty())
                << "nothing made in it";
            continue;
        }
        ASSERT_TRUE(ravlin.waitForLine("running")) << ravlin.errors().toStdString();
        struct stat entry {};
        ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &entry), 0);
        EXPECT_TRUE(S_ISDIR(entry.st_mode));
        EXPECT_EQ(entry.st_mode & 07777, 0700u);
        EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/ravlin.lock")));
        ravlin.signal(SIGTERM);
        EXPECT_EQ(ravlin.exitStatus(), 0) << ravlin.errors().toStdString();
    }
}

// A FIFO where the instance lock goes ends the start at once, with the reason.
TEST_F(ProgramTest, AnInstanceLockThatIsNoRegularFileEndsTheStartWithTheReason) {
    ASSERT_EQ(::mkfifo(runtime.filePath("ravlin.lock").toLocal8Bit().constData(), 0600), 0);
    Ravlin ravlin(runtime.path());
    EXPECT_EQ(ravlin.exitStatus(), 1);
    EXPECT_TRUE(
        ravlin.waitForLine("cannot start: " + runtime.filePath("ravlin.lock").toLocal8Bit() +
                           " is a FIFO, not a regular file"))
        << ravlin.errors().toStdString();
}

}  // namespace
