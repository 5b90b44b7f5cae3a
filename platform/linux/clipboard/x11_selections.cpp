#include "platform/linux/clipboard/x11_selections.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace ravlin::platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

template <class T>
struct FreeDeleter {
    void operator()(T* pointer) const { std::free(pointer); }  // NOLINT: xcb allocates with malloc
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

// An INCR answer that the requestor stops taking is dropped after this long.
constexpr auto transferIdleLimit = 5s;
// INCR answers in progress, for one requestor and in all: a request beyond is refused.
constexpr std::size_t maxTransfersPerRequestor = 64;
constexpr std::size_t maxTransfers = 256;
// A MULTIPLE request names at most this many targets.
constexpr std::size_t maxMultiplePairs = 256;
// Answers larger than this go in INCR steps of this size.
constexpr std::size_t preferredChunk = 256 * 1024;
// Our reads use one property per read, taken in turn from this many names, so that an owner
// still answering a read that gave up cannot write into a later one.
constexpr int readProperties = 64;
// Waits for the X server alone (a round trip, a property change coming back).
constexpr auto serverWait = 1s;

// Whether request sequence number `a` came before `b` (they wrap around).
bool sentBefore(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

}  // namespace

class Selections::Thread {
  public:
    static std::unique_ptr<Thread> connect();
    ~Thread();

    // Runs `command` on the thread, in order.
    void post(std::function<void()> command);
    // Runs `command` on the thread and waits (at most `limit`) for its answer.
    template <class T>
    std::optional<T> call(std::function<T()> command, std::chrono::milliseconds limit);

    // --- State shared with callers (under mutex_)
    mutable std::mutex mutex_;
    struct Mirror {
        std::shared_ptr<const SelectionData> data;
        std::uint32_t time = 0;
        bool fetched = false;
    };
    std::map<std::string, Mirror> mirrors_;
    // How many times we have taken or cleared each selection.
    std::map<std::string, std::uint64_t> ownChanges_;
    // The latest change of each selection we know of (ours or told).
    std::map<std::string, KnownChange> lastChange_;
    std::function<void(const std::string&, std::uint64_t)> onForeign_;
    std::atomic<bool> connected_{true};

    // --- Everything below runs on the thread
    struct ReadJob {
        xcb_atom_t selection = XCB_NONE;
        xcb_atom_t property = XCB_NONE;
        SelectionLimits limits;
        Clock::time_point deadline;
        bool textOnly = false;
        std::function<void(Read)> done;
        bool started = false;
        bool awaitingNotify = false;
        bool incr = false;
        xcb_atom_t asking = XCB_NONE;
        std::vector<xcb_atom_t> pending;  // content targets still to read
        SelectionValue current;
        Read result;
        std::size_t bytes = 0;
    };
    void startRead(std::shared_ptr<ReadJob> job);

  private:
    Thread(xcb_connection_t* connection, xcb_window_t window, const int (&wake)[2]);
    void run();
    void runCommands();
    void drainEvents();
    void handle(xcb_generic_event_t* event);
    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;
    void expire();
    bool waitForEvents(Clock::time_point until);

    // Atoms and names.
    xcb_atom_t atom(const std::string& name);
    std::vector<xcb_atom_t> atoms(const std::vector<std::string>& names);
    std::optional<std::string> name(xcb_atom_t atom);
    bool resolveNames(const std::vector<xcb_atom_t>& atoms);

    // Reading.
    void advance(std::shared_ptr<ReadJob> job);
    void ask(const std::shared_ptr<ReadJob>& job, xcb_atom_t target);
    void takeProperty(const std::shared_ptr<ReadJob>& job, bool first);
    void valueRead(const std::shared_ptr<ReadJob>& job);
    void finish(std::shared_ptr<ReadJob> job, PasteboardSaveFailure failure);
    void onSelectionNotify(const xcb_selection_notify_event_t& event);

    // Owning and serving.
    struct Ownership {
        std::shared_ptr<const SelectionData> data;
        std::uint32_t time = 0;
        std::uint32_t request = 0;  // the sequence number of our SetSelectionOwner
        xcb_atom_t targetsType = XCB_ATOM_ATOM;
        std::vector<xcb_atom_t> targets;
        std::vector<xcb_atom_t> types;  // of data->values, by index
        std::unordered_map<xcb_atom_t, std::size_t> values;
    };
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

  public:
    std::optional<std::uint32_t> serverTime();
    bool ownAt(xcb_atom_t selection, std::shared_ptr<const SelectionData> data, std::uint32_t time);
    bool clear(xcb_atom_t selection, KnownChange change);
    bool saveToManager(xcb_atom_t selection, std::chrono::milliseconds limit);
    xcb_atom_t selectionAtom(const std::string& name) { return atom(name); }

