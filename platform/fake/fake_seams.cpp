// The seam objects over the simulated desktop's model.

#include <algorithm>
#include <utility>

#include "core/text/unicode.h"
#include "platform/fake/model.h"

namespace ravlin::platform::fake {
namespace {

using ModelPtr = std::shared_ptr<Model>;

Error stale() {
    return Error{ErrorCode::invalidArgument, "unknown element"};
}
Error untrusted() {
    return Error{ErrorCode::notPermitted, "accessibility not trusted"};
}
Error noValue(std::string_view name) {
    return Error{ErrorCode::notFound, "no value for " + std::string(name)};
}

bool isTextAttribute(std::string_view name) {
    return name == ax::selectedText || name == ax::selectedTextRange || name == ax::value;
}

class FakeAccessibility final : public Accessibility {
  public:
    explicit FakeAccessibility(ModelPtr model) : model_(std::move(model)) {}

    bool isTrusted(bool prompt) override {
        if (prompt && !model_->trusted) {
            ++model_->trustPrompts;
            if (model_->promptGrantsTrust) {
                model_->trusted = true;
                model_->trustObservers.notify(true);
            }
        }
        return model_->trusted;
    }
    Subscription observeTrust(std::function<void(bool)> onChange) override {
        return model_->trustObservers.add(std::move(onChange));
    }
    ElementRef systemWideElement() override { return Model::systemWide; }
    Expected<ElementRef> applicationElement(ProcessID pid) override {
        const auto* app = model_->application(pid);
        if (app == nullptr || !app->spec.accessible) {
            return Error{ErrorCode::notFound, "no such application"};
        }
        return app->element;
    }
    Expected<ProcessID> processID(ElementRef element) override {
        const auto* node = model_->element(element);
        if (node == nullptr) {
            return stale();
        }
        return node->pid;
    }
    Subscription observeFocus(std::function<void(ElementRef)> onFocus) override {
        return model_->focusObservers.add(std::move(onFocus));
    }

    Expected<AttributeValue> attribute(ElementRef element, std::string_view name) override {
        if (!model_->trusted) {
            return untrusted();
        }
        if (element == Model::systemWide) {
            if (name != ax::focusedUIElement || !model_->frontmost) {
                return noValue(name);
            }
            const auto* app = model_->application(*model_->frontmost);
            if (app == nullptr || !app->spec.accessible || !app->spec.reportsFocusSystemWide ||
                !app->focused ||
                model_->focusHiddenByGrab) {
                return noValue(name);
            }
            return AttributeValue(app->focused);
        }
        const auto* node = model_->element(element);
        if (node == nullptr) {
            return stale();
        }
        return read(*node, name);
    }

    Expected<AttributeValue> parameterizedAttribute(ElementRef element, std::string_view name,
                                                    const AttributeValue& parameter) override {
        if (!model_->trusted) {
            return untrusted();
        }
        const auto* node = model_->element(element);
        if (node == nullptr) {
            return stale();
        }
        if (name == ax::boundsForTextMarkerRange && node->spec.textMarkerBounds) {
            return AttributeValue(*node->spec.textMarkerBounds);
        }
        if (!node->spec.parameterizedReads || !node->spec.value ||
            (name != ax::stringForRange && name != ax::boundsForRange)) {
            return Error{ErrorCode::notSupported, "parameterized attribute not supported"};
        }
        const auto* range = std::get_if<text::Utf16Range>(&parameter);
        const auto length = static_cast<std::int64_t>(node->spec.value->size());
        if (range == nullptr || range->location < 0 || range->length < 0 || range->end() > length) {
            return Error{ErrorCode::invalidArgument, "range outside the text"};
        }
        if (name == ax::stringForRange) {
            return AttributeValue(
                node->spec.value->substr(static_cast<std::size_t>(range->location),
                                         static_cast<std::size_t>(range->length)));
        }
        if (!node->spec.frame) {
            return Error{ErrorCode::failed, "element has no position"};
        }
        const auto& frame = *node->spec.frame;
        return AttributeValue(makeRect(frame.minX() + FakeDesktop::glyphWidth * range->location,
                                       frame.minY(), FakeDesktop::glyphWidth * range->length,
                                       std::min(FakeDesktop::lineHeight, frame.height())));
    }

