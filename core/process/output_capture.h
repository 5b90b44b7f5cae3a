#pragma once

// Bounded copies of a child's output stream. Every byte the child writes is read (so the child
// never blocks on a full pipe); only a bounded part of it is kept.

#include <cstdint>
#include <string>
#include <string_view>

namespace ravlin::process {

// Receives the bytes read from one pipe, chunk by chunk, in order.
class OutputSink {
  public:
    virtual ~OutputSink() = default;
    virtual void consume(std::string_view chunk) = 0;
};

// Keeps the first `maxBytes` bytes and drops the rest.
class PrefixCapture final : public OutputSink {
  public:
    // A negative cap is taken as 0.
    explicit PrefixCapture(std::int64_t maxBytes);

    void consume(std::string_view chunk) override;

    [[nodiscard]] const std::string& bytes() const { return output_; }
    // The bytes as UTF-8, each invalid sequence replaced by U+FFFD.
    [[nodiscard]] std::string text() const;

  private:
    std::size_t maxBytes_;
    std::string output_;
};

// Keeps a head of half the cap and a tail of the rest; the bytes dropped between them are
// counted and shown by a marker.
class HeadTailCapture final : public OutputSink {
  public:
    // A negative cap is taken as 0.
    explicit HeadTailCapture(std::int64_t maxBytes);

    void consume(std::string_view chunk) override;

    [[nodiscard]] std::int64_t truncatedByteCount() const { return truncated_; }
    // The head, then "\n...[truncated N bytes]...\n" when bytes were dropped, then the tail.
    [[nodiscard]] std::string bytes() const;
    // `bytes()` as UTF-8, each invalid sequence (a cut may fall inside a character) replaced by
    // U+FFFD.
    [[nodiscard]] std::string text() const;

  private:
    std::size_t headLimit_;
    std::size_t tailLimit_;
    std::string head_;
    std::string tail_;  // live bytes start at tailStart_
    std::size_t tailStart_ = 0;
    std::int64_t truncated_ = 0;
};

// `bytes` as well-formed UTF-8: each ill-formed sequence becomes U+FFFD.
[[nodiscard]] std::string decodeUtf8Lossy(std::string_view bytes);

}  // namespace ravlin::process
