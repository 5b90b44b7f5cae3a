#pragma once

// The text controller's pure rules: the range clamp every selection goes through, the
// visible-end offset, the touch test of marked text, the kind of a user edit, and the edit a
// document change notification stands for once it is read against the text before it.
// Offsets and lengths count UTF-16 code units.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/composer/correction_buffers.h"
#include "app/composer/ns_range.h"
#include "core/text/range.h"

namespace ravlin::editor {

// Location L when it is NSNotFound or past L, and at least 0; length at least 0 and at most
// what remains after the location.
[[nodiscard]] text::Utf16Range clampRange(text::Utf16Range range, std::int64_t textLength);

// Walks back from the end over whole characters made only of newline scalars (U+000A-U+000D,
// U+0085, U+2028, U+2029); trailing spaces and tabs stay.
[[nodiscard]] std::int64_t visibleEndOffset(std::u16string_view text);

// A selection as the person made it: where it began (the anchor) and where the cursor is; both
// equal for a caret.
struct SelectionEnds {
    std::int64_t anchor = 0;
    std::int64_t position = 0;

    friend bool operator==(const SelectionEnds&, const SelectionEnds&) = default;
};

// Where a selection's ends stand once `range` of the text was replaced by `newLength` units: an
// end before the range stays, an end after it moves by the change of length, and an end inside
// it goes to the range's start when it is the selection's start, else to the new text's end (a
// caret in a rewritten word ends up after the new word).
[[nodiscard]] SelectionEnds mapSelection(SelectionEnds ends, text::Utf16Range range,
                                         std::int64_t newLength);

// The part of `from` that `to` rewrites, as a range of `from` on whole characters' code units
// (the units the two share at both ends left out), and the length of what replaces it.
struct Rewrite {
    text::Utf16Range range;
    std::int64_t newLength = 0;
};
[[nodiscard]] Rewrite rewriteBetween(std::u16string_view from, std::u16string_view to);

// Same start; or both non-empty and sharing a unit; or one empty and one ending where the other
// starts. Ranges at NSNotFound touch nothing.
[[nodiscard]] bool rangesTouch(text::Utf16Range a, text::Utf16Range b);

// What the controller knows of an edit when it classifies it.
struct EditFacts {
    text::Utf16Range range;
    std::u16string_view replacement;
    bool isCommittingMarkedText = false;
    bool isPerformingPaste = false;
    std::optional<text::Utf16Range> pendingMarkedTextRange;
};

// The first rule that applies: an input-method commit; a paste; a replacement touching the
// pending marked text; a deletion or replacement of a non-empty range; an insertion of two or
// more units (a pasted run, or one character needing a surrogate pair) or of one unit.
[[nodiscard]] QNUserEditKind classifyEdit(const EditFacts& facts);

// The lengths of the common head and tail of two texts, never cutting a surrogate pair, the
// head at most `headLimit` and the two together at most the shorter length.
[[nodiscard]] std::pair<std::size_t, std::size_t> commonEnds(std::u16string_view a,
                                                             std::u16string_view b,
                                                             std::size_t headLimit);

// A change of the text: `range` of the text before it replaced by `replacement`.
struct TextChange {
    text::Utf16Range range;
    std::u16string replacement;

    friend bool operator==(const TextChange&, const TextChange&) = default;
};

// Reads [from, to) of the text after the change.
using TextReader = std::function<std::u16string(std::int64_t from, std::int64_t to)>;

// The change a document reported as (position, removed, added), read against `before` and the
// text after it (`afterLength` units, read through `read`). The counts are clamped to both texts
// (the document may count its final block separator); when they still do not add up to the new
// length, the change is derived from the common prefix (at most up to `position`) and suffix of
// the two texts. With `trimUnchanged`, units the change leaves as they were are trimmed from
// both ends (an input method marks a whole block changed); none when nothing is left. Without it,
// a replacement by the same text stays a change (a letter typed over itself).
[[nodiscard]] std::optional<TextChange> deriveChange(std::u16string_view before,
                                                     std::int64_t position, std::int64_t removed,
                                                     std::int64_t added, std::int64_t afterLength,
                                                     const TextReader& read, bool trimUnchanged);

}  // namespace ravlin::editor
