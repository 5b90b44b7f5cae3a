#include "platform/linux/accessibility/atspi_tree.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/accessibility/atspi_calls.h"

namespace ravlin::platform::atspi {
namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";

using Clock = std::chrono::steady_clock;

// What an error answer over the bus says went wrong, in the words the backend's other failures
// use. Only the bus's own error names are named: another name is the application's own, and
// says nothing a reader of the log could use.
std::string errorKindOf(DBusMessage* reply) {
    const char* name = dbus_message_get_error_name(reply);
    const std::string_view error = name != nullptr ? name : "";
    constexpr std::string_view busErrors = "org.freedesktop.DBus.Error.";
    if (error == "org.freedesktop.DBus.Error.NoReply" ||
        error == "org.freedesktop.DBus.Error.Timeout" ||
        error == "org.freedesktop.DBus.Error.TimedOut") {
        return "no answer within the time limit";
    }
    if (error == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        error == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        error == "org.freedesktop.DBus.Error.Disconnected") {
        return "the application is gone";
    }
    if (error.starts_with(busErrors) && error.size() <= 128) {
        return "an error answered (" + std::string(error.substr(busErrors.size())) + ")";
    }
    return "an error answered";
}

// One application's connection and name, as libatspi holds them for its elements.
struct Peer {
    DBusConnection* bus = nullptr;
    const char* name = nullptr;
};

Peer peerOf(AtspiAccessible* element) {
    const AtspiObject* object = &element->parent;
    if (object->app == nullptr || object->app->bus == nullptr || object->app->bus_name == nullptr) {
        return {};
    }
    return {object->app->bus, object->app->bus_name};
}

// Requests sent together, their answers taken in order after.
class Batch {
  public:
    Batch(Peer peer, std::chrono::milliseconds timeout, CallRecord& calls)
        : peer_(peer), timeout_(static_cast<int>(timeout.count())), calls_(calls) {}
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    ~Batch() {
        for (auto* pending : pending_) {
            if (pending != nullptr) {
                dbus_pending_call_cancel(pending);
                dbus_pending_call_unref(pending);
            }
        }
    }

    // Sends a call on `path` with the arguments `append` adds; its answer is answer(the index
    // returned).
    template <class... Arguments>
    std::size_t send(const std::string& path, const char* interface, const char* method,
                     const Arguments&... arguments) {
        DBusMessage* message =
            dbus_message_new_method_call(peer_.name, path.c_str(), interface, method);
        DBusPendingCall* pending = nullptr;
        if (message != nullptr) {
            (append(message, arguments), ...);
            if (dbus_connection_send_with_reply(peer_.bus, message, &pending, timeout_) == 0) {
                pending = nullptr;
            }
            dbus_message_unref(message);
        }
        ++calls_.count;
        pending_.push_back(pending);
        paths_.push_back(path);
        return pending_.size() - 1;
    }

    // Sends what was queued at once (the first answer's wait starts the clock).
    void flush() {
        dbus_connection_flush(peer_.bus);
        started_ = Clock::now();
    }

    // The answer to one call (owned by the caller); none when it failed or did not come in time,
    // which is told to the call record as a failure of the call made in `caller` at `line`.
    DBusMessage* answer(std::size_t index, const char* caller = __builtin_FUNCTION(),
                        unsigned line = __builtin_LINE()) {
        DBusPendingCall* pending = pending_[index];
        const auto failed = [&](const std::string& kind) {
            calls_.failed(std::string(peer_.name != nullptr ? peer_.name : "?") + ' ' + paths_[index],
                          kind, caller, line);
        };
        if (pending == nullptr) {
            failed("the call could not be sent");
            return nullptr;
        }
        dbus_pending_call_block(pending);
        DBusMessage* reply = dbus_pending_call_steal_reply(pending);
        dbus_pending_call_unref(pending);
        pending_[index] = nullptr;
        calls_.worst = std::max(calls_.worst, std::chrono::duration_cast<std::chrono::microseconds>(
                                                  Clock::now() - started_));
        if (reply == nullptr) {
            failed("no answer within the time limit");
            return nullptr;
        }
        if (dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
            failed(errorKindOf(reply));
            dbus_message_unref(reply);
            return nullptr;
        }
        return reply;
    }

