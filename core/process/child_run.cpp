#include "core/process/child_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/process/unique_fd.h"

namespace ravlin::process {

namespace {

using std::chrono::steady_clock;

constexpr std::size_t kReadBufferSize = 4096;
constexpr int kReadsPerEvent = 64;
constexpr std::size_t kWriteChunkSize = 16384;

// A close-on-exec descriptor numbered above 2, so that moving the pipe ends onto 0, 1 and 2 in
// the child never meets one of its own sources. Takes ownership of `fd`.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// errno of the failure, or 0.
int makePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return errno;
    }
    readEnd.reset(aboveStandardStreams(fds[0]));
    writeEnd.reset(aboveStandardStreams(fds[1]));
    if (!readEnd || !writeEnd) {
        return errno != 0 ? errno : EMFILE;
    }
    return 0;
}

void setNonBlocking(const UniqueFd& fd) {
    if (!fd) {
        return;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
    }
}

// Blocks SIGPIPE on this thread for its lifetime; a write to a pipe whose reader is gone then
// fails with EPIPE, and the signal it raised is taken off this thread again.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&sigpipe_);
        sigaddset(&sigpipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &sigpipe_, &previous_);
    }
    ~SigpipeBlock() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

    void discardRaisedSignal() {
        if (pendingBefore_) {
            return;  // not ours to take
        }
        sigset_t pending;
        sigemptyset(&pending);
        if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{};
            while (sigtimedwait(&sigpipe_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
    }

  private:
    sigset_t sigpipe_{};
    sigset_t previous_{};
    bool pendingBefore_ = false;
};

// The descriptors of one run and the loop that services them.
class Pump {
  public:
    Pump(UniqueFd input, UniqueFd output, UniqueFd error, int wake, std::string_view inputData,
         OutputSink& outputSink, OutputSink& errorSink, SigpipeBlock& sigpipe)
        : input_(std::move(input)),
          output_(std::move(output)),
          error_(std::move(error)),
          wake_(wake),
          data_(inputData),
          outputSink_(outputSink),
          errorSink_(errorSink),
          sigpipe_(sigpipe) {}

    void startWriter() {
        if (data_.empty()) {
            input_.reset();  // the child sees the end of its input at once
            return;
        }
        writerStarted_ = true;
    }
    void cancelWriter() { input_.reset(); }

    [[nodiscard]] bool outputOpen() const { return output_.isOpen(); }
    [[nodiscard]] bool errorOpen() const { return error_.isOpen(); }
    void closeOutput() { output_.reset(); }
    void closeError() { error_.reset(); }

    // Waits until `until` or until something happened, and services whatever is ready.
    void pumpUntil(Instant until) {
        std::array<pollfd, 4> fds{};
        nfds_t count = 0;
        int wakeIndex = -1, outputIndex = -1, errorIndex = -1, inputIndex = -1;
        if (wake_ >= 0) {
            wakeIndex = static_cast<int>(count);
            fds[count++] = {wake_, POLLIN, 0};
        }
        if (output_) {
            outputIndex = static_cast<int>(count);
            fds[count++] = {output_.get(), POLLIN, 0};
        }
        if (error_) {
            errorIndex = static_cast<int>(count);
            fds[count++] = {error_.get(), POLLIN, 0};
        }
        if (input_ && writerStarted_) {
            inputIndex = static_cast<int>(count);
            fds[count++] = {input_.get(), POLLOUT, 0};
        }

        const auto left = std::max(until - steady_clock::now(), steady_clock::duration::zero());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
        const int rc = ::ppoll(fds.data(), count, &timeout, nullptr);
        if (rc < 0) {
            if (errno != EINTR) {
                // Not expected; never spin.
                std::this_thread::sleep_until(
                    std::min(until, steady_clock::now() + std::chrono::milliseconds(1)));
            }
            return;
        }
        if (rc == 0) {
            return;
        }
        const auto ready = [&](int index) { return index >= 0 && fds[index].revents != 0; };
        if (ready(wakeIndex)) {
            std::uint64_t counter = 0;
            while (::read(wake_, &counter, sizeof counter) < 0 && errno == EINTR) {
            }
        }
        if (ready(outputIndex)) {
            readAvailable(output_, outputSink_);
        }
        if (ready(errorIndex)) {
            readAvailable(error_, errorSink_);
        }
        if (ready(inputIndex)) {
            writeAvailable();
        }
    }

  private:
    void readAvailable(UniqueFd& fd, OutputSink& sink) {
        for (int attempt = 0; attempt < kReadsPerEvent && fd; ++attempt) {
            const ssize_t n = ::read(fd.get(), buffer_.data(), buffer_.size());
            if (n > 0) {
                sink.consume(std::string_view(buffer_.data(), static_cast<std::size_t>(n)));
            } else if (n == 0) {
                fd.reset();  // end of file
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            } else {
                fd.reset();
            }
        }
    }

    void writeAvailable() {
        while (input_ && written_ < data_.size()) {
            const std::size_t size = std::min(data_.size() - written_, kWriteChunkSize);
            const ssize_t n = ::write(input_.get(), data_.data() + written_, size);
            if (n > 0) {
                written_ += static_cast<std::size_t>(n);
            } else if (n == 0) {
                return;
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            } else {
                if (errno == EPIPE) {
                    sigpipe_.discardRaisedSignal();
                }
                input_.reset();  // the child closed its input; the run goes on
                return;
            }
        }
        input_.reset();  // all written: the child sees the end of its input
    }

    UniqueFd input_;
    UniqueFd output_;
    UniqueFd error_;
    int wake_;
    std::string_view data_;
    std::size_t written_ = 0;
    bool writerStarted_ = false;
    OutputSink& outputSink_;
    OutputSink& errorSink_;
    SigpipeBlock& sigpipe_;
    std::array<char, kReadBufferSize> buffer_{};
};

// What the run thread and a cancelling thread share.
struct RunState {
    std::mutex lock;
    // The child's id while it may be signalled; cleared in the same step that reaps it, so a
    // late cancellation never signals a group id the system may have handed out again.
    std::optional<pid_t> processID;
    bool isCancelled = false;
};

// Reaps the child when it has ended; blocks until it has (used only after SIGKILL).
int reapBlocking(pid_t pid) {
    for (;;) {
        int raw = 0;
        const pid_t rc = ::waitpid(pid, &raw, 0);
        if (rc == pid) {
            return exitStatusFromWaitStatus(raw);
        }
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        return -1;
    }
}

}  // namespace

