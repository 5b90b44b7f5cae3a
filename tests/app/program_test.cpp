// The real `ravlin` binary in an offscreen session: one instance per runtime folder, a clean
// stop on signals, a stale lock and socket taken over, hostile clients ignored.

#include <gtest/gtest.h>
#include <signal.h>

#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace {

class Ravlin {
  public:
    explicit Ravlin(const QString& runtimeFolder, const QString& previews = {}) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtimeFolder);
        environment.insert("XDG_CONFIG_HOME", runtimeFolder);
        environment.remove("XCODE_RUNNING_FOR_PREVIEWS");
        if (!previews.isNull()) {
            environment.insert("XCODE_RUNNING_FOR_PREVIEWS", previews);
        }
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(RAVLIN_PROGRAM, {});
    }
    ~Ravlin() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Waits (at most 20 s: the binary carries the sanitizers) until standard error has `line`.
    bool waitForLine(const QByteArray& line) {
        for (int i = 0; i < 200; ++i) {
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
    // The exit status once it ended by itself (at most 20 s), or -1.
    int exitStatus() {
        if (!process_.waitForFinished(20000) || process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process_.exitCode();
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
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

}  // namespace
