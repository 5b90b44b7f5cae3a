#include "core/services/model_chatter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <unicode/uchar.h>

#include "core/services/character_view.h"
#include "core/services/correction_bounds.h"
#include "core/services/typed_words.h"
#include "core/text/unicode.h"

namespace ravlin::engine {
namespace {

using Words = std::span<const std::u16string_view>;

// ---- Tokens

struct Token {
    enum class Kind { word, mark, lineBreak };
    Kind kind = Kind::word;
    // A word lower-cased with straight apostrophes; a mark's code point as it stands.
    std::u16string text;
    std::size_t start = 0;
    std::size_t end = 0;
    // Whitespace or a line break stands right before it (or it starts the text looked at).
    bool spaceBefore = true;
};

bool isLineBreak(char32_t c) {
    return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool isApostrophe(char32_t c) {
    return c == u'\'' || c == 0x2019 || c == 0x2018 || c == 0x02BC;
}

bool isWordCharacter(char32_t c) {
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    }
    const auto category = U_GET_GC_MASK(static_cast<UChar32>(c));
    return u_isalnum(static_cast<UChar32>(c)) || (category & U_GC_M_MASK) != 0;
}

std::size_t unitsOf(char32_t c) {
    return c > 0xFFFF ? 2 : 1;
}

// The tokens of `text` from `from`, at most `limit` of them. With `openEnd` (a part of an
// answer), an apostrophe that ends the text after a word stays with the word, which may go on
// ("Here\u2019" of "Here\u2019s").
std::vector<Token> tokenize(std::u16string_view text, std::size_t from, std::size_t limit,
                            bool openEnd = false) {
    std::vector<Token> tokens;
    tokens.reserve(std::min<std::size_t>(limit, 32));
    bool space = true;
    std::size_t at = from;
    while (at < text.size() && tokens.size() < limit) {
        const char32_t c = text::codePointAt(text, static_cast<std::int64_t>(at));
        if (isLineBreak(c)) {
            std::size_t end = at + 1;
            if (c == u'\r' && end < text.size() && text[end] == u'\n') {
                ++end;
            }
            // One line break token for a run of breaks and the whitespace between them.
            if (tokens.empty() || tokens.back().kind != Token::Kind::lineBreak || !space) {
                tokens.push_back({Token::Kind::lineBreak, u"\n", at, end, space});
            }
            tokens.back().end = end;
            space = true;
            at = end;
            continue;
        }
        if (text::isWhitespaceOrNewline(c)) {
            space = true;
            at += unitsOf(c);
            continue;
        }
        if (!isWordCharacter(c)) {
            tokens.push_back({Token::Kind::mark,
                              std::u16string(text.substr(at, unitsOf(c))), at,
                              at + unitsOf(c), space});
            space = false;
            at += unitsOf(c);
            continue;
        }
        std::size_t end = at;
        while (end < text.size()) {
            const char32_t next = text::codePointAt(text, static_cast<std::int64_t>(end));
            if (isWordCharacter(next)) {
                end += unitsOf(next);
                continue;
            }
            // An apostrophe between two word characters belongs to the word ("here's").
            if (isApostrophe(next) &&
                ((end + 1 < text.size() &&
                  isWordCharacter(text::codePointAt(text, static_cast<std::int64_t>(end + 1)))) ||
                 (openEnd && end + 1 == text.size()))) {
                end += 1;
                continue;
            }
            break;
        }
        std::u16string word = detail::lower(text.substr(at, end - at));
        std::ranges::replace_if(
            word, [](char16_t unit) { return unit != u'\'' && isApostrophe(unit); }, u'\'');
        tokens.push_back({Token::Kind::word, std::move(word), at, end, space});
        space = false;
        at = end;
    }
    return tokens;
}

bool isMark(const Token& token, std::u16string_view marks) {
    return token.kind == Token::Kind::mark && token.text.size() == 1 &&
           marks.find(token.text[0]) != std::u16string_view::npos;
}

// ---- Word forms

// One word of a form: one of `words`, or nothing when `optional`.
struct Slot {
    Words words;
    bool optional = false;
};

constexpr std::array<std::u16string_view, 1> kHere{u"here"};
constexpr std::array<std::u16string_view, 1> kIs{u"is"};
constexpr std::array<std::u16string_view, 2> kHeres{u"here's", u"heres"};
constexpr std::array<std::u16string_view, 1> kYou{u"you"};
constexpr std::array<std::u16string_view, 1> kGo{u"go"};
constexpr std::array<std::u16string_view, 1> kIt{u"it"};
constexpr std::array<std::u16string_view, 5> kDeterminer{u"the", u"your", u"a", u"my", u"this"};
constexpr std::array<std::u16string_view, 10> kAdjective{
    u"corrected", u"polished", u"revised", u"edited",    u"fixed",
    u"proofread", u"improved", u"updated", u"rewritten", u"proofed",
};
constexpr std::array<std::u16string_view, 8> kNoun{
    u"text", u"version", u"sentence", u"rewrite", u"one", u"correction", u"paragraph", u"message",
};
constexpr std::array<std::u16string_view, 5> kLabel{u"output", u"result", u"correction",
                                                    u"answer", u"revision"};

// What may end a lead-in after its words.
enum class Ending {
    colon,     // only ":"
    any,       // ":", a line break, or "." or "!" before more text
    anyOrBare  // any, or just the space before the text ("Here is the corrected text We ...")
};

struct Form {
    std::vector<Slot> slots;
    Ending ending;
};

const std::vector<Form>& leadInForms() {
    static const std::vector<Form> forms{
        {{{kHere}, {kIs}, {kDeterminer, true}, {kAdjective}, {kNoun}}, Ending::anyOrBare},
        {{{kHeres}, {kDeterminer, true}, {kAdjective}, {kNoun}}, Ending::anyOrBare},
        {{{kHere}, {kIs}, {kDeterminer, true}, {kNoun}}, Ending::any},
        {{{kHeres}, {kDeterminer, true}, {kNoun}}, Ending::any},
        {{{kHere}, {kYou}, {kGo}}, Ending::any},
        {{{kHere}, {kIt}, {kIs}}, Ending::any},
        {{{kDeterminer, true}, {kAdjective}, {kNoun}, {kIs, true}}, Ending::any},
        {{{kAdjective}}, Ending::colon},
        {{{kLabel}}, Ending::colon},
    };
    return forms;
}

const std::vector<std::vector<std::u16string_view>>& interjections() {
    static const std::vector<std::vector<std::u16string_view>> forms{
        {u"sure"},     {u"sure", u"thing"}, {u"certainly"},         {u"of", u"course"},
        {u"okay"},     {u"ok"},             {u"absolutely"},        {u"alright"},
        {u"all", u"right"}, {u"got", u"it"},  {u"no", u"problem"},    {u"gladly"},
        {u"happy", u"to", u"help"},
    };
    return forms;
}

// Sentences a model ends with that offer more, never a part of the correction.
const std::vector<std::vector<std::u16string_view>>& signOffs() {
    static const std::vector<std::vector<std::u16string_view>> forms{
        {u"let", u"me", u"know"},
        {u"just", u"let", u"me", u"know"},
        {u"i", u"hope", u"this", u"helps"},
        {u"hope", u"this", u"helps"},
        {u"i", u"hope", u"that", u"helps"},
        {u"hope", u"that", u"helps"},
        {u"feel", u"free", u"to"},
        {u"if", u"you", u"need"},
        {u"if", u"you", u"have", u"any"},
        {u"if", u"you'd", u"like"},
        {u"if", u"you", u"would", u"like"},
        {u"if", u"you", u"want", u"me"},
        {u"is", u"there", u"anything", u"else"},
        {u"anything", u"else", u"i", u"can"},
        {u"happy", u"to", u"help"},
        {u"glad", u"to", u"help"},
        {u"glad", u"i", u"could", u"help"},
        {u"i'd", u"be", u"happy", u"to"},
        {u"i'm", u"happy", u"to"},
        {u"i", u"am", u"happy", u"to"},
        {u"would", u"you", u"like", u"me"},
        {u"do", u"you", u"want", u"me"},
    };
    return forms;
}

// Reads forms over the tokens; notes whether a form could not be decided because the tokens ran
// out (only a part of an answer runs out: a whole one simply does not match).
class Reader {
  public:
    Reader(const std::vector<Token>& tokens, QNAnswerExtent extent)
        : tokens_(tokens), extent_(extent) {}

