#include "app/shell/single_instance.h"

#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstring>

#include "app/preferences/settings_file.h"
#include "core/process/unique_fd.h"

namespace ravlin {
namespace {

// What a later start sends; anything else is ignored.
constexpr QByteArrayView kActivate = "activate\n";
// A client that says nothing useful in this time is dropped.
constexpr int kClientTimeoutMs = 2000;
// A lock of ours is a few short lines; anything longer is not one.
constexpr qsizetype kMaxLockBytes = 4096;

// The socket file's path, or the same name in the abstract namespace (after a leading NUL).
struct Address {
    sockaddr_un address{};
    socklen_t length = 0;
};

std::optional<Address> addressOf(const QByteArray& path, bool abstract) {
    Address result;
    result.address.sun_family = AF_UNIX;
    const auto size = static_cast<std::size_t>(path.size());
    // A path ends with its NUL; an abstract name begins with one.
    if (size + 1 > sizeof result.address.sun_path) {
        return std::nullopt;
    }
    std::memcpy(result.address.sun_path + (abstract ? 1 : 0), path.constData(), size);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size + 1);
    return result;
}

const sockaddr* asSocketAddress(const Address& address) {
    return reinterpret_cast<const sockaddr*>(&address.address);
}

// Whether the process at the other end of a connected socket runs as this user.
bool peerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::geteuid();
}

// What stands at `path`, a link not followed.
std::optional<struct stat> entryAt(const QByteArray& path) {
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0) {
        return std::nullopt;
    }
    return status;
}

// Connects to the address, makes sure a process of this user listens there, and asks it to
// come forward. Never through a link or file put where the socket file was.
bool tell(const QByteArray& path, bool abstract) {
    const auto address = addressOf(path, abstract);
    if (!address) {
        return false;
    }
    if (!abstract) {
        const auto entry = entryAt(path);
        if (!entry || !S_ISSOCK(entry->st_mode)) {
            return false;
        }
    }
    const process::UniqueFd socket(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket || ::connect(socket.get(), asSocketAddress(*address), address->length) != 0 ||
        !peerIsThisUser(socket.get())) {
        return false;
    }
    return ::send(socket.get(), kActivate.data(), static_cast<std::size_t>(kActivate.size()),
                  MSG_NOSIGNAL) == kActivate.size();
}

