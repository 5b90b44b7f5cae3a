#include "core/net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/fake_executable.h"
#include "tests/support/loopback_http_server.h"

namespace ravlin::net {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackHttpServer;
using testing::ScriptedReply;

Instant in(std::chrono::milliseconds delay) {
    return std::chrono::steady_clock::now() + delay;
}

HttpRequest post(const std::string& url) {
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"Content-Type", "application/json"},
                       {"Accept", "text/event-stream"},
                       {"Authorization", "Bearer key"},
                       {"apikey", "key"}};
    request.body = "{\"a\":1}";
    request.timeout = 1s;
    return request;
}

std::string readWhole(HttpResponse& response, std::chrono::milliseconds within = 2s) {
    std::string body;
    while (true) {
        const auto chunk = response.read(in(within));
        if (chunk.kind != HttpResponse::Read::Kind::bytes) {
            EXPECT_EQ(chunk.kind, HttpResponse::Read::Kind::end) << chunk.error.description;
            return body;
        }
        body.append(chunk.bytes);
    }
}

TEST(HttpClient, SendsExactlyTheListedHeadersInOrderAndTheBody) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream().chunk("data: x\n\n"));
    HttpClient client;
    auto opened = client.open(post(server.url("/ravlin-cloud")), {});
    ASSERT_TRUE(opened.response) << opened.error.description;
    EXPECT_EQ(opened.response->status(), 200);
    EXPECT_EQ(readWhole(*opened.response), "data: x\n\n");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/ravlin-cloud");
    EXPECT_EQ(request.body, "{\"a\":1}");
    std::vector<std::string> names;
    for (const auto& name : request.headerNames()) {
        if (name != "Host" && name != "Content-Length") {
            names.push_back(name);
        }
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Content-Type", "Accept", "Authorization", "apikey"}));
    EXPECT_EQ(request.header("Authorization"), "Bearer key");
    EXPECT_EQ(request.header("Content-Length"), "7");
    EXPECT_FALSE(request.header("Expect"));
}

TEST(HttpClient, ABodilessOptionsRequestCarriesNoHeadersOfItsOwn) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(204));
    HttpRequest request;
    request.method = "OPTIONS";
    request.url = server.url("/x");
    request.timeout = 1s;
    auto opened = HttpClient().open(request, {});
    ASSERT_TRUE(opened.response) << opened.error.description;
    EXPECT_EQ(opened.response->status(), 204);
    const auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.method, "OPTIONS");
    EXPECT_EQ(recorded.headerNames(), std::vector<std::string>{"Host"});
    EXPECT_EQ(recorded.body, "");
}

TEST(HttpClient, HandsOutBodyBytesAsTheyArriveAndTimesOutAReadThatGetsNone) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream().chunk("first").stall());
    auto opened = HttpClient().open(post(server.url()), {});
    ASSERT_TRUE(opened.response);
    const auto first = opened.response->read(in(2s));
    ASSERT_EQ(first.kind, HttpResponse::Read::Kind::bytes);
    EXPECT_EQ(first.bytes, "first");
    const auto started = std::chrono::steady_clock::now();
    const auto none = opened.response->read(in(150ms));
    EXPECT_EQ(none.kind, HttpResponse::Read::Kind::failed);
    EXPECT_EQ(none.error.kind, HttpError::Kind::timedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
}

TEST(HttpClient, TheRequestTimeOutBoundsTheWaitForTheHead) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
    auto request = post(server.url());
    request.timeout = 200ms;
    const auto opened = HttpClient().open(request, {});
    ASSERT_FALSE(opened.response);
    EXPECT_EQ(opened.error.kind, HttpError::Kind::timedOut);
}

