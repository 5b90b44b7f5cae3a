#include "platform/fake/fake_desktop.h"

#include <algorithm>

#include "core/text/unicode.h"
#include "platform/fake/model.h"

namespace ravlin::platform::fake {

FakeDesktop::FakeDesktop(std::shared_ptr<Executor> executor)
    : model_(std::make_shared<Model>(std::move(executor))) {
    const ProcessID own = model_->ownPid;
    const ElementRef element{model_->nextElement++};
    model_->elements.emplace(
        element,
        ElementNode{element, own, ElementDescription{.role = "AXApplication", .value = {}}, {}, {}});
    model_->applications.emplace(
        own,
        ApplicationNode{own, ApplicationDescription{.identity = "ravlin", .name = "Ravlin"}, element});
}

FakeDesktop::~FakeDesktop() = default;

Seams FakeDesktop::seams() const {
    return makeSeams(model_);
}

ProcessID FakeDesktop::ownPid() const {
    return model_->ownPid;
}

ProcessID FakeDesktop::addApplication(ApplicationDescription spec) {
    const ProcessID pid = model_->nextPid++;
    const ElementRef element{model_->nextElement++};
    model_->elements.emplace(
        element, ElementNode{element,
                             pid,
                             ElementDescription{.role = "AXApplication", .title = spec.name, .value = {}},
                             {},
                             {}});
    model_->applications.emplace(pid, ApplicationNode{pid, std::move(spec), element});
    return pid;
}

void FakeDesktop::setActivation(ProcessID pid, Activation activation) {
    if (auto* app = model_->application(pid)) {
        app->spec.activation = activation;
    }
}

void FakeDesktop::setLooksAtChangesAfter(ProcessID pid,
                                         std::optional<std::chrono::milliseconds> after) {
    if (auto* app = model_->application(pid)) {
        app->spec.looksAtChangesAfter = after;
    }
}

ElementRef FakeDesktop::applicationElement(ProcessID pid) const {
    const auto* app = model_->application(pid);
    return app ? app->element : ElementRef{};
}

ElementRef FakeDesktop::addWindow(ProcessID pid, Rect frame, std::string title) {
    return addElement(
        applicationElement(pid),
        ElementDescription{.role = "AXWindow", .title = std::move(title), .value = {}, .frame = frame});
}

ElementRef FakeDesktop::addElement(ElementRef parent, ElementDescription spec) {
    auto* parentNode = model_->element(parent);
    if (parentNode == nullptr) {
        return {};
    }
    if (spec.value) {
        const auto length = static_cast<std::int64_t>(spec.value->size());
        spec.selection.location = std::clamp<std::int64_t>(spec.selection.location, 0, length);
        spec.selection.length =
            std::clamp<std::int64_t>(spec.selection.length, 0, length - spec.selection.location);
    }
    const ElementRef ref{model_->nextElement++};
    parentNode->children.push_back(ref);
    model_->elements.emplace(ref, ElementNode{ref, parentNode->pid, std::move(spec), parent, {}});
    return ref;
}

void FakeDesktop::removeElement(ElementRef element) {
    auto* node = model_->element(element);
    if (node == nullptr) {
        return;
    }
    if (auto* parent = model_->element(node->parent)) {
        std::erase(parent->children, element);
    }
    std::vector<ElementRef> doomed{element};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        const auto* current = model_->element(doomed[i]);
        doomed.insert(doomed.end(), current->children.begin(), current->children.end());
    }
    for (const auto ref : doomed) {
        const auto pid = model_->elements.at(ref).pid;
        if (auto* app = model_->application(pid); app && app->focused == ref) {
            app->focused = {};
        }
        model_->elements.erase(ref);
    }
}

void FakeDesktop::focus(ElementRef element) {
    model_->focus(element);
}

void FakeDesktop::setFrontmost(std::optional<ProcessID> pid) {
    model_->setFrontmost(pid);
}

