#include "app/shell/single_instance.h"

#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

namespace ravlin {
namespace {

// What a later start sends; anything else is ignored.
constexpr QByteArrayView kActivate = "activate\n";
// A client that says nothing useful in this time is dropped.
constexpr int kClientTimeoutMs = 2000;

}  // namespace

SingleInstance::SingleInstance(QString folder, QString name, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), name_(std::move(name)) {
    // Only the user may connect.
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            readRequest(socket);
        }
    });
}

SingleInstance::~SingleInstance() {
    if (server_.isListening()) {
        server_.close();  // also removes the socket file
    }
}

QString SingleInstance::defaultFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
        return QString::fromLocal8Bit(runtime);
    }
    const QString fallback = QDir::tempPath() + QStringLiteral("/ravlin-%1").arg(getuid());
    QDir().mkpath(fallback);
    QFile::setPermissions(fallback, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return fallback;
}

QString SingleInstance::socketPath() const {
    return folder_ + QLatin1Char('/') + name_ + ".socket";
}

SingleInstance::Claim SingleInstance::claim(int waitMs) {
    auto lock = std::make_unique<QLockFile>(folder_ + QLatin1Char('/') + name_ + ".lock");
    // Staleness only by a dead owner, never by age: the program runs for days.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        lock_ = std::move(lock);
        listen();
        return Claim::First;
    }
    return tellRunning(waitMs) ? Claim::Told : Claim::Unreachable;
}

void SingleInstance::listen() {
    // Whatever socket is there belongs to a process that no longer holds the lock.
    QLocalServer::removeServer(socketPath());
    if (!server_.listen(socketPath())) {
        qWarning("ravlin: cannot listen on %s: %s", qPrintable(socketPath()),
                 qPrintable(server_.errorString()));
    }
}

bool SingleInstance::tellRunning(int waitMs) {
    const QDeadlineTimer deadline(waitMs);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(
                static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)))) {
            socket.write(kActivate.data(), kActivate.size());
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(50);  // the running program may not listen yet
    }
}

void SingleInstance::readRequest(QLocalSocket* socket) {
    socket->setParent(this);
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
