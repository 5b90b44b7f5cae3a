// Which application is in front, which of its elements has the focus, and whether that is a
// password field. Which element to take where several claim the focus: focus_choice.h.

#include <atspi/atspi.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <functional>

#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/atspi_element_calls.h"
#include "platform/linux/accessibility/atspi_tree.h"
#include "platform/linux/accessibility/focus_choice.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

// --- Applications

AtspiAccessible* AtspiAccessibility::application(ProcessID pid) {
    if (pid == self_ || pid <= 0) {
        return nullptr;
    }
    refreshApplications();
    const auto known = std::ranges::find(applications_, pid, &KnownApplication::pid);
    return known != applications_.end()
               ? static_cast<AtspiAccessible*>(g_object_ref(known->application))
               : nullptr;
}

void AtspiAccessibility::refreshApplications() {
    // libatspi keeps the registry's list of applications itself; only an application's process
    // is a call (to the bus daemon), made once while the application lives.
    Held<AtspiAccessible> desktop(atspi_get_desktop(0));
    std::vector<KnownApplication> now;
    const auto listed = desktop ? attempt(calls_, desktop.get(),
                                          [&](GError** e) {
                                              return atspi_accessible_get_child_count(
                                                  desktop.get(), e);
                                          })
                                : std::nullopt;
    const auto count = listed.value_or(0);
    for (int i = 0; i < std::min(count, maxChildren); ++i) {
        auto* child = attempt(calls_, desktop.get(), [&](GError** e) {
                          return atspi_accessible_get_child_at_index(desktop.get(), i, e);
                      }).value_or(nullptr);
        if (child == nullptr) {
            continue;
        }
        const auto known = std::ranges::find(applications_, child, &KnownApplication::application);
        if (known != applications_.end()) {
            // (its reference moves over)
            now.push_back(*known);
            known->application = nullptr;
            g_object_unref(child);
            continue;
        }
        const auto owner = attempt(
            calls_, child, [&](GError** e) { return atspi_accessible_get_process_id(child, e); });
        if (!owner) {
            g_object_unref(child);
            continue;
        }
        now.push_back(
            KnownApplication{.application = child, .pid = static_cast<ProcessID>(*owner)});
    }
    // Those gone from the bus are forgotten, with the password fields seen in them.
    for (auto& gone : applications_) {
        if (gone.application != nullptr) {
            g_object_unref(gone.application);
        }
    }
    applications_ = std::move(now);
    if (!listed) {
        // (a registry that did not answer tells nothing of who left)
        return;
    }
    forgetPasswords([&](const SeenPassword& seen) {
        return std::ranges::find(applications_, seen.pid, &KnownApplication::pid) ==
               applications_.end();
    });
}

// --- The focused element

Expected<std::pair<AtspiAccessible*, ProcessID>> AtspiAccessibility::focused() {
    // One search a turn: the reads of one pass ask where the focus is several times.
    if (focusAnswer_.turn != turn_) {
        if (focusAnswer_.element != nullptr) {
            g_object_unref(focusAnswer_.element);
        }
        focusAnswer_ = FocusAnswer{.turn = turn_};
        auto found = searchFocus();
        if (found) {
            focusAnswer_.element = found->first;
            focusAnswer_.pid = found->second;
        } else {
            focusAnswer_.error = found.error();
        }
        endTurnSoon();
    }
    if (focusAnswer_.element == nullptr) {
        return focusAnswer_.error;
    }
    return std::pair{static_cast<AtspiAccessible*>(g_object_ref(focusAnswer_.element)),
                     focusAnswer_.pid};
}

