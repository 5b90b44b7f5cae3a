// The Quick Fix host driver over the simulated desktop's accessibility.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/target/quick_fix_host_driver.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::AttributeValue;
using platform::Expected;
using platform::fake::ElementDescription;
using ::testing::_;
using ::testing::Return;
using text::Utf16Range;
using Driver = QNQuickFixHostLiveDriver;

class MockAccessibility : public platform::Accessibility {
  public:
    MOCK_METHOD(bool, isTrusted, (bool), (override));
    MOCK_METHOD(Subscription, observeTrust, (std::function<void(bool)>), (override));
    MOCK_METHOD(ElementRef, systemWideElement, (), (override));
    MOCK_METHOD(Expected<ElementRef>, applicationElement, (ProcessID), (override));
    MOCK_METHOD(Expected<ProcessID>, processID, (ElementRef), (override));
    MOCK_METHOD(Subscription, observeFocus, (std::function<void(ElementRef)>), (override));
    MOCK_METHOD(Expected<AttributeValue>, attribute, (ElementRef, std::string_view), (override));
    MOCK_METHOD(Expected<AttributeValue>, parameterizedAttribute,
                (ElementRef, std::string_view, const AttributeValue&), (override));
    MOCK_METHOD(Expected<bool>, isAttributeSettable, (ElementRef, std::string_view), (override));
    MOCK_METHOD(platform::Status, setAttribute,
                (ElementRef, std::string_view, const AttributeValue&), (override));
    MOCK_METHOD(void, release, (ElementRef), (override));
};

struct DriverTest : ::testing::Test, TargetFixture {
    Driver driver{seams()};

    QNQuickFixElementInfo focus(ElementDescription spec) {
        desktop.focus(desktop.addElement(window, std::move(spec)));
        auto info = driver.focusedElement(editor);
        EXPECT_TRUE(info.has_value());
        return info.value_or(QNQuickFixElementInfo{});
    }
};

TEST_F(DriverTest, RegistersTheFocusedElementWithItsRoleSecurityAndValueLength) {
    struct Case {
        const char* name;
        ElementDescription spec;
        bool reportsFocusSystemWide;
        QNQuickFixElementInfo expected;  // token aside
    };
    for (const Case& c : {
             Case{"text field",
                  {.value = u"h\u00e9llo \U0001F600"},
                  true,
                  {.role = "AXTextField", .valueLength = 8}},
             Case{"secure by subrole",
                  {.subrole = "AXSecureTextField", .value = u"pw"},
                  true,
                  {.role = "AXTextField", .isSecure = true, .valueLength = 2}},
             Case{"secure by role",
                  {.role = "AXSecureTextField", .value = {}},
                  true,
                  {.role = "AXSecureTextField", .isSecure = true}},
             Case{"empty value, through the application",
                  {.value = u""},
                  false,
                  {.role = "AXTextField", .valueLength = 0}},
             Case{"empty role", {.role = "", .value = {}}, true, {}},
         }) {
        SCOPED_TRACE(c.name);
        TargetFixture f;
        const ProcessID pid = f.desktop.addApplication(
            {.identity = "app", .reportsFocusSystemWide = c.reportsFocusSystemWide});
        f.desktop.setFrontmost(pid);
        Driver driver(f.seams());
        EXPECT_FALSE(driver.focusedElement({pid, "app", ""})) << "nothing focused yet";
        f.desktop.focus(f.desktop.addElement(f.desktop.addWindow(pid, {}), c.spec));
        auto info = driver.focusedElement({pid, "app", ""});
        ASSERT_TRUE(info);
        EXPECT_EQ(driver.value(info->token), c.spec.value) << "an empty value is given as such";
        info->token = {};
        EXPECT_EQ(*info, c.expected);
    }
}

