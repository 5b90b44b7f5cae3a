#include "core/text/unicode.h"

#include <gtest/gtest.h>

#include "core/text/fingerprint.h"

namespace ravlin::text {
namespace {

const std::u16string kComposed = u"\u00e9";     // é as one code point
const std::u16string kDecomposed = u"e\u0301";  // e + combining acute

TEST(Utf, RoundTripsEveryPlane) {
    const std::string utf8 = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";  // a é € 😀 z
    const std::u16string utf16 = toUtf16(utf8);
    EXPECT_EQ(utf16, u"a\u00e9\u20ac\U0001F600z");
    EXPECT_EQ(toUtf8(utf16), utf8);
}

TEST(Utf, IllFormedInputBecomesReplacementCharacter) {
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xd800))), "\xef\xbf\xbd");  // lone lead
    EXPECT_EQ(toUtf8(std::u16string{u'a', char16_t(0xdc00), u'b'}),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(toUtf8(std::u16string{char16_t(0xdc00), char16_t(0xd800)}),
              "\xef\xbf\xbd\xef\xbf\xbd");  // swapped pair is two lone surrogates
    EXPECT_EQ(toUtf16("a\xff"
                      "b"),
              u"a\ufffdb");
    EXPECT_EQ(toUtf16("\xe2\x82"), u"\ufffd");                  // truncated sequence
    EXPECT_EQ(toUtf16("\xed\xa0\x80"), u"\ufffd\ufffd\ufffd");  // encoded surrogate is not UTF-8
}

// Past 2 GiB the bytes are decoded in pieces; any piece size must give the whole decoding,
// sequences and ill-formed runs cut at a piece's end included.
TEST(Utf, DecodingInPiecesMatchesDecodingWhole) {
    const std::string samples[] = {
        "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z\xf0\x9f\x98\x80\xf0\x9f\x98\x80",
        "\x80\x80\x80\x80\x80\x80\x80\xc3\xa9\x80",      // stray continuation bytes
        "ab\xe2\x82\xf0\x9f\x98\xe2\x82\xacx\xf0\x9f",   // truncated sequences
        "\xed\xa0\x80\xc0\xaf\xf4\x90\x80\x80\xff\xfe",  // never-valid forms
    };
    for (const auto& utf8 : samples) {
        const std::u16string whole = toUtf16(utf8);
        for (std::size_t piece = 4; piece <= 9; ++piece) {
            EXPECT_EQ(detail::toUtf16(utf8, piece), whole) << "piece " << piece;
        }
    }
}

// Normalization and case mapping of texts past ICU's 32-bit lengths go in pieces; pieces longer
// than any word and any run of combining marks give the whole conversion.
TEST(Utf, ConvertingInPiecesMatchesConvertingWhole) {
    const std::u16string greek =
        u"\u039F\u0394\u039F\u03A3 \u03A3\u0391\u03A3 \u0391\u03A3\n\u039F\u03A3";
    const std::u16string marks = u"e\u0301\u0323a\u00e9\U0001D15E\u1E0Bx\u0323\u0307\u00c5\u212B";
    for (std::size_t piece = 6; piece <= 12; ++piece) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(detail::lowercased(greek, piece), lowercased(greek));
        EXPECT_EQ(detail::uppercased(lowercased(greek), piece), uppercased(lowercased(greek)));
        EXPECT_EQ(detail::nfd(marks, piece), nfd(marks));
        EXPECT_EQ(detail::nfc(marks, piece), nfc(marks));
    }
    EXPECT_EQ(lowercased(greek).substr(0, 4), u"\u03BF\u03B4\u03BF\u03C2");  // final sigma
}

TEST(Characters, LeadingBoundariesAndTheBoundaryBeforeLookLocally) {
    const std::u16string text = u"e\u0301\U0001F600\r\nab";  // é, 😀, CR LF, a, b
    EXPECT_EQ(leadingCharacterBoundaries(text, 2), (std::vector<std::int64_t>{0, 2, 4}));
    EXPECT_EQ(leadingCharacterBoundaries(text, 9), characterBoundaries(text));
    EXPECT_EQ(leadingCharacterBoundaries(text, 0), (std::vector<std::int64_t>{0}));
    EXPECT_EQ(leadingCharacterBoundaries(u"", 3), (std::vector<std::int64_t>{0}));
    const std::pair<std::int64_t, std::int64_t> before[] = {{8, 7}, {6, 4}, {5, 4}, {4, 2},
                                                            {1, 0}, {0, 0}, {99, 7}};
    for (const auto& [offset, expected] : before) {
        EXPECT_EQ(characterBoundaryBefore(text, offset), expected) << offset;
    }
}