Expected<std::pair<AtspiAccessible*, ProcessID>> AtspiAccessibility::searchFocus() {
    const auto active = activeWindow_ ? activeWindow_() : std::nullopt;
    if (active) {
        // Only the active window's process: another application may still show a focus it
        // lost a moment ago.
        if (active->pid == self_) {
            return Error{ErrorCode::notFound, "our own window is in front"};
        }
        Held<AtspiAccessible> app(application(active->pid));
        if (!app) {
            return Error{ErrorCode::notFound, "the active application is not accessible"};
        }
        if (AtspiAccessible* found = focusIn(app.get(), active->pid, &*active)) {
            return std::pair{found, active->pid};
        }
        return Error{ErrorCode::notFound, "nothing has the focus"};
    }
    // No usable active window: the first focus of any other application.
    refreshApplications();
    const auto running = applications_;
    for (const auto& each : running) {
        g_object_ref(each.application);
    }
    std::optional<std::pair<AtspiAccessible*, ProcessID>> first;
    for (const auto& each : running) {
        if (!first && each.pid != self_) {
            if (AtspiAccessible* found = focusIn(each.application, each.pid, nullptr)) {
                first = std::pair{found, each.pid};
            }
        }
        g_object_unref(each.application);
    }
    if (first) {
        return *first;
    }
    return Error{ErrorCode::notFound, "nothing has the focus"};
}

AtspiAccessible* AtspiAccessibility::focusIn(AtspiAccessible* app, ProcessID pid,
                                             const ActiveWindow* active) {
    // libatspi answers states from a cache kept fresh by events; read the application anew so
    // a focus that moved a moment ago is not missed.
    atspi_accessible_clear_cache(app);
    const Toolkit& rules = toolkitOf(app);
    // Its windows, with what tells them apart: their names (titles), which one is active.
    std::vector<AtspiAccessible*> windows;
    std::vector<BusWindow> shown;
    const auto count = attempt(calls_, app, [&](GError** e) {
                           return atspi_accessible_get_child_count(app, e);
                       }).value_or(0);
    for (int i = 0; i < std::min(count, maxChildren); ++i) {
        auto* window = attempt(calls_, app, [&](GError** e) {
                           return atspi_accessible_get_child_at_index(app, i, e);
                       }).value_or(nullptr);
        if (window == nullptr) {
            continue;
        }
        BusWindow each{.active = states(window).value_or(States{}).active};
        if (active != nullptr) {
            auto* name = attempt(calls_, window, [&](GError** e) {
                             return atspi_accessible_get_name(window, e);
                         }).value_or(nullptr);
            each.name = name != nullptr ? name : "";
            g_free(name);
        }
        windows.push_back(window);
        shown.push_back(std::move(each));
    }
    const auto groups = windowsToSearch(shown, active);
    const auto windowsOf = [&](const std::vector<std::size_t>& group) {
        std::vector<AtspiAccessible*> chosen;
        for (const auto index : group) {
            chosen.push_back(windows[index]);
        }
        return chosen;
    };
    AtspiAccessible* found = nullptr;
    Remembered* known = remembered(pid);
    if (!groups.empty() && known != nullptr &&
        stillHasFocus(*known, windowsOf(groups.front()), rules)) {
        // Where it was last found, it still is.
        found = static_cast<AtspiAccessible*>(g_object_ref(known->element));
    }
    for (std::size_t i = 0; found == nullptr && i < groups.size(); ++i) {
        AtspiAccessible* window = nullptr;
        std::vector<Link> links;
        found = focusAmong(rules, windowsOf(groups[i]), pid, &window, &links);
        if (found != nullptr) {
            rememberFocus(static_cast<AtspiAccessible*>(g_object_ref(found)), pid,
                          static_cast<AtspiAccessible*>(g_object_ref(window)), false,
                          std::move(links));
        }
    }
    for (auto* window : windows) {
        g_object_unref(window);
    }
    return found;
}

