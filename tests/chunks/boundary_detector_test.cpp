#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <string>

#include "core/records/boundary.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

struct BoundaryCase {
    const char* name;
    std::u16string text;
    std::int64_t location;
    std::int64_t length;  // -1 = to the end of the text
    std::optional<QNBoundaryEvent> expected;
};

TEST(ChunkBoundaryDetectorTest, Evaluate) {
    const std::u16string forty = u"abcdefghijklmnopqrstuvwxyzabcdefghijklm.";  // "." at 39
    const BoundaryCase cases[] = {
        {"empty span over punctuation", u"Hello, world. Yes! No?", 5, 0, std::nullopt},
        {"mark at index 10", u"abcdefghij.", 0, -1, QNBoundaryEvent::terminator},
        {"mark at index 9", u"abcdefghi.", 0, -1, std::nullopt},
        {"exclamation", u"abcdefghij!", 0, -1, QNBoundaryEvent::terminator},
        {"question", u"abcdefghij?", 0, -1, QNBoundaryEvent::terminator},
        {"semicolon", u"abcdefghij;", 0, -1, QNBoundaryEvent::softPunctuation},
        {"comma before full stop", u"abcdefghijk,mnopqrs.", 0, -1,
         QNBoundaryEvent::softPunctuation},
        {"early mark passed over", u"ab.defghijklmnopqrstu?", 0, -1, QNBoundaryEvent::terminator},
        {"line break wins over an earlier mark", u"abcdefghijklmno. then\nmore", 0, -1,
         QNBoundaryEvent::paragraph},
        {"line break near the start", u"a\nbcdefghijklmnop.", 0, -1, QNBoundaryEvent::paragraph},
        {"CRLF", u"ab\r\ncd", 0, -1, QNBoundaryEvent::paragraph},
        {"lone CR", u"abcdefghij\rk", 0, -1, std::nullopt},
        {"line and paragraph separators", u"ab\u2028cd\u2029ef", 0, -1, std::nullopt},
        {"plain text", u"no marks at all here", 0, -1, std::nullopt},
        {"count starts at the span", u"Hello there my friend. And", 15, 7, std::nullopt},
        {"same sentence from its start", u"Hello there my friend. And", 0, 22,
         QNBoundaryEvent::terminator},
        {"only the span is looked at", u"abcdefghijklmn. rest", 0, 14, std::nullopt},
        {"long span cut to the text", forty, 5, 1000, QNBoundaryEvent::terminator},
        {"cut span counts from its own start", u"abcdefghijklmn.xyz", 5, 1000, std::nullopt},
        {"negative location counts from 0", u"abcdefghij.xyz", -5, 20, QNBoundaryEvent::terminator},
        {"location beyond the end", u"abcdefghij.", 12, 5, std::nullopt},
        {"negative length", u"abcdefghij.", 0, -5, std::nullopt},
        {"overflowing span", u"abcdefghij.", kMax, kMax, std::nullopt},
        {"span ends inside a surrogate pair", u"abcdefghij.\U0001F600", 0, 12, std::nullopt},
        {"span starts inside a surrogate pair", u"\U0001F600abcdefghijk.", 1, 13, std::nullopt},
        {"emoji counts as one character", u"\U0001F600bcdefghij.", 0, -1,
         QNBoundaryEvent::terminator},
        {"span ends inside a combined character", u"abcdefghij.e\u0301", 0, 12, std::nullopt},
        {"mark with combining accent", u"abcdefghij.\u0301xyz", 0, -1, std::nullopt},
        {"Greek question mark is canonically a semicolon", u"abcdefghij\u037E", 0, -1,
         QNBoundaryEvent::softPunctuation},
        {"Greek question mark with an accent", u"abcdefghij\u037E\u0301.", 0, -1,
         QNBoundaryEvent::terminator},
        {"precomposed letter is no mark", u"abcdefghij\u00e9.", 0, -1, QNBoundaryEvent::terminator},
        {"CRLF ending the span", u"abc\r\n", 0, 5, QNBoundaryEvent::paragraph},
        {"span ending between CR and LF", u"abcdefghij.\r\n", 0, 12, std::nullopt},
    };
    const QNChunkBoundaryDetector detector;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t length =
            c.length == -1 ? static_cast<std::int64_t>(c.text.size()) - c.location : c.length;
        const QNDirtySpan span{{c.location, length}, 1, Instant{}};
        EXPECT_EQ(detector.evaluate(c.text, span), c.expected);
    }
}

TEST(ChunkBoundaryDetectorTest, DirtySpanEqualityAndEmptiness) {
    const Instant now = Instant{} + 1h;
    const QNDirtySpan span{{3, 4}, 7, now};
    EXPECT_EQ(span, (QNDirtySpan{{3, 4}, 7, now}));
    EXPECT_NE(span, (QNDirtySpan{{3, 4}, 7, now + 1ms}));
    EXPECT_NE(span, (QNDirtySpan{{3, 4}, 8, now}));
    EXPECT_FALSE(span.isEmpty());
    EXPECT_TRUE((QNDirtySpan{{3, 0}, 7, now}).isEmpty());
    EXPECT_EQ(QNChunkBoundaryDetector::minimumPunctuationChunkLength, 10);
}

}  // namespace
}  // namespace ravlin
