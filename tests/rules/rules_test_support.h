#pragma once

#include <string>
#include <string_view>

#include "core/text/unicode.h"

namespace ravlin::rules_test {

// Test texts are written as UTF-8 literals.
inline std::u16string u16(std::string_view utf8) {
    return text::toUtf16(utf8);
}
inline std::string u8(std::u16string_view utf16) {
    return text::toUtf8(utf16);
}

}  // namespace ravlin::rules_test
