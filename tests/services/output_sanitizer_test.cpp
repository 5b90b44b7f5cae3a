#include "core/services/output_sanitizer.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

struct Case {
    std::u16string output;
    std::u16string input;
    std::u16string cleaned;
    std::vector<std::string> ruleIDs;  // without the "sanitize." prefix, in order
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << testing::PrintToString(c.output.substr(0, 40)) << " against "
        << testing::PrintToString(c.input);
}

class Sanitizer : public testing::TestWithParam<Case> {};

TEST_P(Sanitizer, CleansTheAnswerAndNotesEachChange) {
    const Case& c = GetParam();
    const auto result = sanitizeModelOutput(c.output, c.input);
    EXPECT_EQ(result.cleaned, c.cleaned);
    std::vector<std::string> ruleIDs;
    for (const auto& note : result.structuredNotes) {
        EXPECT_EQ(note.stageID, QNCorrectionStageID::sanitize);
        EXPECT_TRUE(note.isPlainText());
        ASSERT_TRUE(note.ruleID);
        ASSERT_TRUE(note.ruleID->starts_with("sanitize."));
        ruleIDs.push_back(note.ruleID->substr(9));
    }
    EXPECT_EQ(ruleIDs, c.ruleIDs);
}

INSTANTIATE_TEST_SUITE_P(
    Preamble, Sanitizer,
    testing::Values(Case{u"Here is the corrected version: I am here.",
                         u"i am here.",
                         u"I am here.",
                         {"preamble-strip"}},
                    Case{u"Here is the corrected version: I am here.",
                         u"here is the corrected version: i am here.",
                         u"Here is the corrected version: I am here.",
                         {}},
                    Case{u"Corrected: Text", u"text", u"Text", {"preamble-strip"}},
                    Case{u"Corrected text", u"corrected text", u"Corrected text", {}},
                    Case{u"Here's the rewrite:\n\nFine", u"fine", u"Fine", {"preamble-strip"}},
                    // Only one preamble is removed.
                    Case{u"Output: Result: Hi", u"hi", u"Result: Hi", {"preamble-strip"}}));

// What chat models put before the text: an interjection before a preamble goes with it, and
// "the corrected text" is a preamble too. Still measured against the input, and never before a
// one-word phrase, which an answer may begin with of its own.
INSTANTIATE_TEST_SUITE_P(
    ChattyPreamble, Sanitizer,
    testing::Values(Case{u"Sure! Here is the corrected text: Whats the plan for today.",
                         u"whats the plan for today",
                         u"Whats the plan for today",
                         {"preamble-strip", "trailing-punctuation-strip"}},
                    Case{u"Certainly. Here's the corrected version:\nI am here.", u"i am here.",
                         u"I am here.", {"preamble-strip"}},
                    Case{u"Of course, here is the polished version: Fine.", u"fine.", u"Fine.",
                         {"preamble-strip"}},
                    Case{u"Here's the corrected text: Fine.", u"fine.", u"Fine.",
                         {"preamble-strip"}},
                    // The user wrote the interjection, or the preamble: it stays.
                    Case{u"Sure! Here is the corrected text: fine.",
                         u"sure! here is the corrected text: fine.",
                         u"Sure! Here is the corrected text: fine.",
                         {}},
                    Case{u"Sure, here is the corrected text: fine.",
                         u"sure here is the corrected text: fine.",
                         u"Sure, here is the corrected text: fine.",
                         {}},
                    // The person wrote the phrase, the model put the interjection before it.
                    Case{u"Sure! Here is the corrected text: Fine.",
                         u"here is the corrected text: fine.",
                         u"Here is the corrected text: Fine.",
                         {"preamble-strip"}},
                    // A one-word phrase after an interjection is the user's sentence.
                    Case{u"OK, result: we won.", u"ok result: we won.", u"OK, result: we won.",
                         {}},
                    // An interjection alone is chatter too, unless the person began so.
                    Case{u"Sure! I am here.", u"i am here.", u"I am here.", {"preamble-strip"}},
                    Case{u"OK, I am here.", u"ok i am here.", u"OK, I am here.", {}},
                    // Without its mark or its space the word is not an interjection.
                    Case{u"Surely here is the corrected text: x.", u"x.",
                         u"Surely here is the corrected text: x.", {}}));

