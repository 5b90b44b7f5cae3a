#pragma once

// Low-level text scanning shared by the local rules. The rules are defined by ICU regular
// expressions (case-insensitive, plain "\b" word boundaries); the scanners here answer the
// same questions those patterns ask, one code point at a time, so a rule can make a single
// pass over the text. The regular-expression form of every rule stays
// available in pattern_form.h, and tests compare the two.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ravlin::rules {

// Canonical equivalence of two texts, answered from the first differing code units whenever
// that settles it and from full normalization otherwise.
[[nodiscard]] bool sameText(std::u16string_view a, std::u16string_view b);
// The same, given the number of leading code units the two texts share.
[[nodiscard]] bool sameTextFrom(std::u16string_view a, std::u16string_view b,
                                std::size_t firstDifference);

// How many leading code units of a and b agree, up to `limit`.
[[nodiscard]] std::size_t commonRun(const char16_t* a, const char16_t* b, std::size_t limit);

// One code point of UTF-16 text; a lone surrogate comes back as itself, as ICU reads it.
struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;  // code units
};
[[nodiscard]] inline CodePoint codePointAt(std::u16string_view text, std::size_t offset) {
    char16_t unit = text[offset];
    if (unit >= 0xD800 && unit <= 0xDBFF && offset + 1 < text.size()) {
        char16_t trail = text[offset + 1];
        if (trail >= 0xDC00 && trail <= 0xDFFF) {
            return {static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00)), 2};
        }
    }
    return {unit, 1};
}
// The code point that ends at `offset` (offset > 0).
[[nodiscard]] CodePoint codePointBefore(std::u16string_view text, std::size_t offset);

// Character classes of the regular-expression engine.
namespace ascii {
inline constexpr std::uint8_t kLetter = 1;      // A-Z a-z
inline constexpr std::uint8_t kWord = 2;        // word character for "\b": letters, digits, "_"
inline constexpr std::uint8_t kCompletion = 4;  // in [\s.,!?;:)\]]
inline constexpr std::uint8_t kLineEnd = 8;     // a line terminator for "$"

inline constexpr std::array<std::uint8_t, 128> kClasses = [] {
    std::array<std::uint8_t, 128> classes{};
    for (int c = 'a'; c <= 'z'; ++c) {
        classes[c] |= kLetter | kWord;
        classes[c - 32] |= kLetter | kWord;
    }
    for (int c = '0'; c <= '9'; ++c) {
        classes[c] |= kWord;
    }
    classes['_'] |= kWord;
    for (int c : {'\t', '\n', '\v', '\f', '\r', ' ', '.', ',', '!', '?', ';', ':', ')', ']'}) {
        classes[c] |= kCompletion;
    }
    for (int c : {'\n', '\v', '\f', '\r'}) {
        classes[c] |= kLineEnd;
    }
    return classes;
}();

// The class of an ASCII code unit (unit < 0x80).
[[nodiscard]] inline std::uint8_t classOf(char16_t unit) {
    return kClasses[unit];
}
}  // namespace ascii

namespace detail {
[[nodiscard]] bool isRegexWordCharacterSlow(char32_t c);
[[nodiscard]] bool isBoundaryTransparentSlow(char32_t c);
[[nodiscard]] bool isCompletionCharacterSlow(char32_t c);
[[nodiscard]] bool wordCharacterBeforeSlow(std::u16string_view text, std::size_t offset);
}  // namespace detail

// A word character for "\b" (Alphabetic, marks, decimal digits, connector punctuation,
// U+200C, U+200D).
[[nodiscard]] inline bool isRegexWordCharacter(char32_t c) {
    return c < 0x80 ? (ascii::kClasses[c] & ascii::kWord) != 0
                    : detail::isRegexWordCharacterSlow(c);
}
// Characters "\b" looks through: Grapheme_Extend or general category Cf.
[[nodiscard]] inline bool isBoundaryTransparent(char32_t c) {
    return c >= 0x80 && detail::isBoundaryTransparentSlow(c);
}
// The completion lookahead's class: whitespace or one of . , ! ? ; : ) ]
[[nodiscard]] inline bool isCompletionCharacter(char32_t c) {
    return c < 0x80 ? (ascii::kClasses[c] & ascii::kCompletion) != 0
                    : detail::isCompletionCharacterSlow(c);
}
// Line terminators as "$" knows them.
[[nodiscard]] bool isRegexLineTerminator(char32_t c);

// ICU's "\b" at `offset` (0...size), without Unicode word-boundary rules.
[[nodiscard]] bool isWordBoundary(std::u16string_view text, std::size_t offset);
// Whether the last code point before `offset` that "\b" does not look through is a word
// character (false at the start of the text).
[[nodiscard]] inline bool wordCharacterBefore(std::u16string_view text, std::size_t offset) {
    if (offset == 0) {
        return false;
    }
    char16_t unit = text[offset - 1];
    return unit < 0x80 ? (ascii::kClasses[unit] & ascii::kWord) != 0
                       : detail::wordCharacterBeforeSlow(text, offset);
}

// Simple case folding (what a single case-insensitive literal character compares).
[[nodiscard]] char32_t simpleCaseFold(char32_t c);

// Full case folding restricted to ASCII letters: when the full case fold of `c` consists of
// ASCII letters only, appends them (lower case) to `out` and returns their count; otherwise
// returns 0 and appends nothing.
[[nodiscard]] std::size_t asciiFullFold(char32_t c, char* out, std::size_t capacity);