void FakeDesktop::setFrontmostAfter(std::chrono::nanoseconds delay, std::optional<ProcessID> pid) {
    model_->schedule(delay, [pid](Model& model) { model.setFrontmost(pid); });
}

std::optional<ProcessID> FakeDesktop::frontmostPid() const {
    return model_->frontmost;
}

int FakeDesktop::activationRequests(ProcessID pid) const {
    const auto* app = model_->application(pid);
    return app ? app->activationRequests : 0;
}

std::optional<std::u16string> FakeDesktop::value(ElementRef element) const {
    const auto* node = model_->element(element);
    return node ? node->spec.value : std::nullopt;
}

text::Utf16Range FakeDesktop::selection(ElementRef element) const {
    const auto* node = model_->element(element);
    return node ? node->spec.selection : text::Utf16Range{};
}

void FakeDesktop::setValue(ElementRef element, std::u16string value, text::Utf16Range selection) {
    if (auto* node = model_->element(element)) {
        node->spec.value = std::move(value);
        setSelection(element, selection);
    }
}

void FakeDesktop::setSelection(ElementRef element, text::Utf16Range selection) {
    auto* node = model_->element(element);
    if (node == nullptr || !node->spec.value) {
        return;
    }
    node->reportedSelection.reset();
    const auto length = static_cast<std::int64_t>(node->spec.value->size());
    const auto location = std::clamp<std::int64_t>(selection.location, 0, length);
    node->spec.selection = {location,
                            std::clamp<std::int64_t>(selection.length, 0, length - location)};
}

void FakeDesktop::setReadOnly(ElementRef element, bool readOnly) {
    if (auto* node = model_->element(element)) {
        node->spec.readOnly = readOnly;
    }
}

void FakeDesktop::setTrusted(bool trusted) {
    if (std::exchange(model_->trusted, trusted) != trusted) {
        model_->trustObservers.notify(trusted);
    }
}

int FakeDesktop::trustPrompts() const {
    return model_->trustPrompts;
}

void FakeDesktop::setPromptGrantsTrust(bool grants) {
    model_->promptGrantsTrust = grants;
}

void FakeDesktop::setSecureInput(bool enabled) {
    model_->secureInput = enabled;
}

void FakeDesktop::setSecureInputFromFocus(bool fromFocus) {
    model_->secureInputFromFocus = fromFocus;
}

void FakeDesktop::setScreens(std::vector<Screen> screens, std::size_t mainIndex) {
    model_->screens = std::move(screens);
    model_->mainScreen = mainIndex;
}

void FakeDesktop::setMouseLocation(Point location) {
    model_->mouse = location;
}

void FakeDesktop::copyToPasteboard(std::vector<PasteboardItem> items) {
    model_->clear(model_->clipboard);
    model_->clipboard.items = std::move(items);
}

void FakeDesktop::copyToPasteboard(std::u16string_view text) {
    model_->clear(model_->clipboard);
    model_->clipboard.putString(text);
}

std::vector<PasteboardItem> FakeDesktop::pasteboardItems() const {
    return model_->clipboard.ownerSilent ? std::vector<PasteboardItem>{} : model_->clipboard.items;
}

std::optional<std::u16string> FakeDesktop::pasteboardString() const {
    return model_->clipboard.ownerSilent ? std::nullopt : model_->clipboard.string();
}

void FakeDesktop::selectText(std::u16string_view text) {
    model_->clear(model_->primary);
    model_->primary.putString(text);
}

std::optional<std::u16string> FakeDesktop::primarySelection() const {
    return model_->primary.string();
}

bool FakeDesktop::clipboardMarkedTransient() const {
    return model_->clipboard.transient;
}

void FakeDesktop::setPasteboardWritesFail(bool fail) {
    model_->clipboard.writesFail = fail;
}

void FakeDesktop::setClipboardManager(std::optional<ProcessID> pid,
                                      std::chrono::milliseconds delay) {
    model_->clipboardManager = pid;
    model_->clipboardManagerDelay = delay;
}