  private:
    void onSelectionRequest(const xcb_selection_request_event_t& event);
    bool serveOne(Ownership& owned, const std::string& selectionName, xcb_window_t requestor,
                  xcb_atom_t target, xcb_atom_t property);
    bool serveMultiple(Ownership& owned, const std::string& selectionName, xcb_window_t requestor,
                       xcb_atom_t property);
    bool sendValue(const Ownership& owned, std::size_t index, xcb_window_t requestor,
                   xcb_atom_t property);
    void onTransferStep(xcb_window_t window, xcb_atom_t property);
    void dropTransfers(xcb_window_t requestor);
    void forgetRequestor(xcb_window_t requestor);
    void lost(xcb_atom_t selection, std::uint32_t sequence, std::uint32_t time);
    void changedByUs(xcb_atom_t selection, std::uint32_t request, bool cleared,
                     std::uint32_t time);
    // Counts a change of the selection we now know of (under mutex_).
    void learnt(const std::string& selectionName, std::uint32_t time);
    void foreignChange(xcb_atom_t selection, std::uint32_t time);
    void watch(xcb_atom_t selection);

    xcb_connection_t* c_;
    xcb_window_t window_;
    std::uint8_t xfixesFirstEvent_ = 0;
    bool xfixes_ = false;
    std::size_t chunk_ = preferredChunk;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
    std::unordered_map<xcb_atom_t, std::string> names_;

    std::map<xcb_atom_t, std::deque<std::shared_ptr<ReadJob>>> reads_;
    int nextProperty_ = 0;
    std::map<xcb_atom_t, Ownership> owned_;
    std::vector<Transfer> transfers_;
    // Our last SetSelectionOwner of each selection: its request's sequence number, and whether
    // it gave the selection to nobody.
    struct OwnChange {
        std::uint32_t request = 0;
        bool cleared = false;
    };
    std::map<xcb_atom_t, OwnChange> ourLastChange_;
    std::unordered_set<xcb_atom_t> watched_;

    std::optional<std::uint32_t> timeSeen_;
    bool waitingForTime_ = false;
    std::optional<bool> managerAnswer_;

    int wake_[2] = {-1, -1};
    std::deque<std::function<void()>> commands_;  // under mutex_
    bool stopping_ = false;                       // under mutex_
    std::thread thread_;
};

std::unique_ptr<Selections::Thread> Selections::Thread::connect() {
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
    // The thread's wake-up for posted commands: without it they would wait for an X event.
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_screen_t* screen = screens.data;
    // An unmapped window of our own: it owns the selections, receives their answers in its
    // properties and tells the time through its property changes.
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    return std::unique_ptr<Thread>(new Thread(connection, window, wake));
}

Selections::Thread::Thread(xcb_connection_t* connection, xcb_window_t window,
                           const int (&wake)[2])
    : c_(connection), window_(window), wake_{wake[0], wake[1]} {
    // Whoever reads the owner of a selection can tell which program serves it.
    const auto pid = static_cast<std::uint32_t>(::getpid());
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                        32, 1, &pid);
    constexpr char windowClass[] = "ravlin\0Ravlin";
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof windowClass, windowClass);
    const std::size_t maxRequest = std::size_t{xcb_get_maximum_request_length(c_)} * 4;
    if (maxRequest > 4096) {
        chunk_ = std::min(preferredChunk, (maxRequest - 1024) & ~std::size_t{3});
    }
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
    watch(atom("CLIPBOARD"));
    watch(atom("PRIMARY"));
    xcb_flush(c_);
    thread_ = std::thread([this] { run(); });
}

Selections::Thread::~Thread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (wake_[1] >= 0) {
        [[maybe_unused]] const auto written = ::write(wake_[1], "x", 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    xcb_destroy_window(c_, window_);
    xcb_flush(c_);
    xcb_disconnect(c_);
    for (const int fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void Selections::Thread::post(std::function<void()> command) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
    }
    if (wake_[1] >= 0) {
        [[maybe_unused]] const auto written = ::write(wake_[1], "x", 1);
    }
}

template <class T>
std::optional<T> Selections::Thread::call(std::function<T()> command,
                                          std::chrono::milliseconds limit) {
    // A command the caller stopped waiting for never runs: the caller was told it did not. One
    // that has begun is waited for to its end (its own waits are bounded), so that what the
    // caller is told is what happened.
    struct Call {
        std::mutex mutex;
        std::condition_variable done;
        bool begun = false;
        bool abandoned = false;
        std::optional<T> answer;
    };
    auto shared = std::make_shared<Call>();
    post([shared, command = std::move(command)] {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->abandoned) {
                return;
            }
            shared->begun = true;
        }
        auto answer = command();
        std::lock_guard lock(shared->mutex);
        shared->answer = std::move(answer);
        shared->done.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, limit, [&] { return shared->answer.has_value(); })) {
        if (!shared->begun) {
            shared->abandoned = true;
            return std::nullopt;
        }
        shared->done.wait(lock, [&] { return shared->answer.has_value(); });
    }
    return std::move(shared->answer);
}

