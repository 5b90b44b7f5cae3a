#pragma once

// Text operations the correction engine applies around a model call: the context clamp, the
// echoed-context strip, the note for a refused answer and the trailing-whitespace trim for
// streaming partials. Also two small routines other cleaning steps share. Counts and positions
// are characters (extended grapheme clusters); all functions are pure.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/note.h"

namespace ravlin {

// The trailing run of whitespace characters (newlines included); empty when the text ends in a
// non-whitespace character.
[[nodiscard]] std::u16string trailingWhitespace(std::u16string_view text);

// Levenshtein distance over characters, giving up early: returns `maximum` + 1 as soon as the
// distance is known to exceed `maximum` (the result may also exceed it after the last row).
[[nodiscard]] std::int64_t boundedEditDistance(std::u16string_view a, std::u16string_view b,
                                               std::int64_t maximum);

}  // namespace ravlin

namespace ravlin::engine {

// The context limit every caller of boundedContextBefore passes.
inline constexpr std::int64_t kContextCharacterLimit = 500;

// Cuts the text before the cursor to at most `limit` characters, starting after the last
// complete sentence of the kept tail. Absent for an absent or blank context.
[[nodiscard]] std::optional<std::u16string> boundedContextBefore(
    const std::optional<std::u16string>& context, std::int64_t limit);

// A model answer with an echoed context removed, and the note that says so.
struct EchoStripResult {
    std::u16string text;
    std::vector<QNCorrectionNote> notes;

    friend bool operator==(const EchoStripResult&, const EchoStripResult&) = default;
};

// Removes the context when the answer starts with it; absent when the answer must be refused
// (nothing but the context, or a context of 4+ characters repeated elsewhere). Given the text the
// model was asked about, an answer holds the context because the person wrote it again (a
// sentence typed twice, as in "We should go now. We shoud go now.") when that text holds the
// context's words too, typo for word: the answer is then neither cut nor refused.
// Given that text, an answer may also open with the context as the model corrected it ("When you're
// done, send" for the context "when ur done," and the text " send"): words that line up with the
// whole context, or with its last, unfinished sentence, in any case, are removed the same way. Where
// the context ends with a mark, the marks standing alone after those words go too ("the plants need
// water - the soil" for "The plants need water - " and "the soil"), but for as many as the text
// itself opens with. A part of an answer still streaming whose words so far may still grow into
// such an opening is absent too.
[[nodiscard]] std::optional<EchoStripResult> removeEchoedContext(
    std::u16string_view output, const std::optional<std::u16string>& contextBefore,
    std::u16string_view input = {}, bool stillStreaming = false);

// The rest of a sentence sent after a soft boundary (the context ends in a comma, a semicolon or
// a dash) goes on mid-sentence: a capital the answer gives its first letter where the person
// typed a small one is taken back, unless the word is always written with one ("I", "I'm", a
// weekday, a month) or the person typed it with one in the context or the text.
[[nodiscard]] std::u16string keepingCaseAfterSoftBoundary(
    std::u16string_view answer, const std::optional<std::u16string>& contextBefore,
    std::u16string_view input);

// "rejected_output: hash=<fingerprint> len_delta=<characters of output - characters of input>".
// Names the refused answer without including any of its text.
[[nodiscard]] std::string rejectedOutputNote(std::u16string_view output,
                                             std::u16string_view original);

// For a streaming partial that stops mid-word: takes back the trailing spaces and tabs that the
// sanitizer copied from the input.
[[nodiscard]] std::u16string trimmingRestoredTrailingWhitespace(std::u16string_view text,
                                                                std::u16string_view rawPartial,
                                                                std::u16string_view input);
[[nodiscard]] inline std::u16string preservingTrailingWhitespace(std::u16string_view text,
                                                                 std::u16string_view rawPartial,
                                                                 std::u16string_view input) {
    return trimmingRestoredTrailingWhitespace(text, rawPartial, input);
}

}  // namespace ravlin::engine
