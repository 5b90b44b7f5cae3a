#pragma once

// Small character-level helpers for the answer-cleaning routines. A "character" is an extended
// grapheme cluster; offsets are UTF-16 code units. Most model answers are plain ASCII, so every
// helper takes a shortcut there and asks ICU only when the text around a position is not ASCII.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ravlin::engine::detail {

// Character boundaries of a text: offsets where characters start, plus the end offset.
[[nodiscard]] std::vector<std::int64_t> characterOffsets(std::u16string_view text);

// A text seen as a sequence of characters. Holds a view: the text must outlive it.
class CharacterView {
  public:
    explicit CharacterView(std::u16string_view text);

    [[nodiscard]] std::int64_t size() const {
        return static_cast<std::int64_t>(offsets_.size()) - 1;
    }
    [[nodiscard]] std::u16string_view text() const { return text_; }
    // UTF-16 offset where character `index` starts (size() gives the end offset).
    [[nodiscard]] std::int64_t offset(std::int64_t index) const {
        return offsets_[static_cast<std::size_t>(index)];
    }
    [[nodiscard]] std::u16string_view at(std::int64_t index) const {
        return slice(index, index + 1);
    }
    // Characters [from, to).
    [[nodiscard]] std::u16string_view slice(std::int64_t from, std::int64_t to) const {
        const auto begin = offset(from);
        return text_.substr(static_cast<std::size_t>(begin),
                            static_cast<std::size_t>(offset(to) - begin));
    }
    // Whether the character's first code point is whitespace (newlines included).
    [[nodiscard]] bool isWhitespace(std::int64_t index) const;

  private:
    std::u16string_view text_;
    std::vector<std::int64_t> offsets_;
};

[[nodiscard]] bool isAscii(std::u16string_view text);
// Whether a character boundary lies at `offset` (cheap when both neighbours are ASCII).
[[nodiscard]] bool isBoundary(std::u16string_view text, std::size_t offset);

// Character-wise comparisons: the code units match and the match ends (or starts) on a
// character boundary of `text`, so "*" is not a prefix of "*" + a combining accent.
[[nodiscard]] bool startsWith(std::u16string_view text, std::u16string_view prefix);
[[nodiscard]] bool endsWith(std::u16string_view text, std::u16string_view suffix);
// The offset of the first occurrence of `needle` that starts and ends on character boundaries.
[[nodiscard]] std::size_t find(std::u16string_view text, std::u16string_view needle);
[[nodiscard]] inline bool contains(std::u16string_view text, std::u16string_view needle) {
    return find(text, needle) != std::u16string_view::npos;
}

// Offset where the last character starts (0 for an empty text).
[[nodiscard]] std::size_t lastCharacterStart(std::u16string_view text);
[[nodiscard]] inline std::u16string_view lastCharacter(std::u16string_view text) {
    return text.substr(lastCharacterStart(text));
}

// The first few characters of a text: where each starts, plus the end of the last. Looks only at
// the start of the text, however long it is, and allocates nothing for ASCII.
class LeadingCharacters {
  public:
    static constexpr std::int64_t kMaximum = 32;

    // At most `count` (up to kMaximum) characters; fewer when the text is shorter.
    LeadingCharacters(std::u16string_view text, std::int64_t count);

    [[nodiscard]] std::int64_t size() const { return size_; }
    // UTF-16 offset where character `index` starts (size() gives the end of the last).
    [[nodiscard]] std::int64_t offset(std::int64_t index) const {
        return offsets_[static_cast<std::size_t>(index)];
    }
    [[nodiscard]] std::u16string_view at(std::int64_t index) const {
        const auto from = static_cast<std::size_t>(offset(index));
        return text_.substr(from, static_cast<std::size_t>(offset(index + 1)) - from);
    }

  private:
    std::u16string_view text_;
    std::array<std::int64_t, kMaximum + 1> offsets_;  // the first size_ + 1 are set
    std::int64_t size_ = 0;
};

// Number of characters, cheap for ASCII text.
[[nodiscard]] std::int64_t countCharacters(std::u16string_view text);

// Lower-casing with the root locale, cheap for ASCII text.
[[nodiscard]] std::u16string lower(std::u16string_view text);

// Leading / trailing run of whitespace code points (newlines included).
[[nodiscard]] std::u16string_view leadingWhitespace(std::u16string_view text);
[[nodiscard]] std::u16string_view trailingWhitespaceRun(std::u16string_view text);
[[nodiscard]] std::u16string_view trimmedView(std::u16string_view text);

// A mark a sentence goes on after: a comma, a semicolon, a colon, a dash (or the hyphen typed for
// one), and the comma, semicolon and colon of East Asian text. A text the person typed that ends
// with one is a piece of a sentence: they paused there.
[[nodiscard]] bool isPieceMark(char16_t unit);

// A newline character starting at `offset`: its length in code units (2 for CR LF), else 0.
[[nodiscard]] std::size_t newlineLength(std::u16string_view text, std::size_t offset);

}  // namespace ravlin::engine::detail
