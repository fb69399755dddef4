// Cost of the filter work in one engine tick, side by side in one run:
//   nodes  - the chains walked node by node over their links (a lock and two
//            reference counts per node), as every evaluation once did;
//   slot   - FilterSlot::evaluate: the slot's lock and a reference per
//            channel, then the chain's plan;
//   tick   - FilterSlot::tickHead, the way the tick reaches its chains:
//            one atomic load per channel, then the plan;
//   plan   - the chains' plans called directly, without slot or head;
//   floor  - the same arithmetic on one flat array written out here, with no
//            slot, no ownership and no dispatch through a head.
// Before timing, every path is run over the same inputs from fresh state and
// must give bit-identical numbers to the floor.
//
//   filter_chain_bench [rounds, default 41]
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "filters/filter_parser.h"
#include "filters/filter_slot.h"

namespace {

// Both profiles' motion channels and the air profile's others: the chains a
// tick evaluates when every channel is enabled.
constexpr int kChains = 45;
constexpr int kTicks = 2000;  // inputs cycled through while timing
const char* const kChainText = "CROP(GAIN(EMAHP(EMALP(VALUE;25);150);1.5);-10;10)";

// The chain above as a flat array: kind, parameters as doubles, state as a
// float, innermost first. The arithmetic is the filters' own, step by step.
struct FlatStep {
    int kind;  // 0 VALUE, 1 EMALP, 2 EMAHP, 4 GAIN, 6 CROP
    double p1;
    double p2;
    float state;
};

struct Floor {
    std::vector<FlatStep> steps;  // kChains chains of stepsPerChain steps
    int stepsPerChain = 0;

    explicit Floor(const rez::FilterSys& head) {
        std::vector<FlatStep> chain;
        for (auto node = head.tailNode(); node; node = node->prevNode())
            chain.push_back(FlatStep{static_cast<int>(node->kind), node->param1, node->param2, 0.0f});
        stepsPerChain = static_cast<int>(chain.size());
        for (int c = 0; c < kChains; ++c) steps.insert(steps.end(), chain.begin(), chain.end());
    }

