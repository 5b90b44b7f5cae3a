#pragma once

// What a screen reader does with the program's windows, over the accessibility bus through
// libatspi: it finds a control by its role and name, performs the control's first action (a
// check box's is "Toggle", a button's "Press"), reads which control has the keyboard's focus and
// whether a box is checked, and hears the focus move. A popup menu is on the bus only as its
// items are announced, one by one, as the keys move through it.

#include <QtGlobal>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ravlin::testing {

// A control as a screen reader reads it.
struct ReadControl {
    std::string role;  // the bus's role name: "check box", "push button", "filler"
    std::string name;  // UTF-8; empty when it has none
    bool checked = false;
    bool showing = false;
    friend bool operator==(const ReadControl&, const ReadControl&) = default;
};

// Prints a control as "check box \"General\" (checked)".
std::string describe(const std::optional<ReadControl>& control);

class ScreenReader {
  public:
    // Listens to the focus moving in the windows of the program `pid`.
    explicit ScreenReader(qint64 pid);
    ~ScreenReader();
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    // The control of that role and name in the program's windows as it is now (a bounded walk
    // of their tree, read afresh); none when there is none.
    [[nodiscard]] std::optional<ReadControl> find(const std::string& role,
                                                  const std::string& name) const;
    // Performs the first action of that control, as a screen reader's command does, once it is
    // there (a failure of the test when it never comes); whether the program said it was done.
    bool act(const std::string& role, const std::string& name) const;
    // The control that has the keyboard's focus in the program's windows now.
    [[nodiscard]] std::optional<ReadControl> focused() const;
    // Every control the focus was announced on since the last call, in order.
    std::vector<ReadControl> heard();

  private:
    struct Listener;
    qint64 pid_;
    std::unique_ptr<Listener> listener_;
};

}  // namespace ravlin::testing
