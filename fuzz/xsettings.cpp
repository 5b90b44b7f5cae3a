// The XSETTINGS reader on arbitrary property data: another program's bytes.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <span>
#include <string_view>

#include "platform/linux/desktop/xsettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)ravlin::platform::xsettings::integer(bytes, "Net/EnableAnimations");
    // A name that may sit inside the data itself.
    if (size > 16) {
        const std::string_view name(reinterpret_cast<const char*>(data) + 16,
                                    std::min<std::size_t>(size - 16, 24));
        (void)ravlin::platform::xsettings::integer(bytes, name);
    }
    return 0;
}
