#include "platform/fake/model.h"

#include <algorithm>

#include "core/text/unicode.h"

namespace ravlin::platform::fake {
namespace {

std::map<std::uint32_t, std::u16string> usLayout() {
    // Key positions of the US ANSI layout.
    static constexpr std::pair<std::uint32_t, char16_t> keys[] = {
        {0, u'a'},  {1, u's'},  {2, u'd'},   {3, u'f'},  {4, u'h'},  {5, u'g'},   {6, u'z'},
        {7, u'x'},  {8, u'c'},  {9, u'v'},   {11, u'b'}, {12, u'q'}, {13, u'w'},  {14, u'e'},
        {15, u'r'}, {16, u'y'}, {17, u't'},  {18, u'1'}, {19, u'2'}, {20, u'3'},  {21, u'4'},
        {22, u'6'}, {23, u'5'}, {24, u'='},  {25, u'9'}, {26, u'7'}, {27, u'-'},  {28, u'8'},
        {29, u'0'}, {30, u']'}, {31, u'o'},  {32, u'u'}, {33, u'['}, {34, u'i'},  {35, u'p'},
        {37, u'l'}, {38, u'j'}, {39, u'\''}, {40, u'k'}, {41, u';'}, {42, u'\\'}, {43, u','},
        {44, u'/'}, {45, u'n'}, {46, u'm'},  {47, u'.'}, {49, u' '}, {50, u'`'},
    };
    std::map<std::uint32_t, std::u16string> layout;
    for (const auto& [code, character] : keys) {
        layout.emplace(code, std::u16string(1, character));
    }
    return layout;
}

text::Utf16Range clamped(text::Utf16Range range, std::int64_t length) {
    const auto location = std::clamp<std::int64_t>(range.location, 0, length);
    return {location, std::clamp<std::int64_t>(range.length, 0, length - location)};
}

std::uint64_t flagsFor(std::uint32_t modifiers) {
    std::uint64_t flags = 0;
    if (modifiers & modifier::command)
        flags |= eventflag::command;
    if (modifiers & modifier::shift)
        flags |= eventflag::shift;
    if (modifiers & modifier::option)
        flags |= eventflag::option;
    if (modifiers & modifier::control)
        flags |= eventflag::control;
    if (modifiers & modifier::function)
        flags |= eventflag::function;
    return flags;
}

}  // namespace

Model::Model(std::shared_ptr<Executor> executor_) : executor(std::move(executor_)) {
    layout = usLayout();
    screens = {Screen{makeRect(0, 0, 1440, 900), makeRect(0, 0, 1440, 875)}};
}

ElementNode* Model::element(ElementRef ref) {
    const auto found = elements.find(ref);
    return found == elements.end() ? nullptr : &found->second;
}

ApplicationNode* Model::application(ProcessID pid) {
    const auto found = applications.find(pid);
    return found == applications.end() ? nullptr : &found->second;
}

std::optional<RunningApplication> Model::runningApplication(ProcessID pid) const {
    const auto found = applications.find(pid);
    if (found == applications.end()) {
        return std::nullopt;
    }
    return RunningApplication{pid, found->second.spec.identity, found->second.spec.name};
}

ElementRef Model::focusedElement() const {
    if (!frontmost) {
        return {};
    }
    const auto found = applications.find(*frontmost);
    return found == applications.end() ? ElementRef{} : found->second.focused;
}

void Model::setFrontmost(std::optional<ProcessID> pid) {
    if (pid && !applications.contains(*pid)) {
        return;
    }
    if (frontmost == pid) {
        return;
    }
    frontmost = pid;
    frontmostObservers.notify(pid ? runningApplication(*pid) : std::nullopt);
    if (const auto focused = focusedElement()) {
        focusObservers.notify(focused);
    }
}

void Model::focus(ElementRef ref) {
    auto* node = element(ref);
    if (node == nullptr) {
        return;
    }
    auto* app = application(node->pid);
    app->focused = ref;
    if (frontmost == node->pid) {
        focusObservers.notify(ref);
    }
}

bool Model::activate(ProcessID pid) {
    auto* app = application(pid);
    if (app == nullptr) {
        return false;
    }
    ++app->activationRequests;
    switch (app->spec.activation.kind) {
        case Activation::Kind::refuse:
            return false;
        case Activation::Kind::acceptButNeverFront:
            return true;
        case Activation::Kind::accept:
            break;
    }
    if (app->pendingActivation != 0) {
        executor->cancel(app->pendingActivation);
        app->pendingActivation = 0;
    }
    if (app->spec.activation.delay <= std::chrono::milliseconds::zero()) {
        setFrontmost(pid);
    } else {
        app->pendingActivation = schedule(app->spec.activation.delay, [pid](Model& model) {
            if (auto* app = model.application(pid)) {
                app->pendingActivation = 0;
                model.setFrontmost(pid);
            }
        });
    }
    return true;
}

Executor::TaskID Model::schedule(std::chrono::nanoseconds delay, std::function<void(Model&)> task) {
    std::weak_ptr<Model> weak = weak_from_this();
    return executor->postAfter(delay, [weak, task = std::move(task)] {
        if (const auto model = weak.lock()) {
            task(*model);
        }
    });
}

void Model::replaceSelection(ElementRef ref, std::u16string_view text) {
    auto* node = element(ref);
    if (node == nullptr || !node->spec.value) {
        return;
    }
    auto& value = *node->spec.value;
    const auto range = clamped(node->spec.selection, static_cast<std::int64_t>(value.size()));
    if (const auto limit = node->spec.maxLength) {
        const auto room = std::max<std::int64_t>(
            0, *limit - static_cast<std::int64_t>(value.size()) + range.length);
        text = text.substr(0, static_cast<std::size_t>(
                                  std::min<std::int64_t>(room, static_cast<std::int64_t>(text.size()))));
    }
    value.replace(static_cast<std::size_t>(range.location), static_cast<std::size_t>(range.length),
                  text);
    node->spec.selection = {range.location + static_cast<std::int64_t>(text.size()), 0};
}

void Model::deleteBackward(ElementRef ref) {
    auto* node = element(ref);
    if (node == nullptr || !node->spec.value) {
        return;
    }
    const auto length = static_cast<std::int64_t>(node->spec.value->size());
    auto range = clamped(node->spec.selection, length);
    if (range.length == 0) {
        if (range.location == 0) {
            return;
        }
        range = {range.location - 1, 1};
    }
    node->spec.value->erase(static_cast<std::size_t>(range.location),
                            static_cast<std::size_t>(range.length));
    node->spec.selection = {range.location, 0};
}

std::int64_t Model::clear(SelectionState& selection) {
    selection.items.clear();
    ++selection.changeCount;
    selection.ownWriteUnfetched = false;
    selection.ownChange = false;
    selection.transient = false;
    // (Who fetched this program's last write stays known once another program has copied: a
    // paste asks the owner of the moment. This program's own clear forgets it.)
    // Observers hear once the writer has written what follows the clear.
    if (!selection.notificationPending) {
        selection.notificationPending = true;
        const bool isPrimary = &selection == &primary;
        schedule(std::chrono::nanoseconds::zero(), [isPrimary](Model& model) {
            auto& changed = isPrimary ? model.primary : model.clipboard;
            changed.notificationPending = false;
            changed.observers.notify(changed.changeCount);
        });
    }
    return selection.changeCount;
}

void SelectionState::putString(std::u16string_view text) {
    const auto utf8 = text::toUtf8(text);
    std::vector<std::uint8_t> bytes(utf8.begin(), utf8.end());
    if (items.empty()) {
        items.emplace_back();
    }
    items.front()[std::string(plainTextType)] = std::move(bytes);
}

std::optional<std::u16string> SelectionState::string() const {
    for (const auto& item : items) {
        const auto found = item.find(std::string(plainTextType));
        if (found != item.end()) {
            return text::toUtf16(std::string_view(
                reinterpret_cast<const char*>(found->second.data()), found->second.size()));
        }
    }
    return std::nullopt;
}

void Model::pasteLater(ProcessID pid, std::chrono::milliseconds delay,
                       SelectionState Model::*selection) {
    schedule(delay, [pid, selection](Model& model) {
        const auto insert = [pid, selection](Model& model) {
            auto* app = model.application(pid);
            auto& from = model.*selection;
            const auto text = from.string();
            fetch(from, pid);
            auto* node = app != nullptr ? model.element(app->focused) : nullptr;
            if (node != nullptr && text && !node->spec.readOnly) {
                model.replaceSelection(
                    app->focused, node->spec.pasteShape ? node->spec.pasteShape(*text) : *text);
            }
        };
        const auto* app = model.application(pid);
        if (app != nullptr && app->spec.pasteReadAgainAfter) {
            fetch(model.*selection, pid);  // a first look at the text
            model.schedule(*app->spec.pasteReadAgainAfter, insert);
        } else {
            insert(model);
        }
    });
}

void Model::fetch(SelectionState& selection, ProcessID pid) {
    const bool ours =
        selection.ownChange && (selection.ownWriteUnfetched || !selection.fetchedBy.empty());
    if (ours) {
        selection.fetchedBy.push_back(pid);
        ++selection.requests;
        if (selection.marked) {
            selection.fetchedSinceMark.push_back(pid);
        }
    }
    selection.ownWriteUnfetched = false;
    if (ours) {
        selection.fetchObservers.notify();
    }
}

void Model::ownWrite(SelectionState Model::*selection) {
    if (selection != &Model::clipboard) {
        return;
    }
    const auto changeCount = (this->*selection).changeCount;
    clipboard.lookedBy.clear();
    for (const auto& [id, app] : applications) {
        if (app.spec.looksAtChangesAfter) {
            schedule(*app.spec.looksAtChangesAfter, [pid = id, changeCount](Model& model) {
                if (model.clipboard.changeCount == changeCount && model.application(pid)) {
                    model.clipboard.lookedBy.push_back(pid);
                }
            });
        }
    }
    if (!clipboardManager) {
        return;
    }
    schedule(clipboardManagerDelay, [selection, changeCount](Model& model) {
        auto& state = model.*selection;
        if (model.clipboardManager && state.changeCount == changeCount) {
            fetch(state, *model.clipboardManager);
        }
    });
}

ElementRef Model::frontmostWindow() const {
    const auto found = frontmost ? applications.find(*frontmost) : applications.end();
    if (found == applications.end()) {
        return {};
    }
    const ElementRef top = found->second.element;
    for (auto at = elements.find(found->second.focused); at != elements.end();
         at = elements.find(at->second.parent)) {
        if (at->second.parent == top) {
            return at->first;
        }
    }
    const auto app = elements.find(top);
    return app == elements.end() || app->second.children.empty() ? ElementRef{}
                                                                  : app->second.children.front();
}

double Model::timestamp() const {
    return std::chrono::duration<double>(executor->now().time_since_epoch()).count();
}

InputEvent Model::keyEvent(InputEventType type, KeyChord chord, std::u16string characters,
                           bool synthetic) const {
    return InputEvent{.type = type,
                      .keyCode = chord.keyCode,
                      .modifiers = chord.modifiers,
                      .flags = flagsFor(chord.modifiers),
                      .characters = std::move(characters),
                      .timestamp = timestamp(),
                      .isSynthetic = synthetic,
                      // (only the program's own key synthesis posts here)
                      .isOwn = synthetic};
}

Status Model::postKey(PostedKey::Kind kind, KeyChord chord) {
    if (synthesisFails) {
        return Error{ErrorCode::failed, "event could not be created"};
    }
    posted.push_back({kind, chord, {}});
    const auto found = layout.find(chord.keyCode);
    const bool types = found != layout.end() &&
                       (chord.modifiers & (modifier::command | modifier::control)) == 0;
    deliver(keyEvent(kind == PostedKey::Kind::down ? InputEventType::keyDown : InputEventType::keyUp,
                     chord, types ? found->second : std::u16string(), true));
    return {};
}

void Model::deliver(const InputEvent& event) {
    const bool disabledNotice = event.type == InputEventType::tapDisabledByTimeout ||
                                event.type == InputEventType::tapDisabledByUserInput;
    const bool key = event.type == InputEventType::keyDown ||
                     event.type == InputEventType::keyUp ||
                     event.type == InputEventType::flagsChanged;
    if (keysHeld && key) {
        heldKeys.push_back(event);
        return;
    }
    if (!tapsCanSwallow && !disabledNotice) {
        if (tapBacklog.empty()) {
            executor->post([weak = weak_from_this()] {
                if (const auto model = weak.lock()) {
                    model->catchUpTaps();
                }
            });
        }
        tapBacklog.push_back(event);
        if (event.type == InputEventType::keyDown) {
            applicationHandlesKeyDown(event);
        }
        return;
    }
    // Newest tap first, as taps inserted at the head see events first.
    const auto snapshot = taps;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        const auto& tap = *it;
        if (!tap->alive || !tap->enabled || (tap->mask & eventMaskBit(event.type)) == 0) {
            continue;
        }
        if (tap->handler(event) == TapVerdict::swallow && tapsCanSwallow && !disabledNotice) {
            return;
        }
    }
    if (event.type == InputEventType::keyDown) {
        applicationHandlesKeyDown(event);
    }
}