    Expected<bool> isAttributeSettable(ElementRef element, std::string_view name) override {
        if (!model_->trusted) {
            return untrusted();
        }
        const auto* node = model_->element(element);
        if (node == nullptr) {
            return stale();
        }
        if (isTextAttribute(name)) {
            return node->spec.settable && node->spec.value.has_value();
        }
        return name == ax::focused;
    }

    Status setAttribute(ElementRef element, std::string_view name,
                        const AttributeValue& value) override {
        if (!model_->trusted) {
            return untrusted();
        }
        auto* node = model_->element(element);
        if (node == nullptr) {
            return stale();
        }
        if (name == ax::focused) {
            if (value == AttributeValue(true)) {
                model_->focus(element);
            }
            return {};
        }
        if (!isTextAttribute(name) || !node->spec.settable || !node->spec.value) {
            return Error{ErrorCode::notSupported, "attribute not settable"};
        }
        if (node->spec.writes == WriteBehaviour::fail ||
            (name == ax::selectedTextRange && node->spec.refusesRangeWrites)) {
            return Error{ErrorCode::failed, "the application refused the write"};
        }
        const auto* text = std::get_if<std::u16string>(&value);
        const auto* range = std::get_if<text::Utf16Range>(&value);
        if (name == ax::selectedTextRange) {
            const auto length = static_cast<std::int64_t>(node->spec.value->size());
            if (range == nullptr || range->location < 0 || range->length < 0 ||
                range->end() > length) {
                return Error{ErrorCode::invalidArgument, "range outside the text"};
            }
        } else if (text == nullptr) {
            return Error{ErrorCode::invalidArgument, "a text attribute takes text"};
        }
        if (node->spec.writes == WriteBehaviour::ignore) {
            return {};
        }
        if (name == ax::selectedTextRange && node->spec.rangeWriteDelay.count() > 0) {
            model_->schedule(node->spec.rangeWriteDelay, [element, range = *range](Model& model) {
                if (auto* late = model.element(element)) {
                    late->reportedSelection.reset();
                    late->spec.selection = range;
                }
            });
            return {};
        }
        node->reportedSelection.reset();
        if (name == ax::selectedTextRange) {
            node->spec.selection = *range;
        } else if (name == ax::selectedText) {
            model_->replaceSelection(element, *text);
        } else {
            node->spec.value = *text;
            node->spec.selection = {static_cast<std::int64_t>(text->size()), 0};
        }
        return {};
    }

    void release(ElementRef) override {}  // fake tokens name the model's elements

  private:
    Expected<AttributeValue> read(const ElementNode& node, std::string_view name) {
        const auto& spec = node.spec;
        auto* app = model_->application(node.pid);
        if (name == ax::role) {
            return AttributeValue(text::toUtf16(spec.role));
        }
        if (name == ax::subrole && !spec.subrole.empty()) {
            return AttributeValue(text::toUtf16(spec.subrole));
        }
        if (name == ax::title && !spec.title.empty()) {
            return AttributeValue(text::toUtf16(spec.title));
        }
        if (spec.value) {
            const auto length = static_cast<std::int64_t>(spec.value->size());
            if (name == ax::value) {
                return AttributeValue(*spec.value);
            }
            if (name == ax::selectedTextRange) {
                return AttributeValue(node.reportedSelection.value_or(spec.selection));
            }
            if (name == ax::numberOfCharacters) {
                return AttributeValue(static_cast<double>(length));
            }
            if (name == ax::selectedText && spec.selectedTextReadable) {
                return AttributeValue(
                    text::substring(*spec.value, spec.selection).value_or(std::u16string()));
            }
        }
        if (spec.value && name == ax::editable) {
            return AttributeValue(spec.editable.value_or(spec.settable && !spec.readOnly));
        }
        if (spec.value && name == ax::richText) {
            return AttributeValue(spec.richText);
        }
        if (spec.textMarkerBounds && name == ax::selectedTextMarkerRange) {
            return AttributeValue(spec.selection);  // stands for an opaque marker range
        }
        if (spec.frame && name == ax::position) {
            return AttributeValue(spec.frame->origin);
        }
        if (spec.frame && name == ax::size) {
            return AttributeValue(spec.frame->size);
        }
        if (name == ax::children) {
            return AttributeValue(node.children);
        }
        if (name == ax::parent && node.parent) {
            return AttributeValue(node.parent);
        }
        if (name == ax::focused) {
            return AttributeValue(app != nullptr && app->focused == node.ref);
        }
        if (name == ax::window) {
            if (const auto window = windowOf(node.ref)) {
                return AttributeValue(window);
            }
        }
        if (app != nullptr && node.ref == app->element) {
            if (name == ax::focusedUIElement && app->focused && !model_->focusHiddenByGrab) {
                return AttributeValue(app->focused);
            }
            if (name == ax::windows) {
                return AttributeValue(node.children);
            }
            if (name == ax::focusedWindow) {
                if (const auto window = windowOf(app->focused)) {
                    return AttributeValue(window);
                }
            }
        }
        return noValue(name);
    }