// What chat models say around the text, in the forms they use, against texts that do not say it
// themselves; and the same words kept where the person typed them.
INSTANTIATE_TEST_SUITE_P(
    ChatAroundTheText, Sanitizer,
    testing::Values(
        Case{u"Here\u2019s the corrected text: We should go.", u"we shoud go.", u"We should go.",
             {"preamble-strip"}},
        Case{u"Sure! We should go.", u"we shoud go.", u"We should go.", {"preamble-strip"}},
        Case{u"The corrected sentence: We should go.", u"we shoud go.", u"We should go.",
             {"preamble-strip"}},
        Case{u"Here you go:\n\nWe should go.", u"we shoud go.", u"We should go.",
             {"preamble-strip"}},
        // Without a colon: a line break, a full stop, or only the space before the text.
        Case{u"Here is the corrected text\nWe should go.", u"we shoud go.", u"We should go.",
             {"preamble-strip"}},
        Case{u"Here you go! We should go.", u"we shoud go.", u"We should go.",
             {"preamble-strip"}},
        Case{u"Here is the corrected text We should go.", u"we shoud go.", u"We should go.",
             {"preamble-strip"}},
        Case{u"We should go.\n\nLet me know if you need anything else!", u"we shoud go.",
             u"We should go.", {"sign-off-strip"}},
        Case{u"Sure! Here's the corrected version: We should go. I hope this helps! Let me know "
             u"if you'd like any other changes.",
             u"we shoud go.", u"We should go.", {"preamble-strip", "sign-off-strip"}},
        // The person's own words, typos and all.
        Case{u"Sure! Here is the corrected text: Sure! Here is the plan.",
             u"sure! here is the plan.", u"Sure! Here is the plan.", {"preamble-strip"}},
        Case{u"Sure! Here is the plan.", u"sure! here is teh plan.", u"Sure! Here is the plan.",
             {}},
        Case{u"Here is the corected text: done.", u"here is teh corected text: done.",
             u"Here is the corected text: done.", {}},
        Case{u"We will go. Let me know when.", u"we will go. let me knwo when.",
             u"We will go. Let me know when.", {}},
        Case{u"Hope this helps.", u"hope this helsp.", u"Hope this helps.", {}},
        // A lead-in with nothing after it is the whole answer.
        Case{u"Here you go.", u"here you go", u"Here you go", {"trailing-punctuation-strip"}},
        // The person's own sentences and openings, typed in chat form.
        Case{u"I sent it. Let me know if you need anything else.",
             u"i sent it. lmk if u need anything else.",
             u"I sent it. Let me know if you need anything else.", {}},
        Case{u"Done. Would you like me to send the invite to everyone?",
             u"done. would u like me 2 send the invite to everyone?",
             u"Done. Would you like me to send the invite to everyone?", {}},
        Case{u"No problem, I'll fix it tomorrow.", u"np, ill fix it tmrw.",
             u"No problem, I'll fix it tomorrow.", {}},
        Case{u"Okay, see you soon.", u"k see u soon.", u"Okay, see you soon.", {}},
        // Sentences typed without their stops: only what goes beyond the typed words is cut.
        Case{u"I sent it. We meet at noon. Let me know if you need anything. I hope this helps!",
             u"i sent it we meet at noon lmk if u need anything",
             u"I sent it. We meet at noon. Let me know if you need anything",
             {"sign-off-strip", "trailing-punctuation-strip"}},
        // As many sentences as the person typed: none of them is chatter.
        Case{u"Hi, how are you? See you. Let me know if you need anything!",
             u"hi. how r u. see u.",
             u"Hi, how are you? See you. Let me know if you need anything!", {}}));

// The end of a sentence in other scripts: no "." is put after a mark the answer already ends
// with, and a mark the person did not type comes off.
INSTANTIATE_TEST_SUITE_P(
    SentenceEnds, Sanitizer,
    testing::Values(
        Case{u"\u4eca\u65e5\u306f\u96e8\u3067\u3059\u3002", u"\u304d\u3087\u3046\u306f.",
             u"\u4eca\u65e5\u306f\u96e8\u3067\u3059\u3002", {}},
        Case{u"Is it\uFF1F", u"is it?", u"Is it\uFF1F", {}},
        Case{u"\u0915\u094d\u092f\u093e \u0939\u0948\u0964", u"\u0915\u094d\u092f\u093e",
             u"\u0915\u094d\u092f\u093e \u0939\u0948", {"trailing-punctuation-strip"}},
        Case{u"\u0647\u0644\u061F", u"\u0647\u0644.", u"\u0647\u0644\u061F", {}}));

INSTANTIATE_TEST_SUITE_P(
    CodeFence, Sanitizer,
    testing::Values(
        Case{u"```text\nHello world\n```", u"hello world", u"Hello world", {"code-fence-strip"}},
        Case{
            u"```text\r\nHello world\r\n```", u"hello world", u"Hello world", {"code-fence-strip"}},
        Case{u"```Hello```", u"hello", u"Hello", {"code-fence-strip"}},
        // Too short for a fence: the backtick row strips one pair per pass down to two, and
        // notes each pass.
        Case{u"``````", u"x", u"``", {"backtick-strip", "backtick-strip"}},
        Case{u"```a```", u"```b```", u"```a```", {}}));