void Selections::Thread::run() {
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
            expire();
            drainEvents();
            xcb_flush(c_);
            if (xcb_connection_has_error(c_) != 0) {
                // The display is gone: every read ends now; commands go on answering (with
                // failure) until the end.
                connected_ = false;
                for (auto& [selection, queue] : reads_) {
                    while (!queue.empty()) {
                        finish(queue.front(), PasteboardSaveFailure::ownerNotAnswering);
                    }
                }
            }
        }
        int timeout = -1;
        if (const auto due = nextDeadline(); due && connected_) {
            timeout = static_cast<int>(std::clamp<std::int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count(), 0,
                60'000));
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

void Selections::Thread::runCommands() {
    while (true) {
        std::function<void()> command;
        {
            std::lock_guard lock(mutex_);
            if (commands_.empty()) {
                return;
            }
            command = std::move(commands_.front());
            commands_.pop_front();
        }
        command();
        xcb_flush(c_);
    }
}

void Selections::Thread::drainEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        handle(event);
        std::free(event);  // NOLINT: xcb allocates with malloc
    }
}

bool Selections::Thread::waitForEvents(Clock::time_point until) {
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

void Selections::Thread::handle(xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    switch (type) {
        case 0:  // an error of a request whose target went away: nothing waits for it
            return;
        case XCB_SELECTION_REQUEST:
            onSelectionRequest(*reinterpret_cast<xcb_selection_request_event_t*>(event));
            return;
        case XCB_SELECTION_NOTIFY:
            onSelectionNotify(*reinterpret_cast<xcb_selection_notify_event_t*>(event));
            return;
        case XCB_SELECTION_CLEAR: {
            const auto& clear = *reinterpret_cast<xcb_selection_clear_event_t*>(event);
            lost(clear.selection, event->full_sequence, clear.time);
            return;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto& change = *reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (change.window != window_) {
                if (change.state == XCB_PROPERTY_DELETE) {
                    onTransferStep(change.window, change.atom);
                }
                return;
            }
            if (waitingForTime_ && change.atom == atom("_RAVLIN_TIME")) {
                timeSeen_ = change.time;
                return;
            }
            if (change.state != XCB_PROPERTY_NEW_VALUE) {
                return;
            }
            for (auto& [selection, queue] : reads_) {
                if (!queue.empty() && queue.front()->incr &&
                    queue.front()->property == change.atom) {
                    const auto job = queue.front();
                    takeProperty(job, false);
                    return;
                }
            }
            return;
        }
        default:
            break;
    }
    if (xfixes_ && type == xfixesFirstEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto& notify = *reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event);
        // Each event is one change, the owner's window or connection going away among them (it
        // leaves the selection to nobody, and carries the time of the change that made the
        // owner).
        const bool ownerGone = notify.subtype != XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER;
        if (!ownerGone && notify.owner == window_) {
            return;
        }
        // An event carries the sequence number of the last request of ours the server had taken
        // when it made it: a change made before our own last one was replaced by ours, and the
        // change our clear made (to nobody) is ours. Not told by the time: another client may
        // take the selection in the very millisecond we did, with that same time.
        const std::uint32_t sequence = event->full_sequence;
        if (const auto ours = ourLastChange_.find(notify.selection); ours != ourLastChange_.end()) {
            if (sentBefore(sequence, ours->second.request) ||
                (!ownerGone && sequence == ours->second.request && ours->second.cleared &&
                 notify.owner == XCB_NONE)) {
                return;
            }
        }
        foreignChange(notify.selection, notify.selection_timestamp);
    }
}

std::optional<Clock::time_point> Selections::Thread::nextDeadline() const {
    std::optional<Clock::time_point> due;
    const auto consider = [&](Clock::time_point at) {
        if (!due || at < *due) {
            due = at;
        }
    };
    for (const auto& [selection, queue] : reads_) {
        if (!queue.empty()) {
            consider(queue.front()->deadline);
        }
    }
    for (const auto& transfer : transfers_) {
        consider(transfer.lastActivity + transferIdleLimit);
    }
    return due;
}

void Selections::Thread::expire() {
    const auto now = Clock::now();
    for (auto& [selection, queue] : reads_) {
        while (!queue.empty() && queue.front()->deadline <= now) {
            finish(queue.front(), PasteboardSaveFailure::ownerNotAnswering);
        }
    }
    std::vector<xcb_window_t> idle;
    for (const auto& transfer : transfers_) {
        if (now - transfer.lastActivity >= transferIdleLimit) {
            idle.push_back(transfer.requestor);
        }
    }
    for (const auto requestor : idle) {
        dropTransfers(requestor);
    }
}