AtspiAccessible* AtspiAccessibility::focusAmong(const Toolkit& rules,
                                                std::span<AtspiAccessible* const> windows,
                                                ProcessID pid, AtspiAccessible** window,
                                                std::vector<Link>* links) {
    // The element a focus event named last in this application, if that is what is remembered.
    const Remembered* known = remembered(pid);
    const AtspiAccessible* named = known != nullptr && known->fromEvent ? known->element : nullptr;
    int visited = 0;
    bool stalled = false;
    bool ended = false;
    // Those met, in order, each held, with the window it is in and the way down to it there
    // (each step held; none where the window is asked a level at a time).
    struct Met {
        AtspiAccessible* element = nullptr;
        AtspiAccessible* window = nullptr;
        std::vector<std::pair<AtspiAccessible*, int>> way;
    };
    std::vector<FocusCandidate> met;
    std::vector<Met> elements;
    AtspiAccessible* searching = nullptr;
    // The way down the walk has taken to the element it looks at (not held: the walk holds it).
    std::vector<std::pair<AtspiAccessible*, int>> way;
    // Those met on the way down to the element the walk looks at (indexes into `met`): an
    // element met below them that can hold the keyboard makes them stand in for it.
    std::vector<std::size_t> around;
    // Meets an element that claims the focus (or may hold it unsaid): the index it was kept
    // at, if kept.
    const auto meet = [&](AtspiAccessible* node, const States& now) -> std::optional<std::size_t> {
        FocusCandidate candidate;
        if (now.focused) {
            Held<AtspiText> text(atspi_accessible_get_text_iface(node));
            candidate.takesText = static_cast<bool>(text);
            candidate.editable = rules.isEditable(now);
            candidate.claim = rules.focusClaim(now, candidate.takesText);
            if (candidate.claim == FocusClaim::holds && text) {
                candidate.caret = attempt(calls_, text.get(), [&](GError** e) {
                    return atspi_text_get_caret_offset(text.get(), e);
                });
            }
            candidate.latestEvent = node == named;
        } else {
            // (text fields only: a spin button or a list claims no focus it does not hold)
            const auto role = attempt(
                calls_, node, [&](GError** e) { return atspi_accessible_get_role(node, e); });
            if (role != ATSPI_ROLE_TEXT && role != ATSPI_ROLE_ENTRY) {
                return std::nullopt;
            }
            candidate.unsaid = true;
            candidate.takesText = true;
        }
        if (candidate.claim == FocusClaim::holds && !candidate.unsaid) {
            for (const auto index : around) {
                met[index].enclosesAnother = true;
            }
        }
        if (!endsFocusSearch(candidate) && met.size() >= maxFocusCandidates) {
            return std::nullopt;
        }
        met.push_back(candidate);
        Met each{.element = static_cast<AtspiAccessible*>(g_object_ref(node)),
                 .window = searching,
                 .way = way};
        for (auto& step : each.way) {
            g_object_ref(step.first);
        }
        elements.push_back(std::move(each));
        // A field the person types into, holding the keyboard with its caret there, ends the
        // search at once: nothing inside a field takes the keyboard from it (and a rich editor's
        // paragraphs are not asked).
        ended = ended || endsFocusSearch(candidate);
        return met.size() - 1;
    };
    // Once the walk has looked inside an element it met: whether the search ends there.
    const auto leave = [&](std::optional<std::size_t> index) {
        if (index) {
            around.pop_back();
            ended = ended || endsFocusSearch(met[*index]);
        }
    };
    std::function<void(AtspiAccessible*, int)> walk = [&](AtspiAccessible* node, int depth) {
        if (ended || stalled || depth > maxDepth || ++visited > maxVisited) {
            return;
        }
        const auto now = states(node);
        if (!now) {
            stalled = true;
            return;
        }
        std::optional<std::size_t> index;
        if (now->focused || rules.mayHoldFocusUnsaid(*now)) {
            index = meet(node, *now);
        }
        if (index) {
            around.push_back(*index);
        }
        // (inside it: an element there with the keyboard is the one, not this one around it)
        const auto count =
            rules.showsChildren(*now)
                ? attempt(calls_, node,
                          [&](GError** e) { return atspi_accessible_get_child_count(node, e); })
                : std::optional<int>(0);
        if (!count) {
            // A target that does not answer gets no further calls in this search.
            stalled = true;
            leave(index);
            return;
        }
        // Children too many to visit are not looked through (a spreadsheet's cells: the one
        // being edited has its text elsewhere).
        for (int i = 0; *count <= maxChildren && i < *count && !ended && !stalled; ++i) {
            Held<AtspiAccessible> child(attempt(calls_, node, [&](GError** e) {
                                            return atspi_accessible_get_child_at_index(node, i, e);
                                        }).value_or(nullptr));
            if (child) {
                way.emplace_back(child.get(), i);
                walk(child.get(), depth + 1);
                way.pop_back();
            }
        }
        leave(index);
    };
    // The same walk over a window's tree asked a level at a time.
    KeptTree* kept = nullptr;
    const auto walkTree = [&](const std::vector<TreeNode>& tree) {
        std::function<void(int)> visit = [&](int at) {
            const auto& node = tree[at];
            if (ended || stalled) {
                return;
            }
            if (!node.states) {
                stalled = true;
                return;
            }
            const auto& now = *node.states;
            std::optional<std::size_t> index;
            if (now.focused || rules.mayHoldFocusUnsaid(now)) {
                // (gone since it was asked: not met)
                if (Held<AtspiAccessible> element(kept->element(at, calls_)); element) {
                    index = meet(element.get(), now);
                }
            }
            if (index) {
                around.push_back(*index);
            }
            if (rules.showsChildren(now)) {
                if (!node.childCount) {
                    stalled = true;
                } else {
                    for (const int child : node.children) {
                        visit(child);
                    }
                }
            }
            leave(index);
        };
        visit(0);
    };
    for (auto* each : windows) {
        searching = each;
        if (rules.asksALevelAtATime()) {
            kept = &keptTree(each);
            const auto& tree = kept->now(
                [&](const States& states) { return rules.showsChildren(states); },
                TreeBounds{.maxDepth = maxDepth,
                           .maxVisited = maxVisited,
                           .maxChildren = maxChildren,
                           .timeout = callTimeout},
                calls_);
            if (!tree.empty()) {
                walkTree(tree);
                continue;
            }
        }
        walk(each, 1);
    }
    const auto chosen = chooseFocus(met);
    AtspiAccessible* found = nullptr;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        auto& each = elements[i];
        if (chosen == i) {
            found = each.element;
            *window = each.window;
            *links = linksOf(each.window, each.way);
        } else {
            g_object_unref(each.element);
        }
        for (auto& step : each.way) {
            g_object_unref(step.first);
        }
    }
    return found;
}

