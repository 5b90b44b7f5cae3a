// The rules run as single-pass scanners; these tests hold them to the regular-expression form
// written straight from the patterns, on hand-picked texts, on random texts built from
// troublesome pieces, and, for the character classes the scanners rely on, on every code point.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "core/rules/dictionary_rules.h"
#include "core/rules/local_fixes.h"
#include "core/rules/pattern_form.h"
#include "core/rules/text_scan.h"
#include "core/rules/word_rules.h"
#include "core/text/unicode.h"
#include "tests/rules/rules_test_support.h"

namespace ravlin {
namespace {

using rules_test::u16;
using rules_test::u8;

struct Transform {
    const char* name;
    std::u16string (*fast)(std::u16string_view);
    std::u16string (*pattern)(std::u16string_view);
};

const std::vector<Transform>& transforms() {
    static const std::vector<Transform> list{
        {"collapseWhitespace", &collapseWhitespace, &pattern_form::collapseWhitespace},
        {"collapseRepeatedWords", &collapseRepeatedWords, &pattern_form::collapseRepeatedWords},
        {"capitalizeLoneI", &capitalizeLoneI, &pattern_form::capitalizeLoneI},
        {"collapseSpacedInitialisms", &collapseSpacedInitialisms,
         &pattern_form::collapseSpacedInitialisms},
        {"applyPhrasePatterns", &applyPhrasePatterns, &pattern_form::applyPhrasePatterns},
        {"initialismMap", [](std::u16string_view t) { return replaceWords(t, initialismMap()); },
         [](std::u16string_view t) { return pattern_form::replaceWords(t, initialismMap()); }},
        {"contractionMapLong",
         [](std::u16string_view t) { return replaceWords(t, contractionMapLong()); },
         [](std::u16string_view t) { return pattern_form::replaceWords(t, contractionMapLong()); }},
        {"contractionMapShort",
         [](std::u16string_view t) { return replaceWords(t, contractionMapShort()); },
         [](std::u16string_view t) {
             return pattern_form::replaceWords(t, contractionMapShort());
         }},
        {"typoMapLong", [](std::u16string_view t) { return replaceWords(t, typoMapLong()); },
         [](std::u16string_view t) { return pattern_form::replaceWords(t, typoMapLong()); }},
        {"typoMapShort", [](std::u16string_view t) { return replaceWords(t, typoMapShort()); },
         [](std::u16string_view t) { return pattern_form::replaceWords(t, typoMapShort()); }},
    };
    return list;
}

// Returns, per transform, whether the text changed, so callers can see that a corpus
// exercises every transform.
std::vector<bool> expectSameAsPatternForm(const std::u16string& input) {
    std::vector<bool> changed;
    for (const auto& transform : transforms()) {
        std::u16string fast = transform.fast(input);
        std::u16string pattern = transform.pattern(input);
        EXPECT_EQ(fast, pattern) << transform.name << " on \"" << u8(input) << "\"";
        changed.push_back(pattern != input);
    }
    return changed;
}

// Pieces that stress word boundaries, case folding, grapheme clusters and line ends.
const std::vector<std::u16string>& pieces() {
    static const std::vector<std::u16string> list = [] {
        std::vector<std::string> utf8{"the",         "The",
                                      "THE",         "a",
                                      "A",           "an",
                                      "is",          "it",
                                      "this",        "with",
                                      "thi\u017F",   "i",
                                      "I",           "i'm",
                                      "I'M",         "i've",
                                      "i'll",        "i'd",
                                      "i\u2019m",    "'",
                                      "m",           "ve",
                                      "ll",          "d",
                                      "dont",        "DONT",
                                      "Dont",        "dOnt",
                                      "im",          "Im",
                                      "IM",          "ive",
                                      "ill",         "id",
                                      "te",          "teh",
                                      "tehs",        "alot",
                                      "Helowoeld",   "helowoeld",
                                      "heklowowkrd", "he\u212Alowowkrd",
                                      "fstjllcfeel", "f\uFB06jllcfeel",
                                      "corect",      "corected",
                                      "realy",       "shity",
                                      "\u017Fhity",  "snd",
                                      "not",         "really",
                                      "work",        "oekr",
                                      "sjjty",       "ans",
                                      "nit",         "working",
                                      "ai",          "AI",
                                      "Ai",          "ui",
                                      "ux",          "api",
                                      "llm",         "json",
                                      "JSON",        "Json",
                                      "url",         "U",
                                      "R",           "L",
                                      "M",           "J",
                                      "S",           "\u017F",
                                      "O",           "N",
                                      "P",           "X",
                                      " ",           " ",
                                      " ",           "  ",
                                      "\t",          " \t ",
                                      "\n",          "\r\n",
                                      "\r",          ".",
                                      ",",           "!",
                                      "?",           ";",
                                      ":",           ")",
                                      "]",           "-",
                                      "_",           "5",
                                      "\u00E9",      "e\u0301",
                                      "\u0301",      "\u200D",
                                      "\u200C",      "\u00AD",
                                      "\u00A0",      "\u2028",
                                      "\u0085",      "\v",
                                      "\f",          "\u212A",
                                      "\u0130",      "\u0131",
                                      "\u00DF",      "\u1E9E",
                                      "\uFB05",      "\uFB00",
                                      "\u0600",      "\u0903",
                                      "\U0001F600",  "\U0001D400",
                                      "`",           "://",
                                      "e.g.",        "hello",
                                      "\u3000",      "\u2029",
                                      "\u180E",      "\u2060"};
        std::vector<std::u16string> converted;
        for (const auto& piece : utf8) {
            converted.push_back(u16(piece));
        }
        converted.push_back(std::u16string(1, u'\xD800'));  // lone surrogates
        converted.push_back(std::u16string(1, u'\xDC00'));
        return converted;
    }();
    return list;
}

TEST(PatternFormAgreement, HandPickedTexts) {
    const std::vector<std::string> cases{
        "",
        "dont ",
        "dont",
        "dont.",
        "dont-",
        "dont's ",
        "DONT Im IM Json AI ",
        "a i ",
        "a i",
        "A\tP  I.",
        "j s o n\n",
        "U R L L M ",
        "u r l\r\n",
        "ai-based ",
        "HELOWOELD HEKLOWOWKRD ",
        "nit  working!",
        "shity snd not really work ",
        "the the the ",
        "The the is is. ",
        "i i'm I'M i've i'll i'd i.e. i",
        "i\u2019m i' m",
        "the \u0301the ",
        "\u0301dont ",
        "don\u0301t ",
        "thi\u017F this ",
        "\u017Fhity \u017Fnd not realy oekr ",
        "he\u212Alowowkrd ",
        "  a  b\t c \n    d  \r\n  e ",
        " \u0301 a",
        "\u0600  x",
        "a \u0903 b",
        "a  \u200D b",
        "\u0130 i ",
        "a\u00A0 i\u00A0",
        "i\u0085dont\u2028",
        "teh\u3000",
        "alot\u180E",
        "alot\u2060 ",
    };
    for (const auto& text : cases) {
        expectSameAsPatternForm(u16(text));
    }
}

// Words and phrases the rules look for, in several cases and spellings, and the gaps between
// them.
const std::vector<std::u16string>& phrasePieces() {
    static const std::vector<std::u16string> list = [] {
        std::vector<std::string> utf8{
            "the the",
            "The THE",
            "is	is",
            "a a",
            "an  an",
            "thiſ this",
            "it it it",
            "a i",
            "A	I",
            "u i",
            "U x",
            "a p i",
            "A P	 I",
            "l l m",
            "j s o n",
            "J ſ O N",
            "u r l",
            "u r l l m",
            "a i a i",
            "helowoeld heklowowkrd",
            "HELOWOELD  HEKLOWOWKRD",
            "nit working",
            "Nit	Working",
            "sjjty ans not realy oekr",
            "shity snd not really work",
            "shity snd not realy oekr",
            "ſhity snd not really work",
            "i'm",
            "i've",
            "i'll",
            "i'd",
            "I'M",
            "i",
        };
        std::vector<std::u16string> converted;
        for (const auto& piece : utf8) {
            converted.push_back(u16(piece));
        }
        return converted;
    }();
    return list;
}

TEST(PatternFormAgreement, RandomTextsFromTroublesomePieces) {
    std::mt19937 random(20240611);
    const auto& parts = pieces();
    const auto& phrases = phrasePieces();
    const std::vector<std::u16string> gaps{
        u" ",  u" ", u"  ", u"\t", u"\n", u"\r\n", u". ", u", ",     u"!",      u")",
        u"] ", u":", u";",  u"?",  u"-",  u"'",    u"",   u"\u00A0", u"\u2028", u"\u0301 "};
    std::uniform_int_distribution<std::size_t> pickPart(0, parts.size() - 1);
    std::uniform_int_distribution<std::size_t> pickPhrase(0, phrases.size() - 1);
    std::uniform_int_distribution<std::size_t> pickGap(0, gaps.size() - 1);
    std::uniform_int_distribution<int> count(1, 10);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<int> changes(transforms().size(), 0);
    for (int round = 0; round < 6000 && !HasFailure(); ++round) {
        std::u16string text;
        for (int k = count(random); k > 0; --k) {
            int roll = percent(random);
            text += roll < 35 ? phrases[pickPhrase(random)] : parts[pickPart(random)];
            // Mostly separated like words, sometimes run together.
            if (percent(random) < 80) {
                text += gaps[pickGap(random)];
            }
        }
        auto changed = expectSameAsPatternForm(text);
        for (std::size_t k = 0; k < changed.size(); ++k) {
            changes[k] += changed[k] ? 1 : 0;
        }
    }
    for (std::size_t k = 0; k < changes.size(); ++k) {
        EXPECT_GT(changes[k], 20) << transforms()[k].name
                                  << " changed too few random texts to compare";
    }
}

TEST(PatternFormAgreement, WordStartsMatchTheBoundaryDefinition) {
    std::mt19937 random(99);
    const auto& parts = pieces();
    const auto& phrases = phrasePieces();
    std::uniform_int_distribution<std::size_t> pickPart(0, parts.size() - 1);
    std::uniform_int_distribution<std::size_t> pickPhrase(0, phrases.size() - 1);
    std::uniform_int_distribution<int> count(1, 24);
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
        std::u16string text;
        for (int k = count(random); k > 0; --k) {
            text += (k % 3 == 0) ? phrases[pickPhrase(random)] : parts[pickPart(random)];
        }
        std::vector<std::pair<std::size_t, std::size_t>> expected;
        for (std::size_t at = 0; at < text.size();) {
            auto cp = rules::codePointAt(text, at);
            char letters[8];
            if (!rules::isBoundaryTransparent(cp.value) &&
                rules::asciiFullFold(cp.value, letters, 8) > 0 && rules::isWordBoundary(text, at)) {
                expected.emplace_back(at, text[at] < 0x80 ? rules::skipAsciiLetters(text, at) : at);
            }
            at += cp.length;
        }
        std::vector<std::pair<std::size_t, std::size_t>> actual;
        for (const auto& word : rules::wordStartsOf(text)->starts) {
            actual.emplace_back(word.start, word.asciiEnd);
        }
        EXPECT_EQ(actual, expected) << u8(text);
    }
}

// ---- character classes, checked against the engine on every code point ----

std::u16string allCodePointsJoined(std::u16string_view before, std::u16string_view after,
                                   std::vector<std::int32_t>* starts) {
    std::u16string text;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        text += before;
        starts->push_back(static_cast<std::int32_t>(text.size()));
        if (c <= 0xFFFF) {
            text += static_cast<char16_t>(c);
        } else {
            text += static_cast<char16_t>(U16_LEAD(c));
            text += static_cast<char16_t>(U16_TRAIL(c));
        }
        text += after;
    }
    return text;
}

