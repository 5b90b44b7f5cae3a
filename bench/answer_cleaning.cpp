// Cleaning of one model answer, as the engine does for every partial and completed event:
// sanitizer, echoed-context strip and misbehavior screening with the default registry.
#include <benchmark/benchmark.h>

#include "bench/bench_input.h"
#include "core/engine/correction_engine.h"
#include "core/services/correction_bounds.h"
#include "core/services/correction_progress.h"
#include "core/services/misbehavior_rules.h"
#include "core/services/output_sanitizer.h"
#include "core/services/text_operations.h"
#include "core/text/unicode.h"

namespace {

using namespace ravlin;

// A typical one-sentence correction: the model restored a capital, fixed two typos, added a
// preamble and a full stop the user never typed, and matched no trailing space.
const std::u16string kInput = u"i think teh meeting got moved to thursday afternoon ";
const std::u16string kAnswer =
    u"Here is the corrected version: I think the meeting got moved to Thursday afternoon.";
const std::optional<std::u16string> kContext =
    u"We talked about the launch plan yesterday. Everyone agreed on the dates.";

std::u16string cleanAnswer(const std::u16string& answer, const std::u16string& input,
                           const std::optional<std::u16string>& context) {
    const auto sanitized = sanitizeModelOutput(answer, input);
    const auto stripped = engine::removeEchoedContext(sanitized.cleaned, context);
    if (!stripped) {
        return {};
    }
    if (QNModelMisbehaviorRegistry::defaultRegistry().detect(stripped->text, input)) {
        return {};
    }
    if (notACorrection(stripped->text, input)) {
        return {};
    }
    return stripped->text;
}

void BM_CleanOneSentenceAnswer(benchmark::State& state) {
    const auto context = engine::boundedContextBefore(kContext, engine::kContextCharacterLimit);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cleanAnswer(kAnswer, kInput, context));
    }
}
BENCHMARK(BM_CleanOneSentenceAnswer);

// The same steps on a whole draft answered back with a preamble (the draft as input and answer).
void BM_CleanDraftAnswer(benchmark::State& state) {
    const auto input = bench::benchText(static_cast<std::size_t>(state.range(0)));
    const std::u16string answer = u"Here is the corrected version: " + input;
    const auto context = engine::boundedContextBefore(kContext, engine::kContextCharacterLimit);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cleanAnswer(answer, input, context));
    }
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_CleanDraftAnswer)->Arg(2000)->Arg(20000);

// The correction bounds at their slowest: an answer as long as the draft whose every word differs
// from the draft's (each letter moved one on), so that each typed word is looked for among all of
// the answer's words.
void BM_BoundsAgainstOtherWords(benchmark::State& state) {
    const auto input = bench::benchText(static_cast<std::size_t>(state.range(0)));
    std::u16string answer = input;
    for (auto& unit : answer) {
        if (unit >= u'a' && unit < u'z') {
            ++unit;
        }
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(notACorrection(answer, input));
    }
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_BoundsAgainstOtherWords)->Arg(2000)->Arg(20000);

// Hurried chat typing answered in full, its last sentence the person's own in chat form, with a
// sign-off the model added: the answer's words are lined up with the typed ones to tell them
// apart. Then the worst a sign-off can cost: an answer whose every sentence opens like one
// ("Let me know."), against as many one-letter typed words as the window holds.
void BM_CleanChatAnswerWithSignOff(benchmark::State& state) {
    const std::u16string input =
        u"i sent the report 2day. the slides r attached. lmk if u need anything else";
    const std::u16string answer =
        u"I sent the report today. The slides are attached. Let me know if you need anything "
        u"else. I hope this helps!";
    for (auto _ : state) {
        benchmark::DoNotOptimize(cleanAnswer(answer, input, std::nullopt));
    }
}
BENCHMARK(BM_CleanChatAnswerWithSignOff);

void BM_SignOffsAllTheWay(benchmark::State& state) {
    std::u16string input;
    while (input.size() < 2000) {
        input += u"u r ";
    }
    std::u16string answer;
    while (answer.size() < static_cast<std::size_t>(state.range(0))) {
        answer += u"Let me know. ";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(sanitizeModelOutput(answer, input));
        benchmark::DoNotOptimize(sanitizeModelPartial(answer, input));
    }
}
BENCHMARK(BM_SignOffsAllTheWay)->Arg(2000)->Arg(20000);

// Answers built to make cleaning work hard: thousands of nested wrappings or markers, each of
// which the sanitizer strips in its own pass, around a non-ASCII character so that no ASCII
// shortcut applies. Sizes are UTF-16 units.
std::u16string repeated(std::u16string_view piece, std::size_t units) {
    std::u16string out;
    while (out.size() + piece.size() <= units) {
        out += piece;
    }
    return out;
}