std::vector<AtspiAccessibility::Link> AtspiAccessibility::linksOf(
    AtspiAccessible* window, std::span<const std::pair<AtspiAccessible*, int>> way) {
    std::vector<Link> links;
    const auto link = [&](std::size_t step) {
        auto* parent = step == 0 ? window : way[step - 1].first;
        links.push_back(Link{.parent = static_cast<AtspiAccessible*>(g_object_ref(parent)),
                             .index = way[step].second,
                             .child = static_cast<AtspiAccessible*>(g_object_ref(way[step].first))});
    };
    for (std::size_t step = 0; step + 1 < way.size(); ++step) {
        auto* node = way[step].first;
        const auto role = attempt(
            calls_, node, [&](GError** e) { return atspi_accessible_get_role(node, e); });
        if (role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME) {
            link(step);
        }
    }
    if (!way.empty()) {
        link(way.size() - 1);
    }
    return links;
}

KeptTree& AtspiAccessibility::keptTree(AtspiAccessible* window) {
    const auto known = std::ranges::find_if(
        keptTrees_, [&](const auto& kept) { return kept->window() == window; });
    if (known != keptTrees_.end()) {
        std::rotate(known, known + 1, keptTrees_.end());
        return *keptTrees_.back();
    }
    if (keptTrees_.size() >= maxKeptTrees) {
        keptTrees_.erase(keptTrees_.begin());
    }
    return *keptTrees_.emplace_back(std::make_unique<KeptTree>(window));
}

