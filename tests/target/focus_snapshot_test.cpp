// The synchronous focus reading on the simulated desktop, and its geometry.

#include <gtest/gtest.h>

#include <cmath>

#include "app/target/focus_snapshot.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::makeRect;
using platform::Rect;
using platform::Screen;
using platform::fake::ElementDescription;
using Source = QNModelFocusAnchor::QNSourceFocusAnchor;
using Snapshot = QNModelFocusSnapshot;

// The copy fallback goes only where no password field can be, and only over a selection the
// field shows (a web area's own selected text is checked by a copy too).
TEST(FocusSnapshot, TheCopyFallbackNeedsAShownSelectionAndNoPasswordField) {
    struct Case {
        const char* name;
        std::optional<std::u16string> text;
        std::optional<std::int64_t> length;
        std::optional<std::string> role;
        bool secure, secureUnknown, copies;
    };
    for (const Case& c : {
             Case{"a selection without its text", {}, 4, "AXTextField", false, false, true},
             Case{"a blank selected text", u"  ", 2, "AXTextField", false, false, true},
             Case{"its text read", u"word", 4, "AXTextField", false, false, false},
             Case{"a caret", {}, 0, "AXTextField", false, false, false},
             Case{"nothing known of the selection", {}, {}, "AXTextField", false, false, false},
             Case{"a web area's selected text", u"word", {}, "AXWebArea", false, false, true},
             Case{"secure input", {}, 4, "AXTextField", true, false, false},
             Case{"secure input unknown", {}, 4, {}, false, true, false},
         }) {
        SCOPED_TRACE(c.name);
        QNModelFocusSnapshot snapshot;
        snapshot.selectionText = c.text;
        snapshot.selectionSource = c.text ? QNSelectionSource::accessibilitySelectedText
                                          : QNSelectionSource::none;
        snapshot.selectionLength = c.length;
        snapshot.focusedRole = c.role;
        snapshot.isSecureInput = c.secure;
        snapshot.isSecureInputUnknown = c.secureUnknown;
        EXPECT_EQ(snapshot.needsCopyFallback(), c.copies);
    }
}

// The default screen: 1440 x 900 at the origin; a y-down rectangle flips to 900 - y - height.
struct SnapshotTest : ::testing::Test, TargetFixture {
    std::vector<bool> trustReports;

    SnapshotTest() {
        Snapshot::accessibilityTrustObserver = [this](bool trusted) {
            trustReports.push_back(trusted);
        };
        desktop.setFrontmost(editorPid);
        desktop.setMouseLocation({300, 200});
    }
    ~SnapshotTest() override { Snapshot::accessibilityTrustObserver = nullptr; }

    ElementRef focus(ElementDescription spec) {
        const auto element = desktop.addElement(window, std::move(spec));
        desktop.focus(element);
        return element;
    }
    Snapshot read() { return Snapshot::captureNow(seams()); }
};

const QNModelFocusAnchor mouseAnchor{Source::mouse, makeRect(300, 200, 1, 1), std::nullopt};

TEST_F(SnapshotTest, UntrustedOrSecureGivesTheMouseAndNothingMore) {
    struct Case {
        const char* name;
        bool trusted, secureInput;
        ElementDescription spec;
        std::optional<std::string> role;
        bool isSecure;
    };
    for (const Case& c : {
             Case{"untrusted", false, false, {.value = u"hello", .selection = {0, 5}}, {}, false},
             Case{"untrusted, secure input", false, true, {.value = u"x"}, {}, true},
             Case{"secure input",
                  true,
                  true,
                  {.value = u"x", .selection = {0, 1}},
                  "AXTextField",
                  true},
             Case{"secure role",
                  true,
                  false,
                  {.role = "AXSecureTextField", .value = u"pw"},
                  "AXSecureTextField",
                  true},
             Case{"secure subrole",
                  true,
                  false,
                  {.subrole = "AXSecureTextField", .value = u"pw", .selection = {0, 2}},
                  "AXTextField",
                  true},
         }) {
        SCOPED_TRACE(c.name);
        desktop.setTrusted(c.trusted);
        desktop.setSecureInput(c.secureInput);
        trustReports.clear();
        focus(c.spec);
        auto expectedAnchor = mouseAnchor;
        expectedAnchor.role = c.role;
        EXPECT_EQ(read(), (Snapshot{.app = editor,
                                    .window = window.id,
                                    .appBundleID = "editor",
                                    .focusedRole = c.role,
                                    .anchor = expectedAnchor,
                                    .isSecureInput = c.isSecure}));
        EXPECT_EQ(trustReports, std::vector<bool>{c.trusted});
    }
}

