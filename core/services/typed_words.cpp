#include "core/services/typed_words.h"

#include <algorithm>
#include <map>
#include <utility>

#include "core/services/edit_distance.h"

namespace ravlin::typed_words {
namespace {

// Short forms people type in chat and what they stand for; readings separated by "|".
constexpr std::pair<std::u16string_view, std::u16string_view> kShortForms[] = {
    {u"2", u"to|too"},
    {u"2day", u"today"},
    {u"2moro", u"tomorrow"},
    {u"2morrow", u"tomorrow"},
    {u"2mrw", u"tomorrow"},
    {u"2nite", u"tonight"},
    {u"4", u"for"},
    {u"abt", u"about"},
    {u"alright", u"all right"},
    {u"appt", u"appointment"},
    {u"appts", u"appointments"},
    {u"asap", u"as soon as possible"},
    {u"atm", u"at the moment"},
    {u"b/c", u"because"},
    {u"b4", u"before"},
    {u"bbl", u"be back later"},
    {u"bc", u"because"},
    {u"bcuz", u"because"},
    {u"bday", u"birthday"},
    {u"brb", u"be right back"},
    {u"btw", u"by the way"},
    {u"convo", u"conversation"},
    {u"cos", u"because"},
    {u"coz", u"because"},
    {u"cu", u"see you"},
    {u"cuz", u"because"},
    {u"cya", u"see you|see ya"},
    {u"def", u"definitely"},
    {u"defo", u"definitely"},
    {u"dunno", u"don't know|i don't know"},
    {u"fyi", u"for your information"},
    {u"gimme", u"give me"},
    {u"gm", u"good morning"},
    {u"gn", u"good night"},
    {u"gonna", u"going to"},
    {u"gotta", u"got to|have to"},
    {u"gr8", u"great"},
    {u"hbu", u"how about you"},
    {u"hru", u"how are you"},
    {u"id", u"i'd"},
    {u"idc", u"i don't care"},
    {u"idk", u"i don't know"},
    {u"ill", u"i'll|i will"},
    {u"im", u"i'm|i am"},
    {u"imho", u"in my humble opinion"},
    {u"imo", u"in my opinion"},
    {u"ive", u"i've|i have"},
    {u"jk", u"just kidding"},
    {u"k", u"okay|ok"},
    {u"kk", u"okay|ok"},
    {u"l8r", u"later"},
    {u"lemme", u"let me"},
    {u"lmk", u"let me know"},
    {u"msg", u"message"},
    {u"msgs", u"messages"},
    {u"mtg", u"meeting"},
    {u"mtgs", u"meetings"},
    {u"n", u"and"},
    {u"nite", u"night"},
    {u"np", u"no problem"},
    {u"nvm", u"never mind"},
    {u"obv", u"obviously"},
    {u"obvi", u"obviously"},
    {u"ofc", u"of course"},
    {u"ok", u"okay"},
    {u"okay", u"ok"},
    {u"omw", u"on my way"},
    {u"pic", u"picture"},
    {u"pics", u"pictures"},
    {u"pls", u"please"},
    {u"plz", u"please"},
    {u"ppl", u"people"},
    {u"prob", u"probably"},
    {u"probs", u"probably"},
    {u"prolly", u"probably"},
    {u"r", u"are"},
    {u"rite", u"right"},
    {u"rn", u"right now"},
    {u"sry", u"sorry"},
    {u"srry", u"sorry"},
    {u"srsly", u"seriously"},
    {u"sth", u"something"},
    {u"smth", u"something"},
    {u"tbh", u"to be honest"},
    {u"thanx", u"thanks|thank you"},
    {u"tho", u"though"},
    {u"thnx", u"thanks|thank you"},
    {u"thru", u"through"},
    {u"thx", u"thanks|thank you"},
    {u"tmr", u"tomorrow"},
    {u"tmrow", u"tomorrow"},
    {u"tmrw", u"tomorrow"},
    {u"tmw", u"tomorrow"},
    {u"tnx", u"thanks|thank you"},
    {u"tomoz", u"tomorrow"},
    {u"tonite", u"tonight"},
    {u"ttyl", u"talk to you later"},
    {u"tx", u"thanks|thank you"},
    {u"ty", u"thank you|thanks"},
    {u"tysm", u"thank you so much"},
    {u"tyvm", u"thank you very much"},
    {u"u", u"you"},
    {u"ur", u"your|you're|you are"},
    {u"w", u"with"},
    {u"w/", u"with"},
    {u"w/o", u"without"},
    {u"wanna", u"want to"},
    {u"wbu", u"what about you"},
    {u"wk", u"week"},
    {u"wknd", u"weekend"},
    {u"wyd", u"what are you doing|what you doing"},
    {u"y", u"why"},
    {u"ya", u"you|yeah"},
    {u"yr", u"your|year"},
    {u"yw", u"you're welcome"},
    {u"ez", u"easy"},
    {u"bro", u"brother"},
    {u"hw", u"homework"},
};

const std::map<std::u16string, std::vector<Expansion>, std::less<>>& shortForms() {
    static const auto table = [] {
        std::map<std::u16string, std::vector<Expansion>, std::less<>> forms;
        for (const auto& [form, readings] : kShortForms) {
            auto& entry = forms[std::u16string(form)];
            std::size_t from = 0;
            while (from <= readings.size()) {
                const auto bar = std::min(readings.find(u'|', from), readings.size());
                Expansion words;
                std::size_t at = from;
                while (at < bar) {
                    const auto space = std::min(readings.find(u' ', at), bar);
                    words.emplace_back(readings.substr(at, space - at));
                    at = space + 1;
                }
                entry.push_back(std::move(words));
                from = bar + 1;
            }
        }
        return forms;
    }();
    return table;
}

bool slipApart(std::u16string_view typed, std::u16string_view word) {
    if (typed.size() < 3 || word.size() < 3 || typed.size() > kLongestSlipWord ||
        word.size() > kLongestSlipWord) {
        return false;
    }
    const std::int64_t allowed = std::max(typed.size(), word.size()) >= 6 ? 2 : 1;
    return engine::detail::transposingEditDistance(typed, word, allowed) <= allowed;
}

bool sameWords(std::span<const std::u16string> expansion,
               std::span<const std::u16string_view> words) {
    return std::ranges::equal(expansion, words,
                              [](const std::u16string& a, std::u16string_view b) { return a == b; });
}

bool runTogether(std::u16string_view typed, std::u16string_view first,
                 std::u16string_view second) {
    return typed.size() == first.size() + second.size() && typed.starts_with(first) &&
           typed.ends_with(second);
}

}  // namespace

std::span<const Expansion> expansionsOf(std::u16string_view typed) {
    const auto& forms = shortForms();
    const auto found = forms.find(typed);
    return found == forms.end() ? std::span<const Expansion>() : std::span(found->second);
}

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

namespace {

// standsFor with the typed word's readings looked up already.
bool standsForReading(std::u16string_view typed, std::span<const Expansion> readings,
                      std::u16string_view answer) {
    if (typed == answer || slipApart(typed, answer)) {
        return true;
    }
    for (const Expansion& reading : readings) {
        if (reading.size() == 1 && reading.front() == answer) {
            return true;
        }
    }
    return typed.size() >= 3 && abbreviates(typed, answer);
}

}  // namespace

bool standsFor(std::u16string_view typed, std::u16string_view answer) {
    return standsForReading(typed, expansionsOf(typed), answer);
}

namespace {

// With `longest`, every reading that takes all the typed words is followed to its end, and the
// most words one takes is kept there; each pair is still looked at once.
bool readsAs(std::span<const std::u16string_view> typed, std::span<const std::u16string_view> words,
             bool openEnd, bool everyTypedWord, std::size_t* longest = nullptr) {
    const std::size_t n = typed.size();
    const std::size_t m = words.size();
    // Pairs (typed word, word) already found not to lead anywhere.
    std::vector<char> failed((n + 1) * (m + 1), 0);
    // Each typed word run together with the next, made at its first use.
    std::vector<std::u16string> joined(n);
    const auto from = [&](auto& self, std::size_t i, std::size_t j) -> bool {
        if (longest != nullptr && i == n) {
            *longest = std::max(*longest, j);
            return false;
        }
        if (j == m) {
            return !everyTypedWord || i == n;
        }
        if (i == n || failed[i * (m + 1) + j]) {
            return false;
        }
        const std::u16string_view word = typed[i];
        if (standsFor(word, words[j]) && self(self, i + 1, j + 1)) {
            return true;
        }
        for (const Expansion& reading : expansionsOf(word)) {
            if (reading.size() < 2) {
                continue;
            }
            const std::size_t left = m - j;
            if (left >= reading.size()) {
                if (sameWords(reading, words.subspan(j, reading.size())) &&
                    self(self, i + 1, j + reading.size())) {
                    return true;
                }
            } else if (openEnd && sameWords(std::span(reading).first(left), words.subspan(j))) {
                return true;
            }
        }
        if (j + 1 < m && runTogether(word, words[j], words[j + 1]) && self(self, i + 1, j + 2)) {
            return true;
        }
        if (i + 1 < n) {
            if (joined[i].empty()) {
                joined[i] = std::u16string(word) + std::u16string(typed[i + 1]);
            }
            if (standsFor(joined[i], words[j]) && self(self, i + 2, j + 1)) {
                return true;
            }
        }
        failed[i * (m + 1) + j] = 1;
        return false;
    };
    return from(from, 0, 0);
}

}  // namespace

bool beginsWith(std::span<const std::u16string_view> typed,
                std::span<const std::u16string_view> words, bool openEnd) {
    return readsAs(typed, words, openEnd, false);
}

bool standsForAll(std::span<const std::u16string_view> typed,
                  std::span<const std::u16string_view> words) {
    return readsAs(typed, words, false, true);
}

std::size_t longestReading(std::span<const std::u16string_view> typed,
                           std::span<const std::u16string_view> words) {
    std::size_t longest = 0;
    readsAs(typed, words, false, true, &longest);
    return longest;
}

Alignment align(std::span<const std::u16string_view> typedAll,
                std::span<const std::u16string_view> answerAll) {
    Alignment alignment;
    alignment.typedOf.assign(answerAll.size(), -1);
    const std::size_t typedSkip =
        typedAll.size() > kMaximumAlignedWords ? typedAll.size() - kMaximumAlignedWords : 0;
    const std::size_t answerSkip =
        answerAll.size() > kMaximumAlignedWords ? answerAll.size() - kMaximumAlignedWords : 0;
    const auto typed = typedAll.subspan(typedSkip);
    const auto answer = answerAll.subspan(answerSkip);
    const std::size_t n = typed.size();
    const std::size_t m = answer.size();
    if (n == 0 || m == 0) {
        return alignment;
    }

    // How a cell goes on: skip a typed word, skip an answer word, or a typed word (or two run
    // apart) standing for `take` answer words.
    enum class Step : std::uint8_t { skipTyped, skipAnswer, match, joinedTyped };
    struct Cell {
        std::int32_t best = 0;
        Step step = Step::skipTyped;
        std::uint8_t take = 0;
    };
    std::vector<Cell> cells((n + 1) * (m + 1));
    const auto at = [&](std::size_t i, std::size_t j) -> Cell& { return cells[i * (m + 1) + j]; };
    std::vector<std::u16string> joined(n);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        joined[i] = std::u16string(typed[i]) + std::u16string(typed[i + 1]);
    }

