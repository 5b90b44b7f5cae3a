#pragma once

// Checks that a piece of work gave back everything it took from this process: descriptors,
// threads and processes. Take a snapshot before the work, then ask what is still held after it.
//
//   testing::markDescendantEnvironment();          // once, before any thread is started
//   const auto before = testing::ResourceSnapshot::take();
//   ... run the work, destroy servers and fixtures ...
//   EXPECT_EQ(testing::resourcesLeakedSince(before), std::vector<std::string>{});
//
// Processes are found two ways: children of this process (zombies included, so a child that was
// never reaped counts), and any process whose environment carries this process's marker (so a
// grandchild that outlived its parent, in any process group or session, counts too). Only
// processes started after markDescendantEnvironment() carry the marker. The thread that
// ThreadSanitizer's runtime keeps for itself is started before the first count, so it never
// counts as a leak.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace ravlin::testing {

// Sets an environment variable naming this process, inherited by every process started from it
// afterwards. Changing the environment is not thread-safe: call it before starting threads.
// Calling it again does nothing.
void markDescendantEnvironment();

// Processes other than this one that are children of it or carry its marker.
[[nodiscard]] std::vector<pid_t> descendantProcesses();

struct ResourceSnapshot {
    // Open descriptors and what each refers to.
    std::map<int, std::string> descriptors;
    int threads = 0;
    std::vector<pid_t> processes;

    [[nodiscard]] static ResourceSnapshot take();
};

// What is held now that was not held at `before`: one line per descriptor, one for the thread
// count, one per process. Work that is still winding down (a thread being joined, a process being
// reaped) is given up to `settle` to finish; the answer is empty when nothing was leaked.
[[nodiscard]] std::vector<std::string> resourcesLeakedSince(
    const ResourceSnapshot& before,
    std::chrono::milliseconds settle = std::chrono::milliseconds(2000));

}  // namespace ravlin::testing