AtspiAccessible* AtspiAccessibility::windowOf(AtspiAccessible* element, std::vector<Link>* links) {
    // The way up, each step held with its place below its parent.
    std::vector<std::pair<AtspiAccessible*, int>> way;
    auto* node = static_cast<AtspiAccessible*>(g_object_ref(element));
    AtspiAccessible* window = nullptr;
    for (int depth = 0; depth < maxDepth; ++depth) {
        Held<AtspiAccessible> parent(attempt(calls_, node, [&](GError** e) {
                                         return atspi_accessible_get_parent(node, e);
                                     }).value_or(nullptr));
        const auto role =
            parent ? attempt(calls_, parent.get(),
                             [&](GError** e) { return atspi_accessible_get_role(parent.get(), e); })
                   : std::nullopt;
        if (!role) {
            break;
        }
        if (*role == ATSPI_ROLE_APPLICATION) {
            window = node;
            break;
        }
        const auto index = attempt(calls_, node, [&](GError** e) {
                               return atspi_accessible_get_index_in_parent(node, e);
                           }).value_or(-1);
        way.emplace_back(node, index);
        node = static_cast<AtspiAccessible*>(g_object_ref(parent.get()));
    }
    if (window == nullptr) {
        g_object_unref(node);
    } else if (links != nullptr) {
        std::ranges::reverse(way);
        *links = linksOf(window, way);
    }
    for (auto& step : way) {
        g_object_unref(step.first);
    }
    return window;
}

// --- The focus remembered

AtspiAccessibility::Remembered* AtspiAccessibility::remembered(ProcessID pid) {
    const auto known = std::ranges::find(lastFocus_, pid, &Remembered::pid);
    return known != lastFocus_.end() ? &*known : nullptr;
}

bool AtspiAccessibility::stillHasFocus(Remembered& known,
                                       std::span<AtspiAccessible* const> windows,
                                       const Toolkit& rules) {
    if (known.window == nullptr) {
        // (named by a focus event: where it stands is looked up once)
        known.window = windowOf(known.element, &known.links);
    }
    if (known.window == nullptr || std::ranges::find(windows, known.window) == windows.end()) {
        return false;
    }
    // Its states as they are now (the cache may hold those of an earlier event).
    atspi_accessible_clear_cache(known.element);
    const auto now = states(known.element);
    if (!now || !now->focused || !rules.showsChildren(*now) || now->defunct) {
        return false;
    }
    // Still where it was found: each place asked afresh (a call each) still holds what it held.
    for (const auto& link : known.links) {
        atspi_accessible_clear_cache(link.parent);
        const Held<AtspiAccessible> child(attempt(calls_, link.parent, [&](GError** e) {
                                              return atspi_accessible_get_child_at_index(
                                                  link.parent, link.index, e);
                                          }).value_or(nullptr));
        if (child.get() != link.child) {
            return false;
        }
    }
    // Only a field the person types into, with its caret there, ends a search: another element
    // may be the one that has the keyboard beside (or inside) an element that only claims it,
    // as a web page's document does around the input clicked after a click on the page.
    if (!rules.isEditable(*now)) {
        return false;
    }
    Held<AtspiText> text(atspi_accessible_get_text_iface(known.element));
    const auto caret =
        text ? attempt(calls_, text.get(),
                       [&](GError** e) { return atspi_text_get_caret_offset(text.get(), e); })
             : std::nullopt;
    return caret && *caret >= 0;
}

void AtspiAccessibility::forget(Remembered& known) {
    g_object_unref(known.element);
    if (known.window != nullptr) {
        g_object_unref(known.window);
    }
    forgetLinks(known.links);
}

void AtspiAccessibility::forgetLinks(std::vector<Link>& links) {
    for (auto& link : links) {
        g_object_unref(link.parent);
        g_object_unref(link.child);
    }
    links.clear();
}

void AtspiAccessibility::rememberFocus(AtspiAccessible* object, ProcessID pid,
                                       AtspiAccessible* window, bool fromEvent,
                                       std::vector<Link> links) {
    if (Remembered* known = remembered(pid)) {
        forget(*known);
        lastFocus_.erase(lastFocus_.begin() + (known - lastFocus_.data()));
    }
    if (lastFocus_.size() >= maxRememberedFocus) {
        forget(lastFocus_.front());
        lastFocus_.erase(lastFocus_.begin());
    }
    lastFocus_.push_back(Remembered{.pid = pid,
                                    .element = object,
                                    .window = window,
                                    .fromEvent = fromEvent,
                                    .links = std::move(links)});
}

