// The keeper's readers of what the program sends it: the messages as they come in pieces, and
// the contents handed over in them. Never crash, never take more than the caps, and what they
// accept encodes back to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/linux/clipboard/keeper_protocol.h"
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
    // The same bytes as a stream of messages, fed in pieces of 7.
    KeeperFrameReader frames(maxHandOffBytes(limits));
    std::size_t framed = 0;
    for (std::size_t at = 0; at < size; at += 7) {
        frames.feed(std::span(data + at, std::min<std::size_t>(7, size - at)));
        while (const auto frame = frames.next()) {
            const auto again = encodeFrame(frame->kind, frame->payload);
            if (framed + again.size() > size ||
                !std::equal(again.begin(), again.end(), data + framed)) {
                std::abort();
            }
            framed += again.size();
            (void)decodeTake(frame->payload);
            (void)decodeMoment(frame->payload);
        }
    }
    return 0;
}