    ElementRef windowOf(ElementRef ref) {
        for (auto* node = model_->element(ref); node != nullptr;
             node = model_->element(node->parent)) {
            if (node->spec.role == ax::windowRole) {
                return node->ref;
            }
        }
        return {};
    }

    ModelPtr model_;
};

class FakePasteboard final : public Pasteboard {
  public:
    // Over the clipboard, or (`selection`) another of the model's selections.
    explicit FakePasteboard(ModelPtr model, SelectionState Model::*selection = &Model::clipboard)
        : model_(std::move(model)), selection_(selection) {}

    std::int64_t changeCount() override { return state().changeCount; }
    std::int64_t clear() override {
        const auto count = model_->clear(state());
        state().ownChange = true;
        state().fetchedBy.clear();
        state().marked = false;
        state().fetchedSinceMark.clear();
        state().requests = 0;
        return count;
    }
    void readContents(std::function<void(PasteboardContents)> done) override {
        if (state().readsHeld) {
            state().heldReads.push_back([this, done = std::move(done)] { readContents(done); });
            return;
        }
        PasteboardContents contents;
        if (state().ownerSilent) {
            contents.failure = PasteboardSaveFailure::ownerNotAnswering;
        } else {
            contents.items = state().items;
        }
        done(std::move(contents));
    }
    Status writeContents(const PasteboardContents& contents) override {
        if (state().writesFail) {
            return Error{ErrorCode::failed, "pasteboard refused the write"};
        }
        const auto& items = contents.items;
        state().items.insert(state().items.end(), items.begin(), items.end());
        state().ownWriteUnfetched = state().ownWriteUnfetched || !items.empty();
        model_->ownWrite(selection_);
        return {};
    }
    void readString(std::function<void(std::optional<std::u16string>)> done) override {
        if (state().readsHeld) {
            state().heldReads.push_back([this, done = std::move(done)] { readString(done); });
            return;
        }
        done(state().ownerSilent ? std::nullopt : state().string());
    }
    Status setString(std::u16string_view text) override {
        if (state().writesFail) {
            return Error{ErrorCode::failed, "pasteboard refused the write"};
        }
        ++state().writeSerial;
        state().putString(text);
        state().ownWriteUnfetched = true;
        model_->ownWrite(selection_);
        return {};
    }
    bool holdsOwnChange() override { return state().ownChange; }
    Status setTransientString(std::u16string_view text) override {
        auto written = setString(text);
        state().transient = written.ok();
        return written;
    }
    bool makeTransientOrdinary() override {
        if (!state().ownChange) {
            return false;
        }
        state().transient = false;
        return true;
    }
    void markFetches() override {
        state().marked = true;
        state().fetchedSinceMark.clear();
        for (const auto pid : state().lookedBy) {
            if (std::ranges::find(state().watchers, pid) == state().watchers.end()) {
                state().watchers.push_back(pid);
            }
        }
    }
    // Only a program that watches the clipboard, or one that never looks, is told of: the others
    // are as on a desktop that does not tell.
    WriteLook lastWriteLookedAtBy(const FetchTarget& target) override {
        const auto* app = model_->application(target.pid);
        if (app == nullptr || !app->spec.looksAtChangesAfter) {
            return {.looked = app == nullptr || !app->spec.neverLooksAtChanges};
        }
        return {.looked = std::ranges::find(state().lookedBy, target.pid) != state().lookedBy.end(),
                .watches = std::ranges::find(state().watchers, target.pid) != state().watchers.end()};
    }
    std::uint64_t fetchRequests() override { return state().requests; }
    std::optional<KeyCondition> ownWriteCondition() override {
        if (!state().ownChange || !state().transient) {
            return std::nullopt;
        }
        return KeyCondition{selection_ == &Model::clipboard ? "CLIPBOARD" : "PRIMARY",
                            state().writeSerial};
    }
    WriteFetch lastWriteFetchedBy(const FetchTarget& target) override {
        const auto& fetchers = state().marked ? state().fetchedSinceMark : state().fetchedBy;
        if (fetchers.empty()) {
            return WriteFetch::none;
        }
        return std::ranges::find(fetchers, target.pid) != fetchers.end() ? WriteFetch::byTarget
                                                                         : WriteFetch::byOthers;
    }
    Subscription observeChanges(std::function<void(std::int64_t)> onChange) override {
        return state().observers.add(std::move(onChange));
    }
    Subscription observeFetches(std::function<void()> onFetch) override {
        return state().fetchObservers.add([onFetch = std::move(onFetch)] { onFetch(); });
    }
    std::shared_ptr<Pasteboard> primarySelection() override {
        if (selection_ != &Model::clipboard) {
            return nullptr;
        }
        if (!primary_) {
            primary_ = std::make_shared<FakePasteboard>(model_, &Model::primary);
        }
        return primary_;
    }

