// Properties of the local rule pass on arbitrary UTF-16 text (lone surrogates included):
// it does not crash, every changed range lies inside the result, a second pass over its own
// output changes nothing, and every scanner gives what the regular-expression form gives.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/rules/dictionary_rules.h"
#include "core/rules/local_fixes.h"
#include "core/rules/pattern_form.h"
#include "core/rules/word_rules.h"
#include "core/text/unicode.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "local fixes property broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ravlin;
    // The first byte picks how the rest reads: as UTF-8 (mostly ASCII words, as typed) or as
    // raw UTF-16 code units (lone surrogates included).
    constexpr std::size_t kMaxUnits = 4096;
    if (size == 0) {
        return 0;
    }
    std::u16string text;
    if (data[0] & 1) {
        std::size_t length = size - 1 < kMaxUnits ? size - 1 : kMaxUnits;
        text = text::toUtf16(std::string_view(reinterpret_cast<const char*>(data + 1), length));
    } else {
        for (std::size_t at = 1; at + 1 < size && text.size() < kMaxUnits; at += 2) {
            text.push_back(static_cast<char16_t>(data[at] | (data[at + 1] << 8)));
        }
    }

    QNModelLocalFixResult result = applyLocalFixes(text);
    for (const auto& range : result.changedRanges) {
        require(range.location >= 0 && range.length >= 1 &&
                    range.end() <= static_cast<std::int64_t>(result.text.size()),
                "a changed range lies outside the result");
    }
    require(result.didChange || result.text == text, "an unchanged result differs from the input");
    require(result.didChange == !result.changedRanges.empty(),
            "changed ranges disagree with didChange");

    QNModelLocalFixResult again = applyLocalFixes(result.text);
    require(!again.didChange && again.text == result.text, "a second pass changed the text");

    require(collapseWhitespace(text) == pattern_form::collapseWhitespace(text),
            "collapseWhitespace");
    require(collapseRepeatedWords(text) == pattern_form::collapseRepeatedWords(text),
            "collapseRepeatedWords");
    require(capitalizeLoneI(text) == pattern_form::capitalizeLoneI(text), "capitalizeLoneI");
    require(collapseSpacedInitialisms(text) == pattern_form::collapseSpacedInitialisms(text),
            "collapseSpacedInitialisms");
    require(applyPhrasePatterns(text) == pattern_form::applyPhrasePatterns(text),
            "applyPhrasePatterns");
    for (const ReplacementMap* map : {&initialismMap(), &contractionMapLong(),
                                      &contractionMapShort(), &typoMapLong(), &typoMapShort()}) {
        require(replaceWords(text, *map) == pattern_form::replaceWords(text, *map), "replaceWords");
    }
    return 0;
}
