// The leak check every end-to-end case relies on must itself see leaks: a descriptor, a thread,
// a child never reaped and a grandchild that outlived its parent.

#include "tests/support/resource_watch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/core-e2e/e2e_harness.h"
#include "tests/support/fake_executable.h"

extern char** environ;

namespace ravlin::e2e {
namespace {

bool mentions(const std::vector<std::string>& leaks, std::string_view what) {
    return std::any_of(leaks.begin(), leaks.end(), [&](const std::string& leak) {
        return leak.find(what) != std::string::npos;
    });
}

pid_t spawnShell(const std::string& script) {
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    return pid;
}

TEST(ResourceWatch, SeesEachKindOfLeakAndNothingOnceItIsGivenBack) {
    const auto before = testing::ResourceSnapshot::take();
    EXPECT_EQ(testing::resourcesLeakedSince(before, 0ms), std::vector<std::string>{});

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_TRUE(mentions(testing::resourcesLeakedSince(before, 0ms), "pipe:"));
    ::close(fds[0]);
    ::close(fds[1]);

    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
    std::thread waiting([&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return done; });
    });
    EXPECT_TRUE(mentions(testing::resourcesLeakedSince(before, 0ms), "threads:"));
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    released.notify_all();
    waiting.join();

    // A child that exited but was never reaped.
    const pid_t child = spawnShell("exit 0");
    EXPECT_TRUE(mentions(testing::resourcesLeakedSince(before, 200ms), std::to_string(child)));
    int status = 0;
    ::waitpid(child, &status, 0);

    // A grandchild left running after its parent ended and was reaped.
    testing::FakeExecutableDirectory dir;
    const pid_t parent = spawnShell("sleep 30 & echo $! > '" + dir.file("grandchild.pid") + "'");
    ::waitpid(parent, &status, 0);
    const auto grandchild = testing::waitForPidFile(dir.file("grandchild.pid"));
    ASSERT_TRUE(grandchild.has_value());
    EXPECT_TRUE(mentions(testing::resourcesLeakedSince(before, 0ms), std::to_string(*grandchild)));
    testing::killAndForget(*grandchild);

    EXPECT_EQ(testing::resourcesLeakedSince(before), std::vector<std::string>{});
}

}  // namespace
}  // namespace ravlin::e2e
