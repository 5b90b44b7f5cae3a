#pragma once

// One running program per user session. The first start holds a lock file and listens on a
// local socket in the runtime folder ($XDG_RUNTIME_DIR); a later start finds the lock held,
// tells the running program to come forward through the socket, and exits.
//
// A crash leaves the lock and the socket behind: the lock names a process that no longer
// exists, so the next start takes it over and replaces the stale socket.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace ravlin {

class SingleInstance final : public QObject {
    Q_OBJECT

  public:
    enum class Claim {
        First,       // this process is the running program; activationRequested() will fire
        Told,        // another process is the running program and was told to come forward
        Unreachable  // another process holds the lock but could not be told
    };

    // `folder` holds the lock and the socket; `name` names both.
    SingleInstance(QString folder, QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The folder for the running user: $XDG_RUNTIME_DIR, else a private folder under /tmp.
    [[nodiscard]] static QString defaultFolder();

    // Blocks at most about `waitMs` (a first process that is still starting may need a moment
    // before it listens).
    Claim claim(int waitMs = 2000);
    [[nodiscard]] QString socketPath() const;

  signals:
    // Another start asked this one to come forward.
    void activationRequested();

  private:
    bool tellRunning(int waitMs);
    void listen();
    void readRequest(class QLocalSocket* socket);

    QString folder_;
    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace ravlin
