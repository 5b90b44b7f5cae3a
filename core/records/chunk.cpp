#include "core/records/chunk.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();

// Sums the ledger forms never come near overflowing; if one does, it stops at the limit instead
// of wrapping.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

bool isValid(text::Utf16Range range) {
    std::int64_t end = 0;
    return range.location >= 0 && range.length >= 0 &&
           !__builtin_add_overflow(range.location, range.length, &end);
}

QNCorrectionChunk makeChunk(text::Utf16Range range, std::u16string rawText, Instant at,
                            ChunkState state) {
    QNCorrectionChunk chunk;
    chunk.id = Uuid::random();
    chunk.canonicalRange = range;
    chunk.rawText = std::move(rawText);
    chunk.startedAt = at;
    chunk.state = state;
    chunk.lastInputAt = at;
    return chunk;
}

}  // namespace

QNChunkLedger::QNChunkLedger(std::int64_t recentCapacity)
    : recentCapacity_(std::max<std::int64_t>(recentCapacity, 0)) {}

QNCorrectionChunk QNChunkLedger::startChunk(std::int64_t at, Instant startedAt) {
    active_ = makeChunk({at, 0}, u"", startedAt, ChunkState::streaming);
    return *active_;
}

std::optional<QNCorrectionChunk> QNChunkLedger::updateActiveChunk(
    text::Utf16Range canonicalRange, std::optional<text::Utf16Range> authoredRange,
    std::optional<std::u16string> rawText, Instant lastInputAt, bool bumpLiveStreamGeneration) {
    if (!active_) {
        return std::nullopt;
    }
    QNCorrectionChunk& chunk = *active_;
    chunk.canonicalRange = canonicalRange;
    chunk.authoredRange = authoredRange;
    if (rawText) {
        chunk.rawText = std::move(*rawText);
    }
    chunk.lastInputAt = lastInputAt;
    if (bumpLiveStreamGeneration) {
        chunk.liveStreamGeneration = saturatingAdd(chunk.liveStreamGeneration, 1);
    }
    return chunk;
}

void QNChunkLedger::invalidateActive(ChunkInvalidationReason /*reason*/) {
    active_.reset();
}

void QNChunkLedger::invalidateChunk(const Uuid& id, ChunkInvalidationReason /*reason*/) {
    if (active_ && active_->id == id) {
        active_.reset();
    }
}

void QNChunkLedger::promote(const Uuid& id, ChunkState state) {
    if (!active_ || active_->id != id) {
        return;
    }
    switch (state) {
        case ChunkState::obsolete:
            active_.reset();
            break;
        case ChunkState::streaming:
        case ChunkState::chunkLikely:
            active_->state = state;
            break;
        case ChunkState::committed: {
            QNCorrectionChunk chunk = std::move(*active_);
            active_.reset();
            chunk.state = ChunkState::committed;
            recent_.push_back(std::move(chunk));
            const auto capacity = static_cast<std::uint64_t>(recentCapacity_);
            if (recent_.size() > capacity) {
                recent_.erase(recent_.begin(), recent_.begin() + static_cast<std::ptrdiff_t>(
                                                                     recent_.size() - capacity));
            }
            break;
        }
    }
}

void QNChunkLedger::resetSealedChunks() {
    sealedChunks_.clear();
}

QNCorrectionChunk QNChunkLedger::prepareSealedChunk(text::Utf16Range canonicalRange,
                                                    std::u16string rawText, Instant at) {
    auto found = std::find_if(sealedChunks_.begin(), sealedChunks_.end(), [&](const auto& chunk) {
        return chunk.canonicalRange == canonicalRange;
    });
    if (found != sealedChunks_.end()) {
        QNCorrectionChunk& chunk = *found;
        const bool showsPolish =
            chunk.polishedText && text::canonicallyEqual(*chunk.polishedText, rawText);
        if (!text::canonicallyEqual(rawText, chunk.rawText) && !showsPolish) {
            chunk.rawText = std::move(rawText);
            chunk.polishedText.reset();
            chunk.dedupHash.reset();
        }
        chunk.lastInputAt = at;
        return chunk;
    }

    if (isValid(canonicalRange)) {
        const std::int64_t start = canonicalRange.location;
        const std::int64_t end = canonicalRange.end();
        std::erase_if(sealedChunks_, [&](const QNCorrectionChunk& chunk) {
            return isValid(chunk.canonicalRange) && chunk.canonicalRange.location >= start &&
                   chunk.canonicalRange.end() <= end;
        });
    }
    sealedChunks_.push_back(
        makeChunk(canonicalRange, std::move(rawText), at, ChunkState::committed));
    return sealedChunks_.back();
}

std::optional<QNCorrectionChunk> QNChunkLedger::sealedChunk(const Uuid& id) const {
    for (const auto& chunk : sealedChunks_) {
        if (chunk.id == id) {
            return chunk;
        }
    }
    return std::nullopt;
}

void QNChunkLedger::recordPolishSuccess(const Uuid& id, std::u16string polishedText,
                                        std::uint64_t dedupHash,
                                        std::optional<text::Utf16Range> canonicalRange) {
    for (auto& chunk : sealedChunks_) {
        if (chunk.id == id) {
            chunk.polishedText = std::move(polishedText);
            chunk.dedupHash = dedupHash;
            if (canonicalRange) {
                chunk.canonicalRange = *canonicalRange;
            }
            return;
        }
    }
}

std::vector<Uuid> QNChunkLedger::applyCanonicalEdit(text::Utf16Range range,
                                                    std::u16string_view replacement,
                                                    std::u16string_view canonicalTextAfterEdit) {
    std::vector<Uuid> touched;
    const std::int64_t editStart = range.location;
    const std::int64_t replacedLength = range.length;
    if (editStart == kNotFound || !isValid(range)) {
        return touched;
    }
    const std::int64_t editEnd = range.end();
    const std::int64_t delta = static_cast<std::int64_t>(replacement.size()) - replacedLength;
    const auto textLength = static_cast<std::int64_t>(canonicalTextAfterEdit.size());

    for (auto& chunk : sealedChunks_) {
        if (!isValid(chunk.canonicalRange)) {
            continue;
        }
        const std::int64_t chunkStart = chunk.canonicalRange.location;
        const std::int64_t chunkEnd = chunk.canonicalRange.end();

        if (editEnd < chunkStart || (replacedLength > 0 && editEnd == chunkStart)) {
            // Wholly after the replaced range: it only moves.
            chunk.canonicalRange.location = saturatingAdd(chunkStart, delta);
            continue;
        }
        if (editStart >= chunkEnd) {
            // Before the edit, or the edit starts exactly at its end.
            continue;
        }

        std::int64_t newStart = std::min(chunkStart, editStart);
        std::int64_t newEnd = std::max(saturatingAdd(chunkEnd, delta), newStart);
        if (editStart > chunkStart) {
            // The chunk's text before the edit is untouched and stays in the chunk, also when
            // the edit runs past the chunk's end and the shifted end would fall before it.
            newEnd = std::max(newEnd, editStart);
        }
        newStart = std::max<std::int64_t>(0, std::min(newStart, textLength));
        newEnd = std::max(std::min(newEnd, textLength), newStart);

        chunk.canonicalRange = {newStart, newEnd - newStart};
        chunk.rawText = text::substring(canonicalTextAfterEdit, chunk.canonicalRange).value_or(u"");
        chunk.polishedText.reset();
        chunk.dedupHash.reset();
        touched.push_back(chunk.id);
    }
    return touched;
}

}  // namespace ravlin