// A run of code points from `start` whose full case folds consist of ASCII letters only: the
// text a case-insensitive literal word can match there. `fold` holds the first
// kMaxRunFold folded letters; longer runs report `foldLength` > kMaxRunFold.
struct FoldedRun {
    static constexpr std::size_t kMaxRunFold = 31;
    std::size_t end = 0;
    std::size_t foldLength = 0;
    char fold[kMaxRunFold + 1] = {};

    [[nodiscard]] bool complete() const { return foldLength <= kMaxRunFold; }
    [[nodiscard]] std::string_view folded() const {
        return {fold, foldLength <= kMaxRunFold ? foldLength : 0};
    }
    [[nodiscard]] bool equals(std::string_view word) const {
        return complete() && folded() == word;
    }
};
[[nodiscard]] FoldedRun foldedRunAt(std::u16string_view text, std::size_t start);

// True when the matched word that ends at `offset` is followed by a word boundary and by the
// completion lookahead (a character of isCompletionCharacter); `endAllowed` also accepts the
// end of the text and a final line terminator, as "(?=$|...)" does.
[[nodiscard]] bool completesWordAt(std::u16string_view text, std::size_t offset,
                                   bool endAllowed = false);

// Horizontal space or tab, one code unit.
[[nodiscard]] inline bool isSpaceOrTab(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

// A position at which "\b" holds and whose code point's full case fold is made of ASCII
// letters: a place where a case-insensitive literal word of ASCII letters can begin.
// `asciiEnd` is the end of the ASCII letters from `start` (`start` itself when the code point
// there is not ASCII).
struct WordStart {
    std::size_t start = 0;
    std::size_t asciiEnd = 0;
};

struct WordStarts {
    std::u16string text;
    std::vector<WordStart> starts;
};

// The word starts of a text, first to last. The last text asked about is remembered per
// thread, since the rules of a pass mostly scan the same text one after another.
[[nodiscard]] std::shared_ptr<const WordStarts> wordStartsOf(std::u16string_view text);

// Visits the word starts of a text in order. `visit(start, asciiEnd)` returns the offset to go
// on from, past `start`: the end of what it matched, so matches do not overlap, or any offset
// within the word when nothing matched.
template <class Visit>
void forEachWordStart(std::u16string_view text, Visit&& visit) {
    const std::shared_ptr<const WordStarts> index = wordStartsOf(text);
    std::size_t resume = 0;
    for (const WordStart& word : index->starts) {
        if (word.start >= resume) {
            resume = visit(word.start, word.asciiEnd);
        }
    }
}

// Past the ASCII letters from `at` (at least one code unit).
[[nodiscard]] inline std::size_t skipAsciiLetters(std::u16string_view text, std::size_t at) {
    ++at;
    while (at < text.size() && text[at] < 0x80 && (ascii::kClasses[text[at]] & ascii::kLetter)) {
        ++at;
    }
    return at;
}

// A small set of lower-case ASCII words, answered for folded runs.
class WordSet {
  public:
    WordSet() = default;
    // Words must be 1 to FoldedRun::kMaxRunFold lower-case ASCII letters; others are ignored.
    void insert(std::string_view word);

    // Whether a word of the set has this first letter (an ASCII letter, either case) and length.
    [[nodiscard]] bool mayMatch(char16_t asciiLetter, std::size_t length) const {
        return length <= FoldedRun::kMaxRunFold &&
               (firstLettersByLength_[length] & (1U << ((asciiLetter | 0x20) - 'a'))) != 0;
    }

    // At a word start: the offset past the word when it is made of ASCII letters only and no
    // word of the set has its first letter and length; 0 when it needs a closer look.
    [[nodiscard]] std::size_t skipUnlessCandidate(std::u16string_view text, std::size_t start,
                                                  std::size_t asciiEnd) const {
        char16_t unit = text[start];
        if (unit >= 0x80) {
            return 0;
        }
        std::size_t end = asciiEnd;
        if (end < text.size() && text[end] >= 0x80) {
            return 0;  // the word may go on with a letter that folds to ASCII
        }
        return mayMatch(unit, end - start) ? 0 : end;
    }
    [[nodiscard]] bool contains(const FoldedRun& run) const {
        if (!run.complete() || run.foldLength == 0) {
            return false;
        }
        if (!(firstLettersByLength_[run.foldLength] & (1U << (run.fold[0] - 'a')))) {
            return false;
        }
        Packed packed = pack(run.fold);
        const std::size_t parts = (run.foldLength + 7) / 8;
        for (const auto& word : words_) {
            if (word.length != run.foldLength) {
                continue;
            }
            bool equal = true;
            for (std::size_t k = 0; k < parts && equal; ++k) {
                equal = word.packed[k] == packed[k];
            }
            if (equal) {
                return true;
            }
        }
        return false;
    }

  private:
    using Packed = std::array<std::uint64_t, 4>;
    struct Entry {
        std::size_t length = 0;
        Packed packed{};
    };
    // The 32 bytes of a fold buffer (zero past the word) as four integers.
    static Packed pack(const char* letters) {
        Packed packed{};
        std::memcpy(packed.data(), letters, sizeof packed);
        return packed;
    }

    std::array<std::uint32_t, FoldedRun::kMaxRunFold + 1> firstLettersByLength_{};
    std::vector<Entry> words_;
};

// Skips a run of spaces and tabs; returns its end.
[[nodiscard]] inline std::size_t skipSpacesAndTabs(std::u16string_view text, std::size_t at) {
    while (at < text.size() && isSpaceOrTab(text[at])) {
        ++at;
    }
    return at;
}

}  // namespace ravlin::rules
