#pragma once

// The one UTF-16 -> UTF-8 encoder, written over a byte sink so that callers can convert into a
// string or consume the bytes directly (hashing) without a temporary copy. A lone surrogate is
// encoded as U+FFFD.

#include <cstdint>
#include <string_view>

namespace ravlin::text::detail {

template <class ByteSink>
void encodeUtf8(std::u16string_view utf16, ByteSink&& sink) {
    const std::size_t size = utf16.size();
    std::size_t i = 0;
    while (i < size) {
        char32_t codePoint = utf16[i];
        if (codePoint < 0x80) {
            sink(static_cast<std::uint8_t>(codePoint));
            ++i;
            continue;
        }
        const bool lead = codePoint >= 0xd800 && codePoint <= 0xdbff;
        if (lead && i + 1 < size && utf16[i + 1] >= 0xdc00 && utf16[i + 1] <= 0xdfff) {
            codePoint = 0x10000 + ((codePoint - 0xd800) << 10) + (utf16[i + 1] - 0xdc00);
            i += 2;
        } else {
            if (codePoint >= 0xd800 && codePoint <= 0xdfff) {
                codePoint = 0xfffd;
            }
            ++i;
        }
        if (codePoint < 0x800) {
            sink(static_cast<std::uint8_t>(0xc0 | (codePoint >> 6)));
            sink(static_cast<std::uint8_t>(0x80 | (codePoint & 0x3f)));
        } else if (codePoint < 0x10000) {
            sink(static_cast<std::uint8_t>(0xe0 | (codePoint >> 12)));
            sink(static_cast<std::uint8_t>(0x80 | ((codePoint >> 6) & 0x3f)));
            sink(static_cast<std::uint8_t>(0x80 | (codePoint & 0x3f)));
        } else {
            sink(static_cast<std::uint8_t>(0xf0 | (codePoint >> 18)));
            sink(static_cast<std::uint8_t>(0x80 | ((codePoint >> 12) & 0x3f)));
            sink(static_cast<std::uint8_t>(0x80 | ((codePoint >> 6) & 0x3f)));
            sink(static_cast<std::uint8_t>(0x80 | (codePoint & 0x3f)));
        }
    }
}

}  // namespace ravlin::text::detail
