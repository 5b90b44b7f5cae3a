#include "core/rules/dictionary_rules.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include <unicode/uchar.h>

#include "core/rules/pattern_form.h"
#include "core/rules/text_scan.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using rules::FoldedRun;

LocalFixRuleMetadata makeMetadata(std::string description, ConfidenceTier tier, bool appliesLocally,
                                  std::optional<std::int64_t> minTokenLength,
                                  std::map<std::string, std::string> custom) {
    return LocalFixRuleMetadata{std::move(description), tier, appliesLocally, minTokenLength,
                                std::move(custom)};
}

bool isAsciiLowerWord(std::u16string_view word) {
    if (word.empty() || word.size() > FoldedRun::kMaxRunFold) {
        return false;
    }
    for (char16_t unit : word) {
        if (unit < u'a' || unit > u'z') {
            return false;
        }
    }
    return true;
}

// The keys of a replacement map, indexed for the folded runs of the scanner: a key can match a
// run only when the run's fold is the key itself.
class WordTable {
  public:
    explicit WordTable(const ReplacementMap& map) {
        for (const auto& [key, value] : map) {
            if (!isAsciiLowerWord(key)) {
                usable_ = false;
                return;
            }
            words_.insert(std::string(key.begin(), key.end()));
        }
    }

    [[nodiscard]] bool usable() const { return usable_; }
    [[nodiscard]] const rules::WordSet& words() const { return words_; }

  private:
    bool usable_ = true;
    rules::WordSet words_;
};

std::u16string lowercasedWord(std::u16string_view word) {
    std::u16string lowered(word);
    for (char16_t& unit : lowered) {
        if (unit >= 0x80) {
            return text::lowercased(word);
        }
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + 32);
        }
    }
    return lowered;
}

// One pass over the text: every completed word whose fold is a key, looked up by its
// lower-cased text. Absent when nothing changed.
std::optional<std::u16string> replaceWordsScan(std::u16string_view text, const ReplacementMap& map,
                                               const WordTable& table) {
    std::u16string output;
    std::size_t copied = 0;
    bool changed = false;
    const rules::WordSet& keys = table.words();
    rules::forEachWordStart(text, [&](std::size_t start, std::size_t asciiEnd) {
        if (std::size_t past = keys.skipUnlessCandidate(text, start, asciiEnd)) {
            return past;
        }
        FoldedRun run = rules::foldedRunAt(text, start);
        if (!keys.contains(run) || !rules::completesWordAt(text, run.end)) {
            return run.end;
        }
        std::u16string_view matched = text.substr(start, run.end - start);
        auto found = map.find(lowercasedWord(matched));
        if (found == map.end()) {
            return run.end;
        }
        std::u16string replacement = preservingCase(matched, found->second);
        if (replacement == matched) {
            return run.end;
        }
        if (!changed) {
            output.reserve(text.size() + 32);
            changed = true;
        }
        output.append(text.substr(copied, start - copied));
        output += replacement;
        copied = run.end;
        return run.end;
    });
    if (!changed) {
        return std::nullopt;
    }
    output.append(text.substr(copied));
    return output;
}

std::optional<std::u16string> replaceWordsAnyMap(std::u16string_view text,
                                                 const ReplacementMap& map,
                                                 const WordTable& table) {
    if (table.usable()) {
        return replaceWordsScan(text, map, table);
    }
    return pattern_form::replaceWords(text, map);
}

// The literal words of a stored pattern of the form prefix, word, "[ \t]+", word, ..., suffix.
std::optional<std::vector<std::string>> literalWords(std::string_view pattern,
                                                     std::string_view prefix,
                                                     std::string_view suffix) {
    constexpr std::string_view kGap = R"re([ \t]+)re";
    if (!pattern.starts_with(prefix) || !pattern.ends_with(suffix) ||
        pattern.size() < prefix.size() + suffix.size()) {
        return std::nullopt;
    }
    std::string_view body =
        pattern.substr(prefix.size(), pattern.size() - prefix.size() - suffix.size());
    std::vector<std::string> words;
    for (;;) {
        std::size_t gap = body.find(kGap);
        std::string_view piece = body.substr(0, gap);
        if (piece.empty()) {
            return std::nullopt;
        }
        std::string word;
        for (char c : piece) {
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
                return std::nullopt;
            }
            word.push_back(static_cast<char>(c | 0x20));
        }
        words.push_back(std::move(word));
        if (gap == std::string_view::npos) {
            break;
        }
        body.remove_prefix(gap + kGap.size());
    }
    return words;
}

