#pragma once

// A value that tells its observers when it changes. Assigning a value equal to the current one
// stores it without telling anyone; only a real change is announced, after it is stored.
// Observing returns a Subscription: the observer stays registered while the handle lives.
// Not thread safe: keep a value and its observers on one sequence.

#include <functional>
#include <utility>

#include "core/support/subscription.h"

namespace ravlin {

template <class T, class Equal = std::equal_to<T>>
class Observable {
  public:
    using Observer = std::function<void(const T&)>;

    Observable() = default;
    explicit Observable(T initial) : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    [[nodiscard]] const T& get() const { return value_; }

    // Stores `value`; when it differs from the old one, calls every observer with it. Returns
    // whether it differed. An observer may add or drop observers while being told; one dropped
    // meanwhile is not told.
    bool set(T value) {
        const bool changed = !Equal{}(value_, value);
        value_ = std::move(value);
        if (changed) {
            observers_.notify(value_);
        }
        return changed;
    }

    // Changes the value in place (no copy, no comparison); when `change` answers true, calls
    // every observer with the new value. Returns what `change` answered.
    template <class Change>
    bool modify(Change&& change) {
        const bool changed = std::forward<Change>(change)(value_);
        if (changed) {
            observers_.notify(value_);
        }
        return changed;
    }

    // Observing does not change the value, so it is allowed through a const reference. The
    // observer is removed when the returned handle is dropped or reset.
    Subscription observe(Observer observer) const { return observers_.add(std::move(observer)); }

  private:
    T value_{};
    mutable CallbackList<T> observers_;
};

}  // namespace ravlin