// --- Atoms and names

xcb_atom_t Selections::Thread::atom(const std::string& name) {
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

std::vector<xcb_atom_t> Selections::Thread::atoms(const std::vector<std::string>& names) {
    // Every unknown name asked at once: one round trip rather than one each.
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

bool Selections::Thread::resolveNames(const std::vector<xcb_atom_t>& wanted) {
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

std::optional<std::string> Selections::Thread::name(xcb_atom_t atom) {
    if (atom == XCB_NONE || !resolveNames({atom})) {
        return std::nullopt;
    }
    const auto found = names_.find(atom);
    return found == names_.end() ? std::nullopt : std::optional(found->second);
}

// --- Reading

void Selections::Thread::startRead(std::shared_ptr<ReadJob> job) {
    auto& queue = reads_[job->selection];
    queue.push_back(job);
    if (queue.size() == 1) {
        advance(job);
    }
}

void Selections::Thread::advance(std::shared_ptr<ReadJob> job) {
    if (!job->started) {
        job->started = true;
        if (Clock::now() >= job->deadline) {
            finish(job, PasteboardSaveFailure::ownerNotAnswering);
            return;
        }
        job->property = atom("_RAVLIN_READ_" + std::to_string(nextProperty_));
        nextProperty_ = (nextProperty_ + 1) % readProperties;
        Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            c_, xcb_get_selection_owner(c_, job->selection), nullptr));
        if (!owner) {
            finish(job, PasteboardSaveFailure::ownerNotAnswering);
            return;
        }
        if (owner->owner == XCB_NONE) {
            finish(job, PasteboardSaveFailure::none);  // nobody owns it: empty
            return;
        }
        if (const auto mine = owned_.find(job->selection);
            owner->owner == window_ && mine != owned_.end()) {
            job->result.data = *mine->second.data;
            finish(job, PasteboardSaveFailure::none);
            return;
        }
        ask(job, atom("TARGETS"));
        return;
    }
    if (job->pending.empty()) {
        finish(job, PasteboardSaveFailure::none);
        return;
    }
    const xcb_atom_t next = job->pending.front();
    job->pending.erase(job->pending.begin());
    ask(job, next);
}

void Selections::Thread::ask(const std::shared_ptr<ReadJob>& job, xcb_atom_t target) {
    job->asking = target;
    job->awaitingNotify = true;
    job->incr = false;
    job->current = SelectionValue{};
    xcb_delete_property(c_, window_, job->property);
    xcb_convert_selection(c_, window_, job->selection, target, job->property, XCB_CURRENT_TIME);
}

void Selections::Thread::onSelectionNotify(const xcb_selection_notify_event_t& event) {
    if (event.requestor != window_) {
        return;
    }
    if (event.selection == atom("CLIPBOARD_MANAGER")) {
        managerAnswer_ = event.property != XCB_NONE;
        return;
    }
    const auto queue = reads_.find(event.selection);
    if (queue == reads_.end() || queue->second.empty()) {
        return;
    }
    const auto job = queue->second.front();
    if (!job->awaitingNotify || event.target != job->asking ||
        (event.property != XCB_NONE && event.property != job->property)) {
        return;  // an answer to a read that gave up
    }
    job->awaitingNotify = false;
    if (event.property == XCB_NONE) {
        finish(job, PasteboardSaveFailure::typeFailed);  // the owner refused a target it offered
        return;
    }
    takeProperty(job, true);
}

void Selections::Thread::takeProperty(const std::shared_ptr<ReadJob>& job, bool first) {
    // The owner's list of targets is bounded by its count, the contents by their bytes, over
    // all the steps of an INCR answer.
    const bool listing = job->asking == atom("TARGETS");
    const std::size_t limit = listing ? job->limits.maxTargets * 4 : job->limits.maxBytes;
    const std::size_t room = limit - std::min(job->bytes, limit);
    const auto longs = static_cast<std::uint32_t>(std::min<std::size_t>(room / 4 + 1, UINT32_MAX));
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 1, window_, job->property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs),
        nullptr));
    if (!reply || reply->type == XCB_NONE) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    const auto* value = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    if (first && reply->type == atom("INCR")) {
        // The owner sends it in steps, each when we have taken the last; it announces at least
        // this many bytes.
        std::uint32_t announced = 0;
        if (reply->format == 32 && size >= 4) {
            std::memcpy(&announced, value, 4);
        }
        if (announced > room) {
            finish(job,
                   listing ? PasteboardSaveFailure::tooManyTypes : PasteboardSaveFailure::tooLarge);
            return;
        }
        job->incr = true;
        return;
    }
    if (reply->bytes_after > 0 || size > room) {
        finish(job,
               listing ? PasteboardSaveFailure::tooManyTypes : PasteboardSaveFailure::tooLarge);
        return;
    }
    if (reply->format != 8 && reply->format != 16 && reply->format != 32) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    if (job->incr && size == 0) {
        valueRead(job);  // the closing empty step
        return;
    }
    const auto type = name(reply->type);
    if (!type) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    if (job->current.type.empty()) {
        job->current.type = *type;
        job->current.format = reply->format;
    } else if (job->current.format != reply->format) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    job->current.bytes.insert(job->current.bytes.end(), value, value + size);
    job->bytes += size;
    if (!job->incr) {
        valueRead(job);
    }
}

