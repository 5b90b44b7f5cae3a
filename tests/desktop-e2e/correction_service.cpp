#include "correction_service.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace ravlin::testing {
namespace {

using namespace std::chrono_literals;

// The answer goes out in this many pieces, this far apart, as a service streams it.
constexpr std::size_t kPieces = 3;
constexpr auto kPieceGap = 40ms;

std::vector<std::string> pieces(const std::string& text) {
    std::vector<std::string> parts;
    const std::size_t size = (text.size() + kPieces - 1) / kPieces;
    for (std::size_t at = 0; at < text.size();) {
        // Never cut a UTF-8 sequence in two.
        std::size_t end = std::min(text.size(), at + size);
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        parts.push_back(text.substr(at, end - at));
        at = end;
    }
    return parts;
}

}  // namespace

CorrectionService::CorrectionService() {
    server_.setHandler([this](const RecordedRequest& request) { return reply(request); });
}

void CorrectionService::setBehaviour(Behaviour behaviour) {
    const std::lock_guard lock(mutex_);
    behaviour_ = behaviour;
}

void CorrectionService::replace(std::string wrong, std::string right) {
    const std::lock_guard lock(mutex_);
    replacements_.insert_or_assign(std::move(wrong), std::move(right));
}

std::string CorrectionService::corrected(std::string input) const {
    const std::lock_guard lock(mutex_);
    for (const auto& [wrong, right] : replacements_) {
        if (wrong.empty()) {
            continue;
        }
        for (std::size_t at = input.find(wrong); at != std::string::npos;
             at = input.find(wrong, at + right.size())) {
            input.replace(at, wrong.size(), right);
        }
    }
    return input;
}

void CorrectionService::configure(RavlinProgram& program) const {
    program.setEnvironment("RAVLIN_REMOTE_CORRECTION_URL", QString::fromStdString(url()));
    program.setEnvironment("RAVLIN_REMOTE_CORRECTION_MODEL", "stand-in-model");
    program.setEnvironment("RAVLIN_REMOTE_CORRECTION_API_KEY", "stand-in-key");
    program.setEnvironment("RAVLIN_SUPABASE_FUNCTIONS_BASE_URL",
                           QString::fromStdString(hostedBase()));
    program.setEnvironment("RAVLIN_SUPABASE_PUBLISHABLE_KEY", "stand-in-publishable-key");
}

ScriptedReply CorrectionService::reply(const RecordedRequest& request) const {
    Behaviour behaviour;
    {
        const std::lock_guard lock(mutex_);
        behaviour = behaviour_;
    }
    if (behaviour == Behaviour::stall) {
        return ScriptedReply(200).stallBeforeHead();
    }
    if (behaviour == Behaviour::fail) {
        return ScriptedReply(500)
            .header("Content-Type", "application/json")
            .chunk(R"({"error":"overloaded","message":"the stand-in fails on purpose"})");
    }
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (request.method != "POST" || !body.is_object() || !body.contains("input") ||
        !body["input"].is_string()) {
        return ScriptedReply(400).header("Content-Type", "application/json").chunk("{}");
    }
    const std::string answer = corrected(body["input"].get<std::string>());
    const bool hosted = request.target.ends_with("/ravlin-cloud");
    ScriptedReply reply = hosted ? ScriptedReply::eventStream()
                                 : ScriptedReply(200).header("Content-Type", "application/json");
    if (hosted) {
        for (const std::string& piece : pieces(answer)) {
            reply
                .event(
                    nlohmann::json{{"type", "response.output_text.delta"}, {"delta", piece}}.dump())
                .pause(kPieceGap);
        }
        reply.event(nlohmann::json{{"type", "response.output_text.done"}, {"text", answer}}.dump())
            .event("[DONE]");
        return reply;
    }
    const std::string json = nlohmann::json{{"correctedText", answer}}.dump();
    for (const std::string& piece : pieces(json)) {
        reply.chunk(piece).pause(kPieceGap);
    }
    return reply;
}

}  // namespace ravlin::testing
