#pragma once

// A move-only handle on a registration (an observer, a hot key, a key tap...). Dropping it, or
// calling reset(), runs its cancel action exactly once, so a forgotten unsubscribe cannot leave
// a callback that holds a dead object. release() forgets the registration without cancelling.
//
//   Subscription watching = value.observe([this](const T& v) { ... });
//   watching.reset();  // the observer is gone; a second reset does nothing
//
// CallbackList is the registry behind most subscriptions: callbacks told in registration order,
// safe against removal (or the list's own destruction) while it is telling them.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace ravlin {

class [[nodiscard]] Subscription {
  public:
    using Cancel = std::function<void()>;

    Subscription() = default;
    explicit Subscription(Cancel cancel) : cancel_(std::move(cancel)) {}
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    ~Subscription() { reset(); }

    // Cancels the registration now (once; later calls do nothing).
    void reset() {
        if (auto cancel = std::exchange(cancel_, nullptr)) {
            cancel();
        }
    }
    // Lets the registration live on without this handle; it can no longer be cancelled here.
    void release() { cancel_ = nullptr; }
    // Whether this handle still holds a registration it would cancel.
    [[nodiscard]] bool active() const { return static_cast<bool>(cancel_); }
    explicit operator bool() const { return active(); }

  private:
    Cancel cancel_;
};

// Callbacks registered by subscription. Not thread safe: register, notify and drop on one
// sequence. A subscription may outlive its list (dropping it then does nothing).
template <class... Args>
class CallbackList {
  public:
    using Callback = std::function<void(const Args&...)>;

    CallbackList() = default;
    CallbackList(const CallbackList&) = delete;
    CallbackList& operator=(const CallbackList&) = delete;
    // A list destroyed while it is telling its callbacks tells no further ones.
    ~CallbackList() {
        for (const auto& entry : state_->entries) {
            entry->active = false;
        }
    }

    Subscription add(Callback callback) {
        auto entry = std::make_shared<Entry>(Entry{std::move(callback), true});
        state_->entries.push_back(entry);
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Entry> weakEntry = entry;
        return Subscription([weakState, weakEntry] {
            const auto entry = weakEntry.lock();
            if (!entry) {
                return;
            }
            entry->active = false;
            if (const auto state = weakState.lock()) {
                std::erase(state->entries, entry);
            }
        });
    }

    // Calls every callback registered now, in registration order; one removed while others are
    // being told is not called afterwards, one added is first told next time.
    void notify(const Args&... args) const {
        const auto snapshot = state_->entries;
        for (const auto& entry : snapshot) {
            if (entry->active) {
                entry->callback(args...);
            }
        }
    }

    [[nodiscard]] std::size_t size() const { return state_->entries.size(); }
    [[nodiscard]] bool empty() const { return state_->entries.empty(); }

  private:
    struct Entry {
        Callback callback;
        bool active = true;
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> entries;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace ravlin
