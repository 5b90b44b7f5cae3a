#include "platform/linux/accessibility/focus_choice.h"

#include <algorithm>
#include <array>

namespace ravlin::platform::atspi {

bool namesWindow(std::string_view name, std::string_view title) {
    if (name.empty() || title.empty()) {
        return false;
    }
    return name == title || (title.size() > name.size() && title.starts_with(name) &&
                             title[name.size()] == ' ');
}

std::vector<std::vector<std::size_t>> windowsToSearch(std::span<const BusWindow> windows,
                                                      const ActiveWindow* active) {
    // Dialogs, the window itself, windows without a name.
    std::array<std::vector<std::size_t>, 3> saidActive;
    std::array<std::vector<std::size_t>, 2> titled;
    std::vector<std::size_t> otherwiseActive;
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto& each = windows[i];
        all.push_back(i);
        const bool dialog =
            active != nullptr && std::ranges::any_of(active->dialogTitles, [&](const auto& title) {
                return namesWindow(each.name, title);
            });
        const bool window = active != nullptr && namesWindow(each.name, active->title);
        const int kind = dialog ? 0 : window ? 1 : each.name.empty() ? 2 : -1;
        if (each.active) {
            (kind >= 0 ? saidActive[static_cast<std::size_t>(kind)] : otherwiseActive).push_back(i);
        } else if (kind == 0 || kind == 1) {
            titled[static_cast<std::size_t>(kind)].push_back(i);
        }
    }
    std::vector<std::vector<std::size_t>> groups;
    const bool anyTitled = !saidActive[0].empty() || !saidActive[1].empty() ||
                           !titled[0].empty() || !titled[1].empty();
    if (anyTitled) {
        // (a window without a name goes with the window that has the keyboard)
        saidActive[1].insert(saidActive[1].end(), saidActive[2].begin(), saidActive[2].end());
        for (auto* group : {&saidActive[0], &saidActive[1], &titled[0], &titled[1]}) {
            if (!group->empty()) {
                groups.push_back(std::move(*group));
            }
        }
        return groups;
    }
    // No window bears those titles: the toolkit's word alone.
    auto group = saidActive[2];
    group.insert(group.end(), otherwiseActive.begin(), otherwiseActive.end());
    std::ranges::sort(group);
    if (group.empty()) {
        group = std::move(all);
    }
    if (!group.empty()) {
        groups.push_back(std::move(group));
    }
    return groups;
}

bool endsFocusSearch(const FocusCandidate& candidate) {
    return candidate.claim == FocusClaim::holds && candidate.takesText && candidate.editable &&
           candidate.caret && *candidate.caret >= 0 && !candidate.unsaid &&
           !candidate.enclosesAnother;
}

std::optional<std::size_t> chooseFocus(std::span<const FocusCandidate> met) {
    const auto first = [&](auto&& test) -> std::optional<std::size_t> {
        const auto found = std::ranges::find_if(met, test);
        return found != met.end() ? std::optional(static_cast<std::size_t>(found - met.begin()))
                                  : std::nullopt;
    };
    if (const auto found = first(endsFocusSearch)) {
        return found;
    }
    if (const auto found = first([](const auto& c) { return c.latestEvent && !c.unsaid; })) {
        return found;
    }
    const auto holds = [](const FocusCandidate& c) {
        return !c.unsaid && c.claim == FocusClaim::holds && !c.enclosesAnother;
    };
    if (const auto found = first([&](const auto& c) { return holds(c) && c.editable; })) {
        return found;
    }
    if (const auto found = first(holds)) {
        return found;
    }
    if (const auto found = first([&](const auto& c) { return !c.unsaid && !holds(c); })) {
        return found;
    }
    if (std::ranges::count_if(met, &FocusCandidate::unsaid) == 1) {
        return first(&FocusCandidate::unsaid);
    }
    return std::nullopt;
}

}  // namespace ravlin::platform::atspi
