#pragma once

// Other applications' accessibility over AT-SPI (libatspi), on the main thread: libatspi's
// replies and events arrive through the GLib main context that Qt's event loop runs.
//
// Every call has a short time limit, so a hung application cannot freeze us; a call that fails
// or times out is an absent value. Our own accessibles are never asked anything: this process
// cannot answer its own calls while it waits for them, so each would cost the full time limit.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>

#include "platform/accessibility.h"
#include "platform/secure_input.h"

// libatspi's and GDBus's types, without their headers in ours.
struct _AtspiAccessible;
struct _AtspiEventListener;
struct _GDBusConnection;

namespace ravlin::platform {

class AtspiAccessibility final : public Accessibility {
  public:
    // Time limit of one call to another application.
    static constexpr auto callTimeout = std::chrono::milliseconds(300);
    // Bounds on the walks through an application's tree and on what we hold.
    static constexpr int maxDepth = 64;
    static constexpr int maxVisited = 4000;
    static constexpr int maxChildren = 1000;
    static constexpr std::size_t maxTokens = 4096;
    static constexpr std::size_t maxTextBytes = 16u << 20;

    // `activeProcess` answers the process of the active window, if any.
    explicit AtspiAccessibility(std::function<std::optional<ProcessID>()> activeProcess);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isTrusted(bool prompt) override;
    Subscription observeTrust(std::function<void(bool)> onChange) override;
    ElementRef systemWideElement() override { return systemWide; }
    Expected<ElementRef> applicationElement(ProcessID pid) override;
    Expected<ProcessID> processID(ElementRef element) override;
    Subscription observeFocus(std::function<void(ElementRef)> onFocus) override;
    Expected<AttributeValue> attribute(ElementRef element, std::string_view name) override;
    Expected<AttributeValue> parameterizedAttribute(ElementRef element, std::string_view name,
                                                    const AttributeValue& parameter) override;
    Expected<bool> isAttributeSettable(ElementRef element, std::string_view name) override;
    Status setAttribute(ElementRef element, std::string_view name,
                        const AttributeValue& value) override;
    void release(ElementRef element) override;

    // Whether the active application's focused element is a password field.
    [[nodiscard]] bool focusedIsPassword();
    // The longest single call to another application so far.
    [[nodiscard]] std::chrono::microseconds worstCall() const { return worstCall_; }

  private:
    static constexpr ElementRef systemWide{1};
    struct Entry {
        _AtspiAccessible* object = nullptr;
        ProcessID pid = 0;
        std::optional<bool> utf16Offsets;
    };

    ElementRef remember(_AtspiAccessible* object, ProcessID pid);
    [[nodiscard]] Expected<Entry*> lookup(ElementRef element);
    [[nodiscard]] Expected<_AtspiAccessible*> focused();
    [[nodiscard]] _AtspiAccessible* application(ProcessID pid);
    [[nodiscard]] _AtspiAccessible* focusedIn(_AtspiAccessible* application);
    [[nodiscard]] Expected<AttributeValue> read(Entry& entry, std::string_view name);
    [[nodiscard]] Expected<AttributeValue> readText(Entry& entry, std::string_view name);
    [[nodiscard]] bool usesUtf16(Entry& entry);
    [[nodiscard]] bool isEditable(_AtspiAccessible* object);
    Status writeSelectedText(Entry& entry, const std::u16string& text);
    Status writeValue(Entry& entry, const std::u16string& text);
    Status writeSelection(Entry& entry, text::Utf16Range range);
    [[nodiscard]] bool readTrust();
    void onFocusEvent(_AtspiAccessible* source);

    std::function<std::optional<ProcessID>()> activeProcess_;
    ProcessID self_;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::unordered_map<_AtspiAccessible*, std::uint64_t> ids_;
    std::deque<std::uint64_t> order_;
    std::uint64_t nextId_ = 2;

    _GDBusConnection* session_ = nullptr;
    unsigned trustSignal_ = 0;
    std::optional<bool> trusted_;
    CallbackList<bool> trustObservers_;

    _AtspiEventListener* focusListener_ = nullptr;
    CallbackList<ElementRef> focusObservers_;
    std::chrono::microseconds worstCall_{0};
};

// Secure input is on while the active application's focused element is a password field.
class AtspiSecureInput final : public SecureInput {
  public:
    explicit AtspiSecureInput(std::shared_ptr<AtspiAccessibility> accessibility)
        : accessibility_(std::move(accessibility)) {}
    bool isSecureInputEnabled() override { return accessibility_->focusedIsPassword(); }

  private:
    std::shared_ptr<AtspiAccessibility> accessibility_;
};

}  // namespace ravlin::platform
