// Cost of the filter work in one engine tick: every channel of a profile runs
// its chain once. The chains are the kind a rig owner writes: smoothing,
// gain, a crop or soft limit, and the odd effect generator.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <string>

#include "filters/filter_parser.h"
#include "filters/filter_slot.h"

namespace {

constexpr int kChannels = 23;

const std::array<std::string, 6> kTypicalChains = {
    "CROP(GAIN(EMALP(VALUE;25);1.5);-10;10)",
    "LOGISTIC(EMAHP(EMALP(VALUE;8);150);12;1,2)",
    "ROLLOVER(GAIN(EMALP(VALUE;4);0.8);180)",
    "ADD(NOISE(SINUS(VALUE;0.3;2);0.2;80;7);0.1)",
    "BITSCALE(ABS(EMALP(VALUE;40));60;255)",
    "REMAP(CROP(EMALP(VALUE;12);-1;1);-1;1;-5;5)",
};

struct Profile {
    std::array<rez::FilterSlot, kChannels> slots;
    Profile() {
        for (int c = 0; c < kChannels; ++c)
            slots[static_cast<std::size_t>(c)].store(
                rez::parseFilterString(kTypicalChains[static_cast<std::size_t>(c) % kTypicalChains.size()]));
    }
};

void BM_ProfileTick(benchmark::State& state) {
    Profile profile;
    double t = 0.0;
    for (auto _ : state) {
        double sum = 0.0;
        for (int c = 0; c < kChannels; ++c)
            sum += profile.slots[static_cast<std::size_t>(c)].evaluate(std::sin(t + c));
        benchmark::DoNotOptimize(sum);
        t += 0.002;
    }
    state.SetItemsProcessed(state.iterations() * kChannels);
}
BENCHMARK(BM_ProfileTick);

void BM_SingleChain(benchmark::State& state) {
    rez::FilterSlot slot(rez::parseFilterString(kTypicalChains[static_cast<std::size_t>(state.range(0))]));
    double x = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(slot.evaluate(x));
        x += 0.001;
    }
    state.SetLabel(kTypicalChains[static_cast<std::size_t>(state.range(0))]);
}
BENCHMARK(BM_SingleChain)->DenseRange(0, static_cast<int>(kTypicalChains.size()) - 1);

void BM_ParseTypicalChain(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(rez::parseFilterString(kTypicalChains[0]));
}
BENCHMARK(BM_ParseTypicalChain);

}  // namespace
