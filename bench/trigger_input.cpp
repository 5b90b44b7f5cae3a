// Key taps on X11: the cost of one raw key event up to the tap's handler, with the modifier
// state kept and (second case) the characters asked for, as a typed-double-tap trigger does.
// The keymap is compiled from the "us" layout; no X server is needed.

#include <benchmark/benchmark.h>

#include <X11/X.h>

#include "platform/linux/taps/raw_key_translator.h"

namespace {

using ravlin::platform::InputEvent;
using ravlin::platform::x11::ModifierMap;
using ravlin::platform::x11::RawInput;
using ravlin::platform::x11::RawKeyTranslator;
using ravlin::platform::x11::XkbSnapshot;

// Shift, E, E, Shift typed over and over: a quarter of the events change the flags.
void run(benchmark::State& state, bool characters) {
    RawKeyTranslator translator;
    ModifierMap map;
    map.keyMask[50] = ShiftMask;
    map.keyMask[133] = Mod4Mask;
    map.super = Mod4Mask;
    translator.setModifierMap(map);
    translator.setKeymap(XkbSnapshot::fromLayout("us"));
    const RawInput script[] = {
        {RawInput::Kind::keyPress, 50},   {RawInput::Kind::keyPress, 26},
        {RawInput::Kind::keyRelease, 26}, {RawInput::Kind::keyRelease, 50},
        {RawInput::Kind::keyPress, 26},   {RawInput::Kind::keyRelease, 26},
    };
    unsigned long time = 1;
    std::size_t step = 0;
    std::size_t typed = 0;
    auto deliver = [&](const InputEvent& event) {
        if (characters && event.characterSource) {
            typed += event.typed().size();
        }
        benchmark::DoNotOptimize(event.flags);
    };
    for (auto _ : state) {
        auto input = script[step];
        step = step + 1 == std::size(script) ? 0 : step + 1;
        input.time = ++time;
        if (const auto event = translator.translate(input)) {
            deliver(*event);
        }
    }
    benchmark::DoNotOptimize(typed);
    state.SetItemsProcessed(state.iterations());
}

void BM_RawKeyEventToTap(benchmark::State& state) {
    run(state, false);
}
void BM_RawKeyEventToTapWithCharacters(benchmark::State& state) {
    run(state, true);
}
BENCHMARK(BM_RawKeyEventToTap);
BENCHMARK(BM_RawKeyEventToTapWithCharacters);

}  // namespace
