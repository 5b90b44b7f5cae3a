#pragma once

// Glue between an HTTP reply and the event-stream line reader, and the conversion of the
// configured time-outs (seconds) into the client's durations. Shared by every streaming provider.

#include <chrono>

#include "core/net/http_client.h"
#include "core/net/sse_line_reader.h"
#include "core/support/clock.h"

namespace ravlin::net {

// Hands the line reader the body of one reply, each wait bounded by `until`; a failed read is
// kept in `error`.
class ResponseByteSource final : public SseByteSource {
  public:
    explicit ResponseByteSource(HttpResponse& response) : response_(response) {}

    [[nodiscard]] SseByteChunk next() override;

    Instant until{};
    HttpError error;

  private:
    HttpResponse& response_;
};

// A duration in whole milliseconds from seconds: rounded up, at least 1 ms; values that are not
// finite or too large are held to ten years.
[[nodiscard]] std::chrono::milliseconds durationFromSeconds(double seconds);

}  // namespace ravlin::net
