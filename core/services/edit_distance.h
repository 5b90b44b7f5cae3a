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
// string alignment): "teh" is one edit from "the", as a typist sees it. Three rows.
template <class Sequence>
std::int64_t transposingEditDistance(const Sequence& a, const Sequence& b, std::int64_t maximum) {
    const auto n = static_cast<std::int64_t>(a.size());
    const auto m = static_cast<std::int64_t>(b.size());
    if (std::abs(n - m) > maximum) {
        return maximum + 1;
    }
    std::vector<std::int64_t> rows(3 * (static_cast<std::size_t>(m) + 1));
    std::int64_t* before = rows.data();
    std::int64_t* previous = before + m + 1;
    std::int64_t* current = previous + m + 1;
    for (std::int64_t j = 0; j <= m; ++j) {
        previous[j] = j;
    }
    const auto at = [](const Sequence& s, std::int64_t i) { return s[static_cast<std::size_t>(i)]; };
    for (std::int64_t i = 1; i <= n; ++i) {
        current[0] = i;
        std::int64_t rowMinimum = i;
        for (std::int64_t j = 1; j <= m; ++j) {
            const bool same = at(a, i - 1) == at(b, j - 1);
            std::int64_t cell =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && at(a, i - 1) == at(b, j - 2) && at(a, i - 2) == at(b, j - 1)) {
                cell = std::min(cell, before[j - 2] + 1);
            }
            current[j] = cell;
            rowMinimum = std::min(rowMinimum, cell);
        }
        if (rowMinimum > maximum) {
            return maximum + 1;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return std::min(previous[m], maximum + 1);
}

}  // namespace ravlin::engine::detail
