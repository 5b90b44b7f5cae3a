#pragma once

// Spell checking with Hunspell and the en_US dictionary of the hunspell-en-us package. The
// dictionary loads on the first check, not at start-up. Words are composed (NFC) and handed to
// Hunspell in the dictionary's own encoding (UTF-8 in Debian's). Without a dictionary, or for a
// word the dictionary's encoding cannot hold, nothing is misspelled; a missing dictionary is
// said once in the system log. Hunspell is not thread-safe: main thread only.

#include <memory>
#include <string>
#include <string_view>

#include "platform/spell_checker.h"
#include "platform/system_log.h"

namespace ravlin::platform {

class HunspellSpellChecker final : public SpellChecker {
  public:
    struct Dictionary {
        std::string affixPath;
        std::string wordsPath;
    };

    // Words longer than this (UTF-16 code units) are not judged.
    static constexpr std::size_t kMaximumWordLength = 100;

    // /usr/share/hunspell/en_US.aff and .dic.
    [[nodiscard]] static Dictionary englishUS();

    HunspellSpellChecker(Dictionary dictionary, std::shared_ptr<SystemLog> log);
    ~HunspellSpellChecker() override;
    HunspellSpellChecker(const HunspellSpellChecker&) = delete;
    HunspellSpellChecker& operator=(const HunspellSpellChecker&) = delete;

    bool isMisspelled(std::u16string_view word) override;

  private:
    struct Loaded;

    // The loaded dictionary, loading it on first use; null when there is none.
    Loaded* loaded();

    Dictionary dictionary_;
    std::shared_ptr<SystemLog> log_;
    bool triedLoading_ = false;
    std::unique_ptr<Loaded> loaded_;
};

}  // namespace ravlin::platform
