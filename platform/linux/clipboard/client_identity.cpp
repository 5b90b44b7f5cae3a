#include "platform/linux/clipboard/client_identity.h"

#include <xcb/res.h>

#include "platform/linux/clipboard/selection_connection.h"

namespace ravlin::platform::x11 {

ClientIdentities::ClientIdentities(xcb_connection_t* connection)
    : c_(connection), mask_(xcb_get_setup(connection)->resource_id_mask) {
    if (const auto* extension = xcb_get_extension_data(c_, &xcb_res_id);
        extension != nullptr && extension->present != 0) {
        Reply<xcb_res_query_version_reply_t> version(xcb_res_query_version_reply(
            c_, xcb_res_query_version(c_, XCB_RES_MAJOR_VERSION, XCB_RES_MINOR_VERSION), nullptr));
        // Client ids (the process) came with version 1.2.
        resourceExtension_ =
            version && (version->server_major > 1 ||
                        (version->server_major == 1 && version->server_minor >= 2));
    }
}

ClientIdentity ClientIdentities::of(xcb_window_t window) const {
    ClientIdentity identity{baseOf(window), std::nullopt};
    if (!resourceExtension_) {
        return identity;
    }
    xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    Reply<xcb_res_query_client_ids_reply_t> reply(
        xcb_res_query_client_ids_reply(c_, xcb_res_query_client_ids(c_, 1, &spec), nullptr));
    if (!reply) {
        return identity;
    }
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
         xcb_res_client_id_value_next(&ids)) {
        if ((ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(ids.data) == 1) {
            identity.pid =
                static_cast<std::int32_t>(*xcb_res_client_id_value_value(ids.data));
            break;
        }
    }
    return identity;
}

std::optional<ClientIdentity> ClientIdentities::active() const {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    constexpr char name[] = "_NET_ACTIVE_WINDOW";
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 1, sizeof name - 1, name), nullptr));
    if (!atom || atom->atom == XCB_NONE) {
        return std::nullopt;
    }
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 4) {
        return std::nullopt;
    }
    const auto window = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    if (window == XCB_NONE) {
        return std::nullopt;
    }
    return of(window);
}

bool isClientOf(const ClientIdentity& requestor, std::optional<std::uint32_t> targetBase,
                std::int32_t targetPid) {
    return (targetBase && requestor.base == *targetBase) ||
           (requestor.pid && targetPid > 0 && *requestor.pid == targetPid);
}

}  // namespace ravlin::platform::x11
