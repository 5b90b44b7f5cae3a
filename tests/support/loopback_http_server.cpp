#include "tests/support/loopback_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "tests/support/watchdog.h"

namespace ravlin::testing {

namespace {

constexpr std::size_t kMaxRequestHead = 1 << 20;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string reasonFor(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerNames() const {
    std::vector<std::string> names;
    names.reserve(headers.size());
    for (const auto& field : headers) {
        names.push_back(field.first);
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> RecordedRequest::clientHeaders() const {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& field : headers) {
        if (field.first != "Host" && field.first != "Content-Length") {
            fields.push_back(field);
        }
    }
    return fields;
}

ScriptedReply::ScriptedReply(int status, std::string reason)
    : status(status), reason(reason.empty() ? reasonFor(status) : std::move(reason)) {}

ScriptedReply ScriptedReply::eventStream() {
    ScriptedReply reply(200);
    reply.header("Content-Type", "text/event-stream");
    return reply;
}

ScriptedReply ScriptedReply::raw(std::string bytes) {
    ScriptedReply reply(200);
    reply.sendsHead = false;
    reply.chunked = false;
    reply.rawBytes(std::move(bytes));
    return reply;
}

ScriptedReply& ScriptedReply::header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

ScriptedReply& ScriptedReply::withContentLength() {
    chunked = false;
    return *this;
}

ScriptedReply& ScriptedReply::pauseBeforeHead(std::chrono::milliseconds delay) {
    beforeHead.push_back({Step::Kind::pause, {}, delay});
    return *this;
}

ScriptedReply& ScriptedReply::stallBeforeHead() {
    beforeHead.push_back({Step::Kind::stall, {}, {}});
    return *this;
}

ScriptedReply& ScriptedReply::chunk(std::string bytes) {
    steps.push_back({Step::Kind::chunk, std::move(bytes), {}});
    return *this;
}

ScriptedReply& ScriptedReply::event(std::string_view payload) {
    return chunk("data: " + std::string(payload) + "\n\n");
}

ScriptedReply& ScriptedReply::pause(std::chrono::milliseconds delay) {
    steps.push_back({Step::Kind::pause, {}, delay});
    return *this;
}

ScriptedReply& ScriptedReply::stall() {
    steps.push_back({Step::Kind::stall, {}, {}});
    return *this;
}

ScriptedReply& ScriptedReply::drop() {
    steps.push_back({Step::Kind::drop, {}, {}});
    return *this;
}

ScriptedReply& ScriptedReply::reset() {
    steps.push_back({Step::Kind::reset, {}, {}});
    return *this;
}

ScriptedReply& ScriptedReply::rawBytes(std::string bytes) {
    steps.push_back({Step::Kind::raw, std::move(bytes), {}});
    return *this;
}

LoopbackHttpServer::LoopbackHttpServer() {
    if (pipe2(wakePipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("loopback server: pipe failed");
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::runtime_error("loopback server: socket failed");
    }
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 64) != 0) {
        throw std::runtime_error("loopback server: bind failed");
    }
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    const char byte = 1;
    (void)!write(wakePipe_[1], &byte, 1);
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& thread : connections) {
        thread.join();
    }
    close(listenFd_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

void LoopbackHttpServer::enqueue(ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(reply));
}

void LoopbackHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::string LoopbackHttpServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LoopbackHttpServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool LoopbackHttpServer::waitForRequests(std::size_t count,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::jthread LoopbackHttpServer::stopAfterRequests(std::size_t count, std::stop_source& stop,
                                                   std::chrono::milliseconds delay) const {
    return std::jthread([this, count, &stop, delay] {
        waitForRequests(count, kHangWatchdog);
        if (delay > std::chrono::milliseconds::zero()) {
            std::this_thread::sleep_for(delay);
        }
        stop.request_stop();
    });
}

std::size_t LoopbackHttpServer::clientDisconnects() const {
    std::lock_guard lock(mutex_);
    return disconnects_;
}

bool LoopbackHttpServer::waitForClientDisconnects(std::size_t count,
                                                  std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return disconnects_ >= count; });
}

void LoopbackHttpServer::acceptLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            close(fd);
            return;
        }
        connections_.emplace_back([this, fd] {
            serve(fd);
            close(fd);
        });
    }
}

bool LoopbackHttpServer::hold(int fd, std::optional<std::chrono::milliseconds> delay) {
    const auto until = std::chrono::steady_clock::now() + delay.value_or(std::chrono::hours(1));
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        if (delay && now >= until) {
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        const int waitMs = delay ? static_cast<int>(std::min<long long>(left, 50)) : 50;
        pollfd fds[2] = {{fd, POLLIN | POLLRDHUP, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = poll(fds, 2, waitMs);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (fds[1].revents != 0) {
            return false;
        }
        if (fds[0].revents != 0) {
            char scratch[4096];
            const ssize_t got = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
                std::lock_guard lock(mutex_);
                ++disconnects_;
                changed_.notify_all();
                return false;
            }
        }
    }
}

ScriptedReply LoopbackHttpServer::replyFor(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) {
            ScriptedReply reply = std::move(queue_.front());
            queue_.pop_front();
            return reply;
        }
        handler = handler_;
    }
    if (handler) {
        return handler(request);
    }
    return ScriptedReply(404).chunk("no reply scripted");
}