void Selections::Thread::valueRead(const std::shared_ptr<ReadJob>& job) {
    job->incr = false;
    auto value = std::move(job->current);
    if (job->asking == atom("TARGETS")) {
        // The owner's list: atoms, 32 bits each.
        job->bytes = 0;
        if (value.format != 32) {
            finish(job, PasteboardSaveFailure::typeFailed);
            return;
        }
        std::vector<xcb_atom_t> listed(value.bytes.size() / 4);
        std::memcpy(listed.data(), value.bytes.data(), listed.size() * 4);
        if (listed.size() > job->limits.maxTargets) {
            finish(job, PasteboardSaveFailure::tooManyTypes);
            return;
        }
        if (!resolveNames(listed)) {
            finish(job, PasteboardSaveFailure::typeFailed);
            return;
        }
        auto& data = job->result.data;
        data.targetsType = value.type;
        std::vector<xcb_atom_t> contents;
        for (const auto target : listed) {
            const auto found = names_.find(target);
            data.targets.push_back(found == names_.end() ? std::string() : found->second);
            if (target != XCB_NONE && !isProtocolTarget(data.targets.back()) &&
                std::ranges::find(contents, target) == contents.end()) {
                contents.push_back(target);
            }
        }
        if (job->textOnly) {
            job->pending.clear();
            for (const auto text : textTargets) {
                const auto found = std::ranges::find(data.targets, text);
                if (found != data.targets.end()) {
                    job->pending.push_back(atom(std::string(text)));
                    break;
                }
            }
        } else {
            job->pending = std::move(contents);
        }
        advance(job);
        return;
    }
    const auto target = name(job->asking);
    if (!target) {
        finish(job, PasteboardSaveFailure::typeFailed);
        return;
    }
    value.target = *target;
    job->result.data.values.push_back(std::move(value));
    advance(job);
}

void Selections::Thread::finish(std::shared_ptr<ReadJob> job, PasteboardSaveFailure failure) {
    auto& queue = reads_[job->selection];
    if (queue.empty() || queue.front() != job) {
        return;
    }
    queue.pop_front();
    if (job->property != XCB_NONE) {
        xcb_delete_property(c_, window_, job->property);
    }
    job->result.failure = failure;
    if (failure != PasteboardSaveFailure::none) {
        job->result.data = SelectionData{};  // nothing of a read that failed is kept
    }
    if (job->done) {
        auto done = std::move(job->done);
        done(std::move(job->result));
    }
    if (!queue.empty()) {
        advance(queue.front());
    }
}

// --- Owning and serving

std::optional<std::uint32_t> Selections::Thread::serverTime() {
    // A property change carries the server's time: append nothing and read the event's time.
    const xcb_atom_t clock = atom("_RAVLIN_TIME");
    timeSeen_.reset();
    waitingForTime_ = true;
    xcb_change_property(c_, XCB_PROP_MODE_APPEND, window_, clock, XCB_ATOM_INTEGER, 32, 0, nullptr);
    const auto until = Clock::now() + serverWait;
    while (!timeSeen_ && waitForEvents(until)) {
    }
    waitingForTime_ = false;
    return timeSeen_;
}

bool Selections::Thread::ownAt(xcb_atom_t selection, std::shared_ptr<const SelectionData> data,
                               std::uint32_t time) {
    Ownership owning;
    owning.time = time;
    owning.targets = atoms(data->targets);
    owning.targetsType = atom(data->targetsType);
    std::vector<std::string> valueTargets;
    std::vector<std::string> valueTypes;
    for (const auto& value : data->values) {
        valueTargets.push_back(value.target);
        valueTypes.push_back(value.type);
    }
    const auto targets = atoms(valueTargets);
    owning.types = atoms(valueTypes);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i] != XCB_NONE) {
            owning.values.try_emplace(targets[i], i);
        }
    }
    owning.data = std::move(data);
    owning.request = xcb_set_selection_owner(c_, window_, selection, time).sequence;
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection), nullptr));
    const auto selectionName = name(selection).value_or(std::string());
    if (!owner || owner->owner != window_) {
        owned_.erase(selection);
        std::lock_guard lock(mutex_);
        mirrors_.erase(selectionName);
        return false;
    }
    changedByUs(selection, owning.request, false, time);
    {
        std::lock_guard lock(mutex_);
        mirrors_[selectionName] = Mirror{owning.data, time, false};
    }
    owned_[selection] = std::move(owning);
    return true;
}

