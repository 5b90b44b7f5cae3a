#include "core/services/misbehavior_context.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include <unicode/uchar.h>

#include "core/services/character_view.h"
#include "core/services/text_operations.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace misbehavior {
namespace {

using engine::detail::countCharacters;
using engine::detail::lower;

constexpr std::array<std::u16string_view, 42> kTwoLetterWords{
    u"am", u"an", u"as", u"at", u"ax", u"ay", u"be", u"by", u"do", u"go", u"ha",
    u"he", u"hi", u"if", u"in", u"is", u"it", u"lo", u"ma", u"me", u"mr", u"ms",
    u"my", u"no", u"of", u"oh", u"ok", u"on", u"or", u"ow", u"ox", u"pa", u"so",
    u"to", u"uh", u"um", u"up", u"us", u"we", u"ya", u"ye", u"yo",
};

constexpr std::array<std::u16string_view, 41> kCommonThreeLetterWords{
    u"all", u"and", u"any", u"are", u"but", u"can", u"did", u"few", u"for", u"get", u"had",
    u"has", u"her", u"him", u"his", u"how", u"its", u"let", u"may", u"new", u"not", u"now",
    u"off", u"old", u"one", u"our", u"out", u"own", u"see", u"she", u"the", u"too", u"two",
    u"use", u"was", u"way", u"who", u"why", u"yes", u"yet", u"you",
};

constexpr std::array<std::u16string_view, 33> kExcludedEnglishWords{
    u"a",  u"am", u"an",   u"and", u"as", u"at",  u"be", u"by", u"can", u"do",  u"go",
    u"he", u"hi", u"home", u"i",   u"if", u"in",  u"is", u"it", u"me",  u"men", u"my",
    u"no", u"of", u"on",   u"or",  u"so", u"the", u"to", u"up", u"us",  u"we",  u"you",
};

constexpr std::array<std::u16string_view, 24> kPinyinInitials{
    u"",  u"b", u"p", u"m",  u"f",  u"d",  u"t", u"n", u"l", u"g", u"k", u"h",
    u"j", u"q", u"x", u"zh", u"ch", u"sh", u"r", u"z", u"c", u"s", u"y", u"w",
};

constexpr std::array<std::u16string_view, 34> kPinyinFinals{
    u"a",   u"ai",   u"an",  u"ang",  u"ao", u"e",   u"ei",   u"en", u"eng", u"er",  u"i",  u"ia",
    u"ian", u"iang", u"iao", u"ie",   u"in", u"ing", u"iong", u"iu", u"o",   u"ong", u"ou", u"u",
    u"ua",  u"uai",  u"uan", u"uang", u"ue", u"ui",  u"un",   u"uo", u"v",   u"ve",
};

constexpr std::array<std::u16string_view, 6> kInitialsTakingO{u"", u"b", u"p", u"m", u"f", u"w"};

constexpr std::array<std::u16string_view, 102> kRomajiSyllables{
    u"a",   u"i",   u"u",   u"e",   u"o",   u"ka",  u"ki",  u"ku",  u"ke",  u"ko",  u"sa",  u"shi",
    u"su",  u"se",  u"so",  u"ta",  u"chi", u"tsu", u"te",  u"to",  u"na",  u"ni",  u"nu",  u"ne",
    u"no",  u"ha",  u"hi",  u"fu",  u"he",  u"ho",  u"ma",  u"mi",  u"mu",  u"me",  u"mo",  u"ya",
    u"yu",  u"yo",  u"ra",  u"ri",  u"ru",  u"re",  u"ro",  u"wa",  u"wo",  u"n",   u"ga",  u"gi",
    u"gu",  u"ge",  u"go",  u"za",  u"ji",  u"zu",  u"ze",  u"zo",  u"da",  u"de",  u"do",  u"ba",
    u"bi",  u"bu",  u"be",  u"bo",  u"pa",  u"pi",  u"pu",  u"pe",  u"po",  u"kya", u"kyu", u"kyo",
    u"sha", u"shu", u"sho", u"cha", u"chu", u"cho", u"nya", u"nyu", u"nyo", u"hya", u"hyu", u"hyo",
    u"mya", u"myu", u"myo", u"rya", u"ryu", u"ryo", u"gya", u"gyu", u"gyo", u"ja",  u"ju",  u"jo",
    u"bya", u"byu", u"byo", u"pya", u"pyu", u"pyo",
};

struct Misspelling {
    std::u16string_view typed;
    std::u16string_view correct;
};

constexpr std::array<Misspelling, 4> kMisspellings{{
    {u"miscsecond", u"milliseconds"},
    {u"oekr", u"work"},
    {u"sjjty", u"shitty"},
    {u"shity", u"shitty"},
}};

// Contractions with a straight apostrophe; what the second part stands for follows from the
// ending ("n't" -> not, "'ll" -> will/shall, ...), except "let's" -> us.
constexpr std::array<std::u16string_view, 72> kContractions{
    u"i'm",       u"i've",     u"i'd",    u"i'll",      u"you're",   u"you've",   u"you'd",
    u"you'll",    u"we're",    u"we've",  u"we'd",      u"we'll",    u"they're",  u"they've",
    u"they'd",    u"they'll",  u"he's",   u"he'd",      u"he'll",    u"she's",    u"she'd",
    u"she'll",    u"it's",     u"it'd",   u"it'll",     u"here's",   u"there's",  u"there'd",
    u"there'll",  u"that's",   u"that'd", u"that'll",   u"what's",   u"what're",  u"what'll",
    u"what'd",    u"where's",  u"when's", u"why's",     u"how's",    u"who's",    u"who'd",
    u"who'll",    u"who're",   u"who've", u"should've", u"would've", u"could've", u"might've",
    u"must've",   u"let's",    u"don't",  u"doesn't",   u"didn't",   u"won't",    u"wouldn't",
    u"shouldn't", u"couldn't", u"can't",  u"isn't",     u"aren't",   u"wasn't",   u"weren't",
    u"haven't",   u"hasn't",   u"hadn't", u"mustn't",   u"needn't",  u"mightn't", u"shan't",
    u"oughtn't",  u"ain't",
};

template <std::size_t N>
bool listContains(const std::array<std::u16string_view, N>& list, std::u16string_view word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

bool hasSuffix(std::u16string_view text, std::u16string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Syllables of at most 6 letters a-z, packed base 27 into one integer.
std::optional<std::uint32_t> syllableKey(std::u16string_view word) {
    if (word.empty() || word.size() > 6) {
        return std::nullopt;
    }
    std::uint32_t key = 0;
    for (char16_t unit : word) {
        if (unit < u'a' || unit > u'z') {
            return std::nullopt;
        }
        key = key * 27 + static_cast<std::uint32_t>(unit - u'a' + 1);
    }
    return key;
}

// Every text obtained by deleting up to `depth` letters of `word` (with repeats).
void addDeletions(const std::u16string& word, int depth, std::vector<std::u16string>& out) {
    out.push_back(word);
    if (depth == 0) {
        return;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        std::u16string shorter = word;
        shorter.erase(i, 1);
        addDeletions(shorter, depth - 1, out);
    }
}

struct SyllableSets {
    std::unordered_set<std::uint32_t> pinyin;
    std::unordered_set<std::uint32_t> romaji;
    std::vector<std::u16string> all;  // both sets, for the near-syllable test
    // Deletion index over `all`: two texts within edit distance k share a text reached by at
    // most k deletions from each, so the index yields every syllable that may lie within 2.
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> byDeletion;
};

const SyllableSets& syllableSets() {
    static const SyllableSets sets = [] {
        SyllableSets built;
        for (std::u16string_view initial : kPinyinInitials) {
            for (std::u16string_view final : kPinyinFinals) {
                if (final == u"o" && !listContains(kInitialsTakingO, initial)) {
                    continue;
                }
                std::u16string syllable(initial);
                syllable += final;
                if (built.pinyin.insert(*syllableKey(syllable)).second) {
                    built.all.push_back(std::move(syllable));
                }
            }
        }
        for (std::u16string_view syllable : kRomajiSyllables) {
            const auto key = *syllableKey(syllable);
            built.romaji.insert(key);
            if (!built.pinyin.contains(key)) {
                built.all.emplace_back(syllable);
            }
        }
        std::vector<std::u16string> deletions;
        for (std::size_t index = 0; index < built.all.size(); ++index) {
            deletions.clear();
            addDeletions(built.all[index], 2, deletions);
            for (const auto& deletion : deletions) {
                auto& entries = built.byDeletion[deletion.empty() ? 0 : *syllableKey(deletion)];
                if (entries.empty() || entries.back() != index) {
                    entries.push_back(index);
                }
            }
        }
        return built;
    }();
    return sets;
}

bool inSet(const std::unordered_set<std::uint32_t>& set, std::u16string_view word) {
    const auto key = syllableKey(word);
    return key && set.contains(*key);
}

bool segmentable(const std::unordered_set<std::uint32_t>& set, std::u16string_view word) {
    if (!word.empty() && !isAZWord(word)) {
        return false;
    }
    std::vector<bool> reachable(word.size() + 1, false);
    reachable[0] = true;
    for (std::size_t start = 0; start < word.size(); ++start) {
        if (!reachable[start]) {
            continue;
        }
        for (std::size_t length = 1; length <= 6 && start + length <= word.size(); ++length) {
            if (inSet(set, word.substr(start, length))) {
                reachable[start + length] = true;
            }
        }
    }
    return reachable[word.size()];
}

bool isPunctuation(char32_t codePoint) {
    return u_ispunct(static_cast<UChar32>(codePoint));
}

std::size_t unitsOf(char32_t codePoint) {
    return codePoint > 0xFFFF ? 2 : 1;
}

std::u16string_view trimmingPunctuation(std::u16string_view piece) {
    std::size_t start = 0;
    while (start < piece.size()) {
        const char32_t codePoint = text::codePointAt(piece, static_cast<std::int64_t>(start));
        if (!isPunctuation(codePoint)) {
            break;
        }
        start += unitsOf(codePoint);
    }
    std::size_t end = piece.size();
    while (end > start) {
        const char32_t codePoint = text::codePointBefore(piece, static_cast<std::int64_t>(end));
        if (!isPunctuation(codePoint)) {
            break;
        }
        end -= unitsOf(codePoint);
    }
    return piece.substr(start, end - start);
}

double ratio(std::int64_t part, std::int64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

bool withinEditDistance(std::u16string_view a, std::u16string_view b, std::int64_t tolerance) {
    return boundedEditDistance(a, b, tolerance) <= tolerance;
}

// Word-match step 10: the edit tolerance of a typed word.
bool withinTypingTolerance(std::u16string_view typed, std::u16string_view candidate) {
    const std::int64_t length = countCharacters(typed);
    const std::int64_t tolerance = length < 6 ? 2 : std::min<std::int64_t>(length / 3, 4);
    return withinEditDistance(typed, candidate, tolerance);
}

}  // namespace

std::vector<std::u16string> words(std::u16string_view text) {
    std::vector<std::u16string> result;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t start = position;
        while (start < text.size()) {
            const char32_t codePoint = text::codePointAt(text, static_cast<std::int64_t>(start));
            if (!text::isWhitespaceOrNewline(codePoint)) {
                break;
            }
            start += unitsOf(codePoint);
        }
        std::size_t end = start;
        while (end < text.size()) {
            const char32_t codePoint = text::codePointAt(text, static_cast<std::int64_t>(end));
            if (text::isWhitespaceOrNewline(codePoint)) {
                break;
            }
            end += unitsOf(codePoint);
        }
        if (end > start) {
            const auto word = trimmingPunctuation(text.substr(start, end - start));
            if (!word.empty()) {
                auto lowered = lower(word);
                if (!lowered.empty()) {
                    result.push_back(std::move(lowered));
                }
            }
        }
        position = end;
    }
    return result;
}

bool isAZWord(std::u16string_view word) {
    return !word.empty() && std::all_of(word.begin(), word.end(),
                                        [](char16_t unit) { return unit >= u'a' && unit <= u'z'; });
}

bool containsCJK(std::u16string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        const char32_t codePoint = text::codePointAt(text, static_cast<std::int64_t>(offset));
        if ((codePoint >= 0x3040 && codePoint <= 0x30FF) ||
            (codePoint >= 0x3400 && codePoint <= 0x9FFF) ||
            (codePoint >= 0xF900 && codePoint <= 0xFAFF)) {
            return true;
        }
        offset += unitsOf(codePoint);
    }
    return false;
}

std::int64_t sharedLetterCount(std::u16string_view a, std::u16string_view b) {
    std::u16string left(a);
    std::u16string right(b);
    std::sort(left.begin(), left.end());
    std::sort(right.begin(), right.end());
    std::int64_t shared = 0;
    auto l = left.begin();
    auto r = right.begin();
    while (l != left.end() && r != right.end()) {
        if (*l == *r) {
            ++shared;
            ++l;
            ++r;
        } else if (*l < *r) {
            ++l;
        } else {
            ++r;
        }
    }
    return shared;
}

bool isRomanizedPhoneticVariant(std::u16string_view a, std::u16string_view b) {
    const auto left = lower(a);
    const auto right = lower(b);
    if (!isAZWord(left) || !isAZWord(right)) {
        return false;
    }
    const auto leftLength = static_cast<std::int64_t>(left.size());
    const auto rightLength = static_cast<std::int64_t>(right.size());
    if (leftLength < 4 || leftLength > 10 || rightLength < 4 || rightLength > 10 ||
        std::abs(leftLength - rightLength) > 3) {
        return false;
    }
    const double shared = ratio(sharedLetterCount(left, right), std::max(leftLength, rightLength));
    if (left[0] == right[0]) {
        return shared >= 0.75;
    }
    return shared >= 0.95 && leftLength >= 5;
}

bool containsSimilarWord(const std::vector<std::u16string>& list, std::u16string_view target) {
    const auto wanted = lower(target);
    if (!isAZWord(wanted)) {
        return false;
    }
    const auto wantedLength = static_cast<std::int64_t>(wanted.size());
    const std::int64_t tolerance = wantedLength < 5 ? 1 : 2;
    for (const auto& word : list) {
        const auto entry = lower(word);
        if (!isAZWord(entry)) {
            continue;
        }
        if (entry == wanted || isRomanizedPhoneticVariant(entry, wanted)) {
            return true;
        }
        if (std::abs(static_cast<std::int64_t>(entry.size()) - wantedLength) <= tolerance &&
            withinEditDistance(entry, wanted, tolerance)) {
            return true;
        }
    }
    return false;
}

bool isNearSomeWord(std::u16string_view word, const std::vector<std::u16string>& answerWords) {
    const std::int64_t length = countCharacters(word);
    const std::int64_t tolerance = length < 4 ? 1 : std::min<std::int64_t>(length / 4, 2);
    for (const auto& candidate : answerWords) {
        if (!isAZWord(candidate)) {
            continue;
        }
        if (candidate == word || withinEditDistance(word, candidate, tolerance)) {
            return true;
        }
    }
    return false;
}

bool wordMatches(std::u16string_view typed, std::u16string_view candidate) {
    if (typed == u"i") {
        return candidate == u"i";
    }
    if (typed == candidate) {
        return true;
    }
    if (const auto correction = knownMisspellingCorrection(typed);
        correction && *correction == candidate) {
        return true;
    }
    for (std::u16string_view expansion : contractionExpansion(typed)) {
        if (expansion == candidate) {
            return true;
        }
    }
    const bool bothAZ = isAZWord(typed) && isAZWord(candidate);
    const std::int64_t typedLength = countCharacters(typed);
    const std::int64_t candidateLength = countCharacters(candidate);
    if (bothAZ && typedLength >= 3 && candidateLength - typedLength >= 1 &&
        candidateLength - typedLength <= 8 && candidate.substr(0, typed.size()) == typed) {
        return !(typedLength == 3 && listContains(kCommonThreeLetterWords, typed));
    }
    if (typedLength < 3) {
        return false;
    }
    if (isRomanizedPhoneticVariant(typed, candidate)) {
        return true;
    }
    if (bothAZ && typedLength >= 5 && candidateLength - typedLength >= 1 &&
        candidateLength - typedLength <= 2 && candidateLength <= 10 &&
        ratio(sharedLetterCount(typed, candidate), candidateLength) >= 0.75) {
        std::u16string swapped(typed);
        std::swap(swapped[0], swapped[1]);
        if (swapped[0] == candidate[0] && boundedEditDistance(swapped, candidate, 2) < 3) {
            return true;
        }
    }
    if (bothAZ && typedLength >= 5 && candidateLength >= 3 && typedLength - candidateLength >= 2 &&
        typed[0] == candidate[0] &&
        ratio(sharedLetterCount(typed, candidate), typedLength) >= 0.55) {
        return true;
    }
    if (withinTypingTolerance(typed, candidate)) {
        return true;
    }
    if (typed.find(u'\'') != std::u16string_view::npos) {
        std::u16string bare;
        for (char16_t unit : typed) {
            if (unit != u'\'') {
                bare += unit;
            }
        }
        if (countCharacters(bare) < 3) {
            return false;
        }
        return withinTypingTolerance(bare, candidate);
    }
    return false;
}

bool isWordPresent(std::u16string_view typed, std::u16string_view answer) {
    const auto answerWords = words(answer);
    if (answerWords.empty()) {
        return false;
    }
    const std::size_t count = answerWords.size();
    std::vector<std::u16string> candidates{answerWords[count - 1]};
    if (count >= 2) {
        candidates.push_back(answerWords[count - 2] + answerWords[count - 1]);
    }
    if (count >= 3) {
        candidates.push_back(answerWords[count - 3] + answerWords[count - 2] +
                             answerWords[count - 1]);
    }
    const std::size_t joined = candidates.size();
    for (std::size_t i = 0; i < joined; ++i) {
        const std::u16string candidate = candidates[i];
        if (candidate.find(u'-') == std::u16string::npos) {
            continue;
        }
        std::size_t start = 0;
        while (start <= candidate.size()) {
            std::size_t end = candidate.find(u'-', start);
            if (end == std::u16string::npos) {
                end = candidate.size();
            }
            if (end > start) {
                candidates.push_back(candidate.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    return std::any_of(candidates.begin(), candidates.end(), [&](const std::u16string& candidate) {
        return wordMatches(typed, candidate);
    });
}

bool isPinyinSyllable(std::u16string_view word) {
    return inSet(syllableSets().pinyin, word);
}
bool isRomajiSyllable(std::u16string_view word) {
    return inSet(syllableSets().romaji, word);
}
bool isSegmentableByPinyin(std::u16string_view word) {
    return segmentable(syllableSets().pinyin, word);
}
bool isSegmentableByRomaji(std::u16string_view word) {
    return segmentable(syllableSets().romaji, word);
}

bool isRomanizable(std::u16string_view word) {
    return isAZWord(word) && (isPinyinSyllable(word) || isRomajiSyllable(word) ||
                              isSegmentableByPinyin(word) || isSegmentableByRomaji(word));
}

bool isStrongSyllableSignal(std::u16string_view word) {
    if (!isAZWord(word) || isExcludedEnglishWord(word)) {
        return false;
    }
    if (isPinyinSyllable(word) || isRomajiSyllable(word)) {
        return true;
    }
    return word.size() >= 5 && (isSegmentableByPinyin(word) || isSegmentableByRomaji(word));
}

bool isNearSyllable(std::u16string_view word) {
    if (!isAZWord(word) || isExcludedEnglishWord(word) || word.size() < 2 || word.size() > 8) {
        return false;
    }
    const auto length = static_cast<std::int64_t>(word.size());
    const int tolerance = length < 5 ? 1 : 2;
    const auto& sets = syllableSets();
    std::vector<std::u16string> deletions;
    addDeletions(std::u16string(word), tolerance, deletions);
    for (const auto& deletion : deletions) {
        if (deletion.size() > 6) {
            continue;  // longer than any syllable, so not in the index
        }
        const auto found = sets.byDeletion.find(deletion.empty() ? 0 : *syllableKey(deletion));
        if (found == sets.byDeletion.end()) {
            continue;
        }
        for (std::size_t index : found->second) {
            const auto& syllable = sets.all[index];
            if (std::abs(static_cast<std::int64_t>(syllable.size()) - length) <= tolerance &&
                withinEditDistance(word, syllable, tolerance)) {
                return true;
            }
        }
    }
    return false;
}

bool isTwoLetterWord(std::u16string_view word) {
    return listContains(kTwoLetterWords, word);
}
bool isCommonThreeLetterWord(std::u16string_view word) {
    return listContains(kCommonThreeLetterWords, word);
}
bool isExcludedEnglishWord(std::u16string_view word) {
    return listContains(kExcludedEnglishWords, word);
}

std::optional<std::u16string_view> knownMisspellingCorrection(std::u16string_view word) {
    for (const auto& misspelling : kMisspellings) {
        if (misspelling.typed == word) {
            return misspelling.correct;
        }
    }
    return std::nullopt;
}

std::vector<std::u16string_view> contractionExpansion(std::u16string_view word) {
    if (!listContains(kContractions, word)) {
        return {};
    }
    if (word == u"let's") {
        return {u"us"};
    }
    if (hasSuffix(word, u"n't")) {
        return {u"not"};
    }
    if (hasSuffix(word, u"'m")) {
        return {u"am"};
    }
    if (hasSuffix(word, u"'ve")) {
        return {u"have"};
    }
    if (hasSuffix(word, u"'re")) {
        return {u"are"};
    }
    if (hasSuffix(word, u"'d")) {
        return {u"would", u"had"};
    }
    if (hasSuffix(word, u"'ll")) {
        return {u"will", u"shall"};
    }
    if (hasSuffix(word, u"'s")) {
        return {u"is", u"has"};
    }
    return {};
}

std::vector<QNModelRomanizedPhoneticSpan> romanizedSpans(const std::vector<std::u16string>& words) {
    // A run is a stretch of romanizable a-z words; a word that is only near a syllable (a typo)
    // may bridge two romanizable words of the same run. A run counts when it holds at least three
    // words, at least three strong signals and at least six letters, or when the whole input is
    // one romanizable word of at least five letters.
    std::vector<QNModelRomanizedPhoneticSpan> spans;
    const auto count = static_cast<std::int64_t>(words.size());
    std::int64_t index = 0;
    while (index < count) {
        if (!isRomanizable(words[static_cast<std::size_t>(index)])) {
            ++index;
            continue;
        }
        const std::int64_t start = index;
        std::int64_t signals = 0;
        std::int64_t letters = 0;
        while (index < count) {
            const auto& word = words[static_cast<std::size_t>(index)];
            const bool joins =
                isRomanizable(word) ||
                (index > start && index + 1 < count &&
                 isRomanizable(words[static_cast<std::size_t>(index + 1)]) && isNearSyllable(word));
            if (!joins) {
                break;
            }
            if (isStrongSyllableSignal(word)) {
                ++signals;
            }
            letters += static_cast<std::int64_t>(word.size());
            ++index;
        }
        const std::int64_t length = index - start;
        if ((length >= 3 && signals >= 3 && letters >= 6) ||
            (count == 1 && length == 1 && letters >= 5)) {
            spans.push_back({{start, index}, signals});
        }
    }
    return spans;
}

}  // namespace misbehavior

QNModelMisbehaviorContext QNModelMisbehaviorContext::make(std::u16string_view original,
                                                          std::u16string_view cleaned) {
    QNModelMisbehaviorContext context;
    context.original = std::u16string(original);
    context.cleaned = std::u16string(cleaned);
    context.originalLower = engine::detail::lower(original);
    context.cleanedLower = engine::detail::lower(cleaned);
    context.originalWords = misbehavior::words(original);
    context.romanizedSpans = misbehavior::romanizedSpans(context.originalWords);
    context.originalLength = engine::detail::countCharacters(engine::detail::trimmedView(original));
    context.cleanedLength = engine::detail::countCharacters(engine::detail::trimmedView(cleaned));
    context.cleanedHasCJK = misbehavior::containsCJK(cleaned);
    context.allowsRomanizedPhoneticConversion =
        context.cleanedHasCJK && !context.romanizedSpans.empty();
    return context;
}

}  // namespace ravlin
