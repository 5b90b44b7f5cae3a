#include "core/rules/rule_tables.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

namespace ravlin {
namespace {

ReplacementMap buildMap(
    std::initializer_list<std::pair<std::u16string_view, std::u16string_view>> rows) {
    ReplacementMap map;
    for (const auto& [key, value] : rows) {
        if (!map.emplace(std::u16string(key), std::u16string(value)).second) {
            std::fputs("local rules: duplicate key in a replacement table\n", stderr);
            std::abort();
        }
    }
    return map;
}

}  // namespace

const std::vector<std::string_view>& repeatedWordCandidates() {
    static const std::vector<std::string_view> words{
        "the", "a",  "an", "is", "are", "was", "were", "and",  "or", "but",
        "of",  "to", "in", "on", "at",  "for", "with", "this", "it"};
    return words;
}

const std::vector<PatternReplacement>& loneIPatterns() {
    static const std::vector<PatternReplacement> patterns{
        {R"re((?i)\bi'm\b(?=[\s.,!?;:)\]]))re", u"I'm"},
        {R"re((?i)\bi've\b(?=[\s.,!?;:)\]]))re", u"I've"},
        {R"re((?i)\bi'll\b(?=[\s.,!?;:)\]]))re", u"I'll"},
        {R"re((?i)\bi'd\b(?=[\s.,!?;:)\]]))re", u"I'd"},
        {R"re((?i)\bi\b(?=[\s.,!?;:)\]]))re", u"I"},
    };
    return patterns;
}

const std::vector<PatternReplacement>& spacedInitialismPatterns() {
    static const std::vector<PatternReplacement> patterns{
        {R"re((?i)\bA[ \t]+I\b(?=$|[\s.,!?;:)\]]))re", u"AI"},
        {R"re((?i)\bU[ \t]+I\b(?=$|[\s.,!?;:)\]]))re", u"UI"},
        {R"re((?i)\bU[ \t]+X\b(?=$|[\s.,!?;:)\]]))re", u"UX"},
        {R"re((?i)\bA[ \t]+P[ \t]+I\b(?=$|[\s.,!?;:)\]]))re", u"API"},
        {R"re((?i)\bL[ \t]+L[ \t]+M\b(?=$|[\s.,!?;:)\]]))re", u"LLM"},
        {R"re((?i)\bJ[ \t]+S[ \t]+O[ \t]+N\b(?=$|[\s.,!?;:)\]]))re", u"JSON"},
        {R"re((?i)\bU[ \t]+R[ \t]+L\b(?=$|[\s.,!?;:)\]]))re", u"URL"},
    };
    return patterns;
}

const std::vector<PatternReplacement>& phrasePatterns() {
    static const std::vector<PatternReplacement> patterns{
        {R"re((?i)\bhelowoeld[ \t]+heklowowkrd\b(?=[\s.,!?;:)\]]))re", u"hello world"},
        {R"re((?i)\bnit[ \t]+working\b(?=[\s.,!?;:)\]]))re", u"not working"},
        {R"re((?i)\bsjjty[ \t]+ans[ \t]+not[ \t]+realy[ \t]+oekr\b(?=[\s.,!?;:)\]]))re",
         u"shitty and not really work"},
        {R"re((?i)\bshity[ \t]+snd[ \t]+not[ \t]+really[ \t]+work\b(?=[\s.,!?;:)\]]))re",
         u"shitty and not really work"},
        {R"re((?i)\bshity[ \t]+snd[ \t]+not[ \t]+realy[ \t]+oekr\b(?=[\s.,!?;:)\]]))re",
         u"shitty and not really work"},
    };
    return patterns;
}

const ReplacementMap& initialismMap() {
    static const ReplacementMap map = buildMap({
        {u"ai", u"AI"},
        {u"ui", u"UI"},
        {u"ux", u"UX"},
        {u"api", u"API"},
        {u"llm", u"LLM"},
        {u"json", u"JSON"},
        {u"url", u"URL"},
    });
    return map;
}

const ReplacementMap& contractionMapLong() {
    static const ReplacementMap map = buildMap({
        {u"dont", u"don't"},
        {u"cant", u"can't"},
        {u"wont", u"won't"},
        {u"didnt", u"didn't"},
        {u"doesnt", u"doesn't"},
        {u"wouldnt", u"wouldn't"},
        {u"couldnt", u"couldn't"},
        {u"shouldnt", u"shouldn't"},
        {u"isnt", u"isn't"},
        {u"arent", u"aren't"},
        {u"wasnt", u"wasn't"},
        {u"werent", u"weren't"},
        {u"hasnt", u"hasn't"},
        {u"havent", u"haven't"},
        {u"im", u"I'm"},
        {u"ive", u"I've"},
    });
    return map;
}

const ReplacementMap& contractionMapShort() {
    static const ReplacementMap map = buildMap({
        {u"ill", u"I'll"},
        {u"id", u"I'd"},
    });
    return map;
}

const ReplacementMap& typoMapLong() {
    static const ReplacementMap map = buildMap({
        {u"helowoeld", u"hello world"},
        {u"heklowowkrd", u"hello world"},
        {u"hekoworkd", u"hello world"},
        {u"hellowword", u"hello world"},
        {u"hellow", u"hello"},
        {u"helli", u"hello"},
        {u"eorkld", u"world"},
        {u"sjiukd", u"should"},
        {u"thisi", u"this"},
        {u"rhis", u"this"},
        {u"thjwxis", u"this"},
        {u"fstjllcfeel", u"still feel"},
        {u"fucjing", u"fucking"},
        {u"fucing", u"fucking"},
        {u"sjjty", u"shitty"},
        {u"shity", u"shitty"},
        {u"teh", u"the"},
        {u"taht", u"that"},
        {u"htat", u"that"},
        {u"eorking", u"working"},
        {u"oekr", u"work"},
        {u"mesage", u"message"},
        {u"corect", u"correct"},
        {u"corected", u"corrected"},
        {u"realy", u"really"},
        {u"recieve", u"receive"},
        {u"occured", u"occurred"},
        {u"wierd", u"weird"},
        {u"freind", u"friend"},
        {u"alot", u"a lot"},
    });
    return map;
}

const ReplacementMap& typoMapShort() {
    static const ReplacementMap map = buildMap({
        {u"ll", u"all"},
        {u"te", u"the"},
    });
    return map;
}

}  // namespace ravlin