// Where the link at `path` points, as written in it.
std::optional<std::string> linkTarget(const QByteArray& path) {
    char buffer[PATH_MAX];
    const auto length = ::readlink(path.constData(), buffer, sizeof buffer);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

// Where the link at `path` points, when it leads nowhere: its target, followed, does not exist.
std::optional<std::string> danglingLinkTarget(const QByteArray& path) {
    const auto entry = entryAt(path);
    struct stat followed {};
    if (!entry || !S_ISLNK(entry->st_mode) || ::stat(path.constData(), &followed) == 0 ||
        (errno != ENOENT && errno != ENOTDIR)) {
        return std::nullopt;
    }
    return linkTarget(path);
}

// Why nothing can be made in `folder` where the folder itself says: gone, read-only, full, not
// writable. Nothing when it looks usable.
std::optional<std::string> folderProblem(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    const std::string name = folder.toStdString();
    struct statvfs status {};
    if (::statvfs(path.constData(), &status) != 0) {
        return name + ": " + std::strerror(errno);
    }
    if ((status.f_flag & ST_RDONLY) != 0) {
        return name + " is on a read-only file system";
    }
    // Room for nothing more, or no more names (where the file system counts them).
    if (status.f_bavail == 0 || (status.f_files > 0 && status.f_favail == 0)) {
        return name + " is full";
    }
    if (::access(path.constData(), W_OK | X_OK) != 0) {
        return name + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

// The file name of the executable a process runs ("ravlin"), empty when it cannot be told.
QByteArray executableOf(const QByteArray& pid) {
    char buffer[PATH_MAX];
    const QByteArray link = "/proc/" + pid + "/exe";
    const auto length = ::readlink(link.constData(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return {};
    }
    QByteArray path(buffer, length);
    // The executable was replaced on disk while it ran.
    if (constexpr QByteArrayView deleted = " (deleted)"; path.endsWith(deleted)) {
        path.chop(deleted.size());
    }
    return path.mid(path.lastIndexOf('/') + 1);
}

}  // namespace

std::optional<std::string> SingleInstance::staleness(const QByteArray& content) {
    if (content.isEmpty()) {
        return "it is empty";
    }
    // What QLockFile writes: the process id, its executable's name, the host name, the machine
    // and boot ids, one a line.
    const QList<QByteArray> lines = content.split('\n');
    const QByteArray& pidText = lines[0];
    int pid = 0;
    const auto parsed = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
    if (content.size() > kMaxLockBytes || lines.size() < 4 || parsed.ec != std::errc() ||
        parsed.ptr != pidText.data() + pidText.size() || pid <= 0) {
        return "it is not a lock this program writes";
    }
    const auto line = [&](qsizetype index) {
        return index < lines.size() ? lines[index] : QByteArray();
    };
    const QByteArray machine = QSysInfo::machineUniqueId();
    const bool otherHost = !line(3).isEmpty() && !machine.isEmpty()
                               ? line(3) != machine
                               : !line(2).isEmpty() && line(2) != QSysInfo::machineHostName().toUtf8();
    if (otherHost) {
        return "it was written on another host";
    }
    const QByteArray boot = QSysInfo::bootUniqueId();
    if (!line(4).isEmpty() && !boot.isEmpty() && line(4) != boot) {
        return "it was written before the system last started";
    }
    if (::kill(pid, 0) != 0) {
        return errno == ESRCH ? "the process it names has ended"
                              : "the process it names is not this user's";
    }
    const QByteArray own = executableOf("self");
    const QByteArray named = executableOf(pidText);
    if (!own.isEmpty() && !named.isEmpty() && own != named) {
        return "the process it names is not " + own.toStdString();
    }
    return std::nullopt;
}

std::optional<std::string> SingleInstance::removeIfStale(const QString& path) {
    // As QLockFile does: one remover at a time, and the lock read again under that.
    QLockFile removal(path + ".rmlock");
    removal.setStaleLockTime(kClientTimeoutMs);
    if (!removal.tryLock(0)) {
        return std::nullopt;
    }
    const auto read = readRegularFile(QFile::encodeName(path).toStdString(), kMaxLockBytes);
    const auto* content = std::get_if<QByteArray>(&read);
    if (content == nullptr) {
        return std::nullopt;  // not a regular file: said by the claim
    }
    auto stale = staleness(*content);
    // Removing takes the lock's own file lock first: it fails while the owner holds the lock,
    // whatever the file says.
    QLockFile lock(path);
    if (!stale || !lock.removeStaleLockFile()) {
        return std::nullopt;
    }
    return stale;
}

std::optional<std::string> SingleInstance::removeIfDanglingLink(const QString& path) {
    // A link is never a lock anyone holds: only a regular file is. One remover at a time, as for
    // a stale lock, and the link looked at again under that.
    const QByteArray file = QFile::encodeName(path);
    if (!danglingLinkTarget(file)) {
        return std::nullopt;
    }
    QLockFile removal(path + ".rmlock");
    removal.setStaleLockTime(kClientTimeoutMs);
    if (!removal.tryLock(0)) {
        return std::nullopt;
    }
    const auto target = danglingLinkTarget(file);
    if (!target || ::unlink(file.constData()) != 0) {
        return std::nullopt;
    }
    return "it was a link to " + *target + ", which does not exist";
}

std::string SingleInstance::whyUnreachable() const {
    const QString path = lockPath();
    const std::string lock = path.toStdString();
    std::string found;
    if (const auto target = danglingLinkTarget(QFile::encodeName(path))) {
        found = lock + " is a link to " + *target + ", which does not exist,";
    } else {
        const auto read = readRegularFile(QFile::encodeName(path).toStdString(), kMaxLockBytes);
        if (const auto* problem = std::get_if<std::string>(&read)) {
            return *problem;
        }
        const auto& content = std::get<QByteArray>(read);
        const auto stale = staleness(content);
        if (!stale) {
            return "another copy (pid " + content.left(content.indexOf('\n')).toStdString() +
                   ") holds " + lock + " but does not answer on " + socketPath().toStdString();
        }
        found = lock + " is stale (" + *stale + ")";
    }
    if (const auto folder = folderProblem(folder_)) {
        return found + " but cannot be replaced: " + *folder;
    }
    return found + " but another process holds it";
}

struct SingleInstance::Listener {
    process::UniqueFd socket;
    std::unique_ptr<QSocketNotifier> notifier;  // after the socket: goes before it is closed

    // A listener at `address`; none when it cannot be had (errno says why).
    static std::unique_ptr<Listener> at(const Address& address) {
        process::UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!socket || ::bind(socket.get(), asSocketAddress(address), address.length) != 0 ||
            ::listen(socket.get(), 16) != 0) {
            return nullptr;
        }
        auto listener = std::make_unique<Listener>();
        listener->socket = std::move(socket);
        return listener;
    }
};

// The folder's inotify watch. Raw inotify rather than QFileSystemWatcher, which falls back to
// polling the folder every second where a watch cannot be had.
struct SingleInstance::FolderWatch {
    process::UniqueFd fd;
    std::unique_ptr<QSocketNotifier> notifier;  // after the descriptor: goes before it is closed
};

SingleInstance::SingleInstance(QString folder, QString name, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), name_(std::move(name)) {}

SingleInstance::SingleInstance(Folder folder, QString name, QObject* parent)
    : SingleInstance(std::move(folder.path), std::move(name), parent) {
    folderRefused_ = std::move(folder.problem);
}

SingleInstance::~SingleInstance() {
    // The socket file goes only while it is still the one made here.
    if (made_) {
        const QByteArray path = QFile::encodeName(socketPath());
        const auto entry = entryAt(path);
        if (entry && S_ISSOCK(entry->st_mode) && entry->st_dev == made_->first &&
            entry->st_ino == made_->second) {
            ::unlink(path.constData());
        }
    }
}

SingleInstance::Folder SingleInstance::defaultFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
        return {QString::fromLocal8Bit(runtime), std::nullopt};
    }
    const QString fallback = QDir::tempPath() + QStringLiteral("/ravlin-%1").arg(getuid());
    // Made private from the start; one found there is looked at below.
    (void)::mkdir(QFile::encodeName(fallback).constData(), 0700);
    return {fallback, privateFolderProblem(fallback)};
}