std::u16string stripHeavyAnswer(int shape, std::size_t units) {
    switch (shape) {
        case 0:  // quote markers: "> > > ... é"
            return repeated(u"> ", units - 1) + u"\u00e9";
        case 1: {  // nested emphasis: "***...é...***"
            const auto half = repeated(u"*", (units - 1) / 2);
            return half + u"\u00e9" + half;
        }
        case 2: {  // nested quotes
            const auto half = repeated(u"\"", (units - 1) / 2);
            return half + u"\u00e9" + half;
        }
        case 3:  // ordered and task-list items, alternating
            return repeated(u"1. - [x] ", units - 1) + u"\u00e9";
        case 4:  // added full stops separated by ideographic spaces, stripped one by one
        {
            std::u16string answer = u"\u00e9";
            return answer.append(repeated(u".\u3000", units - 1));
        }
        default: {  // nested code fences, each with a language line
            const auto half = repeated(u"```x\n", (units - 1) / 2);
            std::u16string closing = repeated(u"\n```", (units - 1) / 2);
            return half + u"\u00e9" + closing;
        }
    }
}

constexpr const char* kShapeNames[] = {"quote-prefix", "emphasis",   "quotes",
                                       "list-items",   "full-stops", "code-fences"};

void BM_CleanStripHeavyAnswer(benchmark::State& state) {
    const auto shape = static_cast<int>(state.range(0));
    const auto answer = stripHeavyAnswer(shape, static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(cleanAnswer(answer, kInput, std::nullopt));
    }
    state.SetLabel(kShapeNames[shape]);
}
BENCHMARK(BM_CleanStripHeavyAnswer)
    ->ArgsProduct({{0}, {5000, 20000, 80000}})
    ->ArgsProduct({{1, 2, 3, 4, 5}, {80000}})
    ->Unit(benchmark::kMillisecond);

// An answer that matches the context at thousands of places, none of them on character
// boundaries: "á" spelled as "a" + combining acute, against a context of the same letters whose
// last "a" lacks its accent, so every match ends inside a character.
void BM_EchoStripManyFalseMatches(benchmark::State& state) {
    const std::optional<std::u16string> context = repeated(u"a\u0301", 998) + u"a";
    const auto answer = repeated(u"a\u0301", static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine::removeEchoedContext(answer, context));
    }
}
BENCHMARK(BM_EchoStripManyFalseMatches)->Arg(80000)->Unit(benchmark::kMillisecond);

// A piece sent at a comma that holds 40 links of 120 characters, answered as it was typed and
// streamed in 1,224 partials through the engine, which cleans and screens each of them.
void BM_StreamedPieceOfLinks(benchmark::State& state) {
    std::u16string piece = u"the links r";
    for (int link = 0; link < 40; ++link) {
        std::u16string url = u"https://example.com/shared/documents/" +
                             text::toUtf16(std::to_string(link)) + u"/";
        while (url.size() < 120) {
            url += u"abcdefghij"[url.size() % 10];
        }
        piece += u" " + url.substr(0, 120);
    }
    piece += u",";
    std::u16string answer = piece;
    answer[0] = u'T';
    QNEngineCorrection engine("PROMPT", std::make_shared<bench::InstantProvider>(answer, 1225));
    std::size_t partials = 0;
    for (auto _ : state) {
        QNCorrectionDecision decision;
        auto result = engine.correct(piece, std::u16string(u"Thanks for the update."), decision,
                                     QNMisbehaviorRuleIDSet{},
                                     [&](const std::u16string&) { ++partials; }, {});
        benchmark::DoNotOptimize(result);
    }
    state.counters["forwarded"] =
        benchmark::Counter(static_cast<double>(partials), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StreamedPieceOfLinks)->Unit(benchmark::kMillisecond);

// The worst an answer opening like its context costs: a context of 40 words that are all "ok",
// and a rest answered with 84 of them before its own words, streamed in 1,224 partials: each
// partial lines the answer's opening up with the context again.
void BM_StreamedRestOpeningLikeItsContext(benchmark::State& state) {
    std::u16string context;
    for (int word = 0; word < 40; ++word) {
        context += u"ok ";
    }
    context += u"so,";
    std::u16string piece;
    std::u16string answer;
    for (int word = 0; word < 84; ++word) {
        answer += u"ok ";
    }
    for (int word = 0; word < 120; ++word) {
        piece += u" then";
        answer += word == 0 ? u"then" : u" then";
    }
    piece += u".";
    answer += u".";
    QNEngineCorrection engine("PROMPT", std::make_shared<bench::InstantProvider>(answer, 1225));
    for (auto _ : state) {
        QNCorrectionDecision decision;
        auto result = engine.correct(piece, context, decision, QNMisbehaviorRuleIDSet{},
                                     [](const std::u16string&) {}, {});
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_StreamedRestOpeningLikeItsContext)->Unit(benchmark::kMillisecond);

// The streaming display computed for each partial of the one-sentence answer.
void BM_ProgressDisplay(benchmark::State& state) {
    const std::u16string partial = u"I think the meeting got mo";
    for (auto _ : state) {
        benchmark::DoNotOptimize(QNModelCorrectionProgress::displayText(kInput, partial));
    }
}
BENCHMARK(BM_ProgressDisplay);

}  // namespace
