#include "tests/support/streaming_provider_checks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "tests/support/stream_events.h"

namespace ravlin::testing {

using namespace std::chrono_literals;

namespace {

QNModelCorrectionRequest textRequest() {
    return QNModelCorrectionRequest(u"text", 128);
}

}  // namespace

void expectStreamTimeLimits(const StreamingProviderFactory& makeProvider,
                            const StreamTimeLimitTexts& texts) {
    {
        SCOPED_TRACE("head never comes");
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
        auto provider = makeProvider(server, 0.2, 1.0, 5.0);
        EXPECT_EQ(failureOf(streamEvents(*provider, textRequest())), texts.requestTimedOut);
    }
    {
        SCOPED_TRACE("stall after one delta");
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::eventStream().event(deltaEvent("Hi")).stall());
        auto provider = makeProvider(server, 1.0, 0.2, 5.0);
        const auto events = streamEvents(*provider, textRequest());
        EXPECT_EQ(partials(events), std::vector<std::u16string>{u"Hi"});
        EXPECT_EQ(failureOf(events), texts.idleTimeout);
    }
    {
        SCOPED_TRACE("comment lines past the deadline");
        // Comment lines keep the idle timer quiet, but not the deadline.
        LoopbackHttpServer server;
        auto reply = ScriptedReply::eventStream().event(deltaEvent("Hi"));
        for (int i = 0; i < 20; ++i) {
            reply.pause(60ms).chunk(": still here\n");
        }
        server.enqueue(std::move(reply));
        auto provider = makeProvider(server, 1.0, 0.3, 0.4);
        const auto events = streamEvents(*provider, textRequest());
        EXPECT_EQ(partials(events), std::vector<std::u16string>{u"Hi"});
        // Unchecked, the reply would end by itself, without a failure.
        EXPECT_EQ(failureOf(events), texts.totalDeadlineExceeded);
    }
    {
        SCOPED_TRACE("dropped connection");
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::eventStream().event(deltaEvent("Hi")).drop());
        // Only the drop may end it: a busy machine must not reach a time limit first.
        auto provider = makeProvider(server, 60.0, 60.0, 120.0);
        const auto failure = failureOf(streamEvents(*provider, textRequest()));
        EXPECT_TRUE(failure.starts_with(texts.networkErrorPrefix)) << failure;
    }
}

void expectAnswerCap(const StreamingProviderFactory& makeProvider, const std::string& tooLargeText,
                     const std::string& closing) {
    struct Case {
        const char* name;
        std::int64_t responseTokens;
        std::string answer;
        bool fits;
    };
    const std::vector<Case> cases = {
        {"exactly the cap", 100, std::string(8192, 'a'), true},
        {"one byte past the cap", 256, std::string(8193, 'a'), false},
        {"white space past the cap", 256, "Hi" + std::string(8200, ' '), false},
        {"a larger budget", 1000, std::string(32000, 'a'), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reply = ScriptedReply::eventStream();
        for (std::size_t at = 0; at < c.answer.size(); at += 100) {
            reply.event(deltaEvent(std::string_view(c.answer).substr(at, 100)));
        }
        if (!closing.empty()) {
            reply.event(closing);
        }
        LoopbackHttpServer server;
        server.enqueue(std::move(reply));
        auto provider = makeProvider(server, 1.0, 1.0, 5.0);
        const auto events =
            streamEvents(*provider, QNModelCorrectionRequest(u"text", c.responseTokens));
        if (c.fits) {
            ASSERT_EQ(terminal(events).kind(), QNModelCorrectionStreamEvent::Kind::completed);
            EXPECT_EQ(terminal(events).response()->output.size(), c.answer.size());
        } else {
            EXPECT_EQ(failureOf(events), tooLargeText);
        }
    }
}

}  // namespace ravlin::testing