void LoopbackHttpServer::serve(int fd) {
    // Read the request head, then a body of the announced length.
    std::string data;
    std::size_t headEnd = std::string::npos;
    char buffer[16384];
    auto readMore = [&]() {
        while (true) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
            if (poll(fds, 2, 50) < 0 && errno != EINTR) {
                return false;
            }
            if (fds[1].revents != 0) {
                return false;
            }
            if (fds[0].revents == 0) {
                continue;
            }
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return false;
            }
            data.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
    };
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxRequestHead || !readMore()) {
            return;
        }
        // A secure handshake sent to this plain server (its first byte opens a TLS record): it
        // answers as plain servers do, and the client's handshake fails on the answer.
        if (data.front() == '\x16') {
            constexpr std::string_view kBadRequest = "HTTP/1.1 400 Bad Request\r\n\r\n";
            (void)send(fd, kBadRequest.data(), kBadRequest.size(), MSG_NOSIGNAL);
            return;
        }
    }
    RecordedRequest request;
    const std::string_view head = std::string_view(data).substr(0, headEnd);
    std::size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        std::size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = head.size();
        }
        const std::string_view line = head.substr(lineStart, lineEnd - lineStart);
        if (first) {
            const auto space1 = line.find(' ');
            const auto space2 = line.find(' ', space1 + 1);
            request.method = std::string(line.substr(0, space1));
            request.target = std::string(line.substr(space1 + 1, space2 - space1 - 1));
            first = false;
        } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            request.headers.emplace_back(std::string(line.substr(0, colon)),
                                         std::string(trimmed(line.substr(colon + 1))));
        }
        lineStart = lineEnd + 2;
    }
    std::size_t bodyLength = 0;
    if (const auto length = request.header("Content-Length")) {
        bodyLength = static_cast<std::size_t>(std::stoull(*length));
    }
    while (data.size() < headEnd + 4 + bodyLength) {
        if (!readMore()) {
            return;
        }
    }
    request.body = data.substr(headEnd + 4, bodyLength);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    changed_.notify_all();

    const ScriptedReply reply = replyFor(request);

    auto writeAll = [&](std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR) {
                    continue;
                }
                std::lock_guard lock(mutex_);
                ++disconnects_;
                changed_.notify_all();
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    };
    // Runs one pause, stall or drop step; false when the connection ends here.
    auto wait = [&](const ScriptedReply::Step& step) {
        switch (step.kind) {
            case ScriptedReply::Step::Kind::pause:
                return hold(fd, step.delay);
            case ScriptedReply::Step::Kind::stall:
                hold(fd, std::nullopt);
                return false;
            case ScriptedReply::Step::Kind::drop:
                return false;
            case ScriptedReply::Step::Kind::reset: {
                // Closing with a zero linger time sends RST instead of FIN.
                const linger abort{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                return false;
            }
            default:
                return true;
        }
    };

    for (const auto& step : reply.beforeHead) {
        if (!wait(step)) {
            return;
        }
    }
    if (reply.sendsHead) {
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
        for (const auto& [name, value] : reply.headers) {
            out += name + ": " + value + "\r\n";
        }
        if (reply.chunked) {
            out += "Transfer-Encoding: chunked\r\n";
        } else {
            std::size_t total = 0;
            for (const auto& step : reply.steps) {
                if (step.kind == ScriptedReply::Step::Kind::chunk) {
                    total += step.bytes.size();
                }
            }
            out += "Content-Length: " + std::to_string(total) + "\r\n";
        }
        out += "Connection: close\r\n\r\n";
        if (!writeAll(out)) {
            return;
        }
    }
    for (const auto& step : reply.steps) {
        if (step.kind == ScriptedReply::Step::Kind::chunk) {
            if (step.bytes.empty()) {
                continue;
            }
            if (reply.chunked && reply.sendsHead) {
                char size[32];
                std::snprintf(size, sizeof size, "%zx\r\n", step.bytes.size());
                if (!writeAll(std::string(size) + step.bytes + "\r\n")) {
                    return;
                }
            } else if (!writeAll(step.bytes)) {
                return;
            }
        } else if (step.kind == ScriptedReply::Step::Kind::raw) {
            if (!writeAll(step.bytes)) {
                return;
            }
        } else if (!wait(step)) {
            return;
        }
    }
    if (reply.sendsHead && reply.chunked) {
        writeAll("0\r\n\r\n");
    }
    shutdown(fd, SHUT_WR);
}

}  // namespace ravlin::testing
