// The keeper's reader of the hand-off it is given on standard input: never crashes, never takes
// more than the caps, and what it accepts encodes back to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/linux/clipboard/selection_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ravlin::platform::x11;
    const SelectionLimits limits{.maxTargets = 16, .maxBytes = 4096};
    const auto handOff = decodeHandOff(std::span(data, size), limits);
    if (handOff) {
        if (handOff->data.byteCount() > limits.maxBytes ||
            handOff->data.targets.size() > limits.maxTargets) {
            std::abort();
        }
        const auto again = encodeHandOff(*handOff);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) {
            std::abort();
        }
    }
    return 0;
}
