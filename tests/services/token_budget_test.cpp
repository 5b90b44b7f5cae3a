#include "core/services/token_budget.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

std::u16string letters(std::size_t count) {
    return std::u16string(count, u'a');
}

TEST(TokenBudget, EstimatesOneTokenPerFourCharactersAtLeastOne) {
    const std::pair<std::size_t, std::int64_t> cases[] = {{0, 1}, {3, 1}, {4, 1}, {7, 1}, {8, 2}};
    for (const auto& [characters, tokens] : cases) {
        EXPECT_EQ(QNModelTokenBudget::approximateTokenCount(letters(characters)), tokens)
            << characters;
    }
}

TEST(TokenBudget, CountsCharactersNotCodeUnits) {
    // Eight family emoji: many UTF-16 units each, one character each.
    std::u16string families;
    for (int i = 0; i < 8; ++i) {
        families += u"\U0001F468\u200D\U0001F469\u200D\U0001F467";
    }
    EXPECT_EQ(QNModelTokenBudget::approximateTokenCount(families), 2);
}

TEST(TokenBudget, ResponseTokensFollowTheInputAndStopAtTheWindow) {
    struct Case {
        std::size_t characters;
        std::optional<QNModelGenerationBudget> budget;
    };
    const Case cases[] = {
        {767, QNModelGenerationBudget{191, 256, 4096}},
        {768, QNModelGenerationBudget{192, 256, 4096}},
        {772, QNModelGenerationBudget{193, 257, 4096}},
        {7811, QNModelGenerationBudget{1952, 2016, 4096}},
        {7812, std::nullopt},
        {20000, std::nullopt},
    };
    for (const auto& [characters, budget] : cases) {
        EXPECT_EQ(QNModelTokenBudget::budget(letters(characters)), budget) << characters;
    }
}

TEST(Fingerprint, IsTheUpperHalfOfTheFnvHashOfTheUtf8Bytes) {
    EXPECT_EQ(fingerprint(std::u16string_view(u"")), "cbf29ce4");
    EXPECT_EQ(fingerprint(std::u16string_view(u"abc")), "e71fa219");
    EXPECT_EQ(fingerprint(std::string_view("abc")), "e71fa219");
    // Bytes are hashed, not characters: the two spellings of é differ.
    EXPECT_NE(fingerprint(std::u16string_view(u"\u00E9")),
              fingerprint(std::u16string_view(u"e\u0301")));
}

}  // namespace
}  // namespace ravlin
