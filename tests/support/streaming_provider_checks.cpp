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
        const auto started = std::chrono::steady_clock::now();
        const auto events = streamEvents(*provider, textRequest());
        EXPECT_EQ(partials(events), std::vector<std::u16string>{u"Hi"});
        EXPECT_EQ(failureOf(events), texts.totalDeadlineExceeded);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    }
    {
        SCOPED_TRACE("dropped connection");
        LoopbackHttpServer server;
        server.enqueue(ScriptedReply::eventStream().event(deltaEvent("Hi")).drop());
        auto provider = makeProvider(server, 1.0, 1.0, 5.0);
        const auto failure = failureOf(streamEvents(*provider, textRequest()));
        EXPECT_TRUE(failure.starts_with(texts.networkErrorPrefix)) << failure;
    }
}

}  // namespace ravlin::testing
