#pragma once

// Dirty spans and the chunk boundary detector: after each edit the composer asks whether the
// changed part of the canonical text now ends a chunk, so a finished piece can go to sentence
// polish at once instead of waiting for a pause.

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/support/clock.h"
#include "core/text/range.h"

namespace ravlin {

enum class QNBoundaryEvent {
    terminator,
    paragraph,
    softPunctuation,
    idle,
    commit,
};

// The part of the canonical text changed since the last correction.
struct QNDirtySpan {
    text::Utf16Range range;
    std::int64_t revision = 0;
    Instant lastEditAt;

    [[nodiscard]] bool isEmpty() const { return range.length == 0; }

    friend bool operator==(const QNDirtySpan&, const QNDirtySpan&) = default;
};

class QNChunkBoundaryDetector {
  public:
    // Characters of the span that must precede a punctuation mark before it ends a chunk.
    static constexpr std::int64_t minimumPunctuationChunkLength = 10;

    // `paragraph`, `terminator`, `softPunctuation` or none for the text inside the span. Only
    // the span is looked at; it is limited to the text first, and a span whose ends do not fall
    // on character boundaries gives none. Never answers `idle` or `commit`.
    [[nodiscard]] std::optional<QNBoundaryEvent> evaluate(std::u16string_view canonicalText,
                                                          const QNDirtySpan& dirtySpan) const;
};

}  // namespace ravlin
