// The accessibility backend against applications people use, each started once for the suite:
// the focused field, its selection and its caret found and read as in the GTK and Qt targets.

#include <gtest/gtest.h>

#include "app/target/focus_snapshot.h"
#include "app/target/target_seams.h"
#include "core/text/unicode.h"
#include "desktop_apps.h"
#include "desktop_fixture.h"
#include "platform/linux/screens/qt_screens.h"

namespace ravlin::testing {
namespace {

using platform::AttributeValue;
using text::Utf16Range;
namespace ax = platform::ax;
using Kind = DesktopApplication::Kind;

struct Field {
    Kind kind;
    QString field;
    std::string role;
    std::string name;
};

class ApplicationTest : public ::testing::TestWithParam<Field> {
  protected:
    Desktop& desktop = Desktop::get();
    platform::Accessibility& accessibility = *desktop.seams.accessibility;
    DesktopApplication& app = DesktopApplication::get(GetParam().kind);
};

// "stands" selected in "Harbour stands here": the field, its text and selection read as they
// are, and the caret (the selection's end) found inside the application's window.
TEST_P(ApplicationTest, ReadsTheFocusedFieldItsSelectionAndItsCaret) {
    ASSERT_TRUE(app.ready()) << app.name();
    const auto field = app.prepare(u"Harbour stands here", Utf16Range{8, 6}, GetParam().field);
    ASSERT_TRUE(field);
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::role),
              text::toUtf16(GetParam().role));
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::selectedText), u"stands");

    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
    EXPECT_EQ(snapshot.app.pid, app.pid());
    EXPECT_EQ(snapshot.focusedRole, GetParam().role);
    EXPECT_EQ(snapshot.selectionText, u"stands");
    EXPECT_EQ(snapshot.selectionSource, QNSelectionSource::accessibilitySelectedText);
    EXPECT_EQ(snapshot.selectionLength, 6);
    EXPECT_FALSE(snapshot.isSecureInput);
    ASSERT_TRUE(snapshot.anchor.has_value());
    EXPECT_EQ(snapshot.anchor->source, QNModelFocusAnchor::QNSourceFocusAnchor::caret)
        << snapshot.anchor->logDescription();

    // Inside the window as the X server places it (y down there, y up in the snapshot).
    const auto window = app.windowFrame();
    ASSERT_TRUE(window.has_value());
    const auto screen = desktop.seams.screens->mainScreen()->frame;
    const auto frame = platform::toYUp(*window, screen);
    const auto& caret = snapshot.anchor->rect;
    EXPECT_GE(caret.minX(), frame.minX()) << snapshot.anchor->logDescription();
    EXPECT_LE(caret.maxX(), frame.maxX()) << snapshot.anchor->logDescription();
    EXPECT_GE(caret.minY(), frame.minY()) << snapshot.anchor->logDescription();
    EXPECT_LE(caret.maxY(), frame.maxY()) << snapshot.anchor->logDescription();
    EXPECT_GT(caret.height(), 4) << snapshot.anchor->logDescription();
}

INSTANTIATE_TEST_SUITE_P(
    People, ApplicationTest,
    ::testing::Values(Field{Kind::textEditor, QStringLiteral("document"), "AXTextArea",
                            "GnomeTextEditor"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ravlin::testing
