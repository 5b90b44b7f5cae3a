#include "app/target/quick_fix_host_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "app/target/quick_fix_pasteboard_manager.h"
#include "core/support/async.h"
#include "core/text/unicode.h"
#include "platform/keys.h"

std::size_t std::hash<ravlin::QNQuickFixElementToken>::operator()(
    const ravlin::QNQuickFixElementToken& token) const noexcept {
    // The identifier is random: its first bytes are as good a hash as any.
    std::size_t hash = 0;
    std::memcpy(&hash, token.id.bytes.data(), std::min(sizeof hash, token.id.bytes.size()));
    return hash;
}

namespace ravlin {
namespace {

using platform::AttributeValue;
using platform::ElementRef;
namespace ax = platform::ax;

QCoro::Task<> pause(std::shared_ptr<Executor> executor, std::chrono::milliseconds duration,
                    std::stop_token stop) {
    co_await sleepFor(*executor, std::max(duration, std::chrono::milliseconds(0)), stop);
}

bool frontmostOther(platform::Workspace& workspace, const platform::RunningApplication& app) {
    const auto front = workspace.frontmostApplication();
    return front && front->pid == app.pid && app.pid != workspace.currentApplication().pid;
}

QCoro::Task<bool> waitForFront(TargetSeams seams, platform::RunningApplication app,
                               std::chrono::milliseconds limit, std::stop_token stop) {
    const auto inFront = [workspace = seams.workspace, app] {
        return frontmostOther(*workspace, app);
    };
    const bool met = co_await QNModelPasteboardSnapshot::waitForFront(seams, inFront, limit, stop);
    co_return met || (stop.stop_requested() && inFront());
}

QCoro::Task<> waitForKeysUpWith(TargetSeams seams, std::stop_token stop) {
    (void)co_await waitForKeysUp(seams, std::move(stop));
}

QCoro::Task<bool> waitUntilWith(TargetSeams seams, std::function<bool()> condition,
                                std::chrono::milliseconds interval,
                                std::chrono::milliseconds limit, std::stop_token stop) {
    co_return co_await ravlin::waitUntil(*seams.executor, std::move(condition), interval, limit,
                                         std::move(stop));
}

QCoro::Task<> waitForKeyboardFocusWith(TargetSeams seams, std::stop_token stop) {
    (void)co_await QNModelPasteboardSnapshot::waitForKeyboardFocus(seams, std::move(stop));
}

QCoro::Task<> waitForLookOf(TargetSeams seams, platform::FetchTarget target,
                            std::stop_token stop) {
    (void)co_await QNModelPasteboardSnapshot::waitForLook(seams, target, std::move(stop));
}

QCoro::Task<> waitForFetchOf(TargetSeams seams, platform::FetchTarget target) {
    co_await QNModelPasteboardSnapshot::waitForFetch(seams, target);
}

QCoro::Task<std::optional<std::u16string>> readPasteboardString(TargetSeams seams) {
    co_return co_await pasteboardText(seams.pasteboard, *seams.executor, seams.ending);
}

}  // namespace

QNQuickFixHostLiveDriver::QNQuickFixHostLiveDriver(TargetSeams seams) : seams_(std::move(seams)) {}

// --- Element-level functions

std::optional<ElementRef> QNQuickFixHostLiveDriver::copyAttribute(
    platform::Accessibility& accessibility, std::string_view attribute, ElementRef element) {
    return platform::elementAttribute(accessibility, element, attribute);
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::stringAttribute(
    platform::Accessibility& accessibility, std::string_view attribute, ElementRef element,
    bool nonEmpty) {
    auto text = platform::textAttribute(accessibility, element, attribute);
    if (nonEmpty && text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

bool QNQuickFixHostLiveDriver::isSecureTextElement(platform::Accessibility& accessibility,
                                                   ElementRef element,
                                                   const std::optional<std::string>& role) {
    if (role == ax::secureTextFieldRole) {
        return true;
    }
    const auto subrole = stringAttribute(accessibility, ax::subrole, element, true);
    return subrole && text::toUtf8(*subrole) == ax::secureTextFieldRole;
}

std::optional<text::Utf16Range> QNQuickFixHostLiveDriver::selectedTextRange(
    platform::Accessibility& accessibility, ElementRef element) {
    const auto range = platform::rangeAttribute(accessibility, element, ax::selectedTextRange);
    if (!range || range->location < 0 || range->length < 0) {
        return std::nullopt;
    }
    return range;
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::string(
    platform::Accessibility& accessibility, text::Utf16Range range, ElementRef element) {
    if (range.length < 1) {
        return std::nullopt;
    }
    auto answer =
        accessibility.parameterizedAttribute(element, ax::stringForRange, AttributeValue(range));
    if (!answer) {
        return std::nullopt;
    }
    auto* text = std::get_if<std::u16string>(&answer.value());
    if (text == nullptr || text->empty()) {
        return std::nullopt;
    }
    return std::move(*text);
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::selectedText(
    platform::Accessibility& accessibility, ElementRef element) {
    if (auto selected = stringAttribute(accessibility, ax::selectedText, element, true)) {
        return selected;
    }
    const auto range = selectedTextRange(accessibility, element);
    if (!range || range->length == 0) {
        return std::nullopt;
    }
    if (auto ranged = string(accessibility, *range, element)) {
        return ranged;
    }
    const auto value = stringAttribute(accessibility, ax::value, element, true);
    if (!value) {
        return std::nullopt;
    }
    return substring(*value, range->location, range->length);
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::substring(std::u16string_view text,
                                                                  std::int64_t location,
                                                                  std::int64_t length) {
    const auto size = static_cast<std::int64_t>(text.size());
    // Compared without forming location + length, which could overflow.
    if (location < 0 || length < 1 || location > size || length > size - location) {
        return std::nullopt;
    }
    return std::u16string(
        text.substr(static_cast<std::size_t>(location), static_cast<std::size_t>(length)));
}

bool QNQuickFixHostLiveDriver::setSelectedTextRange(platform::Accessibility& accessibility,
                                                    text::Utf16Range range, ElementRef element) {
    if (range.location < 0 || range.length < 0) {
        return false;
    }
    return accessibility.setAttribute(element, ax::selectedTextRange, AttributeValue(range)).ok();
}

std::vector<ElementRef> QNQuickFixHostLiveDriver::children(platform::Accessibility& accessibility,
                                                           ElementRef element) {
    auto list = platform::elementListAttribute(accessibility, element, ax::children);
    std::erase_if(list, [](ElementRef child) { return !child; });
    return list;
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::textRunOnInto(
    platform::Accessibility& accessibility, ElementRef field, platform::ProcessID pid,
    std::size_t maxLength) {
    const auto now = focusedElementRef(accessibility, pid);
    if (!now || *now == field) {
        return std::nullopt;
    }
    const auto parent = copyAttribute(accessibility, ax::parent, field);
    if (!parent || copyAttribute(accessibility, ax::parent, *now) != parent) {
        return std::nullopt;
    }
    const auto siblings = children(accessibility, *parent);
    const auto from = std::ranges::find(siblings, field);
    const auto to = std::ranges::find(siblings, *now);
    if (from == siblings.end() || to == siblings.end() || to <= from) {
        return std::nullopt;
    }
    std::u16string text;
    for (auto at = from + 1; at <= to; ++at) {
        const auto part = stringAttribute(accessibility, ax::value, *at, false);
        if (!part || text.size() + 1 + part->size() > maxLength) {
            return std::nullopt;
        }
        text += u'\n';
        text += *part;
    }
    return text;
}

bool QNQuickFixHostLiveDriver::postCommandKey(platform::KeySynthesis& keySynthesis,
                                              std::uint32_t keyCode) {
    return keySynthesis.postKeyPress({keyCode, platform::modifier::command}).ok();
}

// --- Registration and tokens

QNQuickFixElementInfo QNQuickFixHostLiveDriver::registerElement(ElementRef element,
                                                                std::optional<std::string> role) {
    auto& accessibility = *seams_.accessibility;
    if (!role) {
        if (const auto read = stringAttribute(accessibility, ax::role, element, true)) {
            role = text::toUtf8(*read);
        }
    }
    QNQuickFixElementInfo info{.token = QNQuickFixElementToken::make(), .role = std::move(role)};
    info.isSecure = isSecureTextElement(accessibility, element, info.role);
    if (const auto value = stringAttribute(accessibility, ax::value, element, false)) {
        info.valueLength = static_cast<std::int64_t>(value->size());
    }
    elements_.emplace(info.token, element);
    return info;
}

std::optional<ElementRef> QNQuickFixHostLiveDriver::element(const Token& token) const {
    const auto found = elements_.find(token);
    if (found == elements_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<ElementRef> QNQuickFixHostLiveDriver::focusedElementRef(
    platform::Accessibility& accessibility, platform::ProcessID pid) {
    if (auto focused =
            copyAttribute(accessibility, ax::focusedUIElement, accessibility.systemWideElement())) {
        return focused;
    }
    if (const auto application = accessibility.applicationElement(pid)) {
        return copyAttribute(accessibility, ax::focusedUIElement, *application);
    }
    return std::nullopt;
}

std::optional<QNQuickFixElementInfo> QNQuickFixHostLiveDriver::focusedElement(Application app) {
    const auto focused = focusedElementRef(*seams_.accessibility, app.pid);
    if (!focused) {
        return std::nullopt;
    }
    return registerElement(*focused, std::nullopt);
}

void QNQuickFixHostLiveDriver::collectTextDescendants(const Token& token, int depth, int maxDepth,
                                                      std::vector<QNQuickFixElementInfo>& into) {
    if (const auto start = element(token)) {
        collectTextDescendants(*start, depth, maxDepth, into);
    }
}

void QNQuickFixHostLiveDriver::collectTextDescendants(ElementRef element, int depth, int maxDepth,
                                                      std::vector<QNQuickFixElementInfo>& into) {
    if (depth > maxDepth) {
        return;
    }
    auto& accessibility = *seams_.accessibility;
    if (depth > 0) {
        if (const auto role = stringAttribute(accessibility, ax::role, element, true)) {
            auto name = text::toUtf8(*role);
            if (std::ranges::find(textRoles, name) != std::end(textRoles)) {
                into.push_back(registerElement(element, std::move(name)));
            }
        }
    }
    for (const auto child : children(accessibility, element)) {
        collectTextDescendants(child, depth + 1, maxDepth, into);
    }
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::selectedText(const Token& token) {
    const auto found = element(token);
    return found ? selectedText(*seams_.accessibility, *found) : std::nullopt;
}

std::optional<text::Utf16Range> QNQuickFixHostLiveDriver::selectedTextRange(const Token& token) {
    const auto found = element(token);
    return found ? selectedTextRange(*seams_.accessibility, *found) : std::nullopt;
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::string(text::Utf16Range range,
                                                               const Token& token) {
    const auto found = element(token);
    return found ? string(*seams_.accessibility, range, *found) : std::nullopt;
}

std::optional<std::u16string> QNQuickFixHostLiveDriver::value(const Token& token) {
    const auto found = element(token);
    return found ? stringAttribute(*seams_.accessibility, ax::value, *found, false) : std::nullopt;
}

bool QNQuickFixHostLiveDriver::canSetSelectedText(const Token& token) {
    const auto found = element(token);
    if (!found) {
        return false;
    }
    const auto settable = seams_.accessibility->isAttributeSettable(*found, ax::selectedText);
    return settable && *settable;
}

bool QNQuickFixHostLiveDriver::setSelectedText(std::u16string_view text, const Token& token) {
    const auto found = element(token);
    return found &&
           seams_.accessibility
               ->setAttribute(*found, ax::selectedText, AttributeValue(std::u16string(text)))
               .ok();
}

bool QNQuickFixHostLiveDriver::setSelectedTextRange(text::Utf16Range range, const Token& token) {
    const auto found = element(token);
    return found && setSelectedTextRange(*seams_.accessibility, range, *found);
}

bool QNQuickFixHostLiveDriver::holdsRichText(const Token& token) {
    const auto found = element(token);
    return found &&
           platform::booleanAttribute(*seams_.accessibility, *found, platform::ax::richText) == true;
}

std::optional<bool> QNQuickFixHostLiveDriver::isEditable(const Token& token) {
    const auto found = element(token);
    return found ? platform::booleanAttribute(*seams_.accessibility, *found, platform::ax::editable)
                 : std::nullopt;
}

// --- Applications, keys, pasteboard, pauses

platform::RunningApplication QNQuickFixHostLiveDriver::currentApplication() {
    return seams_.workspace->currentApplication();
}

bool QNQuickFixHostLiveDriver::isFrontmostOther(Application app) {
    return frontmostOther(*seams_.workspace, app);
}

bool QNQuickFixHostLiveDriver::activate(Application app) {
    return seams_.workspace->activate(app.pid);
}

QCoro::Task<bool> QNQuickFixHostLiveDriver::waitForFrontmost(Application app,
                                                             std::chrono::milliseconds limit,
                                                             std::stop_token stop) {
    // The wait holds the seams, not the driver.
    return waitForFront(seams_, std::move(app), limit, std::move(stop));
}

std::optional<std::uint64_t> QNQuickFixHostLiveDriver::frontmostWindow() {
    return seams_.workspace->frontmostWindow();
}

QCoro::Task<> QNQuickFixHostLiveDriver::waitForKeysUp(std::stop_token stop) {
    // The wait holds the seams, not the driver.
    return waitForKeysUpWith(seams_, std::move(stop));
}

QCoro::Task<> QNQuickFixHostLiveDriver::waitForKeyboardFocus(std::stop_token stop) {
    return waitForKeyboardFocusWith(seams_, std::move(stop));
}

bool QNQuickFixHostLiveDriver::postCopy() {
    return postCommandKey(*seams_.keySynthesis, platform::keycode::c);
}

bool QNQuickFixHostLiveDriver::postSelectAll() {
    return postCommandKey(*seams_.keySynthesis, platform::keycode::a);
}

QNChordPost QNQuickFixHostLiveDriver::postPaste() {
    return postChordOverOwnWrite(*seams_.pasteboard, *seams_.keySynthesis,
                                 {platform::keycode::v, platform::modifier::command});
}

QCoro::Task<std::size_t> QNQuickFixHostLiveDriver::typeText(std::u16string text,
                                                            platform::RunningApplication target,
                                                            std::stop_token stop) {
    return ravlin::typeText(
        seams_, std::move(text),
        [workspace = seams_.workspace, target] { return frontmostOther(*workspace, target); },
        std::move(stop));
}

bool QNQuickFixHostLiveDriver::postBackSpace() {
    return seams_.keySynthesis->postKeyPress({platform::keycode::deleteKey, 0}).ok();
}

QCoro::Task<QNModelPasteboardSnapshot> QNQuickFixHostLiveDriver::capturePasteboard() {
    return QNModelPasteboardSnapshot::capture(seams_);
}

platform::PutBack QNQuickFixHostLiveDriver::restorePasteboard(
    const QNModelPasteboardSnapshot& snapshot, QNPutBackOver over) {
    return snapshot.restore(*seams_.pasteboard, over);
}

platform::PutBack QNQuickFixHostLiveDriver::restorePasteboardAfterCopy(
    const QNModelPasteboardSnapshot& snapshot, std::optional<std::u16string> copied,
    QNPutBackOver over) {
    return snapshot.restoreAfterCopy(seams_, std::move(copied), over);
}

void QNQuickFixHostLiveDriver::putBackPasteboard(const QNModelPasteboardSnapshot& snapshot) {
    snapshot.putBack(*seams_.pasteboard, QNPutBackOver::targetsCopy);
}

void QNQuickFixHostLiveDriver::releasePasteboard(const QNModelPasteboardSnapshot& snapshot) {
    snapshot.release(*seams_.pasteboard);
}

std::shared_ptr<QNQuickFixPasteboardManager> QNQuickFixHostLiveDriver::pasteboardManager() {
    return seams_.pasteboardManager.lock();
}

QCoro::Task<> QNQuickFixHostLiveDriver::waitForPasteboardFetch(platform::FetchTarget target) {
    // The wait holds the seams, not the driver.
    return waitForFetchOf(seams_, target);
}

QCoro::Task<> QNQuickFixHostLiveDriver::waitForPasteboardLook(platform::FetchTarget target,
                                                              std::stop_token stop) {
    return waitForLookOf(seams_, target, std::move(stop));
}

platform::WriteFetch QNQuickFixHostLiveDriver::pasteboardFetchedBy(platform::FetchTarget target) {
    return seams_.pasteboard->lastWriteFetchedBy(target);
}

platform::Status QNQuickFixHostLiveDriver::writePasteboardString(std::u16string_view text) {
    seams_.pasteboard->clear();
    return seams_.pasteboard->setTransientString(text);
}

bool QNQuickFixHostLiveDriver::makePasteboardTextOrdinary() {
    return seams_.pasteboard->makeTransientOrdinary();
}

bool QNQuickFixHostLiveDriver::pasteboardHoldsOwnChange() {
    return seams_.pasteboard->holdsOwnChange();
}

std::int64_t QNQuickFixHostLiveDriver::pasteboardChangeCount() {
    return seams_.pasteboard->changeCount();
}

QCoro::Task<std::optional<std::u16string>> QNQuickFixHostLiveDriver::pasteboardString() {
    return readPasteboardString(seams_);
}

QCoro::Task<> QNQuickFixHostLiveDriver::sleep(std::chrono::milliseconds duration,
                                              std::stop_token stop) {
    // A pause no stop of the flow's may shorten still ends with the program.
    return pause(seams_.executor, duration, stop.stop_possible() ? std::move(stop) : seams_.ending);
}

QCoro::Task<bool> QNQuickFixHostLiveDriver::waitUntil(std::function<bool()> condition,
                                                      std::chrono::milliseconds interval,
                                                      std::chrono::milliseconds limit,
                                                      std::stop_token stop) {
    return waitUntilWith(seams_, std::move(condition), interval, limit, std::move(stop));
}

}  // namespace ravlin
