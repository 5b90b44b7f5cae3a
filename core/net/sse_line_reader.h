#pragma once

// Splits a server-sent-event body into text lines, one at a time, with a hard cap on the length
// of a line. Only a line feed ends a line; one carriage return before it is dropped, so CR LF
// and LF endings read alike while a carriage return elsewhere stays in the line. Each line must
// be UTF-8. What the lines mean belongs to the provider that reads them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin::net {

// One delivery of body bytes: some bytes, the end of the body, or a failure that the source
// keeps the details of.
struct SseByteChunk {
    enum class Kind { bytes, end, failed };
    Kind kind = Kind::end;
    // For `bytes`: at least one byte, valid until the next call of `next()`.
    std::string_view bytes;

    [[nodiscard]] static SseByteChunk of(std::string_view bytes) { return {Kind::bytes, bytes}; }
    [[nodiscard]] static SseByteChunk endOfBody() { return {Kind::end, {}}; }
    [[nodiscard]] static SseByteChunk failure() { return {Kind::failed, {}}; }
};

// Where the reader pulls its bytes from; asked only when the reader has used up the previous
// delivery.
class SseByteSource {
  public:
    virtual ~SseByteSource() = default;
    [[nodiscard]] virtual SseByteChunk next() = 0;
};

enum class SseLineStatus {
    line,             // a line is at hand
    end,              // the body ended and no bytes are pending
    payloadTooLarge,  // more than the allowed bytes before a line feed; the partial line is gone
    malformed,        // the line is not UTF-8
    sourceFailed,     // the source failed; the partial line is gone
};

class SseLineReader {
  public:
    static constexpr std::int64_t kDefaultMaxLineBytes = 262144;

    explicit SseLineReader(SseByteSource& source, std::int64_t maxLineBytes = kDefaultMaxLineBytes);

    // Reads the next line. On `line`, `line` holds its text without the line feed and without
    // one trailing carriage return, valid until the next call. A last line without a line feed
    // is still delivered; only the call after it reports `end`. The reader is not meant to be
    // used again after a failure.
    [[nodiscard]] SseLineStatus readLine(std::string_view& line);

    // The text of one line's bytes: one trailing carriage return removed, then checked to be
    // UTF-8. Absent when it is not.
    [[nodiscard]] static std::optional<std::string_view> decodeLine(std::string_view bytes);

    [[nodiscard]] std::int64_t maxLineBytes() const { return maxLineBytes_; }

  private:
    SseLineStatus finish(std::string_view bytes, std::string_view& line);

    SseByteSource& source_;
    std::int64_t maxLineBytes_;
    std::string_view pending_;  // unread bytes of the source's last delivery
    std::string buffer_;        // a line that spans deliveries
    bool ended_ = false;
};

}  // namespace ravlin::net
