#include "platform/linux/clipboard/incr_transfers.h"

#include <algorithm>
#include <cstdint>

namespace ravlin::platform::x11 {
namespace {

using namespace std::chrono_literals;

// An INCR answer that the requestor stops taking is dropped after this long.
constexpr auto transferIdleLimit = 5s;
// INCR answers in progress, for one requestor and in all: a request beyond takes the place of the
// one that has waited longest for its requestor's next step.
constexpr std::size_t maxTransfersPerRequestor = 64;
constexpr std::size_t maxTransfers = 256;
// Answers larger than this go in INCR steps of this size.
constexpr std::size_t preferredChunk = 256 * 1024;

}  // namespace

IncrTransfers::IncrTransfers(SelectionConnection& connection)
    : connection_(connection), c_(connection.xcb()), chunk_(preferredChunk) {
    const std::size_t maxRequest = std::size_t{xcb_get_maximum_request_length(c_)} * 4;
    if (maxRequest > 4096) {
        chunk_ = std::min(preferredChunk, (maxRequest - 1024) & ~std::size_t{3});
    }
}

bool IncrTransfers::send(const std::shared_ptr<const SelectionData>& data, std::size_t index,
                         xcb_atom_t type, xcb_window_t requestor, xcb_atom_t property) {
    const auto& value = data->values[index];
    const std::size_t unit = value.format / 8;
    if (value.bytes.size() <= chunk_) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, type, value.format,
                            static_cast<std::uint32_t>(value.bytes.size() / unit),
                            value.bytes.data());
        return true;
    }
    std::erase_if(transfers_, [&](const Transfer& transfer) {
        return transfer.requestor == requestor && transfer.property == property;
    });
    const auto stalledLongest = [&](bool sameRequestor) {
        auto oldest = transfers_.end();
        for (auto transfer = transfers_.begin(); transfer != transfers_.end(); ++transfer) {
            if ((!sameRequestor || transfer->requestor == requestor) &&
                (oldest == transfers_.end() || transfer->lastActivity < oldest->lastActivity)) {
                oldest = transfer;
            }
        }
        return oldest;
    };
    if (static_cast<std::size_t>(std::ranges::count(transfers_, requestor, &Transfer::requestor)) >=
        maxTransfersPerRequestor) {
        drop(stalledLongest(true), "requestor-cap");
    } else if (transfers_.size() >= maxTransfers) {
        drop(stalledLongest(false), "cap");
    }
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &events);
    const auto announced =
        static_cast<std::uint32_t>(std::min<std::size_t>(value.bytes.size(), UINT32_MAX));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, connection_.atom("INCR"),
                        32, 1, &announced);
    transfers_.push_back(Transfer{requestor, property, data, index, type, 0, false, Clock::now()});
    return true;
}

void IncrTransfers::onPropertyDeleted(xcb_window_t window, xcb_atom_t property) {
    const auto transfer = std::ranges::find_if(transfers_, [&](const Transfer& candidate) {
        return candidate.requestor == window && candidate.property == property;
    });
    if (transfer == transfers_.end()) {
        return;
    }
    if (transfer->finished) {
        // The requestor took the closing empty step.
        transfers_.erase(transfer);
        forgetRequestor(window);
        return;
    }
    const auto& value = transfer->data->values[transfer->value];
    const std::size_t unit = value.format / 8;
    const std::size_t left = value.bytes.size() - transfer->offset;
    const std::size_t step = std::min(left, chunk_) / unit * unit;
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, property, transfer->type, value.format,
                        static_cast<std::uint32_t>(step / unit),
                        value.bytes.data() + transfer->offset);
    transfer->offset += step;
    transfer->finished = step == 0;
    transfer->lastActivity = Clock::now();
}

void IncrTransfers::drop(std::vector<Transfer>::iterator transfer, const char* why) {
    const xcb_window_t requestor = transfer->requestor;
    if (onTrouble) {
        onTrouble(std::string("incr_answer_dropped reason=") + why + " sent=" +
                  std::to_string(transfer->offset) + " of=" +
                  std::to_string(transfer->data->values[transfer->value].bytes.size()));
    }
    transfers_.erase(transfer);
    forgetRequestor(requestor);
}

void IncrTransfers::forgetRequestor(xcb_window_t requestor) {
    // Stop hearing of the property changes of a requestor we no longer send to.
    if (std::ranges::none_of(transfers_, [&](const Transfer& transfer) {
            return transfer.requestor == requestor;
        })) {
        const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &none);
    }
}

std::optional<Clock::time_point> IncrTransfers::nextDeadline() const {
    std::optional<Clock::time_point> due;
    for (const auto& transfer : transfers_) {
        const auto at = transfer.lastActivity + transferIdleLimit;
        if (!due || at < *due) {
            due = at;
        }
    }
    return due;
}

void IncrTransfers::expire(Clock::time_point now) {
    for (auto transfer = transfers_.begin(); transfer != transfers_.end();) {
        if (now - transfer->lastActivity >= transferIdleLimit) {
            drop(transfer, "requestor-stalled");
            transfer = transfers_.begin();
        } else {
            ++transfer;
        }
    }
}

}  // namespace ravlin::platform::x11
