#pragma once

// Null objects for every facility: they answer "unavailable" (or the harmless empty answer where
// the interface has no error: not trusted, no frontmost application, no screens...) and never
// act. A program fills every seam it has no backend for with one of these.

#include <string_view>
#include <vector>

#include "platform/seams.h"

namespace ravlin::platform {

class UnavailableAccessibility final : public Accessibility {
  public:
    bool isTrusted(bool prompt) override { return false; }
    Subscription observeTrust(std::function<void(bool)>) override { return {}; }
    ElementRef systemWideElement() override { return {}; }
    Expected<ElementRef> applicationElement(ProcessID) override;
    Expected<ProcessID> processID(ElementRef) override;
    Subscription observeFocus(std::function<void(ElementRef)>) override { return {}; }
    Expected<AttributeValue> attribute(ElementRef, std::string_view) override;
    Expected<AttributeValue> parameterizedAttribute(ElementRef, std::string_view,
                                                    const AttributeValue&) override;
    Expected<bool> isAttributeSettable(ElementRef, std::string_view) override;
    Status setAttribute(ElementRef, std::string_view, const AttributeValue&) override;
    void release(ElementRef) override {}
};

class UnavailablePasteboard final : public Pasteboard {
  public:
    std::int64_t changeCount() override { return 0; }
    std::int64_t clear() override { return 0; }
    Status setString(std::u16string_view) override;
    WriteFetch lastWriteFetchedBy(const FetchTarget&) override { return WriteFetch::none; }
    Subscription observeChanges(std::function<void(std::int64_t)>) override { return {}; }
    void readContents(std::function<void(PasteboardContents)> done) override { done({}); }
    Status writeContents(const PasteboardContents&) override;
    void readString(std::function<void(std::optional<std::u16string>)> done) override {
        done(std::nullopt);
    }
};

class UnavailableKeySynthesis final : public KeySynthesis {
  public:
    Status postKeyDown(KeyChord) override;
    Status postKeyUp(KeyChord) override;
    Status postText(std::u16string_view) override;
};

// Knows only this process: it is its own frontmost application and activates nothing.
class UnavailableWorkspace final : public Workspace {
  public:
    UnavailableWorkspace();
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    RunningApplication currentApplication() override { return current_; }
    bool activate(ProcessID) override { return false; }
    Status openURL(std::string_view) override;
    Subscription observeFrontmost(
        std::function<void(const std::optional<RunningApplication>&)>) override {
        return {};
    }

  private:
    RunningApplication current_;
};

class UnavailableSecureInput final : public SecureInput {
  public:
    State state() override { return State::off; }
};

class UnavailableScreens final : public Screens {
  public:
    std::vector<Screen> screens() override { return {}; }
    std::optional<Screen> mainScreen() override { return std::nullopt; }
    Point mouseLocation() override { return {}; }
};

class UnavailableHotKeys final : public HotKeys {
  public:
    Expected<Subscription> registerHotKey(KeyChord, std::uint32_t, std::function<void()>) override;
};

class UnavailableKeyTaps final : public KeyTaps {
  public:
    Expected<KeyTap> startTap(std::uint64_t, Handler) override;
    bool canSwallow() override { return false; }
    bool seesFn() override { return false; }
};

class UnavailableKeyboardLayout final : public KeyboardLayout {
  public:
    std::optional<std::u16string> characterForKeyCode(std::uint32_t) override {
        return std::nullopt;
    }
};

class UnavailableKeychain final : public Keychain {
  public:
    bool isAvailable() override { return false; }
    Expected<std::optional<std::string>> readPassword(std::string_view, std::string_view) override;
    Status replacePassword(std::string_view, std::string_view, std::string_view) override;
    Status deletePassword(std::string_view, std::string_view) override;
};

class UnavailableLoginItem final : public LoginItem {
  public:
    LoginItemStatus status() override { return LoginItemStatus::notFound; }
    Status registerItem() override;
    Status unregisterItem() override;
};

// Writes nothing.
class UnavailableSystemLog final : public SystemLog {
  public:
    void write(const LogRecord&) override {}
};

// Finds nothing misspelled.
class UnavailableSpellChecker final : public SpellChecker {
  public:
    bool isMisspelled(std::u16string_view) override { return false; }
};

// No session bus, no desktop settings (animations on), no compositor; asks nothing.
class UnavailableDesktopSession final : public DesktopSession {
  public:
    bool hasSessionBus() override { return false; }
    bool switchAccessibilityOn() override { return false; }
    bool reducesAnimations() override { return false; }
    bool hasCompositor() override { return false; }
    void showOnEveryDesktop(std::uint64_t) override {}
};

// A bundle of unavailable objects only.
[[nodiscard]] Seams unavailableSeams();
// `seams` with every missing member filled with its unavailable object.
[[nodiscard]] Seams withUnavailableFilled(Seams seams);
// The names of the seams that are missing or unavailable ("accessibility", "pasteboard",
// "key synthesis", ...), in the bundle's order. Those reached through the session's message bus
// (accessibility, secure input, keychain) count as unavailable while the bus does not answer.
[[nodiscard]] std::vector<std::string_view> unavailableSeamNames(const Seams& seams);
// The others: the seams a backend of the desktop's serves, in the bundle's order.
[[nodiscard]] std::vector<std::string_view> connectedSeamNames(const Seams& seams);

}  // namespace ravlin::platform