std::optional<std::string> SingleInstance::privateFolderProblem(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    const std::string named = path.toStdString();
    const auto entry = entryAt(path);
    if (!entry) {
        return named + " cannot be made: " + std::strerror(errno);
    }
    if (!S_ISDIR(entry->st_mode)) {
        return named + " is " + kindOf(entry->st_mode) + ", not a folder";
    }
    if (entry->st_uid != ::getuid()) {
        return named + " belongs to another user (uid " + std::to_string(entry->st_uid) + ")";
    }
    // Ours: closed to others, should it not be (an older start's, made open).
    if ((entry->st_mode & 07777) != 0700 && ::chmod(path.constData(), 0700) != 0) {
        return named + " is open to other users and cannot be made private: " +
               std::strerror(errno);
    }
    return std::nullopt;
}

QString SingleInstance::socketPath() const {
    return folder_ + QLatin1Char('/') + name_ + ".socket";
}

QString SingleInstance::lockPath() const {
    return folder_ + QLatin1Char('/') + name_ + ".lock";
}

SingleInstance::Claim SingleInstance::claim(int waitMs) {
    if (folderRefused_) {
        problem_ = *folderRefused_;
        return Claim::Unusable;
    }
    const QString path = lockPath();
    takenOver_ = removeIfDanglingLink(path);
    // QLockFile reads a lock it finds, and would wait forever on a FIFO there.
    if (auto problem = regularFileProblem(path.toStdString())) {
        problem_ = std::move(*problem);
        return Claim::Unusable;
    }
    auto lock = std::make_unique<QLockFile>(path);
    // Staleness only by what the lock names, never by age: the program runs for days.
    lock->setStaleLockTime(0);
    if (QFile::exists(path)) {
        takenOver_ = removeIfStale(path);
    }
    if (!lock->tryLock(0)) {
        takenOver_.reset();
        if (lock->error() != QLockFile::LockFailedError) {
            // Not held by anyone: it could not be made.
            const auto folder = folderProblem(folder_);
            problem_ = path.toStdString() + " cannot be made" + (folder ? ": " + *folder : "");
            return Claim::Unusable;
        }
        if (tellRunning(waitMs)) {
            return Claim::Told;
        }
        problem_ = whyUnreachable();
        return Claim::Unreachable;
    }
    lock_ = std::move(lock);
    // Whatever socket is there belongs to a process that no longer holds the lock.
    auto pathProblem = listenOnPath(true);
    if (const auto address = addressOf(QFile::encodeName(socketPath()), true)) {
        abstractListener_ = Listener::at(*address);
        if (abstractListener_) {
            abstractListener_->notifier = std::make_unique<QSocketNotifier>(
                abstractListener_->socket.get(), QSocketNotifier::Read);
            connect(abstractListener_->notifier.get(), &QSocketNotifier::activated, this,
                    [this] { accept(*abstractListener_); });
        }
    }
    if (pathProblem) {
        socketProblem_ = "cannot listen on " + socketPath().toStdString() + ": " + *pathProblem +
                         (abstractListener_ ? "; a later start reaches this one all the same"
                                            : "; a later start cannot reach this one");
    }
    watchFolder();
    return Claim::First;
}