struct PhraseShape {
    std::vector<std::string> words;
    std::u16string_view replacement;
};

struct PhraseShapes {
    std::vector<PhraseShape> shapes;
    rules::WordSet firstWords;
};

// The phrase patterns as word sequences, or absent when one of them is not of that form (the
// pattern form then does the work).
const std::optional<PhraseShapes>& phraseShapes() {
    static const std::optional<PhraseShapes> shapes = []() -> std::optional<PhraseShapes> {
        const std::string suffix = std::string(R"re(\b)re") + std::string(kCompletionLookahead);
        PhraseShapes built;
        for (const auto& pair : phrasePatterns()) {
            auto words = literalWords(pair.pattern, R"re((?i)\b)re", suffix);
            if (!words || words->size() < 2) {
                return std::nullopt;
            }
            for (const auto& word : *words) {
                // A one-letter literal compares by simple case folding; the scanner's runs
                // compare full folds, which agree only for longer words.
                if (word.size() < 2) {
                    return std::nullopt;
                }
            }
            built.firstWords.insert(words->front());
            built.shapes.push_back(PhraseShape{std::move(*words), pair.replacement});
        }
        return built;
    }();
    return shapes;
}

struct SpacedShape {
    std::vector<char> letters;
    std::u16string_view replacement;
};

const std::optional<std::vector<SpacedShape>>& spacedShapes() {
    static const std::optional<std::vector<SpacedShape>> shapes =
        []() -> std::optional<std::vector<SpacedShape>> {
        std::vector<SpacedShape> built;
        for (const auto& pair : spacedInitialismPatterns()) {
            auto words =
                literalWords(pair.pattern, R"re((?i)\b)re", R"re(\b(?=$|[\s.,!?;:)\]]))re");
            if (!words || words->size() < 2) {
                return std::nullopt;
            }
            SpacedShape shape{{}, pair.replacement};
            for (const auto& word : *words) {
                if (word.size() != 1) {
                    return std::nullopt;
                }
                shape.letters.push_back(word[0]);
            }
            built.push_back(std::move(shape));
        }
        return built;
    }();
    return shapes;
}

std::optional<std::size_t> matchPhrase(std::u16string_view text, std::size_t firstWordEnd,
                                       const PhraseShape& shape) {
    std::size_t at = firstWordEnd;
    for (std::size_t index = 1; index < shape.words.size(); ++index) {
        std::size_t wordStart = rules::skipSpacesAndTabs(text, at);
        if (wordStart == at) {
            return std::nullopt;
        }
        FoldedRun run = rules::foldedRunAt(text, wordStart);
        if (!run.equals(shape.words[index])) {
            return std::nullopt;
        }
        at = run.end;
    }
    if (!rules::completesWordAt(text, at)) {
        return std::nullopt;
    }
    return at;
}

