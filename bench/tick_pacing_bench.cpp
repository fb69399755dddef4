// How well the 2 ms loops keep their period, and what it costs them in CPU.
//
// A paced thread owns a SampleClock and does what the engine does at the end
// of each pass. It takes one-second blocks in turn with each wait
//   ms-sleep  - the old wait: sleep 1 ms, then spin to 2000 us
//               (waitPreciseMillisecondSleep)
//   budget    - the engine's wait (waitPrecise): sleep on the precise timer
//               to the pass's end less a learnt margin, spin at most
//               PreciseWait::kSpinCapUs; the carry keeps the mean at 2 ms
//   fixed250  - the same, with a fixed 250 us margin instead of the learnt one
// so that every wait sees the same machine, and reports per wait the passes,
// the mean period, ticks per second, the distribution of |period - 2 ms|
// and the paced thread's CPU time as a share of one core.
//
// Beside it a bare loop sleeps to absolute 2 ms deadlines on the same timer
// and notes how late each wake-up is: the machine's own wake-up lateness,
// which no wait that sleeps can beat.
//
// --load: a spinning thread per other core. --engine: the engine's own thread
// ticks a scripted game in its precise and then its coarse mode, one-second
// blocks taken in turn with the old waits (Pacing::Spin) and the new
// (Pacing::Budget).
//
//   tick_pacing_bench [seconds per wait, default 10] [--load] [--engine]
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/sample_clock.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/precise_wait.h"
#include "platform/priority.h"