void SingleInstance::watchFolder() {
    process::UniqueFd fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd || ::inotify_add_watch(fd.get(), QFile::encodeName(folder_).constData(),
                                   IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_ONLYDIR) < 0) {
        // The abstract socket still answers; only the socket file is not made again.
        qWarning("ravlin: cannot watch %s", qPrintable(folder_));
        return;
    }
    folderWatch_ = std::make_unique<FolderWatch>();
    folderWatch_->fd = std::move(fd);
    folderWatch_->notifier =
        std::make_unique<QSocketNotifier>(folderWatch_->fd.get(), QSocketNotifier::Read);
    const QByteArray socketName = QFile::encodeName(name_ + ".socket");
    connect(folderWatch_->notifier.get(), &QSocketNotifier::activated, this, [this, socketName] {
        // Any change of the name, or a queue that overflowed and may have lost one, is looked
        // at; the folder's other entries are none of ours.
        bool ours = false;
        alignas(inotify_event) char buffer[4096];
        ssize_t size = 0;
        while ((size = ::read(folderWatch_->fd.get(), buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                ours = ours || (event->mask & IN_Q_OVERFLOW) != 0 ||
                       (event->len > 0 && socketName == event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (ours) {
            checkPath();
        }
    });
    checkPath();  // whatever happened before the watch began
}

std::optional<std::string> SingleInstance::listenOnPath(bool replaceStaleSocket) {
    const QByteArray path = QFile::encodeName(socketPath());
    if (const auto entry = entryAt(path)) {
        if (!replaceStaleSocket || !S_ISSOCK(entry->st_mode) || ::unlink(path.constData()) != 0) {
            // Not ours to remove.
            const auto target = S_ISLNK(entry->st_mode) ? linkTarget(path) : std::nullopt;
            return std::string("it is ") + kindOf(entry->st_mode) +
                   (target ? " to " + *target : std::string());
        }
    }
    const auto address = addressOf(path, false);
    if (!address) {
        return "the path is too long for a socket";
    }
    auto listener = Listener::at(*address);
    if (!listener) {
        const int error = errno;
        if (error == ENOSPC || error == EDQUOT) {
            if (auto full = folderProblem(folder_)) {
                return full;
            }
        }
        return std::strerror(error);
    }
    const auto entry = entryAt(path);
    if (!entry || !S_ISSOCK(entry->st_mode)) {
        return "it was taken away as it was made";
    }
    made_ = std::pair{entry->st_dev, entry->st_ino};
    pathListener_ = std::move(listener);
    pathListener_->notifier =
        std::make_unique<QSocketNotifier>(pathListener_->socket.get(), QSocketNotifier::Read);
    connect(pathListener_->notifier.get(), &QSocketNotifier::activated, this,
            [this] { accept(*pathListener_); });
    return std::nullopt;
}

void SingleInstance::checkPath() {
    const QByteArray path = QFile::encodeName(socketPath());
    const auto entry = entryAt(path);
    if (made_ && entry && S_ISSOCK(entry->st_mode) && entry->st_dev == made_->first &&
        entry->st_ino == made_->second) {
        return;
    }
    // Removed or replaced: no later start can reach that socket any more.
    pathListener_.reset();
    made_.reset();
    if (!entry) {
        (void)listenOnPath(false);
    }
}

void SingleInstance::accept(Listener& listener) {
    while (true) {
        const int fd =
            ::accept4(listener.socket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // none left
        }
        if (!peerIsThisUser(fd)) {
            ::close(fd);
            continue;
        }
        auto* socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        readRequest(socket);
    }
}

bool SingleInstance::tellRunning(int waitMs) {
    const QByteArray path = QFile::encodeName(socketPath());
    const QDeadlineTimer deadline(waitMs);
    while (true) {
        // The abstract name first: no file can stand in for it.
        if (tell(path, true) || tell(path, false)) {
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(50);  // the running program may not listen yet
    }
}

void SingleInstance::readRequest(QLocalSocket* socket) {
    socket->setReadBufferSize(kActivate.size());  // bounded, whatever the peer sends
    auto* timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::errorOccurred, socket, &QObject::deleteLater);
    const auto read = [this, socket] {
        if (socket->bytesAvailable() < kActivate.size()) {
            return;
        }
        const QByteArray request = socket->read(kActivate.size());
        socket->abort();
        if (request == kActivate) {
            emit activationRequested();
        }
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    timeout->start(kClientTimeoutMs);
    read();  // the request may have come in with the connection
}

}  // namespace ravlin
