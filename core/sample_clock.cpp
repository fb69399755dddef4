#include "core/sample_clock.h"

#include <cmath>

#include "platform/clock.h"

namespace rez {

SampleClock::SampleClock() {
    const double frequency = static_cast<double>(platform::counterFrequency());
    ticksPerMs = frequency / 1000.0;
    ticksPerUs = frequency / 1'000'000.0;
}

double SampleClock::stamp() {
    current = platform::counterNow();
    const std::int64_t measured = current - start;
    interval.store(measured, std::memory_order_relaxed);
    meanInterval += (static_cast<double>(measured) - meanInterval) / 200.0;
    start = current;
    return intervalMs();
}

void SampleClock::restart() {
    stamp();
    start = platform::counterNow();
}

double SampleClock::elapsedUs() const { return static_cast<double>(platform::counterNow() - start) / ticksPerUs; }

void waitPrecise(SampleClock& clock) {
    double e = clock.elapsedUs();
    if (e > 0.0 && e < 1000.0) platform::sleepNs(1'000'000);
    while (e <= 2000.0) e = clock.elapsedUs();
    clock.restart();
    clock.lastTickUs = e;
}

void waitCoarse(SampleClock& clock) {
    const double m = std::trunc(clock.elapsedUs() + clock.carry);
    if (m < 500.0)
        platform::sleepNs(2'000'000);
    else if (m > 500.0 && m < 1000.0)
        platform::sleepNs(1'000'000);
    clock.carry = clock.carry + clock.elapsedUs() - 2000.0;
    clock.restart();
    clock.lastTickUs = m;
}

void paceTick(SampleClock& clock) {
    if (clock.precise.load(std::memory_order_relaxed) != 0)
        waitPrecise(clock);
    else
        waitCoarse(clock);
}

}  // namespace rez