TEST(Characters, CountsGraphemeClustersNotUnits) {
    EXPECT_EQ(characterCount(u""), 0);
    EXPECT_EQ(characterCount(u"abc"), 3);
    EXPECT_EQ(characterCount(kComposed), 1);
    EXPECT_EQ(characterCount(kDecomposed), 1);
    EXPECT_EQ(characterCount(u"\r\n"), 1);
    EXPECT_EQ(characterCount(u"a\r\nb"), 3);
    EXPECT_EQ(characterCount(u"\U0001F44D\U0001F3FD"), 1);  // thumbs up + skin tone
    EXPECT_EQ(characterCount(u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"), 2);  // two flags
    EXPECT_EQ(characterCount(std::string_view("e\xcc\x81t\xc3\xa9")), 3);
}

TEST(Characters, BoundariesAndSubstrings) {
    const std::u16string text = u"a\U0001F600e\u0301b";  // a, 😀 (2 units), é (2 units), b
    EXPECT_EQ(characterBoundaries(text), (std::vector<std::int64_t>{0, 1, 3, 5, 6}));
    EXPECT_EQ(characterBoundaries(u""), (std::vector<std::int64_t>{0}));
    EXPECT_TRUE(isCharacterBoundary(text, 3));
    EXPECT_FALSE(isCharacterBoundary(text, 2));  // inside the surrogate pair
    EXPECT_FALSE(isCharacterBoundary(text, 4));  // between e and its accent
    EXPECT_FALSE(isCharacterBoundary(text, 7));
    EXPECT_EQ(substring(text, {1, 2}), std::u16string(u"\U0001F600"));
    EXPECT_EQ(substring(text, {6, 0}), std::u16string());
    EXPECT_EQ(substring(text, {2, 2}), std::nullopt);
    EXPECT_EQ(substring(text, {5, 2}), std::nullopt);
    EXPECT_EQ(substring(text, {-1, 1}), std::nullopt);
    EXPECT_EQ(prefixCharacters(text, 2), u"a\U0001F600");
    EXPECT_EQ(suffixCharacters(text, 2), u"e\u0301b");
    EXPECT_EQ(suffixCharacters(text, 99), text);
    EXPECT_EQ(prefixCharacters(text, 0), u"");
}

TEST(Whitespace, TrimsUnicodeWhiteSpaceAndLineBreaks) {
    EXPECT_EQ(trimmed(u" \t\n\r\v\f\u0085\u00a0\u2028\u2029\u3000x y\u2003 "), u"x y");
    EXPECT_EQ(trimmed(u"\u200bx"), u"\u200bx");  // zero-width space is not White_Space
    EXPECT_EQ(trimmed(std::string_view("  hi\n")), "hi");
    EXPECT_TRUE(isBlank(u""));
    EXPECT_TRUE(isBlank(u" \n\t\u2029"));
    EXPECT_FALSE(isBlank(u" . "));
    EXPECT_TRUE(isHorizontalWhitespace(U'\t'));
    EXPECT_FALSE(isHorizontalWhitespace(U'\n'));
}

TEST(Whitespace, TrimmedNonEmptyIsAbsentForBlankText) {
    EXPECT_EQ(trimmedNonEmpty(u" \u2029 x\n"), std::optional<std::u16string>(u"x"));
    EXPECT_EQ(trimmedNonEmpty(u" \t\u3000"), std::nullopt);
    EXPECT_EQ(trimmedNonEmpty(std::string_view(" k ")), std::optional<std::string>("k"));
    EXPECT_EQ(trimmedNonEmpty(std::string_view("")), std::nullopt);
}

TEST(Equality, IsCanonicalEquivalence) {
    EXPECT_TRUE(canonicallyEqual(kComposed, kDecomposed));
    EXPECT_TRUE(canonicallyEqual(u"\u1e69", u"s\u0323\u0307"));  // reordered combining marks
    EXPECT_TRUE(canonicallyEqual(u"s\u0307\u0323", u"s\u0323\u0307"));
    EXPECT_FALSE(canonicallyEqual(u"\ufb01", u"fi"));  // compatibility only
    EXPECT_FALSE(canonicallyEqual(u"a", u"A"));
    EXPECT_TRUE(
        canonicallyEqualOptional(std::optional<std::string>(), std::optional<std::string>()));
    EXPECT_FALSE(
        canonicallyEqualOptional(std::optional<std::string>(""), std::optional<std::string>()));
    EXPECT_EQ(nfc(kDecomposed), kComposed);
    EXPECT_EQ(nfd(kComposed), kDecomposed);
}

TEST(CaseMapping, UsesTheRootLocale) {
    EXPECT_EQ(lowercased(u"I\u0130"), u"ii\u0307");  // not the Turkish dotless mapping
    EXPECT_EQ(uppercased(u"stra\u00dfe"), u"STRASSE");
    EXPECT_EQ(lowercased(std::string_view("\xc3\x89T\xc3\x89")), "\xc3\xa9t\xc3\xa9");
}

TEST(Fingerprint, IsFnv1aOverUtf8Bytes) {
    EXPECT_EQ(stableHash(std::string_view("")), "cbf29ce484222325");
    EXPECT_EQ(stableHash(std::string_view("abc")), "e71fa2190541574b");
    EXPECT_EQ(stableHash(u"abc"), "e71fa2190541574b");
    // One character either way, but different bytes and so different fingerprints.
    EXPECT_NE(stableHash(kComposed), stableHash(kDecomposed));
    EXPECT_EQ(stableHash(kComposed), stableHash(std::string_view("\xc3\xa9")));
    EXPECT_EQ(hex16(0x1), "0000000000000001");
}

TEST(CodePoints, ReadsSurrogatePairsWhole) {
    const std::u16string text = u"a\U0001F600";
    EXPECT_EQ(codePointAt(text, 1), U'\U0001F600');
    EXPECT_EQ(codePointAt(text, 2), char32_t(0xde00));  // trail half alone
    EXPECT_EQ(codePointBefore(text, 3), U'\U0001F600');
    EXPECT_EQ(codePointBefore(text, 1), U'a');
    EXPECT_EQ(codePointAt(text, 3), char32_t(0));
}

}  // namespace
}  // namespace ravlin::text

