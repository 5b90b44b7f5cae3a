#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/net/sse_line_reader.h"
#include "core/providers/provider.h"

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

// A provider that answers at once, in this process: its answer streams as `parts` growing
// pieces (the first 1/parts of it, 2/parts...), the whole answer completing the stream.
class InstantProvider final : public QNProviderCorrectionModel {
  public:
    explicit InstantProvider(std::u16string answer, std::size_t parts = 2)
        : answer_(std::move(answer)), parts_(parts == 0 ? 1 : parts) {}
    [[nodiscard]] std::string providerID() const override { return "instant"; }
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override {
        return {true, "Ready", ""};
    }
    void prewarm() override {}
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token) override;
    void streamCorrection(const QNModelCorrectionRequest& request, std::stop_token,
                          const QNModelCorrectionStreamSink& sink) override;

  private:
    std::u16string answer_;
    std::size_t parts_;
};

}  // namespace ravlin::bench
