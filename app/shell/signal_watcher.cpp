#include "app/shell/signal_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace ravlin {
namespace {

std::atomic<int> writeEnd{-1};

extern "C" void onTerminationSignal(int number) {
    const int saved = errno;
    const int fd = writeEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

// SIGHUP: the session ends (the terminal or the login goes away).
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    writeEnd.store(fds_[1]);
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
}

SignalWatcher::~SignalWatcher() {
    for (const int number : kSignals) {
        std::signal(number, SIG_DFL);
    }
    writeEnd.store(-1);
    notifier_.reset();
    for (const int fd : fds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void SignalWatcher::drain() {
    unsigned char bytes[16];
    ssize_t got = 0;
    while ((got = ::read(fds_[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            emit terminationRequested(bytes[i]);
        }
    }
}

}  // namespace ravlin
