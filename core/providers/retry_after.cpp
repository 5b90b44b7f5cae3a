#include "core/providers/retry_after.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>

namespace ravlin {
namespace {

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::ranges::all_of(text, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<int> number(std::string_view text) {
    if (!isDigits(text) || text.size() > 4) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
    }
    return value;
}

// An HTTP-date in any of its three forms, as seconds since the epoch (UTC).
std::optional<std::int64_t> parseHttpDate(std::string_view value) {
    static constexpr std::array<std::string_view, 12> kMonths{
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    // The week day goes first; the rest splits at spaces, dashes and commas.
    const auto first = value.find_first_of(" ,");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<std::string_view> tokens;
    std::size_t at = first;
    while (at < value.size()) {
        while (at < value.size() && (value[at] == ' ' || value[at] == ',' || value[at] == '-')) {
            ++at;
        }
        const auto end = value.find_first_of(" ,-", at);
        const auto token = value.substr(at, end == std::string_view::npos ? end : end - at);
        if (!token.empty()) {
            tokens.push_back(token);
        }
        at = end == std::string_view::npos ? value.size() : end;
    }
    std::optional<int> month, day, year, hour, minute, second;
    for (const std::string_view token : tokens) {
        std::string lower(token);
        std::ranges::transform(lower, lower.begin(),
                               [](char c) { return static_cast<char>(std::tolower(c)); });
        if (const auto found = std::ranges::find(kMonths, lower); found != kMonths.end()) {
            month = static_cast<int>(found - kMonths.begin());
        } else if (token.size() == 8 && token[2] == ':' && token[5] == ':') {
            hour = number(token.substr(0, 2));
            minute = number(token.substr(3, 2));
            second = number(token.substr(6, 2));
        } else if (const auto n = number(token)) {
            if (!day && token.size() <= 2 && *n >= 1 && *n <= 31) {
                day = n;
            } else if (!year) {
                // Two-digit years are the RFC 850 form's: 70 to 99 of the last century.
                year = token.size() == 2 ? (*n >= 70 ? 1900 + *n : 2000 + *n) : *n;
            }
        } else if (lower != "gmt" && lower != "utc") {
            return std::nullopt;
        }
    }
    if (!month || !day || !year || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 60) {
        return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    return static_cast<std::int64_t>(timegm(&parts));
}

}  // namespace

std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now) {
    value = trimmed(value);
    if (isDigits(value)) {
        // Digits beyond what the longest wait needs say "a long time": the longest wait.
        if (value.size() > 9) {
            return kLongestRetryAfter;
        }
        std::int64_t seconds = 0;
        for (const char c : value) {
            seconds = seconds * 10 + (c - '0');
        }
        return std::min(std::chrono::seconds(seconds), kLongestRetryAfter);
    }
    const auto date = parseHttpDate(value);
    if (!date) {
        return std::nullopt;
    }
    const auto nowSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return std::clamp(std::chrono::seconds(*date - nowSeconds), std::chrono::seconds(0),
                      kLongestRetryAfter);
}

QNRetryAfterGate& QNRetryAfterGate::shared() {
    static QNRetryAfterGate gate;
    return gate;
}

void QNRetryAfterGate::noteReply(std::string_view route, int status,
                                 const std::vector<net::HttpHeaderField>& headers) {
    if (status >= 200 && status <= 299) {
        return;
    }
    for (const auto& field : headers) {
        std::string name = field.name;
        std::ranges::transform(name, name.begin(),
                               [](char c) { return static_cast<char>(std::tolower(c)); });
        if (name == "retry-after") {
            if (const auto wait = parseRetryAfter(field.value, std::chrono::system_clock::now())) {
                hold(route, *wait);
            }
            return;
        }
    }
}

void QNRetryAfterGate::hold(std::string_view route, std::chrono::seconds wait) {
    if (wait <= std::chrono::seconds(0)) {
        return;
    }
    const auto until = Clock::now() + std::min(wait, kLongestRetryAfter);
    const std::lock_guard lock(mutex_);
    auto [entry, added] = until_.try_emplace(std::string(route), until);
    if (!added && entry->second < until) {
        entry->second = until;
    }
}

std::optional<std::chrono::seconds> QNRetryAfterGate::remaining(std::string_view route) const {
    const std::lock_guard lock(mutex_);
    const auto entry = until_.find(route);
    if (entry == until_.end()) {
        return std::nullopt;
    }
    const auto left = entry->second - Clock::now();
    if (left <= Clock::duration::zero()) {
        return std::nullopt;
    }
    return std::chrono::ceil<std::chrono::seconds>(left);
}

void QNRetryAfterGate::clear() {
    const std::lock_guard lock(mutex_);
    until_.clear();
}

std::string retryAfterWaitText(std::string_view name, std::chrono::seconds left) {
    return std::string(name) + " waiting before trying again (" + std::to_string(left.count()) +
           " s left)";
}

}  // namespace ravlin
