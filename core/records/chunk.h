#pragma once

// Correction chunks and the chunk ledger: the bookkeeping of the pieces of one Composer text
// that are corrected on their own. The active chunk is the piece being typed, `recent` keeps the
// last committed ones, and the sealed chunks are finished pieces sent to sentence polish, kept in
// step with every edit of the canonical text (the corrected text as shown).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/clock.h"
#include "core/support/uuid.h"
#include "core/text/range.h"

namespace ravlin {

enum class ChunkState {
    streaming,
    chunkLikely,
    committed,
    obsolete,
};

// Why a chunk was dropped. Passed to the invalidation operations; not stored.
enum class ChunkInvalidationReason {
    userEdit,
    boundaryCommit,
    sessionEnded,
    superseded,
};

// One piece of the Composer text. A plain value: the ledger hands out copies.
struct QNCorrectionChunk {
    Uuid id;
    text::Utf16Range canonicalRange;
    std::optional<text::Utf16Range> authoredRange;
    std::u16string rawText;
    std::optional<std::u16string> polishedText;
    std::optional<std::uint64_t> dedupHash;
    Instant startedAt;
    ChunkState state = ChunkState::streaming;
    std::int64_t liveStreamGeneration = 0;
    std::vector<std::string> liveDecisionIDs;
    Instant lastInputAt;
};

class QNChunkLedger final {
  public:
    // A negative capacity counts as 0.
    explicit QNChunkLedger(std::int64_t recentCapacity);

    [[nodiscard]] std::optional<QNCorrectionChunk> active() const { return active_; }
    [[nodiscard]] std::vector<QNCorrectionChunk> recent() const { return recent_; }
    [[nodiscard]] std::vector<QNCorrectionChunk> sealedChunks() const { return sealedChunks_; }

    // Replaces the active chunk (the old one is dropped, not committed) by a new, empty one.
    QNCorrectionChunk startChunk(std::int64_t at, Instant startedAt);

    // Updates the active chunk; none when there is no active chunk. A none `rawText` keeps the
    // chunk's text; a none `authoredRange` clears it.
    std::optional<QNCorrectionChunk> updateActiveChunk(
        text::Utf16Range canonicalRange, std::optional<text::Utf16Range> authoredRange,
        std::optional<std::u16string> rawText, Instant lastInputAt, bool bumpLiveStreamGeneration);

    void invalidateActive(ChunkInvalidationReason reason);
    // Drops the active chunk only when it carries `id`.
    void invalidateChunk(const Uuid& id, ChunkInvalidationReason reason);
    // Moves the active chunk with `id` to `state`; committing moves it to `recent`.
    void promote(const Uuid& id, ChunkState state);

    // Empties the sealed list; `active` and `recent` stay.
    void resetSealedChunks();
    // Finds the sealed chunk with exactly this range, or creates one (removing the sealed chunks
    // the new range contains).
    QNCorrectionChunk prepareSealedChunk(text::Utf16Range canonicalRange, std::u16string rawText,
                                         Instant at);
    [[nodiscard]] std::optional<QNCorrectionChunk> sealedChunk(const Uuid& id) const;
    void recordPolishSuccess(const Uuid& id, std::u16string polishedText, std::uint64_t dedupHash,
                             std::optional<text::Utf16Range> canonicalRange);

    // Keeps the sealed chunks in step with an edit of the canonical text: `range` is the
    // replaced range in the text before the edit, `canonicalTextAfterEdit` the whole text after
    // it. Returns the identifiers of the chunks whose text was re-read, in sealed-list order.
    std::vector<Uuid> applyCanonicalEdit(text::Utf16Range range, std::u16string_view replacement,
                                         std::u16string_view canonicalTextAfterEdit);

  private:
    std::optional<QNCorrectionChunk> active_;
    std::vector<QNCorrectionChunk> recent_;
    std::vector<QNCorrectionChunk> sealedChunks_;
    std::int64_t recentCapacity_;
};

// Identity of the correction core package.
struct QNModelPackageInfo {
    QNModelPackageInfo() = delete;
    static constexpr std::string_view name = "QuenRavlin";
    static constexpr std::string_view version = "0.0.1";
};

}  // namespace ravlin