std::vector<bool> enginePositions(const char16_t* pattern, const std::u16string& text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString subject(false, text.data(), static_cast<int32_t>(text.size()));
    icu::RegexMatcher matcher(icu::UnicodeString(pattern), subject, 0, status);
    EXPECT_TRUE(U_SUCCESS(status));
    std::vector<bool> at(text.size() + 1, false);
    while (matcher.find(status) && U_SUCCESS(status)) {
        at[static_cast<std::size_t>(matcher.start(status))] = true;
    }
    return at;
}

TEST(ScannerCharacterClasses, WordBoundaryAgreesWithTheEngineForEveryCodePoint) {
    // Two probes tell word characters, characters the boundary looks through, and the rest
    // apart: " c a" and "a c ".
    for (auto [before, after] :
         {std::pair<std::u16string_view, std::u16string_view>{u" ", u"a"}, {u"a", u" "}}) {
        std::vector<std::int32_t> starts;
        std::u16string text = allCodePointsJoined(before, after, &starts);
        std::vector<bool> engine = enginePositions(u"\\b", text);
        int mismatches = 0;
        for (std::int32_t start : starts) {
            for (std::size_t offset :
                 {static_cast<std::size_t>(start), static_cast<std::size_t>(start) + 1}) {
                // The position just after a surrogate pair's lead is not one the engine visits.
                if (offset > 0 && U16_IS_LEAD(text[offset - 1]) && offset < text.size() &&
                    U16_IS_TRAIL(text[offset])) {
                    continue;
                }
                if (rules::isWordBoundary(text, offset) != engine[offset] && ++mismatches < 10) {
                    ADD_FAILURE()
                        << "boundary differs at code point U+" << std::hex
                        << static_cast<std::uint32_t>(
                               rules::codePointAt(text, static_cast<std::size_t>(start)).value);
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(ScannerCharacterClasses, CompletionLookaheadAgreesWithTheEngineForEveryCodePoint) {
    std::vector<std::int32_t> starts;
    std::u16string text = allCodePointsJoined(u"x", u"", &starts);
    std::vector<bool> engine = enginePositions(u"(?=[\\s.,!?;:)\\]])", text);
    int mismatches = 0;
    for (std::int32_t start : starts) {
        auto cp = rules::codePointAt(text, static_cast<std::size_t>(start));
        if (rules::isCompletionCharacter(cp.value) != engine[static_cast<std::size_t>(start)] &&
            ++mismatches < 10) {
            ADD_FAILURE() << "completion class differs at U+" << std::hex
                          << static_cast<std::uint32_t>(cp.value);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ScannerCharacterClasses, FoldAssumptionsHoldForEveryCodePoint) {
    // The scanners compare words by their full case folds; a one-letter literal compares by
    // simple folding. They agree when the fold is one ASCII letter, and every code point that
    // folds to ASCII letters is a word character the boundary does not look through, while the
    // completion characters are neither.
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        char letters[8];
        std::size_t count = rules::asciiFullFold(static_cast<char32_t>(c), letters, sizeof letters);
        char32_t simple = rules::simpleCaseFold(static_cast<char32_t>(c));
        bool simpleIsLetter = simple >= U'a' && simple <= U'z';
        if (simpleIsLetter || count == 1) {
            ASSERT_TRUE(count == 1 && simpleIsLetter && static_cast<char32_t>(letters[0]) == simple)
                << "U+" << std::hex << c;
        }
        if (count > 0) {
            ASSERT_TRUE(rules::isRegexWordCharacter(static_cast<char32_t>(c)))
                << "U+" << std::hex << c;
            ASSERT_FALSE(rules::isBoundaryTransparent(static_cast<char32_t>(c)))
                << "U+" << std::hex << c;
        }
        if (rules::isCompletionCharacter(static_cast<char32_t>(c))) {
            ASSERT_FALSE(rules::isRegexWordCharacter(static_cast<char32_t>(c)))
                << "U+" << std::hex << c;
            ASSERT_FALSE(rules::isBoundaryTransparent(static_cast<char32_t>(c)))
                << "U+" << std::hex << c;
        }
        // Every line terminator of "$" is also a completion character.
        if (rules::isRegexLineTerminator(static_cast<char32_t>(c))) {
            ASSERT_TRUE(rules::isCompletionCharacter(static_cast<char32_t>(c)))
                << "U+" << std::hex << c;
        }
    }
}

TEST(ScannerCharacterClasses, StablePrefixAgreesWithCharacterBreaking) {
    std::mt19937 random(7);
    const auto& parts = pieces();
    std::uniform_int_distribution<std::size_t> pick(0, parts.size() - 1);
    std::uniform_int_distribution<int> count(0, 8);
    for (int round = 0; round < 3000; ++round) {
        std::u16string input;
        for (int k = count(random); k > 0; --k) {
            input += parts[pick(random)];
        }
        // The direct form: characters from the platform's breaking, whitespace by first scalar.
        std::vector<std::int64_t> bounds = text::characterBoundaries(input);
        std::u16string expected;
        for (std::size_t k = bounds.size() - 1; k > 0; --k) {
            auto first = rules::codePointAt(input, static_cast<std::size_t>(bounds[k - 1])).value;
            if (text::isWhitespaceOrNewline(first)) {
                expected = input.substr(0, static_cast<std::size_t>(bounds[k]));
                break;
            }
        }
        ASSERT_EQ(stablePrefixBoundary(input), expected) << u8(input);
    }
}

}  // namespace
}  // namespace ravlin
