#pragma once

// Cleans a model answer of the wrappings models like to add (a preamble, a code fence, markdown
// emphasis, quotes, a list marker, an added full stop, different surrounding whitespace),
// always measured against the user's input so that a wrapping the user wrote survives.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/note.h"

namespace ravlin {

struct QNModelSanitizeResult {
    std::u16string cleaned;
    std::vector<QNCorrectionNote> structuredNotes;

    // From plain texts: each becomes a plain-text note with stage unknown and no rule.
    [[nodiscard]] static QNModelSanitizeResult withPlainNotes(
        std::u16string cleaned, const std::vector<std::string>& notes);

    // One line per note: its value for a plain-text note, else "key: value".
    [[nodiscard]] std::vector<std::string> notes() const;
    // "no changes", or the lines joined with ", ".
    [[nodiscard]] std::string summary() const;

    friend bool operator==(const QNModelSanitizeResult&, const QNModelSanitizeResult&) = default;
};

// Removes the wrappings from `output` measured against `input`, one note per change. Never fails.
// An input that ends with a comma, a semicolon, a colon or a dash is a piece of a sentence: the
// answer keeps that mark where it ends the piece with a full stop or with no mark.
[[nodiscard]] QNModelSanitizeResult sanitizeModelOutput(std::u16string_view output,
                                                        std::u16string_view input);

// The same for the text a stream has produced so far. Its end is not the answer's end, so the
// input's final mark is not put back there: a partial "Hello," of an answer that will read
// "Hello, world." shows "Hello,", not "Hello,.". An added mark is still taken off, so a partial
// shows no mark that the whole answer, cleaned, would not keep.
[[nodiscard]] QNModelSanitizeResult sanitizeModelPartial(std::u16string_view output,
                                                         std::u16string_view input);

}  // namespace ravlin
