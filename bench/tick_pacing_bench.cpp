// Runs the engine with a scripted game for a while in each pacing mode and
// reports the tick period distribution and the CPU time the game-source
// thread uses per second.
//
//   tick_pacing_bench [seconds per mode, default 10]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"

namespace {

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

void runMode(int precise, int seconds) {
    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    auto reader = std::make_unique<TimedReader>(static_cast<std::size_t>(seconds) * 600 + 1000);
    TimedReader* r = reader.get();
    engine->sources.setReader(rez::kXplane, std::move(reader));
    engine->setMotionSystemReady(1);
    engine->startThread();
    while (r->stamps.size() < 50) rez::platform::sleepMs(10);  // settle, then measure
    engine->tickClock.precise.store(precise);
    rez::platform::sleepMs(200);
    const std::size_t first = r->stamps.size();
    const std::int64_t cpuBefore = r->cpuNs.load();
    const std::int64_t wallBefore = rez::platform::counterNow();
    rez::platform::sleepMs(seconds * 1000LL);
    const std::size_t last = r->stamps.size();
    const std::int64_t cpuAfter = r->cpuNs.load();
    const std::int64_t wallAfter = rez::platform::counterNow();
    engine->stopThread();

    const double perUs = static_cast<double>(rez::platform::counterFrequency()) / 1e6;
    std::vector<double> periods;
    for (std::size_t i = first + 1; i < last; ++i) periods.push_back(static_cast<double>(r->stamps[i] - r->stamps[i - 1]) / perUs);
    if (periods.empty()) {
        std::printf("%-8s no ticks measured\n", precise ? "precise" : "coarse");
        return;
    }
    double sum = 0;
    for (double p : periods) sum += p;
    std::sort(periods.begin(), periods.end());
    auto at = [&](double q) { return periods[std::min(periods.size() - 1, static_cast<std::size_t>(q * static_cast<double>(periods.size())))]; };
    const double wallS = static_cast<double>(wallAfter - wallBefore) / (perUs * 1e6);
    std::printf("%-8s ticks %6zu  mean %8.1f us  median %8.1f us  p99 %8.1f us  max %8.1f us  ticks/s %6.1f  cpu %6.1f ms/s\n",
                precise ? "precise" : "coarse", periods.size(), sum / static_cast<double>(periods.size()), at(0.5), at(0.99),
                periods.back(), static_cast<double>(periods.size()) / wallS,
                static_cast<double>(cpuAfter - cpuBefore) / 1e6 / wallS);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0) seconds = 10;
    std::printf("tick pacing over %d s per mode\n", seconds);
    runMode(1, seconds);
    runMode(0, seconds);
    return 0;
}