  private:
    static void append(DBusMessage* message, const char* text) {
        dbus_message_append_args(message, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    }
    static void append(DBusMessage* message, int number) {
        const dbus_int32_t value = number;
        dbus_message_append_args(message, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID);
    }

    Peer peer_;
    int timeout_;
    CallRecord& calls_;
    std::vector<DBusPendingCall*> pending_;
    std::vector<std::string> paths_;  // of each call, for its failure
    Clock::time_point started_ = Clock::now();
};

// GetState's answer: two words of state bits.
std::optional<States> statesIn(DBusMessage* reply) {
    DBusMessageIter iter;
    DBusMessageIter array;
    if (!dbus_message_iter_init(reply, &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&iter) != DBUS_TYPE_UINT32) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&iter, &array);
    std::uint64_t bits = 0;
    for (int word = 0; word < 2 && dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32;
         ++word) {
        dbus_uint32_t value = 0;
        dbus_message_iter_get_basic(&array, &value);
        bits |= static_cast<std::uint64_t>(value) << (32 * word);
        dbus_message_iter_next(&array);
    }
    return statesOfBits(bits);
}

// A ChildCount property's answer.
std::optional<int> countIn(DBusMessage* reply) {
    DBusMessageIter iter;
    DBusMessageIter variant;
    if (!dbus_message_iter_init(reply, &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&iter, &variant);
    if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_INT32) {
        return std::nullopt;
    }
    dbus_int32_t count = 0;
    dbus_message_iter_get_basic(&variant, &count);
    return count >= 0 ? std::optional<int>(count) : std::nullopt;
}

// GetChildAtIndex's answer: the child's path; none for no child, or another application's
// (asked through libatspi's own calls).
std::optional<std::string> childIn(DBusMessage* reply, const char* name) {
    DBusMessageIter iter;
    DBusMessageIter child;
    if (!dbus_message_iter_init(reply, &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&iter, &child);
    const char* owner = nullptr;
    const char* path = nullptr;
    if (dbus_message_iter_get_arg_type(&child) != DBUS_TYPE_STRING) {
        return std::nullopt;
    }
    dbus_message_iter_get_basic(&child, &owner);
    dbus_message_iter_next(&child);
    if (dbus_message_iter_get_arg_type(&child) != DBUS_TYPE_OBJECT_PATH) {
        return std::nullopt;
    }
    dbus_message_iter_get_basic(&child, &path);
    if (std::strcmp(owner, name) != 0 || std::strcmp(path, "/org/a11y/atspi/null") == 0) {
        return std::nullopt;
    }
    return std::string(path);
}

// Asks every node of `nodes` its states and its number of children, all at once, into the tree.
void askStatesAndCounts(Peer peer, std::vector<TreeNode>& tree, const std::vector<int>& nodes,
                        std::chrono::milliseconds timeout, CallRecord& calls) {
    Batch batch(peer, timeout, calls);
    std::vector<std::pair<std::size_t, std::size_t>> asked;
    for (const int node : nodes) {
        asked.emplace_back(batch.send(tree[node].path, accessibleInterface, "GetState"),
                           batch.send(tree[node].path, DBUS_INTERFACE_PROPERTIES, "Get",
                                      accessibleInterface, "ChildCount"));
    }
    batch.flush();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        auto& node = tree[nodes[i]];
        node.states.reset();
        node.childCount.reset();
        if (DBusMessage* reply = batch.answer(asked[i].first)) {
            node.states = statesIn(reply);
            dbus_message_unref(reply);
        }
        if (DBusMessage* reply = batch.answer(asked[i].second)) {
            node.childCount = countIn(reply);
            dbus_message_unref(reply);
        }
    }
}

// Whether a walk looks inside the node, as it answered.
bool opens(const TreeNode& node, const std::function<bool(const States&)>& looksInside,
           const TreeBounds& bounds) {
    return node.states && looksInside(*node.states) && node.childCount && *node.childCount > 0 &&
           *node.childCount <= bounds.maxChildren && node.depth < bounds.maxDepth;
}

// Asks the children of the nodes of `level` (their states and numbers of children known) that a
// walk looks inside, then those children's states and numbers of children, and so on down, a
// level at a time.
void grow(Peer peer, std::vector<TreeNode>& tree, std::vector<int> level,
          const std::function<bool(const States&)>& looksInside, const TreeBounds& bounds,
          CallRecord& calls) {
    while (!level.empty()) {
        std::vector<int> opened;
        for (const int node : level) {
            if (opens(tree[node], looksInside, bounds)) {
                tree[node].opened = true;
                opened.push_back(node);
            }
        }
        // (each child by its place, as libatspi asks: the list of children a toolkit answers
        // may hold others than it answers by place)
        std::vector<int> next;
        Batch batch(peer, bounds.timeout, calls);
        std::vector<std::pair<int, std::size_t>> asked;
        int visited = static_cast<int>(tree.size());
        for (const int node : opened) {
            for (int index = 0; index < *tree[node].childCount && visited < bounds.maxVisited;
                 ++index, ++visited) {
                asked.emplace_back(node, batch.send(tree[node].path, accessibleInterface,
                                                    "GetChildAtIndex", index));
            }
        }
        batch.flush();
        int previous = -1;
        int index = 0;
        for (const auto& [node, call] : asked) {
            index = node == previous ? index + 1 : 0;
            previous = node;
            DBusMessage* reply = batch.answer(call);
            if (reply == nullptr) {
                continue;
            }
            auto path = childIn(reply, peer.name);
            dbus_message_unref(reply);
            if (!path) {
                continue;
            }
            tree[node].children.push_back(static_cast<int>(tree.size()));
            next.push_back(static_cast<int>(tree.size()));
            tree.push_back(TreeNode{.path = std::move(*path),
                                    .parent = node,
                                    .index = index,
                                    .depth = tree[node].depth + 1});
        }
        askStatesAndCounts(peer, tree, next, bounds.timeout, calls);
        level = std::move(next);
    }
}

}  // namespace

