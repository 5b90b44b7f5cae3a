#pragma once

// Whether a model's answer is a correction of the text it was asked about, or something else in
// its place: a reply, a summary, a translation, the text cut to a word or repeated many times.
// A correction keeps the person's words (typos fixed, words added, merged here and there, a word
// typed twice taken out), their script and roughly their length; the bounds below were tuned on
// badly typed sentences and their genuine corrections, which must all pass. An answer that leaves
// out one of the person's words with nothing in its place, wherever it stands, is none. A piece of
// a sentence (a text that ends at a comma, a semicolon, a colon or a dash) is corrected, never
// finished: an answer that goes on past it is none.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

struct QNCorrectionBounds {
    // Far longer: more characters than this many times the text's, plus the slack.
    static constexpr std::int64_t kLongerFactor = 2;
    static constexpr std::int64_t kLongerSlack = 20;
    // Far shorter: fewer than half the text's characters (its repeated words counted once),
    // for texts of at least this many characters.
    static constexpr std::int64_t kShorterMinimum = 12;
    // Most words replaced: fewer than half the text's distinct words still in the answer, as
    // they were or within a typist's slip.
    static constexpr double kKeptWordsMinimum = 0.5;
    // Words added: at least this many of the answer's distinct words of four letters or more
    // that stand for none of the text's, and more than half of them.
    static constexpr std::int64_t kAddedWordsMinimum = 3;
    static constexpr double kAddedWordsShare = 0.5;
    // Another script: more than this share of the answer's letters in scripts the text has none
    // of (Chinese, Japanese and Korean count as one), and at least two letters.
    static constexpr double kForeignLettersShare = 0.3;
};

// Why `answer` is not a correction of `input` ("not a correction (...)"), or none when it is
// one. Both are taken trimmed. Linear in the texts' lengths, apart from a word comparison
// bounded by the far-longer check.
[[nodiscard]] std::optional<std::string> notACorrection(std::u16string_view answer,
                                                        std::u16string_view input);

// The same for a part of an answer still streaming: only what more text cannot mend (another
// script, far longer already, the sentence repeated, as typed or corrected).
[[nodiscard]] std::optional<std::string> notACorrectionSoFar(std::u16string_view partial,
                                                             std::u16string_view input);

// Whether `text` holds every word of `part` in a row, each as written or within a typist's slip.
[[nodiscard]] bool holdsWordsOf(std::u16string_view text, std::u16string_view part);

}  // namespace ravlin
