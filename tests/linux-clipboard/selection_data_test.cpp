// The values of the X11 selection layer without a display: the hand-off to the keeper, the texts
// we offer and read, and the way between an owner's answer and the pasteboard's contents.

#include <gtest/gtest.h>

#include "platform/linux/clipboard/keeper_protocol.h"
#include "platform/linux/clipboard/selection_connection.h"
#include "platform/linux/clipboard/selection_data.h"
#include "platform/linux/clipboard/selection_text.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"

namespace ravlin::platform::x11 {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

// An owner's answer as it comes: its list in its order (a duplicate and protocol targets in it),
// a NUL-terminated UTF8_STRING, UTF-16 with a byte-order mark, 32-bit data.
SelectionData answer() {
    SelectionData data;
    data.targets = {"TIMESTAMP", "TARGETS", "UTF8_STRING", "text/html", "x-words", "UTF8_STRING"};
    data.values = {
        {"UTF8_STRING", "UTF8_STRING", 8, {'h', 'i', 0}},
        {"text/html", "text/html", 8, {0xff, 0xfe, 'h', 0}},
        {"x-words", "CARDINAL", 32, {1, 0, 0, 0, 2, 0, 0, 0}},
    };
    return data;
}

// Server times and sequence numbers wrap around: after about 49.7 days of uptime a request's
// time is a small number, and still later than our ownership's large one.
TEST(ServerTimes, OrderSurvivesTheWrap) {
    struct Case {
        std::uint32_t a, b;
        bool before;
    };
    for (const Case& c : {
             Case{100, 200, true},
             Case{200, 100, false},
             Case{200, 200, false},
             Case{0xFFFFFF00u, 0x10u, true},  // just before the wrap, then just after
             Case{0x10u, 0xFFFFFF00u, false},
         }) {
        SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b));
        EXPECT_EQ(cameBefore(c.a, c.b), c.before);
    }
}