INSTANTIATE_TEST_SUITE_P(
    WrapperPairs, Sanitizer,
    testing::Values(Case{u"**bold**", u"bold", u"bold", {"markdown-wrapper-strip"}},
                    Case{u"***x***", u"x", u"x", {"markdown-wrapper-strip"}},
                    Case{u"**note**", u"**note**", u"**note**", {}},
                    Case{u"\"**Hi**\"", u"hi", u"Hi", {"quote-strip", "markdown-wrapper-strip"}},
                    Case{u"`code`", u"code", u"code", {"backtick-strip"}},
                    Case{u"'  Hi  '", u"hi", u"Hi", {"quote-strip"}},
                    Case{u"~~gone~~", u"gone", u"gone", {"markdown-wrapper-strip"}},
                    Case{u"\"\"", u"x", u"\"\"", {}},
                    // A star fused with a combining accent is not a marker.
                    Case{u"*\u0301hi*", u"hi", u"*\u0301hi*", {}}));

INSTANTIATE_TEST_SUITE_P(
    MarkdownPrefix, Sanitizer,
    testing::Values(
        Case{u"- buy milk", u"buy milk", u"buy milk", {"markdown-prefix-strip"}},
        Case{u"- buy milk", u"- buy milk", u"- buy milk", {}},
        Case{u"- [x] done", u"done", u"done", {"markdown-prefix-strip"}},
        Case{u"* [ ] todo", u"todo", u"todo", {"markdown-prefix-strip"}},
        Case{u"10. item", u"item", u"item", {"markdown-prefix-strip"}},
        Case{u"1234567890. x", u"x", u"1234567890. x", {}},
        Case{u"## Title", u"title", u"Title", {"markdown-prefix-strip"}},
        Case{u"####### Title", u"title", u"####### Title", {}},
        Case{u"> quoted", u"quoted", u"quoted", {"markdown-prefix-strip"}},
        Case{u"\u0663) item", u"item", u"item", {"markdown-prefix-strip"}},  // Arabic-Indic three
        // Wrappers and prefixes alternate until nothing changes.
        Case{u"- **milk**", u"milk", u"milk", {"markdown-prefix-strip", "markdown-wrapper-strip"}},
        // A bare marker is not stripped down to nothing.
        Case{u"- x", u"q", u"x", {"markdown-prefix-strip"}},
        Case{u"#hashtag", u"hashtag", u"#hashtag", {}}));

INSTANTIATE_TEST_SUITE_P(
    FinalPunctuation, Sanitizer,
    testing::Values(Case{u"Hello.", u"hello", u"Hello", {"trailing-punctuation-strip"}},
                    Case{u"Hello!!", u"hello", u"Hello", {"trailing-punctuation-strip"}},
                    Case{u"Hello . ",
                         u"hello",
                         u"Hello",
                         {"trailing-punctuation-strip", "whitespace-boundary-match"}},
                    Case{u"Hello", u"hello.", u"Hello.", {"trailing-punctuation-restore"}},
                    Case{u"Hello", u"hello?", u"Hello?", {"trailing-punctuation-restore"}},
                    Case{u"Hello!", u"hello.", u"Hello!", {}}, Case{u"", u"x.", u"", {}},
                    Case{u"...", u"x", u"", {"trailing-punctuation-strip"}}));

INSTANTIATE_TEST_SUITE_P(
    Whitespace, Sanitizer,
    testing::Values(Case{u"Hello", u"  hello\n", u"  Hello\n", {"whitespace-boundary-match"}},
                    Case{u"  Hello  ", u"hello", u"Hello", {"whitespace-boundary-match"}},
                    Case{u" Hello\n", u" hello\n", u" Hello\n", {}},
                    Case{u"Hello", u"hello", u"Hello", {}},
                    // An input of whitespace only is copied once, not once per side.
                    Case{u"Hi", u" \n ", u" \n Hi", {"whitespace-boundary-match"}},
                    Case{u"", u"  ", u"  ", {"whitespace-boundary-match"}},
                    Case{u"  ", u"  ", u"  ", {}}));

std::u16string nested(std::u16string_view open, std::u16string_view middle,
                      std::u16string_view close, int depth) {
    std::u16string text;
    for (int i = 0; i < depth; ++i) {
        text += open;
    }
    text += middle;
    for (int i = 0; i < depth; ++i) {
        text += close;
    }
    return text;
}

// `pattern` repeated `count` times.
std::vector<std::string> times(int count, const std::vector<std::string>& pattern) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), pattern.begin(), pattern.end());
    }
    return out;
}

