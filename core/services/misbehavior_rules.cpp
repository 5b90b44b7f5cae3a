#include "core/services/misbehavior_rules.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "core/services/character_view.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::string_view kRuleIDPrefix = "misbehavior.";

bool has(const std::u16string& text, std::u16string_view needle) {
    return text.find(needle) != std::u16string::npos;
}

// Present in the answer but not in the input.
bool leaked(const QNModelMisbehaviorContext& context, std::u16string_view needle) {
    return has(context.cleanedLower, needle) && !has(context.originalLower, needle);
}

std::string schemaLeakReason(std::u16string_view probe) {
    return "schema leak (\"" + text::toUtf8(probe) + "\")";
}

struct FormatPhrase {
    std::u16string_view phrase;
    // The phrase's own words among "schema", "format", "response" and "respond".
    std::array<std::u16string_view, 2> formatWords;
};

constexpr std::array<FormatPhrase, 5> kFormatPhrases{{
    {u"response format in json", {u"response", u"format"}},
    {u"respond in json", {u"respond", {}}},
    {u"json response", {u"response", {}}},
    {u"json format", {u"format", {}}},
    {u"json schema", {u"schema", {}}},
}};

// The input itself asks about the format: it mentions json and one of the phrase's words.
bool inputTalksAboutFormat(const QNModelMisbehaviorContext& context, const FormatPhrase& phrase) {
    if (!misbehavior::containsSimilarWord(context.originalWords, u"json")) {
        return false;
    }
    return std::any_of(
        phrase.formatWords.begin(), phrase.formatWords.end(), [&](std::u16string_view word) {
            return !word.empty() && misbehavior::containsSimilarWord(context.originalWords, word);
        });
}

bool showsJsonSchemaMarkers(const std::u16string& answer) {
    for (std::u16string_view marker : {u"\"type\"", u"'type'", u"\"properties\"", u"'properties'",
                                       u"additionalproperties", u"correctedtext"}) {
        if (has(answer, marker)) {
            return true;
        }
    }
    return has(answer, u"json") && (has(answer, u"{") || has(answer, u"["));
}

bool isInsideSpan(const QNModelMisbehaviorContext& context, std::int64_t position) {
    return std::any_of(context.romanizedSpans.begin(), context.romanizedSpans.end(),
                       [&](const QNModelRomanizedPhoneticSpan& span) {
                           return span.range.start <= position && position < span.range.end;
                       });
}

// The input's last word when the answer seems to have lost it (shared by the dropped-word and
// unrelated-output rules).
std::optional<std::u16string> droppedTrailingWordCandidate(
    const QNModelMisbehaviorContext& context) {
    const auto& words = context.originalWords;
    if (words.empty()) {
        return std::nullopt;
    }
    const auto& last = words.back();
    const std::int64_t length = engine::detail::countCharacters(last);
    if (length == 1 && last != u"i") {
        return std::nullopt;
    }
    if (length == 2 && !misbehavior::isTwoLetterWord(last)) {
        return std::nullopt;
    }
    if (words.size() >= 2 && last == words[words.size() - 2]) {
        return std::nullopt;
    }
    const auto count = static_cast<std::int64_t>(words.size());
    if (context.cleanedHasCJK &&
        std::any_of(context.romanizedSpans.begin(), context.romanizedSpans.end(),
                    [&](const QNModelRomanizedPhoneticSpan& span) {
                        return span.range.start < count && count <= span.range.end;
                    })) {
        return std::nullopt;
    }
    if (misbehavior::isWordPresent(last, context.cleaned)) {
        return std::nullopt;
    }
    return last;
}

bool isLongAZWord(std::u16string_view word) {
    return misbehavior::isAZWord(word) && word.size() >= 3;
}

}  // namespace

std::string QNModelMisbehaviorRule::shortID() const {
    std::string id = ruleID();
    if (id.starts_with(kRuleIDPrefix)) {
        id.erase(0, kRuleIDPrefix.size());
    }
    return id;
}

