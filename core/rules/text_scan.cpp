#include "core/rules/text_scan.h"

#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>

#include <cstring>

#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include "core/text/unicode.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ravlin::rules {
namespace {

constexpr const std::array<std::uint8_t, 128>& kAsciiClasses = ascii::kClasses;

// The engine's word set, built once.
const icu::UnicodeSet& wordSet() {
    static const icu::UnicodeSet* set = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto* built = new icu::UnicodeSet(
            icu::UnicodeString(u"[\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\u200c\\u200d]"), status);
        built->freeze();
        return built;
    }();
    return *set;
}

// Non-ASCII code points whose full case fold is made of ASCII letters only (the Kelvin sign,
// the long s, the sharp s, Latin ligatures, ...), with that fold. Built once from the code
// points that change under case folding; every other non-ASCII code point folds to itself.
const std::unordered_map<char32_t, std::string>& nonAsciiLetterFolds() {
    static const auto* folds = [] {
        auto* built = new std::unordered_map<char32_t, std::string>();
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeSet changing(icu::UnicodeString(u"[:Changes_When_Casefolded:]"), status);
        for (int32_t r = 0; U_SUCCESS(status) && r < changing.getRangeCount(); ++r) {
            for (UChar32 c = changing.getRangeStart(r); c <= changing.getRangeEnd(r); ++c) {
                if (c < 0x80) {
                    continue;
                }
                UChar source[2];
                int32_t sourceLength = 0;
                U16_APPEND_UNSAFE(source, sourceLength, c);
                UChar folded[8];
                UErrorCode foldStatus = U_ZERO_ERROR;
                int32_t length = u_strFoldCase(folded, 8, source, sourceLength, U_FOLD_CASE_DEFAULT,
                                               &foldStatus);
                if (U_FAILURE(foldStatus) || length <= 0 || length > 8) {
                    continue;
                }
                std::string letters;
                bool allLetters = true;
                for (int32_t i = 0; i < length; ++i) {
                    if (folded[i] >= 0x80 || !(kAsciiClasses[folded[i]] & ascii::kLetter)) {
                        allLetters = false;
                        break;
                    }
                    letters.push_back(static_cast<char>(folded[i] | 0x20));
                }
                if (allLetters) {
                    built->emplace(static_cast<char32_t>(c), std::move(letters));
                }
            }
        }
        return built;
    }();
    return *folds;
}

inline char asciiLower(char16_t unit) {
    return static_cast<char>(unit | 0x20);
}

}  // namespace

std::size_t commonRun(const char16_t* a, const char16_t* b, std::size_t limit) {
    std::size_t k = 0;
#if defined(__SSE2__)
    while (k + 8 <= limit) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
        int equal = _mm_movemask_epi8(_mm_cmpeq_epi16(x, y));
        if (equal != 0xFFFF) {
            return k + static_cast<std::size_t>(
                           __builtin_ctz(static_cast<unsigned>(~equal & 0xFFFF)) / 2);
        }
        k += 8;
    }
#endif
    while (k < limit && a[k] == b[k]) {
        ++k;
    }
    return k;
}

bool sameText(std::u16string_view a, std::u16string_view b) {
    return sameTextFrom(a, b, commonRun(a.data(), b.data(), std::min(a.size(), b.size())));
}

bool sameTextFrom(std::u16string_view a, std::u16string_view b, std::size_t firstDifference) {
    if (firstDifference == a.size() && firstDifference == b.size()) {
        return true;
    }
    // A text followed by more characters never decomposes to the same sequence: canonical
    // decomposition keeps every character.
    if (firstDifference == a.size() || firstDifference == b.size()) {
        return false;
    }
    // Two different ASCII characters after a common prefix: both are starters without
    // decomposition, so the decompositions differ right there.
    if (a[firstDifference] < 0x80 && b[firstDifference] < 0x80) {
        return false;
    }
    return text::canonicallyEqual(a, b);
}

CodePoint codePointBefore(std::u16string_view text, std::size_t offset) {
    char16_t unit = text[offset - 1];
    if (unit >= 0xDC00 && unit <= 0xDFFF && offset >= 2) {
        char16_t lead = text[offset - 2];
        if (lead >= 0xD800 && lead <= 0xDBFF) {
            return {static_cast<char32_t>(0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00)), 2};
        }
    }
    return {unit, 1};
}

bool detail::isRegexWordCharacterSlow(char32_t c) {
    return wordSet().contains(static_cast<UChar32>(c));
}

