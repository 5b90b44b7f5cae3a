#include "platform/linux/clipboard/selection_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xfixes.h>

#include <algorithm>

#include "platform/linux/clipboard/selection_data.h"

namespace ravlin::platform::x11 {

std::unique_ptr<SelectionConnection> SelectionConnection::connect() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    // The pump's wake-up for posted commands: without it they would wait for an X event.
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_screen_t* screen = screens.data;
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    return std::unique_ptr<SelectionConnection>(new SelectionConnection(connection, window, wake));
}

SelectionConnection::SelectionConnection(xcb_connection_t* connection, xcb_window_t window,
                                         const int (&wake)[2])
    : c_(connection), window_(window), wake_{wake[0], wake[1]} {
    // Whoever reads the owner of a selection can tell which program serves it.
    const auto pid = static_cast<std::uint32_t>(::getpid());
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                        32, 1, &pid);
    constexpr char windowClass[] = "ravlin\0Ravlin";
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof windowClass, windowClass);
    if (const auto* extension = xcb_get_extension_data(c_, &xcb_xfixes_id);
        extension != nullptr && extension->present != 0) {
        Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            c_, xcb_xfixes_query_version(c_, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        if (version) {
            xfixes_ = true;
            xfixesFirstEvent_ = extension->first_event;
        }
    }
    timeProperty_ = atom("_RAVLIN_TIME");
}

SelectionConnection::~SelectionConnection() {
    stop();
    xcb_destroy_window(c_, window_);
    xcb_flush(c_);
    xcb_disconnect(c_);
    for (const int fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void SelectionConnection::start(Handler& handler) {
    handler_ = &handler;
    xcb_flush(c_);
    thread_ = std::thread([this] {
        run();
        std::lock_guard lock(endedMutex_);
        ended_ = true;
        endedChanged_.notify_all();
    });
}

void SelectionConnection::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (!thread_.joinable()) {
        return;
    }
    {
        // A pump waiting for a server that no longer answers would never end: its connection is
        // cut under it, so that the wait fails.
        std::unique_lock lock(endedMutex_);
        if (!endedChanged_.wait_for(lock, stopWait, [this] { return ended_; })) {
            ::shutdown(xcb_get_file_descriptor(c_), SHUT_RDWR);
        }
    }
    thread_.join();
}

void SelectionConnection::wake() {
    if (wake_[1] >= 0) {
        [[maybe_unused]] const auto written = ::write(wake_[1], "x", 1);
    }
}

void SelectionConnection::post(std::function<void()> command) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
        commandsWaiting_ = true;
    }
    wake();
}

void SelectionConnection::run() {
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                break;
            }
        }
        runCommands();
        if (connected_) {
            // Last: whatever reached xcb's queue during the round trips above is handled before
            // the wait, which only hears the socket.
            handler_->expire(Clock::now());
            drainEvents();
            xcb_flush(c_);
            if (xcb_connection_has_error(c_) != 0) {
                // The display is gone: commands go on answering (with failure) until the end.
                connected_ = false;
                handler_->disconnected();
            }
        }
        int timeout = -1;
        if (const auto due = handler_->nextDeadline(); due && connected_) {
            timeout = static_cast<int>(std::clamp<std::int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count(), 0,
                60'000));
        }
        // A flush may read what the server sent meanwhile into xcb's queue, where the wait
        // below would not hear it (a requestor would wait on us until the next wake).
        if (connected_) {
            if (xcb_generic_event_t* queued = xcb_poll_for_queued_event(c_)) {
                handle(queued);
                std::free(queued);  // NOLINT: xcb allocates with malloc
                continue;
            }
        }
        pollfd fds[2] = {{wake_[0], POLLIN, 0},
                         {connected_ ? xcb_get_file_descriptor(c_) : -1, POLLIN, 0}};
        ::poll(fds, 2, timeout);
        if ((fds[0].revents & POLLIN) != 0) {
            char drained[64];
            while (::read(wake_[0], drained, sizeof drained) > 0) {
            }
        }
    }
}

void SelectionConnection::runCommands() {
    while (true) {
        std::function<void()> command;
        {
            std::lock_guard lock(mutex_);
            if (commands_.empty()) {
                commandsWaiting_ = false;
                return;
            }
            command = std::move(commands_.front());
            commands_.pop_front();
        }
        command();
        xcb_flush(c_);
    }
}

