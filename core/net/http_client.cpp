#include "core/net/http_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <functional>
#include <utility>

namespace ravlin::net {

namespace {

// libcurl, loaded with the first address or transfer rather than with the program: it brings
// its TLS, Kerberos, LDAP and RTMP libraries and their start-up work along (about 5 MB resident),
// which a program that has not gone online yet does not need.
struct Curl {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_url) url = nullptr;
    decltype(&::curl_url_set) url_set = nullptr;
    decltype(&::curl_url_get) url_get = nullptr;
    decltype(&::curl_free) free = nullptr;
    decltype(&::curl_url_cleanup) url_cleanup = nullptr;
    decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_multi_perform) multi_perform = nullptr;
    decltype(&::curl_multi_info_read) multi_info_read = nullptr;
    decltype(&::curl_multi_poll) multi_poll = nullptr;
    decltype(&::curl_multi_init) multi_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
    decltype(&::curl_multi_wakeup) multi_wakeup = nullptr;
};

// Loaded and initialised once per process, before the first use; none where it cannot be.
const Curl* curl() {
    static const Curl* const loaded = []() -> const Curl* {
        void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static Curl table;
        bool complete = true;
        const auto bind = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(::dlsym(library, name));
            complete = complete && slot != nullptr;
        };
        bind(table.global_init, "curl_global_init");
        bind(table.url, "curl_url");
        bind(table.url_set, "curl_url_set");
        bind(table.url_get, "curl_url_get");
        bind(table.free, "curl_free");
        bind(table.url_cleanup, "curl_url_cleanup");
        bind(table.multi_remove_handle, "curl_multi_remove_handle");
        bind(table.easy_cleanup, "curl_easy_cleanup");
        bind(table.multi_cleanup, "curl_multi_cleanup");
        bind(table.slist_free_all, "curl_slist_free_all");
        bind(table.easy_getinfo, "curl_easy_getinfo");
        bind(table.easy_strerror, "curl_easy_strerror");
        bind(table.multi_perform, "curl_multi_perform");
        bind(table.multi_info_read, "curl_multi_info_read");
        bind(table.multi_poll, "curl_multi_poll");
        bind(table.multi_init, "curl_multi_init");
        bind(table.easy_init, "curl_easy_init");
        bind(table.easy_setopt, "curl_easy_setopt");
        bind(table.slist_append, "curl_slist_append");
        bind(table.multi_add_handle, "curl_multi_add_handle");
        bind(table.multi_wakeup, "curl_multi_wakeup");
        if (!complete || table.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return nullptr;
        }
        return &table;
    }();
    return loaded;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmedSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

struct UrlParts {
    std::string scheme;
    std::string host;
};

std::optional<UrlParts> parseURL(std::string_view url) {
    const Curl* const api = curl();
    if (api == nullptr) {
        return std::nullopt;
    }
    CURLU* handle = api->url();
    if (handle == nullptr) {
        return std::nullopt;
    }
    std::optional<UrlParts> parts;
    const std::string text(url);
    if (api->url_set(handle, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        if (api->url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) {
            UrlParts found;
            found.scheme = scheme;
            if (api->url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
                found.host = host;
            }
            parts = std::move(found);
        }
        api->free(scheme);
        api->free(host);
    }
    api->url_cleanup(handle);
    return parts;
}

std::string withoutBrackets(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

// The hosts of `isLoopbackHost`, in libcurl's no-proxy notation.
constexpr const char* kLoopbackHosts = "localhost,127.0.0.0/8,::1";

bool isLoopbackHost(const std::string& bracketed) {
    const std::string host = withoutBrackets(bracketed);
    if (equalsIgnoringCase(host, "localhost")) {
        return true;
    }
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        return IN6_IS_ADDR_LOOPBACK(&v6);
    }
    return false;
}

}  // namespace

// One libcurl transfer and what it has received so far.
struct HttpTransfer {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::string body;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    int status = 0;
    std::vector<HttpHeaderField> headers;
    bool headComplete = false;
    std::string received;  // body bytes not yet handed out start at `consumed`
    std::size_t consumed = 0;
    bool done = false;
    CURLcode result = CURLE_OK;

