#pragma once

// The text a person sees in an element whose text holds its parts as objects: a web page's
// editor (a mail's message) shows each paragraph, list, link or image as one object replacement
// character (U+FFFC) of its text, the part's own text being the object's. Read as it stands, the
// message of two paragraphs is two invisible characters. Here each such character is replaced by
// what its object shows, a line break standing between blocks (paragraphs, headings, list
// items); an object with nothing to show is left out.
//
// The parts' offsets are mapped both ways: where a part's offset stands in the whole text (the
// caret and the selection are told by the part that holds them), and which part holds a range of
// the whole text (a selection is written, a place asked, in that part's own text). A range that
// runs over two parts has no one part: it is neither written nor placed.
//
// No AT-SPI calls: the backend hands each part's text and objects through a Source.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/text/range.h"
#include "platform/linux/accessibility/text_offsets.h"

namespace ravlin::platform::atspi {

class RichText {
  public:
    // A part, as the backend knows it (an accessible object); never null.
    using Node = const void*;

    class Source {
      public:
        virtual ~Source() = default;
        // The part's own text; none when it cannot be read.
        [[nodiscard]] virtual std::optional<std::u16string> text(Node node) = 0;
        // The object an object replacement character at `offset` of `node`'s text (toolkit
        // units) stands for; none where it tells none.
        [[nodiscard]] virtual std::optional<Node> embedded(Node node, int offset) = 0;
        // Whether the part stands on lines of its own (a paragraph, not a link).
        [[nodiscard]] virtual bool isBlock(Node node) = 0;
    };

    // Bounds on what is read: a message beyond them is not read at all.
    static constexpr int maxDepth = 8;
    static constexpr std::size_t maxParts = 512;
    static constexpr std::size_t maxLength = 1u << 20;  // UTF-16 units

    static constexpr char16_t objectCharacter = u'\uFFFC';

    // Whether a text holds parts as objects at all.
    [[nodiscard]] static bool holdsObjects(std::u16string_view text);

    // The whole text of `root` (whose own text is `rootText`); none when a part's text cannot be
    // read or the bounds are passed.
    [[nodiscard]] static std::optional<RichText> read(Node root, std::u16string rootText,
                                                      Source& source, OffsetUnit unit);

    [[nodiscard]] const std::u16string& text() const { return text_; }
    // Every part read, the root first.
    [[nodiscard]] std::vector<Node> parts() const;

    // The object an object character at `offset` of `node` stands for, where it is shown.
    [[nodiscard]] std::optional<Node> embedded(Node node, int offset) const;
    // Where `offset` of `node`'s own text stands in the whole text; an object character's offset
    // stands where its part's text starts. None for a part not read or an offset beyond it.
    [[nodiscard]] std::optional<std::int64_t> position(Node node, int offset) const;
    // Where the text of a part ends in the whole text.
    [[nodiscard]] std::optional<std::int64_t> end(Node node) const;

    struct Place {
        Node node = nullptr;
        int start = 0;  // toolkit units of the node's own text
        int end = 0;
        friend bool operator==(const Place&, const Place&) = default;
    };
    // The part whose own characters are exactly `range` of the whole text, and where in its own
    // text; none when the range takes in a line break between blocks, an object's text together
    // with text beside it, or lies beyond the text. An empty range stands in the part whose text
    // it touches (the part before it where two touch).
    [[nodiscard]] std::optional<Place> place(text::Utf16Range range) const;

  private:
    // A stretch of a part's own text and where it stands in the whole text: the part's own
    // characters (`child` null), or one object character and its object's text.
    struct Segment {
        int start = 0;  // toolkit units of the part's own text
        int end = 0;
        std::int64_t from = 0;  // UTF-16 units of the whole text
        std::int64_t to = 0;
        bool object = false;
        Node child = nullptr;  // an object character's object, where it is shown
    };
    struct Part {
        Node node = nullptr;
        std::int64_t from = 0;
        std::int64_t to = 0;
        std::vector<Segment> segments;
    };

    explicit RichText(OffsetUnit unit) : unit_(unit) {}
    bool readPart(Node node, std::u16string text, Source& source, int depth);
    [[nodiscard]] const Part* part(Node node) const;

    OffsetUnit unit_;
    std::u16string text_;
    std::vector<Part> parts_;
};

}  // namespace ravlin::platform::atspi