bool Selections::Thread::clear(xcb_atom_t selection, KnownChange change) {
    const auto selectionName = name(selection).value_or(std::string());
    // The news of every change the server made before this round trip is in by its answer: a
    // change after the caller's is newer than the one it meant to undo, even in its millisecond.
    Reply<xcb_get_selection_owner_reply_t> before(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection), nullptr));
    drainEvents();
    {
        std::lock_guard lock(mutex_);
        const auto known = lastChange_.find(selectionName);
        if (!before || change.time == XCB_CURRENT_TIME || known == lastChange_.end() ||
            known->second.number != change.number) {
            return false;
        }
    }
    // The server ignores it when the selection changed after the caller's change (a copy made
    // since): then the selection still has an owner, and the change is not ours.
    const auto request = xcb_set_selection_owner(c_, XCB_NONE, selection, change.time).sequence;
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection), nullptr));
    if (!owner || owner->owner != XCB_NONE) {
        return false;
    }
    changedByUs(selection, request, true, change.time);
    owned_.erase(selection);
    std::lock_guard lock(mutex_);
    mirrors_.erase(selectionName);
    return true;
}

void Selections::Thread::changedByUs(xcb_atom_t selection, std::uint32_t request, bool cleared,
                                     std::uint32_t time) {
    ourLastChange_[selection] = OwnChange{request, cleared};
    std::lock_guard lock(mutex_);
    const auto selectionName = name(selection).value_or(std::string());
    ++ownChanges_[selectionName];
    learnt(selectionName, time);
}

void Selections::Thread::learnt(const std::string& selectionName, std::uint32_t time) {
    auto& known = lastChange_[selectionName];
    known = KnownChange{known.number + 1, time};
}

void Selections::Thread::lost(xcb_atom_t selection, std::uint32_t sequence, std::uint32_t time) {
    const auto mine = owned_.find(selection);
    // A clear the server sent before it took our current ownership was for one we have since
    // replaced (our own clear's among them), whatever its time says.
    if (mine == owned_.end() || sentBefore(sequence, mine->second.request)) {
        return;
    }
    owned_.erase(mine);
    {
        std::lock_guard lock(mutex_);
        mirrors_.erase(name(selection).value_or(std::string()));
    }
    // Our losing a selection and the extension's word of the new owner are one change: the
    // extension tells it for the selections it watches.
    if (!watched_.contains(selection)) {
        foreignChange(selection, time);
    }
}

void Selections::Thread::foreignChange(xcb_atom_t selection, std::uint32_t time) {
    const std::string selectionName = name(selection).value_or(std::string());
    std::function<void(const std::string&, std::uint64_t)> callback;
    std::uint64_t ours = 0;
    {
        std::lock_guard lock(mutex_);
        learnt(selectionName, time);
        callback = onForeign_;
        ours = ownChanges_[selectionName];
    }
    if (callback) {
        callback(selectionName, ours);
    }
}

void Selections::Thread::watch(xcb_atom_t selection) {
    if (!xfixes_ || selection == XCB_NONE || !watched_.insert(selection).second) {
        return;
    }
    xcb_xfixes_select_selection_input(c_, window_, selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
}

void Selections::Thread::onSelectionRequest(const xcb_selection_request_event_t& event) {
    xcb_atom_t answered = XCB_NONE;
    const auto mine = owned_.find(event.selection);
    if (event.owner == window_ && mine != owned_.end() &&
        (event.time == XCB_CURRENT_TIME || event.time >= mine->second.time)) {
        // Requestors from before ICCCM name no property: the target's name stands for it.
        const xcb_atom_t property = event.property != XCB_NONE ? event.property : event.target;
        const auto selectionName = name(event.selection).value_or(std::string());
        if (event.target == atom("MULTIPLE")) {
            if (event.property != XCB_NONE &&
                serveMultiple(mine->second, selectionName, event.requestor, event.property)) {
                answered = event.property;
            }
        } else if (serveOne(mine->second, selectionName, event.requestor, event.target, property)) {
            answered = property;
        }
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = event.time;
    notify.requestor = event.requestor;
    notify.selection = event.selection;
    notify.target = event.target;
    notify.property = answered;
    char wire[32] = {};
    std::memcpy(wire, &notify, sizeof notify);
    xcb_send_event(c_, 0, event.requestor, XCB_EVENT_MASK_NO_EVENT, wire);
}

bool Selections::Thread::serveOne(Ownership& owned, const std::string& selectionName,
                                  xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property) {
    if (target == atom("TARGETS")) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, owned.targetsType, 32,
                            static_cast<std::uint32_t>(owned.targets.size()), owned.targets.data());
        return true;
    }
    if (target == atom("TIMESTAMP")) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &owned.time);
        return true;
    }
    const auto found = owned.values.find(target);
    if (found == owned.values.end()) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (const auto mirror = mirrors_.find(selectionName); mirror != mirrors_.end()) {
            mirror->second.fetched = true;
        }
    }
    return sendValue(owned, found->second, requestor, property);
}

