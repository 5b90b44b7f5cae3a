#pragma once

// Levenshtein distance over any two sequences of comparable elements (code units, characters),
// two rows, giving up as soon as the distance is known to exceed a maximum.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ravlin::engine::detail {

// The distance, or `maximum` + 1 as soon as it is known to exceed `maximum` (the lengths differ
// by more, or a whole row exceeds it).
template <class Sequence>
std::int64_t editDistance(const Sequence& a, const Sequence& b, std::int64_t maximum) {
    const auto n = static_cast<std::int64_t>(a.size());
    const auto m = static_cast<std::int64_t>(b.size());
    if (std::abs(n - m) > maximum) {
        return maximum + 1;
    }
    // Two rows; short words (the common case) keep them on the stack.
    constexpr std::size_t kStackRow = 64;
    std::array<std::int64_t, 2 * kStackRow> stackRows;
    std::vector<std::int64_t> heapRows;
    std::int64_t* previous = stackRows.data();
    std::int64_t* current = stackRows.data() + kStackRow;
    if (static_cast<std::size_t>(m) + 1 > kStackRow) {
        heapRows.resize(2 * (static_cast<std::size_t>(m) + 1));
        previous = heapRows.data();
        current = heapRows.data() + m + 1;
    }
    for (std::int64_t j = 0; j <= m; ++j) {
        previous[j] = j;
    }
    for (std::int64_t i = 1; i <= n; ++i) {
        current[0] = i;
        std::int64_t rowMinimum = i;
        for (std::int64_t j = 1; j <= m; ++j) {
            const std::int64_t substitution =
                previous[j - 1] +
                (a[static_cast<std::size_t>(i - 1)] == b[static_cast<std::size_t>(j - 1)] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
            rowMinimum = std::min(rowMinimum, current[j]);
        }
        if (rowMinimum > maximum) {
            return maximum + 1;
        }
        std::swap(previous, current);
    }
    return previous[m];
}

}  // namespace ravlin::engine::detail

namespace ravlin::engine::detail {

// As editDistance, with the exchange of two neighbouring elements costing one edit (optimal
// string alignment): "teh" is one edit from "the", as a typist sees it. Only the cells within
// `maximum` of the diagonal are worked out (any other is already past it), so the cost is the
// length times the bound, however long the sequences. Gives `maximum` + 1 for any distance above.
template <class Sequence>
std::int64_t transposingEditDistance(const Sequence& a, const Sequence& b, std::int64_t maximum) {
    const auto n = static_cast<std::int64_t>(a.size());
    const auto m = static_cast<std::int64_t>(b.size());
    if (std::abs(n - m) > maximum) {
        return maximum + 1;
    }
    const std::int64_t over = maximum + 1;
    // Three rows; short words (the common case) keep them on the stack. Every cell starts past
    // the bound: the band moves one cell on with each row, so a cell beyond its right edge was
    // never written and the one just left of it is set as the row begins.
    constexpr std::size_t kStackRow = 64;
    std::array<std::int64_t, 3 * kStackRow> stackRows;
    std::vector<std::int64_t> heapRows;
    std::int64_t* rows = stackRows.data();
    const auto width = static_cast<std::size_t>(m) + 1;
    if (width > kStackRow) {
        heapRows.resize(3 * width);
        rows = heapRows.data();
    }
    std::fill(rows, rows + 3 * width, over);
    std::int64_t* before = rows;
    std::int64_t* previous = rows + width;
    std::int64_t* current = rows + 2 * width;
    for (std::int64_t j = 0; j <= std::min(m, maximum); ++j) {
        previous[j] = j;
    }
    const auto at = [](const Sequence& s, std::int64_t i) { return s[static_cast<std::size_t>(i)]; };
    for (std::int64_t i = 1; i <= n; ++i) {
        const std::int64_t low = std::max<std::int64_t>(1, i - maximum);
        const std::int64_t high = std::min(m, i + maximum);
        current[low - 1] = low == 1 ? std::min(i, over) : over;
        std::int64_t rowMinimum = current[low - 1];
        for (std::int64_t j = low; j <= high; ++j) {
            const bool same = at(a, i - 1) == at(b, j - 1);
            std::int64_t cell =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && at(a, i - 1) == at(b, j - 2) && at(a, i - 2) == at(b, j - 1)) {
                cell = std::min(cell, before[j - 2] + 1);
            }
            current[j] = std::min(cell, over);
            rowMinimum = std::min(rowMinimum, current[j]);
        }
        if (rowMinimum > maximum) {
            return over;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return std::min(previous[m], over);
}

}  // namespace ravlin::engine::detail