TEST_F(SnapshotTest, WithoutAFrontmostApplicationTheAppIsThisOne) {
    desktop.setFrontmost(std::nullopt);
    const auto snapshot = read();
    EXPECT_EQ(snapshot.app, self);
    EXPECT_EQ(snapshot.anchor, mouseAnchor);
}

TEST_F(SnapshotTest, SelectionComesFromSelectedTextElseTheValueRange) {
    struct Case {
        const char* name;
        ElementDescription spec;
        std::optional<std::u16string> text;
        QNSelectionSource source;
        std::optional<std::int64_t> length;
    };
    for (const Case& c : {
             Case{"selected text",
                  {.value = u"teh cat", .selection = {0, 3}},
                  u"teh",
                  QNSelectionSource::accessibilitySelectedText,
                  3},
             Case{"value range",
                  {.value = u"teh cat", .selection = {4, 3}, .selectedTextReadable = false},
                  u"cat",
                  QNSelectionSource::accessibilityValueRange,
                  3},
             Case{"caret",
                  {.value = u"teh cat", .selection = {2, 0}},
                  {},
                  QNSelectionSource::none,
                  0},
             Case{"no text at all",
                  {.role = "AXGroup", .value = {}},
                  {},
                  QNSelectionSource::none,
                  {}},
         }) {
        SCOPED_TRACE(c.name);
        focus(c.spec);
        const auto snapshot = read();
        EXPECT_EQ(snapshot.selectionText, c.text);
        EXPECT_EQ(snapshot.selectionSource, c.source);
        EXPECT_EQ(snapshot.selectionLength, c.length);
    }
}

TEST_F(SnapshotTest, CaretCandidatesInOrderThenTheMarkerRange) {
    // Field at y-down (100, 200), 8 points per unit, 16 high: caret x = 100 + 8 * position.
    struct Case {
        const char* name;
        text::Utf16Range selection;
        std::vector<text::Utf16Range> refused;  // answered with the zero rectangle
        std::optional<Rect> marker;
        std::vector<text::Utf16Range> asked;
        std::optional<double> caretX;
    };
    for (const Case& c : {
             Case{"selection: its end", {10, 3}, {}, {}, {{13, 0}}, 204},
             Case{"selection: trailing edge of its last character",
                  {10, 3},
                  {{13, 0}},
                  {},
                  {{13, 0}, {12, 1}},
                  204},
             Case{"selection: leading edge of its first",
                  {10, 3},
                  {{13, 0}, {12, 1}},
                  {},
                  {{13, 0}, {12, 1}, {10, 1}},
                  180},
             Case{"caret: the character before, trailing edge",
                  {5, 0},
                  {{5, 0}, {5, 1}},
                  {},
                  {{5, 0}, {5, 1}, {4, 1}},
                  140},
             Case{"caret at 0: never a character before",
                  {0, 0},
                  {{0, 0}, {0, 1}},
                  {},
                  {{0, 0}, {0, 1}},
                  {}},
             Case{"marker 1.5 wide: its left edge",
                  {0, 0},
                  {{0, 0}, {0, 1}},
                  makeRect(50, 300, 1.5, 20),
                  {{0, 0}, {0, 1}},
                  50},
             Case{"marker 1.6 wide: its right edge",
                  {0, 0},
                  {{0, 0}, {0, 1}},
                  makeRect(50, 300, 1.6, 20),
                  {{0, 0}, {0, 1}},
                  51.6},
         }) {
        SCOPED_TRACE(c.name);
        const auto field = focus({.value = u"0123456789abcdef",
                                  .selection = c.selection,
                                  .frame = makeRect(100, 200, 300, 20),
                                  .textMarkerBounds = c.marker});
        std::vector<text::Utf16Range> asked;
        accessibility->parameterized =
            [&](std::string_view name,
                const platform::AttributeValue& p) -> std::optional<ScriptedAccessibility::Answer> {
            const auto* range = std::get_if<text::Utf16Range>(&p);
            if (name != platform::ax::boundsForRange || range == nullptr) {
                return std::nullopt;
            }
            asked.push_back(*range);
            if (std::ranges::find(c.refused, *range) != c.refused.end()) {
                return platform::AttributeValue(Rect{});
            }
            return std::nullopt;
        };
        const auto caret = Snapshot::caretRectOf(*accessibility, field);
        EXPECT_EQ(asked, c.asked);
        ASSERT_EQ(caret.has_value(), c.caretX.has_value());
        if (caret) {
            EXPECT_DOUBLE_EQ(caret->minX(), *c.caretX);
            EXPECT_EQ(caret->width(), 1);
        }
    }
}