namespace {

using rez::bench::BareLoop;
using rez::bench::quantile;
using rez::bench::usBetween;
using rez::platform::counterNow;

const double kPerUs = static_cast<double>(rez::platform::counterFrequency()) / 1e6;
constexpr int kPassesPerBlock = 500;  // one second at 2 ms


// --- the machine's own wake-up lateness -------------------------------------


// --- one paced thread, three waits ------------------------------------------

enum Wait { kMsSleep, kBudget, kFixed250, kWaits };
const char* const kWaitNames[kWaits] = {"ms-sleep", "budget", "fixed250"};

struct Tally {
    std::vector<double> offUs;  // |period - 2000 us| per pass
    double periodSumUs = 0.0;
    std::int64_t cpuNs = 0;
    std::int64_t wallTicks = 0;
    // The timer waits: passes whose wake-up came after the pass's end, the
    // spin they were allowed, the margin at the end of each block.
    std::size_t lateWakes = 0;
    double spinSumUs = 0.0;
    double marginMin = 1e9, marginMax = 0.0;
};

void printHeader() {
    std::printf("%-12s %6s %9s %8s %35s %9s\n", "", "", "mean", "", "|period - 2000 us|", "CPU %");
    std::printf("%-12s %6s %9s %8s %8s %8s %8s %8s %9s\n", "wait", "passes", "period us", "ticks/s", "p50", "p99", "p99.9",
                "max", "of a core");
}

void printTally(const char* name, Tally& t, const char* extra) {
    if (t.offUs.empty()) {
        std::printf("%-12s no passes\n", name);
        return;
    }
    const double n = static_cast<double>(t.offUs.size());
    const double wallS = static_cast<double>(t.wallTicks) / (kPerUs * 1e6);
    const double cpuShare = 100.0 * static_cast<double>(t.cpuNs) / 1e9 / wallS;
    const double p50 = quantile(t.offUs, 0.5), p99 = quantile(t.offUs, 0.99), p999 = quantile(t.offUs, 0.999);
    std::printf("%-12s %6zu %9.1f %8.1f %8.1f %8.1f %8.1f %8.0f %8.1f%%  %s\n", name, t.offUs.size(), t.periodSumUs / n,
                n / wallS, p50, p99, p999, *std::max_element(t.offUs.begin(), t.offUs.end()), cpuShare, extra);
}

void runAlternating(int seconds, const BareLoop& bare) {
    Tally tallies[kWaits];
    bool timerAvailable = false;
    double margin = 0.0, latenessMedian = 0.0, latenessHigh = 0.0;
    double fixedMedian = 0.0, fixedHigh = 0.0;
    std::int64_t begin = 0, end = 0;
    std::thread paced([&] {
        rez::platform::requestTimerResolution();
        rez::platform::raiseThreadPriority();
        rez::SampleClock clock;
        rez::SampleClock fixedClock;  // its own lateness record stays out of the budget's way
        clock.restart();
        // Settle: let the learnt margin see a full window first.
        for (int i = 0; i < 1000; ++i) rez::waitPrecise(clock);
        fixedClock.restart();
        rez::waitPrecise(fixedClock);
        fixedClock.preciseWait->fixedMarginUs = 250.0;
        timerAvailable = clock.preciseWait->timer.available();
        begin = counterNow();
        for (int block = 0; block < seconds * kWaits; ++block) {
            const int w = block % kWaits;
            rez::SampleClock& c = w == kFixed250 ? fixedClock : clock;
            Tally& t = tallies[w];
            // The first pass of a block still carries the previous wait's end.
            c.restart();
            c.carry = 0.0;
            const std::int64_t cpu0 = rez::platform::threadCpuTimeNs();
            const std::int64_t wall0 = counterNow();
            for (int i = 0; i < kPassesPerBlock; ++i) {
                if (w == kMsSleep) {
                    rez::waitPreciseMillisecondSleep(c);
                } else {
                    rez::waitPrecise(c);
                    const rez::PreciseWait& pw = *c.preciseWait;
                    if (pw.lastWakeUs > c.lastTargetUs) ++t.lateWakes;
                    t.spinSumUs += pw.lastSpinUs;
                }
                const double periodUs = static_cast<double>(c.interval.load(std::memory_order_relaxed)) / kPerUs;
                t.offUs.push_back(std::fabs(periodUs - 2000.0));
                t.periodSumUs += periodUs;
            }
            t.cpuNs += rez::platform::threadCpuTimeNs() - cpu0;
            t.wallTicks += counterNow() - wall0;
            if (w != kMsSleep) {
                const double m = c.preciseWait->margin.marginUs();
                t.marginMin = std::min(t.marginMin, m);
                t.marginMax = std::max(t.marginMax, m);
            }
        }
        end = counterNow();
        margin = clock.preciseWait->margin.marginUs();
        latenessMedian = clock.preciseWait->margin.latenessMedianUs();
        latenessHigh = clock.preciseWait->margin.latenessPercentileUs();
        fixedMedian = fixedClock.preciseWait->margin.latenessMedianUs();
        fixedHigh = fixedClock.preciseWait->margin.latenessPercentileUs();
    });
    paced.join();

    printHeader();
    char extra[240];
    printTally(kWaitNames[kMsSleep], tallies[kMsSleep], "");
    for (int w : {kBudget, kFixed250}) {
        Tally& t = tallies[w];
        const double n = std::max<double>(1.0, static_cast<double>(t.offUs.size()));
        if (!timerAvailable)
            std::snprintf(extra, sizeof extra, "no precise timer: the 1 ms sleep");
        else if (w == kBudget)
            std::snprintf(extra, sizeof extra,
                          "margin %.0f us (%.0f-%.0f over the blocks), timer lateness median %.0f us, p99.5 %.0f us; "
                          "woke after the pass's end %zu times; spin %.0f us a pass",
                          margin, t.marginMin, t.marginMax, latenessMedian, latenessHigh, t.lateWakes, t.spinSumUs / n);
        else
            std::snprintf(extra, sizeof extra,
                          "timer lateness median %.0f us, p99.5 %.0f us; woke after the pass's end %zu times; spin %.0f us "
                          "a pass",
                          fixedMedian, fixedHigh, t.lateWakes, t.spinSumUs / n);
        printTally(kWaitNames[w], t, extra);
    }
    const auto share = [&](int w) { return static_cast<double>(tallies[w].cpuNs) / static_cast<double>(tallies[w].wallTicks); };
    if (share(kMsSleep) > 0) std::printf("budget CPU / ms-sleep CPU: %.1f %%\n", 100.0 * share(kBudget) / share(kMsSleep));
    std::printf("%s\n", bare.describe(begin, end).c_str());
}

// --- the engine's own thread --------------------------------------------------

// A game that always has a new sample; each read notes when the tick read it
// and the engine thread's CPU time so far.
class TimedReader : public rez::GameReader {
public:
    explicit TimedReader(std::size_t capacity) : at(capacity), cpuNs(capacity) {}
    bool detect() override { return true; }
    bool attach() override { return true; }
    bool read(rez::GameDataRecord& record) override {
        const std::size_t n = reads.load(std::memory_order_relaxed);
        if (n < at.size()) {
            at[n] = counterNow();
            cpuNs[n] = rez::platform::threadCpuTimeNs();
            reads.store(n + 1, std::memory_order_release);
        }
        ++sample_;
        record.slots[rez::kSpeed] = static_cast<double>(sample_ % 1000);  // never frozen
        record.timeFrame = clock.stamp();
        return true;
    }
    void close() override {}
    std::vector<std::int64_t> at;
    std::vector<std::int64_t> cpuNs;
    std::atomic<std::size_t> reads{0};

private:
    std::uint64_t sample_ = 0;
};

struct Block {
    std::int64_t from, to;
    rez::Pacing style;
};

void runEngineMode(int precise, int seconds, const BareLoop& bare) {
    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    auto owned = std::make_unique<TimedReader>(static_cast<std::size_t>(seconds) * 2 * 700 + 5000);
    TimedReader* r = owned.get();
    engine->sources.setReader(rez::kXplane, std::move(owned));
    engine->setMotionSystemReady(1);
    rez::setPacing(rez::Pacing::Budget);
    engine->startThread();
    while (r->reads.load() < 50) rez::platform::sleepMs(10);
    engine->tickClock.precise.store(precise);
    rez::platform::sleepMs(2000);  // the learnt margin fills its window
    std::vector<Block> blocks;
    const std::int64_t second = rez::platform::counterFrequency();
    std::int64_t t = counterNow();
    for (int b = 0; b < 2 * seconds; ++b) {
        const rez::Pacing style = b % 2 == 0 ? rez::Pacing::Spin : rez::Pacing::Budget;
        rez::setPacing(style);
        blocks.push_back({t, t + second, style});
        while (counterNow() < t + second) rez::platform::sleepMs(5);
        t += second;
    }
    rez::setPacing(rez::Pacing::Budget);
    engine->stopThread();
    const std::size_t n = r->reads.load();

    for (rez::Pacing style : {rez::Pacing::Spin, rez::Pacing::Budget}) {
        Tally tally;
        for (const Block& block : blocks) {
            if (block.style != style) continue;
            std::size_t first = n, last = n;
            for (std::size_t i = 0; i < n; ++i) {
                if (r->at[i] < block.from || r->at[i] >= block.to) continue;
                if (first == n) first = i;
                last = i;
            }
            if (first == n || last == first) continue;
            // The first pass of a block may have ended under the other style.
            for (std::size_t i = first + 2; i <= last; ++i) {
                const double p = usBetween(r->at[i - 1], r->at[i]);
                tally.offUs.push_back(std::fabs(p - 2000.0));
                tally.periodSumUs += p;
            }
            // CPU from the first read of the block to the last, over the same span.
            tally.cpuNs += r->cpuNs[last] - r->cpuNs[first + 1];
            tally.wallTicks += r->at[last] - r->at[first + 1];
        }
        char name[32];
        std::snprintf(name, sizeof name, "%s/%s", precise ? "eng-p" : "eng-c", style == rez::Pacing::Spin ? "spin" : "budget");
        printTally(name, tally, "");
    }
    if (precise && engine->tickClock.preciseWait) {
        const rez::WakeMargin& m = engine->tickClock.preciseWait->margin;
        std::printf("engine's learnt margin at the end: %.0f us (timer lateness median %.0f us, p99.5 %.0f us)\n",
                    m.marginUs(), m.latenessMedianUs(), m.latenessPercentileUs());
    }
    std::printf("%s\n", bare.describe(blocks.front().from, blocks.back().to).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    bool load = false;
    bool engine = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            load = true;
        else if (std::strcmp(argv[i], "--engine") == 0)
            engine = true;
        else if (std::atoi(argv[i]) > 0)
            seconds = std::atoi(argv[i]);
    }
    rez::setPacing(rez::Pacing::Budget);  // whatever REZ_PACING says: each part picks its waits itself
    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    if (load) {
        const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 1; i < cores; ++i)
            spinners.emplace_back([&stop] {
                volatile double x = 1.0;
                while (!stop.load(std::memory_order_relaxed)) x = x * 1.0000001 + 1e-9;
            });
    }
    BareLoop bare(static_cast<std::size_t>(seconds) * (kWaits + (engine ? 4 : 0)) * 500 + 20000);
    bare.start();
    std::printf("tick pacing of a 2 ms loop of the bench's own (no game, no transport), %d s per wait in 1 s blocks taken "
                "in turn%s\n",
                seconds,
                load ? ", with a spinning thread per other core" : "");
    runAlternating(seconds, bare);
    if (engine) {
        std::printf("\nthe engine's thread on a scripted game read in-process (no transport), %d s per style in 1 s blocks "
                    "taken in turn (spin = the old waits; eng-p precise, eng-c coarse)\n",
                    seconds);
        printHeader();
        runEngineMode(1, seconds, bare);
        runEngineMode(0, seconds, bare);
    }
    bare.stop();
    stop.store(true);
    for (auto& s : spinners) s.join();
    return 0;
}
