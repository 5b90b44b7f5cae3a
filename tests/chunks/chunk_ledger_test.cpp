#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "core/records/chunk.h"

namespace ravlin {
namespace text {
void PrintTo(const Utf16Range& range, std::ostream* out) {
    *out << "(" << range.location << ", " << range.length << ")";
}
}  // namespace text

void PrintTo(const Uuid& id, std::ostream* out) {
    *out << id.lowercaseString();
}

namespace {

using namespace std::chrono_literals;
using text::Utf16Range;

const Instant t0 = Instant{} + 1h;

std::vector<Uuid> ids(const std::vector<QNCorrectionChunk>& chunks) {
    std::vector<Uuid> out;
    for (const auto& chunk : chunks) {
        out.push_back(chunk.id);
    }
    return out;
}

TEST(ChunkLedgerTest, CommittedChunksAreTrimmedToTheCapacityOldestFirst) {
    QNChunkLedger none(-3);
    none.promote(none.startChunk(0, t0).id, ChunkState::committed);
    EXPECT_TRUE(none.recent().empty());
    EXPECT_FALSE(none.active());

    QNChunkLedger ledger(16);
    std::vector<Uuid> committed;
    for (int i = 0; i < 17; ++i) {
        const Uuid id = ledger.startChunk(i, t0).id;
        committed.push_back(id);
        ledger.promote(id, ChunkState::committed);
    }
    const auto recent = ledger.recent();
    EXPECT_EQ(ids(recent), std::vector<Uuid>(committed.begin() + 1, committed.end()));
    EXPECT_EQ(recent.front().state, ChunkState::committed);
}

TEST(ChunkLedgerTest, StartChunkDropsTheActiveChunkWithoutCommittingIt) {
    QNChunkLedger ledger(4);
    const Uuid first = ledger.startChunk(3, t0).id;
    const QNCorrectionChunk second = ledger.startChunk(7, t0 + 1s);
    EXPECT_NE(second.id, first);
    EXPECT_TRUE(ledger.recent().empty());
    EXPECT_EQ(second.canonicalRange, (Utf16Range{7, 0}));
    EXPECT_EQ(second.rawText, u"");
    EXPECT_EQ(second.state, ChunkState::streaming);
    EXPECT_EQ(second.startedAt, t0 + 1s);
    EXPECT_EQ(second.lastInputAt, t0 + 1s);
    EXPECT_EQ(ledger.active()->id, second.id);
}

TEST(ChunkLedgerTest, UpdateActiveChunk) {
    QNChunkLedger ledger(4);
    EXPECT_FALSE(ledger.updateActiveChunk({0, 1}, std::nullopt, u"a", t0, true));

    const Uuid id = ledger.startChunk(0, t0).id;
    ledger.updateActiveChunk({0, 5}, Utf16Range{2, 5}, u"hello", t0 + 1s, true);
    ledger.updateActiveChunk({0, 6}, std::nullopt, std::nullopt, t0 + 2s, true);
    const auto chunk = ledger.updateActiveChunk({0, 7}, std::nullopt, std::nullopt, t0 + 3s, true);
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->id, id);
    EXPECT_EQ(chunk->canonicalRange, (Utf16Range{0, 7}));
    EXPECT_FALSE(chunk->authoredRange);   // none clears it
    EXPECT_EQ(chunk->rawText, u"hello");  // none keeps it
    EXPECT_EQ(chunk->liveStreamGeneration, 3);
    EXPECT_EQ(chunk->startedAt, t0);
    EXPECT_EQ(chunk->lastInputAt, t0 + 3s);
    EXPECT_EQ(chunk->state, ChunkState::streaming);
    EXPECT_EQ(ledger.active()->liveStreamGeneration, 3);
}

TEST(ChunkLedgerTest, InvalidationAndPromotionOnlyConcernTheActiveChunk) {
    QNChunkLedger ledger(4);
    const Uuid sealed = ledger.prepareSealedChunk({0, 4}, u"abcd", t0).id;
    const Uuid active = ledger.startChunk(5, t0).id;

    ledger.invalidateChunk(sealed, ChunkInvalidationReason::userEdit);
    ledger.promote(sealed, ChunkState::committed);
    EXPECT_EQ(ledger.active()->id, active);
    EXPECT_EQ(ledger.sealedChunks().size(), 1u);
    EXPECT_TRUE(ledger.recent().empty());

    ledger.promote(active, ChunkState::chunkLikely);
    EXPECT_EQ(ledger.active()->state, ChunkState::chunkLikely);
    ledger.promote(active, ChunkState::obsolete);
    EXPECT_FALSE(ledger.active());
    EXPECT_TRUE(ledger.recent().empty());

    const Uuid next = ledger.startChunk(9, t0).id;
    ledger.promote(next, ChunkState::committed);
    EXPECT_FALSE(ledger.active());
    ASSERT_EQ(ledger.recent().size(), 1u);
    EXPECT_EQ(ledger.recent()[0].id, next);

    ledger.startChunk(10, t0);
    ledger.invalidateActive(ChunkInvalidationReason::sessionEnded);
    EXPECT_FALSE(ledger.active());

    ledger.resetSealedChunks();
    EXPECT_TRUE(ledger.sealedChunks().empty());
    EXPECT_EQ(ledger.recent().size(), 1u);
}

TEST(ChunkLedgerTest, PrepareSealedChunkReusesAnExactRangeAndKeepsAPolishItShows) {
    QNChunkLedger ledger(4);
    const Uuid id = ledger.prepareSealedChunk({0, 10}, u"teh thing.", t0).id;
    ledger.recordPolishSuccess(id, u"The thing.", 42, std::nullopt);

    // Same text: same chunk, polish intact, new input time.
    auto again = ledger.prepareSealedChunk({0, 10}, u"teh thing.", t0 + 1s);
    EXPECT_EQ(again.id, id);
    EXPECT_EQ(again.polishedText, u"The thing.");
    EXPECT_EQ(again.dedupHash, 42u);
    EXPECT_EQ(again.lastInputAt, t0 + 1s);
    EXPECT_EQ(again.startedAt, t0);

    // The range already shows the polish: the polish stays and so does the raw text.
    again = ledger.prepareSealedChunk({0, 10}, u"The thing.", t0 + 2s);
    EXPECT_EQ(again.polishedText, u"The thing.");
    EXPECT_EQ(again.rawText, u"teh thing.");

    // Another text: taken, polish cleared.
    again = ledger.prepareSealedChunk({0, 10}, u"the things", t0 + 3s);
    EXPECT_EQ(again.id, id);
    EXPECT_EQ(again.rawText, u"the things");
    EXPECT_FALSE(again.polishedText);
    EXPECT_FALSE(again.dedupHash);
    EXPECT_EQ(ledger.sealedChunks().size(), 1u);

    // Canonically equal texts are the same text.
    ledger.recordPolishSuccess(id, u"caf\u00e9", 7, Utf16Range{0, 4});
    again = ledger.prepareSealedChunk({0, 4}, u"cafe\u0301", t0 + 4s);
    EXPECT_EQ(again.id, id);
    EXPECT_EQ(again.dedupHash, 7u);
}

TEST(ChunkLedgerTest, PrepareSealedChunkRemovesTheChunksANewRangeContains) {
    QNChunkLedger ledger(4);
    ledger.prepareSealedChunk({0, 10}, u"a", t0);
    ledger.prepareSealedChunk({12, 20}, u"b", t0);
    const Uuid kept = ledger.prepareSealedChunk({35, 10}, u"c", t0).id;
    const QNCorrectionChunk added = ledger.prepareSealedChunk({0, 40}, u"d", t0 + 1s);
    EXPECT_EQ(ids(ledger.sealedChunks()), (std::vector<Uuid>{kept, added.id}));
    EXPECT_EQ(added.state, ChunkState::committed);
    EXPECT_EQ(added.startedAt, t0 + 1s);

    // An exact match is reused and removes nothing, even chunks inside it.
    ledger.prepareSealedChunk({2, 3}, u"e", t0);
    EXPECT_EQ(ledger.prepareSealedChunk({0, 40}, u"d", t0).id, added.id);
    EXPECT_EQ(ledger.sealedChunks().size(), 3u);

    // An invalid range removes nothing and still gets a chunk.
    const QNCorrectionChunk invalid = ledger.prepareSealedChunk({-1, 5}, u"f", t0);
    EXPECT_EQ(ledger.sealedChunks().size(), 4u);
    EXPECT_EQ(ledger.sealedChunk(invalid.id)->canonicalRange, (Utf16Range{-1, 5}));
    // A range containing everything still leaves the invalid one.
    ledger.prepareSealedChunk({0, 100}, u"g", t0);
    EXPECT_EQ(ledger.sealedChunks().size(), 2u);
    EXPECT_TRUE(ledger.sealedChunk(invalid.id));
}

TEST(ChunkLedgerTest, RecordPolishSuccess) {
    QNChunkLedger ledger(4);
    const Uuid id = ledger.prepareSealedChunk({5, 3}, u"abc", t0).id;
    ledger.recordPolishSuccess(Uuid::random(), u"zzz", 1, Utf16Range{0, 0});
    EXPECT_FALSE(ledger.sealedChunk(id)->polishedText);

    ledger.recordPolishSuccess(id, u"Abc", 9, Utf16Range{6, 3});
    const auto chunk = ledger.sealedChunk(id);
    EXPECT_EQ(chunk->polishedText, u"Abc");
    EXPECT_EQ(chunk->dedupHash, 9u);
    EXPECT_EQ(chunk->canonicalRange, (Utf16Range{6, 3}));
    EXPECT_EQ(chunk->rawText, u"abc");
}

// Edits against sealed chunks A (0, 10) and B (20, 10) in a 40-unit text; both carry a polish.
struct EditCase {
    const char* name;
    Utf16Range edit;
    std::u16string replacement;
    Utf16Range expectedA;
    Utf16Range expectedB;
    bool touchesA;
    bool touchesB;
};

TEST(ChunkLedgerTest, ApplyCanonicalEditMovesOrRewritesSealedChunks) {
    const std::u16string before = u"0123456789abcdefghijKLMNOPQRSTklmnopqrst";
    const EditCase cases[] = {
        {"insert between", {15, 0}, u"xyz", {0, 10}, {23, 10}, false, false},
        {"insert at end of A", {10, 0}, u"xyz", {0, 10}, {23, 10}, false, false},
        {"insert at start of B", {20, 0}, u"xyz", {0, 10}, {20, 13}, false, true},
        {"replace up to B", {10, 10}, u"xy", {0, 10}, {12, 10}, false, false},
        {"delete into B", {18, 4}, u"", {0, 10}, {18, 8}, false, true},
        {"replace over B", {15, 20}, u"vwxyz", {0, 10}, {15, 0}, false, true},
        {"delete inside A", {2, 3}, u"", {0, 7}, {17, 10}, true, false},
        {"delete from A's start past it", {0, 15}, u"", {0, 0}, {5, 10}, true, false},
        {"insert at text start", {0, 0}, u"xy", {0, 12}, {22, 10}, true, false},
        // A deletion that starts inside A and runs past it keeps A's untouched text.
        {"delete from inside A past it", {5, 10}, u"", {0, 5}, {10, 10}, true, false},
        {"replace from inside A past it", {5, 10}, u"xy", {0, 5}, {12, 10}, true, false},
        {"replace from inside A, short overrun", {8, 4}, u"wxyz", {0, 10}, {20, 10}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QNChunkLedger ledger(4);
        const Uuid a = ledger.prepareSealedChunk({0, 10}, before.substr(0, 10), t0).id;
        const Uuid b = ledger.prepareSealedChunk({20, 10}, before.substr(20, 10), t0).id;
        ledger.recordPolishSuccess(a, u"A", 1, std::nullopt);
        ledger.recordPolishSuccess(b, u"B", 2, std::nullopt);

        std::u16string after = before;
        after.replace(static_cast<std::size_t>(c.edit.location),
                      static_cast<std::size_t>(c.edit.length), c.replacement);
        const auto touched = ledger.applyCanonicalEdit(c.edit, c.replacement, after);

        std::vector<Uuid> expectedTouched;
        if (c.touchesA) {
            expectedTouched.push_back(a);
        }
        if (c.touchesB) {
            expectedTouched.push_back(b);
        }
        EXPECT_EQ(touched, expectedTouched);

        for (const auto& [id, range, wasTouched, polish, original] :
             {std::tuple{a, c.expectedA, c.touchesA, u"A", before.substr(0, 10)},
              std::tuple{b, c.expectedB, c.touchesB, u"B", before.substr(20, 10)}}) {
            const auto chunk = ledger.sealedChunk(id);
            EXPECT_EQ(chunk->canonicalRange, range);
            EXPECT_EQ(chunk->state, ChunkState::committed);
            if (wasTouched) {
                EXPECT_EQ(chunk->rawText, after.substr(static_cast<std::size_t>(range.location),
                                                       static_cast<std::size_t>(range.length)));
                EXPECT_FALSE(chunk->polishedText);
                EXPECT_FALSE(chunk->dedupHash);
            } else {
                EXPECT_EQ(chunk->rawText, original);
                EXPECT_EQ(chunk->polishedText, polish);
            }
        }
    }
}

TEST(ChunkLedgerTest, RejectedEditsChangeNothing) {
    const Utf16Range rejected[] = {
        {std::numeric_limits<std::int64_t>::max(), 0},
        {-1, 2},
        {3, -1},
        {std::numeric_limits<std::int64_t>::max() - 1, 5},
    };
    for (const auto& edit : rejected) {
        QNChunkLedger ledger(4);
        const Uuid id = ledger.prepareSealedChunk({0, 10}, u"0123456789", t0).id;
        EXPECT_TRUE(ledger.applyCanonicalEdit(edit, u"x", u"x0123456789").empty());
        EXPECT_EQ(ledger.sealedChunk(id)->canonicalRange, (Utf16Range{0, 10}));
        EXPECT_EQ(ledger.sealedChunk(id)->rawText, u"0123456789");
    }
}

TEST(ChunkLedgerTest, TouchedRangesAreLimitedToTheTextAndToCharacterBoundaries) {
    QNChunkLedger ledger(4);
    // "ab😀cd": the chunk ends between the halves of the emoji's surrogate pair.
    const Uuid split = ledger.prepareSealedChunk({0, 3}, u"ab", t0).id;
    const Uuid invalid = ledger.prepareSealedChunk({-4, 2}, u"zz", t0).id;
    const auto touched = ledger.applyCanonicalEdit({1, 0}, u"x", u"axb\U0001F600cd");
    EXPECT_EQ(touched, std::vector<Uuid>{split});
    EXPECT_EQ(ledger.sealedChunk(split)->canonicalRange, (Utf16Range{0, 4}));
    EXPECT_EQ(ledger.sealedChunk(split)->rawText, u"");
    EXPECT_EQ(ledger.sealedChunk(invalid)->canonicalRange, (Utf16Range{-4, 2}));

    // A text after the edit that is shorter than the moved chunk: the range stops at its end.
    QNChunkLedger clamped(4);
    const Uuid id = clamped.prepareSealedChunk({3, 5}, u"defgh", t0).id;
    clamped.applyCanonicalEdit({4, 0}, u"xx", u"abcdxx");
    EXPECT_EQ(clamped.sealedChunk(id)->canonicalRange, (Utf16Range{3, 3}));
    EXPECT_EQ(clamped.sealedChunk(id)->rawText, u"dxx");
}

}  // namespace
}  // namespace ravlin
