#include "core/net/response_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ravlin::net {

SseByteChunk ResponseByteSource::next() {
    const auto read = response_.read(until);
    switch (read.kind) {
        case HttpResponse::Read::Kind::bytes:
            return SseByteChunk::of(read.bytes);
        case HttpResponse::Read::Kind::end:
            return SseByteChunk::endOfBody();
        case HttpResponse::Read::Kind::failed:
            break;
    }
    error = read.error;
    return SseByteChunk::failure();
}

std::chrono::milliseconds durationFromSeconds(double seconds) {
    constexpr double kLongest = 10.0 * 365 * 24 * 3600 * 1000;
    const double milliseconds = std::ceil(seconds * 1000.0);
    if (std::isnan(milliseconds) || milliseconds < 1.0) {
        return std::chrono::milliseconds(1);
    }
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(milliseconds, kLongest)));
}

}  // namespace ravlin::net
