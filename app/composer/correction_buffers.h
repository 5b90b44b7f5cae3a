#pragma once

// The Composer's text model: what the user typed (`authoredText`), the corrected text
// (`canonicalText`), the user edits recorded since the last reset, and the projection that maps
// every UTF-16 offset of the canonical text to an offset of the visible text (what the text view
// shows). Corrections are computed on canonical ranges and written to visible ranges through it.
// Every offset and length counts UTF-16 code units. Main thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/composer/ns_range.h"
#include "core/support/clock.h"
#include "core/text/range.h"

namespace ravlin {

// `text` with `range` replaced by `replacement`; none when the range is NSNotFound, has a
// negative part, reaches past the text, or cuts a surrogate pair at either end. A range may cut
// a character (Backspace removes one code point of a cluster), never a code point.
[[nodiscard]] std::optional<std::u16string> replacing(std::u16string_view text,
                                                      text::Utf16Range range,
                                                      std::u16string_view replacement);

// The same replacement made in `text` itself; false, changing nothing, where `replacing` gives
// none.
bool replaceInPlace(std::u16string& text, text::Utf16Range range, std::u16string_view replacement);

struct QNBufferProjection {
    // Operations refuse to make either text longer than this (no real draft comes near it).
    static constexpr std::int64_t kMaximumLength = std::int64_t{1} << 30;

    std::int64_t canonicalUTF16Length = 0;
    std::int64_t visibleUTF16Length = 0;
    // Entry i is the visible offset of canonical offset i.
    std::vector<std::int64_t> canonicalToVisibleOffsets{0};

    // The straight-line table: [0] when the canonical length is below 1, else n + 1 entries
    // i * v / n (truncated).
    [[nodiscard]] static std::vector<std::int64_t> linearOffsets(std::int64_t canonicalLength,
                                                                 std::int64_t visibleLength);
    // Both lengths and the linear table between them (negative lengths count as 0).
    [[nodiscard]] static QNBufferProjection linear(std::int64_t canonicalLength,
                                                   std::int64_t visibleLength);
    // Whether no entry is smaller than the one before it; false for an empty table.
    [[nodiscard]] static bool isMonotonic(const std::vector<std::int64_t>& offsets);

    // The visible range that shows a canonical range; none for a range that is not inside the
    // canonical text (or a table too short to answer).
    [[nodiscard]] std::optional<text::Utf16Range> visibleRange(text::Utf16Range canonical) const;
    // The table has canonicalUTF16Length + 1 entries, never decreases and stays inside
    // 0...visibleUTF16Length.
    [[nodiscard]] bool satisfiesInvariants() const;

    // A user edit replaced `range` in both texts by `replacementLength` units: the lengths move
    // and the table becomes linear. False (nothing changed) when the range or length is invalid
    // in either text.
    bool applyUserEdit(text::Utf16Range range, std::int64_t replacementLength);
    // The canonical text of `range` was replaced by `replacementLength` units; the visible text
    // stays. The new span spreads over the same visible span. False when refused (nothing
    // changed) or when the result breaks an invariant (the result is kept: the owner rebuilds).
    bool applying(text::Utf16Range replacement, std::int64_t replacementLength);
    // The visible text that shows canonical `range` was replaced by `replacementLength` units;
    // the canonical text stays. Same refusals and result as `applying`.
    bool applyVisibleReplacement(text::Utf16Range range, std::int64_t replacementLength);

    friend bool operator==(const QNBufferProjection&, const QNBufferProjection&) = default;
};

// `deletion` stands for the delete case (a C++ keyword).
enum class QNUserEditKind { insert, deletion, replace, pasteInsert, imeCommit };

struct QNUserEdit {
    text::Utf16Range range;      // the replaced range, in the text before the edit
    std::u16string replacement;  // empty for a deletion
    QNUserEditKind kind = QNUserEditKind::insert;
    Instant timestamp{};

    friend bool operator==(const QNUserEdit&, const QNUserEdit&) = default;
};

// Typing in the Composer, or correcting a text seeded from another application as a whole.
enum class QNComposerCorrectionPolicy { liveTyping, existingText };

class QNCorrectionBuffers {
  public:
    std::u16string authoredText;
    std::u16string canonicalText;
    std::int64_t revision = 0;  // user edits recorded since the last reset
    std::vector<QNUserEdit> edits;
    QNBufferProjection projection;

    // Both texts become `text`, no edits, a linear projection over its length.
    void reset(std::u16string text);
    // Applies the edit to both texts; false, changing nothing, when either refuses the range.
    bool recordUserEdit(const QNUserEdit& edit);
    // A correction of canonical `range` by `text` was written to the view, which now shows
    // `visibleText`: the projection follows, or is rebuilt linearly when it cannot.
    void applyReplacement(text::Utf16Range range, std::u16string_view text,
                          std::u16string_view visibleText);
    // The linear projection between the canonical text and a visible text of `visibleLength`.
    void rebuildProjection(std::int64_t visibleLength);
};

}  // namespace ravlin