TEST_F(SnapshotTest, AnchorIsTheCaretElseAUsableElementFrameElseTheMouse) {
    desktop.setScreens({Screen{makeRect(0, 0, 1600, 1000), makeRect(0, 0, 1600, 1000)}});
    struct Case {
        const char* name;
        ElementDescription spec;
        QNModelFocusAnchor anchor;
    };
    for (const Case& c : {
             Case{"caret",
                  {.value = u"abc", .selection = {1, 0}, .frame = makeRect(100, 100, 300, 40)},
                  {Source::caret, makeRect(108, 884, 1, 16), "AXTextField"}},
             Case{"field 40 high, no bounds",
                  {.value = u"abc",
                  .parameterizedReads = false,
                  .frame = makeRect(100, 100, 300, 40)},
                  {Source::focusedElement, makeRect(100, 860, 300, 40), "AXTextField"}},
             Case{"text area 120 high",
                  {.role = "AXTextArea",
                  .value = u"abc",
                  .parameterizedReads = false,
                  .frame = makeRect(100, 100, 300, 120)},
                  {Source::mouse, makeRect(300, 200, 1, 1), "AXTextArea"}},
             Case{"no frame",
                  {.value = u"abc", .parameterizedReads = false},
                  {Source::mouse, makeRect(300, 200, 1, 1), "AXTextField"}},
             // A caret elsewhere (a terminal counting from its own corner) is no caret.
             Case{"caret outside the field",
                  {.value = u"abc",
                  .parameterizedReads = false,
                  .textMarkerBounds = makeRect(24, 34, 1, 17),
                  .frame = makeRect(100, 100, 300, 40)},
                  {Source::focusedElement, makeRect(100, 860, 300, 40), "AXTextField"}},
         }) {
        SCOPED_TRACE(c.name);
        focus(c.spec);
        const auto snapshot = read();
        EXPECT_EQ(snapshot.anchor, c.anchor);
        EXPECT_EQ(snapshot.caretRect,
                  c.anchor.source == Source::caret ? std::optional(c.anchor.rect) : std::nullopt);
        EXPECT_FALSE(snapshot.isSecureInput);
    }
}

