// Each real provider as the engine's only provider, and every primary/fallback pair across them:
// what the person's text becomes on the way out, what comes back, and how the engine records it.

#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/records/prompt_catalogue.h"
#include "core/text/unicode.h"
#include "tests/core-e2e/e2e_harness.h"

namespace ravlin::e2e {
namespace {

using ondevice::StreamEnd;
using testing::snapshotsOf;

const std::string kCorrectedUtf8 = text::toUtf8(kCorrected);

TEST(ThroughTheEngine, TheHostedServiceGetsTheTextAndItsContextAndStreamsTheAnswer) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        rig.server.enqueue(hostedAnswer({"The cat ", "qzcanary4417 sat ", "on the mat."}));
        Call call;
        call.context = kContext;
        const Observed seen = correct(rig.hosted(), nullptr, call);

        EXPECT_EQ(seen.result.outcome, Outcome::corrected());
        EXPECT_EQ(seen.result.output, kCorrected);
        // Each partial is cleaned like an answer, without the final full stop the whole answer
        // gets: it shows no stop where the sentence goes on.
        EXPECT_EQ(seen.partials, (std::vector<std::u16string>{
                                     u"The cat", u"The cat qzcanary4417 sat", kCorrected}));
        ASSERT_TRUE(seen.result.usage.has_value());
        EXPECT_EQ(seen.result.usage->inputTokens, 21);
        EXPECT_EQ(seen.result.usage->outputTokens, 9);
        EXPECT_EQ(seen.result.decision->provider->providerID, "hosted-proxy");
        ASSERT_EQ(seen.result.decision->stages.size(), 1u);
        EXPECT_EQ(seen.result.decision->stages[0].id, QNCorrectionStageID::modelCall);

        ASSERT_EQ(rig.server.requestCount(), 1u);
        const auto request = rig.server.requests()[0];
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.header("Authorization"), "Bearer pub-key");
        const auto body = nlohmann::json::parse(request.body);
        const QNModelCorrectionRequest sent(
            kUserText, body["maximumResponseTokens"].get<std::int64_t>(), std::nullopt, kContext);
        EXPECT_EQ(body["input"], text::toUtf8(sent.modelInputText()));
        EXPECT_EQ(body["instructions"], sent.instructions("Correct the text."));
        EXPECT_GT(body["maximumResponseTokens"].get<std::int64_t>(), 0);
        expectNoCanary(seen);
    }
    expectNothingLeaked(before);
}

TEST(ThroughTheEngine, OpenAIGetsTheTextWithTheUsersKeyAndStreamsTheAnswer) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        rig.server.enqueue(openaiAnswer({"The cat ", "qzcanary4417 sat on the mat."}));
        Call call;
        call.context = kContext;
        const Observed seen = correct(rig.openai(), nullptr, call);

        EXPECT_EQ(seen.result.outcome, Outcome::corrected());
        EXPECT_EQ(seen.result.output, kCorrected);
        EXPECT_EQ(seen.partials, (std::vector<std::u16string>{u"The cat", kCorrected}));
        EXPECT_EQ(seen.result.decision->provider->providerName, "OpenAI");

        ASSERT_EQ(rig.server.requestCount(), 1u);
        const auto request = rig.server.requests()[0];
        EXPECT_EQ(request.target, "/v1/responses");
        EXPECT_EQ(request.header("Authorization"), "Bearer sk-test");
        const auto body = nlohmann::json::parse(request.body);
        const QNModelCorrectionRequest sent(
            kUserText, body["max_output_tokens"].get<std::int64_t>(), std::nullopt, kContext);
        EXPECT_EQ(body["input"], text::toUtf8(sent.modelInputText()));
        EXPECT_EQ(body["instructions"], sent.instructions("Correct the text."));
        expectNoCanary(seen);
    }
    expectNothingLeaked(before);
}

TEST(ThroughTheEngine, TheGenericEndpointGetsTheTextWithItsTokenAndAnswersOnce) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        rig.server.enqueue(remoteAnswer(kCorrectedUtf8));
        Call call;
        call.context = kContext;
        const Observed seen = correct(rig.remote(), nullptr, call);

        EXPECT_EQ(seen.result.outcome, Outcome::corrected());
        EXPECT_EQ(seen.result.output, kCorrected);
        EXPECT_TRUE(seen.partials.empty());
        ASSERT_TRUE(seen.result.usage.has_value());
        EXPECT_EQ(seen.result.usage->inputTokens, 21);

        ASSERT_EQ(rig.server.requestCount(), 1u);
        const auto request = rig.server.requests()[0];
        EXPECT_EQ(request.target, "/v1/correct");
        EXPECT_EQ(request.header("Authorization"), "Bearer remote-token");
        const auto body = nlohmann::json::parse(request.body);
        const QNModelCorrectionRequest sent(
            kUserText, body["maximumResponseTokens"].get<std::int64_t>(), std::nullopt, kContext);
        EXPECT_EQ(body["input"], text::toUtf8(sent.modelInputText()));
        EXPECT_EQ(body["instructions"], sent.instructions("Correct the text."));
        expectNoCanary(seen);
    }
    expectNothingLeaked(before);
}

