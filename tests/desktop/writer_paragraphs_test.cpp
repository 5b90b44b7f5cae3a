// LibreOffice Writer's document of paragraphs, each its own text element: a selection that runs
// from one into the next.

#include <gtest/gtest.h>

#include "app/target/focus_snapshot.h"
#include "app/target/target_seams.h"
#include "desktop_apps.h"
#include "desktop_fixture.h"

namespace ravlin::testing {
namespace {

using platform::AttributeValue;
using text::Utf16Range;
namespace ax = platform::ax;
using Kind = DesktopApplication::Kind;

// A selection from one paragraph of a Writer document into the next: the paragraph with the
// caret holds only its end, so it tells what of it is selected but no text, which would be taken
// for all that is selected (the copy fallback takes the whole selection), and takes no text
// written over its part.
TEST(PeopleParagraphs, ASelectionOverTwoParagraphsIsNotOneParagraphs) {
    auto& desktop = Desktop::get();
    auto& accessibility = *desktop.seams.accessibility;
    auto& keys = *desktop.seams.keySynthesis;
    auto& writer = DesktopApplication::get(Kind::writer);
    ASSERT_TRUE(writer.ready());
    const auto first = writer.prepare(u"Harbour stands here", Utf16Range{19, 0});
    ASSERT_TRUE(first);
    namespace keycode = platform::keycode;
    namespace modifier = platform::modifier;
    // A second paragraph after it, and Shift+Down from the first one's caret.
    for (const platform::KeyChord chord :
         {platform::KeyChord{keycode::returnKey, 0}, {keycode::space, 0}, {126, 0},
          {125, modifier::shift}}) {
        ASSERT_TRUE(keys.postKeyPress(chord).ok());
    }
    platform::ElementRef second;
    ASSERT_TRUE(waitUntil([&] {
        second = desktop.focusedOf(writer.pid());
        const auto length = second ? accessibility.attribute(second, ax::numberOfCharacters)
                                   : platform::Expected<AttributeValue>(platform::Error{});
        return second != first && length.hasValue() && *length == AttributeValue(1.0);
    }));

    const auto part = platform::rangeAttribute(accessibility, second, ax::selectedTextRange);
    EXPECT_EQ(part, (Utf16Range{0, 1}));
    EXPECT_FALSE(platform::textAttribute(accessibility, second, ax::selectedText));
    EXPECT_FALSE(platform::textAttribute(accessibility, second, ax::value));
    EXPECT_FALSE(accessibility
                     .parameterizedAttribute(second, ax::stringForRange,
                                             AttributeValue(part.value_or(Utf16Range{0, 1})))
                     .hasValue());
    for (const auto attribute : {ax::selectedText, ax::value}) {
        EXPECT_EQ(accessibility.isAttributeSettable(second, attribute).toOptional(), false);
    }
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
    EXPECT_EQ(snapshot.selectionSource, QNSelectionSource::none);
    EXPECT_EQ(snapshot.selectionLength, 1);
    EXPECT_TRUE(snapshot.needsCopyFallback());

    // A selection inside one paragraph is its own again.
    ASSERT_TRUE(keys.postKeyPress({126, 0}).ok());  // up: the first paragraph, caret only
    EXPECT_TRUE(waitUntil([&] {
        const auto range =
            platform::rangeAttribute(accessibility, desktop.focusedOf(writer.pid()),
                                     ax::selectedTextRange);
        return range && range->length == 0;
    }));
    // The document as the suite found it: one paragraph.
    EXPECT_TRUE(writer.prepare(u"hello world", Utf16Range{0, 0}));
}

}  // namespace
}  // namespace ravlin::testing