  private:
    SelectionState& state() { return (*model_).*selection_; }

    ModelPtr model_;
    SelectionState Model::*selection_;
    std::shared_ptr<FakePasteboard> primary_;
};

class FakeKeySynthesis final : public KeySynthesis {
  public:
    explicit FakeKeySynthesis(ModelPtr model) : model_(std::move(model)) {}

    Status postKeyDown(KeyChord chord) override { return post(PostedKey::Kind::down, chord); }
    Status postKeyUp(KeyChord chord) override { return post(PostedKey::Kind::up, chord); }
    Status postText(std::u16string_view text) override {
        if (text.empty()) {
            return Error{ErrorCode::invalidArgument, "no text to type"};
        }
        if (model_->synthesisFails) {
            return Error{ErrorCode::failed, "event could not be created"};
        }
        model_->posted.push_back({PostedKey::Kind::text, {}, std::u16string(text)});
        model_->deliver(model_->keyEvent(InputEventType::keyDown, {}, std::u16string(text), true));
        model_->deliver(model_->keyEvent(InputEventType::keyUp, {}, std::u16string(text), true));
        return {};
    }
    // The held shortcut's modifier is down as long as its key.
    bool modifiersHeld() override { return model_->hotKeyHeld; }
    // The condition as the fake pasteboard states it: this program's transient write, the one
    // numbered `owner`, still its last change; the keyboard in the window `focusIn`.
    Status postKeyPressIf(KeyChord chord, const KeyCondition& condition) override {
        const auto& state = condition.selection == "PRIMARY" ? model_->primary : model_->clipboard;
        if (!state.ownChange || !state.transient || state.writeSerial != condition.owner) {
            return Error{ErrorCode::invalidArgument, "the selection changed hands"};
        }
        if (condition.focusIn && model_->frontmostWindow().id != *condition.focusIn) {
            return Error{ErrorCode::notFound, "the keyboard's focus is elsewhere"};
        }
        return postKeyPress(chord);
    }