std::optional<std::string> QNSchemaLeakMisbehaviorRule::evaluate(
    const QNModelMisbehaviorContext& context) const {
    for (std::u16string_view probe :
         {u"qnmodelcorrectedoutput", u"correctedoutput", u"@generable", u"@guide"}) {
        if (leaked(context, probe)) {
            return schemaLeakReason(probe);
        }
    }
    for (const FormatPhrase& phrase : kFormatPhrases) {
        if (leaked(context, phrase.phrase) && !inputTalksAboutFormat(context, phrase)) {
            return schemaLeakReason(phrase.phrase);
        }
    }
    if (leaked(context, u"schema:") && showsJsonSchemaMarkers(context.cleanedLower)) {
        return schemaLeakReason(u"schema:");
    }
    return std::nullopt;
}

std::optional<std::string> QNDroppedTrailingWordMisbehaviorRule::evaluate(
    const QNModelMisbehaviorContext& context) const {
    const auto candidate = droppedTrailingWordCandidate(context);
    if (!candidate) {
        return std::nullopt;
    }
    const auto answerWords = misbehavior::words(context.cleaned);
    if (answerWords.size() >= context.originalWords.size()) {
        std::int64_t considered = 0;
        std::int64_t near = 0;
        for (std::size_t i = 0; i + 1 < context.originalWords.size(); ++i) {
            const auto& word = context.originalWords[i];
            if (!isLongAZWord(word)) {
                continue;
            }
            ++considered;
            if (misbehavior::isNearSomeWord(word, answerWords)) {
                ++near;
            }
        }
        if (considered >= 3 && static_cast<double>(near) / static_cast<double>(considered) >= 0.7) {
            return std::nullopt;
        }
    }
    return "dropped trailing word: " + text::toUtf8(*candidate);
}

std::optional<std::string> QNOutputUnrelatedToInputMisbehaviorRule::evaluate(
    const QNModelMisbehaviorContext& context) const {
    if (!context.romanizedSpans.empty()) {
        return std::nullopt;
    }
    std::vector<std::u16string_view> keywords;
    for (const auto& word : context.originalWords) {
        if (isLongAZWord(word)) {
            keywords.push_back(word);
        }
    }
    if (keywords.size() < 4 || !droppedTrailingWordCandidate(context)) {
        return std::nullopt;
    }
    const auto answerWords = misbehavior::words(context.cleaned);
    const auto matched = std::count_if(keywords.begin(), keywords.end(), [&](auto word) {
        return misbehavior::isNearSomeWord(word, answerWords);
    });
    if (static_cast<double>(matched) / static_cast<double>(keywords.size()) < 0.34) {
        return "output unrelated to input";
    }
    return std::nullopt;
}

std::optional<std::string> QNRomanizedPhoneticRewriteMisbehaviorRule::evaluate(
    const QNModelMisbehaviorContext& context) const {
    if (context.romanizedSpans.empty() || context.cleanedHasCJK) {
        return std::nullopt;
    }
    const auto answerWords = misbehavior::words(context.cleaned);
    for (const auto& span : context.romanizedSpans) {
        if (span.signalCount < 2) {
            continue;
        }
        std::int64_t considered = 0;
        std::int64_t kept = 0;
        std::optional<std::u16string_view> missing;
        for (std::int64_t index = span.range.start; index < span.range.end; ++index) {
            const auto& word = context.originalWords[static_cast<std::size_t>(index)];
            if (!misbehavior::isRomanizable(word)) {
                continue;
            }
            ++considered;
            if (misbehavior::isNearSomeWord(word, answerWords)) {
                ++kept;
            } else if (!missing) {
                missing = word;
            }
        }
        if (kept * 2 < considered) {
            const std::u16string_view detail =
                missing ? *missing
                        : std::u16string_view(
                              context.originalWords[static_cast<std::size_t>(span.range.start)]);
            return "romanized phonetic text rewritten without native script: " +
                   text::toUtf8(detail);
        }
    }
    return std::nullopt;
}

