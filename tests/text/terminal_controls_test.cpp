#include "core/text/terminal_controls.h"

#include <gtest/gtest.h>

namespace ravlin::text {
namespace {

TEST(TerminalControls, AColouredAnswerReadsAsItsPlainText) {
    struct Case {
        std::u16string written;
        std::u16string plain;
    };
    for (const Case& c : std::vector<Case>{
             {u"\x1b[1mI believe it\x1b[0m.", u"I believe it."},
             {u"\x1b[38;5;208mred\x1b[39m and \x1b[4munder\x1b[24m", u"red and under"},
             {u"\x1b]0;a window title\x07text", u"text"},
             {u"\x1b]8;;https://x.example\x1b\\link\x1b]8;;\x1b\\", u"link"},
             {u"\x1b(Bplain\x1b=", u"plain"},
             {u"\u009b1mC1 introducer", u"C1 introducer"},
             {u"tab\tand\nlines\r\n\x07\x08stay", u"tab\tand\nlines\r\nstay"},
             {u"caf\u00e9 \u4eca\u65e5\u3002", u"caf\u00e9 \u4eca\u65e5\u3002"},
             // Cut off by the end of the text, or an escape before no sequence.
             {u"end\x1b[38;5", u"end"},
             {u"end\x1b", u"end"},
             {u"\x1b\u00e9t\u00e9", u"\u00e9t\u00e9"},
         }) {
        EXPECT_EQ(withoutTerminalControls(c.written), c.plain) << testing::PrintToString(c.written);
    }
}

}  // namespace
}  // namespace ravlin::text
