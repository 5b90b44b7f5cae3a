#include "app/preferences/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QLockFile>
#include <cerrno>
#include <climits>
#include <cstring>

#include "core/process/replace_file.h"
#include "core/process/unique_fd.h"

namespace ravlin {
namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;
// Another process writing the settings is done well within this; past it, this write gives up.
constexpr int kLockWaitMs = 100;

std::string errorText(int error) {
    return std::strerror(error);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a path leads once every link is followed, and what stands there (nothing: absent).
struct Target {
    std::string path;
    std::optional<struct stat> status;
};

std::variant<Target, std::string> follow(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0) {
            if (errno == ENOENT) {
                return Target{current, std::nullopt};
            }
            return current + ": " + errorText(errno);
        }
        if (!S_ISLNK(status.st_mode)) {
            return Target{current, status};
        }
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), buffer, sizeof buffer);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
            return current + ": " + errorText(length < 0 ? errno : ENAMETOOLONG);
        }
        const std::string link(buffer, static_cast<std::size_t>(length));
        current = link.starts_with('/') ? link : folderOf(current) + "/" + link;
    }
    return path + ": " + errorText(ELOOP);
}

}  // namespace

const char* kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return "a regular file";
    }
    if (S_ISLNK(mode)) {
        return "a link";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    return "a special file";
}

namespace {

// "/x/ravlin.ini is a FIFO, not a regular file"; through a link, "/x/ravlin.ini is a link to
// /dev/zero, a character device, not a regular file".
std::string notRegular(const std::string& path, const std::string& target, mode_t mode) {
    if (target == path) {
        return path + " is " + kindOf(mode) + ", not a regular file";
    }
    return path + " is a link to " + target + ", " + kindOf(mode) + ", not a regular file";
}

// Where the path leads when that is a regular file or nothing; else why not.
std::variant<Target, std::string> regularOrAbsent(const std::string& path) {
    auto followed = follow(path);
    if (const auto* target = std::get_if<Target>(&followed);
        target != nullptr && target->status && !S_ISREG(target->status->st_mode)) {
        return notRegular(path, target->path, target->status->st_mode);
    }
    return followed;
}

std::optional<std::string> lockTrouble(const QLockFile& lock, const std::string& path) {
    switch (lock.error()) {
        case QLockFile::NoError:
            return std::nullopt;
        case QLockFile::LockFailedError:
            return path + " is held by another process";
        case QLockFile::PermissionError:
            return path + ": " + errorText(EACCES);
        default:
            return path + " cannot be made";
    }
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::variant<QByteArray, std::string> readRegularFile(const std::string& path, qsizetype limit) {
    auto checked = regularOrAbsent(path);
    if (auto* problem = std::get_if<std::string>(&checked)) {
        return std::move(*problem);
    }
    const auto& target = std::get<Target>(checked);
    if (!target.status) {
        return QByteArray();
    }
    // The name was a regular file a moment ago. Opening it neither follows a link put there
    // since nor waits on a FIFO, and whatever else was swapped in is left unread.
    const process::UniqueFd file(
        ::open(target.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        return path + ": " + errorText(errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return path + ": " + errorText(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return notRegular(path, target.path, status.st_mode);
    }
    QByteArray content(limit + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < content.size()) {
        const ssize_t got = ::read(file.get(), content.data() + size,
                                   static_cast<std::size_t>(content.size() - size));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return path + ": " + errorText(errno);
        }
        if (got == 0) {
            break;
        }
        size += got;
    }
    content.truncate(size);
    return content;
}

std::variant<QByteArray, std::string> SettingsFile::read() const {
    auto read = readRegularFile(path_, maxBytes);
    if (const auto* content = std::get_if<QByteArray>(&read);
        content != nullptr && content->size() > maxBytes) {
        return path_ + " is larger than 1 MiB";
    }
    return read;
}

std::optional<std::string> regularFileProblem(const std::string& path) {
    if (auto checked = regularOrAbsent(path);
        const auto* problem = std::get_if<std::string>(&checked)) {
        return *problem;
    }
    return std::nullopt;
}

std::optional<std::string> SettingsFile::lockProblem() const {
    return regularFileProblem(lockPath());
}

std::optional<std::string> SettingsFile::write(const QByteArray& content) const {
    // The lock sits beside the name the program was given, in a folder made on first use.
    const std::string folder = folderOf(path_);
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        return folder + " cannot be made";
    }
    if (auto problem = lockProblem()) {
        return problem;
    }
    QLockFile lock(QString::fromStdString(lockPath()));
    if (!lock.tryLock(kLockWaitMs)) {
        return lockTrouble(lock, lockPath()).value_or(lockPath() + " cannot be taken");
    }
    auto checked = regularOrAbsent(path_);
    if (auto* problem = std::get_if<std::string>(&checked)) {
        return std::move(*problem);
    }
    const auto& target = std::get<Target>(checked);
    if (!target.status && !QDir().mkpath(QString::fromStdString(folderOf(target.path)))) {
        return folderOf(target.path) + " cannot be made";
    }

    // A new file beside the target, then renamed over it: a reader sees the old content or the
    // new, and a link to the target stays as it is.
    process::ReplaceFileSteps steps;
    if (target.status) {
        steps.prepare = [&](int descriptor) {
            if (::geteuid() == 0) {
                // Run as root over someone's file: it stays theirs.
                (void)::fchown(descriptor, target.status->st_uid, target.status->st_gid);
            }
            return ::fchmod(descriptor, target.status->st_mode & 07777) != 0 ? errno : 0;
        };
    }
    // The rename replaces a name: what stands there must still be a regular file or nothing.
    steps.beforeRename = [&]() -> std::optional<std::string> {
        struct stat now {};
        if (::lstat(target.path.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
            return notRegular(path_, target.path, now.st_mode);
        }
        return std::nullopt;
    };
    if (auto failure = process::replaceFileByRename(
            target.path, target.path + ".XXXXXX",
            std::string_view(content.constData(), static_cast<std::size_t>(content.size())),
            steps)) {
        if (failure->refusal) {
            return failure->refusal;
        }
        return (failure->creating ? folderOf(target.path) : target.path) + ": " +
               errorText(failure->error);
    }
    return std::nullopt;
}

}  // namespace ravlin