void Model::catchUpTaps() {
    while (!tapBacklog.empty()) {
        const auto event = tapBacklog.front();
        tapBacklog.erase(tapBacklog.begin());
        const auto snapshot = taps;  // a handler may stop taps
        for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
            const auto& tap = *it;
            if (tap->alive && tap->enabled && (tap->mask & eventMaskBit(event.type)) != 0) {
                (void)tap->handler(event);
            }
        }
    }
}

void Model::applicationHandlesKeyDown(const InputEvent& event) {
    if (!frontmost) {
        return;
    }
    auto* app = application(*frontmost);
    if (app == nullptr || !app->spec.handlesKeys) {
        return;
    }
    const ProcessID pid = app->pid;
    const bool shortcut = (event.modifiers & (modifier::command | modifier::control)) != 0;
    if (shortcut) {
        if (const auto script = shortcutScripts.find({pid, event.keyCode});
            script != shortcutScripts.end()) {
            const auto action = script->second;  // it may change the scripts
            action();
            return;
        }
        switch (event.keyCode) {
            case keycode::c:
                schedule(app->spec.copyDelay, [pid](Model& model) {
                    auto* app = model.application(pid);
                    auto* node = app ? model.element(app->focused) : nullptr;
                    if (node == nullptr || !node->spec.value) {
                        return;
                    }
                    const auto selected = text::substring(*node->spec.value, node->spec.selection);
                    if (!selected || selected->empty()) {
                        return;
                    }
                    model.clear(model.clipboard);
                    model.clipboard.putString(*selected);
                });
                break;
            case keycode::a:
                if (auto* node = element(app->focused); node && node->spec.value) {
                    node->spec.selection = {0, static_cast<std::int64_t>(node->spec.value->size())};
                }
                break;
            case keycode::v:
                // (a program that has not yet heard what the new contents offer pastes nothing)
                if (!app->spec.looksAtChangesAfter ||
                    std::ranges::find(clipboard.lookedBy, pid) != clipboard.lookedBy.end()) {
                    pasteLater(pid, app->spec.pasteDelay, &Model::clipboard);
                }
                break;
            default:
                break;
        }
        return;
    }
    // Shift+Insert pastes the text last selected.
    if (event.keyCode == keycode::insert && (event.modifiers & modifier::shift) != 0) {
        pasteLater(pid, app->spec.pasteDelay, &Model::primary);
        return;
    }
    auto* focusedNode = element(app->focused);
    if (focusedNode != nullptr && focusedNode->spec.readOnly) {
        return;
    }
    if (auto* node = focusedNode;
        node != nullptr && !node->spec.reportsTypedCaret && !node->reportedSelection) {
        node->reportedSelection = node->spec.selection;
    }
    if (event.keyCode == keycode::deleteKey && event.characters.empty()) {
        deleteBackward(app->focused);
    } else if (!event.characters.empty()) {
        const auto arrived = focusedNode != nullptr && focusedNode->spec.typeShape
                                 ? focusedNode->spec.typeShape(event.characters)
                                 : event.characters;
        if (!arrived.empty()) {
            replaceSelection(app->focused, arrived);
        }
    }
}

}  // namespace ravlin::platform::fake
