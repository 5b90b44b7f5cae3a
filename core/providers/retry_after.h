#pragma once

// A service that answers "too many requests" or "unavailable" with a Retry-After header asks to
// be left alone for a while. The wait is kept per route (the provider's identifier), so that
// nothing more goes to that route until it has passed, whoever asks: the route is rebuilt for
// every sentence, the wait is not.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/http_client.h"

namespace ravlin {

// How long a Retry-After value asks to wait: delta-seconds, or an HTTP-date (IMF-fixdate, the
// obsolete RFC 850 form, or asctime's) measured from `now`; at most `kLongestRetryAfter`, zero
// for a date gone by; none when the value is neither.
inline constexpr std::chrono::seconds kLongestRetryAfter{300};
[[nodiscard]] std::optional<std::chrono::seconds> parseRetryAfter(
    std::string_view value, std::chrono::system_clock::time_point now);

class QNRetryAfterGate {
  public:
    using Clock = std::chrono::steady_clock;

    // The one the providers and the Composer share.
    [[nodiscard]] static QNRetryAfterGate& shared();

    // A reply of `route` that is not a success: its Retry-After, if any, holds the route.
    void noteReply(std::string_view route, int status,
                   const std::vector<net::HttpHeaderField>& headers);
    // Holds `route` for `wait` from now (a later end replaces an earlier one, never the other
    // way round).
    void hold(std::string_view route, std::chrono::seconds wait);
    // What is left of the route's wait, in whole seconds rounded up; none when it may be asked.
    [[nodiscard]] std::optional<std::chrono::seconds> remaining(std::string_view route) const;
    // Forgets every wait.
    void clear();

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Clock::time_point, std::less<>> until_;
};

// The failure of a call the route's wait kept from going out: `name` (the provider's, as its
// texts begin) then " waiting before trying again (" and the seconds left, " s left)".
[[nodiscard]] std::string retryAfterWaitText(std::string_view name, std::chrono::seconds left);

}  // namespace ravlin