    std::stop_token stop;
    std::optional<std::stop_callback<std::function<void()>>> wake;

    HttpTransfer() = default;
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    ~HttpTransfer() {
        wake.reset();  // waits for a wake-up running on another thread
        const Curl* const api = curl();  // loaded, where any of these exist
        if (multi != nullptr && easy != nullptr) {
            api->multi_remove_handle(multi, easy);
        }
        if (easy != nullptr) {
            api->easy_cleanup(easy);
        }
        if (multi != nullptr) {
            api->multi_cleanup(multi);
        }
        if (headerList != nullptr) {
            api->slist_free_all(headerList);
        }
    }

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto& self = *static_cast<HttpTransfer*>(user);
        const std::size_t length = size * count;
        const std::string_view line(data, length);
        if (line.starts_with("HTTP/")) {
            // A new head (after an interim 1xx one) replaces what came before.
            self.headers.clear();
            self.headComplete = false;
            return length;
        }
        if (self.headComplete) {
            return length;  // trailers
        }
        if (line == "\r\n" || line == "\n") {
            long code = 0;
            curl()->easy_getinfo(self.easy, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200) {
                self.status = static_cast<int>(code);
                self.headComplete = true;
            }
            return length;
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            self.headers.push_back({std::string(trimmedSpaces(line.substr(0, colon))),
                                    std::string(trimmedSpaces(line.substr(colon + 1)))});
        }
        return length;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto& self = *static_cast<HttpTransfer*>(user);
        const std::size_t length = size * count;
        if (!self.headComplete) {
            long code = 0;
            curl()->easy_getinfo(self.easy, CURLINFO_RESPONSE_CODE, &code);
            self.status = static_cast<int>(code);
            self.headComplete = true;
        }
        if (self.consumed == self.received.size()) {
            self.received.clear();
            self.consumed = 0;
        }
        self.received.append(data, length);
        return length;
    }

    [[nodiscard]] HttpError errorFor(CURLcode code) const {
        std::string description =
            errorBuffer[0] != '\0' ? std::string(errorBuffer) : curl()->easy_strerror(code);
        switch (code) {
            case CURLE_OPERATION_TIMEDOUT:
                return HttpError::timedOut();
            case CURLE_URL_MALFORMAT:
                return {HttpError::Kind::unsupportedURL, std::move(description)};
            case CURLE_ABORTED_BY_CALLBACK:
                return HttpError::cancelled();
            default:
                return {HttpError::Kind::network, std::move(description), connectionFailure(code)};
        }
    }

    [[nodiscard]] HttpError::Connection connectionFailure(CURLcode code) const {
        using Connection = HttpError::Connection;
        switch (code) {
            case CURLE_COULDNT_CONNECT: {
                long error = 0;
                curl()->easy_getinfo(easy, CURLINFO_OS_ERRNO, &error);
                return error == ECONNREFUSED ? Connection::refused : Connection::unreachable;
            }
            case CURLE_COULDNT_RESOLVE_HOST:
                return Connection::hostNotFound;
            case CURLE_SSL_CONNECT_ERROR:
                return Connection::tls;
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            case CURLE_SSL_INVALIDCERTSTATUS:
                return Connection::certificate;
            default:
                return Connection::other;
        }
    }

    enum class Wait { ready, timedOut, cancelled };

    // Runs the transfer until `ready()` holds or the transfer is done, the stop token fires or
    // `until` passes.
    template <class Ready>
    Wait drive(Instant until, Ready ready) {
        while (true) {
            if (stop.stop_requested()) {
                return Wait::cancelled;
            }
            // Once the time is up nothing more is taken in, so a sender that never pauses
            // cannot outrun the caller's deadline.
            if (std::chrono::steady_clock::now() >= until) {
                return Wait::timedOut;
            }
            int running = 0;
            const CURLMcode performed = curl()->multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl()->multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    done = true;
                    result = message->data.result;
                }
            }
            if (performed != CURLM_OK && !done) {
                done = true;
                result = CURLE_FAILED_INIT;
            }
            if (ready() || done) {
                return Wait::ready;
            }
            const Instant now = std::chrono::steady_clock::now();
            if (now >= until) {
                return Wait::timedOut;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
            const int waitMs = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
            curl()->multi_poll(multi, nullptr, 0, waitMs, nullptr);
        }
    }
};

