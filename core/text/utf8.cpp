#include "core/text/utf8.h"

#include <cstdint>
#include <cstring>

#include "core/text/unicode.h"

namespace ravlin::text {
namespace {

// Length of the sequence a lead byte starts, or 0 for a byte that cannot lead.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Allowed range of the second byte after a given lead byte (the first continuation byte is
// narrowed for E0, ED, F0 and F4; every other continuation byte is 80..BF).
void secondByteRange(unsigned char lead, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (lead == 0xE0) {
        low = 0xA0;
    } else if (lead == 0xED) {
        high = 0x9F;
    } else if (lead == 0xF0) {
        low = 0x90;
    } else if (lead == 0xF4) {
        high = 0x8F;
    }
}

// Decodes the code point starting at `i`; returns its length, or 0 when ill-formed.
int decodeAt(std::string_view s, std::size_t i, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const int length = sequenceLength(lead);
    if (length == 0 || i + static_cast<std::size_t>(length) > s.size()) {
        return 0;
    }
    if (length == 1) {
        codePoint = lead;
        return 1;
    }
    unsigned char low = 0;
    unsigned char high = 0;
    secondByteRange(lead, low, high);
    char32_t value = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        const unsigned char lo = k == 1 ? low : 0x80;
        const unsigned char hi = k == 1 ? high : 0xBF;
        if (byte < lo || byte > hi) {
            return 0;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    codePoint = value;
    return length;
}

// Start of the code point that ends at `end` (exclusive), skipping back over continuation bytes.
std::size_t codePointStartBefore(std::string_view s, std::size_t end) {
    std::size_t start = end - 1;
    int steps = 0;
    while (start > 0 && steps < 3 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
        --start;
        ++steps;
    }
    return start;
}

template <class Predicate>
std::string_view trimmedWith(std::string_view s, Predicate isTrimmed) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        const auto byte = static_cast<unsigned char>(s[begin]);
        if (byte < 0x80) {
            if (!isTrimmed(static_cast<char32_t>(byte))) {
                break;
            }
            ++begin;
            continue;
        }
        char32_t codePoint = 0;
        const int length = decodeAt(s, begin, codePoint);
        if (length == 0 || !isTrimmed(codePoint)) {
            break;
        }
        begin += static_cast<std::size_t>(length);
    }
    std::size_t end = s.size();
    while (end > begin) {
        const auto byte = static_cast<unsigned char>(s[end - 1]);
        if (byte < 0x80) {
            if (!isTrimmed(static_cast<char32_t>(byte))) {
                break;
            }
            --end;
            continue;
        }
        const std::size_t start = codePointStartBefore(s, end);
        char32_t codePoint = 0;
        const int length = decodeAt(s, start, codePoint);
        if (length == 0 || start + static_cast<std::size_t>(length) != end || start < begin ||
            !isTrimmed(codePoint)) {
            break;
        }
        end = start;
    }
    return s.substr(begin, end - begin);
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        // ASCII runs eight bytes at a time.
        while (i + 8 <= size) {
            std::uint64_t word = 0;
            std::memcpy(&word, data + i, 8);
            if ((word & 0x8080808080808080ULL) != 0) {
                break;
            }
            i += 8;
        }
        if (i >= size) {
            break;
        }
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const int length = decodeAt(bytes, i, codePoint);
        if (length == 0) {
            return false;
        }
        i += static_cast<std::size_t>(length);
    }
    return true;
}

std::string_view droppingIncompleteTrailingSequence(std::string_view bytes) {
    if (bytes.empty()) {
        return bytes;
    }
    // A cut sequence has at most three bytes: its lead and up to two continuation bytes.
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const std::size_t start = size - back;
        const auto byte = static_cast<unsigned char>(bytes[start]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte: look further back for the lead
        }
        const int length = sequenceLength(byte);
        if (length <= 1 || static_cast<std::size_t>(length) <= back) {
            return bytes;  // ASCII, an invalid lead, or a sequence that is complete
        }
        // The bytes after the lead must be the beginning of a well-formed sequence.
        unsigned char low = 0;
        unsigned char high = 0;
        secondByteRange(byte, low, high);
        for (std::size_t k = 1; k < back; ++k) {
            const auto next = static_cast<unsigned char>(bytes[start + k]);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (next < lo || next > hi) {
                return bytes;
            }
        }
        return bytes.substr(0, start);
    }
    return bytes;
}

std::string_view trimmedWhitespaceAndNewlines(std::string_view utf8) {
    return trimmedWith(utf8, [](char32_t c) {
        if (c < 0x80) {
            return c == ' ' || (c >= 0x09 && c <= 0x0D);
        }
        return isWhitespaceOrNewline(c);
    });
}

std::string_view trimmedHorizontalWhitespace(std::string_view utf8) {
    return trimmedWith(utf8, [](char32_t c) {
        if (c < 0x80) {
            return c == ' ' || c == '\t';
        }
        return isHorizontalWhitespace(c);
    });
}

}  // namespace ravlin::text
