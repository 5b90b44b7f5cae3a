#include "core/services/correction_bounds.h"

#include <algorithm>
#include <map>
#include <span>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include "core/services/character_view.h"
#include "core/services/edit_distance.h"
#include "core/services/misbehavior_context.h"
#include "core/services/typed_words.h"
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
    if (std::max(a.size(), b.size()) > typed_words::kLongestSlipWord) {
        return false;
    }
    const auto length = static_cast<std::int64_t>(std::max(a.size(), b.size()));
    const std::int64_t allowed = length <= 3 ? 1 : length <= 7 ? 2 : 3;
    return engine::detail::transposingEditDistance(a, b, allowed) <= allowed;
}

// Distinct words, sorted (views into `words`).
std::vector<std::u16string_view> distinct(const std::vector<std::u16string>& words) {
    std::vector<std::u16string_view> out(words.begin(), words.end());
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// The typed text's words, to look the answer's words up in, and the other way round: as they
// are, within a slip, run together ("alot" for "a lot"), or as a chat short form and its
// expansion ("lmk" for "let me know"). Holds views into `words`.
class WordIndex {
  public:
    // `unique` is `distinct(words)`.
    WordIndex(const std::vector<std::u16string>& words,
              const std::vector<std::u16string_view>& unique)
        : words_(words), distinct_(unique) {}

    // Whether the typed word `word` stands in these (the answer's) words.
    [[nodiscard]] bool holds(std::u16string_view word) {
        if (has(word) || joined(word)) {
            return true;
        }
        for (const auto& reading : typed_words::expansionsOf(word)) {
            if (std::ranges::all_of(reading, [&](const std::u16string& w) { return has(w); })) {
                return true;
            }
        }
        return std::ranges::any_of(distinct_, [&](std::u16string_view w) {
            return near(word, w) || typed_words::abbreviates(word, w);
        });
    }

    // Whether the answer's word `word` stands for one of these (the typed) words: one of them,
    // two of them run together, a word of a short form's expansion, or shortened to one.
    [[nodiscard]] bool standsFor(std::u16string_view word) {
        if (has(word) || joined(word)) {
            return true;
        }
        if (!expanded_) {
            expanded_.emplace();
            for (const auto typed : distinct_) {
                for (const auto& reading : typed_words::expansionsOf(typed)) {
                    expanded_->insert(expanded_->end(), reading.begin(), reading.end());
                }
            }
            std::sort(expanded_->begin(), expanded_->end());
        }
        if (std::binary_search(expanded_->begin(), expanded_->end(), word)) {
            return true;
        }
        return std::ranges::any_of(distinct_, [&](std::u16string_view w) {
            return near(word, w) || typed_words::abbreviates(w, word);
        });
    }

  private:
    [[nodiscard]] bool has(std::u16string_view word) const {
        return std::binary_search(distinct_.begin(), distinct_.end(), word);
    }

    [[nodiscard]] bool joined(std::u16string_view word) {
        if (!joined_) {
            joined_.emplace();
            for (std::size_t i = 0; i + 1 < words_.size(); ++i) {
                joined_->push_back(words_[i] + words_[i + 1]);
            }
            std::sort(joined_->begin(), joined_->end());
        }
        return std::binary_search(joined_->begin(), joined_->end(), word);
    }

    const std::vector<std::u16string>& words_;
    const std::vector<std::u16string_view>& distinct_;
    std::optional<std::vector<std::u16string>> joined_;    // made at the first word not found
    std::optional<std::vector<std::u16string>> expanded_;  // the short forms' expansions
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

// How often the typed words `head` stand in a row in `words`, each as it was typed or as the
// answer corrects it ("see u tmrw" for "see you tomorrow").
std::int64_t readingsOf(const std::vector<std::u16string>& words,
                        std::span<const std::u16string_view> head) {
    // A typed word stands for at most this many words ("asap": "as soon as possible").
    constexpr std::size_t kWordsPerTypedWord = 4;
    const std::vector<std::u16string_view> views(words.begin(), words.end());
    // Only a word the first typed word may begin with starts a reading: as it, one of its short
    // form's readings, a word it runs together, or the first two typed words made one.
    const auto readings = typed_words::expansionsOf(head.front());
    const std::u16string firstTwo =
        head.size() > 1 ? std::u16string(head[0]) + std::u16string(head[1]) : std::u16string();
    const auto mayBegin = [&](std::u16string_view word) {
        return typed_words::standsFor(head.front(), word) ||
               (!word.empty() && head.front().starts_with(word)) ||
               std::ranges::any_of(readings, [&](const auto& r) { return r.front() == word; }) ||
               (!firstTwo.empty() && typed_words::standsFor(firstTwo, word));
    };
    std::int64_t count = 0;
    for (std::size_t at = 0; at < views.size();) {
        std::size_t taken = 0;
        if (views.size() - at >= head.size() &&
            std::ranges::equal(head, std::span(views).subspan(at, head.size()))) {
            taken = head.size();  // as typed
        } else if (mayBegin(views[at])) {
            taken = typed_words::longestReading(
                head, std::span(views).subspan(
                          at, std::min(views.size() - at, head.size() * kWordsPerTypedWord)));
        }
        count += taken > 0 ? 1 : 0;
        at += std::max<std::size_t>(taken, 1);
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
    const std::vector<std::u16string_view> head(
        typedWords.begin(), typedWords.begin() + std::min<std::ptrdiff_t>(5, typedWords.size()));
    const auto inAnswer = readingsOf(answerWords, head);
    return inAnswer >= 2 && inAnswer > readingsOf(typedWords, head);
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

// Whether the typed text stops at a comma, a semicolon, a colon or a dash: a piece of a sentence.
bool endsMidSentence(std::u16string_view typed) {
    return !typed.empty() && engine::detail::isPieceMark(typed.back());
}

// A piece of a sentence is corrected, never finished: the answer goes on past the word that
// stands for the person's last one (by more than the person's unmatched last words could have
// become).
bool goesPastThePiece(const Texts& t) {
    if (!endsMidSentence(t.typed)) {
        return false;
    }
    // The ends are enough: the person's last words and three times as many of the answer's.
    constexpr std::size_t kTypedWords = 40;
    const auto tail = [](const std::vector<std::u16string>& words, std::size_t count) {
        const auto from = words.size() > count ? words.size() - count : 0;
        return std::vector<std::u16string_view>(words.begin() + static_cast<std::ptrdiff_t>(from),
                                                words.end());
    };
    const auto typed = tail(t.typedWords, kTypedWords);
    const auto answer = tail(t.answerWords, 3 * kTypedWords);
    const auto alignment = typed_words::align(typed, answer);
    for (std::size_t j = answer.size(); j-- > 0;) {
        if (alignment.isMatched(j)) {
            const auto after = answer.size() - 1 - j;
            const auto typedAfter = typed.size() - 1 - static_cast<std::size_t>(alignment.typedOf[j]);
            return after > 3 * typedAfter;
        }
    }
    return false;  // nothing lines up: the other bounds judge it
}

// The words of a text, each with the number of its sentence: a sentence ends at a piece that
// ends in ".", "!" or "?" (closing quotes and brackets aside) and at a line break.
struct SentenceWords {
    std::vector<std::u16string> words;
    std::vector<std::size_t> sentenceOf;
    std::size_t sentences = 0;
};

bool endsSentence(std::u16string_view piece) {
    while (!piece.empty() && std::u16string_view(u"\"')]}\u201D\u2019").find(piece.back()) !=
                                 std::u16string_view::npos) {
        piece.remove_suffix(1);
    }
    return !piece.empty() && (piece.back() == u'.' || piece.back() == u'!' || piece.back() == u'?');
}

SentenceWords sentenceWords(std::u16string_view text) {
    SentenceWords out;
    bool open = false;  // words stand in the sentence being read
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t start = at;
        while (start < text.size() && text::isWhitespaceOrNewline(text[start])) {
            if (text[start] == u'\n' && open) {
                ++out.sentences;
                open = false;
            }
            ++start;
        }
        std::size_t end = start;
        while (end < text.size() && !text::isWhitespaceOrNewline(text[end])) {
            ++end;
        }
        if (end == start) {
            break;
        }
        const std::u16string_view piece = text.substr(start, end - start);
        for (auto& word : wordsOf(piece)) {
            out.words.push_back(std::move(word));
            out.sentenceOf.push_back(out.sentences);
            open = true;
        }
        if (open && endsSentence(piece)) {
            ++out.sentences;
            open = false;
        }
        at = end;
    }
    out.sentences += open ? 1 : 0;
    return out;
}

// A sentence of the answer's own among the person's: the answer has more sentences than the
// text, and one of them has fewer than half of its words lined up with the person's, in the
// answer or alone. Texts longer than the line-up takes are not judged so.
bool addsASentence(const Texts& t) {
    const SentenceWords answer = sentenceWords(t.answer);
    const SentenceWords typed = sentenceWords(t.typed);
    if (answer.sentences <= typed.sentences ||
        answer.words.size() > typed_words::kMaximumAlignedWords ||
        typed.words.size() > typed_words::kMaximumAlignedWords) {
        return false;
    }
    const std::vector<std::u16string_view> typedWords(typed.words.begin(), typed.words.end());
    const std::vector<std::u16string_view> answerWords(answer.words.begin(), answer.words.end());
    const auto alignment = typed_words::align(typedWords, answerWords);
    std::size_t from = 0;
    for (std::size_t sentence = 0; sentence < answer.sentences; ++sentence) {
        std::size_t to = from;
        std::size_t matched = 0;
        while (to < answerWords.size() && answer.sentenceOf[to] == sentence) {
            matched += alignment.isMatched(to) ? 1 : 0;
            ++to;
        }
        const auto words = std::span(answerWords).subspan(from, to - from);
        if (!words.empty() && matched * 2 < words.size() &&
            typed_words::align(typedWords, words).matched * 2 < words.size()) {
            return true;
        }
        from = to;
    }
    return false;
}

// A text is corrected, never cut, wherever the cut would stand (its end included): each word the
// person typed stands in the answer, or an answer word stands in its place (a word corrected into
// another, two made one). A word typed twice in a row may lose its repeat. Texts longer than the
// line-up takes are not judged so.
bool cutsAWordOut(const Texts& t) {
    if (t.typedWords.size() > typed_words::kMaximumAlignedWords ||
        t.answerWords.size() > typed_words::kMaximumAlignedWords) {
        return false;
    }
    const std::vector<std::u16string_view> typed(t.typedWords.begin(), t.typedWords.end());
    const std::vector<std::u16string_view> answer(t.answerWords.begin(), t.answerWords.end());
    // Most corrections keep each typed word, in order, as an answer word or a short form's words:
    // then nothing is cut, and the line-up below is not needed.
    std::size_t kept = 0;
    for (std::size_t next = 0; kept < typed.size() && next < answer.size();) {
        if (typed_words::standsFor(typed[kept], answer[next])) {
            ++kept;
            ++next;
            continue;
        }
        std::size_t taken = 1;
        for (const auto& reading : typed_words::expansionsOf(typed[kept])) {
            if (reading.size() > 1 && next + reading.size() <= answer.size() &&
                std::ranges::equal(reading, std::span(answer).subspan(next, reading.size()))) {
                taken = reading.size();
                ++kept;
                break;
            }
        }
        next += taken;
    }
    if (kept == typed.size()) {
        return false;
    }
    const auto alignment = typed_words::align(typed, answer);
    if (alignment.matched == 0) {
        return false;  // nothing lines up: the other bounds judge it
    }
    std::vector<bool> lined(typed.size(), false);  // typed words an answer word stands for
    for (const auto i : alignment.typedOf) {
        if (i >= 0) {
            lined[static_cast<std::size_t>(i)] = true;
        }
    }
    // The typed words from `from` to `to` with no answer word lined up with them.
    std::size_t from = 0;
    bool replaced = false;  // an answer word of its own stands among them
    const auto cut = [&](std::size_t to) {
        for (std::size_t i = from; i < to && !replaced; ++i) {
            const bool repeated = (i > 0 && typed[i] == typed[i - 1]) ||
                                  (i + 1 < typed.size() && typed[i] == typed[i + 1]);
            if (!repeated) {
                return true;
            }
        }
        return false;
    };
    for (std::size_t j = 0; j < answer.size(); ++j) {
        if (!alignment.isMatched(j)) {
            replaced = true;
            continue;
        }
        const auto i = static_cast<std::size_t>(alignment.typedOf[j]);
        if (i < from) {
            continue;  // a typed word standing for several of the answer's
        }
        // The typed word before run together into this one ("to morrow" for "tomorrow", lined up
        // with "morrow" alone).
        const bool joinedBefore =
            i > from && typed_words::standsFor(
                            std::u16string(typed[i - 1]) + std::u16string(typed[i]), answer[j]);
        if (cut(joinedBefore ? i - 1 : i)) {
            return true;
        }
        from = i + 1;
        // Two typed words run together into this one ("i am" for "i'm"), unless the next stands
        // for an answer word of its own ("come in to" for "come into" is no "comein").
        if (from < typed.size() && !lined[from] &&
            typed_words::standsFor(std::u16string(typed[i]) + std::u16string(typed[from]),
                                   answer[j])) {
            ++from;
        }
        replaced = false;
    }
    return cut(typed.size());
}

// What more text cannot mend: another script, far longer already, the sentence said again, a
// piece of a sentence finished.
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
    if (goesPastThePiece(t)) {
        return because("words after the end");
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
        added += typedIndex.standsFor(word) ? 0 : 1;
    }
    if (added >= Bounds::kAddedWordsMinimum &&
        static_cast<double>(added) > Bounds::kAddedWordsShare * static_cast<double>(content)) {
        return because("words added");
    }
    if (addsASentence(t)) {
        return because("sentence added");
    }
    if (cutsAWordOut(t)) {
        return because("word dropped");
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