HttpResponse::HttpResponse(std::unique_ptr<HttpTransfer> transfer)
    : transfer_(std::move(transfer)) {}
HttpResponse::HttpResponse(HttpResponse&&) noexcept = default;
HttpResponse& HttpResponse::operator=(HttpResponse&&) noexcept = default;
HttpResponse::~HttpResponse() = default;

int HttpResponse::status() const {
    return transfer_->status;
}

const std::vector<HttpHeaderField>& HttpResponse::headers() const {
    return transfer_->headers;
}

HttpResponse::Read HttpResponse::read(Instant until) {
    HttpTransfer& t = *transfer_;
    if (t.consumed < t.received.size()) {
        Read out{Read::Kind::bytes, std::string_view(t.received).substr(t.consumed), {}};
        t.consumed = t.received.size();
        return out;
    }
    t.received.clear();
    t.consumed = 0;
    if (!t.done) {
        switch (t.drive(until, [&] { return !t.received.empty(); })) {
            case HttpTransfer::Wait::cancelled:
                return {Read::Kind::failed, {}, HttpError::cancelled()};
            case HttpTransfer::Wait::timedOut:
                return {Read::Kind::failed, {}, HttpError::timedOut()};
            case HttpTransfer::Wait::ready:
                break;
        }
        if (!t.received.empty()) {
            t.consumed = t.received.size();
            return {Read::Kind::bytes, t.received, {}};
        }
    }
    if (t.result != CURLE_OK) {
        return {Read::Kind::failed, {}, t.errorFor(t.result)};
    }
    return {Read::Kind::end, {}, {}};
}

HttpResponse::Prefix HttpResponse::readPrefix(std::size_t limit, Instant until) {
    Prefix prefix;
    while (prefix.bytes.size() < limit) {
        const Read chunk = read(until);
        if (chunk.kind == Read::Kind::end) {
            return prefix;
        }
        if (chunk.kind == Read::Kind::failed) {
            prefix.error = chunk.error;
            return prefix;
        }
        const std::size_t room = limit - prefix.bytes.size();
        prefix.bytes.append(chunk.bytes.substr(0, room));
    }
    prefix.reachedLimit = true;
    return prefix;
}

HttpClient::HttpClient(Options options) : options_(options) {}

std::shared_ptr<const HttpClient> HttpClient::shared() {
    static const auto client = std::make_shared<const HttpClient>();
    return client;
}

std::optional<HttpError> HttpClient::checkURL(std::string_view url) const {
    const auto parts = parseURL(url);
    if (!parts || parts->host.empty()) {
        return HttpError{HttpError::Kind::unsupportedURL, "unsupported URL"};
    }
    if (parts->scheme == "https") {
        return std::nullopt;
    }
    if (parts->scheme != "http") {
        return HttpError{HttpError::Kind::unsupportedURL, "unsupported URL"};
    }
    if (!options_.allowPlainHttpToAnyHost && !isLoopbackHost(parts->host)) {
        return HttpError{HttpError::Kind::unsupportedURL,
                         "plain http is allowed only to this computer"};
    }
    return std::nullopt;
}