std::vector<TreeNode> fetchTree(AtspiAccessible* window,
                                const std::function<bool(const States&)>& looksInside,
                                const TreeBounds& bounds, CallRecord& calls) {
    const Peer peer = peerOf(window);
    if (peer.bus == nullptr || window->parent.path == nullptr) {
        return {};
    }
    std::vector<TreeNode> tree{TreeNode{.path = window->parent.path}};
    askStatesAndCounts(peer, tree, {0}, bounds.timeout, calls);
    grow(peer, tree, {0}, looksInside, bounds, calls);
    return tree;
}

AtspiAccessible* elementOf(AtspiAccessible* window, const std::vector<TreeNode>& tree, int node,
                           CallRecord& calls) {
    std::vector<int> places;
    for (int at = node; tree[at].parent >= 0; at = tree[at].parent) {
        places.push_back(tree[at].index);
    }
    auto* element = static_cast<AtspiAccessible*>(g_object_ref(window));
    for (auto place = places.rbegin(); place != places.rend(); ++place) {
        auto* child = attempt(calls, element, [&](GError** e) {
                          return atspi_accessible_get_child_at_index(element, *place, e);
                      }).value_or(nullptr);
        g_object_unref(element);
        if (child == nullptr) {
            return nullptr;
        }
        element = child;
    }
    const char* path = element->parent.path;
    if (path == nullptr || tree[node].path != path) {
        g_object_unref(element);
        return nullptr;
    }
    return element;
}