    [[nodiscard]] bool ranOut() const { return ranOut_; }
    [[nodiscard]] const std::vector<Token>& tokens() const { return tokens_; }

    // Whether token `at` is one of `words`. A missing token, or a last word that may still grow
    // into one of them, is no match that leaves the form open.
    [[nodiscard]] bool word(std::size_t at, Words words) {
        if (at >= tokens_.size()) {
            ranOut_ = ranOut_ || extent_ != QNAnswerExtent::whole;
            return false;
        }
        const Token& token = tokens_[at];
        if (token.kind != Token::Kind::word) {
            return false;
        }
        if (extent_ == QNAnswerExtent::partialInsideWord && at + 1 == tokens_.size()) {
            ranOut_ = ranOut_ || std::ranges::any_of(words, [&](std::u16string_view w) {
                          return w.starts_with(token.text);
                      });
            return false;
        }
        return std::ranges::find(words, token.text) != words.end();
    }

    // Every token index at which `slots` (from `slot`, starting at token `at`) can end.
    void ends(std::span<const Slot> slots, std::size_t slot, std::size_t at,
              std::vector<std::size_t>& out) {
        if (slot == slots.size()) {
            out.push_back(at);
            return;
        }
        if (word(at, slots[slot].words)) {
            ends(slots, slot + 1, at + 1, out);
        }
        if (slots[slot].optional) {
            ends(slots, slot + 1, at, out);
        }
    }

