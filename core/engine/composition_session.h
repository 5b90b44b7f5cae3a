#pragma once

// What both composition-session models share: the engine they build when given none, and the
// way they run an engine call off the main sequence and take its result back onto it.

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "core/engine/correction_engine.h"
#include "core/support/executor.h"

namespace ravlin {

// The on-device engine a session builds for itself: the active prompt, no fallback provider,
// the shared privacy logger.
[[nodiscard]] std::shared_ptr<QNServiceCorrectionGenerating> makeDefaultCompositionEngine();

namespace engine::detail {

// Runs one `correct` call of `engine` as a job of `runner` and posts `deliver` with its result
// to `executor`. With `contextBefore` the call is `correct(text, contextBefore, stop)`, without
// it `correct(text, stop)`.
void startEngineCall(WorkRunner& runner, std::shared_ptr<Executor> executor,
                     std::shared_ptr<QNServiceCorrectionGenerating> engine, std::u16string text,
                     std::optional<std::optional<std::u16string>> contextBefore,
                     std::stop_token stop, std::function<void(QNModelCorrectionResult)> deliver);

}  // namespace engine::detail

}  // namespace ravlin
