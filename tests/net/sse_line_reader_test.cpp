#include "core/net/sse_line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ravlin::net {
namespace {

// Hands out the given pieces one per call, then the end (or a failure).
class PieceSource final : public SseByteSource {
  public:
    explicit PieceSource(std::vector<std::string> pieces, bool failAtEnd = false)
        : pieces_(std::move(pieces)), failAtEnd_(failAtEnd) {}
    SseByteChunk next() override {
        if (index_ < pieces_.size()) {
            return SseByteChunk::of(pieces_[index_++]);
        }
        return failAtEnd_ ? SseByteChunk::failure() : SseByteChunk::endOfBody();
    }

  private:
    std::vector<std::string> pieces_;
    std::size_t index_ = 0;
    bool failAtEnd_;
};

struct Outcome {
    std::vector<std::string> lines;
    SseLineStatus last = SseLineStatus::end;
};

Outcome readAll(std::vector<std::string> pieces,
                std::int64_t max = SseLineReader::kDefaultMaxLineBytes, bool failAtEnd = false) {
    PieceSource source(std::move(pieces), failAtEnd);
    SseLineReader reader(source, max);
    Outcome outcome;
    while (true) {
        std::string_view line;
        outcome.last = reader.readLine(line);
        if (outcome.last != SseLineStatus::line) {
            return outcome;
        }
        outcome.lines.emplace_back(line);
    }
}

TEST(SseLineReader, SplitsLinesAsTheFramingRulesSay) {
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> lines;
        SseLineStatus last;
    };
    const std::vector<Case> cases = {
        {"lf", "data: a\ndata: b\n", {"data: a", "data: b"}, SseLineStatus::end},
        {"crlf reads like lf",
         "data: a\r\ndata: b\r\n",
         {"data: a", "data: b"},
         SseLineStatus::end},
        {"lone lf is an empty line", "\n", {""}, SseLineStatus::end},
        {"crlf alone is an empty line", "\r\n", {""}, SseLineStatus::end},
        {"cr inside a line stays", "a\rb\n", {"a\rb"}, SseLineStatus::end},
        {"only one trailing cr goes", "a\r\r\n", {"a\r"}, SseLineStatus::end},
        {"cr alone never ends a line", "a\rb\rc", {"a\rb\rc"}, SseLineStatus::end},
        {"last line without lf", "abc", {"abc"}, SseLineStatus::end},
        {"ends right after lf", "abc\n", {"abc"}, SseLineStatus::end},
        {"empty body", "", {}, SseLineStatus::end},
        {"invalid byte", "ok\n\xFFx\n", {"ok"}, SseLineStatus::malformed},
        {"overlong form", "\xC0\xAF\n", {}, SseLineStatus::malformed},
        {"surrogate", "\xED\xA0\x80\n", {}, SseLineStatus::malformed},
        {"cut sequence at the end", "\xC3", {}, SseLineStatus::malformed},
        {"multi-byte text",
         "h\xC3\xA9llo \xF0\x9F\x98\x80\n",
         {"h\xC3\xA9llo \xF0\x9F\x98\x80"},
         SseLineStatus::end},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome whole = readAll({c.body});
        EXPECT_EQ(whole.lines, c.lines);
        EXPECT_EQ(whole.last, c.last);
        // Delivered one byte at a time, the lines are the same.
        std::vector<std::string> bytes;
        for (char ch : c.body) {
            bytes.emplace_back(1, ch);
        }
        const Outcome piecewise = readAll(bytes);
        EXPECT_EQ(piecewise.lines, c.lines);
        EXPECT_EQ(piecewise.last, c.last);
    }
}

TEST(SseLineReader, EveryTwoWaySplitOfAStreamGivesTheSameLines) {
    const std::string body =
        ": comment\r\nevent: delta\ndata: "
        "{\"type\":\"response.output_text.delta\",\"delta\":\"h\xC3\xA9\"}"
        "\r\n\r\ndata: [DONE]\n\ndata: \xE2\x82\xAC tail";
    const Outcome expected = readAll({body});
    ASSERT_EQ(expected.lines.size(), 7u);
    for (std::size_t cut = 0; cut <= body.size(); ++cut) {
        for (std::size_t second = cut; second <= body.size(); second += 7) {
            const Outcome split =
                readAll({body.substr(0, cut), body.substr(cut, second - cut), body.substr(second)});
            ASSERT_EQ(split.lines, expected.lines) << "cut at " << cut << " and " << second;
            ASSERT_EQ(split.last, SseLineStatus::end);
        }
    }
}

TEST(SseLineReader, CapsTheBytesBeforeALineFeed) {
    const std::string full(262144, 'x');
    {
        const Outcome outcome = readAll({full + "\n"});
        ASSERT_EQ(outcome.lines.size(), 1u);
        EXPECT_EQ(outcome.lines[0].size(), 262144u);
        EXPECT_EQ(outcome.last, SseLineStatus::end);
    }
    // The carriage return counts: it is the 262,145th byte.
    EXPECT_EQ(readAll({full + "\r\n"}).last, SseLineStatus::payloadTooLarge);
    EXPECT_EQ(readAll({full + "y"}).last, SseLineStatus::payloadTooLarge);
    // Spread over deliveries the count is the same.
    EXPECT_EQ(readAll({full.substr(0, 1000), full.substr(1000), "\n"}).lines.size(), 1u);
    EXPECT_EQ(readAll({full.substr(0, 1000), full.substr(1000), "z\n"}).last,
              SseLineStatus::payloadTooLarge);

    // With a small cap the boundary is exact at every split.
    for (const auto& pieces : std::vector<std::vector<std::string>>{
             {"abcd\n"}, {"ab", "cd\n"}, {"abcd", "\n"}, {"a", "b", "c", "d", "\n"}}) {
        const Outcome outcome = readAll(pieces, 4);
        EXPECT_EQ(outcome.lines, std::vector<std::string>{"abcd"});
    }
    for (const auto& pieces : std::vector<std::vector<std::string>>{
             {"abcde\n"}, {"ab", "cde\n"}, {"abcd", "e"}, {"abcd\r\n"}}) {
        EXPECT_EQ(readAll(pieces, 4).last, SseLineStatus::payloadTooLarge);
    }
}

TEST(SseLineReader, PassesASourceFailureOnAndDropsThePartialLine) {
    const Outcome outcome = readAll({"data: one\ndata: tw"}, SseLineReader::kDefaultMaxLineBytes,
                                    /*failAtEnd=*/true);
    EXPECT_EQ(outcome.lines, std::vector<std::string>{"data: one"});
    EXPECT_EQ(outcome.last, SseLineStatus::sourceFailed);
}

TEST(SseLineReader, KeepsAnsweringEndAfterTheEnd) {
    PieceSource source({"a\n"});
    SseLineReader reader(source);
    std::string_view line;
    EXPECT_EQ(reader.readLine(line), SseLineStatus::line);
    EXPECT_EQ(reader.readLine(line), SseLineStatus::end);
    EXPECT_EQ(reader.readLine(line), SseLineStatus::end);
}

}  // namespace
}  // namespace ravlin::net
