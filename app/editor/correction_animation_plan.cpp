#include "app/editor/correction_animation_plan.h"

#include <algorithm>

#include "core/text/unicode.h"

namespace ravlin::editor {
namespace {

std::int64_t units(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

// The edits of the Levenshtein walk over a[a0, a1) and b[b0, b1); `offsets` are the old
// elements' positions. Produced from the end towards the start.
std::optional<std::vector<QNEditOp>> diffMiddle(const std::vector<std::u16string>& a,
                                                const std::vector<std::u16string>& b,
                                                const std::vector<std::int64_t>& offsets,
                                                std::size_t a0, std::size_t a1, std::size_t b0,
                                                std::size_t b1) {
    const std::size_t i = a1 - a0;
    const std::size_t j = b1 - b0;
    std::vector<QNEditOp> out;
    if (i == 0) {
        for (std::size_t y = b0; y < b1; ++y) {
            out.push_back(QNEditOp::insert(offsets[a0], b[y]));
        }
        std::reverse(out.begin(), out.end());
        return out;
    }
    if (j == 0) {
        for (std::size_t x = a1; x > a0; --x) {
            out.push_back(QNEditOp::delete_(offsets[x - 1], units(a[x - 1])));
        }
        return out;
    }
    if (static_cast<std::uint64_t>(i + 1) * static_cast<std::uint64_t>(j + 1) >
        kMaxDiffTableCells) {
        return std::nullopt;
    }
    const std::size_t width = j + 1;
    std::vector<std::int32_t> d((i + 1) * width);
    const auto at = [&](std::size_t x, std::size_t y) -> std::int32_t& { return d[x * width + y]; };
    for (std::size_t x = 0; x <= i; ++x) {
        at(x, 0) = static_cast<std::int32_t>(x);
    }
    for (std::size_t y = 0; y <= j; ++y) {
        at(0, y) = static_cast<std::int32_t>(y);
    }
    for (std::size_t x = 1; x <= i; ++x) {
        for (std::size_t y = 1; y <= j; ++y) {
            if (a[a0 + x - 1] == b[b0 + y - 1]) {
                at(x, y) = at(x - 1, y - 1);
            } else {
                at(x, y) = 1 + std::min({at(x - 1, y - 1), at(x - 1, y), at(x, y - 1)});
            }
        }
    }
    std::size_t x = i;
    std::size_t y = j;
    while (x > 0) {
        const std::u16string& old = a[a0 + x - 1];
        if (y > 0 && old == b[b0 + y - 1]) {
            --x;
            --y;
        } else if (y > 0 && at(x, y) == at(x - 1, y - 1) + 1) {
            out.push_back(QNEditOp::substitute(offsets[a0 + x - 1], units(old), b[b0 + y - 1]));
            --x;
            --y;
        } else if (y > 0 && at(x, y) == at(x, y - 1) + 1) {
            out.push_back(QNEditOp::insert(offsets[a0 + x], b[b0 + y - 1]));
            --y;
        } else {
            out.push_back(QNEditOp::delete_(offsets[a0 + x - 1], units(old)));
            --x;
        }
    }
    for (; y > 0; --y) {
        out.push_back(QNEditOp::insert(offsets[a0], b[b0 + y - 1]));
    }
    return out;
}

}  // namespace

std::optional<text::Utf16Range> changedRange(std::u16string_view from, std::u16string_view to) {
    if (from == to || to.empty()) {
        return std::nullopt;
    }
    const std::int64_t n = units(from);
    const std::int64_t m = units(to);
    std::int64_t p = 0;
    while (p < n && p < m && from[p] == to[p]) {
        ++p;
    }
    const std::int64_t limit = std::min(n - p, m - p);
    std::int64_t t = 0;
    while (t < limit && from[n - 1 - t] == to[m - 1 - t]) {
        ++t;
    }
    const std::int64_t changed = m - p - t;
    if (changed > 0) {
        return text::Utf16Range{p, changed};
    }
    return text::Utf16Range{std::min(p, m - 1), 1};
}

std::vector<std::u16string> characters(std::u16string_view text) {
    std::vector<std::u16string> out;
    const std::vector<std::int64_t> bounds = text::characterBoundaries(text);
    out.reserve(bounds.size());
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        out.emplace_back(text.substr(static_cast<std::size_t>(bounds[k]),
                                     static_cast<std::size_t>(bounds[k + 1] - bounds[k])));
    }
    return out;
}

std::vector<std::u16string> tokenize(std::u16string_view text) {
    std::vector<std::u16string> out;
    const std::vector<std::int64_t> bounds = text::characterBoundaries(text);
    std::u16string current;
    bool currentIsSpace = false;
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        const auto start = static_cast<std::size_t>(bounds[k]);
        const auto length = static_cast<std::size_t>(bounds[k + 1] - bounds[k]);
        const bool space = text::isWhitespaceOrNewline(text::codePointAt(text, bounds[k]));
        if (space != currentIsSpace && !current.empty()) {
            out.push_back(std::move(current));
            current.clear();
        }
        currentIsSpace = space;
        current.append(text.substr(start, length));
    }
    if (!current.empty()) {
        out.push_back(std::move(current));
    }
    return out;
}

std::optional<std::vector<QNEditOp>> editOperations(const std::vector<std::u16string>& a,
                                                    const std::vector<std::u16string>& b) {
    std::vector<std::int64_t> offsets(a.size() + 1, 0);
    for (std::size_t k = 0; k < a.size(); ++k) {
        offsets[k + 1] = offsets[k] + units(a[k]);
    }
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    std::size_t tail = 0;
    const std::size_t limit = std::min(a.size(), b.size()) - head;
    while (tail < limit && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    auto ops = diffMiddle(a, b, offsets, head, a.size() - tail, head, b.size() - tail);
    if (ops) {
        std::reverse(ops->begin(), ops->end());
    }
    return ops;
}

std::chrono::milliseconds pauseBetweenSteps(std::size_t operations, int durationMilliseconds,
                                            int maxStepMilliseconds) {
    using std::chrono::milliseconds;
    if (operations <= 1) {
        return milliseconds(0);
    }
    const auto share =
        static_cast<std::int64_t>(durationMilliseconds) / static_cast<std::int64_t>(operations - 1);
    if (maxStepMilliseconds < 2 || share <= 0) {
        return milliseconds(1);
    }
    return milliseconds(std::min<std::int64_t>({share, maxStepMilliseconds, 20}));
}

QNCorrectionApplyForm chooseApplyForm(std::optional<text::Utf16Range> changed, std::int64_t n,
                                      std::int64_t m) {
    if (changed && changed->length >= kWholeReplacementRun) {
        return QNCorrectionApplyForm::wholeReplacement;
    }
    if ((!changed || changed->length <= kCharacterDiffRun) &&
        std::max(n, m) <= kCharacterDiffLength) {
        return QNCorrectionApplyForm::characterDiff;
    }
    return QNCorrectionApplyForm::tokenDiff;
}

QNCorrectionApplyPlan planCorrectionApply(std::u16string_view from, std::u16string_view to) {
    const QNCorrectionApplyForm form =
        chooseApplyForm(changedRange(from, to), units(from), units(to));
    if (form == QNCorrectionApplyForm::wholeReplacement) {
        return {true, {}};
    }
    const bool byCharacters = form == QNCorrectionApplyForm::characterDiff;
    auto ops = byCharacters ? editOperations(characters(from), characters(to))
                            : editOperations(tokenize(from), tokenize(to));
    if (!ops) {
        return {true, {}};
    }
    return {false, std::move(*ops)};
}

}  // namespace ravlin::editor