HttpClient::Opened HttpClient::open(const HttpRequest& request, std::stop_token stopToken) const {
    Opened opened;
    if (auto refused = checkURL(request.url)) {
        opened.error = std::move(*refused);
        return opened;
    }
    bool hasAccept = false;
    bool hasContentType = false;
    bool hasExpect = false;
    for (const auto& field : request.headers) {
        if (field.name.empty() || hasLineBreakOrNul(field.name) || hasLineBreakOrNul(field.value) ||
            field.name.find(':') != std::string::npos) {
            opened.error = {HttpError::Kind::network, "invalid header field"};
            return opened;
        }
        hasAccept = hasAccept || equalsIgnoringCase(field.name, "Accept");
        hasContentType = hasContentType || equalsIgnoringCase(field.name, "Content-Type");
        hasExpect = hasExpect || equalsIgnoringCase(field.name, "Expect");
    }
    if (stopToken.stop_requested()) {
        opened.error = HttpError::cancelled();
        return opened;
    }

    auto t = std::make_unique<HttpTransfer>();
    const Curl* const api = curl();
    if (api != nullptr) {
        t->multi = api->multi_init();
        t->easy = api->easy_init();
    }
    if (t->multi == nullptr || t->easy == nullptr) {
        opened.error = {HttpError::Kind::network, "could not start a transfer"};
        return opened;
    }
    CURL* easy = t->easy;
    const long timeoutMs =
        static_cast<long>(std::clamp<long long>(request.timeout.count(), 1, 24LL * 3600 * 1000));
    api->easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    api->easy_setopt(easy, CURLOPT_VERBOSE, 0L);
    api->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A transfer stopped while its host name is still being resolved lets the resolver thread
    // finish on its own instead of waiting for it, so a stop request is answered at once.
    api->easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    api->easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    api->easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    api->easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Exactly the hosts plain http may go to are never sent through a proxy: a proxy would
    // read the credential and the text of such a request in clear.
    api->easy_setopt(easy, CURLOPT_NOPROXY, kLoopbackHosts);
    api->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    api->easy_setopt(easy, CURLOPT_ERRORBUFFER, t->errorBuffer);
    api->easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpTransfer::onHeader);
    api->easy_setopt(easy, CURLOPT_HEADERDATA, t.get());
    api->easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::onBody);
    api->easy_setopt(easy, CURLOPT_WRITEDATA, t.get());

    if (request.body) {
        t->body = *request.body;
    }
    if (request.method == "GET" && !request.body) {
        api->easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
        api->easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        if (request.method == "POST") {
            api->easy_setopt(easy, CURLOPT_POST, 1L);
        } else {
            api->easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        if (request.body || request.method == "POST") {
            api->easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(t->body.size()));
            api->easy_setopt(easy, CURLOPT_POSTFIELDS, t->body.c_str());
        }
    }

    // Exactly the listed headers, in order; libcurl's own additions that the request did not
    // ask for are removed ("Name:" removes, "Name;" sends an empty value).
    auto append = [&](const std::string& line) {
        curl_slist* next = api->slist_append(t->headerList, line.c_str());
        if (next != nullptr) {
            t->headerList = next;
        }
        return next != nullptr;
    };
    bool listed = true;
    for (const auto& field : request.headers) {
        listed = listed &&
                 append(field.value.empty() ? field.name + ";" : field.name + ": " + field.value);
    }
    if (!hasExpect) {
        listed = listed && append("Expect:");
    }
    if (!hasAccept) {
        listed = listed && append("Accept:");
    }
    if (!hasContentType && (request.body || request.method == "POST")) {
        listed = listed && append("Content-Type:");
    }
    if (!listed) {
        opened.error = {HttpError::Kind::network, "could not start a transfer"};
        return opened;
    }
    api->easy_setopt(easy, CURLOPT_HTTPHEADER, t->headerList);

    if (api->multi_add_handle(t->multi, easy) != CURLM_OK) {
        opened.error = {HttpError::Kind::network, "could not start a transfer"};
        return opened;
    }
    t->stop = stopToken;
    CURLM* multi = t->multi;
    t->wake.emplace(stopToken, std::function<void()>([api, multi] { api->multi_wakeup(multi); }));

    const Instant until = std::chrono::steady_clock::now() + request.timeout;
    switch (t->drive(until, [&] { return t->headComplete; })) {
        case HttpTransfer::Wait::cancelled:
            opened.error = HttpError::cancelled();
            return opened;
        case HttpTransfer::Wait::timedOut:
            opened.error = HttpError::timedOut();
            return opened;
        case HttpTransfer::Wait::ready:
            break;
    }
    if (!t->headComplete) {
        opened.error = t->errorFor(t->result != CURLE_OK ? t->result : CURLE_GOT_NOTHING);
        return opened;
    }
    opened.response.emplace(HttpResponse(std::move(t)));
    return opened;
}

std::optional<std::string> hostOfURL(std::string_view url) {
    const auto parts = parseURL(url);
    if (!parts || parts->host.empty()) {
        return std::nullopt;
    }
    return withoutBrackets(parts->host);
}

}  // namespace ravlin::net