  private:
    Status post(PostedKey::Kind kind, KeyChord chord) { return model_->postKey(kind, chord); }

    ModelPtr model_;
};

class FakeWorkspace final : public Workspace {
  public:
    explicit FakeWorkspace(ModelPtr model) : model_(std::move(model)) {}

    std::optional<RunningApplication> frontmostApplication() override {
        return model_->frontmost ? model_->runningApplication(*model_->frontmost) : std::nullopt;
    }
    RunningApplication currentApplication() override {
        return *model_->runningApplication(model_->ownPid);
    }
    bool activate(ProcessID pid) override { return model_->activate(pid); }
    std::optional<std::uint64_t> frontmostWindow() override {
        const auto window = model_->frontmostWindow();
        return window ? std::optional(window.id) : std::nullopt;
    }
    Status openURL(std::string_view url) override {
        if (model_->openURLFails) {
            return Error{ErrorCode::failed, "no handler for the URL"};
        }
        model_->openedURLs.emplace_back(url);
        return {};
    }
    Subscription observeFrontmost(
        std::function<void(const std::optional<RunningApplication>&)> onChange) override {
        return model_->frontmostObservers.add(std::move(onChange));
    }

  private:
    ModelPtr model_;
};

class FakeSecureInput final : public SecureInput {
  public:
    explicit FakeSecureInput(ModelPtr model) : model_(std::move(model)) {}
    State state() override {
        auto& model = *model_;
        if (model.secureInput) {
            return State::on;
        }
        if (!model.secureInputFromFocus) {
            return State::off;
        }
        const auto* app = model.frontmost ? model.application(*model.frontmost) : nullptr;
        const auto* focused = app != nullptr ? model.element(app->focused) : nullptr;
        if (!model.trusted || focused == nullptr) {
            return State::unknown;
        }
        const bool password = focused->spec.role == ax::secureTextFieldRole ||
                              focused->spec.subrole == ax::secureTextFieldRole;
        if (password) {
            return State::on;
        }
        // Hidden by a grab, the field last reported proves only a password field.
        return model.focusHiddenByGrab ? State::unknown : State::off;
    }

  private:
    ModelPtr model_;
};

class FakeScreens final : public Screens {
  public:
    explicit FakeScreens(ModelPtr model) : model_(std::move(model)) {}
    std::vector<Screen> screens() override { return model_->screens; }
    std::optional<Screen> mainScreen() override {
        if (model_->screens.empty()) {
            return std::nullopt;
        }
        return model_->screens[std::min(model_->mainScreen, model_->screens.size() - 1)];
    }
    Point mouseLocation() override { return model_->mouse; }

  private:
    ModelPtr model_;
};

class FakeHotKeys final : public HotKeys {
  public:
    explicit FakeHotKeys(ModelPtr model) : model_(std::move(model)) {}

    Expected<Subscription> registerHotKey(KeyChord chord, std::uint32_t id,
                                          std::function<void()> onPress) override {
        if ((chord.modifiers & modifier::function) != 0) {  // as on X11: no chord with Fn
            return Error{ErrorCode::notSupported, "the Fn key cannot be grabbed"};
        }
        if (std::ranges::find(model_->reservedHotKeys, chord) != model_->reservedHotKeys.end()) {
            return Error{ErrorCode::failed, "another program holds the key"};
        }
        const auto serial = model_->nextHotKeySerial++;
        model_->hotKeys.push_back({serial, chord, id, std::move(onPress)});
        std::weak_ptr<Model> weak = model_;
        return Subscription([weak, serial] {
            if (const auto model = weak.lock()) {
                std::erase_if(model->hotKeys,
                              [serial](const auto& r) { return r.serial == serial; });
            }
        });
    }

    [[nodiscard]] bool isHeld() const override { return model_->hotKeyHeld; }

  private:
    ModelPtr model_;
};

class FakeTapControl final : public KeyTap::Control {
  public:
    explicit FakeTapControl(std::shared_ptr<Tap> tap) : tap_(std::move(tap)) {}
    void setEnabled(bool enabled) override { tap_->enabled = enabled; }
    bool isEnabled() const override { return tap_->alive && tap_->enabled; }