bool detail::isBoundaryTransparentSlow(char32_t c) {
    auto cp = static_cast<UChar32>(c);
    return u_hasBinaryProperty(cp, UCHAR_GRAPHEME_EXTEND) || u_charType(cp) == U_FORMAT_CHAR;
}

bool detail::isCompletionCharacterSlow(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

bool isRegexLineTerminator(char32_t c) {
    if (c < 0x80) {
        return (kAsciiClasses[c] & ascii::kLineEnd) != 0;
    }
    return c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool detail::wordCharacterBeforeSlow(std::u16string_view text, std::size_t offset) {
    while (offset > 0) {
        CodePoint previous = codePointBefore(text, offset);
        if (!isBoundaryTransparent(previous.value)) {
            return isRegexWordCharacter(previous.value);
        }
        offset -= previous.length;
    }
    return false;
}

bool isWordBoundary(std::u16string_view text, std::size_t offset) {
    bool currentIsWord = false;
    if (offset < text.size()) {
        // A position inside a surrogate pair reads the whole pair, as the engine does.
        std::size_t start = offset;
        if (offset > 0 && text[offset] >= 0xDC00 && text[offset] <= 0xDFFF &&
            text[offset - 1] >= 0xD800 && text[offset - 1] <= 0xDBFF) {
            start = offset - 1;
        }
        CodePoint current = codePointAt(text, start);
        if (isBoundaryTransparent(current.value)) {
            return false;
        }
        currentIsWord = isRegexWordCharacter(current.value);
    }
    return currentIsWord != wordCharacterBefore(text, offset);
}

char32_t simpleCaseFold(char32_t c) {
    if (c < 0x80) {
        return (c >= U'A' && c <= U'Z') ? c + 32 : c;
    }
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

std::size_t asciiFullFold(char32_t c, char* out, std::size_t capacity) {
    if (c < 0x80) {
        if (!(kAsciiClasses[c] & ascii::kLetter) || capacity < 1) {
            return 0;
        }
        out[0] = asciiLower(static_cast<char16_t>(c));
        return 1;
    }
    const auto& folds = nonAsciiLetterFolds();
    auto found = folds.find(c);
    if (found == folds.end() || found->second.size() > capacity) {
        return 0;
    }
    std::copy(found->second.begin(), found->second.end(), out);
    return found->second.size();
}

FoldedRun foldedRunAt(std::u16string_view text, std::size_t start) {
    FoldedRun run;
    const std::size_t n = text.size();
    std::size_t at = start;
    auto append = [&run](char letter) {
        if (run.foldLength < FoldedRun::kMaxRunFold) {
            run.fold[run.foldLength] = letter;
        }
        ++run.foldLength;
    };
    while (at < n) {
        char16_t unit = text[at];
        if (unit < 0x80) {
            if (!(kAsciiClasses[unit] & ascii::kLetter)) {
                break;
            }
            append(asciiLower(unit));
            ++at;
            continue;
        }
        CodePoint cp = codePointAt(text, at);
        char letters[8];
        std::size_t count = asciiFullFold(cp.value, letters, sizeof letters);
        if (count == 0) {
            break;
        }
        for (std::size_t i = 0; i < count; ++i) {
            append(letters[i]);
        }
        at += cp.length;
    }
    run.end = at;
    if (run.foldLength > FoldedRun::kMaxRunFold) {
        run.foldLength = FoldedRun::kMaxRunFold + 1;
    }
    return run;
}

bool completesWordAt(std::u16string_view text, std::size_t offset, bool endAllowed) {
    const std::size_t n = text.size();
    if (!isWordBoundary(text, offset)) {
        return false;
    }
    if (offset >= n) {
        return endAllowed;
    }
    if (isCompletionCharacter(codePointAt(text, offset).value)) {
        return true;
    }
    if (endAllowed) {
        // "$" also holds just before a line terminator that ends the text (not between CR
        // and LF), and before a final CR LF.
        if (offset + 1 == n && isRegexLineTerminator(text[offset]) &&
            !(text[offset] == u'\n' && offset > 0 && text[offset - 1] == u'\r')) {
            return true;
        }
        if (offset + 2 == n && text[offset] == u'\r' && text[offset + 1] == u'\n') {
            return true;
        }
    }
    return false;
}

namespace {

std::vector<WordStart> buildWordStarts(std::u16string_view text) {
    const std::size_t n = text.size();
    std::vector<WordStart> words;
    words.reserve(n / 4 + 4);
    bool afterWord = false;  // the last code point "\b" reads before `at` is a word character
    bool asciiOpen = false;  // the last start's ASCII letters have not ended yet
    auto closeAsciiRun = [&](std::size_t end) {
        if (asciiOpen) {
            words.back().asciiEnd = end;
            asciiOpen = false;
        }
    };
    std::size_t at = 0;
    while (at < n) {
#if defined(__SSE2__)
        // Eight ASCII code units at a time: starts are letters after a non-word character,
        // ASCII runs end where a letter is not followed by one.
        if (at + 9 <= n) {
            const auto* units = reinterpret_cast<const __m128i*>(text.data() + at);
            __m128i block = _mm_loadu_si128(units);
            __m128i high = _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
                __m128i next =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at + 1));
                auto letters = [](__m128i v) {
                    __m128i lower = _mm_or_si128(v, _mm_set1_epi16(0x20));
                    return _mm_and_si128(_mm_cmpgt_epi16(lower, _mm_set1_epi16('a' - 1)),
                                         _mm_cmpgt_epi16(_mm_set1_epi16('z' + 1), lower));
                };
                auto bits = [](__m128i mask) {
                    return static_cast<unsigned>(
                               _mm_movemask_epi8(_mm_packs_epi16(mask, _mm_setzero_si128()))) &
                           0xFF;
                };
                __m128i letter = letters(block);
                __m128i digit = _mm_and_si128(_mm_cmpgt_epi16(block, _mm_set1_epi16('0' - 1)),
                                              _mm_cmpgt_epi16(_mm_set1_epi16('9' + 1), block));
                __m128i word = _mm_or_si128(_mm_or_si128(letter, digit),
                                            _mm_cmpeq_epi16(block, _mm_set1_epi16('_')));
                const unsigned letterBits = bits(letter);
                const unsigned wordBits = bits(word);
                const unsigned starts =
                    letterBits & ~((wordBits << 1) | (afterWord ? 1U : 0U)) & 0xFF;
                const unsigned ends = letterBits & ~bits(letters(next)) & 0xFF;
                unsigned events = starts | ends;
                while (events != 0) {
                    const unsigned i = static_cast<unsigned>(__builtin_ctz(events));
                    events &= events - 1;
                    if (starts & (1U << i)) {
                        words.push_back(WordStart{at + i, at + i});
                        asciiOpen = true;
                    }
                    if (ends & (1U << i)) {
                        closeAsciiRun(at + i + 1);
                    }
                }
                afterWord = (wordBits & 0x80) != 0;
                at += 8;
                continue;
            }
        }
#endif
        char16_t unit = text[at];
        if (unit < 0x80) {
            std::uint8_t cls = ascii::kClasses[unit];
            if (cls & ascii::kLetter) {
                if (!afterWord) {
                    words.push_back(WordStart{at, at});
                    asciiOpen = true;
                }
                if (!(at + 1 < n && text[at + 1] < 0x80 &&
                      (ascii::kClasses[text[at + 1]] & ascii::kLetter))) {
                    closeAsciiRun(at + 1);
                }
                afterWord = true;
                ++at;
                continue;
            }
            afterWord = (cls & ascii::kWord) != 0;
            ++at;
            continue;
        }
        CodePoint cp = codePointAt(text, at);
        if (isBoundaryTransparent(cp.value)) {
            at += cp.length;
            continue;
        }
        bool word = isRegexWordCharacter(cp.value);
        if (word && !afterWord) {
            char letters[8];
            if (asciiFullFold(cp.value, letters, sizeof letters) > 0) {
                words.push_back(WordStart{at, at});
            }
        }
        afterWord = word;
        at += cp.length;
    }
    closeAsciiRun(n);
    return words;
}

bool sameUnits(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

}  // namespace

std::shared_ptr<const WordStarts> wordStartsOf(std::u16string_view text) {
    // Long texts are not kept: the cache should not hold on to much memory.
    constexpr std::size_t kLongestKept = 1 << 16;
    thread_local std::shared_ptr<const WordStarts> last;
    if (last && sameUnits(last->text, text)) {
        return last;
    }
    auto built = std::make_shared<WordStarts>();
    built->starts = buildWordStarts(text);
    if (text.size() <= kLongestKept) {
        built->text.assign(text);
        last = built;
    }
    return built;
}

void WordSet::insert(std::string_view word) {
    if (word.empty() || word.size() > FoldedRun::kMaxRunFold) {
        return;
    }
    for (char c : word) {
        if (c < 'a' || c > 'z') {
            return;
        }
    }
    firstLettersByLength_[word.size()] |= 1U << (word[0] - 'a');
    char letters[FoldedRun::kMaxRunFold + 1] = {};
    std::memcpy(letters, word.data(), word.size());
    words_.push_back(Entry{word.size(), pack(letters)});
}

}  // namespace ravlin::rules
