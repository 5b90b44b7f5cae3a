#include "core/process/output_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ravlin::process {
namespace {

std::string pattern(std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes; ++i) {
        text.push_back(static_cast<char>('a' + (i * 7 + i / 26) % 26));
    }
    return text;
}

// Feeds `input` in chunks of `chunk` bytes.
template <class Capture>
void feed(Capture& capture, const std::string& input, std::size_t chunk) {
    for (std::size_t at = 0; at < input.size(); at += chunk) {
        capture.consume(std::string_view(input).substr(at, chunk));
    }
}

TEST(PrefixCapture, KeepsOnlyTheFirstBytes) {
    const std::string input = pattern(100'000);
    for (std::size_t chunk : {1u, 4096u, 100'000u}) {
        PrefixCapture capture(65'536);
        feed(capture, input, chunk);
        EXPECT_EQ(capture.bytes(), input.substr(0, 65'536)) << chunk;
    }
    PrefixCapture none(-3);
    none.consume("abc");
    EXPECT_EQ(none.bytes(), "");
}

TEST(HeadTailCapture, KeepsHeadAndTailWithAMarkerBetween) {
    struct Case {
        std::int64_t cap;
        std::size_t input;
        std::size_t head;
        std::size_t tail;
    };
    const Case cases[] = {
        {524'288, 1'000'000, 262'144, 262'144},
        {524'288, 524'288, 262'144, 262'144},  // exactly the budget: nothing dropped
        {10, 25, 5, 5},
        {11, 25, 5, 6},
        {1, 5, 1, 0},  // a cap below 2 is all head
        {0, 5, 0, 0},
        {-4, 5, 0, 0},
    };
    for (const auto& c : cases) {
        const std::string input = pattern(c.input);
        for (std::size_t chunk : {1u, 3u, 4096u, 1'000'000u}) {
            HeadTailCapture capture(c.cap);
            feed(capture, input, chunk);
            const std::int64_t dropped =
                c.cap <= 0 ? 0 : static_cast<std::int64_t>(c.input - c.head - c.tail);
            EXPECT_EQ(capture.truncatedByteCount(), dropped) << c.cap << "/" << chunk;
            std::string expected = input.substr(0, c.head);
            if (dropped > 0) {
                expected += "\n...[truncated " + std::to_string(dropped) + " bytes]...\n";
            }
            expected += input.substr(input.size() - c.tail, c.tail);
            EXPECT_TRUE(capture.bytes() == expected) << c.cap << "/" << chunk;
        }
    }
}

TEST(HeadTailCapture, ShortOutputIsKeptWhole) {
    HeadTailCapture capture(524'288);
    capture.consume("hello ");
    capture.consume("");
    capture.consume("world");
    EXPECT_EQ(capture.bytes(), "hello world");
    EXPECT_EQ(capture.truncatedByteCount(), 0);
}

TEST(OutputText, ReplacesInvalidUtf8) {
    EXPECT_EQ(decodeUtf8Lossy("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(decodeUtf8Lossy("a\xFF"
                              "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A cut inside a character, as a head/tail boundary can make.
    HeadTailCapture capture(3);
    capture.consume("\xC3\xA9\xC3\xA9\xC3\xA9");  // three "é"; the head keeps one byte
    const std::string text = capture.text();
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBF\xBD");
    EXPECT_NE(text.find("[truncated 3 bytes]"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\xC3\xA9");
}

}  // namespace
}  // namespace ravlin::process