    // Whether a sequence of single words starts at `at`; the index after it.
    [[nodiscard]] std::optional<std::size_t> sequence(std::span<const std::u16string_view> words,
                                                      std::size_t at) {
        for (const std::u16string_view w : words) {
            if (!word(at, std::span(&w, 1))) {
                return std::nullopt;
            }
            ++at;
        }
        return at;
    }

    // Where the text after a lead-in ending at `at` starts (the token after its ending), or
    // none when nothing that may end a lead-in stands there.
    [[nodiscard]] std::optional<std::size_t> ending(std::size_t at, Ending ending) {
        if (at >= tokens_.size()) {
            ranOut_ = ranOut_ || extent_ != QNAnswerExtent::whole;
            return std::nullopt;
        }
        const Token& token = tokens_[at];
        if (isMark(token, u":\uFF1A")) {
            return at + 1;
        }
        if (ending == Ending::colon) {
            return std::nullopt;
        }
        if (token.kind == Token::Kind::lineBreak) {
            return at + 1;
        }
        if (isMark(token, u".!")) {
            if (at + 1 >= tokens_.size()) {
                ranOut_ = ranOut_ || extent_ != QNAnswerExtent::whole;
                return std::nullopt;
            }
            return tokens_[at + 1].spaceBefore ? std::optional(at + 1) : std::nullopt;
        }
        if (ending == Ending::anyOrBare && token.kind == Token::Kind::word && token.spaceBefore) {
            return at;
        }
        return std::nullopt;
    }

