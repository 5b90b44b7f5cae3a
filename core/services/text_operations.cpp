#include "core/services/text_operations.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "core/services/character_view.h"
#include "core/services/correction_bounds.h"
#include "core/services/edit_distance.h"
#include "core/services/token_budget.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using engine::detail::CharacterView;
using engine::detail::editDistance;

std::vector<std::u16string_view> characters(std::u16string_view text) {
    CharacterView view(text);
    std::vector<std::u16string_view> result;
    result.reserve(static_cast<std::size_t>(view.size()));
    for (std::int64_t i = 0; i < view.size(); ++i) {
        result.push_back(view.at(i));
    }
    return result;
}

bool isSentenceTerminator(std::u16string_view character) {
    return character == u"\n" || character == u"\r\n" || character == u"." || character == u"!" ||
           character == u"?" || character == u"\u3002" || character == u"\uFF01" ||
           character == u"\uFF1F";
}

bool isCloser(std::u16string_view character) {
    return character.size() == 1 && std::u16string_view(u"\"'\u201D\u2019)]}").find(character[0]) !=
                                        std::u16string_view::npos;
}

}  // namespace

std::u16string trailingWhitespace(std::u16string_view text) {
    return std::u16string(engine::detail::trailingWhitespaceRun(text));
}

std::int64_t boundedEditDistance(std::u16string_view a, std::u16string_view b,
                                 std::int64_t maximum) {
    if (engine::detail::isAscii(a) && engine::detail::isAscii(b) &&
        a.find(u'\r') == std::u16string_view::npos && b.find(u'\r') == std::u16string_view::npos) {
        return editDistance(a, b, maximum);
    }
    return editDistance(characters(a), characters(b), maximum);
}

}  // namespace ravlin

namespace ravlin::engine {

std::optional<std::u16string> boundedContextBefore(const std::optional<std::u16string>& context,
                                                   std::int64_t limit) {
    if (!context || text::isBlank(*context)) {
        return std::nullopt;
    }
    limit = std::max<std::int64_t>(limit, 0);
    const CharacterView view(*context);
    if (view.size() <= limit) {
        return context;
    }
    const std::int64_t tailStart = view.size() - limit;
    std::optional<std::int64_t> boundary;
    for (std::int64_t index = tailStart; index < view.size(); ++index) {
        if (!isSentenceTerminator(view.at(index))) {
            continue;
        }
        std::int64_t after = index + 1;
        while (after < view.size() && (view.isWhitespace(after) || isCloser(view.at(after)))) {
            ++after;
        }
        boundary = after;
    }
    const std::u16string tail(view.slice(tailStart, view.size()));
    if (!boundary) {
        return tail;
    }
    const auto candidate = view.slice(*boundary, view.size());
    if (text::isBlank(candidate)) {
        return tail;
    }
    return std::u16string(candidate);
}

std::optional<EchoStripResult> removeEchoedContext(
    std::u16string_view output, const std::optional<std::u16string>& contextBefore,
    std::u16string_view input) {
    if (!contextBefore || contextBefore->empty()) {
        return EchoStripResult{std::u16string(output), {}};
    }
    const std::u16string_view context = *contextBefore;
    const auto typedAgain = [&] { return !input.empty() && holdsWordsOf(input, context); };
    if (detail::startsWith(output, context)) {
        if (typedAgain()) {
            return EchoStripResult{std::u16string(output), {}};
        }
        std::u16string rest(output.substr(context.size()));
        if (text::isBlank(rest)) {
            return std::nullopt;
        }
        return EchoStripResult{
            std::move(rest),
            {QNCorrectionNote::plain("stripped echoed context", QNCorrectionStageID::echoStrip,
                                     "echo-strip.context-prefix-strip")}};
    }
    if (detail::countCharacters(context) >= 4 && detail::contains(output, context) &&
        !typedAgain()) {
        return std::nullopt;
    }
    return EchoStripResult{std::u16string(output), {}};
}

std::string rejectedOutputNote(std::u16string_view output, std::u16string_view original) {
    const std::int64_t delta = detail::countCharacters(output) - detail::countCharacters(original);
    return "rejected_output: hash=" + fingerprint(output) + " len_delta=" + std::to_string(delta);
}

std::u16string trimmingRestoredTrailingWhitespace(std::u16string_view text,
                                                  std::u16string_view rawPartial,
                                                  std::u16string_view input) {
    if (!rawPartial.empty() &&
        text::isWhitespaceOrNewline(text::codePointAt(
            rawPartial, static_cast<std::int64_t>(detail::lastCharacterStart(rawPartial))))) {
        return std::u16string(text);
    }
    const auto restored = detail::trailingWhitespaceRun(input);
    if (restored.empty() || restored.find_first_not_of(u" \t") != std::u16string_view::npos) {
        return std::u16string(text);
    }
    if (text.size() >= restored.size() && text.substr(text.size() - restored.size()) == restored) {
        return std::u16string(text.substr(0, text.size() - restored.size()));
    }
    return std::u16string(text);
}

}  // namespace ravlin::engine