// Thousands of wrappings around a non-ASCII answer: every layer comes off, and each strip is
// noted as often as it was made ("***" takes three stars a pass).
INSTANTIATE_TEST_SUITE_P(
    DeepNesting, Sanitizer,
    testing::Values(
        Case{nested(u"> ", u"\u00e9", u"", 3000), u"x", u"\u00e9",
             times(3000, {"markdown-prefix-strip"})},
        Case{nested(u"*", u"\u00e9", u"*", 3000), u"x", u"\u00e9",
             times(1000, {"markdown-wrapper-strip"})},
        Case{nested(u"```x\n", u"e\u0301", u"\r\n```", 1000), u"x", u"e\u0301",
             times(1000, {"code-fence-strip"})},
        Case{nested(u"```", u"\u00e9", u"```", 1000), u"x", u"\u00e9",
             times(1000, {"code-fence-strip"})},
        Case{nested(u"\"**", u"\u00e9", u"**\"", 1000), u"x", u"\u00e9",
             times(1000, {"quote-strip", "markdown-wrapper-strip"})},
        Case{nested(u"1. - [x] ", u"\u00e9", u"", 1000), u"x", u"\u00e9",
             times(2000, {"markdown-prefix-strip"})},
        Case{nested(u"", u"\u00e9", u".\u3000", 3000),
             u"x",
             u"\u00e9",
             {"trailing-punctuation-strip", "whitespace-boundary-match"}}));

// A stream's text so far is cleaned like the whole answer, except that its end gets no final mark
// from the input: a stop shown mid-stream is one the whole answer keeps.
TEST(SanitizePartial, PutsBackNoFinalMarkAndStillTakesAnAddedOneOff) {
    struct PartialCase {
        std::u16string partial;
        std::u16string input;
        std::u16string shown;
    };
    for (const PartialCase& c : std::vector<PartialCase>{
             {u"Hello,", u"hello, world.", u"Hello,"},
             {u"\"Hello, wor", u"hello, world.", u"\"Hello, wor"},
             {u"**Hello, world**", u"hello, world.", u"Hello, world"},
             {u"Hello, world.", u"hello, world.", u"Hello, world."},
             {u"Hello.", u"hello", u"Hello"},
         }) {
        EXPECT_EQ(sanitizeModelPartial(c.partial, c.input).cleaned, c.shown)
            << testing::PrintToString(c.partial);
    }
    // The whole answer still gets the input's stop.
    EXPECT_EQ(sanitizeModelOutput(u"Hello, world", u"hello, world.").cleaned, u"Hello, world.");
}

// While an answer streams, a start that may still become a lead-in shows nothing, and a last
// sentence that is or may become a sign-off is left off; once the start is known, the text
// after a lead-in shows at once.
TEST(SanitizePartial, HoldsBackWhatMayStillBeChatter) {
    struct PartialCase {
        std::u16string partial;
        std::u16string shown;
    };
    const std::u16string input = u"we shoud go. see you.";
    for (const PartialCase& c : std::vector<PartialCase>{
             {u"Su", u""},
             {u"Sure", u""},
             {u"Sure!", u""},
             {u"Sure! Here is the", u""},
             {u"Sure! Here is the corrected text", u""},
             {u"Sure! Here is the corrected text:", u""},
             {u"Sure! Here is the corrected text: We", u"We"},
             {u"Sure! We ", u"We"},
             {u"Here\u2019s the", u""},
             {u"Sure! Here\u2019", u""},
             {u"Sure! Here'", u""},
             {u"We", u"We"},
             {u"We should go. L", u"We should go."},
             {u"We should go. Let me know", u"We should go."},
             {u"We should go. See", u"We should go. See"},
         }) {
        EXPECT_EQ(sanitizeModelPartial(c.partial, input).cleaned, c.shown)
            << testing::PrintToString(c.partial);
    }
    // The person began the same way: nothing is held for it.
    EXPECT_EQ(sanitizeModelPartial(u"Sure! Here is", u"sure! here is teh plan.").cleaned,
              u"Sure! Here is");
}

TEST(SanitizeResult, SummaryJoinsTheNoteTexts) {
    EXPECT_EQ(sanitizeModelOutput(u"Hello", u"hello").summary(), "no changes");
    const auto result =
        sanitizeModelOutput(u"Here is the corrected version: I am here. ", u"i am here.");
    EXPECT_EQ(result.cleaned, u"I am here.");
    EXPECT_EQ(result.summary(), "stripped preamble, matched whitespace to input");
    EXPECT_EQ(result.notes(),
              (std::vector<std::string>{"stripped preamble", "matched whitespace to input"}));
}

TEST(SanitizeResult, PlainNotesBecomeUnstagedNotes) {
    const auto result = QNModelSanitizeResult::withPlainNotes(u"x", {"first", "second"});
    ASSERT_EQ(result.structuredNotes.size(), 2u);
    EXPECT_EQ(result.structuredNotes[0],
              QNCorrectionNote::plain("first", QNCorrectionStageID::unknown, std::nullopt));
    EXPECT_EQ(result.summary(), "first, second");
}

}  // namespace
}  // namespace ravlin