    // Out of line, so that how the callers are compiled does not move it.
    [[gnu::noinline]] double tick(const double* inputs, double* outputs) {
        double sum = 0.0;
        FlatStep* s = steps.data();
        for (int c = 0; c < kChains; ++c) {
            double a = inputs[c];
            for (int i = 0; i < stepsPerChain; ++i, ++s) {
                switch (s->kind) {
                    case 0: break;  // VALUE with scale 1
                    case 1: {
                        const double d = std::fabs(s->p1) < 1.0 ? 1.0 : s->p1;
                        const double st = s->state;
                        s->state = static_cast<float>(st + (a - st) / d);
                        a = s->state;
                        break;
                    }
                    case 2: {
                        const double d = std::fabs(s->p1) < 1.0 ? 1.0 : s->p1;
                        const double st = s->state;
                        s->state = static_cast<float>(st + (a - st) / d);
                        a = a - static_cast<double>(s->state);
                        break;
                    }
                    case 4: a = a * s->p1; break;
                    case 6: {
                        const double t = s->p2 < a ? s->p2 : a;
                        a = s->p1 > t ? s->p1 : t;
                        break;
                    }
                    default: std::abort();  // the chain above uses nothing else
                }
            }
            outputs[c] = a;
            sum += a;
        }
        return sum;
    }
};

struct Chains {
    std::array<rez::FilterSlot, kChains> slots;
    std::array<std::shared_ptr<rez::FilterSys>, kChains> heads;
    Chains() {
        for (int c = 0; c < kChains; ++c) {
            slots[static_cast<std::size_t>(c)].store(rez::parseFilterString(kChainText));
            heads[static_cast<std::size_t>(c)] = slots[static_cast<std::size_t>(c)].load();
        }
    }
};

enum class Path { nodes, slot, tick, floor, plan };
const char* const kPathNames[] = {"nodes", "slot", "tick", "floor", "plan"};

double runTick(Path path, Chains& chains, Floor& floor, const double* in, double* out) {
    if (path == Path::floor) return floor.tick(in, out);
    double sum = 0.0;
    for (int c = 0; c < kChains; ++c) {
        const auto i = static_cast<std::size_t>(c);
        double v = 0.0;
        switch (path) {
            case Path::nodes: v = chains.heads[i]->evaluateByNodes(in[c], 1.0, 1.0, 1.0); break;
            case Path::slot: v = chains.slots[i].evaluate(in[c]); break;
            case Path::tick: v = chains.slots[i].tickHead().evaluate(in[c], 1.0, 1.0, 1.0); break;
            case Path::floor: break;
            case Path::plan: v = chains.heads[i]->plan().run(in[c], 1.0, 1.0, 1.0); break;
        }
        out[c] = v;
        sum += v;
    }
    return sum;
}

std::vector<double> makeInputs() {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<double> inputs(static_cast<std::size_t>(kTicks) * kChains);
    for (int t = 0; t < kTicks; ++t)
        for (int c = 0; c < kChains; ++c)
            inputs[static_cast<std::size_t>(t * kChains + c)] = 8.0 * std::sin(0.01 * t + c) + noise(rng);
    return inputs;
}

// Fresh chains and a fresh floor over the same inputs must agree bit for bit.
bool sameNumbers(Path path, const std::vector<double>& inputs) {
    Chains chains;
    Floor floor(*chains.heads[0]);
    std::array<double, kChains> want{};
    std::array<double, kChains> got{};
    for (int t = 0; t < kTicks; ++t) {
        const double* in = &inputs[static_cast<std::size_t>(t * kChains)];
        floor.tick(in, want.data());
        runTick(path, chains, floor, in, got.data());
        if (std::memcmp(want.data(), got.data(), sizeof want) != 0) {
            std::printf("%s differs from the floor at tick %d\n", kPathNames[static_cast<int>(path)], t);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 41;
    if (rounds <= 0) rounds = 41;
    const std::vector<double> inputs = makeInputs();
    const Path paths[] = {Path::nodes, Path::slot, Path::tick, Path::floor, Path::plan};
    bool agree = true;
    for (Path p : paths)
        if (p != Path::floor) agree = sameNumbers(p, inputs) && agree;
    std::printf("filter work of one tick, in this process (no game, no transport): %d chains of %s\n", kChains,
                kChainText);
    std::printf("numbers: %s\n", agree ? "every path bit-identical to the floor" : "MISMATCH");

    Chains chains;
    Floor floor(*chains.heads[0]);
    std::array<double, kChains> out{};
    std::vector<std::vector<double>> perTickNs(5);
    volatile double sink = 0.0;
    using Clock = std::chrono::steady_clock;
    // Rounds alternate the paths, so a busy moment of the machine falls on
    // all of them alike; the median round is reported.
    for (int r = 0; r < rounds; ++r) {
        for (Path p : paths) {
            double sum = 0.0;
            const auto begin = Clock::now();
            for (int t = 0; t < kTicks; ++t)
                sum += runTick(p, chains, floor, &inputs[static_cast<std::size_t>(t * kChains)], out.data());
            const auto end = Clock::now();
            sink = sink + sum;
            perTickNs[static_cast<std::size_t>(p)].push_back(
                static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - begin).count()) / kTicks);
        }
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double floorNs = median(perTickNs[static_cast<std::size_t>(Path::floor)]);
    std::printf("%-6s %12s %10s\n", "path", "us per tick", "x floor");
    for (Path p : paths) {
        const double ns = median(perTickNs[static_cast<std::size_t>(p)]);
        std::printf("%-6s %12.3f %10.2f\n", kPathNames[static_cast<int>(p)], ns / 1000.0, ns / floorNs);
    }
    return agree ? 0 : 1;
}