// --- Applications and their toolkits

std::optional<States> AtspiAccessibility::states(AtspiAccessible* object) {
    const auto set = attempt(calls_, object, [&](GError** e) {
        (void)e;
        return atspi_accessible_get_state_set(object);
    });
    if (!set || *set == nullptr) {
        return std::nullopt;
    }
    const auto read = statesOf(*set);
    g_object_unref(*set);
    return read;
}

const Toolkit& AtspiAccessibility::toolkitOf(AtspiAccessible* app) {
    const auto known = std::ranges::find(applications_, app, &KnownApplication::application);
    if (known != applications_.end() && known->toolkit != nullptr) {
        return *known->toolkit;
    }
    auto* name = attempt(calls_, app, [&](GError** e) {
                     return atspi_accessible_get_toolkit_name(app, e);
                 }).value_or(nullptr);
    auto* version =
        name != nullptr
            ? attempt(calls_, app,
                      [&](GError** e) { return atspi_accessible_get_toolkit_version(app, e); })
                  .value_or(nullptr)
            : nullptr;
    const Toolkit& rules = toolkitNamed(name != nullptr ? name : "", version != nullptr ? version : "");
    // (an application that did not answer is asked again)
    if (known != applications_.end() && name != nullptr) {
        known->toolkit = &rules;
    }
    g_free(name);
    g_free(version);
    return rules;
}

const Toolkit& AtspiAccessibility::toolkit(Entry& entry) {
    if (entry.toolkit == nullptr) {
        const auto known = std::ranges::find(applications_, entry.pid, &KnownApplication::pid);
        if (known != applications_.end() && known->toolkit != nullptr) {
            entry.toolkit = known->toolkit;
            return *entry.toolkit;
        }
        // The application knows its toolkit; its elements need not.
        Held<AtspiAccessible> app(applicationOf(entry));
        entry.toolkit = app ? &toolkitOf(app.get()) : &atkToolkit();
    }
    return *entry.toolkit;
}

AtspiAccessible* AtspiAccessibility::applicationOf(Entry& entry) {
    // (libatspi finds it by asking each ancestor its parent in turn: a call for each level where
    // the application answers over the bus itself)
    const auto known = std::ranges::find(applications_, entry.pid, &KnownApplication::pid);
    if (known != applications_.end()) {
        return static_cast<AtspiAccessible*>(g_object_ref(known->application));
    }
    return attempt(calls_, entry.object, [&](GError** e) {
               return atspi_accessible_get_application(entry.object, e);
           }).value_or(nullptr);
}

Expected<ElementRef> AtspiAccessibility::applicationElement(ProcessID pid) {
    AtspiAccessible* app = application(pid);
    if (app == nullptr) {
        return Error{ErrorCode::notFound, "no such application"};
    }
    return remember(app, pid);
}

Expected<ProcessID> AtspiAccessibility::processID(ElementRef element) {
    auto entry = lookup(element);
    if (!entry) {
        return entry.error();
    }
    return (*entry)->pid;
}

std::optional<bool> AtspiAccessibility::isPasswordField(Entry& entry) {
    if (const auto known = reading(entry).password) {
        return known;
    }
    const auto known = role(entry);
    if (!known) {
        return std::nullopt;
    }
    if (*known == ATSPI_ROLE_PASSWORD_TEXT) {
        notePassword(entry);
    } else if ((*known == ATSPI_ROLE_TEXT || *known == ATSPI_ROLE_ENTRY) && wasPassword(entry)) {
        return reading(entry).password = true;
    }
    Calls calls(*this, entry);
    return reading(entry).password =
               toolkit(entry).isPassword(static_cast<AtspiRole>(*known), calls);
}

// --- Fields once seen as password fields

