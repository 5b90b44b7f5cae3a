#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the event loop (the self-pipe pattern):
// the handler only writes a byte to a pipe; a socket notifier reads it on the loop's thread.
// One watcher per process.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace ravlin {

class SignalWatcher final : public QObject {
    Q_OBJECT

  public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the pipe or the handlers could not be set up.
    [[nodiscard]] bool isWatching() const { return notifier_ != nullptr; }

  signals:
    // SIGTERM or SIGINT arrived; `number` says which.
    void terminationRequested(int number);

  private:
    void drain();

    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace ravlin
