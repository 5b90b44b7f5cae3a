// A stop request in every phase of a correction, through the real engine and providers: the
// answer is always the engine's cancelled skip, it comes promptly, and nothing is left behind.
// The worst time from the stop request to the return is printed, not asserted tightly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "core/text/unicode.h"
#include "tests/core-e2e/e2e_harness.h"

namespace ravlin::e2e {
namespace {

using ondevice::StreamEnd;
using testing::snapshotsOf;

// Every time limit in play is long, and the stand-ins' hangs last 30 s or more: only a stop ends
// a call before that.
constexpr Timing kLong{60, 60, 120};
// Far beyond any phase's prompt answer on a loaded machine, far below any time-out or hang in
// play: a watchdog, not a measurement (the latency is printed).
constexpr std::chrono::milliseconds kPrompt{15000};

struct Phase {
    std::string name;
    std::function<std::pair<Provider, Provider>(Rig&)> arrange;
    // Arranges for the stop: returns the thread that will ask for it, or an empty thread when a
    // callback on the correcting thread asks (set up through `call` or the rig).
    std::function<std::jthread(Rig&, std::stop_source&, StopWatch&, Call&)> stopWhen;
    // Whether the decision itself is the cancelled skip (false once a fallback took over).
    bool decisionIsSkipped = true;
};

// A thread that waits for `ready` and then asks for the stop.
std::jthread stopAfter(std::function<bool()> ready, std::stop_source& source, StopWatch& watch,
                       std::chrono::milliseconds settle = 50ms) {
    return std::jthread([ready = std::move(ready), &source, &watch, settle] {
        if (ready()) {
            std::this_thread::sleep_for(settle);
        }
        watch.stop(source);
    });
}

std::function<bool()> pidFileOf(Rig& rig, const std::string& name) {
    return [&rig, name] { return testing::waitForPidFile(rig.tools.file(name)).has_value(); };
}

std::function<bool()> requestsReached(Rig& rig, std::size_t count) {
    return [&rig, count] { return rig.server.waitForRequests(count, 5s); };
}

TEST(Cancellation, EveryPhaseAnswersCancelledPromptly) {
    const std::string hangingTool = "echo $$ > \"$FAKE_DIR/tool.pid\"\ncat > /dev/null\nsleep 30\n";
    std::vector<Phase> phases;
    phases.push_back({"before the call",
                      [](Rig& rig) {
                          rig.server.enqueue(hostedAnswer({"The cat"}));
                          return std::pair<Provider, Provider>{rig.hosted(kLong), nullptr};
                      },
                      [](Rig&, std::stop_source& source, StopWatch& watch, Call&) {
                          watch.stop(source);
                          return std::jthread();
                      }});
    phases.push_back({"hosted: waiting for the head",
                      [](Rig& rig) {
                          rig.server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
                          return std::pair<Provider, Provider>{rig.hosted(kLong), nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(requestsReached(rig, 1), source, watch);
                      }});
    phases.push_back({"hosted: reading an error body",
                      [](Rig& rig) {
                          rig.server.enqueue(ScriptedReply(500).chunk("Internal").stall());
                          return std::pair<Provider, Provider>{rig.hosted(kLong), nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(requestsReached(rig, 1), source, watch, 150ms);
                      }});
    phases.push_back(
        {"hosted: waiting for the next line",
         [](Rig& rig) {
             rig.server.enqueue(ScriptedReply::eventStream().event(textDelta("The cat")).stall());
             return std::pair<Provider, Provider>{rig.hosted(kLong), nullptr};
         },
         [](Rig&, std::stop_source& source, StopWatch& watch, Call& call) {
             auto partialSeen = std::make_shared<std::atomic<bool>>(false);
             call.onPartial = [partialSeen](const std::u16string&) { partialSeen->store(true); };
             return stopAfter(
                 [partialSeen] {
                     for (int i = 0; i < 500 && !partialSeen->load(); ++i) {
                         std::this_thread::sleep_for(10ms);
                     }
                     return partialSeen->load();
                 },
                 source, watch);
         }});
    phases.push_back({"hosted: inside the partial callback",
                      [](Rig& rig) {
                          ScriptedReply reply = ScriptedReply::eventStream();
                          reply.event(textDelta("The cat"));
                          for (int i = 0; i < 100; ++i) {
                              reply.pause(20ms).event(textDelta(" sat"));
                          }
                          rig.server.enqueue(std::move(reply));
                          return std::pair<Provider, Provider>{rig.hosted(kLong), nullptr};
                      },
                      [](Rig&, std::stop_source& source, StopWatch& watch, Call& call) {
                          call.onPartial = [&source, &watch](const std::u16string&) {
                              if (!watch.stopped()) {
                                  watch.stop(source);
                              }
                          };
                          return std::jthread();
                      }});
    phases.push_back({"openai: waiting for the head",
                      [](Rig& rig) {
                          rig.server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
                          return std::pair<Provider, Provider>{rig.openai(kLong), nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(requestsReached(rig, 1), source, watch);
                      }});
    phases.push_back({"openai: waiting for the next line",
                      [](Rig& rig) {
                          rig.server.enqueue(
                              ScriptedReply::eventStream().event(textDelta("The cat")).stall());
                          return std::pair<Provider, Provider>{rig.openai(kLong), nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(requestsReached(rig, 1), source, watch, 150ms);
                      }});
    phases.push_back({"generic endpoint: waiting for the head",
                      [](Rig& rig) {
                          rig.server.enqueue(ScriptedReply(200).stallBeforeHead());
                          return std::pair<Provider, Provider>{rig.remote(kLong.request), nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(requestsReached(rig, 1), source, watch);
                      }});
    phases.push_back(
        {"generic endpoint: a reply that trickles on and on",
         [](Rig& rig) {
             // Each piece comes well within the time-out, so only a stop ends it.
             ScriptedReply reply(200);
             reply.header("Content-Type", "application/json").chunk(R"({"correctedText":")");
             for (int i = 0; i < 1000; ++i) {
                 reply.pause(20ms).chunk("x");
             }
             rig.server.enqueue(std::move(reply));
             return std::pair<Provider, Provider>{rig.remote(kLong.request), nullptr};
         },
         [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
             return stopAfter(requestsReached(rig, 1), source, watch, 300ms);
         }});
    phases.push_back(
        {"codex: the tool is running",
         [hangingTool](Rig& rig) {
             return std::pair<Provider, Provider>{rig.codex(hangingTool, kLong.request), nullptr};
         },
         [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
             return stopAfter(pidFileOf(rig, "tool.pid"), source, watch);
         }});
    phases.push_back(
        {"codex: the tool ignores SIGTERM",
         [](Rig& rig) {
             return std::pair<Provider, Provider>{
                 rig.codex("trap '' TERM\necho $$ > \"$FAKE_DIR/tool.pid\"\ncat > /dev/null\n"
                           "sleep 30\n",
                           kLong.request),
                 nullptr};
         },
         [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
             return stopAfter(pidFileOf(rig, "tool.pid"), source, watch);
         }});
    phases.push_back({"codex: the prompt is still being written",
                      [](Rig& rig) {
                          // The tool never reads its input, and the input is far larger than a pipe
                          // holds.
                          return std::pair<Provider, Provider>{
                              rig.codex("echo $$ > \"$FAKE_DIR/tool.pid\"\nsleep 30\n",
                                        kLong.request, std::string(1 << 20, 'p')),
                              nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(pidFileOf(rig, "tool.pid"), source, watch);
                      }});
    phases.push_back(
        {"codex: a grandchild that ignores SIGTERM holds the output",
         [](Rig& rig) {
             return std::pair<Provider, Provider>{
                 rig.codex("(trap '' TERM; exec sleep 30) &\n"
                           "echo $! > \"$FAKE_DIR/grandchild.pid\"\ncat > /dev/null\nsleep 30\n",
                           kLong.request),
                 nullptr};
         },
         [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
             return stopAfter(pidFileOf(rig, "grandchild.pid"), source, watch);
         }});
    phases.push_back({"on-device: between snapshots",
                      [](Rig& rig) {
                          return std::pair<Provider, Provider>{rig.onDevice(), nullptr};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          auto response = snapshotsOf({u"The", u"The cat", kCorrected});
                          response.beforeSnapshot = [&source, &watch](std::size_t index) {
                              if (index == 1) {
                                  watch.stop(source);
                              }
                          };
                          rig.model->enqueue(std::move(response));
                          return std::jthread();
                      }});
    phases.push_back({"on-device: inside the partial callback",
                      [](Rig& rig) {
                          rig.model->enqueue(snapshotsOf({u"The cat", kCorrected}));
                          return std::pair<Provider, Provider>{rig.onDevice(), nullptr};
                      },
                      [](Rig&, std::stop_source& source, StopWatch& watch, Call& call) {
                          call.onPartial = [&source, &watch](const std::u16string&) {
                              if (!watch.stopped()) {
                                  watch.stop(source);
                              }
                          };
                          return std::jthread();
                      }});
    phases.push_back({"fallback: the Codex fallback is running",
                      [hangingTool](Rig& rig) {
                          rig.server.enqueue(ScriptedReply(500));
                          return std::pair{rig.hosted(kLong),
                                           rig.codex(hangingTool, kLong.request)};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(pidFileOf(rig, "tool.pid"), source, watch);
                      },
                      false});
    phases.push_back({"fallback: the hosted fallback waits for the head",
                      [](Rig& rig) {
                          rig.model->enqueue(snapshotsOf(
                              {u"The cat"}, StreamEnd::error("The generation failed.")));
                          rig.server.enqueue(ScriptedReply::eventStream().stallBeforeHead());
                          return std::pair{rig.onDevice(), rig.hosted(kLong)};
                      },
                      [](Rig& rig, std::stop_source& source, StopWatch& watch, Call&) {
                          return stopAfter(requestsReached(rig, 1), source, watch);
                      },
                      false});

    std::chrono::microseconds worst{0};
    std::string worstPhase;
    for (const Phase& phase : phases) {
        SCOPED_TRACE(phase.name);
        const testing::ResourceSnapshot before = testing::ResourceSnapshot::take();
        {
            Rig rig;
            auto [primary, fallback] = phase.arrange(rig);
            std::stop_source source;
            StopWatch watch;
            Call call;
            call.stop = source.get_token();
            std::jthread stopper = phase.stopWhen(rig, source, watch, call);
            const Observed seen = correct(primary, fallback, call);
            if (stopper.joinable()) {
                stopper.join();
            }
            ASSERT_TRUE(watch.stopped()) << "the call ended before the stop was asked for";

            EXPECT_EQ(seen.result.outcome, Outcome::skipped("Cancelled"))
                << seen.result.outcome.reason;
            ASSERT_TRUE(seen.result.decision.has_value());
            if (phase.decisionIsSkipped) {
                EXPECT_EQ(seen.result.decision->status, Status::skipped("Cancelled"))
                    << seen.result.decision->status.reason;
            } else {
                ASSERT_EQ(seen.result.decision->children.size(), 1u);
                EXPECT_EQ(seen.result.decision->children[0].status, Status::skipped("Cancelled"));
            }
            EXPECT_EQ(seen.result.output, kUserText);
            expectNoCanary(seen);

            const auto latency = watch.latencyUntil(seen.returnedAt);
            EXPECT_LT(latency, kPrompt);
            std::printf("cancellation: %-60s %7.1f ms from stop to return\n", phase.name.c_str(),
                        static_cast<double>(latency.count()) / 1000.0);
            if (latency > worst) {
                worst = latency;
                worstPhase = phase.name;
            }
            EXPECT_TRUE(rig.codexRunsCleanedUp());
        }
        expectNothingLeaked(before);
    }
    std::printf("cancellation: %zu phases, worst stop-to-return latency %.1f ms (%s)\n",
                phases.size(), static_cast<double>(worst.count()) / 1000.0, worstPhase.c_str());
}

}  // namespace
}  // namespace ravlin::e2e
