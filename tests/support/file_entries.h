#pragma once

// What stands at a path, for tests that must leave things as they found them: the entry's type,
// inode and device number and, for a link, the text it holds. And special files of the test's own
// making to put in a program's way.

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>

namespace ravlin::testing {

struct FileEntry {
    mode_t mode = 0;
    ino_t inode = 0;
    dev_t device = 0;  // a device node's own numbers
    off_t size = 0;
    std::string link;  // the text of a link

    friend bool operator==(const FileEntry&, const FileEntry&) = default;
};

// A link is not followed.
inline std::optional<FileEntry> fileEntryAt(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    FileEntry entry{status.st_mode, status.st_ino, status.st_rdev, status.st_size, {}};
    if (S_ISLNK(status.st_mode)) {
        std::array<char, 4096> text{};
        const ssize_t length = ::readlink(path.c_str(), text.data(), text.size());
        entry.link.assign(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return entry;
}

// A character device node with the numbers of /dev/zero (creating one needs root); where the
// system refuses, a FIFO. Answers which of the two it made, or nothing.
inline std::optional<std::string> makeDeviceOrFifo(const std::string& path) {
    if (::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
        return "character device";
    }
    if (::mkfifo(path.c_str(), 0600) == 0) {
        return "FIFO";
    }
    return std::nullopt;
}

}  // namespace ravlin::testing
