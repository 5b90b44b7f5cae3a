#include "app/editor/spell_check_filter.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::array<std::u16string_view, 19> kSkipList = {
    u"anthropic", u"api",     u"appkit", u"chatgpt", u"claude", u"codex",  u"fastlane",
    u"firebase",  u"gemini",  u"github", u"gitlab",  u"json",   u"openai", u"slack",
    u"supabase",  u"swiftui", u"ravlin", u"uikit",   u"xcode"};

bool isLetter(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
}
bool isUppercaseLetter(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_LU_MASK | U_GC_LT_MASK)) != 0;
}
bool isLowercaseLetter(UChar32 c) {
    return (U_GET_GC_MASK(c) & U_GC_LL_MASK) != 0;
}
bool isSentenceTerminator(UChar32 c) {
    return c == '.' || c == '!' || c == '?' || c == '\n' || c == '\r';
}

// Calls `visit(scalar)` for each scalar in order (a lone surrogate comes as itself).
template <class Visit>
void forEachScalar(std::u16string_view text, Visit&& visit) {
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U16_NEXT(text.data(), i, length, c);
        visit(c);
    }
}

bool isLettersOnly(std::u16string_view word) {
    bool letters = true;
    forEachScalar(word, [&](UChar32 c) { letters = letters && isLetter(c); });
    return letters;
}

}  // namespace

QNServiceNSSpellChecker::QNServiceNSSpellChecker(std::shared_ptr<platform::SpellChecker> checker)
    : checker_(std::move(checker)) {}

std::vector<QNServiceWordToken> QNServiceNSSpellChecker::wordTokens(std::u16string_view text) {
    std::vector<QNServiceWordToken> tokens;
    QNServiceWordToken current;
    bool pending = true;
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c = 0;
        U16_NEXT(text.data(), i, length, c);
        if (isLetter(c)) {
            if (current.word.empty()) {
                current.isSentenceInitial = pending;
            }
            current.word.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        } else if (!current.word.empty()) {
            tokens.push_back(std::move(current));
            current = {};
            pending = isSentenceTerminator(c);
        } else if (isSentenceTerminator(c)) {
            pending = true;
        }
    }
    if (!current.word.empty()) {
        tokens.push_back(std::move(current));
    }
    return tokens;
}

std::optional<QNSingleWordChange> QNServiceNSSpellChecker::singleWordChange(
    std::u16string_view from, std::u16string_view to) {
    const auto a = wordTokens(from);
    const auto b = wordTokens(to);
    if (a.size() != b.size() || a.empty()) {
        return std::nullopt;
    }
    const auto differs = [&](std::size_t i) { return a[i].word != b[i].word; };
    std::size_t position = 0;
    while (position < a.size() && !differs(position)) {
        ++position;
    }
    if (position == a.size()) {
        return std::nullopt;
    }
    for (std::size_t i = position + 1; i < a.size(); ++i) {
        if (differs(i)) {
            return std::nullopt;
        }
    }
    const auto& original = a[position];
    const auto& corrected = b[position];
    if (text::characterCount(original.word) < 3 || text::characterCount(corrected.word) < 2 ||
        !isLettersOnly(original.word) || !isLettersOnly(corrected.word)) {
        return std::nullopt;
    }
    return QNSingleWordChange{original.word, corrected.word, original.isSentenceInitial,
                              corrected.isSentenceInitial};
}

bool QNServiceNSSpellChecker::skipKey(std::u16string_view word) {
    if (word.empty() || !isLettersOnly(word)) {
        return false;
    }
    const auto lower = text::lowercased(word);
    if (std::ranges::find(kSkipList, std::u16string_view(lower)) != kSkipList.end()) {
        return true;
    }
    bool hasLowercase = false;
    bool hasUppercase = false;
    bool uppercaseAfterFirst = false;
    bool first = true;
    forEachScalar(word, [&](UChar32 c) {
        hasLowercase = hasLowercase || isLowercaseLetter(c);
        hasUppercase = hasUppercase || isUppercaseLetter(c);
        uppercaseAfterFirst = uppercaseAfterFirst || (!first && isUppercaseLetter(c));
        first = false;
    });
    if (!hasLowercase && hasUppercase && text::characterCount(word) >= 2) {
        return true;
    }
    return uppercaseAfterFirst;
}

bool QNServiceNSSpellChecker::isMisspelled(std::u16string_view word) {
    return checker_ && checker_->isMisspelled(word);
}

}  // namespace ravlin
