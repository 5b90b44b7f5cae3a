#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/net/sse_line_reader.h"

namespace ravlin::bench {

// A typed draft to measure on: the file named by RAVLIN_BENCH_TEXT when it is set, else the
// draft shipped in bench/data. With `approximateCharacters` > 0 the draft is repeated or cut
// (at a space where possible) to about that many characters.
[[nodiscard]] std::u16string benchText(std::size_t approximateCharacters = 0);

// Where the text came from, for the benchmark's label.
[[nodiscard]] std::string benchTextSource();

// Hands a recorded reply to the line reader in 16 KiB pieces, as network reads would.
class ChunkedBytes final : public net::SseByteSource {
  public:
    explicit ChunkedBytes(std::string_view body) : body_(body) {}
    [[nodiscard]] net::SseByteChunk next() override;

  private:
    std::string_view body_;
};

}  // namespace ravlin::bench
