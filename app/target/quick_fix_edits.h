#pragma once

// A Quick Fix written back change by change, for a field whose formatting a plain text pasted over
// the whole of it would lose (a web mail's message: its paragraphs, its bold and italic words).
// Only what the correction changed is replaced: words compared as wholes, then each change cut
// down to the characters that differ ("recieve" -> "receive" replaces "ie" by "ei"), each range
// selected alone in the field and typed over. Where that cannot be done safely (the field
// changed since the capture, a change would take in a line break between paragraphs or run
// over two parts of the field, a range cannot be selected) nothing is written at all, and a
// change that does not come out exactly takes back those written before it.

#include <qcoro/qcorotask.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/target/position_map.h"
#include "app/target/quick_fix_host.h"
#include "core/text/range.h"

namespace ravlin {

// The changes that make `corrected` of `original`, in order of place, as above; none when the
// texts are equal. Nothing when they differ in more than `maxSteps` words and separators (too
// different to be changed piece by piece).
inline constexpr std::size_t maxEditSteps = 512;
[[nodiscard]] std::optional<std::vector<QNTextEdit>> textEdits(std::u16string_view original,
                                                               std::u16string_view corrected,
                                                               std::size_t maxSteps = maxEditSteps);

// The commit of a session whose strategy is `changedText`, the target in front already: the
// edits written into the field's text where the session's range stands, last first; the field's
// caret and selection put back where they were (mapped through the edits). `committed` with
// method `typed`; `failed` with `restoreTargetSelection` when the field reads as it was (nothing
// written, or what was written taken back because a change did not come out exactly, the
// take-back typed again where it did not come out either); `partial` when it reads otherwise,
// or can no longer be read, or a key the person typed meanwhile stands where the write would
// have to type over it (the key stays): the field may hold part of a change. Only what the
// write typed itself is ever typed over.
[[nodiscard]] QCoro::Task<QNQuickFixCommitResult> commitChangedText(
    QNQuickFixHostSession session, std::u16string correctedText,
    std::shared_ptr<QNQuickFixHostDriver> driver, std::stop_token stop);

}  // namespace ravlin