  private:
    std::shared_ptr<Tap> tap_;
};

class FakeKeyTaps final : public KeyTaps {
  public:
    explicit FakeKeyTaps(ModelPtr model) : model_(std::move(model)) {}

    Expected<KeyTap> startTap(std::uint64_t mask, Handler handler) override {
        if (!model_->trusted) {
            return Error{ErrorCode::notPermitted, "accessibility not trusted"};
        }
        if (model_->tapsRefused) {
            return Error{ErrorCode::failed, "the tap could not be created"};
        }
        auto tap = std::make_shared<Tap>(Tap{mask, std::move(handler)});
        model_->taps.push_back(tap);
        std::weak_ptr<Model> weak = model_;
        std::weak_ptr<Tap> weakTap = tap;
        Subscription subscription([weak, weakTap] {
            const auto tap = weakTap.lock();
            if (!tap) {
                return;
            }
            tap->alive = false;
            if (const auto model = weak.lock()) {
                std::erase(model->taps, tap);
            }
        });
        return KeyTap(std::move(subscription), std::make_shared<FakeTapControl>(tap));
    }
    bool canSwallow() override { return model_->tapsCanSwallow; }
    bool seesFn() override { return model_->tapsSeeFn; }
    bool catchUp() override {
        model_->catchUpTaps();
        if (auto then = std::exchange(model_->afterCatchUp, nullptr)) {
            then();
        }
        return true;
    }
    std::unique_ptr<KeyHold> holdKeys() override {
        if (model_->keysHeld) {
            return nullptr;
        }
        model_->keysHeld = true;
        struct Hold final : KeyHold {
            explicit Hold(ModelPtr model) : model(std::move(model)) {}
            ~Hold() override {
                for (const auto& event : release()) {
                    model->deliver(event);
                }
            }
            std::vector<InputEvent> release() override {
                model->keysHeld = false;
                return std::exchange(model->heldKeys, {});
            }
            PressedThrough pressThrough(KeyChord chord, int times) override {
                if (!model->keysHeld) {
                    return {};
                }
                model->keysHeld = false;
                bool posted = true;
                for (int i = 0; i < times && posted; ++i) {
                    posted = model->postKey(PostedKey::Kind::down, chord).ok() &&
                             model->postKey(PostedKey::Kind::up, chord).ok();
                }
                model->keysHeld = posted;
                return {.posted = posted};
            }
            PressedThrough postThrough(const std::function<bool()>& post) override {
                if (!model->keysHeld) {
                    return {};
                }
                model->keysHeld = false;
                const bool posted = post();
                model->keysHeld = true;
                return {.posted = posted};
            }
            ModelPtr model;
        };
        return std::make_unique<Hold>(model_);
    }

  private:
    ModelPtr model_;
};

class FakeKeyboardLayout final : public KeyboardLayout {
  public:
    explicit FakeKeyboardLayout(ModelPtr model) : model_(std::move(model)) {}
    std::optional<std::u16string> characterForKeyCode(std::uint32_t keyCode) override {
        const auto found = model_->layout.find(keyCode);
        if (keyCode > 0xFFFF || found == model_->layout.end()) {
            return std::nullopt;
        }
        return found->second;
    }

  private:
    ModelPtr model_;
};

class FakeKeychain final : public Keychain {
  public:
    explicit FakeKeychain(ModelPtr model) : model_(std::move(model)) {}

    bool isAvailable() override { return model_->keychainAvailable; }
    Expected<std::optional<std::string>> readPassword(std::string_view service,
                                                      std::string_view account) override {
        if (auto refused = refusal(); !refused) {
            return refused.error();
        }
        const auto found = model_->secrets.find(key(service, account));
        if (found == model_->secrets.end()) {
            return std::optional<std::string>();
        }
        return std::optional<std::string>(found->second);
    }
    Status replacePassword(std::string_view service, std::string_view account,
                           std::string_view secret) override {
        if (auto refused = refusal(); !refused) {
            return refused;
        }
        model_->secrets[key(service, account)] = std::string(secret);
        return {};
    }
    Status deletePassword(std::string_view service, std::string_view account) override {
        if (auto refused = refusal(); !refused) {
            return refused;
        }
        model_->secrets.erase(key(service, account));
        return {};
    }