bool Selections::Thread::serveMultiple(Ownership& owned, const std::string& selectionName,
                                       xcb_window_t requestor, xcb_atom_t property) {
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c_,
                               xcb_get_property(c_, 0, requestor, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, maxMultiplePairs * 2),
                               nullptr));
    if (!reply || reply->format != 32 || reply->type == XCB_NONE) {
        return false;
    }
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / 8;
    std::vector<xcb_atom_t> pairs(count * 2);
    std::memcpy(pairs.data(), xcb_get_property_value(reply.get()), pairs.size() * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const xcb_atom_t target = pairs[2 * i];
        const xcb_atom_t into = pairs[2 * i + 1];
        // A target that cannot be given is marked None in the list, as ICCCM asks.
        if (into == XCB_NONE || target == atom("MULTIPLE") ||
            !serveOne(owned, selectionName, requestor, target, into)) {
            pairs[2 * i] = XCB_NONE;
        }
    }
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                        static_cast<std::uint32_t>(pairs.size()), pairs.data());
    return true;
}

bool Selections::Thread::sendValue(const Ownership& owned, std::size_t index,
                                   xcb_window_t requestor, xcb_atom_t property) {
    const auto& value = owned.data->values[index];
    const std::size_t unit = value.format / 8;
    if (value.bytes.size() <= chunk_) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, owned.types[index],
                            value.format, static_cast<std::uint32_t>(value.bytes.size() / unit),
                            value.bytes.data());
        return true;
    }
    // Too large for one property: INCR. We announce the size, and write each step once the
    // requestor has deleted the last (it deletes the INCR announcement first).
    std::erase_if(transfers_, [&](const Transfer& transfer) {
        return transfer.requestor == requestor && transfer.property == property;
    });
    if (transfers_.size() >= maxTransfers ||
        static_cast<std::size_t>(std::ranges::count(transfers_, requestor, &Transfer::requestor)) >=
            maxTransfersPerRequestor) {
        return false;
    }
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &events);
    const auto announced =
        static_cast<std::uint32_t>(std::min<std::size_t>(value.bytes.size(), UINT32_MAX));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, atom("INCR"), 32, 1,
                        &announced);
    transfers_.push_back(Transfer{requestor, property, owned.data, index, owned.types[index], 0,
                                  false, Clock::now()});
    return true;
}

void Selections::Thread::onTransferStep(xcb_window_t window, xcb_atom_t property) {
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

void Selections::Thread::dropTransfers(xcb_window_t requestor) {
    std::erase_if(transfers_,
                  [&](const Transfer& transfer) { return transfer.requestor == requestor; });
    forgetRequestor(requestor);
}

void Selections::Thread::forgetRequestor(xcb_window_t requestor) {
    // Stop hearing of the property changes of a requestor we no longer send to.
    if (std::ranges::none_of(transfers_, [&](const Transfer& transfer) {
            return transfer.requestor == requestor;
        })) {
        const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &none);
    }
}

bool Selections::Thread::saveToManager(xcb_atom_t selection, std::chrono::milliseconds limit) {
    // A manager saves CLIPBOARD alone: asked while we serve another selection, it would read
    // CLIPBOARD (whoever owns it) and answer that it saved.
    const auto mine = owned_.find(selection);
    if (selection != atom("CLIPBOARD") || mine == owned_.end()) {
        return false;
    }
    const xcb_atom_t manager = atom("CLIPBOARD_MANAGER");
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, manager), nullptr));
    if (!owner || owner->owner == XCB_NONE) {
        return false;
    }
    // The targets to save: those that carry contents.
    std::vector<xcb_atom_t> targets;
    for (const auto& [target, index] : mine->second.values) {
        targets.push_back(target);
    }
    const xcb_atom_t property = atom("_RAVLIN_SAVE_TARGETS");
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(targets.size()), targets.data());
    const auto time = serverTime();
    managerAnswer_.reset();
    xcb_convert_selection(c_, window_, manager, atom("SAVE_TARGETS"), property,
                          time.value_or(XCB_CURRENT_TIME));
    // The manager reads every target from us meanwhile: this loop serves it.
    const auto until = Clock::now() + limit;
    while (!managerAnswer_ && waitForEvents(until)) {
    }
    return managerAnswer_.value_or(false);
}

