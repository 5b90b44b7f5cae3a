#pragma once

// Which X client made a request. Every connection is given a resource base and mask when it
// connects, and every id it creates (its windows among them) is its base with some of the mask's
// bits: so a window's client is told by the id's bits outside the mask, which the server keeps
// the same for all its clients. Where the X Resource extension answers, the client's process is
// told too, so that two connections of one program are one requestor.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace ravlin::platform::x11 {

struct ClientIdentity {
    std::uint32_t base = 0;          // the client's resource base
    std::optional<std::int32_t> pid;  // its process, where the X Resource extension tells

    friend bool operator==(const ClientIdentity&, const ClientIdentity&) = default;
};

class ClientIdentities {
  public:
    // Asks once whether the server has the X Resource extension.
    explicit ClientIdentities(xcb_connection_t* connection);

    // The base of the client that created `id` (the id without the per-client bits).
    [[nodiscard]] std::uint32_t baseOf(std::uint32_t id) const { return id & ~mask_; }
    // The client of `window`: its base, and its process where the server says (one round trip,
    // on the connection's own thread).
    [[nodiscard]] ClientIdentity of(xcb_window_t window) const;
    // The client of the active window (_NET_ACTIVE_WINDOW, as the window manager sets it); none
    // when there is none (two round trips).
    [[nodiscard]] std::optional<ClientIdentity> active() const;

  private:
    xcb_connection_t* c_;
    std::uint32_t mask_;
    bool resourceExtension_ = false;
};

// Whether `requestor` is the client whose base is `targetBase` (it made the target's window), or
// another connection of the target's process `targetPid`.
[[nodiscard]] bool isClientOf(const ClientIdentity& requestor,
                              std::optional<std::uint32_t> targetBase, std::int32_t targetPid);

}  // namespace ravlin::platform::x11
