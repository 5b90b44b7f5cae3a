#include "core/engine/composition_session.h"

#include <utility>

#include "core/services/privacy_log.h"
#include "core/records/prompt_catalogue.h"

namespace ravlin {

std::shared_ptr<QNServiceCorrectionGenerating> makeDefaultCompositionEngine() {
    return std::make_shared<QNEngineCorrection>(QNModelCorrectionPrompt::recommended(), nullptr,
                                                nullptr, QNServicePrivacyLogger::shared());
}

namespace engine::detail {

void startEngineCall(WorkRunner& runner, std::shared_ptr<Executor> executor,
                     std::shared_ptr<QNServiceCorrectionGenerating> engine, std::u16string text,
                     std::optional<std::optional<std::u16string>> contextBefore,
                     std::stop_token stop, std::function<void(QNModelCorrectionResult)> deliver) {
    runner.run([executor = std::move(executor), engine = std::move(engine), text = std::move(text),
                contextBefore = std::move(contextBefore), stop = std::move(stop),
                deliver = std::move(deliver)]() mutable {
        auto result = contextBefore ? engine->correct(text, *contextBefore, stop)
                                    : engine->correct(text, stop);
        // The engine is released here, on the worker, not on the main sequence.
        engine.reset();
        executor->post([deliver = std::move(deliver), result = std::move(result)]() mutable {
            deliver(std::move(result));
        });
    });
}

}  // namespace engine::detail

}  // namespace ravlin
