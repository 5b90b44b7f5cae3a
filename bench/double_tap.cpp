// Per-key-down cost of the typed double-tap trigger's handler, the work done on the main
// sequence for every key press of the session (the accessibility reading of an unverified pair
// excluded: typing after a Space never needs it).

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/triggers/double_tap_trigger.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin {
namespace {

// Takes posted work (log lines, the fire task) and drops it: only the handler is measured.
class DroppingExecutor final : public Executor {
  public:
    TaskID post(Task) override { return ++posted; }
    TaskID postAfter(std::chrono::nanoseconds, Task) override { return ++posted; }
    bool cancel(TaskID) override { return false; }
    Instant now() const override { return Instant{}; }
    TaskID posted = 0;
};

struct Key {
    std::uint32_t keyCode;
    std::u16string characters;
};

std::vector<Key> typing() {
    // Ordinary prose with a double tap after a Space now and then.
    const std::u16string text = u"the quick brown fox jumps over the lazy dog ee and then some ";
    // Key codes of the US ANSI layout, in order from 0 (10 and 36 type nothing here).
    const std::u16string letters = u"asdfhgzxcv\u00A7bqweryt123465=97-80]ou[ip\rlj'k;\\,/nm.";
    std::vector<Key> keys;
    for (const char16_t c : text) {
        std::uint32_t code = c == u' ' ? 49 : 0;
        if (c == u'e') {
            code = 14;
        } else if (const auto at = letters.find(c); at != std::u16string::npos) {
            code = static_cast<std::uint32_t>(at);
        }
        keys.push_back({code, std::u16string(1, c)});
    }
    return keys;
}

void handlerPerKeyDown(benchmark::State& state) {
    auto manual = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop(manual);
    auto executor = std::make_shared<DroppingExecutor>();
    QNTriggerDoubleTap trigger(
        14, [] {}, desktop.seams(), executor, desktop.ownPid());
    const auto keys = typing();
    double now = 1000;
    std::size_t index = 0;
    for (auto _ : state) {
        const auto& key = keys[index];
        index = index + 1 == keys.size() ? 0 : index + 1;
        now += 0.15;
        platform::InputEvent event{.type = platform::InputEventType::keyDown,
                                   .keyCode = key.keyCode,
                                   .characters = key.characters,
                                   .timestamp = now};
        benchmark::DoNotOptimize(trigger.handleEvent(event));
    }
    state.counters["posts"] = static_cast<double>(executor->posted);
}
BENCHMARK(handlerPerKeyDown);

void handlerOrdinaryKey(benchmark::State& state) {
    auto manual = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop(manual);
    auto executor = std::make_shared<DroppingExecutor>();
    QNTriggerDoubleTap trigger(
        14, [] {}, desktop.seams(), executor, desktop.ownPid());
    platform::InputEvent event{.type = platform::InputEventType::keyDown,
                               .keyCode = 11,
                               .characters = u"b",
                               .timestamp = 1000};
    for (auto _ : state) {
        event.timestamp += 0.15;
        benchmark::DoNotOptimize(trigger.handleEvent(event));
    }
}
BENCHMARK(handlerOrdinaryKey);

}  // namespace
}  // namespace ravlin
