#pragma once

// A window's elements asked a level at a time: every element of a level is asked its states and
// the number of its children together, then the children of those to look inside, each by its
// place (as libatspi asks for them), together: the requests sent at once and their answers
// awaited after. One by one, each element would cost
// three round trips to the application (states, count, its place among its parent's children);
// this way a window costs a few round trips a level, however many elements each level holds.

#include <atspi/atspi.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/accessibility/call_record.h"
#include "platform/linux/accessibility/element_states.h"

namespace ravlin::platform::atspi {

struct TreeNode {
    std::string path;
    int parent = -1;  // among the nodes; -1 for the window
    int index = 0;    // among its parent's children
    int depth = 1;
    // None where the element did not answer.
    std::optional<States> states;
    std::optional<int> childCount;
    // Its children were asked (a walk looks inside it).
    bool opened = false;
    std::vector<int> children;
};

struct TreeBounds {
    int maxDepth;
    int maxVisited;
    int maxChildren;
    std::chrono::milliseconds timeout;
};

// The window's tree as far as `looksInside` lets it go (an element in those states shows its
// children), the window first; children lists longer than `maxChildren` are not asked. Nothing
// below an element that did not answer is asked. Each request is counted in `calls`, and each
// level's wait as one call's time. Empty when the window's application cannot be asked this way
// (no connection known to libatspi).
[[nodiscard]] std::vector<TreeNode> fetchTree(AtspiAccessible* window,
                                              const std::function<bool(const States&)>& looksInside,
                                              const TreeBounds& bounds, CallRecord& calls);

// The element of a node (held), reached from the window by its place among its parent's
// children; none when it is no longer there (the tree changed since it was asked).
[[nodiscard]] AtspiAccessible* elementOf(AtspiAccessible* window, const std::vector<TreeNode>& tree,
                                         int node, CallRecord& calls);

// A window's tree kept between readings, with the elements reached in it. A tree rarely changes
// between two readings: each reading asks only the states and the numbers of children of the
// elements kept, all at once (one round trip). Where the window changed since, the children of
// the elements concerned are asked anew, and below them as fetchTree does: an element whose
// number of children differs, one now shown whose children were never asked, the parent of one
// that no longer answers.
class KeptTree {
  public:
    // Holds the window.
    explicit KeptTree(AtspiAccessible* window);
    KeptTree(const KeptTree&) = delete;
    KeptTree& operator=(const KeptTree&) = delete;
    ~KeptTree();

    [[nodiscard]] AtspiAccessible* window() const { return window_; }
    // The window's tree as it is now (see fetchTree).
    const std::vector<TreeNode>& now(const std::function<bool(const States&)>& looksInside,
                                     const TreeBounds& bounds, CallRecord& calls);
    // The element of a node of the tree now (held), as elementOf; the one reached before while
    // the tree has not changed.
    [[nodiscard]] AtspiAccessible* element(int node, CallRecord& calls);

  private:
    void forgetElements();

    AtspiAccessible* window_;  // held
    std::vector<TreeNode> tree_;
    std::vector<AtspiAccessible*> elements_;  // held, per node; none until reached
};

}  // namespace ravlin::platform::atspi
