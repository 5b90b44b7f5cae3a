#pragma once

// A small HTTP client over libcurl, shared by the online providers. One transfer runs on the
// calling thread: `open` sends the request and waits for the head of the final response, then
// the body is pulled as the caller needs it, so memory stays bounded by what one network read
// brings. A stop request wakes a waiting call at once and makes it answer `cancelled`.
//
// The request carries exactly the headers it lists (libcurl's automatic "Expect:", "Accept:"
// and form "Content-Type:" are removed; "Host" and "Content-Length" stay). Only http and https
// are spoken, redirects are never followed, libcurl's verbose output is never enabled (it would
// print the Authorization header) and no signals are used. Plain http is refused for any host
// other than this computer unless the client is built to allow it, so a credential never
// crosses the network in clear.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/clock.h"

namespace ravlin::net {

struct HttpHeaderField {
    std::string name;
    std::string value;

    friend bool operator==(const HttpHeaderField&, const HttpHeaderField&) = default;
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    // Sent in this order, each once.
    std::vector<HttpHeaderField> headers;
    std::optional<std::string> body;
    // Bounds connecting, sending the request and waiting for the response head.
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
};

struct HttpError {
    enum class Kind {
        cancelled,       // the stop token was triggered
        timedOut,        // the time allowed for the step ran out
        unsupportedURL,  // not an http(s) URL, or plain http to another computer
        network,         // connection, protocol or transfer failure
    };
    // Why no connection was made, for `network`: the person can act on each differently.
    enum class Connection {
        other,          // made, or failed for another reason (cut, protocol, transfer)
        refused,        // nothing listens at the address
        unreachable,    // no route to the address, or no answer to the connection
        hostNotFound,   // the name does not resolve
        tls,            // the secure handshake failed (a plain port, an old protocol)
        certificate,    // the server's certificate is not trusted for its name
    };
    Kind kind = Kind::network;
    // A short human-readable text from the transport; never holds header values or bodies.
    std::string description;
    Connection connection = Connection::other;

    [[nodiscard]] static HttpError cancelled() { return {Kind::cancelled, "cancelled"}; }
    [[nodiscard]] static HttpError timedOut() { return {Kind::timedOut, "The request timed out."}; }
};

struct HttpTransfer;

// The response of one request, its body read on demand. Move-only; destroying it ends the
// transfer.
class HttpResponse {
  public:
    HttpResponse(HttpResponse&&) noexcept;
    HttpResponse& operator=(HttpResponse&&) noexcept;
    ~HttpResponse();

    [[nodiscard]] int status() const;
    // The head's fields in the order received.
    [[nodiscard]] const std::vector<HttpHeaderField>& headers() const;
    [[nodiscard]] bool isSuccess() const { return status() >= 200 && status() <= 299; }

    struct Read {
        enum class Kind { bytes, end, failed };
        Kind kind = Kind::end;
        // For `bytes`: at least one byte, valid until the next read.
        std::string_view bytes;
        // For `failed`.
        HttpError error;
    };
    // The next bytes of the body. Bytes already received come back at once; otherwise waits
    // until bytes arrive, the body ends, the transfer fails, the stop token fires (`cancelled`)
    // or `until` passes (`timedOut`).
    [[nodiscard]] Read read(Instant until);

    struct Prefix {
        std::string bytes;
        // The limit was reached (more bytes may have followed).
        bool reachedLimit = false;
        // Why reading stopped before the limit and the end, if it did.
        std::optional<HttpError> error;
    };
    // Up to `limit` bytes of the body, read until `until` at the latest.
    [[nodiscard]] Prefix readPrefix(std::size_t limit, Instant until);

  private:
    friend class HttpClient;
    explicit HttpResponse(std::unique_ptr<HttpTransfer> transfer);
    std::unique_ptr<HttpTransfer> transfer_;
};

class HttpClient {
  public:
    struct Options {
        // Allows plain http to any host, not only to this computer (loopback addresses and
        // "localhost").
        bool allowPlainHttpToAnyHost = false;
    };

    HttpClient() : HttpClient(Options{}) {}
    explicit HttpClient(Options options);

    // A client with default options, built once.
    [[nodiscard]] static std::shared_ptr<const HttpClient> shared();

    struct Opened {
        std::optional<HttpResponse> response;
        HttpError error;  // when `response` is absent
    };
    // Sends the request and waits for the head of the final response (interim 1xx heads are
    // passed over), within the request's time-out.
    [[nodiscard]] Opened open(const HttpRequest& request, std::stop_token stopToken) const;

    // Whether the client would send to this URL: http or https, plain http only as allowed.
    [[nodiscard]] std::optional<HttpError> checkURL(std::string_view url) const;

    [[nodiscard]] const Options& options() const { return options_; }

  private:
    Options options_;
};

// The host part of a URL (without brackets for IPv6 literals), or absent when it has none or
// cannot be parsed.
[[nodiscard]] std::optional<std::string> hostOfURL(std::string_view url);

}  // namespace ravlin::net
