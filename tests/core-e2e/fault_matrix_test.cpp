// The fault matrix: every way a server, the Codex tool or a model answer can go wrong, each
// through the real engine and the real provider, with the exact failure text, the deadline, the
// privacy of the texts and the absence of leaks checked for every row (see e2e_harness.h).

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/providers/codex-cli/codex_cli_provider.h"
#include "core/providers/codex-cli/correction_process.h"
#include "core/providers/openai/openai_provider.h"
#include "core/text/unicode.h"
#include "tests/core-e2e/e2e_harness.h"

namespace ravlin::e2e {
namespace {

using ondevice::ModelAvailability;
using ondevice::StreamEnd;
using ondevice::UnavailableReason;
using testing::snapshotsOf;

const std::string kCorrectedUtf8 = text::toUtf8(kCorrected);
const std::string kContextUtf8 = text::toUtf8(kContext);

// The process layer's graces after a time-out or a stop: SIGTERM, 0.25 s, SIGKILL, 0.25 s, then
// the same again for what is left in the child's group.
constexpr std::chrono::milliseconds kToolGraces{1000};

std::chrono::milliseconds seconds(double value) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(value * 1000));
}

std::pair<Provider, Provider> alone(Provider primary) {
    return {std::move(primary), nullptr};
}

// ---- Server faults ----------------------------------------------------------------------------

// A streaming online provider and the words it has for each fault.
struct Online {
    std::string name;
    std::string providerID;
    // The provider sending to the server at `origin` ("http://127.0.0.1:<port>").
    std::function<Provider(Rig&, const std::string& origin, Timing)> makeAt;
    std::string timedOut, idle, total, network, refused, tls, webPage, tooLarge, malformedStream;
    std::string http401WithText, http404, http503WithJson, http500;
};

std::vector<Online> streamingProviders() {
    const std::string dash = "\xE2\x80\x94";
    return {
        {"hosted", "hosted-proxy",
         [](Rig& rig, const std::string& origin, Timing timing) {
             return rig.hostedAt(origin + "/functions/v1/ravlin-cloud", timing);
         },
         "Hosted proxy request timed out", "Hosted proxy idle timeout",
         "Hosted proxy total stream deadline exceeded", "Hosted proxy network error: ",
         "Hosted proxy could not connect (connection refused)",
         "Hosted proxy could not connect (TLS handshake failed)",
         "Hosted proxy returned an unexpected response (a web page)",
         "Hosted proxy event payload too large", "Hosted proxy malformed stream",
         "Hosted proxy HTTP 401: Unauthorized key revoked", "Hosted proxy HTTP 404",
         "Hosted proxy HTTP 503: overloaded: Try again later", "Hosted proxy HTTP 500"},
        {"openai", "openai-byok",
         [](Rig& rig, const std::string& origin, Timing timing) {
             return rig.openaiAt(origin, timing);
         },
         "OpenAI request timed out", "OpenAI idle timeout", "OpenAI total stream deadline exceeded",
         "OpenAI network error: ", "OpenAI could not connect (connection refused)",
         "OpenAI could not connect (TLS handshake failed)",
         "OpenAI returned an unexpected response (a web page)", "OpenAI event payload too large", "OpenAI malformed stream",
         "Invalid API key", "OpenAI HTTP 404", "OpenAI is unavailable " + dash + " try again later",
         "OpenAI is unavailable " + dash + " try again later"},
    };
}