std::optional<std::u16string> phraseScan(std::u16string_view text) {
    const auto& shapes = phraseShapes();
    if (!shapes) {
        std::u16string result = pattern_form::applyPhrasePatterns(text);
        return result == text ? std::nullopt : std::optional<std::u16string>(std::move(result));
    }
    // The phrases share no words that could let two of them overlap, and a replacement ends in
    // a letter as every match does, so one scan gives what applying them one after another
    // gives.
    std::u16string output;
    std::size_t copied = 0;
    bool changed = false;
    rules::forEachWordStart(text, [&](std::size_t start, std::size_t asciiEnd) {
        if (std::size_t past = shapes->firstWords.skipUnlessCandidate(text, start, asciiEnd)) {
            return past;
        }
        FoldedRun run = rules::foldedRunAt(text, start);
        if (!shapes->firstWords.contains(run)) {
            return run.end;
        }
        for (const auto& shape : shapes->shapes) {
            if (!run.equals(shape.words[0])) {
                continue;
            }
            auto end = matchPhrase(text, run.end, shape);
            if (!end) {
                continue;
            }
            output.append(text.substr(copied, start - copied));
            output += shape.replacement;
            copied = *end;
            changed = true;
            return *end;
        }
        return run.end;
    });
    if (!changed) {
        return std::nullopt;
    }
    output.append(text.substr(copied));
    return output;
}

// Positions where a spaced initialism can start: "\b", a code point whose simple case fold is
// one of the first letters, then a space or a tab.
std::vector<std::size_t> spacedCandidates(std::u16string_view text, std::uint32_t firstLetters) {
    std::vector<std::size_t> candidates;
    const std::size_t n = text.size();
    // A code point whose simple fold is an ASCII letter also has that letter as its full fold,
    // so the word starts cover every candidate.
    rules::forEachWordStart(text, [&](std::size_t start, std::size_t asciiEnd) {
        char16_t unit = text[start];
        if (unit < 0x80) {
            if ((firstLetters & (1U << ((unit | 0x20) - 'a'))) && start + 1 < n &&
                rules::isSpaceOrTab(text[start + 1])) {
                candidates.push_back(start);
            }
            return asciiEnd;
        }
        rules::CodePoint cp = rules::codePointAt(text, start);
        char32_t folded = rules::simpleCaseFold(cp.value);
        if (folded >= U'a' && folded <= U'z' && (firstLetters & (1U << (folded - U'a'))) &&
            start + cp.length < n && rules::isSpaceOrTab(text[start + cp.length])) {
            candidates.push_back(start);
        }
        return start + cp.length;
    });
    return candidates;
}

std::optional<std::size_t> matchSpaced(std::u16string_view text, std::size_t start,
                                       const SpacedShape& shape) {
    std::size_t at = start;
    for (std::size_t index = 0; index < shape.letters.size(); ++index) {
        if (index > 0) {
            std::size_t next = rules::skipSpacesAndTabs(text, at);
            if (next == at) {
                return std::nullopt;
            }
            at = next;
        }
        if (at >= text.size()) {
            return std::nullopt;
        }
        rules::CodePoint cp = rules::codePointAt(text, at);
        if (rules::simpleCaseFold(cp.value) != static_cast<char32_t>(shape.letters[index])) {
            return std::nullopt;
        }
        at += cp.length;
    }
    if (!rules::completesWordAt(text, at, /*endAllowed=*/true)) {
        return std::nullopt;
    }
    return at;
}

std::optional<std::u16string> spacedScan(std::u16string_view input) {
    const auto& shapes = spacedShapes();
    if (!shapes) {
        std::u16string result = pattern_form::collapseSpacedInitialisms(input);
        return result == input ? std::nullopt : std::optional<std::u16string>(std::move(result));
    }
    std::uint32_t firstLetters = 0;
    for (const auto& shape : *shapes) {
        firstLetters |= 1U << (shape.letters[0] - 'a');
    }
    std::u16string current;
    std::u16string_view view = input;
    bool changed = false;
    std::vector<std::size_t> candidates = spacedCandidates(view, firstLetters);
    if (candidates.empty()) {
        return std::nullopt;
    }
    // Pattern after pattern, each over the text the ones before it left: an earlier pattern
    // can take letters a later one would have matched.
    for (const auto& shape : *shapes) {
        std::vector<std::pair<std::size_t, std::size_t>> matches;
        std::size_t resume = 0;
        for (std::size_t start : candidates) {
            if (start < resume) {
                continue;
            }
            if (auto end = matchSpaced(view, start, shape)) {
                matches.emplace_back(start, *end);
                resume = *end;
            }
        }
        if (matches.empty()) {
            continue;
        }
        std::u16string next;
        next.reserve(view.size());
        std::size_t copied = 0;
        for (const auto& [start, end] : matches) {
            next.append(view.substr(copied, start - copied));
            next += shape.replacement;
            copied = end;
        }
        next.append(view.substr(copied));
        current = std::move(next);
        view = current;
        changed = true;
        candidates = spacedCandidates(view, firstLetters);
    }
    if (!changed) {
        return std::nullopt;
    }
    return current;
}

