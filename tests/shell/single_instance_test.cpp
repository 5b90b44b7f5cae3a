// The running program's socket file, watched rather than polled: removed, it is made again at
// once; replaced by something else (by a rename over it or after a removal), that is left alone
// until the name is free, and then the socket comes back. No timer runs meanwhile.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <string>

#include "app/shell/single_instance.h"
#include "core/process/unique_fd.h"
#include "tests/support/file_entries.h"

// (The suite's application is made in start_up_test.cpp.)
namespace ravlin {
namespace {

using testing::FileEntry;
using testing::fileEntryAt;

// Well under the 2 s the folder was once polled at: a change must be seen as it happens.
constexpr int kSeenWithinMs = 1000;

// A socket of someone else's, bound at `path`; it stays bound while the returned descriptor
// lives.
process::UniqueFd bindSocketAt(const std::string& path) {
    process::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (!fd || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    return fd;
}

bool writeFile(const std::string& path, const char* text) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly) && file.write(text) > 0;
}

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(instance.claim(0), SingleInstance::Claim::First);
        const auto made = fileEntryAt(socket);
        ASSERT_TRUE(made && S_ISSOCK(made->mode));
    }

    // Once the path is free: a socket stands there again and the instance answers on it.
    bool remade() {
        const bool remade = QTest::qWaitFor(
            [&] {
                const auto now = fileEntryAt(socket);
                return now && S_ISSOCK(now->mode);
            },
            kSeenWithinMs);
        if (!remade) {
            return false;
        }
        QSignalSpy asked(&instance, &SingleInstance::activationRequested);
        QLocalSocket client;
        client.connectToServer(QString::fromStdString(socket));
        if (!client.waitForConnected(2000)) {
            ADD_FAILURE() << "connect: " << client.errorString().toStdString();
            return false;
        }
        client.write("activate\n");
        client.flush();
        if (asked.empty() && !asked.wait(2000)) {
            ADD_FAILURE() << "not asked to come forward";
            return false;
        }
        return true;
    }

    // A timer of the instance's that runs; a served client's goes with it.
    [[nodiscard]] bool timerRunning() const {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QTimer* timer : instance.findChildren<QTimer*>()) {
            if (timer->isActive()) {
                return true;
            }
        }
        return false;
    }

    QTemporaryDir folder;
    SingleInstance instance{folder.path(), QStringLiteral("ravlin")};
    const std::string socket = folder.filePath("ravlin.socket").toStdString();
    const std::string beside = folder.filePath("beside").toStdString();
};

TEST_F(SingleInstanceTest, ARemovedSocketIsMadeAgainAtOnce) {
    EXPECT_FALSE(timerRunning()) << "nothing runs while nothing happens";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(::unlink(socket.c_str()), 0);
        EXPECT_TRUE(remade());
    }
    EXPECT_FALSE(timerRunning());
}

// What takes the socket's place stays as it was put there while it stands; once it is gone the
// socket comes back. Each way of taking the place, by a rename over the socket (one event, the
// socket never missing) or after a removal.
TEST_F(SingleInstanceTest, WhatReplacesTheSocketIsLeftAloneUntilTheNameIsFree) {
    struct Case {
        const char* name;
        std::function<bool(const std::string& at)> put;  // makes the stand-in at `at`
        bool renamedOver;
    };
    process::UniqueFd foreignSocket;
    const Case cases[] = {
        {"a file renamed over it", [](const std::string& at) { return writeFile(at, "mine"); },
         true},
        {"a file after a removal", [](const std::string& at) { return writeFile(at, "mine"); },
         false},
        {"a link renamed over it",
         [](const std::string& at) { return ::symlink("/nowhere", at.c_str()) == 0; }, true},
        {"another socket renamed over it",
         [&](const std::string& at) { return (foreignSocket = bindSocketAt(at)).get() >= 0; },
         true},
        {"another socket after a removal",
         [&](const std::string& at) { return (foreignSocket = bindSocketAt(at)).get() >= 0; },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(beside.c_str());
        if (c.renamedOver) {
            ASSERT_TRUE(c.put(beside));
            ASSERT_EQ(::rename(beside.c_str(), socket.c_str()), 0);
        } else {
            ASSERT_EQ(::unlink(socket.c_str()), 0);
            ASSERT_TRUE(c.put(socket));
        }
        const auto put = fileEntryAt(socket);
        // Long enough for a watch to act on it, wrongly or not.
        QTest::qWait(100);
        EXPECT_EQ(fileEntryAt(socket), put) << "not ours to replace";
        EXPECT_FALSE(timerRunning());

        ASSERT_EQ(::unlink(socket.c_str()), 0);
        foreignSocket = {};
        EXPECT_TRUE(remade());
    }
}

// The socket file goes with the instance only while it is the one the instance made.
TEST(SingleInstanceExit, RemovesOnlyTheSocketItMade) {
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced);
        QTemporaryDir folder;
        const std::string socket = folder.filePath("ravlin.socket").toStdString();
        {
            SingleInstance instance(folder.path(), QStringLiteral("ravlin"));
            ASSERT_EQ(instance.claim(0), SingleInstance::Claim::First);
            if (replaced) {
                const std::string beside = folder.filePath("beside").toStdString();
                ASSERT_TRUE(writeFile(beside, "mine"));
                ASSERT_EQ(::rename(beside.c_str(), socket.c_str()), 0);
                QTest::qWait(50);
            }
        }
        const auto left = fileEntryAt(socket);
        EXPECT_EQ(left.has_value(), replaced);
        if (left) {
            EXPECT_TRUE(S_ISREG(left->mode));
        }
    }
}

}  // namespace
}  // namespace ravlin
