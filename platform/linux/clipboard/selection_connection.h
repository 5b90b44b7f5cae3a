#pragma once

// The selection layer's own X connection and its event pump: an xcb connection with an unmapped
// window of ours (it owns our selections, receives the owners' answers in its properties and
// tells the server's time through its property changes), the atoms things are named by, and the
// thread that does all of the connection's X traffic. The rest of the layer (reading, serving,
// INCR transfers) runs on that thread, called from the pump through its Handler; other threads
// reach it only through post() and call().

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ravlin::platform::x11 {

using Clock = std::chrono::steady_clock;

template <class T>
struct FreeDeleter {
    void operator()(T* pointer) const { std::free(pointer); }  // NOLINT: xcb allocates with malloc
};
// A reply or event from xcb, freed with it.
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

// Waits for the X server alone (a round trip, a property change coming back).
inline constexpr auto serverWait = std::chrono::milliseconds(1000);
// How much longer a caller waits for a command that has begun but not ended in its time.
inline constexpr auto overrunGrace = std::chrono::milliseconds(250);
// How long the pump is given to end before its connection is cut under it.
inline constexpr auto stopWait = std::chrono::milliseconds(300);

// Whether `a` came before `b`, for the 32-bit counts X keeps that wrap around: request sequence
// numbers, and server times (milliseconds, which wrap after about 49.7 days of uptime).
[[nodiscard]] inline bool cameBefore(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

class SelectionConnection {
  public:
    // What the pump hands every event to, and asks when it must wake up next.
    class Handler {
      public:
        virtual ~Handler() = default;
        virtual void handle(const xcb_generic_event_t& event) = 0;
        [[nodiscard]] virtual std::optional<Clock::time_point> nextDeadline() const = 0;
        virtual void expire(Clock::time_point now) = 0;
        // The display is gone: nothing more will arrive.
        virtual void disconnected() = 0;
    };

    // A connection to the display named by DISPLAY with its window; none when there is none.
    [[nodiscard]] static std::unique_ptr<SelectionConnection> connect();
    // Stops the pump (if running), destroys the window, disconnects.
    ~SelectionConnection();
    SelectionConnection(const SelectionConnection&) = delete;
    SelectionConnection& operator=(const SelectionConnection&) = delete;

    // Starts the pump, which hands events to `handler` until stop().
    void start(Handler& handler);
    // Ends the pump's thread; commands not yet run never run.
    void stop();

    // Runs `command` on the pump's thread, in order.
    void post(std::function<void()> command);
    // Runs `command` on the pump's thread and waits (at most `limit`, whatever the server does)
    // for its answer; none when it did not come in time.
    template <class T>
    std::optional<T> call(std::function<T()> command, std::chrono::milliseconds limit);

    [[nodiscard]] xcb_connection_t* xcb() const { return c_; }
    [[nodiscard]] xcb_window_t window() const { return window_; }
    [[nodiscard]] bool xfixes() const { return xfixes_; }
    [[nodiscard]] std::uint8_t xfixesFirstEvent() const { return xfixesFirstEvent_; }
    // False once the connection to the display is broken (any thread).
    [[nodiscard]] bool connected() const { return connected_; }

    // --- On the pump's thread
    // The atom of `name`, interned on first use (None when the server does not answer).
    xcb_atom_t atom(const std::string& name);
    // Several at once: every unknown name asked in one round trip.
    std::vector<xcb_atom_t> atoms(const std::vector<std::string>& names);
    // The name of `atom`, asked of the server on first use; none for None, an unknown atom, or a
    // name longer than maxNameBytes.
    std::optional<std::string> name(xcb_atom_t atom);
    // Learns the names of every atom of `atoms` in one round trip; false when one is not known.
    bool resolveNames(const std::vector<xcb_atom_t>& atoms);
    // Handles the events xcb has already read that the server sent before the reply to our
    // request `upTo` (all of them are in once that reply is), without reading more; those after
    // it wait for the pump.
    void drainQueued(std::uint32_t upTo);
    // Handles one event, or waits (until `until` at the latest) for the socket to have some;
    // false once `until` has passed or the connection is broken.
    bool waitForEvents(Clock::time_point until);
    // The server's time now (a property change of our window carries it); none when the server
    // does not answer within serverWait.
    std::optional<std::uint32_t> serverTime();

  private:
    SelectionConnection(xcb_connection_t* connection, xcb_window_t window, const int (&wake)[2]);
    void run();
    void runCommands();
    // Handles what has arrived, a batch at a time: returns once none is left, once commands are
    // waiting (they go ahead of a backlog of requests), or after a batch.
    void drainEvents();
    void handle(xcb_generic_event_t* event);
    void wake();

    xcb_connection_t* c_;
    xcb_window_t window_;
    std::uint8_t xfixesFirstEvent_ = 0;
    bool xfixes_ = false;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
    std::unordered_map<xcb_atom_t, std::string> names_;
    Handler* handler_ = nullptr;
    std::atomic<bool> connected_{true};

    std::optional<std::uint32_t> timeSeen_;
    bool waitingForTime_ = false;
    xcb_atom_t timeProperty_ = XCB_NONE;

    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<std::function<void()>> commands_;  // under mutex_
    std::atomic<bool> commandsWaiting_{false};
    bool stopping_ = false;                       // under mutex_
    std::thread thread_;
    std::mutex endedMutex_;
    std::condition_variable endedChanged_;
    bool ended_ = false;  // under endedMutex_: the pump's loop has returned
};

template <class T>
std::optional<T> SelectionConnection::call(std::function<T()> command,
                                           std::chrono::milliseconds limit) {
    // A command the caller stopped waiting for before it began never runs: the caller was told
    // it did not. One that has begun is waited for a little longer, since its own waits are
    // bounded; but a round trip to a server that has stopped answering (another client holds a
    // server grab) is not, and the caller is never held up for it: past that, the caller is told
    // nothing happened, and what the command does later is seen only as the layer's own state.
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
        if (!shared->begun ||
            !shared->done.wait_for(lock, overrunGrace,
                                   [&] { return shared->answer.has_value(); })) {
            shared->abandoned = true;
            return std::nullopt;
        }
    }
    return std::move(shared->answer);
}

}  // namespace ravlin::platform::x11
