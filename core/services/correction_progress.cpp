#include "core/services/correction_progress.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/services/character_view.h"
#include "core/services/text_operations.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using engine::detail::CharacterView;

// One maximal run of whitespace or non-whitespace characters; positions are character indices.
struct QNModelCorrectionProgressToken {
    bool isWhitespace = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
};

std::vector<QNModelCorrectionProgressToken> tokenise(const CharacterView& view) {
    std::vector<QNModelCorrectionProgressToken> tokens;
    for (std::int64_t index = 0; index < view.size(); ++index) {
        const bool whitespace = view.isWhitespace(index);
        if (tokens.empty() || tokens.back().isWhitespace != whitespace) {
            tokens.push_back({whitespace, index, index + 1});
        } else {
            tokens.back().end = index + 1;
        }
    }
    return tokens;
}

// How many of the `restLength` typed characters starting at `from` the partial word covers.
std::int64_t coveredCharacters(const CharacterView& typed, std::int64_t from,
                               std::int64_t restLength, std::u16string_view word,
                               std::int64_t wordLength, bool mayStillGrow) {
    if (wordLength >= restLength) {
        return restLength;
    }
    if (!mayStillGrow) {
        return restLength - wordLength < 3 ? restLength : wordLength;
    }
    const auto prefix = typed.slice(from, from + wordLength);
    const auto lowerWord = engine::detail::lower(word);
    if (prefix == word || engine::detail::lower(prefix) == lowerWord) {
        return wordLength;
    }
    const std::int64_t tolerance = wordLength < 2 ? 1 : std::min<std::int64_t>(wordLength / 2, 2);
    const auto rest = engine::detail::lower(typed.slice(from, from + restLength));
    if (boundedEditDistance(rest, lowerWord, tolerance) <= tolerance) {
        return restLength;
    }
    return wordLength;
}

}  // namespace

std::optional<std::u16string> QNModelCorrectionProgress::displayText(std::u16string_view original,
                                                                     std::u16string_view partial) {
    if (partial.empty()) {
        return std::nullopt;
    }
    if (original.empty() || text::canonicallyEqual(partial, original)) {
        return std::u16string(partial);
    }
    const CharacterView typed(original);
    const CharacterView answer(partial);
    const auto typedTokens = tokenise(typed);
    const auto answerTokens = tokenise(answer);
    const bool answerEndsInWhitespace = answer.isWhitespace(answer.size() - 1);

    std::size_t cursor = 0;
    std::int64_t covered = 0;
    for (std::size_t k = 0; k < answerTokens.size(); ++k) {
        const auto& piece = answerTokens[k];
        while (cursor < typedTokens.size() && typedTokens[cursor].end <= covered) {
            ++cursor;
        }
        if (cursor == typedTokens.size()) {
            covered = typed.size();
            break;
        }
        const auto& token = typedTokens[cursor];
        if (piece.isWhitespace) {
            if (token.isWhitespace && covered <= token.start) {
                covered = token.end;
                ++cursor;
            }
            continue;
        }
        if (token.isWhitespace) {
            continue;
        }
        const std::int64_t from = std::max(token.start, covered);
        const bool mayStillGrow = k + 1 == answerTokens.size() && !answerEndsInWhitespace;
        const std::int64_t reach = from + coveredCharacters(typed, from, token.end - from,
                                                            answer.slice(piece.start, piece.end),
                                                            piece.end - piece.start, mayStillGrow);
        covered = std::min(reach, token.end);
        if (reach >= token.end) {
            ++cursor;
        }
    }
    const std::int64_t keptFrom = std::clamp<std::int64_t>(covered, 0, typed.size());
    // The mark the person paused at, ending what they typed, stays after the answer's last word
    // (the whole answer keeps it too) unless the answer ends with a mark of that kind itself.
    std::int64_t markAt = typed.size();
    while (markAt > 0 && typed.isWhitespace(markAt - 1)) {
        --markAt;
    }
    --markAt;
    const std::u16string_view answerEnd = engine::detail::trimmedView(partial);
    if (markAt >= 0 && keptFrom > markAt && typed.at(markAt).size() == 1 &&
        engine::detail::isPieceMark(typed.at(markAt)[0]) && !answerEnd.empty() &&
        !engine::detail::isPieceMark(answerEnd.back())) {
        std::u16string display(partial.substr(
            0, partial.size() - engine::detail::trailingWhitespaceRun(partial).size()));
        display += typed.slice(markAt, typed.size());
        return display;
    }
    std::u16string display(partial);
    display += typed.slice(keptFrom, typed.size());
    return display;
}

}  // namespace ravlin
