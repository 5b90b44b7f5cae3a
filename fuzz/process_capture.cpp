// Arbitrary output through the bounded captures of a child's streams, cut into arbitrary
// chunks: the kept bytes never exceed the cap (plus the marker), the head and tail are the
// stream's own first and last bytes, and the text is well-formed UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/process/output_capture.h"
#include "core/text/unicode.h"

using namespace ravlin::process;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::int64_t cap = static_cast<std::int8_t>(data[0]);  // -128..127, small caps matter
    const std::size_t chunk = 1 + data[1] % 17;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    PrefixCapture prefix(cap);
    HeadTailCapture headTail(cap);
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        prefix.consume(stream.substr(at, chunk));
        headTail.consume(stream.substr(at, chunk));
    }
    const std::size_t limit = cap > 0 ? static_cast<std::size_t>(cap) : 0;
    check(prefix.bytes() == stream.substr(0, limit));

    const std::string kept = headTail.bytes();
    const std::int64_t dropped = headTail.truncatedByteCount();
    if (limit == 0) {
        check(kept.empty() && dropped == 0);
    } else if (dropped == 0) {
        check(kept == stream);
    } else {
        const std::size_t head = limit >= 2 ? limit / 2 : limit;
        const std::size_t tail = limit - head;
        check(static_cast<std::size_t>(dropped) == stream.size() - head - tail);
        const std::string marker = "\n...[truncated " + std::to_string(dropped) + " bytes]...\n";
        check(kept == std::string(stream.substr(0, head)) + marker +
                          std::string(stream.substr(stream.size() - tail)));
    }
    const std::string text = headTail.text();
    check(ravlin::text::toUtf8(ravlin::text::toUtf16(text)) == text);
    return 0;
}