  private:
    static std::pair<std::string, std::string> key(std::string_view service,
                                                   std::string_view account) {
        return {std::string(service), std::string(account)};
    }
    Status refusal() const {
        if (!model_->keychainAvailable) {
            return Error{ErrorCode::unavailable, "no keyring in this session"};
        }
        if (model_->keychainFailure) {
            return Error{*model_->keychainFailure, "the keyring refused the operation"};
        }
        return {};
    }

    ModelPtr model_;
};

class FakeLoginItem final : public LoginItem {
  public:
    explicit FakeLoginItem(ModelPtr model) : model_(std::move(model)) {}

    LoginItemStatus status() override { return model_->loginStatus; }
    Status registerItem() override {
        if (model_->loginFailure) {
            return Error{*model_->loginFailure, "autostart entry could not be written"};
        }
        model_->loginStatus = model_->loginNeedsApproval ? LoginItemStatus::requiresApproval
                                                         : LoginItemStatus::enabled;
        return {};
    }
    Status unregisterItem() override {
        if (model_->loginFailure) {
            return Error{*model_->loginFailure, "autostart entry could not be removed"};
        }
        model_->loginStatus = LoginItemStatus::notRegistered;
        return {};
    }
    Status openSystemSettingsLoginItems() override {
        ++model_->loginItemsSettingsOpened;
        return {};
    }

  private:
    ModelPtr model_;
};

class FakeSystemLog final : public SystemLog {
  public:
    explicit FakeSystemLog(ModelPtr model) : model_(std::move(model)) {}
    void write(const LogRecord& record) override { model_->log.push_back(record); }

  private:
    ModelPtr model_;
};

class FakeSpellChecker final : public SpellChecker {
  public:
    explicit FakeSpellChecker(ModelPtr model) : model_(std::move(model)) {}
    bool isMisspelled(std::u16string_view word) override {
        return model_->misspelledWords.contains(std::u16string(word));
    }

  private:
    ModelPtr model_;
};

}  // namespace

class FakeDesktopSession final : public DesktopSession {
  public:
    explicit FakeDesktopSession(ModelPtr model) : model_(std::move(model)) {}
    bool hasSessionBus() override { return model_->sessionBus; }
    bool switchAccessibilityOn() override {
        if (!model_->sessionBus) {
            return false;
        }
        ++model_->accessibilitySwitchOns;
        return true;
    }
    bool reducesAnimations() override { return model_->reducesAnimations; }
    bool hasCompositor() override { return model_->compositor; }
    void showOnEveryDesktop(std::uint64_t window) override {
        model_->windowsOnEveryDesktop.push_back(window);
    }

  private:
    ModelPtr model_;
};

Seams makeSeams(const std::shared_ptr<Model>& model) {
    return Seams{
        .accessibility = std::make_shared<FakeAccessibility>(model),
        .pasteboard = std::make_shared<FakePasteboard>(model),
        .keySynthesis = std::make_shared<FakeKeySynthesis>(model),
        .workspace = std::make_shared<FakeWorkspace>(model),
        .secureInput = std::make_shared<FakeSecureInput>(model),
        .screens = std::make_shared<FakeScreens>(model),
        .hotKeys = std::make_shared<FakeHotKeys>(model),
        .keyTaps = std::make_shared<FakeKeyTaps>(model),
        .keyboardLayout = std::make_shared<FakeKeyboardLayout>(model),
        .keychain = std::make_shared<FakeKeychain>(model),
        .loginItem = std::make_shared<FakeLoginItem>(model),
        .systemLog = std::make_shared<FakeSystemLog>(model),
        .spellChecker = std::make_shared<FakeSpellChecker>(model),
        .desktopSession = std::make_shared<FakeDesktopSession>(model),
    };
}

}  // namespace ravlin::platform::fake
