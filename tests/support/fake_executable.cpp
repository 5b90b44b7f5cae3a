#include "tests/support/fake_executable.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ravlin::testing {

namespace fs = std::filesystem;

FakeExecutableDirectory::FakeExecutableDirectory() {
    std::string pattern = (fs::temp_directory_path() / "ravlin-fake-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

FakeExecutableDirectory::~FakeExecutableDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string FakeExecutableDirectory::file(const std::string& name) const {
    return (path_ / name).string();
}

std::string FakeExecutableDirectory::writeScript(const std::string& name, const std::string& body) {
    const std::string header = "#!/bin/sh\nFAKE_DIR='" + path_.string() + "'\n";
    return writeFile(name, header + body + "\n",
                     fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec);
}

std::string FakeExecutableDirectory::writeFile(const std::string& name, const std::string& content,
                                               fs::perms mode) {
    const fs::path target = path_ / name;
    fs::create_directories(target.parent_path());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << content;
    }
    fs::permissions(target, mode, fs::perm_options::replace);
    return target.string();
}

std::optional<std::string> FakeExecutableDirectory::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string startOutsiderScript(const std::string& pidFile) {
    const std::string file = "\"$FAKE_DIR/" + pidFile + "\"";
    return "setsid /bin/sh -c 'echo $$ > \"$1\"; exec sleep 30' outsider " + file + " &\n" +
           "while [ ! -s " + file + " ]; do sleep 0.01; done\nexit 0";
}

std::optional<pid_t> waitForPidFile(const std::string& path, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::ifstream in(path);
        long pid = 0;
        if (in >> pid && pid > 1) {
            return static_cast<pid_t>(pid);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool processIsRunning(pid_t pid) {
    if (pid <= 1 || (::kill(pid, 0) != 0 && errno == ESRCH)) {
        return false;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    if (close == std::string::npos || close + 2 >= content.size()) {
        return false;  // gone between the two looks
    }
    const char state = content[close + 2];
    return state != 'Z' && state != 'X';
}

bool waitUntilEnded(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (processIsRunning(pid)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void killAndForget(pid_t pid) {
    if (pid > 1 && processIsRunning(pid)) {
        ::kill(pid, SIGKILL);
        (void)waitUntilEnded(pid);
    }
}

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count - 1;  // the directory iterator's own descriptor
}

std::chrono::milliseconds since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

std::string numberedLines(std::size_t bytes) {
    std::string text;
    for (int line = 0; text.size() < bytes; ++line) {
        text += "line " + std::to_string(line) + " of the pattern\n";
    }
    text.resize(bytes);
    return text;
}

}  // namespace ravlin::testing