TEST(ThroughTheEngine, TheCodexToolGetsInstructionsAndTextOnItsInputAndAnswersOnce) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        auto provider = rig.codex("cat > \"$FAKE_DIR/stdin\"\nprintf '%s\\n' '  " + kCorrectedUtf8 +
                                  "' > \"$OUT\"\n");
        Call call;
        call.context = kContext;
        const Observed seen = correct(provider, nullptr, call);

        EXPECT_EQ(seen.result.outcome, Outcome::corrected());
        EXPECT_EQ(seen.result.output, kCorrected);
        EXPECT_TRUE(seen.partials.empty());
        EXPECT_FALSE(seen.result.usage.has_value());
        const QNModelCorrectionRequest sent(kUserText, 1, std::nullopt, kContext);
        EXPECT_EQ(rig.tools.read("stdin"), sent.instructions("Fix spelling only.") + "\n\n" +
                                               text::toUtf8(sent.modelInputText()));
        EXPECT_EQ(seen.result.decision->provider->providerName, "Codex CLI");
        EXPECT_TRUE(rig.codexRunsCleanedUp());
        expectNoCanary(seen);
    }
    expectNothingLeaked(before);
}

TEST(ThroughTheEngine, TheOnDeviceModelStreamsDistinctSnapshots) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        rig.model->enqueue(snapshotsOf({u"The", u"The", u"", u"The cat", kCorrected}));
        const Observed seen = correct(rig.onDevice(), nullptr);

        EXPECT_EQ(seen.result.outcome, Outcome::corrected());
        EXPECT_EQ(seen.result.output, kCorrected);
        // "The" alone may still begin "The corrected text:": it shows with the next word.
        EXPECT_EQ(seen.partials, (std::vector<std::u16string>{u"The cat", kCorrected}));
        const auto sessions = rig.model->sessions();
        ASSERT_FALSE(sessions.empty());
        ASSERT_EQ(sessions[0].prompts.size(), 1u);
        EXPECT_EQ(sessions[0].prompts[0], kUserText);
        EXPECT_EQ(seen.result.decision->provider->route, QNModelCorrectionRoute::local);
        expectNoCanary(seen);
    }
    expectNothingLeaked(before);
}

// Warming up starts work that may outlive the call; releasing the engine ends it.
TEST(ThroughTheEngine, AWarmUpStillWaitingEndsWithTheEngine) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        rig.server.setHandler(
            [](const testing::RecordedRequest&) { return ScriptedReply(204).stallBeforeHead(); });
        std::chrono::steady_clock::duration released{};
        {
            QNEngineCorrection engine("Fix the text.", rig.hosted(), rig.onDevice());
            engine.prewarm();
            ASSERT_TRUE(rig.server.waitForRequests(1, 5s));
            EXPECT_EQ(rig.server.requests()[0].method, "OPTIONS");
            EXPECT_EQ(rig.model->sessions().size(), 1u);  // the on-device fallback warmed too
            const auto start = std::chrono::steady_clock::now();
            engine.setModelProviders(rig.onDevice(), nullptr);  // the last reference goes
            released = std::chrono::steady_clock::now() - start;
        }
        EXPECT_LT(released, kMargin);
    }
    expectNothingLeaked(before);
}

// The application keeps two engines (live correction and polishing) over the same providers,
// calls them from worker threads and swaps their providers whenever the routing changes.
TEST(ThroughTheEngine, ConcurrentCorrectionsOverSharedProvidersWhileTheRoutingChanges) {
    const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
    {
        Rig rig;
        rig.server.setHandler([](const testing::RecordedRequest& request) {
            if (request.target == "/v1/responses") {
                return openaiAnswer({"The cat ", "qzcanary4417 sat on the mat."});
            }
            if (request.target == "/v1/correct") {
                return remoteAnswer(kCorrectedUtf8);
            }
            return hostedAnswer({"The cat ", "qzcanary4417 sat on the mat."});
        });
        constexpr int kThreads = 4;
        constexpr int kCallsEach = 10;
        for (int i = 0; i < kThreads * kCallsEach; ++i) {
            rig.model->enqueue(snapshotsOf({u"The cat", kCorrected}));
        }
        const std::vector<Provider> providers = {rig.hosted(), rig.openai(), rig.remote(),
                                                 rig.codex(codexAnswer(kCorrectedUtf8)),
                                                 rig.onDevice()};
        auto live =
            std::make_shared<QNEngineCorrection>("Fix the text.", providers[0], providers[4]);
        auto polish =
            std::make_shared<QNEngineCorrection>("Fix the text.", providers[1], providers[3]);

        std::atomic<bool> running{true};
        std::jthread router([&] {
            for (std::size_t turn = 0; running.load(); ++turn) {
                const auto& primary = providers[turn % providers.size()];
                const auto& fallback = providers[(turn + 1) % providers.size()];
                live->setModelProviders(primary, fallback);
                polish->setModelProviders(fallback, primary);
                std::this_thread::sleep_for(2ms);
            }
        });
        std::vector<std::vector<QNModelCorrectionResult>> results(kThreads);
        {
            std::vector<std::jthread> workers;
            for (int t = 0; t < kThreads; ++t) {
                workers.emplace_back([&, t] {
                    const auto& engine = t % 2 == 0 ? live : polish;
                    for (int call = 0; call < kCallsEach; ++call) {
                        results[t].push_back(engine->correct(kUserText, kContext, {}));
                    }
                });
            }
        }
        running = false;
        router.join();

        for (const auto& perThread : results) {
            ASSERT_EQ(perThread.size(), static_cast<std::size_t>(kCallsEach));
            for (const auto& result : perThread) {
                EXPECT_EQ(result.outcome, Outcome::corrected()) << result.outcome.reason;
                EXPECT_EQ(result.output, kCorrected);
                EXPECT_EQ(result.input, kUserText);
            }
        }
        EXPECT_TRUE(rig.codexRunsCleanedUp());
    }
    expectNothingLeaked(before);
}