// A caret stands where its element is: never at the screen's origin, and within the element's
// frame give or take its own height (a caret at the end of a field's last line, on its edge).
TEST(FocusGeometry, ACaretOutsideItsElementOrAtTheOriginIsNoCaret) {
    const auto field = std::optional(makeRect(375, 74, 904, 478));
    struct Case {
        const char* name;
        platform::Rect caret;
        std::optional<platform::Rect> element;
        bool plausible;
    };
    for (const Case& c : {
             Case{"inside", makeRect(567, 176, 1, 17), field, true},
             Case{"on the right edge", makeRect(1279, 176, 1, 17), field, true},
             Case{"a line below the bottom", makeRect(400, 560, 1, 17), field, true},
             Case{"from the element's own corner", makeRect(192, 102, 1, 17), field, false},
             Case{"above the element", makeRect(400, 20, 1, 17), field, false},
             Case{"at the origin", makeRect(0, 0, 1, 17), field, false},
             Case{"at the origin, no frame", makeRect(0, 0, 1, 17), std::nullopt, false},
             Case{"no frame to hold it to", makeRect(192, 102, 1, 17), std::nullopt, true},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Snapshot::isCaretOfElement(c.caret, c.element), c.plausible);
    }
}

TEST(FocusGeometry, ScreenRectFlipsAgainstThePrimaryScreenAndPicksTheNearerCandidate) {
    const Screen primary{makeRect(0, 0, 1000, 1000), makeRect(0, 0, 1000, 1000)};
    const Screen left{makeRect(-800, 0, 800, 600), makeRect(-800, 0, 800, 600)};
    const QNScreenLayout one{{primary}, primary};
    const auto nan = std::nan("");
    struct Case {
        const char* name;
        QNScreenLayout layout;
        Rect rect;
        std::optional<Rect> hint;
        std::optional<Rect> expected;
    };
    for (const Case& c : {
             Case{"flipped", one, makeRect(10, 100, 5, 20), {}, makeRect(10, 880, 5, 20)},
             Case{"hint nearer the unflipped", one, makeRect(10, 100, 5, 20),
                  makeRect(0, 90, 50, 50), makeRect(10, 100, 5, 20)},
             Case{"hint nearer the flipped", one, makeRect(10, 100, 5, 20),
                  makeRect(0, 850, 50, 50), makeRect(10, 880, 5, 20)},
             Case{"equal distances: flipped", one, makeRect(10, 100, 5, 20),
                  makeRect(0, 0, 50, 1000), makeRect(10, 880, 5, 20)},
             Case{"a caret 0 wide at the screen's left edge",
                  one,
                  makeRect(0, 100, 0, 20),
                  {},
                  makeRect(0, 880, 0, 20)},
             Case{"only unflipped on a screen",
                  {{primary, left}, primary},
                  makeRect(-400, 100, 10, 10),
                  {},
                  makeRect(-400, 100, 10, 10)},
             Case{"on no screen", one, makeRect(5000, 100, 5, 20), {}, {}},
             Case{"negative height standardized",
                  one,
                  makeRect(10, 120, 5, -20),
                  {},
                  makeRect(10, 880, 5, 20)},
             Case{"zero height", one, makeRect(10, 100, 5, 0), {}, {}},
             Case{"not a number", one, makeRect(nan, 100, 5, 20), {}, {}},
             Case{"no screens", {}, makeRect(10, 100, 5, 20), {}, {}},
             Case{"the first listed screen is not at the origin",
                  {{Screen{makeRect(1000, 0, 1920, 1200), {}}, primary}, std::nullopt},
                  makeRect(10, 100, 5, 20),
                  {},
                  makeRect(10, 880, 5, 20)},
             Case{"no screen at the origin: the main one",
                  {{Screen{makeRect(0, 100, 1000, 1000), {}}},
                   Screen{makeRect(0, 100, 1000, 500), {}}},
                  makeRect(10, 100, 5, 20),
                  {},
                  makeRect(10, 480, 5, 20)},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Snapshot::screenRect(c.rect, c.hint, c.layout), c.expected);
    }
}

