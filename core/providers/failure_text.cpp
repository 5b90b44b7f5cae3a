#include "core/providers/failure_text.h"

#include <unicode/uchar.h>

#include "core/text/unicode.h"

namespace ravlin {

std::u16string failureLine(std::string_view message) {
    const std::u16string source = text::toUtf16(message);
    const auto length = static_cast<std::int64_t>(source.size());
    std::u16string line;
    line.reserve(source.size());
    std::int64_t index = 0;
    while (index < length) {
        const char32_t codePoint = text::codePointAt(source, index);
        index += codePoint > 0xFFFF ? 2 : 1;
        if (codePoint == 0x1B && index < length && source[index] == u'[') {
            ++index;
            while (index < length) {
                const char16_t unit = source[index++];
                if (unit >= 64 && unit <= 126) {
                    break;
                }
            }
            continue;
        }
        if (text::isWhitespaceOrNewline(codePoint) || u_charType(codePoint) == U_CONTROL_CHAR) {
            if (!line.empty() && line.back() != u' ') {
                line.push_back(u' ');
            }
            continue;
        }
        if (codePoint > 0xFFFF) {
            line.push_back(source[index - 2]);
            line.push_back(source[index - 1]);
        } else {
            line.push_back(static_cast<char16_t>(codePoint));
        }
    }
    return text::trimmed(line);
}

std::string shortenedFailureLine(std::u16string_view line) {
    if (text::characterCount(line) <= kFailureTextCharacters) {
        return text::toUtf8(line);
    }
    return text::toUtf8(text::trimmed(text::prefixCharacters(line, kFailureTextCharacters))) +
           "...";
}

std::string condensedFailureText(std::string_view message) {
    return shortenedFailureLine(failureLine(message));
}

}  // namespace ravlin
