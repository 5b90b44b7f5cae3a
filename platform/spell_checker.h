#pragma once

// The desktop's spell checker: whether one word is misspelled. Words are UTF-16; a checker that
// cannot judge a word (no dictionary, a word it cannot represent) calls it correctly spelled,
// so nothing is ever refused for want of a dictionary. Call from the main thread only.

#include <string_view>

namespace ravlin::platform {

class SpellChecker {
  public:
    virtual ~SpellChecker() = default;

    // True when the checker knows the word and finds it misspelled.
    [[nodiscard]] virtual bool isMisspelled(std::u16string_view word) = 0;
};

}  // namespace ravlin::platform
