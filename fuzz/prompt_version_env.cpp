// Prompt-version environment values are outside input: whatever they hold, resolving them picks
// a version whose text ships and never stops the program.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/records/prompt_catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using ravlin::QNModelCorrectionPrompt;
    using ravlin::QNModelCorrectionPromptUseCase;

    // Up to three values separated by NUL bytes (which an environment value cannot hold); the
    // first byte chooses which of the variables are set.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const unsigned presence = input.empty() ? 7u : static_cast<unsigned char>(input.front());
    if (!input.empty()) {
        input.remove_prefix(1);
    }
    static const char* const kKeys[] = {"QN_LOCAL_PROMPT_VERSION", "QN_ONLINE_PROMPT_VERSION",
                                        "QN_PROMPT_VERSION"};
    ravlin::QNPromptEnvironment environment;
    for (unsigned index = 0; index < 3; ++index) {
        const std::size_t end = std::min(input.find('\0'), input.size());
        if (presence & (1u << index)) {
            environment.emplace(kKeys[index], std::string(input.substr(0, end)));
        }
        input.remove_prefix(std::min(end + 1, input.size()));
    }

    for (auto useCase :
         {QNModelCorrectionPromptUseCase::local, QNModelCorrectionPromptUseCase::online}) {
        const QNModelCorrectionPrompt prompt =
            QNModelCorrectionPrompt::resolved(useCase, environment);
        if (!prompt.isLoadable()) {
            std::abort();
        }
    }
    return 0;
}
