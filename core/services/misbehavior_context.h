#pragma once

// The facts about one input and one cleaned model answer that every misbehavior rule looks at,
// computed once per detection, plus the word routines and word lists the rules share.
// Counts are characters; an a-z word is a lower-cased word made only of the letters a to z.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravlin {

// A run of the input's words that looks like romanized Chinese or Japanese.
struct QNModelRomanizedPhoneticSpan {
    // Half-open range of indices into the input's word list.
    struct WordRange {
        std::int64_t start = 0;
        std::int64_t end = 0;
        friend bool operator==(const WordRange&, const WordRange&) = default;
    };

    WordRange range;
    // How many words of the span are strong romanized-syllable signals.
    std::int64_t signalCount = 0;

    friend bool operator==(const QNModelRomanizedPhoneticSpan&,
                           const QNModelRomanizedPhoneticSpan&) = default;
};

struct QNModelMisbehaviorContext {
    std::u16string original;
    std::u16string cleaned;
    std::u16string originalLower;
    std::u16string cleanedLower;
    std::vector<std::u16string> originalWords;
    std::vector<QNModelRomanizedPhoneticSpan> romanizedSpans;
    std::int64_t originalLength = 0;
    std::int64_t cleanedLength = 0;
    bool cleanedHasCJK = false;
    bool allowsRomanizedPhoneticConversion = false;

    // Derives every field from the input and the sanitized answer.
    [[nodiscard]] static QNModelMisbehaviorContext make(std::u16string_view original,
                                                        std::u16string_view cleaned);

    [[nodiscard]] std::int64_t added() const { return cleanedLength - originalLength; }
    [[nodiscard]] std::int64_t removed() const { return originalLength - cleanedLength; }

    friend bool operator==(const QNModelMisbehaviorContext&,
                           const QNModelMisbehaviorContext&) = default;
};

namespace misbehavior {

// Splits at whitespace, trims punctuation from both ends of each piece, lower-cases it and
// drops empty pieces.
[[nodiscard]] std::vector<std::u16string> words(std::u16string_view text);

[[nodiscard]] bool isAZWord(std::u16string_view word);
// Kana, CJK ideographs (Extension A, Unified, Compatibility); not Hangul.
[[nodiscard]] bool containsCJK(std::u16string_view text);

// Letters the two words share, counted with multiplicity.
[[nodiscard]] std::int64_t sharedLetterCount(std::u16string_view a, std::u16string_view b);
// Two spellings of the same romanized sound (same letters, mostly in another order).
[[nodiscard]] bool isRomanizedPhoneticVariant(std::u16string_view a, std::u16string_view b);
// Whether `list` holds an a-z word equal, a romanized variant or within a small edit distance of
// the a-z word `target`.
[[nodiscard]] bool containsSimilarWord(const std::vector<std::u16string>& list,
                                       std::u16string_view target);
// Whether `word` is near some a-z word of `answerWords` (equal, or within a tolerance of 1 below
// four characters, else a quarter of its length, at most 2).
[[nodiscard]] bool isNearSomeWord(std::u16string_view word,
                                  const std::vector<std::u16string>& answerWords);

// Whether the typed word `typed` matches the answer word `candidate` (misspellings,
// contractions, completions, swapped or shortened forms, small edit distances).
[[nodiscard]] bool wordMatches(std::u16string_view typed, std::u16string_view candidate);
// Whether the answer still ends with the typed word (last one to three words, hyphen pieces).
[[nodiscard]] bool isWordPresent(std::u16string_view typed, std::u16string_view answer);

// Romanized syllables: pinyin and romaji.
[[nodiscard]] bool isPinyinSyllable(std::u16string_view word);
[[nodiscard]] bool isRomajiSyllable(std::u16string_view word);
[[nodiscard]] bool isSegmentableByPinyin(std::u16string_view word);
[[nodiscard]] bool isSegmentableByRomaji(std::u16string_view word);
[[nodiscard]] bool isRomanizable(std::u16string_view word);
[[nodiscard]] bool isStrongSyllableSignal(std::u16string_view word);
[[nodiscard]] bool isNearSyllable(std::u16string_view word);

// The word lists.
[[nodiscard]] bool isTwoLetterWord(std::u16string_view word);
[[nodiscard]] bool isCommonThreeLetterWord(std::u16string_view word);
[[nodiscard]] bool isExcludedEnglishWord(std::u16string_view word);
// The correct word for a known misspelling.
[[nodiscard]] std::optional<std::u16string_view> knownMisspellingCorrection(
    std::u16string_view word);
// The words a contraction's second part may stand for ("don't" -> {"not"}); empty when the word
// is no known contraction.
[[nodiscard]] std::vector<std::u16string_view> contractionExpansion(std::u16string_view word);

// Runs of consecutive romanizable a-z words that look like romanized Chinese or Japanese.
[[nodiscard]] std::vector<QNModelRomanizedPhoneticSpan> romanizedSpans(
    const std::vector<std::u16string>& words);

}  // namespace misbehavior
}  // namespace ravlin