  private:
    const std::vector<Token>& tokens_;
    QNAnswerExtent extent_;
    bool ranOut_ = false;
};

std::vector<std::u16string_view> wordsOf(const std::vector<Token>& tokens, std::size_t from,
                                         std::size_t to) {
    std::vector<std::u16string_view> words;
    for (std::size_t i = from; i < to && i < tokens.size(); ++i) {
        if (tokens[i].kind == Token::Kind::word) {
            words.push_back(tokens[i].text);
        }
    }
    return words;
}

// Whether the person's words begin with `words`, each typed word standing for one or more of
// them (a slip, a short form: "np" for "no problem").
bool beginsWith(const std::vector<std::u16string_view>& typed,
                const std::vector<std::u16string_view>& words, bool openEnd = false) {
    return typed_words::beginsWith(typed, words, openEnd);
}

constexpr std::size_t kLeadInTokens = 24;

struct LeadIn {
    std::size_t keepFrom = 0;
    bool found = false;
    bool undecided = false;
};

LeadIn findLeadIn(std::u16string_view answer, std::u16string_view input, QNAnswerExtent extent) {
    const std::vector<Token> tokens =
        tokenize(answer, 0, kLeadInTokens, extent == QNAnswerExtent::partialInsideWord);
    // The person's first words, read only when the answer opens like a lead-in.
    std::optional<std::vector<Token>> typedTokens;
    std::vector<std::u16string_view> typedWords;
    const auto typed = [&]() -> const std::vector<std::u16string_view>& {
        if (!typedTokens) {
            typedTokens = tokenize(input, 0, kLeadInTokens);
            typedWords = wordsOf(*typedTokens, 0, typedTokens->size());
        }
        return typedWords;
    };
    Reader reader(tokens, extent);

    // The longest interjection, with the mark after it, if any.
    std::size_t afterInterjection = 0;
    bool interjectionMarked = false;
    for (const auto& form : interjections()) {
        const auto end = reader.sequence(form, 0);
        if (!end || *end <= afterInterjection) {
            continue;
        }
        afterInterjection = *end;
        interjectionMarked = *end < tokens.size() && isMark(tokens[*end], u"!.,");
    }
    const std::size_t phraseStart = afterInterjection + (interjectionMarked ? 1 : 0);

    // The longest phrase with its ending.
    std::optional<std::size_t> phraseEnd;   // token after the phrase's words
    std::optional<std::size_t> textStart;   // token after its ending
    for (const Form& form : leadInForms()) {
        std::vector<std::size_t> ends;
        reader.ends(form.slots, 0, phraseStart, ends);
        for (const std::size_t end : ends) {
            if (end == phraseStart) {
                continue;
            }
            if (const auto after = reader.ending(end, form.ending);
                after && (!textStart || *after > *textStart)) {
                phraseEnd = end;
                textStart = after;
            }
        }
    }

    const auto startOf = [&](std::size_t index) {
        return index < tokens.size() ? tokens[index].start : answer.size();
    };
    LeadIn leadIn;
    const std::vector<std::u16string_view> interjection = wordsOf(tokens, 0, afterInterjection);
    if (textStart) {
        const std::vector<std::u16string_view> phrase = wordsOf(tokens, phraseStart, *phraseEnd);
        std::vector<std::u16string_view> whole = interjection;
        whole.insert(whole.end(), phrase.begin(), phrase.end());
        if (beginsWith(typed(), whole)) {
            return leadIn;  // the person wrote it all
        }
        // Nothing after it: it is the answer, not a lead-in to one.
        if (*textStart >= tokens.size() && extent == QNAnswerExtent::whole) {
            return leadIn;
        }
        leadIn.found = true;
        // The person wrote the phrase, the model put the interjection before it.
        leadIn.keepFrom = !interjection.empty() && beginsWith(typed(), phrase)
                              ? startOf(phraseStart)
                              : startOf(*textStart);
    } else if (!interjection.empty() && interjectionMarked && phraseStart < tokens.size() &&
               tokens[phraseStart].spaceBefore && !beginsWith(typed(), interjection)) {
        leadIn.found = true;
        leadIn.keepFrom = startOf(phraseStart);
    }
    if (reader.ranOut()) {
        // The start may still grow into a lead-in, unless the person's own text begins with
        // every word the answer has so far.
        const bool lastWordOpen = extent == QNAnswerExtent::partialInsideWord && !tokens.empty() &&
                                  tokens.back().kind == Token::Kind::word;
        const auto sofar = wordsOf(tokens, 0, tokens.size() - (lastWordOpen ? 1 : 0));
        leadIn.undecided = sofar.empty() || !beginsWith(typed(), sofar, true);
    }
    return leadIn;
}

bool endsSentence(const Token& token) {
    return token.kind == Token::Kind::lineBreak || isMark(token, u".!?\u3002\uFF01\uFF1F");
}

// Token indices where sentences start in `tokens`; the first token is one when the tokens start
// at the text's start.
std::vector<std::size_t> sentenceStarts(const std::vector<Token>& tokens, bool atTextStart) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == Token::Kind::lineBreak) {
            continue;
        }
        if ((i == 0 && atTextStart) ||
            (i > 0 && endsSentence(tokens[i - 1]) && tokens[i].spaceBefore)) {
            starts.push_back(i);
        }
    }
    return starts;
}