const ReplacementMap& tableMap(ContractionRule::Scope scope) {
    return scope == ContractionRule::Scope::localSafe ? contractionMapLong()
                                                      : contractionMapShort();
}
const ReplacementMap& tableMap(TypoMapRule::Scope scope) {
    return scope == TypoMapRule::Scope::localSafe ? typoMapLong() : typoMapShort();
}

const WordTable& wordTable(const ReplacementMap& map) {
    static const WordTable initialisms(initialismMap());
    static const WordTable contractionsLong(contractionMapLong());
    static const WordTable contractionsShort(contractionMapShort());
    static const WordTable typosLong(typoMapLong());
    static const WordTable typosShort(typoMapShort());
    if (&map == &initialismMap()) {
        return initialisms;
    }
    if (&map == &contractionMapLong()) {
        return contractionsLong;
    }
    if (&map == &contractionMapShort()) {
        return contractionsShort;
    }
    if (&map == &typoMapLong()) {
        return typosLong;
    }
    return typosShort;
}

std::string contractionID(ContractionRule::Scope scope) {
    return scope == ContractionRule::Scope::localSafe ? "local.contraction.long"
                                                      : "local.contraction.short";
}

LocalFixRuleMetadata contractionMetadata(ContractionRule::Scope scope) {
    if (scope == ContractionRule::Scope::localSafe) {
        return makeMetadata(
            "Expands unambiguous typed contractions.", ConfidenceTier::eager, true, std::nullopt,
            {{"category", "contraction"},
             {"tokens",
              "dont,cant,wont,didnt,doesnt,wouldnt,couldnt,shouldnt,isnt,arent,wasnt,werent,"
              "hasnt,havent,im,ive"}});
    }
    return makeMetadata("Documents ambiguous short contractions that are model-only locally.",
                        ConfidenceTier::eager, false, 2,
                        {{"category", "contraction"}, {"tokens", "ill,id"}});
}

std::string typoID(TypoMapRule::Scope scope) {
    return scope == TypoMapRule::Scope::localSafe ? "local.typo-map.long" : "local.typo-map.short";
}

LocalFixRuleMetadata typoMetadata(TypoMapRule::Scope scope) {
    if (scope == TypoMapRule::Scope::localSafe) {
        return makeMetadata("Corrects longer unambiguous typed misspellings.",
                            ConfidenceTier::eager, true, 3, {{"category", "typo-map"}});
    }
    return makeMetadata("Documents short ambiguous typos that are model-only locally.",
                        ConfidenceTier::eager, false, 2,
                        {{"category", "typo-map"}, {"tokens", "te,ll"}});
}

bool isLetterOrMark(char32_t c) {
    if (c < 0x80) {
        return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    }
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_M_MASK)) != 0;
}

bool isAsciiCapital(char32_t c) {
    return c >= U'A' && c <= U'Z';
}

std::u16string upperCasedText(std::u16string_view value) {
    std::u16string upper(value);
    for (char16_t& unit : upper) {
        if (unit >= 0x80) {
            return text::uppercased(value);
        }
        if (unit >= u'a' && unit <= u'z') {
            unit = static_cast<char16_t>(unit - 32);
        }
    }
    return upper;
}

}  // namespace

LocalFixRuleMetadata BrandInitialismRule::masterMetadata() {
    return makeMetadata("Normalizes common product and technology initialisms.",
                        ConfidenceTier::eager, true, 2, {{"category", "initialism"}});
}