KeptTree::KeptTree(AtspiAccessible* window)
    : window_(static_cast<AtspiAccessible*>(g_object_ref(window))) {}

KeptTree::~KeptTree() {
    forgetElements();
    g_object_unref(window_);
}

void KeptTree::forgetElements() {
    for (auto* element : elements_) {
        if (element != nullptr) {
            g_object_unref(element);
        }
    }
    elements_.clear();
}

const std::vector<TreeNode>& KeptTree::now(const std::function<bool(const States&)>& looksInside,
                                           const TreeBounds& bounds, CallRecord& calls) {
    const Peer peer = peerOf(window_);
    if (tree_.empty() || peer.bus == nullptr) {
        forgetElements();
        tree_ = fetchTree(window_, looksInside, bounds, calls);
        elements_.assign(tree_.size(), nullptr);
        return tree_;
    }
    std::vector<int> all(tree_.size());
    std::vector<std::optional<int>> before(tree_.size());
    for (std::size_t node = 0; node < tree_.size(); ++node) {
        all[node] = static_cast<int>(node);
        before[node] = tree_[node].childCount;
    }
    askStatesAndCounts(peer, tree_, all, bounds.timeout, calls);
    const auto answered = [&](int node) {
        return tree_[node].states.has_value() && tree_[node].childCount.has_value();
    };
    if (!answered(0)) {
        // The window does not answer: nothing more is asked of it in this reading.
        tree_.resize(1);
        tree_.front().children.clear();
        tree_.front().opened = false;
        forgetElements();
        elements_.assign(1, nullptr);
        return tree_;
    }
    // The elements whose children are asked anew: one whose number of children changed, one now
    // shown whose children were never asked, the parent of one that no longer answers.
    std::vector<bool> stale(tree_.size(), false);
    bool changed = false;
    for (std::size_t node = 1; node < tree_.size(); ++node) {
        const auto& each = tree_[node];
        if (!answered(static_cast<int>(node))) {
            int up = each.parent;
            while (up > 0 && !answered(up)) {
                up = tree_[up].parent;
            }
            stale[up] = changed = true;
        } else if (each.childCount != before[node] ||
                   (!each.opened && opens(each, looksInside, bounds))) {
            stale[node] = changed = true;
        }
    }
    const auto& window = tree_.front();
    if (window.childCount != before.front() ||
        (!window.opened && opens(window, looksInside, bounds))) {
        stale.front() = changed = true;
    }
    if (!changed) {
        return tree_;
    }
    // The tree as kept without what lies below those, then their children asked anew.
    std::vector<TreeNode> kept;
    std::vector<AtspiAccessible*> keptElements;
    std::vector<int> reopened;
    std::function<void(int, int)> keep = [&](int node, int parent) {
        const int at = static_cast<int>(kept.size());
        kept.push_back(tree_[node]);
        kept.back().parent = parent;
        kept.back().children.clear();
        keptElements.push_back(std::exchange(elements_[node], nullptr));
        if (parent >= 0) {
            kept[parent].children.push_back(at);
        }
        if (stale[node]) {
            kept[at].opened = false;
            reopened.push_back(at);
            return;
        }
        for (const int child : tree_[node].children) {
            keep(child, at);
        }
    };
    keep(0, -1);
    forgetElements();
    tree_ = std::move(kept);
    elements_ = std::move(keptElements);
    grow(peer, tree_, std::move(reopened), looksInside, bounds, calls);
    elements_.resize(tree_.size(), nullptr);
    return tree_;
}

AtspiAccessible* KeptTree::element(int node, CallRecord& calls) {
    auto& known = elements_[node];
    if (known == nullptr) {
        known = elementOf(window_, tree_, node, calls);
    }
    return known != nullptr ? static_cast<AtspiAccessible*>(g_object_ref(known)) : nullptr;
}

}  // namespace ravlin::platform::atspi
