#pragma once

// How the words a person typed stand in a model's answer: as they are, within a typist's slip,
// run together or split in two, or as a chat short form and its expansion ("lmk" for "let me
// know", "u" for "you", "tmrw" for "tomorrow", "b4" for "before"). The chatter strip and the
// correction bounds measure an answer against the typed text with it: a word of the answer that
// a typed word stands for is the person's, corrected.
//
// Words are taken lower-cased, with straight apostrophes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ravlin::typed_words {

// One reading of a short form: the words it stands for, in order.
using Expansion = std::vector<std::u16string>;

// Words longer than this (links, paths, codes) stand only for themselves: no slip is looked for
// in them, which keeps every comparison of two words short.
inline constexpr std::size_t kLongestSlipWord = 40;

// The readings of a chat short form; empty when the word is none.
[[nodiscard]] std::span<const Expansion> expansionsOf(std::u16string_view typed);

// Whether the typed word is a short form of `word` as people type them in chat ("thx", "pls",
// "msg", "appt"): the same first letter, and two thirds of its letters in `word` in order.
[[nodiscard]] bool abbreviates(std::u16string_view typed, std::u16string_view word);

// Whether the typed word stands for the answer's word alone: the same, one slip apart (two from
// six characters on; an exchange of neighbours is one), a short form read as that one word, or,
// from three letters on, a shortening of it.
[[nodiscard]] bool standsFor(std::u16string_view typed, std::u16string_view answer);

// Whether `typed` begins with the words of `words`, each typed word standing for one or more of
// them. With `openEnd` the last typed word read may stand for more words than are left ("np"
// begins "no": it may still become "no problem").
[[nodiscard]] bool beginsWith(std::span<const std::u16string_view> typed,
                              std::span<const std::u16string_view> words, bool openEnd = false);

// Whether the typed words, every one of them, stand for exactly `words`, as beginsWith reads
// them ("when ur done" for "when you're done").
[[nodiscard]] bool standsForAll(std::span<const std::u16string_view> typed,
                                std::span<const std::u16string_view> words);

// The most of the first of `words` that the typed words, every one of them, stand for; 0 when
// they stand for no run of words at the start. Each pair of words is compared at most once.
[[nodiscard]] std::size_t longestReading(std::span<const std::u16string_view> typed,
                                         std::span<const std::u16string_view> words);

// How the answer's words line up with the typed ones, in order, keeping as many answer words as
// possible: `typedOf[j]` is the typed word that answer word j stands for, or -1.
struct Alignment {
    std::vector<std::int32_t> typedOf;
    std::size_t matched = 0;

    [[nodiscard]] bool isMatched(std::size_t answerWord) const {
        return answerWord < typedOf.size() && typedOf[answerWord] >= 0;
    }
};

// At most this many words of each side are lined up; callers pass the part they look at (the
// work is the product of the two counts).
inline constexpr std::size_t kMaximumAlignedWords = 160;

// Lines up the two word lists, each cut to its last kMaximumAlignedWords words (the indices are
// those of the lists as given).
[[nodiscard]] Alignment align(std::span<const std::u16string_view> typed,
                              std::span<const std::u16string_view> answer);

}  // namespace ravlin::typed_words
