#pragma once

// An HTTP/1.1 server on 127.0.0.1 for tests of network clients. Every connection answers one
// request with a scripted reply: any status and headers, a body sent in pieces (chunked or with
// a Content-Length) with pauses between them, a stall that sends nothing, an abrupt close or
// reset, or raw bytes instead of HTTP. A secure handshake gets the plain "400 Bad Request" any
// plain server sends it. Every request is recorded, its header fields in the order they
// arrived, for assertions.
//
// The server speaks HTTP on plain sockets rather than through cpp-httplib: the packaged
// cpp-httplib is a compiled library (not linked into the test programs) and its parsed requests
// keep header fields sorted by name, which would hide the order a client sent them in.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace ravlin::testing {

struct RecordedRequest {
    std::string method;
    std::string target;                                        // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    std::string body;

    // The first field of that name (case-insensitive), if any.
    [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
    // Field names in order, as sent.
    [[nodiscard]] std::vector<std::string> headerNames() const;
    // The fields in order, as sent, without "Host" and "Content-Length" (which the transport
    // adds): the ones the client chose.
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> clientHeaders() const;
};

// What the server does with one connection after reading its request.
class ScriptedReply {
  public:
    // A reply with this status and no body yet; the body goes out chunked unless
    // `withContentLength()` is asked for.
    explicit ScriptedReply(int status = 200, std::string reason = "");
    // 200 with "Content-Type: text/event-stream".
    [[nodiscard]] static ScriptedReply eventStream();
    // These bytes instead of an HTTP reply, then the connection is closed.
    [[nodiscard]] static ScriptedReply raw(std::string bytes);

    ScriptedReply& header(std::string name, std::string value);
    // Sends the body with a Content-Length of all its pieces together instead of chunked.
    ScriptedReply& withContentLength();

    // Before the head: wait, or hold the connection until the client goes or the server stops.
    ScriptedReply& pauseBeforeHead(std::chrono::milliseconds delay);
    ScriptedReply& stallBeforeHead();

    // Body steps, in order.
    ScriptedReply& chunk(std::string bytes);
    // One server-sent event: "data: " + payload + "\n\n".
    ScriptedReply& event(std::string_view payload);
    ScriptedReply& pause(std::chrono::milliseconds delay);
    ScriptedReply& stall();
    // Closes the connection at once, leaving the body unfinished.
    ScriptedReply& drop();
    // Resets the connection (TCP RST) at once, leaving the body unfinished.
    ScriptedReply& reset();
    // Bytes written as they are, outside any chunk framing.
    ScriptedReply& rawBytes(std::string bytes);

    struct Step {
        enum class Kind { chunk, raw, pause, stall, drop, reset };
        Kind kind = Kind::chunk;
        std::string bytes;
        std::chrono::milliseconds delay{0};
    };

    int status;
    std::string reason;
    std::vector<std::pair<std::string, std::string>> headers;
    bool chunked = true;
    bool sendsHead = true;
    std::vector<Step> beforeHead;
    std::vector<Step> steps;
};

class LoopbackHttpServer {
  public:
    using Handler = std::function<ScriptedReply(const RecordedRequest&)>;

    // Listens on 127.0.0.1 on a free port and serves until destroyed.
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // Replies used by the next connections, in order; when none is queued the handler answers,
    // and without a handler the reply is 404.
    void enqueue(ScriptedReply reply);
    void setHandler(Handler handler);

    [[nodiscard]] int port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    [[nodiscard]] std::string url(std::string_view path = "/") const;

    [[nodiscard]] std::vector<RecordedRequest> requests() const;
    [[nodiscard]] std::size_t requestCount() const;
    // Waits until at least `count` requests were recorded; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // A thread that waits (up to 2 s) until at least `count` requests were recorded, then for
    // `delay`, then asks `stop` to stop; the caller keeps it alive while the request runs.
    [[nodiscard]] std::jthread stopAfterRequests(std::size_t count, std::stop_source& stop,
                                                 std::chrono::milliseconds delay = {}) const;
    // Connections the client closed while the server was still pausing, stalling or writing.
    [[nodiscard]] std::size_t clientDisconnects() const;
    bool waitForClientDisconnects(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    void acceptLoop();
    void serve(int fd);
    ScriptedReply replyFor(const RecordedRequest& request);
    // Waits up to `delay` (forever when absent) unless the server stops or the client goes;
    // false when the connection should end.
    bool hold(int fd, std::optional<std::chrono::milliseconds> delay);

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::deque<ScriptedReply> queue_;
    Handler handler_;
    std::vector<RecordedRequest> requests_;
    std::size_t disconnects_ = 0;
    std::vector<std::thread> connections_;
};

}  // namespace ravlin::testing
