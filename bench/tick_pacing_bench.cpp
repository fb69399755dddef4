// How well the 2 ms loops keep their period, and what it costs them in CPU.
//
// A paced thread owns a SampleClock and does what a loop does at the end of
// each pass. It alternates one-second blocks between
//   ms-sleep  - sleep 1 ms, then spin to 2000 us (waitPreciseMillisecondSleep)
//   adaptive  - sleep to a learnt margin before 2000 us, then spin (waitPrecise)
//   fixed250  - the same timer with a fixed 250 us margin
// so that every wait sees the same machine, and reports per wait the
// distribution of |period - 2 ms| and the CPU time of the paced thread per
// second of wall time. With --load, a thread per remaining core spins beside
// it. With --engine, the engine's own thread is also run with a scripted
// game in its precise and coarse modes.
//
//   tick_pacing_bench [seconds per wait, default 10] [--load] [--engine]
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "core/sample_clock.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/priority.h"

namespace {

constexpr int kPassesPerBlock = 500;  // one second at 2 ms

enum class Wait { msSleep, adaptive, fixed250 };
constexpr int kWaits = 3;
const char* const kWaitNames[kWaits] = {"ms-sleep", "adaptive", "fixed250"};

struct Tally {
    std::vector<double> offUs;  // |period - 2000 us| per pass
    double periodSumUs = 0.0;
    std::int64_t cpuNs = 0;
    std::int64_t wallTicks = 0;
};

void printTally(const char* name, Tally& t, double perUs, const char* extra) {
    if (t.offUs.empty()) {
        std::printf("%-9s no passes\n", name);
        return;
    }
    std::sort(t.offUs.begin(), t.offUs.end());
    const auto at = [&](double q) {
        return t.offUs[std::min(t.offUs.size() - 1, static_cast<std::size_t>(q * static_cast<double>(t.offUs.size())))];
    };
    const double wallS = static_cast<double>(t.wallTicks) / (perUs * 1e6);
    const double cpuMsPerS = static_cast<double>(t.cpuNs) / 1e6 / wallS;
    std::printf("%-9s %6zu %9.1f %8.1f %8.1f %8.1f %9.1f %9.1f %6.1f%%  %s\n", name, t.offUs.size(),
                t.periodSumUs / static_cast<double>(t.offUs.size()), at(0.5), at(0.99), at(0.999), t.offUs.back(),
                cpuMsPerS, cpuMsPerS / 10.0, extra);
}

void runAlternating(int seconds) {
    const double perUs = static_cast<double>(rez::platform::counterFrequency()) / 1e6;
    Tally tallies[kWaits];
    double lastMargin = 0.0;
    double lastPercentile = 0.0;
    bool timerAvailable = false;
    std::thread paced([&] {
        rez::platform::requestTimerResolution();
        rez::platform::raiseThreadPriority();
        rez::SampleClock clock;
        rez::SampleClock fixedClock;  // its own learnt margin stays out of the adaptive one's way
        clock.restart();
        // Settle: let the adaptive margin see a full window first.
        for (int i = 0; i < 1000; ++i) rez::waitPrecise(clock);
        fixedClock.restart();
        rez::waitPrecise(fixedClock);
        fixedClock.preciseWait->fixedMarginUs = 250.0;
        timerAvailable = clock.preciseWait->timer.available();
        for (int block = 0; block < seconds * kWaits; ++block) {
            const Wait w = static_cast<Wait>(block % kWaits);
            rez::SampleClock& c = w == Wait::fixed250 ? fixedClock : clock;
            Tally& t = tallies[static_cast<int>(w)];
            // The first pass of a block still carries the previous wait's end.
            c.restart();
            const std::int64_t cpu0 = rez::platform::threadCpuTimeNs();
            const std::int64_t wall0 = rez::platform::counterNow();
            for (int i = 0; i < kPassesPerBlock; ++i) {
                if (w == Wait::msSleep)
                    rez::waitPreciseMillisecondSleep(c);
                else
                    rez::waitPrecise(c);
                const double periodUs = static_cast<double>(c.interval.load(std::memory_order_relaxed)) / perUs;
                t.offUs.push_back(std::fabs(periodUs - 2000.0));
                t.periodSumUs += periodUs;
            }
            t.cpuNs += rez::platform::threadCpuTimeNs() - cpu0;
            t.wallTicks += rez::platform::counterNow() - wall0;
        }
        lastMargin = clock.preciseWait->margin.marginUs();
        lastPercentile = clock.preciseWait->margin.latenessPercentileUs();
    });
    paced.join();

    std::printf("%-9s %6s %9s %8s %8s %8s %9s %9s %7s\n", "wait", "passes", "mean us", "p50", "p99", "p99.9", "max",
                "cpu ms/s", "core");
    std::printf("%-9s %6s %9s %8s %8s %8s %9s %9s %7s\n", "", "", "period", "|period - 2000 us|", "", "", "", "", "");
    char extra[128];
    printTally(kWaitNames[0], tallies[0], perUs, "");
    if (timerAvailable)
        std::snprintf(extra, sizeof extra, "margin %.0f us (lateness p99.5 %.0f us)", lastMargin, lastPercentile);
    else
        std::snprintf(extra, sizeof extra, "no precise timer: the 1 ms sleep");
    printTally(kWaitNames[1], tallies[1], perUs, extra);
    printTally(kWaitNames[2], tallies[2], perUs, timerAvailable ? "" : "no precise timer: the 1 ms sleep");
    const double base = static_cast<double>(tallies[0].cpuNs) / static_cast<double>(tallies[0].wallTicks);
    const double adaptive = static_cast<double>(tallies[1].cpuNs) / static_cast<double>(tallies[1].wallTicks);
    if (base > 0) std::printf("adaptive CPU / ms-sleep CPU: %.1f %%\n", 100.0 * adaptive / base);
}

// A game that always has a new sample; it notes when each tick read it and
// how much CPU time the game-source thread had used.
class TimedReader : public rez::GameReader {
public:
    explicit TimedReader(std::size_t capacity) { stamps.reserve(capacity); }
    bool detect() override { return true; }
    bool attach() override { return true; }
    bool read(rez::GameDataRecord& record) override {
        if (stamps.size() < stamps.capacity()) stamps.push_back(rez::platform::counterNow());
        cpuNs.store(rez::platform::threadCpuTimeNs());
        record.slots[rez::kSpeed] = static_cast<double>(stamps.size());
        record.timeFrame = clock.stamp();
        return true;
    }
    void close() override {}
    std::vector<std::int64_t> stamps;
    std::atomic<std::int64_t> cpuNs{0};
};

void runEngineMode(int precise, int seconds) {
    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    auto reader = std::make_unique<TimedReader>(static_cast<std::size_t>(seconds) * 600 + 3000);
    TimedReader* r = reader.get();
    engine->sources.setReader(rez::kXplane, std::move(reader));
    engine->setMotionSystemReady(1);
    engine->startThread();
    while (r->stamps.size() < 50) rez::platform::sleepMs(10);
    engine->tickClock.precise.store(precise);
    rez::platform::sleepMs(2000);  // the adaptive margin fills its window
    const std::size_t first = r->stamps.size();
    const std::int64_t cpuBefore = r->cpuNs.load();
    const std::int64_t wallBefore = rez::platform::counterNow();
    rez::platform::sleepMs(seconds * 1000LL);
    const std::size_t last = r->stamps.size();
    const std::int64_t cpuAfter = r->cpuNs.load();
    const std::int64_t wallAfter = rez::platform::counterNow();
    engine->stopThread();

    const double perUs = static_cast<double>(rez::platform::counterFrequency()) / 1e6;
    Tally t;
    for (std::size_t i = first + 1; i < last; ++i) {
        const double p = static_cast<double>(r->stamps[i] - r->stamps[i - 1]) / perUs;
        t.offUs.push_back(std::fabs(p - 2000.0));
        t.periodSumUs += p;
    }
    t.cpuNs = cpuAfter - cpuBefore;
    t.wallTicks = wallAfter - wallBefore;
    printTally(precise ? "engine-p" : "engine-c", t, perUs, precise ? "engine thread, precise" : "engine thread, coarse");
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
    std::printf("tick pacing, %d s per wait in 1 s blocks taken in turn%s\n", seconds,
                load ? ", with a spinning thread per other core" : "");
    runAlternating(seconds);
    if (engine) {
        runEngineMode(1, seconds);
        runEngineMode(0, seconds);
    }
    stop.store(true);
    for (auto& s : spinners) s.join();
    return 0;
}
