#include "tests/support/scripted_provider.h"

#include <condition_variable>
#include <utility>

#include <gtest/gtest.h>

namespace ravlin::testing {

ScriptedProvider::ScriptedProvider(std::string providerID) : providerID_(std::move(providerID)) {}

std::shared_ptr<ScriptedProvider> ScriptedProvider::make(std::string providerID) {
    return std::make_shared<ScriptedProvider>(std::move(providerID));
}

// --- Script --------------------------------------------------------------------------------------

void ScriptedProvider::setDiagnostics(QNModelCorrectionProviderDiagnostics diagnostics) {
    std::lock_guard lock(mutex_);
    diagnostics_ = std::move(diagnostics);
}

void ScriptedProvider::setAvailability(QNModelAvailabilitySummary summary) {
    std::lock_guard lock(mutex_);
    availability_ = std::move(summary);
}

void ScriptedProvider::setGenerateResult(Result result) {
    std::lock_guard lock(mutex_);
    generateResult_ = std::move(result);
    generateHandler_ = nullptr;
}

void ScriptedProvider::setGenerateHandler(GenerateHandler handler) {
    std::lock_guard lock(mutex_);
    generateHandler_ = std::move(handler);
}

void ScriptedProvider::setGenerateWaitsForStop(bool waits) {
    std::lock_guard lock(mutex_);
    generateWaitsForStop_ = waits;
}

void ScriptedProvider::setStreamScript(Script script) {
    std::lock_guard lock(mutex_);
    streamScript_ = std::move(script);
}

void ScriptedProvider::enqueueStreamScript(Script script) {
    std::lock_guard lock(mutex_);
    queuedScripts_.push_back(std::move(script));
}

void ScriptedProvider::setAfterEvent(EventHook hook) {
    std::lock_guard lock(mutex_);
    afterEvent_ = std::move(hook);
}

void ScriptedProvider::setHonoursStop(bool honours) {
    std::lock_guard lock(mutex_);
    honoursStop_ = honours;
}

// --- Builders ------------------------------------------------------------------------------------

ScriptedProvider::Event ScriptedProvider::completed(std::u16string input, std::u16string output,
                                                    std::optional<double> latencyMilliseconds,
                                                    std::optional<QNModelCorrectionUsage> usage) {
    return Event::completed(QNModelCorrectionResponse(std::move(input), std::move(output),
                                                      latencyMilliseconds, std::move(usage)));
}

ScriptedProvider::Result ScriptedProvider::success(std::u16string input, std::u16string output,
                                                   std::optional<double> latencyMilliseconds,
                                                   std::optional<QNModelCorrectionUsage> usage) {
    return Result::success(QNModelCorrectionResponse(std::move(input), std::move(output),
                                                     latencyMilliseconds, std::move(usage)));
}

// --- Records -------------------------------------------------------------------------------------

std::vector<QNModelCorrectionRequest> ScriptedProvider::streamRequests() const {
    std::lock_guard lock(mutex_);
    return streamRequests_;
}

std::vector<QNModelCorrectionRequest> ScriptedProvider::generateRequests() const {
    std::lock_guard lock(mutex_);
    return generateRequests_;
}

int ScriptedProvider::streamCalls() const {
    std::lock_guard lock(mutex_);
    return streamCalls_;
}

int ScriptedProvider::generateCalls() const {
    std::lock_guard lock(mutex_);
    return generateCalls_;
}

int ScriptedProvider::prewarmCalls() const {
    std::lock_guard lock(mutex_);
    return prewarmCalls_;
}

int ScriptedProvider::availabilityCalls() const {
    std::lock_guard lock(mutex_);
    return availabilityCalls_;
}

int ScriptedProvider::stoppedCalls() const {
    std::lock_guard lock(mutex_);
    return stoppedCalls_;
}

std::vector<ScriptedProvider::Event> ScriptedProvider::deliveredEvents() const {
    std::lock_guard lock(mutex_);
    return deliveredEvents_;
}

// --- Interface -----------------------------------------------------------------------------------

std::string ScriptedProvider::providerID() const {
    return providerID_;
}

QNModelCorrectionProviderDiagnostics ScriptedProvider::diagnostics() const {
    {
        std::lock_guard lock(mutex_);
        if (diagnostics_) {
            return *diagnostics_;
        }
    }
    return QNProviderCorrectionModel::diagnostics();
}

QNModelAvailabilitySummary ScriptedProvider::availabilitySummary() {
    std::lock_guard lock(mutex_);
    ++availabilityCalls_;
    return availability_;
}

void ScriptedProvider::prewarm() {
    std::lock_guard lock(mutex_);
    ++prewarmCalls_;
}

ScriptedProvider::Result ScriptedProvider::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken) {
    GenerateHandler handler;
    std::optional<Result> result;
    bool waits = false;
    bool honours = true;
    {
        std::lock_guard lock(mutex_);
        ++generateCalls_;
        generateRequests_.push_back(request);
        handler = generateHandler_;
        result = generateResult_;
        waits = generateWaitsForStop_;
        honours = honoursStop_;
    }
    if (waits) {
        waitForStop(stopToken);
    }
    if (honours && stopToken.stop_requested()) {
        std::lock_guard lock(mutex_);
        ++stoppedCalls_;
        return Result::cancelled();
    }
    if (handler) {
        return handler(request, stopToken);
    }
    if (result) {
        return *result;
    }
    return success(request.text, request.text);
}

void ScriptedProvider::streamCorrection(const QNModelCorrectionRequest& request,
                                        std::stop_token stopToken,
                                        const QNModelCorrectionStreamSink& sink) {
    std::optional<Script> script;
    EventHook hook;
    bool honours = true;
    {
        std::lock_guard lock(mutex_);
        ++streamCalls_;
        streamRequests_.push_back(request);
        if (!queuedScripts_.empty()) {
            script = std::move(queuedScripts_.front());
            queuedScripts_.pop_front();
        } else {
            script = streamScript_;
        }
        hook = afterEvent_;
        honours = honoursStop_;
    }

    if (!script) {
        std::size_t index = 0;
        QNProviderCorrectionModel::streamCorrection(request, stopToken, [&](Event event) {
            deliver(sink, event);
            if (hook) {
                hook(index, event);
            }
            ++index;
        });
        return;
    }

    auto endStopped = [&] {
        {
            std::lock_guard lock(mutex_);
            ++stoppedCalls_;
        }
        deliver(sink, Event::cancelled());
    };

    std::size_t index = 0;
    for (const Step& step : *script) {
        if (honours && stopToken.stop_requested()) {
            endStopped();
            return;
        }
        if (std::holds_alternative<WaitForStop>(step)) {
            if (waitForStop(stopToken) && honours) {
                endStopped();
                return;
            }
            continue;
        }
        const Event& event = std::get<Event>(step);
        deliver(sink, event);
        if (hook) {
            hook(index, event);
        }
        ++index;
    }
}

bool ScriptedProvider::waitForStop(const std::stop_token& stopToken) {
    if (!stopToken.stop_possible()) {
        ADD_FAILURE() << "ScriptedProvider waits for a stop request, but the call's stop token "
                         "can never be stopped";
        return false;
    }
    std::mutex waitMutex;
    std::condition_variable_any stopped;
    std::unique_lock lock(waitMutex);
    stopped.wait(lock, stopToken, [] { return false; });
    return true;
}

void ScriptedProvider::deliver(const QNModelCorrectionStreamSink& sink, Event event) {
    {
        std::lock_guard lock(mutex_);
        deliveredEvents_.push_back(event);
    }
    sink(std::move(event));
}

}  // namespace ravlin::testing