    for (std::size_t i = n; i-- > 0;) {
        const auto readings = expansionsOf(typed[i]);
        for (std::size_t j = m; j-- > 0;) {
            Cell cell{at(i + 1, j).best, Step::skipTyped, 0};
            const auto consider = [&](std::int32_t score, Step step, std::size_t take) {
                if (score > cell.best) {
                    cell = {score, step, static_cast<std::uint8_t>(take)};
                }
            };
            if (standsForReading(typed[i], readings, answer[j])) {
                consider(1 + at(i + 1, j + 1).best, Step::match, 1);
            }
            for (const Expansion& reading : readings) {
                if (reading.size() >= 2 && j + reading.size() <= m &&
                    sameWords(reading, answer.subspan(j, reading.size()))) {
                    consider(static_cast<std::int32_t>(reading.size()) +
                                 at(i + 1, j + reading.size()).best,
                             Step::match, reading.size());
                }
            }
            if (j + 1 < m && runTogether(typed[i], answer[j], answer[j + 1])) {
                consider(2 + at(i + 1, j + 2).best, Step::match, 2);
            }
            if (i + 1 < n && standsFor(joined[i], answer[j])) {
                consider(1 + at(i + 2, j + 1).best, Step::joinedTyped, 1);
            }
            consider(at(i, j + 1).best, Step::skipAnswer, 0);
            at(i, j) = cell;
        }
    }

    std::size_t i = 0;
    std::size_t j = 0;
    while (i < n && j < m) {
        const Cell& cell = at(i, j);
        switch (cell.step) {
            case Step::skipTyped:
                ++i;
                break;
            case Step::skipAnswer:
                ++j;
                break;
            case Step::match:
            case Step::joinedTyped:
                for (std::size_t k = 0; k < cell.take; ++k) {
                    alignment.typedOf[answerSkip + j + k] = static_cast<std::int32_t>(typedSkip + i);
                }
                alignment.matched += cell.take;
                j += cell.take;
                i += cell.step == Step::joinedTyped ? 2 : 1;
                break;
        }
    }
    return alignment;
}

}  // namespace ravlin::typed_words