TEST(HttpClient, AStopRequestEndsEveryWaitAtOnce) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
    server.enqueue(ScriptedReply::eventStream().chunk("x").stall());
    // Time limits far beyond the test: only the stop ends a wait.
    auto request = post(server.url());
    request.timeout = 60s;
    {
        std::stop_source stop;
        // Once the server has the request, the client waits for the head.
        std::jthread canceller([&] {
            server.waitForRequests(1, 60s);
            stop.request_stop();
        });
        const auto opened = HttpClient().open(request, stop.get_token());
        EXPECT_FALSE(opened.response);
        EXPECT_EQ(opened.error.kind, HttpError::Kind::cancelled);
    }
    {
        std::stop_source stop;
        auto opened = HttpClient().open(request, stop.get_token());
        ASSERT_TRUE(opened.response);
        ASSERT_EQ(opened.response->read(in(60s)).kind, HttpResponse::Read::Kind::bytes);
        // The stop may come before the read waits or while it does: either way it ends it.
        std::jthread canceller([&] {
            std::this_thread::sleep_for(50ms);
            stop.request_stop();
        });
        const auto read = opened.response->read(in(60s));
        EXPECT_EQ(read.kind, HttpResponse::Read::Kind::failed);
        EXPECT_EQ(read.error.kind, HttpError::Kind::cancelled);
    }
    // The server sees both connections go.
    EXPECT_TRUE(server.waitForClientDisconnects(2, 60s));
    // Already stopped: nothing is sent.
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(HttpClient().open(request, stopped.get_token()).error.kind,
              HttpError::Kind::cancelled);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(HttpClient, ReportsTransportFailuresAsNetworkErrors) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply::eventStream().chunk("data: a\n").drop());
    server.enqueue(ScriptedReply::raw("not http at all\r\n\r\n"));
    server.enqueue(ScriptedReply::raw(""));
    server.enqueue(ScriptedReply(200).withContentLength().chunk("12345").drop());
    {
        auto opened = HttpClient().open(post(server.url()), {});
        ASSERT_TRUE(opened.response);
        EXPECT_EQ(opened.response->read(in(2s)).bytes, "data: a\n");
        const auto broken = opened.response->read(in(2s));
        EXPECT_EQ(broken.kind, HttpResponse::Read::Kind::failed);
        EXPECT_EQ(broken.error.kind, HttpError::Kind::network);
        EXPECT_FALSE(broken.error.description.empty());
    }
    for (int i = 0; i < 2; ++i) {
        const auto opened = HttpClient().open(post(server.url()), {});
        EXPECT_FALSE(opened.response);
        EXPECT_EQ(opened.error.kind, HttpError::Kind::network);
    }
    {
        // Announced five bytes, closes after them: the body is whole, so it ends normally.
        auto opened = HttpClient().open(post(server.url()), {});
        ASSERT_TRUE(opened.response);
        EXPECT_EQ(readWhole(*opened.response), "12345");
    }
    // Nothing listens on a port the server has given up.
    std::string closedURL;
    {
        LoopbackHttpServer gone;
        closedURL = gone.url();
    }
    const auto refused = HttpClient().open(post(closedURL), {});
    EXPECT_FALSE(refused.response);
    EXPECT_EQ(refused.error.kind, HttpError::Kind::network);
}

