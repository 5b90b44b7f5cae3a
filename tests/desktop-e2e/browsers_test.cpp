// Browsers as people write in them: Firefox's text field and text area with the caret at the end
// of what was typed, and a web mail's message (two paragraphs with a bold and an italic word) in
// Firefox and Chromium. Each browser is started once for the suite.

#include <gtest/gtest.h>

#include "core/text/unicode.h"
#include "scenarios.h"
#include "tests/desktop/desktop_apps.h"

namespace ravlin::testing {
namespace {

using Kind = DesktopApplication::Kind;
using text::Utf16Range;

// The caret at the end of the text, as a person leaves it after typing, five times over in each
// field: Quick Fix corrects the field and never takes one of its characters (the caret probe's
// character, where one is typed, is taken back alone), and the typed double tap opens the
// Composer and leaves no E behind (the program's own keys are no key that followed the pair).
TEST_F(ComposerScenarios, FirefoxFieldsWithTheCaretAtTheEnd) {
    ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    auto& firefox = DesktopApplication::get(Kind::firefox);
    ASSERT_TRUE(firefox.ready());
    constexpr int tries = 5;
    for (const auto* field : {"line", "area"}) {
        const QString name = QString::fromLatin1(field);
        SCOPED_TRACE(field);
        for (int attempt = 0; attempt < tries; ++attempt) {
            SCOPED_TRACE("Quick Fix " + std::to_string(attempt));
            ASSERT_TRUE(firefox.prepare(u"I recieve teh mail", Utf16Range{18, 0}, name));
            ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
            EXPECT_TRUE(focusedValueBecomes(firefox.pid(), u"I receive the mail", 3s))
                << text::toUtf8(desktop.value(desktop.focusedOf(firefox.pid())));
            pause(2s);  // the Quick Fix flow's end
            EXPECT_EQ(desktop.value(desktop.focusedOf(firefox.pid())), u"I receive the mail");
        }
        for (int attempt = 0; attempt < tries; ++attempt) {
            SCOPED_TRACE("double tap " + std::to_string(attempt));
            const auto element = firefox.prepare(u"Harbour", Utf16Range{7, 0}, name);
            ASSERT_TRUE(element);
            ASSERT_TRUE(keyboard.tap("space"));
            ASSERT_TRUE(waitUntil([&] { return desktop.value(element) == u"Harbour "; }));
            ASSERT_TRUE(keyboard.tap("e"));
            ASSERT_TRUE(keyboard.tap("e"));
            EXPECT_TRUE(programInFront(program) &&
                        waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, kSettle))
                << "no Composer after the double tap; the field holds \""
                << text::toUtf8(desktop.value(element)) << "\"\n"
                << program.errors().toStdString();
            ASSERT_TRUE(keyboard.tap("Escape"));
            ASSERT_TRUE(composerClosedInto(firefox.pid()));
            EXPECT_TRUE(waitUntil([&] { return desktop.value(element) == u"Harbour "; }))
                << text::toUtf8(desktop.value(element));
        }
    }
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=quick_fix_committed"), 2u * tries) << log;
    EXPECT_EQ(occurrences(log, "trigger=double-tap source=firefox-esr"), 2u * tries) << log;
    EXPECT_EQ(occurrences(log, "reason=key-followed"), 0u) << log;
}

}  // namespace
}  // namespace ravlin::testing