// Sign-offs are short: only the text's last few hundred units are looked at.
constexpr std::size_t kSignOffWindow = 400;

std::size_t windowStart(std::u16string_view text) {
    if (text.size() <= kSignOffWindow) {
        return 0;
    }
    std::size_t from = text.size() - kSignOffWindow;
    // On a whitespace, so that the window's first word is a whole one.
    while (from < text.size() &&
           !text::isWhitespaceOrNewline(text::codePointAt(text, static_cast<std::int64_t>(from)))) {
        ++from;
    }
    return from;
}

bool isSentenceEnd(char32_t c) {
    return c == u'.' || c == u'!' || c == u'?' || c == 0x3002 || c == 0xFF01 || c == 0xFF1F;
}

// How many sentences the text holds, as the tokens' sentence starts count them: one at its first
// character that is not whitespace, then one after each line break and each end mark followed by
// whitespace, when anything follows.
std::size_t countSentences(std::u16string_view text) {
    std::size_t count = 0;
    bool inSentence = false;
    bool afterEnd = false;
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = text::codePointAt(text, static_cast<std::int64_t>(at));
        at += unitsOf(c);
        if (isLineBreak(c)) {
            inSentence = afterEnd = false;
        } else if (text::isWhitespaceOrNewline(c)) {
            inSentence = inSentence && !afterEnd;
            afterEnd = false;
        } else {
            count += inSentence ? 0 : 1;
            inSentence = true;
            afterEnd = isSentenceEnd(c);
        }
    }
    return count;
}