void FakeDesktop::setPasteboardOwnerSilent(bool silent) {
    model_->clipboard.ownerSilent = silent;
}

void FakeDesktop::setPasteboardReadsHeld(bool held) {
    auto& clipboard = model_->clipboard;
    clipboard.readsHeld = held;
    if (!held) {
        for (auto& read : std::exchange(clipboard.heldReads, {})) {
            read();
        }
    }
}

std::size_t FakeDesktop::heldPasteboardReads() const {
    return model_->clipboard.heldReads.size();
}

const std::vector<PostedKey>& FakeDesktop::postedKeys() const {
    return model_->posted;
}

void FakeDesktop::scriptShortcut(ProcessID pid, std::uint32_t keyCode,
                                 std::function<void()> action) {
    if (action) {
        model_->shortcutScripts[{pid, keyCode}] = std::move(action);
    } else {
        model_->shortcutScripts.erase({pid, keyCode});
    }
}

void FakeDesktop::setKeySynthesisFails(bool fail) {
    model_->synthesisFails = fail;
}

void FakeDesktop::sendUserEvent(InputEvent event) {
    event.isSynthetic = false;
    if (event.timestamp == 0) {
        event.timestamp = model_->timestamp();
    }
    model_->deliver(event);
}

void FakeDesktop::userPressKey(KeyChord chord, std::optional<std::u16string> characters) {
    if (!characters) {
        const auto found = model_->layout.find(chord.keyCode);
        characters = found == model_->layout.end() ? std::u16string() : found->second;
        if ((chord.modifiers & modifier::shift) != 0) {
            characters = text::uppercased(*characters);
        }
    }
    model_->deliver(model_->keyEvent(InputEventType::keyDown, chord, *characters, false));
    model_->deliver(model_->keyEvent(InputEventType::keyUp, chord, *characters, false));
}

void FakeDesktop::userTypeText(std::u16string_view text) {
    for (const char16_t unit : text) {
        std::uint32_t keyCode = 0;
        for (const auto& [code, characters] : model_->layout) {
            if (characters == std::u16string_view(&unit, 1)) {
                keyCode = code;
                break;
            }
        }
        userPressKey({keyCode, 0}, std::u16string(1, unit));
    }
}

void FakeDesktop::userFlagsChanged(std::uint32_t keyCode, std::uint64_t flags) {
    std::uint32_t modifiers = 0;
    if (flags & eventflag::command)
        modifiers |= modifier::command;
    if (flags & eventflag::shift)
        modifiers |= modifier::shift;
    if (flags & eventflag::option)
        modifiers |= modifier::option;
    if (flags & eventflag::control)
        modifiers |= modifier::control;
    if (flags & eventflag::function)
        modifiers |= modifier::function;
    auto event = model_->keyEvent(InputEventType::flagsChanged, {keyCode, modifiers}, {}, false);
    event.flags = flags;
    model_->deliver(event);
}

void FakeDesktop::setKeyboardLayout(std::map<std::uint32_t, std::u16string> layout) {
    model_->layout = std::move(layout);
}

bool FakeDesktop::holdHotKey(KeyChord chord) {
    auto& model = *model_;
    if (model.pendingFocusReturn != 0) {
        model.executor->cancel(model.pendingFocusReturn);
        model.pendingFocusReturn = 0;
    }
    model.hotKeyHeld = true;
    model.focusHiddenByGrab = model.grabHidesFocus;
    return pressHotKey(chord);
}

void FakeDesktop::releaseHotKey() {
    auto& model = *model_;
    if (!model.hotKeyHeld) {
        return;
    }
    model.hotKeyHeld = false;
    model.pendingFocusReturn = model.schedule(model.focusReturnAfterGrab, [](Model& model) {
        model.pendingFocusReturn = 0;
        model.focusHiddenByGrab = false;
    });
}

