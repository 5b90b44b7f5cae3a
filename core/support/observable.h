#pragma once

// A value that tells its observers when it changes. Assigning a value equal to the current one
// stores it without telling anyone; only a real change is announced, after it is stored.
// Not thread safe: keep a value and its observers on one sequence.

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace ravlin {

template <class T, class Equal = std::equal_to<T>>
class Observable {
  public:
    using Observer = std::function<void(const T&)>;
    // Names an observer; 0 never names one.
    using ObserverID = std::uint64_t;

    Observable() = default;
    explicit Observable(T initial) : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    [[nodiscard]] const T& get() const { return value_; }

    // Stores `value`; when it differs from the old one, calls every observer with it. Returns
    // whether it differed.
    bool set(T value) {
        const bool changed = !Equal{}(value_, value);
        value_ = std::move(value);
        if (changed) {
            // A copy, so an observer may add or remove observers while being told.
            const auto observers = observers_;
            for (const auto& entry : observers) {
                entry.second(value_);
            }
        }
        return changed;
    }

    // Observing does not change the value, so it is allowed through a const reference.
    ObserverID observe(Observer observer) const {
        const ObserverID id = nextID_++;
        observers_.emplace_back(id, std::move(observer));
        return id;
    }
    void removeObserver(ObserverID id) const {
        std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
    }

  private:
    T value_{};
    mutable ObserverID nextID_ = 1;
    mutable std::vector<std::pair<ObserverID, Observer>> observers_;
};

}  // namespace ravlin
