// Arbitrary bytes as the reply of a generic correction endpoint and as a request body. Only
// decoding may throw, and only its own error; a decoded reply holds UTF-8 text, and a request
// that reads back writes back to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/providers/remote/remote_wire.h"
#include "core/records/raw_value.h"
#include "core/text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const auto reply = ravlin::QNModelRemoteCorrectionResponse::decode(bytes);
        if (!ravlin::text::isValidUtf8(reply.correctedText)) {
            std::abort();
        }
    } catch (const ravlin::DecodingError&) {
    }
    try {
        const auto request = ravlin::QNModelRemoteCorrectionRequest::decode(bytes);
        const auto encoded = request.encoded();
        if (!encoded || ravlin::QNModelRemoteCorrectionRequest::decode(*encoded) != request) {
            std::abort();
        }
    } catch (const ravlin::DecodingError&) {
    }
    if (size >= 2) {
        const int status = (data[0] | (data[1] << 8)) % 1000;
        const auto failure = ravlin::remoteCorrectionStatusFailure(status);
        if (failure.has_value() == (status >= 200 && status <= 299)) {
            std::abort();
        }
    }
    return 0;
}