ChildRunOutcome runChild(const ChildRunOptions& options, OutputSink& standardOutput,
                         OutputSink& standardError) {
    ChildRunOutcome outcome;
    SigpipeBlock sigpipe;
    RunState state;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));

    const auto signalGroup = [&options](pid_t pid, int signal) {
        return options.signalGroup ? options.signalGroup(pid, signal)
                                   : signalProcessGroup(pid, signal);
    };

    // Runs at once when the token has already been stopped. Its destructor (first to run on the
    // way out) waits for a call in progress on another thread.
    std::stop_callback onStop(options.stopToken, [&state, &signalGroup, wakeFd = wake.get()] {
        std::optional<pid_t> pid;
        {
            std::lock_guard guard(state.lock);
            state.isCancelled = true;
            pid = state.processID;
        }
        if (pid) {
            signalGroup(*pid, SIGTERM);
        }
        if (wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(wakeFd, &one, sizeof one);
        }
    });
    const auto isCancelled = [&state] {
        std::lock_guard guard(state.lock);
        return state.isCancelled;
    };

    UniqueFd inputRead, inputWrite, outputRead, outputWrite, errorRead, errorWrite;
    int pipeError = 0;
    if (options.standardInput) {
        pipeError = makePipe(inputRead, inputWrite);
    }
    if (pipeError == 0) {
        pipeError = makePipe(outputRead, outputWrite);
    }
    if (pipeError == 0) {
        pipeError = makePipe(errorRead, errorWrite);
    }
    if (pipeError != 0) {
        outcome.spawnError = SpawnError{"pipe", pipeError};
        return outcome;
    }

    const ChildDescriptors descriptors{inputRead.get(),   inputWrite.get(), outputRead.get(),
                                       outputWrite.get(), errorRead.get(),  errorWrite.get()};
    const SpawnResult spawned = spawnInNewProcessGroup(options.spawn, descriptors);
    if (spawned.error) {
        outcome.spawnError = spawned.error;
        return outcome;  // every pipe end closes on the way out
    }
    const pid_t pid = spawned.processID;

    inputRead.reset();
    outputWrite.reset();
    errorWrite.reset();
    setNonBlocking(inputWrite);
    setNonBlocking(outputRead);
    setNonBlocking(errorRead);
    Pump pump(std::move(inputWrite), std::move(outputRead), std::move(errorRead), wake.get(),
              options.standardInput ? std::string_view(*options.standardInput) : std::string_view(),
              standardOutput, standardError, sigpipe);
    const IdleFunction idle = [&pump](Instant until) { pump.pumpUntil(until); };
    if (options.onStarted) {
        options.onStarted(pid);
    }

    bool cancelledBeforeStart = false;
    {
        std::lock_guard guard(state.lock);
        state.processID = pid;
        cancelledBeforeStart = state.isCancelled;
    }
    if (cancelledBeforeStart) {
        signalGroup(pid, SIGTERM);
    }
    if (isCancelled()) {
        pump.cancelWriter();
    } else {
        pump.startWriter();
    }

    const auto reap = [&state, pid]() -> std::optional<int> {
        std::lock_guard guard(state.lock);
        auto status = reapIfExited(pid);
        if (status) {
            state.processID.reset();
        }
        return status;
    };
    const auto waitReaping = [&](std::chrono::nanoseconds timeout) -> std::optional<int> {
        const Instant deadline = steady_clock::now() + timeout;
        for (;;) {
            if (auto status = reap()) {
                return status;
            }
            if (steady_clock::now() >= deadline) {
                return std::nullopt;
            }
            pump.pumpUntil(std::min(deadline, steady_clock::now() + kPollInterval));
        }
    };

    enum class End { exited, timedOut, cancelled };
    End end = End::exited;
    const Instant deadline =
        steady_clock::now() + std::max(options.timeout, std::chrono::nanoseconds::zero());
    std::optional<int> status = reap();
    while (!status) {
        if (isCancelled()) {
            end = End::cancelled;
            break;
        }
        if (steady_clock::now() >= deadline) {
            end = End::timedOut;
            break;
        }
        pump.pumpUntil(std::min(deadline, steady_clock::now() + kPollInterval));
        status = reap();
    }
    if (!status) {
        signalGroup(pid, SIGTERM);
        status = waitReaping(options.terminationGrace);
        if (!status) {
            signalGroup(pid, SIGKILL);
            status = waitReaping(options.terminationGrace);
        }
        if (!status) {
            // SIGKILL has been sent; wait for it to land rather than leave a zombie behind.
            {
                std::lock_guard guard(state.lock);
                state.processID.reset();
            }
            status = reapBlocking(pid);
        }
    }
    if (options.onReaped) {
        options.onReaped(pid);
    }
    // Whatever the child left running in its group.
    terminateProcessGroup(pid, idle, options.terminationGrace);

    pump.cancelWriter();
    const Instant outputDeadline = steady_clock::now() + options.drainGrace;
    while (pump.outputOpen() && steady_clock::now() < outputDeadline && !isCancelled()) {
        pump.pumpUntil(outputDeadline);
    }
    pump.closeOutput();
    const Instant errorDeadline = steady_clock::now() + options.drainGrace;
    while (pump.errorOpen() && steady_clock::now() < errorDeadline && !isCancelled()) {
        pump.pumpUntil(errorDeadline);
    }
    pump.closeError();

    outcome.status = *status;
    outcome.cancelled = end == End::cancelled || isCancelled();
    outcome.timedOut = !outcome.cancelled && end == End::timedOut;
    return outcome;
}

}  // namespace ravlin::process
