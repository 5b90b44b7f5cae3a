#pragma once

// How a model's correction of the text's beginning is written as a short run of small edits: the
// changed range of the two prefixes, the elements they are diffed over (characters for short
// prefixes, whitespace and non-whitespace runs otherwise), the edit operations of that diff, the
// pause between steps, and the choice between steps and one whole replacement. No Qt here.
// Positions and lengths count UTF-16 code units; elements compare by code units.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/range.h"

namespace ravlin::editor {

// One edit of the old prefix; `at` is a position in the old prefix, not in the text as earlier
// edits left it.
struct QNEditOp {
    enum class Kind { substitute, insert, delete_ };

    Kind kind = Kind::substitute;
    std::int64_t at = 0;
    std::int64_t oldLen = 0;  // 0 for an insertion
    std::u16string newText;   // empty for a deletion

    static QNEditOp substitute(std::int64_t at, std::int64_t oldLen, std::u16string newText) {
        return {Kind::substitute, at, oldLen, std::move(newText)};
    }
    static QNEditOp insert(std::int64_t at, std::u16string newText) {
        return {Kind::insert, at, 0, std::move(newText)};
    }
    static QNEditOp delete_(std::int64_t at, std::int64_t oldLen) {
        return {Kind::delete_, at, oldLen, {}};
    }
    friend bool operator==(const QNEditOp&, const QNEditOp&) = default;
};

// Changed runs of this many units or more are written in one piece.
inline constexpr std::int64_t kWholeReplacementRun = 41;
// Changed runs of at most this many units are diffed by characters when the prefixes are short.
inline constexpr std::int64_t kCharacterDiffRun = 8;
// The longer prefix must be at most this long for a character diff.
inline constexpr std::int64_t kCharacterDiffLength = 80;
// Beyond this many cells the diff table is not filled: the correction is written whole.
inline constexpr std::uint64_t kMaxDiffTableCells = 1'000'000;

// The range in `to` that differs from `from`: none when they are equal or `to` is empty; a pure
// deletion gives the one unit (min(p, m - 1), 1).
[[nodiscard]] std::optional<text::Utf16Range> changedRange(std::u16string_view from,
                                                           std::u16string_view to);

// The runs of whitespace and non-whitespace characters; a character is whitespace when its first
// code point is. Concatenated they give back the text.
[[nodiscard]] std::vector<std::u16string> tokenize(std::u16string_view text);
// The characters (extended grapheme clusters) of the text.
[[nodiscard]] std::vector<std::u16string> characters(std::u16string_view text);

// The edits that turn the elements `a` into `b`, ascending by position; ties in the walk go to a
// match, then a substitution, an insertion, a deletion. Elements common to both ends are left out
// before the table is filled; none when the table would still exceed kMaxDiffTableCells.
[[nodiscard]] std::optional<std::vector<QNEditOp>> editOperations(
    const std::vector<std::u16string>& a, const std::vector<std::u16string>& b);

// The pause between two of `operations` steps spread over `durationMilliseconds`: none for one
// step; 1 ms when `maxStepMilliseconds` is below 2 or the share is 0; else the share capped by
// `maxStepMilliseconds` and 20 ms.
[[nodiscard]] std::chrono::milliseconds pauseBetweenSteps(std::size_t operations,
                                                          int durationMilliseconds,
                                                          int maxStepMilliseconds);

enum class QNCorrectionApplyForm { wholeReplacement, characterDiff, tokenDiff };

// The form for a changed range and prefixes of `n` and `m` units.
[[nodiscard]] QNCorrectionApplyForm chooseApplyForm(std::optional<text::Utf16Range> changed,
                                                    std::int64_t n, std::int64_t m);

// What an animated apply writes: one whole replacement, or the steps in order.
struct QNCorrectionApplyPlan {
    bool wholeReplacement = false;
    std::vector<QNEditOp> operations;
};

[[nodiscard]] QNCorrectionApplyPlan planCorrectionApply(std::u16string_view from,
                                                        std::u16string_view to);

}  // namespace ravlin::editor