// A secure server on 127.0.0.1 whose certificate it made itself, as a misconfigured or
// intercepting server shows one.
class UntrustedServer {
  public:
    UntrustedServer() {
        const std::string script = tools_.writeScript(
            "serve",
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
            "-keyout \"$FAKE_DIR/key.pem\" -out \"$FAKE_DIR/cert.pem\" -days 1 -subj /CN=localhost "
            "2>/dev/null\n"
            "exec openssl s_server -accept 127.0.0.1:0 -cert \"$FAKE_DIR/cert.pem\" "
            "-key \"$FAKE_DIR/key.pem\" -www > \"$FAKE_DIR/out\" 2>&1\n");
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        char* const arguments[] = {const_cast<char*>(script.c_str()), nullptr};
        if (posix_spawn(&child_, script.c_str(), nullptr, &attributes, arguments, environ) != 0) {
            child_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
    }
    ~UntrustedServer() {
        if (child_ > 0) {
            ::kill(-child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
    }
    // The address once the server listens; empty when it did not come up.
    std::string url() {
        constexpr std::string_view kAccept = "ACCEPT 127.0.0.1:";
        for (int attempt = 0; attempt < 600 && child_ > 0; ++attempt) {
            const auto out = tools_.read("out").value_or("");
            if (const auto at = out.find(kAccept); at != std::string::npos) {
                std::istringstream port(out.substr(at + kAccept.size()));
                int number = 0;
                if (port >> number) {
                    return "https://127.0.0.1:" + std::to_string(number) + "/";
                }
            }
            std::this_thread::sleep_for(50ms);
        }
        return {};
    }

  private:
    testing::FakeExecutableDirectory tools_;
    pid_t child_ = -1;
};

// Why no connection was made, each as the person can act on it.
TEST(HttpClient, ConnectionFailuresSayWhy) {
    std::string refusedURL;
    {
        LoopbackHttpServer gone;
        refusedURL = gone.url();
    }
    LoopbackHttpServer plain;
    std::string plainAsSecure = plain.url();
    plainAsSecure.replace(0, 4, "https");
    UntrustedServer untrusted;
    const std::string untrustedURL = untrusted.url();
    ASSERT_FALSE(untrustedURL.empty()) << "openssl s_server did not start";

    struct Case {
        std::string url;
        HttpError::Connection connection;
    };
    for (const Case& c : std::vector<Case>{
             {refusedURL, HttpError::Connection::refused},
             {plainAsSecure, HttpError::Connection::tls},
             {untrustedURL, HttpError::Connection::certificate},
             {"https://nonexistent.invalid/", HttpError::Connection::hostNotFound},
         }) {
        SCOPED_TRACE(c.url);
        HttpRequest request = post(c.url);
        request.timeout = 20s;  // a watchdog: each fails at once
        const auto opened = HttpClient().open(request, {});
        ASSERT_FALSE(opened.response);
        EXPECT_EQ(opened.error.kind, HttpError::Kind::network);
        EXPECT_EQ(opened.error.connection, c.connection) << opened.error.description;
    }
}

TEST(HttpClient, ReadsAnErrorBodyUpToALimitAndATime) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(500).chunk(std::string(5000, 'e')));
    server.enqueue(ScriptedReply(503).chunk("partial").stall());
    {
        auto opened = HttpClient().open(post(server.url()), {});
        ASSERT_TRUE(opened.response);
        EXPECT_EQ(opened.response->status(), 500);
        const auto prefix = opened.response->readPrefix(4096, in(2s));
        EXPECT_EQ(prefix.bytes, std::string(4096, 'e'));
        EXPECT_TRUE(prefix.reachedLimit);
        EXPECT_FALSE(prefix.error);
    }
    {
        auto opened = HttpClient().open(post(server.url()), {});
        ASSERT_TRUE(opened.response);
        const auto prefix = opened.response->readPrefix(4096, in(150ms));
        EXPECT_EQ(prefix.bytes, "partial");
        EXPECT_FALSE(prefix.reachedLimit);
        ASSERT_TRUE(prefix.error);
        EXPECT_EQ(prefix.error->kind, HttpError::Kind::timedOut);
    }
}

TEST(HttpClient, SpeaksOnlyHttpAndHttpsAndPlainHttpOnlyToThisComputer) {
    const HttpClient strict;
    const HttpClient lenient(HttpClient::Options{.allowPlainHttpToAnyHost = true});
    struct Case {
        const char* url;
        bool strictAllows;
        bool lenientAllows;
    };
    const std::vector<Case> cases = {
        {"https://example.com/ravlin-cloud", true, true},
        {"http://127.0.0.1:8080/x", true, true},
        {"http://127.9.0.1/x", true, true},
        {"http://localhost/x", true, true},
        {"http://[::1]:9/x", true, true},
        {"http://example.com/x", false, true},
        {"http://10.0.0.1/x", false, true},
        {"ftp://127.0.0.1/x", false, false},
        {"file:///etc/passwd", false, false},
        {"not a url", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(!strict.checkURL(c.url), c.strictAllows) << c.url;
        EXPECT_EQ(!lenient.checkURL(c.url), c.lenientAllows) << c.url;
    }
    // A refused URL is refused before anything is sent.
    const auto opened = strict.open(post("http://example.com/"), {});
    EXPECT_EQ(opened.error.kind, HttpError::Kind::unsupportedURL);
}

// Sets an environment variable for one scope and puts back what was there.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(HttpClient, PlainHttpToThisComputerNeverGoesThroughAProxy) {
    // A proxy sees every byte of a plain http request, the key in its Authorization header
    // included. Requests through the proxy name their whole URL; direct ones only the path.
    LoopbackHttpServer proxy;
    proxy.setHandler([](const testing::RecordedRequest&) { return ScriptedReply(502); });
    const ScopedEnvironment variable("http_proxy", proxy.url(""));
    const std::string port = std::to_string(proxy.port());
    const HttpClient lenient(HttpClient::Options{.allowPlainHttpToAnyHost = true});
    for (const std::string host :
         {"127.0.0.1", "127.0.0.2", "127.255.255.254", "LocalHost", "[::1]"}) {
        (void)lenient.open(post("http://" + host + ":" + port + "/x"), {});
    }
    for (const auto& request : proxy.requests()) {
        EXPECT_EQ(request.target, "/x") << "went through the proxy";
    }
    // The proxy is in force for any other host.
    const std::size_t before = proxy.requestCount();
    (void)lenient.open(post("http://192.0.2.1:9/x"), {});
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back().target, "http://192.0.2.1:9/x");
}

TEST(HttpClient, RefusesHeaderValuesThatWouldSplitTheHead) {
    LoopbackHttpServer server;
    auto request = post(server.url());
    request.headers.push_back({"apikey", "key\r\nX-Injected: 1"});
    const auto opened = HttpClient().open(request, {});
    EXPECT_FALSE(opened.response);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(HttpClient, FindsTheHostOfAURL) {
    EXPECT_EQ(hostOfURL("https://service.example.com/functions/v1/ravlin-cloud"),
              "service.example.com");
    EXPECT_EQ(hostOfURL("http://[::1]:8080/"), "::1");
    EXPECT_EQ(hostOfURL("nonsense"), std::nullopt);
}

}  // namespace
}  // namespace ravlin::net
