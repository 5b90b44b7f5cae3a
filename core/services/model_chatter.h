#pragma once

// What a chatty model says around the corrected text: a lead-in before it ("Sure! Here is the
// corrected text:", "Here you go:", "The corrected sentence:", a bare "Sure!") and sign-offs
// after it ("Let me know if you need anything else!"). Neither is ever the person's: a form
// counts only when the text they typed does not itself begin (or end) with the same words,
// compared word by word with room for their typos, so "sure! here is the plan." keeps its own
// "Sure! Here is".
//
// Words compare lower-cased, with the typographic apostrophes read as the straight one.

#include <cstddef>
#include <string_view>

namespace ravlin::engine {

// How much of the answer the text is.
enum class QNAnswerExtent {
    whole,
    // A part of an answer still streaming that ends after whitespace or a mark.
    partial,
    // A part that ends inside a word, which may still grow ("Her" of "Here").
    partialInsideWord,
};

struct QNModelChatter {
    // The answer's text without its chatter: units [keepFrom, keepTo) of the text given.
    std::size_t keepFrom = 0;
    std::size_t keepTo = 0;
    bool leadIn = false;
    bool signOff = false;
    // Only for a part of an answer: its start may still grow into a lead-in ("Sure! Here is
    // the"), so none of it may be shown yet.
    bool undecided = false;
};

// The chatter of `answer` (trimmed) measured against the person's `input`. For a part of an
// answer, a last sentence that is, or may grow into, a sign-off is left out too, and a start
// that may grow into a lead-in is `undecided`. Looks at a bounded number of words at each end.
[[nodiscard]] QNModelChatter findModelChatter(std::u16string_view answer,
                                              std::u16string_view input, QNAnswerExtent extent);

// Where the person's sentences end in an answer that has more sentences than they typed, when
// the last ones (as many as it has more) are the model's own: none of the person's words line
// up with them ("See you soon!"). The answer's length when there are none, when such a sentence
// says the person's words again (the answer repeats their text) or when the answer is far
// longer than their text: such answers are judged whole.
[[nodiscard]] std::size_t findAddedSentences(std::u16string_view answer,
                                             std::u16string_view input, QNAnswerExtent extent);

}  // namespace ravlin::engine
