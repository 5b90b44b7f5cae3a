// The accessibility backend against applications people use, each started once for the suite:
// the focused field, its selection and its caret found and read as in the GTK and Qt targets.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

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
    // "stands" selected in it
    std::u16string text = u"Harbour stands here";
    Utf16Range stands{8, 6};
};

void PrintTo(const Field& field, std::ostream* out) {
    *out << field.name;
}

class ApplicationTest : public ::testing::TestWithParam<Field> {
  protected:
    Desktop& desktop = Desktop::get();
    platform::Accessibility& accessibility = *desktop.seams.accessibility;
    DesktopApplication& app = DesktopApplication::get(GetParam().kind);
};

// "stands" selected: the field, its text and selection read as they are, and the caret (the
// selection's end) found inside the application's window.
TEST_P(ApplicationTest, ReadsTheFocusedFieldItsSelectionAndItsCaret) {
    ASSERT_TRUE(app.ready()) << app.name();
    const auto field = app.prepare(GetParam().text, GetParam().stands, GetParam().field);
    ASSERT_TRUE(field);
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::role),
              text::toUtf16(GetParam().role));
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::selectedText), u"stands");
    // Typed into (whether or not accessibility can write into it).
    EXPECT_EQ(platform::booleanAttribute(accessibility, field, ax::editable), true);

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

// The caret at the end of the text, where no character follows it: found without typing (the
// last character's right edge), and the field's text still read whole however far past its end
// a reading asked (Firefox answers nothing at all for a range past the end). In the fields whose
// characters tell their places (GTK 4's do not; Writer's paragraph end takes no caret written).
class CaretAtTheEnd : public ApplicationTest {
  protected:
    const std::u16string& text = GetParam().text;
    const std::int64_t end = static_cast<std::int64_t>(text.size());

    // The field holding the text, its caret at the end.
    platform::ElementRef prepare() { return app.prepare(text, Utf16Range{end, 0}, GetParam().field); }
};

TEST_P(CaretAtTheEnd, IsFoundWithoutTyping) {
    ASSERT_TRUE(app.ready()) << app.name();
    const auto field = prepare();
    ASSERT_TRUE(field);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
    ASSERT_TRUE(snapshot.anchor.has_value());
    EXPECT_EQ(snapshot.anchor->source, QNModelFocusAnchor::QNSourceFocusAnchor::caret)
        << snapshot.anchor->logDescription();
    EXPECT_EQ(snapshot.selectionLocation, end);
    const auto last = accessibility.parameterizedAttribute(
        field, ax::boundsForRange, AttributeValue(Utf16Range{end - 1, 1}));
    ASSERT_TRUE(last.hasValue()) << last.error().message;
    ASSERT_TRUE(snapshot.caretRect.has_value());
    EXPECT_NEAR(snapshot.caretRect->minX(), std::get<platform::Rect>(*last).maxX(), 1);
    EXPECT_FALSE(accessibility
                     .parameterizedAttribute(field, ax::stringForRange,
                                             AttributeValue(Utf16Range{end, 1}))
                     .hasValue());
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::value), text);
}

INSTANTIATE_TEST_SUITE_P(
    People, ApplicationTest,
    ::testing::Values(
        Field{Kind::textEditor, QStringLiteral("document"), "AXTextArea", "GnomeTextEditor"},
        Field{Kind::chromium, QStringLiteral("area"), "AXTextArea", "ChromiumTextArea"},
        Field{Kind::chromium, QStringLiteral("line"), "AXTextField", "ChromiumTextField"},
        Field{Kind::firefox, QStringLiteral("area"), "AXTextArea", "FirefoxTextArea"},
        Field{Kind::firefox, QStringLiteral("line"), "AXTextField", "FirefoxTextField"},
        Field{Kind::kwrite, QStringLiteral("document"), "AXTextArea", "KWrite"},
        Field{Kind::kwrite, QStringLiteral("document"), "AXTextArea", "KWriteSecondLine",
              u"Harbour stands here\nLantern stands here", Utf16Range{28, 6}},
        Field{Kind::writer, QStringLiteral("document"), "AXTextArea", "LibreOfficeWriter"}),
    [](const auto& info) { return info.param.name; });