void SelectionConnection::drainEvents() {
    // A client that floods us with requests must not hold up the commands of our own program:
    // the pump goes back to them between batches.
    constexpr int batch = 256;
    for (int handled = 0; handled < batch && !commandsWaiting_; ++handled) {
        xcb_generic_event_t* event = xcb_poll_for_event(c_);
        if (event == nullptr) {
            return;
        }
        handle(event);
        std::free(event);  // NOLINT: xcb allocates with malloc
    }
}

void SelectionConnection::drainQueued(std::uint32_t upTo) {
    // An event carries the sequence number of the last request of ours the server had taken when
    // it made it: one made before `upTo` was taken carries an earlier one.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c_)) {
        const bool last = !cameBefore(event->full_sequence, upTo);
        handle(event);
        std::free(event);  // NOLINT: xcb allocates with malloc
        if (last) {
            return;
        }
    }
}

bool SelectionConnection::waitForEvents(Clock::time_point until) {
    xcb_flush(c_);
    if (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        handle(event);
        std::free(event);  // NOLINT
        return true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0 || xcb_connection_has_error(c_) != 0) {
        return false;
    }
    pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left));
    return true;
}

void SelectionConnection::handle(xcb_generic_event_t* event) {
    if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
        const auto& change = *reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (waitingForTime_ && change.window == window_ && change.atom == timeProperty_) {
            timeSeen_ = change.time;
            return;
        }
    }
    if (handler_ != nullptr) {
        handler_->handle(*event);
    }
}

std::optional<std::uint32_t> SelectionConnection::serverTime() {
    // A property change carries the server's time: append nothing and read the event's time.
    timeSeen_.reset();
    waitingForTime_ = true;
    xcb_change_property(c_, XCB_PROP_MODE_APPEND, window_, timeProperty_, XCB_ATOM_INTEGER, 32, 0,
                        nullptr);
    const auto until = Clock::now() + serverWait;
    while (!timeSeen_ && waitForEvents(until)) {
    }
    waitingForTime_ = false;
    return timeSeen_;
}

// --- Atoms and names

xcb_atom_t SelectionConnection::atom(const std::string& name) {
    if (const auto found = atoms_.find(name); found != atoms_.end()) {
        return found->second;
    }
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    if (!reply) {
        return XCB_NONE;
    }
    atoms_.emplace(name, reply->atom);
    names_.emplace(reply->atom, name);
    return reply->atom;
}

std::vector<xcb_atom_t> SelectionConnection::atoms(const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, xcb_intern_atom_cookie_t>> asked;
    for (const auto& name : names) {
        if (!atoms_.contains(name) &&
            std::ranges::find(asked, name, &decltype(asked)::value_type::first) == asked.end()) {
            asked.emplace_back(
                name, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.data()));
        }
    }
    for (auto& [name, cookie] : asked) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c_, cookie, nullptr));
        if (reply) {
            atoms_.emplace(name, reply->atom);
            names_.emplace(reply->atom, name);
        }
    }
    std::vector<xcb_atom_t> found;
    found.reserve(names.size());
    for (const auto& name : names) {
        const auto known = atoms_.find(name);
        found.push_back(known == atoms_.end() ? XCB_NONE : known->second);
    }
    return found;
}

bool SelectionConnection::resolveNames(const std::vector<xcb_atom_t>& wanted) {
    std::vector<std::pair<xcb_atom_t, xcb_get_atom_name_cookie_t>> asked;
    for (const auto atom : wanted) {
        if (atom != XCB_NONE && !names_.contains(atom) &&
            std::ranges::find(asked, atom, &decltype(asked)::value_type::first) == asked.end()) {
            asked.emplace_back(atom, xcb_get_atom_name(c_, atom));
        }
    }
    bool all = true;
    for (auto& [atom, cookie] : asked) {
        Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c_, cookie, nullptr));
        const int length = reply ? xcb_get_atom_name_name_length(reply.get()) : -1;
        if (length < 0 || static_cast<std::size_t>(length) > maxNameBytes) {
            all = false;
            continue;
        }
        std::string name(xcb_get_atom_name_name(reply.get()), static_cast<std::size_t>(length));
        atoms_.emplace(name, atom);
        names_.emplace(atom, std::move(name));
    }
    return all;
}

std::optional<std::string> SelectionConnection::name(xcb_atom_t atom) {
    if (atom == XCB_NONE || !resolveNames({atom})) {
        return std::nullopt;
    }
    const auto found = names_.find(atom);
    return found == names_.end() ? std::nullopt : std::optional(found->second);
}

}  // namespace ravlin::platform::x11