TEST_F(DriverTest, SelectedTextLadder) {
    struct Case {
        const char* name;
        ElementDescription spec;
        std::optional<std::u16string> expected;
    };
    for (const Case& c : {
             Case{"selected text", {.value = u"hello world", .selection = {6, 5}}, u"world"},
             Case{"string for the range",
                  {.value = u"hello world", .selection = {0, 5}, .selectedTextReadable = false},
                  u"hello"},
             Case{"cut from the value by UTF-16 units",
                  {.value = u"h\U0001F600 world",
                  .selection = {1, 2},
                  .selectedTextReadable = false,
                  .parameterizedReads = false},
                  u"\U0001F600"},
             Case{"zero-length selection in a text",
                  {.value = u"hello", .selection = {2, 0}},
                  std::nullopt},
             Case{"empty value", {.value = u""}, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(driver.selectedText(focus(c.spec).token), c.expected);
    }
    // A range past the value's end, with no string for a range: cut from nothing.
    ::testing::NiceMock<MockAccessibility> ax;
    ON_CALL(ax, attribute(_, _))
        .WillByDefault(Return(platform::Error{platform::ErrorCode::notFound}));
    ON_CALL(ax, parameterizedAttribute(_, _, _))
        .WillByDefault(Return(platform::Error{platform::ErrorCode::notSupported}));
    ON_CALL(ax, attribute(_, std::string_view("AXValue")))
        .WillByDefault(Return(AttributeValue(u"hello")));
    for (const auto& [range, expected] :
         {std::pair{Utf16Range{3, 2}, std::optional<std::u16string>(u"lo")},
          std::pair{Utf16Range{3, 10}, std::optional<std::u16string>()},
          std::pair{Utf16Range{-1, 2}, std::optional<std::u16string>()}}) {
        ON_CALL(ax, attribute(_, std::string_view("AXSelectedTextRange")))
            .WillByDefault(Return(AttributeValue(range)));
        EXPECT_EQ(Driver::selectedText(ax, ElementRef{7}), expected);
    }
}

TEST(DriverSubstring, CountsUtf16UnitsAndStaysInsideTheText) {
    struct Case {
        std::int64_t location, length;
        std::optional<std::u16string> expected;
    };
    for (const Case& c : {Case{0, 5, u"hello"}, Case{4, 1, u"o"}, Case{0, 0, std::nullopt},
                          Case{-1, 2, std::nullopt}, Case{3, 3, std::nullopt},
                          Case{5, 1, std::nullopt}, Case{1, INT64_MAX, std::nullopt}}) {
        EXPECT_EQ(Driver::substring(u"hello", c.location, c.length), c.expected)
            << c.location << "," << c.length;
    }
}

TEST_F(DriverTest, ReadsAndWritesThroughItsTokensOnly) {
    const auto info = focus({.value = u"teh cat"});
    EXPECT_EQ(driver.string({4, 3}, info.token), u"cat");
    EXPECT_FALSE(driver.string({4, 0}, info.token));
    EXPECT_TRUE(driver.canSetSelectedText(info.token));
    EXPECT_FALSE(driver.setSelectedTextRange({-1, 3}, info.token));
    ASSERT_TRUE(driver.setSelectedTextRange({0, 3}, info.token));
    EXPECT_EQ(driver.selectedTextRange(info.token), (Utf16Range{0, 3}));
    ASSERT_TRUE(driver.setSelectedText(u"the", info.token));
    EXPECT_EQ(driver.value(info.token), u"the cat");
    const auto again = driver.focusedElement(editor);
    ASSERT_TRUE(again);
    EXPECT_NE(again->token, info.token) << "each registration issues a new token";

    // Another driver, or a token nobody issued: the empty answer, the desktop never asked.
    ::testing::StrictMock<MockAccessibility> untouched;
    auto otherSeams = seams();
    otherSeams.accessibility = std::shared_ptr<platform::Accessibility>(&untouched, [](auto*) {});
    Driver other(otherSeams);
    for (const auto& token : {QNQuickFixElementToken::make(), info.token}) {
        std::vector<QNQuickFixElementInfo> found;
        other.collectTextDescendants(token, 0, 3, found);
        EXPECT_TRUE(found.empty());
        EXPECT_FALSE(other.selectedText(token) || other.selectedTextRange(token) ||
                     other.string({0, 1}, token) || other.value(token) ||
                     other.canSetSelectedText(token) || other.setSelectedText(u"x", token) ||
                     other.setSelectedTextRange({0, 1}, token));
    }
}

TEST_F(DriverTest, CollectsTextDescendantsAtDepthsOneToThreeInPreOrder) {
    // start (a text area) ─┬─ field1 ─── group2 ─┬─ area3 ─── field4
    //                      │                     └─ web3
    //                      ├─ button1
    //                      └─ combo1
    const auto start = desktop.addElement(window, {.role = "AXTextArea"});
    const auto group2 = desktop.addElement(desktop.addElement(start, {}), {.role = "AXGroup"});
    desktop.addElement(desktop.addElement(group2, {.role = "AXTextArea"}), {});
    desktop.addElement(group2, {.role = "AXWebArea", .value = {}});
    desktop.addElement(start, {.role = "AXButton"});
    desktop.addElement(start, {.role = "AXComboBox"});
    desktop.focus(start);
    const auto root = driver.focusedElement(editor);
    ASSERT_TRUE(root);
    std::vector<QNQuickFixElementInfo> found;
    driver.collectTextDescendants(root->token, 0, 3, found);
    std::vector<std::string> roles;
    for (const auto& info : found) {
        roles.push_back(info.role.value_or("?"));
        EXPECT_EQ(info.valueLength, info.role == "AXWebArea" ? std::nullopt : std::optional(0));
    }
    EXPECT_EQ(roles,
              (std::vector<std::string>{"AXTextField", "AXTextArea", "AXWebArea", "AXComboBox"}));
}

// A document of paragraphs: what a paste ran on into after the field, up to the paragraph
// focused now; nothing where the focus is still in the field, went back, or left the document.
TEST_F(DriverTest, ReadsTheParagraphsAPasteRanOnInto) {
    const auto document = desktop.addElement(window, {.role = "AXGroup", .value = {}});
    std::vector<platform::ElementRef> paragraphs;
    for (const auto* text : {u"Say:Line one.", u"Line two.", u"Line three. end", u"after"}) {
        paragraphs.push_back(desktop.addElement(document, {.role = "AXTextArea", .value = text}));
    }
    const auto elsewhere = desktop.addElement(window, {});
    auto& accessibility = *seams().accessibility;
    const auto field = paragraphs[0];
    struct Case {
        const char* name;
        platform::ElementRef focused;
        std::size_t maxLength;
        std::optional<std::u16string> expected;
    };
    for (const Case& c : {
             Case{"run on to the focused paragraph", paragraphs[2], 100,
                  u"\nLine two.\nLine three. end"},
             Case{"the next one only", paragraphs[1], 100, u"\nLine two."},
             Case{"longer than the most", paragraphs[2], 20, std::nullopt},
             Case{"still in the field", field, 100, std::nullopt},
             Case{"outside the document", elsewhere, 100, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        desktop.focus(c.focused);
        EXPECT_EQ(Driver::textRunOnInto(accessibility, field, editor.pid, c.maxLength), c.expected);
    }
    desktop.focus(paragraphs[1]);
    EXPECT_EQ(Driver::textRunOnInto(accessibility, paragraphs[2], editor.pid, 100), std::nullopt)
        << "the focus went back";
}

// The wait ends the moment the target comes to the front (the desktop tells), not at a poll.
TEST_F(DriverTest, WaitsForTheTargetInFrontAndNeverCountsThisApplication) {
    struct Case {
        const char* name;
        bool targetIsSelf;
        std::optional<std::chrono::milliseconds> frontAfter;  // none: never
        std::chrono::milliseconds limit;
        bool expected;
        std::chrono::milliseconds took;
    };
    for (const Case& c : {
             Case{"in front, no wait", false, 0ms, 0ms, true, 0ms},
             Case{"not in front, no wait", false, std::nullopt, 0ms, false, 0ms},
             Case{"in front after 120 ms", false, 120ms, 1200ms, true, 120ms},
             Case{"never in front", false, std::nullopt, 300ms, false, 300ms},
             Case{"this application in front", true, 0ms, 300ms, false, 300ms},
         }) {
        SCOPED_TRACE(c.name);
        TargetFixture f;
        Driver driver(f.seams());
        const auto target = c.targetIsSelf ? f.self : f.editor;
        f.desktop.setActivation(f.editorPid,
                                platform::fake::Activation::after(c.frontAfter.value_or(1h)));
        if (c.frontAfter == 0ms) {
            f.desktop.setFrontmost(target.pid);
        } else {
            (void)f.fakeSeams.workspace->activate(f.editorPid);
        }
        EXPECT_EQ(driver.isFrontmostOther(target), c.expected && c.took == 0ms);
        auto result = start(driver.waitForFrontmost(target, c.limit, {}));
        EXPECT_EQ(f.runUntil([&] { return result->has_value(); }), c.took);
        EXPECT_EQ(*result, c.expected);
        f.executor->advance(2h);
    }
}

TEST_F(DriverTest, PostsTheCommandChords) {
    ASSERT_TRUE(driver.writePasteboardString(u"pasted").ok());
    EXPECT_TRUE(driver.postSelectAll() && driver.postCopy());
    EXPECT_EQ(driver.postPaste(), QNChordPost::sent);
    std::vector<platform::fake::PostedKey> expected;
    for (const std::uint32_t key : {0u, 8u, 9u}) {
        for (const auto kind :
             {platform::fake::PostedKey::Kind::down, platform::fake::PostedKey::Kind::up}) {
            expected.push_back({kind, {key, platform::modifier::command}, {}});
        }
    }
    EXPECT_EQ(desktop.postedKeys(), expected);
    desktop.setKeySynthesisFails(true);
    EXPECT_FALSE(driver.postCopy());
    EXPECT_EQ(driver.postPaste(), QNChordPost::failed);
}

// The paste chord goes out only over the text written for it: not once another program has
// copied, nor once the user's contents went back (a put-back of ours is a change of ours too).
TEST_F(DriverTest, PostsThePasteOnlyWhileItsTextIsOnThePasteboard) {
    ASSERT_TRUE(driver.writePasteboardString(u"pasted").ok());
    desktop.copyToPasteboard(u"the person's copy");
    EXPECT_EQ(driver.postPaste(), QNChordPost::notOurs);
    ASSERT_TRUE(driver.writePasteboardString(u"pasted").ok());
    (void)fakeSeams.pasteboard->putBackOverOwnChange({});
    EXPECT_EQ(driver.postPaste(), QNChordPost::notOurs);
    EXPECT_TRUE(desktop.postedKeys().empty());
}

}  // namespace
}  // namespace ravlin::testing
