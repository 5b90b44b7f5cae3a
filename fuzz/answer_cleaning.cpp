// Feeds arbitrary (answer, input, context) triples through the answer-cleaning steps: the
// context clamp, the sanitizer, the echoed-context strip, the partial trim, every misbehavior
// rule, the progress display and the parser of the disabled-rules variable. Nothing may crash,
// valid UTF-16 in must give valid UTF-16 out, and the notes stay within the answer's length.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "core/services/correction_bounds.h"
#include "core/services/correction_progress.h"
#include "core/services/misbehavior_rules.h"
#include "core/services/output_sanitizer.h"
#include "core/services/text_operations.h"
#include "core/services/token_budget.h"
#include "core/text/terminal_controls.h"
#include "core/text/unicode.h"

namespace {

using namespace ravlin;

bool isValidUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

void check(bool strict, std::u16string_view text) {
    if (strict && !isValidUtf16(text)) {
        __builtin_trap();
    }
}

std::u16string take(FuzzedDataProvider& provider, bool rawUnits) {
    const std::string bytes = provider.ConsumeRandomLengthString(4096);
    if (!rawUnits) {
        return text::toUtf16(bytes);
    }
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return units;
}

const QNModelMisbehaviorRegistry& everyRule() {
    static const QNModelMisbehaviorRegistry registry{
        {std::make_shared<QNSchemaLeakMisbehaviorRule>(),
         std::make_shared<QNRomanizedPhoneticRewriteMisbehaviorRule>(),
         std::make_shared<QNTranslatedEnglishWordMisbehaviorRule>(),
         std::make_shared<QNOutputUnrelatedToInputMisbehaviorRule>(),
         std::make_shared<QNDroppedTrailingWordMisbehaviorRule>()},
        {}};
    return registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const bool rawUnits = provider.ConsumeBool();  // lone surrogates allowed: no crash only
    const bool strict = !rawUnits;
    const auto limit = provider.ConsumeIntegralInRange<std::int64_t>(0, 600);
    const std::u16string answer = take(provider, rawUnits);
    const std::u16string input = take(provider, rawUnits);
    const std::u16string context = take(provider, rawUnits);

    std::optional<std::u16string> clamped = engine::boundedContextBefore(context, limit);
    if (clamped) {
        check(strict, *clamped);
    }
    clamped = engine::boundedContextBefore(context, engine::kContextCharacterLimit);

    const auto sanitized = sanitizeModelOutput(answer, input);
    check(strict, sanitized.cleaned);
    // A stream's text so far is cleaned the same way, less the final mark put back.
    const auto partial = sanitizeModelPartial(answer, input);
    check(strict, partial.cleaned);
    if (partial.structuredNotes.size() > answer.size() + 2) {
        __builtin_trap();  // one note per change, and every change takes something off
    }

    std::u16string clean = sanitized.cleaned;
    if (const auto stripped = engine::removeEchoedContext(sanitized.cleaned, clamped)) {
        check(strict, stripped->text);
        clean = engine::trimmingRestoredTrailingWhitespace(stripped->text, answer, input);
        check(strict, clean);
    } else {
        (void)engine::rejectedOutputNote(sanitized.cleaned, input);
    }

    // A sentence the person typed again is no echo: the answer is then kept whole.
    if (const auto kept = engine::removeEchoedContext(sanitized.cleaned, clamped, input)) {
        check(strict, kept->text);
    }
    (void)notACorrection(clean, input);
    (void)notACorrectionSoFar(partial.cleaned, input);
    check(strict, text::withoutTerminalControls(answer));

    (void)QNModelMisbehaviorRegistry::defaultRegistry().detect(clean, input);
    (void)everyRule().detect(clean, input);
    (void)everyRule().detect(input, clean);

    if (const auto display = QNModelCorrectionProgress::displayText(input, answer)) {
        check(strict, *display);
    }
    (void)QNModelTokenBudget::budget(input);
    (void)boundedEditDistance(answer.substr(0, 64), input.substr(0, 64), 3);
    (void)disabledMisbehaviorRuleIDs(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