TEST(FocusGeometry, ScreenForARectangleAndTheElementAnchorLimits) {
    const Screen a{makeRect(0, 0, 1000, 1000), makeRect(0, 0, 1000, 1000)};
    const Screen b{makeRect(1000, 0, 1000, 1000), makeRect(1000, 0, 1000, 1000)};
    EXPECT_EQ(Snapshot::screen(makeRect(1500, 10, 10, 10), {a, b}), b) << "midpoint";
    EXPECT_EQ(Snapshot::screen(makeRect(900, -100, 150, 150), {a, b}), a) << "larger overlap";
    EXPECT_EQ(Snapshot::screen(makeRect(950, -100, 100, 150), {a, b}), a) << "tie: earliest";
    EXPECT_EQ(Snapshot::screen(makeRect(5000, 0, 10, 10), {a, b}), std::nullopt);

    const QNScreenLayout layout{{a}, a};
    struct Case {
        const char* name;
        Rect rect;
        std::optional<std::string> role;
        bool usable;
    };
    for (const Case& c : {
             Case{"field 40 high", makeRect(0, 0, 300, 40), "AXTextField", true},
             Case{"text area over the 96 points limit", makeRect(0, 0, 300, 120), "AXTextArea",
                  false},
             Case{"text area at the limit", makeRect(0, 0, 300, 96), "AXTextArea", true},
             Case{"text role on 18% of the area", makeRect(0, 0, 2000, 90), "AXComboBox", false},
             Case{"web area on half the screen", makeRect(0, 0, 1000, 500), "AXWebArea", false},
             Case{"web area on 40%", makeRect(0, 0, 1000, 400), "AXWebArea", true},
             Case{"no role, 45% exactly", makeRect(0, 0, 1000, 450), {}, false},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Snapshot::isUsableElementAnchor(c.rect, c.role, layout), c.usable);
    }
    EXPECT_FALSE(Snapshot::isUsableElementAnchor(makeRect(0, 0, 1, 1), {}, {}));
}

TEST(FocusDescriptions, RoundHalvesAwayFromZeroAndNameTheSource) {
    EXPECT_EQ(QNModelFocusAnchor::compactRectDescription(makeRect(120.4, 640.5, 1, 17)),
              "x:120 y:641 w:1 h:17");
    EXPECT_EQ(QNModelFocusAnchor::compactRectDescription(makeRect(-2.5, -0.4, 0.5, 1e300)),
              "x:-3 y:0 w:1 h:1000000000000000");
    EXPECT_EQ((QNModelFocusAnchor{Source::caretProbed, makeRect(1, 2, 1, 16), "AXTextArea"})
                  .logDescription(),
              "caret (probed) role=AXTextArea rect=x:1 y:2 w:1 h:16");
    EXPECT_EQ(mouseAnchor.logDescription(), "mouse fallback rect=x:300 y:200 w:1 h:1");
    for (const auto source :
         {QNSelectionSource::accessibilitySelectedText, QNSelectionSource::accessibilityValueRange,
          QNSelectionSource::copyFallback, QNSelectionSource::none}) {
        EXPECT_EQ(selectionSourceFromString(toString(source)), source);
    }
    EXPECT_EQ(selectionSourceFromString("None"), std::nullopt);
}

TEST(FocusDocumentWindow, OnlyWhileActiveWithADocumentWindowInFront) {
    const QNWindowDescription plain{1, false}, withDocument{2, true}, shown{3, false};
    const QNDocumentDescription document{{3}};
    struct Case {
        const char* name;
        bool active;
        std::optional<QNWindowDescription> key, main;
        std::optional<QNDocumentDescription> document;
        bool expected;
    };
    for (const Case& c : {
             Case{"inactive", false, withDocument, withDocument, document, false},
             Case{"key window with a document", true, withDocument, plain, {}, true},
             Case{"key window without one wins over the main window", true, plain, withDocument,
                  document, false},
             Case{"main window when no key window", true, {}, withDocument, {}, true},
             Case{"one of the current document's windows", true, shown, {}, document, true},
             Case{"no window", true, {}, {}, document, false},
         }) {
        EXPECT_EQ(isDocumentWindow(c.active, c.key, c.main, c.document), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace ravlin::testing
