// A web mail's message (two paragraphs, a bold and an italic word) in Chromium and Firefox, as
// the accessibility backend reads and selects it: the text a person sees, not one invisible
// character per paragraph, and each range selected in the paragraph that holds it.

#include <gtest/gtest.h>

#include "app/target/focus_snapshot.h"
#include "app/target/target_seams.h"
#include "core/text/unicode.h"
#include "desktop_apps.h"
#include "desktop_fixture.h"

namespace ravlin::testing {
namespace {

using platform::AttributeValue;
using text::Utf16Range;
namespace ax = platform::ax;
using Kind = DesktopApplication::Kind;

constexpr std::u16string_view message = DesktopApplication::firstMessageText;

class WebEditor : public ::testing::TestWithParam<Kind> {
  protected:
    Desktop& desktop = Desktop::get();
    platform::Accessibility& accessibility = *desktop.seams.accessibility;
    DesktopApplication& browser = DesktopApplication::get(GetParam());
};

TEST_P(WebEditor, ReadsTheMessageAsShownAndSelectsInItsParagraphs) {
    ASSERT_TRUE(browser.ready()) << browser.name();
    const auto field = browser.resetMessage();
    ASSERT_TRUE(field);
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::role), u"AXTextArea");
    EXPECT_EQ(platform::booleanAttribute(accessibility, field, ax::richText), true);
    // (the page's markup is written at once; Firefox builds the accessible text of the new
    // paragraphs a moment later)
    EXPECT_TRUE(waitUntil([&] {
        return platform::textAttribute(accessibility, field, ax::value) == message;
    })) << text::toUtf8(platform::textAttribute(accessibility, field, ax::value).value_or(u""));
    const auto count = accessibility.attribute(field, ax::numberOfCharacters);
    ASSERT_TRUE(count.hasValue());
    EXPECT_EQ(std::get<double>(*count), static_cast<double>(message.size()));

    // The bold word, then the italic one in the second paragraph: selected there, and read back
    // through the paragraph that holds the selection.
    for (const auto& [range, word] : {std::pair{Utf16Range{8, 7}, u"recieve"},
                                      std::pair{Utf16Range{34, 5}, u"realy"}}) {
        ASSERT_TRUE(desktop.select(field, range));
        EXPECT_EQ(platform::textAttribute(accessibility, field, ax::selectedText), word);
        const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
        const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
        EXPECT_EQ(snapshot.selectionText, word);
        ASSERT_TRUE(snapshot.anchor.has_value());
        EXPECT_EQ(snapshot.anchor->source, QNModelFocusAnchor::QNSourceFocusAnchor::caret)
            << snapshot.anchor->logDescription();
    }
    // A caret at the message's end; the text of a range; a range over both paragraphs is read
    // but is no one paragraph's to select.
    ASSERT_TRUE(desktop.select(field, Utf16Range{45, 0}));
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::selectedText), u"");
    const auto words = accessibility.parameterizedAttribute(field, ax::stringForRange,
                                                            AttributeValue(Utf16Range{20, 14}));
    ASSERT_TRUE(words.hasValue());
    EXPECT_EQ(std::get<std::u16string>(*words), u"parcel.\nIt is ");
    EXPECT_FALSE(accessibility
                     .setAttribute(field, ax::selectedTextRange, AttributeValue(Utf16Range{20, 14}))
                     .ok());
    EXPECT_TRUE(accessibility
                    .parameterizedAttribute(field, ax::boundsForRange,
                                            AttributeValue(Utf16Range{34, 5}))
                    .hasValue());
    // Nothing is written over it through accessibility: the text would lose its shapes.
    const auto settable = accessibility.isAttributeSettable(field, ax::selectedText);
    EXPECT_TRUE(settable.hasValue() && !*settable);
    EXPECT_EQ(browser.messageMarkup(), QString::fromLatin1(DesktopApplication::firstMessage));
}

TEST_P(WebEditor, FormFieldsHoldNoFormattedText) {
    ASSERT_TRUE(browser.ready()) << browser.name();
    for (const auto* name : {"line", "area"}) {
        const auto field = browser.focus(QString::fromLatin1(name));
        ASSERT_TRUE(field) << name;
        EXPECT_EQ(platform::booleanAttribute(accessibility, field, ax::richText), false) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Browsers, WebEditor, ::testing::Values(Kind::chromium, Kind::firefox),
                         [](const auto& info) {
                             return info.param == Kind::chromium ? "Chromium" : "Firefox";
                         });

// Pages of one site shown one after another (one renderer): the field that has the keyboard is
// the one on the page shown now, never the editor of a page left, which the browser may keep
// alive a while still saying it has the focus; the password field there is one.
class WebSite : public ::testing::TestWithParam<Kind> {};

TEST_P(WebSite, TheFocusedFieldIsOnThePageShownNow) {
    Desktop& desktop = Desktop::get();
    DesktopApplication& browser = DesktopApplication::get(GetParam());
    ASSERT_TRUE(browser.ready()) << browser.name();
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    struct Step {
        char page;
        const char* field;
        const char* role;
        bool secure;
    };
    for (const auto& step : {Step{'a', "mail", "AXTextArea", false},
                             Step{'b', "password", "AXSecureTextField", true},
                             Step{'c', "line", "AXTextField", false},
                             Step{'a', "mail", "AXTextArea", false}}) {
        SCOPED_TRACE(step.field);
        ASSERT_TRUE(browser.open(step.page));
        ASSERT_TRUE(browser.focus(QString::fromLatin1(step.field)));
        const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
        EXPECT_EQ(snapshot.focusedRole, step.role);
        EXPECT_EQ(snapshot.isSecureInput, step.secure);
    }
}

// The caret probe over an empty text input types nothing into it: the page has no input at all,
// and the field holds nothing.
TEST_P(WebSite, TheProbeLeavesAnEmptyInputEmpty) {
    Desktop& desktop = Desktop::get();
    auto& accessibility = *desktop.seams.accessibility;
    DesktopApplication& browser = DesktopApplication::get(GetParam());
    ASSERT_TRUE(browser.ready()) << browser.name();
    // (page c loaded afresh: its input empty)
    ASSERT_TRUE(browser.open('a'));
    ASSERT_TRUE(browser.open('c'));
    const auto field = browser.focus(QStringLiteral("line"));
    ASSERT_TRUE(field);
    ASSERT_TRUE(
        waitUntil([&] { return platform::textAttribute(accessibility, field, ax::value) == u""; }));
    const auto front = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(front && front->pid == browser.pid());
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    std::shared_ptr<platform::KeyHold> hold;
    const auto probed =
        runToEnd(QNModelFocusSnapshot::probeCaret(seams, field, *front, {}, [&] {
            hold = desktop.seams.keyTaps->holdKeys();
            return hold;
        }));
    hold.reset();
    EXPECT_FALSE(probed.has_value());
    // (the page counts the input's characters in its title once it has had any input)
    bool counted = false;
    (void)browser.windowTitle().split(QLatin1Char(' ')).value(2).toInt(&counted);
    EXPECT_FALSE(counted) << browser.windowTitle().toStdString();
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::value), u"");
}

INSTANTIATE_TEST_SUITE_P(Browsers, WebSite,
                         ::testing::Values(Kind::chromiumOnSite, Kind::firefoxOnSite),
                         [](const auto& info) {
                             return info.param == Kind::chromiumOnSite ? "Chromium" : "Firefox";
                         });

}  // namespace
}  // namespace ravlin::testing
