#pragma once

// Text equality for records: canonical equivalence, so a text and its canonically equivalent
// rewrite (composed or decomposed accents) compare equal.

#include <optional>
#include <string>
#include <string_view>

#include "core/text/unicode.h"

namespace ravlin::records {

[[nodiscard]] inline bool sameText(std::u16string_view a, std::u16string_view b) {
    return a == b || text::canonicallyEqual(a, b);
}

[[nodiscard]] inline bool sameText(std::string_view a, std::string_view b) {
    return a == b || text::canonicallyEqual(a, b);
}

template <class Text>
[[nodiscard]] bool sameOptionalText(const std::optional<Text>& a, const std::optional<Text>& b) {
    if (!a || !b) {
        return !a && !b;
    }
    return sameText(*a, *b);
}

}  // namespace ravlin::records
