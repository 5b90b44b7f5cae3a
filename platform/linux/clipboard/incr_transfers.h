#pragma once

// Our answers to a requestor, as ICCCM's owner writes them: one property when the value fits in
// a request, else INCR: we announce the size under the type INCR, and write each step once the
// requestor has deleted the last (it deletes the announcement first), then an empty step. The
// steps in progress are bounded, for one requestor and in all, and one the requestor stops
// taking is dropped after a while; when the bounds are reached, the answer that has waited
// longest for its requestor gives way to the new one. Runs on the pump's thread.

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "platform/linux/clipboard/selection_connection.h"
#include "platform/linux/clipboard/selection_data.h"

namespace ravlin::platform::x11 {

class IncrTransfers {
  public:
    explicit IncrTransfers(SelectionConnection& connection);

    // Writes value `index` of `data` (with the property type `type`) into `property` of
    // `requestor`, whole or as the start of an INCR answer; false when it cannot be sent.
    bool send(const std::shared_ptr<const SelectionData>& data, std::size_t index,
              xcb_atom_t type, xcb_window_t requestor, xcb_atom_t property);
    // A requestor's property was deleted: the next step of its answer, if one is in progress.
    void onPropertyDeleted(xcb_window_t window, xcb_atom_t property);

    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;
    void expire(Clock::time_point now);
    [[nodiscard]] std::size_t inProgress() const { return transfers_.size(); }

    // What went wrong (Selections::onTrouble).
    std::function<void(std::string)> onTrouble;

  private:
    struct Transfer {
        xcb_window_t requestor = XCB_NONE;
        xcb_atom_t property = XCB_NONE;
        std::shared_ptr<const SelectionData> data;
        std::size_t value = 0;
        xcb_atom_t type = XCB_NONE;
        std::size_t offset = 0;
        bool finished = false;
        Clock::time_point lastActivity;
    };
    void drop(std::vector<Transfer>::iterator transfer, const char* why);
    void forgetRequestor(xcb_window_t requestor);

    SelectionConnection& connection_;
    xcb_connection_t* c_;
    std::size_t chunk_;
    std::vector<Transfer> transfers_;
};

}  // namespace ravlin::platform::x11