std::pair<AtspiAccessible*, int> AtspiAccessibility::placeOf(AtspiAccessible* object) {
    auto* parent = attempt(calls_, object, [&](GError** e) {
                       return atspi_accessible_get_parent(object, e);
                   }).value_or(nullptr);
    if (parent == nullptr) {
        return {nullptr, -1};
    }
    const auto index = attempt(calls_, object, [&](GError** e) {
        return atspi_accessible_get_index_in_parent(object, e);
    });
    return {parent, index.value_or(-1)};
}

void AtspiAccessibility::notePassword(Entry& entry) {
    if (std::ranges::find(seenPasswords_, entry.object, &SeenPassword::element) !=
        seenPasswords_.end()) {
        return;
    }
    if (seenPasswords_.size() >= maxSeenPasswords) {
        const auto* oldest = seenPasswords_.front().element;
        forgetPasswords([&](const SeenPassword& seen) { return seen.element == oldest; });
    }
    const auto [parent, index] = placeOf(entry.object);
    seenPasswords_.push_back(SeenPassword{
        .pid = entry.pid,
        .element = static_cast<AtspiAccessible*>(g_object_ref(entry.object)),
        .parent = parent,
        .index = index,
    });
}

bool AtspiAccessibility::wasPassword(Entry& entry) {
    const auto ofItsApplication = [&](const SeenPassword& seen) { return seen.pid == entry.pid; };
    if (std::ranges::none_of(seenPasswords_, ofItsApplication)) {
        return false;
    }
    if (std::ranges::find(seenPasswords_, entry.object, &SeenPassword::element) !=
        seenPasswords_.end()) {
        return true;
    }
    // Put in the place of one (asked only where its application had one).
    const auto place = placeOf(entry.object);
    const Held<AtspiAccessible> parent(place.first);
    return parent && place.second >= 0 &&
           std::ranges::any_of(seenPasswords_, [&](const SeenPassword& seen) {
               return seen.parent == parent.get() && seen.index == place.second;
           });
}

void AtspiAccessibility::forgetPasswords(const std::function<bool(const SeenPassword&)>& gone) {
    std::erase_if(seenPasswords_, [&](const SeenPassword& seen) {
        if (!gone(seen)) {
            return false;
        }
        g_object_unref(seen.element);
        if (seen.parent != nullptr) {
            g_object_unref(seen.parent);
        }
        return true;
    });
}

// --- What the person typed

bool AtspiAccessibility::noteTypedKey(const TypedRun::View& run,
                                      const std::function<std::size_t()>& keysWaiting) {
    if (typedInto_.run != run.run) {
        if (typedInto_.field != nullptr) {
            g_object_unref(typedInto_.field);
        }
        typedInto_ = TypedInto{.run = run.run};
    }
    if (run.times == 0) {
        return false;
    }
    // (the application's toolkit first: no field of another is looked for on a key)
    const auto active = activeWindow_ ? activeWindow_() : std::nullopt;
    Held<AtspiAccessible> app(active ? application(active->pid) : nullptr);
    if (!app || !toolkitOf(app.get()).followsTypedKeys()) {
        return false;
    }
    auto found = focused();
    if (!found) {
        return false;
    }
    auto known = lookup(remember(found->first, found->second));
    if (!known) {
        return false;
    }
    Entry& entry = **known;
    if (!toolkit(entry).followsTypedKeys() ||
        (typedInto_.field != nullptr && typedInto_.field != entry.object)) {
        return false;
    }
    // It holds no more than the run's keys have typed (those the taps have not heard of yet
    // counted too: the field may have had them; asked after the count, so none is missed).
    const auto each =
        usesUtf16(entry) ? static_cast<std::size_t>(run.character.size())
                         : static_cast<std::size_t>(u_countChar32(
                               reinterpret_cast<const UChar*>(run.character.data()),
                               static_cast<int32_t>(run.character.size())));
    const auto count = characterCount(entry);
    if (!count || static_cast<std::size_t>(*count) >
                      (std::max(run.times, run.before) + (keysWaiting ? keysWaiting() : 0)) * each) {
        return false;
    }
    if (typedInto_.field == nullptr) {
        typedInto_.field = static_cast<AtspiAccessible*>(g_object_ref(entry.object));
    }
    typedInto_.times = run.times;
    // Whether it is a password field, its line allowed the keys on their way too (the field may
    // show them already); the verdict is not kept for the action, which wants the run exactly.
    typedAhead_ = &keysWaiting;
    const auto password = isPasswordField(entry);
    typedAhead_ = nullptr;
    reading(entry).password.reset();
    return password == false;
}

