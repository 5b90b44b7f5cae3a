// The Hunspell backend against the en_US dictionary of hunspell-en-us.

#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/hunspell_spell_checker.h"

namespace ravlin::platform {
namespace {

class RecordingLog final : public SystemLog {
  public:
    std::vector<LogRecord> records;
    void write(const LogRecord& record) override { records.push_back(record); }
};

TEST(Hunspell, TheRealDictionaryAcceptsAndRejectsWords) {
    auto log = std::make_shared<RecordingLog>();
    HunspellSpellChecker checker(HunspellSpellChecker::englishUS(), log);
    EXPECT_FALSE(checker.isMisspelled(u"receive"));
    EXPECT_TRUE(checker.isMisspelled(u"recieve"));
    EXPECT_FALSE(checker.isMisspelled(std::u16string(500, u'q'))) << "too long to judge";
    EXPECT_TRUE(log->records.empty());
}

TEST(Hunspell, WithoutADictionaryNothingIsMisspelledAndTheLogSaysSoOnce) {
    auto log = std::make_shared<RecordingLog>();
    HunspellSpellChecker checker({"/nonexistent/en_US.aff", "/nonexistent/en_US.dic"}, log);
    EXPECT_FALSE(checker.isMisspelled(u"recieve"));
    EXPECT_FALSE(checker.isMisspelled(u"qqqq"));
    ASSERT_EQ(log->records.size(), 1u);
    EXPECT_EQ(log->records[0].level, LogLevel::error);
}

}  // namespace
}  // namespace ravlin::platform
