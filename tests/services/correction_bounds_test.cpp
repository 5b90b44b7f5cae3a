#include "core/services/correction_bounds.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

struct Pair {
    std::u16string typed;
    std::u16string answer;
};

void PrintTo(const Pair& p, std::ostream* os) {
    *os << testing::PrintToString(p.typed.substr(0, 40)) << " -> "
        << testing::PrintToString(p.answer.substr(0, 40));
}

// Badly typed sentences and their genuine corrections: each must pass.
class GenuineCorrection : public testing::TestWithParam<Pair> {};

TEST_P(GenuineCorrection, Passes) {
    EXPECT_EQ(notACorrection(GetParam().answer, GetParam().typed), std::nullopt);
    EXPECT_EQ(notACorrectionSoFar(GetParam().answer, GetParam().typed), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Typos, GenuineCorrection,
    testing::Values(
        Pair{u"we shoud bring teh report tomorow.", u"We should bring the report tomorrow."},
        Pair{u"i thnik wee shuold meat at thr cafe at 3pm",
             u"I think we should meet at the caf\u00e9 at 3pm"},
        Pair{u"i relly dnot knwo waht too doo", u"I really don't know what to do"},
        Pair{u"teh meeting was moved too thursday becuase of the holliday",
             u"The meeting was moved to Thursday because of the holiday"},
        Pair{u"cna you sned me teh fiel wehn you get a chacne",
             u"Can you send me the file when you get a chance?"},
        Pair{u"did you recieve my mesage abuot the new schedual",
             u"Did you receive my message about the new schedule?"},
        Pair{u"wat time dose the trian leave", u"What time does the train leave?"},
        Pair{u"alot of poeple dont no about this", u"A lot of people don't know about this."},
        Pair{u"its raining so were staying in tonite", u"It's raining, so we're staying in tonight."},
        Pair{u"mett jon at 5 on fryday", u"Meet Jon at 5 on Friday."},
        Pair{u"HELLO WROLD", u"Hello world"},
        Pair{u"i sent it. we meet at noon", u"I sent it. We meet at noon."},
        Pair{u"the weather is nice todya, lets go for a wlak in teh park",
             u"The weather is nice today, let\u2019s go for a walk in the park."}));

// Corrections that change the length or the words a lot, rightly.
INSTANTIATE_TEST_SUITE_P(
    Reshaped, GenuineCorrection,
    testing::Values(
        Pair{u"I I I think", u"I think"},
        Pair{u"the the the the cat sat on the mat", u"The cat sat on the mat."},
        Pair{u"iwill seeyou tomorrow", u"I will see you tomorrow."},
        Pair{u"going to store buy milk", u"I'm going to the store to buy milk."},
        Pair{u"see u tmrw", u"See you tomorrow."},
        Pair{u"u r late", u"You're late."},
        Pair{u"thx", u"Thanks."},
        Pair{u"k", u"OK."},
        Pair{u"plz call me bak asap", u"Please call me back ASAP."},
        Pair{u"We should go now. We shoud go now.", u"We should go now. We should go now."}));

// Short words run together into one, and a word typed twice: none of the person's words is lost.
INSTANTIATE_TEST_SUITE_P(
    Merges, GenuineCorrection,
    testing::Values(Pair{u"i will come in to the office.", u"I will come into the office."},
                    Pair{u"we are a head of schedule.", u"We are ahead of schedule."},
                    Pair{u"send me an e mail when ur done.", u"Send me an email when you're done."},
                    Pair{u"see you to morrow at the station.", u"See you tomorrow at the station."},
                    Pair{u"i saw the the movie.", u"I saw the movie."}));

// A piece of a sentence sent at a comma, semicolon or dash, corrected and not finished.
INSTANTIATE_TEST_SUITE_P(
    Pieces, GenuineCorrection,
    testing::Values(Pair{u"i wont be able to make it,", u"I won't be able to make it,"},
                    Pair{u"i wont be able to make it,", u"I won't be able to make it"},
                    Pair{u"see u at 5pm,", u"See you at 5 p.m.,"},
                    Pair{u"thx for teh help;", u"Thanks for the help;"},
                    Pair{u"well —", u"Well —"}));

// Typed in the person's own other language (or script), and corrected in it.
INSTANTIATE_TEST_SUITE_P(
    OtherLanguages, GenuineCorrection,
    testing::Values(
        Pair{u"ich habe das nciht gewusst", u"Ich habe das nicht gewusst."},
        Pair{u"je ne sais pas quoi fiare ce soir", u"Je ne sais pas quoi faire ce soir."},
        Pair{u"\u304d\u3087\u3046\u306f\u3042\u3081\u3067\u3059",
             u"\u4eca\u65e5\u306f\u96e8\u3067\u3059\u3002"},
        Pair{u"\u043f\u0440\u0438\u0432\u0435\u0442 \u043a\u0430\u043a \u0434\u0435\u043b\u0430",
             u"\u041f\u0440\u0438\u0432\u0435\u0442, \u043a\u0430\u043a \u0434\u0435\u043b\u0430?"}));

struct Refusal {
    std::u16string typed;
    std::u16string answer;
    std::string reason;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << testing::PrintToString(r.answer.substr(0, 40)) << " (" << r.reason << ")";
}

std::u16string repeated(std::u16string_view text, int count) {
    std::u16string out;
    for (int i = 0; i < count; ++i) {
        out += (i ? u" " : u"");
        out += text;
    }
    return out;
}

constexpr std::u16string_view kTyped = u"we shoud bring teh report tomorow.";
constexpr std::u16string_view kCorrected = u"We should bring the report tomorrow.";

// What models have answered in place of a correction: each is refused, saying why.
class NotACorrection : public testing::TestWithParam<Refusal> {};

TEST_P(NotACorrection, IsRefused) {
    EXPECT_EQ(notACorrection(GetParam().answer, GetParam().typed),
              "not a correction (" + GetParam().reason + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NotACorrection,
    testing::Values(
        Refusal{std::u16string(kTyped), u"We.", "far shorter"},
        Refusal{std::u16string(kTyped),
                u"The meeting has been cancelled and nobody needs to bring anything.",
                "most words replaced"},
        Refusal{std::u16string(kTyped), u"Wir sollten den Bericht morgen mitbringen.",
                "most words replaced"},
        Refusal{std::u16string(kTyped), u"Deber\u00edamos traer el informe ma\u00f1ana.",
                "most words replaced"},
        Refusal{std::u16string(kTyped),
                u"\u660e\u65e5\u30ec\u30dd\u30fc\u30c8\u3092\u6301\u3063\u3066\u304f\u308b"
                u"\u3079\u304d\u3067\u3059\u3002",
                "another script"},
        Refusal{std::u16string(kTyped),
                u"\u041c\u044b \u0434\u043e\u043b\u0436\u043d\u044b \u043f\u0440\u0438\u043d"
                u"\u0435\u0441\u0442\u0438 \u043e\u0442\u0447\u0451\u0442 \u0437\u0430\u0432"
                u"\u0442\u0440\u0430.",
                "another script"},
        Refusal{std::u16string(kTyped), repeated(kCorrected, 30), "far longer"},
        Refusal{std::u16string(kTyped), repeated(kCorrected, 2), "sentence repeated"},
        Refusal{std::u16string(kTyped), std::u16string(300'000, u'a'), "far longer"},
        Refusal{std::u16string(kTyped),
                std::u16string(kCorrected) +
                    u" Also remember the slides, the projector and coffee for everyone.",
                "far longer"},
        Refusal{u"cna you sned me teh fiel", u"I'll send you the file right away, no worries!",
                "words added"},
        Refusal{u"i wont be able to make it,", u"I won't be able to make it, I'm stuck at work",
                "words after the end"},
        Refusal{u"thx for the help,", u"Thanks for the help, you're the best",
                "words after the end"},
        Refusal{u"thx 4 the msg, ttyl.",
                u"Thanks for the message about the quarterly budget review.", "words added"},
        // The person's words left out with nothing in their place: the sentence's end, its last
        // piece, its middle.
        Refusal{u"we need two more chairs for the guests tonight.", u"We need two more chairs.",
                "word dropped"},
        Refusal{u"the museum opens at ten and closes at six on weekdays.",
                u"The museum opens at ten and closes at six.", "word dropped"},
        Refusal{u"as promised, here are the slides from the talk.",
                u"As promised, here are the slides.", "word dropped"},
        Refusal{u"on the other hand, the old laptop still works fine for email.",
                u"On the other hand, the old laptop still works.", "word dropped"},
        Refusal{u"we need the final numbers by friday.", u"We need the final numbers.",
                "word dropped"},
        Refusal{u"i checked the logs, nothing looks wrong today.",
                u"I checked the logs, nothing looks wrong.", "word dropped"},
        Refusal{u"i left my keys on the kitchen table.", u"I left my keys on the table.",
                "word dropped"},
        // Said twice, the sentence's chat forms corrected.
        Refusal{u"see u tmrw at the station.",
                u"See you tomorrow at the station. See you tomorrow at the station.",
                "sentence repeated"},
        Refusal{u"so basically what i wanted to say is that we shoud probably move the meeting "
                u"to next week becuase the team is busy",
                u"Move the meeting to next week.", "far shorter"}));

// A stream is refused as soon as more text cannot mend it, and not before.
TEST(NotACorrectionSoFar, RefusesOnlyWhatMoreTextCannotMend) {
    EXPECT_EQ(notACorrectionSoFar(u"We", kTyped), std::nullopt);
    EXPECT_EQ(notACorrectionSoFar(u"The meeting has been", kTyped), std::nullopt);
    EXPECT_EQ(notACorrectionSoFar(repeated(kCorrected, 2), kTyped),
              "not a correction (sentence repeated)");
    EXPECT_EQ(notACorrectionSoFar(u"\u660e\u65e5\u30ec\u30dd", kTyped),
              "not a correction (another script)");
    // A piece of a sentence: its last word may still come, a word after it may not.
    EXPECT_EQ(notACorrectionSoFar(u"I won't be able to make i", u"i wont be able to make it,"),
              std::nullopt);
    EXPECT_EQ(notACorrectionSoFar(u"I won't be able to make it, I'm",
                                  u"i wont be able to make it,"),
              "not a correction (words after the end)");
}

// A long text that stops at a comma is measured at its end, and costs its length.
TEST(NotACorrection, ALongPieceIsJudgedByItsEnd) {
    std::u16string typed;
    std::u16string answer;
    for (int i = 0; i < 2'000; ++i) {
        typed += u"pls msg me tmrw ";
        answer += u"please message me tomorrow ";
    }
    typed += u"thx,";
    EXPECT_EQ(notACorrection(answer + u"thanks,", typed), std::nullopt);
    EXPECT_EQ(notACorrection(answer + u"thanks, and goodbye", typed),
              "not a correction (words after the end)");
}

TEST(HoldsWordsOf, FindsTheWordsInARowAllowingTypos) {
    EXPECT_TRUE(holdsWordsOf(u" We shoud go now.", u"We should go now."));
    EXPECT_FALSE(holdsWordsOf(u" we shoud go", u"We met yesterday."));
    EXPECT_FALSE(holdsWordsOf(u"now go we should", u"We should go now."));
    EXPECT_FALSE(holdsWordsOf(u"anything", u"  "));
}

}  // namespace
}  // namespace ravlin
