#include "core/services/correction_bounds.h"

#include <algorithm>
#include <map>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include "core/services/character_view.h"
#include "core/services/edit_distance.h"
#include "core/services/misbehavior_context.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Bounds = QNCorrectionBounds;

std::string because(std::string_view why) {
    return "not a correction (" + std::string(why) + ")";
}

// ---- Scripts

// The script a letter belongs to, Chinese, Japanese and Korean as one; none for a character
// that is no letter or is shared by every script.
std::optional<int> scriptOf(char32_t c) {
    if (!u_isalpha(static_cast<UChar32>(c))) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(static_cast<UChar32>(c), &status);
    if (U_FAILURE(status) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED ||
        script == USCRIPT_UNKNOWN) {
        return std::nullopt;
    }
    switch (script) {
        case USCRIPT_HIRAGANA:
        case USCRIPT_KATAKANA:
        case USCRIPT_HANGUL:
        case USCRIPT_BOPOMOFO:
            return USCRIPT_HAN;
        default:
            return script;
    }
}

// Letters by script. ASCII letters, most of any text here, are Latin without asking ICU.
std::map<int, std::int64_t> lettersByScript(std::u16string_view text) {
    std::map<int, std::int64_t> letters;
    std::int64_t latin = 0;
    for (std::size_t at = 0; at < text.size();) {
        const char16_t unit = text[at];
        if (unit < 0x80) {
            latin += (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ? 1 : 0;
            ++at;
            continue;
        }
        const char32_t c = text::codePointAt(text, static_cast<std::int64_t>(at));
        at += c > 0xFFFF ? 2 : 1;
        if (const auto script = scriptOf(c)) {
            ++letters[*script];
        }
    }
    if (latin > 0) {
        letters[USCRIPT_LATIN] += latin;
    }
    return letters;
}

bool inAnotherScript(std::u16string_view answer, std::u16string_view input) {
    const auto typed = lettersByScript(input);
    if (typed.empty()) {
        return false;  // nothing to compare with: digits, symbols, emoji
    }
    std::int64_t letters = 0;
    std::int64_t foreign = 0;
    for (const auto& [script, count] : lettersByScript(answer)) {
        letters += count;
        if (!typed.contains(script)) {
            foreign += count;
        }
    }
    return foreign >= 2 && static_cast<double>(foreign) >
                               Bounds::kForeignLettersShare * static_cast<double>(letters);
}

bool isMostlyHan(std::u16string_view text) {
    const auto letters = lettersByScript(text);
    std::int64_t all = 0;
    for (const auto& [script, count] : letters) {
        all += count;
    }
    const auto han = letters.find(USCRIPT_HAN);
    return han != letters.end() && han->second * 2 > all;
}

// ---- Words

// A word as it stands for the comparison: typographic apostrophes read as the straight one.
std::vector<std::u16string> wordsOf(std::u16string_view text) {
    std::vector<std::u16string> words = misbehavior::words(text);
    for (auto& word : words) {
        std::ranges::replace_if(
            word, [](char16_t u) { return u == 0x2019 || u == 0x2018 || u == 0x02BC; }, u'\'');
    }
    return words;
}

bool hasLetter(std::u16string_view word) {
    for (std::size_t at = 0; at < word.size();) {
        const char16_t unit = word[at];
        if (unit < 0x80) {
            if ((unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z')) {
                return true;
            }
            ++at;
            continue;
        }
        const char32_t c = text::codePointAt(word, static_cast<std::int64_t>(at));
        at += c > 0xFFFF ? 2 : 1;
        if (u_isalpha(static_cast<UChar32>(c))) {
            return true;
        }
    }
    return false;
}

// Whether two words are one word as a hurried typist and its correction write it.
bool near(std::u16string_view a, std::u16string_view b) {
    if (a == b) {
        return true;
    }
    const auto length = static_cast<std::int64_t>(std::max(a.size(), b.size()));
    const std::int64_t allowed = length <= 3 ? 1 : length <= 7 ? 2 : 3;
    return engine::detail::transposingEditDistance(a, b, allowed) <= allowed;
}

// Whether the typed word is a short form of `word` as people type them in chat ("thx", "pls",
// "tmrw", "msg"): the same first letter, and two thirds of its letters in `word` in order.
bool abbreviates(std::u16string_view typed, std::u16string_view word) {
    if (typed.size() < 2 || typed.size() > 5 || word.size() <= typed.size() ||
        typed[0] != word[0]) {
        return false;
    }
    std::size_t found = 0;
    std::size_t at = 0;
    for (const char16_t unit : typed) {
        const auto next = word.find(unit, at);
        if (next != std::u16string_view::npos) {
            ++found;
            at = next + 1;
        }
    }
    return found * 3 >= typed.size() * 2;
}

// Distinct words, sorted (views into `words`).
std::vector<std::u16string_view> distinct(const std::vector<std::u16string>& words) {
    std::vector<std::u16string_view> out(words.begin(), words.end());
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// Whether a word stands among `words`: as it is, within a slip of one of them, as two of them
// run together ("alot" for "a lot"), or as a chat short form of one. Holds views into `words`.
class WordIndex {
  public:
    // `unique` is `distinct(words)`.
    WordIndex(const std::vector<std::u16string>& words,
              const std::vector<std::u16string_view>& unique)
        : words_(words), distinct_(unique) {}

    [[nodiscard]] bool holds(std::u16string_view word) {
        if (std::binary_search(distinct_.begin(), distinct_.end(), word)) {
            return true;
        }
        if (!joined_) {
            joined_.emplace();
            for (std::size_t i = 0; i + 1 < words_.size(); ++i) {
                joined_->push_back(words_[i] + words_[i + 1]);
            }
            std::sort(joined_->begin(), joined_->end());
        }
        if (std::binary_search(joined_->begin(), joined_->end(), word)) {
            return true;
        }
        return std::ranges::any_of(distinct_, [&](std::u16string_view w) {
            return near(word, w) || abbreviates(word, w);
        });
    }

  private:
    const std::vector<std::u16string>& words_;
    const std::vector<std::u16string_view>& distinct_;
    std::optional<std::vector<std::u16string>> joined_;  // made at the first word not found
};

// The text's length in characters with each word typed again right after itself counted once
// ("I I I think" is as long as "I think").
std::int64_t lengthWithoutRepeats(std::u16string_view text) {
    const auto words = misbehavior::words(text);
    std::int64_t repeated = 0;
    // Each repeat takes its word's characters and one space off.
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == words[i - 1]) {
            repeated += engine::detail::countCharacters(words[i]) + 1;
        }
    }
    return std::max<std::int64_t>(0, engine::detail::countCharacters(text) - repeated);
}

// How often the first words of `head` stand in a row in `words`.
std::int64_t occurrences(const std::vector<std::u16string>& words,
                         const std::vector<std::u16string>& head) {
    std::int64_t count = 0;
    for (std::size_t at = 0; at + head.size() <= words.size(); ++at) {
        bool all = true;
        for (std::size_t i = 0; i < head.size() && all; ++i) {
            all = near(words[at + i], head[i]);
        }
        if (all) {
            ++count;
            at += head.size() - 1;
        }
    }
    return count;
}

// The sentence said again: the text's first words stand in the answer more often than in the
// text (a text that repeats itself may be answered so).
bool repeatsTheText(const std::vector<std::u16string>& answerWords,
                    const std::vector<std::u16string>& typedWords) {
    if (typedWords.size() < 3 || answerWords.size() < typedWords.size() + 2) {
        return false;
    }
    const std::vector<std::u16string> head(
        typedWords.begin(), typedWords.begin() + std::min<std::ptrdiff_t>(5, typedWords.size()));
    const auto inAnswer = occurrences(answerWords, head);
    return inAnswer >= 2 && inAnswer > occurrences(typedWords, head);
}

// The answer and the typed text, trimmed, with their lengths and words.
struct Texts {
    Texts(std::u16string_view answerText, std::u16string_view typedText)
        : answer(text::trimmed(answerText)),
          typed(text::trimmed(typedText)),
          answerLength(engine::detail::countCharacters(answer)),
          typedLength(engine::detail::countCharacters(typed)),
          answerWords(wordsOf(answer)),
          typedWords(wordsOf(typed)) {}

    std::u16string answer;
    std::u16string typed;
    std::int64_t answerLength;
    std::int64_t typedLength;
    std::vector<std::u16string> answerWords;
    std::vector<std::u16string> typedWords;
};

// What more text cannot mend: another script, far longer already, the sentence said again.
std::optional<std::string> beyondMending(const Texts& t) {
    if (inAnotherScript(t.answer, t.typed)) {
        return because("another script");
    }
    if (t.answerLength > Bounds::kLongerFactor * t.typedLength + Bounds::kLongerSlack) {
        return because("far longer");
    }
    if (repeatsTheText(t.answerWords, t.typedWords)) {
        return because("sentence repeated");
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> notACorrection(std::u16string_view answer, std::u16string_view input) {
    const Texts t(answer, input);
    if (t.typed.empty()) {
        return std::nullopt;
    }
    if (auto reason = beyondMending(t)) {
        return reason;
    }
    const std::u16string& i = t.typed;
    const std::int64_t answerLength = t.answerLength;
    const auto& answerWords = t.answerWords;
    const auto& typedWords = t.typedWords;
    // Chinese and Japanese are written without spaces and shrink when kana become kanji: their
    // length and words say little.
    if (isMostlyHan(i)) {
        return std::nullopt;
    }
    const std::int64_t typedCore = lengthWithoutRepeats(i);
    if (typedCore >= Bounds::kShorterMinimum && answerLength * 2 < typedCore) {
        return because("far shorter");
    }

    const auto typedUnique = distinct(typedWords);
    const auto answerUnique = distinct(answerWords);
    // Words of one character ("u", "r", "i") say too little to count either way.
    std::vector<std::u16string_view> typedDistinct;
    for (const auto word : typedUnique) {
        if (hasLetter(word) && engine::detail::countCharacters(word) > 1) {
            typedDistinct.push_back(word);
        }
    }
    WordIndex answerIndex(answerWords, answerUnique);
    const auto kept = std::ranges::count_if(
        typedDistinct, [&](std::u16string_view word) { return answerIndex.holds(word); });
    if (!typedDistinct.empty() && static_cast<double>(kept) < Bounds::kKeptWordsMinimum *
                                                                  static_cast<double>(
                                                                      typedDistinct.size())) {
        return because("most words replaced");
    }

    WordIndex typedIndex(typedWords, typedUnique);
    std::int64_t content = 0;
    std::int64_t added = 0;
    for (const auto word : answerUnique) {
        if (engine::detail::countCharacters(word) < 4 || !hasLetter(word)) {
            continue;
        }
        ++content;
        added += typedIndex.holds(word) ? 0 : 1;
    }
    if (added >= Bounds::kAddedWordsMinimum &&
        static_cast<double>(added) > Bounds::kAddedWordsShare * static_cast<double>(content)) {
        return because("words added");
    }
    return std::nullopt;
}

bool holdsWordsOf(std::u16string_view text, std::u16string_view part) {
    const auto words = wordsOf(part);
    return !words.empty() && occurrences(wordsOf(text), words) > 0;
}

std::optional<std::string> notACorrectionSoFar(std::u16string_view partial,
                                               std::u16string_view input) {
    const Texts t(partial, input);
    return t.typed.empty() ? std::nullopt : beyondMending(t);
}

}  // namespace ravlin