// Every provider fails in its own way and hands over to every other provider.
TEST(ThroughTheEngine, EveryPairHandsOverWithTheRouteAndTimingNotes) {
    struct Member {
        std::string id;
        std::string readable;  // its readable log description
        std::function<Provider(Rig&)> failing;
        std::string failure;
        std::function<Provider(Rig&)> answering;
    };
    const std::vector<Member> members = {
        {"hosted-proxy",
         "ONLINE model provider=hosted-proxy Hosted Proxy model=server-controlled host=127.0.0.1",
         [](Rig& rig) {
             rig.server.enqueue(ScriptedReply(502));
             return rig.hosted();
         },
         "Hosted proxy HTTP 502",
         [](Rig& rig) {
             rig.server.enqueue(hostedAnswer({kCorrectedUtf8}));
             return rig.hosted();
         }},
        {"openai-byok",
         "ONLINE model provider=openai-byok OpenAI model=gpt-4.1-mini host=127.0.0.1",
         [](Rig& rig) {
             rig.server.enqueue(ScriptedReply(429));
             return rig.openai();
         },
         "Rate limited \xE2\x80\x94 try again later",
         [](Rig& rig) {
             rig.server.enqueue(openaiAnswer({kCorrectedUtf8}));
             return rig.openai();
         }},
        {"hosted-online",
         "ONLINE model provider=hosted-online Hosted Online model=gpt-remote host=127.0.0.1",
         [](Rig& rig) {
             rig.server.enqueue(ScriptedReply(503));
             return rig.remote();
         },
         "Online correction HTTP 503",
         [](Rig& rig) {
             rig.server.enqueue(remoteAnswer(kCorrectedUtf8));
             return rig.remote();
         }},
        {"codex-cli-byok", "ONLINE model provider=codex-cli-byok Codex CLI model=gpt-test",
         [](Rig& rig) { return rig.codex("cat > /dev/null\necho 'quota exceeded' >&2\nexit 1\n"); },
         "Codex CLI failed: quota exceeded",
         [](Rig& rig) { return rig.codex(codexAnswer(kCorrectedUtf8)); }},
        {"foundation-models",
         "LOCAL model provider=foundation-models Apple Foundation Models "
         "model=SystemLanguageModel.default",
         [](Rig& rig) {
             rig.model->enqueue(snapshotsOf({u""}, StreamEnd::error("The model is busy.")));
             return rig.onDevice();
         },
         "The model is busy.",
         [](Rig& rig) {
             rig.model->enqueue(snapshotsOf({kCorrected}));
             return rig.onDevice();
         }},
    };

    std::vector<Row> rows;
    for (const Member& primary : members) {
        for (const Member& fallback : members) {
            if (primary.id == fallback.id) {
                continue;
            }
            const std::string reason = primary.id + " failed: " + primary.failure;
            const std::string route = primary.readable + " -> " + fallback.readable;
            const std::string fallbackID = fallback.id;
            rows.push_back({primary.id + " -> " + fallback.id,
                            [primary, fallback](Rig& rig) {
                                auto first = primary.failing(rig);
                                return std::pair{first, fallback.answering(rig)};
                            },
                            {.outcome = Outcome::corrected(),
                             .status = Status::fallback(reason),
                             .output = kCorrected},
                            std::nullopt,
                            [reason, route, fallbackID](Rig&, const Observed& seen) {
                                const auto notes = seen.result.notes();
                                ASSERT_GE(notes.size(), 3u);
                                EXPECT_EQ(notes[0], "fallback: " + reason);
                                EXPECT_EQ(notes[1], "fallback route: " + route);
                                EXPECT_TRUE(notes.back().starts_with("timing: primary("))
                                    << notes.back();
                                const auto& decision = *seen.result.decision;
                                ASSERT_EQ(decision.children.size(), 1u);
                                EXPECT_EQ(decision.children[0].provider->providerID, fallbackID);
                                EXPECT_EQ(decision.children[0].status, Status::accepted());
                                EXPECT_EQ(decision.children[0].source,
                                          QNCorrectionDecisionSource::modelFallback());
                            }});
        }
    }
    runMatrix("provider pairs", rows);
}

}  // namespace
}  // namespace ravlin::e2e