void FakeDesktop::setGrabHidesFocus(bool hides) {
    model_->grabHidesFocus = hides;
}

void FakeDesktop::setFocusReturnAfterGrab(std::chrono::milliseconds focusReturn) {
    model_->focusReturnAfterGrab = focusReturn;
}

bool FakeDesktop::pressHotKey(KeyChord chord) {
    std::vector<std::function<void()>> callbacks;
    for (const auto& registration : model_->hotKeys) {
        if (registration.chord == chord) {
            callbacks.push_back(registration.onPress);
        }
    }
    for (const auto& callback : callbacks) {
        callback();
    }
    return !callbacks.empty();
}

void FakeDesktop::reserveHotKey(KeyChord chord) {
    model_->reservedHotKeys.push_back(chord);
}

std::size_t FakeDesktop::hotKeyCount() const {
    return model_->hotKeys.size();
}

void FakeDesktop::setTapsRefused(bool refused) {
    model_->tapsRefused = refused;
}

void FakeDesktop::setTapsSeeFn(bool seeFn) {
    model_->tapsSeeFn = seeFn;
}

void FakeDesktop::setTapsCanSwallow(bool canSwallow) {
    model_->tapsCanSwallow = canSwallow;
}

bool FakeDesktop::keysHeld() const {
    return model_->keysHeld;
}

void FakeDesktop::afterNextCatchUp(std::function<void()> then) {
    model_->afterCatchUp = std::move(then);
}

void FakeDesktop::disableTaps(InputEventType reason) {
    const auto snapshot = model_->taps;
    for (const auto& tap : snapshot) {
        if (tap->alive && tap->enabled) {
            tap->enabled = false;
            tap->handler(InputEvent{.type = reason, .timestamp = model_->timestamp()});
        }
    }
}

std::size_t FakeDesktop::tapCount() const {
    return model_->taps.size();
}

void FakeDesktop::setKeychainAvailable(bool available) {
    model_->keychainAvailable = available;
}

void FakeDesktop::setKeychainFailure(std::optional<ErrorCode> failure) {
    model_->keychainFailure = failure;
}

std::optional<std::string> FakeDesktop::storedPassword(std::string_view service,
                                                       std::string_view account) const {
    const auto found = model_->secrets.find({std::string(service), std::string(account)});
    return found == model_->secrets.end() ? std::nullopt : std::optional(found->second);
}

void FakeDesktop::setLoginItemStatus(LoginItemStatus status) {
    model_->loginStatus = status;
}

void FakeDesktop::setLoginItemFailure(std::optional<ErrorCode> failure) {
    model_->loginFailure = failure;
}

void FakeDesktop::setLoginItemNeedsApproval(bool needsApproval) {
    model_->loginNeedsApproval = needsApproval;
}

int FakeDesktop::loginItemsSettingsOpened() const {
    return model_->loginItemsSettingsOpened;
}

void FakeDesktop::setOpenURLFails(bool fail) {
    model_->openURLFails = fail;
}

const std::vector<std::string>& FakeDesktop::openedURLs() const {
    return model_->openedURLs;
}

const std::vector<LogRecord>& FakeDesktop::logRecords() const {
    return model_->log;
}

void FakeDesktop::setMisspelledWords(std::set<std::u16string> words) {
    model_->misspelledWords = std::move(words);
}

void FakeDesktop::setSessionBus(bool available) {
    model_->sessionBus = available;
}

int FakeDesktop::accessibilitySwitchOns() const {
    return model_->accessibilitySwitchOns;
}

void FakeDesktop::setReducesAnimations(bool reduces) {
    model_->reducesAnimations = reduces;
}

void FakeDesktop::setCompositor(bool running) {
    model_->compositor = running;
}

const std::vector<std::uint64_t>& FakeDesktop::windowsOnEveryDesktop() const {
    return model_->windowsOnEveryDesktop;
}

}  // namespace ravlin::platform::fake