// --- Selections

std::shared_ptr<Selections> Selections::open() {
    auto thread = Thread::connect();
    if (!thread) {
        return nullptr;
    }
    return std::shared_ptr<Selections>(new Selections(std::move(thread)));
}

Selections::Selections(std::unique_ptr<Thread> thread) : thread_(std::move(thread)) {}

Selections::~Selections() = default;

void Selections::read(std::string selection, SelectionLimits limits,
                      std::function<void(Read)> done) {
    submit(std::move(selection), limits, false, std::move(done));
}

void Selections::readText(std::string selection, SelectionLimits limits,
                          std::function<void(std::optional<std::u16string>)> done) {
    submit(std::move(selection), limits, true, [done = std::move(done)](Read read) {
        done(read.failure == PasteboardSaveFailure::none ? plainText(read.data) : std::nullopt);
    });
}

void Selections::submit(std::string selection, SelectionLimits limits, bool textOnly,
                        std::function<void(Read)> done) {
    auto job = std::make_shared<Thread::ReadJob>();
    job->limits = limits;
    job->deadline = Clock::now() + limits.total;
    job->textOnly = textOnly;
    if (!thread_->connected_) {
        done(Read{{}, PasteboardSaveFailure::ownerNotAnswering});
        return;
    }
    job->done = std::move(done);
    thread_->post([thread = thread_.get(), job, selection = std::move(selection)] {
        job->selection = thread->selectionAtom(selection);
        thread->startRead(job);
    });
}

std::optional<std::uint32_t> Selections::own(const std::string& selection,
                                             std::shared_ptr<const SelectionData> data) {
    auto* thread = thread_.get();
    return thread
        ->call<std::optional<std::uint32_t>>(
            [thread, selection, data = std::move(data)]() -> std::optional<std::uint32_t> {
                const auto time = thread->serverTime();
                if (!time || !thread->ownAt(thread->selectionAtom(selection), data, *time)) {
                    return std::nullopt;
                }
                return time;
            },
            2 * serverWait)
        .value_or(std::nullopt);
}

bool Selections::ownAsOf(const std::string& selection, std::shared_ptr<const SelectionData> data,
                         std::uint32_t time) {
    auto* thread = thread_.get();
    return thread
        ->call<bool>([thread, selection, data = std::move(data),
                      time] { return thread->ownAt(thread->selectionAtom(selection), data, time); },
                     serverWait)
        .value_or(false);
}

bool Selections::clear(const std::string& selection, KnownChange change) {
    auto* thread = thread_.get();
    return thread
        ->call<bool>(
            [thread, selection, change] {
                return thread->clear(thread->selectionAtom(selection), change);
            },
            serverWait)
        .value_or(false);
}

Selections::KnownChange Selections::lastChange(const std::string& selection) const {
    std::lock_guard lock(thread_->mutex_);
    const auto found = thread_->lastChange_.find(selection);
    return found == thread_->lastChange_.end() ? KnownChange{} : found->second;
}

std::shared_ptr<const SelectionData> Selections::owned(const std::string& selection) const {
    std::lock_guard lock(thread_->mutex_);
    const auto found = thread_->mirrors_.find(selection);
    return found == thread_->mirrors_.end() ? nullptr : found->second.data;
}

std::uint32_t Selections::ownedSince(const std::string& selection) const {
    std::lock_guard lock(thread_->mutex_);
    const auto found = thread_->mirrors_.find(selection);
    return found == thread_->mirrors_.end() ? 0 : found->second.time;
}

bool Selections::fetched(const std::string& selection) const {
    std::lock_guard lock(thread_->mutex_);
    const auto found = thread_->mirrors_.find(selection);
    return found != thread_->mirrors_.end() && found->second.fetched;
}

std::uint64_t Selections::ownChanges(const std::string& selection) const {
    std::lock_guard lock(thread_->mutex_);
    const auto found = thread_->ownChanges_.find(selection);
    return found == thread_->ownChanges_.end() ? 0 : found->second;
}

void Selections::onForeignChange(std::function<void(const std::string&, std::uint64_t)> callback) {
    std::lock_guard lock(thread_->mutex_);
    thread_->onForeign_ = std::move(callback);
}

bool Selections::saveToManager(const std::string& selection, std::chrono::milliseconds limit) {
    auto* thread = thread_.get();
    return thread
        ->call<bool>(
            [thread, selection, limit] {
                return thread->saveToManager(thread->selectionAtom(selection), limit);
            },
            limit + serverWait)
        .value_or(false);
}

bool Selections::connected() const {
    return thread_->connected_;
}

}  // namespace ravlin::platform::x11