// Where the caret probe is still typed (a field that tells no place yet), it costs no character:
// its own is taken back alone, and the text is as it was. (Its looks at the field are few and
// short: a busy browser may not show the character in time, and the probe then gives no place;
// it is asked again, and every try must leave the text as it was.)
TEST_P(CaretAtTheEnd, TheProbeLeavesTheTextAsItWas) {
    ASSERT_TRUE(app.ready()) << app.name();
    const auto field = prepare();
    ASSERT_TRUE(field);
    const auto front = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(front && front->pid == app.pid());
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    const auto asItWas = [&] {
        return platform::textAttribute(accessibility, field, ax::value) == text &&
               platform::rangeAttribute(accessibility, field, ax::selectedTextRange) ==
                   Utf16Range{end, 0};
    };
    std::optional<platform::Rect> probed;
    for (int attempt = 1; attempt <= 3 && !probed; ++attempt) {
        // (typed only with the person's keys held)
        std::shared_ptr<platform::KeyHold> hold;
        probed = runToEnd(QNModelFocusSnapshot::probeCaret(seams, field, *front, {}, [&] {
            hold = desktop.seams.keyTaps->holdKeys();
            return hold;
        }));
        hold.reset();
        const auto value = platform::textAttribute(accessibility, field, ax::value);
        ASSERT_TRUE(waitUntil(asItWas))
            << "try " << attempt << ": " << text::toUtf8(value.value_or(u"?"));
    }
    EXPECT_TRUE(probed.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    People, CaretAtTheEnd,
    ::testing::Values(
        Field{Kind::chromium, QStringLiteral("area"), "AXTextArea", "ChromiumTextArea"},
        Field{Kind::chromium, QStringLiteral("line"), "AXTextField", "ChromiumTextField"},
        Field{Kind::firefox, QStringLiteral("area"), "AXTextArea", "FirefoxTextArea"},
        Field{Kind::firefox, QStringLiteral("line"), "AXTextField", "FirefoxTextField"},
        Field{Kind::kwrite, QStringLiteral("document"), "AXTextArea", "KWrite"}),
    [](const auto& info) { return info.param.name; });

struct ReadingFigures {
    double median = 0;
    double worst = 0;
    std::uint64_t calls = 0;  // calls to other applications in the median reading's run
};

// The median and the longest of `runs` synchronous readings, in milliseconds, and the calls one
// reading makes.
ReadingFigures readingFigures(const TargetSeams& seams, int runs) {
    auto& accessibility = *Desktop::get().accessibility;
    std::vector<std::pair<double, std::uint64_t>> each;
    for (int run = 0; run < runs; ++run) {
        const auto before = accessibility.callCount();
        QElapsedTimer clock;
        clock.start();
        (void)QNModelFocusSnapshot::captureNow(seams);
        each.emplace_back(static_cast<double>(clock.nsecsElapsed()) / 1e6,
                          accessibility.callCount() - before);
        waitUntil([] { return false; }, 20ms);  // (the next reading in another turn of the loop)
    }
    std::ranges::sort(each);
    return {each[each.size() / 2].first, each.back().first, each[each.size() / 2].second};
}

// A field that does not say it has the focus: GNOME Text Editor's search entry (neither focused
// nor focusable on the bus: the inner widget that has the keyboard is not shown) is read as the
// field, its selection and its caret inside it. (A Calc cell being edited: the end-to-end suite,
// whose keys Calc takes.)
TEST(PeopleFields, ThoseThatDoNotSayTheyHaveTheFocusAreFound) {
    auto& desktop = Desktop::get();
    auto& keys = *desktop.seams.keySynthesis;
    auto& editor = DesktopApplication::get(Kind::textEditor);
    ASSERT_TRUE(editor.ready());
    constexpr std::uint32_t f = 3;
    ASSERT_TRUE(editor.prepare(u"Harbour stands here", Utf16Range{0, 7}));
    ASSERT_TRUE(keys.postKeyPress({f, platform::modifier::command}).ok());  // the search bar
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    QNModelFocusSnapshot snapshot;
    EXPECT_TRUE(waitUntil([&] {
        snapshot = QNModelFocusSnapshot::captureNow(seams);
        return snapshot.selectionText == u"Harbour";
    })) << snapshot.focusedRole.value_or("no role");
    EXPECT_EQ(snapshot.app.pid, editor.pid());
    EXPECT_EQ(snapshot.focusedRole, "AXTextField");
    EXPECT_FALSE(snapshot.isSecureInput);
    ASSERT_TRUE(snapshot.anchor.has_value());
    EXPECT_NE(snapshot.anchor->source, QNModelFocusAnchor::QNSourceFocusAnchor::mouse)
        << snapshot.anchor->logDescription();
    ASSERT_TRUE(snapshot.focusedElementRect.has_value());
    const auto& field = *snapshot.focusedElementRect;
    const auto& anchor = snapshot.anchor->rect;
    EXPECT_TRUE(anchor.minX() >= field.minX() - 1 && anchor.minX() <= field.maxX() + 1 &&
                anchor.minY() >= field.minY() - 1 && anchor.maxY() <= field.maxY() + 1)
        << snapshot.anchor->logDescription();
    const auto figures = readingFigures(seams, 20);
    std::printf("measure: GNOME Text Editor's search entry: focus reading median %.1f ms, worst "
                "%.1f ms, %llu calls (20 readings)\n",
                figures.median, figures.worst, static_cast<unsigned long long>(figures.calls));
    (void)keys.postKeyPress({platform::keycode::escape, 0});  // the search bar closes
}

// What a reading of the focused field costs once the field was found before (the calls of one
// synchronous reading, the median of 20), in a web page's input and a GTK 4 entry: printed, for
// the figures.
TEST(PeopleFields, AReadingOfTheFieldFoundBefore) {
    auto& desktop = Desktop::get();
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    auto& firefox = DesktopApplication::get(Kind::firefoxOnSite);
    ASSERT_TRUE(firefox.ready());
    ASSERT_TRUE(firefox.open('c'));
    ASSERT_TRUE(firefox.prepare(u"We will see", Utf16Range{11, 0}, QStringLiteral("line")));
    (void)QNModelFocusSnapshot::captureNow(seams);
    auto figures = readingFigures(seams, 20);
    std::printf("measure: Firefox input: focus reading median %.1f ms, worst %.1f ms, %llu calls\n",
                figures.median, figures.worst, static_cast<unsigned long long>(figures.calls));
    ASSERT_TRUE(desktop.focus(*desktop.gtk4, QStringLiteral("line")));
    (void)QNModelFocusSnapshot::captureNow(seams);
    figures = readingFigures(seams, 20);
    std::printf("measure: GTK 4 entry: focus reading median %.1f ms, worst %.1f ms, %llu calls\n",
                figures.median, figures.worst, static_cast<unsigned long long>(figures.calls));
}

// A web page's password field: one by its role, never read, and secure input while it has the
// focus.
TEST(PeoplePasswords, ChromiumPasswordFieldIsSecureAndNeverRead) {
    auto& desktop = Desktop::get();
    auto& accessibility = *desktop.seams.accessibility;
    auto& chromium = DesktopApplication::get(Kind::chromium);
    ASSERT_TRUE(chromium.ready());
    const auto field = chromium.focus(QStringLiteral("password"));
    ASSERT_TRUE(field);
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::role), u"AXSecureTextField");
    EXPECT_EQ(desktop.seams.secureInput->state(), platform::SecureInput::State::on);
    for (const auto attribute :
         {ax::value, ax::selectedText, ax::selectedTextRange, ax::numberOfCharacters}) {
        EXPECT_EQ(accessibility.attribute(field, attribute).code(),
                  platform::ErrorCode::notPermitted)
            << attribute;
    }
    ASSERT_TRUE(chromium.focus(QStringLiteral("line")));
    EXPECT_EQ(desktop.seams.secureInput->state(), platform::SecureInput::State::off);
}

}  // namespace
}  // namespace ravlin::testing
