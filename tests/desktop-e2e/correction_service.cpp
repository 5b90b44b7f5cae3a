#include "correction_service.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace ravlin::testing {
namespace {

using namespace std::chrono_literals;

// What the program asks about: the model input is the text itself, or, when context goes with
// it, the context and then the text after this heading.
constexpr std::string_view kTextHeading =
    "\n\nText to correct. Return only the corrected version of this text:\n";

std::string textAskedAbout(const std::string& input) {
    const auto heading = input.rfind(kTextHeading);
    return heading == std::string::npos ? input : input.substr(heading + kTextHeading.size());
}

// The context sent with the text, if any.
std::string contextSent(const std::string& input) {
    constexpr std::string_view kContextHeading =
        "Context for meaning only. Do not correct, rewrite, or return this context:\n";
    const auto heading = input.rfind(kTextHeading);
    if (heading == std::string::npos || !input.starts_with(kContextHeading)) {
        return {};
    }
    return input.substr(kContextHeading.size(), heading - kContextHeading.size());
}

// The text with a full stop in place of the mark it ends with (and the spaces before the mark),
// when that is a comma, a semicolon, a colon or a dash; its trailing spaces stay.
std::string endedAsASentence(std::string text) {
    const auto last = text.find_last_not_of(' ');
    if (last == std::string::npos) {
        return text;
    }
    std::size_t markAt = std::string::npos;
    if (std::string_view(",;:-").find(text[last]) != std::string_view::npos) {
        markAt = last;
    } else if (last >= 2 && (text.compare(last - 2, 3, "\u2013") == 0 ||
                             text.compare(last - 2, 3, "\u2014") == 0)) {
        markAt = last - 2;
    }
    if (markAt == std::string::npos) {
        return text;
    }
    const auto wordEnd = markAt == 0 ? std::string::npos : text.find_last_not_of(' ', markAt - 1);
    const std::size_t from = wordEnd == std::string::npos ? 0 : wordEnd + 1;
    return text.replace(from, last + 1 - from, ".");
}

void capitalise(std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first != std::string::npos && text[first] >= 'a' && text[first] <= 'z') {
        text[first] = static_cast<char>(text[first] - 'a' + 'A');
    }
}

void uncapitalise(std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first != std::string::npos && text[first] >= 'A' && text[first] <= 'Z') {
        text[first] = static_cast<char>(text[first] - 'A' + 'a');
    }
}

std::string trimmed(std::string text) {
    text.erase(0, std::min(text.size(), text.find_first_not_of(' ')));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::vector<std::string> pieces(const std::string& text, std::size_t count) {
    std::vector<std::string> parts;
    const std::size_t size = std::max<std::size_t>(1, (text.size() + count - 1) / count);
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

void CorrectionService::setDelay(std::chrono::milliseconds delay) {
    const std::lock_guard lock(mutex_);
    delay_ = delay;
}

void CorrectionService::setPacing(std::size_t pieces, std::chrono::milliseconds gap) {
    const std::lock_guard lock(mutex_);
    pieces_ = std::max<std::size_t>(1, pieces);
    gap_ = gap;
}

void CorrectionService::setPreamble(std::string preamble) {
    const std::lock_guard lock(mutex_);
    preamble_ = std::move(preamble);
}

void CorrectionService::setAnswersWithTheContext(bool withContext) {
    const std::lock_guard lock(mutex_);
    withContext_ = withContext;
}

void CorrectionService::setAnswersPiecesAsSentences(bool asSentences) {
    const std::lock_guard lock(mutex_);
    piecesAsSentences_ = asSentences;
}

void CorrectionService::setRepeatsTheContextInLowerCase(bool repeats) {
    const std::lock_guard lock(mutex_);
    contextInLowerCase_ = repeats;
}

std::vector<std::string> CorrectionService::hostedTexts() const {
    std::vector<std::string> texts;
    for (const auto& request : server_.requests()) {
        const auto body = nlohmann::json::parse(request.body, nullptr, false);
        if (request.method == "POST" && request.target.ends_with("/ravlin-cloud") &&
            body.is_object() && body.contains("input") && body["input"].is_string()) {
            texts.push_back(textAskedAbout(body["input"].get<std::string>()));
        }
    }
    return texts;
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
    std::chrono::milliseconds delay;
    std::size_t count;
    std::chrono::milliseconds gap;
    std::string preamble;
    bool withContext = false;
    bool piecesAsSentences = false;
    bool contextInLowerCase = false;
    {
        const std::lock_guard lock(mutex_);
        withContext = withContext_;
        piecesAsSentences = piecesAsSentences_;
        contextInLowerCase = contextInLowerCase_;
        behaviour = behaviour_;
        delay = delay_;
        count = pieces_;
        gap = gap_;
        preamble = preamble_;
    }
    if (behaviour == Behaviour::stall) {
        return ScriptedReply(200).stallBeforeHead();
    }
    if (behaviour == Behaviour::rateLimit) {
        return ScriptedReply(429)
            .header("Content-Type", "application/json")
            .header("Retry-After", "30")
            .chunk(R"({"error":"rate_limited","message":"too many requests"})");
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
    const bool hosted = request.target.ends_with("/ravlin-cloud");
    const std::string input = body["input"].get<std::string>();
    std::string answer = hosted ? preamble + corrected(textAskedAbout(input)) : corrected(input);
    const std::string context = contextSent(input);
    if (hosted && piecesAsSentences) {
        std::string text = endedAsASentence(corrected(textAskedAbout(input)));
        if (!context.empty()) {
            capitalise(text);
        }
        answer = preamble + text;
    }
    if (hosted && withContext && !context.empty()) {
        std::string text = corrected(textAskedAbout(input));
        text.erase(0, std::min(text.size(), text.find_first_not_of(' ')));
        capitalise(text);
        answer = preamble + corrected(context) + " " + text;
    }
    if (hosted && contextInLowerCase && !context.empty()) {
        std::string repeated = trimmed(corrected(context));
        uncapitalise(repeated);
        answer = preamble + repeated + " " + trimmed(corrected(textAskedAbout(input)));
    }
    ScriptedReply reply = hosted ? ScriptedReply::eventStream()
                                 : ScriptedReply(200).header("Content-Type", "application/json");
    reply.pause(delay);
    if (hosted) {
        auto deltas = pieces(answer, count);
        if (behaviour == Behaviour::cut) {
            deltas.resize(std::max<std::size_t>(1, deltas.size() / 2));
        }
        for (const std::string& piece : deltas) {
            reply
                .event(
                    nlohmann::json{{"type", "response.output_text.delta"}, {"delta", piece}}.dump())
                .pause(gap);
        }
        if (behaviour == Behaviour::cut) {
            return reply;
        }
        reply.event(nlohmann::json{{"type", "response.output_text.done"}, {"text", answer}}.dump())
            .event("[DONE]");
        return reply;
    }
    const std::string json = nlohmann::json{{"correctedText", answer}}.dump();
    for (const std::string& piece : pieces(json, count)) {
        reply.chunk(piece).pause(gap);
    }
    return reply;
}

}  // namespace ravlin::testing
