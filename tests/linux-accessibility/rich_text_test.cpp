// A web editor's text read through its parts, on parts of the test's own.

#include "platform/linux/accessibility/rich_text.h"

#include <gtest/gtest.h>

#include <map>

namespace ravlin::platform::atspi {
namespace {

using Place = RichText::Place;
using text::Utf16Range;

constexpr char16_t object = RichText::objectCharacter;

// Pieces by name: their own text, the objects of their object characters by offset, blocks.
struct Pieces final : RichText::Source {
    struct Piece {
        std::optional<std::u16string> text;
        std::map<int, std::string> objects;
        bool block = true;
    };
    std::map<std::string, Piece> parts;

    RichText::Node node(const std::string& name) const { return &parts.at(name); }
    std::optional<std::u16string> text(RichText::Node node) override {
        return static_cast<const Piece*>(node)->text;
    }
    std::optional<RichText::Node> embedded(RichText::Node node, int offset) override {
        const auto& objects = static_cast<const Piece*>(node)->objects;
        const auto found = objects.find(offset);
        if (found == objects.end()) {
            return std::nullopt;
        }
        return this->node(found->second);
    }
    bool isBlock(RichText::Node node) override { return static_cast<const Piece*>(node)->block; }

    std::optional<RichText> read(OffsetUnit unit = OffsetUnit::codePoints) {
        return RichText::read(node("root"), *parts.at("root").text, *this, unit);
    }
};

// A mail's message: two paragraphs.
Pieces message() {
    Pieces parts;
    parts.parts["root"] = {std::u16string(2, object), {{0, "first"}, {1, "second"}}};
    parts.parts["first"] = {u"We will recieve the parcel."};
    parts.parts["second"] = {u"It is realy late."};
    return parts;
}

TEST(RichText, ShowsEachObjectsTextInItsPlaceWithLineBreaksBetweenBlocks) {
    struct Case {
        const char* name;
        std::map<std::string, Pieces::Piece> parts;
        std::u16string shown;
    };
    const std::u16string two(2, object);
    for (const Case& c : {
             Case{"two paragraphs", message().parts,
                  u"We will recieve the parcel.\nIt is realy late."},
             Case{"a link inside a line",
                  {{"root", {u"See " + std::u16string(1, object) + u" now", {{4, "link"}}}},
                   {"link", {u"here", {}, false}}},
                  u"See here now"},
             Case{"a block between lines of the part's own",
                  {{"root", {u"intro" + std::u16string(1, object) + u"outro", {{5, "p"}}}},
                   {"p", {u"para"}}},
                  u"intro\npara\noutro"},
             Case{"a list of two items",
                  {{"root", {std::u16string(1, object), {{0, "list"}}}},
                   {"list", {two, {{0, "one"}, {1, "two"}}}},
                   {"one", {u"one"}},
                   {"two", {u"two"}}},
                  u"one\ntwo"},
             Case{"an object that tells no part: left out",
                  {{"root", {u"a" + std::u16string(1, object) + u"b"}}},
                  u"ab"},
             Case{"an empty paragraph between two",
                  {{"root", {std::u16string(3, object), {{0, "a"}, {1, "empty"}, {2, "b"}}}},
                   {"a", {u"a"}},
                   {"empty", {u""}},
                   {"b", {u"b"}}},
                  u"a\nb"},
         }) {
        SCOPED_TRACE(c.name);
        Pieces parts;
        parts.parts = c.parts;
        const auto rich = parts.read();
        ASSERT_TRUE(rich.has_value());
        EXPECT_EQ(rich->text(), c.shown);
    }
}

TEST(RichText, MapsThePartsOffsetsBothWays) {
    auto parts = message();
    const auto rich = parts.read();
    ASSERT_TRUE(rich.has_value());
    const auto first = parts.node("first");
    const auto second = parts.node("second");
    const auto root = parts.node("root");
    // A part's offset in the whole text; an object character stands where its text starts.
    EXPECT_EQ(rich->position(first, 8), 8);
    EXPECT_EQ(rich->position(first, 27), 27);  // its end
    EXPECT_EQ(rich->position(second, 0), 28);
    EXPECT_EQ(rich->position(root, 1), 28);
    EXPECT_EQ(rich->position(second, 18), std::nullopt);
    EXPECT_EQ(rich->end(second), 45);
    EXPECT_EQ(rich->embedded(root, 1), second);
    EXPECT_EQ(rich->embedded(first, 0), std::nullopt);
    // A range of the whole text in its part's own offsets.
    EXPECT_EQ(rich->place(Utf16Range{8, 7}), (Place{first, 8, 15}));
    EXPECT_EQ(rich->place(Utf16Range{34, 5}), (Place{second, 6, 11}));
    EXPECT_EQ(rich->place(Utf16Range{27, 0}), (Place{first, 27, 27}));  // the earlier part
    EXPECT_EQ(rich->place(Utf16Range{28, 0}), (Place{second, 0, 0}));
    EXPECT_EQ(rich->place(Utf16Range{25, 5}), std::nullopt) << "over two paragraphs";
    EXPECT_EQ(rich->place(Utf16Range{27, 1}), std::nullopt) << "the line break between them";
    EXPECT_EQ(rich->place(Utf16Range{40, 10}), std::nullopt) << "beyond the text";
}

TEST(RichText, CountsToolkitOffsetsInTheToolkitsUnit) {
    Pieces parts;
    parts.parts["root"] = {u"\U0001F600 " + std::u16string(1, object), {{2, "p"}}};
    parts.parts["p"] = {u"a\U0001F600b"};
    const auto points = parts.read(OffsetUnit::codePoints);
    ASSERT_TRUE(points.has_value());
    EXPECT_EQ(points->text(), u"\U0001F600 \na\U0001F600b");
    EXPECT_EQ(points->position(parts.node("p"), 2), 7);  // "b"
    EXPECT_EQ(points->place(Utf16Range{4, 3}), (Place{parts.node("p"), 0, 2}));
    // The same text in UTF-16 units: the object character is at 3.
    parts.parts["root"].objects = {{3, "p"}};
    const auto units = parts.read(OffsetUnit::utf16);
    ASSERT_TRUE(units.has_value());
    EXPECT_EQ(units->position(parts.node("p"), 3), 7);
    EXPECT_EQ(units->place(Utf16Range{4, 3}), (Place{parts.node("p"), 0, 3}));
}

TEST(RichText, AnUnreadablePartALoopOrTooDeepPartsReadNothing) {
    auto unreadable = message();
    unreadable.parts["second"].text.reset();
    EXPECT_FALSE(unreadable.read().has_value());

    Pieces loop;
    loop.parts["root"] = {std::u16string(1, object), {{0, "a"}}};
    loop.parts["a"] = {std::u16string(1, object), {{0, "root"}}};
    EXPECT_FALSE(loop.read().has_value());

    Pieces deep;
    deep.parts["root"] = {std::u16string(1, object), {{0, "0"}}};
    for (int level = 0; level <= RichText::maxDepth; ++level) {
        deep.parts[std::to_string(level)] = {std::u16string(1, object),
                                             {{0, std::to_string(level + 1)}}};
    }
    deep.parts[std::to_string(RichText::maxDepth + 1)] = {u"deep"};
    EXPECT_FALSE(deep.read().has_value());
}

}  // namespace
}  // namespace ravlin::platform::atspi
