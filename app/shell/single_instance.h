#pragma once

// One running program per user session. The first start holds a lock file and listens on a
// local socket in the runtime folder ($XDG_RUNTIME_DIR), and on the same name in the abstract
// socket namespace, which no file can stand in for; a later start finds the lock held, tells the
// running program to come forward through either socket, and exits. Both ends take only peers
// of the same user.
//
// The socket file is the running program's own only while its device and inode are the ones it
// made. The folder is watched (inotify), never polled: when the file disappears the program
// makes it again at once; when something else stands in its place (a file, a link, another
// socket) that is left alone, the abstract socket still answers, and the socket file comes back
// once the name is free. On exit the program removes the socket file only if it is still the
// one it made.
//
// A crash leaves the lock and the socket behind: the lock names a process that no longer
// exists, so the next start takes it over and replaces the stale socket (a socket only). Any
// lock that does not name a live copy of this program on this machine is as stale (empty,
// unreadable, written on another host or in an earlier boot, or naming another program), and so
// is a link in the lock's place that leads nowhere: it is taken over and `takenOver()` says why.
// A lock its owner still holds is never removed.
//
// A start that can neither take the lock nor reach the running program says what it found: the
// copy that holds the lock and does not answer, a stale lock another process holds, a folder so
// full that no lock can be made in it. A first start whose socket file cannot be made says why,
// and whether a later start can still reach it.

#include <sys/types.h>

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>

class QLocalSocket;
class QSocketNotifier;

namespace ravlin {

class SingleInstance final : public QObject {
    Q_OBJECT

  public:
    enum class Claim {
        First,        // this process is the running program; activationRequested() will fire
        Told,         // another process is the running program and was told to come forward
        Unreachable,  // another process holds the lock but could not be told: problem()
        Unusable      // no lock can be had at the lock's path: problem()
    };

    // `folder` holds the lock and the socket; `name` names both.
    SingleInstance(QString folder, QString name, QObject* parent = nullptr);
    // The same over a folder found for the user; one with a problem makes the claim Unusable.
    struct Folder {
        QString path;
        std::optional<std::string> problem;
    };
    SingleInstance(Folder folder, QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The folder for the running user: $XDG_RUNTIME_DIR, else ravlin-<uid> in the temporary
    // folder, made private (0700) where missing. That one is refused (its problem said) unless it
    // is this user's own folder, private: another user may have made it first, to read the
    // socket or take the lock.
    [[nodiscard]] static Folder defaultFolder();
    // Why `path` is no private folder of this user's (a folder of the user's own that others may
    // enter is made private first); none when it is one.
    [[nodiscard]] static std::optional<std::string> privateFolderProblem(const QString& path);

    // Blocks at most about `waitMs` (a first process that is still starting may need a moment
    // before it listens).
    Claim claim(int waitMs = 2000);
    [[nodiscard]] QString socketPath() const;
    [[nodiscard]] QString lockPath() const;
    // Why the claim was Unreachable or Unusable, as what was found.
    [[nodiscard]] const std::string& problem() const { return problem_; }
    // After a First claim: why the socket file could not be made, and whether a later start can
    // reach this one all the same; nothing when it was made.
    [[nodiscard]] const std::optional<std::string>& socketProblem() const { return socketProblem_; }
    // Why the lock found at the claim was stale, when this process took it over.
    [[nodiscard]] const std::optional<std::string>& takenOver() const { return takenOver_; }

    // Why a lock with `content` does not name a live copy of this program on this machine;
    // nothing when it does. The process named is looked up in /proc.
    [[nodiscard]] static std::optional<std::string> staleness(const QByteArray& content);

  signals:
    // Another start asked this one to come forward.
    void activationRequested();

  private:
    struct Listener;
    struct FolderWatch;
    bool tellRunning(int waitMs);
    // Removes a stale lock at `path` unless its owner holds it; why it was stale when removed.
    static std::optional<std::string> removeIfStale(const QString& path);
    // Removes a link at `path` that leads nowhere; what it was when removed.
    static std::optional<std::string> removeIfDanglingLink(const QString& path);
    // What stands in the way when the lock is held and nobody answers.
    [[nodiscard]] std::string whyUnreachable() const;
    // Listens on the socket file; why not, when it cannot.
    std::optional<std::string> listenOnPath(bool replaceStaleSocket);
    // Watches the folder for the socket file's name coming and going.
    void watchFolder();
    // Keeps the socket file this process's own, or makes it again once the name is free.
    void checkPath();
    void accept(Listener& listener);
    void readRequest(QLocalSocket* socket);

    QString folder_;
    QString name_;
    std::string problem_;
    // Why the folder found for the user cannot be used (the claim is then Unusable).
    std::optional<std::string> folderRefused_;
    std::optional<std::string> takenOver_;
    std::optional<std::string> socketProblem_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<Listener> pathListener_;
    std::unique_ptr<Listener> abstractListener_;
    // The socket file this process made, by device and inode.
    std::optional<std::pair<dev_t, ino_t>> made_;
    std::unique_ptr<FolderWatch> folderWatch_;
};

}  // namespace ravlin