TEST(FaultMatrix, ServerFaultsEndInEachOnlineProvidersOwnWords) {
    const Timing shortHead{.request = 0.3};
    const Timing shortIdle{.idle = 0.3};
    const Timing shortTotal{.idle = 1, .total = 0.6};
    // The engine cleans a partial like an answer, but puts back no final full stop: the partial
    // does not end where the answer ends.
    const std::vector<std::u16string> firstPartial{u"The cat"};

    std::vector<Row> rows;
    for (const Online& online : streamingProviders()) {
        const auto makeAt = online.makeAt;
        const auto make = [makeAt](Rig& rig, Timing timing) {
            return makeAt(rig, rig.server.url(""), timing);
        };
        const std::string id = online.providerID;
        auto named = [&](const std::string& fault) { return online.name + ": " + fault; };

        rows.push_back({named("refuses the connection"),
                        [=](Rig& rig) { return alone(makeAt(rig, refusedOrigin(), {})); },
                        {.outcome = Outcome::failed(online.refused)}});
        rows.push_back({named("speaks plain HTTP to a secure address"),
                        [=](Rig& rig) {
                            auto origin = rig.server.url("");
                            origin.replace(0, 4, "https");
                            return alone(makeAt(rig, origin, {}));
                        },
                        {.outcome = Outcome::failed(online.tls)}});
        rows.push_back({named("answers with a web page"),
                        [=](Rig& rig) {
                            rig.server.enqueue(
                                ScriptedReply(200)
                                    .header("Content-Type", "text/html; charset=utf-8")
                                    .chunk("<!DOCTYPE html>\n<html><body>Sign in</body></html>\n"));
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.webPage)}});
        rows.push_back({named("stalls before the head"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
                            return alone(make(rig, shortHead));
                        },
                        {.outcome = Outcome::failed(online.timedOut),
                         .deadline = seconds(shortHead.request)}});
        rows.push_back({named("stalls mid-stream"),
                        [=](Rig& rig) {
                            rig.server.enqueue(
                                ScriptedReply::eventStream().event(textDelta("The cat")).stall());
                            return alone(make(rig, shortIdle));
                        },
                        {.outcome = Outcome::failed(online.idle),
                         .partials = firstPartial,
                         .deadline = seconds(shortIdle.idle)}});
        rows.push_back({named("closes mid-event"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply::eventStream()
                                                   .event(textDelta("The cat"))
                                                   .chunk("data: {\"type\":\"response.output_te")
                                                   .drop());
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.network),
                         .reasonIsPrefix = true,
                         .partials = firstPartial}});
        // A body cut between whole events: the rest of the sentence never came, so the
        // partial text must not become the answer.
        const std::vector<std::pair<std::string, ScriptedReply>> cutBodies{
            {"ends without its last chunk",
             ScriptedReply::eventStream().event(textDelta("The cat")).drop()},
            {"ends short of its Content-Length", ScriptedReply::eventStream()
                                                     .withContentLength()
                                                     .event(textDelta("The cat"))
                                                     .drop()
                                                     .event(textDelta(" sat on the mat."))},
            {"resets the connection after text",
             ScriptedReply::eventStream().event(textDelta("The cat")).pause(50ms).reset()},
        };
        for (const auto& [fault, cutReply] : cutBodies) {
            rows.push_back({named(fault),
                            [=, reply = cutReply](Rig& rig) {
                                rig.server.enqueue(reply);
                                return alone(make(rig, {}));
                            },
                            {.outcome = Outcome::failed(online.network),
                             .reasonIsPrefix = true,
                             .partials = firstPartial}});
        }
        rows.push_back({named("not HTTP at all"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply::raw("SSH-2.0-OpenSSH_9.2\r\n"));
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.network), .reasonIsPrefix = true}});
        rows.push_back({named("4xx with a text body"),
                        [=](Rig& rig) {
                            rig.server.enqueue(
                                ScriptedReply(401).chunk("Unauthorized\nkey revoked"));
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.http401WithText)}});
        rows.push_back({named("4xx without a body"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply(404));
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.http404)}});
        rows.push_back(
            {named("5xx with an error body"),
             [=](Rig& rig) {
                 rig.server.enqueue(
                     ScriptedReply(503)
                         .header("Content-Type", "application/json")
                         .chunk(R"({"error":"overloaded","message":"Try again later"})"));
                 return alone(make(rig, {}));
             },
             {.outcome = Outcome::failed(online.http503WithJson)}});
        rows.push_back({named("5xx without a body"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply(500));
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.http500)}});
        rows.push_back({named("an oversized line"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply::eventStream().chunk(
                                "data: " + std::string(262'145, 'x') + "\n\n"));
                            return alone(make(rig, {}));
                        },
                        {.outcome = Outcome::failed(online.tooLarge)}});
        rows.push_back(
            {named("invalid UTF-8"),
             [=](Rig& rig) {
                 rig.server.enqueue(ScriptedReply::eventStream()
                                        .event(textDelta("The cat"))
                                        .chunk("data: {\"type\":\"response.output_text."
                                               "delta\",\"delta\":\"\xC3\x28\"}\n\n"));
                 return alone(make(rig, {}));
             },
             {.outcome = Outcome::failed(online.malformedStream), .partials = firstPartial}});
        rows.push_back({named("a stream of comments that never finishes"),
                        [=](Rig& rig) {
                            ScriptedReply reply = ScriptedReply::eventStream();
                            reply.event(textDelta("The cat"));
                            for (int i = 0; i < 400; ++i) {
                                reply.pause(50ms).chunk(": keep-alive\n");
                            }
                            rig.server.enqueue(std::move(reply));
                            return alone(make(rig, shortTotal));
                        },
                        {.outcome = Outcome::failed(online.total),
                         .partials = firstPartial,
                         .deadline = seconds(shortTotal.total)}});
        rows.push_back(
            {named("a stream of deltas that never finishes"),
             [=](Rig& rig) {
                 ScriptedReply reply = ScriptedReply::eventStream();
                 reply.event(textDelta("The cat"));
                 for (int i = 0; i < 400; ++i) {
                     reply.pause(50ms).event(textDelta(" and"));
                 }
                 rig.server.enqueue(std::move(reply));
                 return alone(make(rig, shortTotal));
             },
             {.outcome = Outcome::failed(online.total), .deadline = seconds(shortTotal.total)}});
        rows.push_back(
            {named("a failed event after text"),
             [=](Rig& rig) {
                 rig.server.enqueue(
                     ScriptedReply::eventStream()
                         .event(textDelta("The cat"))
                         .event(
                             R"({"type":"response.failed","error":{"message":"Upstream failed"}})"));
                 return alone(make(rig, {}));
             },
             {.outcome = Outcome::failed("Upstream failed"), .partials = firstPartial}});
        // A service's message reaches the person as one short line, without escapes or controls.
        rows.push_back(
            {named("an error event with escapes, line breaks and 200 KB of text"),
             [=](Rig& rig) {
                 const std::string message =
                     "\x1b[31mUpstream\x1b[0m\r\n\tfailed\a " + std::string(200'000, 'x');
                 rig.server.enqueue(ScriptedReply::eventStream().event(
                     nlohmann::json{{"type", "error"}, {"message", message}}.dump()));
                 return alone(make(rig, {}));
             },
             {.outcome = Outcome::failed("Upstream failed " + std::string(484, 'x') + "...")}});
        // With a fallback, the same faults hand over and the fallback's answer is the result.
        rows.push_back({named("5xx, the on-device fallback corrects"),
                        [=](Rig& rig) {
                            rig.server.enqueue(ScriptedReply(500));
                            rig.model->enqueue(snapshotsOf({kCorrected}));
                            return std::pair{make(rig, {}), rig.onDevice()};
                        },
                        {.outcome = Outcome::corrected(),
                         .status = Status::fallback(id + " failed: " + online.http500),
                         .output = kCorrected,
                         .partials = std::vector<std::u16string>{}}});
        rows.push_back(
            {named("stalls mid-stream, the Codex fallback corrects"),
             [=](Rig& rig) {
                 rig.server.enqueue(
                     ScriptedReply::eventStream().event(textDelta("The cat")).stall());
                 return std::pair{make(rig, shortIdle), rig.codex(codexAnswer(kCorrectedUtf8))};
             },
             {.outcome = Outcome::corrected(),
              .status = Status::fallback(id + " failed: " + online.idle),
              .output = kCorrected,
              // The primary's partial reached the caller before it failed.
              .partials = firstPartial,
              .deadline = seconds(shortIdle.idle)}});
        rows.push_back({named("refuses the connection, the Codex fallback corrects"),
                        [=](Rig& rig) {
                            return std::pair{makeAt(rig, refusedOrigin(), {}),
                                             rig.codex(codexAnswer(kCorrectedUtf8))};
                        },
                        {.outcome = Outcome::corrected(),
                         .status = Status::fallback(id + " failed: " + online.refused),
                         .output = kCorrected}});
    }
    // OpenAI ends every answer with a completion or failure event, and the hosted service with
    // its done event or "[DONE]": a body that ends cleanly after text without one was cut short,
    // and the fallback corrects instead.
    const auto cutShort = [](std::string_view text) {
        return ScriptedReply::eventStream().event(textDelta(text)).chunk("data: [DONE]\n\n");
    };
    rows.push_back({"openai: ends cleanly without a completion event, the fallback corrects",
                    [=](Rig& rig) {
                        rig.server.enqueue(cutShort("I have bought three"));
                        rig.model->enqueue(snapshotsOf({kCorrected}));
                        return std::pair{rig.openai(), rig.onDevice()};
                    },
                    {.outcome = Outcome::corrected(),
                     .status = Status::fallback("openai-byok failed: OpenAI response incomplete"),
                     .output = kCorrected}});
    rows.push_back({"hosted: an error body with escapes and control characters",
                    [](Rig& rig) {
                        rig.server.enqueue(
                            ScriptedReply(400).chunk("Bad\x1b[2J\tthing\r\nhappened\x07"));
                        return alone(rig.hosted());
                    },
                    {.outcome = Outcome::failed("Hosted proxy HTTP 400: Bad thing happened")}});
    rows.push_back({"hosted: ends cleanly after text",
                    [=](Rig& rig) {
                        rig.server.enqueue(cutShort(kCorrectedUtf8));
                        return alone(rig.hosted());
                    },
                    {.outcome = Outcome::corrected(), .output = kCorrected}});
    rows.push_back({"hosted: ends cleanly after half the text, the fallback corrects",
                    [=](Rig& rig) {
                        rig.server.enqueue(
                            ScriptedReply::eventStream().event(textDelta("I have bought three")));
                        rig.model->enqueue(snapshotsOf({kCorrected}));
                        return std::pair{rig.hosted(), rig.onDevice()};
                    },
                    {.outcome = Outcome::corrected(),
                     .status = Status::fallback(
                         "hosted-proxy failed: Hosted proxy response incomplete"),
                     .output = kCorrected}});
    runMatrix("server faults", rows);
}

// The generic endpoint answers once, in JSON; its one time limit is the request's time-out,
// which bounds the head and every wait for more of the reply.
TEST(FaultMatrix, ServerFaultsEndInTheGenericEndpointsOwnWords) {
    const double shortTimeout = 0.3;
    std::vector<Row> rows;
    rows.push_back({"refuses the connection",
                    [](Rig& rig) { return alone(rig.remoteAt(refusedOrigin())); },
                    {.outcome = Outcome::failed(
                         "Online correction could not connect (connection refused)")}});
    rows.push_back({"stalls before the head",
                    [=](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(200).stallBeforeHead());
                        return alone(rig.remote(shortTimeout));
                    },
                    {.outcome = Outcome::failed("Online correction timed out"),
                     .deadline = seconds(shortTimeout)}});
    rows.push_back({"stalls mid-reply",
                    [=](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(200)
                                               .header("Content-Type", "application/json")
                                               .chunk(R"({"correctedText":"The)")
                                               .stall());
                        return alone(rig.remote(shortTimeout));
                    },
                    {.outcome = Outcome::failed("Online correction timed out"),
                     .deadline = seconds(shortTimeout)}});
    rows.push_back({"closes mid-reply",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(200)
                                               .header("Content-Type", "application/json")
                                               .chunk(R"({"correctedText":"The)")
                                               .drop());
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction network error: "),
                     .reasonIsPrefix = true}});
    rows.push_back({"4xx with a text body",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(401).chunk("Unauthorized\nkey revoked"));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction HTTP 401")}});
    rows.push_back({"4xx without a body",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(404));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction HTTP 404")}});
    rows.push_back({"5xx with an error body",
                    [](Rig& rig) {
                        rig.server.enqueue(
                            ScriptedReply(503)
                                .header("Content-Type", "application/json")
                                .chunk(R"({"error":"overloaded","message":"Try again later"})"));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction HTTP 503")}});
    rows.push_back({"5xx without a body",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(500));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction HTTP 500")}});
    rows.push_back({"an oversized reply",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(200)
                                               .header("Content-Type", "application/json")
                                               .chunk(R"({"correctedText":")" +
                                                      std::string(1 << 20, 'x') + "\"}"));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction malformed response")}});
    rows.push_back({"invalid UTF-8",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(200)
                                               .header("Content-Type", "application/json")
                                               .chunk("{\"correctedText\":\"The \xC3\x28\"}"));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction malformed response")}});
    rows.push_back({"a reply without the corrected text",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(200)
                                               .header("Content-Type", "application/json")
                                               .chunk(R"({"text":"The cat"})"));
                        return alone(rig.remote());
                    },
                    {.outcome = Outcome::failed("Online correction malformed response")}});
    rows.push_back({"not HTTP at all",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply::raw("SSH-2.0-OpenSSH_9.2\r\n"));
                        return alone(rig.remote());
                    },
                    // The transport refuses a reply that is not HTTP before any head exists.
                    {.outcome = Outcome::failed("Online correction network error: "),
                     .reasonIsPrefix = true}});
    rows.push_back({"5xx, the on-device fallback corrects",
                    [](Rig& rig) {
                        rig.server.enqueue(ScriptedReply(500));
                        rig.model->enqueue(snapshotsOf({kCorrected}));
                        return std::pair{rig.remote(), rig.onDevice()};
                    },
                    {.outcome = Outcome::corrected(),
                     .status = Status::fallback("hosted-online failed: Online correction HTTP 500"),
                     .output = kCorrected}});
    rows.push_back(
        {"stalls mid-reply, the hosted fallback corrects",
         [=](Rig& rig) {
             rig.server.enqueue(ScriptedReply(200)
                                    .header("Content-Type", "application/json")
                                    .chunk(R"({"correctedText":"The)")
                                    .stall());
             rig.server.enqueue(hostedAnswer({kCorrectedUtf8}));
             return std::pair{rig.remote(shortTimeout), rig.hosted()};
         },
         {.outcome = Outcome::corrected(),
          .status = Status::fallback("hosted-online failed: Online correction timed out"),
          .output = kCorrected,
          .deadline = seconds(shortTimeout)}});
    runMatrix("generic endpoint faults", rows);
}

// ---- Tool faults ------------------------------------------------------------------------------

TEST(FaultMatrix, ToolFaultsEndInTheCodexProvidersOwnWordsAndLeaveNoProcess) {
    const double timeout = 0.3;
    const std::chrono::milliseconds timedOutBy = seconds(timeout) + kToolGraces;
    std::string floodFailure;
    for (int i = 0; i < 50; ++i) {
        floodFailure += "flood err ";
    }
    floodFailure = "Codex CLI failed: " + floodFailure.substr(0, floodFailure.size() - 1) + "...";
    // Past what the provider keeps of each stream, and no more: the work stays small on a loaded
    // machine.
    const std::string floodBytes = std::to_string(kCodexCLIMaxOutputBytes + 65536);
    const std::string flood = "(yes 'flood out' | head -c " + floodBytes + ") &\n" +
                              "(yes 'flood err' | head -c " + floodBytes + " >&2) &\n" + "wait\n";

    std::vector<Row> rows;
    rows.push_back(
        {"hangs",
         [&](Rig& rig) { return alone(rig.codex("cat > /dev/null\nsleep 30\n", timeout)); },
         {.outcome = Outcome::failed("Codex CLI timed out after 0.3s"), .deadline = timedOutBy}});
    rows.push_back(
        {"hangs and ignores SIGTERM",
         [&](Rig& rig) {
             return alone(rig.codex("trap '' TERM\ncat > /dev/null\nsleep 30\n", timeout));
         },
         {.outcome = Outcome::failed("Codex CLI timed out after 0.3s"), .deadline = timedOutBy}});
    rows.push_back(
        {"floods both streams, then fails",
         [&](Rig& rig) { return alone(rig.codex("cat > /dev/null\n" + flood + "exit 1\n")); },
         {.outcome = Outcome::failed(floodFailure)}});
    rows.push_back({"floods both streams, then answers",
                    [&](Rig& rig) { return alone(rig.codex(flood + codexAnswer(kCorrectedUtf8))); },
                    {.outcome = Outcome::corrected(), .output = kCorrected}});
    rows.push_back(
        {"forks a grandchild that ignores SIGTERM, then answers",
         [](Rig& rig) {
             return alone(
                 rig.codex("(trap '' TERM; exec sleep 30) &\n"
                           "echo $! > \"$FAKE_DIR/grandchild.pid\"\n" +
                           codexAnswer(kCorrectedUtf8)));
         },
         {.outcome = Outcome::corrected(), .output = kCorrected, .deadline = kToolGraces},
         std::nullopt,
         [](Rig& rig, const Observed&) {
             const auto grandchild = testing::waitForPidFile(rig.tools.file("grandchild.pid"));
             ASSERT_TRUE(grandchild.has_value());
             // Gone before the answer came back, not merely soon after.
             EXPECT_FALSE(testing::processIsRunning(*grandchild));
         }});
    rows.push_back(
        {"forks a grandchild that ignores SIGTERM, then hangs",
         [&](Rig& rig) {
             return alone(rig.codex("(trap '' TERM; exec sleep 30) &\ncat > /dev/null\nsleep 30\n",
                                    timeout));
         },
         {.outcome = Outcome::failed("Codex CLI timed out after 0.3s"), .deadline = timedOutBy}});
    rows.push_back({"exits non-zero with a message",
                    [](Rig& rig) {
                        return alone(rig.codex(
                            "cat > /dev/null\necho 'Error:   model\toverloaded' >&2\nexit 2\n"));
                    },
                    {.outcome = Outcome::failed("Codex CLI failed: Error: model overloaded")}});
    rows.push_back({"exits non-zero without a word",
                    [](Rig& rig) { return alone(rig.codex("cat > /dev/null\nexit 3\n")); },
                    {.outcome = Outcome::failed("Codex CLI failed with exit code 3")}});
    rows.push_back({"is killed by a signal",
                    [](Rig& rig) { return alone(rig.codex("cat > /dev/null\nkill -9 $$\n")); },
                    {.outcome = Outcome::failed("Codex CLI failed with exit code 137")}});
    rows.push_back({"reports a failed turn",
                    [](Rig& rig) {
                        return alone(rig.codex(
                            "cat > /dev/null\n"
                            "echo '{\"type\":\"turn.failed\",\"error\":{\"message\":\"Rate limit "
                            "reached\"}}'\n"));
                    },
                    {.outcome = Outcome::failed("Rate limit reached")}});
    rows.push_back({"writes no answer",
                    [](Rig& rig) { return alone(rig.codex("cat > /dev/null\nexit 0\n")); },
                    {.outcome = Outcome::failed("Codex returned an empty response")}});
    rows.push_back({"cannot be started",
                    [](Rig& rig) {
                        auto provider = rig.codex("exit 0\n");
                        std::filesystem::permissions(rig.tools.file("codex-1"),
                                                     std::filesystem::perms::owner_read);
                        return alone(provider);
                    },
                    {.outcome = Outcome::failed("Codex CLI failed: posix_spawn failed: "),
                     .reasonIsPrefix = true}});
    // With a fallback.
    rows.push_back(
        {"hangs, the hosted fallback corrects",
         [&](Rig& rig) {
             rig.server.enqueue(hostedAnswer({"The cat ", "qzcanary4417 sat on the mat."}));
             return std::pair{rig.codex("cat > /dev/null\nsleep 30\n", timeout), rig.hosted()};
         },
         {.outcome = Outcome::corrected(),
          .status = Status::fallback("codex-cli-byok failed: Codex CLI timed out after 0.3s"),
          .output = kCorrected,
          // The fallback's partial texts never reach the caller.
          .partials = std::vector<std::u16string>{},
          .deadline = timedOutBy}});
    rows.push_back(
        {"writes no answer, the on-device fallback corrects",
         [](Rig& rig) {
             rig.model->enqueue(snapshotsOf({kCorrected}));
             return std::pair{rig.codex("cat > /dev/null\nexit 0\n"), rig.onDevice()};
         },
         {.outcome = Outcome::corrected(),
          .status = Status::fallback("codex-cli-byok failed: Codex returned an empty response"),
          .output = kCorrected}});

    runMatrix("tool faults", rows);
}

// ---- Answers ----------------------------------------------------------------------------------

// A provider that answers `answer` (UTF-8), whole, in the way of its kind.
using AnswerSource = std::function<Provider(Rig&, const std::string& answer)>;

struct Kind {
    std::string name;
    std::string providerID;
    AnswerSource answering;
    // How a blank answer ends: a failure of the provider's own, or the engine's refusal.
    Outcome blank;
};

// The fallback message of a primary attempt that ended with `outcome`.
std::string handOver(const std::string& providerID, const Outcome& outcome) {
    return providerID + (outcome.kind == Outcome::Kind::rejected ? " rejected: " : " failed: ") +
           outcome.reason;
}

std::vector<Kind> answeringKinds() {
    return {
        {"hosted", "hosted-proxy",
         [](Rig& rig, const std::string& answer) {
             rig.server.enqueue(hostedAnswer({answer}));
             return rig.hosted();
         },
         Outcome::failed("Hosted proxy returned empty response")},
        {"openai", "openai-byok",
         [](Rig& rig, const std::string& answer) {
             rig.server.enqueue(openaiAnswer({answer}));
             return rig.openai();
         },
         // The service's text is kept as sent, blanks included; the engine refuses it.
         Outcome::rejected("empty answer")},
        {"generic endpoint", "hosted-online",
         [](Rig& rig, const std::string& answer) {
             rig.server.enqueue(remoteAnswer(answer));
             return rig.remote();
         },
         // The corrected text is taken as received; the engine refuses a blank one.
         Outcome::rejected("empty answer")},
        {"codex", "codex-cli-byok",
         [](Rig& rig, const std::string& answer) { return rig.codex(codexAnswer(answer)); },
         Outcome::failed("Codex returned an empty response")},
        {"on-device", "foundation-models",
         [](Rig& rig, const std::string& answer) {
             // A blank answer is snapshots without text.
             rig.model->enqueue(text::isBlank(text::toUtf16(answer))
                                    ? snapshotsOf({u""})
                                    : snapshotsOf({text::toUtf16(answer)}));
             return rig.onDevice();
         },
         Outcome::failed("Foundation Models stream ended without output")},
    };
}

TEST(FaultMatrix, AnswersAreJudgedTheSameWhicheverProviderGaveThem) {
    const std::string schemaLeak =
        "QNModelCorrectedOutput(correctedText: \"" + kCorrectedUtf8 + "\")";
    const std::string leakReason = "schema leak (\"qnmodelcorrectedoutput\")";
    const std::string echoed = kCorrectedUtf8 + " " + kContextUtf8;

    std::vector<Row> rows;
    const std::vector<Kind> kinds = answeringKinds();
    for (std::size_t index = 0; index < kinds.size(); ++index) {
        const Kind& kind = kinds[index];
        // Each kind hands over to the next one round the list.
        const Kind& next = kinds[(index + 1) % kinds.size()];
        const AnswerSource answering = kind.answering;
        const AnswerSource fallback = next.answering;
        const std::string id = kind.providerID;

        rows.push_back({kind.name + ": a preamble",
                        [=](Rig& rig) {
                            return alone(
                                answering(rig, "Here is the corrected version: " + kCorrectedUtf8));
                        },
                        {.outcome = Outcome::corrected(), .output = kCorrected}});
        rows.push_back({kind.name + ": a code fence",
                        [=](Rig& rig) {
                            return alone(answering(rig, "```text\n" + kCorrectedUtf8 + "\n```"));
                        },
                        {.outcome = Outcome::corrected(), .output = kCorrected}});
        rows.push_back({kind.name + ": the same text",
                        [=](Rig& rig) { return alone(answering(rig, text::toUtf8(kUserText))); },
                        {.outcome = Outcome::unchanged()}});
        rows.push_back({kind.name + ": echoed context",
                        [=](Rig& rig) { return alone(answering(rig, echoed)); },
                        {.outcome = Outcome::rejected("echoed context")},
                        kContext});
        // An echo is the route's answer, not its failure: no fallback is asked.
        rows.push_back({kind.name + ": echoed context, fallback",
                        [=](Rig& rig) {
                            auto primary = answering(rig, echoed);
                            return std::pair{primary, fallback(rig, kCorrectedUtf8)};
                        },
                        {.outcome = Outcome::rejected("echoed context")},
                        kContext});
        rows.push_back({kind.name + ": a leaked schema",
                        [=](Rig& rig) { return alone(answering(rig, schemaLeak)); },
                        {.outcome = Outcome::rejected(leakReason)}});
        rows.push_back({kind.name + ": a leaked schema, fallback",
                        [=](Rig& rig) {
                            auto primary = answering(rig, schemaLeak);
                            return std::pair{primary, fallback(rig, kCorrectedUtf8)};
                        },
                        {.outcome = Outcome::corrected(),
                         .status = Status::fallback(id + " rejected: " + leakReason),
                         .output = kCorrected}});
        rows.push_back({kind.name + ": a blank answer",
                        [=](Rig& rig) { return alone(answering(rig, " \n\t ")); },
                        {.outcome = kind.blank}});
        rows.push_back({kind.name + ": a blank answer, fallback",
                        [=](Rig& rig) {
                            auto primary = answering(rig, " \n\t ");
                            return std::pair{primary, fallback(rig, kCorrectedUtf8)};
                        },
                        {.outcome = Outcome::corrected(),
                         .status = Status::fallback(handOver(id, kind.blank)),
                         .output = kCorrected}});
        rows.push_back({kind.name + ": an answer that cleans to nothing",
                        [=](Rig& rig) { return alone(answering(rig, "```\n\n```")); },
                        {.outcome = Outcome::rejected("empty answer")}});
        rows.push_back({kind.name + ": an answer that cleans to nothing, fallback",
                        [=](Rig& rig) {
                            auto primary = answering(rig, "```\n\n```");
                            return std::pair{primary, fallback(rig, kCorrectedUtf8)};
                        },
                        {.outcome = Outcome::corrected(),
                         .status = Status::fallback(id + " rejected: empty answer"),
                         .output = kCorrected}});
    }
    // An answer that starts with the context has it stripped, and what follows stands.
    rows.push_back({"hosted: context echoed in front",
                    [&](Rig& rig) {
                        rig.server.enqueue(hostedAnswer({kContextUtf8 + " " + kCorrectedUtf8}));
                        return alone(rig.hosted());
                    },
                    {.outcome = Outcome::corrected(), .output = u" " + kCorrected},
                    kContext});

    runMatrix("answers", rows);
}

// ---- Availability and the on-device model ------------------------------------------------------

TEST(FaultMatrix, UnavailableProvidersAndModelErrors) {
    std::vector<Row> rows;
    rows.push_back({"the default engine on this platform has no on-device model",
                    [](Rig&) {
                        return std::pair<Provider, Provider>{nullptr, nullptr};
                    },
                    {.outcome = Outcome::unavailable("Device Not Eligible")},
                    std::nullopt,
                    [](Rig&, const Observed& seen) {
                        ASSERT_EQ(seen.events.size(), 1u);
                        EXPECT_EQ(seen.events[0].category, QNModelPrivacyLogCategory::availability);
                        EXPECT_EQ(seen.events[0].message, "Device Not Eligible");
                        EXPECT_EQ(seen.events[0].characterCount, text::characterCount(kUserText));
                    }});
    rows.push_back(
        {"the on-device model is not eligible, the hosted fallback corrects",
         [](Rig& rig) {
             rig.model->setAvailability(
                 ModelAvailability::unavailable(UnavailableReason::deviceNotEligible));
             rig.server.enqueue(hostedAnswer({kCorrectedUtf8}));
             return std::pair{rig.onDevice(), rig.hosted()};
         },
         {.outcome = Outcome::corrected(),
          .status = Status::fallback("foundation-models unavailable: Device Not Eligible"),
          .output = kCorrected}});
    rows.push_back({"the model errs mid-stream",
                    [](Rig& rig) {
                        rig.model->enqueue(
                            snapshotsOf({u"The cat"}, StreamEnd::error("The generation failed.")));
                        return alone(rig.onDevice());
                    },
                    {.outcome = Outcome::failed("The generation failed."),
                     .partials = std::vector<std::u16string>{u"The cat"}}});
    rows.push_back(
        {"hosted not configured, the Codex fallback corrects without a request",
         [](Rig& rig) {
             return std::pair{rig.hostedWithoutSession(), rig.codex(codexAnswer(kCorrectedUtf8))};
         },
         {.outcome = Outcome::corrected(),
          .status = Status::fallback("hosted-proxy unavailable: Hosted Online Not Configured"),
          .output = kCorrected},
         std::nullopt,
         [](Rig& rig, const Observed&) { EXPECT_EQ(rig.server.requestCount(), 0u); }});
    rows.push_back({"neither provider can answer",
                    [](Rig& rig) {
                        rig.model->setAvailability(
                            ModelAvailability::unavailable(UnavailableReason::modelNotReady));
                        return std::pair{rig.hostedWithoutSession(), rig.onDevice()};
                    },
                    {.outcome = Outcome::unavailable("Hosted Online Not Configured")},
                    std::nullopt,
                    [](Rig& rig, const Observed& seen) {
                        EXPECT_EQ(rig.server.requestCount(), 0u);
                        ASSERT_EQ(seen.events.size(), 1u);
                        EXPECT_EQ(seen.events[0].message, "Hosted Online Not Configured");
                    }});
    rows.push_back(
        {"no OpenAI key, the on-device fallback corrects without a request",
         [](Rig& rig) {
             rig.model->enqueue(snapshotsOf({kCorrected}));
             return std::pair<Provider, Provider>{
                 std::make_shared<QNProviderOpenAICorrection>(
                     QNProviderOpenAICorrection::Configuration("gpt-4.1-mini", 5, 5, 10,
                                                               "openai-byok"),
                     "Correct the text.", [] { return std::optional<std::string>(" \n"); },
                     net::HttpClient::shared(), Clock::system(), rig.server.url("")),
                 rig.onDevice()};
         },
         {.outcome = Outcome::corrected(),
          .status = Status::fallback("openai-byok unavailable: OpenAI Key Not Configured"),
          .output = kCorrected},
         std::nullopt,
         [](Rig& rig, const Observed&) { EXPECT_EQ(rig.server.requestCount(), 0u); }});
    rows.push_back(
        {"the Codex tool is not configured",
         [](Rig&) {
             return alone(std::make_shared<QNProviderCodexCLICorrection>(
                 QNProviderCodexCLICorrection::Configuration{std::string(" \n"), std::nullopt,
                                                             std::nullopt, 5, "codex-cli-byok"},
                 "Fix spelling only."));
         },
         {.outcome = Outcome::unavailable("Codex CLI Not Configured")}});

    runMatrix("availability", rows);
}

}  // namespace
}  // namespace ravlin::e2e
