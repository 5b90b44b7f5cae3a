#include "tests/support/resource_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define RAVLIN_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RAVLIN_THREAD_SANITIZER 1
#endif
#endif

namespace ravlin::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMarkerName = "RAVLIN_TEST_DESCENDANT_OF";

std::string marker() {
    return std::string(kMarkerName) + "=" + std::to_string(::getpid());
}

std::optional<int> numberNamed(const fs::path& path) {
    const std::string name = path.filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(),
                                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    return std::stoi(name);
}

// The whole content of a file under /proc, or what could be read of it. Plain reads: the
// process behind the file may end while it is read, and a stream would throw for that.
std::string readWhole(const std::string& path) {
    std::string content;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return content;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            content.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    return content;
}

// The parent's identifier and the state letter from /proc/<pid>/stat; absent when it is gone.
std::optional<std::pair<pid_t, char>> parentAndState(pid_t pid) {
    const std::string stat = readWhole("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) {
        return std::nullopt;
    }
    const char state = stat[close + 2];
    return std::pair{static_cast<pid_t>(std::atoi(stat.c_str() + close + 4)), state};
}

bool carriesMarker(pid_t pid, const std::string& wanted) {
    const std::string environment = readWhole("/proc/" + std::to_string(pid) + "/environ");
    std::size_t start = 0;
    while (start < environment.size()) {
        const std::size_t end = std::min(environment.find('\0', start), environment.size());
        if (environment.compare(start, end - start, wanted) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string describeProcess(pid_t pid) {
    std::string command = readWhole("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(command.begin(), command.end(), '\0', ' ');
    const auto info = parentAndState(pid);
    return "process " + std::to_string(pid) + " (" +
           (info ? std::string("state ") + info->second + ", parent " + std::to_string(info->first)
                 : std::string("gone")) +
           "): " + command;
}

std::map<int, std::string> openDescriptors() {
    std::map<int, std::string> descriptors;
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(it->path());
    }
    // The listing's own descriptor is closed by now: its link no longer resolves and it is
    // skipped, like any descriptor closed between the listing and the reading.
    for (const auto& path : entries) {
        const auto fd = numberNamed(path);
        if (!fd) {
            continue;
        }
        std::error_code linkError;
        const fs::path target = fs::read_symlink(path, linkError);
        if (linkError && linkError != std::errc::no_such_file_or_directory) {
            descriptors[*fd] = "?";
        } else if (!linkError) {
            descriptors[*fd] = target.string();
        }
    }
    return descriptors;
}

int threadCount() {
    int count = 0;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error)) {
        if (numberNamed(it->path())) {
            ++count;
        }
    }
    return count;
}

// ThreadSanitizer's runtime starts a thread of its own when the program makes its first thread,
// and keeps it to the end. Having it started before threads are counted keeps it out of every
// difference.
void startSanitizerThreads() {
#ifdef RAVLIN_THREAD_SANITIZER
    static const bool started = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)started;
#endif
}

std::vector<std::string> leaksNow(const ResourceSnapshot& before) {
    std::vector<std::string> leaks;
    for (const auto& [fd, target] : openDescriptors()) {
        const auto old = before.descriptors.find(fd);
        if (old == before.descriptors.end() || old->second != target) {
            leaks.push_back("descriptor " + std::to_string(fd) + " -> " + target);
        }
    }
    if (const int threads = threadCount(); threads > before.threads) {
        leaks.push_back("threads: " + std::to_string(threads) + " now, " +
                        std::to_string(before.threads) + " before");
    }
    for (const pid_t pid : descendantProcesses()) {
        if (std::find(before.processes.begin(), before.processes.end(), pid) ==
            before.processes.end()) {
            leaks.push_back(describeProcess(pid));
        }
    }
    return leaks;
}

}  // namespace

void markDescendantEnvironment() {
    static const bool marked = [] {
        const std::string value = std::to_string(::getpid());
        ::setenv(kMarkerName, value.c_str(), 1);
        return true;
    }();
    (void)marked;
}

std::vector<pid_t> descendantProcesses() {
    const pid_t self = ::getpid();
    const std::string wanted = marker();
    std::vector<pid_t> found;
    std::error_code error;
    // Plain increments with an error code: a range-for would throw when the listing fails.
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const auto pid = numberNamed(it->path());
        if (!pid || *pid == self) {
            continue;
        }
        const auto info = parentAndState(*pid);
        if (!info) {
            continue;
        }
        if (info->first == self || (info->second != 'Z' && carriesMarker(*pid, wanted))) {
            found.push_back(*pid);
        }
    }
    return found;
}

ResourceSnapshot ResourceSnapshot::take() {
    startSanitizerThreads();
    return {openDescriptors(), threadCount(), descendantProcesses()};
}

std::vector<std::string> resourcesLeakedSince(const ResourceSnapshot& before,
                                              std::chrono::milliseconds settle) {
    const auto deadline = std::chrono::steady_clock::now() + settle;
    for (;;) {
        std::vector<std::string> leaks = leaksNow(before);
        if (leaks.empty() || std::chrono::steady_clock::now() >= deadline) {
            return leaks;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace ravlin::testing
