#include "app/target/focus_snapshot.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_host_driver.h"
#include "app/target/quick_fix_route.h"
#include "core/support/async.h"
#include "core/text/unicode.h"
#include "platform/screen_flip.h"

namespace ravlin {
namespace {

using platform::AttributeValue;
using platform::ElementRef;
using platform::makeRect;
using platform::Rect;
namespace ax = platform::ax;
using Driver = QNQuickFixHostLiveDriver;
using AnchorSource = QNModelFocusAnchor::QNSourceFocusAnchor;

constexpr std::array<std::string_view, 4> sourceNames = {
    "accessibility-selected-text", "accessibility-value-range", "copy-fallback", "none"};

bool isFinite(const Rect& rect) {
    return std::isfinite(rect.minX()) && std::isfinite(rect.minY()) &&
           std::isfinite(rect.width()) && std::isfinite(rect.height());
}

// Negative sizes turned positive, the origin moved to the smallest corner.
Rect standardized(Rect rect) {
    if (rect.size.width < 0) {
        rect.origin.x += rect.size.width;
        rect.size.width = -rect.size.width;
    }
    if (rect.size.height < 0) {
        rect.origin.y += rect.size.height;
        rect.size.height = -rect.size.height;
    }
    return rect;
}

// The overlap's area; 0 when the rectangles do not overlap or merely touch.
double intersectionArea(const Rect& a, const Rect& b) {
    const double width = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double height = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return width > 0 && height > 0 ? width * height : 0;
}

double area(const Rect& rect) {
    return rect.width() > 0 && rect.height() > 0 ? rect.width() * rect.height() : 0;
}

bool isOnAScreen(Rect rect, const std::vector<platform::Screen>& screens) {
    if (rect.width() == 0) {
        rect = makeRect(rect.minX() - 0.5, rect.minY(), 1, rect.height());
    }
    return std::ranges::any_of(screens, [&](const platform::Screen& screen) {
        return intersectionArea(rect, screen.frame) > 0;
    });
}

double squaredDistance(const platform::Point& point, const Rect& rect) {
    const double dx = std::max({rect.minX() - point.x, 0.0, point.x - rect.maxX()});
    const double dy = std::max({rect.minY() - point.y, 0.0, point.y - rect.maxY()});
    return dx * dx + dy * dy;
}

platform::Point midpoint(const Rect& rect) {
    return {rect.minX() + rect.width() / 2, rect.minY() + rect.height() / 2};
}

std::optional<std::string> utf8(const std::optional<std::u16string>& text) {
    return text ? std::optional(text::toUtf8(*text)) : std::nullopt;
}

bool checkTrust(platform::Accessibility& accessibility) {
    const bool trusted = accessibility.isTrusted(false);
    if (QNModelFocusSnapshot::accessibilityTrustObserver) {
        QNModelFocusSnapshot::accessibilityTrustObserver(trusted);
    }
    return trusted;
}

bool frontmostOther(platform::Workspace& workspace, const platform::RunningApplication& app) {
    const auto front = workspace.frontmostApplication();
    return front && front->pid == app.pid && app.pid != workspace.currentApplication().pid;
}

std::optional<std::string> identityOf(const platform::RunningApplication& app) {
    return app.identity.empty() ? std::nullopt : std::optional(app.identity);
}

// Whether the application may report its focus once the shortcut's grab is over: never without
// trust, in a terminal (its screen is no field), or in an application that does not show itself
// to accessibility at all.
bool mayShowFocusLater(const TargetSeams& seams, const platform::RunningApplication& app) {
    auto& accessibility = *seams.accessibility;
    return checkTrust(accessibility) && !terminalPaste(identityOf(app), std::nullopt) &&
           accessibility.applicationElement(app.pid).hasValue();
}

}  // namespace

// --- Values and descriptions

std::string_view toString(QNSelectionSource source) {
    return sourceNames[static_cast<std::size_t>(source)];
}

std::optional<QNSelectionSource> selectionSourceFromString(std::string_view raw) {
    const auto found = std::ranges::find(sourceNames, raw);
    if (found == sourceNames.end()) {
        return std::nullopt;
    }
    return static_cast<QNSelectionSource>(found - sourceNames.begin());
}

std::string_view QNModelFocusAnchor::word(QNSourceFocusAnchor source) {
    switch (source) {
        case QNSourceFocusAnchor::caret:
            return "caret";
        case QNSourceFocusAnchor::caretProbed:
            return "caret (probed)";
        case QNSourceFocusAnchor::focusedElement:
            return "focused element";
        case QNSourceFocusAnchor::mouse:
            break;
    }
    return "mouse fallback";
}

std::string QNModelFocusAnchor::compactRectDescription(const Rect& rect) {
    // Rounded halves away from zero; a value no rectangle of a screen can have is clamped.
    const auto whole = [](double value) {
        if (std::isnan(value)) {
            return std::to_string(0);
        }
        return std::to_string(std::llround(std::clamp(value, -1e15, 1e15)));
    };
    return "x:" + whole(rect.minX()) + " y:" + whole(rect.minY()) + " w:" + whole(rect.width()) +
           " h:" + whole(rect.height());
}

std::string QNModelFocusAnchor::logDescription() const {
    std::string description(word(source));
    if (role) {
        description += " role=" + *role;
    }
    return description + " rect=" + compactRectDescription(rect);
}

QNScreenLayout QNScreenLayout::read(platform::Screens& screens) {
    return {screens.screens(), screens.mainScreen()};
}

// --- Element reads

QNModelFocusSnapshot::Selection QNModelFocusSnapshot::selection(
    platform::Accessibility& accessibility, ElementRef element) {
    if (auto selected = Driver::stringAttribute(accessibility, ax::selectedText, element, true)) {
        return {std::move(selected), QNSelectionSource::accessibilitySelectedText};
    }
    const auto range = Driver::selectedTextRange(accessibility, element);
    if (range && range->length > 0) {
        if (const auto value = Driver::stringAttribute(accessibility, ax::value, element, true)) {
            if (auto text = Driver::substring(*value, range->location, range->length)) {
                return {std::move(text), QNSelectionSource::accessibilityValueRange};
            }
        }
    }
    return {};
}

std::optional<Rect> QNModelFocusSnapshot::frame(platform::Accessibility& accessibility,
                                                ElementRef element) {
    const auto position = accessibility.attribute(element, ax::position);
    const auto size = accessibility.attribute(element, ax::size);
    if (!position || !size) {
        return std::nullopt;
    }
    const auto* origin = std::get_if<platform::Point>(&position.value());
    const auto* extent = std::get_if<platform::Size>(&size.value());
    if (origin == nullptr || extent == nullptr) {
        return std::nullopt;
    }
    const Rect rect{*origin, *extent};
    if (!isFinite(rect) || !(rect.width() > 0) || !(rect.height() > 0)) {
        return std::nullopt;
    }
    return rect;
}

std::optional<Rect> QNModelFocusSnapshot::bounds(platform::Accessibility& accessibility,
                                                 std::int64_t location, std::int64_t length,
                                                 ElementRef element) {
    if (location < 0 || length < 0) {
        return std::nullopt;
    }
    const auto answer = accessibility.parameterizedAttribute(
        element, ax::boundsForRange, AttributeValue(text::Utf16Range{location, length}));
    if (!answer) {
        return std::nullopt;
    }
    const auto* rect = std::get_if<Rect>(&answer.value());
    if (rect == nullptr || *rect == Rect{} || std::isnan(rect->width()) ||
        std::isnan(rect->height())) {
        return std::nullopt;
    }
    return *rect;
}

std::optional<Rect> QNModelFocusSnapshot::caretRectOf(platform::Accessibility& accessibility,
                                                      ElementRef element) {
    struct Candidate {
        std::int64_t location;
        std::int64_t length;
        bool trailing;
    };
    if (const auto range = Driver::selectedTextRange(accessibility, element)) {
        const auto l = range->location;
        std::vector<Candidate> candidates;
        if (range->length > 0) {
            const auto end = l + range->length;
            candidates = {{end, 0, false}, {std::max(end - 1, l), 1, true}, {l, 1, false}};
        } else {
            candidates = {{l, 0, false}, {l, 1, false}};
            if (l > 0) {
                candidates.push_back({l - 1, 1, true});
            }
        }
        for (const auto& candidate : candidates) {
            if (const auto b =
                    bounds(accessibility, candidate.location, candidate.length, element)) {
                return makeRect(candidate.trailing ? b->maxX() : b->minX(), b->minY(), 1,
                                b->height());
            }
        }
    }
    // The text-marker path.
    const auto marker = accessibility.attribute(element, ax::selectedTextMarkerRange);
    if (!marker) {
        return std::nullopt;
    }
    const auto answer =
        accessibility.parameterizedAttribute(element, ax::boundsForTextMarkerRange, *marker);
    const auto* r = answer ? std::get_if<Rect>(&answer.value()) : nullptr;
    if (r == nullptr || !isFinite(*r) || !(r->height() > 0)) {
        return std::nullopt;
    }
    return makeRect(r->width() <= 1.5 ? r->minX() : r->maxX(), r->minY(), 1, r->height());
}

// --- Geometry

std::optional<Rect> QNModelFocusSnapshot::screenRect(const Rect& fromAccessibility,
                                                     const std::optional<Rect>& near,
                                                     const QNScreenLayout& layout) {
    const Rect r = standardized(fromAccessibility);
    if (!isFinite(r) || !(r.width() >= 0) || !(r.height() > 0)) {
        return std::nullopt;
    }
    auto primary = platform::primaryScreen(layout.screens);
    if (!primary) {
        primary = layout.main;
    }
    if (!primary && !layout.screens.empty()) {
        primary = layout.screens.front();
    }
    if (!primary) {
        return std::nullopt;
    }
    const Rect flipped = platform::flipped(r, primary->frame.maxY());
    const bool flippedOn = isOnAScreen(flipped, layout.screens);
    const bool unflippedOn = isOnAScreen(r, layout.screens);
    if (!flippedOn) {
        return unflippedOn ? std::optional(r) : std::nullopt;
    }
    if (!unflippedOn || !near) {
        return flipped;
    }
    const double toFlipped = squaredDistance(midpoint(flipped), *near);
    const double toUnflipped = squaredDistance(midpoint(r), *near);
    return toUnflipped < toFlipped ? r : flipped;
}

std::optional<platform::Screen> QNModelFocusSnapshot::screen(
    const Rect& rect, const std::vector<platform::Screen>& screens) {
    const auto middle = midpoint(rect);
    for (const auto& screen : screens) {
        const auto& f = screen.frame;
        if (middle.x >= f.minX() && middle.x < f.maxX() && middle.y >= f.minY() &&
            middle.y < f.maxY()) {
            return screen;
        }
    }
    std::optional<platform::Screen> best;
    double bestArea = 0;
    for (const auto& screen : screens) {
        const double overlap = intersectionArea(rect, screen.frame);
        if (overlap > bestArea) {
            best = screen;
            bestArea = overlap;
        }
    }
    return best;
}

bool QNModelFocusSnapshot::isCaretOfElement(const Rect& caret,
                                            const std::optional<Rect>& elementFrame) {
    const Rect c = standardized(caret);
    if (c.minX() == 0 && c.minY() == 0) {
        return false;
    }
    if (!elementFrame) {
        return true;
    }
    const Rect& e = *elementFrame;
    const double slack = std::max(c.height(), 1.0);
    const auto middle = midpoint(c);
    return middle.x >= e.minX() - slack && middle.x <= e.maxX() + slack &&
           middle.y >= e.minY() - slack && middle.y <= e.maxY() + slack;
}

bool QNModelFocusSnapshot::isUsableElementAnchor(const Rect& rect,
                                                 const std::optional<std::string>& role,
                                                 const QNScreenLayout& layout) {
    auto found = screen(rect, layout.screens);
    if (!found) {
        found = layout.main;
    }
    if (!found && !layout.screens.empty()) {
        found = layout.screens.front();
    }
    if (!found) {
        return false;
    }
    const Rect& visible = found->visibleFrame;
    const bool textRole =
        role == ax::textAreaRole || role == ax::textFieldRole || role == ax::comboBoxRole;
    if (textRole && rect.height() > std::min(0.16 * visible.height(), 96.0)) {
        return false;
    }
    return area(rect) < (textRole ? 0.18 : 0.45) * area(visible);
}

// --- The synchronous reading

QNModelFocusSnapshot QNModelFocusSnapshot::captureNow(const TargetSeams& seams) {
    auto& accessibility = *seams.accessibility;
    QNModelFocusSnapshot snapshot;
    snapshot.app =
        seams.workspace->frontmostApplication().value_or(seams.workspace->currentApplication());
    snapshot.appBundleID = identityOf(snapshot.app);
    snapshot.window = seams.workspace->frontmostWindow();
    const auto secureState = seams.secureInput->state();
    const bool secureInput = secureState == platform::SecureInput::State::on;
    const bool trusted = checkTrust(accessibility);

    const auto layout = QNScreenLayout::read(*seams.screens);
    const auto mouse = seams.screens->mouseLocation();
    const auto mouseAnchor = [&](std::optional<std::string> role) {
        return QNModelFocusAnchor{AnchorSource::mouse, makeRect(mouse.x, mouse.y, 1, 1),
                                  std::move(role)};
    };
    snapshot.isSecureInput = secureInput;
    snapshot.anchor = mouseAnchor(std::nullopt);
    // Without the focused element only the desktop's answer tells secure input.
    snapshot.isSecureInputUnknown = secureState == platform::SecureInput::State::unknown;
    if (!trusted) {
        return snapshot;
    }
    const auto element = Driver::focusedElementRef(accessibility, snapshot.app.pid);
    if (!element) {
        return snapshot;
    }
    snapshot.isSecureInputUnknown = false;
    snapshot.focusedRole = utf8(Driver::stringAttribute(accessibility, ax::role, *element, true));
    if (secureInput || isPasswordField(seams, *element, snapshot.focusedRole)) {
        snapshot.anchor = mouseAnchor(snapshot.focusedRole);
        snapshot.isSecureInput = true;
        return snapshot;
    }
    snapshot.focusedElement = element;

    auto selected = selection(accessibility, *element);
    snapshot.selectionSource = selected.text ? selected.source : QNSelectionSource::none;
    snapshot.selectionText = std::move(selected.text);
    if (const auto range = Driver::selectedTextRange(accessibility, *element)) {
        snapshot.selectionLength = range->length;
        snapshot.selectionLocation = range->location;
    }
    const auto elementFrame = frame(accessibility, *element);
    if (elementFrame) {
        snapshot.focusedElementRect = screenRect(*elementFrame, std::nullopt, layout);
    }
    // A caret elsewhere is no caret: the panel goes by the element, as where none is reported.
    std::optional<Rect> caret;
    if (const auto read = caretRectOf(accessibility, *element);
        read && isCaretOfElement(*read, elementFrame)) {
        caret = screenRect(*read, snapshot.focusedElementRect, layout);
    }
    if (caret) {
        snapshot.caretRect = caret;
        snapshot.anchor = QNModelFocusAnchor{AnchorSource::caret, *caret, snapshot.focusedRole};
    } else if (snapshot.focusedElementRect &&
               isUsableElementAnchor(*snapshot.focusedElementRect, snapshot.focusedRole, layout)) {
        snapshot.anchor = QNModelFocusAnchor{AnchorSource::focusedElement,
                                             *snapshot.focusedElementRect, snapshot.focusedRole};
    } else {
        snapshot.anchor = mouseAnchor(snapshot.focusedRole);
    }
    snapshot.isSecureInput = false;
    return snapshot;
}

bool QNModelFocusSnapshot::isPasswordField(const TargetSeams& seams, platform::ElementRef element,
                                           const std::optional<std::string>& role) {
    return seams.secureInput->state() == platform::SecureInput::State::on ||
           Driver::isSecureTextElement(*seams.accessibility, element, role);
}

// --- The capture with its fallbacks

bool QNModelFocusSnapshot::needsCopyFallback() const {
    // A copy chord goes only where no password field can be.
    if (isSecureInput || isSecureInputUnknown) {
        return false;
    }
    const bool hasText = selectionText && !text::isBlank(*selectionText);
    if (hasText && selectionSource == QNSelectionSource::accessibilitySelectedText &&
        focusedRole == ax::webAreaRole) {
        return true;
    }
    // Only a selection the field shows is copied: without one, some editors (KWrite, code
    // editors) copy the whole line the caret is on, which would then be taken for the selection.
    if (!selectionLength || *selectionLength == 0) {
        return false;
    }
    return !hasText;
}

QNModelFocusSnapshot QNModelFocusSnapshot::applyingCopiedSelection(
    const std::optional<std::u16string>& copied, bool attempted) const {
    auto result = *this;
    if (isSecureInput) {
        return result;
    }
    if (copied && attempted && !text::isBlank(*copied)) {
        result.selectionText = copied;
        result.selectionSource = QNSelectionSource::copyFallback;
        return result;
    }
    if (selectionText && !text::isBlank(*selectionText) &&
        selectionSource == QNSelectionSource::accessibilitySelectedText &&
        focusedRole == ax::webAreaRole) {
        result.selectionText.reset();
        result.selectionSource = QNSelectionSource::none;
    }
    return result;
}

QCoro::Task<QNModelFocusSnapshot> QNModelFocusSnapshot::capture(TargetSeams seams,
                                                                std::stop_token stop,
                                                                bool afterShortcut,
                                                                ProbeKeys keys) {
    auto snapshot = captureNow(seams);
    // A password field when the action begins refuses it, whatever the field shows later (a
    // page's "show password" may make it a text field meanwhile).
    if (afterShortcut && !snapshot.isSecureInput && !snapshot.hasFocusedElement() &&
        seams.hotKeys && mayShowFocusLater(seams, snapshot.app)) {
        snapshot = co_await captureAfterKeyRelease(seams, std::move(snapshot), stop);
    }
    if (snapshot.isSecureInput) {
        co_return snapshot;
    }
    if (snapshot.needsCopyFallback()) {
        const auto copied =
            co_await copySelectionViaPasteboard(seams, snapshot.app, snapshot.focusedRole, stop);
        snapshot = snapshot.applyingCopiedSelection(copied, true);
    }
    const bool hasCaret = snapshot.anchor && snapshot.anchor->source == AnchorSource::caret;
    const bool hasText = snapshot.selectionText && !text::isBlank(*snapshot.selectionText);
    if (!hasCaret && !hasText) {
        if (const auto probed = co_await probedCaretRect(seams, snapshot, std::move(keys))) {
            auto role = snapshot.anchor ? snapshot.anchor->role : std::nullopt;
            snapshot.caretRect = probed;
            snapshot.anchor =
                QNModelFocusAnchor{AnchorSource::caretProbed, *probed, std::move(role)};
        }
    }
    co_return snapshot;
}

QCoro::Task<QNModelFocusSnapshot> QNModelFocusSnapshot::captureAfterKeyRelease(
    TargetSeams seams, QNModelFocusSnapshot first, std::stop_token stop) {
    auto& executor = *seams.executor;
    const auto hotKeys = seams.hotKeys;
    const bool heldAtEntry = hotKeys->isHeld();
    std::optional<QNModelFocusSnapshot> found;
    // (a reading that finds a password field ends the wait: it stands for the action)
    const auto readFocused = [&seams, &found] {
        found = captureNow(seams);
        return found->hasFocusedElement() || found->isSecureInput;
    };
    // The application may be about to show its focus again (a grab given back at the press).
    if (co_await waitUntil(executor, readFocused, focusReturnPollInterval, focusSettleLimit,
                           stop)) {
        co_return std::move(*found);
    }
    // Up already: no grab ended after the reading, so no focus is coming back.
    if (!heldAtEntry) {
        co_return found ? std::move(*found) : std::move(first);
    }
    // Held: the grab may keep the focus from the application until the key is up.
    if (!co_await waitUntil(
            executor, [hotKeys] { return !hotKeys->isHeld(); }, keyReleasePollInterval,
            keyReleaseLimit, stop)) {
        co_return found ? std::move(*found) : std::move(first);
    }
    // The application takes its focus back as it sees the grab end.
    (void)co_await waitUntil(executor, readFocused, focusReturnPollInterval, focusReturnLimit,
                             stop);
    co_return found ? std::move(*found) : std::move(first);
}

QCoro::Task<std::optional<std::u16string>> QNModelFocusSnapshot::copySelectionViaPasteboard(
    TargetSeams seams, platform::RunningApplication target, std::optional<std::string> focusedRole,
    std::stop_token stop, std::shared_ptr<const QNModelPasteboardSnapshot> saved) {
    // Ctrl+C in a terminal interrupts whatever runs there.
    if (quickFixRoute(identityOf(target), focusedRole) == QNQuickFixRoute::terminal) {
        co_return std::nullopt;
    }
    co_return co_await copyFromFront(std::make_shared<Driver>(std::move(seams)), std::move(target),
                                     false, std::move(stop), std::move(saved));
}

QCoro::Task<std::optional<std::u16string>> QNModelFocusSnapshot::copyFromFront(
    std::shared_ptr<QNQuickFixHostDriver> driver, platform::RunningApplication target,
    bool selectAll, std::stop_token stop, std::shared_ptr<const QNModelPasteboardSnapshot> saved,
    std::function<bool()> selectionShown, std::chrono::milliseconds copyLimit) {
    if (!driver->isFrontmostOther(target)) {
        co_return std::nullopt;
    }
    const bool own = !saved;
    if (own) {
        saved = std::make_shared<const QNModelPasteboardSnapshot>(
            co_await driver->capturePasteboard());
    }
    co_await driver->waitForKeysUp(stop);
    if (!saved->complete()) {
        co_return std::nullopt;  // the user's contents could not be saved
    }
    // No chord went out: our own save is simply settled (nothing of ours is on the pasteboard,
    // unless it held a text left there, which the save took over).
    const auto giveUp = [&] {
        if (own) {
            driver->restorePasteboard(*saved, QNPutBackOver::ownChange);
        }
    };
    const auto mayCopy = [&] { return !stop.stop_requested() && driver->isFrontmostOther(target); };
    const auto baseline = driver->pasteboardChangeCount();
    if (!mayCopy()) {
        giveUp();
        co_return std::nullopt;
    }
    if (selectAll) {
        if (!driver->postSelectAll()) {
            giveUp();
            co_return std::nullopt;
        }
        if (!selectionShown) {
            co_await driver->sleep(pauseAfterSelectAllBeforeCopy, stop);
        }
        if (!mayCopy()) {
            giveUp();
            co_return std::nullopt;
        }
    }
    if (selectionShown &&
        !(selectAll ? co_await waitForSelectAll(driver, target, selectionShown, stop)
                    : selectionShown())) {
        giveUp();
        co_return std::nullopt;
    }
    if (!mayCopy() || !driver->postCopy()) {
        giveUp();
        co_return std::nullopt;
    }
    // The chord is out: the polls run out whatever happens, or the target's copy could land
    // after the put-back and take the user's contents.
    bool left = false;
    const int copyPolls = static_cast<int>(copyLimit / settlePollInterval);
    for (int poll = 0; poll < copyPolls && driver->pasteboardChangeCount() == baseline; ++poll) {
        co_await driver->sleep(settlePollInterval, std::stop_token());
        left = left || !driver->isFrontmostOther(target);
    }
    std::optional<std::u16string> copied;
    if (!left && driver->pasteboardChangeCount() != baseline) {
        copied = co_await driver->pasteboardString();
    }
    if (!own) {
        driver->putBackPasteboard(*saved);
    } else if (left) {
        driver->restorePasteboard(*saved, QNPutBackOver::targetsCopy);
    } else {
        driver->restorePasteboardAfterCopy(*saved, copied, QNPutBackOver::targetsCopy);
    }
    if (left || stop.stop_requested() || !copied || text::isBlank(*copied)) {
        co_return std::nullopt;
    }
    co_return copied;
}

QCoro::Task<bool> QNModelFocusSnapshot::waitForSelectAll(
    std::shared_ptr<QNQuickFixHostDriver> driver, platform::RunningApplication target,
    std::function<bool()> selectionShown, std::stop_token stop, std::chrono::milliseconds limit) {
    bool left = false;
    const bool shown = co_await driver->waitUntil(
        [&] {
            if (selectionShown()) {
                return true;
            }
            left = !driver->isFrontmostOther(target);
            return left;
        },
        settlePollInterval, limit, stop);
    co_return shown && !left;
}

QCoro::Task<std::optional<Rect>> QNModelFocusSnapshot::probedCaretRect(
    TargetSeams seams, QNModelFocusSnapshot snapshot, ProbeKeys keys) {
    auto& accessibility = *seams.accessibility;
    // A terminal's screen is no field: a character typed there goes to the program in it.
    if (!checkTrust(accessibility) ||
        terminalPaste(identityOf(snapshot.app), snapshot.focusedRole)) {
        co_return std::nullopt;
    }
    const auto element = Driver::focusedElementRef(accessibility, snapshot.app.pid);
    if (!element) {
        co_return std::nullopt;
    }
    co_return co_await probeCaret(seams, *element, snapshot.app, snapshot.focusedElementRect,
                                  std::move(keys));
}

QCoro::Task<std::optional<Rect>> QNModelFocusSnapshot::probeCaret(TargetSeams seams,
                                                                  ElementRef element,
                                                                  platform::RunningApplication app,
                                                                  std::optional<Rect> hint,
                                                                  ProbeKeys keys) {
    auto& accessibility = *seams.accessibility;
    auto& workspace = *seams.workspace;
    // The character must not reach the application along with keys the user still holds (the
    // shortcut's).
    (void)co_await waitForKeysUp(seams, seams.ending);
    if (seams.ending.stop_requested() || !frontmostOther(workspace, app)) {
        co_return std::nullopt;
    }
    const auto readValue = [&] {
        return Driver::stringAttribute(accessibility, ax::value, element, false);
    };
    // From here on the person's keys wait for the Composer: none can land between the character
    // and its take-back, or be taken by the take-back.
    const std::shared_ptr<platform::KeyHold> hold = keys ? keys() : nullptr;
    // Keys typed before the hold may still be on their way into the field: its text is read
    // once it reads the same twice running.
    auto valueBefore = readValue();
    for (int read = 0; read < probeReads && valueBefore; ++read) {
        co_await sleepFor(*seams.executor, probeReadInterval, seams.ending);
        auto again = readValue();
        const bool same = again == valueBefore;
        valueBefore = std::move(again);
        if (same) {
            break;
        }
    }
    const auto before = Driver::selectedTextRange(accessibility, element);
    const std::u16string probe(1, probeCharacter);
    // Without the value the typed character could not be told from the user's own text.
    if (!before || before->length != 0 || !valueBefore ||
        valueBefore->find(probeCharacter) != std::u16string::npos) {
        co_return std::nullopt;
    }
    // An empty field's caret stands at its start, where the panel placed against the field is
    // already: nothing is typed into it.
    if (valueBefore->empty() || !hold) {
        co_return std::nullopt;
    }
    (void)co_await waitForKeysUp(seams, seams.ending);
    if (seams.ending.stop_requested() || !frontmostOther(workspace, app) ||
        !hold->postThrough([&] {
                 return frontmostOther(*seams.workspace, app) &&
                        seams.keySynthesis->postText(probe).ok();
             }).posted) {
        co_return std::nullopt;
    }
    // Where the character stands once the field shows it (a caret said to have moved proves
    // nothing: it may be told late, or early).
    std::optional<std::int64_t> at;
    (void)co_await waitUntil(
        *seams.executor,
        [&] {
            if (const auto now = readValue()) {
                at = insertedAt(*valueBefore, *now, probe);
            }
            return at.has_value();
        },
        probeReadInterval, probeShowLimit, seams.ending);
    if (!at) {
        // Never seen: nothing is taken back (a Delete would take the user's character instead).
        co_return std::nullopt;
    }
    const auto typed = bounds(accessibility, *at, 1, element);
    co_await takeBackProbe(seams, element, app, *valueBefore, *at, *hold);
    if (!typed) {
        co_return std::nullopt;
    }
    co_return screenRect(makeRect(typed->maxX(), typed->minY(), 1, typed->height()), hint,
                         QNScreenLayout::read(*seams.screens));
}

std::optional<std::int64_t> QNModelFocusSnapshot::insertedAt(std::u16string_view before,
                                                             std::u16string_view after,
                                                             std::u16string_view typed) {
    if (typed.size() != 1 || before.find(typed) != std::u16string_view::npos) {
        return std::nullopt;
    }
    const auto at = after.find(typed);
    if (at == std::u16string_view::npos || after.find(typed, at + 1) != std::u16string_view::npos) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(at);
}

QCoro::Task<> QNModelFocusSnapshot::takeBackProbe(TargetSeams seams, ElementRef element,
                                                  platform::RunningApplication app,
                                                  std::u16string valueBefore, std::int64_t at,
                                                  platform::KeyHold& hold) {
    auto& accessibility = *seams.accessibility;
    const std::u16string probe(1, probeCharacter);
    // Still the text with the character where it was seen, in the application still in front.
    const auto unchanged = [&] {
        const auto now = Driver::stringAttribute(accessibility, ax::value, element, false);
        return now && insertedAt(valueBefore, *now, probe) == at &&
               frontmostOther(*seams.workspace, app);
    };
    // (no modifier of the person's with it: Shift+Delete cuts)
    const auto erase = [&] {
        return hold.pressThrough({platform::keycode::deleteKey, 0}, 1).posted;
    };
    if (!unchanged()) {
        co_return;
    }
    // The character alone selected: a BackSpace takes exactly it. (A browser shows a selection
    // written a moment later.)
    if (Driver::setSelectedTextRange(accessibility, {at, 1}, element) &&
        co_await waitUntil(
            *seams.executor,
            [&] { return Driver::selectedText(accessibility, element) == probe; },
            probeReadInterval, probeShowLimit, seams.ending)) {
        (void)co_await waitForKeysUp(seams, seams.ending);
        if (unchanged() && Driver::selectedText(accessibility, element) == probe) {
            erase();
        }
        co_return;
    }
    // A field whose selection cannot be written: the caret right after the character (nothing
    // selected) tells the same.
    (void)co_await waitForKeysUp(seams, seams.ending);
    const auto caret = Driver::selectedTextRange(accessibility, element);
    if (caret && caret->length == 0 && caret->location == at + 1 && unchanged()) {
        erase();
    }
}

// --- Own document windows

bool isDocumentWindow(bool isActive, const std::optional<QNWindowDescription>& key,
                      const std::optional<QNWindowDescription>& main,
                      const std::optional<QNDocumentDescription>& document) {
    if (!isActive) {
        return false;
    }
    const auto& window = key ? key : main;
    if (!window) {
        return false;
    }
    if (window->hasDocument) {
        return true;
    }
    return document && std::ranges::find(document->windows, window->id) != document->windows.end();
}

}  // namespace ravlin