std::optional<std::string> QNTranslatedEnglishWordMisbehaviorRule::evaluate(
    const QNModelMisbehaviorContext& context) const {
    if (!context.allowsRomanizedPhoneticConversion) {
        return std::nullopt;
    }
    const auto answerWords = misbehavior::words(context.cleaned);
    for (std::size_t index = 0; index < context.originalWords.size(); ++index) {
        const auto& word = context.originalWords[index];
        if (isInsideSpan(context, static_cast<std::int64_t>(index)) ||
            !misbehavior::isAZWord(word)) {
            continue;
        }
        if (word != u"i" && (word.size() < 2 || misbehavior::isRomanizable(word))) {
            continue;
        }
        if (!misbehavior::isNearSomeWord(word, answerWords)) {
            return "translated English word: " + text::toUtf8(word);
        }
    }
    return std::nullopt;
}

std::vector<std::shared_ptr<const QNModelMisbehaviorRule>>
QNModelMisbehaviorRegistry::defaultRules() {
    return {std::make_shared<const QNSchemaLeakMisbehaviorRule>()};
}

const QNModelMisbehaviorRegistry& QNModelMisbehaviorRegistry::defaultRegistry() {
    static const QNModelMisbehaviorRegistry registry = [] {
        const char* value = std::getenv("RAVLIN_DISABLE_MISBEHAVIOR_RULES");
        return QNModelMisbehaviorRegistry{
            defaultRules(), disabledMisbehaviorRuleIDs(
                                value ? std::optional<std::string_view>(value) : std::nullopt)};
    }();
    return registry;
}

std::optional<QNModelMisbehaviorResult> QNModelMisbehaviorRegistry::detect(
    std::u16string_view cleaned, std::u16string_view original) const {
    std::optional<QNModelMisbehaviorContext> context;
    for (const auto& rule : rules) {
        if (!rule || disabledShortIDs.contains(rule->shortID())) {
            continue;
        }
        if (!context) {
            context = QNModelMisbehaviorContext::make(original, cleaned);
        }
        if (auto reason = rule->evaluate(*context)) {
            QNCorrectionNote note = QNCorrectionNote::plain(
                *reason, QNCorrectionStageID::misbehaviorDetect, rule->ruleID());
            return QNModelMisbehaviorResult{std::move(*reason), std::move(note),
                                            rule->triggersFallback()};
        }
    }
    return std::nullopt;
}

std::set<std::string> disabledMisbehaviorRuleIDs(std::optional<std::string_view> environmentValue) {
    std::set<std::string> identifiers;
    if (!environmentValue) {
        return identifiers;
    }
    std::string_view rest = *environmentValue;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::u16string piece = text::toUtf16(rest.substr(0, comma));
        std::size_t start = 0;
        std::size_t end = piece.size();
        while (start < end && text::isHorizontalWhitespace(text::codePointAt(piece, start))) {
            start += text::codePointAt(piece, start) > 0xFFFF ? 2 : 1;
        }
        while (end > start && text::isHorizontalWhitespace(text::codePointBefore(piece, end))) {
            end -= text::codePointBefore(piece, end) > 0xFFFF ? 2 : 1;
        }
        if (end > start) {
            identifiers.insert(text::toUtf8(std::u16string_view(piece).substr(start, end - start)));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    return identifiers;
}

std::optional<QNModelMisbehaviorResult> detectModelMisbehaviorResult(std::u16string_view cleaned,
                                                                     std::u16string_view original) {
    return QNModelMisbehaviorRegistry::defaultRegistry().detect(cleaned, original);
}

std::optional<std::string> detectModelMisbehavior(std::u16string_view cleaned,
                                                  std::u16string_view original) {
    if (auto result = detectModelMisbehaviorResult(cleaned, original)) {
        return std::move(result->reason);
    }
    return std::nullopt;
}

}  // namespace ravlin
