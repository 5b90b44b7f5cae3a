#pragma once

// Substring search over UTF-16 code units in time linear in the text plus the needle
// (Knuth-Morris-Pratt), whatever the text holds: other applications' text and model replies can
// be built to make a naive search quadratic.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace ravlin::text {

// The offset of the first occurrence of `needle` that `accept(offset)` takes, trying every
// occurrence in order, overlapping ones included; nothing when none is taken. An empty needle
// occurs at 0 only.
template <class Accept>
[[nodiscard]] std::optional<std::size_t> findFirstAccepted(std::u16string_view text,
                                                           std::u16string_view needle,
                                                           Accept accept) {
    if (needle.empty()) {
        return accept(std::size_t{0}) ? std::optional<std::size_t>(0) : std::nullopt;
    }
    if (needle.size() > text.size()) {
        return std::nullopt;
    }
    // border[i]: the length of the longest proper prefix of needle[0...i] that is also its suffix.
    std::vector<std::size_t> border(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) {
            k = border[k - 1];
        }
        if (needle[i] == needle[k]) {
            ++k;
        }
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < text.size(); ++i) {
        while (k > 0 && text[i] != needle[k]) {
            k = border[k - 1];
        }
        if (text[i] == needle[k]) {
            ++k;
        }
        if (k == needle.size()) {
            const std::size_t at = i + 1 - needle.size();
            if (accept(at)) {
                return at;
            }
            k = border[k - 1];
        }
    }
    return std::nullopt;
}

// The offset of the first occurrence of `needle` in `text`.
[[nodiscard]] inline std::optional<std::size_t> findFirst(std::u16string_view text,
                                                          std::u16string_view needle) {
    return findFirstAccepted(text, needle, [](std::size_t) { return true; });
}

}  // namespace ravlin::text
