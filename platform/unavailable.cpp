#include "platform/unavailable.h"

#include <unistd.h>

namespace ravlin::platform {
namespace {

Error unavailable(std::string_view what) {
    return Error{ErrorCode::unavailable, std::string(what) + " is not connected"};
}

// Applies `visit(name, member, makeUnavailable, isUnavailable)` to each seam, in order.
template <class Visit>
void forEachSeam(Seams& seams, Visit&& visit) {
    visit("accessibility", seams.accessibility, std::type_identity<UnavailableAccessibility>{});
    visit("pasteboard", seams.pasteboard, std::type_identity<UnavailablePasteboard>{});
    visit("key synthesis", seams.keySynthesis, std::type_identity<UnavailableKeySynthesis>{});
    visit("workspace", seams.workspace, std::type_identity<UnavailableWorkspace>{});
    visit("secure input", seams.secureInput, std::type_identity<UnavailableSecureInput>{});
    visit("screens", seams.screens, std::type_identity<UnavailableScreens>{});
    visit("hot keys", seams.hotKeys, std::type_identity<UnavailableHotKeys>{});
    visit("key taps", seams.keyTaps, std::type_identity<UnavailableKeyTaps>{});
    visit("keyboard layout", seams.keyboardLayout, std::type_identity<UnavailableKeyboardLayout>{});
    visit("keychain", seams.keychain, std::type_identity<UnavailableKeychain>{});
    visit("login item", seams.loginItem, std::type_identity<UnavailableLoginItem>{});
    visit("system log", seams.systemLog, std::type_identity<UnavailableSystemLog>{});
    visit("spell checker", seams.spellChecker, std::type_identity<UnavailableSpellChecker>{});
    visit("desktop session", seams.desktopSession,
          std::type_identity<UnavailableDesktopSession>{});
}

// Whether a backend serves the seam named `name` and can reach what it speaks to: the
// accessibility layer and secure input (read through it) once the accessibility bus answers and
// is switched on, the keyring once it answers; both only over the session's message bus.
template <class Member, class Type>
bool answers(const Seams& seams, std::string_view name, const Member& member, Type) {
    if (!member || dynamic_cast<typename Type::type*>(member.get()) != nullptr) {
        return false;
    }
    if (name == "accessibility" || name == "secure input" || name == "keychain") {
        if (!seams.desktopSession || !seams.desktopSession->hasSessionBus()) {
            return false;
        }
        if (name == "keychain") {
            return seams.keychain->isAvailable();
        }
        return seams.accessibility && seams.accessibility->isTrusted(false);
    }
    return true;
}

}  // namespace

Expected<ElementRef> UnavailableAccessibility::applicationElement(ProcessID) {
    return unavailable("accessibility");
}
Expected<ProcessID> UnavailableAccessibility::processID(ElementRef) {
    return unavailable("accessibility");
}
Expected<AttributeValue> UnavailableAccessibility::attribute(ElementRef, std::string_view) {
    return unavailable("accessibility");
}
Expected<AttributeValue> UnavailableAccessibility::parameterizedAttribute(ElementRef,
                                                                          std::string_view,
                                                                          const AttributeValue&) {
    return unavailable("accessibility");
}
Expected<bool> UnavailableAccessibility::isAttributeSettable(ElementRef, std::string_view) {
    return unavailable("accessibility");
}
Status UnavailableAccessibility::setAttribute(ElementRef, std::string_view, const AttributeValue&) {
    return unavailable("accessibility");
}

Status UnavailablePasteboard::writeContents(const PasteboardContents&) {
    return unavailable("pasteboard");
}
Status UnavailablePasteboard::setString(std::u16string_view) {
    return unavailable("pasteboard");
}

Status UnavailableKeySynthesis::postKeyDown(KeyChord) {
    return unavailable("key synthesis");
}
Status UnavailableKeySynthesis::postKeyUp(KeyChord) {
    return unavailable("key synthesis");
}
Status UnavailableKeySynthesis::postText(std::u16string_view) {
    return unavailable("key synthesis");
}

UnavailableWorkspace::UnavailableWorkspace()
    : current_{static_cast<ProcessID>(::getpid()), "ravlin", "Ravlin"} {}
Status UnavailableWorkspace::openURL(std::string_view) {
    return unavailable("workspace");
}

Expected<Subscription> UnavailableHotKeys::registerHotKey(KeyChord, std::uint32_t,
                                                          std::function<void()>) {
    return unavailable("hot keys");
}

Expected<KeyTap> UnavailableKeyTaps::startTap(std::uint64_t, Handler) {
    return unavailable("key taps");
}

Expected<std::optional<std::string>> UnavailableKeychain::readPassword(std::string_view,
                                                                       std::string_view) {
    return unavailable("keychain");
}
Status UnavailableKeychain::replacePassword(std::string_view, std::string_view, std::string_view) {
    return unavailable("keychain");
}
Status UnavailableKeychain::deletePassword(std::string_view, std::string_view) {
    return unavailable("keychain");
}

Status UnavailableLoginItem::registerItem() {
    return unavailable("login item");
}
Status UnavailableLoginItem::unregisterItem() {
    return unavailable("login item");
}

Seams unavailableSeams() {
    return withUnavailableFilled(Seams{});
}

Seams withUnavailableFilled(Seams seams) {
    forEachSeam(seams, [](std::string_view, auto& member, auto type) {
        if (!member) {
            member = std::make_shared<typename decltype(type)::type>();
        }
    });
    return seams;
}

std::vector<std::string_view> unavailableSeamNames(const Seams& seams) {
    std::vector<std::string_view> names;
    auto copy = seams;
    forEachSeam(copy, [&](std::string_view name, auto& member, auto type) {
        if (!answers(seams, name, member, type)) {
            names.push_back(name);
        }
    });
    return names;
}

std::vector<std::string_view> connectedSeamNames(const Seams& seams) {
    std::vector<std::string_view> names;
    auto copy = seams;
    forEachSeam(copy, [&](std::string_view name, auto& member, auto type) {
        if (answers(seams, name, member, type)) {
            names.push_back(name);
        }
    });
    return names;
}

}  // namespace ravlin::platform