BrandInitialismRule::BrandInitialismRule(std::string id, LocalFixRuleMetadata metadata)
    : TransformRule(std::move(id), std::move(metadata), "brand-initialism") {}

std::optional<std::u16string> BrandInitialismRule::transform(std::u16string_view text) const {
    std::optional<std::u16string> words =
        replaceWordsAnyMap(text, initialismMap(), wordTable(initialismMap()));
    std::optional<std::u16string> spaced = spacedScan(words ? std::u16string_view(*words) : text);
    return spaced ? std::move(spaced) : std::move(words);
}

LocalFixRuleMetadata PhraseTypoRule::masterMetadata() {
    return makeMetadata("Corrects known phrase-level typing patterns.", ConfidenceTier::tentative,
                        true, std::nullopt, {{"category", "phrase-pattern"}});
}

PhraseTypoRule::PhraseTypoRule(std::string id, LocalFixRuleMetadata metadata)
    : TransformRule(std::move(id), std::move(metadata), "phrase-pattern") {}

std::optional<std::u16string> PhraseTypoRule::transform(std::u16string_view text) const {
    return phraseScan(text);
}

ContractionRule::ContractionRule(Scope scope)
    : TransformRule(contractionID(scope), contractionMetadata(scope),
                    scope == Scope::localSafe ? "contraction.long" : "contraction.short"),
      scope_(scope) {}

std::optional<std::u16string> ContractionRule::transform(std::u16string_view text) const {
    const ReplacementMap& map = tableMap(scope_);
    return replaceWordsAnyMap(text, map, wordTable(map));
}

TypoMapRule::TypoMapRule(Scope scope)
    : TransformRule(typoID(scope), typoMetadata(scope),
                    scope == Scope::localSafe ? "typo-map.long" : "typo-map.short"),
      scope_(scope) {}

std::optional<std::u16string> TypoMapRule::transform(std::u16string_view text) const {
    const ReplacementMap& map = tableMap(scope_);
    return replaceWordsAnyMap(text, map, wordTable(map));
}

std::u16string replaceWords(std::u16string_view text, const ReplacementMap& map) {
    WordTable table(map);
    std::optional<std::u16string> replaced = replaceWordsAnyMap(text, map, table);
    return replaced ? std::move(*replaced) : std::u16string(text);
}

std::u16string preservingCase(std::u16string_view matched, std::u16string_view replacement) {
    bool anyLetter = false;
    bool allAsciiCapitals = true;
    char32_t first = 0;
    for (std::size_t at = 0; at < matched.size();) {
        rules::CodePoint cp = rules::codePointAt(matched, at);
        if (at == 0) {
            first = cp.value;
        }
        if (isLetterOrMark(cp.value)) {
            anyLetter = true;
            allAsciiCapitals = allAsciiCapitals && isAsciiCapital(cp.value);
        }
        at += cp.length;
    }
    if (anyLetter && allAsciiCapitals) {
        return upperCasedText(replacement);
    }
    if (!matched.empty() && isAsciiCapital(first) && !replacement.empty()) {
        // The first character of the replacement (one grapheme cluster) in upper case.
        std::size_t firstEnd = 1;
        if (replacement.size() > 1 &&
            (replacement[0] >= 0x80 || replacement[1] >= 0x80 || replacement[0] == u'\r')) {
            firstEnd = static_cast<std::size_t>(text::characterBoundaries(replacement)[1]);
        }
        return upperCasedText(replacement.substr(0, firstEnd)) +
               std::u16string(replacement.substr(firstEnd));
    }
    return std::u16string(replacement);
}

std::u16string collapseSpacedInitialisms(std::u16string_view text) {
    std::optional<std::u16string> result = spacedScan(text);
    return result ? std::move(*result) : std::u16string(text);
}

std::u16string applyPhrasePatterns(std::u16string_view text) {
    std::optional<std::u16string> result = phraseScan(text);
    return result ? std::move(*result) : std::u16string(text);
}

}  // namespace ravlin