// With `anySentence`, a sentence beyond the person's goes whatever it says, when none of their
// words line up with it.
std::size_t findSignOffs(std::u16string_view answer, std::size_t from,
                         std::u16string_view input, QNAnswerExtent extent,
                         bool anySentence = false) {
    const std::size_t window = std::max(from, windowStart(answer));
    const std::vector<Token> tokens = tokenize(answer, window, kSignOffWindow,
                                               extent == QNAnswerExtent::partialInsideWord);
    const std::vector<std::size_t> starts = sentenceStarts(tokens, window == from);

    // How the answer's words line up with the person's last ones, worked out only when the
    // answer ends like a sign-off.
    std::optional<typed_words::Alignment> alignment;
    std::vector<std::size_t> wordIndex;  // per token: the index of the next word
    std::vector<Token> typedTokens;
    std::vector<std::u16string_view> typedWords;
    const auto lineUp = [&] {
        const std::size_t typedWindow = windowStart(input);
        typedTokens = tokenize(input, typedWindow, kSignOffWindow);
        typedWords = wordsOf(typedTokens, 0, typedTokens.size());
        const auto answerWords = wordsOf(tokens, 0, tokens.size());
        alignment = typed_words::align(typedWords, answerWords);
        std::size_t words = 0;
        for (const Token& token : tokens) {
            wordIndex.push_back(words);
            words += token.kind == Token::Kind::word ? 1 : 0;
        }
        wordIndex.push_back(words);
    };
    // Whether the sentence of tokens [start, end) stands for words the person typed: its opening
    // words (the form's), or half its words, line up with theirs. A correction of the person's
    // own sentence is never chatter.
    const auto typedByPerson = [&](std::size_t start, std::size_t end, std::size_t formWords) {
        if (!alignment) {
            lineUp();
        }
        const std::size_t first = wordIndex[start];
        const std::size_t last = wordIndex[end];
        std::size_t matched = 0;
        bool opening = false;
        for (std::size_t w = first; w < last; ++w) {
            if (alignment->isMatched(w)) {
                ++matched;
                opening = opening || w < first + formWords;
            }
        }
        return last > first && (opening || matched * 2 >= last - first);
    };
    // Whether the sentence, lined up alone, says the person's words again: the answer repeats
    // what they typed, which is judged with the whole answer.
    const auto repeatsThePerson = [&](std::size_t start, std::size_t end) {
        if (!alignment) {
            lineUp();
        }
        const auto words = wordsOf(tokens, start, end);
        return !words.empty() && typed_words::align(typedWords, words).matched * 2 >= words.size();
    };
    // An answer far longer than the text is judged whole, what it added included.
    std::optional<bool> longer;
    const auto farLonger = [&] {
        if (!longer) {
            longer = text::characterCount(answer.substr(from)) >
                     QNCorrectionBounds::kLongerFactor * text::characterCount(input) +
                         QNCorrectionBounds::kLongerSlack;
        }
        return *longer;
    };
    // An answer may lose only the sentences it has beyond the person's (a whole one only those,
    // whatever they say).
    std::optional<std::size_t> beyond;
    const auto sentencesBeyond = [&] {
        if (!beyond) {
            const std::size_t answered = countSentences(answer.substr(from));
            const std::size_t typed = countSentences(input);
            beyond = answered > typed ? answered - typed : 0;
        }
        return *beyond;
    };

    std::size_t keepTo = answer.size();
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t start = starts[starts.size() - 1 - k];
        const std::size_t end = k == 0 ? tokens.size() : starts[starts.size() - k];
        // Never the whole text: something must stand before a sign-off.
        if (start == 0 && window == from) {
            break;
        }
        if (extent == QNAnswerExtent::whole && k + 1 > sentencesBeyond()) {
            break;
        }
        // Only the last sentence may still be growing.
        Reader reader(tokens, k == 0 ? extent : QNAnswerExtent::whole);
        const std::vector<std::u16string_view>* matched = nullptr;
        for (const auto& form : signOffs()) {
            if (reader.sequence(form, start)) {
                matched = &form;
                break;
            }
        }
        if (matched || reader.ranOut()) {
            // The person wrote it, in their own words: it is theirs.
            if (typedByPerson(start, end, matched ? matched->size() : 0)) {
                break;
            }
        } else if (!anySentence || wordsOf(tokens, start, end).empty() ||
                   k + 1 > sentencesBeyond() || typedByPerson(start, end, 0) ||
                   repeatsThePerson(start, end) || farLonger()) {
            // Any other sentence is the model's too ("See you soon!") when the answer has more
            // than the person typed and theirs do not line up with it.
            break;
        }
        keepTo = tokens[start].start;
    }
    return keepTo;
}

}  // namespace

std::size_t findAddedSentences(std::u16string_view answer, std::u16string_view input,
                               QNAnswerExtent extent) {
    return findSignOffs(answer, 0, input, extent, true);
}

QNModelChatter findModelChatter(std::u16string_view answer, std::u16string_view input,
                                QNAnswerExtent extent) {
    QNModelChatter chatter;
    chatter.keepTo = answer.size();
    const LeadIn leadIn = findLeadIn(answer, input, extent);
    if (leadIn.undecided) {
        chatter.undecided = true;
        chatter.keepFrom = answer.size();
        return chatter;
    }
    if (leadIn.found) {
        chatter.leadIn = true;
        chatter.keepFrom = leadIn.keepFrom;
    }
    const std::size_t keepTo = findSignOffs(answer, chatter.keepFrom, input, extent);
    if (keepTo < answer.size() &&
        !text::isBlank(answer.substr(chatter.keepFrom, keepTo - chatter.keepFrom))) {
        chatter.signOff = true;
        chatter.keepTo = keepTo;
    }
    return chatter;
}

}  // namespace ravlin::engine