// The program's messages to its keeper come through whole however the stream cuts them; a kind
// the keeper does not know, or a length over its cap, breaks the stream for good.
TEST(KeeperMessages, ComeThroughInAnyPiecesAndABadHeaderBreaksTheStream) {
    const std::vector<KeeperFrame> sent = {
        {KeeperMessage::program, encodeWord(0x00a00001)},
        {KeeperMessage::hold, encodeHandOff({"PRIMARY", 0, answer()})},
        {KeeperMessage::take, encodeTake({"CLIPBOARD", 123456})},
        {KeeperMessage::moment, encodeMoment({"PRIMARY", 0x0123456789abcdefULL})},
        {KeeperMessage::fetcher, encodeFetcher({"CLIPBOARD", 0x03a00000, -1})},
        {KeeperMessage::leave, encodeLeave({60'000, false, {"CLIPBOARD", 77, answer()}})},
        {KeeperMessage::taken, {}},
    };
    std::vector<std::uint8_t> stream;
    for (const auto& frame : sent) {
        const auto bytes = encodeFrame(frame.kind, frame.payload);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, stream.size()}) {
        SCOPED_TRACE(piece);
        KeeperFrameReader reader(1 << 20);
        std::vector<KeeperFrame> received;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
            while (auto frame = reader.next()) {
                // In a buffer of its own size: a keeper holds large contents once.
                EXPECT_EQ(frame->payload.capacity(), frame->payload.size());
                received.push_back(std::move(*frame));
            }
        }
        EXPECT_EQ(received, sent);
    }
    EXPECT_EQ(decodeTake(sent[2].payload), (KeeperTake{"CLIPBOARD", 123456}));
    EXPECT_EQ(decodeMoment(sent[3].payload), (KeeperMoment{"PRIMARY", 0x0123456789abcdefULL}));
    EXPECT_EQ(decodeFetcher(sent[4].payload), (KeeperFetcher{"CLIPBOARD", 0x03a00000, -1}));
    EXPECT_EQ(decodeLeave(sent[5].payload),
              (KeeperLeave{60'000, false, {"CLIPBOARD", 77, answer()}}));
    EXPECT_LE(sent[5].payload.size(), maxProgramPayload());
    // A left text cut anywhere, or saying neither what comes back nor nothing, is refused.
    for (std::size_t cut = 0; cut < sent[5].payload.size(); ++cut) {
        EXPECT_FALSE(decodeLeave(std::span(sent[5].payload).first(cut))) << cut;
    }
    auto unclear = sent[5].payload;
    unclear[4] = 2;
    EXPECT_FALSE(decodeLeave(unclear));
    // A text's fingerprint leaves out the NULs some owners end it with.
    const std::vector<std::uint8_t> plain{'h', 'i'};
    const std::vector<std::uint8_t> ended{'h', 'i', 0};
    EXPECT_EQ(textFingerprint(ended), textFingerprint(plain));

    struct Bad {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    auto unknown = encodeFrame(KeeperMessage::take, encodeTake({"CLIPBOARD", 1}));
    unknown[0] = 'X';
    for (const Bad& bad : {
             Bad{"an unknown kind", unknown},
             Bad{"over the cap", encodeFrame(KeeperMessage::hold, std::vector<std::uint8_t>(65))},
         }) {
        SCOPED_TRACE(bad.name);
        KeeperFrameReader reader(64);
        reader.feed(bad.bytes);
        reader.feed(encodeFrame(KeeperMessage::taken, {}));
        EXPECT_EQ(reader.next(), std::nullopt);
        EXPECT_TRUE(reader.broken());
    }
}

TEST(SelectionHandOff, RoundTripsAndRefusesAnythingMalformedOrOverTheCaps) {
    const SelectionHandOff handOff{"CLIPBOARD", 12345, answer()};
    const auto encoded = encodeHandOff(handOff);
    const SelectionLimits limits;
    EXPECT_EQ(decodeHandOff(encoded, limits), handOff);
    for (std::size_t cut = 0; cut < encoded.size(); ++cut) {
        EXPECT_FALSE(decodeHandOff(std::span(encoded).first(cut), limits)) << cut;
    }
    auto longer = encoded;
    longer.push_back(0);
    EXPECT_FALSE(decodeHandOff(longer, limits));
    EXPECT_FALSE(decodeHandOff(encoded, SelectionLimits{.maxTargets = 5}));
    EXPECT_FALSE(decodeHandOff(encoded, SelectionLimits{.maxBytes = 14}));
    EXPECT_TRUE(decodeHandOff(encoded, SelectionLimits{.maxBytes = 15}));
    EXPECT_LE(encoded.size(), maxHandOffBytes(limits));
    for (const auto& [format, size] : {std::pair{24, 3}, std::pair{32, 6}, std::pair{16, 3}}) {
        SelectionHandOff odd = handOff;
        odd.data.values = {{"x", "x", static_cast<std::uint8_t>(format),
                            std::vector<std::uint8_t>(static_cast<std::size_t>(size))}};
        EXPECT_FALSE(decodeHandOff(encodeHandOff(odd), limits)) << format << " " << size;
    }
}

TEST(SelectionText, OurTextIsOfferedInEveryTextFormAndReadBackWithoutItsNul) {
    const auto latin = textSelection(u"caf\u00e9");
    EXPECT_EQ(latin.find("STRING")->bytes, (std::vector<std::uint8_t>{'c', 'a', 'f', 0xe9}));
    EXPECT_EQ(latin.find("UTF8_STRING")->bytes, bytes("caf\xc3\xa9"));
    EXPECT_EQ(latin.find("TEXT")->type, "UTF8_STRING");
    EXPECT_EQ(latin.targets.front(), "TARGETS");
    EXPECT_EQ(plainText(latin), u"caf\u00e9");
    EXPECT_EQ(textSelection(u"\u20ac").find("STRING"), nullptr) << "no Latin-1 form";

    SelectionData owners;
    owners.values = {{"STRING", "STRING", 8, {'n', 0xe9, 0}}};
    EXPECT_EQ(plainText(owners), u"n\u00e9");
    owners.values.push_back({"UTF8_STRING", "UTF8_STRING", 8, {'u', 0, 0}});
    EXPECT_EQ(plainText(owners), u"u") << "UTF8_STRING first, its NULs dropped";
    EXPECT_EQ(plainText(SelectionData{{"image/png"}, "ATOM", {{"image/png", "image/png", 8, {1}}}}),
              std::nullopt);
}

TEST(SelectionPasteboardContents, AnOwnersAnswerGoesBackAsItCame) {
    const auto data = answer();
    const auto contents = X11SelectionPasteboard::contentsOf(data, PasteboardSaveFailure::none);
    ASSERT_EQ(contents.items.size(), 1u);
    EXPECT_EQ(contents.items.front().at("text/html"), data.values[1].bytes);
    EXPECT_EQ(contents.offer.types, data.targets);
    EXPECT_EQ(X11SelectionPasteboard::dataOf(contents), data);

    // A target the owner listed and refused goes back listed and refused.
    auto refuses = data;
    refuses.targets.push_back("FILE_NAME");
    EXPECT_TRUE(refuses.refuses("FILE_NAME"));
    EXPECT_FALSE(refuses.refuses("TIMESTAMP"));
    EXPECT_FALSE(refuses.refuses("text/html"));
    EXPECT_EQ(X11SelectionPasteboard::dataOf(
                  X11SelectionPasteboard::contentsOf(refuses, PasteboardSaveFailure::none)),
              refuses);

    const auto refused =
        X11SelectionPasteboard::contentsOf(data, PasteboardSaveFailure::ownerNotAnswering);
    EXPECT_TRUE(refused.items.empty());
    EXPECT_FALSE(refused.complete());

    // Items without an offer (the simulated desktop's, a test's): listed after the protocol's
    // own targets, each under its own name as its type.
    const PasteboardContents plain{{{{"image/png", {1, 2}}, {"TEXT", {'t'}}}}, {}, {}};
    const auto made = X11SelectionPasteboard::dataOf(plain);
    EXPECT_EQ(made.targets, (std::vector<std::string>{"TARGETS", "TIMESTAMP", "MULTIPLE",
                                                      "TEXT", "image/png"}));
    EXPECT_EQ(made.find("image/png")->type, "image/png");
    EXPECT_EQ(made.find("TEXT")->type, "UTF8_STRING");
}

}  // namespace
}  // namespace ravlin::platform::x11