bool AtspiAccessibility::showsWhatWasTyped(Entry& entry, std::u16string_view line) {
    const auto run = typedRun_ ? typedRun_() : TypedRun::View{};
    if (run.times == 0 || typedInto_.run != run.run || typedInto_.field != entry.object ||
        typedInto_.times != run.times) {
        return false;
    }
    // The run, or (its last key still on its way) the run before it; while a key is noted, also
    // the run with the keys the taps have not heard of yet (asked after the line was read).
    const auto size = run.character.size();
    if (line.empty() || line.size() % size != 0) {
        return false;
    }
    for (std::size_t at = 0; at < line.size(); at += size) {
        if (line.substr(at, size) != run.character) {
            return false;
        }
    }
    const auto times = line.size() / size;
    return times == run.times || times == run.before ||
           (times > run.times && typedAhead_ != nullptr && *typedAhead_ &&
            times <= run.times + (*typedAhead_)());
}

SecureInput::State AtspiAccessibility::secureInputState() {
    using State = SecureInput::State;
    const auto isPassword = [this](AtspiAccessible* object, ProcessID pid) {
        // Takes over the caller's reference.
        auto entry = lookup(remember(object, pid));
        return entry ? isPasswordField(**entry) : std::nullopt;
    };
    if (auto found = focused()) {
        const auto password = isPassword(found->first, found->second);
        return !password ? State::unknown : *password ? State::on : State::off;
    }
    // Not found now: the field last reported focused in that application may still have the
    // focus. It can only tell a password field: another one may have lost the focus since.
    const auto active = activeWindow_ ? activeWindow_() : std::nullopt;
    if (active && active->pid != self_) {
        if (const Remembered* known = remembered(active->pid);
            known != nullptr &&
            isPassword(static_cast<AtspiAccessible*>(g_object_ref(known->element)),
                       active->pid) == true) {
            return State::on;
        }
    }
    return State::unknown;
}

Subscription AtspiAccessibility::observeFocus(std::function<void(ElementRef)> onFocus) {
    // Only on demand: while anyone listens for events, every Qt program on the desktop (this
    // one too) sends each of its key presses through the accessibility registry first.
    if (focusListener_ == nullptr) {
        focusListener_ = atspi_event_listener_new(
            [](AtspiEvent* event, void* data) {
                if (event->detail1 == 1 && event->source != nullptr) {
                    static_cast<AtspiAccessibility*>(data)->onFocusEvent(event->source);
                }
                g_boxed_free(ATSPI_TYPE_EVENT, event);
            },
            this, nullptr);
        atspi_event_listener_register(focusListener_, "object:state-changed:focused", nullptr);
    }
    return focusObservers_.add(std::move(onFocus));
}

void AtspiAccessibility::onFocusEvent(AtspiAccessible* source) {
    // Our own events go first, before anything could ask our own accessibles a question.
    const auto pid = attempt(
        calls_, source, [&](GError** e) { return atspi_accessible_get_process_id(source, e); });
    if (!pid || static_cast<ProcessID>(*pid) == self_) {
        return;
    }
    rememberFocus(static_cast<AtspiAccessible*>(g_object_ref(source)),
                  static_cast<ProcessID>(*pid), nullptr, true);
    const auto element =
        remember(static_cast<AtspiAccessible*>(g_object_ref(source)), static_cast<ProcessID>(*pid));
    focusObservers_.notify(element);
}

}  // namespace ravlin::platform