namespace ravlin::text {
namespace {

// The piecewise count must agree with walking the whole text with the break iterator.
TEST(Characters, CountAgreesWithBoundariesOnMixedText) {
    const std::u16string samples[] = {
        u"plain ascii text",
        u"a\r\nb\r\r\n\n",
        u"caf\u00e9 au lait, cr\u00e8me br\u00fbl\u00e9e",
        u"e\u0301e\u0301 x\u0308y",
        u"\U0001F1E9\U0001F1EA\U0001F1EB a \U0001F1F7\U0001F1FA",
        u"\U0001F468\u200D\U0001F469\u200D\U0001F467 family",
        u"1\uFE0F\u20E3 keycap #\uFE0F\u20E3",
        u"\u0600a prepend then ascii",
        u"\u1100\u1161\u11A8 hangul \uAC00\u11A8",
        u"\r\u0301\n\u0301",
    };
    for (const auto& sample : samples) {
        EXPECT_EQ(characterCount(sample),
                  static_cast<std::int64_t>(characterBoundaries(sample).size()) - 1)
            << toUtf8(sample);
    }
}

}  // namespace
}  // namespace ravlin::text

namespace ravlin::text {
namespace {

TEST(Fingerprint, HashesUtf16AsItsUtf8Bytes) {
    const std::u16string samples[] = {u"", u"abc", u"\u00e9t\u00e9", u"\U0001F600!",
                                      std::u16string{u'a', char16_t(0xd800), u'b'}};
    for (const auto& sample : samples) {
        EXPECT_EQ(fnv1a64(sample), fnv1a64(std::string_view(toUtf8(sample))));
    }
}

}  // namespace
}  // namespace ravlin::text
