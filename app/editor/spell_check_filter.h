#pragma once

// The spell-check filter: cuts text into words and marks those that begin a sentence, finds the
// one word in which two texts differ, tells which words the spell checker must not judge
// (product names, acronyms, camel case), and asks the desktop's spell checker about a word.
//
// Letters are Unicode scalars of the general categories L and M; uppercase letters Lu and Lt,
// lowercase letters Ll. Word lengths count characters (grapheme clusters). Sentence terminators
// are ".", "!", "?", line feed and carriage return.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spell_checker.h"

namespace ravlin {

// What the Composer service holds its spell checker through.
class QNServiceSpellCheckProviding {
  public:
    virtual ~QNServiceSpellCheckProviding() = default;

    [[nodiscard]] virtual bool isMisspelled(std::u16string_view word) = 0;
};

// A maximal run of letters, and whether it begins a sentence.
struct QNServiceWordToken {
    std::u16string word;
    bool isSentenceInitial = false;

    friend bool operator==(const QNServiceWordToken&, const QNServiceWordToken&) = default;
};

// The one word two texts differ in, with the sentence-initial flags; the original word is the
// first text's.
struct QNSingleWordChange {
    std::u16string original;
    std::u16string corrected;
    bool originalIsSentenceInitial = false;
    bool correctedIsSentenceInitial = false;

    friend bool operator==(const QNSingleWordChange&, const QNSingleWordChange&) = default;
};

class QNServiceNSSpellChecker final : public QNServiceSpellCheckProviding {
  public:
    // Asks `checker` (the desktop's); without one nothing is misspelled.
    explicit QNServiceNSSpellChecker(std::shared_ptr<platform::SpellChecker> checker);

    [[nodiscard]] static std::vector<QNServiceWordToken> wordTokens(std::u16string_view text);
    // Both texts have the same number of words and differ in exactly one position, where the
    // first text's word has at least 3 characters, the second's at least 2, and both are letters
    // only; otherwise none.
    [[nodiscard]] static std::optional<QNSingleWordChange> singleWordChange(
        std::u16string_view from, std::u16string_view to);
    // True for a word the spell checker must not judge: on the skip list (any case), an acronym
    // ("API", "NASA") or camel case ("iPhone", "GitHub"). False for the empty word and for any
    // word holding a non-letter.
    [[nodiscard]] static bool skipKey(std::u16string_view word);

    bool isMisspelled(std::u16string_view word) override;

  private:
    std::shared_ptr<platform::SpellChecker> checker_;
};

}  // namespace ravlin
